#pragma once

// The lane loop's state: pixels side by side, kLanes offsets at a time (lanes.cpp runs them,
// lanehandoff.cpp hands them on, to their next record or to the one-pixel path).

#include "delta.h"

#include "deltakernels.h"
#include "lanebooks.h"
#include "lanecycle.h"
#include "lanederivative.h"
#include "lanerun.h"

#include <cstdint>
#include <vector>

namespace deltalanes {

// The lanes of one IterateLanes call and the pixels flowing through them.
class CLaneRun {
public:
    CLaneRun(const CDeltaProgram& program, const ReferenceOrbit& orbit, const ExComplex* offsets, int count,
        int maxIter, DeltaLanes& scratch, DeltaPixel* out, CLaneDerivatives* derive,
        const LaneResumes* resumes)
        : m_program(program)
        , m_iter(program.Iteration())
        , m_term(program.Termination())
        , m_orbit(orbit)
        , m_offsets(offsets)
        , m_nCount(count)
        , m_nMaxIter(maxIter)
        , m_scratch(scratch)
        , m_out(out)
        , m_start(m_iter.Carried().size())
        , m_kernels(ActiveDeltaKernels())
        , m_books(ActiveLaneBooks())
        , m_derive(derive)
        , m_resumes(resumes)
    {
        const size_t slots = static_cast<size_t>(m_iter.Slots());
        const size_t termSlots = static_cast<size_t>(m_term.Slots());
        scratch.re.assign(slots * kLaneCount, 0.0);
        scratch.im.assign(slots * kLaneCount, 0.0);
        scratch.termRe.assign(termSlots * kLaneCount, 0.0);
        scratch.termIm.assign(termSlots * kLaneCount, 0.0);
        scratch.glitched.assign(kLaneCount, 0.0);
        scratch.lastRe.assign(kLaneCount, 0.0);
        scratch.lastIm.assign(kLaneCount, 0.0);
        m_bScaled = orbit.skipRuns > 0 && orbit.SkipScaled();
        m_bTiny = orbit.specialRuns;
        // Lanes that glitch where the program lands land alone (Iterate), and go on here again on the
        // landing orbit where every landed pixel follows it (the lanes run one orbit: a second call).
        m_bLands = program.LandingInstruction() >= 0 && (orbit.landing || resumes) && !derive;
        if (m_bTiny || m_bLands) {
            scratch.resume.assign(static_cast<size_t>(count) * (slots + termSlots), Complex {});
        }
        m_bKeepWide = program.DecidesOnPlanePoint();
        m_nBlaEnd = std::min(maxIter, orbit.runs) - 1;
        m_gather.resize(slots);
        scratch.lap.assign((2 * m_iter.Carried().size() + 1) * kLaneCount, 0.0);
        scratch.before.assign(2 * m_iter.Carried().size() * kLaneCount, 0.0);
        for (int l = 0; l < kLanes; ++l) {
            m_lanePixel[l] = -1;
            Fill(l);
        }
    }

    void Run()
    {
        while (m_active != 0) {
            if (m_bTiny) {
                DeferAtTinyRuns();
            }
            Step();
        }
    }

private:
    bool Start(int p);
    bool Begin(int p, int l);
    bool TakeOn(int p, int l);
    void Fill(int l);
    void Step();
    void DeferAtTinyRuns();
    bool Defers(int l) const;
    void DeferToLand(int l);
    bool DecideByValue(double* decision) const;
    double QuietRuns(int l) const;
    uint64_t GoOnQuietly(const double* sum);
    void RunTermination();
    bool GoesOn(int l);
    void SetRecord(int l, int r) // the record lane l's run takes
    {
        m_recordRun[l] = r;
        m_runAt[l] = static_cast<size_t>(r) * static_cast<size_t>(m_orbit.iteration.instructions);
        m_termRunAt[l] = static_cast<size_t>(r) * static_cast<size_t>(m_orbit.termination.instructions);
    }

    const CDeltaProgram& m_program;
    const CDeltaCode& m_iter;
    const CDeltaCode& m_term;
    const ReferenceOrbit& m_orbit;
    const ExComplex* const m_offsets;
    const int m_nCount;
    const int m_nMaxIter;
    DeltaLanes& m_scratch;
    DeltaPixel* const m_out;
    std::vector<Complex> m_start; // the carried offsets of the pixel being started
    int m_nStartRun { 0 };        // the run it starts at
    int m_nBlaEnd { 0 };          // the last run a bilinear skip may reach
    const DeltaKernels& m_kernels;
    const LaneBooks& m_books;
    CLaneDerivatives* const m_derive;   // where the lanes carry the derivative
    const LaneResumes* const m_resumes; // where the pixels go on from runs of their own
    int m_nFilling { 0 };               // the lane Fill fills
    bool m_bScaled { false };
    bool m_bKeepWide { false }; // a plane offset the doubles lose would decide a comparison
    bool m_bTiny { false };     // the reference passes closer to 0 than the doubles hold
    bool m_bLands { false };
    uint64_t m_active { 0 };
    int m_nNext { 0 };
    alignas(64) int m_laneRun[kLanes] {};
    // The runs each lane goes on to its next record with nothing due (see QuietRuns); doubles, so that
    // their test shares the vectors of the glitch and termination tests.
    alignas(64) double m_quiet[kLanes] {};
    int m_lanePixel[kLanes] {};
    alignas(64) size_t m_runAt[kLanes] {};     // each lane's run as an index into the iteration's records
    alignas(64) size_t m_termRunAt[kLanes] {}; // and into the termination's
    alignas(64) double m_z0Re[kLanes] {};      // each lane's plane offset
    alignas(64) double m_z0Im[kLanes] {};
    alignas(64) int m_recordRun[kLanes] {}; // its run, unless it rebased or went round a periodic orbit
    BlaTries m_tries[kLanes];               // when each lane next tries the bilinear skips
    int m_laneRebases[kLanes] {};           // its pixel's rebases at its last try
    std::vector<Complex> m_gather;
};

} // namespace deltalanes
