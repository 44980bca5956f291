#pragma once

#include "complex.h"

#include <bit>
#include <cmath>
#include <cstdint>

// A complex number with a wide exponent: (re + im i) * 2^e, the larger part of the mantissa in
// [0.5, 1) (or both 0). A pixel's offset from the reference orbit at a plane width of 1e-1000 lies
// far below the smallest double, but it needs only a double's digits: its exponent is all that
// grows. Zero has e = 0. No infinities: a non-finite mantissa stays as it is and marks the value bad.
struct ExComplex {
    double re { 0.0 };
    double im { 0.0 };
    int64_t e { 0 };
};

namespace ex {

// 2^k for -1022 <= k <= 1023, built from its bits: ldexp's checks cost more than the whole operation
// it serves.
inline double PowerOfTwo(int k) { return std::bit_cast<double>(static_cast<uint64_t>(k + 1023) << 52); }

inline ExComplex Normalised(double re, double im, int64_t e)
{
    const double big = std::fabs(re) > std::fabs(im) ? std::fabs(re) : std::fabs(im);
    const uint64_t bits = std::bit_cast<uint64_t>(big);
    const int biased = static_cast<int>(bits >> 52);
    if (biased == 0 || biased == 0x7ff) {
        // Zero, a subnormal, an infinity or a NaN: the slow and careful way.
        if (big == 0.0 || !std::isfinite(big)) {
            return { re, im, big == 0.0 ? 0 : e };
        }
        int shift = 0;
        std::frexp(big, &shift);
        return { std::ldexp(re, -shift), std::ldexp(im, -shift), e + shift };
    }
    // big = m 2^(biased - 1023), m in [1, 2): scale by 2^-(biased - 1022) into [0.5, 1).
    const int shift = biased - 1022;
    const double scale = PowerOfTwo(-shift);
    return { re * scale, im * scale, e + shift };
}

inline ExComplex From(Complex c) { return Normalised(c.re, c.im, 0); }
inline ExComplex FromReal(double x) { return Normalised(x, 0.0, 0); }

// The nearest doubles: 0 below their range, infinity above it.
inline Complex ToComplex(const ExComplex& x)
{
    if (x.e >= -1000 && x.e <= 1000) {
        const double scale = PowerOfTwo(static_cast<int>(x.e));
        return { x.re * scale, x.im * scale };
    }
    if (x.e < -1100 && std::isfinite(x.re) && std::isfinite(x.im)) {
        // Far below the smallest subnormal (the mantissa is below 1): zero of the same sign, which
        // is what ldexp gives, without its cost.
        return { std::copysign(0.0, x.re), std::copysign(0.0, x.im) };
    }
    const int64_t e = x.e < -4000 ? -4000 : (x.e > 4000 ? 4000 : x.e);
    return { std::ldexp(x.re, static_cast<int>(e)), std::ldexp(x.im, static_cast<int>(e)) };
}

inline bool IsZero(const ExComplex& x) { return x.re == 0.0 && x.im == 0.0; }
inline bool IsFinite(const ExComplex& x) { return std::isfinite(x.re) && std::isfinite(x.im); }

// log2 of the larger part's magnitude, roughly (within 1): for comparing sizes. Zero is very small.
inline int64_t Magnitude(const ExComplex& x) { return IsZero(x) ? INT64_MIN / 4 : x.e; }

inline ExComplex Neg(const ExComplex& x) { return { -x.re, -x.im, x.e }; }
inline ExComplex Conj(const ExComplex& x) { return { x.re, -x.im, x.e }; }
inline ExComplex Swap(const ExComplex& x) { return { x.im, x.re, x.e }; }
inline ExComplex RealOf(const ExComplex& x) { return Normalised(x.re, 0.0, x.e); }
inline ExComplex ImagOf(const ExComplex& x) { return Normalised(x.im, 0.0, x.e); }

inline ExComplex Add(const ExComplex& a, const ExComplex& b)
{
    if (IsZero(a)) {
        return b;
    }
    if (IsZero(b)) {
        return a;
    }
    const int64_t d = a.e - b.e;
    if (d > 120) {
        return a;
    }
    if (d < -120) {
        return b;
    }
    if (d >= 0) {
        const double scale = PowerOfTwo(static_cast<int>(-d));
        return Normalised(a.re + b.re * scale, a.im + b.im * scale, a.e);
    }
    const double scale = PowerOfTwo(static_cast<int>(d));
    return Normalised(a.re * scale + b.re, a.im * scale + b.im, b.e);
}

inline ExComplex Sub(const ExComplex& a, const ExComplex& b) { return Add(a, Neg(b)); }

inline ExComplex Mul(const ExComplex& a, const ExComplex& b)
{
    return Normalised(a.re * b.re - a.im * b.im, a.im * b.re + a.re * b.im, a.e + b.e);
}

inline ExComplex Mul(const ExComplex& a, Complex b) { return Mul(a, From(b)); }

inline ExComplex Scale(const ExComplex& a, double k) { return Normalised(a.re * k, a.im * k, a.e); }

// The language's division (a zero divisor gives NaN, which marks the value bad).
inline ExComplex Div(const ExComplex& a, const ExComplex& b)
{
    const Complex q = ::Div({ a.re, a.im }, { b.re, b.im });
    return Normalised(q.re, q.im, a.e - b.e);
}

// |x|^2 as a real ExComplex.
inline ExComplex Norm(const ExComplex& x) { return Normalised(x.re * x.re + x.im * x.im, 0.0, 2 * x.e); }

// |x| as a real ExComplex.
inline ExComplex Abs(const ExComplex& x) { return Normalised(realfn::Hypot(x.re, x.im), 0.0, x.e); }

// Whether |x| < 2^-bits (mantissas are below 1, so e <= -bits says it).
inline bool Below(const ExComplex& x, int bits) { return IsZero(x) || x.e <= -bits; }

} // namespace ex
