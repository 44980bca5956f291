#include "delta.h"
#include "reference.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr mpfr_prec_t kBits = 400;
constexpr int kLimit = 3000;

CDeltaProgram Program(const char* iteration)
{
    CFormula iter;
    CFormula term;
    std::string error;
    EXPECT_EQ(iter.Compile(iteration, error), 0) << error;
    EXPECT_EQ(term.Compile("norm(z) > 100;", error), 0) << error;
    return DeltaProgramOf(iter, term);
}

BigComplex Point(const char* re, const char* im)
{
    bool ok = false;
    return BigComplex(BigFloat::Parse(re, kBits, &ok), BigFloat::Parse(im, kBits, &ok));
}

} // namespace

// Programs that are not complex-differentiable skip with a series in the offset and its conjugate, and
// a pixel counts as it does without the skip, run alone and in the lanes.
TEST(PairSkip, CountsAsWithoutIt)
{
    struct Case {
        const char* iteration;
        const char* re;
        const char* im;
        int skipsAtLeast;
    };
    const Case cases[] = {
        { "z = (abs(real(z)) + abs(imag(z)) * 1i) ^ 2 + z0;",
            "-1.76304112413545387897136132999507763213884366300309265430559",
            "-0.03135466809433148246669100000021961987240475222961418595695", 100 },
        { "z = (real(z) + abs(imag(z)) * 1i) ^ 2 + z0;", "0.3", "0.5", 40 },
        { "z = conj(z) * conj(z) + z0;", "-1.5436890126920764", "1e-9", 40 },
    };
    constexpr double kWidth = 1e-30;
    for (const Case& k : cases) {
        const CDeltaProgram delta = Program(k.iteration);
        const BigComplex centre = Point(k.re, k.im);
        const ExComplex step = ex::FromReal(kWidth / 8);
        const ExComplex radius = ex::Scale(step, 6.0);
        Reference reference;
        ASSERT_TRUE(BuildReference(delta, centre, kBits, kLimit, reference, {}));
        delta.PlanSkip(reference.orbit, radius, kLimit);
        EXPECT_GE(reference.orbit.skipRuns, k.skipsAtLeast) << k.iteration;
        EXPECT_FALSE(reference.orbit.skipPairs.empty()) << k.iteration;
        ReferenceOrbit plain = reference.orbit;
        plain.skipRuns = 0;
        std::vector<ExComplex> offsets;
        for (int p = 0; p < kLanes; ++p) {
            offsets.push_back(ex::Add(ex::Scale(step, p % 8 - 3.5), ex::Swap(ex::Scale(step, p / 8 - 3.5))));
        }
        std::vector<Complex> d;
        std::vector<ExComplex> x;
        std::vector<DeltaPixel> lanes(offsets.size());
        DeltaLanes scratch;
        delta.IterateLanes(reference.orbit, offsets.data(), kLanes, kLimit, scratch, lanes.data());
        int compared = 0;
        for (size_t p = 0; p < offsets.size(); ++p) {
            const DeltaPixel without = delta.Iterate(plain, offsets[p], kLimit, d, x);
            // A pixel whose count a move of 2^-26 of the pixels' spacing changes (a chaotic one, or one
            // on a boundary) is held to nothing: the skip starts it within 2^-36 of its offset.
            bool steady = !without.glitched;
            for (const Complex nudge :
                { Complex { 1, 0 }, Complex { -1, 0 }, Complex { 0, 1 }, Complex { 0, -1 } }) {
                const ExComplex moved = ex::Add(offsets[p], ex::Mul(ex::Scale(step, 0x1p-26), nudge));
                const DeltaPixel near = delta.Iterate(plain, moved, kLimit, d, x);
                steady = steady && !near.glitched && near.count == without.count;
            }
            if (!steady) {
                continue;
            }
            const DeltaPixel with = delta.Iterate(reference.orbit, offsets[p], kLimit, d, x);
            ASSERT_FALSE(with.glitched) << k.iteration << " pixel " << p;
            EXPECT_EQ(with.count, without.count) << k.iteration << " pixel " << p;
            if (!lanes[p].glitched && !lanes[p].deferred) {
                EXPECT_EQ(lanes[p].count, without.count) << k.iteration << " lane pixel " << p;
            }
            ++compared;
        }
        EXPECT_GE(compared, 48) << k.iteration;
    }
}

// Around a nucleus of the ship the pixels' values pass 0 on both sides at its period: abs folds them
// apart there, and the skip must end before the first run that reads values of different signs.
TEST(PairSkip, EndsWhereThePixelsSignsDiffer)
{
    const CDeltaProgram delta = Program("z = (abs(real(z)) + abs(imag(z)) * 1i) ^ 2 + z0;");
    // A nucleus of period 9, the view's centre a fifth of its width beside it.
    constexpr double kWidth = 1e-40;
    const char* re = "-1.7555468755124413157122432323159781007355250459908841411714924839706";
    const char* im = "-0.0196513152351768011347072797552077712813764111676146970860488817536";
    const BigComplex nucleus = Point(re, im);
    BigComplex centre(nucleus);
    BigFloat shift(kBits);
    mpfr_set_d(shift.get(), 0.2 * kWidth, MPFR_RNDN);
    mpfr_add(centre.Re(), nucleus.Re(), shift.get(), MPFR_RNDN);
    Reference reference;
    ASSERT_TRUE(BuildReference(delta, centre, kBits, kLimit, reference, {}));
    delta.PlanSkip(reference.orbit, ex::FromReal(kWidth * 0.71), kLimit);
    // The first value at which a corner's signs differ from the reference's: the run after it reads it.
    int differ = kLimit;
    for (const Complex corner : { Complex { -0.5, -0.5 }, Complex { 0.5, 0.5 }, Complex { -0.5, 0.5 } }) {
        BigComplex point(centre);
        BigFloat part(kBits);
        mpfr_set_d(part.get(), corner.re * kWidth, MPFR_RNDN);
        mpfr_add(point.Re(), centre.Re(), part.get(), MPFR_RNDN);
        mpfr_set_d(part.get(), corner.im * kWidth, MPFR_RNDN);
        mpfr_add(point.Im(), centre.Im(), part.get(), MPFR_RNDN);
        Reference pixel;
        ASSERT_TRUE(BuildReference(delta, point, kBits, kLimit, pixel, {}));
        const auto& a = reference.orbit.last;
        const auto& b = pixel.orbit.last;
        for (size_t n = 0; n < std::min(a.size(), b.size()) && static_cast<int>(n) < differ; ++n) {
            if ((a[n].re < 0) != (b[n].re < 0) || (a[n].im < 0) != (b[n].im < 0)) {
                differ = static_cast<int>(n);
            }
        }
    }
    ASSERT_LT(differ, 20) << "the corners' values must pass 0 apart near the period";
    EXPECT_GT(reference.orbit.skipRuns, 0);
    EXPECT_LE(reference.orbit.skipRuns, differ + 1);
}
