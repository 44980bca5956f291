#include "bla.h"

#include "delta.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

namespace {

bool Positive(const ExComplex& x) { return x.re > 0.0; }
bool Less(const ExComplex& a, const ExComplex& b) { return ex::Sub(a, b).re < 0.0; }
const ExComplex& Larger(const ExComplex& a, const ExComplex& b) { return Less(a, b) ? b : a; }
const ExComplex& Smaller(const ExComplex& a, const ExComplex& b) { return Less(a, b) ? a : b; }

// Bounds on how much A stretches a state and B the plane offset, in the largest of the state's parts.
ExComplex StretchA(const BlaSkip& x, int w)
{
    ExComplex most {};
    for (int i = 0; i < w; ++i) {
        ExComplex row {};
        for (int j = 0; j < w; ++j) {
            row = ex::Add(row, x.a[i * w + j].Size());
        }
        most = Larger(most, row);
    }
    return most;
}

ExComplex StretchB(const BlaSkip& x, int w)
{
    ExComplex most {};
    for (int i = 0; i < w; ++i) {
        most = Larger(most, x.b[i].Size());
    }
    return most;
}

// x, then y: every state within the result's radius lands within y's after x.
BlaSkip Merged(const BlaSkip& x, const BlaSkip& y, int w, const ExComplex& planeRadius)
{
    BlaSkip s;
    if (!Positive(x.radius) || !Positive(y.radius)) {
        return s;
    }
    const ExComplex room = ex::Sub(y.radius, ex::Mul(StretchB(x, w), planeRadius));
    if (!Positive(room)) {
        return s;
    }
    const ExComplex stretch = StretchA(x, w);
    s.radius = ex::IsZero(stretch) ? x.radius : Smaller(x.radius, ex::Div(room, stretch));
    for (int i = 0; i < w; ++i) {
        s.b[i] = y.b[i];
        for (int k = 0; k < w; ++k) {
            s.b[i] = Add(s.b[i], Mul(y.a[i * w + k], x.b[k]));
        }
        for (int j = 0; j < w; ++j) {
            ExMatrix sum;
            for (int k = 0; k < w; ++k) {
                sum = Add(sum, Mul(y.a[i * w + k], x.a[k * w + j]));
            }
            s.a[i * w + j] = sum;
        }
    }
    return s;
}

} // namespace

ExMatrix ExMatrix::Normalised(ExMatrix x)
{
    double big = 0.0;
    for (const double v : x.m) {
        big = std::max(big, std::fabs(v));
    }
    if (big == 0.0 || !std::isfinite(big)) {
        return big == 0.0 ? ExMatrix {} : x;
    }
    int shift = 0;
    std::frexp(big, &shift);
    for (double& v : x.m) {
        v = std::ldexp(v, -shift);
    }
    x.e += shift;
    return x;
}

ExComplex ExMatrix::Size() const
{
    const double sum = m[0] * m[0] + m[1] * m[1] + m[2] * m[2] + m[3] * m[3];
    // Rounded up by a few units in the last place: the bound stays a bound.
    return ex::Normalised(std::sqrt(sum) * (1.0 + 0x1p-50), 0.0, e);
}

ExMatrix Mul(const ExMatrix& a, const ExMatrix& b)
{
    if (a.IsZero() || b.IsZero()) {
        return {};
    }
    return ExMatrix::Normalised({ { a.m[0] * b.m[0] + a.m[1] * b.m[2], a.m[0] * b.m[1] + a.m[1] * b.m[3],
                                      a.m[2] * b.m[0] + a.m[3] * b.m[2], a.m[2] * b.m[1] + a.m[3] * b.m[3] },
        a.e + b.e });
}

ExMatrix Add(const ExMatrix& a, const ExMatrix& b)
{
    if (a.IsZero()) {
        return b;
    }
    if (b.IsZero()) {
        return a;
    }
    const int64_t e = std::max(a.e, b.e);
    const auto at = [e](const ExMatrix& x, int i) {
        return e - x.e > 1000 ? 0.0 : std::ldexp(x.m[i], static_cast<int>(x.e - e));
    };
    ExMatrix s { {}, e };
    for (int i = 0; i < 4; ++i) {
        s.m[i] = at(a, i) + at(b, i);
    }
    return ExMatrix::Normalised(s);
}

ExMatrix Scale(const ExMatrix& a, double k)
{
    return ExMatrix::Normalised({ { a.m[0] * k, a.m[1] * k, a.m[2] * k, a.m[3] * k }, a.e });
}

void CBlaTable::Store(size_t level, size_t j, const BlaSkip& s)
{
    const size_t w = static_cast<size_t>(m_nWidth);
    ExMatrix* at = m_levels[level].data() + j * Stride();
    std::copy_n(s.a, w * w, at);
    std::copy_n(s.b, w, at + w * w);
    m_radii[level][j] = s.radius;
}

