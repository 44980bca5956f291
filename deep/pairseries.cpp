#include "series.h"

#include <algorithm>

// The skip's models for programs that are not complex-differentiable: polynomials in the offset a and
// its conjugate, each term of degree p + q at most r^(p+q) on the disc.

namespace {

struct Term {
    int p, q, degree;
};

constexpr std::array<Term, kPairTerms> MakeTerms()
{
    std::array<Term, kPairTerms> t {};
    for (int d = 1; d <= kSkipTerms; ++d) {
        for (int q = 0; q <= d; ++q) {
            t[static_cast<size_t>(PairIndex(d - q, q))] = { d - q, q, d };
        }
    }
    return t;
}

constexpr std::array<Term, kPairTerms> kTerms = MakeTerms();

// The products of two terms that stay within the degree kept: i times j lands on k.
struct Landing {
    int i, j, k;
};

constexpr int CountLandings()
{
    int n = 0;
    for (const Term& a : kTerms) {
        for (const Term& b : kTerms) {
            n += a.degree + b.degree <= kSkipTerms ? 1 : 0;
        }
    }
    return n;
}

constexpr std::array<Landing, CountLandings()> MakeLandings()
{
    std::array<Landing, CountLandings()> l {};
    size_t n = 0;
    for (int i = 0; i < kPairTerms; ++i) {
        for (int j = 0; j < kPairTerms; ++j) {
            const Term& a = kTerms[static_cast<size_t>(i)];
            const Term& b = kTerms[static_cast<size_t>(j)];
            if (a.degree + b.degree <= kSkipTerms) {
                l[n++] = { i, j, PairIndex(a.p + b.p, a.q + b.q) };
            }
        }
    }
    return l;
}

constexpr auto kLandings = MakeLandings();

bool IsZero(const PairModel& m)
{
    return ex::IsZero(m.err) && ex::IsZero(m.ep) && ex::IsZero(m.eq)
        && std::all_of(m.c.begin(), m.c.end(), [](const ExComplex& c) { return ex::IsZero(c); });
}

// Whether every pixel's offset is real.
bool RealOffset(const PairModel& m) { return m.real || IsZero(m); }

// The term at (q, p): the one conj maps (p, q) onto.
const ExComplex& Mirrored(const PairCoefficients& c, size_t k)
{
    return c[static_cast<size_t>(PairIndex(kTerms[k].q, kTerms[k].p))];
}

} // namespace

CPairDisc::CPairDisc(const ExComplex& radius)
    : m_reach(DiscPowers(radius))
{
}

ExComplex CPairDisc::PolynomialBound(const PairModel& m) const
{
    // Summed in doubles at the largest term's exponent, not term by term in ExComplex: the plan takes
    // this for every operation of every run. Each size is rounded up by its factor; the sum's roundings
    // and the terms too small to count (each below 2^-1000 of the largest) by the last one.
    std::array<double, kPairTerms> size;
    std::array<int64_t, kPairTerms> exponent;
    int64_t top = INT64_MIN;
    for (size_t k = 0; k < kPairTerms; ++k) {
        const ExComplex& c = m.c[k];
        const ExComplex& reach = m_reach[kTerms[k].degree - 1];
        size[k] = std::sqrt(c.re * c.re + c.im * c.im) * (1.0 + 0x1p-50) * reach.re;
        exponent[k] = c.e + reach.e;
        if (size[k] != 0.0) {
            top = std::max(top, exponent[k]);
        }
    }
    if (top == INT64_MIN) {
        return {};
    }
    double sum = 0.0;
    for (size_t k = 0; k < kPairTerms; ++k) {
        const int64_t shift = exponent[k] - top;
        if (size[k] != 0.0 && shift > -1000) {
            sum += size[k] * ex::PowerOfTwo(static_cast<int>(shift));
        }
    }
    return ex::Normalised(sum * (1.0 + 0x1p-45), 0.0, top);
}

ExComplex CPairDisc::Lead(const PairModel& m) const
{
    ExComplex lead {};
    for (size_t k = 0; k < kPairTerms; ++k) {
        if (!ex::IsZero(lead) && kTerms[k].degree > kTerms[k - 1].degree) {
            break;
        }
        const ExComplex size = ex::Mul(SizeBound(m.c[k]), m_reach[kTerms[k].degree - 1]);
        if (ex::Sub(size, lead).re > 0.0) {
            lead = size;
        }
    }
    return lead;
}

