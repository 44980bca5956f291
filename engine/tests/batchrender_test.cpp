#include "batchjit.h"
#include "batchlanes.h"
#include "fractalscript.h"
#include "mapping.h"
#include "renderer.h"
#include "renderpool.h"
#include "scenes.h"
#include "testutil.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <limits>

namespace {

enum class Way { Scalar, Batched };

// Runs one renderer directly on a snapshot of the script.
int RenderWith(Way way, CFractalScript& script, QImage& target, const RenderArea& area,
    RenderStats* stats = nullptr)
{
    Picture picture = script.TakeSnapshot();
    std::atomic<int> stage { 0 };
    std::atomic<bool> stop { false };
    std::atomic<double> progress { 0.0 };
    const RenderControl control { stage, 0, stop, progress, script.RenderPool() };
    const Raster raster = RasterOf(target);
    const int result = way == Way::Scalar ? RenderPictureScalar(picture, raster, area, control, stats)
                                          : RenderPicture(picture, raster, area, control, stats);
    EXPECT_EQ(progress.load(), result == 0 ? 1.0 : progress.load());
    return result;
}

// FNV-1a over the escape counts, row by row.
uint64_t CountHash(const QImage& image)
{
    uint64_t hash = 1469598103934665603ull;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const uint32_t count = static_cast<uint32_t>(CountOf(image.pixel(x, y)));
            for (int byte = 0; byte < 4; ++byte) {
                hash = (hash ^ ((count >> (8 * byte)) & 0xffu)) * 1099511628211ull;
            }
        }
    }
    return hash;
}

// The batched renderer on the interpreter, then on the code generated for each instruction set the
// generator has on this processor.
std::vector<JitUse> BatchedWays()
{
    std::vector<JitUse> ways { JitUse::Off };
    for (const JitIsa isa : CBatchJit::AvailableIsas()) {
        ways.push_back(isa == JitIsa::Avx512 ? JitUse::Avx512 : JitUse::Avx2);
    }
    return ways;
}

// The script's renders run on one way, on so many threads.
void RenderOn(CFractalScript& script, JitUse use, int threads)
{
    script.RenderPool().SetJitUse(use);
    script.RenderPool().SetThreads(threads);
}

// Every way of computing gives the same picture: one pixel at a time, or in batches on any number
// of threads, for the whole picture and for a fine pass of the preview.
TEST(BatchedRender, SamePictureEveryWay)
{
    for (const Scene& scene : kScenes) {
        CFractalScript script;
        ASSERT_TRUE(Apply(script, scene, 96, 72)) << scene.name;
        const RenderArea areas[] = { { 0, 0, 96, 72, 1, 1, 1, 1 }, { 4, 1, 96 + 4, 72 + 1, 6, 6, 6, 6 } };
        for (const RenderArea& area : areas) {
            QImage reference(96, 72, QImage::Format_RGB32);
            reference.fill(Qt::black);
            ASSERT_EQ(RenderWith(Way::Scalar, script, reference, area), 0) << scene.name;
            for (const JitUse use : BatchedWays()) {
                for (const int threads : { 1, 2, 3, 7 }) {
                    RenderOn(script, use, threads);
                    QImage batched(96, 72, QImage::Format_RGB32);
                    batched.fill(Qt::black);
                    ASSERT_EQ(RenderWith(Way::Batched, script, batched, area), 0) << scene.name;
                    EXPECT_TRUE(batched == reference) << scene.name << " on " << threads << " threads, step "
                                                      << area.stepX << ", way " << static_cast<int>(use);
                }
            }
        }
    }
}

// Pinned escape counts: a build that fuses a multiply and an add, or any other change of the
// arithmetic, changes them. The default picture's value was also computed by an independent loop
// (the serial walk over the plane, IEEE doubles, no fused operations). The renderers' own count of
// iteration runs must agree with the picture's escape counts, on any number of threads.
TEST(BatchedRender, PinnedEscapeCounts)
{
    const struct {
        int scene;
        int side;
        uint64_t hash;
        long long runs; // 0: not pinned
    } rows[] = { { 0, 1024, 0x1193e293a9793df3ull, 20'611'394 }, { 1, 256, 0x4f703b746e300a77ull, 0 },
        { 2, 128, 0xf31e4817da5e637dull, 0 } };
    for (const JitUse use : BatchedWays()) {
        for (const auto& row : rows) {
            CFractalScript script;
            ASSERT_TRUE(Apply(script, kScenes[row.scene], row.side, row.side));
            QImage image(row.side, row.side, QImage::Format_RGB32);
            RenderOn(script, use, 3);
            RenderStats stats;
            ASSERT_EQ(RenderWith(Way::Batched, script, image, { 0, 0, row.side, row.side, 1, 1, 1, 1 }, &stats), 0);
            const uint64_t hash = CountHash(image);
            EXPECT_EQ(hash, row.hash) << kScenes[row.scene].name << " way " << static_cast<int>(use) << ": 0x" << std::hex << hash;
            EXPECT_EQ(stats.iterations, IterationRuns(image, kScenes[row.scene].maxIter)) << kScenes[row.scene].name;
            EXPECT_EQ(stats.threads, 3);
            if (row.runs != 0) {
                EXPECT_EQ(stats.iterations, row.runs);
            }
            if (row.side <= 256) {
                RenderStats scalar;
                ASSERT_EQ(RenderWith(Way::Scalar, script, image, { 0, 0, row.side, row.side, 1, 1, 1, 1 }, &scalar), 0);
                EXPECT_EQ(scalar.iterations, stats.iterations) << kScenes[row.scene].name;
            }
        }
    }
}

