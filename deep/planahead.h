#pragma once

// The skips planned while the reference orbit that feeds them is computed: the orbit is one thread's
// long run of high-precision arithmetic, and the series (which follows the orbit run by run) and the
// bilinear skips' first level (a map for every run) would otherwise wait for its end. The runs go to a
// thread of their own in chunks as soon as they are recorded, as copies of their records, so that the
// orbit's records are never read while they grow. What comes out is what PlanSkip would make.

#include "bla.h"
#include "delta.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

// The series skip planned as far as the runs it was given (CDeltaProgram::SeriesPlanner).
class CSeriesAhead {
public:
    virtual ~CSeriesAhead() = default;
    // Goes on over the orbit's runs up to `end` (exclusive), from `records`, whose run 0 is the orbit's
    // run `base`, until the series no longer holds.
    virtual void Go(const ReferenceOrbit& records, int base, int end) = 0;
    // The runs planned, and whether the series has stopped holding.
    virtual int Next() const = 0;
    virtual bool Stopped() const = 0;
    // The plan, into the orbit (skipRuns and its series).
    virtual void Into(ReferenceOrbit& orbit) const = 0;
};

// What CPlanAhead made: PlanSkip finishes both.
struct PlannedAhead {
    BlaStretches stretches;
    std::unique_ptr<CSeriesAhead> series;
};

class CPlanAhead {
public:
    // waitForAll: every run goes over, so that what is planned ahead does not depend on how fast the
    // threads went (for tests). Otherwise the runs stop going over where the worker falls behind (a
    // cheap orbit), and PlanSkip plans the runs after them.
    CPlanAhead(
        const CDeltaProgram& program, const ExComplex& planeRadius, int maxIter, bool waitForAll = false);
    ~CPlanAhead();
    CPlanAhead(const CPlanAhead&) = delete;
    CPlanAhead& operator=(const CPlanAhead&) = delete;

    // After every run of the orbit being built, on the thread that builds it.
    void Recorded(const ReferenceOrbit& orbit);
    // Waits for the runs handed over: what was planned. PlanSkip does the rest.
    PlannedAhead Finish();

private:
    struct Chunk {
        int base;
        ReferenceOrbit runs; // the orbit's runs from base
    };
    void Work();
    void Take(Chunk& chunk);
    void Stop(bool waitForAll);

    const CDeltaProgram& m_program;
    const ExComplex m_plane;
    const int m_nMaxIter;
    const std::vector<int32_t> m_state; // the bilinear skips' (none: no table, or none made ahead)
    std::unique_ptr<CSeriesAhead> m_series;
    std::atomic<bool> m_bSeriesStopped { false };
    int m_nCopied { 0 };      // the runs handed over
    bool m_bClosed { false }; // no more runs go over
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Chunk> m_queue;
    const bool m_bWaitForAll;
    bool m_bFinishing { false }; // the worker plans what is handed over, then ends
    bool m_bFailed { false };    // the worker's, until it is joined
    std::atomic<bool> m_bStopped { false };
    // The worker's until it is joined: the runs of the stretch being gathered, and the stretches made.
    ReferenceOrbit m_gathered;
    int m_nGatheredFrom { 0 };
    BlaStretches m_made;
    std::thread m_worker;
};

// Runs from .. to - 1 of the records the skips read (the iteration's and the termination's, the values
// and the termination's value), renumbered from 0.
ReferenceOrbit SliceOf(const ReferenceOrbit& orbit, int from, int to);
// The runs of `more` after those of `to`.
void Append(ReferenceOrbit& to, const ReferenceOrbit& more);
