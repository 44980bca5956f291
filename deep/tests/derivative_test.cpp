// The derivative the renderer carries through an iteration program (V_dz, V_dzy) and the distance
// estimate from it (V_de), against a difference quotient of the final z computed in 4000 bits.
#include "lanederivative.h"
#include "minibrotview.h"
#include "orbitderivative.h"
#include "precise.h"
#include "reference.h"
#include "tangent.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

namespace {

constexpr mpfr_prec_t kBits = 4000;
constexpr long kStepExponent = -1500; // the quotient's step, 2^-1500: far below any rounding of doubles

struct Case {
    const char* iteration;
    const char* termination;
    Complex c;
    double left, top, width;
    int maxIter;
};

CFormula Compiled(const char* text, Complex c)
{
    CFormula formula;
    std::string error;
    EXPECT_EQ(formula.Compile(text, error), 0) << text << ": " << error;
    formula.SetConstant(formula.FindConstant("C"), c);
    return formula;
}

// The pixel as the renderer runs it, on the derived program: the runs of the iteration, the final z
// and its derivatives.
struct Orbit {
    int runs { 0 };
    bool escaped { false };
    Complex z, dzx, dzy;
};

Orbit Iterate(const TangentFormula& tangent, CFormula termination, Complex p, int maxIter)
{
    CFormula iteration = tangent.formula;
    iteration.SetVariable(iteration.FindVariable("z"), p);
    iteration.SetVariable(iteration.FindVariable("z0"), p);
    Orbit orbit;
    for (int n = 0; n < maxIter; ++n) {
        orbit.z = iteration.Run();
        ++orbit.runs;
        termination.SetVariable(termination.FindVariable("z"), orbit.z);
        if (termination.Run().re > 0.0) {
            orbit.escaped = true;
            break;
        }
    }
    orbit.dzx = iteration.GetVariable(tangent.dzx);
    orbit.dzy = tangent.dzy >= 0 ? iteration.GetVariable(tangent.dzy) : TimesI(orbit.dzx);
    return orbit;
}

// The final z after runs runs from p + step (step along the real or the imaginary axis), in kBits.
BigComplex PreciseZ(
    const CBatchFormula& batch, int z, int z0, const BigComplex& p, int runs, bool imaginary, int sign)
{
    CPreciseProgram program(batch, kBits);
    BigComplex start(p);
    mpfr_ptr part = imaginary ? start.Im() : start.Re();
    mpfr_t step;
    mpfr_init2(step, 64);
    mpfr_set_si_2exp(step, sign, kStepExponent, MPFR_RNDN);
    mpfr_add(part, part, step, MPFR_RNDN);
    mpfr_clear(step);
    for (const int slot : { z, z0 }) {
        if (slot >= 0) {
            program.Slot(slot).Set(start);
        }
    }
    for (int k = 0; k < runs; ++k) {
        program.Run();
    }
    return program.Slot(program.ResultSlot());
}

// (z(p + h) - z(p - h)) / 2h, and |z| ln|z| / |that| / pixel, in kBits.
void Quotient(const CBatchFormula& batch, int z, int z0, const BigComplex& p, int runs, bool imaginary,
    double pixel, Complex& quotient, double& de, Complex& exactZ, ExComplex* wide = nullptr)
{
    BigComplex up = PreciseZ(batch, z, z0, p, runs, imaginary, 1);
    const BigComplex down = PreciseZ(batch, z, z0, p, runs, imaginary, -1);
    const BigComplex centre = PreciseZ(batch, z, z0, p, runs, imaginary, 0);
    mpc_sub(up.get(), up.get(), down.get(), MPC_RNDNN);
    mpc_div_2si(up.get(), up.get(), kStepExponent + 1, MPC_RNDNN);
    quotient = up.ToComplex();
    if (wide) {
        *wide = WideOf(up);
    }
    exactZ = centre.ToComplex();
    mpfr_t absZ, absDz, log;
    mpfr_inits2(kBits, absZ, absDz, log, static_cast<mpfr_ptr>(nullptr));
    mpc_abs(absZ, centre.get(), MPFR_RNDN);
    mpc_abs(absDz, up.get(), MPFR_RNDN);
    mpfr_log(log, absZ, MPFR_RNDN);
    mpfr_mul(log, log, absZ, MPFR_RNDN);
    mpfr_div(log, log, absDz, MPFR_RNDN);
    mpfr_div_d(log, log, pixel, MPFR_RNDN);
    de = mpfr_get_d(log, MPFR_RNDN);
    mpfr_clears(absZ, absDz, log, static_cast<mpfr_ptr>(nullptr));
}

double Relative(Complex got, Complex want)
{
    return std::hypot(got.re - want.re, got.im - want.im) / std::hypot(want.re, want.im);
}

double Relative(const ExComplex& got, const ExComplex& want)
{
    return ex::ToComplex(ex::Div(ex::Abs(ex::Sub(got, want)), ex::Abs(want))).re;
}

// 200 points over pictures like the examples': distance-estimated and lit Julia sets, a cubic, the
// sine and exponential families, a carried variable, and a formula that is not complex-differentiable.
TEST(Derivative, AgreesWithAPreciseDifferenceQuotient)
{
    const Case cases[] = {
        { "z = z * z + C;", "norm(z) > 1e10;", { 0, 1 }, -1.6, -1.6, 3.2, 1000 },
        { "z = z * z + C;", "norm(z) > 1e10;", { -0.1, 0.651 }, -1.5, -1.5, 3.0, 1000 },
        { "z = z ^ 3 + C;", "norm(z) > 1e8;", { 0.4, 0.1 }, -1.3, -1.3, 2.6, 300 },
        { "z = C * sin(z);", "abs(imag(z)) > 50;", { 1.0, 0.4 }, -3, -3, 6, 200 },
        { "z = exp(z) + C;", "real(z) > 50;", { -0.65, 0.1 }, -2, -2, 4, 200 },
        { "V_n = z * z + C + 0.5 * V_p; V_p = z; z = V_n;", "norm(z) > 1e8;", { 0.2, 0.1 }, -1.5, -1.5, 3,
            300 },
        { "z = conj(z) ^ 2 + C;", "norm(z) > 1e8;", { -0.2, 0.6 }, -1.6, -1.6, 3.2, 300 },
        { "z = z * z + C / z;", "norm(z) > 1e8;", { 0.05, 0.02 }, -1.6, -1.6, 3.2, 300 },
    };
    int points = 0;
    int escaped = 0;
    int chaotic = 0;
    double worstDz = 0;
    double worstDe = 0;
    for (const Case& row : cases) {
        const CFormula iteration = Compiled(row.iteration, row.c);
        const CFormula termination = Compiled(row.termination, {});
        TangentFormula tangent;
        ASSERT_TRUE(DifferentiateFormula(
            iteration, { iteration.FindVariable("z"), iteration.FindVariable("z0") }, tangent));
        const CBatchFormula batch(iteration);
        const int z = batch.Slot(iteration.FindVariable("z"));
        const int z0 = batch.Slot(iteration.FindVariable("z0"));
        const double pixel = row.width / 1024;
        for (int k = 0; k < 25; ++k) {
            // A scattered lattice: coprime strides over the view.
            const Complex p { row.left + row.width * ((k * 7 % 25) + 0.37) / 25,
                row.top + row.width * ((k * 11 % 25) + 0.61) / 25 };
            const Orbit orbit = Iterate(tangent, termination, p, row.maxIter);
            ++points;
            if (!orbit.escaped) {
                continue; // a bounded orbit's derivative is the chaotic case
            }
            ++escaped;
            Complex qx, qy, exactZ;
            double de = 0;
            const BigComplex point(p, kBits);
            Quotient(batch, z, z0, point, orbit.runs, false, pixel, qx, de, exactZ);
            double unused = 0;
            Quotient(batch, z, z0, point, orbit.runs, true, pixel, qy, unused, exactZ);
            // Where rounding the orbit in doubles already moves the final z itself by more than
            // 1e-11, the orbit is chaotic there: its derivative cannot be better than the orbit.
            if (Relative(orbit.z, exactZ) > 1e-11) {
                ++chaotic;
                continue;
            }
            const double errorDz = std::max(Relative(orbit.dzx, qx), Relative(orbit.dzy, qy));
            const double errorDe
                = std::fabs(ViewDerivative(orbit.z, orbit.dzx, orbit.dzy, pixel).de - de) / std::fabs(de);
            EXPECT_LT(errorDz, 1e-9) << row.iteration << " at " << p.re << "," << p.im << " runs "
                                     << orbit.runs;
            EXPECT_LT(errorDe, 1e-6) << row.iteration << " at " << p.re << "," << p.im;
            worstDz = std::max(worstDz, errorDz);
            worstDe = std::max(worstDe, errorDe);
        }
    }
    EXPECT_EQ(points, 200);
    EXPECT_GT(escaped - chaotic, 140) << "most points must test something";
    std::printf("%d points, %d escaped, %d of them chaotic; worst relative error: dz %.3g, de %.3g\n", points,
        escaped, chaotic, worstDz, worstDe);
}

struct DeepCase {
    const char* iteration;
    Complex c;
    const char *re, *im;
};

// A Julia set's boundary point (the deep example's), the Mandelbrot set's near a Misiurewicz point,
// and a fold that is not complex-differentiable.
const DeepCase kDeepCases[] = {
    { "z = z * z + C;", { -0.78, -0.15 },
        "1."
        "517562043531287723771450885904142562127683884146058979956384694728649365479692408582560167317782"
        "719000399007968564071280512276990609849084592523945871453862513866729908618955131085075193810855"
        "441352701668536600224181591619234646711866347716638306149560388590883553194828333215942071918173"
        "91474261361392411532710607013803443",
        "0."
        "073705579405973506533976372999921668938060096863365564457532055848411942052111473032804736585652"
        "781967634589825943835364488523136486411358799204808915175477864589375758318183997493917025710045"
        "381784345210828619985210151212230303623943719669411855471327097322743553541647887539436166129953"
        "83462354886846164891549630332633419" },
    { "z = z * z + z0;", {}, "-0.1010963638456221", "0.9562865108091415" },
    { "z = (abs(real(z)) + abs(imag(z)) * 1i) ^ 2 + z0;", {}, "-1.76304112413545387897136133232914922",
        "-0.03135466809433148246669157622078980" },
};

// The same at 1e-300 on the perturbed path, at the deep cases, each with the skips the renderer plans (the
// series and the bilinear ones). |dz| there is near 1e300 and beyond, past what doubles hold.
TEST(Derivative, DeepPixelsAgreeWithAPreciseDifferenceQuotient)
{
    constexpr double kWidth = 1e-300;
    constexpr int kLimit = 3000;
    const double pixel = kWidth / 1024;
    int tested = 0;
    int chaotic = 0;
    double worstDz = 0;
    double worstDe = 0;
    for (const DeepCase& row : kDeepCases) {
        const CFormula iteration = Compiled(row.iteration, row.c);
        const CFormula termination = Compiled("norm(z) > 1e10;", {});
        const CDeltaProgram delta = DeltaProgramOf(iteration, termination);
        bool ok = false;
        const BigComplex centre(BigFloat::Parse(row.re, kBits, &ok), BigFloat::Parse(row.im, kBits, &ok));
        Reference reference;
        ASSERT_TRUE(BuildReference(delta, centre, 1200, kLimit, reference, {}));
        delta.PlanSkip(reference.orbit, ex::FromReal(kWidth), kLimit);
        const COrbitDerivative carrier(delta.Iteration());
        OrbitDerivative carried;
        std::vector<Complex> d;
        std::vector<ExComplex> x;
        const CBatchFormula batch(iteration);
        const int z = batch.Slot(iteration.FindVariable("z"));
        const int z0 = batch.Slot(iteration.FindVariable("z0"));
        for (int k = 0; k < 6; ++k) {
            const ExComplex offset = ex::Scale(ex::FromReal(kWidth), (k % 3 - 1) * 0.31 + (k / 3) * 0.27);
            const ExComplex at = ex::Add(offset, ex::Swap(ex::Scale(ex::FromReal(kWidth), 0.4 - 0.2 * k)));
            const DeltaPixel pixelRun
                = delta.Iterate(reference.orbit, at, kLimit, d, x, nullptr, nullptr, &carrier, &carried);
            ASSERT_FALSE(pixelRun.glitched) << row.iteration;
            if (pixelRun.count >= kLimit) {
                continue;
            }
            BigComplex point(centre);
            BigFloat part(kBits);
            for (const bool imaginary : { false, true }) {
                mpfr_set_d(part.get(), imaginary ? at.im : at.re, MPFR_RNDN);
                mpfr_mul_2si(part.get(), part.get(), at.e, MPFR_RNDN);
                mpfr_add(imaginary ? point.Im() : point.Re(), imaginary ? point.Im() : point.Re(), part.get(),
                    MPFR_RNDN);
            }
            Complex qx, qy, exactZ;
            ExComplex wideX, wideY;
            double de = 0;
            double unused = 0;
            const int runs = static_cast<int>(pixelRun.runs);
            Quotient(batch, z, z0, point, runs, false, pixel, qx, de, exactZ, &wideX);
            Quotient(batch, z, z0, point, runs, true, pixel, qy, unused, exactZ, &wideY);
            if (Relative(pixelRun.last, exactZ) > 1e-11) {
                ++chaotic; // as above: the orbit itself is no better there
                continue;
            }
            const double errorDz = std::max(Relative(carried.DzX(), wideX), Relative(carried.DzY(), wideY));
            const double errorDe
                = std::fabs(
                      ViewDeepDerivative(pixelRun.last, carried.DzX(), carried.DzY(), ex::FromReal(pixel)).de
                      - de)
                / std::fabs(de);
            EXPECT_LT(errorDz, 1e-9) << row.iteration << " pixel " << k;
            EXPECT_LT(errorDe, 1e-6) << row.iteration << " pixel " << k;
            worstDz = std::max(worstDz, errorDz);
            worstDe = std::max(worstDe, errorDe);
            ++tested;
        }
    }
    EXPECT_GT(tested, 12) << "most deep points must escape";
    std::printf("%d deep points, %d chaotic; worst relative error: dz %.3g, de %.3g\n", tested, chaotic,
        worstDz, worstDe);
}

// The lanes carry the derivative of a pixel run alone: bit for bit on shallow views without skips,
// where their offsets take the same path; at 1e-300 with the skips (and rebases), where a lane starts
// from the scaled series and its offsets round differently, as close as the two loops' values are.
TEST(Derivative, LanesCarryTheDerivativeOfAPixelRunAlone)
{
    struct View {
        const DeepCase& at;
        double width;
        int limit { 3000 };
    };
    const DeepCase shallow { "z = z * z + z0;", {}, "0.31", "0.12" };
    const DeepCase minibrot { "z = z * z + z0;", {}, kMinibrotRe, kMinibrotIm }; // skips after rebases
    const View views[] = { { kDeepCases[0], 1e-300 }, { kDeepCases[0], 1e-3 }, { kDeepCases[2], 1e-3 },
        { shallow, 0.05 }, { minibrot, kMinibrotWidth, 20000 } };
    for (const View& view : views) {
        const int limit = view.limit;
        const CFormula iteration = Compiled(view.at.iteration, view.at.c);
        const CDeltaProgram delta = DeltaProgramOf(iteration, Compiled("norm(z) > 1e10;", {}));
        bool ok = false;
        const BigComplex centre(
            BigFloat::Parse(view.at.re, kBits, &ok), BigFloat::Parse(view.at.im, kBits, &ok));
        Reference reference;
        ASSERT_TRUE(BuildReference(delta, centre, 1200, limit, reference, {}));
        const bool deep = view.width < 1e-100;
        if (deep) {
            delta.PlanSkip(reference.orbit, ex::FromReal(view.width), limit);
        }
        std::vector<ExComplex> offsets;
        for (int k = 0; k < kLanes; ++k) {
            offsets.push_back(ex::Scale(ex::From({ (k % 8 - 3.5) / 8, (k / 8 - 3.5) / 8 }), view.width));
        }
        const COrbitDerivative carrier(delta.Iteration());
        CLaneDerivatives chain(carrier);
        std::vector<std::array<ExComplex, 2>> lanesDz(offsets.size());
        chain.SetOut(lanesDz.data());
        std::vector<DeltaPixel> lanes(offsets.size());
        DeltaLanes scratch;
        delta.IterateLanes(reference.orbit, offsets.data(), kLanes, limit, scratch, lanes.data(), &chain);
        OrbitDerivative alone;
        std::vector<Complex> d;
        std::vector<ExComplex> x;
        int compared = 0;
        int rebased = 0;
        for (size_t k = 0; k < offsets.size(); ++k) {
            const DeltaPixel one
                = delta.Iterate(reference.orbit, offsets[k], limit, d, x, nullptr, nullptr, &carrier, &alone);
            const DeltaPixel& lane = lanes[k];
            if (lane.deferred || lane.glitched || one.glitched) {
                continue;
            }
            ASSERT_EQ(lane.count, one.count) << view.at.iteration << " pixel " << k;
            ++compared;
            rebased += lane.rebases > 0 ? 1 : 0;
            for (const auto& [got, want] :
                { std::pair { lanesDz[k][0], alone.DzX() }, { lanesDz[k][1], alone.DzY() } }) {
                if (deep) {
                    // No further apart than the two loops' values: chaos spreads both alike.
                    EXPECT_LT(Relative(got, want), 1e-12 + 4 * Relative(lane.last, one.last))
                        << view.at.iteration << " pixel " << k;
                } else {
                    EXPECT_TRUE(got.re == want.re && got.im == want.im && got.e == want.e)
                        << view.at.iteration << " pixel " << k << ": " << got.re << " 2^" << got.e
                        << " against " << want.re << " 2^" << want.e;
                }
            }
        }
        EXPECT_GT(compared, kLanes / 2) << view.at.iteration;
        std::printf("%s at %g: %d of %d pixels compared, %d rebased\n", view.at.iteration, view.width,
            compared, kLanes, rebased);
    }
}

} // namespace
