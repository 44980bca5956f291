#pragma once

#include "formula.h"
#include "precise.h"

// The slots a pixel of the arbitrary-precision renderer writes: batch slots of the iteration
// program, formula slots (FindVariable) of the termination formula; -1 where a name is unused.
struct OracleBindings {
    int iterZ { -1 }, iterZ0 { -1 };
    int termZ { -1 }, termN { -1 }, termZ0 { -1 }, termMax { -1 };
};

// The bindings by name, as the renderer looks them up: "z" and "z0" of the iteration formula (through
// its batch program), "z", "V_iter_n", "z0" and "V_iter_max" of the termination formula.
OracleBindings BindOracle(
    const CFormula& iterFormula, const CBatchFormula& iterProgram, const CFormula& term);

// One pixel's escape count and the iteration's value of its last run.
struct OraclePixel {
    int count { 0 };
    Complex last {};
};

// One pixel as the renderer computes it, with the iteration formula in the program's precision: every
// slot back to its compiled value, z and z0 = point (rounded to the program's precision), then up to
// maxIter runs. After each run the termination formula runs in doubles on the rounded result
// (z = result, V_iter_n = n, z0 = the rounded point, V_iter_max = maxIter) and stops the pixel when its
// real part is greater than 0 (NaN does not stop it). The count is the renderer's: the n of the run
// that stopped, or maxIter. The termination formula's variables are as they were before the call
// afterwards, so that every pixel starts from the same state. Slow: the tests' oracle, and the last
// resort for pixels nothing faster can take.
OraclePixel PreciseIterate(
    CPreciseProgram& iter, CFormula& term, const OracleBindings& b, const BigComplex& point, int maxIter);
