// V_iter_<name>: the termination and colour formulas reading the iteration formula's variables. Each
// row's picture must equal one drawn without the new names, on the scalar renderer and the batched one
// with generated code off and on (which hands such pictures to the interpreter).
#include "batchjit.h"
#include "deepsession.h"
#include "exactview.h"
#include "renderer.h"
#include "renderpool.h"
#include "scenes.h"
#include "testutil.h"

#include <gtest/gtest.h>

namespace {

std::vector<int> Counts(CFractalScript& script, bool scalar, CDeepSession* session = nullptr)
{
    constexpr int kSide = 24;
    Picture picture = script.TakeSnapshot();
    QImage image(kSide, kSide, QImage::Format_RGB32);
    image.fill(Qt::black);
    std::atomic<int> stage { 0 };
    std::atomic<bool> stop { false };
    std::atomic<double> progress { 0.0 };
    const RenderControl control { stage, 0, stop, progress, script.RenderPool(), session };
    const RenderArea area { 0, 0, kSide, kSide, 1, 1, 1, 1 };
    const int result = scalar ? RenderPictureScalar(picture, RasterOf(image), area, control, nullptr)
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
        const std::vector<int> want = Counts(expected, true);

        CFractalScript script;
        ASSERT_TRUE(Apply(script, scene, 24, 24));
        ASSERT_TRUE(script.SetFormulas(iteration, row.termination, error)) << error;
        ASSERT_TRUE(script.SetColorFormula(row.colour, error)) << error;
        EXPECT_EQ(Counts(script, true), want) << row.what << ": scalar";
        std::vector<JitUse> ways { JitUse::Off };
        for (const JitIsa isa : CBatchJit::AvailableIsas()) {
            ways.push_back(isa == JitIsa::Avx512 ? JitUse::Avx512 : JitUse::Avx2);
        }
        for (const JitUse use : ways) {
            script.RenderPool().SetJitUse(use);
            EXPECT_EQ(Counts(script, false), want) << row.what << ": batched, way " << static_cast<int>(use);
        }
    }
}

// The deep path does not carry the iteration's variables at full value yet: both formulas read NaN
// there, never the formula's own 0.
TEST(IterationReads, DeepViewsReadNaN)
{
    const Scene scene { "deep", "V_s = V_s + 1; z = z * z + C;", "norm(z) > 100;", nullptr, 200,
        { -0.78, -0.15 }, {}, 0.0, 0.0, 1e-20 };
    const auto picture = [&scene](const char* termination, const char* colour) {
        CFractalScript script;
        EXPECT_TRUE(Apply(script, scene, 24, 24));
        std::string error;
        EXPECT_TRUE(script.SetFormulas(scene.iteration, termination, error)) << error;
        EXPECT_TRUE(script.SetColorFormula(colour, error)) << error;
        EXPECT_TRUE(IsDeepView(script.TakeSnapshot()));
        CDeepSession session;
        return Counts(script, false, &session);
    };
    EXPECT_EQ(picture("norm(z) > 100", "(V_iter_V_s != V_iter_V_s) * 9.5 / 5001 + (V_iter_n + 0.5) / 5001"),
        picture("norm(z) > 100", "(V_iter_n + 10) / 5001"));
    EXPECT_EQ(picture("(norm(z) > 100) + (V_iter_V_s < 1e9)", "(V_iter_n + 0.5) / 5001"),
        picture("norm(z) > 100", "(V_iter_n + 0.5) / 5001"));
}

} // namespace
