#include "bandworker.h"

#include <algorithm>
#include <bit>
#include <cstring>

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

} // namespace

CBandWorker::CBandWorker(const Picture& picture, const RenderPlan& plan, const CBatchFormula& iter,
    const CBatchFormula& term, const CBatchFormula& color, size_t pixels, JitUse jitUse, CJitCache* jitCache)
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
    BindDerivatives();
    BindReads();
    m_bKeepLast = m_colorZ >= 0 || plan.data != nullptr || m_bDerivative;
    // Where the start of a pixel is written (the slots' lanes stay where they are from here on).
    m_startRe = m_iter.Re(m_iterZ);
    m_startIm = m_iter.Im(m_iterZ);
    m_lanes = { m_startRe, m_startIm, m_laneRow, m_laneColumn, m_laneCount, m_laneActive,
        m_bKeepLast ? m_lastRe : nullptr, m_bKeepLast ? m_lastIm : nullptr };
    m_batch = { m_colourRow, m_colourColumn, m_colourCount, m_bKeepLast ? m_colourLastRe : nullptr,
        m_bKeepLast ? m_colourLastIm : nullptr };
    BuildCode(pixels, jitCache);
}

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
            if (m_bDerivative) {
                int k = first;
                for (uint64_t rest = now; rest != 0; rest &= rest - 1) {
                    FinishDerivative(std::countr_zero(rest), k++);
                }
            }
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
        if (m_bDerivative) {
            FinishDerivative(lane, k);
        }
        if (!m_colourReads.empty()) {
            FinishReads(lane, k);
        }
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
    if (m_bDerivative) {
        SetColourDerivatives(shared, n);
    }
    if (!m_colourReads.empty()) {
        SetColourReads(n);
    }
    if (m_pColourCode) {
        m_pColourCode->Run();
    } else {
        m_color.Run();
    }
    const int result = m_color.ResultSlot();
    (m_bWideLanes ? MapColoursAvx512 : MapColours)(m_picture.mapping, m_color.Re(result), m_color.Im(result),
        n, m_plan.paletteWidth, m_plan.paletteHeight, m_paletteX, m_paletteY);
    if (const PixelData* data = m_plan.data) {
        for (int k = 0; k < n; ++k) {
            data->Put(shared.rowPixel[m_colourRow[k]], shared.columnPixel[m_colourColumn[k]],
                static_cast<std::int64_t>(m_colourCount[k]), { m_colourLastRe[k], m_colourLastIm[k] });
        }
    }
    PaintColours(shared, n);
    // The progress in rows' worth of pixels, one shared count for the whole batch.
    const std::int64_t done = shared.finishedPixels.fetch_add(n, std::memory_order_relaxed) + n;
    Publish(shared.control.progress,
        (static_cast<double>(done) / static_cast<double>(shared.columns.size()) + shared.rowsOutside)
            * m_plan.progressStep);
}

// The batch's palette pixels into the target: gathered and scattered eight at a time with the AVX-512
// lane moves, else one by one.
void CBandWorker::PaintColours(SharedRender& shared, int n)
{
    const Raster& target = shared.target;
    const int bytesPerPixel = m_plan.bytesPerPixel;
    constexpr std::ptrdiff_t kWideStride = std::ptrdiff_t { 1 } << 31;
    if (m_bWideLanes && bytesPerPixel == 4 && m_plan.paletteStride < kWideStride
        && target.bytesPerRow < kWideStride) {
        const PixelCopy copy { m_plan.paletteBits, m_plan.paletteStride, target.pixels, target.bytesPerRow,
            shared.rowPixel.data(), shared.columnPixel.data() };
        CopyPixelsAvx512(copy, m_paletteX, m_paletteY, m_colourRow, m_colourColumn, n);
        return;
    }
    for (int k = 0; k < n; ++k) {
        uint8_t* const to = target.pixels
            + static_cast<ptrdiff_t>(shared.rowPixel[m_colourRow[k]]) * target.bytesPerRow
            + static_cast<ptrdiff_t>(shared.columnPixel[m_colourColumn[k]]) * bytesPerPixel;
        const uint8_t* const from
            = m_plan.paletteBits + m_paletteY[k] * m_plan.paletteStride + m_paletteX[k] * bytesPerPixel;
        if (bytesPerPixel == 4) {
            std::memcpy(to, from, 4);
        } else {
            std::memcpy(to, from, bytesPerPixel);
        }
    }
}

