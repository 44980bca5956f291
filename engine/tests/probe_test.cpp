// The probe against the renderers' own numbers (PixelData): bit for bit on shallow views, where it
// runs the scalar pixel and the pictures come from the batched one; by perturbation on deep ones.
#include "antialias.h"
#include "deeprender.h"
#include "exactview.h"
#include "numbertext.h"
#include "probe.h"
#include "renderpool.h"
#include "scenes.h"
#include "testutil.h"
#include "view.h"

#include <bit>
#include <cmath>

namespace {

// A render of picture (at its own size) with its numbers kept.
PixelTable RenderNumbers(Picture& picture, int antialias = 1)
{
    PixelTable table;
    table.Resize(picture.imageWidth, picture.imageHeight);
    const PixelData sink = table.Sink();
    QImage image(picture.imageWidth, picture.imageHeight, QImage::Format_RGB32);
    std::atomic<int> stage { 0 };
    std::atomic<bool> stop { false };
    std::atomic<double> progress { 0.0 };
    CRenderPool pool;
    EXPECT_EQ(RenderAntialiased(picture, RasterOf(image), antialias, { stage, 0, stop, progress, pool },
                  nullptr, kAntialiasBandSamples, &sink),
        kRenderDone);
    return table;
}

bool SameBits(Complex a, Complex b)
{
    return std::bit_cast<std::uint64_t>(a.re) == std::bit_cast<std::uint64_t>(b.re)
        && std::bit_cast<std::uint64_t>(a.im) == std::bit_cast<std::uint64_t>(b.im);
}

} // namespace

// Every pixel of every scene: the probe at the lattice's doubles has the batched render's count and z.
// With anti-aliasing the numbers are those of the picture at one sample per pixel.
TEST(Probe, ShallowPixelsBitForBit)
{
    for (const Scene& scene : kScenes) {
        CFractalScript script;
        ASSERT_TRUE(Apply(script, scene, 1024, 1024)) << scene.name;
        Picture picture = script.TakeSnapshot();
        ShowAtSize(picture, 24, 20);
        const PixelTable table = RenderNumbers(picture);
        EXPECT_EQ(RenderNumbers(picture, 2).counts, table.counts) << scene.name;
        const View view { picture.view.offsetX, picture.view.offsetY, picture.view.ratio };
        const std::vector<double> xs = View::LatticeLine(0, 24, 1, 1.0, view.Step(24, 1.0, 24), view.offsetX);
        const std::vector<double> ys = View::LatticeLine(0, 20, 1, 1.0, view.Step(20, 1.0, 20), view.offsetY);
        int differ = 0;
        for (int r = 0; r < 20; ++r) {
            for (int c = 0; c < 24; ++c) {
                Picture copy = picture;
                const ProbeResult probe = ProbePoint(copy, FormatShortest(xs[c]), FormatShortest(ys[r]));
                const size_t at = static_cast<size_t>(r) * 24 + static_cast<size_t>(c);
                ASSERT_EQ(probe.path, ProbePath::Doubles);
                differ += probe.count != table.counts[at] || !SameBits(probe.last, table.lasts[at]);
            }
        }
        EXPECT_EQ(differ, 0) << scene.name;
    }
}

// A deep view (1e-30 across the Misiurewicz point i of z * z + z0): the probe at each pixel's centre
// has the render's count; z differs only by the rounding of the offset, which the render forms
// from its lattice.
TEST(Probe, DeepPixelsAgreeWithTheRender)
{
    CFractalScript script;
    script.SetDefaults();
    std::string error;
    ASSERT_TRUE(script.LoadPalette(QString()));
    ASSERT_TRUE(script.SetFormulas("z = z * z + z0;", "norm(z) > 1e4;", error)) << error;
    script.SetMaxIter(2000);
    Picture picture = script.TakeSnapshot();
    constexpr int kSide = 16;
    constexpr mpfr_prec_t kBits = 256;
    bool ok = false;
    picture.view = ViewAroundCentre(BigFloat(0.0, kBits), BigFloat(1.0, kBits),
        BigFloat::Parse("1e-30", kBits, &ok) / 1024.0, 1024, 1024);
    ShowAtSize(picture, kSide, kSide);
    ASSERT_TRUE(IsDeepView(picture));
    const PixelTable table = RenderNumbers(picture);
    const PreciseView view = PreciseViewOf(picture, kBits);
    int perturbed = 0;
    for (int r = 0; r < kSide; ++r) {
        for (int c = 0; c < kSide; ++c) {
            const BigFloat x = view.offsetX + view.ratio * (c + 0.5);
            const BigFloat y = view.offsetY + view.ratio * (r + 0.5);
            Picture copy = picture;
            const ProbeResult probe = ProbePoint(copy, ShortestText(x), ShortestText(y));
            const size_t at = static_cast<size_t>(r) * kSide + static_cast<size_t>(c);
            perturbed += probe.path == ProbePath::Perturbation;
            EXPECT_EQ(probe.count, table.counts[at]) << c << "," << r;
            const Complex z = table.lasts[at];
            EXPECT_LT(std::hypot(probe.last.re - z.re, probe.last.im - z.im), 1e-9 * std::hypot(z.re, z.im))
                << c << "," << r;
        }
    }
    EXPECT_GT(perturbed, kSide * kSide / 2) << "the main reference should take most pixels";
}
