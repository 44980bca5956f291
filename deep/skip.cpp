#include "series.h"

#include "planahead.h"

#include "smoothness.h"

#include "opcodes.h"

#include <algorithm>
#include <cmath>
#include <thread>

// The skip: the runs over which every pixel of the view follows its Taylor model to within a share of
// its offset that moves no pixel measurably, and over which no pixel's termination can hold.

namespace {

// The rest a carried slot's model may have, against the size of its lowest term at the edge of the
// disc: a pixel's start is then off by at most this share of its offset, far below what moves it by a
// millionth of a pixel, and far above the rounding the coefficients accumulate over thousands of runs.
constexpr double kSkipAccuracy = 0x1p-36;

bool Less(const ExComplex& a, const ExComplex& b) { return ex::Sub(a, b).re < 0.0; }

// A bound on the modulus of an offset whose parts are bounded by b's parts.
ExComplex Modulus(const ExComplex& b) { return ex::Normalised(b.re + b.im, 0.0, b.e); }
ExComplex Both(const ExComplex& modulus) { return ex::Normalised(modulus.re, modulus.re, modulus.e); }

bool ComparisonDecided(CompareKind kind, const ExComplex& diff, const ExComplex& reach)
{
    if (std::isnan(diff.re) || std::isnan(diff.im)) {
        return false;
    }
    // Compare at one exponent: the parts of diff against those of reach.
    const ExComplex scaledDiff = diff;
    const ExComplex gap
        = ex::Sub(ex::Normalised(std::fabs(scaledDiff.re), std::fabs(scaledDiff.im), scaledDiff.e), reach);
    const bool re = reach.re == 0.0 || gap.re > 0.0;
    const bool im = reach.im == 0.0 || gap.im > 0.0;
    if (kind == CompareKind::Eq || kind == CompareKind::Ne) {
        // Unequal for every pixel as soon as one part stays away from 0.
        return (re && im) || (re && diff.re != 0.0) || (im && diff.im != 0.0);
    }
    return re && im;
}

} // namespace

bool BoundOf(const BatchInstruction& in, const ReferenceOperands& ref, const ExComplex& ba,
    const ExComplex& bb, ExComplex& out)
{
    if (ex::IsZero(ba) && ex::IsZero(bb)) {
        out = {}; // every pixel's operands are the reference's
        return true;
    }
    if (!ex::IsFinite(ref.wideA) || !ex::IsFinite(ref.wideB) || !ex::IsFinite(ref.wideR)) {
        return false;
    }
    const ExComplex ma = Modulus(ba);
    const ExComplex sizeA = ex::Abs(ref.wideA);
    const ExComplex sizeB = ex::Abs(ref.wideB);
    // The batch compiler's whole power is not an Op; it is bounded by its slope, as a power is.
    const Op op = in.opcode == kBatchOpPowWhole ? kOpPow : static_cast<Op>(in.opcode);
    switch (op) {
    case kOpNeg:
    case kOpCopy:
    case kOpConj: out = ba; return true;
    case kOpAdd:
    case kOpSub: out = ex::Add(ba, bb); return true;
    case kOpImag: out = ex::Swap(ba); return true;
    case kOpReal: out = ex::RealOf(ba); return true;
    case kOpImagFn: out = ex::ImagOf(ba); return true;
    case kOpAbs: out = ma; return true;
    case kOpNorm: out = ex::Add(ex::Scale(ex::Mul(ma, sizeA), 2.0), ex::Mul(ma, ma)); return true;
    case kOpMul: {
        const ExComplex mb = Modulus(bb);
        out = Both(ex::Add(ex::Add(ex::Mul(mb, sizeA), ex::Mul(ma, sizeB)), ex::Mul(ma, mb)));
        return true;
    }
    case kOpDiv: {
        // (a - R b) / (B + b), with |b| at most half |B|.
        const ExComplex mb = Modulus(bb);
        if (!Less(ex::Scale(mb, 2.0), sizeB)) {
            return false;
        }
        out = Both(ex::Scale(ex::Div(ex::Add(ma, ex::Mul(mb, ex::Abs(ref.wideR))), sizeB), 2.0));
        return true;
    }
    case kOpEq:
    case kOpLt:
    case kOpLe:
    case kOpGt:
    case kOpGe:
    case kOpNe: out = {}; return ComparisonDecided(*CompareKindOf(in.opcode), ref.diff, ex::Add(ba, bb));
    case kOpPow:
    case kOpOpen:
    case kOpClose:
    case kOpArg:
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
    case kOpCount: break; // by the operation's slope
    }
    if (in.opcode == kOpPow && !ex::IsZero(bb)) {
        return false; // an exponent that moves
    }
    if (ex::IsZero(ma)) {
        out = {};
        return true;
    }
    const double slope = Lipschitz({ in.opcode, ref.A, ref.R, ref.B, in.exponent }, ex::ToComplex(ma).re);
    if (!std::isfinite(slope)) {
        return false;
    }
    out = Both(ex::Scale(ma, slope));
    return true;
}

