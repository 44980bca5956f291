#pragma once

#include <chrono>
#include <thread>

// Every polling wait goes through here, so that each sleep and retry count stands at its call site.
// Sleeps sleepMs between tests of pred, at most tries times; returns whether pred still holds.
template <typename Predicate> bool WaitWhile(Predicate pred, int sleepMs, int tries)
{
    for (int i = 0; i < tries && pred(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(sleepMs));
    }
    return pred();
}
