#pragma once

// The arithmetic the delta forms are written in, over doubles (Complex) and over ExComplex (a wide
// exponent for offsets below the doubles' range), so that one form serves both.

#include "complex.h"
#include "floatexp.h"

#include <cmath>

template <class N> struct Arith;

template <> struct Arith<Complex> {
    static Complex From(Complex c) { return c; }
    static Complex ToC(Complex c) { return c; }
    static Complex Add(Complex a, Complex b) { return ::Add(a, b); }
    static Complex Sub(Complex a, Complex b) { return ::Sub(a, b); }
    static Complex Mul(Complex a, Complex b) { return ::Mul(a, b); }
    static Complex Div(Complex a, Complex b) { return ::Div(a, b); }
    static Complex Neg(Complex a) { return Negate(a); }
    static Complex Conj(Complex a) { return ::Conj(a); }
    static Complex Swap(Complex a) { return SwapParts(a); }
    static Complex Re(Complex a) { return { a.re, 0.0 }; }
    static Complex Im(Complex a) { return { a.im, 0.0 }; }
    static Complex Scale(Complex a, double k) { return { a.re * k, a.im * k }; }
    static bool IsZero(Complex a) { return a.re == 0.0 && a.im == 0.0; }
    // Below 2^-60 the first term of every series is the value to double precision.
    static bool Tiny(Complex a) { return std::fmax(std::fabs(a.re), std::fabs(a.im)) < 0x1p-60; }
    static double SignRe(Complex a) { return a.re; }
    static double SignIm(Complex a) { return a.im; }
    static Complex Norm(Complex a) { return { a.re * a.re + a.im * a.im, 0.0 }; }
    static Complex Abs(Complex a) { return { realfn::Hypot(a.re, a.im), 0.0 }; }
};

template <> struct Arith<ExComplex> {
    static ExComplex From(Complex c) { return ex::From(c); }
    static Complex ToC(const ExComplex& c) { return ex::ToComplex(c); }
    static ExComplex Add(const ExComplex& a, const ExComplex& b) { return ex::Add(a, b); }
    static ExComplex Sub(const ExComplex& a, const ExComplex& b) { return ex::Sub(a, b); }
    static ExComplex Mul(const ExComplex& a, const ExComplex& b) { return ex::Mul(a, b); }
    static ExComplex Div(const ExComplex& a, const ExComplex& b) { return ex::Div(a, b); }
    static ExComplex Neg(const ExComplex& a) { return ex::Neg(a); }
    static ExComplex Conj(const ExComplex& a) { return ex::Conj(a); }
    static ExComplex Swap(const ExComplex& a) { return ex::Swap(a); }
    static ExComplex Re(const ExComplex& a) { return ex::RealOf(a); }
    static ExComplex Im(const ExComplex& a) { return ex::ImagOf(a); }
    static ExComplex Scale(const ExComplex& a, double k) { return ex::Scale(a, k); }
    static bool IsZero(const ExComplex& a) { return ex::IsZero(a); }
    static bool Tiny(const ExComplex& a) { return ex::Below(a, 60); }
    static double SignRe(const ExComplex& a) { return a.re; }
    static double SignIm(const ExComplex& a) { return a.im; }
    static ExComplex Norm(const ExComplex& a) { return ex::Norm(a); }
    static ExComplex Abs(const ExComplex& a) { return ex::Abs(a); }
};

// Taylor series for real arguments of at most 1 in size, with terms down to 2^-56 of the value there:
// a few dozen products and sums in place of an exponential and three sines. They are inline and free
// of branches so that the lane loops run the same operations in vectors and agree bit for bit.
namespace nearzero {

// 1 / n!, rounded once: n! itself is exact in a double up to 22!.
constexpr double InverseFactorial(int n)
{
    double f = 1.0;
    for (int k = 2; k <= n; ++k) {
        f *= k;
    }
    return 1.0 / f;
}

// exp(x) - 1 to x^18 / 18!.
inline double Expm1(double x)
{
    double p = InverseFactorial(18);
#pragma GCC unroll 17
    for (int n = 17; n >= 1; --n) {
        p = p * x + InverseFactorial(n);
    }
    return p * x;
}

// sin y to y^17 / 17!, y2 = y y.
inline double Sin(double y, double y2)
{
    double p = InverseFactorial(17);
#pragma GCC unroll 7
    for (int n = 15; n >= 3; n -= 2) {
        p = p * y2 + ((n & 2) ? -InverseFactorial(n) : InverseFactorial(n));
    }
    return y + (y * y2) * p;
}

// cos y - 1 to y^18 / 18!, from y2 = y y.
inline double Cosm1(double y2)
{
    double p = -InverseFactorial(18);
#pragma GCC unroll 8
    for (int n = 16; n >= 2; n -= 2) {
        p = p * y2 + ((n & 2) ? -InverseFactorial(n) : InverseFactorial(n));
    }
    return y2 * p;
}

// exp(w) - 1 for |re w|, |im w| <= 1: (1 + e)(1 + c) - 1 and (1 + e) s with e = expm1(re w),
// c = cos(im w) - 1, s = sin(im w); e + c first, where the two cancel.
inline void Expm1(double x, double y, double& re, double& im)
{
    const double e = Expm1(x);
    const double y2 = y * y;
    const double c = Cosm1(y2);
    const double s = Sin(y, y2);
    re = (e + c) + e * c;
    im = s + e * s;
}

} // namespace nearzero

// exp(w) - 1, log(1 + w), sin w and sinh w for the small arguments of the delta forms, without the
// cancellation of the plain formulas.
inline Complex Expm1(Complex w)
{
    if (std::fabs(w.re) <= 1.0 && std::fabs(w.im) <= 1.0) {
        Complex v;
        nearzero::Expm1(w.re, w.im, v.re, v.im);
        return v;
    }
    const double em1 = realfn::Expm1(w.re);
    const double s = realfn::Sin(w.im / 2);
    return { em1 * realfn::Cos(w.im) - 2 * s * s, realfn::Exp(w.re) * realfn::Sin(w.im) };
}

inline Complex Log1p(Complex w)
{
    return { 0.5 * realfn::Log1p(2 * w.re + w.re * w.re + w.im * w.im), realfn::Atan2(w.im, 1 + w.re) };
}

inline Complex SinOf(Complex w) { return Sin(w); }
inline Complex SinhOf(Complex w) { return Sinh(w); }

// An offset whose e^offset has no cancellation to avoid beside 1 (and may overflow on its own).
inline bool Large(Complex d) { return std::fabs(d.re) >= 1.0 || std::fabs(d.im) >= 1.0; }

// F(w) for a small w: w itself below 2^-60, where every one of these is w + O(w^2).
template <class N, Complex (*F)(Complex)> N Small(const N& w)
{
    using A = Arith<N>;
    if (A::Tiny(w)) {
        return w;
    }
    return A::From(F(A::ToC(w)));
}
