#pragma once

#include "renderplan.h"

#include "precise.h"

#include <functional>

// The deep path of RenderPicture: a view past what doubles render (IsDeepView) is rendered by
// perturbation around reference orbits computed in high precision, with the linear skip, the glitch
// tests, up to kMaxDeepReferences references and arbitrary precision for any pixel left.
int RenderPictureDeep(Picture& picture, const Raster& target, const RenderArea& area, RenderControl control,
    const RenderPlan& plan, RenderStats* stats);

constexpr int kMaxDeepReferences = 64;

// The precision a deep render of picture works at.
mpfr_prec_t DeepBits(const Picture& picture);

// One plane point of a deep view as RenderPictureDeep computes it (the probe): its offset from the
// view's main reference, iterated by perturbation, or in arbitrary precision where that reference
// cannot take it (the render's other references are chosen among a picture's glitched pixels, which
// one point does not have). Shares the references the render keeps for the view. picture's limit
// variables must be set (BindRender). cancelled is asked as a render asks.
struct DeepProbe {
    int count { 0 };
    Complex last {};
    bool precise { false }; // computed in arbitrary precision
    bool cancelled { false };
};
DeepProbe ProbeDeep(Picture& picture, const BigComplex& point, const std::function<bool()>& cancelled = {});

// What the last deep render did, for the status line: all zero until one ran. Written by the render,
// read by the window; each field on its own.
struct DeepRenderState {
    bool active { false };   // the last render took the deep path
    int references { 0 };    // reference orbits in use
    int skipRuns { 0 };      // runs the main reference lets every pixel skip
    int precisePixels { 0 }; // pixels rendered in arbitrary precision
    int referenceBits { 0 }; // the precision of the reference orbits
};
DeepRenderState LastDeepRender();
// Drops the references kept for the last deep view (benchmarks measure their computation too).
void ForgetDeepReferences();
// The shallow path records that it ran, so that the status line stops showing the deep one.
void NoteShallowRender();
