#include "clientarea.h"

#include "fractaldlg.h"
#include "layout.h"

#include <QContextMenuEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

CClientArea::CClientArea(CFractalDlg& window)
    : QWidget(&window)
    , m_window(window)
{
    setFixedSize(Layout::kClientWidth, Layout::kClientHeight);
    // Painting covers every pixel: no background is erased first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setAcceptDrops(true); // a .gsc file dropped on the window opens like File > Open
}

void CClientArea::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawImage(QPoint(0, 0), m_window.ComposeClient());
}

namespace {

bool IsArrow(int key)
{
    return key == Qt::Key_Left || key == Qt::Key_Right || key == Qt::Key_Up || key == Qt::Key_Down;
}

} // namespace

void CClientArea::keyPressEvent(QKeyEvent* event)
{
    if (IsArrow(event->key())) {
        m_window.OnArrowKey(
            event->key(), true, event->timestamp(), event->isAutoRepeat(), event->nativeScanCode());
        return;
    }
    // Ctrl+Z is Undo, never also the Z key: a letter with Ctrl, Alt or Meta is not a key of the window.
    if (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) {
        event->ignore();
        return;
    }
    m_window.OnKeyDown(event->key(), event->modifiers().testFlag(Qt::ShiftModifier));
}

void CClientArea::keyReleaseEvent(QKeyEvent* event)
{
    if (IsArrow(event->key())) {
        m_window.OnArrowKey(event->key(), false, event->timestamp(), event->isAutoRepeat());
    }
}

void CClientArea::wheelEvent(QWheelEvent* event)
{
    m_window.OnWheel(event->angleDelta().y(), event->position().toPoint());
    event->accept();
}

void CClientArea::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        m_window.OnLeftButtonDown(event->position().toPoint());
    }
}

void CClientArea::mouseMoveEvent(QMouseEvent* event)
{
    m_window.OnMouseMove(event->position().toPoint(), event->buttons().testFlag(Qt::LeftButton));
}

void CClientArea::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        m_window.OnLeftButtonUp(event->position().toPoint());
    }
}

void CClientArea::contextMenuEvent(QContextMenuEvent* event)
{
    m_window.OnContextMenu(event->pos(), event->globalPos());
    event->accept();
}

void CClientArea::dragEnterEvent(QDragEnterEvent* event)
{
    if (m_window.AcceptsDrop(event->mimeData())) {
        event->acceptProposedAction();
    }
}

void CClientArea::dragMoveEvent(QDragMoveEvent* event)
{
    if (m_window.AcceptsDrop(event->mimeData())) {
        event->acceptProposedAction();
    }
}

void CClientArea::dropEvent(QDropEvent* event)
{
    if (m_window.AcceptsDrop(event->mimeData())) {
        event->acceptProposedAction();
        m_window.OnDrop(event->mimeData());
    }
}
