#pragma once

#include <cstdint>

// What the renderer sees of a surface: rows of pixels without gaps, row 0 at the top.
// The renderer copies whole pixels and never looks inside one, so the palette raster and every
// target must share one pixel format (here 32 bits: blue, green, red, unused).
struct Raster {
    int width { 0 };
    int height { 0 };
    int bytesPerRow { 0 };
    int bitsPerPixel { 0 };
    uint8_t* pixels { nullptr };
};
