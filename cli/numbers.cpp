#include "numbers.h"

#include <charconv>

std::string FormatG17(double value)
{
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 17);
    return std::string(buffer, result.ptr);
}

std::string FormatShortest(double value)
{
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
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
