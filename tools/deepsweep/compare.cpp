#include "sweep.h"

#include "deeprender.h"
#include "exactview.h"
#include "fractalscript.h"
#include "oracle.h"
#include "reference.h"
#include "renderer.h"
#include "renderpool.h"

#include <QImage>

#include <atomic>
#include <chrono>
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

SweepOutcome CheckView(const SweepView& view, int threads, int oracleThreads)
{
    SweepOutcome outcome;
    CFractalScript script;
    if (!Prepare(view, script, outcome.problem)) {
        return outcome;
    }
    Picture picture = script.TakeSnapshot();
    const mpfr_prec_t bits = OracleBits(view);
    bool ok = false;
    const BigFloat cx = BigFloat::Parse(view.centreRe, bits, &ok);
    const BigFloat cy = BigFloat::Parse(view.centreIm, bits, &ok);
    const BigFloat ratio = BigFloat::Parse(view.width, bits, &ok) / static_cast<double>(picture.imageWidth);
    SetViewOf(picture, ViewAroundCentre(cx, cy, ratio, picture.imageWidth, picture.imageHeight));

    const int side = view.side;
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
    CDeepSession session;
    pool.SetThreads(threads);
    const auto started = Clock::now();
    const int result
        = RenderPicture(picture, RasterOf(image), area, { stage, 0, stop, progress, pool, &session });
    outcome.renderSeconds = Since(started);
    if (result != kRenderDone) {
        outcome.problem = "render result " + std::to_string(result);
        return outcome;
    }
    outcome.rendered = true;
    const DeepRenderState deep = session.Last();
    outcome.references = deep.active ? deep.references : 0;
    outcome.precisePixels = deep.active ? deep.precisePixels : 0;
    outcome.skipRuns = deep.active ? deep.skipRuns : 0;
    outcome.counts = counts;

    // The oracle, side by side on oracleThreads threads, rows interleaved.
    const Lattice lattice = LatticeOf(picture, side, bits);
    const CBatchFormula program(picture.iterFormula);
    const CBatchFormula termProgram(picture.termFormula);
    std::vector<std::int64_t> truth(counts.size());
    std::vector<std::int64_t> moved(counts.size(), -2);
    const auto oracle = [&](int first) {
        CPreciseProgram precise(program, bits);
        CPreciseProgram term(termProgram, bits);
        const OracleBindings bindings
            = BindOracle(picture.iterFormula, program, picture.termFormula, termProgram);
        for (int j = first; j < side; j += oracleThreads) {
            for (int i = 0; i < side; ++i) {
                const BigFloat x = lattice.x0 + lattice.step * static_cast<double>(i);
                const BigFloat y = lattice.y0 + lattice.step * static_cast<double>(j);
                const size_t at = static_cast<size_t>(j * side + i);
                truth[at] = PreciseIterate(precise, term, bindings, BigComplex(x, y), picture.maxIter).count;
                if (truth[at] != counts[at]) {
                    // Chaotic: a move by a millionth of a pixel changes the oracle's count.
                    const BigFloat x2 = x + lattice.step * 1e-6;
                    moved[at]
                        = PreciseIterate(precise, term, bindings, BigComplex(x2, y), picture.maxIter).count;
                }
            }
        }
        ReleasePrecisionCaches();
    };
    const auto oracleStarted = Clock::now();
    std::vector<std::thread> workers;
    for (int t = 0; t < oracleThreads; ++t) {
        workers.emplace_back(oracle, t);
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    outcome.oracleSeconds = Since(oracleStarted);
    for (int j = 0; j < side; ++j) {
        for (int i = 0; i < side; ++i) {
            const size_t at = static_cast<size_t>(j * side + i);
            ++outcome.pixels;
            if (truth[at] == counts[at]) {
                ++outcome.agree;
            } else if (moved[at] != truth[at]) {
                ++outcome.chaotic;
            } else {
                outcome.wrong.push_back({ i, j, counts[at], truth[at] });
            }
        }
    }
    return outcome;
}

// Follows one pixel run by run: its value in the oracle's precision against the reference plus the
// delta program's offset (no skip, no glitch tests), and prints the runs where they part.
void TraceView(const SweepView& view, int column, int row, int runs, const std::string& referenceAt)
{
    CFractalScript script;
    std::string problem;
    if (!Prepare(view, script, problem)) {
        std::printf("%s\n", problem.c_str());
        return;
    }
    Picture picture = script.TakeSnapshot();
    const mpfr_prec_t bits = OracleBits(view);
    bool ok = false;
    const BigFloat cx = BigFloat::Parse(view.centreRe, bits, &ok);
    const BigFloat cy = BigFloat::Parse(view.centreIm, bits, &ok);
    const BigFloat ratio = BigFloat::Parse(view.width, bits, &ok) / static_cast<double>(picture.imageWidth);
    SetViewOf(picture, ViewAroundCentre(cx, cy, ratio, picture.imageWidth, picture.imageHeight));
    const Lattice lattice = LatticeOf(picture, view.side, bits);
    const BigFloat x = lattice.x0 + lattice.step * static_cast<double>(column);
    const BigFloat y = lattice.y0 + lattice.step * static_cast<double>(row);
    const BigComplex pixel(x, y);
    BigComplex centre(cx, cy);
    if (!referenceAt.empty()) {
        const std::string& text = referenceAt;
        const size_t comma = text.find(',');
        bool parsed = false;
        centre = BigComplex(BigFloat::Parse(text.substr(0, comma), bits, &parsed),
            BigFloat::Parse(text.substr(comma + 1), bits, &parsed));
    }
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
