#include "delta.h"

#include "deltakernels.h"

#include "opcodes.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <numbers>

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kLog10E = 0.4342944819032518;
// A nonlinear operation whose operand (or derivative) at the pixel is below this share of the
// reference's has lost the digits the offset needs: the pixel takes another reference.
constexpr double kGlitchShare = 1e-3;

// The same operations over doubles and over ExComplex, so that one delta form serves both.
template <class N> struct Arith;

template <> struct Arith<Complex> {
    static Complex From(Complex c) { return c; }
    static Complex ToC(Complex c) { return c; }
    static Complex Add(Complex a, Complex b) { return ::Add(a, b); }
    static Complex Sub(Complex a, Complex b) { return ::Sub(a, b); }
    static Complex Mul(Complex a, Complex b) { return ::Mul(a, b); }
    static Complex Div(Complex a, Complex b) { return ::Div(a, b); }
    static Complex Neg(Complex a) { return Negate(a); }
    static Complex Conj(Complex a) { return ::Conj(a); }
    static Complex Swap(Complex a) { return SwapParts(a); }
    static Complex Re(Complex a) { return { a.re, 0.0 }; }
    static Complex Im(Complex a) { return { a.im, 0.0 }; }
    static Complex Scale(Complex a, double k) { return { a.re * k, a.im * k }; }
    static bool IsZero(Complex a) { return a.re == 0.0 && a.im == 0.0; }
    // Below 2^-60 the first term of every series is the value to double precision.
    static bool Tiny(Complex a) { return std::fmax(std::fabs(a.re), std::fabs(a.im)) < 0x1p-60; }
    static double SignRe(Complex a) { return a.re; }
    static double SignIm(Complex a) { return a.im; }
    static Complex Norm(Complex a) { return { a.re * a.re + a.im * a.im, 0.0 }; }
    static Complex Abs(Complex a) { return { std::hypot(a.re, a.im), 0.0 }; }
};

template <> struct Arith<ExComplex> {
    static ExComplex From(Complex c) { return ex::From(c); }
    static Complex ToC(const ExComplex& c) { return ex::ToComplex(c); }
    static ExComplex Add(const ExComplex& a, const ExComplex& b) { return ex::Add(a, b); }
    static ExComplex Sub(const ExComplex& a, const ExComplex& b) { return ex::Sub(a, b); }
    static ExComplex Mul(const ExComplex& a, const ExComplex& b) { return ex::Mul(a, b); }
    static ExComplex Div(const ExComplex& a, const ExComplex& b) { return ex::Div(a, b); }
    static ExComplex Neg(const ExComplex& a) { return ex::Neg(a); }
    static ExComplex Conj(const ExComplex& a) { return ex::Conj(a); }
    static ExComplex Swap(const ExComplex& a) { return ex::Swap(a); }
    static ExComplex Re(const ExComplex& a) { return ex::RealOf(a); }
    static ExComplex Im(const ExComplex& a) { return ex::ImagOf(a); }
    static ExComplex Scale(const ExComplex& a, double k) { return ex::Scale(a, k); }
    static bool IsZero(const ExComplex& a) { return ex::IsZero(a); }
    static bool Tiny(const ExComplex& a) { return ex::Below(a, 60); }
    static double SignRe(const ExComplex& a) { return a.re; }
    static double SignIm(const ExComplex& a) { return a.im; }
    static ExComplex Norm(const ExComplex& a) { return ex::Norm(a); }
    static ExComplex Abs(const ExComplex& a) { return ex::Abs(a); }
};

// exp(w) - 1, log(1 + w), sin w and sinh w for the small arguments of the delta forms, without the
// cancellation of the plain formulas.
Complex Expm1(Complex w)
{
    const double em1 = std::expm1(w.re);
    const double s = std::sin(w.im / 2);
    return { em1 * std::cos(w.im) - 2 * s * s, std::exp(w.re) * std::sin(w.im) };
}

Complex Log1p(Complex w)
{
    return { 0.5 * std::log1p(2 * w.re + w.re * w.re + w.im * w.im), std::atan2(w.im, 1 + w.re) };
}

Complex SinOf(Complex w) { return Sin(w); }
Complex SinhOf(Complex w) { return Sinh(w); }

