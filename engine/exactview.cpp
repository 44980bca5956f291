#include "exactview.h"

#include "picture.h"
#include "view.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace {

// Below this many plane units per pixel, relative to the centre's magnitude (and at least 1), a double
// lattice turns blocky: neighbouring pixels no longer get distinct plane points.
constexpr double kDeepRelative = 1e-12;
// The precision that is plenty to compare magnitudes and find exponents.
constexpr mpfr_prec_t kProbeBits = 64;
// Spare bits beyond telling pixels apart: every step rounds once, by 2^-64 of a pixel, so even
// millions of wheel and drag steps stay far below a millionth of a pixel.
constexpr int kGuardBits = 64;

// A view's values hold a deep zoom only when they are numbers: a ratio of 0, a negative one or an
// infinity is left to the doubles, which treat it as they always did.
bool Usable(const PreciseView& p)
{
    return mpfr_number_p(p.offsetX.get()) && mpfr_number_p(p.offsetY.get()) && mpfr_number_p(p.ratio.get())
        && mpfr_sgn(p.ratio.get()) > 0;
}

bool DeepPrecise(const PreciseView& p, int imageWidth, int imageHeight)
{
    if (!Usable(p)) {
        return false;
    }
    const mpfr_prec_t bits = std::max(p.ratio.Precision(), kProbeBits);
    BigFloat cx = p.offsetX + p.ratio * (imageWidth / 2.0);
    BigFloat cy = p.offsetY + p.ratio * (imageHeight / 2.0);
    mpfr_abs(cx.get(), cx.get(), MPFR_RNDN);
    mpfr_abs(cy.get(), cy.get(), MPFR_RNDN);
    BigFloat magnitude(1.0, bits);
    magnitude = magnitude < cx ? cx : magnitude;
    magnitude = magnitude < cy ? cy : magnitude;
    return p.ratio < magnitude * kDeepRelative;
}

template <typename Doubles, typename Precise>
PlaneView Operate(const PlaneView& view, int imageWidth, int imageHeight, int width, int height,
    Doubles doubles, Precise precise)
{
    if (view.exact.Empty() && !IsDeepView(view, imageWidth, imageHeight)) {
        const View d = doubles(view.Doubles());
        const PlaneView shallow { d.offsetX, d.offsetY, d.ratio, {} };
        if (!IsDeepView(shallow, width, height)) {
            return shallow;
        }
    }
    const mpfr_prec_t bits = ViewBits(view);
    const PreciseView result = precise(PreciseViewOf(view, bits), bits);
    if (result.ratio.Exponent() < kDeepestRatioExponent) {
        return view; // as deep as a view goes
    }
    return StoredView(result, width, height);
}

// The precision a view of these values takes (see ViewBits).
mpfr_prec_t BitsOf(const PreciseView& p)
{
    if (!Usable(p)) {
        return BitsFor(0, 0, kGuardBits);
    }
    // The far corner lies at offset + ratio * side, and a side is at most 2^13 pixels. Antialiased
    // exports sample a quarter of a pixel: two bits below the ratio.
    const long magnitude
        = std::max({ 1L, p.offsetX.Exponent(), p.offsetY.Exponent(), p.ratio.Exponent() + 13 }) + 1;
    return BitsFor(p.ratio.Exponent() - 2, magnitude, kGuardBits);
}

BigFloat Max(const BigFloat& a, const BigFloat& b) { return a < b ? b : a; }

} // namespace

PreciseView PreciseViewOf(const Picture& picture, mpfr_prec_t bits)
{
    return PreciseViewOf(picture.view, bits);
}

