#include "fractalscript.h"
#include "testutil.h"

#include <chrono>
#include <thread>

namespace {

constexpr QRgb kUntouched = 0xff0000c8; // blue 200: no pixel of IndexedPalette(<= 1000, ...) has it

// A script with the default formulas and a palette whose every pixel has its own colour.
void Prepare(CFractalScript& script, int paletteWidth = 1000, int paletteHeight = 50)
{
    script.SetDefaults();
    static QTemporaryDir dir;
    const QString path
        = dir.filePath(QStringLiteral("indexed-%1x%2.png").arg(paletteWidth).arg(paletteHeight));
    if (!QFile::exists(path)) {
        ASSERT_TRUE(IndexedPalette(paletteWidth, paletteHeight).save(path));
    }
    ASSERT_TRUE(script.LoadPalette(path, PaletteFallback::None));
}

QImage Target(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(kUntouched);
    return image;
}

TEST(Renderer, ResultCodes)
{
    CFractalScript script;
    Prepare(script);
    QImage target = Target(20, 10);
    Raster raster = RasterOf(target);

    script.PreviewWorker().m_dRenderProgress.store(0.5);
    EXPECT_EQ(script.Render(Raster {}, 0, 0, 20, 10, 1, 1, 1, 1), 1);
    EXPECT_EQ(script.PreviewWorker().m_dRenderProgress.load(), 0.0) << "every call starts the progress at 0";

    Raster wrongDepth = raster;
    wrongDepth.bitsPerPixel = 24;
    EXPECT_EQ(script.Render(wrongDepth, 0, 0, 20, 10, 1, 1, 1, 1), 2);

    CFractalScript noPalette;
    noPalette.SetDefaults();
    EXPECT_EQ(noPalette.Render(raster, 0, 0, 20, 10, 1, 1, 1, 1), 3);

    std::string err;
    ASSERT_FALSE(script.SetFormulas("z1 = z1 * z1;", "norm(z) > 4;", err));
    script.PreviewWorker().m_dRenderProgress.store(0.5);
    EXPECT_EQ(script.Render(raster, 0, 0, 20, 10, 1, 1, 1, 1), 4);
    EXPECT_EQ(script.PreviewWorker().m_dRenderProgress.load(), 0.0);

    script.SetDefaults();
    script.PreviewWorker().m_bStopRequest.store(true);
    EXPECT_EQ(script.Render(raster, 0, 0, 20, 10, 1, 1, 1, 1), 5);
    script.PreviewWorker().m_bStopRequest.store(false);
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 20; ++x) {
            ASSERT_EQ(target.pixel(x, y), kUntouched) << "codes 1 to 5 before any pixel draw nothing";
        }
    }

    EXPECT_EQ(script.Render(raster, 0, 0, 20, 10, 1, 1, 1, 1), 0);
    EXPECT_EQ(script.PreviewWorker().m_dRenderProgress.load(), 1.0);
    EXPECT_NE(target.pixel(0, 0), kUntouched);
}

// The whole picture against a plain loop written here: the serial walk over the plane, the
// escape-time iteration, the colour formula and the palette mapping, pixel for pixel.
TEST(Renderer, MatchesAPlainReferenceLoop)
{
    CFractalScript script;
    Prepare(script);
    std::string err;
    // V_k must start every pixel at 0: carried over from the previous pixel it would change the picture.
    ASSERT_TRUE(
        script.SetFormulas("V_k = V_k * 0.5 + 1; z = z * z + C + V_k / 1024;", "norm(z) > 100;", err));
    script.SetMapping(0.1, 0.2, 0.8, 1.3, 0.3, 0.9, 1.1);
    const PaletteMapping m = script.GetMapping();
    const Complex c = script.GetCurrentConstant();
    const int w = 120;
    const int h = 90;
    QImage target = Target(w, h);
    ASSERT_EQ(script.Render(RasterOf(target), 0, 0, w, h, 1, 1, 1, 1), 0);

    const QImage& palette = script.GetPalette();
    const double dx = 1024 * 0.001953125 * 1.0 / w;
    const double dy = 1024 * 0.001953125 * 1.0 / h;
    double y = 0.5 / 1.0 * dy + -1.0;
    int differences = 0;
    for (int row = 0; row < h; ++row, y += dy) {
        double x = 0.5 / 1.0 * dx + -1.0;
        for (int column = 0; column < w; ++column, x += dx) {
            Complex z { x, y };
            Complex k {};
            int n = 0;
            for (;;) {
                k = Add(Mul(k, { 0.5, 0 }), { 1, 0 });
                z = Add(Add(Mul(z, z), c), Div(k, { 1024, 0 }));
                if (z.re * z.re + z.im * z.im > 100) {
                    break;
                }
                if (++n >= 256) {
                    break;
                }
            }
            const Complex colour = Div({ static_cast<double>(n), 0 }, { 256, 0 });
            const double u = colour.re * m.dx * m.stretch;
            const double v = colour.im * m.dy * m.stretch;
            const int px = std::clamp(static_cast<int>((u * m.cos + m.x0 - v * m.sin) * 1000), 0, 999);
            const int py = std::clamp(static_cast<int>((v * m.cos + u * m.sin + m.y0) * 50), 0, 49);
            if (target.pixel(column, row) != palette.pixel(px, py)) {
                ++differences;
            }
        }
    }
    EXPECT_EQ(differences, 0);
}