TEST(BatchedRender, StopsAndReportsProgress)
{
    CFractalScript script;
    ASSERT_TRUE(Apply(script, kScenes[0], 200, 200));
    QImage image(200, 200, QImage::Format_RGB32);
    image.fill(Qt::black);
    Picture picture = script.TakeSnapshot();
    std::atomic<int> stage { 3 };
    std::atomic<bool> stop { false };
    std::atomic<double> progress { 0.5 };
    // A stage that differs from the generation: nothing is drawn.
    EXPECT_EQ(RenderPicture(picture, RasterOf(image), { 0, 0, 200, 200, 1, 1, 1, 1 },
                  { stage, 2, stop, progress, script.RenderPool() }),
        5);
    EXPECT_EQ(progress.load(), 0.0);
    EXPECT_EQ(image.pixel(100, 100), qRgb(0, 0, 0));
    stop.store(true);
    EXPECT_EQ(RenderPicture(picture, RasterOf(image), { 0, 0, 200, 200, 1, 1, 1, 1 },
                  { stage, 3, stop, progress, script.RenderPool() }),
        5);
    // Rows and columns outside the target are stepped over; the progress still ends at 1.
    stop.store(false);
    EXPECT_EQ(RenderPicture(picture, RasterOf(image), { -50, -50, 250, 250, 1, 1, 1, 1 },
                  { stage, 3, stop, progress, script.RenderPool() }),
        0);
    EXPECT_EQ(progress.load(), 1.0);
}

// The colour formula's inputs are handed over in batches: a formula that assigns them, or carries a
// variable, must still see each pixel's own values, as the one-pixel renderer gives them.
TEST(BatchedRender, ColourFormulasThatAssignTheirInputs)
{
    const char* const formulas[] = {
        "z = z * 2; V_iter_n = V_iter_n + 1; z0 = z0 * 3; z0 + z / 10 + V_iter_n / V_iter_max",
        "V_c = V_c + z + 1; V_c / 4 + V_iter_n / V_iter_max",
        "V_iter_n = V_iter_n * 2; V_iter_n / V_iter_max",
        "real(z0) + imag(z) * 0.1",
    };
    for (const char* formula : formulas) {
        CFractalScript script;
        ASSERT_TRUE(Apply(script, kScenes[3], 96, 72));
        std::string error;
        ASSERT_TRUE(script.SetColorFormula(formula, error)) << formula << ": " << error;
        const RenderArea area { 0, 0, 96, 72, 1, 1, 1, 1 };
        QImage reference(96, 72, QImage::Format_RGB32);
        ASSERT_EQ(RenderWith(Way::Scalar, script, reference, area), 0);
        for (const JitUse use : BatchedWays()) {
            RenderOn(script, use, 2);
            QImage batched(96, 72, QImage::Format_RGB32);
            ASSERT_EQ(RenderWith(Way::Batched, script, batched, area), 0);
            EXPECT_TRUE(batched == reference) << formula << ", way " << static_cast<int>(use);
        }
    }
}

// The mapping of a batch of colours lands every value where the one-colour mapping does: not a
// number, infinities, the edges of the palette and of the int range.
TEST(BatchedRender, BatchMappingMatchesMapColour)
{
    constexpr double inf = std::numeric_limits<double>::infinity();
    constexpr double big = std::numeric_limits<double>::max();
    const double values[] = { std::nan(""), -std::nan(""), inf, -inf, big, -big, 0.0, -0.0, 4.9e-324,
        -4.9e-324, 0.5, 1.0, std::nextafter(1.0, 0.0), std::nextafter(1.0, 2.0), 0.999, 0.001, -0.001,
        2147483648.0, -2147483649.0, 1e300, 3.0 / 7.0 };
    const PaletteMapping mappings[] = { IdentityMapping(1.0), { 0.25, -0.5, 2.0, 0.5, 0.6, 0.8, 1.5 },
        { 0.0, 0.0, 1e-300, -1e300, 1.0, 0.0, 3.0 }, { 0.1, 0.2, 1.0, 1.0, std::nan(""), 1.0, 1.0 } };
    const int sizes[][2] = { { 1, 1 }, { 1000, 1 }, { 7, 3 }, { 256, 256 } };
    std::vector<double> re;
    std::vector<double> im;
    for (const double a : values) {
        for (const double b : values) {
            re.push_back(a);
            im.push_back(b);
        }
    }
    const int n = static_cast<int>(re.size()); // not a whole number of vectors
    std::vector<decltype(&MapColours)> maps { MapColours };
    const std::vector<JitIsa> isas = CBatchJit::AvailableIsas();
    if (std::find(isas.begin(), isas.end(), JitIsa::Avx512) != isas.end()) {
        maps.push_back(MapColoursAvx512);
    }
    std::vector<int> xs(re.size());
    std::vector<int> ys(re.size());
    for (const PaletteMapping& mapping : mappings) {
        for (const auto& size : sizes) {
            for (const auto map : maps) {
                map(mapping, re.data(), im.data(), n, size[0], size[1], xs.data(), ys.data());
                for (int k = 0; k < n; ++k) {
                    const PalettePoint at = MapColour(mapping, { re[k], im[k] }, size[0], size[1]);
                    ASSERT_EQ(xs[k], at.x) << re[k] << ", " << im[k] << " in " << size[0] << " x " << size[1];
                    ASSERT_EQ(ys[k], at.y) << re[k] << ", " << im[k] << " in " << size[0] << " x " << size[1];
                }
            }
        }
    }
}

} // namespace

