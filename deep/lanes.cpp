#include "delta.h"

#include "deltaforms.h"
#include "deltakernels.h"
#include "lanecycle.h"
#include "lanederivative.h"
#include "lanerun.h"
#include "laneskip.h"

#include "opcodes.h"

#include <algorithm>
#include <bit>
#include <cmath>

// Pixels side by side: kLanes offsets at a time, each lane at its own run of the reference, so that
// one slow pixel does not hold 63 idle lanes. Idle lanes read the skip's run; what they compute is
// never read.

namespace {

using deltalanes::At;
using deltalanes::kLaneCount;
using deltalanes::RunLanes;

// The lanes of one IterateLanes call and the pixels flowing through them.
class CLaneRun {
public:
    CLaneRun(const CDeltaProgram& program, const ReferenceOrbit& orbit, const ExComplex* offsets, int count,
        int maxIter, DeltaLanes& scratch, DeltaPixel* out, CLaneDerivatives* derive)
        : m_program(program)
        , m_iter(program.Iteration())
        , m_term(program.Termination())
        , m_orbit(orbit)
        , m_offsets(offsets)
        , m_nCount(count)
        , m_nMaxIter(maxIter)
        , m_scratch(scratch)
        , m_out(out)
        , m_start(m_iter.Carried().size())
        , m_kernels(ActiveDeltaKernels())
        , m_derive(derive)
    {
        const size_t slots = static_cast<size_t>(m_iter.Slots());
        const size_t termSlots = static_cast<size_t>(m_term.Slots());
        scratch.re.assign(slots * kLaneCount, 0.0);
        scratch.im.assign(slots * kLaneCount, 0.0);
        scratch.termRe.assign(termSlots * kLaneCount, 0.0);
        scratch.termIm.assign(termSlots * kLaneCount, 0.0);
        scratch.glitched.assign(kLaneCount, 0.0);
        scratch.lastRe.assign(kLaneCount, 0.0);
        scratch.lastIm.assign(kLaneCount, 0.0);
        m_bScaled = orbit.skipRuns > 0 && !orbit.skipScaled.empty();
        m_bTiny = !orbit.iteration.firstTiny.empty() || !orbit.termination.firstTiny.empty()
            || !orbit.iteration.singular.empty() || !orbit.termination.singular.empty();
        // Lanes that glitch where the program lands go on alone, on the landing orbit (Iterate).
        m_bLands = program.LandingInstruction() >= 0 && orbit.landing && !derive;
        if (m_bTiny || m_bLands) {
            scratch.resume.assign(static_cast<size_t>(count) * (slots + termSlots), Complex {});
        }
        m_bKeepWide = program.DecidesOnPlanePoint();
        m_nBlaEnd = std::min(maxIter, orbit.runs) - 1;
        m_gather.resize(slots);
        scratch.lap.assign((2 * m_iter.Carried().size() + 1) * kLaneCount, 0.0);
        scratch.before.assign(2 * m_iter.Carried().size() * kLaneCount, 0.0);
        for (int l = 0; l < kLanes; ++l) {
            m_lanePixel[l] = -1;
            Fill(l);
        }
    }

    void Run()
    {
        while (m_active != 0) {
            if (m_bTiny) {
                DeferAtTinyRuns();
            }
            Step();
        }
    }

private:
    bool Start(int p);
    void Fill(int l);
    void Step();
    void DeferAtTinyRuns();
    bool Defers(int l) const;
    void DeferToLand(int l);
    bool DecideByNorm();
    void RunTermination();
    bool GoesOn(int l);
    void SetRecord(int l, int r) // the record lane l's run takes
    {
        m_recordRun[l] = r;
        m_runAt[l] = static_cast<size_t>(r) * static_cast<size_t>(m_orbit.iteration.instructions);
        m_termRunAt[l] = static_cast<size_t>(r) * static_cast<size_t>(m_orbit.termination.instructions);
    }

