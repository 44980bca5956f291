#include "oracle.h"
#include "precise.h"

#include "opcodes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr mpfr_prec_t kBits = 256;
constexpr double kInf = std::numeric_limits<double>::infinity();

// What the double evaluator computes for dest = a OP b (the whole exponent n for kBatchOpPowWhole).
Complex DoubleOp(int op, Complex a, Complex b, int n)
{
    switch (op) {
    case kOpNeg: return Negate(a);
    case kOpAdd: return Add(a, b);
    case kOpSub: return Sub(a, b);
    case kOpMul: return Mul(a, b);
    case kOpDiv: return Div(a, b);
    case kOpCopy: return b;
    case kOpEq: return Equal(a, b);
    case kOpLt: return Less(a, b);
    case kOpLe: return LessEqual(a, b);
    case kOpGt: return Greater(a, b);
    case kOpGe: return GreaterEqual(a, b);
    case kOpNe: return NotEqual(a, b);
    case kOpPow: return Pow(a, b);
    case kOpImag: return SwapParts(a);
    case kOpAbs: return Abs(a);
    case kOpArg: return Arg(a);
    case kOpConj: return Conj(a);
    case kOpReal: return RealPart(a);
    case kOpImagFn: return ImagPart(a);
    case kOpNorm: return Norm(a);
    case kOpExp: return Exp(a);
    case kOpLog: return Log(a);
    case kOpLog10: return Log10(a);
    case kOpSqrt: return Sqrt(a);
    case kOpSin: return Sin(a);
    case kOpCos: return Cos(a);
    case kOpTan: return Tan(a);
    case kOpSinh: return Sinh(a);
    case kOpCosh: return Cosh(a);
    case kOpTanh: return Tanh(a);
    case kBatchOpPowWhole: return Pow(a, { static_cast<double>(n), 0.0 });
    default: return a;
    }
}

// Operations whose double result is the exact result rounded once: the precise one must give its bits.
bool Exact(int op)
{
    static constexpr int kExact[] = { kOpNeg, kOpAdd, kOpSub, kOpCopy, kOpEq, kOpLt, kOpLe, kOpGt, kOpGe,
        kOpNe, kOpImag, kOpConj, kOpReal, kOpImagFn };
    return std::find(std::begin(kExact), std::end(kExact), op) != std::end(kExact);
}

std::string Name(int op) { return std::string(kOpSpellings[op]); }

std::string Text(Complex z)
{
    char text[64];
    std::snprintf(text, sizeof text, "(%.17g, %.17g)", z.re, z.im);
    return text;
}

bool SameBits(double x, double y)
{
    return (std::isnan(x) && std::isnan(y)) || std::memcmp(&x, &y, sizeof x) == 0;
}

// The precise result rounded to doubles against the double one: the same bits for the exact
// operations; for the others the same NaN and infinite parts and finite parts within a few ulps of
// the result's size.
void ExpectAgrees(int op, Complex got, Complex want, const std::string& what)
{
    if (Exact(op)) {
        EXPECT_TRUE(SameBits(got.re, want.re) && SameBits(got.im, want.im))
            << what << " gives " << Text(got) << ", doubles " << Text(want);
        return;
    }
    double scale = 0.0;
    for (const double part : { want.re, want.im }) {
        if (std::isfinite(part)) {
            scale = std::max(scale, std::fabs(part));
        }
    }
    for (const auto& [g, w] : { std::pair { got.re, want.re }, std::pair { got.im, want.im } }) {
        if (!std::isfinite(w)) {
            EXPECT_TRUE(SameBits(g, w)) << what << " gives " << Text(got) << ", doubles " << Text(want);
        } else {
            EXPECT_LE(std::fabs(g - w), 1e-14 * scale)
                << what << " gives " << Text(got) << ", doubles " << Text(want);
        }
    }
}

Complex Precise(int op, Complex a, Complex b, int n = 0)
{
    BigComplex dest(a, kBits);
    PreciseOperation(op, dest, BigComplex(b, kBits), n);
    return dest.ToComplex();
}

