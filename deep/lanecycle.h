#pragma once

// What the lane loop asks of a pixel that takes another record than its own run's (see rebase.cpp):
// one lane's offsets, in the lanes' layout (slot s of lane l at s * kLanes + l).

#include "delta.h"

#include <vector>

// Rebases lane l's pixel after record run r (CDeltaProgram::Rebase); gather holds the lane's slots.
bool RebaseLane(const CDeltaProgram& program, const ReferenceOrbit& orbit, int r, double* re, double* im,
    int lane, std::vector<Complex>& gather, int& to);
// Keeps the carried offsets of every lane in before (see DeltaLanes::before).
void KeepCarried(const std::vector<int32_t>& carried, const double* re, const double* im, double* before);
// Lane l's carried offsets kept in before, as a row of every slot (the rest 0) for Iterate to go on from.
void ResumeBefore(
    const std::vector<int32_t>& carried, const double* before, int lane, Complex* row, size_t slots);
// The active lanes whose iteration glitched on their records runs[l]: each goes back to its offsets
// before the run (kept in before) and, where it rebases from there, takes the run again on the record
// runs[l] then holds, its glitch mark cleared. A run is only ever kept where no glitch marked it: a
// pixel that passed near a point where its reference does not has lost digits in that run already.
// Returns the lanes that take their run again.
uint64_t RebaseGlitchedLanes(const CDeltaProgram& program, const ReferenceOrbit& orbit, uint64_t active,
    double* glitched, double* re, double* im, const double* before, int* runs, std::vector<Complex>& gather);

constexpr int kReferenceEnds = -1;
constexpr int kGoesRound = -2;
// After lane l's run on record r, its termination not holding: the record its next run takes. That is
// the next one; past a periodic orbit's end the cycle's first, where a pixel that came back to where it
// was a cycle before (lap: its carried offsets then, a pair per slot, NaN before its first pass, then
// how far they had moved the cycle before), moving no more than in that cycle, to the doubles' precision
// of its values goes round for good (kGoesRound: its termination cannot hold any
// more, and its value at the limit is that of the run as far from the lap's end); where its reference
// ends, the one after a rebase (counted in rebases), or kReferenceEnds.
int NextLaneRecord(const CDeltaProgram& program, const ReferenceOrbit& orbit, int r, double* re, double* im,
    int lane, std::vector<Complex>& gather, double* lap, int& rebases);
