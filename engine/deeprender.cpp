#include "deeprender.h"

#include "deepcolour.h"
#include "deepreads.h"
#include "deeprenderer.h"
#include "deepviewer.h"

#include "dual.h"
#include "oracle.h"
#include "reference.h"
#include "renderpool.h"

#include <algorithm>
#include <cmath>
#include <cstring>

CDeepRender::CDeepRender(Picture& picture, const Raster& target, const RenderArea& area,
    RenderControl control, const RenderPlan& plan, CDeepSession& session)
    : m_picture(picture)
    , m_target(target)
    , m_area(area)
    , m_control(control)
    , m_plan(plan)
    , m_session(session)
    , m_pool(control.pool)
    , m_viewer(picture, control.pool.Threads())
    , m_nBits(m_viewer.Bits())
    , m_x0(m_nBits)
    , m_y0(m_nBits)
    , m_dx(m_nBits)
    , m_dy(m_nBits)
    , m_iter(picture.iterFormula)
    , m_term(picture.termFormula)
    , m_color(picture.colorFormula)
    , m_nMaxIter(picture.maxIter)
{
    const PreciseView& view = m_viewer.View();
    m_pixel = ExOf(view.ratio);
    m_dx = view.ratio * (static_cast<double>(picture.imageWidth) * area.scaleX / (area.right - area.left));
    m_dy = view.ratio * (static_cast<double>(picture.imageHeight) * area.scaleY / (area.bottom - area.top));
    m_x0 = m_dx * ((area.left + 0.5) / area.scaleX) + view.offsetX;
    m_y0 = m_dy * ((area.top + 0.5) / area.scaleY) + view.offsetY;
    for (size_t j = 0; j < plan.ys.size(); ++j) {
        if (const long long row = plan.Row(area, j); row >= 0 && row < target.height) {
            m_rows.push_back(static_cast<int>(j));
        }
    }
    for (size_t i = 0; i < plan.xs.size(); ++i) {
        if (const long long column = plan.Column(area, i); column >= 0 && column < target.width) {
            m_columns.push_back(static_cast<int>(i));
        }
    }
    if (m_columns.empty()) {
        m_rows.clear();
    }
    m_done.assign(m_rows.size() * m_columns.size(), 0);
    m_nThreads = std::clamp(static_cast<int>(m_rows.size()), 1, m_pool.Threads());
}

BigComplex CDeepRender::PixelPoint(size_t index) const
{
    return BigComplex(m_x0 + m_dx * static_cast<double>(m_columns[index % m_columns.size()]),
        m_y0 + m_dy * static_cast<double>(m_rows[index / m_columns.size()]));
}

// Glitched pixels: another reference at the glitched pixel nearest their centre, until none is left
// or the references run out. A reference that takes none of them (its own orbit may end at once, at a
// pole) is followed by one at a pixel a third and two thirds along the left-over ones before the rest
// goes to arbitrary precision.
void CDeepRender::AddReferences(std::vector<size_t>& todo, int& references)
{
    constexpr int kFruitlessTries = 3;
    int fruitless = 0;
    while (!todo.empty() && !m_bAborted.load() && references < kMaxDeepReferences) {
        double sumX = 0;
        double sumY = 0;
        for (const size_t k : todo) {
            sumX += static_cast<double>(m_columns[k % m_columns.size()]);
            sumY += static_cast<double>(m_rows[k / m_columns.size()]);
        }
        const double meanX = sumX / static_cast<double>(todo.size());
        const double meanY = sumY / static_cast<double>(todo.size());
        size_t best = todo.front();
        double bestDistance = INFINITY;
        for (const size_t k : todo) {
            const double dx = m_columns[k % m_columns.size()] - meanX;
            const double dy = m_rows[k / m_columns.size()] - meanY;
            if (dx * dx + dy * dy < bestDistance) {
                bestDistance = dx * dx + dy * dy;
                best = k;
            }
        }
        if (fruitless > 0) {
            best = todo[todo.size() * static_cast<size_t>(fruitless) / kFruitlessTries];
        }
        const size_t budget = m_session.Budget(*m_deep);
        if (budget == 0) {
            break; // the references have used their memory: arbitrary precision for the rest
        }
        std::shared_ptr<Reference> reference;
        if (!m_viewer.MakeReference(
                *m_deep, PixelPoint(best), budget, [this] { return Aborted(m_control); }, reference)) {
            m_bAborted.store(true);
            break;
        }
        m_session.AddReference(*m_deep, reference);
        ++references;
        Pass(todo, { reference }, 0.8, 0.9);
        const size_t before = todo.size();
        todo = Remaining(todo);
        fruitless = todo.size() == before ? fruitless + 1 : 0;
        if (fruitless == kFruitlessTries) {
            break; // arbitrary precision for the rest
        }
    }
}