template <class N, Complex (*F)(Complex)> N Small(const N& w)
{
    using A = Arith<N>;
    if (A::Tiny(w)) {
        return w; // every one of them is w + O(w^2)
    }
    return A::From(F(A::ToC(w)));
}

bool Dropped(Complex full, Complex reference)
{
    const double f = full.re * full.re + full.im * full.im;
    const double r = reference.re * reference.re + reference.im * reference.im;
    return f < kGlitchShare * kGlitchShare * r;
}

// A jump across a branch cut is exact, but the offset that made it is lost beside it while the offset is
// below this share of the jump: then the pixel takes another reference.
constexpr double kJumpShare = 1e-9;

template <class N> bool OffsetBelow(const N& offset, double size)
{
    const Complex d = Arith<N>::ToC(offset);
    return std::hypot(d.re, d.im) < size;
}

// The jump of the principal argument (-2 pi, 0 or 2 pi) between the reference's value A and the pixel's
// A + a: the pixel crosses the negative real axis when the signs of the imaginary parts differ there.
// Decided from signs, not from the arguments' sum, which rounds to pi either side of the axis.
template <class N> double CutJump(Complex A, const N& a)
{
    using Ar = Arith<N>;
    const N pixel = Ar::Add(Ar::From(A), a);
    if (!(A.re < 0.0 || Ar::SignRe(pixel) < 0.0)) {
        return 0.0;
    }
    const bool upper = !std::signbit(A.im);
    const bool pixelUpper = !std::signbit(Ar::SignIm(pixel));
    if (upper == pixelUpper) {
        return 0.0;
    }
    return upper ? -2 * kPi : 2 * kPi;
}

