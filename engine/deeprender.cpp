#include "deeprender.h"

#include "exactview.h"
#include "oracle.h"
#include "reference.h"
#include "renderpool.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

// The references of one deep view: kept between the passes of a preview and for the export of the
// same view, so that each is computed once.
struct DeepSession {
    std::string key;
    mpfr_prec_t bits { 128 };
    CDeltaProgram program;
    std::vector<std::shared_ptr<const Reference>> references;
    size_t bytes { 0 }; // what the references' records take together
};

// What the references of one view may take together: the main one up to kMaxReferenceBytes, the
// others what is left (a long orbit of a long formula gets fewer, shorter references, not gigabytes).
constexpr size_t kMaxSessionBytes = size_t { 1 } << 30;

std::mutex g_sessionMutex;
std::shared_ptr<DeepSession> g_session; // guarded by g_sessionMutex

std::atomic<bool> g_active { false };
std::atomic<int> g_references { 0 };
std::atomic<int> g_skipRuns { 0 };
std::atomic<int> g_precise { 0 };
std::atomic<int> g_bits { 0 };

// A real BigFloat as an ExComplex (its exponent is not limited to the doubles' range).
ExComplex ExOf(const BigFloat& value)
{
    long exponent = 0;
    const double mantissa = mpfr_get_d_2exp(&exponent, value.get(), MPFR_RNDN);
    return ex::Normalised(mantissa, 0.0, exponent);
}

ExComplex ExOf(const BigFloat& re, const BigFloat& im) { return ex::Add(ExOf(re), ex::Swap(ExOf(im))); }

void AppendSlots(std::string& key, const CBatchFormula& program)
{
    key += program.Dump();
    key += '|';
    for (int s = 0; s < program.SlotCount(); ++s) {
        const Complex v = program.Initial(s);
        char bits[40];
        uint64_t re = 0;
        uint64_t im = 0;
        std::memcpy(&re, &v.re, sizeof re);
        std::memcpy(&im, &v.im, sizeof im);
        std::snprintf(bits, sizeof bits, "%llx,%llx;", static_cast<unsigned long long>(re),
            static_cast<unsigned long long>(im));
        key += bits;
    }
    key += '|';
}

// The largest distance from point to a corner of the view: every pixel's offset is within it.
ExComplex Radius(const PreciseView& view, const Picture& picture, const BigComplex& point, mpfr_prec_t bits)
{
    BigFloat px(bits);
    BigFloat py(bits);
    mpfr_set(px.get(), point.Re(), MPFR_RNDN);
    mpfr_set(py.get(), point.Im(), MPFR_RNDN);
    const BigFloat width = view.ratio * static_cast<double>(picture.imageWidth);
    const BigFloat height = view.ratio * static_cast<double>(picture.imageHeight);
    ExComplex largest = ex::FromReal(0.0);
    for (const bool right : { false, true }) {
        for (const bool bottom : { false, true }) {
            const BigFloat cx = right ? view.offsetX + width : view.offsetX;
            const BigFloat cy = bottom ? view.offsetY + height : view.offsetY;
            const ExComplex d = ex::Abs(ExOf(cx - px, cy - py));
            if (ex::IsZero(largest) || ex::Sub(d, largest).re > 0.0) {
                largest = d;
            }
        }
    }
    return ex::Scale(largest, 1.01);
}

// The lattice of this render in high precision: the first point and the steps between lattice lines.
struct DeepLattice {
    BigFloat x0, y0, dx, dy;
};

// One thread's colour formula for the deep path: runs it on finished pixels' counts and values, a
// lane each, kLanes at a time, and paints the palette pixels they select.
class CDeepColour {
public:
    CDeepColour(const Picture& picture, const RenderPlan& plan, const RenderArea& area, const Raster& target,
        const std::vector<int>& rows, const std::vector<int>& columns, const CBatchFormula& color)
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
    }
    CDeepColour(const CDeepColour&) = delete;
    CDeepColour& operator=(const CDeepColour&) = delete;
    ~CDeepColour() { Flush(); }

    // index: the pixel's place in the render's lattice (row-major over the lines inside the target).
    void operator()(size_t index, Complex point, int count, Complex last)
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
        m_index[lane] = index;
        m_count[lane] = count;
        m_last[lane] = last;
        if (m_nPending == kLanes) {
            Flush();
        }
    }

    void Flush()
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
                m_plan.data->Put(
                    m_plan.Row(m_area, lj), m_plan.Column(m_area, li), m_count[lane], m_last[lane]);
            }
            PaintColour(m_plan, m_picture.mapping, m_target, m_plan.Row(m_area, lj),
                m_plan.Column(m_area, li), { re[lane], im[lane] });
        }
        m_nPending = 0;
    }

