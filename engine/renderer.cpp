#include "renderer.h"

#include "batchformula.h"
#include "renderpool.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// Lane blocks run this many iterations between refills: a finished pixel waits at most this long
// for its lane to take the next one, and the stage and stop flags are read this often.
constexpr int kIterationsPerRefill = 4;

// The variables a formula may read from the renderer, bound by name once per render.
struct Bindings {
    int iterZ, iterZ0;
    int termZ, termN, termZ0, termMax;
    int colorZ, colorN, colorMax, colorZ0;
};

Bindings Bind(const RenderSnapshot& p)
{
    return { p.iterFormula.FindVariable("z"), p.iterFormula.FindVariable("z0"), p.termFormula.FindVariable("z"),
        p.termFormula.FindVariable("V_iter_n"), p.termFormula.FindVariable("z0"),
        p.termFormula.FindVariable("V_iter_max"), p.colorFormula.FindVariable("z"),
        p.colorFormula.FindVariable("V_iter_n"), p.colorFormula.FindVariable("V_iter_max"),
        p.colorFormula.FindVariable("z0") };
}

// The plane coordinates of the lattice lines, accumulated exactly as a walk from the first line
// adds the step, so that every way of cutting a render up gives the same points.
std::vector<double> LatticeLine(int from, int to, int step, double scale, double delta, double offset)
{
    std::vector<double> values;
    if (to > from) {
        values.reserve(static_cast<size_t>((static_cast<long long>(to) - from + step - 1) / step));
    }
    double value = (from + 0.5) / scale * delta + offset;
    for (long long i = from; i < to; i += step) {
        values.push_back(value);
        value += delta;
    }
    return values;
}

// What both renderers share: the checks, the bindings, the lattice and the palette.
struct Plan {
    int result { kRenderDone };
    Bindings v {};
    int stepX { 1 };
    int stepY { 1 };
    double progressStep { 0.0 };
    std::vector<double> xs;
    std::vector<double> ys;
    int bytesPerPixel { 0 };
    const uint8_t* paletteBits { nullptr };
    qsizetype paletteStride { 0 };
    int paletteWidth { 0 };
    int paletteHeight { 0 };

    // The row (or column) of lattice line k.
    long long Column(const RenderArea& area, size_t k) const { return area.left + static_cast<long long>(k) * stepX; }
    long long Row(const RenderArea& area, size_t k) const { return area.top + static_cast<long long>(k) * stepY; }
};

Plan Prepare(RenderSnapshot& picture, const Raster& target, const RenderArea& area)
{
    Plan plan;
    const QImage& palette = picture.palette;
    if (target.pixels == nullptr) {
        plan.result = kRenderNoTarget;
    } else if (!palette.isNull() && target.bitsPerPixel != palette.depth()) {
        plan.result = kRenderFormatMismatch;
    } else if (palette.isNull() || palette.width() <= 0 || palette.height() <= 0) {
        plan.result = kRenderNoPalette;
    } else {
        plan.v = Bind(picture);
        if (plan.v.iterZ < 0) {
            plan.result = kRenderNoIterationVariable;
        }
    }
    if (plan.result != kRenderDone) {
        return plan;
    }
    const double maxIter = picture.maxIter;
    picture.termFormula.SetVariable(plan.v.termMax, { maxIter, 0.0 });
    picture.colorFormula.SetVariable(plan.v.colorMax, { maxIter, 0.0 });
    plan.stepX = std::max(1, area.stepX);
    plan.stepY = std::max(1, area.stepY);
    const double deltaX = picture.imageWidth * picture.ratio * area.scaleX / (area.right - area.left);
    const double deltaY = picture.imageHeight * picture.ratio * area.scaleY / (area.bottom - area.top);
    plan.progressStep = static_cast<double>(plan.stepY) / (area.bottom - area.top);
    plan.xs = LatticeLine(area.left, area.right, plan.stepX, area.scaleX, deltaX, picture.offsetX);
    plan.ys = LatticeLine(area.top, area.bottom, plan.stepY, area.scaleY, deltaY, picture.offsetY);
    plan.bytesPerPixel = target.bitsPerPixel / 8;
    plan.paletteBits = palette.constBits();
    plan.paletteStride = palette.bytesPerLine();
    plan.paletteWidth = palette.width();
    plan.paletteHeight = palette.height();
    return plan;
}

bool Aborted(const RenderControl& control)
{
    return control.stage.load(std::memory_order_relaxed) != control.generation
        || control.stop.load(std::memory_order_relaxed);
}

