#pragma once

#include "delta.h"
#include "precise.h"

#include <cstddef>
#include <functional>

class CPlanAhead;

// A reference orbit at a plane point, computed in high precision with the formula's own semantics,
// and recorded for the delta program (see ReferenceOrbit).
struct Reference {
    BigComplex point;
    ReferenceOrbit orbit;
};

// The most one reference's record and its table of bilinear skips may take: the default formula (two
// instructions, z carried) needs 128 bytes a run, 1.3 MB at limit 10000; a formula of 100 instructions at the
// tool's limit of 10000 would want 48 MB. A record that would pass this stops short, and the pixels that
// outlive it take other references or the precise path.
constexpr size_t kMaxReferenceBytes = size_t { 256 } << 20;

// Runs the iteration program from point at `bits` precision until the limit, until a value leaves
// the doubles' range, or until the record would pass maxBytes, and the termination program after
// every run on its exact value (z = its value, V_iter_n = the run, z0 = point), which also marks where
// the reference itself would stop. False when cancelled (then the orbit is incomplete).
// `ahead` (where not null) is given the orbit after each run (not the landing orbit's).
bool BuildReference(const CDeltaProgram& program, const BigComplex& point, mpfr_prec_t bits, int maxIter,
    Reference& out, const std::function<bool()>& cancelled, size_t maxBytes = kMaxReferenceBytes,
    CPlanAhead* ahead = nullptr);

// The parts of v rounded to doubles, each keeping its sign as the smallest double where it is not 0
// but rounds to 0; and v with an exponent of its own.
Complex SignKept(const BigComplex& v);
ExComplex WideOf(const BigComplex& v);
