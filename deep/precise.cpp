#include "precise.h"

#include "opcodes.h"

#include <algorithm>
#include <cstdint>
#include <utility>

// BigComplex ----------------------------------------------------------------------------------

namespace {

// MPFR aborts the process on a precision outside its range, and memory runs out long before its
// largest one: a bad request gets the nearest precision of this range.
mpfr_prec_t ValidBits(mpfr_prec_t bits)
{
    return std::clamp<mpfr_prec_t>(bits, MPFR_PREC_MIN, kMaxPreciseBits);
}

} // namespace

BigComplex::BigComplex(mpfr_prec_t bits)
{
    mpc_init2(m_value, ValidBits(bits));
    mpc_set_ui(m_value, 0, MPC_RNDNN);
}

BigComplex::BigComplex(Complex value, mpfr_prec_t bits)
{
    mpc_init2(m_value, ValidBits(bits));
    Set(value);
}

BigComplex::BigComplex(const BigFloat& re, const BigFloat& im)
{
    mpc_init2(m_value, std::max(re.Precision(), im.Precision()));
    mpfr_set(Re(), re.get(), MPFR_RNDN);
    mpfr_set(Im(), im.get(), MPFR_RNDN);
}

BigComplex::BigComplex(const BigComplex& other)
{
    mpc_init2(m_value, other.Precision());
    mpc_set(m_value, other.m_value, MPC_RNDNN);
}

BigComplex::BigComplex(BigComplex&& other) noexcept
{
    // A moved-from value stays usable: it gets a fresh zero of the same precision.
    mpc_init2(m_value, other.Precision());
    mpc_swap(m_value, other.m_value);
    mpc_set_ui(other.m_value, 0, MPC_RNDNN);
}

BigComplex& BigComplex::operator=(const BigComplex& other)
{
    if (this != &other) {
        if (Precision() != other.Precision()) {
            mpc_set_prec(m_value, other.Precision());
        }
        mpc_set(m_value, other.m_value, MPC_RNDNN);
    }
    return *this;
}

BigComplex& BigComplex::operator=(BigComplex&& other) noexcept
{
    if (this != &other) {
        mpc_swap(m_value, other.m_value);
    }
    return *this;
}

BigComplex::~BigComplex() { mpc_clear(m_value); }

namespace {

double RoundPart(mpfr_srcptr x) { return mpfr_nan_p(x) ? kNaN : mpfr_get_d(x, MPFR_RNDN); }

} // namespace

Complex BigComplex::ToComplex() const { return { RoundPart(Re()), RoundPart(Im()) }; }

void BigComplex::Set(Complex value)
{
    mpfr_set_d(Re(), value.re, MPFR_RNDN);
    mpfr_set_d(Im(), value.im, MPFR_RNDN);
}

void BigComplex::SetPrecision(mpfr_prec_t bits)
{
    mpfr_prec_round(Re(), ValidBits(bits), MPFR_RNDN);
    mpfr_prec_round(Im(), ValidBits(bits), MPFR_RNDN);
}

// The operations ----------------------------------------------------------------------------------

// Every operation computes its result into temporaries of the destination's precision and swaps it
// into the destination at the end, so an operand that is the destination itself is read intact,
// and nothing is allocated once the temporaries have that precision.
//
// The structure follows the double functions of complex.cpp step by step where a step decides a
// special value (which way a power goes, which branch a root takes, when a quotient is NaN); where
// doubles only guard against their own overflow (the scaled modulus, the halved exponential) the
// wider exponent range of MPFR needs no guard and the plain formula is used.
class CPreciseKernel {
public:
    CPreciseKernel()
    {
        for (mpfr_t& t : m_t) {
            mpfr_init2(t, m_nBits);
        }
        for (mpc_t& w : m_w) {
            mpc_init2(w, m_nBits);
        }
        mpc_init2(m_result, m_nBits);
        mpfr_init2(m_log10e, m_nBits);
        SetConstants();
    }
    ~CPreciseKernel()
    {
        for (mpfr_t& t : m_t) {
            mpfr_clear(t);
        }
        for (mpc_t& w : m_w) {
            mpc_clear(w);
        }
        mpc_clear(m_result);
        mpfr_clear(m_log10e);
    }
    CPreciseKernel(const CPreciseKernel&) = delete;
    CPreciseKernel& operator=(const CPreciseKernel&) = delete;

    // dest = a OP b for binary codes, dest = f(a) for unary codes and copy. dest may be a or b.
    void Apply(int opcode, mpc_ptr dest, mpc_srcptr a, mpc_srcptr b, int exponent);

private:
    void Prepare(mpfr_prec_t bits);
    void SetConstants();

