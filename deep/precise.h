#pragma once

#include "batchformula.h"
#include "bignum.h"
#include "complex.h"

#include <mpc.h>

#include <memory>
#include <vector>

// The precisions a BigComplex takes; a request outside gets the nearest (2^24 bits is about five
// million decimal digits, far beyond any view a double's exponent could describe).
constexpr mpfr_prec_t kMaxPreciseBits = mpfr_prec_t { 1 } << 24;

// A complex number of any precision, as a value (MPC underneath): the slots of the reference orbits
// and of the per-pixel arbitrary-precision renderer. Both parts always have the same precision.
class BigComplex {
public:
    explicit BigComplex(mpfr_prec_t bits = 128);
    // Exact: every double is a value of any precision of 53 bits or more.
    BigComplex(Complex value, mpfr_prec_t bits);
    // The precision is the larger of the two parts'.
    BigComplex(const BigFloat& re, const BigFloat& im);
    BigComplex(const BigComplex& other);
    BigComplex(BigComplex&& other) noexcept;
    BigComplex& operator=(const BigComplex& other);
    BigComplex& operator=(BigComplex&& other) noexcept;
    ~BigComplex();

    mpc_ptr get() { return m_value; }
    mpc_srcptr get() const { return m_value; }
    mpfr_ptr Re() { return mpc_realref(m_value); }
    mpfr_ptr Im() { return mpc_imagref(m_value); }
    mpfr_srcptr Re() const { return mpc_realref(m_value); }
    mpfr_srcptr Im() const { return mpc_imagref(m_value); }

    // Rounded to the nearest doubles: beyond the double range a part becomes an infinity, below it
    // a subnormal or zero, and a NaN part becomes the language's NaN.
    Complex ToComplex() const;
    // The value only, rounded to this precision (assignment takes the other's precision as well).
    void Set(Complex value);
    void Set(const BigComplex& value) { mpc_set(m_value, value.m_value, MPC_RNDNN); }
    // Changes the precision, rounding the value to it.
    void SetPrecision(mpfr_prec_t bits);
    mpfr_prec_t Precision() const { return mpfr_get_prec(mpc_realref(m_value)); }

private:
    mpc_t m_value;
};

// dest = dest OP source in the precision of dest, with the formula language's meaning of every
// operator and function (the Complex functions of formula/): the NaN result of a division by zero
// or NaN, the three ways of a power, per-part comparisons, the suffix i as an exchange of parts,
// norm as the squared modulus, and the same branch cuts and special values. The operations that
// doubles round several times (products, quotients, the functions) are rounded once here, or close
// to it. kBatchOpPowWhole raises dest to wholeExponent by binary powering; unary codes ignore
// source; copy sets dest = source; grouping, the separator and unknown codes change nothing.
void PreciseOperation(int opcode, BigComplex& dest, const BigComplex& source, int wholeExponent = 0);

// The temporaries of the operations at one precision, kept so that an operation allocates nothing.
class CPreciseKernel;

// A batch program run in any precision: one BigComplex per batch slot, instruction by instruction
// or whole. Owned by one thread.
class CPreciseProgram {
public:
    CPreciseProgram(const CBatchFormula& program, mpfr_prec_t bits);
    CPreciseProgram(const CPreciseProgram& other);
    CPreciseProgram& operator=(const CPreciseProgram& other);
    CPreciseProgram(CPreciseProgram&&) noexcept;
    CPreciseProgram& operator=(CPreciseProgram&&) noexcept;
    ~CPreciseProgram();

    // Every slot back to its compiled value.
    void Reset();
    BigComplex& Slot(int slot) { return m_slots[static_cast<size_t>(slot)]; }
    const BigComplex& Slot(int slot) const { return m_slots[static_cast<size_t>(slot)]; }
    int SlotCount() const { return static_cast<int>(m_slots.size()); }

    // The start of a run: the result slot to 0 where a run can observe it.
    void BeginRun();
    // Instruction k of the program only.
    void RunInstruction(int k);
    // BeginRun, then every instruction in order.
    void Run();

    int InstructionCount() const { return static_cast<int>(m_code.size()); }
    int Dest(int k) const { return m_code[static_cast<size_t>(k)].dest; }
    const BatchInstruction& Instruction(int k) const { return m_code[static_cast<size_t>(k)]; }
    int ResultSlot() const { return m_nResult; }
    mpfr_prec_t Precision() const { return m_nBits; }

private:
    std::vector<BatchInstruction> m_code;
    std::vector<Complex> m_initial;
    std::vector<BigComplex> m_slots;
    int m_nResult { 0 };
    int m_nResetSlot { -1 };
    mpfr_prec_t m_nBits { 128 };
    std::unique_ptr<CPreciseKernel> m_kernel;
};
