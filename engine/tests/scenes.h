#pragma once

// The scripts the speed work is measured and pinned on, shared by the tests and the benchmarks.

#include "fractalscript.h"

#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <cstdint>
#include <string>

struct Scene {
    const char* name;
    const char* iteration;
    const char* termination;
    const char* colour; // nullptr: the colour is the escape count (see CountEscapes)
    int maxIter;
    Complex c, c2;
    double offsetX, offsetY, ratio1024; // the ratio for a 1024-pixel-wide picture
};

inline const Scene kScenes[] = {
    { "default", "z = z * z + C;", "norm(z) > 100;", nullptr, 256, { -0.78, -0.15 }, {}, -1.0, -1.0,
        0.001953125 },
    { "cubic with sin and exp", "z = z * z * z + C * sin(z) + C2 * exp(z);", "norm(z) > 100;", nullptr, 256,
        { 0.45, 0.2 }, { -0.05, 0.02 }, -1.6, -1.6, 3.2 / 1024 },
    // A connected Julia set, 0.004 wide across its boundary: three pixels in five run all 5000 iterations.
    { "deep view near the boundary", "z = z * z + C;", "norm(z) > 100;", nullptr, 5000, { -0.123, 0.745 }, {},
        0.3394092212675588 - 0.002, 0.1 - 0.002, 0.004 / 1024 },
    { "carried variables and every input", "V_k = V_k * 0.5 + 1; z = z * z + C + V_k / 1024;",
        "V_a = V_a + 1; norm(z) + V_iter_n / V_iter_max > 100 + V_a * 0;",
        "z0 + z / 10 + V_iter_n / V_iter_max", 300, { -0.7, 0.27 }, {}, -1.5, -1.2, 3.0 / 1024 },
};

// The escape count as a palette column: colour (n + 0.5) / W lands in column n of a W x 1 palette
// whose every column has its own colour (red = column % 256, blue = column / 256).
constexpr int kCountPalette = 5001;

inline int CountOf(QRgb pixel) { return qRed(pixel) + 256 * qBlue(pixel); }

inline bool CountEscapes(CFractalScript& script)
{
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("counts.png"));
    if (!QFile::exists(path)) {
        QImage palette(kCountPalette, 1, QImage::Format_RGB32);
        for (int x = 0; x < kCountPalette; ++x) {
            palette.setPixel(x, 0, qRgb(x % 256, 0, x / 256));
        }
        if (!palette.save(path)) {
            return false;
        }
    }
    std::string error;
    if (!script.LoadPalette(path, PaletteFallback::None)) {
        return false;
    }
    script.SetMapping({ 0, 0, 1, 1, 0, 1, 1 });
    return script.SetColorFormula("(V_iter_n + 0.5) / 5001", error);
}

// Sets the script up as the scene at width x height (the same piece of the plane at any size).
inline bool Apply(CFractalScript& script, const Scene& scene, int width, int height)
{
    script.SetDefaults();
    std::string error;
    if (!script.SetFormulas(scene.iteration, scene.termination, error)) {
        return false;
    }
    const int constants = script.GetIterFormula().GetConstantCount();
    if (constants > 0) {
        script.SetCurrentConstant(scene.c);
    }
    if (constants > 1) {
        script.NextConstant();
        script.SetCurrentConstant(scene.c2);
    }
    script.SetMaxIter(scene.maxIter);
    script.SetImageSize(width, height);
    script.SetView(scene.offsetX, scene.offsetY, scene.ratio1024 * 1024 / width);
    if (scene.colour == nullptr) {
        return CountEscapes(script);
    }
    if (!script.LoadPalette(QString())) {
        return false;
    }
    script.SetMapping({ 0.1, 0.2, 0.7, 1.3, 0.3, 0.9, 1.1 });
    return script.SetColorFormula(scene.colour, error);
}

// Runs of the iteration formula behind a picture of escape counts: n + 1 for a pixel that escaped
// after n iterations, the limit for one that did not.
inline long long IterationRuns(const QImage& counts, int maxIter)
{
    long long runs = 0;
    for (int y = 0; y < counts.height(); ++y) {
        for (int x = 0; x < counts.width(); ++x) {
            const int n = CountOf(counts.pixel(x, y));
            runs += n < maxIter ? n + 1 : maxIter;
        }
    }
    return runs;
}
