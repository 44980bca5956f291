#include "bla.h"

#include "delta.h"
#include "series.h"
#include "smoothness.h"

#include "opcodes.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>

// The map of one run of the iteration program: for every slot, how its offset moves with the offset
// of z at the start of the run and with the plane offset (two real 2 x 2 matrices), and the largest
// |dz| for which every operation's neglected terms stay below kBlaAccuracy of its kept ones.

namespace {

// No bound: far beyond any offset.
const ExComplex kNoBound { 0.5, 0.0, int64_t { 1 } << 40 };

bool Less(const ExComplex& a, const ExComplex& b) { return ex::Sub(a, b).re < 0.0; }
ExComplex Real(double x) { return ex::FromReal(x); }

struct Linear {
    ExMatrix z[kBlaMaxWidth], c; // the slot's offset = sum z[i] d_i + c dc, to first order
    bool Zero() const
    {
        return c.IsZero()
            && std::all_of(std::begin(z), std::end(z), [](const ExMatrix& m) { return m.IsZero(); });
    }
    bool RealOffset() const
    {
        return c.RealRows()
            && std::all_of(std::begin(z), std::end(z), [](const ExMatrix& m) { return m.RealRows(); });
    }
    // A bound on how much the state's parts (at most |d_i| each) move the slot.
    ExComplex Stretch() const
    {
        ExComplex sum {};
        for (const ExMatrix& m : z) {
            if (!m.IsZero()) {
                sum = ex::Add(sum, m.Size());
            }
        }
        return sum;
    }
};

Linear Times(const ExMatrix& m, const Linear& x)
{
    Linear r;
    for (int i = 0; i < kBlaMaxWidth; ++i) {
        r.z[i] = Mul(m, x.z[i]);
    }
    r.c = Mul(m, x.c);
    return r;
}
Linear Sum(const Linear& x, const Linear& y)
{
    Linear r;
    for (int i = 0; i < kBlaMaxWidth; ++i) {
        r.z[i] = Add(x.z[i], y.z[i]);
    }
    r.c = Add(x.c, y.c);
    return r;
}
Linear Times(const ExComplex& k, const Linear& x) { return Times(ExMatrix::OfComplex(k), x); }
double Size(Complex c) { return realfn::Hypot(c.re, c.im); }
ExMatrix Rows(double a, double b, double c, double d) { return ExMatrix::Normalised({ { a, b, c, d }, 0 }); }

class CRunMap {
public:
    CRunMap(const CDeltaProgram& program, const ReferenceOrbit& orbit, const ExComplex& planeRadius,
        std::vector<int32_t> state)
        : m_program(program)
        , m_iter(program.Iteration())
        , m_orbit(orbit)
        , m_plane(planeRadius)
        , m_slots(static_cast<size_t>(m_iter.Slots()))
        , m_state(std::move(state))
    {
    }
    void Of(int n, BlaSkip& skip);

private:
    // The largest |dz| for which the offset x stays within rho (kNoBound where x does not move).
    ExComplex Allowed(const ExComplex& rho, const Linear& x) const;
    void Bound(const ExComplex& rho, const Linear& x) { m_radius = Min(m_radius, Allowed(rho, x)); }
    static ExComplex Min(const ExComplex& a, const ExComplex& b) { return Less(a, b) ? a : b; }
    bool Instruction(const BatchInstruction& in, const ReferenceOperands& ref, bool wide);
    bool Modulus(const BatchInstruction& in, const ExComplex& A, const Linear& a);
    bool WholePower(const BatchInstruction& in, const ReferenceOperands& ref, const Linear& a);
    bool Holomorphic(const BatchInstruction& in, Complex A, Complex B, Complex R, const Linear& a);
    bool Comparison(const BatchInstruction& in, const ExComplex& diff, const Linear& a, const Linear& b);
    ExComplex TerminationRoom(int n);
    ExComplex TerminationReach(int n, const ExComplex& zBound) const;

