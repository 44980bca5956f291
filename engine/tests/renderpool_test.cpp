#include "renderpool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

// Every job runs exactly once, whoever claims it: a thread of the pool, or the calling thread taking
// the jobs no thread had started when job(0) returned (short jobs make that the common case).
TEST(RenderPool, EveryJobRunsOnce)
{
    for (const int count : { 2, 3, 5, 8 }) {
        CRenderPool pool;
        for (int round = 0; round < 200; ++round) {
            std::vector<std::atomic<int>> runs(static_cast<size_t>(count));
            pool.Run(count, [&](int index) { runs[static_cast<size_t>(index)].fetch_add(1); });
            for (int i = 0; i < count; ++i) {
                ASSERT_EQ(runs[static_cast<size_t>(i)].load(), 1) << count << " jobs, job " << i;
            }
        }
    }
}

// A job a pool thread has started is waited for, however long it outlasts job(0).
TEST(RenderPool, WaitsForAStartedJob)
{
    CRenderPool pool;
    std::atomic<bool> started { false };
    std::atomic<bool> firstDone { false };
    std::atomic<bool> secondDone { false };
    pool.Run(2, [&](int index) {
        if (index == 0) {
            // job(1) can only start on the pool's thread while this one waits for it.
            while (!started.load()) {
                std::this_thread::yield();
            }
            firstDone.store(true);
            return;
        }
        started.store(true);
        while (!firstDone.load()) {
            std::this_thread::yield();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        secondDone.store(true);
    });
    EXPECT_TRUE(secondDone.load());
}

} // namespace
