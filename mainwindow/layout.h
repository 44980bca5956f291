#pragma once

#include "mapping.h"

#include <QColor>
#include <QPoint>
#include <QRect>

#include <algorithm>
#include <cmath>
#include <optional>

// The fixed layout of the main window's client area, in logical pixels. Painting and hit-testing
// share everything here, so that a handle is hit exactly where it is drawn.
namespace Layout {

constexpr int kClientWidth = 715;
constexpr int kClientHeight = 553;

// The preview area: a 480 x 480 square at (6, 20).
constexpr int kPreviewLeft = 6;
constexpr int kPreviewTop = 20;
constexpr int kPreviewSide = 480;

// The palette box: the palette image is fitted into the 200 x 200 square at (500, 20).
constexpr int kPaletteLeft = 500;
constexpr int kPaletteTop = 20;
constexpr int kPaletteSide = 200;

// The stretch slider: the handle's centre is at x = 600 for the stretch at the start of a drag and
// moves 94 pixels per factor e; its hot band is 220 < y < 232.
constexpr int kStretchCentre = 600;
constexpr double kStretchPixelsPerE = 94.0;
constexpr int kStretchMinX = 506;
constexpr int kStretchMaxX = 694;
constexpr int kStretchBandTop = 220;
constexpr int kStretchBandBottom = 232;

// The size handle's extents are clamped to this range.
constexpr double kMinExtent = 0.1;
constexpr double kMaxExtent = 2.0;

// Half the side of the square within which a point counts as near a handle.
constexpr int kNear = 6;

// Colours (red, green, blue).
const QColor kWhite(255, 255, 255);
const QColor kBlack(0, 0, 0);
const QColor kShadow(100, 100, 100);
const QColor kFace(236, 233, 216);
const QColor kCellBlue(200, 200, 255);
const QColor kGrooveLight(172, 168, 153);
const QColor kGrooveDark(113, 111, 100);

// The progress strip is blended with this constant opacity out of 255.
constexpr int kProgressOpacity = 100;
constexpr QPoint kLogoPosition(500, 380);

constexpr bool InPreview(QPoint p)
{
    return kPreviewLeft < p.x() && p.x() < kPreviewLeft + kPreviewSide && kPreviewTop < p.y()
        && p.y() < kPreviewTop + kPreviewSide;
}

constexpr bool InPaletteBox(QPoint p)
{
    return kPaletteLeft < p.x() && p.x() < kPaletteLeft + kPaletteSide && kPaletteTop < p.y()
        && p.y() < kPaletteTop + kPaletteSide;
}

// A point is near a handle inside a 12 x 12 square, the same test for hover and press.
constexpr bool IsNear(QPoint p, QPoint handle)
{
    return handle.x() - kNear < p.x() && p.x() < handle.x() + kNear && handle.y() - kNear < p.y()
        && p.y() < handle.y() + kNear;
}

constexpr bool InStretchBand(QPoint p, int s)
{
    return s - kNear < p.x() && p.x() < s + kNear && kStretchBandTop < p.y() && p.y() < kStretchBandBottom;
}

// A double as a pixel coordinate, truncated toward zero; nothing when it is not finite or lies far
// outside any screen, so that no conversion is ever out of range.
inline std::optional<int> ToPixel(double value)
{
    constexpr double kFar = 1e6;
    if (!(value > -kFar && value < kFar)) {
        return std::nullopt;
    }
    return static_cast<int>(value);
}

inline std::optional<QPoint> ToPoint(double x, double y)
{
    const std::optional<int> px = ToPixel(x);
    const std::optional<int> py = ToPixel(y);
    if (!px || !py) {
        return std::nullopt;
    }
    return QPoint(*px, *py);
}

// The palette image fitted into the palette box with its aspect ratio kept (integer arithmetic);
// nothing without a palette.
struct PaletteRect {
    int left, top, right, bottom;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
};

inline std::optional<PaletteRect> FitPalette(int width, int height)
{
    if (width <= 0 || height <= 0) {
        return std::nullopt;
    }
    if (height < width) {
        const int t = static_cast<int>(static_cast<long long>(height) * kPaletteSide / width);
        return PaletteRect { kPaletteLeft, (kPaletteSide - t) / 2 + kPaletteTop, kPaletteLeft + kPaletteSide,
            (t + kPaletteSide) / 2 + kPaletteTop };
    }
    const int t = static_cast<int>(static_cast<long long>(width) * kPaletteSide / height);
    return PaletteRect { (kPaletteSide - t) / 2 + kPaletteLeft, kPaletteTop,
        (t + kPaletteSide) / 2 + kPaletteLeft, kPaletteTop + kPaletteSide };
}

// The mapping parallelogram in client pixels: origin P0, angle handle P1 (end of the first axis),
// size handle P2 (the far corner) and P3. A point that cannot be placed is absent.
struct MappingPoints {
    std::optional<QPoint> p0, p1, p2, p3;
};

inline MappingPoints MapPoints(const PaletteRect& r, const PaletteMapping& m)
{
    const double w = r.Width();
    const double h = r.Height();
    return { ToPoint(r.left + w * m.x0, r.top + h * m.y0),
        ToPoint(r.left + w * (m.x0 + m.dx * m.cos), r.top + h * (m.y0 + m.dx * m.sin)),
        ToPoint(r.left + w * (m.x0 + m.dx * m.cos - m.dy * m.sin),
            r.top + h * (m.y0 + m.dx * m.sin + m.dy * m.cos)),
        ToPoint(r.left + w * (m.x0 - m.dy * m.sin), r.top + h * (m.y0 + m.dy * m.cos)) };
}

// Where a handle is drawn and grabbed: its point brought inside the client area, so that a mapping
// reaching beyond the window still leaves its handles where the mouse can take them.
inline QPoint ReachableHandle(QPoint p)
{
    return { std::clamp(p.x(), kNear, kClientWidth - 1 - kNear),
        std::clamp(p.y(), kNear, kClientHeight - 1 - kNear) };
}

// The stretch handle's x for a stretch against the stretch at the start of the drag.
inline std::optional<int> StretchHandleX(double stretch, double stretchAtStart)
{
    return ToPixel(kStretchCentre + kStretchPixelsPerE * std::log(stretch / stretchAtStart));
}

// The preview picture size for a target image of width x height: fits 480 x 480 with the aspect
// ratio kept (integer arithmetic), before the cells round it down to multiples of 6.
inline QSize PreviewSize(int width, int height)
{
    if (width <= 0 || height <= 0) {
        return { kPreviewSide, kPreviewSide };
    }
    if (height < width) {
        return { kPreviewSide, static_cast<int>(static_cast<long long>(height) * kPreviewSide / width) };
    }
    return { static_cast<int>(static_cast<long long>(width) * kPreviewSide / height), kPreviewSide };
}

constexpr int kCellSide = 6;

} // namespace Layout
