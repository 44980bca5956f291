#pragma once

// What the fuzz targets of the two batch evaluators share: bit-for-bit comparison, and the reference
// each lane gets from the one-pixel interpreter.

#include "batchformula.h"
#include "batchtypes.h"
#include "formula.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

inline void Require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz check failed: %s\n", what);
        std::abort();
    }
}

// Any NaN equals any NaN (which operand's NaN an operation passes on is the compiler's choice);
// everything else must match bit for bit (0 and -0 differ).
inline bool SameBits(double a, double b)
{
    return (std::isnan(a) && std::isnan(b)) || std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b);
}

inline bool SameBits(Complex a, Complex b) { return SameBits(a.re, b.re) && SameBits(a.im, b.im); }

// Every lane's inputs (every variable but V_LAST_RESULT, slot 0, which each run resets), and its value
// and variables after each run of CFormula::Run, from the compiled state as the renderer starts.
struct LaneReference {
    int variables { 0 };
    int runs { 0 };
    std::vector<Complex> inputs;  // [lane * variables + v]
    std::vector<Complex> results; // [lane * runs + run]
    std::vector<Complex> states;  // [(lane * runs + run) * variables + v]

    Complex Input(int lane, int v) const { return inputs[lane * variables + v]; }
    Complex Result(int lane, int run) const { return results[lane * runs + run]; }
    Complex State(int lane, int run, int v) const { return states[(lane * runs + run) * variables + v]; }
};

// Draws the constants and the inputs from next() (a Complex each), then runs the reference.
template <typename Next> LaneReference ReferenceLanes(CFormula& formula, int runs, Next next)
{
    LaneReference r;
    r.runs = runs;
    for (int k = 0; k < formula.GetConstantCount(); ++k) {
        formula.SetConstant(k, next());
    }
    r.variables = formula.GetVariableCount();
    r.inputs.resize(static_cast<size_t>(kLanes) * r.variables);
    for (int lane = 0; lane < kLanes; ++lane) {
        for (int v = 1; v < r.variables; ++v) {
            r.inputs[lane * r.variables + v] = next();
        }
    }
    const std::vector<Complex> initial(formula.GetSlots(), formula.GetSlots() + r.variables);
    r.results.resize(static_cast<size_t>(kLanes) * runs);
    r.states.resize(static_cast<size_t>(kLanes) * runs * r.variables);
    for (int lane = 0; lane < kLanes; ++lane) {
        formula.ResetVariables(initial.data());
        for (int v = 1; v < r.variables; ++v) {
            formula.SetVariable(v, r.Input(lane, v));
        }
        for (int run = 0; run < runs; ++run) {
            r.results[lane * runs + run] = formula.Run();
            for (int v = 1; v < r.variables; ++v) {
                r.states[(lane * runs + run) * r.variables + v] = formula.GetVariable(v);
            }
        }
    }
    return r;
}

// Requires every lane of batch, after run number run, to hold the reference's value (its real part
// alone when realOnly) and variables; label names the evaluator in the report of a difference.
inline void RequireSameLanes(
    const CBatchFormula& batch, const LaneReference& r, int run, bool realOnly, const char* label)
{
    for (int lane = 0; lane < kLanes; ++lane) {
        const Complex want = r.Result(lane, run);
        const Complex got = batch.Get(batch.ResultSlot(), lane);
        const bool same = realOnly ? SameBits(got.re, want.re) : SameBits(got, want);
        if (!same) {
            std::fprintf(stderr, "%s, lane %d, run %d: (%a, %a), want (%a, %a)\n", label, lane, run, got.re,
                got.im, want.re, want.im);
        }
        Require(same, "a batch lane's value differs from CFormula::Run");
        for (int v = 1; v < r.variables; ++v) {
            Require(SameBits(batch.Get(batch.Slot(v), lane), r.State(lane, run, v)),
                "a batch lane's variable differs from CFormula::Run");
        }
    }
}
