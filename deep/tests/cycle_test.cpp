#include "delta.h"
#include "oracle.h"
#include "reference.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Picture {
    CFormula iter, term;
    CDeltaProgram delta;

    Picture(const char* iteration, const char* termination, Complex c)
    {
        std::string error;
        EXPECT_EQ(iter.Compile(iteration, error), 0) << error;
        EXPECT_EQ(term.Compile(termination, error), 0) << error;
        if (const int k = iter.FindConstant("C"); k >= 0) {
            iter.SetConstant(k, c);
        }
        delta = DeltaProgramOf(iter, term);
    }
};

constexpr mpfr_prec_t kBits = 256;

} // namespace

// An orbit that settles on a cycle ends when it repeats within its precision, with the cycle's period;
// one whose termination reads the run number runs to the limit (its runs are not alike).
TEST(PeriodicReference, EndsWithItsPeriod)
{
    struct Case {
        const char* iteration;
        const char* termination;
        Complex c, point;
        int period;
    };
    const Case cases[] = {
        { "z = z * z + C;", "norm(z) > 100;", { -0.1, 0.1 }, { 0.1, 0.1 }, 1 },
        { "z = z * z + C;", "norm(z) > 100;", { -1.0, 0.0 }, { 0.1, 0.0 }, 2 },
        { "z = z * z + z0;", "norm(z) > 100;", { 0, 0 }, { -0.1225, 0.7449 }, 3 },
        { "z = z * z + C;", "norm(z) + 0 * V_iter_n > 100;", { -1.0, 0.0 }, { 0.1, 0.0 }, 0 },
    };
    constexpr int kLimit = 200000;
    for (const Case& c : cases) {
        Picture picture(c.iteration, c.termination, c.c);
        Reference reference;
        ASSERT_TRUE(BuildReference(picture.delta, BigComplex(c.point, kBits), kBits, kLimit, reference, {}));
        EXPECT_EQ(reference.orbit.period, c.period) << c.iteration << " at " << c.point.re;
        EXPECT_EQ(reference.orbit.runs<kLimit, c.period> 0) << reference.orbit.runs;
    }
}

// Pixels that follow a periodic orbit to the limit are decided there without running to it, on both
// paths (side by side and one by one), with the value the limit's run gives; a pixel that leaves the
// orbit escapes at the oracle's count.
TEST(PeriodicReference, PixelsAtTheLimitWithoutItsRuns)
{
    Picture picture("z = z * z + C;", "norm(z) > 100;", { -1.0, 0.0 });
    const Complex centre { 0.1, 0.0 };
    // 0.1 + 1e-12 k settles on the cycle 0, -1 (the limit's run: 0 after an odd run, -1 after an even
    // one); 1.7 escapes after a few runs.
    std::vector<ExComplex> offsets;
    for (int k = 0; k < 64; ++k) {
        offsets.push_back(ex::From({ 1e-12 * k, 1e-12 * (k % 5) }));
    }
    offsets.push_back(ex::From({ 1.6, 0.0 }));
    const int count = static_cast<int>(offsets.size());
    CBatchFormula iterProgram(picture.iter), termProgram(picture.term);
    CPreciseProgram iter(iterProgram, kBits), term(termProgram, kBits);
    const OracleBindings bindings = BindOracle(picture.iter, iterProgram, picture.term, termProgram);
    const int escapes
        = PreciseIterate(iter, term, bindings, BigComplex(Complex { 1.7, 0.0 }, kBits), 1000).count;
    for (const int limit : { 1000000000, 999999999 }) {
        Reference reference;
        ASSERT_TRUE(BuildReference(picture.delta, BigComplex(centre, kBits), kBits, limit, reference, {}));
        ASSERT_EQ(reference.orbit.period, 2);
        std::vector<DeltaPixel> lanes(offsets.size());
        DeltaLanes scratch;
        picture.delta.IterateLanes(reference.orbit, offsets.data(), count, limit, scratch, lanes.data());
        std::vector<Complex> d;
        std::vector<ExComplex> x;
        const double settled = limit % 2 == 0 ? 0.0 : -1.0;
        for (int k = 0; k < count; ++k) {
            const DeltaPixel one = picture.delta.Iterate(reference.orbit, offsets[k], limit, d, x);
            for (const DeltaPixel& pixel : { lanes[k], one }) {
                ASSERT_FALSE(pixel.glitched || pixel.deferred) << k;
                EXPECT_EQ(pixel.count, k < 64 ? limit : escapes) << k;
                if (k < 64) {
                    EXPECT_NEAR(pixel.last.re, settled, 1e-9) << k;
                }
            }
        }
    }
}

