#include "artwork.h"

namespace artwork {

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

} // namespace artwork
