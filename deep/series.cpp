#include "series.h"

#include "smoothness.h"

#include "opcodes.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kRounding = kModelRounding;

ExComplex Real(double x) { return ex::FromReal(x); }
bool Less(const ExComplex& a, const ExComplex& b) { return ex::Sub(a, b).re < 0.0; }
double Size(Complex a) { return realfn::Hypot(a.re, a.im); }

bool IsZero(const PairModel& m)
{
    return ex::IsZero(CPairDisc::Rest(m))
        && std::all_of(m.c.begin(), m.c.end(), [](const ExComplex& c) { return ex::IsZero(c); });
}

template <class Model> bool IsZero(const Model& m)
{
    return ex::IsZero(m.err)
        && std::all_of(m.c.begin(), m.c.end(), [](const ExComplex& c) { return ex::IsZero(c); });
}

} // namespace

std::array<ExComplex, kSkipTerms> DiscPowers(const ExComplex& radius)
{
    std::array<ExComplex, kSkipTerms> reach;
    reach[0] = radius;
    for (int k = 1; k < kSkipTerms; ++k) {
        reach[k] = ex::Mul(reach[k - 1], radius);
    }
    return reach;
}

CModelDisc::CModelDisc(const ExComplex& radius)
    : m_reach(DiscPowers(radius))
{
}

ExComplex CModelDisc::PolynomialBound(const TaylorModel& m) const
{
    ExComplex sum {};
    for (int k = 0; k < kSkipTerms; ++k) {
        sum = ex::Add(sum, ex::Mul(SizeBound(m.c[k]), m_reach[k]));
    }
    return sum;
}

ExComplex CModelDisc::Lead(const TaylorModel& m) const
{
    for (int k = 0; k < kSkipTerms; ++k) {
        if (!ex::IsZero(m.c[k])) {
            return ex::Mul(SizeBound(m.c[k]), m_reach[k]);
        }
    }
    return {};
}

TaylorModel CModelDisc::Sum(const TaylorModel& a, const TaylorModel& b, double sign) const
{
    TaylorModel r;
    for (int k = 0; k < kSkipTerms; ++k) {
        r.c[k] = ex::Add(a.c[k], ex::Scale(b.c[k], sign));
    }
    r.err = ex::Add(ex::Add(a.err, b.err), ex::Scale(PolynomialBound(r), kRounding));
    return r;
}

TaylorModel CModelDisc::Scaled(const TaylorModel& a, Complex f) const
{
    const ExComplex e = ex::From(f);
    TaylorModel r;
    for (int k = 0; k < kSkipTerms; ++k) {
        r.c[k] = ex::Mul(a.c[k], e);
    }
    r.err = ex::Add(ex::Scale(a.err, Size(f)), ex::Scale(PolynomialBound(r), kRounding));
    return r;
}

Coefficients CModelDisc::Truncated(const Coefficients& a, const Coefficients& b, ExComplex& dropped) const
{
    Coefficients r {};
    dropped = {};
    // Beyond the last term kept (i + j + 1 >= kSkipTerms): at most |a_i| r^(i+1) |b_j| r^(j+1) each on
    // the disc, summed as |a_i| r^(i+1) times the tail of b's from j = kSkipTerms - 1 - i.
    std::array<ExComplex, kSkipTerms + 1> tailB {};
    for (int j = kSkipTerms - 1; j >= 0; --j) {
        tailB[j] = ex::Add(tailB[j + 1], ex::Mul(SizeBound(b[j]), m_reach[j]));
    }
    for (int i = 0; i < kSkipTerms; ++i) {
        if (ex::IsZero(a[i])) {
            continue;
        }
        // a_i a^(i+1) times b_j a^(j+1) lands on the term of a^(i+j+2), index i + j + 1.
        for (int j = 0; i + j + 1 < kSkipTerms; ++j) {
            r[i + j + 1] = ex::Add(r[i + j + 1], ex::Mul(a[i], b[j]));
        }
        dropped = ex::Add(dropped, ex::Mul(ex::Mul(SizeBound(a[i]), m_reach[i]), tailB[kSkipTerms - 1 - i]));
    }
    return r;
}

