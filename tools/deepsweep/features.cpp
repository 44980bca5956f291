#include "sweep.h"

#include "fractalscript.h"
#include "oracle.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

// The iteration program of the view and its z and z0 slots.
struct Program {
    CFormula iter;
    CFormula term;
    CBatchFormula batch;
    int z { -1 }, z0 { -1 };
};

Program ProgramOf(const SweepView& view)
{
    CFractalScript script;
    script.SetDefaults();
    std::string problem;
    script.SetFormulas(view.iteration, view.termination, problem);
    for (size_t k = 0; k < view.constants.size(); ++k) {
        if (static_cast<int>(k) < script.GetIterFormula().GetConstantCount()) {
            script.SetConstant(static_cast<int>(k), view.constants[k]);
        }
    }
    script.SetMaxIter(view.maxIter);
    Program p { script.GetIterFormula(), script.GetTermFormula(), CBatchFormula(script.GetIterFormula()) };
    p.z = p.batch.Slot(p.iter.FindVariable("z"));
    p.z0 = p.batch.Slot(p.iter.FindVariable("z0"));
    return p;
}

// z after `runs` runs from x (z = z0 = x).
BigComplex Orbit(const Program& p, CPreciseProgram& run, const BigComplex& x, int runs)
{
    run.Reset();
    for (const int slot : { p.z, p.z0 }) {
        if (slot >= 0) {
            run.Slot(slot).Set(x);
        }
    }
    for (int n = 0; n < runs; ++n) {
        run.Run();
    }
    return run.Slot(p.z);
}

BigComplex Minus(const BigComplex& a, const BigComplex& b)
{
    BigComplex r(a.Precision());
    mpc_sub(r.get(), a.get(), b.get(), MPC_RNDNN);
    return r;
}

// z after preperiod + period runs from x, less z after preperiod runs.
BigComplex Gap(const Program& p, CPreciseProgram& run, const BigComplex& x, int preperiod, int period)
{
    const BigComplex before = Orbit(p, run, x, preperiod);
    for (int n = 0; n < period; ++n) {
        run.Run();
    }
    return Minus(run.Slot(p.z), before);
}

double Log2Of(const BigFloat& v)
{
    if (v.IsZero()) {
        return -1e18;
    }
    long e = 0;
    const double d = mpfr_get_d_2exp(&e, v.get(), MPFR_RNDN);
    return std::log2(std::fabs(d)) + static_cast<double>(e);
}

double Log2Abs(const BigComplex& v)
{
    BigFloat m(64);
    mpc_abs(m.get(), v.get(), MPFR_RNDN);
    return Log2Of(m);
}

} // namespace

int OracleCount(const SweepView& view, const BigComplex& point, mpfr_prec_t bits)
{
    Program p = ProgramOf(view);
    CPreciseProgram precise(p.batch, bits);
    const CBatchFormula termBatch(p.term);
    CPreciseProgram term(termBatch, bits);
    const OracleBindings bindings = BindOracle(p.iter, p.batch, p.term, termBatch);
    BigComplex at(bits);
    at.Set(point);
    return PreciseIterate(precise, term, bindings, at, view.maxIter).count;
}

