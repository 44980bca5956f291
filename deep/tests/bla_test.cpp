#include "delta.h"
#include "minibrotview.h"
#include "planahead.h"
#include "reference.h"
#include "series.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// A pixel's count with its own bilinear skips is the count without them, and the skips are taken
// wherever the formula lets a run's map be derived: over a lattice of pixels around a boundary point.
struct SkipCase {
    const char* name;
    const char* iteration;
    const char* termination;
    Complex c;
    const char* re;
    const char* im;
    bool skips; // whether the pixels take bilinear skips at all
};

constexpr SkipCase kCases[] = {
    { "quadratic", "z = z * z + z0;", "norm(z) > 100;", {}, "-0.7499", "0.0163", true },
    { "julia", "z = z * z + C;", "norm(z) > 100;", { -0.78, -0.15 }, "1.5175620435312878",
        "0.07370557940597351", true },
    { "folded", "z = (abs(real(z)) + abs(imag(z)) * 1i) ^ 2 + z0;", "norm(z) > 100;", {},
        "-1.76304112413545387897136133232914922", "-0.03135466809433148246669157622078980", true },
    { "rational", "z = z * z + C / z;", "norm(z) > 100;", { 0.01, 0.0 }, "0.3", "0.43", true },
    { "decides", "z = z * z + z0 + (real(z) > 0) * 0.01;", "norm(z) > 100;", {}, "-0.7499", "0.0163", true },
    { "carries", "V_n = z * z + z0 + 0.1 * V_p; V_p = z; z = V_n;", "norm(z) > 4;", {}, "-0.7", "0.2", true },
};

class BilinearSkips : public testing::TestWithParam<SkipCase> { };

