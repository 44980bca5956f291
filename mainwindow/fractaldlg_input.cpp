// Keys and mouse: the arrow keys change the current constant, A and Z the step, C picks the
// constant, R resets the palette mapping; the wheel zooms about the cursor, dragging pans, and the handles
// reshape the mapping.
#include "clientarea.h"
#include "exactview.h"
#include "fractaldlg.h"
#include "largeview.h"
#include "layout.h"

#include <cmath>

using namespace Layout;

namespace {

// One wheel notch; touchpads and high-resolution wheels deliver it in smaller pieces.
constexpr int kWheelNotch = 120;
constexpr double kZoomFactor = 1.2;
// The held-arrow repeat: act on the first tick, pause for nine, then act on every tick.
constexpr int kRepeatDelayTicks = 10;
constexpr int kRepeatCap = 1024;

bool IsFinite(const PaletteMapping& m)
{
    return std::isfinite(m.x0) && std::isfinite(m.y0) && std::isfinite(m.dx) && std::isfinite(m.dy)
        && std::isfinite(m.sin) && std::isfinite(m.cos) && std::isfinite(m.stretch);
}

// What a hover over position would drag. Unlike a press, the size handle comes before the stretch
// handle and the inside of the parallelogram is not told from the rest of the palette box.
DragMode HoverMode(QPoint position, const MappingPoints& p, std::optional<int> s)
{
    if (p.p1 && IsNear(position, ReachableHandle(*p.p1))) {
        return DragAngle;
    }
    if (p.p2 && IsNear(position, ReachableHandle(*p.p2))) {
        return DragSize;
    }
    if (s && InStretchBand(position, *s)) {
        return DragStretch;
    }
    if (InPreview(position)) {
        return DragPan;
    }
    if (InPaletteBox(position)) {
        return DragOrigin;
    }
    return DragNone;
}

} // namespace

void CFractalDlg::OnKeyDown(int key, bool shift)
{
    switch (key) {
    case Qt::Key_A: m_dEditStep *= 10; break;
    case Qt::Key_Z: m_dEditStep *= 0.1; break;
    case Qt::Key_C:
        if (shift) {
            m_script.PrevConstant();
        } else {
            m_script.NextConstant();
        }
        break;
    case Qt::Key_R: OnResetPaletteMapping(); return;
    case Qt::Key_Escape: close(); return;
    default: return; // Enter and everything else do nothing.
    }
    Repaint();
}

void CFractalDlg::OnArrowKey(
    int key, bool pressed, unsigned long timestamp, bool autoRepeat, unsigned scanCode)
{
    const CArrowKeys::Key arrow = key == Qt::Key_Left ? CArrowKeys::kLeft
        : key == Qt::Key_Right                        ? CArrowKeys::kRight
        : key == Qt::Key_Down                         ? CArrowKeys::kDown
                                                      : CArrowKeys::kUp;
    if (pressed) {
        m_arrows.Press(arrow, timestamp, autoRepeat, scanCode);
    } else {
        m_arrows.Release(arrow, timestamp, autoRepeat);
    }
}

bool CFractalDlg::InputActive() const
{
    return isActiveWindow() || (m_largeView && m_largeView->isActiveWindow());
}

void CFractalDlg::OnKeysTimer()
{
    if (!InputActive()) {
        s_nArrowRepeat = 0;
        return;
    }
    const std::array<bool, CArrowKeys::kCount> held = m_arrows.Tick(m_keyProbe);
    const bool anyHeld = std::find(held.begin(), held.end(), true) != held.end();
    // Arrows held together, from the first tick that finds one held to the first that finds none,
    // are one step of the history.
    if (anyHeld && !m_bArrowsHeld) {
        m_nArrowGesture = ++m_nGesture;
    }
    m_bArrowsHeld = anyHeld;
    if (!anyHeld) {
        s_nArrowRepeat = 0;
        return;
    }
    Complex value = m_script.GetCurrentConstant();
    bool stepped = false;
    // ORDER: Left, Right, Down, Up, as CArrowKeys numbers them.
    const Complex steps[CArrowKeys::kCount]
        = { { -m_dEditStep, 0 }, { m_dEditStep, 0 }, { 0, -m_dEditStep }, { 0, m_dEditStep } };
    for (int k = 0; k < CArrowKeys::kCount; ++k) {
        if (!held[static_cast<size_t>(k)]) {
            continue;
        }
        ++s_nArrowRepeat;
        if (s_nArrowRepeat == 1 || s_nArrowRepeat > kRepeatDelayTicks) {
            value = { value.re + steps[k].re, value.im + steps[k].im };
            stepped = true;
        }
    }
    if (stepped) {
        SetConstantInGesture(value, m_nArrowGesture);
    }
    s_nArrowRepeat = std::min(s_nArrowRepeat, kRepeatCap);
}

