#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// The threads that share every render of the process: a render's bands run on the pool's threads
// and on the thread that asked for the render. One render at a time (the preview and the export
// never render at once anyway). Threads start on first use and end with the process.
class CRenderPool {
public:
    static CRenderPool& Instance();

    // Threads per render, the asking thread included; 0 or less means every core.
    void SetThreads(int threads);
    int Threads() const;

    // Runs job(0), ..., job(count - 1), each once, job(0) on the calling thread; returns when all
    // have returned.
    void Run(int count, const std::function<void(int)>& job);

    ~CRenderPool();
    CRenderPool(const CRenderPool&) = delete;
    CRenderPool& operator=(const CRenderPool&) = delete;

private:
    CRenderPool() = default;
    void Work(int index);

    std::mutex m_runMutex; // one render at a time
    std::mutex m_mutex;    // guards everything below
    std::condition_variable m_wake;
    std::condition_variable m_done;
    std::vector<std::thread> m_threads; // m_threads[i] runs job(i + 1)
    const std::function<void(int)>* m_job { nullptr };
    int m_nCount { 0 };
    int m_nPending { 0 };
    uint64_t m_nGeneration { 0 };
    bool m_bStop { false };
    std::atomic<int> m_nThreads { 0 }; // window or tool -> renders
};
