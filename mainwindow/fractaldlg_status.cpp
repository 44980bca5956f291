// The status line under the client area (the plane point under the mouse, the plane width the preview
// shows, the preview's state or the too-deep warning), and the cursors and tooltips over the client.
#include "clientarea.h"
#include "deeprender.h"
#include "fractaldlg.h"
#include "layout.h"

#include <QCoreApplication>
#include <QLabel>
#include <QStatusBar>

#include <cmath>

using namespace Layout;

namespace {

// The passes of a full preview: the coarse picture and 36 fine ones.
constexpr int kPreviewPasses = 37;

// Enough digits to tell neighbouring pixels apart, and no more.
QString Coordinate(double value, double step)
{
    const double digits = std::ceil(std::log10(std::max(std::abs(value), step) / step)) + 2;
    const int precision = std::isfinite(digits) ? std::clamp(static_cast<int>(digits), 6, 17) : 17;
    return QString::number(value, 'g', precision);
}

// The coordinate of a pixel centre of a view past doubles, i + 0.5 pixels of `pixels` showing `side`
// target pixels from the offset. At most 24 digits: a status line has no room for the thousand that
// tell pixels apart at 1e-1000.
QString DeepCoordinate(const BigFloat& offset, const BigFloat& ratio, int i, int pixels, int side)
{
    const BigFloat step = ratio * static_cast<double>(side) / pixels;
    const BigFloat value = offset + step * (i + 0.5);
    const long digits = std::max(value.Exponent(), step.Exponent()) - step.Exponent();
    return QString::fromStdString(
        value.ToString(static_cast<int>(std::clamp(digits * 0.30103 + 3, 6.0, 24.0))));
}

} // namespace

void CFractalDlg::BuildStatusLine()
{
    QStatusBar* line = statusBar();
    line->setSizeGripEnabled(false); // the window has a fixed size
    m_statusCoordinate = new QLabel(line);
    m_statusZoom = new QLabel(line);
    m_statusState = new QLabel(line);
    m_statusCoordinate->setMinimumWidth(300);
    m_statusZoom->setMinimumWidth(150);
    line->addWidget(m_statusCoordinate);
    line->addWidget(m_statusZoom);
    line->addWidget(m_statusState, 1);
    line->setMinimumHeight(16);
}

bool CFractalDlg::PlanePointAt(QPoint position, double& x, double& y) const
{
    const int pw = m_script.GetPreviewWidth();
    const int ph = m_script.GetPreviewHeight();
    if (pw <= 0 || ph <= 0) {
        return false;
    }
    // The picture is centred in the preview area, as the refresh timer draws it.
    const int i = position.x() - kPreviewLeft - (kPreviewSide - pw) / 2;
    const int j = position.y() - kPreviewTop - (kPreviewSide - ph) / 2;
    if (i < 0 || j < 0 || i >= pw || j >= ph) {
        return false;
    }
    const double ratio = m_script.GetRatio();
    x = m_script.GetOffsetX() + (i + 0.5) * (m_script.GetImageWidth() * ratio / pw);
    y = m_script.GetOffsetY() + (j + 0.5) * (m_script.GetImageHeight() * ratio / ph);
    return true;
}

bool CFractalDlg::DeepView() const
{
    return IsDeepView(m_script.GetView(), m_script.GetImageWidth(), m_script.GetImageHeight());
}