TaylorModel CModelDisc::Product(
    const ExComplex& eA, const TaylorModel& a, const ExComplex& eB, const TaylorModel& b) const
{
    ExComplex dropped;
    const Coefficients ab = Truncated(a.c, b.c, dropped);
    TaylorModel r;
    for (int k = 0; k < kSkipTerms; ++k) {
        r.c[k] = ex::Add(ex::Add(ex::Mul(eA, b.c[k]), ex::Mul(a.c[k], eB)), ab[k]);
    }
    // A eb + B ea + the dropped terms + |a| eb + |b| ea + ea eb.
    ExComplex err = ex::Add(ex::Mul(b.err, ex::Abs(eA)), ex::Mul(a.err, ex::Abs(eB)));
    err = ex::Add(err, dropped);
    err = ex::Add(err, ex::Mul(PolynomialBound(a), b.err));
    err = ex::Add(err, ex::Mul(PolynomialBound(b), a.err));
    err = ex::Add(err, ex::Mul(a.err, b.err));
    r.err = ex::Add(err, ex::Scale(PolynomialBound(r), kRounding));
    return r;
}

TaylorModel CModelDisc::Composed(const std::array<Complex, kSkipTerms>& g, const TaylorModel& s, double rho,
    double lipschitzRho, double slopeNear) const
{
    TaylorModel r;
    Coefficients power = s.c;
    const ExComplex polynomial = PolynomialBound(s);
    ExComplex dropped {};
    ExComplex powerDropped {}; // what truncation took from this power of s's polynomial
    for (int m = 0; m < kSkipTerms; ++m) {
        const ExComplex e = ex::From(g[m]);
        for (int k = 0; k < kSkipTerms; ++k) {
            r.c[k] = ex::Add(r.c[k], ex::Mul(power[k], e));
        }
        dropped = ex::Add(dropped, ex::Scale(powerDropped, Size(g[m])));
        if (m + 1 < kSkipTerms) {
            // The next power: what this one dropped, times s, is dropped too.
            ExComplex now;
            power = Truncated(power, s.c, now);
            powerDropped = ex::Add(now, ex::Mul(powerDropped, polynomial));
        }
    }
    // The terms of f beyond the sixth: |g_m| <= M / rho^(m+1) with M = lipschitz(rho) rho, so at most
    // M (S / rho)^7 / (1 - S / rho) over |s| <= S.
    const ExComplex share = ex::Scale(ex::Add(polynomial, s.err), 1.0 / rho); // S / rho, below 1
    ExComplex tail = Real(lipschitzRho * rho / (1.0 - ex::ToComplex(share).re));
    for (int k = 0; k <= kSkipTerms; ++k) {
        tail = ex::Mul(tail, share);
    }
    ExComplex err = ex::Add(dropped, ex::Scale(s.err, slopeNear));
    err = ex::Add(err, tail);
    r.err = ex::Add(err, ex::Scale(PolynomialBound(r), kRounding));
    return r;
}

