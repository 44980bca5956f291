#include "renderplan.h"

#include "batchformula.h"
#include "batchlanes.h"
#include "deeprender.h"
#include "exactview.h"
#include "renderpool.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// Lane blocks run this many iterations between refills: a finished pixel waits at most this long
// for its lane to take the next one, and the stage and stop flags are read this often.
constexpr int kIterationsPerRefill = 4;
// Generated code runs at least kShortestGeneratedBlock iterations, then on until a lane stops; the
// longest bounds a block where none does. Its iterations are cheap next to a refill (the lane moves,
// the colour batch), so its blocks are longer than the interpreter's.
constexpr int kShortestGeneratedBlock = 8;
constexpr int kLongestGeneratedBlock = 64;

// The lowest count lanes of a mask.
uint64_t LowestLanes(uint64_t lanes, int count)
{
    uint64_t lowest = 0;
    for (; count > 0; --count, lanes &= lanes - 1) {
        lowest |= lanes & (~lanes + 1);
    }
    return lowest;
}

// Raises the published progress to value, never lowering it: rows finish out of order.
void Publish(std::atomic<double>& progress, double value)
{
    double seen = progress.load(std::memory_order_relaxed);
    while (seen < value && !progress.compare_exchange_weak(seen, value, std::memory_order_relaxed)) { }
}

// The state one batched render shares between its threads: which rows are taken and done, and
// whether to stop.
struct SharedRender {
    const RenderArea& area;
    const Raster& target;
    RenderControl control;
    const std::vector<int>& rows;    // lattice rows inside the target
    const std::vector<int>& columns; // lattice columns inside the target
    // For every row and column inside the target: its plane coordinate and its pixel.
    std::vector<double> rowY, columnX;
    std::vector<int> rowPixel, columnPixel;
    int rowsPerClaim { 1 };
    int rowsOutside { 0 }; // lattice rows outside the target, done from the start
    std::atomic<int> nextRow { 0 };
    std::atomic<int> finishedRows { 0 };
    std::atomic<bool> aborted { false };
};

// One thread's share of a batched render: its own copies of the three programs and its lanes.
// Pixels flow through the lanes: a lane that finishes takes the next pixel of the thread's rows.
class CBandWorker {
public:
    CBandWorker(const Picture& picture, const RenderPlan& plan, const CBatchFormula& iter,
        const CBatchFormula& term, const CBatchFormula& color, size_t rows, size_t pixels, JitUse jitUse)
        : m_picture(picture)
        , m_plan(plan)
        , m_jitUse(jitUse)
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
        // The termination formula reads z straight from the iteration's result and V_iter_n from
        // the counters, unless it assigns them itself; then they are copied in before every run.
        const int iterResult = m_iter.ResultSlot();
        m_bCopyZ = m_termZ >= 0 && m_term.Writes(m_termZ);
        m_bCopyN = m_termN >= 0 && m_term.Writes(m_termN);
        if (m_termZ >= 0 && !m_bCopyZ) {
            m_term.ReadFrom(m_termZ, m_iter.Re(iterResult), m_iter.Im(iterResult));
        }
        if (m_termN >= 0 && !m_bCopyN) {
            m_term.ReadFrom(m_termN, m_laneCount, m_zeros);
        }
        // What the renderer stores at the start of every pixel needs no reset before.
        for (const int slot : { m_iterZ, m_iterZ0 }) {
            m_iter.SetByCaller(slot);
        }
        m_term.SetByCaller(m_termZ0);
        for (const int slot : { m_colorZ, m_colorN, m_colorZ0 }) {
            m_color.SetByCaller(slot);
        }
        // The colour formula reads its inputs straight from the finished pixels' lanes, unless it
        // assigns them; then they are copied in before every run.
        const auto colourInput = [this](int slot, double* re, double* im) {
            if (slot < 0) {
                return false;
            }
            if (m_color.Writes(slot)) {
                return true;
            }
            m_color.ReadFrom(slot, re, im);
            return false;
        };
        m_bCopyColourZ0 = colourInput(m_colorZ0, m_colourZ0Re, m_colourZ0Im);
        m_bCopyColourN = colourInput(m_colorN, m_colourCount, m_zeros);
        m_bCopyColourZ = colourInput(m_colorZ, m_colourLastRe, m_colourLastIm);
        m_bKeepLast = m_colorZ >= 0 || plan.data != nullptr;
        // Where the start of a pixel is written (the slots' lanes stay where they are from here on).
        m_startRe = m_iter.Re(m_iterZ);
        m_startIm = m_iter.Im(m_iterZ);
        m_lanes = { m_startRe, m_startIm, m_laneRow, m_laneColumn, m_laneCount, m_laneActive,
            m_bKeepLast ? m_lastRe : nullptr, m_bKeepLast ? m_lastIm : nullptr };
        m_batch = { m_colourRow, m_colourColumn, m_colourCount, m_bKeepLast ? m_colourLastRe : nullptr,
            m_bKeepLast ? m_colourLastIm : nullptr };
        BuildCode(pixels);
    }

    void Run(SharedRender& shared);
    std::int64_t Iterations() const { return m_nIterations; }

