#include "deeprender.h"
#include "exactview.h"
#include "fractalscript.h"
#include "oracle.h"
#include "renderer.h"
#include "renderpool.h"
#include "scenes.h"
#include "testutil.h"

#include <cmath>

namespace {

enum class Centre { Beta, Zero, I };

struct DeepCase {
    const char* name;
    const char* iteration;
    Complex c;
    Centre centre;
    int maxIter;
};

// The repelling fixed point (1 + sqrt(1 - 4C)) / 2 of z * z + C lies on the Julia set, so the
// pictures around it show structure at every depth.
BigComplex CentreOf(const DeepCase& scene, mpfr_prec_t bits)
{
    BigComplex v(bits);
    switch (scene.centre) {
    case Centre::Beta:
        mpc_set_d_d(v.get(), scene.c.re, scene.c.im, MPC_RNDNN);
        mpc_mul_si(v.get(), v.get(), -4, MPC_RNDNN);
        mpc_add_ui(v.get(), v.get(), 1, MPC_RNDNN);
        mpc_sqrt(v.get(), v.get(), MPC_RNDNN);
        mpc_add_ui(v.get(), v.get(), 1, MPC_RNDNN);
        mpc_div_ui(v.get(), v.get(), 2, MPC_RNDNN);
        break;
    case Centre::Zero: mpc_set_ui(v.get(), 0, MPC_RNDNN); break;
    case Centre::I: mpc_set_si_si(v.get(), 0, 1, MPC_RNDNN); break;
    }
    return v;
}

struct Outcome {
    int pixels { 0 };
    int agree { 0 };
    int excused { 0 };
};

// Renders the scene at `width` around its centre on a side x side picture, and holds every pixel to
// the arbitrary-precision oracle. A pixel whose oracle count changes when it moves by 1e-6 of a
// pixel is chaotic and excused.
Outcome Compare(const DeepCase& scene, const char* width, int side)
{
    Outcome outcome;
    CFractalScript script;
    script.SetDefaults();
    std::string error;
    EXPECT_TRUE(script.SetFormulas(scene.iteration, "norm(z) > 1e4;", error)) << error;
    if (script.GetIterFormula().GetConstantCount() > 0) {
        script.SetCurrentConstant(scene.c);
    }
    script.SetMaxIter(scene.maxIter);
    script.SetImageSize(1024, 1024);
    EXPECT_TRUE(CountEscapes(script));
    Picture picture = script.TakeSnapshot();

    bool ok = false;
    const BigFloat planeWidth = BigFloat::Parse(width, 64, &ok);
    const mpfr_prec_t bits = BitsFor(planeWidth.Exponent() - 20, 4, 96);
    const BigComplex centre = CentreOf(scene, bits);
    BigFloat cx(bits);
    BigFloat cy(bits);
    mpfr_set(cx.get(), centre.Re(), MPFR_RNDN);
    mpfr_set(cy.get(), centre.Im(), MPFR_RNDN);
    // The target keeps its size (the script has a smallest one); the render shows it at side x side.
    const int imageSide = picture.imageWidth;
    const BigFloat ratio = BigFloat::Parse(width, bits, &ok) / static_cast<double>(imageSide);
    picture.view = ViewAroundCentre(cx, cy, ratio, imageSide, imageSide);
    EXPECT_TRUE(IsDeepView(picture));

    QImage image(side, side, QImage::Format_RGB32);
    image.fill(Qt::black);
    std::atomic<int> stage { 0 };
    std::atomic<bool> stop { false };
    std::atomic<double> progress { 0.0 };
    CRenderPool pool;
    CDeepSession session;
    EXPECT_EQ(RenderPicture(picture, RasterOf(image), { 0, 0, side, side, 1, 1, 1, 1 },
                  { stage, 0, stop, progress, pool, &session }),
        kRenderDone);
    EXPECT_TRUE(session.Last().active);

    const CBatchFormula program(picture.iterFormula);
    const CBatchFormula termProgram(picture.termFormula);
    CPreciseProgram precise(program, bits);
    CPreciseProgram term(termProgram, bits);
    const OracleBindings bindings
        = BindOracle(picture.iterFormula, program, picture.termFormula, termProgram);
    const PreciseView view = PreciseViewOf(picture, bits);
    const BigFloat step = view.ratio * (static_cast<double>(imageSide) / side);
    int reported = 0;
    for (int j = 0; j < side; ++j) {
        for (int i = 0; i < side; ++i) {
            const BigFloat x = view.offsetX + step * (i + 0.5);
            const BigFloat y = view.offsetY + step * (j + 0.5);
            const int count = PreciseIterate(precise, term, bindings, BigComplex(x, y), scene.maxIter).count;
            ++outcome.pixels;
            const int got = CountOf(image.pixel(i, j));
            if (got == count) {
                ++outcome.agree;
                continue;
            }
            // Only a pixel that disagrees needs the second look (it is as slow as the first).
            const int moved
                = PreciseIterate(precise, term, bindings, BigComplex(x + step * 1e-6, y), scene.maxIter)
                      .count;
            if (count != moved) {
                ++outcome.excused;
            } else if (reported++ < 3) {
                ADD_FAILURE() << scene.name << " at " << width << ": pixel " << i << "," << j << " got "
                              << got << ", oracle " << count;
            }
        }
    }
    return outcome;
}

} // namespace

