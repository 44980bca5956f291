// V_iter_<name>: the termination and colour formulas reading the iteration formula's variables. Each
// row's picture must equal one drawn without the new names, on the scalar renderer and the batched one
// with generated code off and on (which hands such pictures to the interpreter).
#include "batchjit.h"
#include "deeprender.h"
#include "deepsession.h"
#include "exactview.h"
#include "renderer.h"
#include "renderpool.h"
#include "scenes.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <set>

namespace {

enum class Way { Batched, Scalar, Deep };

// Deep: the deep renderer itself, at whatever width the scene has.
std::vector<int> Counts(CFractalScript& script, Way way, CDeepSession* session = nullptr)
{
    constexpr int kSide = 24;
    Picture picture = script.TakeSnapshot();
    QImage image(kSide, kSide, QImage::Format_RGB32);
    image.fill(Qt::black);
    std::atomic<int> stage { 0 };
    std::atomic<bool> stop { false };
    std::atomic<double> progress { 0.0 };
    CDeepSession own;
    const RenderControl control { stage, 0, stop, progress, script.RenderPool(),
        way == Way::Deep && !session ? &own : session };
    const RenderArea area { 0, 0, kSide, kSide, 1, 1, 1, 1 };
    const RenderPlan plan = Prepare(picture, RasterOf(image), area);
    const int result = way == Way::Scalar
        ? RenderPictureScalar(picture, RasterOf(image), area, control, nullptr)
        : way == Way::Deep ? RenderPictureDeep(picture, RasterOf(image), area, control, plan, nullptr)
                           : RenderPicture(picture, RasterOf(image), area, control, nullptr);
    EXPECT_EQ(result, kRenderDone);
    std::vector<int> counts;
    for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < kSide; ++x) {
            counts.push_back(CountOf(image.pixel(x, y)));
        }
    }
    return counts;
}

struct Row {
    const char* what;
    const char* termination;
    const char* colour;
    const char* expected; // the same picture's colour formula without the new names
    const char* expectedTermination;
};

TEST(IterationReads, ReadTheIterationsVariables)
{
    // V_s counts the runs of the iteration; zsum, read by no row, puts a slot before z.
    const char* const iteration = "V_s = V_s + 1; zsum = zsum + z; z = z * z + C;";
    const Row rows[] = {
        { "final value", "norm(z) > 100", "(V_iter_V_s + 0.5) / 5001",
            "(V_iter_n + (V_iter_n < V_iter_max) + 0.5) / 5001", "norm(z) > 100" },
        { "with the derivative", "norm(z) > 100", "V_u = V_de; (V_iter_V_s + 0.5) / 5001",
            "(V_iter_n + (V_iter_n < V_iter_max) + 0.5) / 5001", "norm(z) > 100" },
        { "current value in the termination", "V_iter_V_s > 3", "(V_iter_n + 0.5) / 5001",
            "(V_iter_n + 0.5) / 5001", "V_iter_n > 2" },
        { "assigned first: its own", "norm(z) > 100", "V_iter_V_s = 7; (V_iter_V_s + 0.5) / 5001",
            "7.5 / 5001", "norm(z) > 100" },
        { "no such iteration variable", "norm(z) > 100", "(V_iter_V_q + 0.5) / 5001", "0.5 / 5001",
            "norm(z) > 100" },
        { "the iteration's z", "norm(z) > 100", "(V_iter_z == z) * 20 / 5001", "20 / 5001", "norm(z) > 100" },
    };
    const Scene scene { "reads", iteration, "norm(z) > 100;", nullptr, 40, { -0.78, -0.15 }, {}, -1.6, -1.6,
        3.2 / 1024 };
    for (const Row& row : rows) {
        CFractalScript expected;
        ASSERT_TRUE(Apply(expected, scene, 24, 24));
        std::string error;
        ASSERT_TRUE(expected.SetFormulas(iteration, row.expectedTermination, error)) << error;
        ASSERT_TRUE(expected.SetColorFormula(row.expected, error)) << error;
        const std::vector<int> want = Counts(expected, Way::Scalar);

        CFractalScript script;
        ASSERT_TRUE(Apply(script, scene, 24, 24));
        ASSERT_TRUE(script.SetFormulas(iteration, row.termination, error)) << error;
        ASSERT_TRUE(script.SetColorFormula(row.colour, error)) << error;
        EXPECT_EQ(Counts(script, Way::Scalar), want) << row.what << ": scalar";
        std::vector<JitUse> ways { JitUse::Off };
        for (const JitIsa isa : CBatchJit::AvailableIsas()) {
            ways.push_back(isa == JitIsa::Avx512 ? JitUse::Avx512 : JitUse::Avx2);
        }
        for (const JitUse use : ways) {
            script.RenderPool().SetJitUse(use);
            EXPECT_EQ(Counts(script, Way::Batched), want)
                << row.what << ": batched, way " << static_cast<int>(use);
        }
    }
}

