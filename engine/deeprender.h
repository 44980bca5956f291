#pragma once

#include "deepsession.h"
#include "renderplan.h"

// The deep path of RenderPicture: a view past what doubles render (IsDeepView) is rendered by
// perturbation around reference orbits computed in high precision, with the proven skip, the glitch
// tests, up to kMaxDeepReferences references and arbitrary precision for any pixel left. The view's
// references are kept in control.deep when given (see deepsession.h), and so is what the render did.
int RenderPictureDeep(Picture& picture, const Raster& target, const RenderArea& area, RenderControl control,
    const RenderPlan& plan, RenderStats* stats);

constexpr int kMaxDeepReferences = 64;
