#pragma once

// The elementary functions of the language, written once over a vector of doubles V (a GCC vector;
// one lane for the scalar evaluator) so that every lane of every instruction set, the scalar
// evaluator and the deep path's doubles get the same bits: only +, -, *, /, sqrt, comparisons,
// selections and integer operations on the bits, each an exactly rounded IEEE operation, in one
// fixed order. Nothing calls the C library, whose results differ between versions and between its
// FMA and non-FMA paths; the build forbids contraction (-ffp-contract=off), so no multiply and add
// is ever fused. Accuracy: within a few units in the last place (the tests hold each to its bound).
//
// Everything has internal linkage: each instruction set's kernels compile their own copy, and a copy
// built for AVX-512 must never be the one the rest of the program links to.

#include <cstdint>
#include <immintrin.h>

namespace {
namespace elementary {

template <class V> using MaskOf = decltype(V {} < V {});

template <class V> inline V Splat(double x) { return V {} + x; }
template <class V> inline MaskOf<V> Bits(V x) { return reinterpret_cast<MaskOf<V>>(x); }
template <class V> inline V FromBits(MaskOf<V> m) { return reinterpret_cast<V>(m); }
template <class V> inline V Select(MaskOf<V> m, V a, V b) { return m ? a : b; }

inline constexpr int64_t kSignBit = INT64_MIN;
inline constexpr double kInf = __builtin_inf();
// Adding and subtracting 1.5 * 2^52 rounds to the nearest whole number (ties to even) for
// |x| < 2^51, and leaves that number in the low bits of the sum.
inline constexpr double kShift = 0x1.8p52;
inline constexpr int64_t kShiftBits = 0x4338000000000000;

// The exactly rounded square root, lane by lane.
template <class V> inline V Sqrt(V x)
{
    if constexpr (sizeof(V) == 8) {
        return V { __builtin_sqrt(x[0]) };
    } else if constexpr (sizeof(V) == 16) {
        return reinterpret_cast<V>(_mm_sqrt_pd(reinterpret_cast<__m128d>(x)));
#if defined(__AVX__)
    } else if constexpr (sizeof(V) == 32) {
        return reinterpret_cast<V>(_mm256_sqrt_pd(reinterpret_cast<__m256d>(x)));
#endif
#if defined(__AVX512F__)
    } else if constexpr (sizeof(V) == 64) {
        // The masked form with x as the pass-through: the plain intrinsic's undefined pass-through
        // trips GCC's uninitialised-value warning.
        const __m512d v = reinterpret_cast<__m512d>(x);
        return reinterpret_cast<V>(_mm512_mask_sqrt_pd(v, static_cast<__mmask8>(0xff), v));
#endif
    } else {
        static_assert(sizeof(V) == 8, "no square root for this vector on this instruction set");
    }
}

template <class V> inline V Abs(V x) { return FromBits<V>(Bits(x) & ~kSignBit); }
template <class V> inline V CopySign(V magnitude, V sign)
{
    return FromBits<V>((Bits(magnitude) & ~kSignBit) | (Bits(sign) & kSignBit));
}
template <class V> inline MaskOf<V> SignBit(V x) { return (Bits(x) & kSignBit) != 0; }
template <class V> inline V Round(V x) { return (x + kShift) - kShift; }

// 2^k for a whole k in [-1022, 1023] (k a double).
template <class V> inline V Pow2(V k) { return FromBits<V>((Bits(k + kShift) - kShiftBits + 1023) << 52); }

// y * 2^k for a whole k in [-1100, 1100], rounded once: the first factor is exact.
template <class V> inline V Scale(V y, V k)
{
    const V first = Round(k * 0.5);
    return (y * Pow2(first)) * Pow2(k - first);
}

// The exact sum s + e of a and b.
template <class V> inline void TwoSum(V a, V b, V& s, V& e)
{
    s = a + b;
    const V bb = s - a;
    e = (a - (s - bb)) + (b - bb);
}

// The exact product p + e of a and b (Dekker's, without a fused multiply-add), for |a|, |b| < 2^995.
template <class V> inline void TwoProduct(V a, V b, V& p, V& e)
{
    const auto split = [](V x, V& hi, V& lo) {
        const V c = x * 134217729.0;
        hi = c - (c - x);
        lo = x - hi;
    };
    V ah, al, bh, bl;
    split(a, ah, al);
    split(b, bh, bl);
    p = a * b;
    e = ((ah * bh - p) + ah * bl + al * bh) + al * bl;
}

inline constexpr double kLn2Hi = 6.93147180369123816490e-01; // 32 bits: k * kLn2Hi is exact
inline constexpr double kLn2Lo = 1.90821492927058770002e-10;
inline constexpr double kInvLn2 = 1.44269504088896338700e+00;
inline constexpr double kExpOverflow = 7.09782712893383973096e+02;
inline constexpr double kExpUnderflow = -7.45133219101941108420e+02;

// The rational form of e^r - 1 on |r| <= ln2 / 2: r + r c / (2 - c).
template <class V> inline V ExpC(V r)
{
    const V t = r * r;
    return r
        - t
        * (1.66666666666666019037e-01
            + t
                * (-2.77777777770155933842e-03
                    + t
                        * (6.61375632143793436117e-05
                            + t * (-1.65339022054652515390e-06 + t * 4.13813679705723846039e-08))));
}

// e^(x - tail) for the tail of an argument carried in two parts (0 for one); +inf above the range,
// 0 below it, NaN for NaN.
template <class V> inline V Exp(V x, V tail)
{
    const V clamped = Select<V>(x > 710.0, Splat<V>(710.0), Select<V>(x < -746.0, Splat<V>(-746.0), x));
    const V k = Round(clamped * kInvLn2);
    const V hi = clamped - k * kLn2Hi;
    const V lo = k * kLn2Lo + tail;
    const V r = hi - lo;
    const V c = ExpC(r);
    const V y = 1.0 - ((lo - (r * c) / (2.0 - c)) - hi);
    const V result = Scale(y, k);
    return Select<V>(x > kExpOverflow, Splat<V>(kInf), Select<V>(x < kExpUnderflow, V {}, result));
}

template <class V> inline V Exp(V x) { return Exp(x, V {}); }

// e^x - 1 on |x| <= ln2 / 2.
template <class V> inline V Expm1Small(V x)
{
    const V c = ExpC(x);
    return x + (x * c) / (2.0 - c);
}

// e^x - 1 without the cancellation of the plain difference for a small x: up to ln2 as
// (e^(x/2) - 1)(e^(x/2) + 1), beyond that the difference loses less than a bit.
template <class V> inline V Expm1(V x)
{
    const V half = Expm1Small(x * 0.5);
    const V ax = Abs(x);
    // Below 2^-54 e^x - 1 is x itself (and keeps the sign of a zero).
    return Select<V>(ax < 0x1p-54, x,
        Select<V>(ax <= 0.34657359027997264, Expm1Small(x),
            Select<V>(ax <= 0.69314718055994530942, half * (half + 2.0), Exp(x) - 1.0)));
}

// log x as hi + lo: hi is k ln2 + f rounded, lo what it leaves out (about 2^-58 of it, absolute), for
// a positive finite x; the caller handles 0, negatives, infinities and NaN.
template <class V> inline void LogParts(V x, V& hi, V& lo)
{
    using M = MaskOf<V>;
    const M tiny = x < 0x1p-1022;
    const V normal = Select<V>(tiny, x * 0x1p54, x);
    const M bits = Bits(normal);
    // x = 2^k m, m in [sqrt(2)/2, sqrt(2)).
    const M mantissa = bits & 0x000fffffffffffff;
    const M high = mantissa > 0x6a09e667f3bcc;
    const V m = FromBits<V>(mantissa | (high ? M {} + 0x3fe0000000000000 : M {} + 0x3ff0000000000000));
    const V exponent = FromBits<V>(((bits >> 52) & 0x7ff) + kShiftBits) - kShift;
    const V k
        = exponent - 1023.0 + Select<V>(high, Splat<V>(1.0), V {}) - Select<V>(tiny, Splat<V>(54.0), V {});
    const V f = m - 1.0;
    const V s = f / (2.0 + f);
    const V z = s * s;
    const V w = z * z;
    const V t1
        = w * (3.999999999940941908e-01 + w * (2.222219843214978396e-01 + w * 1.531383769920937332e-01));
    const V t2 = z
        * (6.666666666666735130e-01
            + w * (2.857142874366239149e-01 + w * (1.818357216161805012e-01 + w * 1.479819860511658591e-01)));
    const V hfsq = 0.5 * f * f;
    const V rest = s * (hfsq + t2 + t1) + k * kLn2Lo - hfsq;
    V e;
    TwoSum(k * kLn2Hi, f, hi, e);
    lo = e + rest;
}

// The natural logarithm: -inf for 0, NaN below 0 and for NaN, +inf for +inf.
template <class V> inline V Log(V x)
{
    V hi, lo;
    LogParts(Select<V>(x > 0.0 && x < kInf, x, Splat<V>(1.0)), hi, lo);
    const V finite = hi + lo;
    return Select<V>(x > 0.0 && x < kInf, finite,
        Select<V>(x == 0.0, Splat<V>(-kInf), Select<V>(x == kInf, x, Splat<V>(__builtin_nan("")))));
}

// log(1 + x) without the loss of the plain sum for a small x.
template <class V> inline V Log1p(V x)
{
    const V u = 1.0 + x;
    const V d = u - 1.0;
    const V corrected = Log(u) * (x / Select<V>(d == 0.0, Splat<V>(1.0), d));
    return Select<V>(d == 0.0, x, Select<V>(u == kInf, u, corrected));
}

// x^y for a positive x: e^(y log x) with log x and the product carried in two parts, so that a large
// y does not multiply the logarithm's rounding.
template <class V> inline V PowPositive(V x, V y)
{
    V hi, lo;
    const MaskOf<V> regular = x > 0.0 && x < kInf;
    LogParts(Select<V>(regular, x, Splat<V>(1.0)), hi, lo);
    const MaskOf<V> moderate = Abs(y) < 0x1p500;
    V p, e;
    TwoProduct(Select<V>(moderate, y, V {}), hi, p, e);
    p = Select<V>(moderate, p, y * hi);
    e = Select<V>(moderate, e, V {}) + y * lo;
    // Renormalised, so that the exponential's reduction sees the whole argument.
    V sum, error;
    TwoSum(p, e, sum, error);
    V power = Exp(sum, -error);
    const V atInfinity = Select<V>(y > 0.0, Splat<V>(kInf), V {});
    // A square root is exactly rounded: x^0.5 is that, as a correctly rounded power would give.
    power = Select<V>(y == 0.5, Sqrt(Select<V>(regular, x, Splat<V>(1.0))), power);
    return Select<V>(x == 1.0, Splat<V>(1.0),
        Select<V>(y != y, y,
            Select<V>(regular, power, Select<V>(x == kInf, atInfinity, Splat<V>(__builtin_nan(""))))));
}

// sinh x and cosh x together; each overflows to +-inf only where the value itself does.
template <class V> inline void SinhCosh(V x, V& sinh, V& cosh)
{
    const V a = Abs(x);
    const V t = Expm1(a);
    const V smallSinh = 0.5 * (t + t / (t + 1.0));
    const V smallCosh = 1.0 + (t * t) / (2.0 * (1.0 + t));
    const V e = Exp(a);
    const V inverse = 1.0 / e;
    const V half = Exp(a * 0.5);
    const MaskOf<V> small = a < 0.34657359027997264;
    const MaskOf<V> large = a > 709.0;
    const V s = Select<V>(small, smallSinh, Select<V>(large, (0.5 * half) * half, 0.5 * (e - inverse)));
    cosh = Select<V>(small, smallCosh, Select<V>(large, (0.5 * half) * half, 0.5 * (e + inverse)));
    sinh = CopySign(s, x);
}

inline constexpr double kAtanHi[4] = { 4.63647609000806093515e-01, 7.85398163397448278999e-01,
    9.82793723247329054082e-01, 1.57079632679489655800e+00 };
inline constexpr double kAtanLo[4] = { 2.26987774529616870924e-17, 3.06161699786838301793e-17,
    1.39033110312309984516e-17, 6.12323399573676603587e-17 };

// atan x for x >= 0 (+inf included).
template <class V> inline V AtanPositive(V x)
{
    using M = MaskOf<V>;
    const M r0 = x >= 0.4375, r1 = x >= 0.6875, r2 = x >= 1.1875, r3 = x >= 2.4375;
    // The reduced argument (p x - q) / (r + s x) of each range.
    const V p = Select<V>(r1, Splat<V>(1.0), Select<V>(r0, Splat<V>(2.0), Splat<V>(1.0)));
    const V qq = Select<V>(r2, Splat<V>(1.5), Select<V>(r0, Splat<V>(1.0), V {}));
    const V rr = Select<V>(
        r2, Splat<V>(1.0), Select<V>(r1, Splat<V>(1.0), Select<V>(r0, Splat<V>(2.0), Splat<V>(1.0))));
    const V ss = Select<V>(r2, Splat<V>(1.5), Select<V>(r0, Splat<V>(1.0), V {}));
    const V num = Select<V>(r3, Splat<V>(-1.0), p * x - qq);
    const V den = Select<V>(r3, x, rr + ss * x);
    const V t = Select<V>(r0, num / den, x);
    const V hi = Select<V>(r3, Splat<V>(kAtanHi[3]),
        Select<V>(r2, Splat<V>(kAtanHi[2]), Select<V>(r1, Splat<V>(kAtanHi[1]), Splat<V>(kAtanHi[0]))));
    const V lo = Select<V>(r3, Splat<V>(kAtanLo[3]),
        Select<V>(r2, Splat<V>(kAtanLo[2]), Select<V>(r1, Splat<V>(kAtanLo[1]), Splat<V>(kAtanLo[0]))));
    const V z = t * t;
    const V w = z * z;
    const V s1 = z
        * (3.33333333333329318027e-01
            + w
                * (1.42857142725034663711e-01
                    + w
                        * (9.09088713343650656196e-02
                            + w
                                * (6.66107313738753120669e-02
                                    + w * (4.97687799461593236017e-02 + w * 1.62858201153657823623e-02)))));
    const V s2 = w
        * (-1.99999999998764832476e-01
            + w
                * (-1.11111104054623557880e-01
                    + w
                        * (-7.69187620504482999495e-02
                            + w * (-5.83357013379057348645e-02 + w * -3.65315727442169155270e-02))));
    return Select<V>(r0, hi - ((t * (s1 + s2) - lo) - t), t - t * (s1 + s2));
}

inline constexpr double kPi = 3.1415926535897931160e+00;
inline constexpr double kPiLo = 1.2246467991473531772e-16;

// The angle of (x, y), from -pi to pi, with the C rules for zeros, infinities and NaN.
template <class V> inline V Atan2(V y, V x)
{
    using M = MaskOf<V>;
    const V ay = Abs(y), ax = Abs(x);
    const M bothZero = ay == 0.0 && ax == 0.0;
    const M bothInf = ay == kInf && ax == kInf;
    const V ratio = Select<V>(bothZero || bothInf, V {}, ay / ax);
    V z = AtanPositive(ratio);
    z = Select<V>(bothInf, Splat<V>(0.78539816339744827900), z);
    const M negative = SignBit(x);
    V angle = Select<V>(negative, kPi - (z - kPiLo), z);
    angle = Select<V>(bothInf && negative, Splat<V>(2.35619449019234492885), angle);
    angle = Select<V>(
        (ay == kInf && ax < kInf) || (ax == 0.0 && ay > 0.0), Splat<V>(1.57079632679489655800), angle);
    angle = Select<V>(bothZero, Select<V>(negative, Splat<V>(kPi), V {}), angle);
    return Select<V>(x != x || y != y, x + y, CopySign(angle, y));
}

// sqrt(x^2 + y^2) without intermediate overflow or underflow; +inf when either is infinite, even
// if the other is NaN; exactly |x| when y is 0.
template <class V> inline V Hypot(V x, V y)
{
    using M = MaskOf<V>;
    const V ax = Abs(x), ay = Abs(y);
    const M ordered = ax >= ay;
    V big = Select<V>(ordered, ax, ay);
    V small = Select<V>(ordered, ay, ax);
    // Subnormal pairs first move up by an exact 2^600.
    const M tiny = big < 0x1p-900;
    big = Select<V>(tiny, big * 0x1p600, big);
    small = Select<V>(tiny, small * 0x1p600, small);
    // Then both by the power of two that brings big into [1, 2).
    const V e = FromBits<V>(((Bits(big) >> 52) & 0x7ff) + kShiftBits) - kShift - 1023.0;
    const V safeE = Select<V>(big > 0.0 && big < kInf, e, V {});
    const V b = Scale(big, -safeE);
    const V s = Scale(small, -safeE);
    const V h = Scale(Sqrt(b * b + s * s), safeE - Select<V>(tiny, Splat<V>(600.0), V {}));
    const M infinite = ax == kInf || ay == kInf;
    return Select<V>(
        infinite, Splat<V>(kInf), Select<V>(x != x || y != y, x + y, Select<V>(big == 0.0, V {}, h)));
}

} // namespace elementary
} // namespace

// sin and cos with their argument reduction, in the same namespaces.
#include "elementarytrig.h"
