#include "delta.h"
#include "reference.h"

#include <gtest/gtest.h>

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
}

INSTANTIATE_TEST_SUITE_P(Deep, BilinearSkips, testing::ValuesIn(kCases),
    [](const testing::TestParamInfo<SkipCase>& info) { return std::string(info.param.name); });

} // namespace
