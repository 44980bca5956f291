#pragma once

#include "constantmap.h"
#include "previewworker.h"

#include <QCoreApplication>
#include <QImage>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <mutex>

class CFractalDlg;
class CFractalScript;
class QLabel;
class QLineEdit;

// The constant map window: the parameter plane of the iteration formula for the current constant (see
// constantmap.h), rendered progressively off the window thread by a preview worker of its own, with the
// current constant marked. A click or a drag sets the constant, live, one undo step a drag; the wheel
// zooms the map, a drag with the right button moves it, Home shows its first view again; the start
// point is typed above it. It follows the script on its timer. Owned by the main window; runs on the
// window thread.
class CConstantMapWindow : public QWidget {
    Q_DECLARE_TR_FUNCTIONS(CConstantMapWindow)

public:
    CConstantMapWindow(CFractalDlg& window, CFractalScript& script);
    ~CConstantMapWindow() override;

    void StopRendering();
    void StartRendering();
    // The 10 ms tick: the map's size and inputs, a new frame, the marker.
    void OnTimer();

    Complex CurrentConstant() const;
    // Map pixels of the area <-> parameters.
    Complex PointAt(QPointF position) const;
    QPointF PixelOf(Complex c) const;
    const MapView& View() const { return m_view; }
    void SetView(const MapView& view) { m_view = view; }
    Complex Start() const { return m_start; }
    void SetStart(Complex start);
    // The map as the area shows it, without the marker; empty until the first frame.
    const QImage& Canvas() const { return m_canvas; }
    QSize MapSize() const { return { m_nMapWidth, m_nMapHeight }; }
    // The inputs of the map being shown, and whether a map could be made of them.
    const ConstantMapInputs& Inputs() const { return m_inputs; }
    bool HasMap() const { return m_bValid; }
    CPreviewWorker& Worker() { return m_worker; }
    QWidget* Area() const { return m_area; }
    QString StatusText() const;

    // Input over the map area, in its coordinates.
    void OnPress(QPoint position, Qt::MouseButton button);
    void OnMove(QPoint position, Qt::MouseButtons buttons);
    void OnRelease(Qt::MouseButton button);
    void OnWheel(int angleDelta, QPoint position);
    void ResetView();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // The inputs of now: a new map when they differ from the shown one's.
    void Follow();
    void ReadStart();

    CFractalDlg& m_window;
    CFractalScript& m_script;
    // The map's picture, which the worker copies at every render. Guards m_picture.
    mutable std::mutex m_mutex;
    Picture m_picture;
    // Declared after what it reads: it stops before they go.
    CPreviewWorker m_worker;
    ConstantMapInputs m_inputs;
    bool m_bValid { false };
    MapView m_view;
    Complex m_start;
    QWidget* m_area { nullptr };
    QLineEdit* m_startRe { nullptr };
    QLineEdit* m_startIm { nullptr };
    QLabel* m_status { nullptr };
    QTimer m_timer;
    QImage m_frame;
    QImage m_canvas;
    int m_nShownStage { 0 };
    int m_nMapWidth { 0 };
    int m_nMapHeight { 0 };
    int m_nTick { 0 };
    Complex m_marked { 0.0, 0.0 }; // the constant the marker was last drawn at
    QPoint m_ptMouse { -1, -1 };
    std::uint64_t m_nGesture { 0 }; // the drag setting the constant; 0 when none runs
    QPoint m_ptPanStart { -1, -1 };
    MapView m_viewAtPan;
};