ExComplex CPairDisc::Rounding(const PairModel& m) const
{
    return ex::Scale(ex::Add(PolynomialBound(m), ex::Add(SizeBound(m.ep), SizeBound(m.eq))), kModelRounding);
}

ExComplex CPairDisc::Rest(const PairModel& m)
{
    return ex::Add(m.err, ex::Add(SizeBound(m.ep), SizeBound(m.eq)));
}

void CPairDisc::Renew(PairModel& m, bool symbol)
{
    const ExComplex rest = Rest(m);
    m.ep = symbol ? rest : ExComplex {};
    m.eq = {};
    m.err = symbol ? ExComplex {} : rest;
}

PairModel CPairDisc::Sum(const PairModel& a, const PairModel& b, double sign) const
{
    PairModel r;
    for (size_t k = 0; k < kPairTerms; ++k) {
        r.c[k] = ex::Add(a.c[k], ex::Scale(b.c[k], sign));
    }
    r.ep = ex::Add(a.ep, ex::Scale(b.ep, sign));
    r.eq = ex::Add(a.eq, ex::Scale(b.eq, sign));
    r.err = ex::Add(ex::Add(a.err, b.err), Rounding(r));
    r.real = RealOffset(a) && RealOffset(b);
    return r;
}

PairModel CPairDisc::Scaled(const PairModel& a, Complex f) const
{
    const ExComplex e = ex::From(f);
    PairModel r;
    for (size_t k = 0; k < kPairTerms; ++k) {
        r.c[k] = ex::Mul(a.c[k], e);
    }
    r.ep = ex::Mul(a.ep, e);
    r.eq = ex::Mul(a.eq, e);
    r.err = ex::Add(ex::Scale(a.err, realfn::Hypot(f.re, f.im) * (1.0 + 0x1p-50)), Rounding(r));
    r.real = RealOffset(a) && f.im == 0.0;
    return r;
}

PairCoefficients CPairDisc::Truncated(const PairCoefficients& a, const PairCoefficients& b,
    ExComplex& dropped, ExComplex* boundA, ExComplex* boundB) const
{
    PairCoefficients r {};
    dropped = {};
    // The sizes of a's and b's terms on the disc by degree: a product of degrees beyond the last kept
    // is dropped, at most their sizes' product. Their sums are the polynomials' bounds.
    std::array<ExComplex, kSkipTerms + 1> sizeA {}, sizeB {};
    ExComplex sumA {}, sumB {};
    for (size_t k = 0; k < kPairTerms; ++k) {
        const int d = kTerms[k].degree;
        if (!ex::IsZero(a[k])) {
            sizeA[d] = ex::Add(sizeA[d], ex::Mul(SizeBound(a[k]), m_reach[d - 1]));
        }
        if (!ex::IsZero(b[k])) {
            sizeB[d] = ex::Add(sizeB[d], ex::Mul(SizeBound(b[k]), m_reach[d - 1]));
        }
    }
    for (int d = 1; d <= kSkipTerms; ++d) {
        sumA = ex::Add(sumA, sizeA[d]);
        sumB = ex::Add(sumB, sizeB[d]);
    }
    if (boundA) {
        *boundA = sumA;
    }
    if (boundB) {
        *boundB = sumB;
    }
    if (ex::IsZero(sumA) || ex::IsZero(sumB)) {
        return r;
    }
    for (const Landing& l : kLandings) {
        const ExComplex& x = a[static_cast<size_t>(l.i)];
        const ExComplex& y = b[static_cast<size_t>(l.j)];
        if (!ex::IsZero(x) && !ex::IsZero(y)) {
            r[static_cast<size_t>(l.k)] = ex::Add(r[static_cast<size_t>(l.k)], ex::Mul(x, y));
        }
    }
    for (int i = 1; i <= kSkipTerms; ++i) {
        for (int j = kSkipTerms + 1 - i; j <= kSkipTerms; ++j) {
            dropped = ex::Add(dropped, ex::Mul(sizeA[i], sizeB[j]));
        }
    }
    return r;
}

