// The main window's painting: every position, size, colour and text of the fixed layout.
#include "clientarea.h"
#include "fractaldlg.h"
#include "layout.h"
#include "numbertext.h"

#include <QPainter>
#include <QWindow>

#include <cmath>

namespace {

QString PanelText(double value) { return QString::fromStdString(FormatPanelNumber(value)); }

using namespace Layout;

// Text with its character cell's top-left corner at (x, y), in the default colour.
void Text(QPainter& painter, int x, int y, const QString& text)
{
    painter.drawText(QPoint(x, y + painter.fontMetrics().ascent()), text);
}

// Inverts the pixels of a 1-pixel line from a to b, b itself excluded, so that the closed outline
// P0 -> P1 -> P2 -> P3 -> P0 inverts every pixel once. Works in logical pixels on a buffer of any
// device pixel ratio.
void InvertLine(QImage& image, QPoint a, QPoint b)
{
    const qreal ratio = image.devicePixelRatio();
    const auto invert = [&](int x, int y) {
        const int x0 = static_cast<int>(std::floor(x * ratio));
        const int x1 = static_cast<int>(std::floor((x + 1) * ratio));
        const int y0 = static_cast<int>(std::floor(y * ratio));
        const int y1 = static_cast<int>(std::floor((y + 1) * ratio));
        for (int py = std::max(0, y0); py < std::min(image.height(), y1); ++py) {
            QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(py));
            for (int px = std::max(0, x0); px < std::min(image.width(), x1); ++px) {
                line[px] ^= 0x00ffffffu;
            }
        }
    };
    // Bresenham over all octants.
    const int dx = std::abs(b.x() - a.x());
    const int dy = -std::abs(b.y() - a.y());
    const int sx = a.x() < b.x() ? 1 : -1;
    const int sy = a.y() < b.y() ? 1 : -1;
    int error = dx + dy;
    int x = a.x();
    int y = a.y();
    while (x != b.x() || y != b.y()) {
        invert(x, y);
        const int twice = 2 * error;
        if (twice >= dy) {
            error += dy;
            x += sx;
        }
        if (twice <= dx) {
            error += dx;
            y += sy;
        }
    }
}

// A small filled circle in the box (x0, y0)-(x1, y1), right and bottom edges excluded: every pixel
// whose centre lies within the circle, so that the disc is as symmetric as the box.
void Disc(QPainter& painter, int x0, int y0, int x1, int y1, const QColor& colour)
{
    const double cx = (x0 + x1) / 2.0;
    const double cy = (y0 + y1) / 2.0;
    const double r = (x1 - x0) / 2.0;
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            const double dx = x + 0.5 - cx;
            const double dy = y + 0.5 - cy;
            if (dx * dx + dy * dy <= r * r) {
                painter.fillRect(QRect(x, y, 1, 1), colour);
            }
        }
    }
}

} // namespace

