#pragma once

// The batched renderer's lane moves in AVX-512: a run of new pixels spread over the free lanes
// (expand), the stopped lanes gathered into the colour batch (compress), and the palette mapping
// eight colours at a time. Used alongside the AVX-512 generated code only (the processor has it
// then); the renderer's plain loops do the same elsewhere.

#include "mapping.h"

#include <cstdint>

// The lanes of the iteration, as the band worker keeps them.
struct IterationLanes {
    double* startRe; // the iteration's z
    double* startIm;
    int* row;
    int* column;
    double* count;
    double* active;
    const double* lastRe; // the iteration's value when the lane stopped, or null
    const double* lastIm;
};

// The colour batch: a pixel per entry. Each array has room for 16 entries past the last one
// written (whole vectors are stored).
struct ColourBatch {
    int* row;
    int* column;
    double* count;
    double* lastRe; // or null: nothing reads the last value
    double* lastIm;
};

// Starts pixels row, column + k (k = 0, 1, ...) in the lanes of the mask, lowest lane first: the
// start of z is (x[k], y), the count 0, the lane active.
void StartLanesAvx512(
    const IterationLanes& lanes, uint64_t mask, const double* x, double y, int row, int column);

// Appends the lanes of the mask to the batch from entry first on, in lane order; returns the entry
// after the last.
int GatherLanesAvx512(const IterationLanes& lanes, uint64_t mask, const ColourBatch& batch, int first);

// Where the colour batch's pixels go, for pixels of 4 bytes: the palette, the target, and the target
// row and column of each lattice row and column inside it. Strides below 2^31 bytes.
struct PixelCopy {
    const uint8_t* palette;
    std::ptrdiff_t paletteStride;
    uint8_t* target;
    std::ptrdiff_t targetStride;
    const int* rowPixel;
    const int* columnPixel;
};

// Copies the palette pixel (xs[k], ys[k]) to the target pixel of lattice row rows[k] and column
// columns[k], for k below n: eight at a time, gathered and scattered.
void CopyPixelsAvx512(
    const PixelCopy& c, const int* xs, const int* ys, const int* rows, const int* columns, int n);

// MapColours, eight colours at a time.
void MapColoursAvx512(const PaletteMapping& m, const double* re, const double* im, int n, int width,
    int height, int* xs, int* ys);
