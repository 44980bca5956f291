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

SweepView ViewOf(const char* iteration, const char* termination = "norm(z) > 100;")
{
    SweepView view;
    view.iteration = iteration;
    view.termination = termination;
    return view;
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
    SweepView v = ViewOf("z = z * z + z0;");
    v.maxIter = 10000;
    v.width = "5.3e-480";
    v.side = 10;
    const std::string start = "-1." + std::string(240, '9');
    const FoundPoint nucleus = NewtonPeriodic(v, Point(start.c_str(), "0", 1800), 400, 1800);
    EXPECT_TRUE(nucleus.ok);
    CentreAt(v, nucleus.point);
    return v;
}

// A power that is not whole: pixels pass either side of the origin from their reference.
SweepView Power()
{
    SweepView v = ViewOf("z = z ^ 2.5 + C;");
    v.constants = { { -0.5, 0.3 } };
    v.maxIter = 2000;
    v.width = "1e-20";
    const FoundPoint beta = NewtonPeriodic(v, Point("1.5", "0.2", 300), 1, 300);
    EXPECT_TRUE(beta.ok);
    CentreAt(v, beta.point);
    return v;
}

// A band edge: the termination's level curve through the middle of a 1e-300 view.
SweepView BandEdge()
{
    SweepView v = ViewOf("z = z * z + C;");
    v.constants = { { -0.78, -0.15 } };
    v.width = "1e-300";
    BigComplex edge(1200);
    EXPECT_TRUE(BandEdge(v, Point("0.5", "0.5", 1200), Point("0.6", "0.6", 1200), 1200, edge));
    CentreAt(v, edge);
    return v;
}

// The same for exp(z) + C with real(z) > 50.
SweepView ExpEdge()
{
    SweepView v = ViewOf("z = exp(z) + C;", "real(z) > 50;");
    v.constants = { { 0.3, 0.2 } };
    v.maxIter = 5000;
    v.width = "1e-100";
    v.side = 12;
    BigComplex edge(600);
    EXPECT_TRUE(BandEdge(v, Point("1", "0", 600), Point("2", "0", 600), 600, edge));
    CentreAt(v, edge);
    return v;
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
    SweepView v = ViewOf("z = z * z + C / z;");
    v.constants = { { 0.25658655991245427, -0.33273485769275279 } };
    v.maxIter = 300;
    v.width = "1e-20";
    const FoundPoint p = NewtonPeriodic(v, Point("-0.8", "0.1", 300), 1, 300);
    EXPECT_TRUE(p.ok);
    CentreAt(v, p.point);
    return v;
}

// A Misiurewicz point: i, pre-periodic with period 2 after one run.
SweepView Misiurewicz()
{
    SweepView v = ViewOf("z = z * z + z0;");
    v.maxIter = 3000;
    v.width = "1e-300";
    const FoundPoint p = NewtonPeriodic(v, Point("0.01", "0.99", 1200), 2, 1200, 1);
    EXPECT_TRUE(p.ok);
    CentreAt(v, p.point);
    return v;
}

// A burning-ship form at a pre-periodic point on the real axis, whose reference stays on the axis
// that abs() folds: a pixel's imaginary offset is all of its imaginary part, and its square lies
// below the doubles.
SweepView FoldedAxis()
{
    SweepView v = ViewOf("z = (abs(real(z)) + abs(imag(z)) * 1i) ^ 2 + z0;");
    v.maxIter = 3000;
    v.width = "1e-300";
    v.side = 10;
    const FoundPoint p = NewtonPeriodic(v, Point("-1.5437", "0", 1200), 1, 1200, 2);
    EXPECT_TRUE(p.ok);
    CentreAt(v, p.point);
    return v;
}

// exp(z) + C at a periodic point, where a reference passes close to 0 (exp of a large negative value)
// beside pixels of some size: exp(offset) alone would overflow.
SweepView ExpNearZero()
{
    SweepView v = ViewOf("z = exp(z) + C;", "real(z) > 50;");
    v.constants = { { 0.14248973513336025, 0.2622573211293171 } };
    v.maxIter = 3000;
    v.width = "1e-50";
    v.side = 9;
    const FoundPoint p = NewtonPeriodic(v, Point("0.2213654956", "1.5075412479", 300), 3, 300);
    EXPECT_TRUE(p.ok);
    CentreAt(v, p.point);
    return v;
}

// A repelling fixed point of a Julia set with a log and a tan: pixels drift off it into a chaotic set
// that leaks, and the few that leave it before the limit do so at runs that hang on every rounding.
// The oracle almost never sees them leave, so its nudges alone seldom change their counts.
SweepView LeakyChaos()
{
    SweepView v = ViewOf("z = z * z + 0.1 * log(z) + 0.05 * tan(z) + C;");
    v.constants = { { -0.24009139503826735, 0.46203069081389175 } };
    v.maxIter = 3000;
    v.width = "1e-20";
    v.side = 12;
    const FoundPoint p = NewtonPeriodic(v, Point("-0.3589", "0.4147", 400), 1, 400);
    EXPECT_TRUE(p.ok);
    CentreAt(v, p.point);
    return v;
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
    SweepView v = ViewOf("z = exp(z) + C;", "real(z) > 50;");
    v.constants = { { -0.65, 0.0 } };
    v.maxIter = 5000;
    v.width = "1e-20";
    v.side = 12;
    const FoundPoint p = NewtonPeriodic(v, Point("0.11", "0.82", 300), 2, 300);
    EXPECT_TRUE(p.ok);
    CentreAt(v, p.point);
    return v;
}

// A Julia set of exp whose C lies in an attracting basin: pixels that land on C's orbit stay on it to
// the limit, and must not each take a reference of their own.
SweepView ExpBasin()
{
    SweepView v = ViewOf("z = exp(z) + C;", "real(z) > 50;");
    v.constants = { { 0.093438839239483276, -0.57066791637926062 } };
    v.maxIter = 300;
    v.width = "1e-50";
    v.side = 12;
    const FoundPoint p = NewtonPeriodic(v, Point("1.75", "-1.68", 300), 3, 300);
    EXPECT_TRUE(p.ok);
    CentreAt(v, p.point);
    return v;
}

// A view across the power's cut, centred 1e-469 below the negative real axis: the reference's
// imaginary part reads 0 in doubles, and half the pixels lie on the cut's other side.
SweepView AcrossTheCut()
{
    SweepView v = ViewOf("z = z ^ 1.5 + C;");
    v.constants = { { -0.35491098415954819, -0.53782728066657348 } };
    v.width = "1e-450";
    v.side = 8;
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