BlaSkip CBlaTable::Load(size_t level, size_t j) const
{
    const size_t w = static_cast<size_t>(m_nWidth);
    BlaSkip s;
    const ExMatrix* at = m_levels[level].data() + j * Stride();
    std::copy_n(at, w * w, s.a);
    std::copy_n(at + w * w, w, s.b);
    s.radius = m_radii[level][j];
    return s;
}

bool CBlaTable::MakeStretch(const std::function<void(int, BlaSkip&)>& map, size_t j0, size_t j1, int width,
    const ExComplex& planeRadius, ExMatrix* at, ExComplex* radii)
{
    constexpr int kSpan = 1 << kBlaFirstLevel;
    const size_t w = static_cast<size_t>(width);
    bool positive = false;
    BlaSkip span[kSpan];
    for (size_t j = j0; j < j1; ++j) {
        for (int k = 0; k < kSpan; ++k) {
            span[k] = {};
            map(static_cast<int>(j) * kSpan + k, span[k]);
        }
        for (int step = 1; step < kSpan; step *= 2) {
            for (int k = 0; k + step < kSpan; k += 2 * step) {
                span[k] = Merged(span[k], span[k + step], width, planeRadius);
            }
        }
        ExMatrix* out = at + (j - j0) * Stride(width);
        std::copy_n(span[0].a, w * w, out);
        std::copy_n(span[0].b, w, out + w * w);
        radii[j - j0] = span[0].radius;
        positive = positive || Positive(span[0].radius);
    }
    return positive;
}

void CBlaTable::Build(std::vector<int32_t> slots, int runs, const RunMaps& maps, const ExComplex& planeRadius,
    int threads, const BlaStretches* made)
{
    Clear();
    m_nWidth = std::clamp(static_cast<int>(slots.size()), 1, kBlaMaxWidth);
    m_slots = std::move(slots);
    constexpr int kSpan = 1 << kBlaFirstLevel;
    const size_t first = static_cast<size_t>(std::max(runs, 0) / kSpan);
    if (first == 0) {
        return;
    }
    m_levels.emplace_back(first * Stride());
    m_radii.emplace_back(first);
    // Each stretch writes its own skips and flag, so threads share nothing but the next stretch's number.
    const size_t stretches = (first + kBlaStretch - 1) / kBlaStretch;
    std::vector<uint8_t> positive(stretches, 0);
    std::atomic<size_t> next { 0 };
    const auto work = [&] {
        for (size_t s = next++; s < stretches; s = next++) {
            const size_t j0 = s * kBlaStretch;
            const size_t j1 = std::min(first, j0 + kBlaStretch);
            ExMatrix* at = m_levels[0].data() + j0 * Stride();
            ExComplex* radii = m_radii[0].data() + j0;
            if (made && made->Made(s) && made->radii[s].size() == j1 - j0) {
                std::copy(made->matrices[s].begin(), made->matrices[s].end(), at);
                std::copy(made->radii[s].begin(), made->radii[s].end(), radii);
                positive[s] = std::any_of(radii, radii + (j1 - j0), Positive);
            } else {
                positive[s] = MakeStretch(maps(), j0, j1, m_nWidth, planeRadius, at, radii);
            }
        }
    };
    // Threads only for the stretches left to make.
    size_t left = stretches;
    for (size_t s = 0; made && s < stretches; ++s) {
        left -= made->Made(s) ? 1 : 0;
    }
    std::vector<std::thread> helpers;
    for (int t = 1; t < std::min(threads, static_cast<int>(left)); ++t) {
        helpers.emplace_back(work);
    }
    work();
    for (std::thread& helper : helpers) {
        helper.join();
    }
    if (std::find(positive.begin(), positive.end(), 1) == positive.end()) {
        Clear();
        return;
    }
    bool any = false;
    while (m_radii.back().size() >= 2) {
        const size_t below = m_radii.size() - 1;
        const size_t count = m_radii.back().size() / 2;
        m_levels.emplace_back(count * Stride());
        m_radii.emplace_back(count);
        any = false;
        for (size_t j = 0; j < count; ++j) {
            const BlaSkip s = Merged(Load(below, 2 * j), Load(below, 2 * j + 1), m_nWidth, planeRadius);
            Store(below + 1, j, s);
            any = any || Positive(s.radius);
        }
        if (!any) {
            m_levels.pop_back();
            m_radii.pop_back();
            break;
        }
    }
}

