#include "featuremath.h"

#include <cmath>
#include <limits>

namespace featuremath {

namespace {

// How often a long run asks whether it was cancelled.
constexpr int kCancelEvery = 64;
// The most Newton steps before a search gives up on a start.
constexpr int kMaxNewtonSteps = 120;
// Backtracking: the fractions of a step tried when no multiple of it brings G closer to 0.
constexpr int kMaxHalvings = 12;

} // namespace

std::vector<int> StartSlots(const FeatureProgram& p) { return { p.z, p.z0 }; }

void TakeZ(const CDualProgram& dual, int z, Jet& out)
{
    out.value = dual.Value(z);
    out.alongRe = dual.AlongRe(z);
    out.alongIm = dual.AlongIm(z);
}

void PointJet(const BigComplex& x, Jet& out)
{
    out.value = x;
    mpc_set_ui(out.alongRe.get(), 1, MPC_RNDNN);
    mpc_set_ui_ui(out.alongIm.get(), 0, 1, MPC_RNDNN);
}

void Subtract(const Jet& a, const Jet& b, Jet& out)
{
    mpc_sub(out.value.get(), a.value.get(), b.value.get(), MPC_RNDNN);
    mpc_sub(out.alongRe.get(), a.alongRe.get(), b.alongRe.get(), MPC_RNDNN);
    mpc_sub(out.alongIm.get(), a.alongIm.get(), b.alongIm.get(), MPC_RNDNN);
}

bool NewtonStep(const Jet& gap, BigComplex& step)
{
    const mpfr_prec_t bits = gap.value.Precision();
    // J = [a b; c d] with the columns alongRe = a + ic, alongIm = b + id.
    mpfr_srcptr a = gap.alongRe.Re();
    mpfr_srcptr c = gap.alongRe.Im();
    mpfr_srcptr b = gap.alongIm.Re();
    mpfr_srcptr d = gap.alongIm.Im();
    BigFloat det(bits), t(bits);
    mpfr_fmms(det.get(), a, d, b, c, MPFR_RNDN);
    if (det.IsZero() || !mpfr_number_p(det.get())) {
        return false;
    }
    step.SetPrecision(bits);
    mpfr_srcptr gx = gap.value.Re();
    mpfr_srcptr gy = gap.value.Im();
    mpfr_fmms(t.get(), d, gx, b, gy, MPFR_RNDN);
    mpfr_div(step.Re(), t.get(), det.get(), MPFR_RNDN);
    mpfr_fmms(t.get(), a, gy, c, gx, MPFR_RNDN);
    mpfr_div(step.Im(), t.get(), det.get(), MPFR_RNDN);
    return mpfr_number_p(step.Re()) && mpfr_number_p(step.Im());
}

BigFloat JacobianModulus(const Jet& jet)
{
    BigFloat det(std::max<mpfr_prec_t>(64, jet.value.Precision()));
    mpfr_fmms(det.get(), jet.alongRe.Re(), jet.alongIm.Im(), jet.alongIm.Re(), jet.alongRe.Im(), MPFR_RNDN);
    mpfr_abs(det.get(), det.get(), MPFR_RNDN);
    mpfr_sqrt(det.get(), det.get(), MPFR_RNDN);
    return det;
}

double Log2Abs(const BigComplex& v)
{
    BigFloat m(64);
    mpc_abs(m.get(), v.get(), MPFR_RNDN);
    if (!mpfr_number_p(m.get())) {
        return std::numeric_limits<double>::max();
    }
    if (m.IsZero()) {
        return -std::numeric_limits<double>::max();
    }
    long e = 0;
    const double d = mpfr_get_d_2exp(&e, m.get(), MPFR_RNDN);
    return std::log2(d) + static_cast<double>(e);
}

bool EvaluateGap(CDualProgram& dual, const FeatureProgram& p, const BigComplex& x, int period, int preperiod,
    Jet& gap, const std::function<bool()>& cancelled)
{
    const mpfr_prec_t bits = dual.Precision();
    Jet before(bits), after(bits);
    PointJet(x, before);
    dual.Start(x, StartSlots(p), StartSlots(p));
    for (int n = 1; n <= preperiod + period; ++n) {
        if (cancelled && n % kCancelEvery == 0 && cancelled()) {
            return false;
        }
        dual.Run();
        if (n == preperiod) {
            TakeZ(dual, p.z, before);
        }
    }
    TakeZ(dual, p.z, after);
    Subtract(after, before, gap);
    return true;
}

} // namespace featuremath

