#include "sweep.h"

#include "deeprender.h"
#include "deepviewer.h"
#include "exactview.h"
#include "fractalscript.h"
#include "oracle.h"
#include "reference.h"
#include "renderer.h"
#include "renderpool.h"

#include <QImage>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <random>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// The script of the view; its target is square and at least the script's smallest side, and the render
// shows the whole target at side x side.
bool Prepare(const SweepView& view, CFractalScript& script, std::string& problem)
{
    script.SetDefaults();
    if (!script.SetFormulas(view.iteration, view.termination, problem)
        || !script.SetColorFormula(view.colour, problem)) {
        return false;
    }
    for (size_t k = 0; k < view.constants.size(); ++k) {
        if (static_cast<int>(k) < script.GetIterFormula().GetConstantCount()) {
            script.SetConstant(static_cast<int>(k), view.constants[k]);
        }
    }
    script.SetMaxIter(view.maxIter);
    script.SetImageSize(1024, 1024);
    if (!script.LoadPalette(QString())) {
        problem = "no palette";
        return false;
    }
    return true;
}

Raster RasterOf(QImage& image)
{
    return { image.width(), image.height(), static_cast<int>(image.bytesPerLine()), image.depth(),
        image.bits() };
}

struct Lattice {
    BigFloat x0, y0, step;
};

Lattice LatticeOf(const Picture& picture, int side, mpfr_prec_t bits)
{
    const PreciseView view = PreciseViewOf(picture, bits);
    const BigFloat step = view.ratio * (static_cast<double>(picture.imageWidth) / side);
    return { view.offsetX + step * 0.5, view.offsetY + step * 0.5, step };
}

} // namespace

mpfr_prec_t OracleBits(const SweepView& view)
{
    bool ok = false;
    const BigFloat width = BigFloat::Parse(view.width, 64, &ok);
    const BigFloat re = BigFloat::Parse(view.centreRe, 64, &ok);
    const BigFloat im = BigFloat::Parse(view.centreIm, 64, &ok);
    const long magnitude = std::max({ re.Exponent(), im.Exponent(), 4L });
    return BitsFor(width.Exponent() - 30, magnitude, 160);
}

namespace {

// What each reference of the render makes of one pixel: which took it, which glitched.
void ExplainPixel(const Picture& picture, const CDeepSession& session, int column, int row, int side)
{
    const std::shared_ptr<DeepView> view = session.Current();
    if (!view) {
        return;
    }
    const mpfr_prec_t bits = DeepBits(picture);
    const Lattice lattice = LatticeOf(picture, side, bits);
    const BigFloat x = lattice.x0 + lattice.step * static_cast<double>(column);
    const BigFloat y = lattice.y0 + lattice.step * static_cast<double>(row);
    mpfr_printf("pixel at %.60Rg,%.60Rg\n", x.get(), y.get());
    std::vector<Complex> scratchD;
    std::vector<ExComplex> scratchX;
    for (size_t r = 0; r < view->references.size(); ++r) {
        const Reference& reference = *view->references[r];
        BigFloat rx(bits), ry(bits);
        mpfr_set(rx.get(), reference.point.Re(), MPFR_RNDN);
        mpfr_set(ry.get(), reference.point.Im(), MPFR_RNDN);
        const DeltaPixel pixel = view->program.Iterate(
            reference.orbit, ExOf(x - rx, y - ry), picture.maxIter, scratchD, scratchX);
        mpfr_printf("reference %zu at %.80Rg,%.80Rg (runs %d, skip %d): count %d glitched %d runs %lld\n", r,
            reference.point.Re(), reference.point.Im(), reference.orbit.runs, reference.orbit.skipRuns,
            pixel.count, pixel.glitched, static_cast<long long>(pixel.runs));
    }
}

} // namespace