PairModel CPairDisc::Product(
    const ExComplex& eA, const PairModel& a, const ExComplex& eB, const PairModel& b) const
{
    ExComplex dropped, boundA, boundB;
    const PairCoefficients ab = Truncated(a.c, b.c, dropped, &boundA, &boundB);
    PairModel r;
    for (size_t k = 0; k < kPairTerms; ++k) {
        r.c[k] = ex::Add(ex::Add(ex::Mul(eA, b.c[k]), ex::Mul(a.c[k], eB)), ab[k]);
    }
    // A eb + B ea, their u's terms kept; the dropped terms + |a| eb + |b| ea + ea eb.
    r.ep = ex::Add(ex::Mul(eA, b.ep), ex::Mul(a.ep, eB));
    r.eq = ex::Add(ex::Mul(eA, b.eq), ex::Mul(a.eq, eB));
    const ExComplex restA = Rest(a);
    const ExComplex restB = Rest(b);
    ExComplex err = ex::Add(ex::Mul(b.err, SizeBound(eA)), ex::Mul(a.err, SizeBound(eB)));
    err = ex::Add(err, dropped);
    err = ex::Add(err, ex::Mul(boundA, restB));
    err = ex::Add(err, ex::Mul(boundB, restA));
    err = ex::Add(err, ex::Mul(restA, restB));
    r.err = ex::Add(err, Rounding(r));
    r.real = RealOffset(a) && RealOffset(b) && eA.im == 0.0 && eB.im == 0.0;
    return r;
}

PairModel CPairDisc::Composed(const std::array<Complex, kSkipTerms>& g, const PairModel& s, double rho,
    double lipschitzRho, double slopeNear) const
{
    // As CModelDisc::Composed: the powers of s truncated, what they dropped carried along; u's terms
    // as part of the rest.
    PairModel r;
    const ExComplex rest = Rest(s);
    PairCoefficients power = s.c;
    const ExComplex polynomial = PolynomialBound(s);
    ExComplex dropped {};
    ExComplex powerDropped {};
    for (int m = 0; m < kSkipTerms; ++m) {
        const ExComplex e = ex::From(g[m]);
        for (size_t k = 0; k < kPairTerms; ++k) {
            r.c[k] = ex::Add(r.c[k], ex::Mul(power[k], e));
        }
        dropped
            = ex::Add(dropped, ex::Scale(powerDropped, realfn::Hypot(g[m].re, g[m].im) * (1.0 + 0x1p-50)));
        if (m + 1 < kSkipTerms) {
            ExComplex now;
            power = Truncated(power, s.c, now);
            powerDropped = ex::Add(now, ex::Mul(powerDropped, polynomial));
        }
    }
    const ExComplex share = ex::Scale(ex::Add(polynomial, rest), 1.0 / rho);
    ExComplex tail = ex::FromReal(lipschitzRho * rho / (1.0 - ex::ToComplex(share).re));
    for (int k = 0; k <= kSkipTerms; ++k) {
        tail = ex::Mul(tail, share);
    }
    ExComplex err = ex::Add(dropped, ex::Scale(rest, slopeNear));
    err = ex::Add(err, tail);
    r.err = ex::Add(err, Rounding(r));
    return r;
}

PairModel CPairDisc::Conj(const PairModel& s) const
{
    PairModel r;
    for (size_t k = 0; k < kPairTerms; ++k) {
        r.c[k] = ex::Conj(Mirrored(s.c, k));
    }
    r.ep = ex::Conj(s.eq);
    r.eq = ex::Conj(s.ep);
    r.err = s.err;
    r.real = s.real;
    return r;
}

PairModel CPairDisc::RealPart(const PairModel& s) const
{
    PairModel r;
    for (size_t k = 0; k < kPairTerms; ++k) {
        r.c[k] = ex::Scale(ex::Add(s.c[k], ex::Conj(Mirrored(s.c, k))), 0.5);
    }
    r.ep = ex::Scale(ex::Add(s.ep, ex::Conj(s.eq)), 0.5);
    r.eq = ex::Scale(ex::Add(s.eq, ex::Conj(s.ep)), 0.5);
    r.err = ex::Add(s.err, Rounding(r));
    r.real = true;
    return r;
}

