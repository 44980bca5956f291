#include "arith.h"
#include "delta.h"
#include "deltaforms.h"
#include "deltakernels.h"
#include "opcodes.h"
#include "precise.h"
#include "reference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr mpfr_prec_t kBits = 4000; // offsets of 1e-1000 added to values near 1, with digits to spare

// The exact value of an ExComplex.
BigComplex Exact(const ExComplex& x)
{
    BigComplex v(kBits);
    mpfr_set_d(v.Re(), x.re, MPFR_RNDN);
    mpfr_set_d(v.Im(), x.im, MPFR_RNDN);
    mpfr_mul_2si(v.Re(), v.Re(), x.e, MPFR_RNDN);
    mpfr_mul_2si(v.Im(), v.Im(), x.e, MPFR_RNDN);
    return v;
}

ExComplex ExOf(const BigComplex& v)
{
    long re = 0;
    long im = 0;
    const double mr = mpfr_get_d_2exp(&re, v.Re(), MPFR_RNDN);
    const double mi = mpfr_get_d_2exp(&im, v.Im(), MPFR_RNDN);
    return ex::Add(ex::Normalised(mr, 0.0, re), ex::Swap(ex::Normalised(mi, 0.0, im)));
}

// |x - y| <= tolerance * |y|, in ExComplex.
bool Close(const ExComplex& x, const ExComplex& y, double tolerance)
{
    const ExComplex error = ex::Abs(ex::Sub(x, y));
    if (ex::IsZero(y)) {
        return ex::IsZero(error);
    }
    return ex::Sub(ex::Scale(ex::Abs(y), tolerance), error).re >= 0.0;
}

} // namespace

// Every delta form against the difference of two high-precision evaluations, for offsets from 1e-3
// down to 1e-1000 (below the doubles, in ExComplex), in doubles where they hold the offset.
TEST(DeltaForms, AgreeWithHighPrecisionDifferences)
{
    struct Row {
        int opcode;
        Complex A, B;
        int exponent; // kBatchOpPowWhole only
        bool offsetB; // whether the second operand moves too
    };
    const Row rows[] = {
        { kOpMul, { 0.3, -1.2 }, { -0.7, 0.4 }, 0, true },
        { kOpDiv, { 0.3, -1.2 }, { -0.7, 0.4 }, 0, true },
        { kBatchOpPowWhole, { 0.6, 0.5 }, { 3, 0 }, 3, false },
        { kBatchOpPowWhole, { 0.6, 0.5 }, { -2, 0 }, -2, false },
        { kOpPow, { 0.6, 0.5 }, { 2, 0 }, 0, false },
        { kOpPow, { 0.6, 0.5 }, { 2.5, 0 }, 0, false },
        { kOpPow, { 0.6, 0.5 }, { 1, 0.5 }, 0, true },
        { kOpExp, { 0.4, 2.0 }, {}, 0, false },
        { kOpLog, { -0.4, 2.0 }, {}, 0, false },
        { kOpLog10, { 0.4, -2.0 }, {}, 0, false },
        { kOpSqrt, { -0.4, 2.0 }, {}, 0, false },
        { kOpSin, { 0.4, 0.3 }, {}, 0, false },
        { kOpCos, { 0.4, 0.3 }, {}, 0, false },
        { kOpTan, { 0.4, 0.3 }, {}, 0, false },
        { kOpSinh, { 0.4, 0.3 }, {}, 0, false },
        { kOpCosh, { 0.4, 0.3 }, {}, 0, false },
        { kOpTanh, { 0.4, 0.3 }, {}, 0, false },
        { kOpAbs, { 0.4, -0.3 }, {}, 0, false },
        { kOpNorm, { 0.4, -0.3 }, {}, 0, false },
        { kOpArg, { -0.4, 0.3 }, {}, 0, false },
    };
    const double offsets[] = { 1e-3, 1e-10, 1e-50, 1e-150, 1e-250 };
    const long tinyExponents[] = { -1400, -3400 }; // about 1e-420 and 1e-1000
    const CDeltaProgram program;
    for (const Row& row : rows) {
        BatchInstruction in;
        in.opcode = row.opcode;
        in.a = 0;
        in.b = (row.opcode >= kOpAbs && row.opcode <= kOpTanh) ? -1 : 1;
        in.exponent = row.exponent;
        BigComplex referenceResult(row.A, kBits);
        PreciseOperation(row.opcode, referenceResult, BigComplex(row.B, kBits), row.exponent);
        const Complex R = referenceResult.ToComplex();
        const auto check = [&](const ExComplex& a, const ExComplex& b, bool doubles, const char* what) {
            BigComplex pixel(kBits);
            mpc_add(pixel.get(), BigComplex(row.A, kBits).get(), Exact(a).get(), MPC_RNDNN);
            BigComplex pixelB(kBits);
            mpc_add(pixelB.get(), BigComplex(row.B, kBits).get(), Exact(b).get(), MPC_RNDNN);
            PreciseOperation(row.opcode, pixel, pixelB, row.exponent);
            BigComplex difference(kBits);
            mpc_sub(difference.get(), pixel.get(), referenceResult.get(), MPC_RNDNN);
            const ExComplex expected = ExOf(difference);
            const ExComplex got = doubles
                ? ex::From(program.Delta(in, row.A, row.B, R, ex::ToComplex(a), ex::ToComplex(b)))
                : program.Delta(in, row.A, row.B, R, a, b);
            EXPECT_TRUE(Close(got, expected, 1e-9))
                << kOpSpellings[row.opcode < kOpCount ? row.opcode : kOpPow] << " at " << what << ": got "
                << got.re << "," << got.im << " e" << got.e << " expected " << expected.re << ","
                << expected.im << " e" << expected.e;
        };
        for (const double s : offsets) {
            const ExComplex a = ex::From({ 0.61 * s, -0.37 * s });
            const ExComplex b = row.offsetB ? ex::From({ -0.23 * s, 0.52 * s }) : ExComplex {};
            check(a, b, true, "doubles");
            check(a, b, false, "wide exponents");
        }
        for (const long e : tinyExponents) {
            const ExComplex a = ex::Normalised(0.61, -0.37, e);
            const ExComplex b = row.offsetB ? ex::Normalised(-0.23, 0.52, e) : ExComplex {};
            check(a, b, false, "below the doubles");
        }
    }
}

