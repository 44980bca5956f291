// The C library's elementary functions replaced, for this test program only, by ones that are off in
// the last bits: what a different C library (or its FMA path) would give. A picture that changes
// here depends on the C library. The long double functions, untouched, give the values.
#include <cmath>

namespace {
double Off(long double x) { return static_cast<double>(x * (1.0L + 0x1p-35L)); }
} // namespace

extern "C" {
double sin(double x) { return Off(sinl(x)); }
double cos(double x) { return Off(cosl(x)); }
double tan(double x) { return Off(tanl(x)); }
double sinh(double x) { return Off(sinhl(x)); }
double cosh(double x) { return Off(coshl(x)); }
double tanh(double x) { return Off(tanhl(x)); }
double exp(double x) { return Off(expl(x)); }
double expm1(double x) { return Off(expm1l(x)); }
double log(double x) { return Off(logl(x)); }
double log1p(double x) { return Off(log1pl(x)); }
double log10(double x) { return Off(log10l(x)); }
double log2(double x) { return Off(log2l(x)); }
double exp2(double x) { return Off(exp2l(x)); }
double atan(double x) { return Off(atanl(x)); }
double atan2(double y, double x) { return Off(atan2l(y, x)); }
double hypot(double x, double y) { return Off(hypotl(x, y)); }
double pow(double x, double y) { return Off(powl(x, y)); }
void sincos(double x, double* s, double* c)
{
    *s = Off(sinl(x));
    *c = Off(cosl(x));
}
}

// The replacement must take, or the pins prove nothing here.
#include <gtest/gtest.h>

TEST(PerturbedLibm, ReplacesTheCLibrary)
{
    volatile double x = 0.7;
    EXPECT_NE(std::sin(x), static_cast<double>(sinl(x)));
    EXPECT_NE(std::exp(x), static_cast<double>(expl(x)));
    EXPECT_NE(std::hypot(x, x), static_cast<double>(hypotl(x, x)));
}
