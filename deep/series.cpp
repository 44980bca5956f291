#include "delta.h"

#include "opcodes.h"

#include <algorithm>
#include <array>
#include <cmath>

// The skip: every pixel's offsets as power series in its plane offset, carried through the runs all
// pixels of a view share.

namespace {

constexpr double kLog10E = 0.4342944819032518;

// A slot's offset as a power series in the pixel's plane offset a: c[0] a + c[1] a^2 + ... (no
// constant term: the reference itself has offset 0).
using Series = std::array<ExComplex, kSkipTerms>;

bool SeriesZero(const Series& s)
{
    return std::all_of(s.begin(), s.end(), [](const ExComplex& c) { return ex::IsZero(c); });
}

Series SeriesAdd(const Series& a, const Series& b)
{
    Series r;
    for (int k = 0; k < kSkipTerms; ++k) {
        r[k] = ex::Add(a[k], b[k]);
    }
    return r;
}

Series SeriesScale(const Series& a, Complex f)
{
    const ExComplex e = ex::From(f);
    Series r;
    for (int k = 0; k < kSkipTerms; ++k) {
        r[k] = ex::Mul(a[k], e);
    }
    return r;
}

Series SeriesNeg(const Series& a) { return SeriesScale(a, { -1.0, 0.0 }); }

// The product of two offset series, truncated (both lack a constant term).
Series SeriesMul(const Series& a, const Series& b)
{
    Series r {};
    for (int i = 0; i < kSkipTerms; ++i) {
        if (ex::IsZero(a[i])) {
            continue;
        }
        for (int j = 0; i + j + 1 < kSkipTerms; ++j) {
            r[i + j + 1] = ex::Add(r[i + j + 1], ex::Mul(a[i], b[j]));
        }
    }
    return r;
}

// (A + a)(B + b) - A B as a series.
Series SeriesProduct(Complex A, const Series& a, Complex B, const Series& b)
{
    return SeriesAdd(SeriesAdd(SeriesScale(b, A), SeriesScale(a, B)), SeriesMul(a, b));
}

// f(A + s) - f(A) from the Taylor coefficients g[m] = f^(m+1)(A) / (m+1)!.
Series SeriesCompose(const std::array<Complex, kSkipTerms>& g, const Series& s)
{
    Series result {};
    Series power = s;
    for (int m = 0; m < kSkipTerms; ++m) {
        result = SeriesAdd(result, SeriesScale(power, g[m]));
        if (m + 1 < kSkipTerms) {
            power = SeriesMul(power, s);
        }
    }
    return result;
}

// The Taylor coefficients of t(x) = f(A + x) for t' = 1 + sign t^2 (tan: +1, tanh: -1), t(0) = R.
std::array<Complex, kSkipTerms> TangentCoefficients(Complex R, double sign)
{
    std::array<Complex, kSkipTerms + 1> t {};
    t[0] = R;
    for (int k = 0; k < kSkipTerms; ++k) {
        Complex sum = k == 0 ? Complex { 1.0, 0.0 } : Complex {};
        Complex square {};
        for (int i = 0; i <= k; ++i) {
            square = Add(square, Mul(t[i], t[k - i]));
        }
        sum = Add(sum, Complex { sign * square.re, sign * square.im });
        t[k + 1] = { sum.re / (k + 1), sum.im / (k + 1) };
    }
    std::array<Complex, kSkipTerms> g;
    for (int m = 0; m < kSkipTerms; ++m) {
        g[m] = t[m + 1];
    }
    return g;
}

// The offset series of one instruction; false when the operation is not complex-differentiable on a
// varying value, or some pixel's value may lie across a branch cut from the reference's, which ends
// the skip.
bool SeriesOf(const BatchInstruction& in, Complex A, Complex B, Complex R, const Series& a, const Series& b,
    const ExComplex& radius, Series& out)
{
    // Whether some pixel's value may lie across the negative real axis from the reference's.
    const auto nearCut = [&](Complex value) {
        if (value.re > 0.0) {
            return false;
        }
        const ExComplex reach = ex::Scale(ex::Mul(ex::Abs(a[0]), radius), 4.0);
        return ex::Sub(ex::FromReal(std::fabs(value.im)), reach).re <= 0.0;
    };
    switch (in.opcode) {
    case kOpNeg: out = SeriesNeg(a); return true;
    case kOpAdd: out = SeriesAdd(a, b); return true;
    case kOpSub: out = SeriesAdd(a, SeriesNeg(b)); return true;
    case kOpCopy: out = a; return true;
    case kOpMul: out = SeriesProduct(A, a, B, b); return true;
    case kOpDiv: {
        if (B.re == 0.0 && B.im == 0.0) {
            return false;
        }
        // (a - R b) / (B + b): q_k = (n_k - sum of q_i b_(k-1-i)) / B, both without constant terms.
        const Series numerator = SeriesAdd(a, SeriesNeg(SeriesScale(b, R)));
        const ExComplex inverse = ex::From(Div({ 1.0, 0.0 }, B));
        for (int k = 0; k < kSkipTerms; ++k) {
            ExComplex sum = numerator[k];
            for (int i = 0; i < k; ++i) {
                sum = ex::Sub(sum, ex::Mul(out[i], b[k - 1 - i]));
            }
            out[k] = ex::Mul(sum, inverse);
        }
        return true;
    }
    default: break;
    }
    if (SeriesZero(a) && (in.b < 0 || SeriesZero(b) || in.opcode == kBatchOpPowWhole)) {
        out = {};
        return true;
    }
    std::array<Complex, kSkipTerms> g {};
    const auto factorial = [](int m) {
        double f = 1.0;
        for (int i = 2; i <= m; ++i) {
            f *= i;
        }
        return f;
    };
    switch (in.opcode) {
    case kBatchOpPowWhole:
    case kOpPow: {
        if (in.opcode == kOpPow && !SeriesZero(b)) {
            return false;
        }
        const bool whole = in.opcode == kBatchOpPowWhole
            || (B.im == 0.0 && std::floor(B.re) == B.re && std::fabs(B.re) < 1e9);
        if (!whole && ((A.re == 0.0 && A.im == 0.0) || nearCut(A))) {
            return false;
        }
        if (A.re == 0.0 && A.im == 0.0) {
            // A whole power of an offset from 0: binary powering of the series.
            const int n = in.opcode == kBatchOpPowWhole ? in.exponent : static_cast<int>(B.re);
            if (n < 1) {
                return false;
            }
            Series result = a;
            for (int i = 1; i < n; ++i) {
                result = SeriesMul(result, a);
            }
            out = result;
            return true;
        }
        // (A + s)^B - A^B = R sum binom(B, m) (s / A)^m.
        const Complex exponent
            = in.opcode == kBatchOpPowWhole ? Complex { static_cast<double>(in.exponent), 0.0 } : B;
        const Complex overA = Div({ 1.0, 0.0 }, A);
        Complex binomial { 1.0, 0.0 };
        Complex power { 1.0, 0.0 };
        for (int m = 0; m < kSkipTerms; ++m) {
            binomial = Mul(binomial, Complex { (exponent.re - m) / (m + 1), exponent.im / (m + 1) });
            power = Mul(power, overA);
            g[m] = Mul(Mul(R, binomial), power);
        }
        break;
    }
    case kOpExp:
        for (int m = 0; m < kSkipTerms; ++m) {
            g[m] = { R.re / factorial(m + 1), R.im / factorial(m + 1) };
        }
        break;
    case kOpLog:
    case kOpLog10: {
        if ((A.re == 0.0 && A.im == 0.0) || nearCut(A)) {
            return false;
        }
        // log(A + s) - log A = sum (-1)^m (s / A)^(m+1) / (m + 1).
        const double k = in.opcode == kOpLog ? 1.0 : kLog10E;
        const Complex overA = Div({ 1.0, 0.0 }, A);
        Complex power { 1.0, 0.0 };
        for (int m = 0; m < kSkipTerms; ++m) {
            power = Mul(power, overA);
            const double f = (m % 2 == 0 ? k : -k) / (m + 1);
            g[m] = { power.re * f, power.im * f };
        }
        break;
    }
    case kOpSqrt: {
        if ((R.re == 0.0 && R.im == 0.0) || nearCut(A)) {
            return false;
        }
        const Complex overA = Div({ 1.0, 0.0 }, A);
        Complex binomial { 1.0, 0.0 };
        Complex power { 1.0, 0.0 };
        for (int m = 0; m < kSkipTerms; ++m) {
            binomial = Mul(binomial, Complex { (0.5 - m) / (m + 1), 0.0 });
            power = Mul(power, overA);
            g[m] = Mul(Mul(R, binomial), power);
        }
        break;
    }
    case kOpSin:
    case kOpCos:
    case kOpSinh:
    case kOpCosh: {
        // The derivatives cycle through the function and its partner.
        const bool trig = in.opcode == kOpSin || in.opcode == kOpCos;
        const Complex self = R;
        const Complex partner = in.opcode == kOpSin ? Cos(A)
            : in.opcode == kOpCos                   ? Sin(A)
            : in.opcode == kOpSinh                  ? Cosh(A)
                                                    : Sinh(A);
        for (int m = 0; m < kSkipTerms; ++m) {
            const int order = m + 1;
            Complex d = order % 2 == 1 ? partner : self;
            double sign = 1.0;
            if (trig) {
                // sin: cos, -sin, -cos, sin; cos: -sin, -cos, sin, cos.
                const int phase = order % 4;
                if (in.opcode == kOpSin) {
                    sign = (phase == 2 || phase == 3) ? -1.0 : 1.0;
                } else {
                    sign = (phase == 1 || phase == 2) ? -1.0 : 1.0;
                }
            }
            const double f = sign / factorial(order);
            g[m] = { d.re * f, d.im * f };
        }
        break;
    }
    case kOpTan: g = TangentCoefficients(R, 1.0); break;
    case kOpTanh: g = TangentCoefficients(R, -1.0); break;
    default: return false;
    }
    out = SeriesCompose(g, a);
    return true;
}

} // namespace

