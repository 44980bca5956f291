// The frames of an animation: where the keys fall, the picture of each frame and its file name.
#include "animate.h"

#include "exactview.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr int kMaxPatternWidth = 20;

double Lerp(double a, double b, double t) { return a + (b - a) * t; }

// The view between two keys of which one at least is deeper than doubles hold, as FramePicture moves
// shallow views (centre evenly, width by a constant factor), in MPFR at the deeper key's precision.
PlaneView DeepFrameView(const Picture& a, const Picture& b, double t, int width, int height)
{
    const PlaneView va = a.view;
    const PlaneView vb = b.view;
    const mpfr_prec_t bits = std::max(ViewBits(va), ViewBits(vb));
    BigFloat ax(bits), ay(bits), bx(bits), by(bits);
    CentreOf(va, width, height, bits, ax, ay);
    CentreOf(vb, width, height, bits, bx, by);
    const PreciseView pa = PreciseViewOf(va, bits);
    const PreciseView pb = PreciseViewOf(vb, bits);
    BigFloat ratio = pa.ratio;
    if (mpfr_equal_p(pa.ratio.get(), pb.ratio.get()) == 0) {
        if (mpfr_sgn(pa.ratio.get()) > 0 && mpfr_sgn(pb.ratio.get()) > 0) {
            // a * (b / a)^t: the logarithm of the quotient has no trouble with exponents past doubles.
            ratio = pb.ratio / pa.ratio;
            mpfr_log(ratio.get(), ratio.get(), MPFR_RNDN);
            mpfr_mul_d(ratio.get(), ratio.get(), t, MPFR_RNDN);
            mpfr_exp(ratio.get(), ratio.get(), MPFR_RNDN);
            ratio = pa.ratio * ratio;
        } else {
            ratio = pa.ratio + (pb.ratio - pa.ratio) * t;
        }
    }
    return ViewAroundCentre(ax + (bx - ax) * t, ay + (by - ay) * t, ratio, width, height);
}

// The functions a frame's picture needs, from additions, multiplications, divisions and square roots
// alone, which IEEE arithmetic rounds alike everywhere: the C library picks other code for other CPUs,
// and a frame must be the same picture on every machine of a render farm.
namespace exact {

constexpr int kSeriesTerms = 40;

// e^x: x = k ln 2 + r with |r| <= ln 2 / 2, e^r by its series, then scaled by 2^k (exact).
double Exp(double x)
{
    // Beyond these e^x is 0 or infinite anyway; the bound keeps the conversion to int defined.
    constexpr double kLimit = 2000.0;
    const double k = std::clamp(std::nearbyint(x / std::numbers::ln2), -kLimit, kLimit);
    const double r = x - k * std::numbers::ln2;
    double term = 1.0;
    double sum = 1.0;
    for (int n = 1; n < kSeriesTerms && term != 0.0; ++n) {
        term *= r / n;
        sum += term;
    }
    return std::ldexp(sum, static_cast<int>(k));
}

// ln x for x > 0: x = m 2^e with m in [0.5, 1), ln m = 2 atanh((m - 1) / (m + 1)) by its series.
double Log(double x)
{
    int e = 0;
    const double m = std::frexp(x, &e);
    const double s = (m - 1.0) / (m + 1.0);
    double power = s;
    double sum = 0.0;
    for (int n = 0; n < kSeriesTerms; ++n) {
        sum += power / (2 * n + 1);
        power *= s * s;
    }
    return 2.0 * sum + e * std::numbers::ln2;
}

// sin and cos of an angle in [-2 pi, 2 pi] by their series.
void SinCos(double x, double& sine, double& cosine)
{
    double term = x;
    sine = 0.0;
    for (int n = 1; n < kSeriesTerms; n += 2) {
        sine += term;
        term *= -x * x / ((n + 1) * (n + 2));
    }
    term = 1.0;
    cosine = 0.0;
    for (int n = 0; n < kSeriesTerms; n += 2) {
        cosine += term;
        term *= -x * x / ((n + 1) * (n + 2));
    }
}

// atan x: halving the angle three times (tan(a / 2) = x / (1 + sqrt(1 + x^2))) leaves |x| < 0.2
// for the series.
double Atan(double x)
{
    for (int k = 0; k < 3; ++k) {
        x = x / (1.0 + std::sqrt(1.0 + x * x));
    }
    double power = x;
    double sum = 0.0;
    for (int n = 0; n < kSeriesTerms; ++n) {
        sum += (n % 2 == 0 ? power : -power) / (2 * n + 1);
        power *= x * x;
    }
    return 8.0 * sum;
}

double Atan2(double y, double x)
{
    if (x == 0.0 && y == 0.0) {
        return 0.0;
    }
    if (std::fabs(x) >= std::fabs(y)) {
        const double a = Atan(y / x);
        return x > 0.0 ? a : (y >= 0.0 ? a + std::numbers::pi : a - std::numbers::pi);
    }
    const double a = Atan(x / y);
    return y > 0.0 ? std::numbers::pi / 2 - a : -std::numbers::pi / 2 - a;
}

} // namespace exact

