#include "complex.h"

#include <numbers>

namespace {

// Beyond this the real part's exponential is taken as exactly 0, whatever the factor.
constexpr double kExpUnderflow = -1842.0;
// Above this e^x alone overflows although factor * e^x may not: split the exponential in halves.
constexpr double kExpSplit = 709.0;
// Above this |x| the tanh formula overflows (s * s); tanh is then +-1 to every digit a double has.
constexpr double kTanhSaturate = 355.0;

// factor * e^x, exactly 0 when the factor is exactly 0 (so exp of a real number keeps an imaginary
// part of exactly 0 even when e^x overflows) and when x is far below the double range.
double ExpTimes(double x, double factor)
{
    if (factor == 0.0) {
        return factor;
    }
    if (x < kExpUnderflow) {
        return 0.0;
    }
    if (x > kExpSplit) {
        const double half = std::exp(x * 0.5);
        return factor * half * half;
    }
    return factor * std::exp(x);
}

} // namespace

ScaledModulus ScaledAbs(Complex a)
{
    if (std::isinf(a.re) || std::isinf(a.im)) {
        return { std::numeric_limits<double>::infinity(), 0 };
    }
    if (std::isnan(a.re) || std::isnan(a.im)) {
        return { kNaN, 0 };
    }
    double big = std::fabs(a.re);
    double small = std::fabs(a.im);
    if (big < small) {
        std::swap(big, small);
    }
    if (big == 0.0) {
        return { 0.0, 0 };
    }
    // Scale by 1/4 or 4 so that neither the sum in Sqrt nor the modulus itself can overflow.
    const int exponent = big >= 1.0 ? 2 : -2;
    const double scale = big >= 1.0 ? 0.25 : 4.0;
    return { std::hypot(big * scale, small * scale), exponent };
}

Complex Abs(Complex a)
{
    const ScaledModulus m = ScaledAbs(a);
    return { std::ldexp(m.scaled, m.exponent), 0.0 };
}

Complex Exp(Complex a) { return { ExpTimes(a.re, std::cos(a.im)), ExpTimes(a.re, std::sin(a.im)) }; }

Complex Log(Complex a)
{
    const double angle = std::atan2(a.im, a.re);
    if (std::isnan(angle)) {
        return kNaNResult;
    }
    const ScaledModulus m = ScaledAbs(a);
    return { std::log(m.scaled) + m.exponent * std::numbers::ln2, angle };
}

Complex Log10(Complex a)
{
    constexpr double kLog10OfE = 0.4342944819032518;
    const Complex l = Log(a);
    return { l.re * kLog10OfE, l.im * kLog10OfE };
}

Complex Sqrt(Complex a)
{
    const ScaledModulus m = ScaledAbs(a);
    if ((a.re == 0.0 && a.im == 0.0) || !std::isfinite(a.re) || !std::isfinite(a.im)) {
        const double rho = std::ldexp(m.scaled, m.exponent);
        return { rho, rho };
    }
    // In the scaled range |x| + rho cannot overflow; sqrt(2^e) is exactly 2^(e/2) for e = +-2.
    const double w
        = std::ldexp(std::sqrt((std::ldexp(std::fabs(a.re), -m.exponent) + m.scaled) / 2.0), m.exponent / 2);
    if (a.re >= 0.0) {
        return { w, a.im / (2.0 * w) };
    }
    if (a.im < 0.0) {
        return { -a.im / (2.0 * w), -w };
    }
    return { a.im / (2.0 * w), w };
}

Complex Sin(Complex a) { return { std::sin(a.re) * std::cosh(a.im), std::cos(a.re) * std::sinh(a.im) }; }
Complex Cos(Complex a) { return { std::cos(a.re) * std::cosh(a.im), -(std::sin(a.re) * std::sinh(a.im)) }; }
Complex Sinh(Complex a) { return { std::sinh(a.re) * std::cos(a.im), std::cosh(a.re) * std::sin(a.im) }; }
Complex Cosh(Complex a) { return { std::cosh(a.re) * std::cos(a.im), std::sinh(a.re) * std::sin(a.im) }; }

Complex Tanh(Complex a)
{
    const double t = std::tan(a.im);
    if (std::fabs(a.re) > kTanhSaturate) {
        return { std::copysign(1.0, a.re), std::copysign(0.0, t) };
    }
    const double s = std::sinh(a.re);
    const double b = s * (1.0 + t * t);
    const double dv = 1.0 + b * s;
    return { std::sqrt(1.0 + s * s) * b / dv, t / dv };
}

// tan z = -i tanh(i z).
Complex Tan(Complex a)
{
    const Complex u = Tanh({ -a.im, a.re });
    return { u.im, -u.re };
}

int32_t SaturateExponent(double x)
{
    constexpr double kMin = -2147483648.0;
    constexpr double kMax = 2147483647.0;
    if (x >= kMin && x <= kMax) {
        return static_cast<int32_t>(x);
    }
    if (std::isnan(x)) {
        return 0;
    }
    const double rest = std::fmod(x, 2.0); // NaN for an infinity, which counts as even.
    const bool odd = rest == 1.0 || rest == -1.0;
    if (x > 0.0) {
        return odd ? 2147483647 : 2147483646;
    }
    return odd ? -2147483647 : INT32_MIN;
}

Complex Pow(Complex a, Complex b)
{
    // A complex exponent (a NaN imaginary part counts as one).
    if (!(b.im == 0.0)) {
        if (!(a.im == 0.0)) {
            return Exp(Mul(b, Log(a)));
        }
        if (a.re > 0.0) {
            const double l = std::log(a.re);
            return Exp({ b.re * l, b.im * l });
        }
        return Exp(Mul(b, Log({ a.re, 0.0 })));
    }
    const double x = b.re;
    // A real exponent that is not a whole number (a NaN exponent falls here).
    if (std::floor(x) != x) {
        if (a.im == 0.0 && a.re > 0.0) {
            return { std::pow(a.re, x), 0.0 };
        }
        // The product (x + 0i) * log(a) written out, zero terms included, so NaN and infinity
        // behave as a complex product does.
        const Complex l = Log(a);
        return Exp({ x * l.re - l.im * 0.0, x * l.im + l.re * 0.0 });
    }
    // A whole exponent: binary powering, exact for small integers ((-8) ^ 2 is 64).
    const int32_t n = SaturateExponent(x);
    uint32_t m = n < 0 ? static_cast<uint32_t>(-static_cast<int64_t>(n)) : static_cast<uint32_t>(n);
    Complex r { 1.0, 0.0 };
    Complex base = a;
    for (;;) {
        if (m & 1u) {
            r = Mul(r, base);
        }
        if (m < 2) {
            break;
        }
        base = Mul(base, base);
        m /= 2;
    }
    return n < 0 ? Div({ 1.0, 0.0 }, r) : r;
}
