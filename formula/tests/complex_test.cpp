#include "complex.h"

#include <gtest/gtest.h>

#include <bit>
#include <complex>
#include <cstring>
#include <limits>
#include <numbers>

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kPi = std::numbers::pi;
constexpr uint64_t kNaNBits = 0x7FF8000000000000ull;

// Exact: the same bits, so that the sign of a zero and the NaN pattern count.
testing::AssertionResult SameBits(const char* text, Complex got, Complex want)
{
    if (std::bit_cast<uint64_t>(got.re) == std::bit_cast<uint64_t>(want.re)
        && std::bit_cast<uint64_t>(got.im) == std::bit_cast<uint64_t>(want.im)) {
        return testing::AssertionSuccess();
    }
    return testing::AssertionFailure()
        << text << ": got (" << got.re << ", " << got.im << "), want (" << want.re << ", " << want.im << ")";
}

bool Close(double got, double want, double tolerance)
{
    if (std::isnan(want)) {
        return std::isnan(got);
    }
    if (std::isinf(want) || want == got) {
        return got == want;
    }
    return std::fabs(got - want) <= tolerance * std::max(1.0, std::fabs(want));
}

testing::AssertionResult Near(const char* text, Complex got, Complex want, double tolerance)
{
    if (tolerance == 0.0) {
        return SameBits(text, got, want);
    }
    if (Close(got.re, want.re, tolerance) && Close(got.im, want.im, tolerance)) {
        return testing::AssertionSuccess();
    }
    return testing::AssertionFailure()
        << text << ": got (" << got.re << ", " << got.im << "), want (" << want.re << ", " << want.im << ")";
}

struct BinaryRow {
    const char* text;
    Complex (*op)(Complex, Complex);
    Complex a, b, want;
    double tolerance; // 0: the same bits
};

TEST(Complex, Arithmetic)
{
    const BinaryRow rows[] = {
        { "1 + 2i plus 3 - 1i", Add, { 1, 2 }, { 3, -1 }, { 4, 1 }, 0 },
        { "1 + 2i minus 3 - 1i", Sub, { 1, 2 }, { 3, -1 }, { -2, 3 }, 0 },
        { "(1 + 2i)(3 - 1i)", Mul, { 1, 2 }, { 3, -1 }, { 5, 5 }, 0 },
        { "plain product, no special infinity rule", Mul, { kInf, 0 }, { 0, 1 }, { kNaN, kInf }, 1e-15 },
        { "1 / 0 is the NaN result", Div, { 1, 0 }, { 0, 0 }, kNaNResult, 0 },
        { "0 / 0 is the NaN result", Div, { 0, 0 }, { 0, 0 }, kNaNResult, 0 },
        { "x / NaN is the NaN result", Div, { 1, 1 }, { 1, kNaN }, kNaNResult, 0 },
        { "x / -0 is the NaN result", Div, { 1, 1 }, { -0.0, -0.0 }, kNaNResult, 0 },
        { "(1 + 1i) / 2i", Div, { 1, 1 }, { 0, 2 }, { 0.5, -0.5 }, 0 },
        { "(5 + 5i) / (3 - 1i)", Div, { 5, 5 }, { 3, -1 }, { 1, 2 }, 1e-15 },
        { "Smith's scaling keeps 1e300 divisors finite", Div, { 1e300, 1e300 }, { 1e300, 1e300 }, { 1, 0 },
            0 },
        { "(1 + 5i) < (2 + 3i)", Less, { 1, 5 }, { 2, 3 }, { 1, 0 }, 0 },
        { "(3 + 1i) > (1 + 0i)", Greater, { 3, 1 }, { 1, 0 }, { 1, 1 }, 0 },
        { "(2 + 2i) >= (2 + 3i)", GreaterEqual, { 2, 2 }, { 2, 3 }, { 1, 0 }, 0 },
        { "(2 + 2i) <= (2 + 1i)", LessEqual, { 2, 2 }, { 2, 1 }, { 1, 0 }, 0 },
        { "(1 + 5i) == (1 + 5i)", Equal, { 1, 5 }, { 1, 5 }, { 1, 0 }, 0 },
        { "(1 + 5i) == (1 + 6i)", Equal, { 1, 5 }, { 1, 6 }, { 0, 0 }, 0 },
        { "(1 + 5i) != (1 + 6i)", NotEqual, { 1, 5 }, { 1, 6 }, { 1, 0 }, 0 },
        { "(1 + 5i) != (1 + 5i)", NotEqual, { 1, 5 }, { 1, 5 }, { 0, 0 }, 0 },
        { "NaN never compares equal", Equal, { kNaN, 0 }, { kNaN, 0 }, { 0, 0 }, 0 },
        { "NaN differs", NotEqual, { kNaN, 0 }, { kNaN, 0 }, { 1, 0 }, 0 },
        { "an ordered comparison with NaN is 0 for that part", Less, { kNaN, 1 }, { 1, 2 }, { 0, 1 }, 0 },
        { "+0 equals -0", Equal, { 0.0, -0.0 }, { -0.0, 0.0 }, { 1, 0 }, 0 },
    };
    for (const BinaryRow& row : rows) {
        EXPECT_TRUE(Near(row.text, row.op(row.a, row.b), row.want, row.tolerance));
    }
    EXPECT_EQ(std::bit_cast<uint64_t>(Div({ 1, 0 }, { 0, 0 }).re), kNaNBits);
}

