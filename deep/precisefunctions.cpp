#include "precisekernel.h"

using namespace precisekernel;

namespace {

// Below this real part the exponential's factor is taken as exactly 0, as the double function does.
constexpr long kExpUnderflow = -1842;

void SetTruth(mpfr_ptr x, bool b) { mpfr_set_ui(x, b ? 1 : 0, kRnd); }

// out = (f(a.re, b.re), f(a.im, b.im)), each rounded once.
void PerPart(
    mpc_ptr out, int (*f)(mpfr_ptr, mpfr_srcptr, mpfr_srcptr, mpfr_rnd_t), mpc_srcptr a, mpc_srcptr b)
{
    f(Re(out), Re(a), Re(b), kRnd);
    f(Im(out), Im(a), Im(b), kRnd);
}

// A comparison per part: (a.re test b.re, a.im test b.im) as 0 or 1.
void Compare(mpc_ptr out, int (*test)(mpfr_srcptr, mpfr_srcptr), mpc_srcptr a, mpc_srcptr b)
{
    SetTruth(Re(out), test(Re(a), Re(b)) != 0);
    SetTruth(Im(out), test(Im(a), Im(b)) != 0);
}

// == and != compare the whole values: a real truth.
void Equality(mpc_ptr out, mpc_srcptr a, mpc_srcptr b, bool equal)
{
    SetTruth(Re(out), (mpfr_equal_p(Re(a), Re(b)) && mpfr_equal_p(Im(a), Im(b))) == equal);
    mpfr_set_zero(Im(out), 1);
}

// A real result: out = (f(x, y), 0).
void RealOf(
    mpc_ptr out, int (*f)(mpfr_ptr, mpfr_srcptr, mpfr_srcptr, mpfr_rnd_t), mpfr_srcptr x, mpfr_srcptr y)
{
    f(Re(out), x, y, kRnd);
    mpfr_set_zero(Im(out), 1);
}

// A part as a real value: out = (part, 0).
void PartOf(mpc_ptr out, mpfr_srcptr part)
{
    mpfr_set(Re(out), part, kRnd);
    mpfr_set_zero(Im(out), 1);
}

int Norm(mpfr_ptr out, mpfr_srcptr x, mpfr_srcptr y, mpfr_rnd_t rnd)
{
    return mpfr_fmma(out, x, x, y, y, rnd);
}
int Argument(mpfr_ptr out, mpfr_srcptr x, mpfr_srcptr y, mpfr_rnd_t rnd)
{
    return mpfr_atan2(out, y, x, rnd);
}

} // namespace

// (ln|z|, atan2(y, x)); the NaN result when the angle is NaN. log(0) = (-inf, 0).
void CPreciseKernel::Log(mpc_ptr out, mpfr_srcptr x, mpfr_srcptr y)
{
    mpfr_atan2(Im(out), y, x, kRnd);
    if (mpfr_nan_p(Im(out))) {
        SetNaN(out);
        return;
    }
    mpfr_hypot(Re(out), x, y, kRnd);
    mpfr_log(Re(out), Re(out), kRnd);
}

// (e^x cos y, e^x sin y), each part exactly 0 when its factor is exactly 0 (it keeps the factor's
// sign) and when x is below the double function's underflow bound.
void CPreciseKernel::Exp(mpc_ptr out, mpfr_srcptr x, mpfr_srcptr y)
{
    mpfr_ptr s = m_t[0];
    mpfr_ptr c = m_t[1];
    mpfr_ptr e = m_t[2];
    mpfr_sin_cos(s, c, y, kRnd);
    const bool under = !mpfr_nan_p(x) && mpfr_cmp_si(x, kExpUnderflow) < 0;
    if (!under) {
        mpfr_exp(e, x, kRnd);
    }
    const auto times = [&](mpfr_ptr part, mpfr_srcptr factor) {
        if (IsZero(factor)) {
            mpfr_set(part, factor, kRnd);
        } else if (under) {
            mpfr_set_zero(part, 1);
        } else {
            mpfr_mul(part, factor, e, kRnd);
        }
    };
    times(Re(out), c);
    times(Im(out), s);
}

