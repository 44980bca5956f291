#include "planahead.h"

#include <algorithm>

namespace {

constexpr int kSpan = 1 << kBlaFirstLevel;
constexpr int kStretchRuns = static_cast<int>(kBlaStretch) * kSpan;
// The runs handed over at a time: the series planned after the orbit's end is at most this many runs
// behind. A stretch of the skip table is a whole number of chunks.
constexpr int kChunkRuns = 256;
static_assert(kStretchRuns % kChunkRuns == 0);
// Runs waiting for the worker beyond this, the orbit goes on without it: its copies would pile up where
// the worker is slower than the orbit (a cheap orbit), and PlanSkip shares the rest among all threads.
constexpr size_t kMostWaiting = 64;
// A stretch gathered for the table is a copy of its runs' records: none of more than this.
constexpr size_t kLargestStretchCopy = size_t { 32 } << 20;

// What the copy of one run takes (the two records and the value and termination's value).
size_t CopyBytesPerRun(const CDeltaProgram& program)
{
    const size_t instructions = program.Iteration().Code().size() + program.Termination().Code().size();
    return 3 * instructions * sizeof(Complex) + sizeof(Complex) + sizeof(double);
}

template <class T> std::vector<T> Part(const std::vector<T>& v, size_t from, size_t to)
{
    return std::vector<T>(
        v.begin() + static_cast<std::ptrdiff_t>(from), v.begin() + static_cast<std::ptrdiff_t>(to));
}

template <class T> void Extend(std::vector<T>& to, const std::vector<T>& more)
{
    to.insert(to.end(), more.begin(), more.end());
}

ProgramRecord SliceOf(const ProgramRecord& record, int from, int to)
{
    ProgramRecord out;
    out.instructions = record.instructions;
    const auto width = static_cast<size_t>(record.instructions);
    const size_t begin = static_cast<size_t>(from) * width;
    const size_t end = static_cast<size_t>(to) * width;
    out.a = Part(record.a, begin, end);
    out.b = Part(record.b, begin, end);
    out.r = Part(record.r, begin, end);
    if (!record.firstTiny.empty()) {
        const auto byAt = [](const ProgramRecord::Tiny& t, size_t at) { return t.at < at; };
        const auto low = std::lower_bound(record.tiny.begin(), record.tiny.end(), begin, byAt);
        const auto high = std::lower_bound(low, record.tiny.end(), end, byAt);
        const auto shift = static_cast<int32_t>(low - record.tiny.begin());
        for (auto t = low; t != high; ++t) {
            out.tiny.push_back(*t);
            out.tiny.back().at -= begin;
        }
        out.firstTiny.reserve(static_cast<size_t>(to - from));
        for (int n = from; n < to; ++n) {
            const int32_t first = record.firstTiny[static_cast<size_t>(n)];
            out.firstTiny.push_back(first < 0 ? -1 : first - shift);
        }
    }
    if (!record.singular.empty()) {
        out.singular = Part(record.singular, static_cast<size_t>(from), static_cast<size_t>(to));
    }
    return out;
}

// The runs of `more` after the `runs` runs of `to`.
void Append(ProgramRecord& to, const ProgramRecord& more, int runs, int moreRuns)
{
    to.instructions = more.instructions;
    const size_t shift = static_cast<size_t>(runs) * static_cast<size_t>(more.instructions);
    Extend(to.a, more.a);
    Extend(to.b, more.b);
    Extend(to.r, more.r);
    if (!to.firstTiny.empty() || !more.firstTiny.empty()) {
        to.firstTiny.resize(static_cast<size_t>(runs), -1);
        const auto offset = static_cast<int32_t>(to.tiny.size());
        for (ProgramRecord::Tiny t : more.tiny) {
            t.at += shift;
            to.tiny.push_back(t);
        }
        for (int n = 0; n < moreRuns; ++n) {
            const int32_t first = more.firstTiny.empty() ? -1 : more.firstTiny[static_cast<size_t>(n)];
            to.firstTiny.push_back(first < 0 ? -1 : first + offset);
        }
    }
    if (!to.singular.empty() || !more.singular.empty()) {
        to.singular.resize(static_cast<size_t>(runs), 0);
        if (more.singular.empty()) {
            to.singular.resize(static_cast<size_t>(runs + moreRuns), 0);
        } else {
            Extend(to.singular, more.singular);
        }
    }
}

} // namespace

ReferenceOrbit SliceOf(const ReferenceOrbit& orbit, int from, int to)
{
    ReferenceOrbit out;
    out.runs = to - from;
    out.iteration = SliceOf(orbit.iteration, from, to);
    out.termination = SliceOf(orbit.termination, from, to);
    out.last = Part(orbit.last, static_cast<size_t>(from), static_cast<size_t>(to));
    out.held = Part(orbit.held, static_cast<size_t>(from), static_cast<size_t>(to));
    for (const auto& [run, value] : orbit.heldTiny) {
        if (run >= from && run < to) {
            out.heldTiny.push_back({ run - from, value });
        }
    }
    return out;
}