// The colour formula on a pixel's exact value (iter holds it after PreciseIterate).
Complex CDeepRender::PreciseColour(
    CPreciseProgram& paint, const CPreciseProgram& iter, const BigComplex& point, int count) const
{
    const CDeltaProgram& program = m_deep->program;
    paint.Reset();
    if (program.ColourCode().Z() >= 0) {
        paint.Slot(program.ColourCode().Z()).Set(iter.Slot(iter.ResultSlot()));
    }
    if (program.ColourCode().Z0() >= 0) {
        paint.Slot(program.ColourCode().Z0()).Set(point);
    }
    if (program.ColourN() >= 0) {
        paint.Slot(program.ColourN()).Set(Complex { static_cast<double>(count), 0.0 });
    }
    paint.Run();
    return paint.Slot(paint.ResultSlot()).ToComplex();
}

// What no reference could take: arbitrary precision per pixel.
void CDeepRender::PrecisePixels(const std::vector<size_t>& todo)
{
    const OracleBindings bindings = BindOracle(m_picture.iterFormula, m_iter, m_picture.termFormula, m_term);
    const auto cancelled = [this] { return Aborted(m_control); };
    const CDeepIterationReads reads(m_plan.v.colorReads, m_iter, m_deep->program.Carried());
    const bool exact = m_deep->program.ExactColour() && !m_plan.v.colorD.Any() && reads.Size() == 0;
    std::atomic<size_t> next { 0 };
    m_pool.Run(m_nThreads, [&](int) {
        CPreciseProgram precise(m_iter, m_nBits);
        CPreciseProgram term(m_term, m_nBits);
        CPreciseProgram paint(m_color, m_nBits);
        CDeepColour colour(m_picture, m_plan, m_area, m_target, m_rows, m_columns, m_color);
        colour.SetPixel(m_pixel);
        CDeepPreciseFeed feed(
            m_plan.v, m_plan.tangent != nullptr, m_iter, m_term, m_nBits, m_pixel, bindings);
        const auto afterRun = [&](int, BigComplex& value) { feed.AfterRun(precise, value, term); };
        std::vector<Complex> values(reads.Size());
        std::int64_t runs = 0;
        for (size_t t = 0; Claim(next, todo.size(), t);) {
            const BigComplex point = PixelPoint(todo[t]);
            feed.Start(point);
            const OraclePixel result = PreciseIterate(precise, term, bindings, point, m_nMaxIter, cancelled,
                feed.Derivative() || feed.Termination() ? afterRun
                                                        : std::function<void(int, BigComplex&)> {});
            if (result.cancelled) {
                m_bAborted.store(true);
                break;
            }
            runs += RunsOfIteration(result.count, m_nMaxIter);
            ExComplex derivative[2];
            if (feed.Derivative()) {
                feed.DerivativeOf(derivative);
            }
            reads.Precise(precise, values.data());
            if (exact) {
                colour.Paint(
                    todo[t], result.count, result.last, PreciseColour(paint, precise, point, result.count));
            } else {
                colour(todo[t], point.ToComplex(), result.count, result.last,
                    feed.Derivative() ? derivative : nullptr, values.data());
            }
        }
        m_nIterations += runs;
        ReleasePrecisionCaches();
    });
}

int CDeepRender::Run(RenderStats* stats)
{
    m_deep = m_viewer.Open(m_session, [this] { return Aborted(m_control); });
    if (!m_deep) {
        return kRenderAborted;
    }
    DeepRenderState state { true, 0, 0, 0, static_cast<int>(m_nBits) };
    const References offered = m_session.References(*m_deep);
    state.skipRuns = offered.front()->orbit.skipRuns;
    state.references = static_cast<int>(offered.size());
    m_session.SetLast(state); // the status line names the deep path while it renders
    std::vector<size_t> todo(m_done.size());
    for (size_t k = 0; k < todo.size(); ++k) {
        todo[k] = k;
    }
    int references = static_cast<int>(offered.size());
    // The perturbed pixels do not hand the termination the derivative or the iteration's variables.
    if (!TerminationReads(m_plan.v)) {
        Pass(todo, offered, 0.0, 0.8);
        todo = Remaining(todo);
        AddReferences(todo, references);
    }
    state.references = references;
    if (!todo.empty() && !m_bAborted.load()) {
        PrecisePixels(todo);
    }
    state.precisePixels = static_cast<int>(todo.size());
    // Runs skipped a pixel: the shared skip's, and on average each pixel's own bilinear skips.
    state.skipRuns += static_cast<int>(m_nBlaSkipped.load() / std::max<std::int64_t>(1, std::ssize(m_done)));
    state.rebases = m_nRebases.load();
    m_session.SetLast(state);
    if (stats) {
        *stats = { m_nIterations.load(), m_nThreads };
    }
    if (m_bAborted.load()) {
        return kRenderAborted;
    }
    m_control.progress.store(1.0, std::memory_order_relaxed);
    return kRenderDone;
}