const std::vector<Complex> kOperands = { { 0.0, 0.0 }, { -0.0, -0.0 }, { 1.0, 0.0 }, { -1.0, 0.0 },
    { -1.0, -0.0 }, { 0.0, 1.0 }, { 2.0, -3.0 }, { -0.75, 0.5 }, { 0.3, 1e-5 }, { -4.0, -1e-300 },
    { kInf, 0.0 }, { 1.0, -kInf }, { kNaN, 1.0 }, { 0.0, kNaN } };

TEST(BigComplex, RoundsToTheNearestDoubles)
{
    struct Row {
        const char* text;
        double want;
    };
    const Row rows[] = { { "1e400", kInf }, { "-1e400", -kInf }, { "-1e-400", -0.0 }, { "1e-320", 1e-320 },
        { "2.4e-324", 0.0 }, { "-2.5e-324", -4.9406564584124654e-324 }, { "0.1", 0.1 } };
    for (const Row& row : rows) {
        bool ok = false;
        const BigFloat part = BigFloat::Parse(row.text, 4000, &ok);
        const Complex z = BigComplex(part, part).ToComplex();
        EXPECT_TRUE(SameBits(z.re, row.want) && SameBits(z.im, row.want)) << row.text << ": " << Text(z);
    }
    BigComplex nan(kBits);
    mpfr_set_nan(nan.Re());
    mpfr_neg(nan.Re(), nan.Re(), MPFR_RNDN);
    const double re = nan.ToComplex().re;
    EXPECT_EQ(std::memcmp(&re, &kNaN, sizeof re), 0) << "the language's NaN has no sign";
    // A precision MPFR cannot take becomes the nearest it can.
    EXPECT_EQ(BigComplex(mpfr_prec_t { 0 }).Precision(), MPFR_PREC_MIN);
    EXPECT_EQ(BigComplex({ 1, 2 }, kMaxPreciseBits * 2).Precision(), kMaxPreciseBits);
}

TEST(PreciseOperation, BinaryOperatorsAgreeWithDoubles)
{
    const std::vector<Complex> exponents = { { 0.5, 0.0 }, { -2.5, 0.0 }, { 2.0, 0.0 }, { -1.0, 0.0 },
        { 10.0, 0.0 }, { 0.0, 1.0 }, { 1.5, -0.5 }, { 3.0, kNaN } };
    for (int op = kOpAdd; op <= kOpPow; ++op) {
        std::vector<Complex> rights = kOperands;
        if (op == kOpPow) {
            rights.insert(rights.end(), exponents.begin(), exponents.end());
        }
        for (const Complex a : kOperands) {
            for (const Complex b : rights) {
                if (op == kOpPow && std::isinf(b.re)) {
                    continue; // a saturated exponent overflows differently where the exponent range is wider
                }
                ExpectAgrees(op, Precise(op, a, b), DoubleOp(op, a, b, 0),
                    Name(op) + " of " + Text(a) + " and " + Text(b));
            }
        }
    }
}

TEST(PreciseOperation, UnaryCodesAgreeWithDoubles)
{
    std::vector<Complex> operands = kOperands;
    operands.insert(operands.end(),
        { { 3.0, 4.0 }, { 1e300, 1e300 }, { -800.0, 2.0 }, { 0.5, 700.0 }, { 1e300, -2.0 },
            { -0.25, -400.0 } });
    std::vector<int> codes = { kOpNeg, kOpImag };
    for (int op = kFirstFunction; op <= kLastFunction; ++op) {
        codes.push_back(op);
    }
    for (const int op : codes) {
        for (const Complex a : operands) {
            ExpectAgrees(op, Precise(op, a, {}), DoubleOp(op, a, {}, 0), Name(op) + Text(a));
        }
    }
    for (const int n : { 0, 1, 2, 3, 7, 10, -1, -2, -5 }) {
        for (const Complex a : kOperands) {
            ExpectAgrees(kBatchOpPowWhole, Precise(kBatchOpPowWhole, a, {}, n),
                DoubleOp(kBatchOpPowWhole, a, {}, n), Text(a) + " ^ " + std::to_string(n));
        }
    }
}