PairModel CPairDisc::ImagPart(const PairModel& s) const
{
    // (c - conj c') / 2i = -i (c - conj c') / 2.
    PairModel r;
    for (size_t k = 0; k < kPairTerms; ++k) {
        const ExComplex d = ex::Sub(s.c[k], ex::Conj(Mirrored(s.c, k)));
        r.c[k] = ex::Scale(ex::Normalised(d.im, -d.re, d.e), 0.5);
    }
    const ExComplex dp = ex::Sub(s.ep, ex::Conj(s.eq));
    const ExComplex dq = ex::Sub(s.eq, ex::Conj(s.ep));
    r.ep = ex::Scale(ex::Normalised(dp.im, -dp.re, dp.e), 0.5);
    r.eq = ex::Scale(ex::Normalised(dq.im, -dq.re, dq.e), 0.5);
    r.err = ex::Add(s.err, Rounding(r));
    r.real = true;
    return r;
}

namespace {

// The sum of c[k] a^p conj(a)^q, for offsets in ExComplex or in doubles.
ExComplex Times(const ExComplex& a, const ExComplex& b) { return ex::Mul(a, b); }
ExComplex Plus(const ExComplex& a, const ExComplex& b) { return ex::Add(a, b); }
ExComplex Conjugate(const ExComplex& a) { return ex::Conj(a); }
Complex Times(Complex a, Complex b) { return Mul(a, b); }
Complex Plus(Complex a, Complex b) { return Add(a, b); }
Complex Conjugate(Complex a) { return { a.re, -a.im }; }

template <class N> N PairSum(const std::array<N, kPairTerms>& c, const N& a)
{
    // By the conjugate's power q: conj(a)^q times the sum over p by Horner's rule.
    const N bar = Conjugate(a);
    N sum {};
    N barPower {};
    for (int q = 0; q <= kSkipTerms; ++q) {
        N inner = c[static_cast<size_t>(PairIndex(kSkipTerms - q, q))];
        for (int p = kSkipTerms - q - 1; p >= (q == 0 ? 1 : 0); --p) {
            inner = Plus(Times(inner, a), c[static_cast<size_t>(PairIndex(p, q))]);
        }
        barPower = q == 0 ? N {} : (q == 1 ? bar : Times(barPower, bar));
        sum = Plus(sum, q == 0 ? Times(inner, a) : Times(inner, barPower));
    }
    return sum;
}

} // namespace

ExComplex SkipStart(const std::array<ExComplex, kPairTerms>& series, const ExComplex& offset)
{
    return PairSum(series, offset);
}

Complex SkipStart(const std::array<Complex, kPairTerms>& scaled, Complex unitOffset)
{
    return PairSum(scaled, unitOffset);
}

void SkipSlopes(const std::array<ExComplex, kPairTerms>& series, const ExComplex& offset, ExComplex& alongX,
    ExComplex& alongY)
{
    // d/dx = d/da + d/dconj(a), d/dy = i (d/da - d/dconj(a)).
    std::array<ExComplex, kSkipTerms + 1> power, bar;
    power[0] = bar[0] = ex::FromReal(1.0);
    for (int k = 1; k <= kSkipTerms; ++k) {
        power[k] = ex::Mul(power[k - 1], offset);
        bar[k] = ex::Mul(bar[k - 1], ex::Conj(offset));
    }
    ExComplex da {}, dbar {};
    for (size_t k = 0; k < kPairTerms; ++k) {
        const Term& t = kTerms[k];
        if (t.p > 0) {
            da = ex::Add(da, ex::Scale(ex::Mul(series[k], ex::Mul(power[t.p - 1], bar[t.q])), t.p));
        }
        if (t.q > 0) {
            dbar = ex::Add(dbar, ex::Scale(ex::Mul(series[k], ex::Mul(power[t.p], bar[t.q - 1])), t.q));
        }
    }
    alongX = ex::Add(da, dbar);
    const ExComplex d = ex::Sub(da, dbar);
    alongY = ex::Normalised(-d.im, d.re, d.e);
}
