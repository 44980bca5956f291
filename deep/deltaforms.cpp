#include "deltaforms.h"

#include "arith.h"
#include "opcodes.h"

#include <cmath>
#include <numbers>

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kLog10E = 0.4342944819032518;
// A jump across a branch cut is exact, but the offset that made it is lost beside it while the offset is
// below this share of the jump: then the pixel takes another reference.
constexpr double kJumpShare = 1e-9;

bool Finite(Complex a) { return std::isfinite(a.re) && std::isfinite(a.im); }

bool Dropped(Complex full, Complex reference)
{
    const double f = full.re * full.re + full.im * full.im;
    const double r = reference.re * reference.re + reference.im * reference.im;
    return f < kGlitchShare * kGlitchShare * r;
}

template <class N> Complex Full(Complex reference, const N& offset)
{
    return Add(reference, Arith<N>::ToC(offset));
}

template <class N> bool OffsetBelow(const N& offset, double size)
{
    const Complex d = Arith<N>::ToC(offset);
    return realfn::Hypot(d.re, d.im) < size;
}

// The jump of the principal argument (-2 pi, 0 or 2 pi) between the reference's value A and the pixel's
// A + a, for |a| < |A|: the segment between them then misses the origin, and it crosses the negative real
// axis exactly when the signs of the imaginary parts differ and a real part is negative. Decided from
// signs, not from the arguments' sum, which rounds to pi either side of the axis.
template <class N> double CutJump(Complex A, const N& a)
{
    using Ar = Arith<N>;
    // Each part summed alone: a sum of the whole values keeps only the larger's parts when the offset
    // is far smaller, and so loses the offset's imaginary part beside a value on the axis (one whose
    // imaginary part lies below the doubles' range reads 0 there).
    const N pixelRe = Ar::Add(Ar::From({ A.re, 0.0 }), Ar::Re(a));
    const N pixelIm = Ar::Add(Ar::From({ A.im, 0.0 }), Ar::Im(a));
    if (!(A.re < 0.0 || Ar::SignRe(pixelRe) < 0.0)) {
        return 0.0;
    }
    const bool upper = !std::signbit(A.im);
    const bool pixelUpper = !std::signbit(Ar::SignRe(pixelIm));
    if (upper == pixelUpper) {
        return 0.0;
    }
    return upper ? -2 * kPi : 2 * kPi;
}

// log(A + a) - log A, each on its principal branch (A != 0).
template <class N> N LogRatio(Complex A, const N& a, bool& glitch)
{
    using Ar = Arith<N>;
    const Complex d = Ar::ToC(a);
    // From half the value's size on, the pixel's value may lie either side of the origin from the
    // reference's, and the sign rule above no longer tells the jump. The difference of the principal
    // logarithms has no cancellation there: it is at least log 1.5 in size.
    if (d.re * d.re + d.im * d.im >= 0.25 * (A.re * A.re + A.im * A.im)) {
        return Ar::From(Sub(Log(Add(A, d)), Log(A)));
    }
    N L = Small<N, Log1p>(Ar::Div(a, Ar::From(A)));
    const double jump = CutJump(A, a);
    if (jump != 0.0) {
        glitch |= OffsetBelow(L, kJumpShare * 2 * kPi);
        L = Ar::Add(L, Ar::From({ 0.0, jump }));
    }
    return L;
}

template <class N> N Product(Complex A, Complex B, const N& da, const N& db, bool& glitch)
{
    using Ar = Arith<N>;
    {
        glitch
            |= (!Ar::IsZero(db) && Dropped(Full(A, da), A)) || (!Ar::IsZero(da) && Dropped(Full(B, db), B));
    }
    return Ar::Add(Ar::Add(Ar::Mul(Ar::From(A), db), Ar::Mul(da, Ar::From(B))), Ar::Mul(da, db));
}

template <class N> N Quotient(Complex B, Complex R, const N& da, const N& db, bool& glitch)
{
    using Ar = Arith<N>;
    const N divisor = Ar::Add(Ar::From(B), db);
    {
        glitch |= !Ar::IsZero(db) && Dropped(Ar::ToC(divisor), B);
    }
    return Ar::Div(Ar::Sub(da, Ar::Mul(Ar::From(R), db)), divisor);
}

