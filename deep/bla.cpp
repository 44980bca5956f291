#include "bla.h"

#include <algorithm>
#include <cmath>

namespace {

bool Positive(const ExComplex& x) { return x.re > 0.0; }
bool Less(const ExComplex& a, const ExComplex& b) { return ex::Sub(a, b).re < 0.0; }
const ExComplex& Smaller(const ExComplex& a, const ExComplex& b) { return Less(a, b) ? a : b; }

// The radius of the run after x, seen from the start of x: every dz within it lands within y's.
ExComplex Through(const BlaSkip& x, const ExComplex& yRadius, const ExComplex& planeRadius)
{
    const ExComplex room = ex::Sub(yRadius, ex::Mul(x.b.Size(), planeRadius));
    if (!Positive(room)) {
        return {};
    }
    if (x.a.IsZero()) {
        return x.radius;
    }
    return Smaller(x.radius, ex::Div(room, x.a.Size()));
}

BlaSkip Merged(const BlaSkip& x, const BlaSkip& y, const ExComplex& planeRadius)
{
    BlaSkip s;
    if (!Positive(x.radius) || !Positive(y.radius)) {
        return s;
    }
    s.radius = Through(x, y.radius, planeRadius);
    if (Positive(s.radius)) {
        s.a = Mul(y.a, x.a);
        s.b = Add(Mul(y.a, x.b), y.b);
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

void CBlaTable::Build(std::vector<BlaSkip> runs, const ExComplex& planeRadius)
{
    m_levels.clear();
    if (std::none_of(runs.begin(), runs.end(), [](const BlaSkip& s) { return Positive(s.radius); })) {
        return;
    }
    m_levels.push_back(std::move(runs));
    while (m_levels.back().size() >= 2) {
        const std::vector<BlaSkip>& below = m_levels.back();
        std::vector<BlaSkip> level(below.size() / 2);
        bool any = false;
        for (size_t j = 0; j < level.size(); ++j) {
            level[j] = Merged(below[2 * j], below[2 * j + 1], planeRadius);
            any = any || Positive(level[j].radius);
        }
        if (!any) {
            break;
        }
        m_levels.push_back(std::move(level));
    }
    // A skip of one run saves no more than the run: half the memory for nothing.
    if (m_levels.size() >= 2) {
        m_levels.front() = {};
    }
}

int CBlaTable::Skip(
    int n, int end, ExComplex& dz, const ExComplex& dc, ExComplex* alongX, ExComplex* alongY) const
{
    const int levels = static_cast<int>(m_levels.size());
    for (;;) {
        // |dz| <= |re| + |im|: a bound as cheap as the comparison it serves.
        const ExComplex size = ex::Normalised(std::fabs(dz.re) + std::fabs(dz.im), 0.0, dz.e);
        int taken = -1;
        for (int k = levels - 1; k >= 0; --k) {
            const int length = 1 << k;
            const size_t at = static_cast<size_t>(n >> k);
            if ((n & (length - 1)) != 0 || n + length > end
                || at >= m_levels[static_cast<size_t>(k)].size()) {
                continue;
            }
            const BlaSkip& s = m_levels[static_cast<size_t>(k)][at];
            if (Positive(s.radius) && !Less(s.radius, size)) {
                taken = k;
                break;
            }
        }
        if (taken < 0) {
            return n;
        }
        const BlaSkip& s = m_levels[static_cast<size_t>(taken)][static_cast<size_t>(n >> taken)];
        dz = ex::Add(s.a.Apply(dz), s.b.IsZero() ? ExComplex {} : s.b.Apply(dc));
        if (alongX) {
            *alongX = ex::Add(s.a.Apply(*alongX), s.b.Apply({ 0.5, 0.0, 1 }));
        }
        if (alongY) {
            *alongY = ex::Add(s.a.Apply(*alongY), s.b.Apply({ 0.0, 0.5, 1 }));
        }
        n += 1 << taken;
    }
}

size_t CBlaTable::Bytes() const
{
    size_t bytes = 0;
    for (const std::vector<BlaSkip>& level : m_levels) {
        bytes += level.size() * sizeof(BlaSkip);
    }
    return bytes;
}