    // out must not be an operand in any of these; a and b may be the same value.
    void Mul(mpc_ptr out, mpc_srcptr a, mpc_srcptr b);
    void Div(mpc_ptr out, mpc_srcptr a, mpc_srcptr b);
    void PowWhole(mpc_ptr out, mpc_srcptr a, int32_t n);
    void Pow(mpc_ptr out, mpc_srcptr a, mpc_srcptr b);
    void Log(mpc_ptr out, mpfr_srcptr x, mpfr_srcptr y);
    void Exp(mpc_ptr out, mpfr_srcptr x, mpfr_srcptr y);
    void Sqrt(mpc_ptr out, mpfr_srcptr x, mpfr_srcptr y);
    void Tanh(mpc_ptr out, mpfr_srcptr x, mpfr_srcptr y);

    static constexpr int kReals = 6;
    static constexpr int kComplexes = 5;
    mpfr_prec_t m_nBits { 64 };
    mpfr_t
        m_t[kReals]; // real temporaries: 0-3 for the leaf functions (Div, Exp, Sqrt, Tanh...), 4-5 for Apply
    mpc_t m_w[kComplexes]; // complex temporaries of the composite ones (powers, tan)
    mpc_t m_result;        // what is swapped into the destination
    mpfr_t m_log10e;       // log10(e) at m_nBits
};

