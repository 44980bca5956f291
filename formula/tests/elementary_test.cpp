#include "batchformula.h"
#include "batchtypes.h"
#include "complex.h"
#include "opcodes.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// A fixed sequence, so that a failure names the same argument every run.
struct Sequence {
    uint64_t state { 0x9e3779b97f4a7c15ull };
    double Unit()
    {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<double>(state >> 11) * 0x1p-53;
    }
    double Uniform(double lo, double hi) { return lo + Unit() * (hi - lo); }
    // Spread evenly over the exponents between lo and hi (both positive).
    double Logarithmic(double lo, double hi) { return std::exp(std::log(lo) + Unit() * std::log(hi / lo)); }
};

// How far a result is from the long double reference, in units of the reference's last place.
double Ulps(double got, long double reference)
{
    const double r = static_cast<double>(reference);
    if ((std::isnan(got) && std::isnan(r)) || got == r) {
        return 0.0;
    }
    const double ulp = std::nextafter(std::fabs(r), kInf) - std::fabs(r);
    return static_cast<double>(std::fabs(static_cast<long double>(got) - reference) / ulp);
}

// Each function against the C library's long double one (11 more bits) over ranges that cover its
// reduction's steps and its overflow edges; the bound is what the kernels promise.
TEST(Elementary, AccuracyInUlps)
{
    using Real = double (*)(double);
    using Reference = long double (*)(long double);
    const struct {
        const char* name;
        Real f;
        Reference reference;
        double lo, hi;
        bool logarithmic;
        double bound;
    } rows[] = {
        { "exp", realfn::Exp, expl, -745.0, 709.7, false, 1.0 },
        { "exp near 0", realfn::Exp, expl, -2.0, 2.0, false, 1.0 },
        { "expm1", realfn::Expm1, expm1l, -1.0, 1.0, false, 2.5 },
        { "expm1 tiny", realfn::Expm1, expm1l, 1e-300, 1e-3, true, 1.0 },
        { "log", realfn::Log, logl, 1e-320, 1e300, true, 1.0 },
        { "log near 1", realfn::Log, logl, 0.5, 2.0, false, 1.0 },
        { "log1p", realfn::Log1p, log1pl, -0.5, 1.0, false, 2.0 },
        { "sin", realfn::Sin, sinl, -10.0, 10.0, false, 1.0 },
        { "sin far out", realfn::Sin, sinl, 1e3, 6e9, true, 1.0 },
        { "cos", realfn::Cos, cosl, -10.0, 10.0, false, 1.0 },
        { "cos far out", realfn::Cos, cosl, 1e3, 6e9, true, 1.0 },
        { "sin huge", realfn::Sin, sinl, 6.7e9, 1e300, true, 1.0 },
        { "cos huge", realfn::Cos, cosl, 6.7e9, 1e300, true, 1.0 },
        { "cosh", realfn::Cosh, coshl, -710.0, 710.0, false, 2.5 },
        { "cosh near 0", realfn::Cosh, coshl, -2.0, 2.0, false, 2.0 },
    };
    for (const auto& row : rows) {
        Sequence s;
        for (int k = 0; k < 20000; ++k) {
            const double x = row.logarithmic ? s.Logarithmic(row.lo, row.hi) : s.Uniform(row.lo, row.hi);
            ASSERT_LE(Ulps(row.f(x), row.reference(x)), row.bound) << row.name << "(" << x << ")";
        }
    }
    // Two arguments: the angle in every quadrant, the modulus, and the power with a large exponent.
    Sequence s;
    for (int k = 0; k < 20000; ++k) {
        const double y = s.Uniform(-1.0, 1.0) * s.Logarithmic(1e-6, 1e6);
        const double x = s.Uniform(-1.0, 1.0) * s.Logarithmic(1e-6, 1e6);
        ASSERT_LE(Ulps(realfn::Atan2(y, x), atan2l(y, x)), 1.5) << "atan2(" << y << ", " << x << ")";
        const double big = s.Logarithmic(1e-300, 1e300);
        const double small = big * s.Logarithmic(1e-20, 1.0);
        ASSERT_LE(Ulps(realfn::Hypot(big, small), hypotl(big, small)), 1.5)
            << "hypot(" << big << ", " << small << ")";
        const double base = s.Logarithmic(1e-100, 1e100);
        const double e = s.Uniform(-3.0, 3.0);
        ASSERT_LE(Ulps(realfn::Pow(base, e), powl(base, e)), 1.5) << "pow(" << base << ", " << e << ")";
        const double near1 = s.Uniform(0.999, 1.001);
        const double large = s.Uniform(-7e5, 7e5);
        ASSERT_LE(Ulps(realfn::Pow(near1, large), powl(near1, large)), 1.5)
            << "pow(" << near1 << ", " << large << ")";
    }
}

