// The deep zoom's goals: the 480 x 480 preview (the coarse picture and 36 fine passes, as the preview
// worker renders them) of z * z + C around a point of the Julia set at plane widths of 1e-300 and
// 1e-1000, against the same preview of the same formula at a shallow width around the same point,
// and at the default view. Reference orbits are computed afresh every time, as after a wheel turn.
#include "bench.h"

#include "deeprender.h"
#include "exactview.h"
#include "fixedpoint.h"
#include "fractalscript.h"
#include "precise.h"
#include "renderer.h"
#include "renderpool.h"

#include <benchmark/benchmark.h>

#include <cstdlib>

namespace {

constexpr int kSide = 480;
constexpr int kCell = 6;

void MeasureDeepPreview(benchmark::State& state, const char* width, bool atDefaultView = false)
{
    // GLIMMERSET_BENCH_THREADS=1 measures one thread, whose CPU time a busy machine disturbs least.
    CFractalScript script;
    UseBenchCode(script.RenderPool());
    if (const char* threads = std::getenv("GLIMMERSET_BENCH_THREADS")) {
        script.RenderPool().SetThreads(std::atoi(threads));
    }
    script.SetDefaults();
    std::string error;
    script.SetFormulas("z = z * z + C;", "norm(z) > 100;", error);
    script.SetCurrentConstant({ -0.78, -0.15 });
    script.SetMaxIter(5000);
    script.SetImageSize(kSide, kSide);
    script.LoadPalette(QString());
    Picture picture = script.TakeSnapshot();
    bool ok = false;
    const mpfr_prec_t bits = BitsFor(BigFloat::Parse(width, 64, &ok).Exponent() - 20, 4, 96);
    const BigComplex beta = RepellingFixedPoint({ -0.78, -0.15 }, bits);
    BigFloat cx(bits);
    BigFloat cy(bits);
    mpfr_set(cx.get(), beta.Re(), MPFR_RNDN);
    mpfr_set(cy.get(), beta.Im(), MPFR_RNDN);
    if (atDefaultView) {
        mpfr_set_zero(cx.get(), 1);
        mpfr_set_zero(cy.get(), 1);
    }
    picture.view = ViewAroundCentre(cx, cy, BigFloat::Parse(width, bits, &ok) / kSide, kSide, kSide);

    QImage image(kSide, kSide, QImage::Format_RGB32);
    const Raster raster { image.width(), image.height(), static_cast<int>(image.bytesPerLine()), 32,
        image.bits() };
    std::atomic<int> stage { 0 };
    std::atomic<bool> stop { false };
    std::atomic<double> progress { 0.0 };
    CDeepSession session;
    for (auto _ : state) {
        session.Forget(); // every preview computes its references afresh, as after a wheel turn
        const int coarse = kSide / kCell;
        RenderPicture(picture, raster, { 0, 0, coarse, coarse, 1, 1, 1, 1 },
            { stage, 0, stop, progress, script.RenderPool(), &session });
        for (int dy = 0; dy < kCell; ++dy) {
            for (int dx = 0; dx < kCell; ++dx) {
                RenderPicture(picture, raster, { dx, dy, kSide + dx, kSide + dy, kCell, kCell, kCell, kCell },
                    { stage, 0, stop, progress, script.RenderPool(), &session });
            }
        }
    }
    const DeepRenderState deep = session.Last();
    state.counters["deep"] = deep.active ? 1 : 0;
    state.counters["references"] = deep.references;
    state.counters["skipped"] = deep.skipRuns;
    state.counters["precise"] = deep.precisePixels;
}

void BM_PreviewShallow(benchmark::State& state) { MeasureDeepPreview(state, "0.01"); }
// The default view (the plane from -1 to 1 around 0) at the same limit: the whole Julia set, whose
// inside runs every pixel to the limit.
void BM_PreviewDefaultView(benchmark::State& state) { MeasureDeepPreview(state, "2", true); }
void BM_PreviewDeep1e300(benchmark::State& state) { MeasureDeepPreview(state, "1e-300"); }
void BM_PreviewDeep1e1000(benchmark::State& state) { MeasureDeepPreview(state, "1e-1000"); }
BENCHMARK(BM_PreviewShallow)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_PreviewDefaultView)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_PreviewDeep1e300)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_PreviewDeep1e1000)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace
