// glimmerset-artwork OUTDIR: draws the program's own artwork (built-in palette, export watermark,
// progress strip, logo and application icons) and writes it as PNG files into OUTDIR.
//
// The output is committed under resources/; rebuild it with
//     QT_QPA_PLATFORM=offscreen build/bin/glimmerset-artwork resources
// Everything is computed from fixed numbers, so a rerun with the same fonts gives the same bytes.

#include <QColor>
#include <QDir>
#include <QFont>
#include <QFontInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <numbers>
#include <vector>

#ifndef GLIMMERSET_VERSION
#error "GLIMMERSET_VERSION must be defined by the build"
#endif

namespace {

constexpr int kChannelMax = 255;
// 96 dpi, written explicitly so the pHYs chunk does not follow the platform's screen.
constexpr int kDotsPerMeter = 3780;

constexpr const char* kFontFamily = "DejaVu Sans";
constexpr const char* kFallbackFontFamily = "AR PL UMing CN";

struct Rgb {
    double r;
    double g;
    double b;
};

constexpr Rgb kWhite { 255, 255, 255 };

int ToChannel(double value)
{
    return static_cast<int>(std::lround(std::clamp(value, 0.0, static_cast<double>(kChannelMax))));
}

double Lerp(double a, double b, double t) { return a + (b - a) * t; }

Rgb Lerp(const Rgb& a, const Rgb& b, double t)
{
    return { Lerp(a.r, b.r, t), Lerp(a.g, b.g, t), Lerp(a.b, b.b, t) };
}

QRgb ToQRgb(const Rgb& c) { return qRgb(ToChannel(c.r), ToChannel(c.g), ToChannel(c.b)); }

struct Knot {
    double x;
    double value;
};

// Monotone piecewise-cubic curve through its knots (Fritsch-Carlson slopes). Monotone so that a
// channel never overshoots past its knots: troughs stay at exactly 0, peaks at exactly 255, and
// the curve is still smooth enough that no band shows.
class SmoothCurve {
public:
    explicit SmoothCurve(std::vector<Knot> knots)
        : m_knots(std::move(knots))
        , m_slopes(m_knots.size(), 0.0)
    {
        // Interior slopes: weighted harmonic mean of the neighbouring secants, or flat at a turn.
        // The ends stay flat, which suits strips that simply stop there.
        for (size_t i = 1; i + 1 < m_knots.size(); ++i) {
            const double h0 = m_knots[i].x - m_knots[i - 1].x;
            const double h1 = m_knots[i + 1].x - m_knots[i].x;
            const double d0 = (m_knots[i].value - m_knots[i - 1].value) / h0;
            const double d1 = (m_knots[i + 1].value - m_knots[i].value) / h1;
            if (d0 * d1 <= 0.0) {
                continue;
            }
            const double w0 = 2.0 * h1 + h0;
            const double w1 = h1 + 2.0 * h0;
            m_slopes[i] = (w0 + w1) / (w0 / d0 + w1 / d1);
        }
    }

    double operator()(double x) const
    {
        if (x <= m_knots.front().x) {
            return m_knots.front().value;
        }
        if (x >= m_knots.back().x) {
            return m_knots.back().value;
        }
        size_t i = 0;
        while (x > m_knots[i + 1].x) {
            ++i;
        }
        const double h = m_knots[i + 1].x - m_knots[i].x;
        const double t = (x - m_knots[i].x) / h;
        const double t2 = t * t;
        const double t3 = t2 * t;
        const double h00 = 2.0 * t3 - 3.0 * t2 + 1.0;
        const double h10 = t3 - 2.0 * t2 + t;
        const double h01 = -2.0 * t3 + 3.0 * t2;
        const double h11 = t3 - t2;
        return h00 * m_knots[i].value + h10 * h * m_slopes[i] + h01 * m_knots[i + 1].value
            + h11 * h * m_slopes[i + 1];
    }

private:
    std::vector<Knot> m_knots;
    std::vector<double> m_slopes;
};

struct ColourCurve {
    SmoothCurve r;
    SmoothCurve g;
    SmoothCurve b;