const QImage& CFractalDlg::ComposeClient()
{
    const qreal ratio = windowHandle() ? windowHandle()->devicePixelRatio() : devicePixelRatioF();
    const QSize physical(static_cast<int>(std::ceil(kClientWidth * ratio)),
        static_cast<int>(std::ceil(kClientHeight * ratio)));
    if (m_dcBack.size() != physical) {
        m_dcBack = QImage(physical, QImage::Format_RGB32);
    }
    m_dcBack.setDevicePixelRatio(ratio);

    QPainter painter(&m_dcBack);
    painter.setFont(m_font);
    painter.setPen(kBlack);
    painter.fillRect(QRect(0, 0, kClientWidth, kClientHeight), kWhite);

    // The preview box with its frames and shadow, then the latest frame.
    painter.fillRect(QRect(16, 30, 480, 480), kShadow);
    painter.fillRect(QRect(4, 18, 484, 484), kBlack);
    painter.fillRect(QRect(5, 19, 482, 482), kWhite);
    painter.fillRect(QRect(kPreviewLeft, kPreviewTop, kPreviewSide, kPreviewSide), kFace);
    painter.drawImage(QRect(kPreviewLeft, kPreviewTop, kPreviewSide, kPreviewSide), m_dcPreview);
    Text(painter, 6, 4, QStringLiteral(u"预览"));

    PaintPanels(painter);
    PaintPalette(painter);

    // The preview's progress over the bottom of the preview; none once the picture is complete.
    if (m_dShownPreviewProgress < 1.0 && !m_progressStrip.isNull()) {
        const int h = m_progressStrip.height();
        const int w = static_cast<int>(std::clamp(m_dShownPreviewProgress, 0.0, 1.0) * kPreviewSide);
        painter.setOpacity(kProgressOpacity / 255.0);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(QRect(kPreviewLeft, kPreviewTop + kPreviewSide - h, w, h), m_progressStrip);
        painter.setOpacity(1.0);
        painter.fillRect(QRect(kPreviewLeft + w, kPreviewTop + kPreviewSide - h, 1, h), kWhite);
    }
    painter.drawImage(kLogoPosition, m_logo);
    return m_dcBack;
}

void CFractalDlg::PaintPanels(QPainter& painter)
{
    // The drawing parameters under the preview.
    Text(painter, 6, 512, QStringLiteral(u"绘图参数"));
    painter.fillRect(QRect(6, 525, kClientWidth - 6, 1), kBlack);
    painter.fillRect(QRect(6, 552, kClientWidth - 6, 1), kBlack);

    painter.fillRect(QRect(6, 526, 20, 26), kCellBlue);
    painter.fillRect(QRect(26, 526, 1, 26), kBlack);
    Text(painter, 6, 527, QStringLiteral(" x0 %1").arg(PanelText(m_script.GetOffsetX())));
    Text(painter, 6, 539, QStringLiteral(" y0 %1").arg(PanelText(m_script.GetOffsetY())));

    painter.fillRect(QRect(146, 526, 32, 26), kCellBlue);
    painter.fillRect(QRect(146, 526, 1, 26), kBlack);
    painter.fillRect(QRect(178, 526, 1, 26), kBlack);
    Text(painter, 152, 527, QStringLiteral(u"缩放 %1").arg(PanelText(m_script.GetRatio())));
    Text(painter, 152, 539, QStringLiteral(u"精度 %1").arg(PanelText(m_dEditStep)));

    painter.fillRect(QRect(306, 526, 54, 26), kCellBlue);
    painter.fillRect(QRect(306, 526, 1, 26), kBlack);
    painter.fillRect(QRect(360, 526, 1, 26), kBlack);
    const QString name = QString::fromStdString(m_script.GetCurrentConstantName());
    Text(painter, 310, 527, QStringLiteral(u"当前变量 %1").arg(name));
    if (!name.isEmpty()) {
        const Complex value = m_script.GetCurrentConstant();
        painter.fillRect(QRect(502, 538, 29, 14), kCellBlue);
        painter.fillRect(QRect(502, 539, 1, 14), kBlack);
        painter.fillRect(QRect(531, 539, 1, 14), kBlack);
        Text(painter, 310, 539, QStringLiteral(u"    实部 %1").arg(PanelText(value.re)));
        Text(painter, 480, 539, QStringLiteral(u"    虚部 %1").arg(PanelText(value.im)));
    }
    painter.fillRect(QRect(6, 552, 480, 1), kBlack);

    // The palette mapping's seven numbers.
    const PaletteMapping m = m_script.GetMapping();
    Text(painter, 500, 250, QStringLiteral(u"调色板映射"));
    painter.fillRect(QRect(500, 265, 200, 1), kBlack);
    painter.fillRect(QRect(500, 266, 40, 84), kCellBlue);
    const std::pair<QString, double> rows[] = { { QStringLiteral("    x0  "), m.x0 },
        { QStringLiteral("    y0  "), m.y0 }, { QStringLiteral("    dx  "), m.dx },
        { QStringLiteral("    dy  "), m.dy }, { QStringLiteral(u" sinθ  "), m.sin },
        { QStringLiteral(u" cosθ  "), m.cos }, { QStringLiteral(u"  拉伸  "), m.stretch } };
    int y = 266;
    for (const auto& [label, value] : rows) {
        Text(painter, 500, y, label + PanelText(value));
        y += 12;
    }
    painter.fillRect(QRect(540, 266, 1, 84), kBlack);
    painter.fillRect(QRect(500, 350, 200, 1), kBlack);
}

