#pragma once

// The complex functions of the language over a vector of doubles V, in terms of elementary.h: the
// scalar evaluator (complex.cpp) instantiates them for one lane, the batch kernels for a register of
// their instruction set, so that both give the same bits. Internal linkage, as elementary.h.

#include "elementary.h"

namespace {
namespace elementary {

template <class V> struct ComplexV {
    V re;
    V im;
};

inline constexpr double kNaNValue = __builtin_nan("");
// Beyond this the real part's exponential is taken as exactly 0, whatever the factor.
inline constexpr double kExpFlush = -1842.0;
// Above this e^x alone overflows although factor * e^x may not: the exponential in halves.
inline constexpr double kExpSplit = 709.0;
// Above this |x| tanh is +-1 to every digit a double has (and its formula would overflow).
inline constexpr double kTanhSaturate = 355.0;
inline constexpr double kLn2 = 0.69314718055994530942;

// The modulus as scaled * 4^±1, scaled in a range where |x| + scaled cannot overflow; abs, log and
// sqrt share it so that their special values agree.
template <class V> struct ScaledModulusV {
    V scaled;
    V exponent; // 2, -2 or 0
};

template <class V> inline ScaledModulusV<V> ScaledAbsV(ComplexV<V> a)
{
    using M = MaskOf<V>;
    const V ax = Abs(a.re), ay = Abs(a.im);
    const M infinite = ax == kInf || ay == kInf;
    const M nan = a.re != a.re || a.im != a.im;
    const V big = Select<V>(ax < ay, ay, ax);
    const V small = Select<V>(ax < ay, ax, ay);
    const M large = big >= 1.0;
    const V scale = Select<V>(large, Splat<V>(0.25), Splat<V>(4.0));
    const V h = Hypot(big * scale, small * scale);
    const M plain = infinite || nan || big == 0.0;
    return { Select<V>(infinite, Splat<V>(kInf),
                 Select<V>(nan, Splat<V>(kNaNValue), Select<V>(big == 0.0, V {}, h))),
        Select<V>(plain, V {}, Select<V>(large, Splat<V>(2.0), Splat<V>(-2.0))) };
}

// scaled * 2^exponent for the exponents of ScaledAbsV.
template <class V> inline V Unscale(V x, V exponent)
{
    return Select<V>(exponent == 2.0, x * 4.0, Select<V>(exponent == -2.0, x * 0.25, x));
}

template <class V> inline ComplexV<V> AbsV(ComplexV<V> a)
{
    const ScaledModulusV<V> m = ScaledAbsV(a);
    return { Unscale(m.scaled, m.exponent), V {} };
}

template <class V> inline ComplexV<V> ArgV(ComplexV<V> a) { return { Atan2(a.im, a.re), V {} }; }

// factor * e^x, exactly 0 when the factor is exactly 0 (so exp of a real number keeps an imaginary
// part of exactly 0 even when e^x overflows) and when x is far below the double range.
template <class V> inline V ExpTimes(V x, V factor, V e, V half)
{
    return Select<V>(factor == 0.0, factor,
        Select<V>(x < kExpFlush, V {}, Select<V>(x > kExpSplit, factor * half * half, factor * e)));
}

template <class V> inline ComplexV<V> ExpV(ComplexV<V> a)
{
    V s, c;
    SinCos(a.im, s, c);
    const V e = Exp(a.re);
    const V half = Exp(a.re * 0.5);
    return { ExpTimes(a.re, c, e, half), ExpTimes(a.re, s, e, half) };
}

template <class V> inline ComplexV<V> LogV(ComplexV<V> a)
{
    const V angle = Atan2(a.im, a.re);
    const ScaledModulusV<V> m = ScaledAbsV(a);
    const V re = Log(m.scaled) + m.exponent * kLn2;
    const MaskOf<V> nan = angle != angle;
    return { Select<V>(nan, Splat<V>(kNaNValue), re), Select<V>(nan, Splat<V>(kNaNValue), angle) };
}

template <class V> inline ComplexV<V> Log10V(ComplexV<V> a)
{
    constexpr double kLog10OfE = 0.4342944819032518;
    const ComplexV<V> l = LogV(a);
    return { l.re * kLog10OfE, l.im * kLog10OfE };
}

template <class V> inline ComplexV<V> SqrtV(ComplexV<V> a)
{
    using M = MaskOf<V>;
    const ScaledModulusV<V> m = ScaledAbsV(a);
    const M plain = (a.re == 0.0 && a.im == 0.0) || !(Abs(a.re) < kInf) || !(Abs(a.im) < kInf);
    const V rho = Unscale(m.scaled, m.exponent);
    // In the scaled range |x| + rho cannot overflow; sqrt(2^e) is exactly 2^(e/2) for e = +-2.
    const V inner = Sqrt((Unscale(Abs(a.re), -m.exponent) + m.scaled) / 2.0);
    const V w = Select<V>(m.exponent == 2.0, inner * 2.0, Select<V>(m.exponent == -2.0, inner * 0.5, inner));
    const V other = a.im / (2.0 * w);
    const M positive = a.re >= 0.0;
    const M below = a.im < 0.0;
    const V re = Select<V>(positive, w, Select<V>(below, -other, other));
    const V im = Select<V>(positive, other, Select<V>(below, -w, w));
    return { Select<V>(plain, rho, re), Select<V>(plain, rho, im) };
}

template <class V> inline ComplexV<V> SinV(ComplexV<V> a)
{
    V s, c, sh, ch;
    SinCos(a.re, s, c);
    SinhCosh(a.im, sh, ch);
    return { s * ch, c * sh };
}

template <class V> inline ComplexV<V> CosV(ComplexV<V> a)
{
    V s, c, sh, ch;
    SinCos(a.re, s, c);
    SinhCosh(a.im, sh, ch);
    return { c * ch, -(s * sh) };
}

template <class V> inline ComplexV<V> SinhV(ComplexV<V> a)
{
    V s, c, sh, ch;
    SinCos(a.im, s, c);
    SinhCosh(a.re, sh, ch);
    return { sh * c, ch * s };
}

template <class V> inline ComplexV<V> CoshV(ComplexV<V> a)
{
    V s, c, sh, ch;
    SinCos(a.im, s, c);
    SinhCosh(a.re, sh, ch);
    return { ch * c, sh * s };
}

template <class V> inline ComplexV<V> TanhV(ComplexV<V> a)
{
    V s, c, sh, ch;
    SinCos(a.im, s, c);
    SinhCosh(a.re, sh, ch);
    const V t = s / c;
    const V b = sh * (1.0 + t * t);
    const V dv = 1.0 + b * sh;
    const MaskOf<V> saturated = Abs(a.re) > kTanhSaturate;
    return { Select<V>(saturated, CopySign(Splat<V>(1.0), a.re), Sqrt(1.0 + sh * sh) * b / dv),
        Select<V>(saturated, CopySign(V {}, t), t / dv) };
}

// tan z = -i tanh(i z).
template <class V> inline ComplexV<V> TanV(ComplexV<V> a)
{
    const ComplexV<V> u = TanhV(ComplexV<V> { -a.im, a.re });
    return { u.im, -u.re };
}

} // namespace elementary
} // namespace