    Rgb operator()(double x) const { return { r(x), g(x), b(x) }; }
};

bool Save(const QImage& image, const QDir& dir, const QString& name)
{
    QImage out = image;
    out.setDotsPerMeterX(kDotsPerMeter);
    out.setDotsPerMeterY(kDotsPerMeter);
    const QString path = dir.filePath(name);
    if (!out.save(path, "PNG")) {
        std::fprintf(stderr, "glimmerset-artwork: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("wrote %s (%dx%d)\n", qPrintable(path), out.width(), out.height());
    return true;
}

QFont ArtworkFont(int pixelSize, QFont::Weight weight)
{
    QFont font(QString::fromLatin1(kFontFamily));
    font.setFamilies({ QString::fromLatin1(kFontFamily), QString::fromLatin1(kFallbackFontFamily) });
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    // Unhinted outlines: the lettering then depends on the font file alone, not on hinting settings.
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

// ---------------------------------------------------------------------------------------------
// Built-in palette

constexpr int kPaletteWidth = 1000;
constexpr int kPaletteHeight = 410;
constexpr int kPaletteLastColumn = kPaletteWidth - 1;
constexpr int kPaletteLastRow = kPaletteHeight - 1;

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
// Julia-set motif shared by the logo and the icons: the default picture's own set.

constexpr double kJuliaCRe = -0.78;
constexpr double kJuliaCIm = -0.15;
constexpr int kJuliaIterations = 400;
// A large bailout radius makes the smooth escape count accurate, so bands do not show.
constexpr double kJuliaBailout = 256.0;

// Smooth escape count of z*z + c from (x, y); negative when the orbit stays bounded.
double JuliaEscape(double x, double y)
{
    constexpr double bailoutSquared = kJuliaBailout * kJuliaBailout;
    for (int n = 0; n < kJuliaIterations; ++n) {
        const double xx = x * x;
        const double yy = y * y;
        if (xx + yy > bailoutSquared) {
            return n + 1.0 - std::log2(0.5 * std::log(xx + yy));
        }
        y = 2.0 * x * y + kJuliaCIm;
        x = xx - yy + kJuliaCRe;
    }
    return -1.0;
}

struct PlaneView {
    double centreRe;
    double centreIm;
    double width; // of the complex plane spanned by the image's width
};

// Each output pixel averages a grid of subpixel samples, so edges are smooth and the result is
// still fully determined by the numbers here.
template <typename Colour>
QImage RenderJulia(int width, int height, const PlaneView& view, int subsamples, Colour colour)
{
    QImage image(width, height, QImage::Format_ARGB32);
    const double step = view.width / width;
    const double sampleCount = subsamples * subsamples;
    for (int py = 0; py < height; ++py) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(py));
        for (int px = 0; px < width; ++px) {
            Rgb sum { 0, 0, 0 };
            for (int sy = 0; sy < subsamples; ++sy) {
                for (int sx = 0; sx < subsamples; ++sx) {
                    const double fx = px + (sx + 0.5) / subsamples - 0.5 * width;
                    const double fy = py + (sy + 0.5) / subsamples - 0.5 * height;
                    // Imaginary axis points up, as in the explorer's view.
                    const Rgb c = colour(JuliaEscape(view.centreRe + fx * step, view.centreIm - fy * step));
                    sum = { sum.r + c.r, sum.g + c.g, sum.b + c.b };
                }
            }
            line[px] = ToQRgb({ sum.r / sampleCount, sum.g / sampleCount, sum.b / sampleCount });
        }
    }
    return image;
}

// Escape counts run from about 1 far out to the iteration limit at the set; this maps them to a
// place along the palette's top row so the set's rim climbs through blue, green, red to yellow.
constexpr double kMotifEscapeScale = 26.0;

double MotifPosition(double escape)
{
    const double t = std::clamp(std::log1p(escape) / std::log1p(kMotifEscapeScale), 0.0, 1.0);
    return t * kPaletteLastColumn;
}

// ---------------------------------------------------------------------------------------------
// Watermark: blended into exported pictures as out = s + d * (255 - a) / 255, so transparent
// and near-transparent pixels must be pure black, and only three alpha levels are used.

constexpr int kWatermarkWidth = 277;
constexpr int kWatermarkHeight = 63;
constexpr int kWatermarkClearAlpha = 0;
// A faint dark box under the lettering: barely dims the picture, marks the corner as ours.
constexpr int kWatermarkBoxAlpha = 5;
constexpr int kWatermarkOpaqueAlpha = 255;
constexpr int kWatermarkBoxInset = 2;
constexpr int kWatermarkBoxRadius = 12;
constexpr QRgb kWatermarkLettering = 0xfffffbf0; // warm white
constexpr QRgb kWatermarkGold = 0xffffdf8c;
// A thin dark rim keeps the light lettering readable on light pictures.
constexpr QRgb kWatermarkRim = 0xff141a2e;
constexpr double kWatermarkRimWidth = 2.0;
constexpr int kWatermarkTitleSize = 30;
constexpr int kWatermarkVersionSize = 13;
constexpr double kWatermarkTextLeft = 64.0;
constexpr double kWatermarkTitleBaseline = 35.0;
constexpr double kWatermarkVersionBaseline = 53.0;
constexpr double kSparkleCentreX = 34.0;
constexpr double kSparkleCentreY = 31.0;
constexpr double kSparkleRadius = 22.0;
constexpr double kSparkleWaist = 4.0;
constexpr double kSmallSparkleOffsetX = 13.0;
constexpr double kSmallSparkleOffsetY = -13.0;
constexpr double kSmallSparkleRadius = 7.0;
constexpr double kSmallSparkleWaist = 1.6;

// Four-pointed star: long points on the axes, pinched in between.
QPainterPath Sparkle(double cx, double cy, double radius, double waist)
{
    constexpr int points = 4;
    QPainterPath path;
    for (int i = 0; i < 2 * points; ++i) {
        const double angle = i * std::numbers::pi / points - std::numbers::pi / 2.0;
        const double r = i % 2 == 0 ? radius : waist;
        const QPointF p(cx + r * std::cos(angle), cy + r * std::sin(angle));
        if (i == 0) {
            path.moveTo(p);
        } else {
            path.lineTo(p);
        }
    }
    path.closeSubpath();
    return path;
}

// Glyphs drawn without smoothing but with the font's hinting, which is made for exactly that and
// keeps small lettering legible.
QFont LetteringFont(int pixelSize, QFont::Weight weight)
{
    QFont font = ArtworkFont(pixelSize, weight);
    font.setStyleStrategy(QFont::NoAntialias);
    font.setHintingPreference(QFont::PreferFullHinting);
    return font;
}

// Text with a one-pixel dark rim: drawn at the eight neighbouring offsets in the rim colour, then
// in its own colour on top.
void DrawRimmedText(QPainter& painter, QPointF baseline, const QFont& font, const QString& text, QRgb fill)
{
    painter.setFont(font);
    painter.setPen(QColor::fromRgba(kWatermarkRim));
    for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
            if (dx != 0 || dy != 0) {
                painter.drawText(baseline + QPointF(dx, dy), text);
            }
        }
    }
    painter.setPen(QColor::fromRgba(fill));
    painter.drawText(baseline, text);
}

