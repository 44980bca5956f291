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
#include "lanereference.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

namespace {

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
    const LaneReference reference = ReferenceLanes(formula, runs, [&values] { return values.NextComplex(); });
    const int variables = reference.variables;
    for (const auto parts : { CBatchFormula::ValueParts::Both, CBatchFormula::ValueParts::RealOnly }) {
        for (const JitIsa isa : CBatchJit::AvailableIsas()) {
            CBatchFormula batch(formula, parts);
            for (int v = 1; v < variables; ++v) {
                for (int lane = 0; lane < kLanes; ++lane) {
                    batch.Set(batch.Slot(v), lane, reference.Input(lane, v));
                }
            }
            const std::unique_ptr<CBatchJit> jit = CBatchJit::BuildSingle(batch.Program(), isa);
            Require(jit != nullptr, "no code for a formula that compiles");
            for (int run = 0; run < runs; ++run) {
                jit->Run();
                RequireSameLanes(batch, reference, run, parts == CBatchFormula::ValueParts::RealOnly,
                    isa == JitIsa::Avx512 ? "avx512 code" : "avx2 code");
            }
        }
    }
    return 0;
}
