#pragma once

// The arithmetic behind CPreciseProgram and PreciseOperation (precise.h), in two files:
// precisekernel.cpp the kernel's life and the algebraic operations (products, quotients, powers),
// precisefunctions.cpp the elementary functions and the dispatch by code.
#include "precise.h"

#include "opcodes.h"

#include <cstdint>

namespace precisekernel {

inline mpfr_ptr Re(mpc_ptr z) { return mpc_realref(z); }
inline mpfr_ptr Im(mpc_ptr z) { return mpc_imagref(z); }
inline mpfr_srcptr Re(mpc_srcptr z) { return mpc_realref(z); }
inline mpfr_srcptr Im(mpc_srcptr z) { return mpc_imagref(z); }

constexpr mpfr_rnd_t kRnd = MPFR_RNDN;

inline void SetNaN(mpc_ptr z)
{
    mpfr_set_nan(Re(z));
    mpfr_set_nan(Im(z));
}

inline bool IsZero(mpfr_srcptr x) { return mpfr_zero_p(x) != 0; }

} // namespace precisekernel

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
    // out = a OP b for a code of the language; false for the codes that are never executed.
    bool Operation(Op op, mpc_ptr out, mpc_srcptr a, mpc_srcptr b);

    // out must not be an operand in any of these; a and b may be the same value.
    void Mul(mpc_ptr out, mpc_srcptr a, mpc_srcptr b);
    void Div(mpc_ptr out, mpc_srcptr a, mpc_srcptr b);
    void PowWhole(mpc_ptr out, mpc_srcptr a, int32_t n);
    void Pow(mpc_ptr out, mpc_srcptr a, mpc_srcptr b);
    void Log(mpc_ptr out, mpfr_srcptr x, mpfr_srcptr y);
    void Exp(mpc_ptr out, mpfr_srcptr x, mpfr_srcptr y);
    void Sqrt(mpc_ptr out, mpfr_srcptr x, mpfr_srcptr y);
    void Tanh(mpc_ptr out, mpfr_srcptr x, mpfr_srcptr y);
    void Log10(mpc_ptr out, mpfr_srcptr x, mpfr_srcptr y);
    void Sin(mpc_ptr out, mpfr_srcptr x, mpfr_srcptr y);
    void Cos(mpc_ptr out, mpfr_srcptr x, mpfr_srcptr y);
    void Tan(mpc_ptr out, mpfr_srcptr x, mpfr_srcptr y);
    void Sinh(mpc_ptr out, mpfr_srcptr x, mpfr_srcptr y);
    void Cosh(mpc_ptr out, mpfr_srcptr x, mpfr_srcptr y);

    static constexpr int kReals = 6;
    static constexpr int kComplexes = 5;
    mpfr_prec_t m_nBits { 64 };
    mpfr_t m_t[kReals]; // real temporaries: 0-3 for the leaf functions (Div, Exp, Sqrt, Tanh...), 4-5 for the
                        // trigonometric ones
    mpc_t m_w[kComplexes]; // complex temporaries of the composite ones (powers, tan)
    mpc_t m_result;        // what is swapped into the destination
    mpfr_t m_log10e;       // log10(e) at m_nBits
};
