#pragma once

// The lane loop's per-run bookkeeping as plain loops over every lane, built for each instruction set
// and chosen at run time as the delta kernels are, so that it takes as few instructions as the
// arithmetic it serves. Element-wise IEEE operations only: each lane gets the scalar code's bits.

#include "delta.h"
#include "opcodes.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace deltalanes {

// Each lane's run and record and where they stand, as the lane loop keeps them.
struct LaneCursor {
    double* quiet;     // the runs it goes on with nothing due at their ends
    int* laneRun;      // its run
    int* recordRun;    // its record
    size_t* runAt;     // the record as an index into the iteration's records
    size_t* termRunAt; // and into the termination's
    size_t iter;       // the instructions of a record of the iteration
    size_t term;       // and of the termination
};

struct LaneBooks {
    // decision[l] = program.EscapeDecision of lane l's value (re, im) and offset (dre, dim); returns the
    // lanes where that is 0, one bit each (lane 0 the lowest).
    uint64_t (*decide)(const CDeltaProgram& program, const double* re, const double* im, const double* dre,
        const double* dim, double* decision);
    // Every lane with quiet runs left whose run did not glitch and whose sum (its termination's
    // decision) is not above 0 moves on a run and a record, one quiet run fewer; returns those lanes.
    uint64_t (*goOn)(const LaneCursor& lanes, const double* glitched, const double* sum);
    // The lanes whose value is not 0 (NaN included).
    uint64_t (*marked)(const double* value);
    // d = a, -a, conj(a), the suffix i's exchange of the parts, real(a) or imag(a) (op kOpCopy, kOpNeg,
    // kOpConj, kOpImag, kOpReal or kOpImagFn): the same in the offsets as in the values. d may be a.
    void (*linear)(Op op, const double* ar, const double* ai, double* dr, double* di);
};

// The widest set this processor has.
const LaneBooks& ActiveLaneBooks();
// Every set this processor has, the plainest first (for tests that hold them to one another).
std::vector<const LaneBooks*> LaneBooksOfThisProcessor();

} // namespace deltalanes
