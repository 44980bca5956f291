#include "numbertext.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <locale.h>
#include <string>

namespace {

// The "C" locale, created once, for strtod_l and strtoll_l: every reader's number syntax is strtod's.
locale_t CLocale()
{
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The index of the first character at or after from that is not a space or tab.
size_t SkipSpaces(std::string_view text, size_t from)
{
    while (from < text.size() && (text[from] == ' ' || text[from] == '\t')) {
        ++from;
    }
    return from;
}

size_t SkipDigits(std::string_view text, size_t from)
{
    while (from < text.size() && IsDigit(text[from])) {
        ++from;
    }
    return from;
}

// "%.8lf" with trailing zeros (and a bare point) dropped.
std::string Trimmed(double x)
{
    char text[400];
    const auto result = std::to_chars(text, text + sizeof text, x, std::chars_format::fixed, 8);
    std::string s(text, result.ptr);
    if (s.find('.') != std::string::npos) {
        s.erase(s.find_last_not_of('0') + 1);
        if (s.back() == '.') {
            s.pop_back();
        }
    }
    return s;
}

std::string Formatted(double value, std::chars_format format, int precision)
{
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value, format, precision);
    return std::string(text, result.ptr);
}

// Walks "%x, %x, ...": the comma must follow the previous number directly; blanks may follow it.
template <typename Convert> int Scan(std::string_view text, int count, Convert convert)
{
    const std::string buffer(text); // strto* need a terminated string
    const char* p = buffer.c_str();
    for (int k = 0; k < count; ++k) {
        if (k > 0) {
            if (*p != ',') {
                return k;
            }
            ++p;
            while (IsBlank(*p)) {
                ++p;
            }
        }
        char* end = nullptr;
        convert(k, p, &end);
        if (end == p) {
            return k;
        }
        p = end;
    }
    return count;
}

} // namespace

std::string FormatScriptNumber(double value)
{
    if (std::isnan(value)) {
        return "nan";
    }
    if (std::isinf(value)) {
        return value > 0 ? "inf" : "-inf";
    }
    char text[512]; // the fixed form of the largest double has 309 digits
    auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 6);
    std::string fixed(text, result.ptr);
    if (std::bit_cast<uint64_t>(strtod_l(fixed.c_str(), nullptr, CLocale()))
        == std::bit_cast<uint64_t>(value)) {
        return fixed;
    }
    result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

int ScanNumbers(std::string_view text, double* values, int count)
{
    return Scan(text, count, [values](int k, const char* from, char** end) {
        const double value = strtod_l(from, end, CLocale());
        if (*end != from) {
            values[k] = value;
        }
    });
}

int ScanIntegers(std::string_view text, int* values, int count)
{
    return Scan(text, count, [values](int k, const char* from, char** end) {
        const long long value = strtoll_l(from, end, 10, CLocale());
        if (*end != from) {
            values[k] = static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
        }
    });
}

std::string FormatFieldNumber(double value)
{
    constexpr int kFieldPrecision = 15;
    return Formatted(value, std::chars_format::general, kFieldPrecision);
}

bool ParseFieldInteger(std::string_view text, int& value)
{
    size_t i = SkipSpaces(text, 0);
    const bool negative = i < text.size() && text[i] == '-';
    const bool sign = negative || (i < text.size() && text[i] == '+');
    const size_t digits = i + (sign ? 1 : 0);
    const size_t end = SkipDigits(text, digits);
    i = SkipSpaces(text, end);
    // The field's old pattern ended in '$', which also matches before a final line feed.
    if (end == digits || !(i == text.size() || (i + 1 == text.size() && text[i] == '\n'))) {
        return false;
    }
    unsigned long long magnitude = 0;
    if (std::from_chars(text.data() + digits, text.data() + end, magnitude).ec != std::errc()
        || magnitude > static_cast<unsigned long long>(INT_MAX) + (negative ? 1 : 0)) {
        return false;
    }
    if (magnitude == 0 && sign) {
        return false;
    }
    value = negative ? static_cast<int>(-static_cast<long long>(magnitude)) : static_cast<int>(magnitude);
    return true;
}

bool ParseFieldNumber(std::string_view text, double& value)
{
    // [+-]? then digits with an optional point and more digits, or a point and digits; then an
    // exponent only when it has digits.
    const size_t start = SkipSpaces(text, 0);
    size_t i = start < text.size() && (text[start] == '+' || text[start] == '-') ? start + 1 : start;
    if (i < text.size() && IsDigit(text[i])) {
        i = SkipDigits(text, i);
        if (i < text.size() && text[i] == '.') {
            i = SkipDigits(text, i + 1);
        }
    } else if (i + 1 < text.size() && text[i] == '.' && IsDigit(text[i + 1])) {
        i = SkipDigits(text, i + 1);
    } else {
        return false;
    }
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        size_t e = i + 1;
        if (e < text.size() && (text[e] == '+' || text[e] == '-')) {
            ++e;
        }
        if (e < text.size() && IsDigit(text[e])) {
            i = SkipDigits(text, e);
        }
    }
    const std::string number(text.substr(start, i - start));
    value = strtod_l(number.c_str(), nullptr, CLocale());
    return true;
}

std::string FormatPanelNumber(double x)
{
    constexpr double kLarge = 1e10;
    constexpr double kSmall = 1e-6;
    constexpr double kNegligible = 1e-200;
    // The loops below would never end on these.
    if (std::isnan(x)) {
        return "nan";
    }
    if (std::isinf(x)) {
        return x > 0 ? "inf" : "-inf";
    }
    double d = std::fabs(x);
    int e = 0;
    if (d >= kLarge) {
        while (d >= 10) {
            x *= 0.1;
            d *= 0.1;
            ++e;
        }
        return Trimmed(x) + "*10^" + std::to_string(e);
    }
    if (d >= kSmall || d < kNegligible) {
        return Trimmed(x);
    }
    while (d < 1) {
        x *= 10;
        d *= 10;
        --e;
    }
    return Trimmed(x) + "*10^" + std::to_string(e);
}

std::string FormatG17(double value)
{
    constexpr int kRoundTripDigits = 17;
    return Formatted(value, std::chars_format::general, kRoundTripDigits);
}

std::string FormatShortest(double value)
{
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

bool ParseDouble(std::string_view text, double& value)
{
    if (text.starts_with('+')) {
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return false;
    }
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

bool ParseComplex(std::string_view text, Complex& value)
{
    const size_t comma = text.find(',');
    Complex parsed;
    if (!ParseDouble(text.substr(0, comma), parsed.re)) {
        return false;
    }
    if (comma != std::string_view::npos && !ParseDouble(text.substr(comma + 1), parsed.im)) {
        return false;
    }
    value = parsed;
    return true;
}

bool ParseCount(std::string_view text, long long& value)
{
    long long parsed = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size() || parsed < 0) {
        return false;
    }
    value = parsed;
    return true;
}