// The truth of a comparison whose operands differ by (x, y) per part.
Complex Verdict(CompareKind kind, double x, double y)
{
    switch (kind) {
    case CompareKind::Eq: return { Truth(x == 0.0 && y == 0.0), 0.0 };
    case CompareKind::Ne: return { Truth(x != 0.0 || y != 0.0), 0.0 };
    case CompareKind::Lt: return { Truth(x < 0.0), Truth(y < 0.0) };
    case CompareKind::Le: return { Truth(x <= 0.0), Truth(y <= 0.0) };
    case CompareKind::Gt: return { Truth(x > 0.0), Truth(y > 0.0) };
    case CompareKind::Ge: return { Truth(x >= 0.0), Truth(y >= 0.0) };
    }
    return {};
}

// A comparison's change: the sign of (A + a) - (B + b) per part decides. The record holds the exact
// difference of the reference's operands as A (and 0 as B).
template <class N> N Comparison(CompareKind kind, Complex A, Complex B, Complex R, const N& da, const N& db)
{
    using Ar = Arith<N>;
    if (Ar::IsZero(da) && Ar::IsZero(db)) {
        return Ar::From({});
    }
    const N diff = Ar::Add(Ar::From(::Sub(A, B)), Ar::Sub(da, db));
    return Ar::From(::Sub(Verdict(kind, Ar::SignRe(diff), Ar::SignIm(diff)), R));
}

// (A + a)^n - A^n by binary powering over (reference, offset) pairs.
template <class N> N WholePower(Complex A, const N& da, int n, bool& glitch)
{
    using Ar = Arith<N>;
    {
        glitch |= (n >= 2 || n < 0) && !Ar::IsZero(da) && Dropped(Full(A, da), A);
    }
    Complex r { 1.0, 0.0 };
    N dr = Ar::From({});
    Complex base = A;
    N dbase = da;
    unsigned m = n < 0 ? 0u - static_cast<unsigned>(n) : static_cast<unsigned>(n);
    for (;;) {
        if (m & 1u) {
            dr = Ar::Add(
                Ar::Add(Ar::Mul(Ar::From(r), dbase), Ar::Mul(dr, Ar::From(base))), Ar::Mul(dr, dbase));
            r = Mul(r, base);
        }
        if (m < 2) {
            break;
        }
        dbase = Ar::Add(
            Ar::Mul(Ar::From(Ar::ToC(Ar::Scale(Ar::From(base), 2.0))), dbase), Ar::Mul(dbase, dbase));
        base = Mul(base, base);
        m /= 2;
    }
    if (n < 0) {
        // 1 / (r + dr) - 1 / r = -dr / (r (r + dr))
        return Ar::Neg(Ar::Div(dr, Ar::Mul(Ar::From(r), Ar::Add(Ar::From(r), dr))));
    }
    return dr;
}

template <class N>
N Power(const BatchInstruction& in, Complex A, Complex B, Complex R, const N& da, const N& db, bool& glitch)
{
    using Ar = Arith<N>;
    const bool whole = in.opcode == kBatchOpPowWhole
        || (Ar::IsZero(db) && B.im == 0.0 && std::floor(B.re) == B.re && std::fabs(B.re) < 2147483647.0);
    if (whole) {
        return WholePower(
            A, da, in.opcode == kBatchOpPowWhole ? in.exponent : static_cast<int>(B.re), glitch);
    }
    // (A + a)^(B + b) = R exp(B L + b (log A + L)), L = log(A + a) - log A.
    if (A.re == 0.0 && A.im == 0.0) {
        glitch = true;
        return Ar::From({});
    }
    const N L = LogRatio(A, da, glitch);
    {
        glitch |= !Ar::IsZero(da) && Dropped(Full(A, da), A);
    }
    const N w = Ar::Add(Ar::Mul(Ar::From(B), L), Ar::Mul(db, Ar::Add(Ar::From(Log(A)), L)));
    return Ar::Mul(Ar::From(R), Small<N, Expm1>(w));
}

// exp(A + a) - exp(A) = exp(A) expm1(a); for a large offset exp(A + a) - exp(A) as it stands, whose
// terms stay in range where the product's would not (a reference value near 0 beside a pixel's of
// some size).
template <class N> N Exponential(Complex A, Complex R, const N& da, bool& glitch)
{
    using Ar = Arith<N>;
    const Complex d = Ar::ToC(da);
    // A pixel's value far below the reference's: their difference holds little of the pixel's.
    glitch |= d.re < -6.9;
    if (Large(d)) {
        return Ar::From(Sub(Exp(Add(A, d)), R));
    }
    return Ar::Mul(Ar::From(R), Small<N, Expm1>(da));
}

// Whether abs() takes a real number at the reference and at the pixel.
template <class N> bool RealOperand(Complex A, const N& da)
{
    return A.im == 0.0 && Arith<N>::SignIm(da) == 0.0 && std::isfinite(A.re);
}