void CFractalDlg::ZoomStep(
    bool forward, double px, double py, int shownWidth, int shownHeight, EditKind kind, std::uint64_t gesture)
{
    // The plane point under the cursor keeps its place, at any depth.
    PictureEdit edit;
    edit.view = ZoomedAbout(m_script.GetView(), px, py, forward ? Zoom::In : Zoom::Out, kZoomFactor,
        m_script.GetImageWidth(), m_script.GetImageHeight(), shownWidth, shownHeight);
    m_nShownStage = 0;
    if (std::isfinite(edit.view->offsetX) && std::isfinite(edit.view->offsetY)
        && std::isfinite(edit.view->ratio)) {
        Record(kind, std::move(edit), gesture);
    }
}

void CFractalDlg::OnWheel(int angleDelta, QPoint position)
{
    // About the point's offset from the preview area's corner, over the area's side: the document's rule.
    ZoomAt(angleDelta, position.x() - kPreviewLeft, position.y() - kPreviewTop, kPreviewSide, kPreviewSide);
}

void CFractalDlg::ZoomAt(int angleDelta, double px, double py, int shownWidth, int shownHeight)
{
    if (shownWidth <= 0 || shownHeight <= 0) {
        return;
    }
    // Whole notches only: gather the small deltas of touchpads until one has come together.
    m_nWheelDelta += angleDelta;
    while (std::abs(m_nWheelDelta) >= kWheelNotch) {
        const bool forward = m_nWheelDelta > 0;
        m_nWheelDelta += forward ? -kWheelNotch : kWheelNotch;
        // Turns that follow each other within the burst time are one step of the history.
        const qint64 now = m_clock();
        if (!m_bWheelSeen || now - m_nLastWheelMs > kWheelBurstMs) {
            m_nWheelGesture = ++m_nGesture;
        }
        m_bWheelSeen = true;
        m_nLastWheelMs = now;
        ZoomStep(forward, px, py, shownWidth, shownHeight, EditKind::Wheel, m_nWheelGesture);
    }
}

void CFractalDlg::BeginPan()
{
    ++m_nGesture; // one drag, one step
    m_viewAtDragStart = m_script.GetView();
}

void CFractalDlg::PanBy(int dx, int dy, int shownWidth, int shownHeight)
{
    // The offsets at the press with the scale of now (a wheel turn may come during a drag).
    PictureEdit edit;
    edit.view = Panned(WithRatioOf(m_viewAtDragStart, m_script.GetView()), dx, dy, m_script.GetImageWidth(),
        m_script.GetImageHeight(), shownWidth, shownHeight);
    if (std::isfinite(edit.view->offsetX) && std::isfinite(edit.view->offsetY)) {
        Record(EditKind::Pan, std::move(edit), m_nGesture);
        m_nShownStage = 0;
    }
}

void CFractalDlg::SetConstantInGesture(Complex value, std::uint64_t gesture)
{
    PictureEdit edit;
    edit.constants = { { m_script.GetCurrentConstantIndex(), value } };
    Record(EditKind::Constant, std::move(edit), gesture);
    m_nShownStage = 0;
}

void CFractalDlg::OnLeftButtonDown(QPoint position)
{
    m_nDragMode = DragNone;
    ++m_nGesture; // one drag, one step
    const PaletteMapping m = m_script.GetMapping();
    const std::optional<PaletteRect> rect
        = FitPalette(m_script.GetPaletteWidth(), m_script.GetPaletteHeight());
    const MappingPoints p = rect ? MapPoints(*rect, m) : MappingPoints {};
    const std::optional<int> s = StretchHandleX(m.stretch, m_mapAtDragStart.stretch);

    const auto insideParallelogram = [&] {
        if (!rect) {
            return false;
        }
        const double u = static_cast<double>(position.x() - rect->left) / rect->Width() - m.x0;
        const double v = static_cast<double>(position.y() - rect->top) / rect->Height() - m.y0;
        const double a = (u * m.cos + v * m.sin) / m.dx;
        const double b = (v * m.cos - u * m.sin) / m.dy;
        return 0 < a && a < 1 && 0 < b && b < 1;
    };
    if (p.p1 && IsNear(position, ReachableHandle(*p.p1))) {
        m_nDragMode = DragAngle;
    } else if (s && InStretchBand(position, *s)) {
        m_nDragMode = DragStretch;
    } else if (p.p2 && IsNear(position, ReachableHandle(*p.p2))) {
        m_nDragMode = DragSize;
    } else if (insideParallelogram()) {
        m_nDragMode = DragOrigin;
    } else if (InPreview(position)) {
        m_nDragMode = DragPan;
        m_viewAtDragStart = m_script.GetView();
    } else if (InPaletteBox(position)) {
        m_nDragMode = DragOrigin;
    }
    if (m_nDragMode != DragPan) {
        m_mapAtDragStart = m;
    } else {
        m_clientArea->setCursor(Qt::ClosedHandCursor);
    }
    // x = -1 means no drag in progress.
    m_ptDragStart = QPoint(position.x() == -1 ? 0 : position.x(), position.y());
}

