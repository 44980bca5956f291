#include "sweep.h"

#include <cmath>
#include <cstdio>

// Formulas of the language and views of them found the way an explorer finds them.

namespace {

double Uniform(std::mt19937_64& rng, double from, double to)
{
    return std::uniform_real_distribution<double>(from, to)(rng);
}

int Pick(std::mt19937_64& rng, int count) { return std::uniform_int_distribution<int>(0, count - 1)(rng); }

Complex RandomConstant(std::mt19937_64& rng, double radius)
{
    const double r = radius * std::sqrt(Uniform(rng, 0.0, 1.0));
    const double a = Uniform(rng, 0.0, 6.283185307179586);
    return { r * std::cos(a), r * std::sin(a) };
}

std::string Number(double x)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3g", x);
    return text;
}

// A sum of z * z (or a power) and a few terms that exercise the operations.
std::string RandomSum(std::mt19937_64& rng, bool& readsZ0, bool& cut)
{
    static const char* const kTerms[] = { "C", "z0", "C2 * z", "0.1 * sin(z)", "0.05 * exp(z)", "C2 / z",
        "0.1 * conj(z)", "0.1 * abs(z)", "0.1 * z ^ 2.5", "0.1 * log(z)", "0.1 * sqrt(z)", "0.05 * tan(z)",
        "0.1 * cosh(z)", "(real(z) > 0) * 0.01" };
    std::string text = Pick(rng, 2) == 0 ? "z = z * z" : "z = z ^ 3";
    const int terms = 1 + Pick(rng, 3);
    for (int k = 0; k < terms; ++k) {
        const std::string term = kTerms[Pick(rng, static_cast<int>(std::size(kTerms)))];
        readsZ0 = readsZ0 || term == "z0";
        cut = cut || term.find("log") != std::string::npos || term.find("sqrt") != std::string::npos
            || term.find('^') != std::string::npos;
        text += " + " + term;
    }
    if (text.find(" C") == std::string::npos && !readsZ0) {
        text += " + C";
    }
    return text + ";";
}

} // namespace

FormulaSpec RandomFormula(std::mt19937_64& rng)
{
    FormulaSpec f;
    f.constants = { RandomConstant(rng, 0.8), RandomConstant(rng, 0.3) };
    static const int kLimits[] = { 300, 1000, 3000 };
    f.maxIter = kLimits[Pick(rng, 3)];
    switch (Pick(rng, 11)) {
    case 0: f.iteration = "z = z ^ " + std::to_string(2 + Pick(rng, 3)) + " + C;"; break;
    case 1:
        f.iteration = "z = z ^ " + Number(1.5 + Pick(rng, 3)) + " + C;";
        f.cut = true;
        break;
    case 2:
        f.iteration = Pick(rng, 2) == 0 ? "z = z * z + z0;" : "z = z ^ 3 + z0;";
        f.readsZ0 = true;
        break;
    case 3:
        f.iteration = "z = exp(z) + C;";
        f.termination = "real(z) > 50;";
        break;
    case 4:
        f.iteration = Pick(rng, 2) == 0 ? "z = C * sin(z);" : "z = C * cos(z);";
        f.termination = "abs(imag(z)) > 50;";
        f.constants[0] = { 1.0 + Uniform(rng, 0.0, 1.0), Uniform(rng, 0.0, 1.0) };
        break;
    case 5: f.iteration = Pick(rng, 2) == 0 ? "z = z * z + C / z;" : "z = z ^ 3 + C / z ^ 3 + C2;"; break;
    case 6:
        f.iteration = "z = (abs(real(z)) + abs(imag(z)) * 1i) ^ 2 + z0;";
        f.readsZ0 = true;
        break;
    case 7:
        f.iteration = "V_n = z * z + C + C2 * V_p; V_p = z; z = V_n;";
        f.termination = "norm(z) > 4;";
        break;
    case 8:
        f.iteration = "z = z * z + C + 0.01 * log(z);";
        f.cut = true;
        break;
    default: f.iteration = RandomSum(rng, f.readsZ0, f.cut); break;
    }
    if (f.readsZ0) {
        f.constants = { RandomConstant(rng, 0.1), RandomConstant(rng, 0.1) };
    }
    return f;
}

