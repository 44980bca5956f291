#include "batchcompile.h"
#include "batchformula.h"

#include <gtest/gtest.h>

#include <string>

namespace {

enum class Pass { FoldCopies, FoldIntoTargets, RemapResult, CompactSlots, MarkRealOnly, WholePowers };

// The program after the passes up to and including `last`, in the golden form.
std::string After(
    const char* text, Pass last, CBatchFormula::ValueParts parts = CBatchFormula::ValueParts::Both)
{
    CFormula formula;
    std::string error;
    if (formula.Compile(text, error) != 0) {
        return "error: " + error;
    }
    BatchDraft draft = FoldCopies(formula);
    if (last >= Pass::FoldIntoTargets) {
        FoldIntoTargets(draft, kFirstScratchSlot + formula.GetScratchCount());
    }
    if (last >= Pass::RemapResult) {
        RemapResult(draft);
    }
    if (last >= Pass::CompactSlots) {
        const BatchSlots slots = CompactSlots(draft, formula);
        if (last >= Pass::MarkRealOnly) {
            MarkRealOnly(draft, slots, formula, parts == CBatchFormula::ValueParts::Both);
        }
        if (last >= Pass::WholePowers) {
            MarkWholePowers(draft, slots, formula);
        }
    }
    return DumpBatchProgram(draft);
}

struct GoldenRow {
    const char* text;
    Pass pass;
    const char* program;
};

// Each pass on formulas that exercise it: the program it leaves, exactly.
TEST(BatchCompile, GoldenPrograms)
{
    const GoldenRow rows[] = {
        // The loads of z and C into temporaries go; the sum is then copied into z.
        { "z = z * z + C;", Pass::FoldCopies, "reset 0; (200,3,1,1) (200,1,200,100) (1,5,200) (0,5,1) -> 0" },
        { "z = z * z + C;", Pass::FoldIntoTargets, "reset 0; (200,3,1,1) (1,1,200,100) (0,5,1) -> 0" },
        { "z = z * z + C;", Pass::RemapResult, "(200,3,1,1) (1,1,200,100) -> 1" },
        { "z = z * z + C;", Pass::CompactSlots, "(2,3,1,1) (1,1,2,3) -> 1" },
        // Copies between variables stay: each is a value the next run reads.
        { "z = z1; z1 = z;", Pass::FoldCopies, "reset 0; (1,5,2) (0,5,1) (2,5,1) (0,5,2) -> 0" },
        { "z2 = z; z = z1; z1 = z2;", Pass::FoldCopies,
            "reset 0; (1,5,2) (0,5,1) (2,5,3) (0,5,2) (3,5,1) (0,5,3) -> 0" },
        { "z = (z + 1) * (z - 1);", Pass::FoldIntoTargets,
            "reset 0; (201,1,1,200) (202,2,1,200) (1,3,201,202) (0,5,1) -> 0" },
        // A formula that reads its last value keeps the copy into it and its reset.
        { "z = V_LAST_RESULT + 1;", Pass::RemapResult, "reset 0; (1,1,0,200) (0,5,1) -> 0" },
        { "3;", Pass::RemapResult, "-> 200" },
        // The load of z for the second statement is made real before z is overwritten, though
        // nothing reads it: a dead copy the passes leave.
        { "z = z * z; z;", Pass::RemapResult, "(200,3,1,1) (201,5,1) (1,5,200) (0,5,1) -> 1" },
        { "z2 = z * C; z = z2 + z2;", Pass::CompactSlots, "(1,3,2,3) (0,5,1) (2,1,1,1) -> 2" },
        // Values that feed a variable or the value keep both parts.
        { "real(z) + imag(z1) * 2;", Pass::MarkRealOnly, "(3,19,1) (4,20,2) (4,3,4,5) (0,1,3,4) -> 0" },
        { "z = z * z + C; norm(z) > 4;", Pass::MarkRealOnly,
            "(2,3,1,1) (1,1,2,3) (0,5,1)r (2,21,1) (0,9,2,4) -> 0" },
        { "z = conj(z) i;", Pass::MarkRealOnly, "(2,18,1) (1,13,2) -> 1" },
        // Whole exponents that never change (C is 0 as compiled); not a negated literal, which is
        // computed into a temporary, nor a fraction or a variable.
        { "z = z ^ 3 + z ^ -2 + z ^ C;", Pass::WholePowers,
            "(2,64,1,3)^3 (4,0,5) (6,12,1,4) (2,1,2,6) (6,64,1,7)^0 (1,1,2,6) -> 1" },
        { "z = z ^ 2.5 + z ^ z1; z1 = 2;", Pass::WholePowers,
            "(3,12,1,4) (5,12,1,2) (1,1,3,5) (0,5,1)r (6,5,2)r (2,5,7) -> 2" },
    };
    for (const GoldenRow& row : rows) {
        EXPECT_EQ(After(row.text, row.pass), row.program)
            << row.text << " after pass " << static_cast<int>(row.pass);
    }
}

// A termination test reads the real part of its value only: what feeds nothing else loses its
// imaginary part.
TEST(BatchCompile, RealOnlyFollowsWhatTheCallerReads)
{
    EXPECT_EQ(After("norm(z) > 100;", Pass::MarkRealOnly, CBatchFormula::ValueParts::RealOnly),
        "(2,21,1)r (0,9,2,3)r -> 0");
    const CFormula empty;
    EXPECT_EQ(CBatchFormula(empty).Dump(), "reset 0; -> 0");
}

} // namespace
