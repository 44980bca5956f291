#include "smoothness.h"

#include "batchtypes.h"
#include "opcodes.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kLog10E = 0.4342944819032518;
// Below this real part the language's exp is exactly 0.
constexpr double kExpZero = -1842.0;

double Modulus(Complex a) { return realfn::Hypot(a.re, a.im); }

// The distance from A to the negative real axis with 0, where log, sqrt, arg and the powers jump.
double CutDistance(Complex A) { return A.re >= 0.0 ? Modulus(A) : std::fabs(A.im); }

// The distance from x to the nearest odd multiple of pi/2.
double PoleDistance(double x)
{
    const double k = std::floor(x / kPi);
    return std::fabs(x - (k + 0.5) * kPi);
}

// The distance from A to the nearest pole of tan (on the real axis) or of tanh (on the imaginary one).
double TangentPoles(const Operation& op)
{
    return op.opcode == kOpTan ? realfn::Hypot(PoleDistance(op.A.re), op.A.im)
                               : realfn::Hypot(op.A.re, PoleDistance(op.A.im));
}

// |1 + u|^p over |u| <= q (q < 1): at most (1 - q)^-|p|.
double PowerGrowth(double q, double p) { return realfn::Pow(1.0 - q, -std::fabs(p)); }

bool WholeExponent(const Operation& op, int& n)
{
    if (op.opcode == kBatchOpPowWhole) {
        n = op.exponent;
        return true;
    }
    if (op.opcode == kOpPow && op.B.im == 0.0 && std::floor(op.B.re) == op.B.re && std::fabs(op.B.re) < 1e9) {
        n = static_cast<int>(op.B.re);
        return true;
    }
    return false;
}

double PowerLipschitz(const Operation& op, double radius, Cut cut)
{
    const double a = Modulus(op.A);
    int n = 0;
    if (WholeExponent(op, n)) {
        if (n >= 0) {
            return n * realfn::Pow(a + radius, n - 1);
        }
        return radius < a ? -n * realfn::Pow(a - radius, n - 1) : kUnbounded;
    }
    // |B w^(B - 1)| = |B| |R / A| |1 + t / A|^(B - 1).
    if (radius >= std::min(a, cut == Cut::Respected ? CutDistance(op.A) : a)) {
        return kUnbounded;
    }
    const double b = Modulus(op.B);
    const double p = Modulus({ op.B.re - 1.0, op.B.im });
    return b * Modulus(op.R) / a * PowerGrowth(radius / a, p);
}

// The batch compiler's whole power is not an Op: it is a power here.
Op OpOf(const Operation& op) { return op.opcode == kBatchOpPowWhole ? kOpPow : static_cast<Op>(op.opcode); }

} // namespace

double Lipschitz(const Operation& op, double radius, Cut cut)
{
    const double a = Modulus(op.A);
    const double reach = cut == Cut::Respected ? CutDistance(op.A) : a;
    switch (OpOf(op)) {
    case kOpExp:
        return op.A.re - radius < kExpZero && op.A.re + radius >= kExpZero
            ? kUnbounded
            : Modulus(op.R) * realfn::Exp(radius);
    case kOpLog:
    case kOpLog10: return radius < reach ? (op.opcode == kOpLog ? 1.0 : kLog10E) / (a - radius) : kUnbounded;
    case kOpSqrt: return radius < reach ? 0.5 / std::sqrt(a - radius) : kUnbounded;
    case kOpArg: return radius < reach ? 1.0 / (a - radius) : kUnbounded;
    case kOpPow: return PowerLipschitz(op, radius, cut);
    case kOpSin:
    case kOpCos: return realfn::Cosh(std::fabs(op.A.im) + radius);
    case kOpSinh:
    case kOpCosh: return realfn::Cosh(std::fabs(op.A.re) + radius);
    case kOpTan:
    case kOpTanh: {
        // |cos w| >= (2 / pi) times w's distance to the nearest pole of tan, and 1 / cos^2 is tan's slope.
        const double d = TangentPoles(op) - radius;
        return d > 0.0 ? realfn::Pow(kPi / (2.0 * d), 2) : kUnbounded;
    }
    case kOpAbs:
    case kOpReal:
    case kOpImagFn:
    case kOpConj:
    case kOpImag: return 1.0;
    case kOpNorm: return 2.0 * a + radius;
    case kOpNeg:
    case kOpAdd:
    case kOpSub:
    case kOpMul:
    case kOpDiv:
    case kOpCopy:
    case kOpEq:
    case kOpLt:
    case kOpLe:
    case kOpGt:
    case kOpGe:
    case kOpNe:
    case kOpOpen:
    case kOpClose:
    case kOpEnd:
    case kOpCount: return kUnbounded;
    }
    return kUnbounded; // a code outside the table
}

double AnalyticRadius(const Operation& op)
{
    int n = 0;
    switch (OpOf(op)) {
    case kOpExp:
    case kOpSin:
    case kOpCos:
    case kOpSinh:
    case kOpCosh: return kUnbounded;
    case kOpLog:
    case kOpLog10:
    case kOpSqrt: return Modulus(op.A);
    case kOpTan:
    case kOpTanh: return TangentPoles(op);
    case kOpPow: return WholeExponent(op, n) && n >= 0 ? kUnbounded : Modulus(op.A);
    case kOpNeg:
    case kOpAdd:
    case kOpSub:
    case kOpMul:
    case kOpDiv:
    case kOpCopy:
    case kOpEq:
    case kOpLt:
    case kOpLe:
    case kOpGt:
    case kOpGe:
    case kOpNe:
    case kOpImag:
    case kOpOpen:
    case kOpClose:
    case kOpAbs:
    case kOpArg:
    case kOpConj:
    case kOpReal:
    case kOpImagFn:
    case kOpNorm:
    case kOpEnd:
    case kOpCount: return 0.0;
    }
    return 0.0; // a code outside the table
}

double BranchRadius(const Operation& op)
{
    int n = 0;
    switch (OpOf(op)) {
    case kOpExp: return op.A.re >= kExpZero ? op.A.re - kExpZero : kExpZero - op.A.re;
    case kOpLog:
    case kOpLog10:
    case kOpSqrt:
    case kOpArg: return CutDistance(op.A);
    case kOpPow: return WholeExponent(op, n) ? kUnbounded : CutDistance(op.A);
    case kOpNeg:
    case kOpAdd:
    case kOpSub:
    case kOpMul:
    case kOpDiv:
    case kOpCopy:
    case kOpEq:
    case kOpLt:
    case kOpLe:
    case kOpGt:
    case kOpGe:
    case kOpNe:
    case kOpImag:
    case kOpOpen:
    case kOpClose:
    case kOpAbs:
    case kOpConj:
    case kOpReal:
    case kOpImagFn:
    case kOpNorm:
    case kOpSin:
    case kOpCos:
    case kOpTan:
    case kOpSinh:
    case kOpCosh:
    case kOpTanh:
    case kOpEnd:
    case kOpCount: return kUnbounded;
    }
    return kUnbounded; // a code outside the table
}