TEST_P(BilinearSkips, NeverChangeACount)
{
    const SkipCase& k = GetParam();
    CFormula iter;
    CFormula term;
    std::string error;
    ASSERT_EQ(iter.Compile(k.iteration, error), 0) << error;
    ASSERT_EQ(term.Compile(k.termination, error), 0) << error;
    if (const int slot = iter.FindConstant("C"); slot >= 0) {
        iter.SetConstant(slot, k.c);
    }
    const CDeltaProgram delta = DeltaProgramOf(iter, term);
    constexpr mpfr_prec_t kBits = 400;
    bool ok = false;
    const BigComplex centre(BigFloat::Parse(k.re, kBits, &ok), BigFloat::Parse(k.im, kBits, &ok));
    Reference reference;
    constexpr int kLimit = 3000;
    ASSERT_TRUE(BuildReference(delta, centre, kBits, kLimit, reference, {}));
    const ExComplex step = ex::FromReal(1e-40);
    delta.PlanSkip(reference.orbit, ex::Scale(step, 6.0), kLimit);
    reference.orbit.skipRuns = 0; // the bilinear skips alone, from the first run
    ReferenceOrbit plain = reference.orbit;
    plain.bla.Clear();
    std::vector<Complex> d;
    std::vector<ExComplex> x;
    std::int64_t skipped = 0;
    for (int j = -4; j < 4; ++j) {
        for (int i = -4; i < 4; ++i) {
            const ExComplex offset = ex::Add(ex::Scale(step, i), ex::Swap(ex::Scale(step, j + 0.5)));
            const DeltaPixel with = delta.Iterate(reference.orbit, offset, kLimit, d, x);
            const DeltaPixel without = delta.Iterate(plain, offset, kLimit, d, x);
            ASSERT_EQ(with.glitched, without.glitched) << k.name << " " << i << "," << j;
            if (!with.glitched) {
                EXPECT_EQ(with.count, without.count) << k.name << " " << i << "," << j;
                EXPECT_NEAR(with.last.re, without.last.re, 1e-9 * (1.0 + std::fabs(without.last.re)));
            }
            skipped += with.skipped;
        }
    }
    EXPECT_EQ(skipped > 0, k.skips) << k.name;
    // The lanes, which take their skips between vector runs, count alike.
    std::vector<ExComplex> offsets;
    for (int p = 0; p < kLanes; ++p) {
        offsets.push_back(ex::Add(ex::Scale(step, p % 8 - 4), ex::Swap(ex::Scale(step, p / 8 - 4 + 0.5))));
    }
    std::vector<DeltaPixel> with(offsets.size()), without(offsets.size());
    DeltaLanes scratch;
    delta.IterateLanes(reference.orbit, offsets.data(), kLanes, kLimit, scratch, with.data());
    delta.IterateLanes(plain, offsets.data(), kLanes, kLimit, scratch, without.data());
    for (size_t p = 0; p < offsets.size(); ++p) {
        if (!with[p].glitched && !without[p].glitched && !with[p].deferred && !without[p].deferred) {
            EXPECT_EQ(with[p].count, without[p].count) << k.name << " lane pixel " << p;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Deep, BilinearSkips, testing::ValuesIn(kCases),
    [](const testing::TestParamInfo<SkipCase>& info) { return std::string(info.param.name); });

// Beside a minibrot, pixels rebase to the reference's start with offsets as small as the view and skip
// again from there: the lanes take those skips as a pixel run alone does, and count alike.
TEST(BilinearSkips, LanesSkipAgainAfterARebase)
{
    CFormula iter;
    CFormula term;
    std::string error;
    ASSERT_EQ(iter.Compile("z = z * z + z0;", error), 0) << error;
    ASSERT_EQ(term.Compile("norm(z) > 100;", error), 0) << error;
    const CDeltaProgram delta = DeltaProgramOf(iter, term);
    constexpr mpfr_prec_t kBits = 760;
    bool ok = false;
    const BigComplex centre(
        BigFloat::Parse(kMinibrotRe, kBits, &ok), BigFloat::Parse(kMinibrotIm, kBits, &ok));
    ASSERT_TRUE(ok);
    Reference reference;
    constexpr int kLimit = 20000;
    ASSERT_TRUE(BuildReference(delta, centre, kBits, kLimit, reference, {}));
    const ExComplex step = ex::FromReal(kMinibrotWidth / 8);
    delta.PlanSkip(reference.orbit, ex::Scale(step, 6.0), kLimit);
    ReferenceOrbit plain = reference.orbit;
    plain.bla.Clear();
    std::vector<ExComplex> offsets;
    for (int p = 0; p < kLanes; ++p) {
        offsets.push_back(ex::Add(ex::Scale(step, p % 8 - 3.5), ex::Swap(ex::Scale(step, p / 8 - 3.5))));
    }
    std::vector<DeltaPixel> with(offsets.size()), without(offsets.size());
    DeltaLanes scratch;
    delta.IterateLanes(reference.orbit, offsets.data(), kLanes, kLimit, scratch, with.data());
    delta.IterateLanes(plain, offsets.data(), kLanes, kLimit, scratch, without.data());
    std::vector<Complex> d;
    std::vector<ExComplex> x;
    std::int64_t lanesSkipped = 0, aloneSkipped = 0;
    int rebased = 0;
    for (size_t p = 0; p < offsets.size(); ++p) {
        ASSERT_FALSE(with[p].glitched || with[p].deferred || without[p].glitched) << p;
        EXPECT_EQ(with[p].count, without[p].count) << "pixel " << p;
        lanesSkipped += with[p].skipped;
        aloneSkipped += delta.Iterate(reference.orbit, offsets[p], kLimit, d, x).skipped;
        rebased += with[p].rebases > 0 ? 1 : 0;
    }
    EXPECT_GE(rebased, kLanes / 8);
    // Roundings may move a try by a run; a lane that skipped only before its first run skips far less.
    EXPECT_GT(lanesSkipped, aloneSkipped * 9 / 10);
}

CDeltaProgram ProgramWithC(const char* iteration, const char* termination, Complex c)
{
    CFormula iter, term;
    std::string error;
    EXPECT_EQ(iter.Compile(iteration, error), 0) << error;
    EXPECT_EQ(term.Compile(termination, error), 0) << error;
    iter.SetConstant(iter.FindConstant("C"), c);
    return DeltaProgramOf(iter, term);
}

} // namespace

// A long orbit's table is built in stretches that threads share: the skips are the same whatever the
// number of threads (near a parabolic parameter, where the orbit runs 40000 runs before it escapes).
TEST(BilinearSkips, SameTableOnAnyNumberOfThreads)
{
    const CDeltaProgram delta = ProgramWithC("z = z * z + C;", "norm(z) > 100;", { 0.2500000001, 0.0 });
    constexpr mpfr_prec_t kBits = 128;
    constexpr int kLimit = 40000;
    Reference reference;
    ASSERT_TRUE(BuildReference(delta, BigComplex(Complex { 0.5, 0.0 }, kBits), kBits, kLimit, reference, {}));
    ASSERT_GT(reference.orbit.runs, 4 * static_cast<int>(kBlaStretch) * 2);
    const ExComplex radius = ex::FromReal(1e-30);
    std::vector<ReferenceOrbit> planned;
    for (const int threads : { 1, 2, 3 }) {
        planned.push_back(reference.orbit);
        delta.PlanSkip(planned.back(), radius, kLimit, threads);
        ASSERT_FALSE(planned.back().bla.Empty());
        EXPECT_EQ(planned.back().bla.Bytes(), planned.front().bla.Bytes()) << threads;
    }
    // And with the stretches made while the orbit was computed.
    Reference again;
    CPlanAhead ahead(delta, radius, kLimit, true);
    ASSERT_TRUE(BuildReference(delta, BigComplex(Complex { 0.5, 0.0 }, kBits), kBits, kLimit, again, {},
        kMaxReferenceBytes, &ahead));
    PlannedAhead made = ahead.Finish();
    ASSERT_TRUE(made.stretches.Made(0) && made.stretches.Made(1));
    ASSERT_GT(made.series->Next(), 0);
    planned.push_back(again.orbit);
    delta.PlanSkip(planned.back(), radius, kLimit, 2, &made);
    EXPECT_EQ(planned.back().bla.Bytes(), planned.front().bla.Bytes());
    EXPECT_EQ(planned.back().skipRuns, planned.front().skipRuns);
    EXPECT_EQ(std::memcmp(planned.back().skipSeries.data(), planned.front().skipSeries.data(),
                  planned.front().skipSeries.size() * sizeof(planned.front().skipSeries[0])),
        0);
    int skipped = 0;
    for (int n = 0; n < reference.orbit.runs; n += 997) {
        for (const double size : { 1e-30, 1e-12, 1e-6 }) {
            ExComplex first[kBlaMaxWidth] = { ex::FromReal(size) };
            const int to = planned.front().bla.Skip(n, kLimit - 1, first, ex::FromReal(1e-31));
            skipped += to - n;
            for (size_t k = 1; k < planned.size(); ++k) {
                ExComplex d[kBlaMaxWidth] = { ex::FromReal(size) };
                EXPECT_EQ(planned[k].bla.Skip(n, kLimit - 1, d, ex::FromReal(1e-31)), to) << n;
                EXPECT_EQ(std::memcmp(&d[0], &first[0], sizeof(ExComplex)), 0) << n;
            }
        }
    }
    EXPECT_GT(skipped, 0);
}

// A stretch made ahead reads a copy of its runs' records: every run of the copy must read as that run of
// the orbit, with the records of values below the doubles' range, of a log of 0 on the way and of a
// termination's value below the doubles' range.
TEST(BilinearSkips, SliceReadsAsTheOrbit)
{
    const CDeltaProgram delta = ProgramWithC("z = z * z * C + exp(log(z - z));", "-real(z);", { 1e150, 0.0 });
    Reference reference;
    // z = 1e-155 gives 1e-160, 1e-170, 1e-190, 1e-230, 1e-310 (below the normal range), 1e-470, ...
    ASSERT_TRUE(BuildReference(delta, BigComplex(Complex { 1e-155, 0.0 }, 256), 256, 12, reference, {}));
    const ReferenceOrbit& orbit = reference.orbit;
    ASSERT_GE(orbit.runs, 8);
    ASSERT_FALSE(orbit.heldTiny.empty());
    ASSERT_TRUE(orbit.TinyRun(6) && orbit.SingularRun(1) && !orbit.TinyRun(0));
    const auto same
        = [](const ExComplex& a, const ExComplex& b) { return std::memcmp(&a, &b, sizeof a) == 0; };
    const auto check = [&](const ReferenceOrbit& slice, int from, int to) {
        ASSERT_EQ(slice.runs, to - from);
        for (int n = from; n < to; ++n) {
            const int m = n - from;
            EXPECT_EQ(slice.TinyRun(m), orbit.TinyRun(n)) << n;
            EXPECT_EQ(slice.SingularRun(m), orbit.SingularRun(n)) << n;
            EXPECT_TRUE(same(slice.Held(m), orbit.Held(n))) << n;
            EXPECT_EQ(std::memcmp(&slice.last[m], &orbit.last[n], sizeof(Complex)), 0) << n;
            for (const auto record : { &ReferenceOrbit::iteration, &ReferenceOrbit::termination }) {
                for (int k = 0; k < (orbit.*record).instructions; ++k) {
                    const ReferenceOperands x = OperandsAt(slice.*record, m, static_cast<size_t>(k));
                    const ReferenceOperands y = OperandsAt(orbit.*record, n, static_cast<size_t>(k));
                    EXPECT_TRUE(same(x.wideA, y.wideA) && same(x.wideB, y.wideB) && same(x.wideR, y.wideR))
                        << n << " " << k;
                }
            }
        }
    };
    for (const auto& [from, to] :
        { std::pair { 0, orbit.runs }, std::pair { 3, 7 }, std::pair { 5, orbit.runs } }) {
        check(SliceOf(orbit, from, to), from, to);
    }
    // Slices put back together, across the runs where values leave the doubles' range.
    ReferenceOrbit joined = SliceOf(orbit, 0, 3);
    Append(joined, SliceOf(orbit, 3, 5));
    Append(joined, SliceOf(orbit, 5, orbit.runs));
    check(joined, 0, orbit.runs);
}
