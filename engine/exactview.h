#pragma once

#include "bignum.h"
#include "view.h"

#include <optional>
#include <string>
#include <string_view>

struct Picture;

// The deepest ratio a view takes, as a binary exponent (about 1e-315000): below it a view would need
// more precision than BitsFor gives, and every step would take seconds.
inline constexpr long kDeepestRatioExponent = -(1L << 20) + 256;

// The view's exact decimal values when doubles do not hold it; empty strings otherwise.
struct ExactView {
    std::string offsetX, offsetY, ratio;
    bool Empty() const { return ratio.empty(); }
    bool operator==(const ExactView&) const = default;
};

struct PreciseView {
    BigFloat offsetX, offsetY, ratio;
};

// The view members of a picture: the doubles every shallow render uses, and the exact values of a
// deep view. When exact is set, the doubles are the nearest doubles of its values, except that a
// ratio below the doubles' normal range is held as DBL_MIN (see StoredView).
struct PlaneView {
    double offsetX { 0.0 };
    double offsetY { 0.0 };
    double ratio { 1.0 };
    ExactView exact;
    bool operator==(const PlaneView&) const = default;

    // The doubles alone: what every shallow render and the window's arithmetic read.
    View Doubles() const { return { offsetX, offsetY, ratio }; }
};

// The picture's view at `bits` precision: the exact strings when set, otherwise the doubles (exactly).
PreciseView PreciseViewOf(const Picture& picture, mpfr_prec_t bits);
PreciseView PreciseViewOf(const PlaneView& view, mpfr_prec_t bits);
// Whether the view is past what doubles render: ratio < 1e-12 * max(1, |centre.x|, |centre.y|) (exact
// values when set).
bool IsDeepView(const Picture& picture);
bool IsDeepView(const PlaneView& view, int imageWidth, int imageHeight);
// The precision the view's arithmetic takes: its pixels told apart at its magnitude, with guard bits
// to spare so that thousands of wheel and drag steps do not move it by a measurable part of a pixel.
mpfr_prec_t ViewBits(const PlaneView& view);

// The view of precise values on an imageWidth x imageHeight target: exact strings (the shortest that
// read back) and the doubles nearest them while it is deep, the nearest doubles alone otherwise.
PlaneView StoredView(const PreciseView& view, int imageWidth, int imageHeight);
// What is wrong with a number of a view: the one check of every reader of views (the tool's options and
// its JSON, the exact view line of script files), so that a value gets the same answer everywhere.
enum class ViewNumberError {
    None,
    NotANumber,  // not a decimal (nan among them)
    OutOfRange,  // its nearest double is infinite
    NotPositive, // a ratio or width of 0 or below
    TooDeep,     // a ratio or width below the deepest ratio (kDeepestRatioExponent)
};
// A ratio or a plane width: above 0, no deeper than the deepest ratio, its nearest double finite.
// As a decimal of any length and exponent, at any precision, or as a double.
ViewNumberError CheckViewScale(std::string_view text);
ViewNumberError CheckViewScale(const BigFloat& value);
ViewNumberError CheckViewScale(double value);
// An offset or a centre coordinate: its nearest double finite.
ViewNumberError CheckViewCoordinate(std::string_view text);
ViewNumberError CheckViewCoordinate(double value);

// The view of exact texts as a file or the tool gives them: nothing when they are not three decimals
// with a ratio above 0 whose nearest doubles are finite.
std::optional<PlaneView> ViewFromExact(const ExactView& texts, int imageWidth, int imageHeight);
// The view whose centre is (centreX, centreY) with ratio plane units per pixel.
PlaneView ViewAroundCentre(
    const BigFloat& centreX, const BigFloat& centreY, const BigFloat& ratio, int imageWidth, int imageHeight);
// The plane point at the centre of the imageWidth x imageHeight target, at `bits` precision.
void CentreOf(
    const PlaneView& view, int imageWidth, int imageHeight, mpfr_prec_t bits, BigFloat& x, BigFloat& y);

// The view operations of View (view.h) for views of any depth. While neither the view nor the result
// is deep they are View's own double arithmetic, to the last bit, and the result has no exact values;
// otherwise they compute in MPFR at ViewBits.
enum class Zoom { In, Out };
// The wheel: the ratio divided (In) or multiplied (Out) by factor, the plane point under (x, y) of a
// shownWidth x shownHeight picture of the imageWidth x imageHeight target kept in place.
PlaneView ZoomedAbout(const PlaneView& view, double x, double y, Zoom zoom, double factor, int imageWidth,
    int imageHeight, int shownWidth, int shownHeight);
// A drag of (dx, dy) pixels.
PlaneView Panned(
    const PlaneView& view, int dx, int dy, int imageWidth, int imageHeight, int shownWidth, int shownHeight);
// A width x height picture of the target's view keeping the top-left corner and the plane's width.
PlaneView AtWidth(const PlaneView& view, int imageWidth, int imageHeight, int width, int height);
// The same keeping the centre and all of the plane the target shows.
PlaneView Fitted(const PlaneView& view, int imageWidth, int imageHeight, int width, int height);
// The offsets of `offsets` with the ratio of `ratioFrom` (a drag whose ratio a wheel turn changed).
PlaneView WithRatioOf(const PlaneView& offsets, const PlaneView& ratioFrom);

// The picture shown at width x height as AtWidth shows it: its target size and view change together.
void ShowAtSize(Picture& picture, int width, int height);

// The shortest decimal text that reads back to value at its precision.
std::string ShortestText(const BigFloat& value);