// The language's own special values (saturated exponents beyond the table above), and the operand
// that is the destination itself.
TEST(PreciseOperation, SpecialValuesAndAliasing)
{
    struct Row {
        int op;
        Complex a, b, want;
    };
    const Row rows[] = {
        { kOpDiv, { 1, 0 }, { 0, 0 }, kNaNResult },
        { kOpDiv, { 0, 0 }, { 0, 0 }, kNaNResult },
        { kOpDiv, { 1, 1 }, { 0, kNaN }, kNaNResult },
        { kOpPow, { 0, 0 }, { 0, 0 }, { 1, 0 } },
        { kOpPow, { kNaN, 0 }, { 0, 0 }, { 1, 0 } },
        { kOpPow, { 0, 0 }, { -1, 0 }, kNaNResult },
        { kOpPow, { 0, 0 }, { 2.5, 0 }, { 0, 0 } },
        { kOpPow, { 0.5, 0 }, { 1e10, 0 }, { 0, 0 } },
        { kOpPow, { -1, 0 }, { 1e10, 0 }, { 1, 0 } },
        { kOpPow, { -1, 0 }, { 3000000001.0, 0 }, { -1, 0 } },
        { kOpPow, { -1, 0 }, { kInf, 0 }, { 1, 0 } },
        { kOpPow, { -1, 0 }, { -2147483648.0, 0 }, { 1, 0 } },
        { kOpPow, { 0, 1 }, { -2147483647.0, 0 }, { 0, 1 } },
        { kOpPow, { -1, 0 }, { 0.5, 0 }, { 6.123233995736766e-17, 1 } },
        { kOpPow, { 0, 1 }, { 0, 1 }, { 0.20787957635076193, 0 } },
        { kOpSqrt, { -4, -1e-300 }, {}, { 2.5e-301, -2 } },
        { kOpArg, { -1, -0.0 }, {}, { -3.141592653589793, 0 } },
        { kOpLog, { 0, 0 }, {}, { -kInf, 0 } },
        { kOpLt, { kNaN, 1 }, { 2, 3 }, { 0, 1 } },
        { kOpEq, { kNaN, 0 }, { kNaN, 0 }, { 0, 0 } },
        { kOpNe, { kNaN, 0 }, { kNaN, 0 }, { 1, 0 } },
    };
    for (const Row& row : rows) {
        const Complex got = Precise(row.op, row.a, row.b);
        const std::string what = Name(row.op) + " " + Text(row.a) + " " + Text(row.b);
        for (const auto& [g, w] : { std::pair { got.re, row.want.re }, std::pair { got.im, row.want.im } }) {
            if (std::isfinite(w)) {
                EXPECT_NEAR(g, w, 1e-15 * std::max(1.0, std::fabs(w))) << what << " gives " << Text(got);
            } else {
                EXPECT_TRUE(SameBits(g, w)) << what << " gives " << Text(got);
            }
        }
    }
    // dest OP dest reads the operand before it writes it.
    const Complex z { 0.75, -1.25 };
    for (const int op : { kOpSub, kOpMul, kOpDiv, kOpPow, kOpEq }) {
        BigComplex d(z, kBits);
        PreciseOperation(op, d, d, 0);
        ExpectAgrees(op, d.ToComplex(), DoubleOp(op, z, z, 0), "aliased " + Name(op));
    }
}