bool SameBits(double a, double b) { return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b); }

// The same bits, any NaN standing for any other: which operand's NaN an operation passes on is the
// compiler's choice of operand order, and no pixel tells NaNs apart.
bool SameValue(double a, double b) { return SameBits(a, b) || (std::isnan(a) && std::isnan(b)); }

// The C rules the language keeps for real arguments, and the identities the kernels rely on.
TEST(Elementary, SpecialValues)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double pi = 3.141592653589793;
    const struct {
        const char* name;
        double got, want;
    } rows[] = {
        { "exp(+inf)", realfn::Exp(kInf), kInf },
        { "exp(-inf)", realfn::Exp(-kInf), 0.0 },
        { "exp(710)", realfn::Exp(710.0), kInf },
        { "exp(-746)", realfn::Exp(-746.0), 0.0 },
        { "exp(-745) is the smallest subnormal", realfn::Exp(-745.0), 0x1p-1074 },
        { "log(0)", realfn::Log(0.0), -kInf },
        { "log(+inf)", realfn::Log(kInf), kInf },
        { "log(1)", realfn::Log(1.0), 0.0 },
        { "log of the smallest subnormal", realfn::Log(0x1p-1074), -744.44007192138126 },
        { "log1p(-0)", realfn::Log1p(-0.0), -0.0 },
        { "expm1(-0)", realfn::Expm1(-0.0), -0.0 },
        { "expm1(-inf)", realfn::Expm1(-kInf), -1.0 },
        { "sin(-0)", realfn::Sin(-0.0), -0.0 },
        { "cos(0)", realfn::Cos(0.0), 1.0 },
        { "cosh(800)", realfn::Cosh(800.0), kInf },
        { "atan2(+0, -0)", realfn::Atan2(0.0, -0.0), pi },
        { "atan2(-0, +0)", realfn::Atan2(-0.0, 0.0), -0.0 },
        { "atan2(1, -0)", realfn::Atan2(1.0, -0.0), pi / 2 },
        { "atan2(-1, -inf)", realfn::Atan2(-1.0, -kInf), -pi },
        { "atan2(+inf, -inf)", realfn::Atan2(kInf, -kInf), 3 * pi / 4 },
        { "atan2(-inf, 5)", realfn::Atan2(-kInf, 5.0), -pi / 2 },
        { "hypot(inf, NaN)", realfn::Hypot(kInf, nan), kInf },
        { "hypot(3e-320, 4e-320)", realfn::Hypot(3e-320, 4e-320), 5e-320 },
        { "hypot(3e300, 4e300)", realfn::Hypot(3e300, 4e300), 5e300 },
        { "pow(1, NaN)", realfn::Pow(1.0, nan), 1.0 },
        { "pow(+inf, -0.5)", realfn::Pow(kInf, -0.5), 0.0 },
        { "pow(0, -0.5)", realfn::Pow(0.0, -0.5), kInf },
        { "pow(2, 1100.5)", realfn::Pow(2.0, 1100.5), kInf },
        { "pow(4, 0.5)", realfn::Pow(4.0, 0.5), 2.0 },
    };
    for (const auto& row : rows) {
        EXPECT_TRUE(SameBits(row.got, row.want)) << row.name << ": " << row.got;
    }
    for (const double x : { nan, kInf, -kInf }) {
        EXPECT_TRUE(std::isnan(realfn::Sin(x)) && std::isnan(realfn::Cos(x))) << x;
    }
    EXPECT_TRUE(
        std::isnan(realfn::Log(-1.0)) && std::isnan(realfn::Log(nan)) && std::isnan(realfn::Atan2(nan, 1.0)));
    // Huge arguments of either sign reduce exactly: sin(-x) is -sin(x).
    for (const double x : { 1e10, 3e15, 1e300, 1.7e308 }) {
        EXPECT_TRUE(SameBits(realfn::Sin(-x), -realfn::Sin(x)) && SameBits(realfn::Cos(-x), realfn::Cos(x)))
            << x;
    }
    // abs of a real value is |x| to the bit: the generated code writes it as that.
    Sequence s;
    for (int k = 0; k < 2000; ++k) {
        const double x = s.Uniform(-1.0, 1.0) * s.Logarithmic(0x1p-1074, 1e308);
        EXPECT_TRUE(SameBits(Abs({ x, 0.0 }).re, std::fabs(x))) << x;
        EXPECT_TRUE(SameBits(Abs({ x, -0.0 }).re, std::fabs(x))) << x;
    }
}

