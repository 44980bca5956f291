#include "complex.h"

#include "complexfunctions.h"

using namespace elementary;

namespace {

// One lane: the scalar evaluator runs the very code of the vector kernels.
using V1 = double __attribute__((vector_size(8)));
using C1 = ComplexV<V1>;

C1 In(Complex a) { return { V1 { a.re }, V1 { a.im } }; }
Complex Out(C1 a) { return { a.re[0], a.im[0] }; }

} // namespace

ScaledModulus ScaledAbs(Complex a)
{
    const ScaledModulusV<V1> m = ScaledAbsV(In(a));
    return { m.scaled[0], static_cast<int>(m.exponent[0]) };
}

Complex Abs(Complex a) { return Out(AbsV(In(a))); }
Complex Arg(Complex a) { return Out(ArgV(In(a))); }
Complex Exp(Complex a) { return Out(ExpV(In(a))); }
Complex Log(Complex a) { return Out(LogV(In(a))); }
Complex Log10(Complex a) { return Out(Log10V(In(a))); }
Complex Sqrt(Complex a) { return Out(SqrtV(In(a))); }
Complex Sin(Complex a) { return Out(SinV(In(a))); }
Complex Cos(Complex a) { return Out(CosV(In(a))); }
Complex Tan(Complex a) { return Out(TanV(In(a))); }
Complex Sinh(Complex a) { return Out(SinhV(In(a))); }
Complex Cosh(Complex a) { return Out(CoshV(In(a))); }
Complex Tanh(Complex a) { return Out(TanhV(In(a))); }

namespace realfn {
double Exp(double x) { return elementary::Exp(V1 { x })[0]; }
double Expm1(double x) { return elementary::Expm1(V1 { x })[0]; }
double Log(double x) { return elementary::Log(V1 { x })[0]; }
double Log1p(double x) { return elementary::Log1p(V1 { x })[0]; }
double Sin(double x)
{
    V1 s, c;
    SinCos(V1 { x }, s, c);
    return s[0];
}
double Cos(double x)
{
    V1 s, c;
    SinCos(V1 { x }, s, c);
    return c[0];
}
double Cosh(double x)
{
    V1 s, c;
    SinhCosh(V1 { x }, s, c);
    return c[0];
}
double Atan2(double y, double x) { return elementary::Atan2(V1 { y }, V1 { x })[0]; }
double Hypot(double x, double y) { return elementary::Hypot(V1 { x }, V1 { y })[0]; }
double Pow(double x, double y)
{
    if (x > 0.0 || x != x) {
        return PowPositive(V1 { x }, V1 { y })[0];
    }
    if (x == 0.0) { // the C rules: 0 for a positive exponent, +inf for a negative one
        return y > 0.0 ? 0.0 : y < 0.0 ? kInf : 1.0;
    }
    return ::Pow({ x, 0.0 }, { y, 0.0 }).re;
}
} // namespace realfn

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
            const double l = realfn::Log(a.re);
            return Exp({ b.re * l, b.im * l });
        }
        return Exp(Mul(b, Log({ a.re, 0.0 })));
    }
    const double x = b.re;
    // A real exponent that is not a whole number (a NaN exponent falls here).
    if (std::floor(x) != x) {
        if (a.im == 0.0 && a.re > 0.0) {
            return { realfn::Pow(a.re, x), 0.0 };
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
