#pragma once
// The benchmarks' deep point: the repelling fixed point (1 + sqrt(1 - 4C)) / 2 of z * z + C, which
// lies on the Julia set and so has structure at every depth.
#include "precise.h"

inline BigComplex RepellingFixedPoint(Complex c, mpfr_prec_t bits)
{
    BigComplex beta(bits);
    mpc_set_d_d(beta.get(), c.re, c.im, MPC_RNDNN);
    mpc_mul_si(beta.get(), beta.get(), -4, MPC_RNDNN);
    mpc_add_ui(beta.get(), beta.get(), 1, MPC_RNDNN);
    mpc_sqrt(beta.get(), beta.get(), MPC_RNDNN);
    mpc_add_ui(beta.get(), beta.get(), 1, MPC_RNDNN);
    mpc_div_ui(beta.get(), beta.get(), 2, MPC_RNDNN);
    return beta;
}