namespace {

// A point of the plane whose count lies strictly between 4 and the limit: near the boundary, where
// explorers look.
bool BoundaryPoint(const SweepView& base, std::mt19937_64& rng, BigComplex& point)
{
    for (int attempt = 0; attempt < 200; ++attempt) {
        const Complex c { Uniform(rng, -2.0, 2.0), Uniform(rng, -2.0, 2.0) };
        BigComplex at(c, 128);
        const int count = OracleCount(base, at, 128);
        if (count > 4 && count < base.maxIter) {
            point = at;
            return true;
        }
    }
    return false;
}

} // namespace

std::vector<SweepView> ViewsFor(const FormulaSpec& f, std::mt19937_64& rng, int side, int count)
{
    SweepView base;
    base.iteration = f.iteration;
    base.termination = f.termination;
    base.constants = f.constants;
    base.maxIter = f.maxIter;
    base.side = side;
    static const char* const kWidths[] = { "3e-13", "1e-20", "1e-50", "1e-100", "1e-300", "1e-450" };
    std::vector<SweepView> views;
    for (int k = 0; k < count * 3 && static_cast<int>(views.size()) < count; ++k) {
        SweepView view = base;
        view.width = kWidths[Pick(rng, static_cast<int>(std::size(kWidths)))];
        const mpfr_prec_t bits = OracleBits(view) + 64;
        BigComplex centre(bits);
        BigComplex seed(bits);
        if (!BoundaryPoint(base, rng, seed)) {
            break;
        }
        const int kind = Pick(rng, f.cut ? 4 : 3);
        bool found = false;
        if (kind == 0) {
            // A periodic point (a Julia point), or a nucleus of a formula that reads z0.
            const int period = f.readsZ0 ? NearPeriod(base, seed, BigFloat::Parse("1e-6", 64, nullptr), 600)
                                         : 1 + Pick(rng, 3);
            FoundPoint p;
            if (period > 0) {
                p = NewtonPeriodic(base, seed, period, bits, 0);
            }
            found = p.ok;
            centre = p.point;
            view.note
                = (f.readsZ0 ? "nucleus of period " : "periodic point of period ") + std::to_string(period);
        } else if (kind == 1) {
            // A band edge: the count changes between two nearby points.
            BigComplex other(Complex { Uniform(rng, -0.01, 0.01), Uniform(rng, -0.01, 0.01) }, bits);
            mpc_add(other.get(), other.get(), seed.get(), MPC_RNDNN);
            found = BandEdge(view, seed, other, bits, centre);
            view.note = "band edge";
        } else if (kind == 2) {
            // A pre-periodic point (a Misiurewicz point of a formula that reads z0).
            const FoundPoint p = NewtonPeriodic(base, seed, 1 + Pick(rng, 2), bits, 1 + Pick(rng, 2));
            found = p.ok;
            centre = p.point;
            view.note = "pre-periodic point";
        } else {
            // Where the first run's value crosses the negative real axis: a branch cut.
            found = CutCrossing(base, seed, bits, centre);
            view.note = "branch cut";
        }
        if (!found || !mpfr_number_p(centre.Re()) || !mpfr_number_p(centre.Im())) {
            continue;
        }
        BigFloat re(bits), im(bits);
        mpfr_set(re.get(), centre.Re(), MPFR_RNDN);
        mpfr_set(im.get(), centre.Im(), MPFR_RNDN);
        view.centreRe = re.ToString();
        view.centreIm = im.ToString();
        views.push_back(view);
    }
    return views;
}