// Offsets below the doubles' range (a view deeper than 1e-181) are decided by their laps too: at a
// limit of 1e9 they would otherwise run for minutes.
TEST(PeriodicReference, WideOffsetsDecidedByTheirLaps)
{
    Picture picture("z = z * z + C;", "norm(z) > 100;", { -1.0, 0.0 });
    constexpr int kLimit = 1000000000;
    Reference reference;
    ASSERT_TRUE(
        BuildReference(picture.delta, BigComplex(Complex { 0.1, 0.0 }, 1200), 1200, kLimit, reference, {}));
    ASSERT_EQ(reference.orbit.period, 2);
    std::vector<Complex> d;
    std::vector<ExComplex> x;
    for (int k = 1; k < 8; ++k) {
        const ExComplex offset { 0.5 * k / 8, 0.25, -700 - 40 * k };
        const DeltaPixel pixel = picture.delta.Iterate(reference.orbit, offset, kLimit, d, x);
        ASSERT_FALSE(pixel.glitched) << k;
        EXPECT_EQ(pixel.count, kLimit) << k;
        EXPECT_NEAR(pixel.last.re, 0.0, 1e-9) << k;
    }
}

// Centred on a Misiurewicz point (i for z * z + z0) or a nucleus (the period-3 airship's), the
// reference repeats within a few runs; the skip still carries the pixels as far as beside it.
TEST(PeriodicReference, SkipsGoPastTheFirstCycle)
{
    struct Case {
        const char* re;
        const char* im;
        int skipsAtLeast;
    };
    const Case cases[] = {
        { "0", "1", 790 }, // the pixels escape after about 800 runs
        { "-1."
          "75487766624669276004950889635852869189460661777279314398928397064608065512808109073822709284225",
            "0", 2999 },
    };
    constexpr int kLimit = 3000;
    constexpr mpfr_prec_t kDeep = 1100;
    Picture picture("z = z * z + z0;", "norm(z) > 100;", {});
    for (const Case& c : cases) {
        bool ok = false;
        const BigComplex point(BigFloat::Parse(c.re, kDeep, &ok), BigFloat::Parse(c.im, kDeep, &ok));
        Reference reference;
        ASSERT_TRUE(BuildReference(picture.delta, point, kDeep, kLimit, reference, {}));
        EXPECT_GT(reference.orbit.period, 0) << c.re;
        picture.delta.PlanSkip(reference.orbit, ExComplex { 0.5, 0.0, -996 }, kLimit); // about 1e-300
        EXPECT_GE(reference.orbit.skipRuns, c.skipsAtLeast) << c.re;
    }
}

// A pixel whose value passes near 0 far from its reference's goes on from the run of the orbit
// nearest its value instead of glitching, and ends at the oracle's count; formulas with branch cuts
// do not rebase.
TEST(Rebasing, GoesOnFromTheNearestRun)
{
    Picture picture("z = z * z + C;", "norm(z) > 100;", { -0.78, -0.15 });
    ASSERT_TRUE(picture.delta.Rebases());
    EXPECT_FALSE(Picture("z = sqrt(z) + C;", "norm(z) > 100;", {}).delta.Rebases());
    EXPECT_FALSE(Picture("z = z * z + C;", "norm(z) > V_iter_n;", {}).delta.Rebases());
    constexpr int kLimit = 2000;
    const Complex centre { 0.31, 0.12 };
    Reference reference;
    ASSERT_TRUE(BuildReference(picture.delta, BigComplex(centre, kBits), kBits, kLimit, reference, {}));
    CBatchFormula iterProgram(picture.iter), termProgram(picture.term);
    CPreciseProgram iter(iterProgram, kBits), term(termProgram, kBits);
    const OracleBindings bindings = BindOracle(picture.iter, iterProgram, picture.term, termProgram);
    std::vector<Complex> d;
    std::vector<ExComplex> x;
    int rebased = 0;
    int glitched = 0;
    for (int j = 0; j < 24; ++j) {
        for (int i = 0; i < 24; ++i) {
            const Complex offset { 2e-3 * (i - 12), 2e-3 * (j - 12) };
            const DeltaPixel pixel = picture.delta.Iterate(reference.orbit, ex::From(offset), kLimit, d, x);
            glitched += pixel.glitched ? 1 : 0;
            if (pixel.glitched || pixel.rebases == 0) {
                continue;
            }
            ++rebased;
            const BigComplex at(Add(centre, offset), kBits);
            EXPECT_EQ(pixel.count, PreciseIterate(iter, term, bindings, at, kLimit).count) << i << ", " << j;
        }
    }
    EXPECT_GT(rebased, 10);
    EXPECT_LT(glitched, rebased);
}

