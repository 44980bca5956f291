#pragma once

// The derivative of a perturbed pixel's orbit with respect to its plane point p = x + iy, carried
// beside its offsets. The derivative of the pixel's value is that of reference + offset, and the
// reference does not move with p: every instruction's chain rule is taken at the pixel's full operand
// values (the reference's record plus the offsets as the delta run has them), so the derivative does
// not care which run of the orbit the pixel follows (a rebase or a periodic orbit's cycle changes
// nothing). Past a deep zoom's dwell the derivative grows far beyond a double's range, so between
// runs each carried slot keeps it with its own exponent; within a run every slot shares the largest
// exponent the run started with, and one run's growth stays well inside the doubles.

#include "bla.h"
#include "delta.h"
#include "tangent.h"

#include <vector>

// One pixel's derivatives, along x and (where the program is not complex-differentiable) along y, as
// mantissas that share one exponent: the carried slots' between runs, every slot's within a run. The
// exponent moves (by a power of two, exactly) only when they drift far from 1. A thread's scratch:
// its vectors keep their size from pixel to pixel.
struct OrbitDerivative {
    std::vector<Complex> x, y; // by carried slot (the program's Carried() order), times 2^scale
    int64_t scale { 0 };
    std::vector<ExComplex> wx, wy; // with exponents of their own, while a start or a skip sets them
    std::vector<Complex> tx, ty;   // by slot, within a run
    Complex rx {}, ry {};          // the iteration's value after the last run, times 2^scale
    bool synced { false }; // tx and ty hold x and y at the carried slots (the last run moved no exponent)

    ExComplex DzX() const { return ex::Normalised(rx.re, rx.im, scale); }
    ExComplex DzY() const { return ex::Normalised(ry.re, ry.im, scale); }
};

class COrbitDerivative {
public:
    explicit COrbitDerivative(const CDeltaCode& iteration);

    // Whether a second direction is carried (an operation that is not complex-differentiable).
    bool TwoDirections() const { return !m_bHolomorphic; }

    // A pixel at plane offset `offset` starting at run `start`: z and z0 have derivative 1 (i along
    // y); after the skip (start = the orbit's skipRuns) the series' derivatives at the offset.
    void Start(const ReferenceOrbit& orbit, const ExComplex& offset, int start, OrbitDerivative& t) const;
    // A pixel that goes on from a run of its own: a derivative it did not carry (the lanes' pixels)
    // is not known, and reads NaN.
    void Unknown(OrbitDerivative& t) const;

    // CDeltaCode::Run with the derivatives carried: the offsets d (every slot) at run `run`.
    template <class N> bool Run(const ProgramRecord& record, int run, N* d, OrbitDerivative& t) const;
    // A Run that glitched leaves the derivatives as they were before it: its run may be taken again
    // from another record.
    // The bilinear skips from run n (see CBlaTable::Skip) on the state d, the carried slots'
    // derivatives moved with their offsets.
    int Skip(const CBlaTable& bla, int n, int end, ExComplex* d, const ExComplex& dc, OrbitDerivative& t) const;

    // Run taken apart for the lanes, which compute the offsets themselves: before a run, each
    // instruction's chain rule at its full operands a, b and result r, and after a run that did not
    // glitch. The same arithmetic as Run, so the same derivatives from the same offsets.
    void BeginRun(OrbitDerivative& t) const { Begin(t); }
    // What an instruction's chain rule reads of the values: sums read neither their operands nor their
    // result, products and squares not their result.
    static bool ReadsOperands(const BatchInstruction& in);
    static bool ReadsResult(const BatchInstruction& in);
    // Lane l (of active) at its operands a[l], b[l] and result r[l], derivatives in t[l].
    void Chain(const BatchInstruction& in, const Complex* a, const Complex* b, const Complex* r,
        uint64_t active, OrbitDerivative* t) const;
    void EndRun(OrbitDerivative& t) const { End(t); }

private:
    const CDeltaCode& m_code;
    std::vector<int32_t> m_carriedIndex; // by slot: its index in Carried(), or -1
    int m_zIndex { -1 };
    bool m_bHolomorphic { true };
    void Load(OrbitDerivative& t) const;
    void Begin(OrbitDerivative& t) const;
    void End(OrbitDerivative& t) const;
    void Derive(const BatchInstruction& in, Complex a, Complex b, Complex r, std::vector<Complex>& t) const;
};

// What the colour formula sees of a final z whose derivatives are dzx and dzy, in pixels of `pixel`
// plane units: as ViewDerivative, with the distance estimate taken with the derivative's exponent, so
// that it holds where |dz| and the pixel lie past the doubles' range (dz and dzy then read infinities
// or 0).
DerivativeView ViewDeepDerivative(
    Complex z, const ExComplex& dzx, const ExComplex& dzy, const ExComplex& pixel);