// A jump across a branch cut is the whole difference: no cancellation, no lost 2 pi i.
TEST(DeltaForms, BranchCutsJump)
{
    const CDeltaProgram program;
    for (const int opcode : { kOpLog, kOpArg, kOpSqrt }) {
        BatchInstruction in;
        in.opcode = opcode;
        const Complex A { -1.0, 1e-20 };
        const Complex a { 0.0, -3e-20 }; // to -1 - 2e-20 i, across the negative real axis
        BigComplex reference(A, kBits);
        PreciseOperation(opcode, reference, reference, 0);
        BigComplex pixel(Complex { -1.0, -2e-20 }, kBits);
        PreciseOperation(opcode, pixel, pixel, 0);
        const Complex expected = Sub(pixel.ToComplex(), reference.ToComplex());
        const Complex got = program.Delta(in, A, A, reference.ToComplex(), a, a);
        EXPECT_NEAR(got.re, expected.re, 1e-12) << kOpSpellings[opcode];
        EXPECT_NEAR(got.im, expected.im, 1e-12) << kOpSpellings[opcode];
        EXPECT_GT(std::fabs(expected.re) + std::fabs(expected.im), 1.0) << kOpSpellings[opcode];
    }
}

// Offsets as large as the reference's value or larger, where the pixel's path to its value may pass
// either side of the origin: each operation keeps the principal branch of its pixel, as the language
// computes it (the jump is 2 pi i only across the negative real axis).
TEST(DeltaForms, LargeOffsetsKeepThePixelsBranch)
{
    struct Row {
        int opcode;
        Complex A, B;
        Complex a;
    };
    const Row rows[] = {
        // Through the upper half plane past the positive real axis: no jump.
        { kOpPow, { 1.26, -0.118 }, { 2.5, 0 }, { -1.415, 1.241 } },
        { kOpLog, { 1.26, -0.118 }, {}, { -1.415, 1.241 } },
        { kOpLog10, { 1.26, -0.118 }, {}, { -1.415, 1.241 } },
        { kOpArg, { 1.26, -0.118 }, {}, { -1.415, 1.241 } },
        { kOpSqrt, { 1.26, -0.118 }, {}, { -1.415, 1.241 } },
        // Across the negative real axis with an offset larger than the value: the jump.
        { kOpPow, { -0.2, 0.1 }, { 2.5, 0 }, { -0.3, -0.4 } },
        { kOpLog, { -0.2, 0.1 }, {}, { -0.3, -0.4 } },
        { kOpArg, { -0.2, 0.1 }, {}, { -0.3, -0.4 } },
        // Through the origin's other side, from the left half plane to the right.
        { kOpPow, { -0.1, 0.5 }, { 1.5, 0 }, { 1.1, -0.9 } },
        { kOpLog, { -0.1, 0.5 }, {}, { 1.1, -0.9 } },
    };
    const CDeltaProgram program;
    for (const Row& row : rows) {
        BatchInstruction in;
        in.opcode = row.opcode;
        in.b = row.opcode == kOpPow ? 1 : -1;
        BigComplex reference(row.A, kBits);
        PreciseOperation(row.opcode, reference, BigComplex(row.B, kBits), 0);
        BigComplex pixel(Add(row.A, row.a), kBits);
        PreciseOperation(row.opcode, pixel, BigComplex(row.B, kBits), 0);
        const Complex expected = Sub(pixel.ToComplex(), reference.ToComplex());
        const Complex got = program.Delta(in, row.A, row.B, reference.ToComplex(), row.a, {});
        const ExComplex wide
            = program.Delta(in, row.A, row.B, reference.ToComplex(), ex::From(row.a), ExComplex {});
        for (const Complex value : { got, ex::ToComplex(wide) }) {
            EXPECT_NEAR(value.re, expected.re, 1e-12 * (1 + std::fabs(expected.re)))
                << kOpSpellings[row.opcode];
            EXPECT_NEAR(value.im, expected.im, 1e-12 * (1 + std::fabs(expected.im)))
                << kOpSpellings[row.opcode];
        }
    }
}

