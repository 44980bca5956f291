#pragma once

// A lane's bilinear skips between its runs, for the lane loop: the skips a pixel run alone takes at the
// same record (see CBlaTable::Skip and BlaTries), from its offsets in the lanes' layout (slot s of
// lane l at s * kLanes + l).

#include "delta.h"

// A lane whose try found no skip waits longer than a pixel run alone does: its offsets mostly grow
// past the skips' radii for good, each try costs the lane loop more than it saves there, and after a
// rebase, where skips hold again, the lane loop tries at once.
constexpr int kLaneBackOff = 64;

// After a lane's try from record r that reached record `to`, its pixel now at run n. A try where no
// skip starts (a record not divisible by the shortest skip's span) waits only for the next such one.
inline void TriedLane(BlaTries& tries, int r, int to, int n)
{
    if (to == r && r % (1 << kBlaFirstLevel) == 0) {
        tries.next = n + kLaneBackOff;
    } else {
        tries.Tried(r, to, n);
    }
}

// Lane l's pixel at its run n on record r, its tries due: the skips that hold from there, never past
// the limit or the orbit's end, its carried offsets (and, with a carrier, its derivative t) moved with
// them. Returns the record reached; n moves as far.
int SkipLane(const ReferenceOrbit& orbit, int r, int& n, int maxIter, double* re, double* im, int lane,
    const ExComplex& planeOffset, BlaTries& tries, const COrbitDerivative* carrier, OrbitDerivative* t);