TEST(Renderer, LatticeOfAFinePass)
{
    CFractalScript script;
    Prepare(script);
    QImage target = Target(480, 480);
    ASSERT_EQ(script.Render(RasterOf(target), 2, 5, 482, 485, 6, 6, 6, 6), 0);
    for (int y = 0; y < 480; ++y) {
        for (int x = 0; x < 480; ++x) {
            const bool lattice = (x - 2) % 6 == 0 && (y - 5) % 6 == 0 && x >= 2 && y >= 5;
            ASSERT_EQ(target.pixel(x, y) != kUntouched, lattice) << x << ", " << y;
        }
    }
    // The coarse pass lands in the top-left corner of a larger target.
    QImage coarse = Target(480, 480);
    ASSERT_EQ(script.Render(RasterOf(coarse), 0, 0, 80, 80, 1, 1, 1, 1), 0);
    EXPECT_NE(coarse.pixel(79, 79), kUntouched);
    EXPECT_EQ(coarse.pixel(80, 0), kUntouched);
    EXPECT_EQ(coarse.pixel(0, 80), kUntouched);
}

TEST(Renderer, PaletteMapping)
{
    struct Row {
        const char* colour;
        PaletteMapping mapping;
        int column, row;
    };
    const PaletteMapping identity;
    const Row rows[] = {
        { "0", identity, 0, 0 },
        { "0.5", identity, 500, 0 },
        { "1", identity, 999, 0 }, // 1.0 maps to W, clamped to W - 1
        { "0 - 0.3", identity, 0, 0 },
        { "2.7", identity, 999, 0 },
        { "0.5 + 0.5i", identity, 500, 25 },
        { "1e300 + 1e300i", identity, 999, 49 },
        { "0 - 1e300", identity, 0, 0 },
        { "exp(1000)", identity, 0, 0 }, // infinite: index 0, not the last column
        { "0 - exp(1000)", identity, 0, 0 },
        { "1 / 0", identity, 0, 0 },                      // NaN
        { "0.5", { 0.25, 0.1, 1, 1, 1, 0, 1 }, 250, 30 }, // 90 degrees: a palette column
        { "0.25", { 0, 0, 2, 1, 0, 1, 1.5 }, 750, 0 },    // scale and stretch
        { "0.5", { 0, 0, 1, 1, 0, 1, 0 }, 0, 0 },         // stretch 0
        { "0.25i", { 0, 0, 1, 2, 0, 1, 1 }, 0, 25 },
    };
    CFractalScript script;
    Prepare(script);
    for (const Row& row : rows) {
        std::string err;
        ASSERT_TRUE(script.SetColorFormula(row.colour, err)) << row.colour;
        script.SetMapping(row.mapping);
        QImage target = Target(4, 4);
        ASSERT_EQ(script.Render(RasterOf(target), 0, 0, 4, 4, 1, 1, 1, 1), 0);
        EXPECT_EQ(PaletteColumn(target.pixel(3, 3)), row.column) << row.colour;
        EXPECT_EQ(PaletteRow(target.pixel(3, 3)), row.row) << row.colour;
    }
}

TEST(Renderer, IterationLimitZeroAndColourInputs)
{
    CFractalScript script;
    Prepare(script);
    std::string err;
    // With a limit of 1 every pixel inside the set stops after one run: n = 1, V_iter_max = 1.
    script.SetMaxIter(1);
    ASSERT_TRUE(script.SetColorFormula("z * 0 + V_iter_n / 4 + V_iter_max / 4", err));
    QImage target = Target(8, 8);
    ASSERT_EQ(script.Render(RasterOf(target), 0, 0, 8, 8, 1, 1, 1, 1), 0);
    EXPECT_EQ(PaletteColumn(target.pixel(4, 4)), 500);

    // z0 is the pixel's plane point in every formula.
    ASSERT_TRUE(script.SetColorFormula("real(z0) + 1", err));
    script.SetMapping(0, 0, 0.5, 1, 0, 1, 1);
    ASSERT_EQ(script.Render(RasterOf(target), 0, 0, 8, 8, 1, 1, 1, 1), 0);
    EXPECT_EQ(PaletteColumn(target.pixel(0, 0)), static_cast<int>((1 - 1 + 0.125) * 0.5 * 1000));
}

TEST(Renderer, AbortKeepsTheRowsDrawn)
{
    CFractalScript script;
    Prepare(script);
    script.SetMaxIter(10000);
    ASSERT_TRUE(script.SetCurrentConstant({ 0, 0 }));
    script.SetView(-0.1, -0.1, 0.2 / 1024); // z * z never leaves the unit disc: every pixel runs 10000 times
    QImage target = Target(200, 200);
    int result = -1;
    std::thread render([&] { result = script.Render(RasterOf(target), 0, 0, 200, 200, 1, 1, 1, 1); });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (script.PreviewWorker().m_dRenderProgress.load() < 0.02
        && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const double progress = script.PreviewWorker().m_dRenderProgress.load();
    script.PreviewWorker().m_nStage.store(99);
    render.join();
    EXPECT_EQ(result, 5);
    // Pixels finish out of order (each thread its own batches): count them rather than look at one.
    int drawn = 0;
    for (int y = 0; y < 200; ++y) {
        for (int x = 0; x < 200; ++x) {
            drawn += target.pixel(x, y) != kUntouched ? 1 : 0;
        }
    }
    EXPECT_GE(drawn, static_cast<int>(progress * 200 * 200)) << "pixels already drawn stay";
    EXPECT_EQ(target.pixel(199, 199), kUntouched);
    EXPECT_LT(script.PreviewWorker().m_dRenderProgress.load(), 1.0);
}

} // namespace