// A reference's record stops at its memory bound (the pixels past it take other references), and
// the reference's own termination is marked where the double renderer's would be.
TEST(Reference, StopsAtItsMemoryBoundAndMarksItsTermination)
{
    CFormula iter;
    CFormula term;
    std::string error;
    ASSERT_EQ(iter.Compile("z = z * z + C;", error), 0) << error;
    ASSERT_EQ(term.Compile("norm(z) > 100;", error), 0) << error;
    iter.SetConstant(iter.FindConstant("C"), { -0.78, -0.15 });
    const CDeltaProgram delta = DeltaProgramOf(iter, term);

    Reference escaping;
    ASSERT_TRUE(BuildReference(delta, BigComplex(Complex { 0.5, 0.5 }, 256), 256, 1000, escaping, {}));
    // The double renderer's count for the same point.
    Complex z { 0.5, 0.5 };
    int count = 0;
    while (z.re * z.re + z.im * z.im <= 100) {
        z = Add(Mul(z, z), Complex { -0.78, -0.15 });
        ++count;
    }
    EXPECT_EQ(escaping.orbit.terminatedAt, count - 1);

    // The bound holds the record and the table of bilinear skips made from it.
    Reference bounded;
    const size_t perRun
        = escaping.orbit.Bytes() / static_cast<size_t>(escaping.orbit.runs) + BlaBytesPerRun(delta);
    ASSERT_TRUE(
        BuildReference(delta, BigComplex(Complex { 0.0, 0.0 }, 256), 256, 1000, bounded, {}, 3 * perRun));
    EXPECT_EQ(bounded.orbit.runs, 3);
    EXPECT_LE(bounded.orbit.Bytes(), 3 * perRun);
    // Near the parabolic point of C = 1/4 the orbit creeps towards 1/2 and never repeats.
    iter.SetConstant(iter.FindConstant("C"), { 0.25, 0.0 });
    const CDeltaProgram creeping = DeltaProgramOf(iter, term);
    ASSERT_TRUE(BuildReference(
        creeping, BigComplex(Complex { 0.4999, 0.0 }, 256), 256, 1000, bounded, {}, 400 * perRun));
    EXPECT_GT(bounded.orbit.runs, 300);
    creeping.PlanSkip(bounded.orbit, ex::FromReal(1e-30), 1000);
    EXPECT_FALSE(bounded.orbit.bla.Empty());
    EXPECT_LE(bounded.orbit.Bytes(), 400 * perRun);
}

