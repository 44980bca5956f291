#pragma once

#include "complex.h"

#include <cmath>
#include <limits>

// The palette mapping: the colour formula's complex result, scaled per axis and by the stretch,
// rotated by an angle given as its sine and cosine and shifted by the origin; the unit square of that
// space covers the whole palette image. The pair (sin, cos) is used as stored, not normalised.
struct PaletteMapping {
    double x0 { 0.0 };
    double y0 { 0.0 };
    double dx { 1.0 };
    double dy { 1.0 };
    double sin { 0.0 };
    double cos { 1.0 };
    double stretch { 1.0 };

    bool operator==(const PaletteMapping&) const = default;
};

// The mapping a palette load puts back: the identity, with the stretch kept.
inline PaletteMapping IdentityMapping(double stretch) { return { 0.0, 0.0, 1.0, 1.0, 0.0, 1.0, stretch }; }

// A palette coordinate as an index into [0, size): truncated toward zero and clamped to the edges;
// a value that is not finite gives 0. No double is converted to an integer outside its range.
inline int PaletteIndex(double coordinate, int size)
{
    if (!std::isfinite(coordinate) || coordinate < 0.0) {
        return 0;
    }
    if (coordinate >= size) {
        return size - 1;
    }
    return static_cast<int>(coordinate);
}

struct PalettePoint {
    int x { 0 };
    int y { 0 };
};

// Where a colour value lands in a palette of width x height pixels.
inline PalettePoint MapColour(const PaletteMapping& m, Complex c, int width, int height)
{
    const double u = c.re * m.dx * m.stretch;
    const double v = c.im * m.dy * m.stretch;
    return { PaletteIndex((u * m.cos + m.x0 - v * m.sin) * width, width),
        PaletteIndex((v * m.cos + u * m.sin + m.y0) * height, height) };
}

// MapColour over n colours at once, into the palette points' columns xs and rows ys: the same
// arithmetic in the same order, with PaletteIndex's tests as selections so that the loop vectorises.
inline void MapColours(const PaletteMapping& m, const double* re, const double* im, int n, int width,
    int height, int* xs, int* ys)
{
    const double w = width;
    const double h = height;
    const auto index = [](double coordinate, double size, int last) {
        const bool inside = (coordinate >= 0.0) & (coordinate < size); // false for a NaN
        const bool beyond = (coordinate >= size) & (coordinate <= std::numeric_limits<double>::max());
        const int truncated = static_cast<int>(inside ? coordinate : 0.0);
        return beyond ? last : truncated;
    };
    for (int k = 0; k < n; ++k) {
        const double u = re[k] * m.dx * m.stretch;
        const double v = im[k] * m.dy * m.stretch;
        xs[k] = index((u * m.cos + m.x0 - v * m.sin) * w, w, width - 1);
        ys[k] = index((v * m.cos + u * m.sin + m.y0) * h, h, height - 1);
    }
}
