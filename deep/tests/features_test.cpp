#include "dual.h"
#include "featurefinder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

CFormula Compiled(const char* text)
{
    CFormula formula;
    std::string problem;
    EXPECT_EQ(formula.Compile(text, problem), 0) << text << ": " << problem;
    return formula;
}

BigComplex Point(const char* re, const char* im, mpfr_prec_t bits)
{
    return BigComplex(BigFloat::Parse(re, bits, nullptr), BigFloat::Parse(im, bits, nullptr));
}

// z after `runs` runs from x, by plain arbitrary-precision runs (no derivatives).
Complex ZAfter(const FeatureProgram& p, Complex x, double dx, double dy, int runs)
{
    CPreciseProgram run(p.program, 256);
    BigComplex at({ x.re + dx, x.im + dy }, 256);
    run.Reset();
    for (const int slot : { p.z, p.z0 }) {
        if (slot >= 0) {
            run.Slot(slot).Set(at);
        }
    }
    for (int n = 0; n < runs; ++n) {
        run.Run();
    }
    return run.Slot(p.z).ToComplex();
}

} // namespace

// The derivatives of the program along both directions against central differences of plain runs,
// for complex-differentiable formulas and for ones that are not (the real 2 x 2 Jacobian).
TEST(DualProgram, DerivativesAgreeWithDifferences)
{
    struct Row {
        const char* formula;
        Complex at;
        int runs;
        bool holomorphic;
    };
    const Row rows[] = {
        { "z = z * z + z0;", { -0.3, 0.5 }, 6, true },
        { "z = z ^ 3 / (z0 - 2) + z0;", { 0.2, -0.4 }, 4, true },
        { "z = exp(z) * 0.4 + sin(z0) - log(z0 + 3) + sqrt(z + 4);", { 0.1, 0.2 }, 3, true },
        { "z = tanh(z) + cosh(z0) * tan(z) / sinh(z0 + 1) + log10(z + 5) + z ^ z0;", { 0.3, 0.1 }, 3, true },
        { "z = (abs(real(z)) + imag(z)i) ^ 2 + z0;", { -0.5, 0.4 }, 5, false },
        { "z = conj(z) * z + norm(z0) + arg(z) + abs(z) + imag(z);", { 0.2, 0.3 }, 3, false },
        { "z = z * z + z0 + (z > 0) * 0.5;", { 0.3, 0.2 }, 4, true },
    };
    for (const Row& row : rows) {
        const FeatureProgram p = FeatureProgramOf(Compiled(row.formula));
        CDualProgram dual(p.program, 256);
        EXPECT_EQ(dual.Holomorphic(), row.holomorphic) << row.formula;
        dual.Start(BigComplex(row.at, 256), { p.z, p.z0 }, { p.z, p.z0 });
        for (int n = 0; n < row.runs; ++n) {
            dual.Run();
        }
        constexpr double h = 1e-7;
        const auto slope = [&](double dx, double dy) {
            const Complex up = ZAfter(p, row.at, dx, dy, row.runs);
            const Complex down = ZAfter(p, row.at, -dx, -dy, row.runs);
            return Complex { (up.re - down.re) / (2 * h), (up.im - down.im) / (2 * h) };
        };
        const Complex byRe = slope(h, 0);
        const Complex byIm = slope(0, h);
        const Complex re = dual.AlongRe(p.z).ToComplex();
        const Complex im = dual.AlongIm(p.z).ToComplex();
        const double scale = 1e-6 * (1 + std::hypot(byRe.re, byRe.im) + std::hypot(byIm.re, byIm.im));
        EXPECT_NEAR(re.re, byRe.re, scale) << row.formula;
        EXPECT_NEAR(re.im, byRe.im, scale) << row.formula;
        EXPECT_NEAR(im.re, byIm.re, scale) << row.formula;
        EXPECT_NEAR(im.im, byIm.im, scale) << row.formula;
    }
}