// The lanes' square, exp and abs of a real operand against the delta forms (bit for bit, glitch tests
// included), and abs of a real operand against the exact |X + x| - |X|: by its signs it rounds once, so
// a sign crossing far from the reference loses nothing and is no glitch.
TEST(DeltaForms, LaneLoopsAgreeWithTheScalarForms)
{
    struct Row {
        Complex A, a;
    };
    const Row rows[] = {
        { { 1.5, 0.0 }, { 1e-20, 0.0 } },        // same sign
        { { 1.5, 0.0 }, { -1.5 + 1e-12, 0.0 } }, // down to almost 0, same sign
        { { 1.5, 0.0 }, { -1.5 - 3e-13, 0.0 } }, // just across 0
        { { -0.7, 0.0 }, { 2.1, 0.0 } },         // across from below
        { { 0.0, 0.0 }, { -3e-300, 0.0 } },      // a reference on the fold
        { { -0.0, 0.0 }, { 2e-310, 0.0 } },      // a subnormal offset
        { { 1e-300, 0.0 }, { -0.25, 0.0 } },     // a tiny reference value
        { { 0.3, -1.2 }, { -0.3 + 1e-9, 1.2 } }, // complex: the general form and its test
        { { 0.3, 0.0 }, { 0.1, 0.2 } },          // a real reference, a complex offset
        { { 0.6, 0.5 }, { -0.6 + 1e-6, -0.5 } }, // a square whose value drops
        { { 0.6, 0.5 }, { 1e-17, -3e-17 } },     // and one that does not
        { { 0.3, 0.0 }, { 0.0, 1e-9 } },         // exp: cos(1e-9) - 1 is all of the real part
        { { 0.3, 0.0 }, { -7.5, 0.3 } },         // exp: far below the reference's value, a glitch
        { { 0.3, 2.0 }, { 0.0, 0.0 } },          // no offset: +0, whatever the signs of exp(A)
        { { 800.0, 0.0 }, { 1e-3, 0.0 } },       // exp(A) overflows: the general form's glitch
    };
    const DeltaKernels& kernels = ActiveDeltaKernels();
    BatchInstruction abs;
    abs.opcode = kOpAbs;
    BatchInstruction square;
    square.opcode = kBatchOpPowWhole;
    square.exponent = 2;
    constexpr size_t kCount = std::size(rows);
    std::vector<Complex> refA(kCount);
    alignas(64) double ar[kLanes] {}, ai[kLanes] {}, dr[kLanes] {}, di[kLanes] {}, sr[kLanes] {},
        si[kLanes] {};
    alignas(64) double other[kLanes] {}, glitched[kLanes] {};
    size_t runAt[kLanes] {};
    for (size_t l = 0; l < kCount; ++l) {
        refA[l] = rows[l].A;
        runAt[l] = l;
        ar[l] = rows[l].a.re;
        ai[l] = rows[l].a.im;
    }
    const double limit = kGlitchShare * kGlitchShare;
    kernels.fold(refA.data(), runAt, ar, ai, dr, di, other);
    kernels.square(refA.data(), runAt, ar, ai, sr, si, glitched, limit);
    std::vector<Complex> refR(kCount);
    std::transform(refA.begin(), refA.end(), refR.begin(), [](Complex A) { return Exp(A); });
    alignas(64) double er[kLanes] {}, ei[kLanes] {}, expGlitched[kLanes] {}, general[kLanes] {};
    kernels.exp(refA.data(), refR.data(), runAt, ar, ai, er, ei, expGlitched, general);
    for (size_t l = 0; l < kCount; ++l) {
        const Complex A = rows[l].A, a = rows[l].a;
        bool glitch = false;
        const Complex fold = DeltaForm<Complex>(abs, A, {}, {}, a, {}, glitch);
        const bool real = A.im == 0.0 && a.im == 0.0;
        EXPECT_EQ(other[l] != 0.0, !real) << l;
        if (real) {
            EXPECT_FALSE(glitch) << l;
            EXPECT_EQ(dr[l], fold.re) << l;
            EXPECT_EQ(di[l], 0.0) << l;
            BigFloat x(kBits), y(kBits);
            mpfr_set_d(x.get(), A.re, MPFR_RNDN);
            mpfr_add_d(x.get(), x.get(), a.re, MPFR_RNDN);
            mpfr_abs(x.get(), x.get(), MPFR_RNDN);
            mpfr_set_d(y.get(), std::fabs(A.re), MPFR_RNDN);
            mpfr_sub(x.get(), x.get(), y.get(), MPFR_RNDN);
            EXPECT_EQ(dr[l], mpfr_get_d(x.get(), MPFR_RNDN)) << l;
        } else {
            EXPECT_EQ(glitch, l == 7 || l == 9) << l; // the values that drop
        }
        glitch = false;
        const Complex power = DeltaForm<Complex>(square, A, { 2.0, 0.0 }, Mul(A, A), a, {}, glitch);
        EXPECT_EQ(sr[l], power.re) << l;
        EXPECT_EQ(si[l], power.im) << l;
        EXPECT_EQ(glitched[l] != 0.0, glitch) << l;
        // exp: by its series where the offset is below 1, as it stands where it is larger.
        BatchInstruction exp;
        exp.opcode = kOpExp;
        glitch = false;
        const Complex change = DeltaForm<Complex>(exp, A, {}, refR[l], a, {}, glitch);
        EXPECT_EQ(general[l] != 0.0, !std::isfinite(refR[l].re)) << l;
        if (general[l] == 0.0) {
            EXPECT_EQ(std::bit_cast<uint64_t>(er[l]), std::bit_cast<uint64_t>(change.re)) << l;
            EXPECT_EQ(std::bit_cast<uint64_t>(ei[l]), std::bit_cast<uint64_t>(change.im)) << l;
            EXPECT_EQ(expGlitched[l] != 0.0, glitch) << l;
        }
    }
}