// The plane's rotation of a mapping as an angle and a length (the pair is used as stored, so its
// length scales the palette too).
struct Rotation {
    double angle;
    double length;
};

Rotation RotationOf(const PaletteMapping& m)
{
    return { exact::Atan2(m.sin, m.cos), std::sqrt(m.sin * m.sin + m.cos * m.cos) };
}

} // namespace

int KeyFrame(int key, int keys, int frames)
{
    // Integer rounding, half up: the same frame on every machine.
    const long long twice = 2LL * key * (frames - 1) + (keys - 1);
    return static_cast<int>(twice / (2LL * (keys - 1)));
}

Picture FramePicture(const std::vector<Picture>& keys, int frame, int frames, Ease ease)
{
    const int count = static_cast<int>(keys.size());
    int j = 0;
    while (j + 1 < count && KeyFrame(j + 1, count, frames) <= frame) {
        ++j;
    }
    const int from = KeyFrame(j, count, frames);
    if (frame == from || j + 1 == count) {
        return keys[static_cast<size_t>(j)];
    }
    const Picture& a = keys[static_cast<size_t>(j)];
    const Picture& b = keys[static_cast<size_t>(j) + 1];
    double t = static_cast<double>(frame - from) / (KeyFrame(j + 1, count, frames) - from);
    if (ease == Ease::Smooth) {
        t = t * t * (3.0 - 2.0 * t);
    }
    Picture p = a;
    for (int k = 0; k < p.iterFormula.GetConstantCount(); ++k) {
        const Complex ca = a.iterFormula.GetConstant(k);
        const Complex cb
            = b.iterFormula.GetConstant(b.iterFormula.FindConstant(a.iterFormula.GetConstantName(k)));
        p.iterFormula.SetConstant(k, { Lerp(ca.re, cb.re, t), Lerp(ca.im, cb.im, t) });
    }
    p.maxIter = static_cast<int>(std::lround(Lerp(a.maxIter, b.maxIter, t)));
    const PaletteMapping& ma = a.mapping;
    const PaletteMapping& mb = b.mapping;
    p.mapping.x0 = Lerp(ma.x0, mb.x0, t);
    p.mapping.y0 = Lerp(ma.y0, mb.y0, t);
    p.mapping.dx = Lerp(ma.dx, mb.dx, t);
    p.mapping.dy = Lerp(ma.dy, mb.dy, t);
    p.mapping.stretch = Lerp(ma.stretch, mb.stretch, t);
    // By angle, the shorter way round: sine and cosine moved on their own would shrink the palette
    // to a point on the way through a half turn.
    const Rotation ra = RotationOf(ma);
    const Rotation rb = RotationOf(mb);
    double turn = rb.angle - ra.angle;
    if (turn > std::numbers::pi) {
        turn -= 2.0 * std::numbers::pi;
    } else if (turn < -std::numbers::pi) {
        turn += 2.0 * std::numbers::pi;
    }
    const double angle = ra.angle + turn * t;
    const double length = Lerp(ra.length, rb.length, t);
    // A rotation both keys share stays as stored, to the last bit.
    if (ma.sin != mb.sin || ma.cos != mb.cos) {
        double sine = 0.0;
        double cosine = 1.0;
        exact::SinCos(angle, sine, cosine);
        p.mapping.sin = length * sine;
        p.mapping.cos = length * cosine;
    }
    if (!a.view.exact.Empty() || !b.view.exact.Empty()) {
        p.view = DeepFrameView(a, b, t, p.imageWidth, p.imageHeight);
        return p;
    }
    // The centre moves evenly and the width by a constant factor per frame: a zoom at even speed.
    const double halfWidth = p.imageWidth / 2.0;
    const double halfHeight = p.imageHeight / 2.0;
    const double centreX
        = Lerp(a.view.offsetX + halfWidth * a.view.ratio, b.view.offsetX + halfWidth * b.view.ratio, t);
    const double centreY
        = Lerp(a.view.offsetY + halfHeight * a.view.ratio, b.view.offsetY + halfHeight * b.view.ratio, t);
    // Geometric for widths that have a logarithm; a script may hold any number, and those move linearly.
    const bool geometric = a.view.ratio > 0.0 && b.view.ratio > 0.0 && std::isfinite(a.view.ratio)
        && std::isfinite(b.view.ratio);
    p.view.ratio = a.view.ratio == b.view.ratio ? a.view.ratio
        : geometric ? a.view.ratio * exact::Exp(exact::Log(b.view.ratio / a.view.ratio) * t)
                    : Lerp(a.view.ratio, b.view.ratio, t);
    p.view.offsetX = centreX - halfWidth * p.view.ratio;
    p.view.offsetY = centreY - halfHeight * p.view.ratio;
    return p;
}

