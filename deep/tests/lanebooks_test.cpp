#include "lanebooks.h"
#include "lanerun.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

using namespace deltalanes;

namespace {

constexpr double kNotANumber = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

// Lane values that test every branch the loops replace: zeros of both signs, NaN, infinities, the
// escape bound itself (norm 100) and values just either side of its margin.
double Value(size_t l, int part)
{
    const double special[]
        = { 0.0, -0.0, kNotANumber, kInfinity, -kInfinity, 10.0, 10.0 + 1e-12, 10.0 - 1e-9, 1e-300, -3.5 };
    return (l + static_cast<size_t>(part)) % 3 == 0 ? special[(l + static_cast<size_t>(part)) % 10]
                                                    : std::ldexp(static_cast<double>(l) - 31.5, part - 2);
}

bool Same(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

} // namespace

// Each set's loops give, lane for lane, the bits of the scalar code they replace.
TEST(LaneBooks, EverySetGivesTheScalarBits)
{
    CFormula iter;
    std::string error;
    ASSERT_EQ(iter.Compile("z = z * z + C;", error), 0) << error;
    std::vector<CDeltaProgram> programs;
    for (const char* level : { "norm(z) > 100;", "real(z) > 10;", "imag(z) >= 3.5;" }) {
        CFormula term;
        ASSERT_EQ(term.Compile(level, error), 0) << error;
        programs.push_back(DeltaProgramOf(iter, term));
        ASSERT_TRUE(programs.back().DecidesEscape()) << level;
    }
    alignas(64) double a[4][kLanes];
    for (int part = 0; part < 4; ++part) {
        for (size_t l = 0; l < kLaneCount; ++l) {
            a[part][l] = Value(l, part);
        }
    }
    for (const LaneBooks* books : LaneBooksOfThisProcessor()) {
        uint64_t marked = 0;
        for (const CDeltaProgram& program : programs) {
            alignas(64) double decision[kLanes];
            const uint64_t undecided = books->decide(program, a[0], a[1], a[2], a[3], decision);
            for (size_t l = 0; l < kLaneCount; ++l) {
                const double d = program.EscapeDecision({ a[0][l], a[1][l] }, { a[2][l], a[3][l] });
                EXPECT_TRUE(Same(decision[l], d)) << l;
                EXPECT_EQ(undecided >> l & 1, d == 0.0 ? 1u : 0u) << l;
            }
        }
        for (size_t l = 0; l < kLaneCount; ++l) {
            marked |= static_cast<uint64_t>(a[0][l] != 0.0) << l;
        }
        EXPECT_EQ(books->marked(a[0]), marked);
        for (const Op op : { kOpCopy, kOpNeg, kOpConj, kOpReal, kOpImag, kOpImagFn }) {
            alignas(64) double re[kLanes], im[kLanes];
            std::memcpy(re, a[0], sizeof re);
            std::memcpy(im, a[1], sizeof im);
            books->linear(op, re, im, re, im); // in place, as an instruction whose operand is its slot
            for (size_t l = 0; l < kLaneCount; ++l) {
                const double x = a[0][l], y = a[1][l];
                const double wantRe = op == kOpNeg ? -x : (op == kOpImag || op == kOpImagFn) ? y : x;
                const double wantIm = op == kOpReal || op == kOpImagFn ? 0.0
                    : op == kOpImag                                    ? x
                    : op == kOpCopy                                    ? y
                                                                       : -y;
                EXPECT_TRUE(Same(re[l], wantRe) && Same(im[l], wantIm)) << op << " lane " << l;
            }
        }
    }
}

// A lane moves on a run only with quiet runs left, no glitch and a sum not above 0 (NaN is not).
TEST(LaneBooks, OnlyPlainLanesGoOn)
{
    for (const LaneBooks* books : LaneBooksOfThisProcessor()) {
        alignas(64) double quiet[kLanes], glitched[kLanes], sum[kLanes];
        alignas(64) int laneRun[kLanes], recordRun[kLanes];
        alignas(64) size_t runAt[kLanes], termRunAt[kLanes];
        uint64_t want = 0;
        for (size_t l = 0; l < kLaneCount; ++l) {
            quiet[l] = static_cast<double>(l % 4);
            glitched[l] = l % 7 == 3 ? 1.0 : 0.0;
            sum[l] = l % 5 == 0 ? 0.5 : (l % 5 == 1 ? kNotANumber : (l % 5 == 2 ? 0.0 : -1.0));
            laneRun[l] = static_cast<int>(l);
            recordRun[l] = static_cast<int>(2 * l);
            runAt[l] = 7 * 2 * l;
            termRunAt[l] = 3 * 2 * l;
            const bool goes = l % 4 != 0 && l % 7 != 3 && l % 5 >= 2;
            want |= static_cast<uint64_t>(goes) << l;
        }
        const uint64_t goes
            = books->goOn({ quiet, laneRun, recordRun, runAt, termRunAt, 7, 3 }, glitched, sum);
        EXPECT_EQ(goes, want);
        for (size_t l = 0; l < kLaneCount; ++l) {
            const int step = static_cast<int>(want >> l & 1);
            EXPECT_EQ(quiet[l], static_cast<double>(l % 4 - static_cast<size_t>(step))) << l;
            EXPECT_EQ(laneRun[l], static_cast<int>(l) + step) << l;
            EXPECT_EQ(recordRun[l], static_cast<int>(2 * l) + step) << l;
            EXPECT_EQ(runAt[l], 7 * (2 * l + static_cast<size_t>(step))) << l;
            EXPECT_EQ(termRunAt[l], 3 * (2 * l + static_cast<size_t>(step))) << l;
        }
    }
}
