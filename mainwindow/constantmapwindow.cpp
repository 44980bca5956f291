#include "constantmapwindow.h"

#include "fractaldlg.h"
#include "layout.h"
#include "numbertext.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <cmath>

namespace {

constexpr QSize kInitialSize(420, 460);
constexpr QSize kLeastSize(200, 200);
// The inputs are compared every few ticks: a copy of the picture each time is not free.
constexpr int kFollowTicks = 5;
constexpr int kWheelNotch = 120;
constexpr double kZoomFactor = 1.2;
// The marker: a ring of this radius with a cross through it, in pixels.
constexpr double kMarkRadius = 5.0;

QString Number(double value) { return QString::fromStdString(FormatFieldNumber(value)); }

// The area: paints the map and its marker, passes input on to the window.
class CMapArea : public QWidget {
public:
    explicit CMapArea(CConstantMapWindow& map)
        : QWidget(&map)
        , m_map(map)
    {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setMouseTracking(true);
        setFocusPolicy(Qt::StrongFocus);
        setCursor(Qt::CrossCursor);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::black);
        painter.drawImage(QPoint(0, 0), m_map.Canvas());
        if (!m_map.HasMap()) {
            painter.setPen(Qt::white);
            painter.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap, m_map.StatusText());
            return;
        }
        // The current constant: a white ring and cross over a black one, seen on any colour.
        const QPointF at = m_map.PixelOf(m_map.CurrentConstant());
        painter.setRenderHint(QPainter::Antialiasing);
        for (const auto& [colour, width] :
            { std::pair(QColor(Qt::black), 3.0), std::pair(QColor(Qt::white), 1.0) }) {
            painter.setPen(QPen(colour, width));
            painter.drawEllipse(at, kMarkRadius, kMarkRadius);
            painter.drawLine(at - QPointF(2 * kMarkRadius, 0), at + QPointF(2 * kMarkRadius, 0));
            painter.drawLine(at - QPointF(0, 2 * kMarkRadius), at + QPointF(0, 2 * kMarkRadius));
        }
    }
    void mousePressEvent(QMouseEvent* event) override
    {
        m_map.OnPress(event->position().toPoint(), event->button());
    }
    void mouseMoveEvent(QMouseEvent* event) override
    {
        m_map.OnMove(event->position().toPoint(), event->buttons());
    }
    void mouseReleaseEvent(QMouseEvent* event) override { m_map.OnRelease(event->button()); }
    void wheelEvent(QWheelEvent* event) override
    {
        m_map.OnWheel(event->angleDelta().y(), event->position().toPoint());
        event->accept();
    }
    void keyPressEvent(QKeyEvent* event) override
    {
        if (event->key() == Qt::Key_Home) {
            m_map.ResetView();
        } else {
            QWidget::keyPressEvent(event);
        }
    }

private:
    CConstantMapWindow& m_map;
};

} // namespace

CConstantMapWindow::CConstantMapWindow(CFractalDlg& window, CFractalScript& script)
    : QWidget(&window, Qt::Window)
    , m_window(window)
    , m_script(script)
    , m_worker(
          [this] {
              std::lock_guard lock(m_mutex);
              return m_picture;
          },
          script.RenderPool())
{
    setWindowTitle(tr("常量图"));
    setMinimumSize(kLeastSize);
    resize(kInitialSize);
    m_worker.SetHoldTicks(0); // the map changes seldom: no hold before its fine passes
    auto* startRow = new QHBoxLayout;
    startRow->addWidget(new QLabel(tr("起点 z"), this));
    m_startRe = new QLineEdit(Number(0), this);
    m_startIm = new QLineEdit(Number(0), this);
    for (QLineEdit* field : { m_startRe, m_startIm }) {
        connect(field, &QLineEdit::editingFinished, this, [this] { ReadStart(); });
    }
    startRow->addWidget(new QLabel(tr("实部"), this));
    startRow->addWidget(m_startRe, 1);
    startRow->addWidget(new QLabel(tr("虚部"), this));
    startRow->addWidget(m_startIm, 1);
    m_area = new CMapArea(*this);
    m_status = new QLabel(this);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(startRow);
    layout->addWidget(m_area, 1);
    layout->addWidget(m_status);
    m_timer.setInterval(CFractalDlg::kTimerPeriodMs);
    connect(&m_timer, &QTimer::timeout, this, [this] { OnTimer(); });
}

CConstantMapWindow::~CConstantMapWindow()
{
    // Closing a visible window in QWidget's destructor hands focus around: a start field would finish
    // its editing into members already gone. Unhooked and hidden while this is whole.
    for (QLineEdit* field : { m_startRe, m_startIm }) {
        field->disconnect(this);
    }
    hide();
    m_timer.stop();
    m_worker.Stop();
}

void CConstantMapWindow::StopRendering()
{
    m_timer.stop();
    m_worker.Stop();
}

void CConstantMapWindow::StartRendering()
{
    if (!isVisible()) {
        return;
    }
    m_nShownStage = 0;
    m_nTick = 0;
    m_worker.Start();
    m_timer.start();
}

void CConstantMapWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    StartRendering();
}

void CConstantMapWindow::hideEvent(QHideEvent* event)
{
    StopRendering();
    QWidget::hideEvent(event);
}

void CConstantMapWindow::SetStart(Complex start)
{
    m_start = start;
    m_startRe->setText(Number(start.re));
    m_startIm->setText(Number(start.im));
}