namespace {

// Whether a comparison gives every pixel the reference's truth: each part's exact difference lies
// farther from 0 than the operands' offsets reach.
bool Decided(const ExComplex& diff, const ExComplex& reach)
{
    const ExComplex re = ex::Abs(ex::RealOf(diff));
    const ExComplex im = ex::Abs(ex::ImagOf(diff));
    if (ex::IsZero(reach)) {
        return true;
    }
    return !std::isnan(diff.re) && !std::isnan(diff.im) && Less(reach, re) && Less(reach, im);
}

// f(A + s) - f(A) for a function or a power with a shared exponent; false where some pixel's operand
// may reach a singularity or a branch cut.
template <class Disc, class Model>
bool Function(const Disc& disc, const Operation& op, const Model& s, Model& out)
{
    const double reach = ex::ToComplex(disc.Bound(s)).re;
    // Room to spare on both sides, so that the estimates below stay finite.
    if (!(reach < 0.5 * BranchRadius(op)) || !(reach < 0.25 * AnalyticRadius(op))) {
        return false;
    }
    const double rho = std::min(1.0, 0.5 * AnalyticRadius(op));
    const double near = Lipschitz(op, reach);
    const double far = Lipschitz(op, rho, Cut::Continued);
    if (!std::isfinite(near) || !std::isfinite(far)) {
        return false;
    }
    out = disc.Composed(TaylorOf(op), s, rho, far, near);
    return true;
}

// A whole power by binary powering of models: (A + s)^n - A^n, n >= 1.
template <class Disc, class Model>
Model WholePower(const Disc& disc, const ExComplex& A, const Model& s, int n)
{
    ExComplex r = ex::FromReal(1.0);
    Model dr {};
    ExComplex base = A;
    Model dbase = s;
    unsigned m = static_cast<unsigned>(n);
    for (;;) {
        if (m & 1u) {
            dr = disc.Product(r, dr, base, dbase);
            r = ex::Mul(r, base);
        }
        if (m < 2) {
            return dr;
        }
        dbase = disc.Product(base, dbase, base, dbase);
        base = ex::Mul(base, base);
        m /= 2;
    }
}

template <class Disc, class Model>
bool Power(const Disc& disc, const BatchInstruction& in, const ReferenceOperands& ref, const Model& a,
    const Model& b, Model& out)
{
    const Complex A = ref.A;
    const Complex B = ref.B;
    const Complex R = ref.R;
    if (in.opcode == kOpPow && !IsZero(b)) {
        return false; // an exponent that moves: not complex-differentiable in the pixel alone
    }
    const Operation op { in.opcode, A, R, B, in.exponent };
    const bool whole
        = in.opcode == kBatchOpPowWhole || (B.im == 0.0 && std::floor(B.re) == B.re && std::fabs(B.re) < 1e9);
    if (!whole) {
        return Function(disc, op, a, out);
    }
    const int n = in.opcode == kBatchOpPowWhole ? in.exponent : static_cast<int>(B.re);
    if (n == 0) {
        out = {};
        return true;
    }
    const Model positive = WholePower(disc, ref.wideA, a, n < 0 ? -n : n);
    if (n > 0) {
        out = positive;
        return true;
    }
    // 1 / (P + p) - 1 / P with P = A^|n|.
    const Complex P = R.re == 0.0 && R.im == 0.0 ? Complex {} : Div({ 1.0, 0.0 }, R);
    const Operation reciprocal { kBatchOpPowWhole, P, R, { -1.0, 0.0 }, -1 };
    return Function(disc, reciprocal, positive, out);
}

// The operations both kinds of model share; false for the rest.
template <class Disc, class Model>
bool CommonModel(const Disc& disc, const BatchInstruction& in, const ReferenceOperands& ref, const Model& a,
    const Model& b, Model& out)
{
    const Complex A = ref.A;
    const Complex B = ref.B;
    const Complex R = ref.R;
    if (IsZero(a) && IsZero(b)) {
        out = {}; // every pixel's operands are the reference's
        return true;
    }
    const auto finite = [](Complex c) { return std::isfinite(c.re) && std::isfinite(c.im); };
    if (!finite(A) || !finite(B) || !finite(R)) {
        return false;
    }
    if (in.opcode == kBatchOpPowWhole) {
        return Power(disc, in, ref, a, b, out);
    }
    switch (static_cast<Op>(in.opcode)) {
    case kOpNeg: out = disc.Scaled(a, { -1.0, 0.0 }); return true;
    case kOpAdd: out = disc.Sum(a, b, 1.0); return true;
    case kOpSub: out = disc.Sum(a, b, -1.0); return true;
    case kOpCopy: out = a; return true;
    case kOpMul: out = disc.Product(ref.wideA, a, ref.wideB, b); return true;
    case kOpDiv: {
        // (A + a) / (B + b) - A / B = (A + a)(1 / B + h) - A / B, h = 1 / (B + b) - 1 / B.
        const Complex inverse = Div({ 1.0, 0.0 }, B);
        Model h;
        if (!Function(disc, { kBatchOpPowWhole, B, inverse, { -1.0, 0.0 }, -1 }, b, h)) {
            return false;
        }
        out = disc.Product(ref.wideA, a, ex::From(inverse), h);
        return true;
    }
    case kOpPow: return Power(disc, in, ref, a, b, out);
    case kOpEq:
    case kOpLt:
    case kOpLe:
    case kOpGt:
    case kOpGe:
    case kOpNe: out = {}; return Decided(ref.diff, ex::Add(disc.Bound(a), disc.Bound(b)));
    case kOpImag:
    case kOpOpen:
    case kOpClose:
    case kOpAbs:
    case kOpArg:
    case kOpConj:
    case kOpReal:
    case kOpImagFn:
    case kOpNorm:
    case kOpExp:
    case kOpLog:
    case kOpLog10:
    case kOpSqrt:
    case kOpSin:
    case kOpCos:
    case kOpTan:
    case kOpSinh:
    case kOpCosh:
    case kOpTanh:
    case kOpEnd:
    case kOpCount: break;
    }
    if (IsZero(a)) {
        out = {}; // a function of a value every pixel shares
        return true;
    }
    // Only the complex-differentiable functions: abs, arg, conj, real, imag and norm are not.
    if (in.opcode >= kFirstFunction && in.opcode <= kLastFunction && kOpTraits[in.opcode].holomorphic) {
        return Function(disc, { in.opcode, A, R, B, 0 }, a, out);
    }
    return false;
}

} // namespace

