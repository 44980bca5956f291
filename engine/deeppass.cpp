#include "deepcolour.h"
#include "deepreads.h"
#include "deeprenderer.h"

#include "lanederivative.h"

#include "renderpool.h"

#include <algorithm>
#include <mutex>

// The passes of a deep render: pixels through references, side by side in lanes, each pixel trying
// the references offered in an order that depends only on the pixel, so that no thread's timing
// reaches a picture.

namespace {

// Pixels a thread claims at once: enough that the lanes stay full until the last few.
constexpr size_t kPixelsPerBatch = 4 * kLanes;
// A few pixels go faster one by one than in 64 lanes.
constexpr int kFewestSideBySide = 16;

// One thread's pixels of a batch through one reference: side by side in lanes, one at a time where the
// lanes defer them or the batch is small. Pictures that read the orbit's derivative carry it in both; a
// pixel the lanes deferred at a run of their own starts again alone, which carries it from the start.
// Pictures whose colour reads the iteration's variables take every pixel one at a time (the lanes keep
// no pixel's offsets at its end).
struct PixelWork {
    PixelWork(const CDeltaProgram& program, bool derive, const CDeepIterationReads& reads)
        : program(program)
        , carrier(program.Iteration())
        , chain(carrier)
        , derive(derive)
        , reads(reads)
    {
    }
    const CDeltaProgram& program;
    const COrbitDerivative carrier;
    CLaneDerivatives chain; // the lanes' share, each lane's scratch kept from batch to batch
    const bool derive;
    const CDeepIterationReads& reads;
    OrbitDerivative carried;
    std::vector<std::array<ExComplex, 2>> derivatives; // per pixel of the batch, along x and y
    std::vector<Complex> values;                       // per pixel of the batch, the reads' values
    std::vector<Complex> scratchD;
    std::vector<ExComplex> scratchX;
    DeltaLanes lanes;
    // The batch's pixels that landed (by index), what they did so far, their plane offsets and their
    // slots where they landed: the lanes take them on along the landing orbit.
    std::vector<size_t> landed;
    std::vector<DeltaPixel> landedPixels, landedResults;
    std::vector<ExComplex> landedOffsets;
    std::vector<Complex> landedRows;

    void Iterate(const ReferenceOrbit& orbit, const std::vector<ExComplex>& offset, int maxIter,
        std::vector<DeltaPixel>& results)
    {
        const int count = static_cast<int>(offset.size());
        results.resize(offset.size());
        derivatives.resize(derive ? offset.size() : 0);
        values.resize(offset.size() * reads.Size());
        const bool side = count >= kFewestSideBySide && reads.Size() == 0;
        if (side) {
            chain.SetOut(derivatives.data());
            program.IterateLanes(
                orbit, offset.data(), count, maxIter, lanes, results.data(), derive ? &chain : nullptr);
        }
        const size_t row = side && count > 0 ? lanes.resume.size() / static_cast<size_t>(count) : 0;
        const size_t all = static_cast<size_t>(program.Iteration().Slots() + program.Termination().Slots());
        landed.clear();
        landedRows.clear();
        for (size_t l = 0; l < offset.size(); ++l) {
            if (side && !results[l].deferred) {
                continue;
            }
            const DeltaPixel resumed = results[l];
            const bool goesOn = side && !derive;
            const Complex* resume
                = goesOn && resumed.resumeRun >= 0 ? lanes.resume.data() + l * row : nullptr;
            results[l] = program.Iterate(orbit, offset[l], maxIter, scratchD, scratchX,
                goesOn ? &resumed : nullptr, resume, derive ? &carrier : nullptr, &carried, goesOn);
            if (results[l].deferred) {
                landed.push_back(l);
                landedRows.insert(
                    landedRows.end(), scratchD.begin(), scratchD.begin() + static_cast<ptrdiff_t>(all));
                continue;
            }
            if (derive) {
                derivatives[l] = { carried.DzX(), carried.DzY() };
            }
            if (reads.Size() > 0 && !results[l].glitched) {
                reads.Perturbed(results[l].landed ? *orbit.landing : orbit, results[l].recordRun,
                    scratchX.data(), values.data() + l * reads.Size());
            }
        }
        if (!landed.empty()) {
            GoOnLanded(orbit, offset, maxIter, results, all);
        }
    }

