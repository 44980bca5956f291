#pragma once

#include "complex.h"
#include "formula.h"

#include <vector>

// An iteration program that also carries the derivatives of its values with respect to the pixel's
// plane point p = x + iy, by forward differentiation: every slot that depends on p gets tangent
// variables or temporaries beside it, and every instruction that writes such a slot is preceded or
// followed by the instructions that update its tangents, in the language's own operations. The
// result is an ordinary CFormula: the interpreter, the batch evaluator and generated code run it as
// they run any program, so all three give the same bits. The source's own instructions and slots
// are kept (the literals' area grows; the temporaries move up), so its values keep their bits.
struct TangentFormula {
    CFormula formula;
    // The variables that hold d(value)/dx and d(value)/dy of the formula's value after a run. When
    // every operation on the pixel's path is complex-differentiable, d/dy = i * d/dx and dzy is -1.
    int dzx { -1 };
    int dzy { -1 };
};

// The derived program of source, whose variables seeds (z, z0) start every pixel at p: false when it
// would not fit a formula's capacities (then nothing in out is meaningful).
bool DifferentiateFormula(const CFormula& source, const std::vector<int>& seeds, TangentFormula& out);

// Whether the program reads the variable before it assigns it: a formula that assigns one of the
// predefined names first keeps its own value and needs nothing computed for it.
bool ReadsBeforeAssigning(const CFormula& formula, int variable);

// What the colour and termination formulas see of the derivative at the final z, in pixels of the
// picture (pixel: plane units per pixel). dz and dzy as computed; de = |z| ln|z| / |dz| / pixel;
// dir = the unit complex number of z / dz.
struct DerivativeView {
    Complex dz, dzy;
    double de { 0.0 };
    Complex dir;
};
DerivativeView ViewDerivative(Complex z, Complex dz, Complex dzy, double pixel);
// i * a, as d/dy of a holomorphic value whose d/dx is a.
inline Complex TimesI(Complex a) { return { -a.im, a.re }; }
