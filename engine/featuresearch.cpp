#include "featuresearch.h"

#include "bignum.h"

#include <algorithm>

namespace {

// The bits that hold a decimal text as given, and at least those that tell the view's points apart.
mpfr_prec_t TextBits(const std::string& text, long widthExponent)
{
    const mpfr_prec_t digits = static_cast<mpfr_prec_t>(text.size()) * 4 + 64;
    return std::max(digits, BitsFor(widthExponent - 64, 64));
}

} // namespace

FeatureAnswer FindViewFeature(
    const CFormula& iteration, const FeatureRequest& request, const std::function<bool()>& cancelled)
{
    // The window searches on a thread of its own, which ends after the search: its caches go with it.
    struct CacheRelease {
        ~CacheRelease() { ReleasePrecisionCaches(); }
    } release;
    FeatureSearch search;
    search.width = BigFloat::Parse(request.width, TextBits(request.width, 0), nullptr);
    search.centreRe = BigFloat::Parse(request.re, TextBits(request.re, search.width.Exponent()), nullptr);
    search.centreIm = BigFloat::Parse(request.im, TextBits(request.im, search.width.Exponent()), nullptr);
    search.kind = request.kind;
    search.maxPeriod = request.maxPeriod > 0       ? request.maxPeriod
        : request.kind == FeatureKind::Misiurewicz ? kDefaultMaxMisiurewicz
                                                   : kDefaultMaxPeriod;
    const Feature found = FindFeature(iteration, search, cancelled);
    FeatureAnswer answer;
    answer.outcome = found.outcome;
    if (found.outcome != FeatureOutcome::Found) {
        return answer;
    }
    answer.period = found.period;
    answer.preperiod = found.preperiod;
    BigFloat re(found.bits), im(found.bits);
    mpfr_set(re.get(), found.point.Re(), MPFR_RNDN);
    mpfr_set(im.get(), found.point.Im(), MPFR_RNDN);
    answer.re = re.ToString();
    answer.im = im.ToString();
    answer.size = found.size.ToString(6);
    answer.width = (found.size * kFramingSizes).ToString(4);
    return answer;
}

PlaneView FramingView(const FeatureAnswer& answer, int imageWidth, int imageHeight)
{
    const BigFloat width = BigFloat::Parse(answer.width, 64, nullptr);
    const mpfr_prec_t bits
        = std::max(TextBits(answer.re, width.Exponent()), TextBits(answer.im, width.Exponent()));
    const BigFloat re = BigFloat::Parse(answer.re, bits, nullptr);
    const BigFloat im = BigFloat::Parse(answer.im, bits, nullptr);
    BigFloat ratio(bits);
    mpfr_div_si(ratio.get(), width.get(), std::max(1, imageWidth), MPFR_RNDN);
    return ViewAroundCentre(re, im, ratio, imageWidth, imageHeight);
}
