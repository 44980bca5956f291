#pragma once

// A lane's bilinear skips between its runs, for the lane loop: the tries and the skips a pixel run
// alone takes at the same record (see CBlaTable::Skip and BlaTries), from its offsets in the lanes'
// layout (slot s of lane l at s * kLanes + l).

#include "delta.h"

// Lane l's pixel at its run n on record r, its tries due: the skips that hold from there, never past
// the limit or the orbit's end, its carried offsets (and, with a carrier, its derivative t) moved with
// them. Returns the record reached; n moves as far.
int SkipLane(const ReferenceOrbit& orbit, int r, int& n, int maxIter, double* re, double* im, int lane,
    const ExComplex& planeOffset, BlaTries& tries, const COrbitDerivative* carrier, OrbitDerivative* t);