namespace {

mpfr_ptr Re(mpc_ptr z) { return mpc_realref(z); }
mpfr_ptr Im(mpc_ptr z) { return mpc_imagref(z); }
mpfr_srcptr Re(mpc_srcptr z) { return mpc_realref(z); }
mpfr_srcptr Im(mpc_srcptr z) { return mpc_imagref(z); }

constexpr mpfr_rnd_t kRnd = MPFR_RNDN;
// Below this real part the exponential's factor is taken as exactly 0, as the double function does.
constexpr long kExpUnderflow = -1842;

void SetNaN(mpc_ptr z)
{
    mpfr_set_nan(Re(z));
    mpfr_set_nan(Im(z));
}

void SetTruth(mpfr_ptr x, bool b) { mpfr_set_ui(x, b ? 1 : 0, kRnd); }

bool IsZero(mpfr_srcptr x) { return mpfr_zero_p(x) != 0; }
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

void CPreciseKernel::Apply(int opcode, mpc_ptr dest, mpc_srcptr a, mpc_srcptr b, int exponent)
{
    Prepare(mpfr_get_prec(Re(dest)));
    mpc_ptr r = m_result;
    mpfr_ptr re = Re(r);
    mpfr_ptr im = Im(r);
    mpfr_srcptr x = Re(a);
    mpfr_srcptr y = Im(a);
    mpfr_srcptr u = Re(b);
    mpfr_srcptr v = Im(b);
    mpfr_ptr t0 = m_t[4];
    mpfr_ptr t1 = m_t[5];
    // ORDER OP: one case per code, as in the double evaluator.
    switch (opcode) {
    case kOpNeg: mpc_neg(r, a, MPC_RNDNN); break;
    case kOpAdd:
        mpfr_add(re, x, u, kRnd);
        mpfr_add(im, y, v, kRnd);
        break;
    case kOpSub:
        mpfr_sub(re, x, u, kRnd);
        mpfr_sub(im, y, v, kRnd);
        break;
    case kOpMul: Mul(r, a, b); break;
    case kOpDiv: Div(r, a, b); break;
    case kOpCopy: mpc_set(r, a, MPC_RNDNN); break;
    case kOpEq:
        SetTruth(re, mpfr_equal_p(x, u) && mpfr_equal_p(y, v));
        mpfr_set_zero(im, 1);
        break;
    case kOpLt:
        SetTruth(re, mpfr_less_p(x, u));
        SetTruth(im, mpfr_less_p(y, v));
        break;
    case kOpLe:
        SetTruth(re, mpfr_lessequal_p(x, u));
        SetTruth(im, mpfr_lessequal_p(y, v));
        break;
    case kOpGt:
        SetTruth(re, mpfr_greater_p(x, u));
        SetTruth(im, mpfr_greater_p(y, v));
        break;
    case kOpGe:
        SetTruth(re, mpfr_greaterequal_p(x, u));
        SetTruth(im, mpfr_greaterequal_p(y, v));
        break;
    case kOpNe:
        SetTruth(re, !mpfr_equal_p(x, u) || !mpfr_equal_p(y, v));
        mpfr_set_zero(im, 1);
        break;
    case kOpPow: Pow(r, a, b); break;
    case kOpImag:
        mpfr_set(re, y, kRnd);
        mpfr_set(im, x, kRnd);
        break;
    case kOpAbs:
        mpfr_hypot(re, x, y, kRnd);
        mpfr_set_zero(im, 1);
        break;
    case kOpArg:
        mpfr_atan2(re, y, x, kRnd);
        mpfr_set_zero(im, 1);
        break;
    case kOpConj: mpc_conj(r, a, MPC_RNDNN); break;
    case kOpReal:
        mpfr_set(re, x, kRnd);
        mpfr_set_zero(im, 1);
        break;
    case kOpImagFn:
        mpfr_set(re, y, kRnd);
        mpfr_set_zero(im, 1);
        break;
    case kOpNorm:
        mpfr_fmma(re, x, x, y, y, kRnd);
        mpfr_set_zero(im, 1);
        break;
    case kOpExp: Exp(r, x, y); break;
    case kOpLog: Log(r, x, y); break;
    case kOpLog10:
        Log(r, x, y);
        mpfr_mul(re, re, m_log10e, kRnd);
        mpfr_mul(im, im, m_log10e, kRnd);
        break;
    case kOpSqrt: Sqrt(r, x, y); break;
    case kOpSin: // (sin x cosh y, cos x sinh y)
        mpfr_sin_cos(t0, t1, x, kRnd);
        mpfr_sinh_cosh(im, re, y, kRnd);
        mpfr_mul(re, re, t0, kRnd);
        mpfr_mul(im, im, t1, kRnd);
        break;
    case kOpCos: // (cos x cosh y, -(sin x sinh y))
        mpfr_sin_cos(t0, t1, x, kRnd);
        mpfr_sinh_cosh(im, re, y, kRnd);
        mpfr_mul(re, re, t1, kRnd);
        mpfr_mul(im, im, t0, kRnd);
        mpfr_neg(im, im, kRnd);
        break;
    case kOpTan: { // -i tanh(i z): u = tanh(-y + ix), (u.im, -u.re)
        mpc_ptr u = m_w[0];
        mpfr_neg(t0, y, kRnd);
        Tanh(u, t0, x);
        mpfr_set(re, Im(u), kRnd);
        mpfr_neg(im, Re(u), kRnd);
        break;
    }
    case kOpSinh: // (sinh x cos y, cosh x sin y)
        mpfr_sin_cos(t0, t1, y, kRnd);
        mpfr_sinh_cosh(re, im, x, kRnd);
        mpfr_mul(re, re, t1, kRnd);
        mpfr_mul(im, im, t0, kRnd);
        break;
    case kOpCosh: // (cosh x cos y, sinh x sin y)
        mpfr_sin_cos(t0, t1, y, kRnd);
        mpfr_sinh_cosh(im, re, x, kRnd);
        mpfr_mul(re, re, t1, kRnd);
        mpfr_mul(im, im, t0, kRnd);
        break;
    case kOpTanh: Tanh(r, x, y); break;
    case kBatchOpPowWhole: PowWhole(r, a, exponent); break;
    default: return; // grouping, the separator and unknown codes do nothing
    }
    mpc_swap(dest, r);
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

// CPreciseProgram -----------------------------------------------------------------------------

CPreciseProgram::CPreciseProgram(const CBatchFormula& program, mpfr_prec_t bits)
    : m_code(program.Code())
    , m_nResult(program.ResultSlot())
    , m_nResetSlot(program.ResetSlot())
    , m_nBits(ValidBits(bits))
    , m_kernel(std::make_unique<CPreciseKernel>())
{
    m_initial.reserve(static_cast<size_t>(program.SlotCount()));
    m_slots.reserve(static_cast<size_t>(program.SlotCount()));
    for (int s = 0; s < program.SlotCount(); ++s) {
        m_initial.push_back(program.Initial(s));
        m_slots.emplace_back(program.Initial(s), m_nBits);
    }
}

CPreciseProgram::CPreciseProgram(const CPreciseProgram& other)
    : m_code(other.m_code)
    , m_initial(other.m_initial)
    , m_slots(other.m_slots)
    , m_nResult(other.m_nResult)
    , m_nResetSlot(other.m_nResetSlot)
    , m_nBits(other.m_nBits)
    , m_kernel(std::make_unique<CPreciseKernel>())
{
}

CPreciseProgram& CPreciseProgram::operator=(const CPreciseProgram& other)
{
    if (this != &other) {
        CPreciseProgram copy(other);
        *this = std::move(copy);
    }
    return *this;
}

CPreciseProgram::CPreciseProgram(CPreciseProgram&&) noexcept = default;
CPreciseProgram& CPreciseProgram::operator=(CPreciseProgram&&) noexcept = default;
CPreciseProgram::~CPreciseProgram() = default;

void CPreciseProgram::Reset()
{
    for (size_t s = 0; s < m_slots.size(); ++s) {
        if (m_slots[s].Precision() != m_nBits) {
            m_slots[s] = BigComplex(m_nBits);
        }
        m_slots[s].Set(m_initial[s]);
    }
}

void CPreciseProgram::BeginRun()
{
    if (m_nResetSlot >= 0) {
        mpc_set_ui(m_slots[static_cast<size_t>(m_nResetSlot)].get(), 0, MPC_RNDNN);
    }
}

void CPreciseProgram::RunInstruction(int k)
{
    const BatchInstruction& in = m_code[static_cast<size_t>(k)];
    mpc_srcptr a = m_slots[static_cast<size_t>(in.a)].get();
    mpc_srcptr b = in.b >= 0 ? m_slots[static_cast<size_t>(in.b)].get() : a;
    m_kernel->Apply(in.opcode, m_slots[static_cast<size_t>(in.dest)].get(), a, b, in.exponent);
}

void CPreciseProgram::Run()
{
    BeginRun();
    for (int k = 0; k < InstructionCount(); ++k) {
        RunInstruction(k);
    }
}
