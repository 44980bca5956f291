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

// The stretch slider: the handle's centre is at (600, 226) for the stretch at the start of a drag
// and moves 94 pixels per factor e.
constexpr int kStretchCentre = 600;
constexpr int kStretchHandleY = 226;
constexpr double kStretchPixelsPerE = 94.0;
constexpr int kStretchMinX = 506;
constexpr int kStretchMaxX = 694;

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

// Texts are placed by the top-left corner of their character cell; lines of a panel are 12 apart.
constexpr int kLineHeight = 12;

// The preview box: the frame fills kPreviewRect inside a black frame and a white border, over a
// shadow that stands out below and to the right.
constexpr QRect kPreviewRect(kPreviewLeft, kPreviewTop, kPreviewSide, kPreviewSide);
constexpr QRect kPreviewShadow(16, 30, 480, 480);
constexpr QRect kPreviewFrame(4, 18, 484, 484);
constexpr QRect kPreviewBorder(5, 19, 482, 482);
constexpr QPoint kPreviewCaption(6, 4);

// The palette box the same way; the face runs 11 pixels below the palette square, down to the
// rule above the stretch slider.
constexpr QRect kPaletteShadow(510, 30, 200, 212);
constexpr QRect kPaletteFrame(498, 18, 204, 215);
constexpr QRect kPaletteBorder(499, 19, 202, 213);
constexpr QRect kPaletteFace(500, 20, 200, 211);
constexpr QPoint kPaletteCaption(500, 4);
constexpr QRect kPaletteRule(499, 221, 202, 1);

// The stretch slider's groove: a light and a dark line at its top and left, white at its bottom
// and right.
constexpr QRect kGrooveBottom(503, 228, 194, 1);
constexpr QRect kGrooveRight(697, 225, 1, 4);
constexpr QRect kGrooveTopLight(503, 225, 194, 1);
constexpr QRect kGrooveLeftLight(503, 225, 1, 4);
constexpr QRect kGrooveTopDark(504, 226, 192, 1);
constexpr QRect kGrooveLeftDark(504, 226, 1, 2);

// The handles: the angle handle a disc in a ring, the size and stretch handles a square in a
// square, each given by the half side of its boxes.
constexpr int kAngleHandleOuter = 4;
constexpr int kAngleHandleInner = 3;
constexpr int kSquareHandleOuter = 3;
constexpr int kSquareHandleInner = 2;

// The square of side 2 * half + 1 centred on c.
constexpr QRect SquareAround(QPoint c, int half)
{
    return QRect(c.x() - half, c.y() - half, 2 * half + 1, 2 * half + 1);
}

// The drawing parameters under the preview: a caption, two rules across the window, and cells
// whose blue label column is closed by black rules (no left rule: a null rectangle).
constexpr QPoint kPanelCaption(6, 512);
constexpr QRect kPanelTopRule(6, 525, kClientWidth - 6, 1);
constexpr QRect kPanelBottomRule(6, 552, kClientWidth - 6, 1);
constexpr QRect kPreviewPanelRule(6, 552, 480, 1);

struct PanelCell {
    QRect fill, leftRule, rightRule;
    QPoint text; // the first line's text; the second line is kLineHeight below
};

constexpr PanelCell kOffsetCell { QRect(6, 526, 20, 26), QRect(), QRect(26, 526, 1, 26), QPoint(6, 527) };
constexpr PanelCell kViewCell { QRect(146, 526, 32, 26), QRect(146, 526, 1, 26), QRect(178, 526, 1, 26),
    QPoint(152, 527) };
constexpr PanelCell kConstantCell { QRect(306, 526, 54, 26), QRect(306, 526, 1, 26), QRect(360, 526, 1, 26),
    QPoint(310, 527) };
// The real and imaginary parts, on the constant's second line; shown only with a constant.
constexpr PanelCell kPartsCell { QRect(502, 538, 29, 14), QRect(502, 539, 1, 14), QRect(531, 539, 1, 14),
    QPoint(310, 539) };
constexpr QPoint kImaginaryText(480, 539);

// The palette mapping's seven numbers under the palette box.
constexpr QPoint kMappingCaption(500, 250);
constexpr QRect kMappingTopRule(500, 265, 200, 1);
constexpr QRect kMappingCell(500, 266, 40, 84);
constexpr QRect kMappingCellRule(540, 266, 1, 84);
constexpr QPoint kMappingText(500, 266);
constexpr QRect kMappingBottomRule(500, 350, 200, 1);

// Inside the preview square, its edges excluded.
constexpr bool InPreview(QPoint p)
{
    return kPreviewRect.left() < p.x() && p.x() < kPreviewRect.left() + kPreviewRect.width()
        && kPreviewRect.top() < p.y() && p.y() < kPreviewRect.top() + kPreviewRect.height();
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

constexpr bool InStretchBand(QPoint p, int s) { return IsNear(p, QPoint(s, kStretchHandleY)); }

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
