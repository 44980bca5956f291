#include "sweep.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

// Views of the kinds that once came out wrong, each found afresh as an explorer finds it and held
// pixel by pixel to the oracle: every pixel agrees or is chaotic.

namespace {

std::string Text(mpfr_srcptr x)
{
    BigFloat v(mpfr_get_prec(x));
    mpfr_set(v.get(), x, MPFR_RNDN);
    return v.ToString();
}

void CentreAt(SweepView& view, const BigComplex& point)
{
    view.centreRe = Text(point.Re());
    view.centreIm = Text(point.Im());
}

BigComplex Point(const char* re, const char* im, mpfr_prec_t bits)
{
    bool ok = false;
    return BigComplex(BigFloat::Parse(re, bits, &ok), BigFloat::Parse(im, bits, &ok));
}

// A view of iteration and termination with the constants C, C1, ... at width, limit and side.
SweepView ViewOf(const char* iteration, const char* termination, std::vector<Complex> constants, int maxIter,
    const char* width, int side = SweepView {}.side)
{
    SweepView view;
    view.iteration = iteration;
    view.termination = termination;
    view.constants = std::move(constants);
    view.maxIter = maxIter;
    view.width = width;
    view.side = side;
    return view;
}

constexpr const char* kNorm = "norm(z) > 100;";
constexpr const char* kReal = "real(z) > 50;";

// The view centred on the point of the period (after preperiod runs) that Newton's method finds from
// near, in bits of precision.
SweepView AtPoint(
    SweepView v, const char* nearRe, const char* nearIm, mpfr_prec_t bits, int period, int preperiod = 0)
{
    const FoundPoint p = NewtonPeriodic(v, Point(nearRe, nearIm, bits), period, bits, preperiod);
    EXPECT_TRUE(p.ok);
    CentreAt(v, p.point);
    return v;
}

// The view centred where the termination's level curve crosses the segment from a to b.
SweepView AtEdge(SweepView v, const BigComplex& a, const BigComplex& b, mpfr_prec_t bits)
{
    BigComplex edge(bits);
    EXPECT_TRUE(BandEdge(v, a, b, bits, edge));
    CentreAt(v, edge);
    return v;
}

struct Case {
    const char* name;
    SweepView (*make)();
    int mostReferences { 0 }; // 0: any number
};

// A minibrot of period 400 near the tip of z * z + z0, 4 times its size: the skip must stop at the
// nucleus' zero passes, and values there lie below the doubles.
SweepView Minibrot()
{
    const std::string start = "-1." + std::string(240, '9');
    return AtPoint(
        ViewOf("z = z * z + z0;", kNorm, {}, 10000, "5.3e-480", 10), start.c_str(), "0", 1800, 400);
}

// A power that is not whole: pixels pass either side of the origin from their reference.
SweepView Power()
{
    return AtPoint(ViewOf("z = z ^ 2.5 + C;", kNorm, { { -0.5, 0.3 } }, 2000, "1e-20"), "1.5", "0.2", 300, 1);
}

// A band edge: the termination's level curve through the middle of a 1e-300 view.
SweepView BandEdge()
{
    return AtEdge(ViewOf("z = z * z + C;", kNorm, { { -0.78, -0.15 } }, 1000, "1e-300"),
        Point("0.5", "0.5", 1200), Point("0.6", "0.6", 1200), 1200);
}

// The same for exp(z) + C with real(z) > 50.
SweepView ExpEdge()
{
    return AtEdge(ViewOf("z = exp(z) + C;", kReal, { { 0.3, 0.2 } }, 5000, "1e-100", 12),
        Point("1", "0", 600), Point("2", "0", 600), 600);
}

// log of exactly 0 at the first run for every pixel, on the way to a finite value.
SweepView SingularOnTheWay()
{
    SweepView v = BandEdge();
    v.iteration = "z = z * z + C + 1e-30 * exp(log(z - z0));";
    v.side = 12;
    return v;
}

// A division by the varying value, which the skip carries through a reciprocal.
SweepView Rational()
{
    return AtPoint(
        ViewOf("z = z * z + C / z;", kNorm, { { 0.25658655991245427, -0.33273485769275279 } }, 300, "1e-20"),
        "-0.8", "0.1", 300, 1);
}

// A Misiurewicz point: i, pre-periodic with period 2 after one run.
SweepView Misiurewicz()
{
    return AtPoint(ViewOf("z = z * z + z0;", kNorm, {}, 3000, "1e-300"), "0.01", "0.99", 1200, 2, 1);
}

// A burning-ship form at a pre-periodic point on the real axis, whose reference stays on the axis
// that abs() folds: a pixel's imaginary offset is all of its imaginary part, and its square lies
// below the doubles.
SweepView FoldedAxis()
{
    return AtPoint(ViewOf("z = (abs(real(z)) + abs(imag(z)) * 1i) ^ 2 + z0;", kNorm, {}, 3000, "1e-300", 10),
        "-1.5437", "0", 1200, 1, 2);
}

// exp(z) + C at a periodic point, where a reference passes close to 0 (exp of a large negative value)
// beside pixels of some size: exp(offset) alone would overflow.
SweepView ExpNearZero()
{
    return AtPoint(
        ViewOf("z = exp(z) + C;", kReal, { { 0.14248973513336025, 0.2622573211293171 } }, 3000, "1e-50", 9),
        "0.2213654956", "1.5075412479", 300, 3);
}

// A repelling fixed point of a Julia set with a log and a tan: pixels drift off it into a chaotic set
// that leaks, and the few that leave it before the limit do so at runs that hang on every rounding.
// The oracle almost never sees them leave, so its nudges alone seldom change their counts.
SweepView LeakyChaos()
{
    return AtPoint(ViewOf("z = z * z + 0.1 * log(z) + 0.05 * tan(z) + C;", kNorm,
                       { { -0.24009139503826735, 0.46203069081389175 } }, 3000, "1e-20", 12),
        "-0.3589", "0.4147", 400, 1);
}

class Views : public testing::TestWithParam<Case> { };

TEST_P(Views, AgreeWithTheOracle)
{
    const SweepView view = GetParam().make();
    const SweepOutcome o = CheckView(view, 1, 2);
    ASSERT_TRUE(o.rendered) << o.problem;
    EXPECT_TRUE(o.wrong.empty()) << GetParam().name << ": " << o.wrong.size() << " pixels disagree, first ("
                                 << (o.wrong.empty() ? 0 : o.wrong[0].column) << ", "
                                 << (o.wrong.empty() ? 0 : o.wrong[0].row) << ")";
    EXPECT_LT(o.chaotic * 10, o.pixels) << GetParam().name;
    EXPECT_EQ(o.precisePixels, 0) << GetParam().name << ": a reference should take every pixel";
    if (GetParam().mostReferences > 0) {
        EXPECT_LE(o.references, GetParam().mostReferences) << GetParam().name;
    }
}

// exp(z) + C beside a repelling cycle: the pixels that leave it far to the left collapse onto C, where
// the reference does not go; they land on the orbit of C, and one reference takes the view.
SweepView ExpCollapse()
{
    return AtPoint(
        ViewOf("z = exp(z) + C;", kReal, { { -0.65, 0.0 } }, 5000, "1e-20", 12), "0.11", "0.82", 300, 2);
}

// A Julia set of exp whose C lies in an attracting basin: pixels that land on C's orbit stay on it to
// the limit, and must not each take a reference of their own.
SweepView ExpBasin()
{
    return AtPoint(ViewOf("z = exp(z) + C;", kReal, { { 0.093438839239483276, -0.57066791637926062 } }, 300,
                       "1e-50", 12),
        "1.75", "-1.68", 300, 3);
}

// A view across the power's cut, centred 1e-469 below the negative real axis: the reference's
// imaginary part reads 0 in doubles, and half the pixels lie on the cut's other side.
SweepView AcrossTheCut()
{
    SweepView v = ViewOf(
        "z = z ^ 1.5 + C;", kNorm, { { -0.35491098415954819, -0.53782728066657348 } }, 1000, "1e-450", 8);
    v.centreRe = "-1.3229696338174232739248736834269948303699493408203125";
    v.centreIm = "-1.2407704853146540825872014689e-469";
    return v;
}

const Case kCases[] = { { "minibrot", Minibrot }, { "power", Power }, { "band edge", BandEdge },
    { "exp band edge", ExpEdge }, { "singular on the way", SingularOnTheWay }, { "rational", Rational },
    { "Misiurewicz", Misiurewicz }, { "folded axis", FoldedAxis }, { "exp near 0", ExpNearZero },
    { "leaky chaos", LeakyChaos }, { "exp collapse", ExpCollapse, 1 }, { "exp basin", ExpBasin, 2 },
    { "across the cut", AcrossTheCut } };

INSTANTIATE_TEST_SUITE_P(
    Deep, Views, testing::ValuesIn(kCases), [](const testing::TestParamInfo<Case>& info) {
        std::string name = info.param.name;
        for (char& c : name) {
            c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        }
        return name;
    });

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