namespace {

// The view's picture, framed as the oracle frames it: its centre, width and the oracle's precision.
struct Framed {
    Picture picture;
    mpfr_prec_t bits { 0 };
    BigFloat cx, cy;
};

bool Frame(const SweepView& view, Framed& framed, std::string& problem)
{
    CFractalScript script;
    if (!Prepare(view, script, problem)) {
        return false;
    }
    framed.picture = script.TakeSnapshot();
    framed.bits = OracleBits(view);
    bool ok = false;
    framed.cx = BigFloat::Parse(view.centreRe, framed.bits, &ok);
    framed.cy = BigFloat::Parse(view.centreIm, framed.bits, &ok);
    const BigFloat ratio
        = BigFloat::Parse(view.width, framed.bits, &ok) / static_cast<double>(framed.picture.imageWidth);
    framed.picture.view = ViewAroundCentre(
        framed.cx, framed.cy, ratio, framed.picture.imageWidth, framed.picture.imageHeight);
    return true;
}

// "RE,IM" at bits.
BigComplex ParsePoint(const std::string& text, mpfr_prec_t bits)
{
    const size_t comma = text.find(',');
    bool parsed = false;
    return BigComplex(BigFloat::Parse(text.substr(0, comma), bits, &parsed),
        BigFloat::Parse(text.substr(comma + 1), bits, &parsed));
}

// Renders the whole target at side x side on `threads` threads: the counts and the deep path's figures.
bool RenderCounts(Picture& picture, int side, int threads, CDeepSession& session, SweepOutcome& outcome)
{
    QImage image(side, side, QImage::Format_RGB32);
    std::vector<std::int64_t> counts(static_cast<size_t>(side * side), -1);
    std::vector<Complex> lasts(counts.size());
    const PixelData data { counts.data(), lasts.data(), side };
    RenderArea area { 0, 0, side, side, 1, 1, 1, 1 };
    area.data = &data;
    std::atomic<int> stage { 0 };
    std::atomic<bool> stop { false };
    std::atomic<double> progress { 0.0 };
    CRenderPool pool;
    pool.SetThreads(threads);
    const auto started = Clock::now();
    const int result
        = RenderPicture(picture, RasterOf(image), area, { stage, 0, stop, progress, pool, &session });
    outcome.renderSeconds = Since(started);
    if (result != kRenderDone) {
        outcome.problem = "render result " + std::to_string(result);
        return false;
    }
    outcome.rendered = true;
    const DeepRenderState deep = session.Last();
    outcome.references = deep.active ? deep.references : 0;
    outcome.precisePixels = deep.active ? deep.precisePixels : 0;
    outcome.skipRuns = deep.active ? deep.skipRuns : 0;
    outcome.counts = std::move(counts);
    return true;
}

// The arbitrary-precision oracle of a framed view, and its test of chaos.
class COracle {
public:
    COracle(const Framed& framed, int side)
        : m_picture(framed.picture)
        , m_bits(framed.bits)
        , m_lattice(LatticeOf(framed.picture, side, framed.bits))
        , m_program(framed.picture.iterFormula)
        , m_termProgram(framed.picture.termFormula)
    {
        m_bindings = BindOracle(m_picture.iterFormula, m_program, m_picture.termFormula, m_termProgram);
        // The centre's orbit, for the nudges.
        CPreciseProgram precise(m_program, m_bits);
        CPreciseProgram term(m_termProgram, m_bits);
        PreciseIterate(precise, term, m_bindings, BigComplex(framed.cx, framed.cy), m_picture.maxIter, {},
            [&](int, BigComplex& value) { m_centre.push_back(value); });
    }

    BigComplex Point(int column, int row) const
    {
        return BigComplex(m_lattice.x0 + m_lattice.step * static_cast<double>(column),
            m_lattice.y0 + m_lattice.step * static_cast<double>(row));
    }

    int Count(const BigComplex& point, mpfr_prec_t bits,
        const std::function<void(int, BigComplex&)>& afterRun = {}) const
    {
        CPreciseProgram precise(m_program, bits);
        CPreciseProgram term(m_termProgram, bits);
        BigComplex start(point);
        start.SetPrecision(bits);
        return PreciseIterate(precise, term, m_bindings, start, m_picture.maxIter, {}, afterRun).count;
    }

    // Chaotic: the oracle's count is not the same everywhere within a millionth of a pixel (moves of
    // 1e-6, 1e-9, 1e-12 and 1e-15 of a pixel across and down, and the oracle at twice its precision), or
    // nudging every run's value by what the doubles round (see Nudged) changes it or carries the orbit
    // away before the run where the renderer's count (got) and the oracle's part: then the count
    // depends on more than the view and the doubles hold.
    bool Chaotic(int column, int row, std::int64_t count, std::int64_t got) const
    {
        const BigComplex point = Point(column, row);
        if (Nudged(point, count, std::min(count, got))) {
            return true;
        }
        struct Move {
            double dx, dy;
            int precision; // times the oracle's
        };
        const Move moves[] = { { 1e-6, 0, 1 }, { -1e-6, 0, 1 }, { 0, 1e-6, 1 }, { 0, -1e-6, 1 },
            { 1e-9, 1e-9, 1 }, { -1e-12, 1e-12, 1 }, { 1e-15, -1e-15, 1 }, { 0, 0, 2 } };
        BigFloat x(m_bits), y(m_bits);
        mpfr_set(x.get(), point.Re(), MPFR_RNDN);
        mpfr_set(y.get(), point.Im(), MPFR_RNDN);
        return std::any_of(std::begin(moves), std::end(moves), [&](const Move& m) {
            const BigComplex moved(x + m_lattice.step * m.dx, y + m_lattice.step * m.dy);
            return Count(moved, m_bits * m.precision) != count;
        });
    }

private:
    bool Nudged(const BigComplex& point, std::int64_t count, std::int64_t parting) const;

