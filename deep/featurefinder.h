#pragma once

#include "bignum.h"
#include "formula.h"
#include "precise.h"

#include <functional>

// The features of a picture that an explorer zooms to, found by Newton's method in the precision
// they need, with derivatives taken through the iteration program itself (see CDualProgram), so that
// any formula works. A plane point x starts an orbit as a render starts a pixel: z = z0 = x, then the
// iteration formula runs. A nucleus (a formula that reads z0) or a periodic point (one that does not)
// of period p is a point whose orbit comes back to x after p runs; a Misiurewicz point of preperiod
// q >= 1 and period p one where z after q + p runs equals z after q runs.

enum class FeatureKind { Periodic, Misiurewicz };

// Where the orbit's values and slots are.
struct FeatureProgram {
    CBatchFormula program;
    int z { -1 }, z0 { -1 };
    bool Valid() const { return z >= 0; }
    bool ReadsZ0() const { return z0 >= 0; }
};
// The iteration formula's program with its "z" and "z0" slots (z is -1 when the formula has none).
FeatureProgram FeatureProgramOf(const CFormula& iteration);

// A point that Newton's method reached.
struct NewtonResult {
    bool ok { false }; // converged to within the tolerance
    BigComplex point;
};
// The root of G(x) = z_(q+p)(x) - z_q(x) (z_0 = x) near start, at `bits` precision, until a step is
// below 2^tolerance. A nucleus is a multiple root (for z * z + z0, z_p - z0 = z_(p-1)^2), where a plain
// Newton step only halves the error: each step takes the best of one, two and three times the step.
// Gives up (not ok) when cancelled, or as soon as a point leaves where `within` holds, when given.
NewtonResult FeatureNewton(const FeatureProgram& p, const BigComplex& start, int period, int preperiod,
    mpfr_prec_t bits, long tolerance, const std::function<bool()>& cancelled = {},
    const std::function<bool(const BigComplex&)>& within = {});

// The size estimate of a found point, as a number to frame it by (about the radius of what lies
// there): for a nucleus 1 / |d z_(p-1) / dx| |d z_(p-1) / d z| (the renormalised copy's scale, with
// the derivative along z alone the cycle's multiplier less its last factor); for a periodic point
// 1 / |d G / dx|; for a Misiurewicz point 1 / |d z_q / dx|. A modulus is the square root of the real
// Jacobian's determinant.
BigFloat FeatureSize(const FeatureProgram& p, const BigComplex& point, int period, int preperiod);

struct FeatureSearch {
    BigFloat centreRe, centreIm; // the middle of the view searched
    BigFloat width;              // the side of the square view
    FeatureKind kind { FeatureKind::Periodic };
    int maxPeriod { 10000 }; // the longest period (preperiod + period for Misiurewicz) tried
};

enum class FeatureOutcome {
    Found,
    NotFound,   // nothing up to the longest period, or the orbit escaped first
    NoVariable, // the formula has no "z"
    Cancelled,
};

struct Feature {
    FeatureOutcome outcome { FeatureOutcome::NotFound };
    int period { 0 };
    int preperiod { 0 };
    BigComplex point;       // at the precision that resolves the size
    BigFloat size;          // FeatureSize
    mpfr_prec_t bits { 0 }; // the precision the point means
};

// The feature of lowest period in the view (or with FeatureKind::Misiurewicz the Misiurewicz point
// of lowest preperiod + period): a scan of the orbit of the view's centre names the periods whose
// first Newton step from it stays in the view; Newton then runs for each in turn until one lands in
// the view. cancelled is asked between runs.
Feature FindFeature(
    const CFormula& iteration, const FeatureSearch& search, const std::function<bool()>& cancelled = {});
