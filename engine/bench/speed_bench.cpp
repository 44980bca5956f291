// Million iterations per second of the ways to compute the same escape counts: the one-pixel
// interpreter, the batched evaluator on one thread and on every thread, and (for the default
// picture) a plain C++ loop written for that one formula, the reference.
#include "bench.h"

#include "../tests/scenes.h"
#include "renderer.h"
#include "renderpool.h"
#include "surface.h"

#include <benchmark/benchmark.h>

#include <chrono>

namespace {

enum class Way { Interpreter, BatchedOneThread, BatchedAllThreads, PlainLoop };

const char* WayName(Way way)
{
    switch (way) {
    case Way::Interpreter: return "one-pixel interpreter";
    case Way::BatchedOneThread: return "batched, 1 thread";
    case Way::BatchedAllThreads: return "batched, all threads";
    case Way::PlainLoop: return "plain C++ loop";
    }
    return "";
}

// The sizes: large enough to time, small enough that the interpreter takes seconds, not minutes.
constexpr int kSides[] = { 1024, 512, 128 };

// The reference for the default picture: z = z * z + C until norm(z) > 100, as a plain double loop
// over the same serial walk; returns the runs of the iteration.
__attribute__((noinline)) long long PlainLoop(int side, uint32_t* counts)
{
    const double step = 1024 * 0.001953125 / side;
    const double cr = -0.78;
    const double ci = -0.15;
    long long runs = 0;
    double y = 0.5 * step - 1.0;
    for (int row = 0; row < side; ++row, y += step) {
        double x = 0.5 * step - 1.0;
        for (int column = 0; column < side; ++column, x += step) {
            double zr = x;
            double zi = y;
            int n = 0;
            for (;;) {
                const double r = zr * zr - zi * zi + cr;
                zi = zi * zr + zr * zi + ci;
                zr = r;
                ++runs;
                if (zr * zr + zi * zi > 100.0 || ++n >= 256) {
                    break;
                }
            }
            counts[row * side + column] = static_cast<uint32_t>(n);
        }
    }
    return runs;
}

long long SceneRuns(int scene)
{
    static long long runs[std::size(kScenes)] = {};
    if (runs[scene] == 0) {
        CFractalScript script;
        UseBenchCode(script.RenderPool());
        Apply(script, kScenes[scene], kSides[scene], kSides[scene]);
        QImage counts = CreateSurface(kSides[scene], kSides[scene]);
        script.Render(DescribeRaster(counts), 0, 0, kSides[scene], kSides[scene], 1, 1, 1, 1);
        runs[scene] = IterationRuns(counts, kScenes[scene].maxIter);
    }
    return runs[scene];
}

// One render of a scene in one way; returns the seconds it took.
double MeasureOnce(int scene, Way way, CFractalScript& script, QImage& surface, std::vector<uint32_t>& counts)
{
    const int side = kSides[scene];
    CRenderPool& pool = script.RenderPool();
    pool.SetThreads(way == Way::BatchedOneThread ? 1 : 0);
    const auto start = std::chrono::steady_clock::now();
    if (way == Way::PlainLoop) {
        benchmark::DoNotOptimize(PlainLoop(side, counts.data()));
    } else {
        Picture picture = script.TakeSnapshot();
        std::atomic<int> stage { 0 };
        std::atomic<bool> stop { false };
        std::atomic<double> progress { 0.0 };
        const RenderArea area { 0, 0, side, side, 1, 1, 1, 1 };
        const RenderControl control { stage, 0, stop, progress, pool };
        if (way == Way::Interpreter) {
            RenderPictureScalar(picture, DescribeRaster(surface), area, control);
        } else {
            RenderPicture(picture, DescribeRaster(surface), area, control);
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    pool.SetThreads(0);
    return seconds;
}

} // namespace

// The table of the speed work: every scene in every way, five rounds that take the ways in turn (so
// that a machine that changes speed meanwhile affects all of them alike), medians of the five.
void RunSpeedTable()
{
    constexpr int kRounds = 5;
    for (int scene = 0; scene < 3; ++scene) {
        const int side = kSides[scene];
        const long long runs = SceneRuns(scene);
        CFractalScript script;
        UseBenchCode(script.RenderPool());
        Apply(script, kScenes[scene], side, side);
        QImage surface = CreateSurface(side, side);
        std::vector<uint32_t> counts(static_cast<size_t>(side) * side);
        std::vector<Way> ways { Way::Interpreter, Way::BatchedOneThread, Way::BatchedAllThreads };
        if (scene == 0) {
            ways.push_back(Way::PlainLoop);
        }
        for (int round = 0; round < kRounds; ++round) {
            for (const Way way : ways) {
                const double seconds = MeasureOnce(scene, way, script, surface, counts);
                RecordRate(std::string(kScenes[scene].name) + " " + std::to_string(side) + "x"
                        + std::to_string(side),
                    WayName(way), runs / seconds / 1e6);
            }
        }
    }
}

namespace {

// The same measurements one by one, for --benchmark_filter.
void BM_Speed(benchmark::State& state)
{
    const int scene = static_cast<int>(state.range(0));
    const Way way = static_cast<Way>(state.range(1));
    const int side = kSides[scene];
    const long long runs = SceneRuns(scene);
    CFractalScript script;
    UseBenchCode(script.RenderPool());
    Apply(script, kScenes[scene], side, side);
    QImage surface = CreateSurface(side, side);
    std::vector<uint32_t> counts(static_cast<size_t>(side) * side);
    for (auto _ : state) {
        state.SetIterationTime(MeasureOnce(scene, way, script, surface, counts));
    }
    state.counters["Miter_per_s"] = benchmark::Counter(
        static_cast<double>(runs) * state.iterations() / 1e6, benchmark::Counter::kIsRate);
    state.SetLabel(std::string(kScenes[scene].name) + ", " + WayName(way) + ", " + std::to_string(side) + "x"
        + std::to_string(side));
}

void SpeedArguments(benchmark::internal::Benchmark* b)
{
    for (int scene = 0; scene < 3; ++scene) {
        for (const Way way : { Way::Interpreter, Way::BatchedOneThread, Way::BatchedAllThreads }) {
            b->Args({ scene, static_cast<int>(way) });
        }
    }
    b->Args({ 0, static_cast<int>(Way::PlainLoop) });
}
BENCHMARK(BM_Speed)
    ->Apply(SpeedArguments)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(5)
    ->ReportAggregatesOnly();

} // namespace
