#include "batchformula.h"
#include "tangent.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

namespace {

CFormula Compiled(const std::string& text)
{
    CFormula formula;
    std::string error;
    EXPECT_EQ(formula.Compile(text, error), 0) << text << ": " << error;
    formula.SetConstant(formula.FindConstant("C"), { -0.4, 0.6 });
    return formula;
}

// The formula's value after runs runs from z = z0 = p, on a fresh copy.
Complex RunFrom(CFormula formula, Complex p, int runs)
{
    formula.SetVariable(formula.FindVariable("z"), p);
    formula.SetVariable(formula.FindVariable("z0"), p);
    Complex value;
    for (int k = 0; k < runs; ++k) {
        value = formula.Run();
    }
    return value;
}

std::vector<int> Seeds(const CFormula& formula)
{
    return { formula.FindVariable("z"), formula.FindVariable("z0") };
}

double Distance(Complex a, Complex b) { return std::hypot(a.re - b.re, a.im - b.im); }

// Every operation's rule against a central difference quotient along both axes, over a few runs (so
// that the variables' tangents carry over from one run to the next).
TEST(Tangent, AgreesWithDifferenceQuotients)
{
    const char* const formulas[] = { "z = z * z + C", "z = z^3 + C", "z = z^2.5 + C", "z = z^C", "z = sin(z)",
        "z = cos(z) * C", "z = tan(z)", "z = sinh(z) - cosh(z) * C", "z = tanh(z)", "z = exp(z) / z",
        "z = log(z) + log10(z)", "z = sqrt(z) * z0", "z = 1 / z + C", "z = z0^z",
        "V_p = z; z = z * z + C * V_p", "z = conj(z) * conj(z) + C", "z = abs(z) + norm(z) * i",
        "z = arg(z) + real(z) * 2 - imag(z)i", "z = z * z + (z > 0.1) + C",
        "z = z - z0 * 2; z = (z == 1) + z * 0.5" };
    const Complex points[] = { { 0.31, 0.17 }, { -0.52, 0.44 }, { 0.12, -0.63 } };
    constexpr double kStep = 1e-6;
    for (const char* text : formulas) {
        const CFormula source = Compiled(text);
        TangentFormula tangent;
        ASSERT_TRUE(DifferentiateFormula(source, Seeds(source), tangent)) << text;
        for (const Complex p : points) {
            for (int runs = 1; runs <= 3; ++runs) {
                CFormula derived = tangent.formula;
                const Complex value = RunFrom(derived, p, runs);
                derived.SetVariable(derived.FindVariable("z"), p);
                derived.SetVariable(derived.FindVariable("z0"), p);
                for (int k = 0; k < runs; ++k) {
                    derived.Run();
                }
                EXPECT_EQ(value.re, RunFrom(source, p, runs).re) << text; // the values keep their bits
                const Complex dx = derived.GetVariable(tangent.dzx);
                const Complex dy = tangent.dzy >= 0 ? derived.GetVariable(tangent.dzy) : TimesI(dx);
                const auto quotient = [&](Complex h) {
                    const Complex up = RunFrom(source, Add(p, h), runs);
                    const Complex down = RunFrom(source, Sub(p, h), runs);
                    return Complex { (up.re - down.re) / (2 * kStep), (up.im - down.im) / (2 * kStep) };
                };
                const Complex qx = quotient({ kStep, 0 });
                const Complex qy = quotient({ 0, kStep });
                const double scale = 1 + std::hypot(qx.re, qx.im) + std::hypot(qy.re, qy.im);
                EXPECT_LT(Distance(dx, qx), 1e-5 * scale)
                    << text << " at " << p.re << "," << p.im << " runs " << runs;
                EXPECT_LT(Distance(dy, qy), 1e-5 * scale)
                    << text << " at " << p.re << "," << p.im << " runs " << runs;
            }
        }
    }
}

TEST(Tangent, ImaginaryAxisOnlyWhereNeeded)
{
    struct Row {
        const char* text;
        bool ownDzy;
    };
    const Row rows[]
        = { { "z = z * z + C", false }, { "z = conj(z) + C", true }, { "z = z + (norm(z) > 4)", false },
              { "V_a = abs(C); z = z * V_a", false }, { "V_t = abs(z); z = z^2 + C", false } };
    for (const Row& row : rows) {
        const CFormula source = Compiled(row.text);
        TangentFormula tangent;
        ASSERT_TRUE(DifferentiateFormula(source, Seeds(source), tangent)) << row.text;
        EXPECT_EQ(tangent.dzy >= 0, row.ownDzy) << row.text;
    }
}

// The batch evaluator runs the derived program to the interpreter's bits.
TEST(Tangent, BatchEvaluatorGivesTheSameBits)
{
    for (const char* text : { "z = z * z + C", "z = z^2.5 + sin(z) / z0", "z = conj(z)^2 + abs(z) * C" }) {
        const CFormula source = Compiled(text);
        TangentFormula tangent;
        ASSERT_TRUE(DifferentiateFormula(source, Seeds(source), tangent));
        CBatchFormula batch(tangent.formula);
        const int z = source.FindVariable("z");
        const int z0 = source.FindVariable("z0");
        std::vector<CFormula> scalar(kLanes, tangent.formula);
        for (int lane = 0; lane < kLanes; ++lane) {
            batch.ResetLane(lane);
            const Complex p { -1.0 + lane / 32.0, 0.3 - lane / 64.0 };
            for (const int v : { z, z0 }) {
                if (batch.Slot(v) >= 0) {
                    batch.Set(batch.Slot(v), lane, p);
                }
                scalar[lane].SetVariable(v, p);
            }
        }
        for (int run = 0; run < 4; ++run) {
            batch.Run();
            for (CFormula& f : scalar) {
                f.Run();
            }
        }
        for (int lane = 0; lane < kLanes; ++lane) {
            for (const int v : { tangent.dzx, tangent.dzy }) {
                if (v >= 0) {
                    const Complex want = scalar[lane].GetVariable(v);
                    const Complex got = batch.Get(batch.Slot(v), lane);
                    EXPECT_TRUE(std::memcmp(&want, &got, sizeof want) == 0) << text << " lane " << lane;
                }
            }
        }
    }
}

TEST(Tangent, RefusesWhatDoesNotFit)
{
    std::string text = "z = z";
    for (int k = 0; k < 300; ++k) {
        text += " * z";
    }
    const CFormula source = Compiled(text);
    TangentFormula tangent;
    EXPECT_FALSE(DifferentiateFormula(source, Seeds(source), tangent));
}

TEST(Tangent, ReadsBeforeAssigning)
{
    struct Row {
        const char* text;
        bool reads;
    };
    const Row rows[] = { { "V_dz", true }, { "V_dz = 2; V_dz", false }, { "z = V_dz * 2; V_dz = 1", true },
        { "V_dz = -V_dz", true }, { "z", false } };
    for (const Row& row : rows) {
        const CFormula f = Compiled(row.text);
        EXPECT_EQ(ReadsBeforeAssigning(f, f.FindVariable("V_dz")), row.reads) << row.text;
    }
}

TEST(Tangent, DistanceAndDirection)
{
    // z = 10, dz = 2i: |z| ln|z| / |dz| = 5 ln 10, in pixels of 0.5; z / dz = -5i.
    const DerivativeView view = ViewDerivative({ 10, 0 }, { 0, 2 }, { -2, 0 }, 0.5);
    EXPECT_NEAR(view.de, 10 * std::log(10.0), 1e-12);
    EXPECT_NEAR(view.dir.re, 0, 1e-15);
    EXPECT_NEAR(view.dir.im, -1, 1e-15);
    // An overflowed derivative: the estimate is 0, not NaN.
    EXPECT_EQ(ViewDerivative({ 1e3, 0 }, { INFINITY, 0 }, {}, 1).de, 0.0);
}

} // namespace