    // The pixels that landed, on along the landing orbit: side by side where enough of them did.
    void GoOnLanded(const ReferenceOrbit& orbit, const std::vector<ExComplex>& offset, int maxIter,
        std::vector<DeltaPixel>& results, size_t all)
    {
        const size_t count = landed.size();
        landedPixels.resize(count);
        landedOffsets.resize(count);
        landedResults.resize(count);
        for (size_t k = 0; k < count; ++k) {
            landedPixels[k] = results[landed[k]];
            landedOffsets[k] = offset[landed[k]];
        }
        const bool side = count >= static_cast<size_t>(kFewestSideBySide);
        if (side) {
            const LaneResumes resumes { landedPixels.data(), landedRows.data(), all };
            program.IterateLanes(*orbit.landing, landedOffsets.data(), static_cast<int>(count), maxIter,
                lanes, landedResults.data(), nullptr, &resumes);
        }
        const size_t row = side ? lanes.resume.size() / count : 0;
        for (size_t k = 0; k < count; ++k) {
            if (side && !landedResults[k].deferred) {
                results[landed[k]] = landedResults[k];
                continue;
            }
            // Deferred again (to land once more, or at a run the doubles do not hold), or too few for lanes.
            const DeltaPixel resumed = side ? landedResults[k] : landedPixels[k];
            const Complex* resume = side ? lanes.resume.data() + k * row : landedRows.data() + k * all;
            results[landed[k]]
                = program.Iterate(orbit, offset[landed[k]], maxIter, scratchD, scratchX, &resumed, resume);
        }
    }
};

// Raises the published progress to value, never lowering it: batches finish out of order.
void Publish(std::atomic<double>& progress, double value)
{
    double seen = progress.load(std::memory_order_relaxed);
    while (seen < value && !progress.compare_exchange_weak(seen, value)) { }
}

} // namespace

// Takes the next of count work items for a render thread; false when none is left or the render is to
// stop (a stop seen here is passed on to the other threads).
bool CDeepRender::Claim(std::atomic<size_t>& next, size_t count, size_t& item)
{
    item = next.fetch_add(1);
    if (item >= count || m_bAborted.load(std::memory_order_relaxed)) {
        return false;
    }
    if (Aborted(m_control)) {
        m_bAborted.store(true);
        return false;
    }
    return true;
}

CDeepRender::Offsets CDeepRender::OffsetsOf(const References& references) const
{
    Offsets offsets;
    const ExComplex stepX = ExOf(m_dx);
    const ExComplex stepY = ExOf(m_dy);
    for (const auto& reference : references) {
        BigFloat rx(m_nBits);
        BigFloat ry(m_nBits);
        mpfr_set(rx.get(), reference->point.Re(), MPFR_RNDN);
        mpfr_set(ry.get(), reference->point.Im(), MPFR_RNDN);
        const ExComplex frameX0 = ExOf(m_x0 - rx);
        const ExComplex frameY0 = ExOf(m_y0 - ry);
        std::vector<ExComplex>& across = offsets.columns.emplace_back();
        for (const int li : m_columns) {
            across.push_back(ex::Add(frameX0, ex::Scale(stepX, li)));
        }
        std::vector<ExComplex>& down = offsets.rows.emplace_back();
        for (const int lj : m_rows) {
            down.push_back(ex::Add(frameY0, ex::Scale(stepY, lj)));
        }
    }
    return offsets;
}

std::vector<size_t> CDeepRender::Remaining(const std::vector<size_t>& todo) const
{
    std::vector<size_t> left;
    for (const size_t k : todo) {
        if (!m_done[k]) {
            left.push_back(k);
        }
    }
    return left;
}

// The first reference takes every pixel, 64 at a time; a pixel it cannot take tries the others,
// nearest first, batched by reference round after round.
void CDeepRender::Pass(
    const std::vector<size_t>& todo, const References& references, double progressFrom, double progressTo)
{
    const Offsets offsets = OffsetsOf(references);
    std::vector<Batch> batches;
    for (size_t from = 0; from < todo.size(); from += kPixelsPerBatch) {
        batches.push_back({ 0, from, std::min(todo.size(), from + kPixelsPerBatch) });
    }
    const std::vector<size_t> failed
        = RunBatches(references, offsets, todo, batches, progressFrom, progressTo);
    if (references.size() >= 2 && !failed.empty() && !m_bAborted.load()) {
        Retry(failed, references, offsets, progressTo);
    }
}

// Every other reference by distance, for each pixel the first could not take.
void CDeepRender::Retry(
    const std::vector<size_t>& failed, const References& references, const Offsets& offsets, double progress)
{
    struct Retrying {
        size_t index;
        std::vector<uint8_t> order;
        size_t next { 0 };
    };
    std::vector<Retrying> retries;
    for (const size_t index : failed) {
        std::vector<std::pair<ExComplex, uint8_t>> distances;
        for (size_t r = 1; r < references.size(); ++r) {
            const ExComplex offset = ex::Add(offsets.columns[r][index % m_columns.size()],
                ex::Swap(offsets.rows[r][index / m_columns.size()]));
            distances.push_back({ ex::Abs(offset), static_cast<uint8_t>(r) });
        }
        std::sort(distances.begin(), distances.end(),
            [](const auto& a, const auto& b) { return ex::Sub(a.first, b.first).re < 0.0; });
        Retrying retry { index, {} };
        for (const auto& d : distances) {
            retry.order.push_back(d.second);
        }
        retries.push_back(std::move(retry));
    }
    while (!retries.empty() && !m_bAborted.load()) {
        // Group this round's pixels by the reference each tries next, in lattice order.
        std::vector<std::vector<size_t>> groups(references.size());
        for (const Retrying& retry : retries) {
            groups[retry.order[retry.next]].push_back(retry.index);
        }
        std::vector<size_t> list;
        std::vector<Batch> batches;
        for (size_t r = 1; r < groups.size(); ++r) {
            for (size_t from = 0; from < groups[r].size(); from += kPixelsPerBatch) {
                const size_t to = std::min(groups[r].size(), from + kPixelsPerBatch);
                batches.push_back({ r, list.size(), list.size() + (to - from) });
                list.insert(list.end(), groups[r].begin() + static_cast<std::ptrdiff_t>(from),
                    groups[r].begin() + static_cast<std::ptrdiff_t>(to));
            }
        }
        RunBatches(references, offsets, list, batches, progress, progress);
        std::vector<Retrying> left;
        for (Retrying& retry : retries) {
            if (!m_done[retry.index] && ++retry.next < retry.order.size()) {
                left.push_back(std::move(retry));
            }
        }
        retries = std::move(left);
    }
}