bool ModelOf(const CModelDisc& disc, const BatchInstruction& in, const ReferenceOperands& ref,
    const TaylorModel& a, const TaylorModel& b, TaylorModel& out)
{
    return CommonModel(disc, in, ref, a, b, out);
}

ReferenceOperands OperandsAt(const ProgramRecord& record, int n, size_t k)
{
    const size_t at = static_cast<size_t>(n) * static_cast<size_t>(record.instructions) + k;
    ReferenceOperands ref { record.a[at], record.b[at], record.r[at], {}, {}, {}, {} };
    if (const ProgramRecord::Tiny* tiny = record.TinyAt(n, at)) {
        ref.wideA = tiny->a;
        ref.wideB = tiny->b;
        ref.wideR = tiny->r;
    } else {
        ref.wideA = ex::From(ref.A);
        ref.wideB = ex::From(ref.B);
        ref.wideR = ex::From(ref.R);
    }
    ref.diff = ref.wideA; // a comparison's record: its exact difference
    return ref;
}

namespace {

// |A + s| - |A| for an operand that is real for every pixel: s with A's sign, while no pixel's operand
// reaches 0; for any other, sqrt(N + n) - sqrt(N) of its norm N + n.
bool Modulus(const CPairDisc& disc, const ReferenceOperands& ref, const PairModel& s, PairModel& out)
{
    if ((s.real || IsZero(s)) && ref.wideA.im == 0.0) {
        // Below the rounded reference by more than its rounding: below the exact one too.
        if (!Less(disc.Bound(s), ex::Scale(ex::Abs(ref.wideA), 1.0 - 0x1p-50))) {
            return false; // some pixel's sign may differ from the reference's
        }
        out = disc.Scaled(s, { ref.wideA.re < 0.0 ? -1.0 : 1.0, 0.0 });
        out.real = true;
        return true;
    }
    const PairModel norm = disc.Product(ex::Conj(ref.wideA), disc.Conj(s), ref.wideA, s);
    const Complex N { ref.A.re * ref.A.re + ref.A.im * ref.A.im, 0.0 };
    if (!(N.re > 0.0) || !std::isfinite(N.re)) {
        return false;
    }
    if (!Function(disc, { kOpSqrt, N, { std::sqrt(N.re), 0.0 }, {}, 0 }, norm, out)) {
        return false;
    }
    out.real = true;
    return true;
}

} // namespace

bool ModelOf(const CPairDisc& disc, const BatchInstruction& in, const ReferenceOperands& ref,
    const PairModel& a, const PairModel& b, PairModel& out)
{
    if (IsZero(a) || in.opcode == kBatchOpPowWhole || !ex::IsFinite(ref.wideA)) {
        return CommonModel(disc, in, ref, a, b, out);
    }
    switch (in.opcode) {
    case kOpConj: out = disc.Conj(a); return true;
    case kOpReal: out = disc.RealPart(a); return true;
    case kOpImagFn: out = disc.ImagPart(a); return true;
    case kOpImag: out = disc.Scaled(disc.Conj(a), { 0.0, 1.0 }); return true; // (re, im) to (im, re)
    case kOpNorm:
        out = disc.Product(ex::Conj(ref.wideA), disc.Conj(a), ref.wideA, a);
        out.real = true;
        return true;
    case kOpAbs: return Modulus(disc, ref, a, out);
    default: return CommonModel(disc, in, ref, a, b, out);
    }
}
