// Pictures of formulas with functions, pinned. This file is built into the engine's tests and, a
// second time, into a test program whose C library functions (sin, exp, hypot, pow, ...) are
// replaced by perturbed ones (perturbedlibm.cpp): the same pins hold in both, so no C library
// function decides a pixel, on the interpreter, the generated code or the deep path.
#include "batchjit.h"
#include "deeprender.h"
#include "exactview.h"
#include "fractalscript.h"
#include "renderer.h"
#include "renderpool.h"
#include "scenes.h"
#include "testutil.h"

#include <cinttypes>

namespace {

// FNV-1a over the escape counts.
uint64_t Hash(const QImage& image)
{
    uint64_t hash = 1469598103934665603ull;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            hash = (hash ^ static_cast<uint32_t>(CountOf(image.pixel(x, y)))) * 1099511628211ull;
        }
    }
    return hash;
}

uint64_t Render(CFractalScript& script, int side, bool scalar, CDeepSession* session = nullptr)
{
    Picture picture = script.TakeSnapshot();
    QImage image(side, side, QImage::Format_RGB32);
    image.fill(Qt::black);
    std::atomic<int> stage { 0 };
    std::atomic<bool> stop { false };
    std::atomic<double> progress { 0.0 };
    const RenderControl control { stage, 0, stop, progress, script.RenderPool(), session };
    const RenderArea area { 0, 0, side, side, 1, 1, 1, 1 };
    const int result = scalar ? RenderPictureScalar(picture, RasterOf(image), area, control, nullptr)
                              : RenderPicture(picture, RasterOf(image), area, control, nullptr);
    EXPECT_EQ(result, kRenderDone);
    return Hash(image);
}

// Every function of the language, number literals with exponents, and abs of real values.
const Scene kFunctionScenes[] = {
    { "sine julia", "z = C * sin(z);", "abs(imag(z)) > 50;", nullptr, 200, { 1.0, 0.4 }, {}, -3.0, -3.0,
        6.0 / 1024 },
    { "exp julia", "z = exp(z) + C;", "real(z) > 50;", nullptr, 200, { -0.65, 0.1 }, {}, -2.0, -2.0,
        4.0 / 1024 },
    { "stalks", "z = z * z + C;", "(norm(z) > 4) + (abs(real(z)) < 0.05) + (abs(imag(z)) < 0.05);", nullptr,
        200, { -0.74, 0.12 }, {}, -1.6, -1.6, 3.2 / 1024 },
    { "every function",
        "z = z * z + C + 1.5e-3 * (tan(z) + tanh(z) + log10(z) + sqrt(z) + cosh(z) + sinh(z) + cos(z) + "
        "arg(z) "
        "+ abs(z) + 2.5e-1 * exp(z));",
        "norm(z) > 1e2;", nullptr, 40, { -0.7, 0.3 }, {}, -1.6, -1.6, 3.2 / 1024 },
};

// The scalar renderer gives the pinned hash, and the batched one the same bits with generated code
// off and on every instruction set this machine has.
void ExpectPinnedEveryWay(const Scene& scene, uint64_t pin)
{
    CFractalScript script;
    ASSERT_TRUE(Apply(script, scene, 64, 64)) << scene.name;
    const uint64_t scalar = Render(script, 64, true);
    EXPECT_EQ(scalar, pin) << scene.name << ": 0x" << std::hex << scalar;
    std::vector<JitUse> ways { JitUse::Off };
    for (const JitIsa isa : CBatchJit::AvailableIsas()) {
        ways.push_back(isa == JitIsa::Avx512 ? JitUse::Avx512 : JitUse::Avx2);
    }
    for (const JitUse use : ways) {
        script.RenderPool().SetJitUse(use);
        EXPECT_EQ(Render(script, 64, false), scalar) << scene.name << " way " << static_cast<int>(use);
    }
}

TEST(SameBits, FunctionPicturesPinned)
{
    const uint64_t pins[]
        = { 0x156315038864c041ull, 0x62ff770cbbcf9ddfull, 0xbd6d9faaa286c35aull, 0xce9a1a723a2a77f0ull };
    for (size_t k = 0; k < std::size(kFunctionScenes); ++k) {
        ExpectPinnedEveryWay(kFunctionScenes[k], pins[k]);
    }
}