QString CFractalDlg::StatusCoordinate() const
{
    double x = 0;
    double y = 0;
    if (!PlanePointAt(m_ptMouse, x, y)) {
        return {};
    }
    if (!m_script.GetExactView().Empty()) {
        const PlaneView view = m_script.GetView();
        const PreciseView p = PreciseViewOf(view, ViewBits(view));
        const int pw = m_script.GetPreviewWidth();
        const int ph = m_script.GetPreviewHeight();
        const int i = m_ptMouse.x() - kPreviewLeft - (kPreviewSide - pw) / 2;
        const int j = m_ptMouse.y() - kPreviewTop - (kPreviewSide - ph) / 2;
        return tr("坐标 %1, %2")
            .arg(DeepCoordinate(p.offsetX, p.ratio, i, pw, m_script.GetImageWidth()),
                DeepCoordinate(p.offsetY, p.ratio, j, ph, m_script.GetImageHeight()));
    }
    const double ratio = m_script.GetRatio();
    const double stepX = m_script.GetImageWidth() * ratio / m_script.GetPreviewWidth();
    const double stepY = m_script.GetImageHeight() * ratio / m_script.GetPreviewHeight();
    return tr("坐标 %1, %2").arg(Coordinate(x, stepX), Coordinate(y, stepY));
}

QString CFractalDlg::StatusZoom() const
{
    if (const ExactView& exact = m_script.GetExactView(); !exact.Empty()) {
        const BigFloat ratio = BigFloat::Parse(exact.ratio, 64, nullptr);
        return tr("宽度 %1").arg(QString::fromStdString((ratio * m_script.GetImageWidth()).ToString(6)));
    }
    return tr("宽度 %1").arg(QString::number(m_script.GetImageWidth() * m_script.GetRatio(), 'g', 6));
}

QString CFractalDlg::StatusState() const
{
    QString state;
    if (m_dShownPreviewProgress < 1.0) {
        const long passes = std::lround(m_dShownPreviewProgress * kPreviewPasses);
        state = tr("渲染中 %1/%2").arg(passes).arg(kPreviewPasses);
    } else if (m_nLastPreviewMs >= 0) {
        state = tr("预览用时 %1 秒").arg(QString::number(m_nLastPreviewMs / 1000.0, 'f', 2));
    }
    if (!DeepView()) {
        return state;
    }
    // Past what doubles tell apart the preview is perturbed around reference orbits: say so, and how far
    // the last render got with them.
    const DeepRenderState deep = LastDeepRender();
    QString path = tr("深度缩放");
    if (deep.active) {
        path = tr("深度缩放：%1 条参考轨道（%2 位），跳过 %3 次迭代")
                   .arg(deep.references)
                   .arg(deep.referenceBits)
                   .arg(deep.skipRuns);
        if (deep.precisePixels > 0) {
            path += tr("，%1 个像素逐点高精度计算").arg(deep.precisePixels);
        }
    }
    return state.isEmpty() ? path : state + QStringLiteral("  ") + path;
}

void CFractalDlg::UpdateStatusLine()
{
    // The clock of the last full preview: from the first unfinished frame to the finished one.
    if (m_dShownPreviewProgress < 1.0 && m_nPreviewStartMs < 0) {
        m_nPreviewStartMs = m_clock();
    } else if (m_dShownPreviewProgress >= 1.0 && m_nPreviewStartMs >= 0) {
        m_nLastPreviewMs = m_clock() - m_nPreviewStartMs;
        m_nPreviewStartMs = -1;
    }
    const auto set = [](QLabel* label, const QString& text) {
        if (label->text() != text) {
            label->setText(text);
        }
    };
    set(m_statusCoordinate, StatusCoordinate());
    set(m_statusZoom, StatusZoom());
    set(m_statusState, StatusState());
}

Qt::CursorShape CFractalDlg::CursorFor(DragMode mode)
{
    switch (mode) {
    case DragPan: return Qt::OpenHandCursor;
    case DragAngle: return Qt::CrossCursor;
    case DragSize: return Qt::SizeFDiagCursor;
    case DragStretch: return Qt::SizeHorCursor;
    case DragOrigin: return Qt::SizeAllCursor;
    case DragNone: break;
    }
    return Qt::ArrowCursor;
}

QString CFractalDlg::ToolTipFor(DragMode mode) const
{
    switch (mode) {
    case DragAngle: return tr("拖动：旋转调色板映射");
    case DragSize: return tr("拖动：改变调色板映射的大小");
    case DragStretch: return tr("拖动：拉伸调色板映射");
    default: return {};
    }
}
