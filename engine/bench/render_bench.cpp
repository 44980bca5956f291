// The default script rendered and exported at 1024 x 1024, as million formula iterations per second.
#include "bench.h"

#include "fractalscript.h"
#include "surface.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

constexpr int kSide = 1024;

// Runs of the iteration formula the default picture needs, counted by a plain loop over the same
// lattice (the serial walk of the renderer).
long long DefaultPictureRuns()
{
    const double step = 1024 * 0.001953125 / kSide;
    const Complex c { -0.78, -0.15 };
    long long runs = 0;
    double y = 0.5 * step - 1.0;
    for (int row = 0; row < kSide; ++row, y += step) {
        double x = 0.5 * step - 1.0;
        for (int column = 0; column < kSide; ++column, x += step) {
            Complex z { x, y };
            for (int n = 0; n < 256; ++n) {
                z = Add(Mul(z, z), c);
                ++runs;
                if (z.re * z.re + z.im * z.im > 100) {
                    break;
                }
            }
        }
    }
    return runs;
}

void ReportRate(benchmark::State& state, long long runsPerPicture)
{
    state.counters["Miter_per_s"] = benchmark::Counter(
        static_cast<double>(runsPerPicture) * state.iterations() / 1e6, benchmark::Counter::kIsRate);
    state.counters["iterations"] = static_cast<double>(runsPerPicture);
}

void BM_RenderDefault1024(benchmark::State& state)
{
    static const long long runs = DefaultPictureRuns();
    CFractalScript script;
    UseBenchCode(script.RenderPool());
    script.SetDefaults();
    script.LoadPalette(QString());
    QImage surface = CreateSurface(kSide, kSide);
    for (auto _ : state) {
        if (script.Render(DescribeRaster(surface), 0, 0, kSide, kSide, 1, 1, 1, 1) != 0) {
            state.SkipWithError("render failed");
        }
    }
    ReportRate(state, runs);
}
BENCHMARK(BM_RenderDefault1024)->Unit(benchmark::kMillisecond)->UseRealTime();

// The whole export: render, watermark and a BMP file, as the export worker does it.
void BM_ExportDefault1024(benchmark::State& state)
{
    static const long long runs = DefaultPictureRuns();
    QTemporaryDir dir;
    CFractalScript script;
    UseBenchCode(script.RenderPool());
    script.SetDefaults();
    script.LoadPalette(QString());
    for (auto _ : state) {
        script.StartExport(
            dir.filePath(QStringLiteral("bench.bmp")), QStringLiteral(":/glimmerset/watermark.png"));
        script.JoinExport();
        if (script.GetExportOutcome() != ExportOutcome::Succeeded) {
            state.SkipWithError("export failed");
        }
    }
    ReportRate(state, runs);
}
BENCHMARK(BM_ExportDefault1024)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