QImage DrawWatermark()
{
    QImage image(kWatermarkWidth, kWatermarkHeight, QImage::Format_ARGB32);
    image.fill(qRgba(0, 0, 0, kWatermarkClearAlpha));
    {
        QPainter painter(&image);
        // Aliased drawing with Source composition writes each colour as given: no blended edges
        // and hence no alpha levels beyond the three the watermark blend expects.
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0, 0, 0, kWatermarkBoxAlpha));
        painter.drawRoundedRect(
            QRectF(kWatermarkBoxInset, kWatermarkBoxInset, kWatermarkWidth - 2 * kWatermarkBoxInset,
                kWatermarkHeight - 2 * kWatermarkBoxInset),
            kWatermarkBoxRadius, kWatermarkBoxRadius);

        QPainterPath sparkles = Sparkle(kSparkleCentreX, kSparkleCentreY, kSparkleRadius, kSparkleWaist);
        sparkles.addPath(Sparkle(kSparkleCentreX + kSmallSparkleOffsetX,
            kSparkleCentreY + kSmallSparkleOffsetY, kSmallSparkleRadius, kSmallSparkleWaist));
        QPen rim(QColor::fromRgba(kWatermarkRim), kWatermarkRimWidth);
        rim.setJoinStyle(Qt::MiterJoin);
        painter.strokePath(sparkles, rim);
        painter.fillPath(sparkles, QColor::fromRgba(kWatermarkGold));

        DrawRimmedText(painter, QPointF(kWatermarkTextLeft, kWatermarkTitleBaseline),
            LetteringFont(kWatermarkTitleSize, QFont::Bold), QStringLiteral("Glimmerset"),
            kWatermarkLettering);
        DrawRimmedText(painter, QPointF(kWatermarkTextLeft + 1.0, kWatermarkVersionBaseline),
            LetteringFont(kWatermarkVersionSize, QFont::Bold),
            QStringLiteral("Version ") + QString::fromLatin1(GLIMMERSET_VERSION), kWatermarkGold);
    }
    return image;
}

