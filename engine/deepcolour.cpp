#include "deepcolour.h"

CDeepColour::CDeepColour(const Picture& picture, const RenderPlan& plan, const RenderArea& area,
    const Raster& target, const std::vector<int>& rows, const std::vector<int>& columns,
    const CBatchFormula& color)
    : m_picture(picture)
    , m_plan(plan)
    , m_area(area)
    , m_target(target)
    , m_rows(rows)
    , m_columns(columns)
    , m_color(color)
    , m_z(m_color.Slot(plan.v.colorZ))
    , m_n(m_color.Slot(plan.v.colorN))
    , m_z0(m_color.Slot(plan.v.colorZ0))
{
    for (const int slot : { m_z, m_n, m_z0 }) {
        m_color.SetByCaller(slot);
    }
    const DerivativeSlots& d = plan.v.colorD;
    int k = 0;
    for (const int slot : { d.dz, d.dzy, d.de, d.dir }) {
        m_derivative[k] = m_color.Slot(slot);
        m_color.SetByCaller(m_derivative[k++]);
    }
    for (const IterationRead& read : plan.v.colorReads) {
        m_reads.push_back(m_color.Slot(read.slot));
        m_color.SetByCaller(m_reads.back());
    }
}

DerivativeView CDeepColour::View(Complex last, const ExComplex* derivative) const
{
    return derivative ? ViewDeepDerivative(last, derivative[0], derivative[1], m_pixel)
                      : DerivativeView { kNaNResult, kNaNResult, kNaN, kNaNResult };
}

void CDeepColour::PutData(
    long long row, long long column, int count, Complex last, const DerivativeView& view) const
{
    m_plan.data->Put(row, column, count, last);
    if (m_plan.tangent) {
        m_plan.data->PutDerivative(row, column, view);
    }
}

void CDeepColour::operator()(
    size_t index, Complex point, int count, Complex last, const ExComplex* derivative, const Complex* reads)
{
    const int lane = m_nPending++;
    m_color.ResetLane(lane);
    if (m_z0 >= 0) {
        m_color.Set(m_z0, lane, point);
    }
    if (m_n >= 0) {
        m_color.Set(m_n, lane, { static_cast<double>(count), 0.0 });
    }
    if (m_z >= 0) {
        m_color.Set(m_z, lane, last);
    }
    const DerivativeView view = View(last, derivative);
    const Complex values[4] { view.dz, view.dzy, { view.de, 0.0 }, view.dir };
    for (int k = 0; k < 4; ++k) {
        if (m_derivative[k] >= 0) {
            m_color.Set(m_derivative[k], lane, values[k]);
        }
    }
    for (size_t k = 0; k < m_reads.size(); ++k) {
        if (m_reads[k] >= 0) {
            m_color.Set(m_reads[k], lane, reads ? reads[k] : kNaNResult);
        }
    }
    m_view[lane] = view;
    m_index[lane] = index;
    m_count[lane] = count;
    m_last[lane] = last;
    if (m_nPending == kLanes) {
        Flush();
    }
}

void CDeepColour::Paint(size_t index, int count, Complex last, Complex colour, const ExComplex* derivative)
{
    const size_t lj = static_cast<size_t>(m_rows[index / m_columns.size()]);
    const size_t li = static_cast<size_t>(m_columns[index % m_columns.size()]);
    if (m_plan.data) {
        PutData(m_plan.Row(m_area, lj), m_plan.Column(m_area, li), count, last, View(last, derivative));
    }
    PaintColour(
        m_plan, m_picture.mapping, m_target, m_plan.Row(m_area, lj), m_plan.Column(m_area, li), colour);
}

void CDeepColour::Flush()
{
    if (m_nPending == 0) {
        return;
    }
    m_color.Run();
    const double* re = m_color.Re(m_color.ResultSlot());
    const double* im = m_color.Im(m_color.ResultSlot());
    for (int lane = 0; lane < m_nPending; ++lane) {
        const size_t index = m_index[lane];
        const size_t lj = static_cast<size_t>(m_rows[index / m_columns.size()]);
        const size_t li = static_cast<size_t>(m_columns[index % m_columns.size()]);
        if (m_plan.data) {
            PutData(
                m_plan.Row(m_area, lj), m_plan.Column(m_area, li), m_count[lane], m_last[lane], m_view[lane]);
        }
        PaintColour(m_plan, m_picture.mapping, m_target, m_plan.Row(m_area, lj), m_plan.Column(m_area, li),
            { re[lane], im[lane] });
    }
    m_nPending = 0;
}
