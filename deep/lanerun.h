#pragma once

// One run of a perturbed program over the lanes (slot s of lane l at At(s) + l), for the lane loop.

#include "delta.h"
#include "deltakernels.h"

#include <cstddef>
#include <cstdint>
#include <emmintrin.h>

namespace deltalanes {

// Where the lanes carry the orbit's derivative: shown each instruction's operands before it runs and
// its result after, on every lane (only the active ones are read).
class LaneChain {
public:
    virtual void Before(const BatchInstruction& in, const ProgramRecord& record, int k, const size_t* runAt,
        uint64_t active, const double* ar, const double* ai, const double* br, const double* bi)
        = 0;
    virtual void After(const BatchInstruction& in, const ProgramRecord& record, int k, const size_t* runAt,
        uint64_t active, const double* dr, const double* di)
        = 0;

protected:
    ~LaneChain() = default;
};

inline constexpr size_t kLaneCount = static_cast<size_t>(kLanes);

inline size_t At(int slot) { return static_cast<size_t>(slot) * kLaneCount; }

// One bit per lane whose value is not 0 (NaN included), lane 0 the lowest: two lanes an instruction,
// with no branch per lane (and, unrolled, no shift by a variable).
inline uint64_t LanesSet(const double* value)
{
    uint64_t bits = 0;
#pragma GCC unroll 32
    for (size_t l = 0; l < kLaneCount; l += 2) {
        const __m128d v = _mm_loadu_pd(value + l);
        bits |= static_cast<uint64_t>(_mm_movemask_pd(_mm_cmpneq_pd(v, _mm_setzero_pd()))) << l;
    }
    return bits;
}

// The common operations as loops over every lane, the others by their delta form lane by lane for the
// active ones; a lane whose operation glitched gets 1.0 in glitched.
void RunLanes(const CDeltaCode& code, const ProgramRecord& record, const size_t* runAt, uint64_t active,
    double* re, double* im, double* glitched, const DeltaKernels& kernels, LaneChain* chain = nullptr);

} // namespace deltalanes
