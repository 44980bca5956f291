#pragma once

#include "complex.h"

#include <string>
#include <string_view>

// Every number the program shows or reads as text, one function per use. None depends on the
// process locale: a decimal-comma locale must not change a byte of a file, a field or a panel.

// Script files.
// "%lf" style (six decimals) when that reads back to the same double, otherwise the shortest text
// that does (0.001953125, 1.5e-12); infinities and NaN as "inf", "-inf" and "nan".
std::string FormatScriptNumber(double value);
// Scans text as scanf does with "%lf, %lf, ..." (count numbers): leading blanks skipped, any number
// syntax of strtod, a comma directly after each number but the last and any blanks after it.
// Converted values are stored in order; returns how many were converted.
int ScanNumbers(std::string_view text, double* values, int count);
// The same with "%d, %d, ...": decimal integers, saturated to the int range.
int ScanIntegers(std::string_view text, int* values, int count);

// The settings and export size dialogs' fields.
// "%.15g": fifteen significant digits, so that OK never rounds a value away; a zero keeps its sign.
std::string FormatFieldNumber(double value);
// A decimal integer in the int range with blanks and tabs around it, nothing else; a zero has no sign.
bool ParseFieldInteger(std::string_view text, int& value);
// A decimal number read from the start of the text (after blanks and tabs); what follows it is
// ignored.
bool ParseFieldNumber(std::string_view text, double& value);

// The main window's panels: eight decimals with trailing zeros trimmed, and a power of ten for
// magnitudes of 1e10 and more or below 1e-6 ("1.5*10^12", "2.5*10^-7"); below 1e-200 it prints as
// 0. Infinities and NaN print as inf, -inf and nan.
std::string FormatPanelNumber(double value);

// The command-line tool.
// printf's "%.17g": enough digits to read back the same double (eval's results).
std::string FormatG17(double value);
// The shortest text that reads back to the same double: -0.78, 1e-09 (reports and constants).
std::string FormatShortest(double value);
// A whole decimal number; an optional leading '+' is accepted. The whole text must be the number.
bool ParseDouble(std::string_view text, double& value);
// "RE" or "RE,IM".
bool ParseComplex(std::string_view text, Complex& value);
// A whole number of at least 0.
bool ParseCount(std::string_view text, long long& value);