// Verifies the blend rules above and reports how many pixels use each alpha level.
bool CheckWatermark(const QImage& image)
{
    std::map<int, int> counts;
    bool ok = true;
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int a = qAlpha(line[x]);
            ++counts[a];
            const bool levelOk
                = a == kWatermarkClearAlpha || a == kWatermarkBoxAlpha || a == kWatermarkOpaqueAlpha;
            const bool colourOk = a == kWatermarkOpaqueAlpha || (line[x] & RGB_MASK) == 0;
            ok = ok && levelOk && colourOk;
        }
    }
    std::printf("watermark alpha levels:");
    for (const auto& [alpha, count] : counts) {
        std::printf(" %d:%d", alpha, count);
    }
    std::printf("\n");
    if (!ok) {
        std::fprintf(
            stderr, "glimmerset-artwork: watermark has stray alpha levels or tinted see-through pixels\n");
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

// ---------------------------------------------------------------------------------------------
// Logo for the main window's white panel: the Julia motif with the name lettered beneath it.

constexpr int kLogoWidth = 215;
constexpr int kLogoHeight = 126;
constexpr int kLogoMotifHeight = 90;
constexpr PlaneView kLogoView { 0.0, 0.0, 4.4 };
constexpr int kLogoSubsamples = 5;
// Every point on the motif's border escapes within this count, so everything faster is left as the
// white panel and the motif has no visible rectangle around it.
constexpr double kLogoFadeStart = 4.4;
constexpr double kLogoFadeLength = 2.5;
constexpr double kLogoBaseEscape = 4.0; // where the palette's top row starts
constexpr int kLogoTitleSize = 31;
constexpr double kLogoTitleBaseline = 119.0;
constexpr QRgb kLogoInk = 0xff1b2a55; // deep blue, the palette's first hue darkened

Rgb LogoColour(double escape)
{
    if (escape < 0.0) {
        return PaletteTopRow()(kPaletteLastColumn);
    }
    const double position = MotifPosition(std::max(0.0, escape - kLogoBaseEscape));
    const double fade = std::clamp((escape - kLogoFadeStart) / kLogoFadeLength, 0.0, 1.0);
    // Eased, so the halo has no visible edge against the panel.
    return Lerp(kWhite, PaletteTopRow()(position), fade * fade * (3.0 - 2.0 * fade));
}

QImage DrawLogo()
{
    QImage image(kLogoWidth, kLogoHeight, QImage::Format_RGB32);
    image.fill(Qt::white);
    const QImage motif = RenderJulia(kLogoWidth, kLogoMotifHeight, kLogoView, kLogoSubsamples, LogoColour);
    {
        QPainter painter(&image);
        painter.drawImage(0, 0, motif);
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setRenderHint(QPainter::TextAntialiasing, true);
        const QFont font = ArtworkFont(kLogoTitleSize, QFont::Bold);
        QPainterPath title;
        title.addText(QPointF(0, 0), font, QStringLiteral("Glimmerset"));
        // Centre by the drawn outline rather than the advance widths.
        const QRectF bounds = title.boundingRect();
        title.translate((kLogoWidth - bounds.width()) / 2.0 - bounds.left(), kLogoTitleBaseline);
        painter.fillPath(title, QColor::fromRgba(kLogoInk));
    }
    return image.convertToFormat(QImage::Format_RGB888);
}

// ---------------------------------------------------------------------------------------------
// Application icon: a rounded tile of the motif, bright set on deep blue so it reads at 16 px.
// Each size is rendered on its own rather than scaled from one master, so small sizes stay crisp.

constexpr std::array kIconSizes = { 16, 32, 48, 64, 128, 256 };
constexpr double kIconCornerFraction = 0.2; // corner radius as a share of the side
constexpr double kIconPlaneWidth = 3.0;
constexpr int kIconSubsamples = 6;
constexpr double kIconBaseEscape = 1.5; // escape counts below this are the tile's background
// Over this many columns of the top row the far field blends off the tile's blue.
constexpr double kIconLiftColumns = 100.0;
constexpr Rgb kIconBackground { 10, 18, 60 };

Rgb IconColour(double escape)
{
    if (escape < 0.0) {
        return PaletteTopRow()(kPaletteLastColumn);
    }
    const double position = MotifPosition(std::max(0.0, escape - kIconBaseEscape));
    const Rgb hue = PaletteTopRow()(position);
    // The palette starts near black; lift it onto the tile's blue so the far field is not a hole.
    const double rise = std::clamp(position / kIconLiftColumns, 0.0, 1.0);
    return { std::max(hue.r, kIconBackground.r * (1.0 - rise)),
        std::max(hue.g, kIconBackground.g * (1.0 - rise)), std::max(hue.b, kIconBackground.b) };
}

// Fraction of the pixel (px, py) that lies inside the rounded square, from a grid of samples.
double TileCoverage(int px, int py, int size)
{
    const double radius = size * kIconCornerFraction;
    int inside = 0;
    for (int sy = 0; sy < kIconSubsamples; ++sy) {
        for (int sx = 0; sx < kIconSubsamples; ++sx) {
            const double x = px + (sx + 0.5) / kIconSubsamples;
            const double y = py + (sy + 0.5) / kIconSubsamples;
            // Distance outside the square shrunk by the radius; within the radius counts as inside.
            const double dx = std::max({ radius - x, x - (size - radius), 0.0 });
            const double dy = std::max({ radius - y, y - (size - radius), 0.0 });
            if (dx * dx + dy * dy <= radius * radius) {
                ++inside;
            }
        }
    }
    return static_cast<double>(inside) / (kIconSubsamples * kIconSubsamples);
}

QImage DrawIcon(int size)
{
    const PlaneView view { 0.0, 0.0, kIconPlaneWidth };
    QImage image = RenderJulia(size, size, view, kIconSubsamples, IconColour);
    for (int y = 0; y < size; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < size; ++x) {
            const int alpha = ToChannel(TileCoverage(x, y, size) * kChannelMax);
            line[x] = alpha == 0 ? qRgba(0, 0, 0, 0)
                                 : qRgba(qRed(line[x]), qGreen(line[x]), qBlue(line[x]), alpha);
        }
    }
    return image;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const QStringList args = QGuiApplication::arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: glimmerset-artwork OUTDIR\n");
        return 2;
    }
    QDir dir(args.at(1));
    if (!dir.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "glimmerset-artwork: cannot create %s\n", qPrintable(args.at(1)));
        return 1;
    }

    const QFontInfo font(ArtworkFont(kWatermarkTitleSize, QFont::Bold));
    if (font.family() != QString::fromLatin1(kFontFamily)) {
        std::fprintf(stderr, "glimmerset-artwork: warning: %s not found, lettering uses %s\n", kFontFamily,
            qPrintable(font.family()));
    }

    const QImage watermark = DrawWatermark();
    bool ok = CheckWatermark(watermark);
    ok = Save(DrawPalette(), dir, QStringLiteral("palette.png")) && ok;
    ok = Save(watermark, dir, QStringLiteral("watermark.png")) && ok;
    ok = Save(DrawProgress(), dir, QStringLiteral("progress.png")) && ok;
    ok = Save(DrawLogo(), dir, QStringLiteral("logo.png")) && ok;
    for (const int size : kIconSizes) {
        ok = Save(DrawIcon(size), dir, QStringLiteral("icon-%1.png").arg(size)) && ok;
    }
    ok = CheckPalette(dir) && ok;
    return ok ? 0 : 1;
}
