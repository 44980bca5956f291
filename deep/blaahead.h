#pragma once

// The bilinear skips' first level made while the reference orbit that feeds it is computed: the orbit
// is one thread's long run of high-precision arithmetic, and the table's first level (a map for every
// run) would otherwise wait for its end. Each stretch of kBlaStretch skips goes to a thread of its own
// as soon as its runs are recorded, as a copy of those runs' records, so that the orbit's own records
// are never read while they grow. The stretches come out as CBlaTable::Build would make them.

#include "bla.h"
#include "delta.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

class CBlaAhead {
public:
    CBlaAhead(const CDeltaProgram& program, const ExComplex& planeRadius, int maxIter);
    ~CBlaAhead();
    CBlaAhead(const CBlaAhead&) = delete;
    CBlaAhead& operator=(const CBlaAhead&) = delete;

    // After every run of the orbit being built, on the thread that builds it: hands over a stretch
    // whose runs are all recorded.
    void Recorded(const ReferenceOrbit& orbit);
    // Waits for the stretches handed over: the first level's skips of each.
    BlaStretches Finish();

private:
    struct Stretch {
        size_t index;
        ReferenceOrbit runs; // its runs, from its first
    };
    void Work();
    void Stop();

    const CDeltaProgram& m_program;
    const ExComplex m_plane;
    const int m_nMaxIter;
    const std::vector<int32_t> m_state;
    size_t m_nOffered { 0 };
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Stretch> m_queue;
    bool m_bDone { false };
    std::atomic<bool> m_bStopped { false };
    BlaStretches m_made; // the worker's until it is joined
    std::thread m_worker;
};

// Runs from .. to - 1 of the records a run's map reads (the iteration's and the termination's, the
// values and the termination's value), renumbered from 0.
ReferenceOrbit SliceOf(const ReferenceOrbit& orbit, int from, int to);