    const Picture& m_picture;
    const mpfr_prec_t m_bits;
    const Lattice m_lattice;
    const CBatchFormula m_program;
    const CBatchFormula m_termProgram;
    OracleBindings m_bindings;
    std::vector<BigComplex> m_centre;
};

// Whether the oracle's count at point changes when each run's value moves by up to 2^-53 of its
// distance from the centre's orbit (or of its size, past the centre's end) in each part, at random as
// roundings are, or whether those moves carry the value further than 2^-10 of the orbit's size so far
// from where it is without them before run `parting`: four tries, each with its own fixed seed. An
// orbit that grows a rounding that far wanders a chaotic set, and where that set leaks, when it
// leaves is as random as the roundings: only a few nudges in a hundred may change the count there.
bool COracle::Nudged(const BigComplex& point, std::int64_t count, std::int64_t parting) const
{
    std::vector<BigComplex> orbit;
    std::vector<double> size; // the largest modulus up to each run
    Count(point, m_bits, [&](int run, BigComplex& value) {
        if (run < parting) {
            const Complex v = value.ToComplex();
            size.push_back(std::max(size.empty() ? 0.0 : size.back(), std::hypot(v.re, v.im)));
            orbit.push_back(value);
        }
    });
    BigComplex difference(m_bits);
    BigFloat step(64);
    for (const unsigned seed : { 1u, 2u, 3u, 4u }) {
        bool apart = false;
        std::mt19937 random(seed);
        std::uniform_real_distribution<double> share(-1.0, 1.0);
        const auto nudge = [&](int run, BigComplex& value) {
            if (static_cast<size_t>(run) < m_centre.size()) {
                mpc_sub(difference.get(), value.get(), m_centre[static_cast<size_t>(run)].get(), MPC_RNDNN);
                mpc_abs(step.get(), difference.get(), MPFR_RNDN);
            } else {
                mpc_abs(step.get(), value.get(), MPFR_RNDN);
            }
            mpfr_mul_2si(step.get(), step.get(), -53, MPFR_RNDN);
            for (mpfr_ptr part : { value.Re(), value.Im() }) {
                BigFloat moved(64);
                mpfr_mul_d(moved.get(), step.get(), share(random), MPFR_RNDN);
                mpfr_add(part, part, moved.get(), MPFR_RNDN);
            }
            if (static_cast<size_t>(run) < orbit.size()) {
                mpc_sub(difference.get(), value.get(), orbit[static_cast<size_t>(run)].get(), MPC_RNDNN);
                const Complex d = difference.ToComplex();
                // Not further than 2^-10: the renderer's own roundings are not random, and over hundreds
                // of runs they add up to tens of these moves (1e-14 of the offset by run 500, measured).
                apart = apart || std::hypot(d.re, d.im) > 0x1p-10 * size[static_cast<size_t>(run)];
            }
        };
        if (Count(point, m_bits, nudge) != count || apart) {
            return true;
        }
    }
    return false;
}

} // namespace

