#pragma once

// The arithmetic the feature finder shares between its scan and its Newton's method (featurefinder.h).
#include "dual.h"
#include "featurefinder.h"

#include <functional>

namespace featuremath {

// A value and its real Jacobian with respect to the plane point: the derivatives along the real and
// the imaginary direction.
struct Jet {
    BigComplex value, alongRe, alongIm;
    explicit Jet(mpfr_prec_t bits)
        : value(bits)
        , alongRe(bits)
        , alongIm(bits)
    {
    }
};

// z of the dual program as a jet.
void TakeZ(const CDualProgram& dual, int z, Jet& out);
// The jet of the plane point itself (derivatives 1 and i).
void PointJet(const BigComplex& x, Jet& out);
// out = a - b, part by part.
void Subtract(const Jet& a, const Jet& b, Jet& out);

// The step s with J s = value (J the real 2 x 2 Jacobian), as a complex number: Newton's step is
// -s. False where J is singular or not a number.
bool NewtonStep(const Jet& gap, BigComplex& step);
// sqrt |det J|: the modulus of the derivative for a complex-differentiable program.
BigFloat JacobianModulus(const Jet& jet);
// log2 |v| (a very negative number for 0, a very large one for a value that is not a number).
double Log2Abs(const BigComplex& v);

// G(x) = z_(q+p)(x) - z_q(x) with its Jacobian, by one run of the dual program. False when cancelled.
bool EvaluateGap(CDualProgram& dual, const FeatureProgram& p, const BigComplex& x, int period, int preperiod,
    Jet& gap, const std::function<bool()>& cancelled);

// Every slot of the dual program that a pixel sets to the plane point.
std::vector<int> StartSlots(const FeatureProgram& p);

} // namespace featuremath