// The delta of one instruction over N. glitch is set when the pixel has left the reference's
// precision (checked in doubles only: an offset below their range cannot have).
template <class N>
N DeltaOf(const BatchInstruction& in, Complex A, Complex B, Complex R, const N& da, const N& db, bool& glitch)
{
    using Ar = Arith<N>;
    constexpr bool kDoubles = std::is_same_v<N, Complex>;
    const auto full = [](Complex ref, const N& d) { return ::Add(ref, Ar::ToC(d)); };
    switch (in.opcode) {
    case kOpNeg: return Ar::Neg(da);
    case kOpAdd: return Ar::Add(da, db);
    case kOpSub: return Ar::Sub(da, db);
    case kOpCopy: return da;
    case kOpImag: return Ar::Swap(da);
    case kOpConj: return Ar::Conj(da);
    case kOpReal: return Ar::Re(da);
    case kOpImagFn: return Ar::Im(da);
    case kOpMul: {
        if constexpr (kDoubles) {
            glitch |= (!Ar::IsZero(db) && Dropped(full(A, da), A))
                || (!Ar::IsZero(da) && Dropped(full(B, db), B));
        }
        return Ar::Add(Ar::Add(Ar::Mul(Ar::From(A), db), Ar::Mul(da, Ar::From(B))), Ar::Mul(da, db));
    }
    case kOpDiv: {
        const N divisor = Ar::Add(Ar::From(B), db);
        if constexpr (kDoubles) {
            glitch |= !Ar::IsZero(db) && Dropped(divisor, B);
        }
        return Ar::Div(Ar::Sub(da, Ar::Mul(Ar::From(R), db)), divisor);
    }
    case kOpEq:
    case kOpNe:
    case kOpLt:
    case kOpLe:
    case kOpGt:
    case kOpGe: {
        if (Ar::IsZero(da) && Ar::IsZero(db)) {
            return Ar::From({});
        }
        // The sign of (A + a) - (B + b) per part decides; A - B is the reference's difference.
        const N diff = Ar::Add(Ar::From(::Sub(A, B)), Ar::Sub(da, db));
        const double x = Ar::SignRe(diff);
        const double y = Ar::SignIm(diff);
        Complex pixel;
        switch (in.opcode) {
        case kOpEq: pixel = { Truth(x == 0.0 && y == 0.0), 0.0 }; break;
        case kOpNe: pixel = { Truth(x != 0.0 || y != 0.0), 0.0 }; break;
        case kOpLt: pixel = { Truth(x < 0.0), Truth(y < 0.0) }; break;
        case kOpLe: pixel = { Truth(x <= 0.0), Truth(y <= 0.0) }; break;
        case kOpGt: pixel = { Truth(x > 0.0), Truth(y > 0.0) }; break;
        default: pixel = { Truth(x >= 0.0), Truth(y >= 0.0) }; break;
        }
        return Ar::From(::Sub(pixel, R));
    }
    case kBatchOpPowWhole:
    case kOpPow: {
        const bool whole = in.opcode == kBatchOpPowWhole
            || (Ar::IsZero(db) && B.im == 0.0 && std::floor(B.re) == B.re && std::fabs(B.re) < 2147483647.0);
        if (whole) {
            const int n = in.opcode == kBatchOpPowWhole ? in.exponent : static_cast<int>(B.re);
            if constexpr (kDoubles) {
                glitch |= (n >= 2 || n < 0) && !Ar::IsZero(da) && Dropped(full(A, da), A);
            }
            // Binary powering over (reference, offset) pairs.
            Complex r { 1.0, 0.0 };
            N dr = Ar::From({});
            Complex base = A;
            N dbase = da;
            unsigned m = n < 0 ? 0u - static_cast<unsigned>(n) : static_cast<unsigned>(n);
            for (;;) {
                if (m & 1u) {
                    dr = Ar::Add(Ar::Add(Ar::Mul(Ar::From(r), dbase), Ar::Mul(dr, Ar::From(base))),
                        Ar::Mul(dr, dbase));
                    r = Mul(r, base);
                }
                if (m < 2) {
                    break;
                }
                dbase = Ar::Add(
                    Ar::Mul(Ar::From(Ar::ToC(Ar::Scale(Ar::From(base), 2.0))), dbase), Ar::Mul(dbase, dbase));
                base = Mul(base, base);
                m /= 2;
            }
            if (n < 0) {
                // 1 / (r + dr) - 1 / r = -dr / (r (r + dr))
                return Ar::Neg(Ar::Div(dr, Ar::Mul(Ar::From(r), Ar::Add(Ar::From(r), dr))));
            }
            return dr;
        }
        // (A + a)^(B + b) = R exp(B L + b (log A + L)), L = log(1 + a / A) with its branch.
        if (A.re == 0.0 && A.im == 0.0) {
            glitch = true;
            return Ar::From({});
        }
        N L = Small<N, Log1p>(Ar::Div(da, Ar::From(A)));
        const Complex logA = Log(A);
        const double jump = CutJump(A, da);
        if (jump != 0.0) {
            glitch |= OffsetBelow(L, kJumpShare * 2 * kPi);
            L = Ar::Add(L, Ar::From({ 0.0, jump }));
        }
        if constexpr (kDoubles) {
            glitch |= !Ar::IsZero(da) && Dropped(full(A, da), A);
        }
        const N w = Ar::Add(Ar::Mul(Ar::From(B), L), Ar::Mul(db, Ar::Add(Ar::From(logA), L)));
        return Ar::Mul(Ar::From(R), Small<N, Expm1>(w));
    }
    case kOpAbs: {
        // (|A + a|^2 - |A|^2) / (|A + a| + |A|)
        const N cross = Ar::Scale(Ar::Re(Ar::Mul(Ar::From(::Conj(A)), da)), 2.0);
        const N numerator = Ar::Add(cross, Ar::Norm(da));
        const N denominator
            = Ar::Add(Ar::Abs(Ar::Add(Ar::From(A), da)), Ar::From({ std::hypot(A.re, A.im), 0.0 }));
        if (Ar::IsZero(denominator)) {
            return Ar::From({});
        }
        return Ar::Re(Ar::Div(numerator, denominator));
    }
    case kOpNorm: return Ar::Add(Ar::Scale(Ar::Re(Ar::Mul(Ar::From(::Conj(A)), da)), 2.0), Ar::Norm(da));
    case kOpArg: {
        if (Ar::IsZero(da)) {
            return Ar::From({});
        }
        if (A.re == 0.0 && A.im == 0.0) {
            return Ar::From(::Sub(Arg(full(A, da)), R));
        }
        const N w = Ar::Div(da, Ar::From(A));
        N phi;
        if (Ar::Tiny(w)) {
            phi = Ar::Im(w);
        } else {
            const Complex wd = Ar::ToC(w);
            phi = Ar::From({ std::atan2(wd.im, 1 + wd.re), 0.0 });
        }
        const double jump = CutJump(A, da);
        if (jump == 0.0) {
            return phi;
        }
        glitch |= OffsetBelow(phi, kJumpShare * 2 * kPi);
        return Ar::Add(phi, Ar::From({ jump, 0.0 }));
    }
    case kOpExp:
        if constexpr (kDoubles) {
            glitch |= da.re < -6.9;
        }
        return Ar::Mul(Ar::From(R), Small<N, Expm1>(da));
    case kOpLog:
    case kOpLog10: {
        if (A.re == 0.0 && A.im == 0.0) {
            glitch = true;
            return Ar::From({});
        }
        N L = Small<N, Log1p>(Ar::Div(da, Ar::From(A)));
        const double jump = CutJump(A, da);
        if (jump != 0.0) {
            glitch |= OffsetBelow(L, kJumpShare * 2 * kPi);
            L = Ar::Add(L, Ar::From({ 0.0, jump }));
        }
        if constexpr (kDoubles) {
            const Complex p = full(A, da);
            // The derivative 1 / z shrinks as the pixel's value grows away from the reference's.
            glitch |= Dropped(A, p);
        }
        return in.opcode == kOpLog ? L : Ar::Scale(L, kLog10E);
    }
    case kOpSqrt: {
        const Complex pixelRoot = Sqrt(full(A, da));
        if (pixelRoot.re * R.re + pixelRoot.im * R.im < 0.0) {
            // Across the branch cut: a jump, no cancellation, unless the offset is lost beside it.
            glitch |= OffsetBelow(da, kJumpShare * std::hypot(A.re, A.im));
            return Ar::From(::Sub(pixelRoot, R));
        }
        const Complex sum = ::Add(pixelRoot, R);
        if (sum.re == 0.0 && sum.im == 0.0) {
            glitch = true;
            return Ar::From({});
        }
        if constexpr (kDoubles) {
            glitch |= !Ar::IsZero(da) && Dropped(pixelRoot, R);
        }
        return Ar::Div(da, Ar::From(sum));
    }
    case kOpSin:
    case kOpCos:
    case kOpSinh:
    case kOpCosh: {
        // sin(A + a) - sin A = 2 cos(A + a/2) sin(a/2), and kin.
        const N half = Ar::Scale(da, 0.5);
        const Complex middle = full(A, half);
        Complex factor;
        N small;
        switch (in.opcode) {
        case kOpSin:
            factor = Cos(middle);
            small = Small<N, SinOf>(half);
            break;
        case kOpCos:
            factor = Negate(Sin(middle));
            small = Small<N, SinOf>(half);
            break;
        case kOpSinh:
            factor = Cosh(middle);
            small = Small<N, SinhOf>(half);
            break;
        default:
            factor = Sinh(middle);
            small = Small<N, SinhOf>(half);
            break;
        }
        if constexpr (kDoubles) {
            if (!Ar::IsZero(da)) {
                const Complex p = full(A, da);
                switch (in.opcode) {
                case kOpSin: glitch |= Dropped(Cos(p), Cos(A)); break;
                case kOpCos: glitch |= Dropped(Sin(p), Sin(A)); break;
                case kOpSinh: glitch |= Dropped(Cosh(p), Cosh(A)); break;
                default: glitch |= Dropped(Sinh(p), Sinh(A)); break;
                }
            }
        }
        return Ar::Mul(Ar::From({ 2 * factor.re, 2 * factor.im }), small);
    }
    case kOpTan:
    case kOpTanh: {
        // tan(A + a) - tan A = sin a / (cos A cos(A + a)), and tanh likewise.
        const Complex p = full(A, da);
        const bool tan = in.opcode == kOpTan;
        const Complex denominator = tan ? Mul(Cos(A), Cos(p)) : Mul(Cosh(A), Cosh(p));
        const N small = tan ? Small<N, SinOf>(da) : Small<N, SinhOf>(da);
        if constexpr (kDoubles) {
            // The derivative 1 / cos^2 shrinks where cos grows.
            glitch |= !Ar::IsZero(da) && (tan ? Dropped(Cos(A), Cos(p)) : Dropped(Cosh(A), Cosh(p)));
        }
        return Ar::Div(small, Ar::From(denominator));
    }
    default: return Ar::From({});
    }
}

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