// exp(w) - 1 by its series, for the offsets the exp delta meets (|re w|, |im w| <= 1), within two
// units in the last place of its modulus from the exact value, where the parts cancel as well.
TEST(DeltaForms, ExpSeriesIsWithinTwoUlpsOfExact)
{
    const double parts[] = { 0.0, 0x1p-59, 1e-9, 0x1p-5, 0.3, 0.7071, 1.0 };
    for (const double x : parts) {
        for (const double y : parts) {
            for (const Complex w : { Complex { x, y }, Complex { -x, y }, Complex { x * x / 2, y } }) {
                BigComplex exact(w, 256);
                mpc_exp(exact.get(), exact.get(), MPC_RNDNN);
                mpc_sub_ui(exact.get(), exact.get(), 1, MPC_RNDNN);
                BigComplex error(Expm1(w), 256);
                mpc_sub(error.get(), error.get(), exact.get(), MPC_RNDNN);
                const double size
                    = std::hypot(mpfr_get_d(exact.Re(), MPFR_RNDN), mpfr_get_d(exact.Im(), MPFR_RNDN));
                const double off
                    = std::hypot(mpfr_get_d(error.Re(), MPFR_RNDN), mpfr_get_d(error.Im(), MPFR_RNDN));
                if (size == 0.0) {
                    EXPECT_EQ(off, 0.0);
                    continue;
                }
                EXPECT_LE(off, 0x1p-52 * size) << w.re << "," << w.im;
            }
        }
    }
}

