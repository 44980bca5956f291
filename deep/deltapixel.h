#pragma once

// What iterating a pixel gives, and the lanes' scratch: the pixels side by side and those they hand on.

#include "floatexp.h"

#include <cstdint>
#include <vector>

// What iterating one pixel gave.
struct DeltaPixel {
    int count { 0 };
    Complex last {};
    bool glitched { false }; // the pixel left its reference's precision: needs another reference
    bool deferred { false }; // IterateLanes only: offsets below the doubles' range, for Iterate
    // A deferred pixel's run to go on from, with its offsets in DeltaLanes::resume; -1: from the start.
    int resumeRun { -1 };
    ExComplex lastOffset {}; // the offset of the iteration's value at the pixel's last run
    std::int64_t runs { 0 };
    std::int64_t skipped { 0 }; // runs of its own it skipped (the bilinear skips)
    // The reference's run whose record the pixel's last run took (a deferred pixel's next run takes):
    // its own run unless it rebased or went round a periodic orbit; -1 with neither.
    int recordRun { -1 };
    int rebases { 0 };           // times the pixel went on from another run of the orbit instead of glitching
    bool landed { false };       // the pixel went on to (and ended on) its orbit's landing orbit
    std::int64_t landedAt { 0 }; // its runs when it first landed
};

// Pixels the lanes take on from a run of their own: each one's pixel so far (its runs, next run and
// record, what it did) and its row of slots, the iteration's then the termination's.
struct LaneResumes {
    const DeltaPixel* pixels;
    const Complex* rows;
    size_t row;
};

// The offsets of kLanes pixels of the lane-batched path, one per lane, in doubles: the iteration's
// slots and the termination's.
struct DeltaLanes {
    std::vector<double> re, im;         // iteration slots x kLanes
    std::vector<double> termRe, termIm; // termination slots x kLanes
    std::vector<double> lastRe, lastIm;
    std::vector<double> glitched; // 1 where the lane's pixel left the reference's precision (a double: the
                                  // lane loops run over vectors)
    // Per lane, a pair per carried slot: its offsets at its last pass through a periodic orbit's end, and
    // how far they moved from the pass before.
    std::vector<double> lap;
    // The carried offsets before the lanes' run, per slot kLanes real parts then kLanes imaginary ones.
    std::vector<double> before;
    // The offsets of the deferred pixels that go on from a run of their own (every slot of the
    // iteration, then of the termination), a row per pixel of the call.
    std::vector<Complex> resume;
};
