#pragma once

// The skip's arithmetic: every slot's offset over the disc |a| <= r of the pixels' plane offsets as a
// polynomial in a with a proven bound on the rest (a Taylor model), carried through the operations of
// the iteration program run by run.

#include "delta.h"

#include <array>
#include <cmath>

using Coefficients = std::array<ExComplex, kSkipTerms>;

// Every operation on the coefficients rounds them by at most this share of their size: the models
// carry it as part of their rest, so that the proof covers the arithmetic too.
constexpr double kModelRounding = 0x1p-52;

// An upper bound of |x| within 2^-50 of it, without hypot's cost: the parts' mantissas lie below 1
// and the larger is at least 1/2, so the sum of squares neither overflows nor loses to underflow more
// than the factor covers.
inline ExComplex SizeBound(const ExComplex& x)
{
    return ex::Normalised(std::sqrt(x.re * x.re + x.im * x.im) * (1.0 + 0x1p-50), 0.0, x.e);
}

struct Operation;
// f(A + s) - f(A) = sum over m of g[m] s^(m+1): the first kSkipTerms coefficients g[m] = f^(m+1)(A) /
// (m+1)! of a function or a power with a shared exponent.
std::array<Complex, kSkipTerms> TaylorOf(const Operation& op);

// One instruction's reference values at one run: rounded, and with their own exponents (the same
// values where they fit the doubles); a comparison's exact difference of its operands.
struct ReferenceOperands {
    Complex A, B, R;
    ExComplex wideA, wideB, wideR;
    ExComplex diff;
};

// offset(a) = c[0] a + c[1] a^2 + ... + c[5] a^6 + e(a), |e(a)| <= err on the disc (no constant term:
// the reference itself has offset 0).
struct TaylorModel {
    Coefficients c {};
    ExComplex err {}; // real, >= 0
};

// r, r^2, ..., r^kSkipTerms: the sizes of the terms' powers at the edge of the disc |a| <= r.
std::array<ExComplex, kSkipTerms> DiscPowers(const ExComplex& radius);

// The disc's powers and the model operations on it.
class CModelDisc {
public:
    explicit CModelDisc(const ExComplex& radius);

    const ExComplex& Radius() const { return m_reach[0]; }
    // sum |c_k| r^(k+1): the polynomial's largest size on the disc.
    ExComplex PolynomialBound(const TaylorModel& m) const;
    // The model's largest size on the disc, rest included.
    ExComplex Bound(const TaylorModel& m) const { return ex::Add(PolynomialBound(m), m.err); }
    static ExComplex Rest(const TaylorModel& m) { return m.err; }
    static void Renew(TaylorModel&, bool) { }
    // The size of the lowest term at the edge of the disc, 0 when the polynomial is 0.
    ExComplex Lead(const TaylorModel& m) const;

    TaylorModel Sum(const TaylorModel& a, const TaylorModel& b, double sign) const;
    TaylorModel Scaled(const TaylorModel& a, Complex f) const;
    // (A + a)(B + b) - A B.
    TaylorModel Product(
        const ExComplex& A, const TaylorModel& a, const ExComplex& B, const TaylorModel& b) const;
    // f(A + s) - f(A) from f's first Taylor coefficients g[m] = f^(m+1)(A) / (m+1)!: the polynomial part,
    // with the rest bounded by Cauchy's estimate (f continued over |t| <= rho, slope at most lipschitz
    // there), and the rest of s moved by at most the slope over the disc s reaches (slopeNear).
    TaylorModel Composed(const std::array<Complex, kSkipTerms>& g, const TaylorModel& s, double rho,
        double lipschitzRho, double slopeNear) const;

private:
    // The truncated product of two polynomials and a bound on what truncation dropped.
    Coefficients Truncated(const Coefficients& a, const Coefficients& b, ExComplex& dropped) const;

    std::array<ExComplex, kSkipTerms> m_reach; // r^(k+1)
};