private:
    void BuildCode(size_t pixels);
    uint64_t RunBlock();
    bool NextPixel(SharedRender& shared, int& row, int& column);
    void StartLanes(const SharedRender& shared, uint64_t lanes, int row, int column);
    void Refill(SharedRender& shared);
    void Finish(SharedRender& shared, uint64_t lanes);
    void FlushColours(SharedRender& shared);

    const Picture& m_picture;
    const RenderPlan& m_plan;
    const JitUse m_jitUse;
    CBatchFormula m_iter;
    CBatchFormula m_term;
    CBatchFormula m_color;
    const int m_iterZ, m_iterZ0, m_termZ, m_termN, m_termZ0, m_colorZ, m_colorN, m_colorZ0;
    bool m_bCopyZ { false };
    bool m_bCopyN { false };
    bool m_bKeepLast { true }; // whether the colour formula reads the last z
    bool m_bCopyColourZ0 { false };
    bool m_bCopyColourN { false };
    bool m_bCopyColourZ { false };
    double* m_startRe { nullptr }; // the iteration's z lanes
    double* m_startIm { nullptr };
    // Whether the lanes move in AVX-512 (with the AVX-512 code), and what they move.
    bool m_bWideLanes { false };
    IterationLanes m_lanes {};
    ColourBatch m_batch {};
    // The block of iterations as generated code, or null: the batched interpreter runs it.
    std::unique_ptr<CBatchJit> m_pCode;
    std::int64_t m_nIterations { 0 }; // this thread's alone; summed once the render has ended

    // The band of rows this thread has claimed, the next pixel in it, and how many pixels of each
    // claimed row are still to be painted.
    int m_nClaimEnd { 0 };
    int m_nRow { 0 };
    int m_nColumn { 0 };
    std::vector<int> m_remaining;

    // The lanes of the iteration: which pixel, how many iterations are done (a double, to be compared
    // and handed to V_iter_n without conversion), whether it still iterates, the iteration's value
    // when it stopped; and which lanes hold a pixel at all (a bit each).
    int m_laneRow[kLanes] {};
    int m_laneColumn[kLanes] {};
    alignas(64) double m_laneCount[kLanes] {};
    alignas(64) double m_laneActive[kLanes] {}; // 1 or 0
    alignas(64) double m_lastRe[kLanes] {};
    alignas(64) double m_lastIm[kLanes] {};
    alignas(64) double m_zeros[kLanes] {}; // the imaginary part of V_iter_n
    uint64_t m_occupied { 0 };

    // Finished pixels whose colours are computed together, and the colour formula's inputs for them
    // (with room for the whole vectors the AVX-512 moves store past the last).
    static constexpr int kBatchRoom = kLanes + 16;
    int m_nColours { 0 };
    int m_colourRow[kBatchRoom] {};
    int m_colourColumn[kBatchRoom] {};
    alignas(64) double m_colourCount[kBatchRoom] {};
    alignas(64) double m_colourLastRe[kBatchRoom] {};
    alignas(64) double m_colourLastIm[kBatchRoom] {};
    alignas(64) double m_colourZ0Re[kLanes] {};
    alignas(64) double m_colourZ0Im[kLanes] {};
    // Where each colour lands in the palette.
    alignas(64) int m_paletteX[kLanes] {};
    alignas(64) int m_paletteY[kLanes] {};
};

inline bool CBandWorker::NextPixel(SharedRender& shared, int& row, int& column)
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

