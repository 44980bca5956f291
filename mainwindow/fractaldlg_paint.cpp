// The main window's painting: the client area composed from the fixed layout, and the preview
// frame with its watermark.
#include "clientarea.h"
#include "fractaldlg.h"
#include "layout.h"
#include "numbertext.h"
#include "surface.h"

#include <QPainter>
#include <QWindow>

#include <cmath>

namespace {

QString PanelText(double value) { return QString::fromStdString(FormatPanelNumber(value)); }

using namespace Layout;

// Text with its character cell's top-left corner at p, in the default colour.
void Text(QPainter& painter, QPoint p, const QString& text)
{
    painter.drawText(QPoint(p.x(), p.y() + painter.fontMetrics().ascent()), text);
}

// A panel cell's blue label column and its rules.
void Cell(QPainter& painter, const PanelCell& cell)
{
    painter.fillRect(cell.fill, kCellBlue);
    if (!cell.leftRule.isNull()) {
        painter.fillRect(cell.leftRule, kBlack);
    }
    painter.fillRect(cell.rightRule, kBlack);
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

// A small filled circle in the box c - half to c + half, right and bottom edges excluded: every pixel
// whose centre lies within the circle, so that the disc is as symmetric as the box.
void Disc(QPainter& painter, QPoint c, int half, const QColor& colour)
{
    const int x0 = c.x() - half;
    const int y0 = c.y() - half;
    const int x1 = c.x() + half;
    const int y1 = c.y() + half;
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
    painter.fillRect(kPreviewShadow, kShadow);
    painter.fillRect(kPreviewFrame, kBlack);
    painter.fillRect(kPreviewBorder, kWhite);
    painter.fillRect(kPreviewRect, kFace);
    painter.drawImage(kPreviewRect, m_dcPreview);
    Text(painter, kPreviewCaption, tr("预览"));

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
    const QPoint nextLine(0, kLineHeight);
    Text(painter, kPanelCaption, tr("绘图参数"));
    painter.fillRect(kPanelTopRule, kBlack);
    painter.fillRect(kPanelBottomRule, kBlack);

    Cell(painter, kOffsetCell);
    Text(painter, kOffsetCell.text, QStringLiteral(" x0 %1").arg(PanelText(m_script.GetOffsetX())));
    Text(
        painter, kOffsetCell.text + nextLine, QStringLiteral(" y0 %1").arg(PanelText(m_script.GetOffsetY())));

    Cell(painter, kViewCell);
    Text(painter, kViewCell.text, tr("缩放 %1").arg(PanelText(m_script.GetRatio())));
    Text(painter, kViewCell.text + nextLine, tr("精度 %1").arg(PanelText(m_dEditStep)));

    Cell(painter, kConstantCell);
    const QString name = QString::fromStdString(m_script.GetCurrentConstantName());
    Text(painter, kConstantCell.text, tr("当前变量 %1").arg(name));
    if (!name.isEmpty()) {
        const Complex value = m_script.GetCurrentConstant();
        Cell(painter, kPartsCell);
        Text(painter, kPartsCell.text, tr("    实部 %1").arg(PanelText(value.re)));
        Text(painter, kImaginaryText, tr("    虚部 %1").arg(PanelText(value.im)));
    }
    painter.fillRect(kPreviewPanelRule, kBlack);

    // The palette mapping's seven numbers.
    const PaletteMapping m = m_script.GetMapping();
    Text(painter, kMappingCaption, tr("调色板映射"));
    painter.fillRect(kMappingTopRule, kBlack);
    painter.fillRect(kMappingCell, kCellBlue);
    const std::pair<QString, double> rows[] = { { QStringLiteral("    x0  "), m.x0 },
        { QStringLiteral("    y0  "), m.y0 }, { QStringLiteral("    dx  "), m.dx },
        { QStringLiteral("    dy  "), m.dy }, { QStringLiteral(u" sinθ  "), m.sin },
        { QStringLiteral(u" cosθ  "), m.cos }, { tr("  拉伸  "), m.stretch } };
    QPoint at = kMappingText;
    for (const auto& [label, value] : rows) {
        Text(painter, at, label + PanelText(value));
        at += nextLine;
    }
    painter.fillRect(kMappingCellRule, kBlack);
    painter.fillRect(kMappingBottomRule, kBlack);
}

void CFractalDlg::PaintPalette(QPainter& painter)
{
    painter.fillRect(kPaletteShadow, kShadow);
    painter.fillRect(kPaletteFrame, kBlack);
    painter.fillRect(kPaletteBorder, kWhite);
    painter.fillRect(kPaletteFace, kFace);
    Text(painter, kPaletteCaption, tr("调色板"));

    const std::optional<PaletteRect> rect
        = FitPalette(m_script.GetPaletteWidth(), m_script.GetPaletteHeight());
    if (rect && rect->Width() > 0 && rect->Height() > 0) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(QRect(rect->left, rect->top, rect->Width(), rect->Height()), m_script.GetPalette());
    }
    painter.fillRect(kPaletteRule, kBlack);

    // The slider groove.
    painter.fillRect(kGrooveBottom, kWhite);
    painter.fillRect(kGrooveRight, kWhite);
    painter.fillRect(kGrooveTopLight, kGrooveLight);
    painter.fillRect(kGrooveLeftLight, kGrooveLight);
    painter.fillRect(kGrooveTopDark, kGrooveDark);
    painter.fillRect(kGrooveLeftDark, kGrooveDark);

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
            Disc(painter, c, kAngleHandleOuter, hot ? kBlack : kWhite);
            Disc(painter, c, kAngleHandleInner, hot ? kWhite : kBlack);
        }
        if (p.p2) {
            const bool hot = m_nDragMode == DragSize;
            const QPoint c = ReachableHandle(*p.p2);
            painter.fillRect(SquareAround(c, kSquareHandleOuter), hot ? kBlack : kWhite);
            painter.fillRect(SquareAround(c, kSquareHandleInner), hot ? kWhite : kBlack);
        }
    }
    if (const std::optional<int> s
        = StretchHandleX(m_script.GetMapping().stretch, m_mapAtDragStart.stretch)) {
        const bool hot = m_nDragMode == DragStretch;
        const QPoint c(*s, kStretchHandleY);
        painter.fillRect(SquareAround(c, kSquareHandleOuter), hot ? kBlack : kWhite);
        painter.fillRect(SquareAround(c, kSquareHandleInner), hot ? kWhite : kBlack);
    }
}