// The lanes' whole powers and quotients against the scalar forms, bit for bit with their glitch tests:
// values that drop, offsets of 0, a reference that is not finite, a divisor that reaches 0.
TEST(DeltaForms, LanePowersAndQuotientsAgreeWithTheScalarForms)
{
    struct Row {
        Complex A, a, B, b;
    };
    const double inf = std::numeric_limits<double>::infinity();
    const Row rows[] = {
        { { 0.6, 0.5 }, { 1e-17, -3e-17 }, { 0.3, -0.8 }, { 2e-17, 1e-18 } },
        { { 0.6, 0.5 }, { -0.6 + 1e-6, -0.5 }, { 0.3, -0.8 }, { -0.3 + 1e-7, 0.8 } }, // both drop
        { { -1.25, 0.0 }, { 0.25, 0.0 }, { 2.0, 0.0 }, { -3.0, 0.0 } },      // the divisor's part flips
        { { 0.0, 0.0 }, { 1e-300, 2e-300 }, { 0.0, 1e-3 }, { 0.0, -1e-3 } }, // the divisor reaches 0
        { { 1e200, 0.0 }, { 1.0, 1.0 }, { 1e-200, 0.0 }, { 1e-210, 0.0 } },  // R beyond the doubles
        { { 0.3, 0.4 }, { 0.0, 0.0 }, { 0.7, 0.1 }, { 0.0, 0.0 } },          // nothing moved
        { { 0.3, 0.4 }, { 0.0, 0.0 }, { 0.7, 0.1 }, { 1e-9, 0.0 } },         // only the divisor
        { { inf, 0.0 }, { 1e-3, 0.0 }, { 1.0, 0.0 }, { 0.0, 0.0 } },         // A not finite
        { { 2.5, -1.5 }, { -3.0, 1.0 }, { 0.02, 0.01 }, { 0.5, -0.4 } },     // offsets larger than values
    };
    constexpr size_t kCount = std::size(rows);
    const DeltaKernels& kernels = ActiveDeltaKernels();
    const double limit = kGlitchShare * kGlitchShare;
    size_t runAt[kLanes] {};
    alignas(64) double ar[kLanes] {}, ai[kLanes] {}, br[kLanes] {}, bi[kLanes] {};
    for (size_t l = 0; l < kCount; ++l) {
        runAt[l] = l;
        ar[l] = rows[l].a.re;
        ai[l] = rows[l].a.im;
        br[l] = rows[l].b.re;
        bi[l] = rows[l].b.im;
    }
    const auto expectSame = [&](const char* what, int n, const BatchInstruction& in, const Complex* refB,
                                const Complex* refR, const double* dr, const double* di,
                                const double* glitched) {
        for (size_t l = 0; l < kCount; ++l) {
            bool glitch = false;
            const Complex v = DeltaForm<Complex>(in, rows[l].A, refB[l], refR[l], rows[l].a,
                in.opcode == kOpDiv ? rows[l].b : rows[l].a, glitch);
            // Bit for bit: NaNs alike, and the sign of a zero.
            EXPECT_TRUE(
                std::memcmp(&dr[l], &v.re, sizeof(double)) == 0 || (std::isnan(dr[l]) && std::isnan(v.re)))
                << what << n << " row " << l << ": " << dr[l] << " vs " << v.re;
            EXPECT_TRUE(
                std::memcmp(&di[l], &v.im, sizeof(double)) == 0 || (std::isnan(di[l]) && std::isnan(v.im)))
                << what << n << " row " << l << ": " << di[l] << " vs " << v.im;
            EXPECT_EQ(glitched[l] != 0.0, glitch) << what << n << " row " << l;
        }
    };
    for (const int n : { 3, 4, 5, 7, 12, -1, -2, -3 }) {
        BatchInstruction power;
        power.opcode = kBatchOpPowWhole;
        power.exponent = n;
        std::vector<Complex> refA(kCount), refB(kCount, Complex { static_cast<double>(n), 0.0 }),
            refR(kCount);
        for (size_t l = 0; l < kCount; ++l) {
            refA[l] = rows[l].A;
            refR[l] = Pow(rows[l].A, refB[l]);
        }
        alignas(64) double dr[kLanes] {}, di[kLanes] {}, glitched[kLanes] {};
        kernels.wholePower(n, refA.data(), refB.data(), refR.data(), runAt, ar, ai, dr, di, glitched, limit);
        expectSame("power ", n, power, refB.data(), refR.data(), dr, di, glitched);
    }
    BatchInstruction quotient;
    quotient.opcode = kOpDiv;
    std::vector<Complex> refA(kCount), refB(kCount), refR(kCount);
    for (size_t l = 0; l < kCount; ++l) {
        refA[l] = rows[l].A;
        refB[l] = rows[l].B;
        refR[l] = Div(rows[l].A, rows[l].B);
    }
    alignas(64) double dr[kLanes] {}, di[kLanes] {}, glitched[kLanes] {};
    kernels.quotient(refA.data(), refB.data(), refR.data(), runAt, ar, ai, br, bi, dr, di, glitched, limit);
    expectSame("quotient ", 0, quotient, refB.data(), refR.data(), dr, di, glitched);
}