private:
    const Picture& m_picture;
    const RenderPlan& m_plan;
    const RenderArea& m_area;
    const Raster& m_target;
    const std::vector<int>& m_rows;
    const std::vector<int>& m_columns;
    CBatchFormula m_color;
    const int m_z, m_n, m_z0;
    int m_nPending { 0 };
    size_t m_index[kLanes] {};
    int m_count[kLanes] {};
    Complex m_last[kLanes] {};
};

// Takes the next of count work items for a render thread; false when none is left or the render is
// to stop (a stop seen here is passed on to the other threads through aborted).
bool Claim(std::atomic<size_t>& next, size_t count, std::atomic<bool>& aborted, const RenderControl& control,
    size_t& item)
{
    item = next.fetch_add(1);
    if (item >= count || aborted.load(std::memory_order_relaxed)) {
        return false;
    }
    if (Aborted(control)) {
        aborted.store(true);
        return false;
    }
    return true;
}

// The session of the view: this view's references, or a new one with the main reference at the
// centre (kept for the view's next render). Null when cancelled.
std::shared_ptr<DeepSession> SessionFor(const Picture& picture, const PreciseView& view, mpfr_prec_t bits,
    const CBatchFormula& iterProgram, const std::function<bool()>& cancelled)
{
    const int maxIter = picture.maxIter;
    BigFloat centreX(bits);
    BigFloat centreY(bits);
    centreX = view.offsetX + view.ratio * (picture.imageWidth / 2.0);
    centreY = view.offsetY + view.ratio * (picture.imageHeight / 2.0);
    std::string key = std::to_string(bits) + "|" + std::to_string(maxIter) + "|" + centreX.ToString() + ","
        + centreY.ToString() + "," + view.ratio.ToString() + "," + std::to_string(picture.imageWidth) + "x"
        + std::to_string(picture.imageHeight) + "|";
    AppendSlots(key, iterProgram);
    AppendSlots(key, CBatchFormula(picture.termFormula));
    {
        std::lock_guard lock(g_sessionMutex);
        if (g_session && g_session->key == key) {
            return g_session;
        }
    }
    auto session = std::make_shared<DeepSession>();
    session->key = key;
    session->bits = bits;
    session->program = DeltaProgramOf(picture.iterFormula, picture.termFormula);
    auto reference = std::make_shared<Reference>();
    const BigComplex centre(centreX, centreY);
    if (!BuildReference(session->program, centre, bits, maxIter, *reference, cancelled)) {
        return nullptr;
    }
    session->program.PlanSkip(reference->orbit, Radius(view, picture, centre, bits), maxIter);
    session->references.push_back(reference);
    session->bytes = reference->orbit.Bytes();
    std::lock_guard lock(g_sessionMutex);
    g_session = session;
    return session;
}

} // namespace

mpfr_prec_t DeepBits(const Picture& picture)
{
    // The lattice step told apart at the view's magnitude, with guard bits.
    const PreciseView rough = PreciseViewOf(picture, 64);
    const long stepExponent = rough.ratio.Exponent() - 12;
    const long magnitude = std::max({ rough.offsetX.Exponent(), rough.offsetY.Exponent(), 4L });
    return BitsFor(stepExponent, magnitude, 96);
}