void CConstantMapWindow::ReadStart()
{
    double re = m_start.re;
    double im = m_start.im;
    // A field that does not read keeps the value it had, and shows it again.
    ParseFieldNumber(m_startRe->text().toStdString(), re);
    ParseFieldNumber(m_startIm->text().toStdString(), im);
    SetStart({ re, im });
}

Complex CConstantMapWindow::CurrentConstant() const { return m_script.GetCurrentConstant(); }

Complex CConstantMapWindow::PointAt(QPointF position) const
{
    return MapPoint(m_view, std::max(1, m_nMapWidth), std::max(1, m_nMapHeight), position.x(), position.y());
}

QPointF CConstantMapWindow::PixelOf(Complex c) const
{
    double x = 0;
    double y = 0;
    MapPixel(m_view, std::max(1, m_nMapWidth), std::max(1, m_nMapHeight), c, x, y);
    return { x, y };
}

void CConstantMapWindow::Follow()
{
    // The map in whole preview cells of the area.
    const QSize area = m_area->size();
    const int width = std::max(1, area.width() / Layout::kCellSide) * Layout::kCellSide;
    const int height = std::max(1, area.height() / Layout::kCellSide) * Layout::kCellSide;
    const Picture picture = m_script.TakeSnapshot();
    const ConstantMapInputs inputs
        = MapInputsOf(picture, m_script.GetCurrentConstantIndex(), m_start, m_view, width, height);
    if (inputs == m_inputs && m_worker.Width() == width && m_worker.Height() == height) {
        return;
    }
    if (m_worker.Width() != width || m_worker.Height() != height) {
        m_worker.Create(
            width / Layout::kCellSide, height / Layout::kCellSide, Layout::kCellSide, Layout::kCellSide);
        m_worker.Start();
        m_nMapWidth = width;
        m_nMapHeight = height;
    }
    m_inputs = inputs;
    Picture map;
    m_bValid = BuildConstantMap(picture, inputs, map);
    {
        std::lock_guard lock(m_mutex);
        m_picture = std::move(map);
    }
    m_worker.m_nStage.store(0);
    m_nShownStage = 0;
    m_canvas = QImage();
    m_area->update();
}

void CConstantMapWindow::OnTimer()
{
    if (m_nTick++ % kFollowTicks == 0) {
        Follow();
    }
    if (m_bValid && m_worker.TakeFrame(m_nShownStage, m_frame)) {
        m_canvas = m_frame.copy();
        m_area->update();
    }
    const Complex current = m_script.GetCurrentConstant();
    if (current.re != m_marked.re || current.im != m_marked.im) {
        m_marked = current;
        m_area->update();
    }
    const QString text = StatusText();
    if (m_status->text() != text) {
        m_status->setText(text);
    }
}

QString CConstantMapWindow::StatusText() const
{
    const QString name = QString::fromStdString(m_script.GetCurrentConstantName());
    if (name.isEmpty()) {
        return tr("迭代公式没有常量");
    }
    if (!m_bValid) {
        return tr("无法画出常量%1的参数平面").arg(name);
    }
    const Complex at = QRect(0, 0, m_nMapWidth, m_nMapHeight).contains(m_ptMouse)
        ? PointAt(QPointF(m_ptMouse) + QPointF(0.5, 0.5))
        : m_script.GetCurrentConstant();
    return QStringLiteral("%1 = %2, %3").arg(name, Number(at.re), Number(at.im));
}

void CConstantMapWindow::OnPress(QPoint position, Qt::MouseButton button)
{
    if (button == Qt::LeftButton && m_bValid) {
        // One drag, one step of the history.
        m_nGesture = m_window.NewGesture();
        m_window.SetConstantInGesture(PointAt(QPointF(position) + QPointF(0.5, 0.5)), m_nGesture);
    } else if (button == Qt::RightButton) {
        m_ptPanStart = position;
        m_viewAtPan = m_view;
    }
}

void CConstantMapWindow::OnMove(QPoint position, Qt::MouseButtons buttons)
{
    m_ptMouse = position;
    if (buttons.testFlag(Qt::LeftButton) && m_nGesture != 0) {
        m_window.SetConstantInGesture(PointAt(QPointF(position) + QPointF(0.5, 0.5)), m_nGesture);
    } else if (buttons.testFlag(Qt::RightButton) && m_ptPanStart.x() != -1) {
        const double ratio = m_viewAtPan.width / std::max(1, m_nMapWidth);
        m_view = { m_viewAtPan.centreX - (position.x() - m_ptPanStart.x()) * ratio,
            m_viewAtPan.centreY - (position.y() - m_ptPanStart.y()) * ratio, m_viewAtPan.width };
        m_nTick = 0; // follow at once
    }
}

void CConstantMapWindow::OnRelease(Qt::MouseButton button)
{
    if (button == Qt::LeftButton) {
        m_nGesture = 0;
    } else if (button == Qt::RightButton) {
        m_ptPanStart = QPoint(-1, -1);
    }
}

void CConstantMapWindow::OnWheel(int angleDelta, QPoint position)
{
    // About the point under the cursor, a factor 1.2 a notch (parts of a notch count in part).
    const Complex at = PointAt(position);
    const double factor = std::pow(kZoomFactor, -static_cast<double>(angleDelta) / kWheelNotch);
    const double width = m_view.width * factor;
    if (!(width > 0) || !std::isfinite(width)) {
        return;
    }
    m_view = { at.re + (m_view.centreX - at.re) * factor, at.im + (m_view.centreY - at.im) * factor, width };
    m_nTick = 0;
}

void CConstantMapWindow::ResetView()
{
    m_view = MapView {};
    m_nTick = 0;
}
