#pragma once

#include "batchjit.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// The threads that renders share, and the code they run: a render's bands run on the pool's threads
// and on the thread that asked for the render. One render at a time (the preview and the export
// never render at once anyway). Owned by whoever renders (the window's workers, a command of the
// tool, a test) and passed to every render in its RenderControl; threads start on first use and end
// with the pool.
class CRenderPool {
public:
    CRenderPool() = default;

    // Threads per render, the asking thread included; 0 or less means every core.
    void SetThreads(int threads);
    int Threads() const;
    // Which code the batched renderer runs (see JitUse): tests and benchmarks choose another.
    void SetJitUse(JitUse use) { m_nJitUse.store(static_cast<int>(use)); }
    JitUse GetJitUse() const { return static_cast<JitUse>(m_nJitUse.load()); }
    // The code generated for this pool's renders, kept for the renders after them.
    CJitCache& JitCache() { return m_jitCache; }

    // Runs job(0), ..., job(count - 1), each once, job(0) on the calling thread, and there as well
    // every job that no thread of the pool has started when job(0) returns; returns when all have
    // returned. Jobs share their work out among themselves (a late job finds it taken).
    void Run(int count, const std::function<void(int)>& job);

    ~CRenderPool();
    CRenderPool(const CRenderPool&) = delete;
    CRenderPool& operator=(const CRenderPool&) = delete;

private:
    void Work();
    int Claim(); // the next job's index, under the lock

    std::mutex m_runMutex; // one render at a time
    std::mutex m_mutex;    // guards everything below
    std::condition_variable m_wake;
    std::condition_variable m_done;
    std::vector<std::thread> m_threads; // each runs the jobs it claims
    const std::function<void(int)>* m_job { nullptr };
    int m_nCount { 0 };
    int m_nClaimed { 0 }; // the jobs taken so far by the threads or the calling thread
    int m_nPending { 0 }; // the jobs claimed or unclaimed that have not returned
    uint64_t m_nGeneration { 0 };
    // Set under m_mutex, and atomic as well: ThreadSanitizer paired a worker's read with the store of
    // an earlier pool's destructor in the same stack frame (a pool that never ran, then one started
    // from another thread).
    std::atomic<bool> m_bStop { false };
    std::atomic<int> m_nThreads { 0 };                                // window or tool -> renders
    std::atomic<int> m_nJitUse { static_cast<int>(JitUse::Default) }; // tests and benchmarks -> renders
    CJitCache m_jitCache;
};