// The code generated for a formula set is kept by the pool and reused by the renders after it (the
// preview's passes, an export), over lanes of their own and with other constants: the same pictures
// as one pixel at a time, and no code generated again. Another iteration formula gets code of its own.
TEST(BatchedRender, CodeGeneratedOnceAndReused)
{
    CFractalScript script;
    ASSERT_TRUE(Apply(script, kScenes[0], 96, 72));
    RenderOn(script, JitUse::Default, 2);
    const CJitCache& cache = script.RenderPool().JitCache();
    JitIsa isa;
    const bool generates = CBatchJit::Chosen({}, 0, JitUse::Default, isa, &cache);
    const RenderArea areas[] = { { 0, 0, 16, 12, 1, 1, 1, 1 }, { 4, 1, 96 + 4, 72 + 1, 6, 6, 6, 6 },
        { 0, 0, 96, 72, 1, 1, 1, 1 } };
    for (size_t k = 0; k < std::size(areas); ++k) {
        script.SetCurrentConstant({ -0.78 + 0.01 * static_cast<double>(k), -0.15 });
        QImage reference(96, 72, QImage::Format_RGB32), batched(96, 72, QImage::Format_RGB32);
        reference.fill(Qt::black);
        batched.fill(Qt::black);
        ASSERT_EQ(RenderWith(Way::Scalar, script, reference, areas[k]), 0);
        ASSERT_EQ(RenderWith(Way::Batched, script, batched, areas[k]), 0);
        EXPECT_TRUE(batched == reference) << "render " << k;
        // The iteration's block and the colour formula's.
        EXPECT_EQ(cache.Generated(), generates ? 2 : 0) << "render " << k;
    }
    Scene cubic = kScenes[0];
    cubic.iteration = "z = z * z * z + C;";
    ASSERT_TRUE(Apply(script, cubic, 96, 72));
    QImage other(96, 72, QImage::Format_RGB32);
    ASSERT_EQ(RenderWith(Way::Batched, script, other, areas[2]), 0);
    EXPECT_EQ(cache.Size(), generates ? 3u : 0u); // the same colour formula's code serves it
}

// The generated loop's trims keep every bit: squares reused across the iteration's end (or not, when
// something writes the value between), the termination test as a mask (or as a value, when the
// formula reads it), and homes loaded and stored at a block's edges only where they matter.
TEST(BatchedRender, TrimmedLoopKeepsTheBits)
{
    const struct {
        const char* iteration;
        const char* termination;
    } rows[] = {
        { "z = z * z; z = z + C;", "100 < norm(z);" },
        { "V_n = norm(z); z = z * z + C + V_n / 1024;", "norm(z) >= 100;" },
        { "z = z * z + C; V_a = z; z = V_a * V_a + C / 2;", "norm(z) > 100;" },
        { "V_k = V_k * 0.5 + 1; z = z * z + C * V_k;", "V_t = norm(z); V_t > 100 + V_t * 0;" },
        { "z = z * z + C;", "real(z) * real(z) + imag(z) * imag(z) > 100;" },
    };
    for (const auto& row : rows) {
        Scene scene = kScenes[0];
        scene.iteration = row.iteration;
        scene.termination = row.termination;
        CFractalScript script;
        ASSERT_TRUE(Apply(script, scene, 64, 48)) << row.iteration;
        QImage reference(64, 48, QImage::Format_RGB32), batched(64, 48, QImage::Format_RGB32);
        ASSERT_EQ(RenderWith(Way::Scalar, script, reference, { 0, 0, 64, 48, 1, 1, 1, 1 }), 0);
        for (const JitUse use : BatchedWays()) {
            RenderOn(script, use, 2);
            ASSERT_EQ(RenderWith(Way::Batched, script, batched, { 0, 0, 64, 48, 1, 1, 1, 1 }), 0);
            EXPECT_TRUE(batched == reference) << row.iteration << " " << row.termination << " way "
                                              << static_cast<int>(use);
        }
    }
}