DeepProbe ProbeDeep(Picture& picture, const BigComplex& point, const std::function<bool()>& cancelled)
{
    CleanVectorState();
    struct CacheRelease {
        ~CacheRelease() { ReleasePrecisionCaches(); }
    } release;
    DeepProbe probe;
    const mpfr_prec_t bits = DeepBits(picture);
    const PreciseView view = PreciseViewOf(picture, bits);
    const CBatchFormula iterProgram(picture.iterFormula);
    const std::shared_ptr<DeepSession> session = SessionFor(picture, view, bits, iterProgram, cancelled);
    if (!session) {
        probe.cancelled = true;
        return probe;
    }
    // The pixel's offset from the main reference, as the render forms it: real and imaginary apart.
    const Reference& reference = *session->references.front();
    BigFloat dx(bits), dy(bits);
    mpfr_sub(dx.get(), point.Re(), reference.point.Re(), MPFR_RNDN);
    mpfr_sub(dy.get(), point.Im(), reference.point.Im(), MPFR_RNDN);
    std::vector<Complex> scratchD;
    std::vector<ExComplex> scratchX;
    const DeltaPixel pixel = session->program.Iterate(
        reference.orbit, ex::Add(ExOf(dx), ex::Swap(ExOf(dy))), picture.maxIter, scratchD, scratchX);
    if (!pixel.glitched) {
        probe.count = pixel.count;
        probe.last = pixel.last;
        return probe;
    }
    // What the main reference cannot take: arbitrary precision, the render's last resort.
    const CBatchFormula termProgram(picture.termFormula);
    CPreciseProgram precise(iterProgram, bits);
    CPreciseProgram term(termProgram, bits);
    const OracleBindings bindings
        = BindOracle(picture.iterFormula, iterProgram, picture.termFormula, termProgram);
    const OraclePixel result = PreciseIterate(precise, term, bindings, point, picture.maxIter, cancelled);
    probe.count = result.count;
    probe.last = result.last;
    probe.precise = true;
    probe.cancelled = result.cancelled;
    return probe;
}

DeepRenderState LastDeepRender()
{
    return { g_active.load(), g_references.load(), g_skipRuns.load(), g_precise.load(), g_bits.load() };
}

void NoteShallowRender() { g_active.store(false); }

void ForgetDeepReferences()
{
    std::lock_guard lock(g_sessionMutex);
    g_session.reset();
}

