#include "renderpool.h"

#include <algorithm>

CRenderPool::~CRenderPool()
{
    {
        std::lock_guard lock(m_mutex);
        m_bStop = true;
    }
    m_wake.notify_all();
    for (std::thread& thread : m_threads) {
        thread.join();
    }
}

void CRenderPool::SetThreads(int threads) { m_nThreads.store(threads); }

int CRenderPool::Threads() const
{
    const int wanted = m_nThreads.load();
    if (wanted > 0) {
        return wanted;
    }
    return std::max(1u, std::thread::hardware_concurrency());
}

void CRenderPool::Run(int count, const std::function<void(int)>& job)
{
    if (count <= 1) {
        job(0);
        return;
    }
    std::lock_guard run(m_runMutex);
    {
        std::lock_guard lock(m_mutex);
        while (static_cast<int>(m_threads.size()) < count - 1) {
            m_threads.emplace_back([this] { Work(); });
        }
        m_job = &job;
        m_nCount = count;
        m_nClaimed = 1; // job(0) is the calling thread's
        m_nPending = count - 1;
        ++m_nGeneration;
    }
    m_wake.notify_all();
    job(0);
    // The jobs no thread has claimed yet run here: their work is done or shared out by now, and a
    // thread that wakes late (a busy machine) must not hold the render up.
    for (int index = Claim(); index < count; index = Claim()) {
        job(index);
        std::lock_guard lock(m_mutex);
        --m_nPending;
    }
    std::unique_lock lock(m_mutex);
    m_done.wait(lock, [this] { return m_nPending == 0; });
    m_job = nullptr;
}

int CRenderPool::Claim()
{
    std::lock_guard lock(m_mutex);
    return m_nClaimed++;
}

void CRenderPool::Work()
{
    uint64_t seen = 0;
    for (;;) {
        std::unique_lock lock(m_mutex);
        m_wake.wait(lock, [&] { return m_bStop || m_nGeneration != seen; });
        if (m_bStop) {
            return;
        }
        seen = m_nGeneration;
        // The claim and the job are taken under one lock: the render they belong to cannot end
        // before the claimed job has.
        const int index = m_nClaimed++;
        if (index >= m_nCount) {
            continue;
        }
        const std::function<void(int)>* job = m_job;
        lock.unlock();
        (*job)(index);
        lock.lock();
        if (--m_nPending == 0) {
            m_done.notify_one();
        }
    }
}