CDeltaProgram::CDeltaProgram(const CBatchFormula& program, int iterZ, int iterZ0)
    : m_program(program)
    , m_code(program.Code())
    , m_iterZ(iterZ)
    , m_iterZ0(iterZ0)
    , m_nSlots(program.SlotCount())
    , m_nReset(program.ResetSlot())
    , m_nResult(program.ResultSlot())
{
    m_carried = program.Variables();
    for (const int slot : { iterZ, iterZ0 }) {
        if (slot >= 0 && std::find(m_carried.begin(), m_carried.end(), slot) == m_carried.end()) {
            m_carried.push_back(slot);
        }
    }
    std::sort(m_carried.begin(), m_carried.end());
}

Complex CDeltaProgram::Delta(
    const BatchInstruction& in, Complex A, Complex B, Complex R, Complex a, Complex b) const
{
    bool glitch = false;
    return DeltaOf<Complex>(in, A, B, R, a, b, glitch);
}

ExComplex CDeltaProgram::Delta(
    const BatchInstruction& in, Complex A, Complex B, Complex R, const ExComplex& a, const ExComplex& b) const
{
    bool glitch = false;
    return DeltaOf<ExComplex>(in, A, B, R, a, b, glitch);
}

template <class N> bool CDeltaProgram::RunOnce(const ReferenceOrbit& orbit, int run, N* d) const
{
    bool glitch = false;
    if (m_nReset >= 0) {
        d[m_nReset] = Arith<N>::From({});
    }
    const size_t base = static_cast<size_t>(run) * static_cast<size_t>(orbit.instructions);
    const int count = static_cast<int>(m_code.size());
    for (int k = 0; k < count; ++k) {
        const BatchInstruction& in = m_code[static_cast<size_t>(k)];
        const size_t at = base + static_cast<size_t>(k);
        const N& db = in.b >= 0 ? d[in.b] : d[in.a];
        d[in.dest] = DeltaOf<N>(in, orbit.a[at], orbit.b[at], orbit.r[at], d[in.a], db, glitch);
    }
    return glitch;
}

