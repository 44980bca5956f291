#pragma once

// sin and cos of the language's elementary functions: the argument reduced by pi / 2 (in pieces for
// ordinary arguments, exactly from the bits of 2/pi for huge ones) and the kernels on |x| <= pi/4.
// Part of elementary.h, which includes it; the same rules hold (no C library, no fused operations,
// internal linkage).

#include "elementary.h"

namespace {
namespace elementary {

// pi / 2 in 21-bit pieces (a multiple of any whole n < 2^32 exactly) and a full tail.
inline constexpr double kPio2[6]
    = { 0x1.921fbp+0, 0x1.5110bp-22, 0x1.18469p-44, 0x1.13198p-65, 0x1.45c06p-86, 0x1.c1cd129024e09p-107 };
inline constexpr double kTwoOverPi = 0x1.45f306dc9c883p-1;
// Beyond this the multiple of pi / 2 is no longer whole below 2^32: such arguments are reduced
// exactly from the bits of 2/pi (ReduceHuge).
inline constexpr double kReduceLimit = 6.7e9;

// floor(2/pi * 2^1280), least significant word first.
inline constexpr uint64_t kTwoOverPiBits[20]
    = { 0xf0cfbc209af4361dull, 0x56033046fc7b6babull, 0x6bfb5fb11f8d5d08ull, 0x3d0739f78a5292eaull,
          0x7527bac7ebe5f17bull, 0x4f463f669e5fea2dull, 0x6d367ecf27cb09b7ull, 0xef2f118b5a0a6d1full,
          0x1ff897ffde05980full, 0x9c845f8bbdf9283bull, 0x3991d639835339f4ull, 0xe99c7026b45f7e41ull,
          0xe88235f52ebb4484ull, 0xfe1deb1cb129a73eull, 0x06492eea09d1921cull, 0xb7246e3a424dd2e0ull,
          0xfe5163abdebbc561ull, 0xdb6295993c439041ull, 0xfc2757d1f534ddc0ull, 0xa2f9836e4e441529ull };

// Bits [from, from + 64) of kTwoOverPiBits (bit 0 the least significant).
inline uint64_t TwoOverPiWord(int from)
{
    const int word = from / 64, shift = from % 64;
    const uint64_t low = word < 20 ? kTwoOverPiBits[word] : 0;
    const uint64_t high = word + 1 < 20 ? kTwoOverPiBits[word + 1] : 0;
    return shift == 0 ? low : (low >> shift) | (high << (64 - shift));
}

// |x| = n pi/2 + y0 + y1 for a finite |x| > kReduceLimit, q = n mod 4: |x| = m 2^e times 2/pi, mod 4,
// from the 192 bits of 2/pi that reach the two bits above the point (higher ones give multiples of 4).
inline void ReduceHuge(double x, double& y0, double& y1, int64_t& q)
{
    const uint64_t bits = __builtin_bit_cast(uint64_t, x);
    const uint64_t m = (bits & 0x000fffffffffffffull) | 0x0010000000000000ull;
    const int e = static_cast<int>((bits >> 52) & 0x7ff) - 1075;
    const int from = 1280 - e - 190; // the window's lowest bit weighs 2^-190 in the product
    const uint64_t w[3] = { TwoOverPiWord(from), TwoOverPiWord(from + 64), TwoOverPiWord(from + 128) };
    uint64_t p[3];
    unsigned __int128 carry = 0;
    for (int i = 0; i < 3; ++i) {
        carry += static_cast<unsigned __int128>(m) * w[i];
        p[i] = static_cast<uint64_t>(carry);
        carry >>= 64;
    }
    // p: 2 bits of whole number, then 190 of fraction; rounded to the nearest whole n.
    q = static_cast<int64_t>(p[2] >> 62);
    const uint64_t f = (p[2] << 2) | (p[1] >> 62);
    const uint64_t g = (p[1] << 2) | (p[0] >> 62);
    const int64_t signedF = static_cast<int64_t>(f); // >= 1/2 turns into a negative fraction
    q = (q + (signedF < 0 ? 1 : 0)) & 3;
    const double hi = static_cast<double>(signedF);
    const double lo
        = static_cast<double>(signedF - static_cast<int64_t>(hi)) + static_cast<double>(g) * 0x1p-64;
    using V1 = double __attribute__((vector_size(8)));
    V1 ph, pe;
    TwoProduct(V1 { hi * 0x1p-64 }, V1 { 1.5707963267948966 }, ph, pe);
    const double tail = pe[0] + lo * 0x1p-64 * 1.5707963267948966 + hi * 0x1p-64 * 6.123233995736766e-17;
    y0 = ph[0] + tail;
    y1 = (ph[0] - y0) + tail;
}

// x = n pi/2 + y0 + y1, with q = n mod 4.
template <class V> inline void Reduce(V x, V& y0, V& y1, MaskOf<V>& q)
{
    const V n = Round(x * kTwoOverPi);
    q = Bits(n + kShift) & 3;
    const V d = x - n * kPio2[0];
    V s, e, e2;
    TwoSum(d, -(n * kPio2[1]), s, e);
    TwoSum(s, -(n * kPio2[2]), s, e2);
    e = e + e2;
    TwoSum(s, -(n * kPio2[3]), s, e2);
    e = e + e2 - (n * kPio2[4] + n * kPio2[5]);
    y0 = s + e;
    y1 = (s - y0) + e;
    // Rare lanes beyond the limit, one by one (infinities and NaN keep the NaN of the steps above).
    const MaskOf<V> huge = Abs(x) > kReduceLimit && Abs(x) < kInf;
    for (int l = 0; l < static_cast<int>(sizeof(V) / sizeof(double)); ++l) {
        if (huge[l]) {
            double a, b;
            int64_t quadrant;
            ReduceHuge(x[l] < 0.0 ? -x[l] : x[l], a, b, quadrant);
            const bool negative = x[l] < 0.0;
            y0[l] = negative ? -a : a;
            y1[l] = negative ? -b : b;
            q[l] = negative ? (4 - quadrant) & 3 : quadrant;
        }
    }
}

// sin(x + y) and cos(x + y) on |x| <= pi/4, y the tail.
template <class V> inline V KernelSin(V x, V y)
{
    const V z = x * x;
    const V v = z * x;
    const V r = 8.33333333332248946124e-03
        + z
            * (-1.98412698298579493134e-04
                + z
                    * (2.75573137070700676789e-06
                        + z * (-2.50507602534068634195e-08 + z * 1.58969099521155010221e-10)));
    return x - ((z * (0.5 * y - v * r) - y) - v * -1.66666666666666324348e-01);
}

template <class V> inline V KernelCos(V x, V y)
{
    const V z = x * x;
    const V w = z * z;
    const V r = z
            * (4.16666666666666019037e-02
                + z * (-1.38888888888741095749e-03 + z * 2.48015872894767294178e-05))
        + w * w
            * (-2.75573143513906633035e-07
                + z * (2.08757232129817482790e-09 + z * -1.13596475577881948265e-11));
    const V hz = 0.5 * z;
    const V ww = 1.0 - hz;
    return ww + (((1.0 - ww) - hz) + (z * r - x * y));
}

template <class V> inline void SinCos(V x, V& sine, V& cosine)
{
    V y0, y1;
    MaskOf<V> q;
    Reduce(x, y0, y1, q);
    const V s = KernelSin(y0, y1);
    const V c = KernelCos(y0, y1);
    const MaskOf<V> swap = (q & 1) != 0;
    const V s1 = Select<V>(swap, c, s);
    const V c1 = Select<V>(swap, s, c);
    // Below 2^-27 sin x is x to the last bit (and keeps the sign of a zero), cos x is 1.
    const MaskOf<V> tiny = Abs(x) < 0x1p-27;
    sine = Select<V>(tiny, x, Select<V>((q & 2) != 0, -s1, s1));
    cosine = Select<V>(tiny, Splat<V>(1.0), Select<V>(((q + 1) & 2) != 0, -c1, c1));
}

} // namespace elementary
} // namespace
