#pragma once

#include "deepsession.h"
#include "renderplan.h"

#include "precise.h"

#include <functional>

// The deep path of RenderPicture: a view past what doubles render (IsDeepView) is rendered by
// perturbation around reference orbits computed in high precision, with the proven skip, the glitch
// tests, up to kMaxDeepReferences references and arbitrary precision for any pixel left. The view's
// references are kept in control.deep when given (see deepsession.h), and so is what the render did.
int RenderPictureDeep(Picture& picture, const Raster& target, const RenderArea& area, RenderControl control,
    const RenderPlan& plan, RenderStats* stats);

constexpr int kMaxDeepReferences = 64;

// One plane point of a deep view as RenderPictureDeep computes it (the probe): its offset from the
// view's main reference, iterated by perturbation, or in arbitrary precision where that reference
// cannot take it (the render's other references are chosen among a picture's glitched pixels, which
// one point does not have). Uses the references session keeps for the view when given. picture's
// limit variables must be set (BindRender). cancelled is asked as a render asks.
struct DeepProbe {
    int count { 0 };
    Complex last {};
    bool precise { false }; // computed in arbitrary precision
    bool cancelled { false };
    // Where the picture's formulas read the orbit's derivative: V_dz and V_de at the final z.
    bool derivative { false };
    Complex dz {};
    double de { 0.0 };
};
DeepProbe ProbeDeep(Picture& picture, const BigComplex& point, const std::function<bool()>& cancelled = {},
    CDeepSession* session = nullptr);