using namespace featuremath;

namespace {

// |G| as a number to compare (a NaN is worse than anything).
double Badness(const Jet& gap) { return Log2Abs(gap.value); }

// x - factor * step.
BigComplex Stepped(const BigComplex& x, const BigComplex& step, double factor)
{
    BigComplex scaled(step);
    BigFloat f(factor, 64);
    mpc_mul_fr(scaled.get(), scaled.get(), f.get(), MPC_RNDNN);
    BigComplex r(x.Precision());
    mpc_sub(r.get(), x.get(), scaled.get(), MPC_RNDNN);
    return r;
}

} // namespace

NewtonResult FeatureNewton(const FeatureProgram& p, const BigComplex& start, int period, int preperiod,
    mpfr_prec_t bits, long tolerance, const std::function<bool()>& cancelled,
    const std::function<bool(const BigComplex&)>& within)
{
    NewtonResult result;
    CDualProgram dual(p.program, bits);
    BigComplex x(bits);
    x.Set(start);
    Jet gap(bits), trial(bits), best(bits);
    if (!EvaluateGap(dual, p, x, period, preperiod, gap, cancelled)) {
        return result;
    }
    BigComplex step(bits);
    for (int k = 0; k < kMaxNewtonSteps; ++k) {
        if (!NewtonStep(gap, step)) {
            return result;
        }
        // One, two or three times the step (a root of that multiplicity), else ever shorter ones.
        static constexpr double kFactors[] = { 1, 2, 3 };
        double bestBadness = Badness(gap);
        double bestFactor = 0;
        for (const double factor : kFactors) {
            if (!EvaluateGap(dual, p, Stepped(x, step, factor), period, preperiod, trial, cancelled)) {
                return result;
            }
            if (Badness(trial) < bestBadness
                || (factor == 1 && bestFactor == 0 && Badness(trial) == bestBadness)) {
                bestBadness = Badness(trial);
                bestFactor = factor;
                std::swap(best, trial);
            }
        }
        for (double factor = 0.5; bestFactor == 0 && factor > std::ldexp(1.0, -kMaxHalvings); factor /= 2) {
            if (!EvaluateGap(dual, p, Stepped(x, step, factor), period, preperiod, trial, cancelled)) {
                return result;
            }
            if (Badness(trial) < bestBadness) {
                bestFactor = factor;
                std::swap(best, trial);
            }
        }
        if (bestFactor == 0) {
            // Nothing brings G closer to 0: x is the root to the precision there is, or a dead end.
            result.ok = Log2Abs(step) < static_cast<double>(tolerance);
            break;
        }
        x = Stepped(x, step, bestFactor);
        std::swap(gap, best);
        if (within && !within(x)) {
            return result;
        }
        if (Log2Abs(step) + std::log2(bestFactor) < static_cast<double>(tolerance)) {
            result.ok = true;
            break;
        }
    }
    result.point = x;
    return result;
}

BigFloat FeatureSize(const FeatureProgram& p, const BigComplex& point, int period, int preperiod)
{
    const mpfr_prec_t bits = point.Precision();
    CDualProgram dual(p.program, bits);
    Jet jet(bits);
    BigFloat one(1.0, 64);
    const auto runs = [&](int n, const std::vector<int>& seeded) {
        dual.Start(point, StartSlots(p), seeded);
        for (int k = 0; k < n; ++k) {
            dual.Run();
        }
        if (n == 0) {
            PointJet(point, jet);
        } else {
            TakeZ(dual, p.z, jet);
        }
        return JacobianModulus(jet);
    };
    if (preperiod > 0) {
        return one / runs(preperiod, StartSlots(p));
    }
    if (!p.ReadsZ0()) {
        runs(period, StartSlots(p));
        Jet x(bits), gap(bits);
        PointJet(point, x);
        Subtract(jet, x, gap);
        return one / JacobianModulus(gap);
    }
    const BigFloat total = runs(period - 1, StartSlots(p));
    const BigFloat alongZ = runs(period - 1, { p.z });
    return one / (total * alongZ);
}
