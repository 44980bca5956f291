#include "precisekernel.h"

using namespace precisekernel;

namespace {

bool Finite(mpc_srcptr z) { return mpfr_number_p(Re(z)) && mpfr_number_p(Im(z)); }

// 0 * x as IEEE arithmetic gives it: a zero with x's sign, NaN for an infinity or NaN.
void ZeroTimes(mpfr_ptr out, mpfr_srcptr x)
{
    if (mpfr_number_p(x)) {
        mpfr_set_zero(out, mpfr_signbit(x) ? -1 : 1);
    } else {
        mpfr_set_nan(out);
    }
}

// The whole exponent of a whole (or infinite) x, saturated as SaturateExponent does: the largest
// 32-bit value of the same parity, an infinity counting as even.
int32_t WholeExponent(mpfr_srcptr x)
{
    if (mpfr_fits_sint_p(x, kRnd) && mpfr_cmp_si(x, INT32_MIN) >= 0 && mpfr_cmp_si(x, INT32_MAX) <= 0) {
        return static_cast<int32_t>(mpfr_get_si(x, kRnd));
    }
    bool odd = false;
    if (mpfr_number_p(x)) {
        // x is a whole number far beyond 2^31: odd when x / 2 is not whole.
        mpfr_t half;
        mpfr_init2(half, mpfr_get_prec(x));
        mpfr_div_2ui(half, x, 1, kRnd);
        odd = !mpfr_integer_p(half);
        mpfr_clear(half);
    }
    if (mpfr_sgn(x) > 0) {
        return odd ? INT32_MAX : INT32_MAX - 1;
    }
    return odd ? -INT32_MAX : INT32_MIN;
}

} // namespace

void CPreciseKernel::SetConstants()
{
    mpfr_set_ui(m_log10e, 10, kRnd);
    mpfr_log(m_log10e, m_log10e, kRnd);
    mpfr_ui_div(m_log10e, 1, m_log10e, kRnd);
}

void CPreciseKernel::Prepare(mpfr_prec_t bits)
{
    if (bits == m_nBits) {
        return;
    }
    m_nBits = bits;
    for (mpfr_t& t : m_t) {
        mpfr_set_prec(t, bits);
    }
    for (mpc_t& w : m_w) {
        mpc_set_prec(w, bits);
    }
    mpc_set_prec(m_result, bits);
    mpfr_set_prec(m_log10e, bits);
    SetConstants();
}

// The plain product (re = ac - bd, im = bc + ad), each part rounded once. Infinities and NaNs give
// what the two IEEE products and their sum give.
void CPreciseKernel::Mul(mpc_ptr out, mpc_srcptr a, mpc_srcptr b)
{
    if (a == b) {
        // The square: x*y + x*y is 2xy exactly, and doubling a rounded product rounds nothing.
        mpfr_fmms(Re(out), Re(a), Re(a), Im(a), Im(a), kRnd);
        mpfr_mul(Im(out), Re(a), Im(a), kRnd);
        mpfr_mul_2ui(Im(out), Im(out), 1, kRnd);
        return;
    }
    mpfr_fmms(Re(out), Re(a), Re(b), Im(a), Im(b), kRnd);
    mpfr_fmma(Im(out), Im(a), Re(b), Re(a), Im(b), kRnd);
}

// Smith's division where the double function decides NaN (a zero or NaN divisor) or meets an
// infinity; the correctly rounded quotient of MPC for finite operands, where Smith's steps would
// only add rounding.
void CPreciseKernel::Div(mpc_ptr out, mpc_srcptr a, mpc_srcptr b)
{
    if (mpfr_nan_p(Re(b)) || mpfr_nan_p(Im(b)) || (IsZero(Re(b)) && IsZero(Im(b)))) {
        SetNaN(out);
        return;
    }
    if (Finite(a) && Finite(b)) {
        mpc_div(out, a, b, MPC_RNDNN);
        return;
    }
    mpfr_ptr r = m_t[0];
    mpfr_ptr dv = m_t[1];
    const bool first = mpfr_cmpabs(Im(b), Re(b)) < 0;
    mpfr_srcptr top = first ? Im(b) : Re(b);
    mpfr_srcptr bottom = first ? Re(b) : Im(b);
    mpfr_div(r, top, bottom, kRnd);
    mpfr_mul(dv, r, top, kRnd);
    mpfr_add(dv, bottom, dv, kRnd);
    if (mpfr_nan_p(dv) || IsZero(dv)) {
        SetNaN(out);
        return;
    }
    mpfr_ptr t = m_t[2];
    if (first) {
        mpfr_mul(t, Im(a), r, kRnd); // (x + y r) / dv, (y - x r) / dv
        mpfr_add(Re(out), Re(a), t, kRnd);
        mpfr_mul(t, Re(a), r, kRnd);
        mpfr_sub(Im(out), Im(a), t, kRnd);
    } else {
        mpfr_mul(t, Re(a), r, kRnd); // (x r + y) / dv, (y r - x) / dv
        mpfr_add(Re(out), t, Im(a), kRnd);
        mpfr_mul(t, Im(a), r, kRnd);
        mpfr_sub(Im(out), t, Re(a), kRnd);
    }
    mpfr_div(Re(out), Re(out), dv, kRnd);
    mpfr_div(Im(out), Im(out), dv, kRnd);
}

