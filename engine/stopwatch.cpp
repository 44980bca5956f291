#include "stopwatch.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

std::string Stopwatch::FormatElapsed(double seconds)
{
    // Whole seconds as a 32-bit count, saturated: a clock never runs 68 years, but a bad value must
    // not become undefined behaviour.
    constexpr double kMax = std::numeric_limits<int>::max();
    const double clamped = std::isnan(seconds) ? 0.0 : std::clamp(seconds, 0.0, kMax);
    const long s = static_cast<long>(clamped);
    const long m = s / 60;
    const long h = m / 60;
    // The fraction is rounded, not truncated: 0.9999996 s prints 1000000 in its last field.
    const double fraction = (clamped - static_cast<double>(s)) * 1000000.0;
    char text[64];
    std::snprintf(
        text, sizeof text, "[%02ld-%02ld:%02ld:%02ld,%06.0lf]", h / 24, h % 24, m % 60, s % 60, fraction);
    return text;
}