// Runs the batches on the render's threads: paints what each batch's reference takes and returns the
// rest, in lattice order.
std::vector<size_t> CDeepRender::RunBatches(const References& references, const Offsets& offsets,
    const std::vector<size_t>& list, const std::vector<Batch>& batches, double progressFrom,
    double progressTo)
{
    std::vector<size_t> failed;
    std::mutex failedMutex;
    std::atomic<size_t> next { 0 };
    m_pool.Run(m_nThreads, [&](int) {
        std::vector<size_t> mine;
        RunThread(references, offsets, list, batches, next, mine, progressFrom, progressTo);
        std::lock_guard lock(failedMutex);
        failed.insert(failed.end(), mine.begin(), mine.end());
    });
    std::sort(failed.begin(), failed.end());
    return failed;
}

void CDeepRender::RunThread(const References& references, const Offsets& offsets,
    const std::vector<size_t>& list, const std::vector<Batch>& batches, std::atomic<size_t>& next,
    std::vector<size_t>& failed, double progressFrom, double progressTo)
{
    CleanVectorState();
    CDeepColour colour(m_picture, m_plan, m_area, m_target, m_rows, m_columns, m_color);
    colour.SetPixel(m_pixel);
    const CDeltaProgram& program = m_deep->program;
    const bool derive = m_plan.tangent != nullptr;
    const CDeepIterationReads reads(m_plan.v.colorReads, m_iter, program.Carried());
    PixelWork work(program, derive, reads);
    std::int64_t runs = 0;
    std::int64_t skipped = 0; // bilinear skips of the pixels painted
    std::int64_t rebases = 0;
    std::vector<ExComplex> offset;
    std::vector<DeltaPixel> results;
    std::vector<ExComplex> colourScratch;
    for (size_t b = 0; Claim(next, batches.size(), b);) {
        const Batch& batch = batches[b];
        const Reference& reference = *references[batch.reference];
        const int count = static_cast<int>(batch.to - batch.from);
        offset.resize(static_cast<size_t>(count));
        for (int l = 0; l < count; ++l) {
            const size_t index = list[batch.from + static_cast<size_t>(l)];
            offset[l] = ex::Add(offsets.columns[batch.reference][index % m_columns.size()],
                ex::Swap(offsets.rows[batch.reference][index / m_columns.size()]));
        }
        work.Iterate(reference.orbit, offset, m_nMaxIter, results);
        const Complex referencePoint = reference.point.ToComplex();
        for (int l = 0; l < count; ++l) {
            const size_t index = list[batch.from + static_cast<size_t>(l)];
            runs += results[l].runs;
            const DeltaPixel& pixel = results[l];
            rebases += pixel.rebases;
            if (pixel.glitched) {
                failed.push_back(index);
                continue;
            }
            m_done[index] = 1;
            skipped += pixel.skipped;
            // The colour decided on the exact values where it decides on z or z0 at all.
            // At the record its last run took: a rebased pixel's, or one that went round a periodic orbit's,
            // is not its own run; a landed pixel's is on the landing orbit.
            const ReferenceOrbit& ended = pixel.landed ? *reference.orbit.landing : reference.orbit;
            const int last = pixel.recordRun >= 0 ? pixel.recordRun : std::min(pixel.count, m_nMaxIter - 1);
            Complex exact;
            const ExComplex* derivative = derive ? work.derivatives[static_cast<size_t>(l)].data() : nullptr;
            if (program.ExactColour() && !m_plan.v.colorD.Any() && reads.Size() == 0
                && program.Colour(
                    ended, last, pixel.lastOffset, offset[l], pixel.count - last, colourScratch, exact)) {
                colour.Paint(index, pixel.count, pixel.last, exact, derivative);
            } else {
                colour(index, Add(referencePoint, ex::ToComplex(offset[l])), pixel.count, pixel.last,
                    derivative, work.values.data() + static_cast<size_t>(l) * reads.Size());
            }
        }
        Publish(m_control.progress,
            progressFrom
                + (progressTo - progressFrom) * static_cast<double>(b + 1)
                    / static_cast<double>(batches.size()));
    }
    m_nIterations += runs;
    m_nBlaSkipped += skipped;
    m_nRebases += rebases;
}
