// How fast the default formulas run the way the renderer runs them: per pixel, store z, then
// alternate the iteration formula and the termination test until it holds or the limit is reached.
#include "formula.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

constexpr int kSide = 256; // pixels per side of the default view, -1 - 1i to 1 + 1i
constexpr int kMaxIterations = 256;

void BM_DefaultFormulasPerIteration(benchmark::State& state)
{
    std::string error;
    CFormula iteration;
    CFormula termination;
    iteration.Compile("z = z * z + C;", error);
    termination.Compile("norm(z) > 100;", error);
    iteration.SetConstant(iteration.FindConstant("C"), { -0.78, -0.15 });
    const int z = iteration.FindVariable("z");
    const int termZ = termination.FindVariable("z");
    const int termN = termination.FindVariable("V_iter_n");

    long long iterations = 0;
    for (auto _ : state) {
        for (int row = 0; row < kSide; ++row) {
            for (int column = 0; column < kSide; ++column) {
                const Complex p { -1.0 + (column + 0.5) * 2.0 / kSide, -1.0 + (row + 0.5) * 2.0 / kSide };
                iteration.SetVariable(z, p);
                int n = 0;
                while (n < kMaxIterations) {
                    const Complex last = iteration.Run();
                    termination.SetVariable(termZ, last);
                    termination.SetVariable(termN, { static_cast<double>(n), 0.0 });
                    ++iterations;
                    if (termination.Run().re > 0.0) {
                        break;
                    }
                    ++n;
                }
                benchmark::DoNotOptimize(n);
            }
        }
    }
    // Seconds per iteration (shown with its SI prefix, "n" for nanoseconds), and iterations per second.
    state.counters["time_per_iteration"] = benchmark::Counter(
        static_cast<double>(iterations), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["iterations_per_second"]
        = benchmark::Counter(static_cast<double>(iterations), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DefaultFormulasPerIteration)->Unit(benchmark::kMillisecond);

void BM_CompileDefaultFormula(benchmark::State& state)
{
    std::string error;
    CFormula formula;
    for (auto _ : state) {
        benchmark::DoNotOptimize(formula.Compile("z = z * z + C;", error));
    }
}
BENCHMARK(BM_CompileDefaultFormula);

} // namespace

BENCHMARK_MAIN();