// Generated code for the block, on the instruction set chosen, where it pays; the interpreter runs
// a termination formula that assigns z or V_iter_n, or reads the orbit's derivative (they are
// stored before every run), and whatever the generator declines. The derivative the colour formula
// reads is kept where a lane stops, as its last z is.
void CBandWorker::BuildCode(size_t pixels, CJitCache* cache)
{
    const std::vector<JitProgram> programs { m_iter.Program(), m_term.Program() };
    JitIsa isa;
    // Generated code does not keep the iteration's variables that V_iter_<name> reads yet, nor feeds
    // the derivative to a termination formula: the interpreter runs those.
    const bool reads = !m_termReads.empty() || !m_colourReads.empty();
    if (m_bCopyZ || m_bCopyN || m_termD.Any() || reads
        || !CBatchJit::Chosen(programs, pixels, m_jitUse, isa, cache)) {
        return;
    }
    const int iterResult = m_iter.ResultSlot();
    JitAdvance advance { m_term.Re(m_term.ResultSlot()), m_iter.Re(iterResult), m_iter.Im(iterResult),
        m_laneCount, m_laneActive, m_bKeepLast ? m_lastRe : nullptr, m_bKeepLast ? m_lastIm : nullptr,
        static_cast<double>(m_picture.maxIter) };
    for (const int d : { 0, 1 }) {
        const int slot = d == 0 ? m_dzx : m_dzy;
        if (m_bDerivative && slot >= 0) {
            advance.keep[d] = { m_iter.Re(slot), m_iter.Im(slot), m_keptRe[d], m_keptIm[d] };
        }
    }
    m_pCode
        = CBatchJit::Build(programs, advance, kShortestGeneratedBlock, kLongestGeneratedBlock, isa, cache);
    // The AVX-512 lane moves go with the AVX-512 code (tested together); they start z only. With them,
    // the colour formula runs as generated code too, where it pays.
    m_bWideLanes = m_pCode && isa == JitIsa::Avx512 && m_iterZ0 < 0 && m_termZ0 < 0;
    if (m_bWideLanes && CBatchJit::Pays({ m_color.Program() }, isa)) {
        m_pColourCode = CBatchJit::BuildSingle(m_color.Program(), isa, cache);
    }
}

// The occupied lanes that no longer run. Read from the lanes themselves rather than from the mask the
// generated code returns: whatever a block reports, a lane it stopped is finished and refilled, so no
// code can leave the render waiting for ever on a lane that stopped unreported.
uint64_t CBandWorker::StoppedLanes() const
{
    uint64_t running = 0;
    for (int lane = 0; lane < kLanes; ++lane) {
        running |= static_cast<uint64_t>(m_laneActive[lane] != 0.0) << lane;
    }
    return m_occupied & ~running;
}

// kIterationsPerRefill iterations of every lane; returns the lanes that stopped.
uint64_t CBandWorker::RunBlock()
{
    if (m_pCode) {
        m_pCode->Run();
        return StoppedLanes();
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
        if (m_bDerivative) {
            SetTermDerivatives();
        }
        if (!m_termReads.empty()) {
            SetTermReads();
        }
        m_term.Run();
        const uint64_t now = AdvanceLanes(
            m_term.Re(termResult), lastRe, lastIm, m_laneCount, m_laneActive, keptRe, keptIm, limit);
        if (m_bDerivative) {
            KeepDerivatives(now);
        }
        if (!m_colourReads.empty()) {
            KeepReads(now);
        }
        stopped |= now;
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
