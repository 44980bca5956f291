#pragma once

#include "formula.h"
#include "precise.h"

#include <functional>

// The slots a pixel of the arbitrary-precision renderer writes: batch slots of the iteration and the
// termination programs; -1 where a name is unused.
struct OracleBindings {
    int iterZ { -1 }, iterZ0 { -1 };
    int termZ { -1 }, termN { -1 }, termZ0 { -1 }, termMax { -1 };
};

// The bindings by name, as the renderer looks them up: "z" and "z0" of the iteration formula, "z",
// "V_iter_n", "z0" and "V_iter_max" of the termination formula (through their batch programs).
OracleBindings BindOracle(const CFormula& iterFormula, const CBatchFormula& iterProgram,
    const CFormula& termFormula, const CBatchFormula& termProgram);

// One pixel's escape count and the iteration's value of its last run.
struct OraclePixel {
    int count { 0 };
    Complex last {};
    bool cancelled { false };
};

// One pixel as the renderer computes it, with both programs in their precision: every slot back to
// its compiled value, z and z0 = point (rounded to the programs' precision), then up to maxIter runs.
// After each run the termination program runs on the exact result (z = result, V_iter_n = n,
// z0 = point, V_iter_max = maxIter) and stops the pixel when its real part is greater than 0 (NaN
// does not stop it). The count is the renderer's: the n of the run that stopped, or maxIter. Slow: the
// tests' oracle, and the last resort for pixels nothing faster can take. cancelled, when given, is
// asked every few hundred runs; when it says so the pixel ends at once, marked cancelled. afterRun,
// when given, sees (and may change) each run's result before the termination program reads it.
OraclePixel PreciseIterate(CPreciseProgram& iter, CPreciseProgram& term, const OracleBindings& b,
    const BigComplex& point, int maxIter, const std::function<bool()>& cancelled = {},
    const std::function<void(int run, BigComplex& value)>& afterRun = {});