void CDeltaProgram::PlanSkip(ReferenceOrbit& orbit, const ExComplex& radius, int maxIter) const
{
    orbit.skipRuns = 0;
    orbit.skipScaled.clear();
    orbit.skipSeries.assign(m_carried.size(), Series {});
    std::vector<Series> series(static_cast<size_t>(m_nSlots));
    for (const int slot : { m_iterZ, m_iterZ0 }) {
        if (slot >= 0) {
            series[static_cast<size_t>(slot)][0] = ex::FromReal(1.0);
        }
    }
    // Never the reference's own last runs: a pixel near it may stop a run or two earlier.
    const int limit
        = std::min({ orbit.runs, maxIter - 1, orbit.terminatedAt < 0 ? orbit.runs : orbit.terminatedAt - 2 });
    const size_t carried = m_carried.size();
    std::array<ExComplex, kSkipTerms> reach; // radius^(k+1)
    reach[0] = radius;
    for (int k = 1; k < kSkipTerms; ++k) {
        reach[k] = ex::Mul(reach[k - 1], radius);
    }
    const auto plan = [&] {
        for (int n = 0; n < limit; ++n) {
            if (m_nReset >= 0) {
                series[static_cast<size_t>(m_nReset)] = {};
            }
            const size_t base = static_cast<size_t>(n) * static_cast<size_t>(orbit.instructions);
            for (size_t k = 0; k < m_code.size(); ++k) {
                const BatchInstruction& in = m_code[k];
                const Series& a = series[static_cast<size_t>(in.a)];
                const Series& b = in.b >= 0 ? series[static_cast<size_t>(in.b)] : a;
                Series out {};
                if (!SeriesOf(
                        in, orbit.a[base + k], orbit.b[base + k], orbit.r[base + k], a, b, radius, out)) {
                    return;
                }
                series[static_cast<size_t>(in.dest)] = out;
            }
            // Valid while the last term is below 2^-40 of the first for every pixel (the terms beyond it are
            // smaller still: a relative error that moves no pixel by a measurable part of its width), and
            // every pixel stays within 1e-3 of the reference's value (or of 1 near zero, where termination
            // tests compare with constants), so that the runs skipped end no pixel.
            for (size_t j = 0; j < carried; ++j) {
                const Series& c = series[static_cast<size_t>(m_carried[j])];
                const ExComplex first = ex::Mul(ex::Abs(c[0]), radius);
                const ExComplex last = ex::Mul(ex::Abs(c[kSkipTerms - 1]), reach[kSkipTerms - 1]);
                if (!ex::IsFinite(first) || !ex::IsFinite(last)
                    || (!ex::IsZero(last)
                        && (ex::IsZero(first) || ex::Sub(ex::Scale(first, 0x1p-40), last).re < 0.0))) {
                    return;
                }
                ExComplex whole = ex::FromReal(0.0);
                for (int k = 0; k < kSkipTerms; ++k) {
                    whole = ex::Add(whole, ex::Mul(ex::Abs(c[k]), reach[k]));
                }
                const Complex value = orbit.carried[static_cast<size_t>(n) * carried + j];
                const double size = std::fmax(std::hypot(value.re, value.im), 1.0);
                if (ex::Sub(ex::FromReal(1e-3 * size), whole).re < 0.0) {
                    return;
                }
            }
            orbit.skipRuns = n + 1;
            for (size_t j = 0; j < carried; ++j) {
                orbit.skipSeries[j] = series[static_cast<size_t>(m_carried[j])];
            }
        }
    };
    plan();
    if (orbit.skipRuns == 0) {
        return;
    }
    orbit.skipUnit = ex::Div(ex::FromReal(1.0), radius);
    for (const auto& c : orbit.skipSeries) {
        std::array<Complex, kSkipTerms> scaled;
        for (int k = 0; k < kSkipTerms; ++k) {
            scaled[k] = ex::ToComplex(ex::Mul(c[k], reach[k]));
            if (!std::isfinite(scaled[k].re) || !std::isfinite(scaled[k].im)) {
                orbit.skipScaled.clear();
                return;
            }
        }
        orbit.skipScaled.push_back(scaled);
    }
}

ExComplex SkipStart(const std::array<ExComplex, kSkipTerms>& c, const ExComplex& offset)
{
    // Horner: ((c5 a + c4) a + ... + c0) a.
    ExComplex sum = c[kSkipTerms - 1];
    for (int k = kSkipTerms - 2; k >= 0; --k) {
        sum = ex::Add(ex::Mul(sum, offset), c[k]);
    }
    return ex::Mul(sum, offset);
}

Complex SkipStart(const std::array<Complex, kSkipTerms>& scaled, Complex unitOffset)
{
    Complex sum = scaled[kSkipTerms - 1];
    for (int k = kSkipTerms - 2; k >= 0; --k) {
        sum = Add(Mul(sum, unitOffset), scaled[k]);
    }
    return Mul(sum, unitOffset);
}
