#include "artwork.h"

namespace artwork {

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

} // namespace artwork