// Starts the pixels of row from column on, one in each of lanes (lowest lane first).
inline void CBandWorker::StartLanes(const SharedRender& shared, uint64_t lanes, int row, int column)
{
    m_iter.ResetLanes(lanes);
    m_term.ResetLanes(lanes);
    const double y = shared.rowY[row];
    const double* const x = shared.columnX.data() + column;
    if (m_bWideLanes) {
        m_occupied |= lanes;
        StartLanesAvx512(m_lanes, lanes, x, y, row, column);
        return;
    }
    double* const z0Re = m_iterZ0 >= 0 ? m_iter.Re(m_iterZ0) : nullptr;
    double* const z0Im = m_iterZ0 >= 0 ? m_iter.Im(m_iterZ0) : nullptr;
    double* const termZ0Re = m_termZ0 >= 0 ? m_term.Re(m_termZ0) : nullptr;
    double* const termZ0Im = m_termZ0 >= 0 ? m_term.Im(m_termZ0) : nullptr;
    m_occupied |= lanes;
    for (int k = 0; lanes != 0; lanes &= lanes - 1, ++k) {
        const int lane = std::countr_zero(lanes);
        m_startRe[lane] = x[k];
        m_startIm[lane] = y;
        if (z0Re) {
            z0Re[lane] = x[k];
            z0Im[lane] = y;
        }
        if (termZ0Re) {
            termZ0Re[lane] = x[k];
            termZ0Im[lane] = y;
        }
        m_laneRow[lane] = row;
        m_laneColumn[lane] = column + k;
        m_laneCount[lane] = 0.0;
        m_laneActive[lane] = 1.0;
    }
}

// Gives every free lane the next pixel of the thread's rows, a run of one row's columns at a time.
void CBandWorker::Refill(SharedRender& shared)
{
    const int columns = static_cast<int>(shared.columns.size());
    uint64_t free = ~m_occupied;
    int row = 0;
    int column = 0;
    while (free != 0 && NextPixel(shared, row, column)) {
        // NextPixel handed out column; the run takes as many more of the row as there are free lanes.
        const int count = std::min(std::popcount(free), columns - column);
        m_nColumn = column + count;
        const uint64_t lanes = count < std::popcount(free) ? LowestLanes(free, count) : free;
        StartLanes(shared, lanes, row, column);
        free &= ~lanes;
    }
}

// Hands the stopped lanes' pixels to the colour formula, in lane order.
inline void CBandWorker::Finish(SharedRender& shared, uint64_t lanes)
{
    m_occupied &= ~lanes;
    if (m_bWideLanes) {
        while (lanes != 0) {
            const int room = kLanes - m_nColours;
            const uint64_t now = std::popcount(lanes) > room ? LowestLanes(lanes, room) : lanes;
            const int first = m_nColours;
            m_nColours = GatherLanesAvx512(m_lanes, now, m_batch, first);
            if (m_colorZ0 >= 0) {
                for (int k = first; k < m_nColours; ++k) {
                    m_colourZ0Re[k] = shared.columnX[m_colourColumn[k]];
                    m_colourZ0Im[k] = shared.rowY[m_colourRow[k]];
                }
            }
            lanes &= ~now;
            if (m_nColours == kLanes) {
                FlushColours(shared);
            }
        }
        return;
    }
    for (; lanes != 0; lanes &= lanes - 1) {
        const int lane = std::countr_zero(lanes);
        const int k = m_nColours++;
        const int row = m_laneRow[lane];
        const int column = m_laneColumn[lane];
        m_colourRow[k] = row;
        m_colourColumn[k] = column;
        m_colourCount[k] = m_laneCount[lane];
        // Only what the colour formula (or the caller's data) reads.
        if (m_bKeepLast) {
            m_colourLastRe[k] = m_lastRe[lane];
            m_colourLastIm[k] = m_lastIm[lane];
        }
        if (m_colorZ0 >= 0) {
            m_colourZ0Re[k] = shared.columnX[column];
            m_colourZ0Im[k] = shared.rowY[row];
        }
        if (m_nColours == kLanes) {
            FlushColours(shared);
        }
    }
}