// (|A + a|^2 - |A|^2) / (|A + a| + |A|)
template <class N> N Modulus(Complex A, const N& da)
{
    using Ar = Arith<N>;
    if (RealOperand(A, da)) {
        // A real operand: t a + (t - s) A by the signs s of A and t of A + a, as exact as the offset
        // (a or -a where they agree, else t (a + 2 A) with |A| below |a|). The lanes' fold is the same.
        const double s = A.re >= 0.0 ? 1.0 : -1.0;
        const double t = Ar::SignRe(Ar::Add(Ar::From(A), da)) >= 0.0 ? 1.0 : -1.0;
        return Ar::Add(Ar::Scale(da, t), Ar::From({ (t - s) * A.re, 0.0 }));
    }
    // An offset about as large as the value, or larger (a reference exactly on an axis that abs()
    // folds), has no cancellation to avoid, and its square would underflow the doubles beside a value
    // of 0: |A + a| - |A| as it stands.
    const Complex d = Ar::ToC(da);
    if (std::max(std::fabs(d.re), std::fabs(d.im)) >= 0.5 * std::max(std::fabs(A.re), std::fabs(A.im))) {
        return Ar::Sub(Ar::Abs(Ar::Add(Ar::From(A), da)), Ar::From({ realfn::Hypot(A.re, A.im), 0.0 }));
    }
    const N cross = Ar::Scale(Ar::Re(Ar::Mul(Ar::From(::Conj(A)), da)), 2.0);
    const N numerator = Ar::Add(cross, Ar::Norm(da));
    const N denominator
        = Ar::Add(Ar::Abs(Ar::Add(Ar::From(A), da)), Ar::From({ realfn::Hypot(A.re, A.im), 0.0 }));
    if (Ar::IsZero(denominator)) {
        return Ar::From({});
    }
    return Ar::Re(Ar::Div(numerator, denominator));
}

template <class N> N Argument(Complex A, Complex R, const N& da, bool& glitch)
{
    using Ar = Arith<N>;
    if (Ar::IsZero(da)) {
        return Ar::From({});
    }
    if (A.re == 0.0 && A.im == 0.0) {
        return Ar::From(::Sub(Arg(Full(A, da)), R));
    }
    return Ar::Im(LogRatio(A, da, glitch));
}

template <class N> N Logarithm(int opcode, Complex A, const N& da, bool& glitch)
{
    using Ar = Arith<N>;
    if (A.re == 0.0 && A.im == 0.0) {
        glitch = true;
        return Ar::From({});
    }
    const N L = LogRatio(A, da, glitch);
    {
        // The derivative 1 / z shrinks as the pixel's value grows away from the reference's.
        glitch |= Dropped(A, Full(A, da));
    }
    return opcode == kOpLog ? L : Ar::Scale(L, kLog10E);
}

template <class N> N SquareRoot(Complex A, Complex R, const N& da, bool& glitch)
{
    using Ar = Arith<N>;
    const Complex pixelRoot = Sqrt(Full(A, da));
    if (pixelRoot.re * R.re + pixelRoot.im * R.im < 0.0) {
        // Across the branch cut: a jump, no cancellation, unless the offset is lost beside it.
        glitch |= OffsetBelow(da, kJumpShare * realfn::Hypot(A.re, A.im));
        return Ar::From(::Sub(pixelRoot, R));
    }
    const Complex sum = ::Add(pixelRoot, R);
    if (sum.re == 0.0 && sum.im == 0.0) {
        glitch = true;
        return Ar::From({});
    }
    {
        glitch |= !Ar::IsZero(da) && Dropped(pixelRoot, R);
    }
    return Ar::Div(da, Ar::From(sum));
}

// sin(A + a) - sin A = 2 cos(A + a/2) sin(a/2), and kin.
template <class N> N Periodic(int opcode, Complex A, const N& da, bool& glitch)
{
    using Ar = Arith<N>;
    const N half = Ar::Scale(da, 0.5);
    const Complex middle = Full(A, half);
    const bool trig = opcode == kOpSin || opcode == kOpCos;
    const N small = trig ? Small<N, SinOf>(half) : Small<N, SinhOf>(half);
    const Complex factor = opcode == kOpSin ? Cos(middle)
        : opcode == kOpCos                  ? Negate(Sin(middle))
        : opcode == kOpSinh                 ? Cosh(middle)
                                            : Sinh(middle);
    {
        if (!Ar::IsZero(da)) {
            // The derivative at the pixel against the reference's.
            const Complex p = Full(A, da);
            const auto derivative = [opcode](Complex x) {
                return opcode == kOpSin ? Cos(x)
                    : opcode == kOpCos  ? Sin(x)
                    : opcode == kOpSinh ? Cosh(x)
                                        : Sinh(x);
            };
            glitch |= Dropped(derivative(p), derivative(A));
        }
    }
    return Ar::Mul(Ar::From({ 2 * factor.re, 2 * factor.im }), small);
}