struct DeepPicture {
    DeepCase scene;
    const char* width;
};

// Past 1e-308 the offsets leave the doubles' range. The formulas with functions stop just past it:
// their oracle pays for every sine and logarithm in a thousand bits.
const DeepPicture kDeepPictures[] = {
    { { "z * z + C", "z = z * z + C;", { -0.78, -0.15 }, Centre::Beta, 3000 }, "1e-30" },
    { { "z * z + C", "z = z * z + C;", { -0.78, -0.15 }, Centre::Beta, 3000 }, "1e-300" },
    { { "z * z + C", "z = z * z + C;", { -0.78, -0.15 }, Centre::Beta, 3000 }, "1e-1000" },
    { { "reads z0", "z = z * z + z0;", {}, Centre::I, 2000 }, "1e-30" },
    { { "reads z0", "z = z * z + z0;", {}, Centre::I, 2000 }, "1e-300" },
    { { "reads z0", "z = z * z + z0;", {}, Centre::I, 2000 }, "1e-1000" },
    { { "C * sin z", "z = C * sin(z);", { 2.0, 1.0 }, Centre::Zero, 2000 }, "1e-30" },
    { { "C * sin z", "z = C * sin(z);", { 2.0, 1.0 }, Centre::Zero, 2000 }, "1e-300" },
    { { "C * sin z", "z = C * sin(z);", { 2.0, 1.0 }, Centre::Zero, 2000 }, "1e-320" },
    { { "a branch cut", "z = exp(2 * log(z)) + C;", { -0.78, -0.15 }, Centre::Beta, 2000 }, "1e-30" },
    { { "a branch cut", "z = exp(2 * log(z)) + C;", { -0.78, -0.15 }, Centre::Beta, 2000 }, "1e-300" },
    { { "a branch cut", "z = exp(2 * log(z)) + C;", { -0.78, -0.15 }, Centre::Beta, 2000 }, "1e-320" },
    { { "an identity", "z = sin(z) ^ 2 + cos(z) ^ 2 - 1 + z * z + C;", { -0.78, -0.15 }, Centre::Beta, 2000 },
        "1e-30" },
    { { "an identity", "z = sin(z) ^ 2 + cos(z) ^ 2 - 1 + z * z + C;", { -0.78, -0.15 }, Centre::Beta, 2000 },
        "1e-300" },
    { { "an identity", "z = sin(z) ^ 2 + cos(z) ^ 2 - 1 + z * z + C;", { -0.78, -0.15 }, Centre::Beta, 2000 },
        "1e-320" },
};

class DeepRender : public testing::TestWithParam<DeepPicture> { };

// Whole pictures past the doubles against the oracle: every pixel that is not chaotic agrees, and the
// chaotic ones stay under 5 %.
TEST_P(DeepRender, AgreesWithArbitraryPrecision)
{
    const DeepPicture& picture = GetParam();
    const Outcome outcome = Compare(picture.scene, picture.width, 16);
    EXPECT_LT(outcome.excused * 20, outcome.pixels) << picture.scene.name << " at " << picture.width;
    EXPECT_EQ(outcome.agree + outcome.excused, outcome.pixels)
        << picture.scene.name << " at " << picture.width;
}