namespace {

// One skip's map on a state of width w: d = A·d + B·dc, A row by row in m, then B.
void Advance(const ExMatrix* m, int w, const ExComplex& dc, ExComplex* d)
{
    const ExMatrix* b = m + w * w;
    ExComplex next[kBlaMaxWidth];
    for (int i = 0; i < w; ++i) {
        ExComplex sum = b[i].IsZero() ? ExComplex {} : b[i].Apply(dc);
        for (int j = 0; j < w; ++j) {
            if (!m[i * w + j].IsZero()) {
                sum = ex::Add(sum, m[i * w + j].Apply(d[j]));
            }
        }
        next[i] = sum;
    }
    std::copy_n(next, w, d);
}

} // namespace

int CBlaTable::Skip(
    int n, int end, ExComplex* d, const ExComplex& dc, ExComplex* alongX, ExComplex* alongY) const
{
    const int levels = static_cast<int>(m_levels.size());
    const int w = m_nWidth;
    for (;;) {
        // |d_i| <= |re| + |im|: a bound as cheap as the comparison it serves.
        ExComplex size {};
        for (int i = 0; i < w; ++i) {
            size = Larger(size, ex::Normalised(std::fabs(d[i].re) + std::fabs(d[i].im), 0.0, d[i].e));
        }
        // A skip's radius is at most that of the first half it merged, so the longest that holds is
        // the last one that holds going up from the shortest: most tries stop at the first level.
        int taken = -1;
        for (int k = 0; k < levels; ++k) {
            const int shift = k + kBlaFirstLevel;
            const int length = 1 << shift;
            const size_t at = static_cast<size_t>(n >> shift);
            const std::vector<ExComplex>& radii = m_radii[static_cast<size_t>(k)];
            if ((n & (length - 1)) != 0 || n + length > end || at >= radii.size() || !Positive(radii[at])
                || Less(radii[at], size)) {
                break;
            }
            taken = k;
        }
        if (taken < 0) {
            return n;
        }
        const int shift = taken + kBlaFirstLevel;
        const ExMatrix* m
            = m_levels[static_cast<size_t>(taken)].data() + static_cast<size_t>(n >> shift) * Stride();
        Advance(m, w, dc, d);
        if (alongX) {
            Advance(m, w, { 0.5, 0.0, 1 }, alongX);
        }
        if (alongY) {
            Advance(m, w, { 0.0, 0.5, 1 }, alongY);
        }
        n += 1 << shift;
    }
}

void BlaTries::Tried(int r, int to, int n)
{
    // The most runs a pixel goes without trying once its tries found none.
    constexpr int kBackOff = 16;
    // Skips start at records divisible by the span: the next try at the next such record, later
    // after tries there found none.
    constexpr int kSpan = 1 << kBlaFirstLevel;
    const int ahead = kSpan - (to & (kSpan - 1));
    if (to != r || (r & (kSpan - 1)) != 0) {
        wait = to != r ? 1 : wait;
        next = n + ahead;
    } else {
        wait = std::min(2 * wait, kBackOff / kSpan);
        next = n + ahead + (wait - 1) * kSpan;
    }
}

size_t CBlaTable::Bytes() const
{
    size_t bytes = 0;
    for (size_t k = 0; k < m_levels.size(); ++k) {
        bytes += m_levels[k].size() * sizeof(ExMatrix) + m_radii[k].size() * sizeof(ExComplex);
    }
    return bytes;
}

size_t CBlaTable::BytesPerRun(int width)
{
    // Levels of 2^-first, 2^-(first + 1), ... skips a run: 2^(1 - first) skips a run in all.
    const size_t w = static_cast<size_t>(std::clamp(width, 1, kBlaMaxWidth));
    return ((w * w + w) * sizeof(ExMatrix) + sizeof(ExComplex)) / (1 << (kBlaFirstLevel - 1)) + 1;
}

// z first, then the other carried values but z0; none where a run's map is not all of what moves a
// pixel: z0 written, too many carried values, or a termination that carries values of its own.
std::vector<int32_t> BlaSlots(const CDeltaProgram& program)
{
    const CDeltaCode& iter = program.Iteration();
    const CDeltaCode& term = program.Termination();
    if (iter.Z() < 0) {
        return {};
    }
    std::vector<int32_t> state { iter.Z() };
    for (const int32_t slot : iter.Carried()) {
        if (slot != iter.Z() && slot != iter.Z0()) {
            state.push_back(slot);
        }
    }
    if (state.size() > static_cast<size_t>(kBlaMaxWidth)) {
        return {};
    }
    for (const BatchInstruction& in : iter.Code()) {
        if (in.dest == iter.Z0()) {
            return {};
        }
    }
    for (const int32_t slot : term.Carried()) {
        if (slot != term.Z() && slot != term.Z0() && slot != program.TermN()) {
            return {};
        }
    }
    return state;
}

size_t BlaBytesPerRun(const CDeltaProgram& program)
{
    const size_t width = BlaSlots(program).size();
    return width == 0 ? 0 : CBlaTable::BytesPerRun(static_cast<int>(width));
}
