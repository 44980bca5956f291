#include "largeview.h"

#include "fractaldlg.h"
#include "layout.h"
#include "statusline.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStatusBar>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>

namespace {

// The view opens at this size; it may be made smaller down to the least, or larger.
constexpr QSize kInitialSize(960, 720);
constexpr QSize kLeastSize(320, 240);
// Widest status line the view lays out for: its fields keep the widths they have there.
constexpr int kStatusWidth = 1200;
// Ticks a new window size must hold before the surfaces follow it.
constexpr int kResizeTicks = 5;

// The area of the view: paints the view's canvas and passes input on to the view.
class CLargeViewArea : public QWidget {
public:
    explicit CLargeViewArea(CLargeView& view)
        : QWidget(&view)
        , m_view(view)
    {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setMouseTracking(true);
        setFocusPolicy(Qt::StrongFocus);
        setCursor(Qt::OpenHandCursor);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::black);
        painter.drawImage(QPoint(0, 0), m_view.Canvas());
    }
    void keyPressEvent(QKeyEvent* event) override { m_view.OnKey(event, true); }
    void keyReleaseEvent(QKeyEvent* event) override { m_view.OnKey(event, false); }
    void wheelEvent(QWheelEvent* event) override
    {
        m_view.OnWheel(event->angleDelta().y(), event->position().toPoint());
        event->accept();
    }
    void mousePressEvent(QMouseEvent* event) override
    {
        if (event->button() == Qt::LeftButton) {
            setCursor(Qt::ClosedHandCursor);
            m_view.OnPress(event->position().toPoint());
        }
    }
    void mouseMoveEvent(QMouseEvent* event) override
    {
        m_view.OnMove(event->position().toPoint(), event->buttons().testFlag(Qt::LeftButton));
    }
    void mouseReleaseEvent(QMouseEvent* event) override
    {
        if (event->button() == Qt::LeftButton) {
            setCursor(Qt::OpenHandCursor);
            m_view.OnRelease();
        }
    }

private:
    CLargeView& m_view;
};

} // namespace

CLargeView::CLargeView(CFractalDlg& window, CFractalScript& script)
    : QWidget(&window, Qt::Window)
    , m_window(window)
    , m_script(script)
    , m_worker([&script] { return script.TakeSnapshot(); }, script.RenderPool())
{
    setWindowTitle(tr("Glimmerset - 大视图"));
    setMinimumSize(kLeastSize);
    resize(kInitialSize);
    m_area = new CLargeViewArea(*this);
    m_bar = new QStatusBar(this);
    m_bar->setSizeGripEnabled(true);
    m_status = std::make_unique<CStatusLine>(m_bar, kStatusWidth);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_area, 1);
    layout->addWidget(m_bar);
    // The main window's commands and their keys (undo, redo, reset view, zoom, copy, ...) work here too.
    addActions(window.ShortcutActions());
    m_script.AddStageFollower(m_worker);
    m_timer.setInterval(CFractalDlg::kTimerPeriodMs);
    connect(&m_timer, &QTimer::timeout, this, [this] { OnTimer(); });
}

CLargeView::~CLargeView()
{
    hide(); // while this is whole, as the constant map does
    m_timer.stop();
    m_worker.Stop();
    m_script.RemoveStageFollower(m_worker);
}

void CLargeView::StopRendering()
{
    m_timer.stop();
    m_worker.Stop();
}

void CLargeView::StartRendering()
{
    if (!isVisible()) {
        return;
    }
    m_nShownStage = 0;
    m_worker.Start();
    m_timer.start();
}

void CLargeView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    m_area->setFocus(); // the keys go to the picture at once
    StartRendering();
}

void CLargeView::hideEvent(QHideEvent* event)
{
    StopRendering();
    QWidget::hideEvent(event);
}

void CLargeView::changeEvent(QEvent* event)
{
    // Keys released while another window had the focus never reach us: forget them.
    if (event->type() == QEvent::ActivationChange && !isActiveWindow()) {
        m_window.ForgetHeldKeys();
    }
    QWidget::changeEvent(event);
}

QPoint CLargeView::PictureCorner() const
{
    return { (m_area->width() - m_nPictureWidth) / 2, (m_area->height() - m_nPictureHeight) / 2 };
}