void CFractalDlg::PaintPalette(QPainter& painter)
{
    painter.fillRect(QRect(510, 30, 200, 212), kShadow);
    painter.fillRect(QRect(498, 18, 204, 215), kBlack);
    painter.fillRect(QRect(499, 19, 202, 213), kWhite);
    painter.fillRect(QRect(500, 20, 200, 211), kFace);
    Text(painter, 500, 4, QStringLiteral(u"调色板"));

    const std::optional<PaletteRect> rect
        = FitPalette(m_script.GetPaletteWidth(), m_script.GetPaletteHeight());
    if (rect && rect->Width() > 0 && rect->Height() > 0) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(QRect(rect->left, rect->top, rect->Width(), rect->Height()), m_script.GetPalette());
    }
    painter.fillRect(QRect(499, 221, 202, 1), kBlack);

    // The slider groove.
    painter.fillRect(QRect(503, 228, 194, 1), kWhite);
    painter.fillRect(QRect(697, 225, 1, 4), kWhite);
    painter.fillRect(QRect(503, 225, 194, 1), kGrooveLight);
    painter.fillRect(QRect(503, 225, 1, 4), kGrooveLight);
    painter.fillRect(QRect(504, 226, 192, 1), kGrooveDark);
    painter.fillRect(QRect(504, 226, 1, 2), kGrooveDark);

    // The parallelogram and its handles; what cannot be placed is not drawn.
    if (rect) {
        const MappingPoints p = MapPoints(*rect, m_script.GetMapping());
        if (p.p0 && p.p1 && p.p2 && p.p3) {
            painter.end();
            InvertLine(m_dcBack, *p.p0, *p.p1);
            InvertLine(m_dcBack, *p.p1, *p.p2);
            InvertLine(m_dcBack, *p.p2, *p.p3);
            InvertLine(m_dcBack, *p.p3, *p.p0);
            painter.begin(&m_dcBack);
            painter.setFont(m_font);
            painter.setPen(kBlack);
        }
        if (p.p1) {
            const bool hot = m_nDragMode == DragAngle;
            const QPoint c = ReachableHandle(*p.p1);
            Disc(painter, c.x() - 4, c.y() - 4, c.x() + 4, c.y() + 4, hot ? kBlack : kWhite);
            Disc(painter, c.x() - 3, c.y() - 3, c.x() + 3, c.y() + 3, hot ? kWhite : kBlack);
        }
        if (p.p2) {
            const bool hot = m_nDragMode == DragSize;
            const QPoint c = ReachableHandle(*p.p2);
            painter.fillRect(QRect(c.x() - 3, c.y() - 3, 7, 7), hot ? kBlack : kWhite);
            painter.fillRect(QRect(c.x() - 2, c.y() - 2, 5, 5), hot ? kWhite : kBlack);
        }
    }
    if (const std::optional<int> s
        = StretchHandleX(m_script.GetMapping().stretch, m_mapAtDragStart.stretch)) {
        const bool hot = m_nDragMode == DragStretch;
        painter.fillRect(QRect(*s - 3, 223, 7, 7), hot ? kBlack : kWhite);
        painter.fillRect(QRect(*s - 2, 224, 5, 5), hot ? kWhite : kBlack);
    }
}