// (f(A + h) - f(A)) / h at 4000 bits with h = 1e-1000 is f'(A) to every digit a double has: each
// function keeps the full precision, far below what a double holds.
TEST(PreciseOperation, KeepsDigitsFarBelowADouble)
{
    struct Row {
        int op;
        Complex source;
        Complex (*derivative)(Complex a);
    };
    const Row rows[] = {
        { kOpMul, { 0.3, -0.2 },
            [](Complex) {
                return Complex { 0.3, -0.2 };
            } },
        { kOpExp, {}, [](Complex a) { return Exp(a); } },
        { kOpLog, {},
            [](Complex a) {
                return Div({ 1, 0 }, a);
            } },
        { kOpLog10, {},
            [](Complex a) {
                return Div({ 0.4342944819032518, 0 }, a);
            } },
        { kOpSqrt, {},
            [](Complex a) {
                return Div({ 0.5, 0 }, Sqrt(a));
            } },
        { kOpSin, {}, [](Complex a) { return Cos(a); } },
        { kOpCos, {}, [](Complex a) { return Negate(Sin(a)); } },
        { kOpTan, {},
            [](Complex a) {
                return Div({ 1, 0 }, Mul(Cos(a), Cos(a)));
            } },
        { kOpSinh, {}, [](Complex a) { return Cosh(a); } },
        { kOpCosh, {}, [](Complex a) { return Sinh(a); } },
        { kOpTanh, {},
            [](Complex a) {
                return Div({ 1, 0 }, Mul(Cosh(a), Cosh(a)));
            } },
        { kOpPow, { 2.5, 0 },
            [](Complex a) {
                return Mul({ 2.5, 0 }, Pow(a, { 1.5, 0 }));
            } },
        { kOpPow, { 1, 1 },
            [](Complex a) {
                return Mul({ 1, 1 }, Pow(a, { 0, 1 }));
            } },
        { kOpDiv, { -0.5, 2 },
            [](Complex) {
                return Div({ 1, 0 }, { -0.5, 2 });
            } },
    };
    const mpfr_prec_t bits = 4000;
    bool ok = false;
    const BigFloat h = BigFloat::Parse("1e-1000", bits, &ok);
    ASSERT_TRUE(ok);
    for (const Complex a : { Complex { 0.7, -0.4 }, Complex { -1.3, 0.9 } }) {
        for (const Row& row : rows) {
            const BigComplex source(row.source, bits);
            BigComplex base(a, bits);
            BigComplex moved(a, bits);
            mpfr_add(moved.Re(), moved.Re(), h.get(), MPFR_RNDN);
            PreciseOperation(row.op, base, source);
            PreciseOperation(row.op, moved, source);
            PreciseOperation(kOpSub, moved, base);
            PreciseOperation(kOpDiv, moved, BigComplex(h, BigFloat(bits)));
            ExpectAgrees(
                kOpPow, moved.ToComplex(), row.derivative(a), "slope of " + Name(row.op) + " at " + Text(a));
        }
    }
}

CFormula Compiled(const char* text, Complex c = {})
{
    CFormula formula;
    std::string error;
    EXPECT_EQ(formula.Compile(text, error), 0) << text << ": " << error;
    formula.SetConstant(formula.FindConstant("C"), c);
    return formula;
}

// Orbits that settle on an attracting cycle, so rounding cannot grow: the precise program, rounded,
// follows the double evaluator to 1e-12 for 50 iterations.
TEST(CPreciseProgram, FollowsTheDoubleEvaluator)
{
    struct Row {
        const char* text;
        Complex c, start;
    };
    const Row rows[] = {
        { "z = z * z + C;", { -0.2, 0.3 }, { 0.1, 0.1 } },
        { "z = C * sin(z);", { 1.5, 0.2 }, { 1.0, 0.5 } },
        { "z = z ^ 1.5 + C;", { 0.1, 0.0 }, { 0.3, 0.1 } },
        { "V = z ^ 3; z = V + C + 0 * V / (z - 5);", { -0.1, 0.1 }, { 0.2, -0.3 } },
    };
    for (const Row& row : rows) {
        CFormula formula = Compiled(row.text, row.c);
        const CBatchFormula batch(formula);
        CPreciseProgram precise(batch, kBits);
        const int z = formula.FindVariable("z");
        ASSERT_GE(batch.Slot(z), 0);
        formula.SetVariable(z, row.start);
        precise.Slot(batch.Slot(z)).Set(row.start);
        for (int n = 0; n < 50; ++n) {
            const Complex want = formula.Run();
            precise.Run();
            const Complex got = precise.Slot(precise.ResultSlot()).ToComplex();
            const double size = std::hypot(want.re, want.im);
            ASSERT_LE(std::hypot(got.re - want.re, got.im - want.im), 1e-12 * size)
                << row.text << " run " << n << ": " << Text(got) << ", doubles " << Text(want);
        }
    }
}

