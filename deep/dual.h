#pragma once

#include "precise.h"

#include <vector>

// A batch program run in any precision together with the first derivatives of every slot with
// respect to one seeded input (forward differentiation through the program, one chain rule per
// operation): what the feature finder's Newton steps and size estimates need, for any formula.
// Each slot carries its value and its derivatives along the real and the imaginary direction of the
// input, so that a formula that is not complex-differentiable still has its real 2 x 2 Jacobian;
// when no operation of the program is of that kind, the second is i times the first and is not
// computed. Owned by one thread.
class CDualProgram {
public:
    CDualProgram(const CBatchFormula& program, mpfr_prec_t bits);

    // Every slot back to its compiled value with derivative 0; then each slot of `set` to value, and
    // each of `seeded` (a subset of set) with derivative 1 along the real and i along the imaginary
    // direction.
    void Start(const BigComplex& value, const std::vector<int>& set, const std::vector<int>& seeded);
    // One run of the program, derivatives with it.
    void Run();

    const BigComplex& Value(int slot) const { return m_values.Slot(slot); }
    // d slot / d re(input) and d slot / d im(input).
    const BigComplex& AlongRe(int slot) const { return m_alongRe[static_cast<size_t>(slot)]; }
    BigComplex AlongIm(int slot) const;
    // Whether every operation is complex-differentiable (AlongIm is then i AlongRe).
    bool Holomorphic() const { return m_bHolomorphic; }
    mpfr_prec_t Precision() const { return m_values.Precision(); }

private:
    void Derive(const BatchInstruction& in, std::vector<BigComplex>& along, bool aVaries, bool bVaries);
    bool DeriveSpecial(const BatchInstruction& in, const BigComplex& da);
    void Factors(const BatchInstruction& in);

    CPreciseProgram m_values;
    std::vector<BigComplex> m_alongRe, m_alongIm;
    std::vector<char> m_varies; // whether a slot's derivative can be other than 0
    bool m_bHolomorphic { true };
    int m_nResetSlot { -1 };
    // Temporaries, kept so that a run allocates nothing: the operands before the instruction, the
    // factors of the chain rule (d dest = fa da + fb db) and the new derivative.
    BigComplex m_a, m_b, m_fa, m_fb, m_t, m_out;
};

// Whether an operation is complex-differentiable where it varies (comparisons are locally constant,
// and so count as such).
bool DualHolomorphic(int opcode);