namespace {

// Whether the program needs the conjugate's terms: an operation that is not complex-differentiable,
// which the holomorphic models stop at.
bool NeedsPairs(const CDeltaCode& code)
{
    return std::any_of(code.Code().begin(), code.Code().end(), [](const BatchInstruction& in) {
        return in.opcode == kOpConj || in.opcode == kOpReal || in.opcode == kOpImagFn || in.opcode == kOpImag
            || in.opcode == kOpAbs || in.opcode == kOpNorm;
    });
}

// The series in doubles, term k scaled by radius^degree; empty where one leaves the doubles' range.
template <size_t kTerms>
std::vector<std::array<Complex, kTerms>> ScaledSeries(
    const std::vector<std::array<ExComplex, kTerms>>& series, const std::array<ExComplex, kSkipTerms>& reach)
{
    std::vector<std::array<Complex, kTerms>> out;
    for (const std::array<ExComplex, kTerms>& c : series) {
        std::array<Complex, kTerms> scaled;
        size_t k = 0;
        for (int d = 1; d <= kSkipTerms; ++d) {
            for (int q = 0; q <= (kTerms == kPairTerms ? d : 0); ++q, ++k) {
                scaled[k] = ex::ToComplex(ex::Mul(c[k], reach[static_cast<size_t>(d - 1)]));
                if (!std::isfinite(scaled[k].re) || !std::isfinite(scaled[k].im)) {
                    return {};
                }
            }
        }
        out.push_back(scaled);
    }
    return out;
}

} // namespace

// The runs the models hold every pixel over (skipRuns) and the carried slots' series after them,
// planned run by run as the runs come.
template <class Disc, class Model, size_t kTerms> class CSeriesRuns final : public CSeriesAhead {
public:
    CSeriesRuns(const CDeltaProgram& program, const ExComplex& radius, int maxIter,
        std::vector<std::array<ExComplex, kTerms>> ReferenceOrbit::*into)
        : m_program(program)
        , m_disc(radius)
        , m_nMaxIter(maxIter)
        , m_into(into)
        , m_models(static_cast<size_t>(program.m_iter.Slots()))
        , m_bounds(static_cast<size_t>(program.m_term.Slots()))
        , m_series(program.m_iter.Carried().size())
    {
        for (const int slot : { program.m_iter.Z(), program.m_iter.Z0() }) {
            if (slot >= 0) {
                m_models[static_cast<size_t>(slot)].c[0] = ex::FromReal(1.0);
            }
        }
    }

    void Go(const ReferenceOrbit& records, int base, int end) override
    {
        const std::vector<int32_t>& carried = m_program.m_iter.Carried();
        const int limit = m_nNext < base ? 0 : std::min(end, m_nMaxIter - 1); // runs before base: not here
        for (; !m_bStopped && m_nNext < limit; ++m_nNext) {
            const int n = m_nNext - base;
            if (!m_program.ModelRun(records, n, m_disc, m_models)
                || !m_program.TerminationStays(records, n, m_disc, m_models, m_bounds)) {
                m_bStopped = true;
                return;
            }
            m_nRuns = m_nNext + 1;
            for (size_t j = 0; j < carried.size(); ++j) {
                m_series[j] = m_models[static_cast<size_t>(carried[j])].c;
            }
        }
    }
    int Next() const override { return m_nNext; }
    bool Stopped() const override { return m_bStopped; }
    void Into(ReferenceOrbit& orbit) const override
    {
        orbit.skipRuns = m_nRuns;
        orbit.*m_into = m_nRuns == 0 ? std::vector<std::array<ExComplex, kTerms>> {} : m_series;
    }

private:
    const CDeltaProgram& m_program;
    const Disc m_disc;
    const int m_nMaxIter;
    std::vector<std::array<ExComplex, kTerms>> ReferenceOrbit::*const m_into;
    std::vector<Model> m_models;
    std::vector<ExComplex> m_bounds;
    std::vector<std::array<ExComplex, kTerms>> m_series;
    int m_nNext { 0 };
    int m_nRuns { 0 };
    bool m_bStopped { false };
};