// Colours from the orbit's derivative: the termination formula reads it after every iteration, the
// colour formula at the end; a formula that is not complex-differentiable has a d/dy of its own.
TEST(SameBits, DerivativePicturesPinned)
{
    const char* const colour = "V_t = abs(V_de); (V_t / (V_t + 1)) * 0.8 + real(V_dir) * 0.05 + 0.1";
    const Scene scenes[] = {
        { "distance", "z = z * z + C;", "(norm(z) > 1e6) + (norm(V_dz) > 1e300);", colour, 200,
            { -0.78, -0.15 }, {}, -1.6, -1.6, 3.2 / 1024 },
        { "tricorn", "z = conj(z)^2 + C;", "norm(z) > 1e6;",
            "V_t = abs(V_dzy) + abs(V_dz); 0.9 * V_t / (V_t + 1) + 0.05", 100, { -0.2, 0.6 }, {}, -1.6, -1.6,
            3.2 / 1024 },
    };
    const uint64_t pins[] = { 0xbb52e7aac490fe9eull, 0x15d55cbe494f5383ull };
    for (size_t k = 0; k < std::size(scenes); ++k) {
        ExpectPinnedEveryWay(scenes[k], pins[k]);
    }
}

// The deep path's doubles: its delta forms of sin, exp and log, and its moduli.
TEST(SameBits, DeepPicturesPinned)
{
    const struct {
        const char* iteration;
        Complex c;
        double x, y;
        uint64_t pin;
    } rows[] = {
        { "z = C * sin(z);", { 2.0, 1.0 }, 0.0, 0.0, 0xc2b0bc9e2ee7491aull },
        { "z = exp(2 * log(z)) + C;", { -0.78, -0.15 }, 1.2, 0.1, 0xcbf6d37dedbe0383ull },
    };
    for (const auto& row : rows) {
        CFractalScript script;
        script.SetDefaults();
        std::string error;
        ASSERT_TRUE(script.SetFormulas(row.iteration, "norm(z) > 1e4;", error)) << error;
        script.SetCurrentConstant(row.c);
        script.SetMaxIter(1000);
        script.SetImageSize(1024, 1024);
        ASSERT_TRUE(CountEscapes(script));
        script.SetView(row.x, row.y, 1e-20);
        ASSERT_TRUE(IsDeepView(script.TakeSnapshot())) << row.iteration;
        CDeepSession session;
        const uint64_t hash = Render(script, 32, false, &session);
        EXPECT_EQ(hash, row.pin) << row.iteration << ": 0x" << std::hex << hash;
    }
}

TEST(SameBits, IterationReadPicturesPinned)
{
    const Scene scenes[] = {
        { "stripe average",
            "V_t = V_t + 1; V_a = V_s; V_s = V_s + 0.5 * sin(5 * arg(z)) + 0.5; z = z * z + C;",
            "norm(z) > 1e20;",
            "V_d = 1 - log(log(abs(z) + 2) / log(1e10)) / log(2); V_d = V_d - (V_d - 1) * (V_d > 1); "
            "V_m = V_d * V_iter_V_s / V_iter_V_t + (1 - V_d) * V_iter_V_a / (V_iter_V_t - 1); "
            "0.6 + 0.39 * V_m + (0.1 + 0.3 * V_m)i;",
            256, { -0.75, 0.11 }, {}, -1.3, -1.3, 2.6 / 1024 },
        { "orbit trap",
            "V_q = 1 / (1 + 25 * abs(abs(z) - 0.5)); V_m = V_m + (V_q - V_m) * (V_q > V_m); z = z * z + C;",
            "(norm(z) > 100) + (V_iter_V_m > 0.9);",
            "V_m = V_iter_V_m; 0.03 + 0.17 * V_m + (0.02 + 0.6 * V_m ^ 6)i;", 200, { -0.4, 0.6 }, {}, -1.3,
            -1.3, 2.6 / 1024 },
    };
    const uint64_t pins[] = { 0x3aeb07c107dd2b85ull, 0xb9575b1f5058d057ull };
    for (size_t k = 0; k < std::size(scenes); ++k) {
        ExpectPinnedEveryWay(scenes[k], pins[k]);
    }
}

} // namespace