// tan(A + a) - tan A = sin a / (cos A cos(A + a)), and tanh likewise.
template <class N> N Tangent(int opcode, Complex A, const N& da, bool& glitch)
{
    using Ar = Arith<N>;
    const Complex p = Full(A, da);
    const bool tan = opcode == kOpTan;
    const Complex denominator = tan ? Mul(Cos(A), Cos(p)) : Mul(Cosh(A), Cosh(p));
    const N small = tan ? Small<N, SinOf>(da) : Small<N, SinhOf>(da);
    {
        // The derivative 1 / cos^2 shrinks where cos grows.
        glitch |= !Ar::IsZero(da) && (tan ? Dropped(Cos(A), Cos(p)) : Dropped(Cosh(A), Cosh(p)));
    }
    return Ar::Div(small, Ar::From(denominator));
}

} // namespace

template <class N>
N DeltaForm(
    const BatchInstruction& in, Complex A, Complex B, Complex R, const N& da, const N& db, bool& glitch)
{
    using Ar = Arith<N>;
    // The pixel's operands are the reference's: so is its value, whatever the operation does there
    // (log 0 included).
    if (Ar::IsZero(da) && Ar::IsZero(db)) {
        return Ar::From({});
    }
    if (!Finite(A) || !Finite(B) || !Finite(R)) {
        glitch = true;
        return Ar::From({});
    }
    if (in.opcode == kBatchOpPowWhole) {
        return Power(in, A, B, R, da, db, glitch);
    }
    switch (static_cast<Op>(in.opcode)) {
    case kOpNeg: return Ar::Neg(da);
    case kOpAdd: return Ar::Add(da, db);
    case kOpSub: return Ar::Sub(da, db);
    case kOpCopy: return da;
    case kOpImag: return Ar::Swap(da);
    case kOpConj: return Ar::Conj(da);
    case kOpReal: return Ar::Re(da);
    case kOpImagFn: return Ar::Im(da);
    case kOpMul: return Product(A, B, da, db, glitch);
    case kOpDiv: return Quotient(B, R, da, db, glitch);
    case kOpEq:
    case kOpNe:
    case kOpLt:
    case kOpLe:
    case kOpGt:
    case kOpGe: return Comparison(*CompareKindOf(in.opcode), A, B, R, da, db);
    case kOpPow: return Power(in, A, B, R, da, db, glitch);
    case kOpAbs:
        // A real operand's modulus is exact by its signs (see Modulus): it loses no more than real()
        // does, and what follows tests the value where it must. A complex one keeps the test.
        glitch |= !RealOperand(A, da) && Dropped(Full(A, da), A);
        return Modulus(A, da);
    case kOpNorm:
        // A pixel's value far below the reference's: its norm would be the small difference of two large
        // ones.
        glitch |= Dropped(Full(A, da), A);
        return Ar::Add(Ar::Scale(Ar::Re(Ar::Mul(Ar::From(::Conj(A)), da)), 2.0), Ar::Norm(da));
    case kOpArg: return Argument(A, R, da, glitch);
    case kOpExp: return Exponential(A, R, da, glitch);
    case kOpLog:
    case kOpLog10: return Logarithm(in.opcode, A, da, glitch);
    case kOpSqrt: return SquareRoot(A, R, da, glitch);
    case kOpSin:
    case kOpCos:
    case kOpSinh:
    case kOpCosh: return Periodic(in.opcode, A, da, glitch);
    case kOpTan:
    case kOpTanh: return Tangent(in.opcode, A, da, glitch);
    case kOpOpen:
    case kOpClose:
    case kOpEnd:
    case kOpCount: break; // never executed
    }
    return Ar::From({});
}

ExComplex ComparisonDelta(
    CompareKind kind, const ExComplex& diff, Complex R, const ExComplex& a, const ExComplex& b)
{
    if (ex::IsZero(a) && ex::IsZero(b)) {
        return {};
    }
    const ExComplex sum = ex::Add(diff, ex::Sub(a, b));
    return ex::From(::Sub(Verdict(kind, sum.re, sum.im), R));
}

template Complex DeltaForm<Complex>(
    const BatchInstruction&, Complex, Complex, Complex, const Complex&, const Complex&, bool&);
template ExComplex DeltaForm<ExComplex>(
    const BatchInstruction&, Complex, Complex, Complex, const ExComplex&, const ExComplex&, bool&);
