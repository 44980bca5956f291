#include "orbitderivative.h"

#include "deltaforms.h"
#include "dual.h"

#include "opcodes.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>

namespace {

constexpr double kLn10 = 2.302585092994046;

inline Complex ToComplexOf(Complex a) { return a; }
inline Complex ToComplexOf(const ExComplex& a) { return ex::ToComplex(a); }

bool IsZeroC(Complex a) { return a.re == 0.0 && a.im == 0.0; }

// a^k for a whole k, by binary powering (the language's power where k is large or negative).
Complex WholePower(Complex a, int k)
{
    if (k < 0 || k > 64) {
        return Pow(a, { static_cast<double>(k), 0.0 });
    }
    Complex result { 1.0, 0.0 };
    for (Complex base = a; k > 0; k >>= 1, base = Mul(base, base)) {
        if ((k & 1) != 0) {
            result = Mul(result, base);
        }
    }
    return result;
}

// Sums, products and squares: most of a program's instructions, whose chain rule DeriveCommon takes
// inline (Derive takes it the same way).
bool IsCommon(const BatchInstruction& in)
{
    return in.opcode == kOpAdd || in.opcode == kOpSub || in.opcode == kOpCopy || in.opcode == kOpMul
        || (in.opcode == kBatchOpPowWhole && in.exponent == 2);
}

inline void DeriveCommon(const BatchInstruction& in, Complex a, Complex b, std::vector<Complex>& t)
{
    const Complex ta = t[static_cast<size_t>(in.a)];
    const Complex tb = in.b >= 0 && in.opcode != kOpCopy ? t[static_cast<size_t>(in.b)] : Complex {};
    Complex& out = t[static_cast<size_t>(in.dest)];
    if (IsZeroC(ta) && IsZeroC(tb)) {
        out = {}; // constant here, whatever its value (an infinity times 0 is no derivative)
        return;
    }
    switch (in.opcode) {
    case kOpAdd: out = Add(ta, tb); break;
    case kOpSub: out = Sub(ta, tb); break;
    case kOpCopy: out = ta; break;
    case kOpMul: out = Add(Mul(ta, b), Mul(a, tb)); break;
    default: out = Mul(Mul({ 2.0, 0.0 }, Mul({ 1.0, 0.0 }, a)), ta); break; // a^2, as WholePower(a, 1)
    }
}

// A real ExComplex of 1 or i: the plane offset's derivative along x or y.
const ExComplex kAlongX { 0.5, 0.0, 1 };
const ExComplex kAlongY { 0.0, 0.5, 1 };

} // namespace

COrbitDerivative::COrbitDerivative(const CDeltaCode& iteration)
    : m_code(iteration)
{
    for (const BatchInstruction& in : iteration.Code()) {
        m_bHolomorphic = m_bHolomorphic && DualHolomorphic(in.opcode);
    }
    m_carriedIndex.assign(static_cast<size_t>(iteration.Slots()), -1);
    const std::vector<int32_t>& carried = iteration.Carried();
    for (size_t j = 0; j < carried.size(); ++j) {
        m_carriedIndex[static_cast<size_t>(carried[j])] = static_cast<int32_t>(j);
    }
    m_zIndex = iteration.Z() >= 0 ? m_carriedIndex[static_cast<size_t>(iteration.Z())] : -1;
}

void COrbitDerivative::Start(
    const ReferenceOrbit& orbit, const ExComplex& offset, int start, OrbitDerivative& t) const
{
    const std::vector<int32_t>& carried = m_code.Carried();
    t.tx.assign(static_cast<size_t>(m_code.Slots()), Complex {});
    t.ty.assign(m_bHolomorphic ? 0 : static_cast<size_t>(m_code.Slots()), Complex {});
    t.rx = t.ry = Complex {};
    std::vector<ExComplex>& x = t.wx;
    std::vector<ExComplex>& y = t.wy;
    x.assign(carried.size(), ExComplex {});
    y.assign(carried.size(), ExComplex {});
    if (start > 0 && start == orbit.skipRuns && !orbit.skipPairs.empty()) {
        // A series in the offset and its conjugate: a derivative along each axis.
        for (size_t j = 0; j < carried.size(); ++j) {
            SkipSlopes(orbit.skipPairs[j], offset, x[j], y[j]);
        }
    } else if (start > 0 && start == orbit.skipRuns) {
        // The skip's offsets are sum c_k a^(k+1): their derivative is sum (k+1) c_k a^k. For a
        // complex-differentiable program one direction holds it.
        for (size_t j = 0; j < carried.size(); ++j) {
            const std::array<ExComplex, kSkipTerms>& c = orbit.skipSeries[j];
            ExComplex sum = ex::Scale(c[kSkipTerms - 1], kSkipTerms);
            for (int k = kSkipTerms - 2; k >= 0; --k) {
                sum = ex::Add(ex::Mul(sum, offset), ex::Scale(c[static_cast<size_t>(k)], k + 1));
            }
            x[j] = sum;
            y[j] = ex::Mul(sum, kAlongY);
        }
    } else {
        for (const int slot : { m_code.Z(), m_code.Z0() }) {
            if (slot >= 0) {
                const size_t j = static_cast<size_t>(m_carriedIndex[static_cast<size_t>(slot)]);
                x[j] = kAlongX;
                y[j] = kAlongY;
            }
        }
    }
    Load(t);
}