void CFractalDlg::ComposePreview()
{
    m_dcPreview.fill(Qt::black);
    const int pw = m_script.GetPreviewWidth();
    const int ph = m_script.GetPreviewHeight();
    ComposeFrame(m_dcPreview, QPoint((Layout::kPreviewSide - pw) / 2, (Layout::kPreviewSide - ph) / 2),
        m_frame, m_mark, m_markScaled, m_script.GetImageWidth(), m_script.GetImageHeight());
}

void CFractalDlg::ComposeFrame(QImage& canvas, QPoint at, const QImage& frame, const QImage& mark,
    QImage& markScaled, int imageWidth, int imageHeight)
{
    {
        QPainter painter(&canvas);
        painter.drawImage(at, frame);
    }
    // The watermark at the same relative size as in an exported image, its corner on the picture's.
    const int pw = frame.width();
    const int ph = frame.height();
    const int w = static_cast<int>(static_cast<long long>(pw) * mark.width() / std::max(1, imageWidth));
    const int h = static_cast<int>(static_cast<long long>(mark.height()) * ph / std::max(1, imageHeight));
    if (mark.isNull() || w <= 0 || h <= 0) {
        return;
    }
    if (markScaled.size() != QSize(w, h)) {
        markScaled = SmoothScale(mark, w, h);
    }
    BlendWatermark(canvas, markScaled, at.x() + pw - w, at.y() + ph - h);
}
