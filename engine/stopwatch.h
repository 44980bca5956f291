#pragma once

#include <chrono>
#include <string>

// Accumulates elapsed seconds on a monotonic high-resolution clock. Owned by one thread at a time.
class Stopwatch {
public:
    void Start()
    {
        m_start = std::chrono::steady_clock::now();
        m_dElapsed = 0.0;
    }
    void Stop()
    {
        m_dElapsed += std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
    }
    double Elapsed() const { return m_dElapsed; }

    // "[days-hh:mm:ss,micro]", for example [00-01:02:05,500000] for 3725.5 seconds.
    std::string FormatElapsed() const { return FormatElapsed(m_dElapsed); }
    static std::string FormatElapsed(double seconds);

private:
    std::chrono::steady_clock::time_point m_start {};
    double m_dElapsed { 0.0 };
};
