#pragma once

// The orbit's derivative carried beside the lanes' offsets: each lane's pixel has its own, taken by
// COrbitDerivative with the same arithmetic at the same full operands as a pixel run alone, so that
// a pixel gets the same derivative whichever loop runs it.

#include "lanerun.h"
#include "orbitderivative.h"

#include <array>

class CLaneDerivatives final : public deltalanes::LaneChain {
public:
    explicit CLaneDerivatives(const COrbitDerivative& carrier)
        : m_carrier(carrier)
    {
    }

    // Where each pixel's derivatives at its end go (along x and y), by pixel of the IterateLanes call.
    void SetOut(std::array<ExComplex, 2>* out) { m_out = out; }

    const COrbitDerivative& Carrier() const { return m_carrier; }
    OrbitDerivative& Lane(int l) { return m_lanes[static_cast<size_t>(l)]; }
    // Lane l's pixel p has ended: its derivatives as they stand.
    void Keep(int l, int p) { m_out[p] = { Lane(l).DzX(), Lane(l).DzY() }; }

    void BeginRun(uint64_t active);
    // A lane whose run glitched keeps the derivatives it had: it takes its run again or ends glitched.
    void EndRun(uint64_t active, const double* glitched);

    void Before(const BatchInstruction& in, const ProgramRecord& record, int k, const size_t* runAt,
        uint64_t active, const double* ar, const double* ai, const double* br, const double* bi) override;
    void After(const BatchInstruction& in, const ProgramRecord& record, int k, const size_t* runAt,
        uint64_t active, const double* dr, const double* di) override;

private:
    const COrbitDerivative& m_carrier;
    std::array<ExComplex, 2>* m_out {};
    std::array<OrbitDerivative, deltalanes::kLaneCount> m_lanes;
    Complex m_a[kLanes] {}, m_b[kLanes] {}, m_r[kLanes] {}; // the instruction's full values, by lane
};