// The renderer's pixel in doubles (the scalar renderer's loop), for the oracle to agree with.
int DoublePixel(CFormula& iter, CFormula& term, Complex p, int maxIter)
{
    const std::vector<Complex> iterStart(iter.GetSlots(), iter.GetSlots() + iter.GetVariableCount());
    const std::vector<Complex> termStart(term.GetSlots(), term.GetSlots() + term.GetVariableCount());
    iter.SetVariable(iter.FindVariable("z"), p);
    iter.SetVariable(iter.FindVariable("z0"), p);
    term.SetVariable(term.FindVariable("z0"), p);
    term.SetVariable(term.FindVariable("V_iter_max"), { static_cast<double>(maxIter), 0.0 });
    int n = 0;
    for (;;) {
        term.SetVariable(term.FindVariable("z"), iter.Run());
        term.SetVariable(term.FindVariable("V_iter_n"), { static_cast<double>(n), 0.0 });
        if (term.Run().re > 0.0 || ++n >= maxIter) {
            break;
        }
    }
    iter.ResetVariables(iterStart.data());
    term.ResetVariables(termStart.data());
    return n;
}

TEST(PreciseIterate, CountsAsTheDoubleRenderer)
{
    struct Row {
        const char* iter;
        const char* term;
        int maxIter;
    };
    const Row rows[] = {
        { "z = z * z + z0;", "norm(z) > 4;", 64 },
        { "z = z * z + C;", "norm(z) > 100;", 40 },
        { "z = z * z + z0;", "V_iter_n > 6;", 20 },
        { "z = z * z + z0;", "(real(z0) > 0) + (V_iter_n >= V_iter_max - 3);", 12 },
        // Variables carried from run to run start again at every pixel, in both formulas.
        { "V = V + 0.01; z = z * z + z0 + V;", "V = V + 1; (norm(z) > 4) + (V > 9);", 30 },
    };
    for (const Row& row : rows) {
        CFormula iter = Compiled(row.iter, { -0.78, -0.15 });
        CFormula term = Compiled(row.term);
        CFormula termOfDoubles = term; // its own copy: a variable left over must not reach the other
        const CBatchFormula batch(iter);
        const CBatchFormula termBatch(term);
        CPreciseProgram precise(batch, kBits);
        CPreciseProgram preciseTerm(termBatch, kBits);
        const OracleBindings bindings = BindOracle(iter, batch, term, termBatch);
        for (int j = 0; j < 16; ++j) {
            for (int i = 0; i < 16; ++i) {
                const Complex p { -2.0 + (i + 0.5) * 2.5 / 16, -1.25 + (j + 0.5) * 2.5 / 16 };
                const int want = DoublePixel(iter, termOfDoubles, p, row.maxIter);
                const OraclePixel got
                    = PreciseIterate(precise, preciseTerm, bindings, BigComplex(p, kBits), row.maxIter);
                ASSERT_EQ(got.count, want) << row.iter << " / " << row.term << " at " << Text(p);
            }
        }
    }
}

} // namespace

// The arbitrary-precision path asks for cancel every few hundred runs and ends there: a pixel that
// never escapes at a limit of a billion does not hold a render that is asked to stop.
TEST(PreciseIterate, EndsWhenCancelled)
{
    const CFormula iter = Compiled("z = z * z + C;", { -0.5, 0.0 });
    const CFormula term = Compiled("norm(z) > 100;");
    const CBatchFormula batch(iter);
    const CBatchFormula termBatch(term);
    CPreciseProgram precise(batch, 1200);
    CPreciseProgram preciseTerm(termBatch, 1200);
    const OracleBindings bindings = BindOracle(iter, batch, term, termBatch);
    int asked = 0;
    const OraclePixel pixel = PreciseIterate(precise, preciseTerm, bindings,
        BigComplex(Complex { 0.1, 0.0 }, 1200), 1000000000, [&asked] { return ++asked == 3; });
    EXPECT_TRUE(pixel.cancelled);
    EXPECT_EQ(asked, 3);
    EXPECT_LT(pixel.count, 1000);
}
