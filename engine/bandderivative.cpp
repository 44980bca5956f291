// The batched renderer's share of the orbit's derivative: the iteration runs its derived program
// (see tangent.h), and the derivative at a lane's last iteration reaches the termination formula
// after every run and the colour formula when the pixel is done, as the scalar renderer hands it.
#include "bandworker.h"

#include <cstring>

void CBandWorker::BindDerivatives()
{
    m_bDerivative = m_plan.tangent != nullptr;
    if (!m_bDerivative) {
        return;
    }
    const TangentFormula& program = m_plan.tangent->program;
    if (m_plan.tangent->ok) {
        m_dzx = program.dzx >= 0 ? m_iter.Slot(program.dzx) : -1;
        m_dzy = program.dzy >= 0 ? m_iter.Slot(program.dzy) : -1;
    }
    const auto bind = [](CBatchFormula& formula, const DerivativeSlots& slots) {
        DerivativeSlots batch { formula.Slot(slots.dz), formula.Slot(slots.dzy), formula.Slot(slots.de),
            formula.Slot(slots.dir) };
        // Stored before every run: no reset needed.
        for (const int slot : { batch.dz, batch.dzy, batch.de, batch.dir }) {
            formula.SetByCaller(slot);
        }
        return batch;
    };
    m_termD = bind(m_term, m_plan.v.termD);
    m_colorD = bind(m_color, m_plan.v.colorD);
}

namespace {

Complex LaneOf(const CBatchFormula& formula, int slot, int lane)
{
    return slot >= 0 ? formula.Get(slot, lane) : Complex {};
}

void Store(CBatchFormula& formula, const DerivativeSlots& slots, int lane, const DerivativeView& view)
{
    for (const auto& [slot, value] : { std::pair { slots.dz, view.dz }, std::pair { slots.dzy, view.dzy },
             std::pair { slots.de, Complex { view.de, 0.0 } }, std::pair { slots.dir, view.dir } }) {
        if (slot >= 0) {
            formula.Set(slot, lane, value);
        }
    }
}

} // namespace

void CBandWorker::SetTermDerivatives()
{
    if (!m_termD.Any()) {
        return;
    }
    const int result = m_iter.ResultSlot();
    for (int lane = 0; lane < kLanes; ++lane) {
        const DerivativeView view = ReadDerivative(*m_plan.tangent, m_iter.Get(result, lane),
            LaneOf(m_iter, m_dzx, lane), LaneOf(m_iter, m_dzy, lane));
        Store(m_term, m_termD, lane, view);
    }
}

void CBandWorker::KeepDerivatives(uint64_t stopped)
{
    for (; stopped != 0; stopped &= stopped - 1) {
        const int lane = std::countr_zero(stopped);
        for (const int d : { 0, 1 }) {
            const Complex value = LaneOf(m_iter, d == 0 ? m_dzx : m_dzy, lane);
            m_keptRe[d][lane] = value.re;
            m_keptIm[d][lane] = value.im;
        }
    }
}

void CBandWorker::FinishDerivative(int lane, int k)
{
    for (const int d : { 0, 1 }) {
        m_colourDzRe[d][k] = m_keptRe[d][lane];
        m_colourDzIm[d][k] = m_keptIm[d][lane];
    }
}

// The views of the whole batch at once (the moduli and logarithms as vectors), then into the
// colour formula's lanes.
void CBandWorker::SetColourDerivatives(SharedRender& shared, int n)
{
    const IterationTangent& tangent = *m_plan.tangent;
    const PixelData* const data = m_plan.data;
    if (!tangent.ok) {
        const DerivativeView view = ReadDerivative(tangent, {}, {}, {});
        for (int k = 0; k < n; ++k) {
            Store(m_color, m_colorD, k, view);
            if (data != nullptr) {
                data->PutDerivative(
                    shared.rowPixel[m_colourRow[k]], shared.columnPixel[m_colourColumn[k]], view);
            }
        }
        return;
    }
    // Only what the colour formula or the data reads.
    const bool de = m_colorD.de >= 0 || data != nullptr;
    const bool dir = m_colorD.dir >= 0 || data != nullptr;
    ViewDerivatives({ m_colourLastRe, m_colourLastIm, m_colourDzRe[0], m_colourDzIm[0],
                        de ? m_colourDe : nullptr, dir ? m_colourDirRe : nullptr, m_colourDirIm },
        n, tangent.pixel);
    // Without a d/dy of its own, d/dy = i d/dx.
    if (tangent.program.dzy < 0) {
        for (int k = 0; k < n; ++k) {
            m_colourDzRe[1][k] = -m_colourDzIm[0][k];
            m_colourDzIm[1][k] = m_colourDzRe[0][k];
        }
    }
    const auto put = [this, n](int slot, const double* re, const double* im) {
        if (slot >= 0) {
            std::memcpy(m_color.Re(slot), re, sizeof(double) * static_cast<size_t>(n));
            std::memcpy(m_color.Im(slot), im, sizeof(double) * static_cast<size_t>(n));
        }
    };
    put(m_colorD.dz, m_colourDzRe[0], m_colourDzIm[0]);
    put(m_colorD.dzy, m_colourDzRe[1], m_colourDzIm[1]);
    put(m_colorD.de, m_colourDe, m_zeros);
    put(m_colorD.dir, m_colourDirRe, m_colourDirIm);
    for (int k = 0; data != nullptr && k < n; ++k) {
        const DerivativeView view { { m_colourDzRe[0][k], m_colourDzIm[0][k] },
            { m_colourDzRe[1][k], m_colourDzIm[1][k] }, m_colourDe[k],
            { m_colourDirRe[k], m_colourDirIm[k] } };
        data->PutDerivative(shared.rowPixel[m_colourRow[k]], shared.columnPixel[m_colourColumn[k]], view);
    }
}