// The principal root: (rho, rho) for 0 and for an infinite or NaN part; otherwise
// w = sqrt((|x| + rho) / 2) and the branch of the double function by the signs of x and y.
void CPreciseKernel::Sqrt(mpc_ptr out, mpfr_srcptr x, mpfr_srcptr y)
{
    mpfr_ptr rho = m_t[0];
    mpfr_hypot(rho, x, y, kRnd);
    if ((IsZero(x) && IsZero(y)) || !mpfr_number_p(x) || !mpfr_number_p(y)) {
        mpfr_set(Re(out), rho, kRnd);
        mpfr_set(Im(out), rho, kRnd);
        return;
    }
    mpfr_ptr w = m_t[1];
    mpfr_ptr q = m_t[2];
    mpfr_abs(w, x, kRnd);
    mpfr_add(w, w, rho, kRnd);
    mpfr_div_2ui(w, w, 1, kRnd);
    mpfr_sqrt(w, w, kRnd);
    mpfr_mul_2ui(q, w, 1, kRnd);
    if (mpfr_sgn(x) >= 0) {
        mpfr_set(Re(out), w, kRnd);
        mpfr_div(Im(out), y, q, kRnd);
    } else if (mpfr_sgn(y) < 0) {
        mpfr_div(Re(out), y, q, kRnd);
        mpfr_neg(Re(out), Re(out), kRnd);
        mpfr_neg(Im(out), w, kRnd);
    } else {
        mpfr_div(Re(out), y, q, kRnd);
        mpfr_set(Im(out), w, kRnd);
    }
}

// t = tan y, s = sinh x, b = s (1 + t^2), dv = 1 + b s: (sqrt(1 + s^2) b / dv, t / dv). Where s is
// infinite, (+-1, +-0) as the double function gives for a real part past its saturation.
void CPreciseKernel::Tanh(mpc_ptr out, mpfr_srcptr x, mpfr_srcptr y)
{
    mpfr_ptr t = m_t[0];
    mpfr_ptr s = m_t[1];
    mpfr_ptr b = m_t[2];
    mpfr_ptr dv = m_t[3];
    mpfr_tan(t, y, kRnd);
    mpfr_sinh(s, x, kRnd);
    if (mpfr_inf_p(s)) {
        mpfr_set_si(Re(out), mpfr_signbit(x) ? -1 : 1, kRnd);
        mpfr_set_zero(Im(out), mpfr_signbit(t) ? -1 : 1);
        return;
    }
    mpfr_sqr(b, t, kRnd);
    mpfr_add_ui(b, b, 1, kRnd);
    mpfr_mul(b, b, s, kRnd);
    mpfr_mul(dv, b, s, kRnd);
    mpfr_add_ui(dv, dv, 1, kRnd);
    mpfr_sqr(Re(out), s, kRnd);
    mpfr_add_ui(Re(out), Re(out), 1, kRnd);
    mpfr_sqrt(Re(out), Re(out), kRnd);
    mpfr_mul(Re(out), Re(out), b, kRnd);
    mpfr_div(Re(out), Re(out), dv, kRnd);
    mpfr_div(Im(out), t, dv, kRnd);
}

void CPreciseKernel::Log10(mpc_ptr out, mpfr_srcptr x, mpfr_srcptr y)
{
    Log(out, x, y);
    mpfr_mul(Re(out), Re(out), m_log10e, kRnd);
    mpfr_mul(Im(out), Im(out), m_log10e, kRnd);
}

// (sin x cosh y, cos x sinh y)
void CPreciseKernel::Sin(mpc_ptr out, mpfr_srcptr x, mpfr_srcptr y)
{
    mpfr_sin_cos(m_t[4], m_t[5], x, kRnd);
    mpfr_sinh_cosh(Im(out), Re(out), y, kRnd);
    mpfr_mul(Re(out), Re(out), m_t[4], kRnd);
    mpfr_mul(Im(out), Im(out), m_t[5], kRnd);
}

// (cos x cosh y, -(sin x sinh y))
void CPreciseKernel::Cos(mpc_ptr out, mpfr_srcptr x, mpfr_srcptr y)
{
    mpfr_sin_cos(m_t[4], m_t[5], x, kRnd);
    mpfr_sinh_cosh(Im(out), Re(out), y, kRnd);
    mpfr_mul(Re(out), Re(out), m_t[5], kRnd);
    mpfr_mul(Im(out), Im(out), m_t[4], kRnd);
    mpfr_neg(Im(out), Im(out), kRnd);
}

// -i tanh(i z): u = tanh(-y + ix), (u.im, -u.re)
void CPreciseKernel::Tan(mpc_ptr out, mpfr_srcptr x, mpfr_srcptr y)
{
    mpc_ptr u = m_w[0];
    mpfr_neg(m_t[4], y, kRnd);
    Tanh(u, m_t[4], x);
    mpfr_set(Re(out), Im(u), kRnd);
    mpfr_neg(Im(out), Re(u), kRnd);
}