void CBandWorker::FlushColours(SharedRender& shared)
{
    const int n = m_nColours;
    if (n == 0) {
        return;
    }
    m_nColours = 0;
    m_color.ResetLanes(n == kLanes ? ~uint64_t { 0 } : (uint64_t { 1 } << n) - 1);
    const auto copyIn = [n](double* toRe, double* toIm, const double* re, const double* im) {
        std::memcpy(toRe, re, sizeof(double) * static_cast<size_t>(n));
        std::memcpy(toIm, im, sizeof(double) * static_cast<size_t>(n));
    };
    if (m_bCopyColourZ0) {
        copyIn(m_color.Re(m_colorZ0), m_color.Im(m_colorZ0), m_colourZ0Re, m_colourZ0Im);
    }
    if (m_bCopyColourN) {
        copyIn(m_color.Re(m_colorN), m_color.Im(m_colorN), m_colourCount, m_zeros);
    }
    if (m_bCopyColourZ) {
        copyIn(m_color.Re(m_colorZ), m_color.Im(m_colorZ), m_colourLastRe, m_colourLastIm);
    }
    for (int k = 0; k < n; ++k) {
        m_nIterations += RunsOfIteration(static_cast<int>(m_colourCount[k]), m_picture.maxIter);
    }
    m_color.Run();
    const int result = m_color.ResultSlot();
    (m_bWideLanes ? MapColoursAvx512 : MapColours)(m_picture.mapping, m_color.Re(result), m_color.Im(result),
        n, m_plan.paletteWidth, m_plan.paletteHeight, m_paletteX, m_paletteY);
    const Raster& target = shared.target;
    const int bytesPerPixel = m_plan.bytesPerPixel;
    if (const PixelData* data = m_plan.data) {
        for (int k = 0; k < n; ++k) {
            data->Put(shared.rowPixel[m_colourRow[k]], shared.columnPixel[m_colourColumn[k]],
                static_cast<std::int64_t>(m_colourCount[k]), { m_colourLastRe[k], m_colourLastIm[k] });
        }
    }
    for (int k = 0; k < n; ++k) {
        const int row = m_colourRow[k];
        uint8_t* const to = target.pixels + static_cast<ptrdiff_t>(shared.rowPixel[row]) * target.bytesPerRow
            + static_cast<ptrdiff_t>(shared.columnPixel[m_colourColumn[k]]) * bytesPerPixel;
        const uint8_t* const from
            = m_plan.paletteBits + m_paletteY[k] * m_plan.paletteStride + m_paletteX[k] * bytesPerPixel;
        if (bytesPerPixel == 4) {
            std::memcpy(to, from, 4);
        } else {
            std::memcpy(to, from, bytesPerPixel);
        }
        if (--m_remaining[row] == 0) {
            const int done = shared.finishedRows.fetch_add(1, std::memory_order_relaxed) + 1;
            Publish(shared.control.progress, (done + shared.rowsOutside) * m_plan.progressStep);
        }
    }
}

// Generated code for the block, on the instruction set chosen, where it pays; the interpreter runs
// a termination formula that assigns z or V_iter_n (they are copied in before every run), and
// whatever the generator declines.
void CBandWorker::BuildCode(size_t pixels)
{
    const std::vector<JitProgram> programs { m_iter.Program(), m_term.Program() };
    JitIsa isa;
    if (m_bCopyZ || m_bCopyN || !CBatchJit::Chosen(programs, pixels, m_jitUse, isa)) {
        return;
    }
    const int iterResult = m_iter.ResultSlot();
    const JitAdvance advance { m_term.Re(m_term.ResultSlot()), m_iter.Re(iterResult), m_iter.Im(iterResult),
        m_laneCount, m_laneActive, m_bKeepLast ? m_lastRe : nullptr, m_bKeepLast ? m_lastIm : nullptr,
        static_cast<double>(m_picture.maxIter) };
    m_pCode = CBatchJit::Build(programs, advance, kShortestGeneratedBlock, kLongestGeneratedBlock, isa);
    // The AVX-512 lane moves go with the AVX-512 code (tested together); they start z only.
    m_bWideLanes = m_pCode && isa == JitIsa::Avx512 && m_iterZ0 < 0 && m_termZ0 < 0;
}

