#pragma once

#include <QWidget>

class CFractalDlg;

// The main window's client area: 715 x 553 logical pixels, painted opaquely from the window's back
// buffer, passing keys and mouse gestures on to the window in client coordinates.
class CClientArea : public QWidget {
public:
    explicit CClientArea(CFractalDlg& window);

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    CFractalDlg& m_window;
};
