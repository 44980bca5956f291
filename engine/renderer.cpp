#include "renderplan.h"

#include "deeprender.h"
#include "deepsession.h"
#include "exactview.h"
#include "view.h"

#include <algorithm>
#include <cstring>
#include <vector>

RenderBindings BindRender(Picture& p)
{
    const RenderBindings v { p.iterFormula.FindVariable("z"), p.iterFormula.FindVariable("z0"),
        p.termFormula.FindVariable("z"), p.termFormula.FindVariable("V_iter_n"),
        p.termFormula.FindVariable("z0"), p.termFormula.FindVariable("V_iter_max"),
        p.colorFormula.FindVariable("z"), p.colorFormula.FindVariable("V_iter_n"),
        p.colorFormula.FindVariable("V_iter_max"), p.colorFormula.FindVariable("z0"),
        BindDerivatives(p.termFormula), BindDerivatives(p.colorFormula),
        BindIterationReads(p.termFormula, p.iterFormula), BindIterationReads(p.colorFormula, p.iterFormula) };
    const double maxIter = p.maxIter;
    p.termFormula.SetVariable(v.termMax, { maxIter, 0.0 });
    p.colorFormula.SetVariable(v.colorMax, { maxIter, 0.0 });
    // The renderers store V_iter_<name> before every run or pixel; what none stores reads NaN.
    for (const auto& [formula, reads] :
        { std::pair { &p.termFormula, &v.termReads }, std::pair { &p.colorFormula, &v.colorReads } }) {
        for (const IterationRead& read : *reads) {
            formula->SetVariable(read.slot, kNaNResult);
        }
    }
    return v;
}

CScalarPixel::CScalarPixel(
    Picture& picture, const RenderBindings& v, std::shared_ptr<const IterationTangent> tangent)
    : m_picture(picture)
    , m_v(v)
    , m_pTangent(std::move(tangent))
    , m_pIteration(&picture.iterFormula)
    , m_termStart(picture.termFormula.GetSlots(),
          picture.termFormula.GetSlots() + picture.termFormula.GetVariableCount())
    , m_colorStart(picture.colorFormula.GetSlots(),
          picture.colorFormula.GetSlots() + picture.colorFormula.GetVariableCount())
{
    if (!m_pTangent && v.Derivatives()) {
        m_pTangent
            = MakeIterationTangent(picture.iterFormula, v.iterZ, v.iterZ0, picture.view.Doubles().ratio);
    }
    if (m_pTangent && m_pTangent->ok) {
        m_derived = m_pTangent->program.formula;
        m_pIteration = &m_derived;
    }
    const CFormula& iter = *m_pIteration;
    m_iterStart.assign(iter.GetSlots(), iter.GetSlots() + iter.GetVariableCount());
}

DerivativeView CScalarPixel::ViewOf(Complex last) const
{
    const TangentFormula& program = m_pTangent->program;
    return ReadDerivative(
        *m_pTangent, last, m_derived.GetVariable(program.dzx), m_derived.GetVariable(program.dzy));
}

int CScalarPixel::Iterate(Complex p, Complex& last)
{
    CFormula& iter = *m_pIteration;
    CFormula& term = m_picture.termFormula;
    CFormula& color = m_picture.colorFormula;
    iter.ResetVariables(m_iterStart.data());
    term.ResetVariables(m_termStart.data());
    color.ResetVariables(m_colorStart.data());
    iter.SetVariable(m_v.iterZ, p);
    iter.SetVariable(m_v.iterZ0, p);
    term.SetVariable(m_v.termZ0, p);
    color.SetVariable(m_v.colorZ0, p);
    const int maxIter = m_picture.maxIter;
    int n = 0;
    // The limit is at least 1 (the setters clamp it): every pixel runs the formula once.
    for (;;) {
        last = iter.Run();
        term.SetVariable(m_v.termZ, last);
        term.SetVariable(m_v.termN, { static_cast<double>(n), 0.0 });
        if (m_v.termD.Any()) {
            SetDerivatives(term, m_v.termD, ViewOf(last));
        }
        SetIterationReads(term, m_v.termReads, iter);
        if (term.Run().re > 0.0) {
            break;
        }
        if (++n >= maxIter) {
            break;
        }
    }
    if (m_pTangent) {
        m_derivative = ViewOf(last);
    }
    return n;
}

Complex CScalarPixel::Colour(int count, Complex last)
{
    CFormula& color = m_picture.colorFormula;
    color.SetVariable(m_v.colorN, { static_cast<double>(count), 0.0 });
    color.SetVariable(m_v.colorZ, last);
    SetDerivatives(color, m_v.colorD, m_derivative);
    SetIterationReads(color, m_v.colorReads, *m_pIteration);
    return color.Run();
}

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
        plan.v = BindRender(picture);
        if (plan.v.iterZ < 0) {
            plan.result = kRenderNoIterationVariable;
        } else if (plan.v.Derivatives()) {
            plan.tangent = MakeIterationTangent(
                picture.iterFormula, plan.v.iterZ, plan.v.iterZ0, picture.view.Doubles().ratio);
        }
    }
    if (plan.result != kRenderDone) {
        return plan;
    }
    plan.stepX = std::max(1, area.stepX);
    plan.stepY = std::max(1, area.stepY);
    const View view = picture.view.Doubles();
    const double deltaX = view.Step(picture.imageWidth, area.scaleX, area.right - area.left);
    const double deltaY = view.Step(picture.imageHeight, area.scaleY, area.bottom - area.top);
    plan.progressStep = static_cast<double>(plan.stepY) / (area.bottom - area.top);
    plan.xs = View::LatticeLine(area.left, area.right, plan.stepX, area.scaleX, deltaX, picture.view.offsetX);
    plan.ys = View::LatticeLine(area.top, area.bottom, plan.stepY, area.scaleY, deltaY, picture.view.offsetY);
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
    CScalarPixel pixel(picture, plan.v, plan.tangent);
    const int maxIter = picture.maxIter;
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
                Complex last {};
                const int n = pixel.Iterate({ plan.xs[i], plan.ys[j] }, last);
                iterations += RunsOfIteration(n, maxIter);
                if (area.data) {
                    area.data->Put(row, column, n, last);
                    if (pixel.HasDerivative()) {
                        area.data->PutDerivative(row, column, pixel.Derivative());
                    }
                }
                PaintColour(plan, picture.mapping, target, row, column, pixel.Colour(n, last));
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

int RenderPicture(
    Picture& picture, const Raster& target, const RenderArea& area, RenderControl control, RenderStats* stats)
{
    control.progress.store(0.0, std::memory_order_relaxed);
    const RenderPlan plan = Prepare(picture, target, area);
    if (plan.result != kRenderDone) {
        return plan.result;
    }
    // Past what doubles tell apart, perturbation takes over; above it, nothing changes.
    if (IsDeepView(picture)) {
        return RenderPictureDeep(picture, target, area, control, plan, stats);
    }
    if (control.deep) {
        control.deep->NoteShallow();
    }
    return RenderPictureBatched(picture, target, area, control, plan, stats);
}