void CLargeView::Resize()
{
    // The target fitted into the area with its proportions, in whole cells of the preview's size.
    const int width = m_script.GetImageWidth();
    const int height = m_script.GetImageHeight();
    const QSize area = m_area->size();
    const double scale
        = std::min(static_cast<double>(area.width()) / width, static_cast<double>(area.height()) / height);
    const int cellsX = std::max(1, static_cast<int>(width * scale) / Layout::kCellSide);
    const int cellsY = std::max(1, static_cast<int>(height * scale) / Layout::kCellSide);
    m_worker.Create(cellsX, cellsY, Layout::kCellSide, Layout::kCellSide);
    m_nPictureWidth = m_worker.Width();
    m_nPictureHeight = m_worker.Height();
    m_madeFor = area;
    m_targetFor = QSize(width, height);
    m_canvas = QImage(area, QImage::Format_RGB32);
    m_canvas.fill(Qt::black);
    m_markScaled = QImage();
    m_nShownStage = 0;
    m_worker.Start();
}

void CLargeView::OnTimer()
{
    // A new target size at once; a new window size once it has held still for a few ticks, so that a
    // resize with the mouse does not make new surfaces on every tick.
    const QSize area = m_area->size();
    if (QSize(m_script.GetImageWidth(), m_script.GetImageHeight()) != m_targetFor) {
        Resize();
    } else if (area != m_madeFor) {
        if (area != m_pendingSize) {
            m_pendingSize = area;
            m_nResizeWait = kResizeTicks;
        } else if (--m_nResizeWait <= 0) {
            Resize();
        }
    }
    if (m_worker.TakeFrame(m_nShownStage, m_frame)) {
        m_canvas.fill(Qt::black);
        const QPoint at = PictureCorner();
        CFractalDlg::ComposeFrame(m_canvas, at, m_frame, m_window.Watermark(), m_markScaled,
            m_script.GetImageWidth(), m_script.GetImageHeight());
        m_area->update();
    }
    QString x;
    QString y;
    const QPoint corner = PictureCorner();
    m_window.PlaneTextsAt(
        m_ptMouse.x() - corner.x(), m_ptMouse.y() - corner.y(), m_nPictureWidth, m_nPictureHeight, x, y);
    m_window.FillStatusLine(*m_status, x, y, CFractalDlg::RenderStateText(m_worker.m_dProgress.load(), -1));
}

void CLargeView::OnWheel(int angleDelta, QPoint position)
{
    // About the point under the cursor, in this view's pixels.
    const QPoint corner = PictureCorner();
    m_window.ZoomAt(
        angleDelta, position.x() - corner.x(), position.y() - corner.y(), m_nPictureWidth, m_nPictureHeight);
}

void CLargeView::OnPress(QPoint position)
{
    m_ptPress = position;
    m_window.BeginPan();
}

void CLargeView::OnMove(QPoint position, bool leftButtonHeld)
{
    m_ptMouse = position;
    if (leftButtonHeld && m_ptPress.x() != -1) {
        m_window.PanBy(
            position.x() - m_ptPress.x(), position.y() - m_ptPress.y(), m_nPictureWidth, m_nPictureHeight);
    }
}

void CLargeView::OnRelease() { m_ptPress = QPoint(-1, -1); }

void CLargeView::OnKey(QKeyEvent* event, bool pressed)
{
    const int key = event->key();
    if (key == Qt::Key_Left || key == Qt::Key_Right || key == Qt::Key_Up || key == Qt::Key_Down) {
        m_window.OnArrowKey(
            key, pressed, event->timestamp(), event->isAutoRepeat(), pressed ? event->nativeScanCode() : 0);
        return;
    }
    if (!pressed || (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
        event->ignore();
        return;
    }
    if (key == Qt::Key_F11) {
        setWindowState(windowState() ^ Qt::WindowFullScreen);
    } else if (key == Qt::Key_Escape) {
        if (isFullScreen()) {
            showNormal();
        } else {
            close();
        }
    } else {
        m_window.OnKeyDown(key, event->modifiers().testFlag(Qt::ShiftModifier));
    }
}
