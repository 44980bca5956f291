#pragma once

#include <cstdint>
#include <memory>

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

// The palette as a render reads it: its pixels, and whatever keeps them alive while a copy of the
// picture is in use, so that a palette replaced by the window stays whole under a running render.
struct PaletteImage {
    Raster raster;
    std::shared_ptr<const void> keepAlive;

    bool IsNull() const { return raster.pixels == nullptr; }
};