namespace {

// One Newton step for G(x) = z_period(x) - x (after preperiod runs), with its real Jacobian by
// differences of 2^-bits: the step (dx, dy) to subtract and the Jacobian's determinant; false where it
// is singular.
bool NewtonStep(const Program& p, CPreciseProgram& run, const BigComplex& x, int preperiod, int period,
    mpfr_prec_t bits, BigFloat& dx, BigFloat& dy, BigFloat& det)
{
    const mpfr_prec_t work = dx.Precision();
    const BigComplex g = Gap(p, run, x, preperiod, period);
    BigFloat h(work);
    mpfr_set_ui_2exp(h.get(), 1, -static_cast<long>(bits), MPFR_RNDN);
    BigComplex xr(x), xi(x);
    mpfr_add(xr.Re(), xr.Re(), h.get(), MPFR_RNDN);
    mpfr_add(xi.Im(), xi.Im(), h.get(), MPFR_RNDN);
    BigComplex gr = Minus(Gap(p, run, xr, preperiod, period), g);
    BigComplex gi = Minus(Gap(p, run, xi, preperiod, period), g);
    mpc_div_fr(gr.get(), gr.get(), h.get(), MPC_RNDNN);
    mpc_div_fr(gi.get(), gi.get(), h.get(), MPC_RNDNN);
    // Solve [gr gi] (dx, dy) = -g as a 2 x 2 real system.
    BigFloat j11(work), j12(work), j21(work), j22(work);
    mpfr_set(j11.get(), gr.Re(), MPFR_RNDN);
    mpfr_set(j21.get(), gr.Im(), MPFR_RNDN);
    mpfr_set(j12.get(), gi.Re(), MPFR_RNDN);
    mpfr_set(j22.get(), gi.Im(), MPFR_RNDN);
    det = j11 * j22 - j12 * j21;
    if (det.IsZero()) {
        return false;
    }
    BigFloat gx(work), gy(work);
    mpfr_set(gx.get(), g.Re(), MPFR_RNDN);
    mpfr_set(gy.get(), g.Im(), MPFR_RNDN);
    dx = (j22 * gx - j12 * gy) / det;
    dy = (j11 * gy - j21 * gx) / det;
    return true;
}

} // namespace

FoundPoint NewtonPeriodic(
    const SweepView& view, const BigComplex& start, int period, mpfr_prec_t bits, int preperiod)
{
    const Program p = ProgramOf(view);
    const mpfr_prec_t work = 2 * bits + 64;
    CPreciseProgram run(p.batch, work);
    FoundPoint found;
    found.period = period;
    BigComplex x(work);
    x.Set(start);
    // A cycle through a critical point is a multiple root (z * z + z0: z_p - z0 = z_(p-1)^2): Newton
    // then shrinks the error by 1 - 1/m a step, and m times its step converges fast again.
    double multiplicity = 1.0;
    double lastStep = 0.0;
    double lastShrink = 0.0;
    int steady = 0;
    for (int step = 0; step < 200; ++step) {
        BigFloat dx(work), dy(work), det(work);
        if (!NewtonStep(p, run, x, preperiod, period, bits, dx, dy, det)) {
            return found;
        }
        {
            BigComplex d(work);
            mpfr_set(d.Re(), dx.get(), MPFR_RNDN);
            mpfr_set(d.Im(), dy.get(), MPFR_RNDN);
            const double size = Log2Abs(d);
            const double shrink = std::exp2(size - lastStep);
            // Only once the shrink has settled (far from the root the steps wander).
            steady = step > 0 && std::fabs(shrink - lastShrink) < 0.02 * shrink ? steady + 1 : 0;
            if (steady >= 3 && shrink > 0.3 && shrink < 0.95 && multiplicity == 1.0) {
                multiplicity = std::round(1.0 / (1.0 - shrink));
            }
            lastShrink = shrink;
            lastStep = size;
            dx = dx * multiplicity;
            dy = dy * multiplicity;
        }
        mpfr_sub(x.Re(), x.Re(), dx.get(), MPFR_RNDN);
        mpfr_sub(x.Im(), x.Im(), dy.get(), MPFR_RNDN);
        found.derivative = 0.5 * Log2Of(det);
        if (!mpfr_number_p(x.Re()) || !mpfr_number_p(x.Im())) {
            return found;
        }
        // Converged when the step is below the precision asked for.
        BigComplex d(work);
        mpfr_set(d.Re(), dx.get(), MPFR_RNDN);
        mpfr_set(d.Im(), dy.get(), MPFR_RNDN);
        if (Log2Abs(d) < -static_cast<double>(bits) + std::max(0.0, Log2Abs(x))) {
            found.ok = true;
            break;
        }
    }
    found.point = BigComplex(bits);
    found.point.Set(x);
    return found;
}