INSTANTIATE_TEST_SUITE_P(Formulas, DeepRender, testing::ValuesIn(kDeepPictures));

// The same deep picture on one thread and on two: references are chosen between passes, in raster
// order, so no thread's timing reaches a pixel. (z * z + C as sqrt(z)^4: through a branch cut it
// neither rebases nor lands, so that it needs several references.)
TEST(DeepRenderThreads, SamePictureOnEveryThreadCount)
{
    CFractalScript script;
    script.SetDefaults();
    std::string error;
    ASSERT_TRUE(script.SetFormulas("z = sqrt(z) ^ 4 + C;", "norm(z) > 100;", error)) << error;
    script.SetCurrentConstant({ -0.78, -0.15 });
    script.SetMaxIter(3000);
    ASSERT_TRUE(CountEscapes(script));
    const DeepCase scene { "z * z + C", "", { -0.78, -0.15 }, Centre::Beta, 3000 };
    std::vector<QImage> pictures;
    for (const int threads : { 1, 2 }) {
        Picture picture = script.TakeSnapshot();
        const mpfr_prec_t bits = 1200;
        const BigComplex centre = CentreOf(scene, bits);
        BigFloat cx(bits);
        BigFloat cy(bits);
        mpfr_set(cx.get(), centre.Re(), MPFR_RNDN);
        mpfr_set(cy.get(), centre.Im(), MPFR_RNDN);
        bool ok = false;
        picture.view = ViewAroundCentre(cx, cy, BigFloat::Parse("1e-300", bits, &ok) / picture.imageWidth,
            picture.imageWidth, picture.imageHeight);
        CDeepSession session;
        CRenderPool pool;
        pool.SetThreads(threads);
        QImage image(48, 48, QImage::Format_RGB32);
        std::atomic<int> stage { 0 };
        std::atomic<bool> stop { false };
        std::atomic<double> progress { 0.0 };
        EXPECT_EQ(RenderPicture(picture, RasterOf(image), { 0, 0, 48, 48, 1, 1, 1, 1 },
                      { stage, 0, stop, progress, pool, &session }),
            kRenderDone);
        EXPECT_GT(session.Last().references, 1) << "the picture should need more than one reference";
        pictures.push_back(image);
    }
    EXPECT_TRUE(pictures[0] == pictures[1]);
}

// A colour formula that compares the plane point: at 1e-300 around the very double it compares with,
// the rounded points are all that double, while the exact ones lie half on each side.
TEST(DeepRenderColour, DecidesOnTheExactValues)
{
    CFractalScript script;
    script.SetDefaults();
    ASSERT_TRUE(CountEscapes(script));
    std::string error;
    ASSERT_TRUE(script.SetColorFormula("(real(z0) > 0.25) * 0.5 + 0.25;", error)) << error;
    script.SetImageSize(1024, 1024);
    Picture picture = script.TakeSnapshot();
    const mpfr_prec_t bits = 1200;
    BigFloat cx(0.25, bits); // the number the formula compares with, exactly
    BigFloat cy(0.1, bits);
    bool ok = false;
    picture.view = ViewAroundCentre(cx, cy, BigFloat::Parse("1e-300", bits, &ok) / 1024, 1024, 1024);
    QImage image(16, 16, QImage::Format_RGB32);
    std::atomic<int> stage { 0 };
    std::atomic<bool> stop { false };
    std::atomic<double> progress { 0.0 };
    CRenderPool pool;
    CDeepSession session;
    ASSERT_EQ(RenderPicture(picture, RasterOf(image), { 0, 0, 16, 16, 1, 1, 1, 1 },
                  { stage, 0, stop, progress, pool, &session }),
        kRenderDone);
    ASSERT_TRUE(session.Last().active);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            EXPECT_EQ(image.pixel(x, y), image.pixel(x < 8 ? 0 : 15, 0)) << x << "," << y;
        }
    }
    EXPECT_NE(image.pixel(0, 0), image.pixel(15, 0));
}
