// The batched renderer's share of V_iter_<name>: the termination formula sees the iteration's
// variables after every run; a lane that stops keeps their values (it runs on to the end of its
// block), and the colour formula sees the kept ones, as the scalar renderer hands them.
#include "bandworker.h"

#include <bit>
#include <cstring>

void CBandWorker::BindReads()
{
    const auto bind = [this](CBatchFormula& reader, const std::vector<IterationRead>& reads) {
        std::vector<BatchRead> batch;
        for (const IterationRead& read : reads) {
            const BatchRead pair { m_iter.Slot(read.source), reader.Slot(read.slot) };
            if (pair.from >= 0 && pair.to >= 0) {
                // Stored before every run: no reset needed.
                reader.SetByCaller(pair.to);
                batch.push_back(pair);
            }
        }
        return batch;
    };
    m_termReads = bind(m_term, m_plan.v.termReads);
    m_colourReads = bind(m_color, m_plan.v.colorReads);
    m_readsKept.assign(m_colourReads.size() * 2 * kLanes, 0.0);
    m_readsColour.assign(m_colourReads.size() * 2 * kBatchRoom, 0.0);
}

void CBandWorker::SetTermReads()
{
    for (const BatchRead& read : m_termReads) {
        std::memcpy(m_term.Re(read.to), m_iter.Re(read.from), sizeof(double) * kLanes);
        std::memcpy(m_term.Im(read.to), m_iter.Im(read.from), sizeof(double) * kLanes);
    }
}

void CBandWorker::KeepReads(uint64_t stopped)
{
    for (; stopped != 0; stopped &= stopped - 1) {
        const int lane = std::countr_zero(stopped);
        double* kept = m_readsKept.data();
        for (const BatchRead& read : m_colourReads) {
            kept[lane] = m_iter.Re(read.from)[lane];
            kept[kLanes + lane] = m_iter.Im(read.from)[lane];
            kept += 2 * kLanes;
        }
    }
}

void CBandWorker::FinishReads(int lane, int k)
{
    const double* kept = m_readsKept.data();
    double* colour = m_readsColour.data();
    for (size_t r = 0; r < m_colourReads.size(); ++r) {
        colour[k] = kept[lane];
        colour[kBatchRoom + k] = kept[kLanes + lane];
        kept += 2 * kLanes;
        colour += 2 * kBatchRoom;
    }
}

void CBandWorker::SetColourReads(int n)
{
    const double* colour = m_readsColour.data();
    for (const BatchRead& read : m_colourReads) {
        std::memcpy(m_color.Re(read.to), colour, sizeof(double) * static_cast<size_t>(n));
        std::memcpy(m_color.Im(read.to), colour + kBatchRoom, sizeof(double) * static_cast<size_t>(n));
        colour += 2 * kBatchRoom;
    }
}