void COrbitDerivative::Unknown(OrbitDerivative& t) const
{
    t.x.assign(m_code.Carried().size(), Complex { NAN, NAN });
    t.y.assign(m_bHolomorphic ? 0 : t.x.size(), Complex { NAN, NAN });
    t.rx = t.ry = Complex { NAN, NAN };
    t.synced = false;
}

// The carried derivatives from wx and wy: mantissas of the largest one's exponent.
void COrbitDerivative::Load(OrbitDerivative& t) const
{
    const ExComplex* x = t.wx.data();
    const ExComplex* y = t.wy.data();
    const size_t n = m_code.Carried().size();
    int64_t scale = INT64_MIN;
    for (size_t j = 0; j < n; ++j) {
        for (const ExComplex* v : { &x[j], &y[j] }) {
            if (!ex::IsZero(*v) && (v == &x[j] || !m_bHolomorphic)) {
                scale = std::max(scale, v->e);
            }
        }
    }
    t.scale = scale == INT64_MIN ? 0 : scale;
    t.synced = false;
    t.x.resize(n);
    t.y.resize(m_bHolomorphic ? 0 : n);
    for (size_t j = 0; j < n; ++j) {
        t.x[j] = ex::ToComplex({ x[j].re, x[j].im, x[j].e - t.scale });
        if (!m_bHolomorphic) {
            t.y[j] = ex::ToComplex({ y[j].re, y[j].im, y[j].e - t.scale });
        }
    }
}

void COrbitDerivative::Begin(OrbitDerivative& t) const
{
    const std::vector<int32_t>& carried = m_code.Carried();
    for (size_t j = 0; j < carried.size() && !t.synced; ++j) {
        t.tx[static_cast<size_t>(carried[j])] = t.x[j];
        if (!m_bHolomorphic) {
            t.ty[static_cast<size_t>(carried[j])] = t.y[j];
        }
    }
    t.synced = false; // until the run ends
    if (m_code.ResetSlot() >= 0) {
        t.tx[static_cast<size_t>(m_code.ResetSlot())] = Complex {};
        if (!m_bHolomorphic) {
            t.ty[static_cast<size_t>(m_code.ResetSlot())] = Complex {};
        }
    }
}

// Back into the carried slots; when the largest has drifted past 2^+-256, every one scaled by the same
// power of two (exact) and the exponent moved by it. One run's growth stays far inside the doubles.
void COrbitDerivative::End(OrbitDerivative& t) const
{
    const std::vector<int32_t>& carried = m_code.Carried();
    double big = 0.0;
    for (size_t j = 0; j < carried.size(); ++j) {
        const Complex& v = t.tx[static_cast<size_t>(carried[j])];
        t.x[j] = v;
        big = std::max({ big, std::fabs(v.re), std::fabs(v.im) });
        if (!m_bHolomorphic) {
            const Complex& w = t.ty[static_cast<size_t>(carried[j])];
            t.y[j] = w;
            big = std::max({ big, std::fabs(w.re), std::fabs(w.im) });
        }
    }
    t.rx = t.tx[static_cast<size_t>(m_code.Result())];
    t.ry = m_bHolomorphic ? Complex { -t.rx.im, t.rx.re } : t.ty[static_cast<size_t>(m_code.Result())];
    const int64_t scale = t.scale;
    if (big > 0x1p256 || (big < 0x1p-256 && big > 0.0)) {
        const int shift = std::ilogb(big);
        for (std::vector<Complex>* along : { &t.x, &t.y }) {
            for (Complex& v : *along) {
                v = { std::scalbn(v.re, -shift), std::scalbn(v.im, -shift) };
            }
        }
        t.rx = { std::scalbn(t.rx.re, -shift), std::scalbn(t.rx.im, -shift) };
        t.ry = { std::scalbn(t.ry.re, -shift), std::scalbn(t.ry.im, -shift) };
        t.scale += shift;
    }
    t.synced = t.scale == scale;
}

