#pragma once

// What the drawings of glimmerset-artwork share: colour curves, fonts, saving, and each drawing's
// entry point (palette.cpp, watermark.cpp, motif.cpp).
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

namespace artwork {

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

inline int ToChannel(double value)
{
    return static_cast<int>(std::lround(std::clamp(value, 0.0, static_cast<double>(kChannelMax))));
}

inline double Lerp(double a, double b, double t) { return a + (b - a) * t; }

inline Rgb Lerp(const Rgb& a, const Rgb& b, double t)
{
    return { Lerp(a.r, b.r, t), Lerp(a.g, b.g, t), Lerp(a.b, b.b, t) };
}

inline QRgb ToQRgb(const Rgb& c) { return qRgb(ToChannel(c.r), ToChannel(c.g), ToChannel(c.b)); }

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

inline bool Save(const QImage& image, const QDir& dir, const QString& name)
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

inline QFont ArtworkFont(int pixelSize, QFont::Weight weight)
{
    QFont font(QString::fromLatin1(kFontFamily));
    font.setFamilies({ QString::fromLatin1(kFontFamily), QString::fromLatin1(kFallbackFontFamily) });
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    // Unhinted outlines: the lettering then depends on the font file alone, not on hinting settings.
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

// The built-in palette strip (palette.cpp); its top row is also the motif's colours.
constexpr int kPaletteWidth = 1000;
constexpr int kPaletteHeight = 410;
constexpr int kPaletteLastColumn = kPaletteWidth - 1;
constexpr int kPaletteLastRow = kPaletteHeight - 1;
const ColourCurve& PaletteTopRow();
QImage DrawPalette();
bool CheckPalette(const QDir& dir); // reads the written palette back against the reference colours
QImage DrawProgress();

// The export watermark (watermark.cpp).
constexpr int kWatermarkTitleSize = 30;
QImage DrawWatermark();
bool CheckWatermark(const QImage& watermark);

// The Julia motif's logo and icons (motif.cpp).
inline constexpr std::array kIconSizes = { 16, 32, 48, 64, 128, 256 };
QImage DrawLogo();
QImage DrawIcon(int size);

} // namespace artwork
