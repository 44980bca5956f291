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

// exp(w) - 1, log(1 + w), sin w and sinh w for the small arguments of the delta forms, without the
// cancellation of the plain formulas.
inline Complex Expm1(Complex w)
{
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
