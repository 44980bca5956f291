// How long a reference orbit takes: the default iteration formula run in the precision of a deep view
// (about 3500 bits for a plane width of 1e-1000), ten thousand runs along an orbit that stays bounded
// and nonzero, so that every run works on full mantissas.
#include "fixedpoint.h"
#include "precise.h"
#include "reference.h"

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

// A deep view's reference orbit as the renderer builds it: z * z + C (C = -0.78 - 0.15i) from the
// repelling fixed point, at the precision of a plane width of 10^-range(0), to the limit of 5000.
void BM_BuildReference(benchmark::State& state)
{
    CFormula iter;
    CFormula term;
    std::string error;
    iter.Compile("z = z * z + C;", error);
    term.Compile("norm(z) > 100;", error);
    iter.SetConstant(iter.FindConstant("C"), { -0.78, -0.15 });
    const CDeltaProgram delta = DeltaProgramOf(iter, term);
    const auto bits = static_cast<mpfr_prec_t>(state.range(0) * 3.33 + 120);
    BigComplex beta = RepellingFixedPoint({ -0.78, -0.15 }, bits);
    // A point a few hundred steps off the fixed point, so that the orbit escapes as the pixels' do.
    mpfr_t nudge;
    mpfr_init2(nudge, bits);
    mpfr_set_ui_2exp(nudge, 1, -static_cast<long>(bits) + 130, MPFR_RNDN);
    mpfr_add(mpc_realref(beta.get()), mpc_realref(beta.get()), nudge, MPFR_RNDN);
    mpfr_clear(nudge);
    int runs = 0;
    for (auto _ : state) {
        Reference reference;
        BuildReference(delta, beta, bits, 5000, reference, {});
        runs = reference.orbit.runs;
    }
    state.counters["runs"] = runs;
}
BENCHMARK(BM_BuildReference)->Arg(300)->Arg(1000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