std::string KeyDifference(const Picture& first, const Picture& picture)
{
    const auto missing = [](const CFormula& from, const CFormula& in) -> std::string {
        for (int k = 0; k < from.GetConstantCount(); ++k) {
            if (in.FindConstant(from.GetConstantName(k)) < 0) {
                return from.GetConstantName(k);
            }
        }
        return {};
    };
    if (const std::string name = missing(picture.iterFormula, first.iterFormula); !name.empty()) {
        return "it has the constant " + name + ", which the first key lacks";
    }
    if (const std::string name = missing(first.iterFormula, picture.iterFormula); !name.empty()) {
        return "it lacks the constant " + name + " of the first key";
    }
    const struct {
        const char* name;
        const CFormula& a;
        const CFormula& b;
    } formulas[] = { { "iteration", first.iterFormula, picture.iterFormula },
        { "termination", first.termFormula, picture.termFormula },
        { "colour", first.colorFormula, picture.colorFormula } };
    for (const auto& formula : formulas) {
        if (formula.a.GetText() != formula.b.GetText()) {
            return std::string("its ") + formula.name + " formula '" + formula.b.GetText()
                + "' is not the first key's '" + formula.a.GetText() + "'";
        }
    }
    const Raster& pa = first.palette.raster;
    const Raster& pb = picture.palette.raster;
    bool samePalette = pa.width == pb.width && pa.height == pb.height && pa.bitsPerPixel == pb.bitsPerPixel;
    const size_t rowBytes = static_cast<size_t>(pa.width) * static_cast<size_t>(pa.bitsPerPixel / 8);
    for (int y = 0; samePalette && y < pa.height; ++y) {
        samePalette = std::equal(pa.pixels + static_cast<ptrdiff_t>(y) * pa.bytesPerRow,
            pa.pixels + static_cast<ptrdiff_t>(y) * pa.bytesPerRow + rowBytes,
            pb.pixels + static_cast<ptrdiff_t>(y) * pb.bytesPerRow);
    }
    if (!samePalette) {
        return "its palette is not the first key's";
    }
    return {};
}

std::optional<std::string> FramePath(const std::string& pattern, int frame, std::string* problem)
{
    const auto fail = [problem](std::string why) -> std::optional<std::string> {
        if (problem) {
            *problem = std::move(why);
        }
        return std::nullopt;
    };
    std::string path;
    int conversions = 0;
    for (size_t k = 0; k < pattern.size(); ++k) {
        if (pattern[k] != '%') {
            path += pattern[k];
            continue;
        }
        if (k + 1 < pattern.size() && pattern[k + 1] == '%') {
            path += '%';
            ++k;
            continue;
        }
        size_t at = k + 1;
        const bool zeros = at < pattern.size() && pattern[at] == '0';
        at += zeros ? 1 : 0;
        int width = 0;
        while (at < pattern.size() && pattern[at] >= '0' && pattern[at] <= '9' && width <= kMaxPatternWidth) {
            width = width * 10 + (pattern[at++] - '0');
        }
        if (at >= pattern.size() || pattern[at] != 'd' || width > kMaxPatternWidth) {
            return fail("'" + pattern + "' may hold only %d, %0Nd or %Nd (N up to 20) and %%");
        }
        std::string number = std::to_string(frame);
        if (static_cast<int>(number.size()) < width) {
            number.insert(0, static_cast<size_t>(width) - number.size(), zeros ? '0' : ' ');
        }
        path += number;
        ++conversions;
        k = at;
    }
    if (conversions != 1) {
        return fail("'" + pattern + "' needs one %05d (or %d) for the frame number");
    }
    return path;
}