void CDeltaProgram::Probe(const ReferenceOrbit& orbit, int run, ExComplex* d) const
{
    RunOnce<ExComplex>(orbit, run, d);
}

DeltaPixel CDeltaProgram::Iterate(const ReferenceOrbit& orbit, const ExComplex& offset, TerminationTest& term,
    int maxIter, std::vector<Complex>& scratchD, std::vector<ExComplex>& scratchX) const
{
    DeltaPixel pixel;
    scratchX.assign(static_cast<size_t>(m_nSlots), ExComplex {});
    ExComplex* x = scratchX.data();
    int run = 0;
    if (orbit.skipRuns > 0) {
        for (size_t j = 0; j < m_carried.size(); ++j) {
            x[m_carried[j]] = SkipStart(orbit.skipSeries[j], offset);
        }
        run = orbit.skipRuns;
    } else {
        for (const int slot : { m_iterZ, m_iterZ0 }) {
            if (slot >= 0) {
                x[slot] = offset;
            }
        }
    }
    pixel.runs = run;
    // Offsets below 2^-600 run in ExComplex; once the largest carried one is past it, doubles hold it
    // and every product of two, and what they round to zero is negligible beside it.
    bool doubles = ex::IsZero(offset);
    for (const int32_t slot : m_carried) {
        doubles = doubles || !ex::Below(x[slot], 600);
    }
    Complex* d = nullptr;
    const auto toDoubles = [&] {
        scratchD.resize(static_cast<size_t>(m_nSlots));
        d = scratchD.data();
        for (int s = 0; s < m_nSlots; ++s) {
            d[s] = ex::ToComplex(x[s]);
        }
    };
    if (doubles) {
        toDoubles();
    }
    Complex last {};
    int n = run;
    for (;;) {
        if (n >= orbit.runs) {
            pixel.glitched = true; // the reference ended before this pixel did
            return pixel;
        }
        Complex delta;
        if (doubles) {
            if (RunOnce<Complex>(orbit, n, d)) {
                pixel.glitched = true;
                return pixel;
            }
            delta = d[m_nResult];
        } else {
            if (RunOnce<ExComplex>(orbit, n, x)) {
                pixel.glitched = true;
                return pixel;
            }
            delta = ex::ToComplex(x[m_nResult]);
            bool large = false;
            for (const int32_t slot : m_carried) {
                large = large || !ex::Below(x[slot], 600);
            }
            if (large) {
                doubles = true;
                toDoubles();
            }
        }
        ++pixel.runs;
        last = Add(orbit.last[static_cast<size_t>(n)], delta);
        if (term.Holds(last, n)) {
            break;
        }
        if (++n >= maxIter) {
            break;
        }
    }
    pixel.count = n;
    pixel.last = last;
    return pixel;
}

