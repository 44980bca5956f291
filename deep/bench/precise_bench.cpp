// How long a reference orbit takes: the default iteration formula run in the precision of a deep view
// (about 3500 bits for a plane width of 1e-1000), ten thousand runs along an orbit that stays bounded
// and nonzero, so that every run works on full mantissas.
#include "precise.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

void BM_ReferenceOrbit(benchmark::State& state, const char* text, Complex c)
{
    std::string error;
    CFormula formula;
    formula.Compile(text, error);
    formula.SetConstant(formula.FindConstant("C"), c);
    const CBatchFormula batch(formula);
    CPreciseProgram program(batch, static_cast<mpfr_prec_t>(state.range(0)));
    const int z = batch.Slot(formula.FindVariable("z"));
    for (auto _ : state) {
        program.Reset();
        program.Slot(z).Set({ 0.3, 0.2 });
        for (int n = 0; n < 10000; ++n) {
            program.Run();
        }
        benchmark::DoNotOptimize(program.Slot(program.ResultSlot()).get());
    }
}

// C inside the main cardioid, and a sine with an attracting fixed point.
constexpr Complex kInside { -0.5, 0.3 };
BENCHMARK_CAPTURE(BM_ReferenceOrbit, square, "z = z * z + C;", kInside)
    ->Arg(256)
    ->Arg(3500)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ReferenceOrbit, whole_power, "z = z ^ 2 + C;", kInside)
    ->Arg(3500)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ReferenceOrbit, sine, "z = C * sin(z);", Complex { 1.5, 0.2 })
    ->Arg(3500)
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