void Append(ReferenceOrbit& to, const ReferenceOrbit& more)
{
    Append(to.iteration, more.iteration, to.runs, more.runs);
    Append(to.termination, more.termination, to.runs, more.runs);
    Extend(to.last, more.last);
    Extend(to.held, more.held);
    for (const auto& [run, value] : more.heldTiny) {
        to.heldTiny.push_back({ run + to.runs, value });
    }
    to.runs += more.runs;
}

CPlanAhead::CPlanAhead(
    const CDeltaProgram& program, const ExComplex& planeRadius, int maxIter, bool waitForAll)
    : m_program(program)
    , m_plane(planeRadius)
    , m_nMaxIter(maxIter)
    , m_state(CopyBytesPerRun(program) * kStretchRuns <= kLargestStretchCopy ? BlaSlots(program)
                                                                             : std::vector<int32_t> {})
    , m_series(program.SeriesPlanner(planeRadius, maxIter))
    , m_bWaitForAll(waitForAll)
{
}

CPlanAhead::~CPlanAhead() { Stop(false); }

void CPlanAhead::Recorded(const ReferenceOrbit& orbit)
{
    if (m_bClosed || std::min(orbit.runs, m_nMaxIter) - m_nCopied < kChunkRuns
        || (m_state.empty() && m_bSeriesStopped.load(std::memory_order_relaxed))) {
        return;
    }
    Chunk chunk { m_nCopied, SliceOf(orbit, m_nCopied, m_nCopied + kChunkRuns) };
    m_nCopied += kChunkRuns;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.push_back(std::move(chunk));
        m_bClosed = !m_bWaitForAll && m_queue.size() > kMostWaiting;
    }
    if (!m_worker.joinable()) {
        m_worker = std::thread([this] { Work(); });
    }
    m_wake.notify_one();
}

void CPlanAhead::Work()
{
    for (;;) {
        Chunk chunk;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return m_bStopped || m_bFinishing || !m_queue.empty(); });
            if (m_bStopped || m_queue.empty()) {
                return;
            }
            chunk = std::move(m_queue.front());
            m_queue.pop_front();
        }
        try {
            Take(chunk);
        } catch (...) {
            // Out of memory, say: what was planned may be half done, so PlanSkip plans it all.
            m_bFailed = true;
            return;
        }
    }
}

void CPlanAhead::Take(Chunk& chunk)
{
    if (!m_series->Stopped()) {
        m_series->Go(chunk.runs, chunk.base, chunk.base + chunk.runs.runs);
        m_bSeriesStopped = m_series->Stopped();
    }
    if (m_state.empty()) {
        return;
    }
    if (m_gathered.runs == 0) {
        m_nGatheredFrom = chunk.base;
        m_gathered = std::move(chunk.runs);
    } else {
        Append(m_gathered, chunk.runs);
    }
    if (m_gathered.runs < kStretchRuns) {
        return;
    }
    const auto s = static_cast<size_t>(m_nGatheredFrom / kStretchRuns);
    const int width = static_cast<int>(m_state.size());
    std::vector<ExMatrix> matrices(kBlaStretch * CBlaTable::Stride(width));
    std::vector<ExComplex> radii(kBlaStretch);
    const std::function<void(int, BlaSkip&)> map = BlaRunMaps(m_program, m_gathered, m_plane, m_state)();
    // A cancelled orbit's stretches are thrown away: the rest of this one is not made.
    const auto unlessStopped = [this, &map](int n, BlaSkip& skip) {
        if (!m_bStopped.load(std::memory_order_relaxed)) {
            map(n, skip);
        }
    };
    CBlaTable::MakeStretch(unlessStopped, 0, kBlaStretch, width, m_plane, matrices.data(), radii.data());
    if (m_bStopped) {
        return;
    }
    if (m_made.radii.size() <= s) {
        m_made.radii.resize(s + 1);
        m_made.matrices.resize(s + 1);
    }
    m_made.matrices[s] = std::move(matrices);
    m_made.radii[s] = std::move(radii);
    m_gathered = {};
}

void CPlanAhead::Stop(bool waitForAll)
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (waitForAll) {
            m_bFinishing = true;
        } else {
            m_bStopped = true;
        }
    }
    m_wake.notify_one();
    if (m_worker.joinable()) {
        m_worker.join();
    }
}

PlannedAhead CPlanAhead::Finish()
{
    // What waits is at most kMostWaiting chunks: on two threads PlanSkip would take as long to make it
    // again, so the worker plans it first.
    Stop(true);
    if (m_bFailed) {
        return {};
    }
    return { std::move(m_made), std::move(m_series) };
}