// The scalar evaluator's function of a code.
Complex Scalar(int code, Complex z)
{
    Complex (*const functions[])(Complex) = { Abs, Arg, nullptr, nullptr, nullptr, nullptr, Exp, Log, Log10,
        Sqrt, Sin, Cos, Tan, Sinh, Cosh, Tanh };
    return functions[code - kFirstFunction](z);
}

// Every instruction set's vector code of every function gives the scalar evaluator's bits, on
// ordinary arguments and on the edges (zeros of both signs, infinities, NaN, overflow, huge).
TEST(Elementary, SameBitsOnEveryInstructionSet)
{
    const double edges[] = { 0.0, -0.0, 1.0, -1.0, kInf, -kInf, std::numeric_limits<double>::quiet_NaN(),
        709.5, -800.0, 356.0, 1e10, 1e300, 0x1p-1074, 1.5707963267948966 };
    std::vector<Complex> arguments;
    for (const double re : edges) {
        for (const double im : edges) {
            arguments.push_back({ re, im });
        }
    }
    Sequence s;
    while (arguments.size() < 1024) {
        arguments.push_back({ s.Uniform(-20.0, 20.0), s.Uniform(-20.0, 20.0) });
    }
    for (int code = kFirstFunction; code <= kLastFunction; ++code) {
        for (const BatchKernels* kernels : AvailableBatchKernels()) {
            const VectorFunction f = kernels->function(code);
            if (f == nullptr) {
                continue; // conj, real, imag and norm: plain arithmetic
            }
            for (size_t k = 0; k + kernels->vectorLanes <= arguments.size(); k += kernels->vectorLanes) {
                double re[8], im[8], outRe[8], outIm[8];
                for (int l = 0; l < kernels->vectorLanes; ++l) {
                    re[l] = arguments[k + l].re;
                    im[l] = arguments[k + l].im;
                }
                f(re, im, nullptr, nullptr, outRe, outIm);
                for (int l = 0; l < kernels->vectorLanes; ++l) {
                    const Complex want = Scalar(code, arguments[k + l]);
                    ASSERT_TRUE(SameValue(outRe[l], want.re) && SameValue(outIm[l], want.im))
                        << kOpSpellings[code] << arguments[k + l].re << ", " << arguments[k + l].im << ") on "
                        << kernels->name << ": " << outRe[l] << ", " << outIm[l];
                }
            }
        }
    }
}

} // namespace
