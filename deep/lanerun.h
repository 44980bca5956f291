#pragma once

// One run of a perturbed program over the lanes (slot s of lane l at At(s) + l), for the lane loop.

#include "delta.h"
#include "deltakernels.h"

#include <cstddef>
#include <cstdint>

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

// The common operations as loops over every lane, the others by their delta form lane by lane for the
// active ones; a lane whose operation glitched gets 1.0 in glitched.
void RunLanes(const CDeltaCode& code, const ProgramRecord& record, const size_t* runAt, uint64_t active,
    double* re, double* im, double* glitched, const DeltaKernels& kernels, LaneChain* chain = nullptr);

} // namespace deltalanes