// The feature of lowest period in a view, by kind and formula: nuclei (with the size estimate of the
// renormalised copy, 0.01904 for the period-3 airship), periodic points of a formula without z0,
// Misiurewicz points, a formula that is not complex-differentiable, and views with nothing to find.
TEST(FeatureFinder, FindsTheFeatureOfLowestPeriod)
{
    struct Row {
        const char* formula;
        double re, im, width;
        FeatureKind kind;
        FeatureOutcome outcome;
        int period, preperiod;
        Complex point;
        double size; // 0: not checked
    };
    constexpr FeatureKind P = FeatureKind::Periodic;
    constexpr FeatureKind M = FeatureKind::Misiurewicz;
    constexpr FeatureOutcome F = FeatureOutcome::Found;
    const Row rows[] = {
        { "z = z * z + z0;", -1.75, 0.01, 0.1, P, F, 3, 0, { -1.7548776662466927, 0 }, 0.0190355 },
        { "z = z * z + z0;", -0.1, 0.65, 0.2, P, F, 3, 0, { -0.12256116687665362, 0.74486176661974424 }, 0 },
        { "z = z * z + z0;", 0.1, 0.1, 0.5, P, F, 1, 0, { 0, 0 }, 1 },
        { "z = z * z - 1;", -0.6, 0.05, 0.2, P, F, 1, 0, { -0.6180339887498949, 0 }, 0 },
        { "z = z * z + z0;", 0.01, 0.99, 0.1, M, F, 2, 1, { 0, 1 }, 0 },
        { "z = z * z + z0;", -1.54, 0.001, 0.05, M, F, 1, 2, { -1.5436890126920764, 0 }, 0 },
        { "z = (abs(real(z)) + abs(imag(z))i) ^ 2 + z0;", -1.76, 0.01, 0.1, P, F, 3, 0,
            { -1.7548776662466927, 0 }, 0 },
        { "z = exp(z) + z0;", -1, 0.01, 0.5, P, FeatureOutcome::NotFound, 0, 0, {}, 0 },
        { "zw = zw * zw + z0;", 0, 0, 1, P, FeatureOutcome::NoVariable, 0, 0, {}, 0 },
    };
    for (const Row& row : rows) {
        FeatureSearch search;
        search.centreRe = BigFloat(row.re, 64);
        search.centreIm = BigFloat(row.im, 64);
        search.width = BigFloat(row.width, 64);
        search.kind = row.kind;
        search.maxPeriod = 200;
        const Feature f = FindFeature(Compiled(row.formula), search);
        ASSERT_EQ(f.outcome, row.outcome) << row.formula << " at " << row.re;
        if (f.outcome != FeatureOutcome::Found) {
            continue;
        }
        EXPECT_EQ(f.period, row.period) << row.formula << " at " << row.re;
        EXPECT_EQ(f.preperiod, row.preperiod) << row.formula << " at " << row.re;
        EXPECT_NEAR(f.point.ToComplex().re, row.point.re, 1e-12) << row.formula << " at " << row.re;
        EXPECT_NEAR(f.point.ToComplex().im, row.point.im, 1e-12) << row.formula << " at " << row.re;
        if (row.size != 0) {
            EXPECT_NEAR(f.size.ToDouble(), row.size, 1e-5 * row.size) << row.formula << " at " << row.re;
        }
    }
}

// A nucleus of period 830 from a point a quarter of its framing view away: the period, and the point
// to far better than a millionth of its size. A cancelled search says so.
TEST(FeatureFinder, RecoversADeepNucleusAndStopsWhenCancelled)
{
    const mpfr_prec_t bits = 400;
    const BigComplex nucleus = Point("-0."
                                     "74364510263533718947148223044154382821122695703119358930317524748762314"
                                     "898923843275462524242563515830943489885450873864622",
        "0."
        "1318251512316651433503272652642457449469331311042008085680576442542826809077332952018271931420075942"
        "2865545439680430491593",
        bits);
    const BigFloat size = BigFloat::Parse("1.62623e-20", 64, nullptr);
    FeatureSearch search;
    search.width = size * 5.0;
    search.centreRe = BigFloat(bits);
    mpfr_set(search.centreRe.get(), nucleus.Re(), MPFR_RNDN);
    search.centreRe = search.centreRe + search.width / 4.0;
    search.centreIm = BigFloat(bits);
    mpfr_set(search.centreIm.get(), nucleus.Im(), MPFR_RNDN);
    const CFormula formula = Compiled("z = z * z + z0;");
    const Feature f = FindFeature(formula, search);
    ASSERT_EQ(f.outcome, FeatureOutcome::Found);
    EXPECT_EQ(f.period, 830);
    BigComplex error(bits);
    mpc_sub(error.get(), f.point.get(), nucleus.get(), MPC_RNDNN);
    BigFloat distance(64);
    mpc_abs(distance.get(), error.get(), MPFR_RNDN);
    EXPECT_LT((distance / size).ToDouble(), 1e-20);
    EXPECT_NEAR((f.size / size).ToDouble(), 1.0, 1e-4);

    int asked = 0;
    const Feature stopped = FindFeature(formula, search, [&asked] { return ++asked > 3; });
    EXPECT_EQ(stopped.outcome, FeatureOutcome::Cancelled);
}
