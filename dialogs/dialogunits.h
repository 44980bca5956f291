#pragma once

#include <QRect>

// Dialog units as the templates give them, in pixels: a quarter of the average character width
// across, an eighth of the character height down, for the 9-point interface font.
constexpr int DluX(int x) { return x * 3 / 2; }
constexpr int DluY(int y) { return y * 13 / 8; }
constexpr QRect Dlu(int x, int y, int width, int height)
{
    return QRect(DluX(x), DluY(y), DluX(x + width) - DluX(x), DluY(y + height) - DluY(y));
}
constexpr QRect Dlu(QRect r) { return Dlu(r.x(), r.y(), r.width(), r.height()); }
constexpr QRect Dlu(int width, int height) { return Dlu(0, 0, width, height); }