// Copies the palette pixel that a colour value selects into the target.
inline void Paint(const Plan& plan, const PaletteMapping& mapping, const Raster& target, long long row, long long column,
    Complex colour)
{
    const PalettePoint at = MapColour(mapping, colour, plan.paletteWidth, plan.paletteHeight);
    std::memcpy(target.pixels + row * target.bytesPerRow + column * plan.bytesPerPixel,
        plan.paletteBits + at.y * plan.paletteStride + at.x * plan.bytesPerPixel, plan.bytesPerPixel);
}

} // namespace

int RenderPictureScalar(RenderSnapshot& picture, const Raster& target, const RenderArea& area, RenderControl control)
{
    control.progress.store(0.0, std::memory_order_relaxed);
    const Plan plan = Prepare(picture, target, area);
    if (plan.result != kRenderDone) {
        return plan.result;
    }
    CFormula& iter = picture.iterFormula;
    CFormula& term = picture.termFormula;
    CFormula& color = picture.colorFormula;
    const Bindings& v = plan.v;
    const int maxIter = picture.maxIter;
    // Every pixel starts from these: nothing one pixel assigns reaches the next.
    const std::vector<Complex> iterStart(iter.GetSlots(), iter.GetSlots() + iter.GetVariableCount());
    const std::vector<Complex> termStart(term.GetSlots(), term.GetSlots() + term.GetVariableCount());
    const std::vector<Complex> colorStart(color.GetSlots(), color.GetSlots() + color.GetVariableCount());
    double progress = 0.0;

    for (size_t j = 0; j < plan.ys.size(); ++j) {
        const long long row = plan.Row(area, j);
        if (row >= 0 && row < target.height) {
            for (size_t i = 0; i < plan.xs.size(); ++i) {
                if (Aborted(control)) {
                    return kRenderAborted;
                }
                const long long column = plan.Column(area, i);
                if (column < 0 || column >= target.width) {
                    continue;
                }
                const Complex p { plan.xs[i], plan.ys[j] };
                iter.ResetVariables(iterStart.data());
                term.ResetVariables(termStart.data());
                color.ResetVariables(colorStart.data());
                iter.SetVariable(v.iterZ, p);
                iter.SetVariable(v.iterZ0, p);
                term.SetVariable(v.termZ0, p);
                color.SetVariable(v.colorZ0, p);

                int n = 0;
                Complex last {};
                if (maxIter > 0) {
                    for (;;) {
                        last = iter.Run();
                        term.SetVariable(v.termZ, last);
                        term.SetVariable(v.termN, { static_cast<double>(n), 0.0 });
                        if (term.Run().re > 0.0) {
                            break;
                        }
                        if (++n >= maxIter) {
                            break;
                        }
                    }
                }
                color.SetVariable(v.colorN, { static_cast<double>(n), 0.0 });
                color.SetVariable(v.colorZ, last);
                Paint(plan, picture.mapping, target, row, column, color.Run());
            }
        }
        progress += plan.progressStep;
        control.progress.store(progress, std::memory_order_relaxed);
    }
    control.progress.store(1.0, std::memory_order_relaxed);
    return kRenderDone;
}

namespace {

// Raises the published progress to value, never lowering it: rows finish out of order.
void Publish(std::atomic<double>& progress, double value)
{
    double seen = progress.load(std::memory_order_relaxed);
    while (seen < value && !progress.compare_exchange_weak(seen, value, std::memory_order_relaxed)) {
    }
}

// The state one batched render shares between its threads: which rows are taken and done, and
// whether to stop.
struct SharedRender {
    const RenderArea& area;
    const Raster& target;
    RenderControl control;
    const std::vector<int>& rows;    // lattice rows inside the target
    const std::vector<int>& columns; // lattice columns inside the target
    int rowsPerClaim { 1 };
    int rowsOutside { 0 };           // lattice rows outside the target, done from the start
    std::atomic<int> nextRow { 0 };
    std::atomic<int> finishedRows { 0 };
    std::atomic<bool> aborted { false };
};

// One thread's share of a batched render: its own copies of the three programs and its lanes.
// Pixels flow through the lanes: a lane that finishes takes the next pixel of the thread's rows.
class CBandWorker {
public:
    CBandWorker(const RenderSnapshot& picture, const Plan& plan, const CBatchFormula& iter, const CBatchFormula& term,
        const CBatchFormula& color, size_t rows)
        : m_picture(picture)
        , m_plan(plan)
        , m_iter(iter)
        , m_term(term)
        , m_color(color)
        , m_iterZ(m_iter.Slot(plan.v.iterZ))
        , m_iterZ0(m_iter.Slot(plan.v.iterZ0))
        , m_termZ(m_term.Slot(plan.v.termZ))
        , m_termN(m_term.Slot(plan.v.termN))
        , m_termZ0(m_term.Slot(plan.v.termZ0))
        , m_colorZ(m_color.Slot(plan.v.colorZ))
        , m_colorN(m_color.Slot(plan.v.colorN))
        , m_colorZ0(m_color.Slot(plan.v.colorZ0))
        , m_remaining(rows, 0)
    {
    }

