#pragma once

// The derivative of the orbit for the colour and termination formulas: which of V_dz, V_dzy, V_de
// and V_dir a formula reads, the iteration program that carries the derivative, and what the
// formulas see. Internal to the renderers.
#include "formula.h"
#include "tangent.h"

#include <memory>

// The predefined names a formula reads (before it assigns them), as variable slots; -1 otherwise.
struct DerivativeSlots {
    int dz { -1 };
    int dzy { -1 };
    int de { -1 };
    int dir { -1 };

    bool Any() const { return dz >= 0 || dzy >= 0 || de >= 0 || dir >= 0; }
};
DerivativeSlots BindDerivatives(const CFormula& formula);
// Whether the termination or the colour formula reads any of them.
inline bool ReadsDerivative(const CFormula& termination, const CFormula& colour)
{
    return BindDerivatives(termination).Any() || BindDerivatives(colour).Any();
}

// The iteration program with the derivative of its value with respect to the pixel's plane point,
// built when a formula reads it; ok false when the program would not fit a formula's capacities
// (the formulas then see NaN).
struct IterationTangent {
    TangentFormula program;
    bool ok { false };
    double pixel { 1.0 }; // plane units per pixel of the picture: V_de's unit
};
std::shared_ptr<const IterationTangent> MakeIterationTangent(
    const CFormula& iteration, int z, int z0, double pixel);

// What the formulas see for a final z whose derivatives (the program's dzx and dzy variables) are
// dzx and dzy.
DerivativeView ReadDerivative(const IterationTangent& tangent, Complex z, Complex dzx, Complex dzy);

// Stores them into a formula's variables.
void SetDerivatives(CFormula& formula, const DerivativeSlots& slots, const DerivativeView& view);
