#include "constantmap.h"
#include "renderer.h"
#include "renderpool.h"
#include "testutil.h"

#include <atomic>

namespace {

// A picture of iteration and termination texts over a palette whose columns tell the escape count.
struct MapScene {
    QImage palette = IndexedPalette(1000, 4);
    Picture picture;

    MapScene(const char* iteration, const char* termination)
    {
        std::string message;
        EXPECT_EQ(picture.iterFormula.Compile(iteration, message), 0) << message;
        EXPECT_EQ(picture.termFormula.Compile(termination, message), 0) << message;
        picture.maxIter = 50;
        picture.palette.raster = RasterOf(palette);
    }
};

// Every map point C iterates the formula with the mapped constant at C from the start point; its colour
// is its escape count's, whatever else the formula holds (another constant, z0, several statements).
TEST(ConstantMap, EachPointIteratesItsConstantFromTheStart)
{
    const struct {
        const char* iteration;
        const char* termination;
        int constant;
        Complex start;
        Complex (*step)(Complex z, Complex c, Complex start);
    } rows[] = {
        { "z = z * z + C;", "norm(z) > 4;", 0, {},
            [](Complex z, Complex c, Complex) { return Add(Mul(z, z), c); } },
        { "z = z * z + Ca + C;", "norm(z) > 4;", 1, { 0.5, 0 },
            [](Complex z, Complex c, Complex) {
                return Add(Add(Mul(z, z), { 0.25, 0 }), c);
            } },
        { "zw = z * C;\nz = zw + z0;", "norm(z) > 9;", 0, { 0.1, 0.2 },
            [](Complex z, Complex c, Complex start) { return Add(Mul(z, c), start); } },
    };
    for (const auto& row : rows) {
        MapScene scene(row.iteration, row.termination);
        if (scene.picture.iterFormula.GetConstantCount() > 1) {
            scene.picture.iterFormula.SetConstant(0, { 0.25, 0 }); // Ca, not mapped: keeps its value
        }
        const MapView view { -0.5, 0.25, 3.0 };
        const ConstantMapInputs in = MapInputsOf(scene.picture, row.constant, row.start, view, 24, 16);
        Picture map;
        ASSERT_TRUE(BuildConstantMap(scene.picture, in, map)) << row.iteration;
        QImage image(24, 16, QImage::Format_RGB32);
        std::atomic<int> stage { 0 };
        std::atomic<bool> stop { false };
        std::atomic<double> progress { 0.0 };
        CRenderPool pool;
        ASSERT_EQ(RenderPicture(
                      map, RasterOf(image), { 0, 0, 24, 16, 1, 1, 1, 1 }, { stage, 0, stop, progress, pool }),
            0);
        for (const auto& [i, j] :
            { std::pair(0, 0), std::pair(7, 9), std::pair(12, 8), std::pair(23, 15), std::pair(18, 3) }) {
            const Complex c = MapPoint(view, 24, 16, i + 0.5, j + 0.5);
            Complex z = row.start;
            int n = 0;
            const double bound
                = std::string_view(row.termination).find('9') != std::string_view::npos ? 9 : 4;
            for (;;) {
                z = row.step(z, c, row.start);
                if (z.re * z.re + z.im * z.im > bound || ++n >= 50) {
                    break;
                }
            }
            EXPECT_EQ(PaletteColumn(image.pixel(i, j)), std::min(n * 1000 / 50, 999))
                << row.iteration << " at " << i << ", " << j;
        }
    }
}

// The mapped constant's value is no input of the map: setting it from the map leaves the map alone.
TEST(ConstantMap, InputsLeaveTheMappedValueOut)
{
    MapScene scene("z = z * z + Ca + C;", "norm(z) > 4;");
    const ConstantMapInputs before = MapInputsOf(scene.picture, 1, {}, {}, 10, 10);
    scene.picture.iterFormula.SetConstant(1, { 0.3, 0.1 });
    EXPECT_TRUE(MapInputsOf(scene.picture, 1, {}, {}, 10, 10) == before);
    scene.picture.iterFormula.SetConstant(0, { 0.3, 0.1 });
    EXPECT_FALSE(MapInputsOf(scene.picture, 1, {}, {}, 10, 10) == before);
    Picture map;
    EXPECT_FALSE(BuildConstantMap(scene.picture, MapInputsOf(scene.picture, 2, {}, {}, 10, 10), map))
        << "no constant 2";
    double x = 0;
    double y = 0;
    MapPixel({ 1, 2, 4 }, 40, 20, MapPoint({ 1, 2, 4 }, 40, 20, 13.5, 7.25), x, y);
    EXPECT_NEAR(x, 13.5, 1e-12);
    EXPECT_NEAR(y, 7.25, 1e-12);
}

} // namespace