    void Run(SharedRender& shared);

private:
    bool NextPixel(SharedRender& shared, int& row, int& column);
    Complex Point(const SharedRender& shared, int row, int column) const
    {
        return { m_plan.xs[shared.columns[column]], m_plan.ys[shared.rows[row]] };
    }
    void StartLane(const SharedRender& shared, int lane, int row, int column);
    void Finish(SharedRender& shared, int row, int column, int count, Complex last);
    void FlushColours(SharedRender& shared);

    const RenderSnapshot& m_picture;
    const Plan& m_plan;
    CBatchFormula m_iter;
    CBatchFormula m_term;
    CBatchFormula m_color;
    const int m_iterZ, m_iterZ0, m_termZ, m_termN, m_termZ0, m_colorZ, m_colorN, m_colorZ0;

    // The band of rows this thread has claimed, the next pixel in it, and how many pixels of each
    // claimed row are still to be painted.
    int m_nClaimEnd { 0 };
    int m_nRow { 0 };
    int m_nColumn { 0 };
    std::vector<int> m_remaining;

    // The lanes of the iteration: which pixel, how many iterations are done, whether it still runs.
    int m_laneRow[kLanes] {};
    int m_laneColumn[kLanes] {};
    int m_laneCount[kLanes] {};
    bool m_laneActive[kLanes] {};
    int m_nActive { 0 };

    // Finished pixels whose colours are computed together.
    int m_nColours { 0 };
    int m_colourRow[kLanes] {};
    int m_colourColumn[kLanes] {};
};

bool CBandWorker::NextPixel(SharedRender& shared, int& row, int& column)
{
    const int columns = static_cast<int>(shared.columns.size());
    if (m_nColumn >= columns) {
        m_nColumn = 0;
        ++m_nRow;
    }
    if (m_nRow >= m_nClaimEnd) {
        m_nRow = shared.nextRow.fetch_add(shared.rowsPerClaim, std::memory_order_relaxed);
        m_nClaimEnd = std::min(m_nRow + shared.rowsPerClaim, static_cast<int>(shared.rows.size()));
        m_nColumn = 0;
        if (m_nRow >= m_nClaimEnd) {
            return false;
        }
        for (int r = m_nRow; r < m_nClaimEnd; ++r) {
            m_remaining[r] = columns;
        }
    }
    row = m_nRow;
    column = m_nColumn++;
    return true;
}

void CBandWorker::StartLane(const SharedRender& shared, int lane, int row, int column)
{
    const Complex p = Point(shared, row, column);
    m_iter.ResetLane(lane);
    m_term.ResetLane(lane);
    m_iter.Set(m_iterZ, lane, p);
    if (m_iterZ0 >= 0) {
        m_iter.Set(m_iterZ0, lane, p);
    }
    if (m_termZ0 >= 0) {
        m_term.Set(m_termZ0, lane, p);
    }
    m_laneRow[lane] = row;
    m_laneColumn[lane] = column;
    m_laneCount[lane] = 0;
    m_laneActive[lane] = true;
    ++m_nActive;
}

void CBandWorker::Finish(SharedRender& shared, int row, int column, int count, Complex last)
{
    const int lane = m_nColours++;
    m_color.ResetLane(lane);
    if (m_colorZ0 >= 0) {
        m_color.Set(m_colorZ0, lane, Point(shared, row, column));
    }
    if (m_colorN >= 0) {
        m_color.Set(m_colorN, lane, { static_cast<double>(count), 0.0 });
    }
    if (m_colorZ >= 0) {
        m_color.Set(m_colorZ, lane, last);
    }
    m_colourRow[lane] = row;
    m_colourColumn[lane] = column;
    if (m_nColours == kLanes) {
        FlushColours(shared);
    }
}

void CBandWorker::FlushColours(SharedRender& shared)
{
    if (m_nColours == 0) {
        return;
    }
    m_color.Run();
    const int result = m_color.ResultSlot();
    for (int lane = 0; lane < m_nColours; ++lane) {
        const int row = m_colourRow[lane];
        Paint(m_plan, m_picture.mapping, shared.target, m_plan.Row(shared.area, shared.rows[row]),
            m_plan.Column(shared.area, shared.columns[m_colourColumn[lane]]), m_color.Get(result, lane));
        if (--m_remaining[row] == 0) {
            const int done = shared.finishedRows.fetch_add(1, std::memory_order_relaxed) + 1;
            Publish(shared.control.progress, (done + shared.rowsOutside) * m_plan.progressStep);
        }
    }
    m_nColours = 0;
}

void CBandWorker::Run(SharedRender& shared)
{
    const int maxIter = m_picture.maxIter;
    int row = 0;
    int column = 0;
    if (maxIter <= 0) {
        // No iteration at all: every colour formula sees n = 0 and z = 0.
        while (!shared.aborted.load(std::memory_order_relaxed) && NextPixel(shared, row, column)) {
            if (Aborted(shared.control)) {
                shared.aborted.store(true, std::memory_order_relaxed);
                return;
            }
            Finish(shared, row, column, 0, {});
        }
        FlushColours(shared);
        return;
    }

    for (int lane = 0; lane < kLanes && NextPixel(shared, row, column); ++lane) {
        StartLane(shared, lane, row, column);
    }
    const int iterResult = m_iter.ResultSlot();
    const int termResult = m_term.ResultSlot();
    while (m_nActive > 0) {
        // The stage and stop checks: a render ends within a few iterations of a change.
        if (shared.aborted.load(std::memory_order_relaxed) || Aborted(shared.control)) {
            shared.aborted.store(true, std::memory_order_relaxed);
            return;
        }
        for (int k = 0; k < kIterationsPerRefill; ++k) {
            m_iter.Run();
            const double* lastRe = m_iter.Re(iterResult);
            const double* lastIm = m_iter.Im(iterResult);
            if (m_termZ >= 0) {
                std::memcpy(m_term.Re(m_termZ), lastRe, sizeof(double) * kLanes);
                std::memcpy(m_term.Im(m_termZ), lastIm, sizeof(double) * kLanes);
            }
            if (m_termN >= 0) {
                double* nRe = m_term.Re(m_termN);
                double* nIm = m_term.Im(m_termN);
                for (int lane = 0; lane < kLanes; ++lane) {
                    nRe[lane] = m_laneCount[lane];
                    nIm[lane] = 0.0;
                }
            }
            m_term.Run();
            const double* stop = m_term.Re(termResult);
            for (int lane = 0; lane < kLanes; ++lane) {
                if (!m_laneActive[lane]) {
                    continue;
                }
                // A termination result whose real part is not a number does not stop the iteration.
                if (stop[lane] > 0.0 || ++m_laneCount[lane] >= maxIter) {
                    m_laneActive[lane] = false;
                    --m_nActive;
                    Finish(shared, m_laneRow[lane], m_laneColumn[lane], m_laneCount[lane],
                        { lastRe[lane], lastIm[lane] });
                }
            }
        }
        for (int lane = 0; lane < kLanes; ++lane) {
            if (!m_laneActive[lane] && NextPixel(shared, row, column)) {
                StartLane(shared, lane, row, column);
            }
        }
    }
    FlushColours(shared);
}

} // namespace