// A reference exactly on a cycle (the Misiurewicz point i of z * z + z0) repeats after a few runs;
// the skip goes round the cycle with the pixels, far past its first lap, and changes no count.
TEST(PeriodicReference, TheSkipGoesRoundTheCycle)
{
    Picture picture("z = z * z + z0;", "norm(z) > 100;", {});
    constexpr int kLimit = 3000;
    Reference reference;
    ASSERT_TRUE(
        BuildReference(picture.delta, BigComplex(Complex { 0.0, 1.0 }, 1100), 1100, kLimit, reference, {}));
    ASSERT_EQ(reference.orbit.period, 2);
    const ExComplex step = ex::FromReal(1e-300);
    picture.delta.PlanSkip(reference.orbit, ex::Scale(step, 6.0), kLimit);
    EXPECT_GT(reference.orbit.skipRuns, 300 * reference.orbit.period);
    ReferenceOrbit plain = reference.orbit;
    plain.skipRuns = 0;
    plain.bla.Clear();
    std::vector<ExComplex> offsets;
    for (int p = 0; p < kLanes; ++p) {
        offsets.push_back(ex::Add(ex::Scale(step, p % 8 - 3.5), ex::Swap(ex::Scale(step, p / 8 - 3.5))));
    }
    std::vector<DeltaPixel> lanes(offsets.size());
    DeltaLanes scratch;
    picture.delta.IterateLanes(reference.orbit, offsets.data(), kLanes, kLimit, scratch, lanes.data());
    std::vector<Complex> d;
    std::vector<ExComplex> x;
    for (size_t p = 0; p < offsets.size(); ++p) {
        const DeltaPixel without = picture.delta.Iterate(plain, offsets[p], kLimit, d, x);
        const DeltaPixel with = picture.delta.Iterate(reference.orbit, offsets[p], kLimit, d, x);
        ASSERT_FALSE(without.glitched || with.glitched || lanes[p].glitched) << p;
        EXPECT_EQ(with.count, without.count) << p;
        if (!lanes[p].deferred) {
            EXPECT_EQ(lanes[p].count, without.count) << p;
        }
    }
}

