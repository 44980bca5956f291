#include "featuremath.h"

#include <algorithm>
#include <cmath>

using namespace featuremath;

namespace {

// A scan stops once the orbit passes this size (2^kEscapeExponent): it has escaped, and its
// differences say nothing about a point near the start any more.
constexpr long kEscapeExponent = 4096;
// The bits beyond the view's width that the scan's orbit keeps, and the finer part of the width (or
// of the size) to which a point is found.
constexpr long kScanGuard = 24;
constexpr long kFoundBelow = 48;
// The grid a found point's parts are rounded to, in binary orders below that tolerance.
constexpr long kGridBelow = 32;
// A pair (preperiod, period) holds at a found point when Newton's step for it is within this many
// binary orders of the tolerance the point was found to.
constexpr long kSameRootSlack = 16;
// How often a scan asks whether it was cancelled.
constexpr int kCancelEvery = 16;
// The Newton runs a scan spends on periods that lead out of the view before it gives up: an orbit
// that settles on an attracting cycle far from its start passes the first test at every period.
constexpr int kMaxFailedAttempts = 48;

long MagnitudeExponent(const BigComplex& x)
{
    long e = 1;
    for (mpfr_srcptr part : { x.Re(), x.Im() }) {
        if (!mpfr_zero_p(part) && mpfr_number_p(part)) {
            e = std::max<long>(e, mpfr_get_exp(part));
        }
    }
    return e;
}

// The precision that tells apart points 2^stepExponent apart near x, for a multiple root twice that.
mpfr_prec_t WorkBits(long stepExponent, const BigComplex& x, bool multiple)
{
    const mpfr_prec_t bits = BitsFor(stepExponent, MagnitudeExponent(x), 32);
    return multiple ? 2 * bits + 32 : bits;
}

bool InView(const BigComplex& point, const FeatureSearch& search)
{
    BigFloat half = search.width / 2.0;
    BigFloat d(point.Precision());
    mpfr_sub(d.get(), point.Re(), search.centreRe.get(), MPFR_RNDN);
    mpfr_abs(d.get(), d.get(), MPFR_RNDN);
    if (!mpfr_number_p(d.get()) || half < d) {
        return false;
    }
    mpfr_sub(d.get(), point.Im(), search.centreIm.get(), MPFR_RNDN);
    mpfr_abs(d.get(), d.get(), MPFR_RNDN);
    return mpfr_number_p(d.get()) && !(half < d);
}

// Whether Newton's step for G = z_(q+p) - z_q at this pair of the orbit is below 2^exponent.
bool StepBelow(const Jet& later, const Jet& earlier, double exponent)
{
    Jet gap(later.value.Precision());
    Subtract(later, earlier, gap);
    BigComplex step(gap.value.Precision());
    return NewtonStep(gap, step) && Log2Abs(step) < exponent;
}

// The orbit of a point with its Jacobians, z_0 = the point to z_runs.
std::vector<Jet> OrbitJets(const FeatureProgram& p, const BigComplex& x, int runs)
{
    std::vector<Jet> orbit;
    orbit.reserve(static_cast<size_t>(runs) + 1);
    orbit.emplace_back(x.Precision());
    PointJet(x, orbit.back());
    CDualProgram dual(p.program, x.Precision());
    dual.Start(x, StartSlots(p), StartSlots(p));
    for (int n = 1; n <= runs; ++n) {
        dual.Run();
        orbit.emplace_back(x.Precision());
        TakeZ(dual, p.z, orbit.back());
    }
    return orbit;
}

// The least (preperiod, period) of a point found for (q, p): the least divisor of p that returns,
// then the least preperiod with it.
void ExactPeriod(const FeatureProgram& p, const BigComplex& x, double tolerance, int& period, int& preperiod)
{
    const std::vector<Jet> orbit = OrbitJets(p, x, preperiod + period);
    const double slack = tolerance + kSameRootSlack;
    for (int d = 1; d < period; ++d) {
        if (period % d == 0
            && StepBelow(
                orbit[static_cast<size_t>(preperiod + d)], orbit[static_cast<size_t>(preperiod)], slack)) {
            period = d;
            break;
        }
    }
    while (preperiod > 1
        && StepBelow(orbit[static_cast<size_t>(preperiod - 1 + period)],
            orbit[static_cast<size_t>(preperiod - 1)], slack)) {
        --preperiod;
    }
}

// Newton's method for (q, p) from the view's centre; the point in the view, to a part of its size,
// with its least periods, or false.
bool Attempt(const FeatureProgram& p, const BigComplex& centre, int period, int preperiod,
    const FeatureSearch& search, const std::function<bool()>& cancelled, Feature& out)
{
    const bool multiple = p.ReadsZ0() && preperiod == 0;
    long tolerance = search.width.Exponent() - kFoundBelow;
    // A run that leaves the view's surroundings is heading for another feature: stop it early.
    FeatureSearch around = search;
    around.width = search.width * 3.0;
    const auto within = [&around](const BigComplex& x) { return InView(x, around); };
    NewtonResult r = FeatureNewton(
        p, centre, period, preperiod, WorkBits(tolerance, centre, multiple), tolerance, cancelled, within);
    if (!r.ok || !InView(r.point, search)) {
        return false;
    }
    ExactPeriod(p, r.point, static_cast<double>(tolerance), period, preperiod);
    BigFloat size = FeatureSize(p, r.point, period, preperiod);
    // The size may be far below the view: polish the point to a part of it.
    if (!size.IsZero() && size.Exponent() - kFoundBelow < tolerance) {
        tolerance = size.Exponent() - kFoundBelow;
        r = FeatureNewton(
            p, r.point, period, preperiod, WorkBits(tolerance, r.point, multiple), tolerance, cancelled);
        if (!r.ok) {
            return false;
        }
        size = FeatureSize(p, r.point, period, preperiod);
    }
    out.outcome = FeatureOutcome::Found;
    out.period = period;
    out.preperiod = preperiod;
    out.bits = WorkBits(tolerance - kGridBelow, r.point, false);
    out.point = r.point;
    // Digits far below the tolerance are the rounding of the last step, not the point: to a grid.
    for (mpfr_ptr part : { out.point.Re(), out.point.Im() }) {
        mpfr_mul_2si(part, part, kGridBelow - tolerance, MPFR_RNDN);
        mpfr_rint(part, part, MPFR_RNDN);
        mpfr_mul_2si(part, part, tolerance - kGridBelow, MPFR_RNDN);
    }
    out.point.SetPrecision(out.bits);
    out.size = size;
    return true;
}

bool Escaped(const BigComplex& z)
{
    return !mpfr_number_p(z.Re()) || !mpfr_number_p(z.Im()) || MagnitudeExponent(z) > kEscapeExponent;
}

Feature ScanPeriodic(const FeatureProgram& p, const BigComplex& x, const FeatureSearch& search,
    const std::function<bool()>& cancelled)
{
    Feature found;
    const double radius = static_cast<double>(search.width.Exponent() - 1);
    CDualProgram dual(p.program, x.Precision());
    dual.Start(x, StartSlots(p), StartSlots(p));
    Jet start(x.Precision()), z(x.Precision());
    PointJet(x, start);
    int failures = 0;
    for (int n = 1; n <= search.maxPeriod && failures < kMaxFailedAttempts; ++n) {
        if (cancelled && n % kCancelEvery == 0 && cancelled()) {
            found.outcome = FeatureOutcome::Cancelled;
            return found;
        }
        dual.Run();
        TakeZ(dual, p.z, z);
        if (Escaped(z.value)) {
            break;
        }
        if (StepBelow(z, start, radius)) {
            if (Attempt(p, x, n, 0, search, cancelled, found)) {
                return found;
            }
            ++failures;
        }
    }
    if (cancelled && cancelled()) {
        found.outcome = FeatureOutcome::Cancelled;
    }
    return found;
}

// Preperiod + period in increasing order, and the period in increasing order within it.
Feature ScanMisiurewicz(const FeatureProgram& p, const BigComplex& x, const FeatureSearch& search,
    const std::function<bool()>& cancelled)
{
    Feature found;
    const double radius = static_cast<double>(search.width.Exponent() - 1);
    CDualProgram dual(p.program, x.Precision());
    dual.Start(x, StartSlots(p), StartSlots(p));
    std::vector<Jet> orbit;
    orbit.emplace_back(x.Precision());
    PointJet(x, orbit.back());
    int failures = 0;
    for (int n = 1; n <= search.maxPeriod && failures < kMaxFailedAttempts; ++n) {
        dual.Run();
        orbit.emplace_back(x.Precision());
        TakeZ(dual, p.z, orbit.back());
        if (Escaped(orbit.back().value)) {
            break;
        }
        for (int q = n - 1; q >= 1; --q) {
            if (cancelled && q % kCancelEvery == 0 && cancelled()) {
                found.outcome = FeatureOutcome::Cancelled;
                return found;
            }
            if (StepBelow(orbit.back(), orbit[static_cast<size_t>(q)], radius)) {
                if (Attempt(p, x, n - q, q, search, cancelled, found)) {
                    return found;
                }
                ++failures;
            }
        }
    }
    return found;
}

} // namespace

FeatureProgram FeatureProgramOf(const CFormula& iteration)
{
    FeatureProgram p { CBatchFormula(iteration) };
    p.z = p.program.Slot(iteration.FindVariable("z"));
    p.z0 = p.program.Slot(iteration.FindVariable("z0"));
    return p;
}

Feature FindFeature(
    const CFormula& iteration, const FeatureSearch& search, const std::function<bool()>& cancelled)
{
    const FeatureProgram p = FeatureProgramOf(iteration);
    if (!p.Valid()) {
        Feature none;
        none.outcome = FeatureOutcome::NoVariable;
        return none;
    }
    const BigComplex centre(search.centreRe, search.centreIm);
    BigComplex x(WorkBits(search.width.Exponent() - kScanGuard, centre, false));
    x.Set(centre);
    return search.kind == FeatureKind::Misiurewicz ? ScanMisiurewicz(p, x, search, cancelled)
                                                   : ScanPeriodic(p, x, search, cancelled);
}