template <class N>
bool COrbitDerivative::Run(const ProgramRecord& record, int run, N* d, OrbitDerivative& t) const
{
    Begin(t);
    bool glitch = false;
    if (m_code.ResetSlot() >= 0) {
        d[m_code.ResetSlot()] = N {};
    }
    const std::vector<BatchInstruction>& code = m_code.Code();
    const size_t base = static_cast<size_t>(run) * static_cast<size_t>(record.instructions);
    for (size_t k = 0; k < code.size(); ++k) {
        const BatchInstruction& in = code[k];
        const size_t at = base + k;
        const N& db = in.b >= 0 ? d[in.b] : d[in.a];
        const ProgramRecord::Tiny* tiny = record.TinyAt(run, at);
        // The pixel's full operands, as the delta run sees them, before the destination is written.
        const Complex a = Add(tiny ? ex::ToComplex(tiny->a) : record.a[at], ToComplexOf(d[in.a]));
        const Complex b = Add(tiny ? ex::ToComplex(tiny->b) : record.b[at], ToComplexOf(db));
        if constexpr (std::is_same_v<N, ExComplex>) {
            if (tiny) {
                const std::optional<CompareKind> kind = CompareKindOf(in.opcode);
                d[in.dest] = kind ? ComparisonDelta(*kind, tiny->a, record.r[at], d[in.a], db)
                                  : DeltaFormWide(in, tiny->a, tiny->b, tiny->r, d[in.a], db, glitch);
            } else {
                d[in.dest] = DeltaForm<N>(in, record.a[at], record.b[at], record.r[at], d[in.a], db, glitch);
            }
        } else {
            d[in.dest] = DeltaForm<N>(in, record.a[at], record.b[at], record.r[at], d[in.a], db, glitch);
        }
        const Complex r = Add(tiny ? ex::ToComplex(tiny->r) : record.r[at], ToComplexOf(d[in.dest]));
        Derive(in, a, b, r, t.tx);
        if (!m_bHolomorphic) {
            Derive(in, a, b, r, t.ty);
        }
    }
    if (!glitch) {
        End(t);
    }
    return glitch;
}

template bool COrbitDerivative::Run<Complex>(const ProgramRecord&, int, Complex*, OrbitDerivative&) const;
template bool COrbitDerivative::Run<ExComplex>(const ProgramRecord&, int, ExComplex*, OrbitDerivative&) const;

bool COrbitDerivative::ReadsOperands(const BatchInstruction& in)
{
    return in.opcode != kOpAdd && in.opcode != kOpSub && in.opcode != kOpCopy;
}

bool COrbitDerivative::ReadsResult(const BatchInstruction& in) { return !IsCommon(in); }

void COrbitDerivative::Chain(const BatchInstruction& in, const Complex* a, const Complex* b, const Complex* r,
    uint64_t active, OrbitDerivative* t) const
{
    const bool common = IsCommon(in);
    for (uint64_t bits = active; bits != 0; bits &= bits - 1) {
        const int l = std::countr_zero(bits);
        if (common) {
            DeriveCommon(in, a[l], b[l], t[l].tx);
            if (!m_bHolomorphic) {
                DeriveCommon(in, a[l], b[l], t[l].ty);
            }
        } else {
            Derive(in, a[l], b[l], r[l], t[l].tx);
            if (!m_bHolomorphic) {
                Derive(in, a[l], b[l], r[l], t[l].ty);
            }
        }
    }
}

