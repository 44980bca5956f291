#pragma once

#include <string>
#include <string_view>

// Numbers in script files, independent of the process locale: a decimal-comma locale must not
// change a single byte of a file, nor what a file reads as.

// "%lf" style (six decimals) when that reads back to the same double, otherwise the shortest text
// that does (0.001953125, 1.5e-12); infinities and NaN as "inf", "-inf" and "nan".
std::string FormatScriptNumber(double value);

// Scans text as scanf does with "%lf, %lf, ..." (count numbers): leading blanks skipped, any number
// syntax of strtod, a comma directly after each number but the last and any blanks after it.
// Converted values are stored in order; returns how many were converted.
int ScanNumbers(std::string_view text, double* values, int count);

// The same with "%d, %d, ...": decimal integers, saturated to the int range.
int ScanIntegers(std::string_view text, int* values, int count);