TEST(Complex, Power)
{
    const double sqrt2 = std::pow(2.0, 0.5);
    const BinaryRow rows[] = {
        { "2 ^ 10 on the integer path", Pow, { 2, 0 }, { 10, 0 }, { 1024, 0 }, 0 },
        { "(-8) ^ 2 is exactly 64", Pow, { -8, 0 }, { 2, 0 }, { 64, 0 }, 0 },
        { "(-2) ^ 3", Pow, { -2, 0 }, { 3, 0 }, { -8, 0 }, 0 },
        { "2 ^ -1 divides", Pow, { 2, 0 }, { -1, -0.0 }, { 0.5, 0 }, 0 },
        { "2 ^ 0.5 is the real power", Pow, { 2, 0 }, { 0.5, 0 }, { sqrt2, 0 }, 0 },
        { "(-1 + 0i) ^ 0.5 is about i", Pow, { -1, 0 }, { 0.5, 0 }, { 0, 1 }, 1e-15 },
        { "(-1 - 0i) ^ 0.5 is about -i", Pow, { -1, -0.0 }, { 0.5, 0 }, { 0, -1 }, 1e-15 },
        { "0 ^ 0 is 1", Pow, { 0, 0 }, { 0, 0 }, { 1, 0 }, 0 },
        { "NaN ^ 0 is 1", Pow, { kNaN, kNaN }, { 0, 0 }, { 1, 0 }, 0 },
        { "0 ^ -1 is the NaN result", Pow, { 0, 0 }, { -1, 0 }, kNaNResult, 0 },
        { "0 ^ 2.5 is 0", Pow, { 0, 0 }, { 2.5, 0 }, { 0, 0 }, 0 },
        { "0 ^ -0.5 takes the exponential path: NaN, not pow's inf", Pow, { 0, 0 }, { -0.5, 0 },
            { kNaN, kNaN }, 1e-15 },
        { "i ^ i on the complex path", Pow, { 0, 1 }, { 0, 1 }, { std::exp(-kPi / 2), 0 }, 1e-15 },
        { "2 ^ i with a positive real base", Pow, { 2, 0 }, { 0, 1 },
            { std::cos(std::numbers::ln2), std::sin(std::numbers::ln2) }, 1e-15 },
        { "(-1) ^ i through log(-1 + 0i)", Pow, { -1, 0 }, { 0, 1 }, { std::exp(-kPi), 0 }, 1e-15 },
        { "(1 + i) ^ 0.5 on the real-exponent path", Pow, { 1, 1 }, { 0.5, 0 },
            { 1.0986841134678098, 0.45508986056222733 }, 1e-14 },
        { "a NaN exponent takes the real path", Pow, { 2, 0 }, { kNaN, 0 }, { kNaN, 0 }, 0 },
        { "0.5 ^ 1e10 saturates to an even power", Pow, { 0.5, 0 }, { 1e10, 0 }, { 0, 0 }, 0 },
        { "(-1) ^ 1e10 is 1", Pow, { -1, 0 }, { 1e10, 0 }, { 1, 0 }, 1e-300 },
        { "(-1) ^ (2^31 + 1) stays odd", Pow, { -1, 0 }, { 2147483649.0, 0 }, { -1, 0 }, 1e-300 },
        { "(-1) ^ infinity counts as even", Pow, { -1, 0 }, { kInf, 0 }, { 1, 0 }, 1e-300 },
    };
    for (const BinaryRow& row : rows) {
        EXPECT_TRUE(Near(row.text, row.op(row.a, row.b), row.want, row.tolerance));
    }
}