// On a deep view both formulas read the reference's recorded value plus the pixel's offset (V_s: the
// runs, the same for every pixel; z: the pixel's own), or the value in arbitrary precision.
TEST(IterationReads, DeepViewsReadTheVariables)
{
    // Near the repelling fixed point: the pixels' offsets grow to the size of z before they escape.
    const Scene scene { "deep", "V_s = V_s + 1; z = z * z + C;", "norm(z) > 100;", nullptr, 200,
        { -0.78, -0.15 }, {}, 1.5175620435312875, 0.07370557940597337, 1e-17 };
    const auto picture = [&scene](const char* termination, const char* colour) {
        CFractalScript script;
        EXPECT_TRUE(Apply(script, scene, 24, 24));
        std::string error;
        EXPECT_TRUE(script.SetFormulas(scene.iteration, termination, error)) << error;
        EXPECT_TRUE(script.SetColorFormula(colour, error)) << error;
        EXPECT_TRUE(IsDeepView(script.TakeSnapshot()));
        return Counts(script, Way::Batched);
    };
    const std::vector<int> plain = picture("norm(z) > 100", "(V_iter_n + 0.5) / 5001");
    EXPECT_NE(std::set(plain.begin(), plain.end()).size(), 1U);
    EXPECT_EQ(picture("norm(z) > 100", "(V_iter_V_s - (V_iter_n < V_iter_max)) / 5001 + 0.5 / 5001"), plain);
    EXPECT_EQ(picture("norm(z) > 100", "(V_iter_z == z) * (V_iter_n + 0.5) / 5001"), plain);
    // The termination's latest value: V_s is the run's number plus 1.
    EXPECT_EQ(picture("V_iter_V_s > 51", "(V_iter_n + 0.5) / 5001"),
        picture("V_iter_n > 50", "(V_iter_n + 0.5) / 5001"));
}

// The deep renderer at a width the doubles hold too gives the doubles' picture where the formulas read
// the iteration's variables and the derivative (which the termination now sees on a deep view too).
TEST(IterationReads, DeepRendererAgreesWithTheDoubles)
{
    const Scene scene { "shallow", "V_m = V_m + norm(z); z = z * z + C;", "norm(z) > 100;", nullptr, 60,
        { -0.78, -0.15 }, {}, -1.6, -1.6, 3.2 / 1024 };
    const std::pair<const char*, const char*> rows[] = {
        { "norm(z) > 100", "V_iter_V_m / 5000" },
        { "(norm(z) > 1e4) + (norm(V_dz) > 1e6)", "(V_iter_n + 0.5) / 5001" },
        { "(norm(z) > 1e4) + (V_de < 2)", "(V_iter_n + 0.5) / 5001" },
        { "(norm(z) > 1e4) + (V_iter_V_m > 20)", "(V_iter_n + 0.5) / 5001" },
    };
    for (const auto& [termination, colour] : rows) {
        CFractalScript script;
        ASSERT_TRUE(Apply(script, scene, 24, 24));
        std::string error;
        ASSERT_TRUE(script.SetFormulas(scene.iteration, termination, error)) << error;
        ASSERT_TRUE(script.SetColorFormula(colour, error)) << error;
        const std::vector<int> want = Counts(script, Way::Scalar);
        const std::vector<int> got = Counts(script, Way::Deep);
        size_t differ = 0;
        for (size_t k = 0; k < want.size(); ++k) {
            differ += std::abs(want[k] - got[k]) > 1;
        }
        EXPECT_EQ(differ, 0U) << termination << "; " << colour;
        EXPECT_NE(std::set(want.begin(), want.end()).size(), 1U) << termination << "; " << colour;
    }
}

} // namespace