PreciseView PreciseViewOf(const PlaneView& view, mpfr_prec_t bits)
{
    if (!view.exact.Empty()) {
        bool okX = false;
        bool okY = false;
        bool okRatio = false;
        PreciseView p { BigFloat::Parse(view.exact.offsetX, bits, &okX),
            BigFloat::Parse(view.exact.offsetY, bits, &okY),
            BigFloat::Parse(view.exact.ratio, bits, &okRatio) };
        if (okX && okY && okRatio) {
            return p;
        }
    }
    return { BigFloat(view.offsetX, bits), BigFloat(view.offsetY, bits), BigFloat(view.ratio, bits) };
}

bool IsDeepView(const Picture& picture)
{
    return IsDeepView(picture.view, picture.imageWidth, picture.imageHeight);
}

bool IsDeepView(const PlaneView& view, int imageWidth, int imageHeight)
{
    if (view.exact.Empty()) {
        if (!(view.ratio > 0.0) || !std::isfinite(view.ratio) || !std::isfinite(view.offsetX)
            || !std::isfinite(view.offsetY)) {
            return false;
        }
        const double cx = view.offsetX + view.ratio * imageWidth / 2;
        const double cy = view.offsetY + view.ratio * imageHeight / 2;
        return view.ratio < kDeepRelative * std::max({ 1.0, std::fabs(cx), std::fabs(cy) });
    }
    return DeepPrecise(PreciseViewOf(view, kProbeBits), imageWidth, imageHeight);
}

mpfr_prec_t ViewBits(const PlaneView& view) { return BitsOf(PreciseViewOf(view, kProbeBits)); }

std::string ShortestText(const BigFloat& value)
{
    if (value.IsZero() || !mpfr_number_p(value.get())) {
        return value.ToString();
    }
    const mpfr_prec_t bits = value.Precision();
    const auto readsBack = [&](int digits) {
        bool ok = false;
        const BigFloat back = BigFloat::Parse(value.ToString(digits), bits, &ok);
        return ok && mpfr_equal_p(back.get(), value.get());
    };
    // ToString's digits always read back; the shortest lies at or below them. Typed values are short
    // and computed ones need nearly all their digits: look at both ends before halving, since at deep
    // views every conversion has thousands of digits.
    int high = static_cast<int>(bits * 0.30103) + 2;
    if (!readsBack(high)) {
        return value.ToString();
    }
    constexpr int kShort = 17;
    int low = 1;
    if (high > kShort && readsBack(kShort)) {
        high = kShort;
    } else {
        low = high > kShort ? kShort + 1 : 1;
        for (int gap = 1; high - gap > low; gap *= 2) {
            if (!readsBack(high - gap)) {
                low = high - gap + 1;
                break;
            }
            high -= gap;
        }
    }
    while (low < high) {
        const int middle = low + (high - low) / 2;
        if (readsBack(middle)) {
            high = middle;
        } else {
            low = middle + 1;
        }
    }
    return value.ToString(high);
}

PlaneView StoredView(const PreciseView& view, int imageWidth, int imageHeight)
{
    PlaneView stored;
    stored.offsetX = view.offsetX.ToDouble();
    stored.offsetY = view.offsetY.ToDouble();
    stored.ratio = view.ratio.ToDouble();
    if (!DeepPrecise(view, imageWidth, imageHeight)) {
        return stored;
    }
    // A ratio below the normal doubles is held as the smallest normal one, never as 0 or a
    // subnormal: code that reads only the doubles refuses a ratio of 0 as no view at all, and
    // products of subnormals lose their digits. The exact ratio is what deep renders use.
    stored.ratio = std::max(stored.ratio, DBL_MIN);
    // At the precision the stored view is read back with, so that reading it and storing it again
    // gives the same texts.
    const mpfr_prec_t bits = BitsOf(view);
    const auto text = [bits](const BigFloat& value) {
        BigFloat rounded = value;
        rounded.SetPrecision(bits);
        return ShortestText(rounded);
    };
    stored.exact = { text(view.offsetX), text(view.offsetY), text(view.ratio) };
    return stored;
}

