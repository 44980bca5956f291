#include "laneskip.h"

#include "lanerun.h"
#include "orbitderivative.h"

#include <algorithm>

int SkipLane(const ReferenceOrbit& orbit, int r, int& n, int maxIter, double* re, double* im, int lane,
    const ExComplex& planeOffset, BlaTries& tries, const COrbitDerivative* carrier, OrbitDerivative* t)
{
    const std::vector<int32_t>& slots = orbit.bla.Slots();
    const size_t l = static_cast<size_t>(lane);
    ExComplex state[kBlaMaxWidth];
    for (size_t i = 0; i < slots.size(); ++i) {
        const size_t at = deltalanes::At(slots[i]) + l;
        state[i] = ex::From({ re[at], im[at] });
    }
    const int end = std::min(orbit.runs, r + maxIter - n) - 1;
    const int to = carrier ? carrier->Skip(orbit.bla, r, end, state, planeOffset, *t)
                           : orbit.bla.Skip(r, end, state, planeOffset);
    if (to != r) {
        for (size_t i = 0; i < slots.size(); ++i) {
            const size_t at = deltalanes::At(slots[i]) + l;
            const Complex v = ex::ToComplex(state[i]);
            re[at] = v.re;
            im[at] = v.im;
        }
        n += to - r;
    }
    TriedLane(tries, r, to, n);
    return to;
}
