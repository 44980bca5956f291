#include "numberformat.h"

#include <charconv>
#include <cmath>

namespace {

constexpr double kLarge = 1e10;
constexpr double kSmall = 1e-6;
constexpr double kNegligible = 1e-200;

// "%.8lf" with trailing zeros (and a bare point) dropped.
QString Trimmed(double x)
{
    char text[400];
    const auto result = std::to_chars(text, text + sizeof text, x, std::chars_format::fixed, 8);
    QString s = QString::fromLatin1(text, result.ptr - text);
    if (s.contains(QLatin1Char('.'))) {
        while (s.endsWith(QLatin1Char('0'))) {
            s.chop(1);
        }
        if (s.endsWith(QLatin1Char('.'))) {
            s.chop(1);
        }
    }
    return s;
}

} // namespace

QString FormatPanelNumber(double x)
{
    // The loops below would never end on these.
    if (std::isnan(x)) {
        return QStringLiteral("nan");
    }
    if (std::isinf(x)) {
        return x > 0 ? QStringLiteral("inf") : QStringLiteral("-inf");
    }
    double d = std::fabs(x);
    int e = 0;
    if (d >= kLarge) {
        while (d >= 10) {
            x *= 0.1;
            d *= 0.1;
            ++e;
        }
        return Trimmed(x) + QStringLiteral("*10^%1").arg(e);
    }
    if (d >= kSmall || d < kNegligible) {
        return Trimmed(x);
    }
    while (d < 1) {
        x *= 10;
        d *= 10;
        --e;
    }
    return Trimmed(x) + QStringLiteral("*10^%1").arg(e);
}
