#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

// The one value type of the formula language: every variable, constant, literal and temporary.
// Infinities and NaNs are legal values and propagate.
struct Complex {
    double re { 0.0 };
    double im { 0.0 };
};

// The quiet NaN 0x7FF8000000000000 that the language gives for undefined results (division by zero,
// log of NaN). Written out, because the hardware's own NaN from 0 / 0 has its sign bit set.
inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
inline constexpr Complex kNaNResult { kNaN, kNaN };

// Arithmetic that the evaluator inlines: each is one line of the run loop's switch.
inline Complex Negate(Complex a) { return { -a.re, -a.im }; }
inline Complex Add(Complex a, Complex b) { return { a.re + b.re, a.im + b.im }; }
inline Complex Sub(Complex a, Complex b) { return { a.re - b.re, a.im - b.im }; }

// The plain product, with no special treatment of infinities or NaNs.
inline Complex Mul(Complex a, Complex b) { return { a.re * b.re - a.im * b.im, a.im * b.re + a.re * b.im }; }

// The imaginary suffix exchanges the parts: 3 becomes 3i, but 1 + 2i becomes 2 + 1i.
inline Complex SwapParts(Complex a) { return { a.im, a.re }; }

// Smith's division, scaled so that no intermediate overflows; a zero or NaN divisor gives NaN.
inline Complex Div(Complex a, Complex b)
{
    if (std::isnan(b.re) || std::isnan(b.im)) {
        return kNaNResult;
    }
    if (std::fabs(b.im) < std::fabs(b.re)) {
        const double r = b.im / b.re;
        const double dv = b.re + r * b.im;
        if (std::isnan(dv) || dv == 0.0) {
            return kNaNResult;
        }
        return { (a.re + a.im * r) / dv, (a.im - a.re * r) / dv };
    }
    if (b.im == 0.0) {
        return kNaNResult;
    }
    const double r = b.re / b.im;
    const double dv = b.im + r * b.re;
    if (std::isnan(dv) || dv == 0.0) {
        return kNaNResult;
    }
    return { (a.re * r + a.im) / dv, (a.im * r - a.re) / dv };
}

inline double Truth(bool b) { return b ? 1.0 : 0.0; }

// "==" and "!=" compare both parts at once; the ordered comparisons answer per part.
inline Complex Equal(Complex a, Complex b) { return { Truth(a.re == b.re && a.im == b.im), 0.0 }; }
inline Complex NotEqual(Complex a, Complex b) { return { Truth(a.re != b.re || a.im != b.im), 0.0 }; }
inline Complex Less(Complex a, Complex b) { return { Truth(a.re < b.re), Truth(a.im < b.im) }; }
inline Complex LessEqual(Complex a, Complex b) { return { Truth(a.re <= b.re), Truth(a.im <= b.im) }; }
inline Complex Greater(Complex a, Complex b) { return { Truth(a.re > b.re), Truth(a.im > b.im) }; }
inline Complex GreaterEqual(Complex a, Complex b) { return { Truth(a.re >= b.re), Truth(a.im >= b.im) }; }

inline Complex Conj(Complex a) { return { a.re, -a.im }; }
inline Complex RealPart(Complex a) { return { a.re, 0.0 }; }
inline Complex ImagPart(Complex a) { return { a.im, 0.0 }; }
inline Complex Norm(Complex a) { return { a.re * a.re + a.im * a.im, 0.0 }; }

// The transcendental functions and the power live in complex.cpp: they cost far more than a call.
// All are the program's own (elementary.h), never the C library's: the same bits on every machine.
Complex Abs(Complex a);
Complex Arg(Complex a);
Complex Exp(Complex a);
Complex Log(Complex a);
Complex Log10(Complex a);
Complex Sqrt(Complex a);
Complex Sin(Complex a);
Complex Cos(Complex a);
Complex Tan(Complex a);
Complex Sinh(Complex a);
Complex Cosh(Complex a);
Complex Tanh(Complex a);
Complex Pow(Complex a, Complex b);

// The whole-number exponent of the power's integer path, saturated to the largest 32-bit value of
// the same parity, so that 0.5 ^ 1e10 is 0 and (0 - 1) ^ 1e10 is 1 (an infinity counts as even).
int32_t SaturateExponent(double x);

// The modulus split as scaled * 2^exponent, with scaled in a range where nothing overflows.
// Abs, Log and Sqrt share it so that their special values agree.
struct ScaledModulus {
    double scaled { 0.0 };
    int exponent { 0 };
};
ScaledModulus ScaledAbs(Complex a);

// The same elementary functions for real arguments, for the layers above that decide pixels with
// them (the deep path): never the C library's. Pow's x is meant to be >= 0 (C's rules there).
namespace realfn {
double Exp(double x);
double Expm1(double x);
double Log(double x);
double Log1p(double x);
double Sin(double x);
double Cos(double x);
double Cosh(double x);
double Atan2(double y, double x);
double Hypot(double x, double y);
double Pow(double x, double y);
} // namespace realfn
