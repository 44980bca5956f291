#include "deltaforms.h"

#include "arith.h"
#include "opcodes.h"

#include <cmath>

// The delta forms with the reference's operands and result carrying exponents of their own (a
// reference passing closer to 0 than the doubles reach).

namespace {

ExComplex WideWholePower(const ExComplex& A, const ExComplex& da, int n)
{
    ExComplex r = ex::FromReal(1.0);
    ExComplex dr {};
    ExComplex base = A;
    ExComplex dbase = da;
    unsigned m = n < 0 ? 0u - static_cast<unsigned>(n) : static_cast<unsigned>(n);
    for (;;) {
        if (m & 1u) {
            dr = ex::Add(ex::Add(ex::Mul(r, dbase), ex::Mul(dr, base)), ex::Mul(dr, dbase));
            r = ex::Mul(r, base);
        }
        if (m < 2) {
            break;
        }
        dbase = ex::Add(ex::Mul(ex::Scale(base, 2.0), dbase), ex::Mul(dbase, dbase));
        base = ex::Mul(base, base);
        m /= 2;
    }
    if (n < 0) {
        return ex::Neg(ex::Div(dr, ex::Mul(r, ex::Add(r, dr))));
    }
    return dr;
}

} // namespace

ExComplex DeltaFormWide(const BatchInstruction& in, const ExComplex& A, const ExComplex& B,
    const ExComplex& R, const ExComplex& da, const ExComplex& db, bool& glitch)
{
    if (ex::IsZero(da) && ex::IsZero(db)) {
        return {};
    }
    if (!ex::IsFinite(A) || !ex::IsFinite(B) || !ex::IsFinite(R)) {
        glitch = true;
        return {};
    }
    if (in.opcode == kBatchOpPowWhole) {
        return WideWholePower(A, da, in.exponent);
    }
    switch (static_cast<Op>(in.opcode)) {
    case kOpMul: return ex::Add(ex::Add(ex::Mul(A, db), ex::Mul(da, B)), ex::Mul(da, db));
    case kOpDiv: return ex::Div(ex::Sub(da, ex::Mul(R, db)), ex::Add(B, db));
    case kOpNorm: return ex::Add(ex::Scale(ex::RealOf(ex::Mul(ex::Conj(A), da)), 2.0), ex::Norm(da));
    case kOpAbs: {
        const ExComplex numerator
            = ex::Add(ex::Scale(ex::RealOf(ex::Mul(ex::Conj(A), da)), 2.0), ex::Norm(da));
        const ExComplex denominator = ex::Add(ex::Abs(ex::Add(A, da)), ex::Abs(A));
        return ex::IsZero(denominator) ? ExComplex {} : ex::RealOf(ex::Div(numerator, denominator));
    }
    case kOpExp:
        if (const Complex d = ex::ToComplex(da); Large(d)) {
            return ex::Sub(ex::From(Exp(Add(ex::ToComplex(A), d))), R);
        }
        return ex::Mul(R, Small<ExComplex, Expm1>(da));
    case kOpPow:
        if (ex::IsZero(db) && B.im == 0.0 && std::floor(ex::ToComplex(B).re) == ex::ToComplex(B).re) {
            return WideWholePower(A, da, static_cast<int>(ex::ToComplex(B).re));
        }
        glitch = true;
        return {};
    case kOpLog:
    case kOpLog10:
    case kOpSqrt:
    case kOpArg: glitch = true; return {};
    case kOpNeg:
    case kOpAdd:
    case kOpSub:
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
    case kOpConj:
    case kOpReal:
    case kOpImagFn:
    case kOpSin:
    case kOpCos:
    case kOpTan:
    case kOpSinh:
    case kOpCosh:
    case kOpTanh:
    case kOpEnd:
    case kOpCount: break; // the double forms, on the reference rounded to doubles
    }
    return DeltaForm<ExComplex>(in, ex::ToComplex(A), ex::ToComplex(B), ex::ToComplex(R), da, db, glitch);
}
