#pragma once

#include "waits.h"

#include <atomic>

// A point where a test holds a worker for as long as it likes: the worker waits there while the gate
// is closed, until the test opens it or a stop is requested. It replaces pictures believed to be slow,
// which end early on a fast machine. Closed only by tests; an open gate costs one atomic load.
class CWorkerGate {
public:
    void Close() { m_bClosed.store(true); }
    void Open() { m_bClosed.store(false); }
    // How many times a worker has reached the gate.
    int Arrivals() const { return m_nArrivals.load(); }

    // The worker's side.
    void Pass(const std::atomic<bool>& stopRequest)
    {
        m_nArrivals.fetch_add(1);
        while (WaitWhile([&] { return m_bClosed.load() && !stopRequest.load(); }, 1, 1000)) { }
    }

private:
    std::atomic<bool> m_bClosed { false }; // test -> worker
    std::atomic<int> m_nArrivals { 0 };    // worker -> test
};
