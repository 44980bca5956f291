#include "artwork.h"

namespace artwork {

// ---------------------------------------------------------------------------------------------
// Built-in palette

// The top row: blue, black, green, black, red, then through orange to yellow. Pictures map their
// colour values along this row, so the hues sit where existing scripts expect them.
const ColourCurve& PaletteTopRow()
{
    static const ColourCurve curve {
        SmoothCurve({ { 0, 0 }, { 658, 0 }, { 845, 255 }, { kPaletteLastColumn, 255 } }),
        SmoothCurve(
            { { 0, 0 }, { 314, 0 }, { 500, 255 }, { 668, 0 }, { 837, 0 }, { kPaletteLastColumn, 223 } }),
        SmoothCurve({ { 0, 7 }, { 158, 255 }, { 321, 0 }, { kPaletteLastColumn, 0 } }),
    };
    return curve;
}

// Going down, each colour is lifted towards a pale sky haze: out = haze + top * keep. The haze
// grows and the kept share shrinks row by row, so the dark troughs turn blue-grey and the bottom
// row is washed out to sky blue. Both are given at a few rows and eased in between.
const ColourCurve& PaletteHaze()
{
    static const ColourCurve curve {
        SmoothCurve({ { 0, 0 }, { 100, 29 }, { 205, 63 }, { 300, 79 }, { kPaletteLastRow, 75 } }),
        SmoothCurve({ { 0, 0 }, { 100, 32 }, { 205, 77 }, { 300, 114 }, { kPaletteLastRow, 143 } }),
        SmoothCurve({ { 0, 0 }, { 100, 34 }, { 205, 90 }, { 300, 147 }, { kPaletteLastRow, 208 } }),
    };
    return curve;
}

const SmoothCurve& PaletteKeep()
{
    static const SmoothCurve curve(
        { { 0, 255.0 / kChannelMax }, { 100, 221.0 / kChannelMax }, { 205, 165.0 / kChannelMax },
            { 300, 107.0 / kChannelMax }, { kPaletteLastRow, 46.0 / kChannelMax } });
    return curve;
}

QImage DrawPalette()
{
    QImage image(kPaletteWidth, kPaletteHeight, QImage::Format_RGB888);
    const ColourCurve& top = PaletteTopRow();
    for (int y = 0; y < kPaletteHeight; ++y) {
        const Rgb haze = PaletteHaze()(y);
        const double keep = PaletteKeep()(y);
        uchar* line = image.scanLine(y);
        for (int x = 0; x < kPaletteWidth; ++x) {
            const Rgb c = top(x);
            line[3 * x + 0] = static_cast<uchar>(ToChannel(haze.r + c.r * keep));
            line[3 * x + 1] = static_cast<uchar>(ToChannel(haze.g + c.g * keep));
            line[3 * x + 2] = static_cast<uchar>(ToChannel(haze.b + c.b * keep));
        }
    }
    return image;
}

struct PaletteSample {
    int row;
    int column;
    int r;
    int g;
    int b;
};

// Reference colours of the built-in palette. Saved scripts were tuned against these, so the
// drawn strip must keep them (within rounding) whatever else changes here.
constexpr int kPaletteTolerance = 2;
constexpr std::array kPaletteSamples = {
    PaletteSample { 0, 0, 0, 0, 7 },
    PaletteSample { 0, 150, 0, 0, 253 },
    PaletteSample { 0, 325, 0, 3, 0 },
    PaletteSample { 0, 500, 0, 255, 0 },
    PaletteSample { 0, 675, 6, 0, 0 },
    PaletteSample { 0, 850, 255, 4, 0 },
    PaletteSample { 0, 999, 255, 223, 0 },
    PaletteSample { 100, 0, 29, 32, 40 },
    PaletteSample { 100, 150, 29, 32, 253 },
    PaletteSample { 100, 325, 29, 34, 34 },
    PaletteSample { 100, 500, 29, 253, 34 },
    PaletteSample { 100, 675, 35, 32, 34 },
    PaletteSample { 100, 850, 250, 35, 34 },
    PaletteSample { 100, 999, 250, 225, 34 },
    PaletteSample { 205, 0, 63, 77, 95 },
    PaletteSample { 205, 150, 63, 77, 254 },
    PaletteSample { 205, 325, 63, 79, 90 },
    PaletteSample { 205, 500, 63, 242, 90 },
    PaletteSample { 205, 675, 67, 77, 90 },
    PaletteSample { 205, 850, 228, 79, 90 },
    PaletteSample { 205, 999, 228, 221, 90 },
    PaletteSample { 300, 0, 79, 114, 150 },
    PaletteSample { 300, 150, 79, 114, 254 },
    PaletteSample { 300, 325, 79, 116, 147 },
    PaletteSample { 300, 500, 79, 221, 147 },
    PaletteSample { 300, 675, 81, 114, 147 },
    PaletteSample { 300, 850, 186, 116, 147 },
    PaletteSample { 300, 999, 186, 208, 147 },
    PaletteSample { 409, 0, 75, 143, 209 },
    PaletteSample { 409, 150, 75, 143, 254 },
    PaletteSample { 409, 325, 75, 144, 208 },
    PaletteSample { 409, 500, 75, 189, 208 },
    PaletteSample { 409, 675, 76, 143, 208 },
    PaletteSample { 409, 850, 121, 144, 208 },
    PaletteSample { 409, 999, 121, 184, 208 },
};

// Reads the written palette back and compares it with the reference colours.
bool CheckPalette(const QDir& dir)
{
    const QImage image(dir.filePath(QStringLiteral("palette.png")));
    if (image.width() != kPaletteWidth || image.height() != kPaletteHeight || image.hasAlphaChannel()) {
        std::fprintf(stderr, "glimmerset-artwork: palette.png does not read back as %dx%d RGB\n",
            kPaletteWidth, kPaletteHeight);
        return false;
    }
    bool ok = true;
    std::printf("palette check (row col: got - want = difference):\n");
    for (const PaletteSample& s : kPaletteSamples) {
        const QRgb got = image.pixel(s.column, s.row);
        const int dr = qRed(got) - s.r;
        const int dg = qGreen(got) - s.g;
        const int db = qBlue(got) - s.b;
        const bool within = std::abs(dr) <= kPaletteTolerance && std::abs(dg) <= kPaletteTolerance
            && std::abs(db) <= kPaletteTolerance;
        ok = ok && within;
        std::printf("  %3d %3d: %3d,%3d,%3d - %3d,%3d,%3d = %+d,%+d,%+d%s\n", s.row, s.column, qRed(got),
            qGreen(got), qBlue(got), s.r, s.g, s.b, dr, dg, db, within ? "" : "  OUT OF TOLERANCE");
    }
    return ok;
}

// ---------------------------------------------------------------------------------------------
// Progress strip: stretched over the preview at partial opacity, so it only needs the palette's
// hues in order, without the black troughs between them. A warm step between green and red keeps
// the middle from going muddy brown.

constexpr int kProgressWidth = 580;
constexpr int kProgressHeight = 13;
constexpr double kProgressHighlight = 0.30; // mixed towards white along the top edge
constexpr double kProgressShade = 0.25;     // darkened along the bottom edge

QImage DrawProgress()
{
    constexpr double last = kProgressWidth - 1;
    static const ColourCurve hues {
        SmoothCurve({ { 0, 40 }, { last / 3, 40 }, { last / 2, 175 }, { 2 * last / 3, 235 }, { last, 255 } }),
        SmoothCurve({ { 0, 90 }, { last / 3, 215 }, { last / 2, 150 }, { 2 * last / 3, 50 }, { last, 215 } }),
        SmoothCurve({ { 0, 255 }, { last / 3, 80 }, { last / 2, 40 }, { 2 * last / 3, 40 }, { last, 40 } }),
    };
    QImage image(kProgressWidth, kProgressHeight, QImage::Format_RGB888);
    for (int y = 0; y < kProgressHeight; ++y) {
        const double down = (y + 0.5) / kProgressHeight;
        const double highlight = kProgressHighlight * (1.0 - down) * (1.0 - down);
        const double shade = 1.0 - kProgressShade * down * down;
        uchar* line = image.scanLine(y);
        for (int x = 0; x < kProgressWidth; ++x) {
            const Rgb hue = hues(x);
            const Rgb lit = Lerp(hue, kWhite, highlight);
            line[3 * x + 0] = static_cast<uchar>(ToChannel(lit.r * shade));
            line[3 * x + 1] = static_cast<uchar>(ToChannel(lit.g * shade));
            line[3 * x + 2] = static_cast<uchar>(ToChannel(lit.b * shade));
        }
    }
    return image;
}

} // namespace artwork