namespace {

// A decimal read as MPFR reads it, and whether it fell below or beyond MPFR's own exponents.
BigFloat ParseView(std::string_view text, bool& ok, bool& underflow, bool& overflow)
{
    mpfr_clear_flags();
    BigFloat value = BigFloat::Parse(text, kProbeBits, &ok);
    underflow = mpfr_underflow_p() != 0;
    overflow = mpfr_overflow_p() != 0;
    return value;
}

} // namespace

ViewNumberError CheckViewScale(const BigFloat& value)
{
    if (mpfr_nan_p(value.get())) {
        return ViewNumberError::NotANumber;
    }
    if (mpfr_sgn(value.get()) <= 0) {
        return ViewNumberError::NotPositive;
    }
    if (!std::isfinite(value.ToDouble())) {
        return ViewNumberError::OutOfRange;
    }
    return value.Exponent() < kDeepestRatioExponent ? ViewNumberError::TooDeep : ViewNumberError::None;
}

ViewNumberError CheckViewScale(std::string_view text)
{
    bool ok = false, underflow = false, overflow = false;
    const BigFloat value = ParseView(text, ok, underflow, overflow);
    if (!ok) {
        return ViewNumberError::NotANumber;
    }
    // Below MPFR's own exponents the value reads as 0: a positive one is far too deep, not 0.
    if (underflow && !mpfr_signbit(value.get())) {
        return ViewNumberError::TooDeep;
    }
    return overflow && mpfr_sgn(value.get()) > 0 ? ViewNumberError::OutOfRange : CheckViewScale(value);
}

ViewNumberError CheckViewScale(double value)
{
    if (std::isnan(value)) {
        return ViewNumberError::NotANumber;
    }
    return !(value > 0.0)   ? ViewNumberError::NotPositive
        : std::isinf(value) ? ViewNumberError::OutOfRange
                            : ViewNumberError::None;
}

ViewNumberError CheckViewCoordinate(std::string_view text)
{
    bool ok = false, underflow = false, overflow = false;
    const BigFloat value = ParseView(text, ok, underflow, overflow);
    if (!ok) {
        return ViewNumberError::NotANumber;
    }
    return overflow || !std::isfinite(value.ToDouble()) ? ViewNumberError::OutOfRange : ViewNumberError::None;
}

ViewNumberError CheckViewCoordinate(double value)
{
    return std::isnan(value) ? ViewNumberError::NotANumber
        : std::isinf(value)  ? ViewNumberError::OutOfRange
                             : ViewNumberError::None;
}

std::optional<PlaneView> ViewFromExact(const ExactView& texts, int imageWidth, int imageHeight)
{
    if (CheckViewCoordinate(texts.offsetX) != ViewNumberError::None
        || CheckViewCoordinate(texts.offsetY) != ViewNumberError::None
        || CheckViewScale(texts.ratio) != ViewNumberError::None) {
        return std::nullopt;
    }
    const PlaneView given { 0.0, 0.0, 1.0, texts };
    const PlaneView view = StoredView(PreciseViewOf(given, ViewBits(given)), imageWidth, imageHeight);
    if (!std::isfinite(view.offsetX) || !std::isfinite(view.offsetY) || !std::isfinite(view.ratio)) {
        return std::nullopt;
    }
    return view;
}

PlaneView ViewAroundCentre(
    const BigFloat& centreX, const BigFloat& centreY, const BigFloat& ratio, int imageWidth, int imageHeight)
{
    return StoredView({ centreX - ratio * (imageWidth / 2.0), centreY - ratio * (imageHeight / 2.0), ratio },
        imageWidth, imageHeight);
}

void CentreOf(
    const PlaneView& view, int imageWidth, int imageHeight, mpfr_prec_t bits, BigFloat& x, BigFloat& y)
{
    const PreciseView p = PreciseViewOf(view, bits);
    x = p.offsetX + p.ratio * (imageWidth / 2.0);
    y = p.offsetY + p.ratio * (imageHeight / 2.0);
}