// A termination that compares the norm (with K > 0), the real part or the imaginary part of z with a
// constant is decided on the pixel's value where it lies clearly off the level, as the exact sign
// says, and left to the exact decision near it; other terminations are not.
TEST(DeltaForms, EscapeDecidedOnTheValueOffTheLevel)
{
    const char* const others[] = { "norm(z) > -1;", "abs(z) > 2;", "real(z) > V_iter_n;", "real(z) < 5;",
        "real(z * z) > 5;", "real(z) > 5 + 0 * z0;" };
    CFormula iter;
    std::string error;
    ASSERT_EQ(iter.Compile("z = z * z + C;", error), 0) << error;
    for (const char* text : others) {
        CFormula term;
        ASSERT_EQ(term.Compile(text, error), 0) << error;
        EXPECT_FALSE(DeltaProgramOf(iter, term).DecidesEscape()) << text;
    }
    struct Case {
        const char* termination;
        double (*level)(Complex);
        double bound;
    };
    const Case cases[] = {
        { "norm(z) > 4;", [](Complex v) { return v.re * v.re + v.im * v.im; }, 4.0 },
        { "real(z) > 50;", [](Complex v) { return v.re; }, 50.0 },
        { "imag(z) >= 0.25;", [](Complex v) { return v.im; }, 0.25 },
    };
    const Complex offset { 1e-3, -2e-3 };
    for (const Case& c : cases) {
        CFormula term;
        ASSERT_EQ(term.Compile(c.termination, error), 0) << error;
        const CDeltaProgram program = DeltaProgramOf(iter, term);
        ASSERT_TRUE(program.DecidesEscape()) << c.termination;
        for (const double re :
            { -60.0, 50.0 * (1 + 0x1p-46), -1.0, 0.0, 0.25, 1.5, 2.0 * (1 + 0x1p-46), 100.0 }) {
            for (const double im : { -3.0, 0.0, 0.25 * (1 + 0x1p-47), 0.5 }) {
                const Complex value { re, im };
                const double level = c.level(value);
                const double decided = program.EscapeDecision(value, offset);
                const double off
                    = std::fabs(level - c.bound) / (std::fabs(level) + std::fabs(c.bound) + 1e-300);
                if (off > 0x1p-36) {
                    EXPECT_EQ(decided, level > c.bound ? 1.0 : -1.0)
                        << c.termination << " at " << re << ", " << im;
                } else if (off < 0x1p-44) {
                    EXPECT_EQ(decided, 0.0) << c.termination << " at " << re << ", " << im;
                }
            }
        }
        EXPECT_EQ(program.EscapeDecision({ NAN, 0.0 }, offset), 0.0) << c.termination;
    }
}