// Binary powering as the double function does it, from r = 1: r = r * base for every set bit,
// base = base * base between, and 1 / r for a negative n.
void CPreciseKernel::PowWhole(mpc_ptr out, mpc_srcptr a, int32_t n)
{
    mpc_ptr r = m_w[0];
    mpc_ptr base = m_w[1];
    mpc_ptr t = m_w[2];
    uint32_t m = n < 0 ? static_cast<uint32_t>(-static_cast<int64_t>(n)) : static_cast<uint32_t>(n);
    mpc_set_ui(r, 1, MPC_RNDNN);
    mpc_set(base, a, MPC_RNDNN);
    bool one = true; // r is still exactly the 1 it started as
    for (;;) {
        if (m & 1u) {
            if (one && Finite(base)) {
                // 1 * base without a multiplication: base, with the signed zeros that
                // (1 * x - 0 * y, 0 * x + 1 * y) gives.
                mpc_set(r, base, MPC_RNDNN);
                if (IsZero(Re(base))) {
                    mpfr_set_zero(Re(r), mpfr_signbit(Re(base)) && !mpfr_signbit(Im(base)) ? -1 : 1);
                }
                if (IsZero(Im(base))) {
                    mpfr_set_zero(Im(r), mpfr_signbit(Re(base)) && mpfr_signbit(Im(base)) ? -1 : 1);
                }
            } else {
                Mul(t, r, base);
                mpc_swap(r, t);
            }
            one = false;
        }
        if (m < 2) {
            break;
        }
        Mul(t, base, base);
        mpc_swap(base, t);
        m /= 2;
    }
    if (n < 0) {
        mpc_set_ui(t, 1, MPC_RNDNN);
        Div(out, t, r);
    } else {
        mpc_set(out, r, MPC_RNDNN);
    }
}

// The three ways of the double function, chosen by the exponent b.
void CPreciseKernel::Pow(mpc_ptr out, mpc_srcptr a, mpc_srcptr b)
{
    mpc_ptr l = m_w[3];
    mpc_ptr w = m_w[4];
    if (!IsZero(Im(b))) { // a complex exponent (a NaN imaginary part counts as one)
        if (!IsZero(Im(a))) {
            Log(l, Re(a), Im(a));
            Mul(w, b, l);
        } else if (mpfr_sgn(Re(a)) > 0 && !mpfr_nan_p(Re(a))) {
            mpfr_log(Re(l), Re(a), kRnd);
            mpfr_mul(Re(w), Re(b), Re(l), kRnd);
            mpfr_mul(Im(w), Im(b), Re(l), kRnd);
        } else {
            mpfr_set_zero(Im(w), 1);
            Log(l, Re(a), Im(w));
            Mul(w, b, l);
        }
        Exp(out, Re(w), Im(w));
        return;
    }
    mpfr_srcptr x = Re(b);
    if (!mpfr_inf_p(x) && !mpfr_integer_p(x)) { // not a whole number (NaN included)
        if (IsZero(Im(a)) && !mpfr_nan_p(Re(a)) && mpfr_sgn(Re(a)) > 0) {
            mpfr_pow(Re(out), Re(a), x, kRnd);
            mpfr_set_zero(Im(out), 1);
            return;
        }
        // (x + 0i) * log(a) written out with its zero terms, as the double function does.
        Log(l, Re(a), Im(a));
        mpfr_ptr zero = m_t[0];
        mpfr_mul(Re(w), x, Re(l), kRnd);
        ZeroTimes(zero, Im(l));
        mpfr_sub(Re(w), Re(w), zero, kRnd);
        mpfr_mul(Im(w), x, Im(l), kRnd);
        ZeroTimes(zero, Re(l));
        mpfr_add(Im(w), Im(w), zero, kRnd);
        Exp(out, Re(w), Im(w));
        return;
    }
    PowWhole(out, a, WholeExponent(x));
}