int RenderPictureDeep(Picture& picture, const Raster& target, const RenderArea& area, RenderControl control,
    const RenderPlan& plan, RenderStats* stats)
{
    CleanVectorState();
    // Whatever way the render ends, this thread's number caches go with it (it may be a worker that ends).
    struct CacheRelease {
        ~CacheRelease() { ReleasePrecisionCaches(); }
    } release;
    const mpfr_prec_t bits = DeepBits(picture);
    const PreciseView view = PreciseViewOf(picture, bits);

    DeepLattice lattice { BigFloat(bits), BigFloat(bits), BigFloat(bits), BigFloat(bits) };
    lattice.dx
        = view.ratio * (static_cast<double>(picture.imageWidth) * area.scaleX / (area.right - area.left));
    lattice.dy
        = view.ratio * (static_cast<double>(picture.imageHeight) * area.scaleY / (area.bottom - area.top));
    lattice.x0 = lattice.dx * ((area.left + 0.5) / area.scaleX) + view.offsetX;
    lattice.y0 = lattice.dy * ((area.top + 0.5) / area.scaleY) + view.offsetY;
    const CBatchFormula iterProgram(picture.iterFormula);
    const CBatchFormula termProgram(picture.termFormula);
    const CBatchFormula colorProgram(picture.colorFormula);
    const int maxIter = picture.maxIter;
    const auto cancelled = [&control] { return Aborted(control); };
    const std::shared_ptr<DeepSession> session = SessionFor(picture, view, bits, iterProgram, cancelled);
    if (!session) {
        return kRenderAborted;
    }
    g_active.store(true);
    g_bits.store(static_cast<int>(bits));

    // The lattice lines inside the target.
    std::vector<int> rows;
    std::vector<int> columns;
    for (size_t j = 0; j < plan.ys.size(); ++j) {
        if (const long long row = plan.Row(area, j); row >= 0 && row < target.height) {
            rows.push_back(static_cast<int>(j));
        }
    }
    for (size_t i = 0; i < plan.xs.size(); ++i) {
        if (const long long column = plan.Column(area, i); column >= 0 && column < target.width) {
            columns.push_back(static_cast<int>(i));
        }
    }
    if (columns.empty()) {
        rows.clear();
    }
    const size_t pixels = rows.size() * columns.size();
    // Per pixel of this render: 0 = to do, 1 = done.
    std::vector<uint8_t> done(pixels, 0);

    CRenderPool& pool = CRenderPool::Instance();
    const int threads = std::clamp(static_cast<int>(rows.size()), 1, pool.Threads());
    std::atomic<std::int64_t> iterations { 0 };
    std::atomic<bool> aborted { false };

    // Each pixel of `todo` tries the references from `firstReference` on, in order; a pixel none can
    // take stays to do. Deterministic: a pixel's outcome depends only on the references offered.
    // Runs batches of pixels, each with one reference: side by side in lanes (a few pixels, or offsets
    // below the doubles' range, one by one). Paints what a reference takes; returns the rest, in order.
    struct Batch {
        size_t reference;
        size_t from, to; // into the batches' pixel list
    };
    // Pixels a thread claims at once: enough that the lanes stay full until the last few.
    constexpr size_t kPixelsPerBatch = 4 * kLanes;
    const auto runBatches = [&](const std::vector<std::shared_ptr<const Reference>>& references,
                                const std::vector<std::vector<ExComplex>>& columnOffsets,
                                const std::vector<std::vector<ExComplex>>& rowOffsets,
                                const std::vector<size_t>& list, const std::vector<Batch>& batches,
                                double progressFrom, double progressTo) {
        std::vector<size_t> failed;
        std::mutex failedMutex;
        std::atomic<size_t> next { 0 };
        pool.Run(threads, [&](int) {
            CleanVectorState();
            CDeepColour colour(picture, plan, area, target, rows, columns, colorProgram);
            std::vector<Complex> scratchD;
            std::vector<ExComplex> scratchX;
            std::int64_t runs = 0;
            DeltaLanes laneScratch;
            std::vector<size_t> mine; // what this thread's references could not take
            std::vector<ExComplex> offsets;
            std::vector<Complex> points;
            std::vector<DeltaPixel> results;
            // A few pixels go faster one by one than in 64 lanes.
            constexpr int kFewestSideBySide = 16;
            for (size_t b = 0; Claim(next, batches.size(), aborted, control, b);) {
                const Batch& batch = batches[b];
                const Reference& reference = *references[batch.reference];
                const Complex referencePoint = reference.point.ToComplex();
                const std::vector<ExComplex>& columnOffset = columnOffsets[batch.reference];
                const std::vector<ExComplex>& rowOffset = rowOffsets[batch.reference];
                const int count = static_cast<int>(batch.to - batch.from);
                offsets.resize(static_cast<size_t>(count));
                points.resize(static_cast<size_t>(count));
                results.resize(static_cast<size_t>(count));
                for (int l = 0; l < count; ++l) {
                    const size_t index = list[batch.from + static_cast<size_t>(l)];
                    offsets[l] = ex::Add(
                        columnOffset[index % columns.size()], ex::Swap(rowOffset[index / columns.size()]));
                    points[l] = Add(referencePoint, ex::ToComplex(offsets[l]));
                }
                const bool side = count >= kFewestSideBySide;
                if (side) {
                    session->program.IterateLanes(
                        reference.orbit, offsets.data(), count, maxIter, laneScratch, results.data());
                }
                for (int l = 0; l < count; ++l) {
                    if (!side || results[l].deferred) {
                        const DeltaPixel resumed = results[l];
                        const Complex* resume = side && resumed.resumeRun >= 0 ? laneScratch.resume.data()
                                + static_cast<size_t>(l) * laneScratch.resume.size()
                                    / static_cast<size_t>(count)
                                                                               : nullptr;
                        results[l] = session->program.Iterate(reference.orbit, offsets[l], maxIter, scratchD,
                            scratchX, side ? &resumed : nullptr, resume);
                    }
                }
                for (int l = 0; l < count; ++l) {
                    const size_t index = list[batch.from + static_cast<size_t>(l)];
                    runs += results[l].runs;
                    if (results[l].glitched) {
                        mine.push_back(index);
                    } else {
                        colour(index, points[l], results[l].count, results[l].last);
                        done[index] = 1;
                    }
                }
                const double share = static_cast<double>(b + 1) / static_cast<double>(batches.size());
                double seen = control.progress.load(std::memory_order_relaxed);
                const double value = progressFrom + (progressTo - progressFrom) * share;
                while (seen < value && !control.progress.compare_exchange_weak(seen, value)) { }
            }
            iterations += runs;
            std::lock_guard lock(failedMutex);
            failed.insert(failed.end(), mine.begin(), mine.end());
        });
        std::sort(failed.begin(), failed.end());
        return failed;
    };

    // The first reference takes every pixel, 64 at a time; a pixel it cannot take tries the others,
    // nearest first, batched by reference round after round.
    const auto pass = [&](const std::vector<size_t>& todo,
                          const std::vector<std::shared_ptr<const Reference>>& references,
                          double progressFrom, double progressTo) {
        // Each lattice column's and row's offset from each reference (a pixel's offset is the sum).
        std::vector<std::vector<ExComplex>> columnOffsets;
        std::vector<std::vector<ExComplex>> rowOffsets;
        const ExComplex stepX = ExOf(lattice.dx);
        const ExComplex stepY = ExOf(lattice.dy);
        for (const auto& reference : references) {
            BigFloat rx(bits);
            BigFloat ry(bits);
            mpfr_set(rx.get(), reference->point.Re(), MPFR_RNDN);
            mpfr_set(ry.get(), reference->point.Im(), MPFR_RNDN);
            const ExComplex frameX0 = ExOf(lattice.x0 - rx);
            const ExComplex frameY0 = ExOf(lattice.y0 - ry);
            std::vector<ExComplex>& across = columnOffsets.emplace_back();
            for (const int li : columns) {
                across.push_back(ex::Add(frameX0, ex::Scale(stepX, li)));
            }
            std::vector<ExComplex>& down = rowOffsets.emplace_back();
            for (const int lj : rows) {
                down.push_back(ex::Add(frameY0, ex::Scale(stepY, lj)));
            }
        }
        std::vector<Batch> batches;
        for (size_t from = 0; from < todo.size(); from += kPixelsPerBatch) {
            batches.push_back({ 0, from, std::min(todo.size(), from + kPixelsPerBatch) });
        }
        std::vector<size_t> failed
            = runBatches(references, columnOffsets, rowOffsets, todo, batches, progressFrom, progressTo);
        if (references.size() < 2 || failed.empty() || aborted.load()) {
            return;
        }
        // Every other reference by distance, for each pixel the first could not take.
        struct Retry {
            size_t index;
            std::vector<uint8_t> order;
            size_t next { 0 };
        };
        std::vector<Retry> retries;
        for (const size_t index : failed) {
            std::vector<std::pair<ExComplex, uint8_t>> distances;
            for (size_t r = 1; r < references.size(); ++r) {
                const ExComplex offset = ex::Add(columnOffsets[r][index % columns.size()],
                    ex::Swap(rowOffsets[r][index / columns.size()]));
                distances.push_back({ ex::Abs(offset), static_cast<uint8_t>(r) });
            }
            std::sort(distances.begin(), distances.end(),
                [](const auto& a, const auto& b) { return ex::Sub(a.first, b.first).re < 0.0; });
            Retry retry { index, {} };
            for (const auto& d : distances) {
                retry.order.push_back(d.second);
            }
            retries.push_back(std::move(retry));
        }
        while (!retries.empty() && !aborted.load()) {
            // Group this round's pixels by the reference each tries next, in lattice order.
            std::vector<std::vector<size_t>> groups(references.size());
            for (const Retry& retry : retries) {
                groups[retry.order[retry.next]].push_back(retry.index);
            }
            std::vector<size_t> list;
            batches.clear();
            for (size_t r = 1; r < groups.size(); ++r) {
                for (size_t from = 0; from < groups[r].size(); from += kPixelsPerBatch) {
                    const size_t to = std::min(groups[r].size(), from + kPixelsPerBatch);
                    batches.push_back({ r, list.size(), list.size() + (to - from) });
                    list.insert(list.end(), groups[r].begin() + static_cast<std::ptrdiff_t>(from),
                        groups[r].begin() + static_cast<std::ptrdiff_t>(to));
                }
            }
            runBatches(references, columnOffsets, rowOffsets, list, batches, progressTo, progressTo);
            std::vector<Retry> left;
            for (Retry& retry : retries) {
                if (!done[retry.index] && ++retry.next < retry.order.size()) {
                    left.push_back(std::move(retry));
                }
            }
            retries = std::move(left);
        }
    };

    std::vector<size_t> todo(pixels);
    for (size_t k = 0; k < pixels; ++k) {
        todo[k] = k;
    }
    std::vector<std::shared_ptr<const Reference>> offered;
    {
        std::lock_guard lock(g_sessionMutex);
        offered = session->references;
    }
    g_skipRuns.store(offered.front()->orbit.skipRuns);
    pass(todo, offered, 0.0, 0.8);
    const auto remaining = [&] {
        std::vector<size_t> left;
        for (const size_t k : todo) {
            if (!done[k]) {
                left.push_back(k);
            }
        }
        return left;
    };
    todo = remaining();
    // Glitched pixels: another reference at the glitched pixel nearest their centre, until none is
    // left or the references run out. A reference that takes none of them (its own orbit may end at
    // once, at a pole) is followed by one at a pixel a third and two thirds along the left-over ones
    // before the rest goes to arbitrary precision.
    constexpr int kFruitlessTries = 3;
    int referenceCount = static_cast<int>(offered.size());
    int fruitless = 0;
    while (!todo.empty() && !aborted.load() && referenceCount < kMaxDeepReferences) {
        double sumX = 0;
        double sumY = 0;
        for (const size_t k : todo) {
            sumX += static_cast<double>(columns[k % columns.size()]);
            sumY += static_cast<double>(rows[k / columns.size()]);
        }
        const double meanX = sumX / static_cast<double>(todo.size());
        const double meanY = sumY / static_cast<double>(todo.size());
        size_t best = todo.front();
        double bestDistance = INFINITY;
        for (const size_t k : todo) {
            const double ex = columns[k % columns.size()] - meanX;
            const double ey = rows[k / columns.size()] - meanY;
            if (ex * ex + ey * ey < bestDistance) {
                bestDistance = ex * ex + ey * ey;
                best = k;
            }
        }
        if (fruitless > 0) {
            best = todo[todo.size() * static_cast<size_t>(fruitless) / kFruitlessTries];
        }
        const BigFloat px = lattice.x0 + lattice.dx * static_cast<double>(columns[best % columns.size()]);
        const BigFloat py = lattice.y0 + lattice.dy * static_cast<double>(rows[best / columns.size()]);
        auto reference = std::make_shared<Reference>();
        const BigComplex point(px, py);
        size_t budget = 0;
        {
            std::lock_guard lock(g_sessionMutex);
            budget
                = std::min(kMaxReferenceBytes, kMaxSessionBytes - std::min(kMaxSessionBytes, session->bytes));
        }
        if (budget < kMaxReferenceBytes / 64) {
            break; // the references have used their memory: arbitrary precision for the rest
        }
        if (!BuildReference(session->program, point, bits, maxIter, *reference, cancelled, budget)) {
            aborted.store(true);
            break;
        }
        session->program.PlanSkip(
            reference->orbit, ex::Scale(Radius(view, picture, point, bits), 1.0), maxIter);
        {
            std::lock_guard lock(g_sessionMutex);
            session->references.push_back(reference);
            session->bytes += reference->orbit.Bytes();
        }
        ++referenceCount;
        pass(todo, { reference }, 0.8, 0.9);
        const size_t before = todo.size();
        todo = remaining();
        fruitless = todo.size() == before ? fruitless + 1 : 0;
        if (fruitless == kFruitlessTries) {
            break; // arbitrary precision for the rest
        }
    }
    g_references.store(referenceCount);
    // What no reference could take: arbitrary precision per pixel.
    if (!todo.empty() && !aborted.load()) {
        const OracleBindings bindings
            = BindOracle(picture.iterFormula, iterProgram, picture.termFormula, termProgram);
        std::atomic<size_t> next { 0 };
        pool.Run(threads, [&](int) {
            CPreciseProgram precise(iterProgram, bits);
            CPreciseProgram term(termProgram, bits);
            CDeepColour colour(picture, plan, area, target, rows, columns, colorProgram);
            std::int64_t runs = 0;
            for (size_t t = 0; Claim(next, todo.size(), aborted, control, t);) {
                const size_t index = todo[t];
                const int lj = rows[index / columns.size()];
                const int li = columns[index % columns.size()];
                const BigComplex point(lattice.x0 + lattice.dx * static_cast<double>(li),
                    lattice.y0 + lattice.dy * static_cast<double>(lj));
                const OraclePixel result = PreciseIterate(precise, term, bindings, point, maxIter, cancelled);
                if (result.cancelled) {
                    aborted.store(true);
                    break;
                }
                runs += RunsOfIteration(result.count, maxIter);
                colour(index, point.ToComplex(), result.count, result.last);
            }
            iterations += runs;
            ReleasePrecisionCaches();
        });
    }
    g_precise.store(static_cast<int>(todo.size()));
    if (stats) {
        *stats = { iterations.load(), threads };
    }
    if (aborted.load()) {
        return kRenderAborted;
    }
    control.progress.store(1.0, std::memory_order_relaxed);
    return kRenderDone;
}
