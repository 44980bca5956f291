#pragma once

#include "previewworker.h"

#include <QCoreApplication>
#include <QImage>
#include <QPoint>
#include <QTimer>
#include <QWidget>

#include <memory>

class CFractalDlg;
class CFractalScript;
class CStatusLine;
class QStatusBar;

// The large view: a second, resizable window showing the main window's picture at its own size, with
// a preview worker of its own rendering progressively at that resolution. Its keys, wheel and drags
// are the main window's, and so are undo and the status line's texts. Owned by the main window; runs
// on the window thread, its worker on a thread of its own.
class CLargeView : public QWidget {
    Q_DECLARE_TR_FUNCTIONS(CLargeView)

public:
    CLargeView(CFractalDlg& window, CFractalScript& script);
    ~CLargeView() override;

    // The worker, stopped while a command of the main window runs and whenever the view is hidden.
    void StopRendering();
    void StartRendering();
    // The 10 ms tick: a new size, a new frame, the status line.
    void OnTimer();

    // The picture's size in the view and its top-left corner: the target fitted into the view.
    QSize PictureSize() const { return { m_nPictureWidth, m_nPictureHeight }; }
    QPoint PictureCorner() const;
    const QImage& Canvas() const { return m_canvas; }
    CPreviewWorker& Worker() { return m_worker; }
    CStatusLine& StatusLine() const { return *m_status; }
    QWidget* Area() const { return m_area; }

    // Input over the picture area, in its coordinates.
    void OnWheel(int angleDelta, QPoint position);
    void OnPress(QPoint position);
    void OnMove(QPoint position, bool leftButtonHeld);
    void OnRelease();
    // Keys: F11 toggles full screen, Escape leaves it (or closes the view); the rest are the main window's.
    void OnKey(QKeyEvent* event, bool pressed);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // Makes the worker's surfaces for the view's size and the target's proportions.
    void Resize();

    CFractalDlg& m_window;
    CFractalScript& m_script;
    CPreviewWorker m_worker;
    QWidget* m_area { nullptr };
    QStatusBar* m_bar { nullptr };
    std::unique_ptr<CStatusLine> m_status;
    QTimer m_timer;
    QImage m_frame;      // the worker's latest picture
    QImage m_canvas;     // the area's pixels: the picture centred on black, with the watermark
    QImage m_markScaled; // the watermark at the picture's scale
    int m_nShownStage { 0 };
    int m_nPictureWidth { 0 };
    int m_nPictureHeight { 0 };
    QSize m_madeFor;     // the area size the surfaces were made for
    QSize m_targetFor;   // the target size they were made for
    QSize m_pendingSize; // a new area size, waiting to hold still
    int m_nResizeWait { 0 };
    QPoint m_ptMouse { -1, -1 };
    QPoint m_ptPress { -1, -1 }; // where a pan began; x = -1 when none runs
    bool m_bPanning { false };
};
