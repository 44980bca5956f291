#pragma once

#include "renderer.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// How a probe's numbers were computed, as a render computes that point.
enum class ProbePath {
    Doubles,      // a shallow view: the double renderer
    Perturbation, // a deep view: the offset from the view's main reference
    Precise,      // a deep view's point that reference cannot take: arbitrary precision
};

// One plane point of a picture, computed as its render computes a pixel there.
struct ProbeResult {
    int result { kRenderDone }; // kRenderNoIterationVariable, or kRenderAborted when cancelled
    std::int64_t count { 0 };   // the final V_iter_n
    Complex last {};            // the final z
    // Where the picture's formulas read the orbit's derivative: V_dz and V_de at the final z.
    bool derivative { false };
    Complex dz {};
    double de { 0.0 };
    ProbePath path { ProbePath::Doubles };
    // The point as computed: the nearest double's shortest text, or for a deep view the decimal as
    // read at the deep render's precision.
    std::string re, im;
};

// The count and final z of the plane point (re, im), decimals of any length that CheckViewCoordinate
// accepts, in picture: for a shallow view the double renderer's bits at the nearest double (the
// scalar and the batched renderer agree bit for bit), for a deep view the deep renderer's
// perturbation (see ProbeDeep). cancelled is asked by the deep path as a render asks.
ProbeResult ProbePoint(
    Picture& picture, std::string_view re, std::string_view im, const std::function<bool()>& cancelled = {});
