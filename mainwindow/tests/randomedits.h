#pragma once

#include "fractaldlg.h"

#include <random>

// One edit as a user makes them at speed, chosen by random: an arrow key pressed and released
// (the constant moves), a wheel turn anywhere (zoom), or a drag anywhere in the client area (the
// preview pans, a handle over the palette reshapes the mapping).
inline void MakeRandomViewEdit(CFractalDlg& window, std::mt19937& random)
{
    std::uniform_int_distribution<int> pick(0, 99);
    std::uniform_int_distribution<int> x(0, 714);
    std::uniform_int_distribution<int> y(0, 552);
    static constexpr int kArrows[] = { Qt::Key_Left, Qt::Key_Right, Qt::Key_Up, Qt::Key_Down };
    const int what = pick(random);
    if (what < 45) {
        const int key = kArrows[pick(random) % 4];
        window.OnArrowKey(key, true);
        window.OnKeysTimer();
        window.OnArrowKey(key, false);
    } else if (what < 70) {
        window.OnWheel(pick(random) < 50 ? 120 : -120, QPoint(x(random), y(random)));
    } else {
        const QPoint from(x(random), y(random));
        window.OnLeftButtonDown(from);
        window.OnMouseMove(from + QPoint(pick(random) - 50, pick(random) - 50), true);
        window.OnLeftButtonUp(from);
    }
}
