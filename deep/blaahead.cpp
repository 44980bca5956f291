#include "blaahead.h"

#include <algorithm>

namespace {

constexpr int kSpan = 1 << kBlaFirstLevel;
constexpr int kStretchRuns = static_cast<int>(kBlaStretch) * kSpan;

template <class T> std::vector<T> Part(const std::vector<T>& v, size_t from, size_t to)
{
    return std::vector<T>(
        v.begin() + static_cast<std::ptrdiff_t>(from), v.begin() + static_cast<std::ptrdiff_t>(to));
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

CBlaAhead::CBlaAhead(const CDeltaProgram& program, const ExComplex& planeRadius, int maxIter)
    : m_program(program)
    , m_plane(planeRadius)
    , m_nMaxIter(maxIter)
    , m_state(BlaSlots(program))
{
}

CBlaAhead::~CBlaAhead()
{
    m_bStopped = true;
    Stop();
}

void CBlaAhead::Recorded(const ReferenceOrbit& orbit)
{
    const int end = static_cast<int>(m_nOffered + 1) * kStretchRuns;
    // A stretch's runs end where the table's first level may end: within the runs and the limit.
    if (m_state.empty() || std::min(orbit.runs, m_nMaxIter) < end) {
        return;
    }
    Stretch stretch { m_nOffered++, SliceOf(orbit, end - kStretchRuns, end) };
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.push_back(std::move(stretch));
    }
    if (!m_worker.joinable()) {
        m_worker = std::thread([this] { Work(); });
    }
    m_wake.notify_one();
}

void CBlaAhead::Work()
{
    for (;;) {
        Stretch stretch;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return m_bDone || !m_queue.empty(); });
            if (m_queue.empty() || m_bStopped) {
                return;
            }
            stretch = std::move(m_queue.front());
            m_queue.pop_front();
        }
        const size_t width = m_state.size();
        std::vector<ExMatrix> matrices(kBlaStretch * CBlaTable::Stride(static_cast<int>(width)));
        std::vector<ExComplex> radii(kBlaStretch);
        const std::function<void(int, BlaSkip&)> map
            = BlaRunMaps(m_program, stretch.runs, m_plane, m_state)();
        // A cancelled orbit's stretches are thrown away: the rest of this one is not made.
        const auto unlessStopped = [this, &map](int n, BlaSkip& skip) {
            if (!m_bStopped.load(std::memory_order_relaxed)) {
                map(n, skip);
            }
        };
        CBlaTable::MakeStretch(
            unlessStopped, 0, kBlaStretch, static_cast<int>(width), m_plane, matrices.data(), radii.data());
        if (m_made.radii.size() <= stretch.index) {
            m_made.radii.resize(stretch.index + 1);
            m_made.matrices.resize(stretch.index + 1);
        }
        m_made.matrices[stretch.index] = std::move(matrices);
        m_made.radii[stretch.index] = std::move(radii);
    }
}

void CBlaAhead::Stop()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_bDone = true;
    }
    m_wake.notify_one();
    if (m_worker.joinable()) {
        m_worker.join();
    }
}

BlaStretches CBlaAhead::Finish()
{
    Stop();
    return std::move(m_made);
}