TEST(Complex, SaturatedExponent)
{
    struct Row {
        double x;
        int32_t want;
    };
    const Row rows[] = { { 5, 5 }, { -7, -7 }, { 2147483647.0, 2147483647 }, { -2147483648.0, INT32_MIN },
        { 2147483648.0, 2147483646 }, { 2147483649.0, 2147483647 }, { 1e10, 2147483646 },
        { -2147483649.0, -2147483647 }, { -1e10, INT32_MIN }, { kInf, 2147483646 }, { -kInf, INT32_MIN } };
    for (const Row& row : rows) {
        EXPECT_EQ(SaturateExponent(row.x), row.want) << row.x;
    }
}

struct UnaryRow {
    const char* text;
    Complex (*fn)(Complex);
    Complex arg, want;
    double tolerance; // 0: the same bits
};

TEST(Complex, Functions)
{
    const UnaryRow rows[] = {
        { "-(1 + 0i) negates both parts", Negate, { 1, 0 }, { -1, -0.0 }, 0 },
        { "suffix i exchanges the parts", SwapParts, { 1, 2 }, { 2, 1 }, 0 },
        { "abs(3 + 4i)", Abs, { 3, 4 }, { 5, 0 }, 0 },
        { "abs(1e300 + 1e300i) does not overflow", Abs, { 1e300, 1e300 }, { 1.4142135623730951e300, 0 },
            1e-15 },
        { "abs(1e-300 + 1e-300i) does not underflow", Abs, { 1e-300, 1e-300 }, { 1.4142135623730951e-300, 0 },
            1e-15 },
        { "abs with an infinite part is +inf", Abs, { kNaN, -kInf }, { kInf, 0 }, 0 },
        { "abs with a NaN part is NaN", Abs, { kNaN, 1 }, { kNaN, 0 }, 0 },
        { "abs(0)", Abs, { 0, 0 }, { 0, 0 }, 0 },
        { "norm is the squared modulus", Norm, { 3, 4 }, { 25, 0 }, 0 },
        { "arg(-1 + 0i) is pi", Arg, { -1, 0 }, { kPi, 0 }, 0 },
        { "arg(-1 - 0i) is -pi", Arg, { -1, -0.0 }, { -kPi, 0 }, 0 },
        { "arg(0)", Arg, { 0, 0 }, { 0, 0 }, 0 },
        { "conj", Conj, { 1, 2 }, { 1, -2 }, 0 },
        { "real", RealPart, { 1, 2 }, { 1, 0 }, 0 },
        { "imag", ImagPart, { 1, 2 }, { 2, 0 }, 0 },
        { "exp(0)", Exp, { 0, 0 }, { 1, 0 }, 0 },
        { "exp of a real overflow keeps im exactly 0", Exp, { 1000, 0 }, { kInf, 0 }, 0 },
        { "exp far below the range is exactly 0", Exp, { -2000, 1 }, { 0, 0 }, 0 },
        { "exp(-inf + NaN i) is 0", Exp, { -kInf, kNaN }, { 0, 0 }, 0 },
        { "exp(i pi)", Exp, { 0, kPi }, { -1, 1.2246467991473532e-16 }, 1e-15 },
        { "exp(710 + 1.5i) is finite though e^710 is not", Exp, { 710, 1.5 },
            { std::cos(1.5) * std::exp(355.0) * std::exp(355.0),
                std::sin(1.5) * std::exp(355.0) * std::exp(355.0) },
            1e-14 },
        { "log from the scaled modulus: finite where |a| overflows", Log, { 1.7e308, 1.7e308 },
            { 710.0734104835082, kPi / 4 }, 1e-15 },
        { "log(-1 + 0i) is pi i", Log, { -1, 0 }, { 0, kPi }, 0 },
        { "log(-1 - 0i) is -pi i", Log, { -1, -0.0 }, { 0, -kPi }, 0 },
        { "log(1) is exactly 0", Log, { 1, 0 }, { 0, 0 }, 0 },
        { "log(0)", Log, { 0, 0 }, { -kInf, 0 }, 0 },
        { "log of an infinite modulus", Log, { -kInf, 0 }, { kInf, kPi }, 0 },
        { "log of NaN is the NaN result", Log, { kNaN, 0 }, kNaNResult, 0 },
        { "log(1e300 + 1e300i)", Log, { 1e300, 1e300 }, { 690.77552789821368 + 0.34657359027997264, kPi / 4 },
            1e-15 },
        { "log10(100)", Log10, { 100, 0 }, { 2, 0 }, 1e-15 },
        { "log10 of NaN keeps the NaN result", Log10, { 1, kNaN }, kNaNResult, 0 },
        { "sqrt(-4) is 2i", Sqrt, { -4, 0 }, { 0, 2 }, 0 },
        { "sqrt(-4 - 1e-300i) is about -2i", Sqrt, { -4, -1e-300 }, { 2.5e-301, -2 }, 1e-15 },
        { "sqrt(-1 - 0i): a zero y of either sign counts as >= 0", Sqrt, { -1, -0.0 }, { -0.0, 1 }, 0 },
        { "sqrt(4)", Sqrt, { 4, 0 }, { 2, 0 }, 0 },
        { "sqrt(3 + 4i)", Sqrt, { 3, 4 }, { 2, 1 }, 0 },
        { "sqrt(0)", Sqrt, { 0, 0 }, { 0, 0 }, 0 },
        { "sqrt with an infinite part is (rho, rho)", Sqrt, { -kInf, 1 }, { kInf, kInf }, 0 },
        { "sqrt with a NaN part is (rho, rho)", Sqrt, { kNaN, 1 }, { kNaN, kNaN }, 0 },
        { "sqrt(1e308 + 1e308i) does not overflow", Sqrt, { 1e308, 1e308 },
            { 1.0986841134678100e154, 4.5508986056222734e153 }, 1e-14 },
        { "tanh saturates without NaN", Tanh, { 400, 1 }, { 1, 0 }, 0 },
        { "tanh saturates below", Tanh, { -400, -1 }, { -1, -0.0 }, 0 },
    };
    for (const UnaryRow& row : rows) {
        EXPECT_TRUE(Near(row.text, row.fn(row.arg), row.want, row.tolerance));
    }
}

