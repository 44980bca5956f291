#pragma once

// Shared helpers of the window tests: bounded waits, a started window, pixels as RGB triples.

#include "fakeservices.h"
#include "fractaldlg.h"
#include "layout.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QTest>

#include <gtest/gtest.h>

#include <ostream>

// Readable mapping values in failure messages.
inline std::ostream& operator<<(std::ostream& out, const PaletteMapping& m)
{
    return out << "{x0 " << m.x0 << ", y0 " << m.y0 << ", dx " << m.dx << ", dy " << m.dy << ", sin " << m.sin
               << ", cos " << m.cos << ", stretch " << m.stretch << "}";
}

namespace testwindow {

// Runs the event loop (and so the window's timers) in small steps until done() or the deadline.
template <typename Done> bool WaitUntil(Done done, int timeoutMs = 10000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) {
            return false;
        }
        QTest::qWait(5);
    }
    return true;
}

// The finished preview handed over: all passes done, the window's refresh for the last stage asked
// for and served; a few more ticks let the window take that frame.
inline bool WaitForFinishedPreview(CFractalDlg& window, int timeoutMs = 20000)
{
    const bool done = WaitUntil(
        [&] {
            return window.Script().PreviewWorker().m_dProgress.load() == 1.0 && window.ShownStage() == 38
                && !window.Script().PreviewWorker().m_bRefreshRequest.load();
        },
        timeoutMs);
    QTest::qWait(50);
    window.OnPreviewTimer(); // takes the served frame, should no timer tick have come on a busy machine
    return done;
}

inline bool WaitForWorker(CFractalDlg& window, bool running, int timeoutMs = 3000)
{
    return WaitUntil([&] { return window.Script().PreviewWorker().m_bRunning.load() == running; }, timeoutMs);
}

// Makes the window the active one, as the held arrow keys require.
inline bool Activate(CFractalDlg& window)
{
    window.show();
    window.activateWindow();
    QApplication::setActiveWindow(&window);
    WaitUntil([&] { return window.isActiveWindow(); }, 2000);
    return window.isActiveWindow();
}

// A new window with the default script, its preview sped up (no half-second hold).
struct StartedWindow {
    CFakeServices services;
    CFractalDlg window { services };

    explicit StartedWindow(const QString& path = QString())
    {
        window.Script().SetPreviewHoldTicks(0);
        window.Initialize(path);
    }
    CFractalScript& Script() { return window.Script(); }
};

struct Rgb {
    int r { 0 };
    int g { 0 };
    int b { 0 };
    bool operator==(const Rgb&) const = default;
    Rgb Inverted() const { return { 255 - r, 255 - g, 255 - b }; }
};

inline std::ostream& operator<<(std::ostream& out, const Rgb& c)
{
    return out << "(" << c.r << ", " << c.g << ", " << c.b << ")";
}

inline Rgb PixelAt(const QImage& image, int x, int y)
{
    const QRgb p = image.pixel(x, y);
    return { qRed(p), qGreen(p), qBlue(p) };
}

inline Rgb PixelAt(const QImage& image, QPoint p) { return PixelAt(image, p.x(), p.y()); }

// A press, one move with the button held and the release.
inline void Drag(CFractalDlg& window, QPoint from, QPoint to)
{
    window.OnLeftButtonDown(from);
    window.OnMouseMove(to, true);
    window.OnLeftButtonUp(to);
}

} // namespace testwindow
