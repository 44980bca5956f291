#pragma once

#include "exactview.h"
#include "featurefinder.h"

#include <functional>
#include <string>

// The deep layer's feature finder for a picture's iteration formula, in the texts of views: what the
// tool's find command and the window's "zoom to the nearest feature" share.

// The width of the view that frames a feature, in its sizes: a renormalised copy reaches about
// 2 sizes from its nucleus one way and a quarter the other, so it shows whole with room around it.
inline constexpr double kFramingSizes = 5.0;

struct FeatureRequest {
    std::string re, im; // the middle of the view searched: decimals of any length
    std::string width;  // the side of the square view searched
    FeatureKind kind { FeatureKind::Periodic };
    int maxPeriod { 0 }; // 0: the default of the kind
};

// The default longest period: a Misiurewicz scan tries every preperiod of every length, and so stops
// sooner.
inline constexpr int kDefaultMaxPeriod = 10000;
inline constexpr int kDefaultMaxMisiurewicz = 1000;
inline constexpr int kMostMaxPeriod = 1000000;

struct FeatureAnswer {
    FeatureOutcome outcome { FeatureOutcome::NotFound };
    int period { 0 }, preperiod { 0 };
    std::string re, im; // the point to the precision it was found to (shortest texts that read back)
    std::string size;   // the size estimate, 6 significant digits
    std::string width;  // kFramingSizes sizes, 4 significant digits
};

// The feature of lowest period in the request's view (see FindFeature). The texts must be numbers
// that CheckViewCoordinate and CheckViewScale accept.
FeatureAnswer FindViewFeature(
    const CFormula& iteration, const FeatureRequest& request, const std::function<bool()>& cancelled = {});

// The view of an imageWidth x imageHeight target centred on a found feature, answer.width across.
PlaneView FramingView(const FeatureAnswer& answer, int imageWidth, int imageHeight);