// A program that is not complex-differentiable: offset(a) = sum c[PairIndex(p, q)] a^p conj(a)^q + e(a),
// with e(a) = ep u + eq conj(u) + r(a), |r(a)| <= err on the disc. u (|u| <= 1) is the z slot's rest
// as the run began, scaled to 1: real and imaginary parts taken apart, folded by abs and put together
// again then give back its size, where two bounds on the parts would add up to twice it every run.
using PairCoefficients = std::array<ExComplex, kPairTerms>;
struct PairModel {
    PairCoefficients c {};
    ExComplex err {}; // real, >= 0
    ExComplex ep {}, eq {};
    bool real { false }; // every pixel's offset is real (a zero model's is too)
};

// The same operations on such models (|a^p conj(a)^q| = r^(p+q) on the disc's edge), and those that
// the conjugate brings.
class CPairDisc {
public:
    explicit CPairDisc(const ExComplex& radius);

    const ExComplex& Radius() const { return m_reach[0]; }
    ExComplex PolynomialBound(const PairModel& m) const;
    // The rest's largest size: |ep| + |eq| + err.
    static ExComplex Rest(const PairModel& m);
    ExComplex Bound(const PairModel& m) const { return ex::Add(PolynomialBound(m), Rest(m)); }
    // At the start of a run: the z slot's rest becomes the new u's (symbol), every other slot's a
    // bound.
    static void Renew(PairModel& m, bool symbol);
    // The largest size of the lowest degree's terms at the edge of the disc: the scale the offsets'
    // rounding works on (a view the linear part squashes rounds on its long axis's scale anyway).
    ExComplex Lead(const PairModel& m) const;

    PairModel Sum(const PairModel& a, const PairModel& b, double sign) const;
    PairModel Scaled(const PairModel& a, Complex f) const;
    PairModel Product(const ExComplex& A, const PairModel& a, const ExComplex& B, const PairModel& b) const;
    PairModel Composed(const std::array<Complex, kSkipTerms>& g, const PairModel& s, double rho,
        double lipschitzRho, double slopeNear) const;
    // conj(s); (s + conj s) / 2 and (s - conj s) / 2i, real for every pixel.
    PairModel Conj(const PairModel& s) const;
    PairModel RealPart(const PairModel& s) const;
    PairModel ImagPart(const PairModel& s) const;

private:
    // The truncated product and a bound on what truncation dropped; the factors' polynomial bounds
    // where asked.
    PairCoefficients Truncated(const PairCoefficients& a, const PairCoefficients& b, ExComplex& dropped,
        ExComplex* boundA = nullptr, ExComplex* boundB = nullptr) const;
    ExComplex Rounding(const PairModel& m) const;

    std::array<ExComplex, kSkipTerms> m_reach; // r^(k+1)
};

// The model of one instruction's result; false when the operation is not complex-differentiable on a
// varying value, when some pixel's operand may lie across a branch cut or a singularity from the
// reference's, or when a comparison is not decided alike for every pixel.
bool ModelOf(const CModelDisc& disc, const BatchInstruction& in, const ReferenceOperands& ref,
    const TaylorModel& a, const TaylorModel& b, TaylorModel& out);
// The same for a program that is not complex-differentiable: conj, real, imag and the suffix i move the
// conjugate's terms, norm is a product, abs of a real operand keeps its sign while every pixel's does
// and of a complex one is the root of its norm; false where none of that holds.
bool ModelOf(const CPairDisc& disc, const BatchInstruction& in, const ReferenceOperands& ref,
    const PairModel& a, const PairModel& b, PairModel& out);

// The largest change of one instruction's value over every pixel, part by part (re and im of a bound
// hold the largest changes of the real and the imaginary part), from its operands' (ba, bb): for the
// termination program over the skipped runs. False when it is not bounded or a comparison is not
// decided alike for every pixel.
bool BoundOf(const BatchInstruction& in, const ReferenceOperands& ref, const ExComplex& ba,
    const ExComplex& bb, ExComplex& out);

// The reference values of instruction k at run n of a record.
ReferenceOperands OperandsAt(const ProgramRecord& record, int n, size_t k);
