#pragma once

// The differential sweep: views found the way an explorer finds them, rendered by the program and
// held pixel by pixel to an arbitrary-precision oracle.

#include "bignum.h"
#include "complex.h"
#include "precise.h"

#include <cstdint>
#include <random>
#include <string>
#include <vector>

// A picture to check: formulas, constants, limit and a square view by its centre and width.
struct SweepView {
    std::string iteration;
    std::string termination { "norm(z) > 100;" };
    std::string colour { "V_iter_n / V_iter_max;" };
    std::vector<Complex> constants;
    int maxIter { 1000 };
    std::string centreRe { "0" }, centreIm { "0" };
    std::string width { "1e-20" };
    int side { 32 };
    std::string note; // how the view was found
};

struct SweepDisagreement {
    int column, row;
    std::int64_t got, truth;
};

// What one view gave: pixels, pixels that agree with the oracle, chaotic ones (their oracle count
// changes when they move by 1e-6 of a pixel or less, or the doubles' roundings carry their orbit
// away), the rest, and the deep path's figures.
struct SweepOutcome {
    bool rendered { false };
    std::string problem; // why the view was not checked
    int pixels { 0 }, agree { 0 }, chaotic { 0 };
    std::vector<SweepDisagreement> wrong;
    int references { 0 }, precisePixels { 0 }, skipRuns { 0 };
    double renderSeconds { 0 }, oracleSeconds { 0 };
    std::vector<std::int64_t> counts; // the renderer's, row-major
};

// Renders the view on `threads` threads and compares. oracleThreads run the oracle side by side.
// With explainColumn >= 0, prints what each reference makes of that pixel.
SweepOutcome CheckView(
    const SweepView& view, int threads, int oracleThreads, int explainColumn = -1, int explainRow = -1);

// Prints one pixel run by run against the reference and the delta program.
// The reference sits at the view's centre, or at referenceAt ("RE,IM") when given.
void TraceView(const SweepView& view, int column, int row, int runs, const std::string& referenceAt = {});

// The precision that tells the view's pixels apart with ample room.
mpfr_prec_t OracleBits(const SweepView& view);

// Feature finders (features.cpp). Each works on the formula as the renderer runs it: z and z0 start
// at the plane point; the iteration formula runs `period` times.
struct FoundPoint {
    bool ok { false };
    BigComplex point;
    int period { 0 };
};
// The point x near `start` where `period` runs after the first `preperiod` bring z back to where it
// was (preperiod 0: back to x itself, a nucleus of a formula that reads z0 or a periodic point of one
// that does not; preperiod 1 or more: a pre-periodic point), by the deep layer's Newton's method
// (FeatureNewton) to `bits`.
FoundPoint NewtonPeriodic(
    const SweepView& view, const BigComplex& start, int period, mpfr_prec_t bits, int preperiod = 0);
// A point near start where the first run's value lies on the negative real axis (a branch cut).
bool CutCrossing(const SweepView& view, const BigComplex& start, mpfr_prec_t bits, BigComplex& point);
// The lowest period of a cycle whose point lies within radius of centre, by how near the orbit of
// centre comes back to its start (0 when none up to the limit).
int NearPeriod(const SweepView& view, const BigComplex& centre, const BigFloat& radius, int limit);
// A point between a and b where the escape count changes (bisection to `bits`).
bool BandEdge(
    const SweepView& view, const BigComplex& a, const BigComplex& b, mpfr_prec_t bits, BigComplex& edge);
// The count of the oracle at a point.
int OracleCount(const SweepView& view, const BigComplex& point, mpfr_prec_t bits);

// Random formulas of the language and views of them (generate.cpp).
struct FormulaSpec {
    std::string iteration;
    std::string termination { "norm(z) > 100;" };
    std::vector<Complex> constants;
    int maxIter { 1000 };
    bool readsZ0 { false };
    bool cut { false }; // has a branch cut on a varying value
};
FormulaSpec RandomFormula(std::mt19937_64& rng);

// What a sweep found.
struct SweepTotals {
    int formulas { 0 }, views { 0 }, wrongViews { 0 };
    long long pixels { 0 }, chaotic { 0 }, wrong { 0 };
};
// Sweeps random formulas and their views for `minutes`, writing the views that disagree to logPath
// (sweeprun.cpp).
SweepTotals RunSweep(double minutes, std::uint64_t seed, int side, int threads, const std::string& logPath);
std::vector<SweepView> ViewsFor(const FormulaSpec& formula, std::mt19937_64& rng, int side, int count);