// A pixel whose exp falls far below its reference's lands on the orbit of the formula's asymptotic
// value and ends at the oracle's count, alone and side by side; a formula whose state passes on other
// than through one exp, or whose termination reads the run, does not land.
TEST(Landing, GoesOnFromTheAsymptoticValue)
{
    const std::pair<const char*, bool> kinds[]
        = { { "z = exp(z) + C;", true }, { "z = C * exp(z * z) + z0;", true },
              { "z = exp(exp(z)) - 1;", true }, { "z = exp(z) + z;", false }, { "z = z * z + C;", false } };
    for (const auto& [iteration, lands] : kinds) {
        EXPECT_EQ(Picture(iteration, "real(z) > 50;", {}).delta.LandingInstruction() >= 0, lands)
            << iteration;
    }
    EXPECT_LT(Picture("z = exp(z) + C;", "real(z) > V_iter_n;", {}).delta.LandingInstruction(), 0);

    const Complex c { -0.65, 0.0 };
    Picture picture("z = exp(z) + C;", "real(z) > 50;", c);
    constexpr int kLimit = 5000;
    const Complex centre { 0.1148328928839533, 0.8204938050594026 }; // near a cycle of period 2
    Reference reference;
    ASSERT_TRUE(BuildReference(picture.delta, BigComplex(centre, kBits), kBits, kLimit, reference, {}));
    ASSERT_TRUE(reference.orbit.landing);
    EXPECT_EQ(reference.orbit.landing->last[0].re, c.re); // C: exp's value taken as 0
    std::vector<ExComplex> offsets;
    for (int k = 0; k < 64; ++k) {
        offsets.push_back(ex::From({ 1e-10 * (k % 8 - 4), 1e-10 * (k / 8 - 4) }));
    }
    std::vector<DeltaPixel> lanes(offsets.size());
    DeltaLanes scratch;
    picture.delta.IterateLanes(reference.orbit, offsets.data(), 64, kLimit, scratch, lanes.data());
    const size_t row = scratch.resume.size() / offsets.size();
    CBatchFormula iterProgram(picture.iter), termProgram(picture.term);
    CPreciseProgram iter(iterProgram, kBits), term(termProgram, kBits);
    const OracleBindings bindings = BindOracle(picture.iter, iterProgram, picture.term, termProgram);
    std::vector<Complex> d;
    std::vector<ExComplex> x;
    // Side by side again after landing: the pixels Iterate hands back go on in lanes on the landing
    // orbit; those deferred there land again alone.
    std::vector<DeltaPixel> handed(offsets.size());
    std::vector<size_t> back;
    std::vector<DeltaPixel> backPixels;
    std::vector<ExComplex> backOffsets;
    std::vector<Complex> rows;
    const size_t all
        = static_cast<size_t>(picture.delta.Iteration().Slots() + picture.delta.Termination().Slots());
    for (size_t k = 0; k < offsets.size(); ++k) {
        const DeltaPixel& deferred = lanes[k];
        handed[k] = !deferred.deferred
            ? deferred
            : picture.delta.Iterate(reference.orbit, offsets[k], kLimit, d, x, &deferred,
                scratch.resume.data() + k * row, nullptr, nullptr, true);
        if (handed[k].deferred) {
            back.push_back(k);
            backPixels.push_back(handed[k]);
            backOffsets.push_back(offsets[k]);
            rows.insert(rows.end(), d.begin(), d.begin() + static_cast<ptrdiff_t>(all));
        }
    }
    ASSERT_GT(back.size(), 8u);
    std::vector<DeltaPixel> onLanding(back.size());
    const LaneResumes resumes { backPixels.data(), rows.data(), all };
    DeltaLanes landingScratch;
    picture.delta.IterateLanes(*reference.orbit.landing, backOffsets.data(), static_cast<int>(back.size()),
        kLimit, landingScratch, onLanding.data(), nullptr, &resumes);
    const size_t landingRow = landingScratch.resume.size() / back.size();
    for (size_t i = 0; i < back.size(); ++i) {
        handed[back[i]] = !onLanding[i].deferred
            ? onLanding[i]
            : picture.delta.Iterate(reference.orbit, offsets[back[i]], kLimit, d, x, &onLanding[i],
                landingScratch.resume.data() + i * landingRow);
    }
    int landed = 0;
    for (size_t k = 0; k < offsets.size(); ++k) {
        const DeltaPixel& deferred = lanes[k];
        const DeltaPixel sideBySide = !deferred.deferred
            ? deferred
            : picture.delta.Iterate(
                reference.orbit, offsets[k], kLimit, d, x, &deferred, scratch.resume.data() + k * row);
        const DeltaPixel alone = picture.delta.Iterate(reference.orbit, offsets[k], kLimit, d, x);
        const BigComplex at(Add(centre, ex::ToComplex(offsets[k])), kBits);
        const int exact = PreciseIterate(iter, term, bindings, at, kLimit).count;
        for (const DeltaPixel& pixel : { sideBySide, alone, handed[k] }) {
            ASSERT_FALSE(pixel.glitched) << k;
            EXPECT_EQ(pixel.count, exact) << k;
            landed += pixel.landed ? 1 : 0;
        }
    }
    EXPECT_GT(landed, 48);
}
