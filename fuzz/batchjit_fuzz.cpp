// Fuzzes the code generator of the batch engine against the one-pixel interpreter.
//
// Input: the formula text up to the first NUL byte; the bytes after it give the values of the
// constants and of every variable in each of the 64 lanes (eight raw bytes a value, repeated when
// they run out), and the first of them how often the program runs.
// Checked: for every instruction set the generator has on this processor and both value modes, code
// is generated for every formula that compiles, and every lane's value and variables have the bits
// of CFormula::Run after every run.

#include "batchformula.h"
#include "batchjit.h"
#include "formula.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

namespace {

void Require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "batchjit_fuzz: %s\n", what);
        std::abort();
    }
}

// Any NaN equals any NaN (which operand's NaN an operation passes on is the compiler's choice).
bool SameBits(double a, double b)
{
    return (std::isnan(a) && std::isnan(b)) || std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b);
}

bool SameBits(Complex a, Complex b) { return SameBits(a.re, b.re) && SameBits(a.im, b.im); }

// Values from the bytes, cycling; small whole numbers, signed zeros and infinities when there are none.
class Values {
public:
    Values(const uint8_t* data, size_t size)
        : m_data(data)
        , m_size(size)
    {
    }
    double Next()
    {
        static const double kDefaults[]
            = { 0.5, -0.0, 2.0, -1.5, 1e300, 0.0, -3.0, INFINITY, 0.25, NAN, 7.0 };
        if (m_size < sizeof(double)) {
            return kDefaults[m_nNext++ % std::size(kDefaults)];
        }
        double value;
        std::memcpy(
            &value, m_data + (m_nNext * sizeof(double)) % (m_size - sizeof(double) + 1), sizeof value);
        ++m_nNext;
        return value;
    }
    Complex NextComplex()
    {
        const double re = Next();
        return { re, Next() };
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_nNext { 0 };
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const uint8_t* nul = static_cast<const uint8_t*>(std::memchr(data, 0, size));
    const size_t textSize = nul != nullptr ? static_cast<size_t>(nul - data) : size;
    const std::string_view text(reinterpret_cast<const char*>(data), textSize);
    const uint8_t* rest = nul != nullptr ? nul + 1 : data + size;
    const size_t restSize = nul != nullptr ? size - textSize - 1 : 0;
    Values values(rest, restSize);
    const int runs = 1 + (restSize > 0 ? rest[0] % 4 : 0);

    CFormula formula;
    std::string message;
    if (formula.Compile(text, message) != kCompileOk) {
        return 0;
    }
    for (int k = 0; k < formula.GetConstantCount(); ++k) {
        formula.SetConstant(k, values.NextComplex());
    }
    const int variables = formula.GetVariableCount();
    std::vector<Complex> inputs(static_cast<size_t>(kLanes) * variables);
    for (int lane = 0; lane < kLanes; ++lane) {
        for (int v = 1; v < variables; ++v) {
            inputs[lane * variables + v] = values.NextComplex();
        }
    }
    // The reference: each lane on the one-pixel interpreter.
    const std::vector<Complex> initial(formula.GetSlots(), formula.GetSlots() + variables);
    std::vector<Complex> results(static_cast<size_t>(kLanes) * runs);
    std::vector<Complex> states(static_cast<size_t>(kLanes) * runs * variables);
    for (int lane = 0; lane < kLanes; ++lane) {
        formula.ResetVariables(initial.data());
        for (int v = 1; v < variables; ++v) {
            formula.SetVariable(v, inputs[lane * variables + v]);
        }
        for (int run = 0; run < runs; ++run) {
            results[lane * runs + run] = formula.Run();
            for (int v = 1; v < variables; ++v) {
                states[(lane * runs + run) * variables + v] = formula.GetVariable(v);
            }
        }
    }
    for (const auto parts : { CBatchFormula::ValueParts::Both, CBatchFormula::ValueParts::RealOnly }) {
        for (const JitIsa isa : CBatchJit::AvailableIsas()) {
            CBatchFormula batch(formula, parts);
            for (int v = 1; v < variables; ++v) {
                for (int lane = 0; lane < kLanes; ++lane) {
                    batch.Set(batch.Slot(v), lane, inputs[lane * variables + v]);
                }
            }
            const std::unique_ptr<CBatchJit> jit = CBatchJit::BuildSingle(batch.Program(), isa);
            Require(jit != nullptr, "no code for a formula that compiles");
            for (int run = 0; run < runs; ++run) {
                jit->Run();
                for (int lane = 0; lane < kLanes; ++lane) {
                    const Complex want = results[lane * runs + run];
                    const Complex got = batch.Get(batch.ResultSlot(), lane);
                    const bool same = parts == CBatchFormula::ValueParts::Both ? SameBits(got, want)
                                                                               : SameBits(got.re, want.re);
                    if (!same) {
                        std::fprintf(stderr, "%s, lane %d, run %d: (%a, %a), want (%a, %a)\n",
                            isa == JitIsa::Avx512 ? "avx512" : "avx2", lane, run, got.re, got.im, want.re,
                            want.im);
                    }
                    Require(same, "a lane's value differs from CFormula::Run");
                    for (int v = 1; v < variables; ++v) {
                        Require(SameBits(batch.Get(batch.Slot(v), lane),
                                    states[(lane * runs + run) * variables + v]),
                            "a lane's variable differs from CFormula::Run");
                    }
                }
            }
        }
    }
    return 0;
}
