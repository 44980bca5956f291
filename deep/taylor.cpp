#include "series.h"

#include "smoothness.h"

#include "opcodes.h"

// The Taylor coefficients of the functions the skip composes with its models.

namespace {

constexpr double kLog10E = 0.4342944819032518;

// The Taylor coefficients of f at A: g[m] = f^(m+1)(A) / (m+1)!.
double Factorial(int m)
{
    double f = 1.0;
    for (int i = 2; i <= m; ++i) {
        f *= i;
    }
    return f;
}

// Of t(x) = f(A + x) for t' = 1 + sign t^2 (tan: +1, tanh: -1), t(0) = R.
std::array<Complex, kSkipTerms> TangentCoefficients(Complex R, double sign)
{
    std::array<Complex, kSkipTerms + 1> t {};
    t[0] = R;
    for (int k = 0; k < kSkipTerms; ++k) {
        Complex sum = k == 0 ? Complex { 1.0, 0.0 } : Complex {};
        Complex square {};
        for (int i = 0; i <= k; ++i) {
            square = Add(square, Mul(t[i], t[k - i]));
        }
        sum = Add(sum, Complex { sign * square.re, sign * square.im });
        t[k + 1] = { sum.re / (k + 1), sum.im / (k + 1) };
    }
    std::array<Complex, kSkipTerms> g;
    for (int m = 0; m < kSkipTerms; ++m) {
        g[m] = t[m + 1];
    }
    return g;
}

// (A + s)^B - A^B = R sum binom(B, m + 1) (s / A)^(m + 1).
std::array<Complex, kSkipTerms> BinomialCoefficients(Complex A, Complex R, Complex exponent)
{
    std::array<Complex, kSkipTerms> g;
    const Complex overA = Div({ 1.0, 0.0 }, A);
    Complex binomial { 1.0, 0.0 };
    Complex power { 1.0, 0.0 };
    for (int m = 0; m < kSkipTerms; ++m) {
        binomial = Mul(binomial, Complex { (exponent.re - m) / (m + 1), exponent.im / (m + 1) });
        power = Mul(power, overA);
        g[m] = Mul(Mul(R, binomial), power);
    }
    return g;
}

std::array<Complex, kSkipTerms> PeriodicCoefficients(int opcode, Complex A, Complex R)
{
    // The derivatives cycle through the function and its partner.
    const bool trig = opcode == kOpSin || opcode == kOpCos;
    const Complex partner = opcode == kOpSin ? Cos(A)
        : opcode == kOpCos                   ? Sin(A)
        : opcode == kOpSinh                  ? Cosh(A)
                                             : Sinh(A);
    std::array<Complex, kSkipTerms> g;
    for (int m = 0; m < kSkipTerms; ++m) {
        const int order = m + 1;
        const Complex d = order % 2 == 1 ? partner : R;
        double sign = 1.0;
        if (trig) {
            // sin: cos, -sin, -cos, sin; cos: -sin, -cos, sin, cos.
            const int phase = order % 4;
            sign = opcode == kOpSin ? ((phase == 2 || phase == 3) ? -1.0 : 1.0)
                                    : ((phase == 1 || phase == 2) ? -1.0 : 1.0);
        }
        const double f = sign / Factorial(order);
        g[m] = { d.re * f, d.im * f };
    }
    return g;
}

} // namespace

std::array<Complex, kSkipTerms> TaylorOf(const Operation& op)
{
    std::array<Complex, kSkipTerms> g {};
    if (op.opcode == kBatchOpPowWhole) {
        return BinomialCoefficients(op.A, op.R, { static_cast<double>(op.exponent), 0.0 });
    }
    switch (static_cast<Op>(op.opcode)) {
    case kOpExp:
        for (int m = 0; m < kSkipTerms; ++m) {
            g[m] = { op.R.re / Factorial(m + 1), op.R.im / Factorial(m + 1) };
        }
        return g;
    case kOpLog:
    case kOpLog10: {
        // log(A + s) - log A = sum (-1)^m (s / A)^(m+1) / (m + 1).
        const double k = op.opcode == kOpLog ? 1.0 : kLog10E;
        const Complex overA = Div({ 1.0, 0.0 }, op.A);
        Complex power { 1.0, 0.0 };
        for (int m = 0; m < kSkipTerms; ++m) {
            power = Mul(power, overA);
            const double f = (m % 2 == 0 ? k : -k) / (m + 1);
            g[m] = { power.re * f, power.im * f };
        }
        return g;
    }
    case kOpSqrt: return BinomialCoefficients(op.A, op.R, { 0.5, 0.0 });
    case kOpPow: return BinomialCoefficients(op.A, op.R, op.B);
    case kOpTan: return TangentCoefficients(op.R, 1.0);
    case kOpTanh: return TangentCoefficients(op.R, -1.0);
    case kOpSin:
    case kOpCos:
    case kOpSinh:
    case kOpCosh: return PeriodicCoefficients(op.opcode, op.A, op.R);
    case kOpNeg:
    case kOpAdd:
    case kOpSub:
    case kOpMul:
    case kOpDiv:
    case kOpCopy:
    case kOpEq:
    case kOpLt:
    case kOpLe:
    case kOpGt:
    case kOpGe:
    case kOpNe:
    case kOpImag:
    case kOpOpen:
    case kOpClose:
    case kOpAbs:
    case kOpArg:
    case kOpConj:
    case kOpReal:
    case kOpImagFn:
    case kOpNorm:
    case kOpEnd:
    case kOpCount: break; // not functions with a series (the skip stops before them)
    }
    return g;
}
