#pragma once

#include <QString>

// The panels' number text: eight decimals with trailing zeros trimmed, and a power of ten for
// magnitudes of 1e10 and more or below 1e-6 ("1.5*10^12", "2.5*10^-7"); below 1e-200 it prints as
// 0. Infinities and NaN print as inf, -inf and nan. Independent of the process locale.
QString FormatPanelNumber(double x);
