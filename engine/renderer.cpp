#include "renderer.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// The variables a formula may read from the renderer, bound by name once per render.
struct Bindings {
    int iterZ, iterZ0;
    int termZ, termN, termZ0, termMax;
    int colorZ, colorN, colorMax, colorZ0;
};

// The plane coordinates of the lattice lines, accumulated exactly as a walk from the first line
// adds the step, so that every way of cutting a render up gives the same points.
std::vector<double> LatticeLine(int from, int to, int step, double scale, double delta, double offset)
{
    std::vector<double> values;
    values.reserve(static_cast<size_t>((static_cast<long long>(to) - from + step - 1) / step));
    double value = (from + 0.5) / scale * delta + offset;
    for (long long i = from; i < to; i += step) {
        values.push_back(value);
        value += delta;
    }
    return values;
}

} // namespace

int RenderPicture(
    RenderSnapshot& picture, const Raster& target, const RenderArea& area, RenderControl control)
{
    control.progress.store(0.0, std::memory_order_relaxed);
    const QImage& palette = picture.palette;
    if (target.pixels == nullptr) {
        return kRenderNoTarget;
    }
    if (!palette.isNull() && target.bitsPerPixel != palette.depth()) {
        return kRenderFormatMismatch;
    }
    if (palette.isNull() || palette.width() <= 0 || palette.height() <= 0) {
        return kRenderNoPalette;
    }
    CFormula& iter = picture.iterFormula;
    CFormula& term = picture.termFormula;
    CFormula& color = picture.colorFormula;
    const Bindings v { iter.FindVariable("z"), iter.FindVariable("z0"), term.FindVariable("z"),
        term.FindVariable("V_iter_n"), term.FindVariable("z0"), term.FindVariable("V_iter_max"),
        color.FindVariable("z"), color.FindVariable("V_iter_n"), color.FindVariable("V_iter_max"),
        color.FindVariable("z0") };
    if (v.iterZ < 0) {
        return kRenderNoIterationVariable;
    }
    const int maxIter = picture.maxIter;
    term.SetVariable(v.termMax, { static_cast<double>(maxIter), 0.0 });
    color.SetVariable(v.colorMax, { static_cast<double>(maxIter), 0.0 });
    // Every pixel starts from these: nothing one pixel assigns reaches the next.
    const std::vector<Complex> iterStart(iter.GetSlots(), iter.GetSlots() + iter.GetVariableCount());
    const std::vector<Complex> termStart(term.GetSlots(), term.GetSlots() + term.GetVariableCount());
    const std::vector<Complex> colorStart(color.GetSlots(), color.GetSlots() + color.GetVariableCount());

    const int stepX = std::max(1, area.stepX);
    const int stepY = std::max(1, area.stepY);
    const double deltaX = picture.imageWidth * picture.ratio * area.scaleX / (area.right - area.left);
    const double deltaY = picture.imageHeight * picture.ratio * area.scaleY / (area.bottom - area.top);
    const double progressStep = static_cast<double>(stepY) / (area.bottom - area.top);
    const std::vector<double> xs
        = LatticeLine(area.left, area.right, stepX, area.scaleX, deltaX, picture.offsetX);
    const std::vector<double> ys
        = LatticeLine(area.top, area.bottom, stepY, area.scaleY, deltaY, picture.offsetY);

    const int bytesPerPixel = target.bitsPerPixel / 8;
    const uint8_t* const paletteBits = palette.constBits();
    const qsizetype paletteStride = palette.bytesPerLine();
    const int paletteWidth = palette.width();
    const int paletteHeight = palette.height();
    const PaletteMapping mapping = picture.mapping;
    double progress = 0.0;

    for (size_t j = 0; j < ys.size(); ++j) {
        const long long row = area.top + static_cast<long long>(j) * stepY;
        if (row >= 0 && row < target.height) {
            uint8_t* const line = target.pixels + row * target.bytesPerRow;
            for (size_t i = 0; i < xs.size(); ++i) {
                if (control.stage.load(std::memory_order_relaxed) != control.generation
                    || control.stop.load(std::memory_order_relaxed)) {
                    return kRenderAborted;
                }
                const long long column = area.left + static_cast<long long>(i) * stepX;
                if (column < 0 || column >= target.width) {
                    continue;
                }
                const Complex p { xs[i], ys[j] };
                iter.ResetVariables(iterStart.data());
                term.ResetVariables(termStart.data());
                color.ResetVariables(colorStart.data());
                iter.SetVariable(v.iterZ, p);
                iter.SetVariable(v.iterZ0, p);
                term.SetVariable(v.termZ0, p);
                color.SetVariable(v.colorZ0, p);

                int n = 0;
                Complex last {};
                if (maxIter > 0) {
                    for (;;) {
                        last = iter.Run();
                        term.SetVariable(v.termZ, last);
                        term.SetVariable(v.termN, { static_cast<double>(n), 0.0 });
                        if (term.Run().re > 0.0) {
                            break;
                        }
                        if (++n >= maxIter) {
                            break;
                        }
                    }
                }
                color.SetVariable(v.colorN, { static_cast<double>(n), 0.0 });
                color.SetVariable(v.colorZ, last);
                const PalettePoint at = MapColour(mapping, color.Run(), paletteWidth, paletteHeight);
                std::memcpy(line + column * bytesPerPixel,
                    paletteBits + at.y * paletteStride + at.x * bytesPerPixel, bytesPerPixel);
            }
        }
        progress += progressStep;
        control.progress.store(progress, std::memory_order_relaxed);
    }
    control.progress.store(1.0, std::memory_order_relaxed);
    return kRenderDone;
}
