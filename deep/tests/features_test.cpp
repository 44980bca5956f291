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
