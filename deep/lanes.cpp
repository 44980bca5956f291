#include "lanepixels.h"

#include "deltaforms.h"
#include "laneskip.h"

#include "opcodes.h"

#include <algorithm>
#include <bit>
#include <cmath>

// Pixels side by side: kLanes offsets at a time, each lane at its own run of the reference, so that
// one slow pixel does not hold 63 idle lanes. Idle lanes read the skip's run; what they compute is
// never read.

namespace deltalanes {

// The termination decided on every lane's value (lastRe, lastIm) and offset, in decision; false
// when some active lane needs the exact decision.
bool CLaneRun::DecideByValue(double* decision) const
{
    const uint64_t undecided = m_books.decide(m_program, m_scratch.lastRe.data(), m_scratch.lastIm.data(),
        m_scratch.re.data() + At(m_iter.Result()), m_scratch.im.data() + At(m_iter.Result()), decision);
    return (undecided & m_active) == 0;
}

// The runs lane l goes from its run and record before one ends somewhere other than at the next record
// with nothing due: the limit, the orbit's last record, a lap's end or its next bilinear try.
double CLaneRun::QuietRuns(int l) const
{
    const int n = m_laneRun[l];
    const int r = m_recordRun[l];
    int quiet = std::min(m_nMaxIter - n, m_orbit.runs - r) - 1;
    if (!m_orbit.bla.Empty()) {
        quiet = std::min(quiet, m_tries[l].next - n - 1);
    }
    if (m_orbit.period > 0) {
        const int past = std::max(r - m_orbit.cycleEnd, 0);
        const int lapEnd = m_orbit.cycleEnd + (past + m_orbit.period - 1) / m_orbit.period * m_orbit.period;
        quiet = std::min(quiet, lapEnd - r);
    }
    return std::max(quiet, 0);
}

// Lanes whose run ended plainly (no glitch, the termination not holding, sum its decision) with runs
// to go quietly take their next run and record here, with no branch per lane; returns them. Their
// pixels' runs are written when they end.
uint64_t CLaneRun::GoOnQuietly(const double* sum)
{
    return m_books.goOn({ m_quiet, m_laneRun, m_recordRun, m_runAt, m_termRunAt,
                            static_cast<size_t>(m_orbit.iteration.instructions),
                            static_cast<size_t>(m_orbit.termination.instructions) },
        m_scratch.glitched.data(), sum);
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
        return skip > 0 ? m_orbit.SkipOffset(j, offset) : (start ? offset : ExComplex {});
    };
    m_nStartRun = skip;
    bool large = ex::IsZero(offset);
    if (m_bScaled) {
        const Complex unit = ex::ToComplex(ex::Mul(offset, m_orbit.skipUnit));
        for (size_t j = 0; j < carried.size(); ++j) {
            m_start[j] = m_orbit.SkipOffsetScaled(j, unit);
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

// Pixel p from its start into lane l: its run and offsets after the skip and its bilinear skips; false
// where the doubles do not hold them (deferred) or the reference ends first (glitched).
bool CLaneRun::Begin(int p, int l)
{
    const int skip = m_orbit.skipRuns;
    m_out[p] = {};
    m_out[p].runs = skip;
    if (m_recordRun[l] >= m_orbit.runs) {
        m_out[p].glitched = true; // the reference ends before the pixel's first run
        return false;
    }
    if (m_derive) {
        m_derive->Carrier().Start(m_orbit, m_offsets[p], skip, m_derive->Lane(l));
        m_nFilling = l;
    }
    if (!Start(p)) {
        m_out[p].deferred = true; // Iterate takes it from the start, its own skips included
        return false;
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
    return true;
}

// Pixel p into lane l where Iterate handed it back: its next run, record and slots as they were.
bool CLaneRun::TakeOn(int p, int l)
{
    const DeltaPixel& from = m_resumes->pixels[p];
    m_out[p] = from;
    m_out[p].deferred = false;
    m_out[p].resumeRun = -1;
    if (from.resumeRun < 0 || from.recordRun < 0 || from.recordRun >= m_orbit.runs) {
        m_out[p].glitched = true;
        return false;
    }
    m_laneRun[l] = from.resumeRun;
    SetRecord(l, from.recordRun);
    m_tries[l] = { from.resumeRun, 1 };
    m_laneRebases[l] = from.rebases;
    const Complex* row = m_resumes->rows + static_cast<size_t>(p) * m_resumes->row;
    const size_t slots = static_cast<size_t>(m_iter.Slots());
    for (size_t s = 0; s < slots; ++s) {
        m_scratch.re[At(static_cast<int>(s)) + static_cast<size_t>(l)] = row[s].re;
        m_scratch.im[At(static_cast<int>(s)) + static_cast<size_t>(l)] = row[s].im;
    }
    for (size_t s = 0; s < static_cast<size_t>(m_term.Slots()); ++s) {
        m_scratch.termRe[At(static_cast<int>(s)) + static_cast<size_t>(l)] = row[slots + s].re;
        m_scratch.termIm[At(static_cast<int>(s)) + static_cast<size_t>(l)] = row[slots + s].im;
    }
    return true;
}

// Puts the next pixel whose offsets the doubles hold into lane l; a pixel whose largest carried
// offset is below their range is left to the caller (deferred).
void CLaneRun::Fill(int l)
{
    const int skip = m_orbit.skipRuns;
    m_laneRun[l] = skip;
    m_quiet[l] = 0;
    SetRecord(l, m_orbit.RecordRun(skip));
    std::fill_n(m_scratch.lap.data() + (2 * m_iter.Carried().size() + 1) * static_cast<size_t>(l),
        2 * m_iter.Carried().size() + 1, NAN);
    while (m_nNext < m_nCount) {
        const int p = m_nNext++;
        if (m_resumes ? !TakeOn(p, l) : !Begin(p, l)) {
            continue;
        }
        const Complex z0 = ex::ToComplex(m_offsets[p]);
        m_z0Re[l] = z0.re;
        m_z0Im[l] = z0.im;
        m_scratch.glitched[static_cast<size_t>(l)] = 0.0;
        m_lanePixel[l] = p;
        m_active |= uint64_t { 1 } << l;
        m_quiet[l] = QuietRuns(l);
        return;
    }
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
    const uint64_t marked = m_active & m_books.marked(glitched); // most runs mark none
    const uint64_t again = m_program.Rebases() && !m_bLands && marked != 0
        ? RebaseGlitchedLanes(
            m_program, m_orbit, marked, glitched, re, im, m_scratch.before.data(), m_recordRun, m_gather)
        : 0;
    for (uint64_t b = again; b != 0; b &= b - 1) {
        const int l = std::countr_zero(b);
        SetRecord(l, m_recordRun[l]);
        m_quiet[l] = 0; // its next run is its first on that record: GoesOn sees the rebase
        ++m_out[m_lanePixel[l]].rebases;
    }
    m_kernels.value(m_orbit.last.data(), m_recordRun, re + At(m_iter.Result()), im + At(m_iter.Result()),
        m_scratch.lastRe.data(), m_scratch.lastIm.data());
    // Each lane's decision: where its value decides, 1 holds and -1 does not; else the exact sum.
    alignas(64) double sums[kLanes];
    const bool exact = !m_program.DecidesEscape() || !DecideByValue(sums);
    if (exact) {
        RunTermination();
        const double* held = tre + At(m_term.Result());
        for (size_t l = 0; l < kLaneCount; ++l) {
            // An idle lane's record may lie past the orbit's end: it reads the first.
            const int r = (m_active >> l & 1u) != 0 ? m_recordRun[l] : 0;
            sums[l] = m_orbit.held[static_cast<size_t>(r)] + held[l];
        }
    }
    const uint64_t quiet = GoOnQuietly(sums);
    for (uint64_t bits = m_active & ~again & ~quiet; bits != 0; bits &= bits - 1) {
        const int l = std::countr_zero(bits);
        DeltaPixel& pixel = m_out[m_lanePixel[l]];
        const int n = m_laneRun[l];
        const int r = m_recordRun[l];
        const double sum = sums[l];
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
            m_quiet[l] = ends ? 0 : QuietRuns(l);
        }
        if (ends) {
            m_active &= ~(uint64_t { 1 } << l);
            Fill(l);
        }
    }
}

} // namespace deltalanes

void CDeltaProgram::IterateLanes(const ReferenceOrbit& orbit, const ExComplex* offsets, int count,
    int maxIter, DeltaLanes& scratch, DeltaPixel* out, CLaneDerivatives* derive,
    const LaneResumes* resumes) const
{
    deltalanes::CLaneRun(*this, orbit, offsets, count, maxIter, scratch, out, derive, resumes).Run();
}