SweepOutcome CheckView(
    const SweepView& view, int threads, int oracleThreads, int explainColumn, int explainRow)
{
    SweepOutcome outcome;
    Framed framed;
    CDeepSession session;
    if (!Frame(view, framed, outcome.problem)
        || !RenderCounts(framed.picture, view.side, threads, session, outcome)) {
        return outcome;
    }
    if (explainColumn >= 0) {
        ExplainPixel(framed.picture, session, explainColumn, explainRow, view.side);
    }
    // The oracle, side by side on oracleThreads threads, rows interleaved; a pixel that disagrees is
    // tested for chaos (moved differs from truth).
    const int side = view.side;
    const std::vector<std::int64_t>& counts = outcome.counts;
    const COracle oracle(framed, side);
    std::vector<std::int64_t> truth(counts.size());
    std::vector<std::int64_t> moved(counts.size(), -2);
    const auto rows = [&](int first) {
        for (int j = first; j < side; j += oracleThreads) {
            for (int i = 0; i < side; ++i) {
                const size_t at = static_cast<size_t>(j * side + i);
                truth[at] = oracle.Count(oracle.Point(i, j), framed.bits);
                if (truth[at] != counts[at]) {
                    moved[at] = oracle.Chaotic(i, j, truth[at], counts[at]) ? truth[at] + 1 : truth[at];
                }
            }
        }
        ReleasePrecisionCaches();
    };
    const auto oracleStarted = Clock::now();
    std::vector<std::thread> workers;
    for (int t = 0; t < oracleThreads; ++t) {
        workers.emplace_back(rows, t);
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    outcome.oracleSeconds = Since(oracleStarted);
    for (size_t at = 0; at < counts.size(); ++at) {
        ++outcome.pixels;
        if (truth[at] == counts[at]) {
            ++outcome.agree;
        } else if (moved[at] != truth[at]) {
            ++outcome.chaotic;
        } else {
            outcome.wrong.push_back(
                { static_cast<int>(at) % side, static_cast<int>(at) / side, counts[at], truth[at] });
        }
    }
    return outcome;
}

// Follows one pixel run by run: its value in the oracle's precision against the reference plus the
// delta program's offset (no skip, no glitch tests), and prints the runs where they part.
void TraceView(const SweepView& view, int column, int row, int runs, const std::string& referenceAt)
{
    Framed framed;
    std::string problem;
    if (!Frame(view, framed, problem)) {
        std::printf("%s\n", problem.c_str());
        return;
    }
    Picture& picture = framed.picture;
    const mpfr_prec_t bits = framed.bits;
    const Lattice lattice = LatticeOf(picture, view.side, bits);
    const BigComplex pixel(lattice.x0 + lattice.step * static_cast<double>(column),
        lattice.y0 + lattice.step * static_cast<double>(row));
    const BigComplex centre
        = referenceAt.empty() ? BigComplex(framed.cx, framed.cy) : ParsePoint(referenceAt, bits);
    const CBatchFormula program(picture.iterFormula);
    const int z = program.Slot(picture.iterFormula.FindVariable("z"));
    const int z0 = program.Slot(picture.iterFormula.FindVariable("z0"));
    picture.termFormula.SetVariable(
        picture.termFormula.FindVariable("V_iter_max"), { static_cast<double>(picture.maxIter), 0.0 });
    const CDeltaProgram delta = DeltaProgramOf(picture.iterFormula, picture.termFormula);
    Reference reference;
    BuildReference(delta, centre, bits, std::min(runs, picture.maxIter), reference, nullptr);
    std::vector<ExComplex> d(static_cast<size_t>(program.SlotCount()));
    BigComplex offset(bits);
    mpc_sub(offset.get(), pixel.get(), centre.get(), MPC_RNDNN);
    const ExComplex start = WideOf(offset);
    for (const int slot : { z, z0 }) {
        if (slot >= 0) {
            d[static_cast<size_t>(slot)] = start;
        }
    }
    CPreciseProgram precise(program, bits);
    CPreciseProgram centred(program, bits);
    precise.Reset();
    centred.Reset();
    for (const int slot : { z, z0 }) {
        if (slot >= 0) {
            precise.Slot(slot).Set(pixel);
            centred.Slot(slot).Set(centre);
        }
    }
    const auto text = [](const ExComplex& x) {
        char buffer[96];
        std::snprintf(buffer, sizeof buffer, "(%.6f, %.6f)e%lld", x.re, x.im, static_cast<long long>(x.e));
        return std::string(buffer);
    };
    {
        std::vector<Complex> sd;
        std::vector<ExComplex> sx;
        const DeltaPixel got = delta.Iterate(reference.orbit, start, picture.maxIter, sd, sx);
        std::printf("Iterate: count %d glitched %d runs %lld\n", got.count, got.glitched,
            static_cast<long long>(got.runs));
        std::printf("program %s result %d\n", program.Dump().c_str(), program.ResultSlot());
    }
    bool escaped = false;
    for (int n = 0; n < reference.orbit.runs; ++n) {
        delta.Probe(reference.orbit, n, d.data());
        precise.Run();
        centred.Run();
        BigComplex truth(bits);
        mpc_sub(truth.get(), precise.Slot(program.ResultSlot()).get(),
            centred.Slot(program.ResultSlot()).get(), MPC_RNDNN);
        const ExComplex want = WideOf(truth);
        if (const Complex p = precise.Slot(program.ResultSlot()).ToComplex();
            !escaped && p.re * p.re + p.im * p.im > 100) {
            escaped = true;
            std::printf("the pixel's norm passes 100 at run %d\n", n);
        }
        const ExComplex got = d[static_cast<size_t>(program.ResultSlot())];
        const ExComplex error = ex::Abs(ex::Sub(got, want));
        const double share = ex::IsZero(want) ? 0.0 : ex::ToComplex(ex::Div(error, ex::Abs(want))).re;
        const Complex ref = reference.orbit.last[static_cast<size_t>(n)];
        std::printf("%4d ref (%.6g, %.6g) delta %s true %s error %.3g\n", n, ref.re, ref.im,
            text(got).c_str(), text(want).c_str(), share);
    }
}