    const CDeltaProgram& m_program;
    const CDeltaCode& m_iter;
    const CDeltaCode& m_term;
    const ReferenceOrbit& m_orbit;
    const ExComplex* const m_offsets;
    const int m_nCount;
    const int m_nMaxIter;
    DeltaLanes& m_scratch;
    DeltaPixel* const m_out;
    std::vector<Complex> m_start; // the carried offsets of the pixel being started
    int m_nStartRun { 0 };        // the run it starts at
    int m_nBlaEnd { 0 };          // the last run a bilinear skip may reach
    const DeltaKernels& m_kernels;
    CLaneDerivatives* const m_derive; // where the lanes carry the derivative
    int m_nFilling { 0 };             // the lane Fill fills
    bool m_bScaled { false };
    bool m_bKeepWide { false }; // a plane offset the doubles lose would decide a comparison
    bool m_bTiny { false };     // the reference passes closer to 0 than the doubles hold
    bool m_bLands { false };
    // Where the termination is norm(z) > K: 1 holds, -1 does not (see CDeltaProgram::NormDecision).
    alignas(64) double m_decision[kLanes] {};
    uint64_t m_active { 0 };
    int m_nNext { 0 };
    int m_laneRun[kLanes] {};
    int m_lanePixel[kLanes] {};
    alignas(64) size_t m_runAt[kLanes] {};     // each lane's run as an index into the iteration's records
    alignas(64) size_t m_termRunAt[kLanes] {}; // and into the termination's
    alignas(64) double m_z0Re[kLanes] {};      // each lane's plane offset
    alignas(64) double m_z0Im[kLanes] {};
    int m_recordRun[kLanes] {};   // its run, unless it rebased or went round a periodic orbit
    BlaTries m_tries[kLanes];     // when each lane next tries the bilinear skips
    int m_laneRebases[kLanes] {}; // its pixel's rebases at its last try
    std::vector<Complex> m_gather;
};

// The norm termination decided on each active lane's value (lastRe, lastIm) and offset; false when
// some lane needs the exact decision.
bool CLaneRun::DecideByNorm()
{
    const double* re = m_scratch.lastRe.data();
    const double* im = m_scratch.lastIm.data();
    const double* dre = m_scratch.re.data() + At(m_iter.Result());
    const double* dim = m_scratch.im.data() + At(m_iter.Result());
    for (uint64_t bits = m_active; bits != 0; bits &= bits - 1) {
        const int l = std::countr_zero(bits);
        m_decision[l] = m_program.NormDecision({ re[l], im[l] }, { dre[l], dim[l] });
        if (m_decision[l] == 0.0) {
            return false;
        }
    }
    return true;
}

// The carried offsets of pixel p after the skip and its bilinear skips from there (the run it starts
// at in m_nStartRun); false (deferred) when the doubles do not hold them.
bool CLaneRun::Start(int p)
{
    const ExComplex& offset = m_offsets[p];
    const std::vector<int32_t>& carried = m_iter.Carried();
    const int skip = m_orbit.skipRuns;
    // A carried slot's start with its own exponent.
    const auto wide = [&](size_t j) {
        const bool start = carried[j] == m_iter.Z() || carried[j] == m_iter.Z0();
        return skip > 0 ? SkipStart(m_orbit.skipSeries[j], offset) : (start ? offset : ExComplex {});
    };
    m_nStartRun = skip;
    bool large = ex::IsZero(offset);
    if (m_bScaled) {
        const Complex unit = ex::ToComplex(ex::Mul(offset, m_orbit.skipUnit));
        for (size_t j = 0; j < carried.size(); ++j) {
            m_start[j] = SkipStart(m_orbit.skipScaled[j], unit);
            large = large || std::fmax(std::fabs(m_start[j].re), std::fabs(m_start[j].im)) >= 0x1p-600;
        }
    } else {
        for (size_t j = 0; j < carried.size(); ++j) {
            const ExComplex x = wide(j);
            large = large || !ex::Below(x, 600);
            m_start[j] = ex::ToComplex(x);
        }
    }
    if (m_bKeepWide && !ex::IsZero(offset) && ex::Below(offset, kPlaneOffsetBits)) {
        return false;
    }
    if (m_orbit.bla.Empty()) {
        return large;
    }
    // The carried offsets the skips move; z0 keeps its offset. A slot's place among the carried ones.
    const std::vector<int32_t>& slots = m_orbit.bla.Slots();
    const auto place = [&](int32_t slot) {
        return static_cast<size_t>(std::find(carried.begin(), carried.end(), slot) - carried.begin());
    };
    ExComplex state[kBlaMaxWidth];
    for (size_t i = 0; i < slots.size(); ++i) {
        const size_t j = place(slots[i]);
        state[i] = large ? ex::From(m_start[j]) : wide(j);
    }
    m_nStartRun = m_derive
        ? m_derive->Carrier().Skip(m_orbit.bla, skip, m_nBlaEnd, state, offset, m_derive->Lane(m_nFilling))
        : m_orbit.bla.Skip(skip, m_nBlaEnd, state, offset);
    if (m_nStartRun == skip) {
        return large;
    }
    if (!large && m_bScaled) {
        for (size_t j = 0; j < carried.size(); ++j) {
            m_start[j] = ex::ToComplex(wide(j));
        }
    }
    bool wideEnough = large;
    for (size_t i = 0; i < slots.size(); ++i) {
        m_start[place(slots[i])] = ex::ToComplex(state[i]);
        wideEnough = wideEnough || !ex::Below(state[i], 600);
    }
    return wideEnough;
}

// Puts the next pixel whose offsets the doubles hold into lane l; a pixel whose largest carried
// offset is below their range is left to the caller (deferred).
void CLaneRun::Fill(int l)
{
    const int skip = m_orbit.skipRuns;
    m_laneRun[l] = skip;
    SetRecord(l, m_orbit.RecordRun(skip));
    std::fill_n(m_scratch.lap.data() + (2 * m_iter.Carried().size() + 1) * static_cast<size_t>(l),
        2 * m_iter.Carried().size() + 1, NAN);
    while (m_nNext < m_nCount) {
        const int p = m_nNext++;
        m_out[p] = {};
        m_out[p].runs = skip;
        if (m_recordRun[l] >= m_orbit.runs) {
            m_out[p].glitched = true; // the reference ends before the pixel's first run
            continue;
        }
        if (m_derive) {
            m_derive->Carrier().Start(m_orbit, m_offsets[p], skip, m_derive->Lane(l));
            m_nFilling = l;
        }
        if (!Start(p)) {
            m_out[p].deferred = true; // Iterate takes it from the start, its own skips included
            continue;
        }
        const int run = m_nStartRun;
        m_tries[l] = { run, 1 };
        m_laneRebases[l] = 0;
        if (!m_orbit.bla.Empty()) {
            TriedLane(m_tries[l], skip, run, run);
        }
        m_out[p].runs = run;
        m_out[p].skipped = run - skip;
        m_laneRun[l] = run;
        SetRecord(l, m_orbit.RecordRun(run)); // a bilinear skip ends before the orbit does
        for (double* lanes : { m_scratch.re.data(), m_scratch.im.data() }) {
            for (int s = 0; s < m_iter.Slots(); ++s) {
                lanes[At(s) + static_cast<size_t>(l)] = 0.0;
            }
        }
        for (double* lanes : { m_scratch.termRe.data(), m_scratch.termIm.data() }) {
            for (int s = 0; s < m_term.Slots(); ++s) {
                lanes[At(s) + static_cast<size_t>(l)] = 0.0;
            }
        }
        const std::vector<int32_t>& carried = m_iter.Carried();
        for (size_t j = 0; j < carried.size(); ++j) {
            m_scratch.re[At(carried[j]) + static_cast<size_t>(l)] = m_start[j].re;
            m_scratch.im[At(carried[j]) + static_cast<size_t>(l)] = m_start[j].im;
        }
        const Complex z0 = ex::ToComplex(m_offsets[p]);
        m_z0Re[l] = z0.re;
        m_z0Im[l] = z0.im;
        m_scratch.glitched[static_cast<size_t>(l)] = 0.0;
        m_lanePixel[l] = p;
        m_active |= uint64_t { 1 } << l;
        return;
    }
}

// Whether lane l's pixel is at a run where the reference lies closer to 0 than the doubles hold while
// its own offsets are too small for their products to hold.
bool CLaneRun::Defers(int l) const
{
    if (m_orbit.SingularRun(m_recordRun[l])) {
        return true; // a value that is not a number: the lane loops would spread it
    }
    if (!m_orbit.TinyRun(m_recordRun[l])) {
        return false;
    }
    const double limit = std::ldexp(1.0, -kTinyRunBits);
    for (const int32_t slot : m_iter.Carried()) {
        const size_t at = At(slot) + static_cast<size_t>(l);
        if (std::fmax(std::fabs(m_scratch.re[at]), std::fabs(m_scratch.im[at])) >= limit) {
            return false;
        }
    }
    return true;
}

// Hands such pixels to Iterate with their offsets, to go on from their run in ExComplex.
void CLaneRun::DeferAtTinyRuns()
{
    const size_t slots = static_cast<size_t>(m_iter.Slots());
    const size_t termSlots = static_cast<size_t>(m_term.Slots());
    for (uint64_t bits = m_active; bits != 0; bits &= bits - 1) {
        const int l = std::countr_zero(bits);
        while ((m_active >> l & 1u) != 0 && Defers(l)) {
            const int p = m_lanePixel[l];
            Complex* row = m_scratch.resume.data() + static_cast<size_t>(p) * (slots + termSlots);
            for (size_t s = 0; s < slots; ++s) {
                row[s] = { m_scratch.re[s * kLaneCount + static_cast<size_t>(l)],
                    m_scratch.im[s * kLaneCount + static_cast<size_t>(l)] };
            }
            for (size_t s = 0; s < termSlots; ++s) {
                row[slots + s] = { m_scratch.termRe[s * kLaneCount + static_cast<size_t>(l)],
                    m_scratch.termIm[s * kLaneCount + static_cast<size_t>(l)] };
            }
            m_out[p].deferred = true;
            m_out[p].resumeRun = m_laneRun[l];
            m_out[p].recordRun = m_recordRun[l];
            m_out[p].runs = m_laneRun[l];
            m_active &= ~(uint64_t { 1 } << l);
            Fill(l);
        }
    }
}

// Hands lane l's pixel, whose run glitched, to Iterate with its carried offsets before the run, to take
// it again and land, or rebase, where it can.
void CLaneRun::DeferToLand(int l)
{
    const int p = m_lanePixel[l];
    const size_t row = static_cast<size_t>(m_iter.Slots() + m_term.Slots());
    ResumeBefore(m_iter.Carried(), m_scratch.before.data(), l,
        m_scratch.resume.data() + static_cast<size_t>(p) * row, row);
    m_out[p].deferred = true;
    m_out[p].resumeRun = m_laneRun[l];
    m_out[p].recordRun = m_recordRun[l];
    m_out[p].runs = m_laneRun[l];
}

// The termination's delta program on every lane, after the iteration's run.
void CLaneRun::RunTermination()
{
    double* tre = m_scratch.termRe.data();
    double* tim = m_scratch.termIm.data();
    if (m_term.Z() >= 0) {
        std::copy_n(m_scratch.re.data() + At(m_iter.Result()), kLaneCount, tre + At(m_term.Z()));
        std::copy_n(m_scratch.im.data() + At(m_iter.Result()), kLaneCount, tim + At(m_term.Z()));
    }
    if (m_term.Z0() >= 0) {
        std::copy_n(m_z0Re, kLaneCount, tre + At(m_term.Z0()));
        std::copy_n(m_z0Im, kLaneCount, tim + At(m_term.Z0()));
    }
    if (m_program.TermN() >= 0) {
        std::fill_n(tre + At(m_program.TermN()), kLaneCount, 0.0);
        std::fill_n(tim + At(m_program.TermN()), kLaneCount, 0.0);
    }
    RunLanes(
        m_term, m_orbit.termination, m_termRunAt, m_active, tre, tim, m_scratch.glitched.data(), m_kernels);
}

// One run of every lane: the iteration, the termination on its value, then each lane's pixel ends or
// goes on to its next run.
void CLaneRun::Step()
{
    double* re = m_scratch.re.data();
    double* im = m_scratch.im.data();
    double* tre = m_scratch.termRe.data();
    double* glitched = m_scratch.glitched.data();
    if (m_program.Rebases() || m_bLands) {
        KeepCarried(m_iter.Carried(), re, im, m_scratch.before.data());
    }
    if (m_derive) {
        m_derive->BeginRun(m_active);
    }
    RunLanes(m_iter, m_orbit.iteration, m_runAt, m_active, re, im, glitched, m_kernels, m_derive);
    if (m_derive) {
        m_derive->EndRun(m_active, glitched);
    }
    // Lanes that glitched and rebased take their run again, from another record. Where the program
    // lands, Iterate tries that first and rebases after (DeferToLand).
    const uint64_t again = m_program.Rebases() && !m_bLands ? RebaseGlitchedLanes(m_program, m_orbit,
                               m_active, glitched, re, im, m_scratch.before.data(), m_recordRun, m_gather)
                                                            : 0;
    for (uint64_t b = again; b != 0; b &= b - 1) {
        SetRecord(std::countr_zero(b), m_recordRun[std::countr_zero(b)]);
        ++m_out[m_lanePixel[std::countr_zero(b)]].rebases;
    }
    m_kernels.value(m_orbit.last.data(), m_recordRun, re + At(m_iter.Result()), im + At(m_iter.Result()),
        m_scratch.lastRe.data(), m_scratch.lastIm.data());
    const bool exact = !m_program.NormEscape() || !DecideByNorm();
    if (exact) {
        RunTermination();
    }
    const double* held = tre + At(m_term.Result());
    for (uint64_t bits = m_active; bits != 0; bits &= bits - 1) {
        const int l = std::countr_zero(bits);
        if ((again >> l & 1u) != 0) {
            continue;
        }
        DeltaPixel& pixel = m_out[m_lanePixel[l]];
        const int n = m_laneRun[l];
        const int r = m_recordRun[l];
        const double sum = exact ? m_orbit.held[static_cast<size_t>(r)] + held[l] : m_decision[l];
        // The runs a pixel made are counted when it ends: the skip's and n + 1 from its lane.
        bool ends = true;
        if (glitched[l] != 0.0 && m_bLands) {
            DeferToLand(l);
        } else if (glitched[l] != 0.0 || std::isnan(sum)) {
            pixel.glitched = true;
            pixel.runs = n;
        } else if (sum > 0.0 || n + 1 >= m_nMaxIter) {
            const size_t at = At(m_iter.Result()) + static_cast<size_t>(l);
            pixel.count = sum > 0.0 ? n : m_nMaxIter;
            pixel.last
                = { m_scratch.lastRe[static_cast<size_t>(l)], m_scratch.lastIm[static_cast<size_t>(l)] };
            pixel.lastOffset = ex::From({ re[at], im[at] });
            pixel.runs = n + 1;
            pixel.recordRun = r;
            if (m_derive) {
                m_derive->Keep(l, m_lanePixel[l]);
            }
        } else {
            ends = !GoesOn(l);
        }
        if (ends) {
            m_active &= ~(uint64_t { 1 } << l);
            Fill(l);
        }
    }
}

// Lane l's pixel, its run done and its termination not holding, to its next run (see NextLaneRecord);
// false when it ends here.
bool CLaneRun::GoesOn(int l)
{
    DeltaPixel& pixel = m_out[m_lanePixel[l]];
    int n = m_laneRun[l];
    pixel.runs = n + 1;
    int next = NextLaneRecord(m_program, m_orbit, m_recordRun[l], m_scratch.re.data(), m_scratch.im.data(), l,
        m_gather, m_scratch.lap.data() + (2 * m_iter.Carried().size() + 1) * static_cast<size_t>(l),
        pixel.rebases);
    if (next == kGoesRound) {
        // On to the lap that ends at the limit: its last run gives the value the limit's run would.
        n += m_orbit.period * ((m_nMaxIter - 2 - n) / m_orbit.period);
        next = m_orbit.NextRecord(m_recordRun[l]);
    }
    if (next < 0) {
        pixel.glitched = true;
        return false;
    }
    m_laneRun[l] = n + 1;
    // A pixel that rebased, or passed the runs its offsets were too large for, may skip again.
    if (pixel.rebases != m_laneRebases[l]) {
        m_laneRebases[l] = pixel.rebases;
        m_tries[l] = { m_laneRun[l], 1 };
    }
    if (!m_orbit.bla.Empty() && m_laneRun[l] >= m_tries[l].next) {
        const int from = next;
        next = SkipLane(m_orbit, from, m_laneRun[l], m_nMaxIter, m_scratch.re.data(), m_scratch.im.data(), l,
            m_offsets[m_lanePixel[l]], m_tries[l], m_derive ? &m_derive->Carrier() : nullptr,
            m_derive ? &m_derive->Lane(l) : nullptr);
        pixel.skipped += next - from;
    }
    SetRecord(l, next);
    return true;
}

} // namespace

void CDeltaProgram::IterateLanes(const ReferenceOrbit& orbit, const ExComplex* offsets, int count,
    int maxIter, DeltaLanes& scratch, DeltaPixel* out, CLaneDerivatives* derive) const
{
    CLaneRun(*this, orbit, offsets, count, maxIter, scratch, out, derive).Run();
}
