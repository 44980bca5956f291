// The preview's answer to an edit: from a constant change to the first coarse frame handed over, and
// to the finished 480 x 480 picture (the half-second hold excluded), for the default script.
#include "bench.h"

#include "fractalscript.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>

namespace {

enum class Until { CoarseFrame, Finished };

constexpr int kLastStage = 38; // the coarse picture and 36 fine passes done

void MeasurePreview(benchmark::State& state, Until until)
{
    CFractalScript script;
    UseBenchCode(script.RenderPool());
    script.SetDefaults();
    script.LoadPalette(QString());
    script.SetPreviewHoldTicks(0);
    script.CreatePreview(80, 80, 6, 6);
    script.StartPreview();
    QImage frame;
    int shown = 0;
    bool flip = false;
    for (auto _ : state) {
        flip = !flip;
        const auto start = std::chrono::steady_clock::now();
        script.SetCurrentConstant({ flip ? -0.78 : -0.7805, -0.15 });
        shown = 0;
        const auto deadline = start + std::chrono::seconds(10);
        // Every frame taken after the change is the new picture's: the stage stays 0 until the worker
        // starts over. With no hold the coarse stage may pass between two polls, so any frame counts.
        bool coarse = false;
        for (;;) {
            const bool taken = script.GetPreviewFrame(shown, frame);
            coarse = coarse || taken;
            // Finished: the frame of the last stage handed over, with every pass counted.
            const bool finished = taken && shown == kLastStage && script.PreviewWorker().m_dProgress.load() == 1.0;
            const bool done = coarse && (until == Until::CoarseFrame || finished);
            if (done || std::chrono::steady_clock::now() > deadline) {
                break;
            }
            std::this_thread::yield();
        }
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    script.StopPreview();
}

void BM_PreviewFirstCoarseFrame(benchmark::State& state) { MeasurePreview(state, Until::CoarseFrame); }
BENCHMARK(BM_PreviewFirstCoarseFrame)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly();

void BM_PreviewFinished(benchmark::State& state) { MeasurePreview(state, Until::Finished); }
BENCHMARK(BM_PreviewFinished)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly();

} // namespace
