#pragma once

// What the scalar and the batched renderer share: the checks, the bindings, the lattice and the
// palette of one render. Internal to the renderer.

#include "derivatives.h"
#include "iterationreads.h"
#include "renderer.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

// The variables a formula may read from the renderer, bound by name once per render.
struct RenderBindings {
    int iterZ, iterZ0;
    int termZ, termN, termZ0, termMax;
    int colorZ, colorN, colorMax, colorZ0;
    DerivativeSlots termD {}, colorD {};                    // V_dz, V_dzy, V_de, V_dir where read
    std::vector<IterationRead> termReads {}, colorReads {}; // V_iter_<name> where read

    bool Derivatives() const { return termD.Any() || colorD.Any(); }
};

// What both renderers share: the checks, the bindings, the lattice and the palette.
struct RenderPlan {
    int result { kRenderDone };
    RenderBindings v {};
    int stepX { 1 };
    int stepY { 1 };
    double progressStep { 0.0 };
    std::vector<double> xs;
    std::vector<double> ys;
    int bytesPerPixel { 0 };
    const uint8_t* paletteBits { nullptr };
    std::ptrdiff_t paletteStride { 0 };
    int paletteWidth { 0 };
    int paletteHeight { 0 };
    const PixelData* data { nullptr }; // the area's, where the render also writes counts and values
    // The iteration with its derivative, when a formula reads it (v.Derivatives()); else null.
    std::shared_ptr<const IterationTangent> tangent;

    // The row (or column) of lattice line k.
    long long Column(const RenderArea& area, size_t k) const
    {
        return area.left + static_cast<long long>(k) * stepX;
    }
    long long Row(const RenderArea& area, size_t k) const
    {
        return area.top + static_cast<long long>(k) * stepY - area.targetTop;
    }
};

// Copies the palette pixel that a colour value selects into the target.
inline void PaintColour(const RenderPlan& plan, const PaletteMapping& mapping, const Raster& target,
    long long row, long long column, Complex colour)
{
    const PalettePoint at = MapColour(mapping, colour, plan.paletteWidth, plan.paletteHeight);
    std::memcpy(target.pixels + row * target.bytesPerRow + column * plan.bytesPerPixel,
        plan.paletteBits + at.y * plan.paletteStride + at.x * plan.bytesPerPixel,
        static_cast<size_t>(plan.bytesPerPixel));
}

// Checks the picture against the target and binds its variables; the result says what is wrong.
RenderPlan Prepare(Picture& picture, const Raster& target, const RenderArea& area);

// RenderPicture of a view that doubles render, once the plan is made: batches of pixels on every
// thread of the pool (batchrender.cpp and bandworker.cpp).
int RenderPictureBatched(Picture& picture, const Raster& target, const RenderArea& area,
    RenderControl control, const RenderPlan& plan, RenderStats* stats);

// The variables of the picture's formulas bound by name, with V_iter_max set to the limit.
RenderBindings BindRender(Picture& picture);

// The scalar renderer's pixel: the three formulas, every variable back at its compiled value, run from
// one plane point. RenderPictureScalar and the probe share it, so that both give the same bits.
class CScalarPixel {
public:
    // tangent: the plan's, or null to make one when a formula reads the derivative.
    CScalarPixel(
        Picture& picture, const RenderBindings& v, std::shared_ptr<const IterationTangent> tangent = {});
    // Iterates from p until the termination formula holds or the limit is reached: the count, and the
    // iteration's last value in last.
    int Iterate(Complex p, Complex& last);
    // The colour formula's value for the pixel Iterate ran last, which ended at count with last.
    Complex Colour(int count, Complex last);
    // Whether the formulas read the derivative, and its view for the pixel Iterate ran last.
    bool HasDerivative() const { return m_pTangent != nullptr; }
    DerivativeView Derivative() const { return m_derivative; }

private:
    DerivativeView ViewOf(Complex last) const;

    Picture& m_picture;
    RenderBindings m_v;
    std::shared_ptr<const IterationTangent> m_pTangent;
    CFormula m_derived; // the iteration with its derivative, run in its place when the tangent is ok
    CFormula* m_pIteration { nullptr };
    DerivativeView m_derivative {};
    // Every pixel starts from these: nothing one pixel assigns reaches the next.
    std::vector<Complex> m_iterStart, m_termStart, m_colorStart;
};

// Code built with 256- and 512-bit vectors (Qt's image routines, the C library) may leave the upper
// halves of the vector registers dirty; every later SSE instruction then pays for them, which was
// measured to slow the interpreter's pixel loop down more than tenfold. Each render thread starts clean.
#if defined(__x86_64__)
__attribute__((target("avx"))) inline void ZeroUpperHalves() { __builtin_ia32_vzeroupper(); }
inline void CleanVectorState()
{
    static const bool avx = __builtin_cpu_supports("avx");
    if (avx) {
        ZeroUpperHalves();
    }
}
#else
inline void CleanVectorState() { }
#endif

inline bool Aborted(const RenderControl& control)
{
    return control.stage.load(std::memory_order_relaxed) != control.generation
        || control.stop.load(std::memory_order_relaxed);
}

// How often a pixel ran the iteration formula: once more than its count when the termination formula
// stopped it, its count when the limit did.
inline std::int64_t RunsOfIteration(int count, int maxIter) { return count < maxIter ? count + 1 : count; }
