#pragma once

#include "picture.h"
#include "raster.h"
#include "tangent.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

class CDeepSession;
class CRenderPool;

// The numbers behind a render's pixels, for the tool's --data and probe and for the tests: the count
// (V_iter_n) and the final z of every target pixel a render paints, at [row * stride + column]. The
// caller sizes the arrays to the target; a render writes only the pixels it paints.
struct PixelData {
    std::int64_t* count { nullptr };
    Complex* last { nullptr };
    std::ptrdiff_t stride { 0 };
    // The derivative of the final z (V_dz) and the distance estimate (V_de), where wanted and the
    // picture's formulas read the derivative; null otherwise.
    Complex* dz { nullptr };
    double* de { nullptr };

    void Put(long long row, long long column, std::int64_t n, Complex z) const
    {
        const std::ptrdiff_t at = At(row, column);
        count[at] = n;
        last[at] = z;
    }
    void PutDerivative(long long row, long long column, const DerivativeView& view) const
    {
        if (dz) {
            dz[At(row, column)] = view.dz;
            de[At(row, column)] = view.de;
        }
    }
    std::ptrdiff_t At(long long row, long long column) const
    {
        return static_cast<std::ptrdiff_t>(row) * stride + static_cast<std::ptrdiff_t>(column);
    }
};

// The numbers of a whole picture, width x height pixels row by row from the top, and the sink that a
// render fills them through.
struct PixelTable {
    int width { 0 };
    int height { 0 };
    std::vector<std::int64_t> counts;
    std::vector<Complex> lasts;
    // Filled when the picture's formulas read the derivative (see PixelData), else empty.
    std::vector<Complex> dzs;
    std::vector<double> des;

    // Sized for a picture of width x height, with the derivative's fields when derivatives
    // (std::bad_alloc when memory is short).
    void Resize(int w, int h, bool derivatives = false)
    {
        const size_t pixels = static_cast<size_t>(w) * static_cast<size_t>(h);
        counts.assign(pixels, 0);
        lasts.assign(pixels, Complex {});
        dzs.assign(derivatives ? pixels : 0, Complex {});
        des.assign(derivatives ? pixels : 0, 0.0);
        width = w;
        height = h;
    }
    bool HasDerivatives() const { return !dzs.empty(); }
    PixelData Sink()
    {
        return { counts.data(), lasts.data(), width, dzs.empty() ? nullptr : dzs.data(),
            des.empty() ? nullptr : des.data() };
    }
};

// The lattice of a render: columns left, left + stepX, ... below right and rows top, top + stepY, ...
// below bottom; scaleX and scaleY relate the lattice to the plane (see Render).
struct RenderArea {
    int left { 0 };
    int top { 0 };
    int right { 0 };
    int bottom { 0 };
    double scaleX { 1.0 };
    double scaleY { 1.0 };
    int stepX { 1 };
    int stepY { 1 };
    // The lattice row that lands on the target's first row: a band of a larger lattice rendered into
    // a raster of its own (the anti-aliased render) keeps every plane point of the whole.
    int targetTop { 0 };
    // Where the render also writes each painted pixel's count and final z; null when not wanted.
    const PixelData* data { nullptr };
};

// What a render works with beside the picture: the cross-thread words it polls and writes, the
// threads it runs on and where a deep view keeps its references.
struct RenderControl {
    const std::atomic<int>& stage; // window -> render: a change from the generation aborts
    int generation;                // the stage when the render started
    const std::atomic<bool>& stop; // window -> render: abort
    std::atomic<double>& progress; // render -> window: share of rows done
    CRenderPool& pool;             // the threads, and the code they run
    // Where a deep view's references are kept between renders, and what the last one did; null: the
    // render keeps them for itself alone.
    CDeepSession* deep { nullptr };

    // The same render's words with a progress of its own (a part whose progress is not shown).
    RenderControl WithProgress(std::atomic<double>& other) const
    {
        return { stage, generation, stop, other, pool, deep };
    }
};

// What a render did: the threads it ran on and the runs of the iteration formula over all its pixels.
struct RenderStats {
    std::int64_t iterations { 0 };
    int threads { 0 };
};

enum RenderResult : int {
    kRenderDone = 0,
    kRenderNoTarget = 1,
    kRenderFormatMismatch = 2,
    kRenderNoPalette = 3,
    kRenderNoIterationVariable = 4,
    kRenderAborted = 5,
};

// Renders the picture into the target: for every lattice pixel, iterate until the termination
// formula holds or the limit is reached, map the colour formula's result into the palette and copy
// that pixel. Works on the snapshot's formulas, whose variables start every pixel from their
// compiled values, so that every pixel depends on its own plane point only.
//
// RenderPicture runs the programs over batches of pixels on every thread of the render pool and
// checks the stage and the stop request every few iterations. RenderPictureScalar runs them one
// pixel at a time through CFormula::Run, checking before every lattice column: the reference that
// gives every pixel exactly the same bits.
// Both fill stats, when given, once the render has ended.
int RenderPicture(Picture& picture, const Raster& target, const RenderArea& area, RenderControl control,
    RenderStats* stats = nullptr);
int RenderPictureScalar(Picture& picture, const Raster& target, const RenderArea& area, RenderControl control,
    RenderStats* stats = nullptr);
