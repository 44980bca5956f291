#pragma once

#include "fixedlimits.h"
#include "renderer.h"

#include <cstdint>
#include <vector>

// Anti-aliased pictures: n x n samples per pixel on a lattice n times as fine over the same view,
// each coloured through the palette, averaged per channel in linear light.

// sRGB 0..255 as linear light 0..65535, rounded: fixed numbers, so that every machine averages alike.
extern const std::uint16_t kSrgbToLinear[256];
// The sRGB value whose linear light lies nearest (the higher one on a tie).
std::uint8_t LinearToSrgb(std::uint32_t linear);

// Renders the picture into target (picture.imageWidth x picture.imageHeight) with n x n samples per
// pixel: the samples are those of a render of the picture at n times its size (View::AtWidth), made
// a band of rows at a time, so that the samples of the whole picture are never held at once. The
// unused byte of every pixel is 0xFF. n = 1 is RenderPicture itself. Returns RenderPicture's codes.
// bandSamples bounds the samples held at once (tests make it small to cut many bands).
// data, when given (sized to the picture), receives every pixel's count and final z at the pixel's
// centre: those of the picture at one sample per pixel, which for n > 1 is a render of its own, made
// first into target (the samples then replace it).
inline constexpr long long kAntialiasBandSamples = 1LL << 22; // 16 MiB of 32-bit samples
int RenderAntialiased(Picture& picture, const Raster& target, int n, RenderControl control,
    RenderStats* stats = nullptr, long long bandSamples = kAntialiasBandSamples,
    const PixelData* data = nullptr);

// Rows top to top + target.height - 1 of the picture (its size and view as they are) into target,
// whose first row is the picture's row top, with n x n samples per pixel as RenderAntialiased makes
// them: the same pixels, to the last bit, as those rows of the whole picture. samples is the
// caller's, kept between calls so that a picture made a band at a time reuses its memory.
// Returns RenderPicture's codes; a target that is no such band of the picture is kRenderNoTarget.
int RenderRows(Picture& picture, const Raster& target, int top, int n, RenderControl control,
    RenderStats* stats, std::vector<std::uint8_t>& samples, long long bandSamples = kAntialiasBandSamples);