// kIterationsPerRefill iterations of every lane; returns the lanes that stopped.
uint64_t CBandWorker::RunBlock()
{
    if (m_pCode) {
        return m_pCode->Run();
    }
    const int iterResult = m_iter.ResultSlot();
    const int termResult = m_term.ResultSlot();
    const double limit = m_picture.maxIter;
    double* const keptRe = m_bKeepLast ? m_lastRe : nullptr;
    double* const keptIm = m_bKeepLast ? m_lastIm : nullptr;
    uint64_t stopped = 0;
    for (int k = 0; k < kIterationsPerRefill; ++k) {
        m_iter.Run();
        const double* lastRe = m_iter.Re(iterResult);
        const double* lastIm = m_iter.Im(iterResult);
        if (m_bCopyZ) {
            std::memcpy(m_term.Re(m_termZ), lastRe, sizeof(double) * kLanes);
            std::memcpy(m_term.Im(m_termZ), lastIm, sizeof(double) * kLanes);
        }
        if (m_bCopyN) {
            std::memcpy(m_term.Re(m_termN), m_laneCount, sizeof(double) * kLanes);
            std::memset(m_term.Im(m_termN), 0, sizeof(double) * kLanes);
        }
        m_term.Run();
        stopped |= AdvanceLanes(
            m_term.Re(termResult), lastRe, lastIm, m_laneCount, m_laneActive, keptRe, keptIm, limit);
    }
    return stopped;
}

void CBandWorker::Run(SharedRender& shared)
{
    CleanVectorState();
    Refill(shared);
    while (m_occupied != 0) {
        // The stage and stop checks: a render ends within a few iterations of a change.
        if (shared.aborted.load(std::memory_order_relaxed) || Aborted(shared.control)) {
            shared.aborted.store(true, std::memory_order_relaxed);
            return;
        }
        // A lane that stops keeps its count and value; it runs on to the end of the block with
        // values that nothing reads, and takes its next pixel then.
        Finish(shared, RunBlock());
        Refill(shared);
    }
    FlushColours(shared);
}

} // namespace

int RenderPicture(
    Picture& picture, const Raster& target, const RenderArea& area, RenderControl control, RenderStats* stats)
{
    control.progress.store(0.0, std::memory_order_relaxed);
    const RenderPlan plan = Prepare(picture, target, area);
    if (plan.result != kRenderDone) {
        return plan.result;
    }
    // Past what doubles tell apart, perturbation takes over; above it, nothing changes.
    if (IsDeepView(picture)) {
        return RenderPictureDeep(picture, target, area, control, plan, stats);
    }
    if (control.deep) {
        control.deep->NoteShallow();
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
    const CBatchFormula term(picture.termFormula, CBatchFormula::ValueParts::RealOnly);
    const CBatchFormula color(picture.colorFormula);
    CRenderPool& pool = control.pool;
    const int threads = std::clamp(static_cast<int>(rows.size()), 1, pool.Threads());
    const size_t pixelsPerThread = rows.size() * columns.size() / static_cast<size_t>(threads);
    std::vector<std::unique_ptr<CBandWorker>> workers;
    for (int t = 0; t < threads; ++t) {
        workers.push_back(std::make_unique<CBandWorker>(
            picture, plan, iter, term, color, rows.size(), pixelsPerThread, pool.GetJitUse()));
    }
    SharedRender shared { area, target, control, rows, columns, {}, {}, {}, {} };
    for (const int j : rows) {
        shared.rowY.push_back(plan.ys[j]);
        shared.rowPixel.push_back(static_cast<int>(plan.Row(area, j)));
    }
    for (const int i : columns) {
        shared.columnX.push_back(plan.xs[i]);
        shared.columnPixel.push_back(static_cast<int>(plan.Column(area, i)));
    }
    // Several claims per thread keep the threads busy to the end when some rows are slower.
    constexpr int kClaimsPerThread = 8;
    shared.rowsPerClaim = std::max(1, static_cast<int>(rows.size()) / (threads * kClaimsPerThread));
    shared.rowsOutside = static_cast<int>(plan.ys.size() - rows.size());
    pool.Run(threads, [&](int t) { workers[t]->Run(shared); });
    if (stats) {
        *stats = { 0, threads };
        for (const auto& worker : workers) {
            stats->iterations += worker->Iterations();
        }
    }
    if (shared.aborted.load()) {
        return kRenderAborted;
    }
    control.progress.store(1.0, std::memory_order_relaxed);
    return kRenderDone;
}