int RenderPicture(RenderSnapshot& picture, const Raster& target, const RenderArea& area, RenderControl control)
{
    control.progress.store(0.0, std::memory_order_relaxed);
    const Plan plan = Prepare(picture, target, area);
    if (plan.result != kRenderDone) {
        return plan.result;
    }
    std::vector<int> rows;
    for (size_t j = 0; j < plan.ys.size(); ++j) {
        if (const long long row = plan.Row(area, j); row >= 0 && row < target.height) {
            rows.push_back(static_cast<int>(j));
        }
    }
    std::vector<int> columns;
    for (size_t i = 0; i < plan.xs.size(); ++i) {
        if (const long long column = plan.Column(area, i); column >= 0 && column < target.width) {
            columns.push_back(static_cast<int>(i));
        }
    }
    if (Aborted(control)) {
        return kRenderAborted;
    }
    if (columns.empty()) {
        rows.clear(); // nothing of the lattice lies inside the target
    }

    // Each thread gets its own copies of the programs; bands of rows are claimed as threads get free.
    const CBatchFormula iter(picture.iterFormula);
    const CBatchFormula term(picture.termFormula);
    const CBatchFormula color(picture.colorFormula);
    CRenderPool& pool = CRenderPool::Instance();
    const int threads = std::clamp(static_cast<int>(rows.size()), 1, pool.Threads());
    std::vector<std::unique_ptr<CBandWorker>> workers;
    for (int t = 0; t < threads; ++t) {
        workers.push_back(std::make_unique<CBandWorker>(picture, plan, iter, term, color, rows.size()));
    }
    SharedRender shared { area, target, control, rows, columns };
    // Several claims per thread keep the threads busy to the end when some rows are slower.
    constexpr int kClaimsPerThread = 8;
    shared.rowsPerClaim = std::max(1, static_cast<int>(rows.size()) / (threads * kClaimsPerThread));
    shared.rowsOutside = static_cast<int>(plan.ys.size() - rows.size());
    pool.Run(threads, [&](int t) { workers[t]->Run(shared); });
    if (shared.aborted.load()) {
        return kRenderAborted;
    }
    control.progress.store(1.0, std::memory_order_relaxed);
    return kRenderDone;
}
