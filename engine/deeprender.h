#pragma once

#include "renderplan.h"

// The deep path of RenderPicture: a view past what doubles render (IsDeepView) is rendered by
// perturbation around reference orbits computed in high precision, with the linear skip, the glitch
// tests, up to kMaxDeepReferences references and arbitrary precision for any pixel left.
int RenderPictureDeep(Picture& picture, const Raster& target, const RenderArea& area, RenderControl control,
    const RenderPlan& plan, RenderStats* stats);

constexpr int kMaxDeepReferences = 64;

// What the last deep render did, for the status line: all zero until one ran. Written by the render,
// read by the window; each field on its own.
struct DeepRenderState {
    bool active { false };     // the last render took the deep path
    int references { 0 };      // reference orbits in use
    int skipRuns { 0 };        // runs the main reference lets every pixel skip
    int precisePixels { 0 };   // pixels rendered in arbitrary precision
    int referenceBits { 0 };   // the precision of the reference orbits
};
DeepRenderState LastDeepRender();
// Drops the references kept for the last deep view (benchmarks measure their computation too).
void ForgetDeepReferences();
// The shallow path records that it ran, so that the status line stops showing the deep one.
void NoteShallowRender();
