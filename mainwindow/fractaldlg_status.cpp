// The status line's texts (the plane point under the mouse, the plane width the preview shows, the
// preview's state, the deep zoom's summary), and the cursors and tooltips over the client.
#include "clientarea.h"
#include "deeprender.h"
#include "fractaldlg.h"
#include "layout.h"
#include "numbertext.h"
#include "statusline.h"

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
// target pixels from the offset, with the digits that tell neighbouring pixels apart (about a thousand
// at 1e-1000: the status line shows the first of them, its tooltip all).
QString DeepCoordinate(const BigFloat& offset, const BigFloat& ratio, int i, int pixels, int side)
{
    const BigFloat step = ratio * static_cast<double>(side) / pixels;
    const BigFloat value = offset + step * (i + 0.5);
    const long digits = std::max(value.Exponent(), step.Exponent()) - step.Exponent();
    return QString::fromStdString(value.ToString(static_cast<int>(std::max(digits * 0.30103 + 3, 6.0))));
}

// A view value in full: the exact decimal of a deep view, else the double's shortest text.
QString ViewValue(const std::string& exact, double value)
{
    return exact.empty() ? QString::number(value, 'g', 17) : QString::fromStdString(exact);
}

} // namespace

void CFractalDlg::BuildStatusLine()
{
    QStatusBar* line = statusBar();
    line->setSizeGripEnabled(false); // the window has a fixed size
    m_status = std::make_unique<CStatusLine>(line, kClientWidth);
}

bool CFractalDlg::PlaneTextsAt(int i, int j, int pw, int ph, QString& x, QString& y) const
{
    if (pw <= 0 || ph <= 0 || i < 0 || j < 0 || i >= pw || j >= ph) {
        return false;
    }
    const int width = m_script.GetImageWidth();
    const int height = m_script.GetImageHeight();
    if (!m_script.GetExactView().Empty()) {
        const PlaneView view = m_script.GetView();
        const PreciseView p = PreciseViewOf(view, ViewBits(view));
        x = DeepCoordinate(p.offsetX, p.ratio, i, pw, width);
        y = DeepCoordinate(p.offsetY, p.ratio, j, ph, height);
        return true;
    }
    const double ratio = m_script.GetRatio();
    const double stepX = width * ratio / pw;
    const double stepY = height * ratio / ph;
    x = Coordinate(m_script.GetOffsetX() + (i + 0.5) * stepX, stepX);
    y = Coordinate(m_script.GetOffsetY() + (j + 0.5) * stepY, stepY);
    return true;
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
    const int pw = m_script.GetPreviewWidth();
    const int ph = m_script.GetPreviewHeight();
    QString x;
    QString y;
    if (!PlaneTextsAt(m_ptMouse.x() - kPreviewLeft - (kPreviewSide - pw) / 2,
            m_ptMouse.y() - kPreviewTop - (kPreviewSide - ph) / 2, pw, ph, x, y)) {
        return {};
    }
    return tr("坐标 %1, %2").arg(x, y);
}

QString CFractalDlg::StatusWidth() const
{
    if (const ExactView& exact = m_script.GetExactView(); !exact.Empty()) {
        const BigFloat ratio = BigFloat::Parse(exact.ratio, 64, nullptr);
        return QString::fromStdString((ratio * m_script.GetImageWidth()).ToString(6));
    }
    return QString::number(m_script.GetImageWidth() * m_script.GetRatio(), 'g', 6);
}

QString CFractalDlg::StatusZoom() const { return tr("宽度 %1").arg(StatusWidth()); }

QString CFractalDlg::StatusScale() const
{
    // The panel prints scales below 1e-200 as 0 (and a ratio below the doubles' range is held as the
    // least double): there the status line gives the scale itself.
    const ExactView& exact = m_script.GetExactView();
    const double ratio = m_script.GetRatio();
    if (FormatPanelNumber(ratio) != "0" || (ratio == 0.0 && exact.Empty())) {
        return {};
    }
    return exact.Empty() ? QString::number(ratio, 'g', 6)
                         : QString::fromStdString(BigFloat::Parse(exact.ratio, 64, nullptr).ToString(6));
}

QString CFractalDlg::StatusViewValues() const
{
    const ExactView& exact = m_script.GetExactView();
    return tr("宽度 %1").arg(StatusWidth()) + QLatin1Char('\n')
        + tr("缩放 %1").arg(ViewValue(exact.ratio, m_script.GetRatio())) + QLatin1Char('\n')
        + QStringLiteral(" x0 %1\n y0 %2")
              .arg(ViewValue(exact.offsetX, m_script.GetOffsetX()),
                  ViewValue(exact.offsetY, m_script.GetOffsetY()));
}

QString CFractalDlg::StatusState() const
{
    return RenderStateText(m_dShownPreviewProgress, m_nLastPreviewMs);
}

QString CFractalDlg::RenderStateText(double progress, qint64 lastMs)
{
    if (progress < 1.0) {
        const long passes = std::lround(progress * kPreviewPasses);
        return tr("渲染中 %1/%2").arg(passes).arg(kPreviewPasses);
    }
    if (lastMs >= 0) {
        return tr("预览用时 %1 秒").arg(QString::number(lastMs / 1000.0, 'f', 2));
    }
    return {};
}

QString CFractalDlg::StatusDeepSummary() const
{
    if (!DeepView()) {
        return {};
    }
    // Past what doubles tell apart the preview is perturbed around reference orbits: say so, and how far
    // the last render got with them.
    const DeepRenderState deep = m_script.GetDeepRenderState();
    QString path = tr("深度缩放");
    if (deep.active) {
        path = tr("深度缩放：%1 条参考轨道（%2 位），跳过 %3 次迭代")
                   .arg(deep.references)
                   .arg(deep.referenceBits)
                   .arg(deep.skipRuns);
        if (deep.rebases > 0) {
            path += tr("，%1 次换基").arg(deep.rebases);
        }
        if (deep.precisePixels > 0) {
            path += tr("，%1 个像素逐点高精度计算").arg(deep.precisePixels);
        }
    }
    return path;
}

QString CFractalDlg::StatusDeepCompact() const
{
    const DeepRenderState deep = m_script.GetDeepRenderState();
    if (!DeepView() || !deep.active) {
        return {};
    }
    return tr("深度：%1 轨 · %2 位 · 跳 %3 · 换基 %4 · 高精度 %5")
        .arg(deep.references)
        .arg(deep.referenceBits)
        .arg(deep.skipRuns)
        .arg(deep.rebases)
        .arg(deep.precisePixels);
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
    const int pw = m_script.GetPreviewWidth();
    const int ph = m_script.GetPreviewHeight();
    QString x;
    QString y;
    PlaneTextsAt(m_ptMouse.x() - kPreviewLeft - (kPreviewSide - pw) / 2,
        m_ptMouse.y() - kPreviewTop - (kPreviewSide - ph) / 2, pw, ph, x, y);
    FillStatusLine(*m_status, x, y, StatusState());
}

void CFractalDlg::FillStatusLine(
    CStatusLine& line, const QString& x, const QString& y, const QString& state) const
{
    line.SetCoordinate(x, y);
    line.SetWidth(StatusWidth(), StatusScale(), StatusViewValues());
    line.SetState(state);
    line.SetDeepSummary(StatusDeepSummary(), StatusDeepCompact());
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
