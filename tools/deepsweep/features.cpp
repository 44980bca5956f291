#include "sweep.h"

#include "featurefinder.h"
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

FoundPoint NewtonPeriodic(
    const SweepView& view, const BigComplex& start, int period, mpfr_prec_t bits, int preperiod)
{
    const Program p = ProgramOf(view);
    const FeatureProgram program = FeatureProgramOf(p.iter);
    FoundPoint found;
    found.period = period;
    // Twice the bits: a nucleus is a double root, found to half the bits its gap is computed to.
    BigComplex x(bits);
    x.Set(start);
    const long tolerance = -static_cast<long>(bits) + static_cast<long>(std::max(0.0, Log2Abs(x)));
    const NewtonResult r = FeatureNewton(program, start, period, preperiod, 2 * bits + 64, tolerance);
    found.ok = r.ok;
    found.point = BigComplex(bits);
    found.point.Set(r.point);
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