    const CDeltaProgram& m_program;
    const CDeltaCode& m_iter;
    const ReferenceOrbit& m_orbit;
    const ExComplex m_plane;
    std::vector<Linear> m_slots;
    const std::vector<int32_t> m_state; // the carried slots a skip moves, z first
    ExComplex m_radius;
    mutable std::vector<ExComplex> m_bounds; // the termination's slots
    int64_t m_nRoomE { 0 };                  // the last run's room, as an exponent
    static constexpr int64_t kNone = INT64_MIN;
};

ExComplex CRunMap::Allowed(const ExComplex& rho, const Linear& x) const
{
    if (x.Zero()) {
        return kNoBound;
    }
    const ExComplex room = ex::Sub(rho, ex::Mul(x.c.Size(), m_plane));
    if (!(room.re > 0.0)) {
        return {};
    }
    const ExComplex stretch = x.Stretch();
    return ex::IsZero(stretch) ? kNoBound : ex::Div(room, stretch);
}

// f(A + s) - f(A) = g s + rest: f continued over |t| <= rho0 with |f'| <= L there has |f''| <= 2 L / rho0
// within rho0 / 2, so |rest| <= L |s|^2 / rho0, below kBlaAccuracy |g s| while |s| <= eps |g| rho0 / L.
bool CRunMap::Holomorphic(const BatchInstruction& in, Complex A, Complex B, Complex R, const Linear& a)
{
    const Operation op { in.opcode, A, R, B, in.exponent };
    const Complex g = TaylorOf(op)[0];
    const double rho0 = std::min(1.0, 0.5 * AnalyticRadius(op));
    const double lipschitz = Lipschitz(op, rho0, Cut::Continued);
    const double reach
        = std::min({ 0.5 * rho0, 0.5 * BranchRadius(op), kBlaAccuracy * Size(g) * rho0 / lipschitz });
    if (!(reach > 0.0) || !std::isfinite(g.re) || !std::isfinite(g.im)) {
        return false;
    }
    Bound(Real(reach), a);
    m_slots[static_cast<size_t>(in.dest)] = Times(ex::From(g), a);
    return true;
}

bool CRunMap::Comparison(const BatchInstruction& in, const ExComplex& diff, const Linear& a, const Linear& b)
{
    // Decided as the reference's while |a| + |b| stays below the difference in every part that can
    // move (an offset without an imaginary part never moves the imaginary decision).
    const bool real = a.RealOffset() && b.RealOffset();
    const bool any = in.opcode == kOpEq || in.opcode == kOpNe;
    double margin = std::fabs(diff.re);
    if (!real) {
        margin = any ? std::max(margin, std::fabs(diff.im)) : std::min(margin, std::fabs(diff.im));
    }
    if (!(margin > 0.0)) {
        return false;
    }
    const ExComplex rho = ex::Normalised(0.5 * margin, 0.0, diff.e);
    Bound(rho, a);
    Bound(rho, b);
    m_slots[static_cast<size_t>(in.dest)] = {};
    return true;
}

// (A + s)^n - A^n = n A^(n-1) s + ...: the rest stays below eps of the first term while
// |s| <= eps |A| / (|n| + 1).
bool CRunMap::WholePower(const BatchInstruction& in, const ReferenceOperands& ref, const Linear& a)
{
    Linear& out = m_slots[static_cast<size_t>(in.dest)];
    const int n = in.opcode == kBatchOpPowWhole ? in.exponent : static_cast<int>(ref.B.re);
    if (n == 1 || n == 0) {
        out = n == 1 ? a : Linear {};
        return true;
    }
    if (ex::IsZero(ref.wideA)) {
        return false;
    }
    Bound(ex::Scale(ex::Abs(ref.wideA), kBlaAccuracy / (std::abs(n) + 1.0)), a);
    out = Times(ex::Scale(ex::Div(ref.wideR, ref.wideA), n), a);
    return true;
}

// The operations whose delta forms are products and quotients take the reference's values with their
// own exponents (a reference passing closer to 0 than the doubles hold); functions need them in doubles.
bool CRunMap::Instruction(const BatchInstruction& in, const ReferenceOperands& ref, bool wide)
{
    const Linear a = m_slots[static_cast<size_t>(in.a)];
    const Linear b = in.b >= 0 ? m_slots[static_cast<size_t>(in.b)] : a;
    Linear& out = m_slots[static_cast<size_t>(in.dest)];
    const double eps = kBlaAccuracy;
    const ExComplex &A = ref.wideA, &B = ref.wideB, &R = ref.wideR;
    if (a.Zero() && b.Zero()) {
        out = {};
        return true;
    }
    if (in.opcode == kBatchOpPowWhole
        || (in.opcode == kOpPow && b.Zero() && ref.B.im == 0.0 && std::floor(ref.B.re) == ref.B.re
            && std::fabs(ref.B.re) < 1e9)) {
        return WholePower(in, ref, a);
    }
    switch (static_cast<Op>(in.opcode)) {
    case kOpNeg: out = Times(Rows(-1, 0, 0, -1), a); return true;
    case kOpAdd: out = Sum(a, b); return true;
    case kOpSub: out = Sum(a, Times(Rows(-1, 0, 0, -1), b)); return true;
    case kOpCopy: out = a; return true;
    case kOpImag: out = Times(Rows(0, 1, 1, 0), a); return true;
    case kOpConj: out = Times(Rows(1, 0, 0, -1), a); return true;
    case kOpReal: out = Times(Rows(1, 0, 0, 0), a); return true;
    case kOpImagFn: out = Times(Rows(0, 1, 0, 0), a); return true;
    case kOpMul: {
        // A b + a B + a b: a b stays below eps of A b while |a| <= eps |A| (or of a B while
        // |b| <= eps |B|); a square needs the first.
        if (!a.Zero() && !b.Zero()) {
            const ExComplex byA = Allowed(ex::Scale(ex::Abs(A), eps), a);
            const ExComplex byB = in.a == in.b ? ExComplex {} : Allowed(ex::Scale(ex::Abs(B), eps), b);
            m_radius = Min(m_radius, Less(byA, byB) ? byB : byA);
        }
        out = Sum(Times(B, a), Times(A, b));
        return true;
    }
    case kOpDiv: {
        // (a - R b) / (B + b): off its first order by a share |b| / |B + b| <= 2 |b| / |B|.
        if (ex::IsZero(B)) {
            return false;
        }
        if (!b.Zero()) {
            Bound(ex::Scale(ex::Abs(B), 0.5 * eps), b);
        }
        const ExComplex inverse = ex::Div(ex::FromReal(1.0), B);
        out = Sum(Times(inverse, a), Times(ex::Neg(ex::Mul(R, inverse)), b));
        return true;
    }
    case kOpAbs:
    case kOpNorm:
    case kOpArg: return Modulus(in, A, a);
    case kOpEq:
    case kOpLt:
    case kOpLe:
    case kOpGt:
    case kOpGe:
    case kOpNe: return Comparison(in, ref.diff, a, b);
    case kOpPow:
        if (!b.Zero()) {
            return false; // an exponent that moves
        }
        return !wide && Holomorphic(in, ref.A, ref.B, ref.R, a);
    case kOpExp:
    case kOpLog:
    case kOpLog10:
    case kOpSqrt:
    case kOpSin:
    case kOpCos:
    case kOpTan:
    case kOpSinh:
    case kOpCosh:
    case kOpTanh: return !wide && Holomorphic(in, ref.A, ref.B, ref.R, a);
    case kOpOpen:
    case kOpClose:
    case kOpEnd:
    case kOpCount: break;
    }
    return false;
}

// abs, norm and arg: real results. Their second derivatives are at most 2 / |A|, 2 and 2 / |A|^2
// within |A| / 2.
bool CRunMap::Modulus(const BatchInstruction& in, const ExComplex& A, const Linear& a)
{
    if (ex::IsZero(A)) {
        return false;
    }
    Linear& out = m_slots[static_cast<size_t>(in.dest)];
    const ExComplex size = ex::Abs(A);
    if (in.opcode == kOpAbs && a.RealOffset() && A.im == 0.0) {
        // |A + a| on the real line: exactly linear while A + a keeps A's sign.
        Bound(ex::Scale(size, 0.5), a);
        out = Times(Rows(A.re > 0.0 ? 1.0 : -1.0, 0, 0, 0), a);
        return true;
    }
    Bound(ex::Scale(size, 0.5 * kBlaAccuracy), a);
    if (in.opcode == kOpArg && A.re < 0.0) {
        Bound(ex::Normalised(0.5 * std::fabs(A.im), 0.0, A.e), a); // never across the negative real axis
    }
    // The mantissas of A over their modulus: A / |A|, with |A|'s exponent apart.
    const double m = realfn::Hypot(A.re, A.im);
    const double re = A.re / m, im = A.im / m;
    if (in.opcode == kOpAbs) {
        out = Times(Rows(re, im, 0, 0), a);
    } else if (in.opcode == kOpNorm) {
        out = Times(ExMatrix::Normalised({ { 2.0 * A.re, 2.0 * A.im, 0.0, 0.0 }, A.e }), a);
    } else {
        out = Times(ExMatrix::Normalised({ { -im / m, re / m, 0.0, 0.0 }, -A.e }), a);
    }
    return true;
}

// The largest change of the termination's value over the pixels whose z offset is within zBound
// after run n (and whose plane offset within the plane radius); NaN where it is not bounded.
ExComplex CRunMap::TerminationReach(int n, const ExComplex& zBound) const
{
    const CDeltaCode& term = m_program.Termination();
    std::vector<ExComplex>& bounds = m_bounds;
    bounds.assign(static_cast<size_t>(term.Slots()), ExComplex {});
    const auto both = [](const ExComplex& m) { return ex::Normalised(m.re, m.re, m.e); };
    if (term.Z() >= 0) {
        bounds[static_cast<size_t>(term.Z())] = both(zBound);
    }
    if (term.Z0() >= 0) {
        bounds[static_cast<size_t>(term.Z0())] = both(m_plane);
    }
    for (size_t k = 0; k < term.Code().size(); ++k) {
        const BatchInstruction& in = term.Code()[k];
        const ExComplex& ba = bounds[static_cast<size_t>(in.a)];
        const ExComplex& bb = in.b >= 0 ? bounds[static_cast<size_t>(in.b)] : ba;
        if (!BoundOf(
                in, OperandsAt(m_orbit.termination, n, k), ba, bb, bounds[static_cast<size_t>(in.dest)])) {
            return Real(std::nan(""));
        }
    }
    return ex::RealOf(bounds[static_cast<size_t>(term.Result())]);
}

// The largest z offset after run n (to a factor of 2) for which no pixel's termination holds there
// (0: none). The bounds grow with the offset, so the exponent is searched from the previous run's,
// which it seldom leaves by much.
ExComplex CRunMap::TerminationRoom(int n)
{
    const ExComplex held = m_orbit.Held(n);
    const auto stays = [&](int64_t e) {
        const ExComplex reach = TerminationReach(n, e == kNone ? ExComplex {} : ExComplex { 0.5, 0.0, e });
        return !std::isnan(reach.re) && !(ex::Add(held, reach).re > 0.0);
    };
    if (std::isnan(held.re) || !stays(kNone)) {
        return {};
    }
    const int64_t top
        = std::max<int64_t>(ex::Magnitude(ex::From(m_orbit.last[static_cast<size_t>(n)])), 0) + 4;
    const int64_t bottom = top - 1200;
    int64_t e = std::clamp(m_nRoomE, bottom, top);
    if (stays(e)) {
        while (e < top && stays(e + 1)) {
            ++e;
        }
    } else {
        // Down in growing steps to one that stays, then back up one at a time.
        int64_t step = 1;
        int64_t high = e;
        while (e > bottom && !stays(e)) {
            high = e;
            e = std::max(bottom, e - step);
            step *= 2;
        }
        if (!stays(e)) {
            return {};
        }
        while (high - e > 1) {
            const int64_t mid = e + (high - e) / 2;
            (stays(mid) ? e : high) = mid;
        }
    }
    m_nRoomE = e;
    return { 0.5, 0.0, e };
}

void CRunMap::Of(int n, BlaSkip& skip)
{
    if (m_orbit.SingularRun(n)) {
        return;
    }
    std::fill(m_slots.begin(), m_slots.end(), Linear {});
    for (size_t i = 0; i < m_state.size(); ++i) {
        m_slots[static_cast<size_t>(m_state[i])].z[i] = ExMatrix::Identity();
    }
    if (m_iter.Z0() >= 0) {
        m_slots[static_cast<size_t>(m_iter.Z0())].c = ExMatrix::Identity();
    }
    m_radius = kNoBound;
    const ProgramRecord& record = m_orbit.iteration;
    const size_t base = static_cast<size_t>(n) * static_cast<size_t>(record.instructions);
    for (size_t k = 0; k < m_iter.Code().size(); ++k) {
        const ReferenceOperands ref = OperandsAt(record, n, k);
        const bool wide = record.TinyAt(n, base + k) != nullptr;
        if (!ex::IsFinite(ref.wideA) || !ex::IsFinite(ref.wideB) || !ex::IsFinite(ref.wideR)
            || !Instruction(m_iter.Code()[k], ref, wide)) {
            return;
        }
    }
    // The termination after the run: its z offset, up to its neglected terms, within half the room.
    const ExComplex room = TerminationRoom(n);
    Bound(ex::Scale(room, 0.5), m_slots[static_cast<size_t>(m_iter.Result())]);
    const int w = static_cast<int>(m_state.size());
    for (int i = 0; i < w; ++i) {
        const Linear& out = m_slots[static_cast<size_t>(m_state[static_cast<size_t>(i)])];
        for (int j = 0; j < w; ++j) {
            skip.a[i * w + j] = out.z[j];
        }
        skip.b[i] = out.c;
    }
    skip.radius = m_radius;
}

} // namespace

CBlaTable::RunMaps BlaRunMaps(const CDeltaProgram& program, const ReferenceOrbit& orbit,
    const ExComplex& planeRadius, const std::vector<int32_t>& state)
{
    return [&program, &orbit, planeRadius, state] {
        auto map = std::make_shared<CRunMap>(program, orbit, planeRadius, state);
        return std::function<void(int, BlaSkip&)>([map](int n, BlaSkip& skip) { map->Of(n, skip); });
    };
}

void PlanBla(const CDeltaProgram& program, ReferenceOrbit& orbit, const ExComplex& planeRadius, int maxIter,
    int threads, const BlaStretches* made)
{
    orbit.bla.Clear();
    const std::vector<int32_t> state = BlaSlots(program);
    if (state.empty()) {
        return;
    }
    orbit.bla.Build(state, std::min(orbit.runs, maxIter),
        BlaRunMaps(program, std::as_const(orbit), planeRadius, state), planeRadius, threads, made);
}