// (sinh x cos y, cosh x sin y)
void CPreciseKernel::Sinh(mpc_ptr out, mpfr_srcptr x, mpfr_srcptr y)
{
    mpfr_sin_cos(m_t[4], m_t[5], y, kRnd);
    mpfr_sinh_cosh(Re(out), Im(out), x, kRnd);
    mpfr_mul(Re(out), Re(out), m_t[5], kRnd);
    mpfr_mul(Im(out), Im(out), m_t[4], kRnd);
}

// (cosh x cos y, sinh x sin y)
void CPreciseKernel::Cosh(mpc_ptr out, mpfr_srcptr x, mpfr_srcptr y)
{
    mpfr_sin_cos(m_t[4], m_t[5], y, kRnd);
    mpfr_sinh_cosh(Im(out), Re(out), x, kRnd);
    mpfr_mul(Re(out), Re(out), m_t[5], kRnd);
    mpfr_mul(Im(out), Im(out), m_t[4], kRnd);
}

void CPreciseKernel::Apply(int opcode, mpc_ptr dest, mpc_srcptr a, mpc_srcptr b, int exponent)
{
    Prepare(mpfr_get_prec(Re(dest)));
    if (opcode == kBatchOpPowWhole) {
        PowWhole(m_result, a, exponent);
    } else if (opcode < 0 || opcode >= kOpCount || !Operation(static_cast<Op>(opcode), m_result, a, b)) {
        return; // grouping, the separator and unknown codes do nothing
    }
    mpc_swap(dest, m_result);
}

bool CPreciseKernel::Operation(Op op, mpc_ptr r, mpc_srcptr a, mpc_srcptr b)
{
    mpfr_srcptr x = Re(a);
    mpfr_srcptr y = Im(a);
    // ORDER OP: one case per code, as in the double evaluator.
    switch (op) {
    case kOpNeg: mpc_neg(r, a, MPC_RNDNN); return true;
    case kOpAdd: PerPart(r, mpfr_add, a, b); return true;
    case kOpSub: PerPart(r, mpfr_sub, a, b); return true;
    case kOpMul: Mul(r, a, b); return true;
    case kOpDiv: Div(r, a, b); return true;
    case kOpCopy: mpc_set(r, a, MPC_RNDNN); return true;
    case kOpEq: Equality(r, a, b, true); return true;
    case kOpLt: Compare(r, mpfr_less_p, a, b); return true;
    case kOpLe: Compare(r, mpfr_lessequal_p, a, b); return true;
    case kOpGt: Compare(r, mpfr_greater_p, a, b); return true;
    case kOpGe: Compare(r, mpfr_greaterequal_p, a, b); return true;
    case kOpNe: Equality(r, a, b, false); return true;
    case kOpPow: Pow(r, a, b); return true;
    case kOpImag:
        mpfr_set(Re(r), y, kRnd);
        mpfr_set(Im(r), x, kRnd);
        return true;
    case kOpAbs: RealOf(r, mpfr_hypot, x, y); return true;
    case kOpArg: RealOf(r, Argument, x, y); return true;
    case kOpConj: mpc_conj(r, a, MPC_RNDNN); return true;
    case kOpReal: PartOf(r, x); return true;
    case kOpImagFn: PartOf(r, y); return true;
    case kOpNorm: RealOf(r, Norm, x, y); return true;
    case kOpExp: Exp(r, x, y); return true;
    case kOpLog: Log(r, x, y); return true;
    case kOpLog10: Log10(r, x, y); return true;
    case kOpSqrt: Sqrt(r, x, y); return true;
    case kOpSin: Sin(r, x, y); return true;
    case kOpCos: Cos(r, x, y); return true;
    case kOpTan: Tan(r, x, y); return true;
    case kOpSinh: Sinh(r, x, y); return true;
    case kOpCosh: Cosh(r, x, y); return true;
    case kOpTanh: Tanh(r, x, y); return true;
    case kOpOpen:
    case kOpClose:
    case kOpEnd:
    case kOpCount: return false;
    }
    return false;
}

namespace {

// The kernel of PreciseOperation: one per thread, so that a call allocates nothing once warm.
CPreciseKernel& ThreadKernel()
{
    thread_local CPreciseKernel kernel;
    return kernel;
}

} // namespace

void PreciseOperation(int opcode, BigComplex& dest, const BigComplex& source, int wholeExponent)
{
    if (opcode == kOpCopy) {
        ThreadKernel().Apply(opcode, dest.get(), source.get(), source.get(), wholeExponent);
    } else {
        ThreadKernel().Apply(opcode, dest.get(), dest.get(), source.get(), wholeExponent);
    }
}