// The trigonometric and hyperbolic functions agree with the standard library's complex functions
// where both are well inside the double range.
TEST(Complex, FunctionsMatchTheStandardLibrary)
{
    struct Row {
        const char* text;
        Complex (*fn)(Complex);
        std::complex<double> (*reference)(const std::complex<double>&);
    };
    const Row rows[] = {
        { "exp", Exp, [](const std::complex<double>& z) { return std::exp(z); } },
        { "log", Log, [](const std::complex<double>& z) { return std::log(z); } },
        { "log10", Log10, [](const std::complex<double>& z) { return std::log10(z); } },
        { "sqrt", Sqrt, [](const std::complex<double>& z) { return std::sqrt(z); } },
        { "sin", Sin, [](const std::complex<double>& z) { return std::sin(z); } },
        { "cos", Cos, [](const std::complex<double>& z) { return std::cos(z); } },
        { "tan", Tan, [](const std::complex<double>& z) { return std::tan(z); } },
        { "sinh", Sinh, [](const std::complex<double>& z) { return std::sinh(z); } },
        { "cosh", Cosh, [](const std::complex<double>& z) { return std::cosh(z); } },
        { "tanh", Tanh, [](const std::complex<double>& z) { return std::tanh(z); } },
    };
    const Complex args[]
        = { { 0.5, 0.25 }, { -1.5, 2 }, { 3, -0.75 }, { -0.2, -3.1 }, { 7, 0.5 }, { 0.1, 0 } };
    for (const Row& row : rows) {
        for (const Complex z : args) {
            const std::complex<double> want = row.reference({ z.re, z.im });
            const Complex got = row.fn(z);
            EXPECT_NEAR(got.re, want.real(), 1e-13 * std::max(1.0, std::abs(want)))
                << row.text << '(' << z.re << ", " << z.im << ')';
            EXPECT_NEAR(got.im, want.imag(), 1e-13 * std::max(1.0, std::abs(want)))
                << row.text << '(' << z.re << ", " << z.im << ')';
        }
    }
}

} // namespace