// The chain rule of one instruction along one direction: t holds every slot's derivative, a and b
// are the full operands before it, r its result.
void COrbitDerivative::Derive(
    const BatchInstruction& in, Complex a, Complex b, Complex r, std::vector<Complex>& t) const
{
    if (IsCommon(in)) {
        DeriveCommon(in, a, b, t);
        return;
    }
    const Complex ta = t[static_cast<size_t>(in.a)];
    const Complex tb = in.b >= 0 && in.opcode != kOpCopy ? t[static_cast<size_t>(in.b)] : Complex {};
    Complex& out = t[static_cast<size_t>(in.dest)];
    if ((IsZeroC(ta) && IsZeroC(tb)) || (in.opcode >= kOpEq && in.opcode <= kOpNe)) { // a comparison
        out = {}; // constant here, whatever its value (an infinity times 0 is no derivative)
        return;
    }
    if (in.opcode == kBatchOpPowWhole) {
        out = in.exponent == 0
            ? Complex {}
            : Mul(Mul({ static_cast<double>(in.exponent), 0.0 }, WholePower(a, in.exponent - 1)), ta);
        return;
    }
    switch (static_cast<Op>(in.opcode)) {
    case kOpNeg: out = Negate(ta); break;
    case kOpAdd: out = Add(ta, tb); break;
    case kOpSub: out = Sub(ta, tb); break;
    case kOpCopy: out = ta; break;
    case kOpMul: out = Add(Mul(ta, b), Mul(a, tb)); break;
    case kOpDiv: out = Div(Sub(ta, Mul(r, tb)), b); break;
    case kOpPow: // b a^(b - 1) da + a^b log a db
        out = Add(IsZeroC(ta) ? Complex {} : Mul(Mul(b, Pow(a, { b.re - 1.0, b.im })), ta),
            IsZeroC(tb) ? Complex {} : Mul(Mul(r, Log(a)), tb));
        break;
    case kOpImag: out = { ta.im, ta.re }; break;
    case kOpConj: out = Conj(ta); break;
    case kOpReal: out = { ta.re, 0.0 }; break;
    case kOpImagFn: out = { ta.im, 0.0 }; break;
    case kOpNorm: out = { 2.0 * (a.re * ta.re + a.im * ta.im), 0.0 }; break;
    case kOpAbs: {
        // At abs's corner, the derivative on the side the direction moves to.
        const double m = std::hypot(a.re, a.im);
        out = { m == 0.0 ? std::hypot(ta.re, ta.im) : (a.re * ta.re + a.im * ta.im) / m, 0.0 };
        break;
    }
    case kOpArg: {
        const double n = a.re * a.re + a.im * a.im;
        out = { n == 0.0 ? 0.0 : (a.re * ta.im - a.im * ta.re) / n, 0.0 };
        break;
    }
    case kOpExp: out = Mul(r, ta); break;
    case kOpLog: out = Div(ta, a); break;
    case kOpLog10: out = Div(ta, Mul(a, { kLn10, 0.0 })); break;
    case kOpSqrt: out = Div(ta, Add(r, r)); break;
    case kOpSin: out = Mul(Cos(a), ta); break;
    case kOpCos: out = Negate(Mul(Sin(a), ta)); break;
    case kOpTan: out = Mul(Add({ 1.0, 0.0 }, Mul(r, r)), ta); break;
    case kOpSinh: out = Mul(Cosh(a), ta); break;
    case kOpCosh: out = Mul(Sinh(a), ta); break;
    case kOpTanh: out = Mul(Sub({ 1.0, 0.0 }, Mul(r, r)), ta); break;
    default: out = {}; break;
    }
}

int COrbitDerivative::Skip(
    const CBlaTable& bla, int n, int end, ExComplex* d, const ExComplex& dc, OrbitDerivative& t) const
{
    const std::vector<int32_t>& slots = bla.Slots();
    if (m_zIndex < 0) {
        return bla.Skip(n, end, d, dc);
    }
    // The state's derivatives in the table's order (z first), each from its carried slot.
    size_t at[kBlaMaxWidth];
    ExComplex x[kBlaMaxWidth], y[kBlaMaxWidth];
    for (size_t i = 0; i < slots.size(); ++i) {
        const int32_t j = m_carriedIndex[static_cast<size_t>(slots[i])];
        if (j < 0) {
            return n; // a state slot the derivative does not carry: no skip rather than a wrong one
        }
        at[i] = static_cast<size_t>(j);
        x[i] = ex::Normalised(t.x[at[i]].re, t.x[at[i]].im, t.scale);
        y[i] = m_bHolomorphic ? ExComplex {} : ex::Normalised(t.y[at[i]].re, t.y[at[i]].im, t.scale);
    }
    const int to = bla.Skip(n, end, d, dc, x, m_bHolomorphic ? nullptr : y);
    if (to != n) {
        // The skip moved the state's derivatives alone: every carried one back to a shared exponent.
        const size_t count = m_code.Carried().size();
        std::vector<ExComplex>& xs = t.wx;
        std::vector<ExComplex>& ys = t.wy;
        for (size_t j = 0; j < count; ++j) {
            xs[j] = ex::Normalised(t.x[j].re, t.x[j].im, t.scale);
            ys[j] = m_bHolomorphic ? ExComplex {} : ex::Normalised(t.y[j].re, t.y[j].im, t.scale);
        }
        for (size_t i = 0; i < slots.size(); ++i) {
            xs[at[i]] = x[i];
            ys[at[i]] = m_bHolomorphic ? ExComplex {} : y[i];
        }
        Load(t);
    }
    return to;
}

DerivativeView ViewDeepDerivative(
    Complex z, const ExComplex& dzx, const ExComplex& dzy, const ExComplex& pixel)
{
    DerivativeView view { ex::ToComplex(dzx), ex::ToComplex(dzy), 0.0, {} };
    const double absZ = Abs(z).re;
    // |dz| times the pixel: the two exponents cancel where the estimate means anything.
    const ExComplex scaled = ex::Mul(ex::Abs(dzx), pixel);
    view.de = ex::ToComplex(ex::Normalised(absZ * realfn::Log(absZ) / scaled.re, 0.0, -scaled.e)).re;
    const Complex unitZ = Div(z, { absZ, 0.0 });
    const Complex dz { dzx.re, dzx.im }; // the mantissa has the direction
    const Complex w = Mul(unitZ, Conj(Div(dz, Abs(dz))));
    view.dir = Div(w, Abs(w));
    return view;
}
