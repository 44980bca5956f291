#include "renderplan.h"
#include "view.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

RenderBindings Bind(const Picture& p)
{
    return { p.iterFormula.FindVariable("z"), p.iterFormula.FindVariable("z0"),
        p.termFormula.FindVariable("z"), p.termFormula.FindVariable("V_iter_n"),
        p.termFormula.FindVariable("z0"), p.termFormula.FindVariable("V_iter_max"),
        p.colorFormula.FindVariable("z"), p.colorFormula.FindVariable("V_iter_n"),
        p.colorFormula.FindVariable("V_iter_max"), p.colorFormula.FindVariable("z0") };
}

} // namespace

RenderPlan Prepare(Picture& picture, const Raster& target, const RenderArea& area)
{
    RenderPlan plan;
    const Raster& palette = picture.palette.raster;
    if (target.pixels == nullptr) {
        plan.result = kRenderNoTarget;
    } else if (!picture.palette.IsNull() && target.bitsPerPixel != palette.bitsPerPixel) {
        plan.result = kRenderFormatMismatch;
    } else if (picture.palette.IsNull() || palette.width <= 0 || palette.height <= 0) {
        plan.result = kRenderNoPalette;
    } else {
        plan.v = Bind(picture);
        if (plan.v.iterZ < 0) {
            plan.result = kRenderNoIterationVariable;
        }
    }
    if (plan.result != kRenderDone) {
        return plan;
    }
    const double maxIter = picture.maxIter;
    picture.termFormula.SetVariable(plan.v.termMax, { maxIter, 0.0 });
    picture.colorFormula.SetVariable(plan.v.colorMax, { maxIter, 0.0 });
    plan.stepX = std::max(1, area.stepX);
    plan.stepY = std::max(1, area.stepY);
    const View view { picture.offsetX, picture.offsetY, picture.ratio };
    const double deltaX = view.Step(picture.imageWidth, area.scaleX, area.right - area.left);
    const double deltaY = view.Step(picture.imageHeight, area.scaleY, area.bottom - area.top);
    plan.progressStep = static_cast<double>(plan.stepY) / (area.bottom - area.top);
    plan.xs = View::LatticeLine(area.left, area.right, plan.stepX, area.scaleX, deltaX, picture.offsetX);
    plan.ys = View::LatticeLine(area.top, area.bottom, plan.stepY, area.scaleY, deltaY, picture.offsetY);
    plan.bytesPerPixel = target.bitsPerPixel / 8;
    plan.paletteBits = palette.pixels;
    plan.paletteStride = palette.bytesPerRow;
    plan.paletteWidth = palette.width;
    plan.paletteHeight = palette.height;
    plan.data = area.data;
    return plan;
}

int RenderPictureScalar(
    Picture& picture, const Raster& target, const RenderArea& area, RenderControl control, RenderStats* stats)
{
    CleanVectorState();
    control.progress.store(0.0, std::memory_order_relaxed);
    const RenderPlan plan = Prepare(picture, target, area);
    if (plan.result != kRenderDone) {
        return plan.result;
    }
    CFormula& iter = picture.iterFormula;
    CFormula& term = picture.termFormula;
    CFormula& color = picture.colorFormula;
    const RenderBindings& v = plan.v;
    const int maxIter = picture.maxIter;
    // Every pixel starts from these: nothing one pixel assigns reaches the next.
    const std::vector<Complex> iterStart(iter.GetSlots(), iter.GetSlots() + iter.GetVariableCount());
    const std::vector<Complex> termStart(term.GetSlots(), term.GetSlots() + term.GetVariableCount());
    const std::vector<Complex> colorStart(color.GetSlots(), color.GetSlots() + color.GetVariableCount());
    double progress = 0.0;
    std::int64_t iterations = 0;

    for (size_t j = 0; j < plan.ys.size(); ++j) {
        const long long row = plan.Row(area, j);
        if (row >= 0 && row < target.height) {
            for (size_t i = 0; i < plan.xs.size(); ++i) {
                if (Aborted(control)) {
                    return kRenderAborted;
                }
                const long long column = plan.Column(area, i);
                if (column < 0 || column >= target.width) {
                    continue;
                }
                const Complex p { plan.xs[i], plan.ys[j] };
                iter.ResetVariables(iterStart.data());
                term.ResetVariables(termStart.data());
                color.ResetVariables(colorStart.data());
                iter.SetVariable(v.iterZ, p);
                iter.SetVariable(v.iterZ0, p);
                term.SetVariable(v.termZ0, p);
                color.SetVariable(v.colorZ0, p);

                int n = 0;
                Complex last {};
                // The limit is at least 1 (the setters clamp it): every pixel runs the formula once.
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
                iterations += RunsOfIteration(n, maxIter);
                color.SetVariable(v.colorN, { static_cast<double>(n), 0.0 });
                color.SetVariable(v.colorZ, last);
                if (area.data) {
                    area.data->Put(row, column, n, last);
                }
                PaintColour(plan, picture.mapping, target, row, column, color.Run());
            }
        }
        progress += plan.progressStep;
        control.progress.store(progress, std::memory_order_relaxed);
    }
    control.progress.store(1.0, std::memory_order_relaxed);
    if (stats) {
        *stats = { iterations, 1 };
    }
    return kRenderDone;
}