int NearPeriod(const SweepView& view, const BigComplex& centre, const BigFloat& radius, int limit)
{
    const Program p = ProgramOf(view);
    const mpfr_prec_t bits = centre.Precision() + 64;
    CPreciseProgram run(p.batch, bits), moved(p.batch, bits);
    BigFloat h(bits);
    mpfr_set_ui_2exp(h.get(), 1, -static_cast<long>(centre.Precision()) / 2, MPFR_RNDN);
    BigComplex x(bits), xh(bits);
    x.Set(centre);
    xh.Set(centre);
    mpfr_add(xh.Re(), xh.Re(), h.get(), MPFR_RNDN);
    run.Reset();
    moved.Reset();
    for (const int slot : { p.z, p.z0 }) {
        if (slot >= 0) {
            run.Slot(slot).Set(x);
            moved.Slot(slot).Set(xh);
        }
    }
    const double logRadius = Log2Of(radius);
    const double logH = -static_cast<double>(centre.Precision()) / 2;
    for (int n = 1; n <= limit; ++n) {
        run.Run();
        moved.Run();
        const BigComplex g = Minus(run.Slot(p.z), x);
        const BigComplex gh = Minus(moved.Slot(p.z), xh);
        const double size = Log2Abs(g);
        if (size > 64) {
            return 0; // escaped
        }
        const double slope = Log2Abs(Minus(gh, g)) - logH;
        if (size < slope + logRadius) {
            return n;
        }
    }
    return 0;
}

bool BandEdge(
    const SweepView& view, const BigComplex& a0, const BigComplex& b0, mpfr_prec_t bits, BigComplex& edge)
{
    BigComplex a(bits), b(bits);
    a.Set(a0);
    b.Set(b0);
    const int countA = OracleCount(view, a, bits);
    if (countA == OracleCount(view, b, bits)) {
        return false;
    }
    // To well below the view's pixels: the caller's precision has 200 bits beyond what the view needs.
    for (mpfr_prec_t k = 0; k + 200 < bits; ++k) {
        BigComplex mid(bits);
        mpc_add(mid.get(), a.get(), b.get(), MPC_RNDNN);
        mpc_div_2ui(mid.get(), mid.get(), 1, MPC_RNDNN);
        if (OracleCount(view, mid, bits) == countA) {
            a = mid;
        } else {
            b = mid;
        }
    }
    edge = a;
    return true;
}

bool CutCrossing(const SweepView& view, const BigComplex& start, mpfr_prec_t bits, BigComplex& point)
{
    const Program p = ProgramOf(view);
    CPreciseProgram run(p.batch, bits);
    const auto first = [&](const BigComplex& x) { return Orbit(p, run, x, 1).ToComplex(); };
    for (double span = 1e-3; span < 1.0; span *= 4) {
        BigComplex a(bits), b(bits);
        a.Set(start);
        b.Set(start);
        BigFloat shift(span, 64);
        mpfr_sub(a.Im(), a.Im(), shift.get(), MPFR_RNDN);
        mpfr_add(b.Im(), b.Im(), shift.get(), MPFR_RNDN);
        const Complex fa = first(a);
        const Complex fb = first(b);
        if (!(fa.re < 0 && fb.re < 0) || std::signbit(fa.im) == std::signbit(fb.im)) {
            continue;
        }
        for (mpfr_prec_t k = 0; k + 200 < bits; ++k) {
            BigComplex mid(bits);
            mpc_add(mid.get(), a.get(), b.get(), MPC_RNDNN);
            mpc_div_2ui(mid.get(), mid.get(), 1, MPC_RNDNN);
            if (std::signbit(first(mid).im) == std::signbit(fa.im)) {
                a = mid;
            } else {
                b = mid;
            }
        }
        point = a;
        return true;
    }
    return false;
}