std::unique_ptr<CSeriesAhead> CDeltaProgram::SeriesPlanner(const ExComplex& radius, int maxIter) const
{
    if (NeedsPairs(m_iter)) {
        return std::make_unique<CSeriesRuns<CPairDisc, PairModel, kPairTerms>>(
            *this, radius, maxIter, &ReferenceOrbit::skipPairs);
    }
    return std::make_unique<CSeriesRuns<CModelDisc, TaylorModel, kSkipTerms>>(
        *this, radius, maxIter, &ReferenceOrbit::skipSeries);
}

void CDeltaProgram::PlanSkip(
    ReferenceOrbit& orbit, const ExComplex& radius, int maxIter, int threads, PlannedAhead* ahead) const
{
    // The bilinear skips and the series read the records alone and write parts of their own: on two
    // threads they go side by side (jthread joins before the orbit goes, whatever happens here).
    const BlaStretches* made = ahead ? &ahead->stretches : nullptr;
    std::jthread bla;
    if (threads > 1) {
        bla = std::jthread([&] { PlanBla(*this, orbit, radius, maxIter, threads - 1, made); });
    } else {
        PlanBla(*this, orbit, radius, maxIter, threads, made);
    }
    orbit.skipScaled.clear();
    orbit.skipSeries.clear();
    orbit.skipPairs.clear();
    orbit.skipPairsScaled.clear();
    // The series goes on from where it was planned ahead.
    const std::unique_ptr<CSeriesAhead> series
        = ahead && ahead->series ? std::move(ahead->series) : SeriesPlanner(radius, maxIter);
    series->Go(orbit, 0, orbit.runs);
    series->Into(orbit);
    if (orbit.skipRuns == 0) {
        return;
    }
    orbit.skipUnit = ex::Div(ex::FromReal(1.0), radius);
    std::array<ExComplex, kSkipTerms> reach;
    reach[0] = radius;
    for (int k = 1; k < kSkipTerms; ++k) {
        reach[k] = ex::Mul(reach[k - 1], radius);
    }
    orbit.skipScaled = ScaledSeries(orbit.skipSeries, reach);
    orbit.skipPairsScaled = ScaledSeries(orbit.skipPairs, reach);
}

template <class Disc, class Model>
bool CDeltaProgram::ModelRun(
    const ReferenceOrbit& orbit, int n, const Disc& disc, std::vector<Model>& models) const
{
    if (m_iter.ResetSlot() >= 0) {
        models[static_cast<size_t>(m_iter.ResetSlot())] = {};
    }
    for (size_t s = 0; s < models.size(); ++s) {
        Disc::Renew(models[s], static_cast<int>(s) == m_iter.Z());
    }
    const ProgramRecord& record = orbit.iteration;
    for (size_t k = 0; k < m_iter.Code().size(); ++k) {
        const BatchInstruction& in = m_iter.Code()[k];
        const Model& a = models[static_cast<size_t>(in.a)];
        const Model& b = in.b >= 0 ? models[static_cast<size_t>(in.b)] : a;
        Model out;
        if (!ModelOf(disc, in, OperandsAt(record, n, k), a, b, out)) {
            return false;
        }
        models[static_cast<size_t>(in.dest)] = out;
    }
    // Every pixel's carried offsets follow their models closely enough.
    for (const int32_t slot : m_iter.Carried()) {
        const Model& m = models[static_cast<size_t>(slot)];
        const ExComplex rest = Disc::Rest(m);
        if (!ex::IsFinite(rest) || Less(ex::Scale(disc.Lead(m), kSkipAccuracy), rest)) {
            return false;
        }
    }
    return true;
}