PlaneView ZoomedAbout(const PlaneView& view, double x, double y, Zoom zoom, double factor, int imageWidth,
    int imageHeight, int shownWidth, int shownHeight)
{
    return Operate(
        view, imageWidth, imageHeight, imageWidth, imageHeight,
        [&](const View& d) {
            const double next = zoom == Zoom::In ? d.ratio / factor : d.ratio * factor;
            return d.ZoomedAbout(x, y, next, imageWidth, imageHeight, shownWidth, shownHeight);
        },
        [&](const PreciseView& p, mpfr_prec_t bits) {
            BigFloat next = zoom == Zoom::In ? p.ratio / factor : p.ratio * factor;
            const BigFloat along = p.ratio - next;
            const BigFloat kx = BigFloat(static_cast<double>(imageWidth), bits) * x / shownWidth;
            const BigFloat ky = BigFloat(static_cast<double>(imageHeight), bits) * y / shownHeight;
            return PreciseView { p.offsetX + along * kx, p.offsetY + along * ky, std::move(next) };
        });
}

PlaneView Panned(
    const PlaneView& view, int dx, int dy, int imageWidth, int imageHeight, int shownWidth, int shownHeight)
{
    return Operate(
        view, imageWidth, imageHeight, imageWidth, imageHeight,
        [&](const View& d) { return d.Panned(dx, dy, imageWidth, imageHeight, shownWidth, shownHeight); },
        [&](const PreciseView& p, mpfr_prec_t) {
            return PreciseView { p.offsetX - p.ratio * static_cast<double>(imageWidth) * dx / shownWidth,
                p.offsetY - p.ratio * static_cast<double>(imageHeight) * dy / shownHeight, p.ratio };
        });
}

PlaneView AtWidth(const PlaneView& view, int imageWidth, int imageHeight, int width, int height)
{
    return Operate(
        view, imageWidth, imageHeight, width, height,
        [&](const View& d) { return d.AtWidth(imageWidth, width); },
        [&](const PreciseView& p, mpfr_prec_t) {
            return PreciseView { p.offsetX, p.offsetY, p.ratio * static_cast<double>(imageWidth) / width };
        });
}

PlaneView Fitted(const PlaneView& view, int imageWidth, int imageHeight, int width, int height)
{
    return Operate(
        view, imageWidth, imageHeight, width, height,
        [&](const View& d) { return d.Fitted(imageWidth, imageHeight, width, height); },
        [&](const PreciseView& p, mpfr_prec_t) {
            const BigFloat planeWidth = p.ratio * static_cast<double>(imageWidth);
            const BigFloat planeHeight = p.ratio * static_cast<double>(imageHeight);
            BigFloat fitted = Max(planeWidth / width, planeHeight / height);
            return PreciseView { p.offsetX + (planeWidth - fitted * width) / 2,
                p.offsetY + (planeHeight - fitted * height) / 2, std::move(fitted) };
        });
}

PlaneView WithRatioOf(const PlaneView& offsets, const PlaneView& ratioFrom)
{
    PlaneView view { offsets.offsetX, offsets.offsetY, ratioFrom.ratio, {} };
    if (offsets.exact.Empty() && ratioFrom.exact.Empty()) {
        return view;
    }
    const auto text = [](const std::string& exact, double value) {
        return exact.empty() ? ShortestText(BigFloat(value, 53)) : exact;
    };
    view.exact = { text(offsets.exact.offsetX, offsets.offsetX), text(offsets.exact.offsetY, offsets.offsetY),
        text(ratioFrom.exact.ratio, ratioFrom.ratio) };
    return view;
}

void ShowAtSize(Picture& picture, int width, int height)
{
    const PlaneView shown = AtWidth(picture.view, picture.imageWidth, picture.imageHeight, width, height);
    picture.imageWidth = width;
    picture.imageHeight = height;
    picture.view = shown;
}
