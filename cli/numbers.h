#pragma once

#include "complex.h"

#include <string>
#include <string_view>

// Locale-independent number texts of the command line: a locale with a decimal comma must not
// change what the tool prints or accepts.

// printf's "%.17g": enough digits to read back the same double.
std::string FormatG17(double value);

// The shortest text that reads back to the same double: -0.78, 1e-09.
std::string FormatShortest(double value);

// A whole decimal number; an optional leading '+' is accepted. The whole text must be the number.
bool ParseDouble(std::string_view text, double& value);

// "RE" or "RE,IM".
bool ParseComplex(std::string_view text, Complex& value);

// A whole number of at least 0.
bool ParseCount(std::string_view text, long long& value);