int RenderPictureDeep(Picture& picture, const Raster& target, const RenderArea& area, RenderControl control,
    const RenderPlan& plan, RenderStats* stats)
{
    CleanVectorState();
    // Whatever way the render ends, this thread's number caches go with it (it may be a worker that ends).
    struct CacheRelease {
        ~CacheRelease() { ReleasePrecisionCaches(); }
    } release;
    CDeepSession own;
    CDeepSession& session = control.deep ? *control.deep : own;
    return CDeepRender(picture, target, area, control, plan, session).Run(stats);
}

DeepProbe ProbeDeep(
    Picture& picture, const BigComplex& point, const std::function<bool()>& cancelled, CDeepSession* kept)
{
    CleanVectorState();
    struct CacheRelease {
        ~CacheRelease() { ReleasePrecisionCaches(); }
    } release;
    DeepProbe probe;
    CDeepSession own;
    const CDeepViewer viewer(picture);
    const std::shared_ptr<DeepView> view = viewer.Open(kept ? *kept : own, cancelled);
    if (!view) {
        probe.cancelled = true;
        return probe;
    }
    // The pixel's offset from the main reference, as the render forms it: real and imaginary apart.
    const Reference& reference = *view->references.front();
    const mpfr_prec_t bits = viewer.Bits();
    BigFloat dx(bits), dy(bits);
    mpfr_sub(dx.get(), point.Re(), reference.point.Re(), MPFR_RNDN);
    mpfr_sub(dy.get(), point.Im(), reference.point.Im(), MPFR_RNDN);
    std::vector<Complex> scratchD;
    std::vector<ExComplex> scratchX;
    const RenderBindings v = BindRender(picture);
    probe.derivative = v.Derivatives();
    const COrbitDerivative carrier(view->program.Iteration());
    OrbitDerivative carried;
    const ExComplex unit = ExOf(viewer.View().ratio);
    // A termination that reads the derivative or the iteration's variables is the precise path's.
    if (!TerminationReads(v)) {
        const DeltaPixel pixel = view->program.Iterate(reference.orbit, ExOf(dx, dy), picture.maxIter,
            scratchD, scratchX, nullptr, nullptr, probe.derivative ? &carrier : nullptr, &carried);
        if (!pixel.glitched) {
            probe.count = pixel.count;
            probe.last = pixel.last;
            if (probe.derivative) {
                const DerivativeView seen
                    = ViewDeepDerivative(pixel.last, carried.DzX(), carried.DzY(), unit);
                probe.dz = seen.dz;
                probe.de = seen.de;
            }
            return probe;
        }
    }
    // What the main reference cannot take: arbitrary precision, the render's last resort.
    const CBatchFormula iterProgram(picture.iterFormula);
    const CBatchFormula termProgram(picture.termFormula);
    CPreciseProgram precise(iterProgram, bits);
    CPreciseProgram term(termProgram, bits);
    const OracleBindings bindings
        = BindOracle(picture.iterFormula, iterProgram, picture.termFormula, termProgram);
    CDeepPreciseFeed feed(v, probe.derivative, iterProgram, termProgram, bits, unit, bindings);
    feed.Start(point);
    const OraclePixel result = PreciseIterate(precise, term, bindings, point, picture.maxIter, cancelled,
        [&](int, BigComplex& value) { feed.AfterRun(precise, value, term); });
    probe.count = result.count;
    probe.last = result.last;
    probe.precise = true;
    probe.cancelled = result.cancelled;
    if (probe.derivative && !probe.cancelled) {
        ExComplex d[2];
        feed.DerivativeOf(d);
        const DerivativeView seen = ViewDeepDerivative(result.last, d[0], d[1], unit);
        probe.dz = seen.dz;
        probe.de = seen.de;
    }
    return probe;
}