void CFractalDlg::ApplyMapping(const PaletteMapping& mapping)
{
    // A drag that would make a mapping value infinite or NaN changes nothing.
    if (!IsFinite(mapping)) {
        return;
    }
    PictureEdit edit;
    edit.mapping = mapping;
    Record(EditKind::MappingDrag, std::move(edit), m_nGesture);
    m_nShownStage = 0;
}

void CFractalDlg::OnMouseMove(QPoint position, bool leftButtonHeld)
{
    m_ptMouse = position;
    UpdateStatusLine();
    const PaletteMapping m = m_script.GetMapping();
    const std::optional<PaletteRect> rect
        = FitPalette(m_script.GetPaletteWidth(), m_script.GetPaletteHeight());
    const MappingPoints p = rect ? MapPoints(*rect, m) : MappingPoints {};
    const std::optional<int> s = StretchHandleX(m.stretch, m_mapAtDragStart.stretch);

    if (leftButtonHeld && m_ptDragStart.x() != -1) {
        const PaletteMapping& start = m_mapAtDragStart;
        const int dx = position.x() - m_ptDragStart.x();
        const int dy = position.y() - m_ptDragStart.y();
        switch (m_nDragMode) {
        case DragPan: PanBy(dx, dy, m_script.GetPreviewWidth(), m_script.GetPreviewHeight()); break;
        case DragAngle: {
            if (!p.p0) {
                break;
            }
            const int ex = position.x() - p.p0->x();
            const int ey = position.y() - p.p0->y();
            if (ex * ex + ey * ey > 0) {
                const double r = std::sqrt(static_cast<double>(ex * ex + ey * ey));
                ApplyMapping({ start.x0, start.y0, start.dx, start.dy, ey / r, ex / r, start.stretch });
            }
            break;
        }
        case DragSize: {
            if (!rect) {
                break;
            }
            const double u = static_cast<double>(position.x() - rect->left) / rect->Width() - m.x0;
            const double v = static_cast<double>(position.y() - rect->top) / rect->Height() - m.y0;
            const double extentX = u * m.cos + v * m.sin;
            const double extentY = v * m.cos - u * m.sin;
            if (std::isfinite(extentX) && std::isfinite(extentY)) {
                ApplyMapping({ start.x0, start.y0, std::clamp(extentX, kMinExtent, kMaxExtent),
                    std::clamp(extentY, kMinExtent, kMaxExtent), start.sin, start.cos, start.stretch });
            }
            break;
        }
        case DragOrigin:
            if (rect) {
                ApplyMapping({ start.x0 + static_cast<double>(dx) / rect->Width(),
                    start.y0 + static_cast<double>(dy) / rect->Height(), start.dx, start.dy, start.sin,
                    start.cos, start.stretch });
            }
            break;
        case DragStretch: {
            const int x = std::clamp(position.x(), kStretchMinX, kStretchMaxX);
            ApplyMapping({ start.x0, start.y0, start.dx, start.dy, start.sin, start.cos,
                start.stretch * std::exp((x - kStretchCentre) / kStretchPixelsPerE) });
            break;
        }
        case DragNone: break;
        }
        return;
    }

    // A hover: the handle under the mouse is drawn inverted, the cursor shows what a press does.
    const DragMode before = m_nDragMode;
    m_nDragMode = HoverMode(position, p, s);
    if (m_nDragMode != before) {
        m_clientArea->setCursor(CursorFor(m_nDragMode));
        m_clientArea->setToolTip(ToolTipFor(m_nDragMode));
        Repaint();
    }
}

void CFractalDlg::OnLeftButtonUp(QPoint)
{
    m_ptDragStart.setX(-1);
    m_nDragMode = DragNone;
    m_mapAtDragStart = m_script.GetMapping(); // the stretch handle returns to the centre
    m_clientArea->setCursor(CursorFor(DragNone));
    Repaint();
}
