// Fuzzes the formula compiler and both evaluators.
//
// Input: the formula text up to the first NUL byte; the bytes after it choose the values of the
// constants and of every variable in each of the 64 lanes, and how often the program runs.
// Checked: Compile's code and message, Verify() after every compile (failed ones too), that a
// recompile over an earlier formula gives the same program, and that every lane of CBatchFormula
// (on every kernel set this processor has, both value modes) has the bits of CFormula::Run.

#include "batchformula.h"
#include "formula.h"
#include "lanereference.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Values that sit on the edges of the language's functions: zeros of both signs, infinities, NaNs of
// both signs, the ends of the double range and the thresholds inside Exp, Tanh and the power.
constexpr double kInf = std::numeric_limits<double>::infinity();
const double kInteresting[] = { 0.0, -0.0, 1.0, -1.0, 0.5, -0.5, 2.0, 3.0, -2.5, 0.1, 100.0, 1e-8, 1e10,
    1e-300, 1e300, std::numeric_limits<double>::max(), std::numeric_limits<double>::denorm_min(), kInf, -kInf,
    std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN(), 3.141592653589793,
    709.5, -1842.5, 355.5, 2147483648.0, -2147483649.0, 4294967297.0, 0.7853981633974483, -0.78, -0.15 };
constexpr size_t kInterestingCount = sizeof kInteresting / sizeof kInteresting[0];

// Reads values from the bytes after the formula: a byte with its top bit set takes the next eight
// bytes as a raw double, any other byte picks from kInteresting. Once the bytes run out the values
// keep coming from kInteresting, so that short inputs still give the lanes different values.
class ValueReader {
public:
    ValueReader(const uint8_t* data, size_t size)
        : m_data(data)
        , m_size(size)
    {
    }

    uint8_t Byte(uint8_t otherwise) { return m_size > 0 ? (--m_size, *m_data++) : otherwise; }

    double Next()
    {
        if (m_size == 0) {
            m_counter = m_counter * 7 + 3;
            return kInteresting[m_counter % kInterestingCount];
        }
        const uint8_t selector = Byte(0);
        if ((selector & 0x80) != 0 && m_size >= sizeof(double)) {
            double value;
            std::memcpy(&value, m_data, sizeof value);
            m_data += sizeof value;
            m_size -= sizeof value;
            return value;
        }
        return kInteresting[selector % kInterestingCount];
    }

    Complex NextComplex()
    {
        const double re = Next();
        return { re, Next() };
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_counter { 0 };
};

void CheckCompileResult(int code, const std::string& message, const char* untouched)
{
    Require(code >= kCompileOk && code <= kErrEmpty, "Compile returned a code outside 0..10");
    if (code == kCompileOk) {
        Require(message == untouched, "a successful Compile changed the message");
    } else if (code == kErrTableOverflow) {
        Require(message == kMsgVariableOverflow || message == kMsgConstantOverflow,
            "code 3 without its variable or constant message");
    } else {
        Require(message == CompileMessage(code), "the message is not the code's");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const uint8_t* nul = static_cast<const uint8_t*>(std::memchr(data, 0, size));
    const size_t textSize = nul != nullptr ? static_cast<size_t>(nul - data) : size;
    const std::string_view text(reinterpret_cast<const char*>(data), textSize);
    ValueReader values(nul != nullptr ? nul + 1 : data + size, nul != nullptr ? size - textSize - 1 : 0);

    static const char* const kUntouched = "untouched";
    CFormula formula;
    std::string message = kUntouched;
    CompileDiagnostic where;
    const int code = formula.Compile(text, message, &where);
    CheckCompileResult(code, message, kUntouched);
    Require(formula.Verify(), "Verify() fails after Compile");
    // A failure's place lies inside the text.
    Require(code == kCompileOk || (where.offset <= text.size() && where.length <= text.size() - where.offset),
        "a diagnostic points outside the text");
    Require(code == kCompileOk || where.problem == FormulaProblem::kNone || where.line >= 1,
        "a diagnostic with a problem has no line");
    std::string dump = formula.Dump();

    // A formula compiled over an earlier one must get the same program; its surviving named constant
    // keeps the value it had.
    CFormula reused;
    std::string ignored;
    Require(reused.Compile("z = z * z + C;", ignored) == kCompileOk, "the default formula does not compile");
    const Complex kept { -0.78, -0.15 };
    reused.SetConstant(0, kept);
    std::string reusedMessage = kUntouched;
    Require(reused.Compile(text, reusedMessage) == code, "a recompile returns another code");
    Require(reusedMessage == message, "a recompile gives another message");
    Require(reused.Verify(), "Verify() fails after a recompile");
    Require(reused.Dump() == dump, "a recompile gives another program");
    if (code != kCompileOk) {
        Require(formula.GetText().empty(), "a failed Compile keeps its text");
        return 0;
    }
    Require(formula.GetText() == text, "Compile did not keep the text");
    Require(reused.GetVariableCount() == formula.GetVariableCount()
            && reused.GetConstantCount() == formula.GetConstantCount(),
        "a recompile gives other tables");
    for (int k = 0; k < reused.GetConstantCount(); ++k) {
        const Complex want = reused.GetConstantName(k) == "C" ? kept : Complex {};
        Require(SameBits(reused.GetConstant(k), want), "a recompile lost or invented a constant's value");
    }

    // The inputs: constants, then every variable but V_LAST_RESULT (slot 0, reset by every run) per lane.
    const int runs = 1 + values.Byte(2) % 4;
    const LaneReference reference = ReferenceLanes(formula, runs, [&values] { return values.NextComplex(); });
    const int variables = reference.variables;

    for (const auto parts : { CBatchFormula::ValueParts::Both, CBatchFormula::ValueParts::RealOnly }) {
        const CBatchFormula compiled(formula, parts);
        for (const BatchKernels* kernels : AvailableBatchKernels()) {
            UseBatchKernels(*kernels);
            CBatchFormula batch(compiled); // a copy starts from the compiled values again
            for (int v = 1; v < variables; ++v) {
                const int slot = batch.Slot(v);
                Require(slot >= 0, "a variable has no batch slot");
                for (int lane = 0; lane < kLanes; ++lane) {
                    batch.Set(slot, lane, reference.Input(lane, v));
                }
            }
            for (int run = 0; run < runs; ++run) {
                batch.Run();
                RequireSameLanes(
                    batch, reference, run, parts == CBatchFormula::ValueParts::RealOnly, kernels->name);
            }
        }
    }
    return 0;
}
