#include "scriptnumbers.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <locale.h>

namespace {

// The "C" locale, created once, for strtod_l and strtoll_l: the reader's number syntax is strtod's.
locale_t CLocale()
{
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

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
