#pragma once

// The skip's arithmetic: every slot's offset over the disc |a| <= r of the pixels' plane offsets as a
// polynomial in a with a proven bound on the rest (a Taylor model), carried through the operations of
// the iteration program run by run.

#include "delta.h"

#include <array>

using Coefficients = std::array<ExComplex, kSkipTerms>;

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

// The disc's powers and the model operations on it.
class CModelDisc {
public:
    explicit CModelDisc(const ExComplex& radius);

    const ExComplex& Radius() const { return m_reach[0]; }
    // sum |c_k| r^(k+1): the polynomial's largest size on the disc.
    ExComplex PolynomialBound(const TaylorModel& m) const;
    // The model's largest size on the disc, rest included.
    ExComplex Bound(const TaylorModel& m) const { return ex::Add(PolynomialBound(m), m.err); }
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

// The model of one instruction's result; false when the operation is not complex-differentiable on a
// varying value, when some pixel's operand may lie across a branch cut or a singularity from the
// reference's, or when a comparison is not decided alike for every pixel.
bool ModelOf(const CModelDisc& disc, const BatchInstruction& in, const ReferenceOperands& ref,
    const TaylorModel& a, const TaylorModel& b, TaylorModel& out);

// The largest change of one instruction's value over every pixel, part by part (re and im of a bound
// hold the largest changes of the real and the imaginary part), from its operands' (ba, bb): for the
// termination program over the skipped runs. False when it is not bounded or a comparison is not
// decided alike for every pixel.
bool BoundOf(const BatchInstruction& in, const ReferenceOperands& ref, const ExComplex& ba,
    const ExComplex& bb, ExComplex& out);

// The reference values of instruction k at run n of a record.
ReferenceOperands OperandsAt(const ProgramRecord& record, int n, size_t k);
