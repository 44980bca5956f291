#include "lanepixels.h"

#include "laneskip.h"

#include <bit>

namespace deltalanes {

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

} // namespace deltalanes
