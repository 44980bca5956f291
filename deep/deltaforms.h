#pragma once

// The delta form of every instruction of a batch program: f(A + a, B + b) - f(A, B) from the
// reference's operands A, B and result R (rounded to doubles) and the pixel's offsets a, b, computed
// without the cancellation of the plain difference. Over doubles (Complex) and ExComplex.

#include "batchformula.h"
#include "comparekind.h"
#include "floatexp.h"

// A nonlinear operation whose operand (or derivative) at the pixel is below this share of the
// reference's has lost the digits the offset needs: the pixel takes another reference.
constexpr double kGlitchShare = 1e-3;

// glitch is set when the pixel has left the reference's precision: its value (or the operation's
// derivative there) dropped far below the reference's, or a jump across a cut swallowed its offset.
template <class N>
N DeltaForm(
    const BatchInstruction& in, Complex A, Complex B, Complex R, const N& a, const N& b, bool& glitch);

// A comparison's change from the exact difference of the reference's operands, with its own
// exponent: the sign of diff + (a - b) per part decides against the reference's truth R.
ExComplex ComparisonDelta(
    CompareKind kind, const ExComplex& diff, Complex R, const ExComplex& a, const ExComplex& b);

// The delta form with the reference's operands and result taken with their own exponents, for the
// instructions whose reference values lie below the doubles' normal range. Operations whose delta
// needs such an operand beyond a product or a quotient (logarithms, roots, arguments, powers that
// are not whole) set glitch.
ExComplex DeltaFormWide(const BatchInstruction& in, const ExComplex& A, const ExComplex& B,
    const ExComplex& R, const ExComplex& a, const ExComplex& b, bool& glitch);

extern template Complex DeltaForm<Complex>(
    const BatchInstruction&, Complex, Complex, Complex, const Complex&, const Complex&, bool&);
extern template ExComplex DeltaForm<ExComplex>(
    const BatchInstruction&, Complex, Complex, Complex, const ExComplex&, const ExComplex&, bool&);