template <class Disc, class Model>
bool CDeltaProgram::TerminationStays(const ReferenceOrbit& orbit, int n, const Disc& disc,
    const std::vector<Model>& models, std::vector<ExComplex>& bounds) const
{
    if (m_term.ResetSlot() >= 0) {
        bounds[static_cast<size_t>(m_term.ResetSlot())] = {};
    }
    if (m_term.Z() >= 0) {
        bounds[static_cast<size_t>(m_term.Z())]
            = Both(disc.Bound(models[static_cast<size_t>(m_iter.Result())]));
    }
    if (m_term.Z0() >= 0) {
        bounds[static_cast<size_t>(m_term.Z0())] = Both(disc.Radius());
    }
    if (m_termN >= 0) {
        bounds[static_cast<size_t>(m_termN)] = {};
    }
    const ProgramRecord& record = orbit.termination;
    for (size_t k = 0; k < m_term.Code().size(); ++k) {
        const BatchInstruction& in = m_term.Code()[k];
        const ExComplex& ba = bounds[static_cast<size_t>(in.a)];
        const ExComplex& bb = in.b >= 0 ? bounds[static_cast<size_t>(in.b)] : ba;
        ExComplex out;
        if (!BoundOf(in, OperandsAt(record, n, k), ba, bb, out)) {
            return false;
        }
        bounds[static_cast<size_t>(in.dest)] = out;
    }
    // No pixel's termination holds: the reference's value plus the largest offset stays at or below 0.
    const ExComplex held = orbit.Held(n);
    const ExComplex reach = ex::RealOf(bounds[static_cast<size_t>(m_term.Result())]);
    if (std::isnan(held.re) || ex::Add(held, reach).re > 0.0) {
        return false;
    }
    // The pixels start their own runs with the termination's carried values at the reference's.
    for (const int32_t slot : m_term.Carried()) {
        if (slot != m_term.Z() && slot != m_term.Z0() && slot != m_termN
            && !ex::IsZero(bounds[static_cast<size_t>(slot)])) {
            return false;
        }
    }
    return true;
}

ExComplex SkipStart(const std::array<ExComplex, kSkipTerms>& c, const ExComplex& offset)
{
    // Horner: ((c5 a + c4) a + ... + c0) a.
    ExComplex sum = c[kSkipTerms - 1];
    for (int k = kSkipTerms - 2; k >= 0; --k) {
        sum = ex::Add(ex::Mul(sum, offset), c[k]);
    }
    return ex::Mul(sum, offset);
}

Complex SkipStart(const std::array<Complex, kSkipTerms>& scaled, Complex unitOffset)
{
    Complex sum = scaled[kSkipTerms - 1];
    for (int k = kSkipTerms - 2; k >= 0; --k) {
        sum = Add(Mul(sum, unitOffset), scaled[k]);
    }
    return Mul(sum, unitOffset);
}

// The offsets a pixel starts from and the run it starts at: its plane offset in z and z0, the skip's
// series at it, or the offsets IterateLanes left it with.
int CDeltaProgram::StartPixel(const ReferenceOrbit& orbit, const ExComplex& offset, const DeltaPixel* resumed,
    const Complex* resume, ExComplex* x) const
{
    const size_t all = static_cast<size_t>(m_iter.Slots() + m_term.Slots());
    const std::vector<int32_t>& carried = m_iter.Carried();
    if (resumed && resumed->resumeRun >= 0) {
        for (size_t s = 0; s < all; ++s) {
            x[s] = ex::From(resume[s]);
        }
        return resumed->resumeRun;
    }
    if (orbit.skipRuns > 0) {
        for (size_t j = 0; j < carried.size(); ++j) {
            x[carried[j]] = orbit.SkipOffset(j, offset);
        }
        return orbit.skipRuns;
    }
    for (const int slot : { m_iter.Z(), m_iter.Z0() }) {
        if (slot >= 0) {
            x[slot] = offset;
        }
    }
    return 0;
}

ExComplex ReferenceOrbit::SkipOffset(size_t j, const ExComplex& a) const
{
    return skipPairs.empty() ? SkipStart(skipSeries[j], a) : SkipStart(skipPairs[j], a);
}

Complex ReferenceOrbit::SkipOffsetScaled(size_t j, Complex unit) const
{
    return skipPairs.empty() ? SkipStart(skipScaled[j], unit) : SkipStart(skipPairsScaled[j], unit);
}