bool CDeltaProgram::IterateLanes(const ReferenceOrbit& orbit, const ExComplex* offsets, const Complex* points,
    int count, TerminationLanes& term, int maxIter, DeltaLanes& scratch, DeltaPixel* out) const
{
    const int skip = orbit.skipRuns;
    constexpr size_t lanes = static_cast<size_t>(kLanes);
    const size_t slots = static_cast<size_t>(m_nSlots);
    scratch.re.assign(slots * lanes, 0.0);
    scratch.im.assign(slots * lanes, 0.0);
    scratch.glitched.assign(lanes, 0.0);
    scratch.lastRe.assign(lanes, 0.0);
    scratch.lastIm.assign(lanes, 0.0);
    double* re = scratch.re.data();
    double* im = scratch.im.data();
    double* glitched = scratch.glitched.data();
    const auto at = [](int slot) { return static_cast<size_t>(slot) * lanes; };
    // Each lane runs at its own run of the reference, and takes the next pixel when its pixel ends, so
    // that one slow pixel does not hold 63 idle lanes.
    int laneRun[kLanes];
    const size_t stride = static_cast<size_t>(orbit.instructions);
    alignas(64) size_t runAt[kLanes]; // each lane's run as an index into the orbit's records
    int lanePixel[kLanes];
    uint64_t active = 0;
    int nextPixel = 0;
    std::vector<Complex> start(m_carried.size());
    const bool scaled = skip > 0 && !orbit.skipScaled.empty();
    // Puts the next pixel whose offsets the doubles hold into the lane; a pixel whose largest carried
    // offset is below their range is left to the caller (deferred).
    const auto fill = [&](int l) {
        laneRun[l] = skip;
        runAt[l] = static_cast<size_t>(skip) * stride;
        while (nextPixel < count) {
            const int p = nextPixel++;
            out[p] = {};
            out[p].runs = skip;
            if (skip >= orbit.runs) {
                out[p].glitched = true; // the reference ends before the pixel's first run
                continue;
            }
            bool large = ex::IsZero(offsets[p]);
            if (scaled) {
                const Complex unit = ex::ToComplex(ex::Mul(offsets[p], orbit.skipUnit));
                for (size_t j = 0; j < m_carried.size(); ++j) {
                    start[j] = SkipStart(orbit.skipScaled[j], unit);
                    large = large || std::fmax(std::fabs(start[j].re), std::fabs(start[j].im)) >= 0x1p-600;
                }
            } else {
                for (size_t j = 0; j < m_carried.size(); ++j) {
                    const ExComplex x = skip > 0
                        ? SkipStart(orbit.skipSeries[j], offsets[p])
                        : (m_carried[j] == m_iterZ || m_carried[j] == m_iterZ0 ? offsets[p] : ExComplex {});
                    large = large || !ex::Below(x, 600);
                    start[j] = ex::ToComplex(x);
                }
            }
            if (!large) {
                out[p].deferred = true;
                continue;
            }
            for (size_t s = 0; s < slots; ++s) {
                re[s * lanes + static_cast<size_t>(l)] = 0.0;
                im[s * lanes + static_cast<size_t>(l)] = 0.0;
            }
            for (size_t j = 0; j < m_carried.size(); ++j) {
                re[at(m_carried[j]) + static_cast<size_t>(l)] = start[j].re;
                im[at(m_carried[j]) + static_cast<size_t>(l)] = start[j].im;
            }
            term.program.ResetLane(l);
            if (term.z0 >= 0) {
                term.program.Set(term.z0, l, points[p]);
            }
            glitched[l] = 0.0;
            lanePixel[l] = p;
            active |= uint64_t { 1 } << l;
            return;
        }
    };
    for (int l = 0; l < kLanes; ++l) {
        lanePixel[l] = -1;
        fill(l);
    }
    const int instructions = static_cast<int>(m_code.size());
    const DeltaKernels& kernels = ActiveDeltaKernels();
    // Idle lanes read run `skip`'s values; what they compute is never read.
    while (active != 0) {
        if (m_nReset >= 0) {
            std::fill_n(re + at(m_nReset), lanes, 0.0);
            std::fill_n(im + at(m_nReset), lanes, 0.0);
        }
        for (int k = 0; k < instructions; ++k) {
            const BatchInstruction& in = m_code[static_cast<size_t>(k)];
            const double* ar = re + at(in.a);
            const double* ai = im + at(in.a);
            const double* br = re + at(in.b >= 0 ? in.b : in.a);
            const double* bi = im + at(in.b >= 0 ? in.b : in.a);
            double* dr = re + at(in.dest);
            double* di = im + at(in.dest);
            const Complex* refA = orbit.a.data() + k;
            const Complex* refB = orbit.b.data() + k;
            const Complex* refR = orbit.r.data() + k;
            switch (in.opcode) {
            case kOpAdd: kernels.add(ar, ai, br, bi, dr, di); break;
            case kOpSub: kernels.sub(ar, ai, br, bi, dr, di); break;
            case kOpCopy:
                std::copy_n(ar, lanes, dr);
                std::copy_n(ai, lanes, di);
                break;
            case kOpMul:
                // A b + a B + a b, with the glitch test of the scalar form.
                kernels.mul(refA, refB, runAt, ar, ai, br, bi, dr, di, glitched, kGlitchShare * kGlitchShare);
                break;
            default:
                for (uint64_t bits = active; bits != 0; bits &= bits - 1) {
                    const int l = std::countr_zero(bits);
                    const size_t run = runAt[l];
                    bool glitch = false;
                    const Complex v = DeltaOf<Complex>(
                        in, refA[run], refB[run], refR[run], { ar[l], ai[l] }, { br[l], bi[l] }, glitch);
                    dr[l] = v.re;
                    di[l] = v.im;
                    glitched[l] = glitch ? 1.0 : glitched[l];
                }
                break;
            }
        }
        double* tz = term.z >= 0 ? term.program.Re(term.z) : nullptr;
        double* tzi = term.z >= 0 ? term.program.Im(term.z) : nullptr;
        double* tn = term.n >= 0 ? term.program.Re(term.n) : nullptr;
        double* tni = term.n >= 0 ? term.program.Im(term.n) : nullptr;
        kernels.value(orbit.last.data(), laneRun, re + at(m_nResult), im + at(m_nResult),
            scratch.lastRe.data(), scratch.lastIm.data());
        if (tz) {
            std::copy_n(scratch.lastRe.data(), lanes, tz);
            std::copy_n(scratch.lastIm.data(), lanes, tzi);
        }
        if (tn) {
            for (size_t l = 0; l < lanes; ++l) {
                tn[l] = static_cast<double>(laneRun[l]);
                tni[l] = 0.0;
            }
        }
        term.program.Run();
        const double* held = term.program.Re(term.program.ResultSlot());
        for (uint64_t bits = active; bits != 0; bits &= bits - 1) {
            const int l = std::countr_zero(bits);
            DeltaPixel& pixel = out[lanePixel[l]];
            const int n = laneRun[l];
            // The runs a pixel made are counted when it ends: the skip's and n + 1 from its lane.
            bool ends = true;
            if (glitched[l] != 0.0) {
                pixel.glitched = true;
                pixel.runs = n;
            } else if (held[l] > 0.0 || n + 1 >= maxIter) {
                pixel.count = held[l] > 0.0 ? n : maxIter;
                pixel.last
                    = { scratch.lastRe[static_cast<size_t>(l)], scratch.lastIm[static_cast<size_t>(l)] };
                pixel.runs = n + 1;
            } else if (n + 1 >= orbit.runs) {
                pixel.glitched = true; // its reference ends here
                pixel.runs = n + 1;
            } else {
                ends = false;
            }
            if (ends) {
                active &= ~(uint64_t { 1 } << l);
                fill(l);
            } else {
                laneRun[l] = n + 1;
                runAt[l] += stride;
            }
        }
    }
    return true;
}

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
