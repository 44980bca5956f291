#include "dual.h"

#include "opcodes.h"

#include <mpc.h>

namespace {

constexpr mpc_rnd_t kRnd = MPC_RNDNN;

bool IsComparison(int opcode) { return opcode >= kOpEq && opcode <= kOpNe; }

// re(a) re(d) + im(a) im(d): the real direction's part of norm, abs and arg.
void Dot(mpfr_ptr out, mpc_srcptr a, mpc_srcptr d)
{
    mpfr_fmma(out, mpc_realref(a), mpc_realref(d), mpc_imagref(a), mpc_imagref(d), MPFR_RNDN);
}

} // namespace

bool DualHolomorphic(int opcode)
{
    if (opcode == kBatchOpPowWhole || IsComparison(opcode)) {
        return true;
    }
    const OpTraits* traits = TraitsOf(opcode);
    return !traits || traits->operands == 0 || traits->holomorphic;
}

CDualProgram::CDualProgram(const CBatchFormula& program, mpfr_prec_t bits)
    : m_values(program, bits)
    , m_nResetSlot(program.ResetSlot())
    , m_a(bits)
    , m_b(bits)
    , m_fa(bits)
    , m_fb(bits)
    , m_t(bits)
    , m_out(bits)
{
    for (const BatchInstruction& in : program.Code()) {
        m_bHolomorphic = m_bHolomorphic && DualHolomorphic(in.opcode);
    }
    const size_t slots = static_cast<size_t>(program.SlotCount());
    m_alongRe.assign(slots, BigComplex(bits));
    if (!m_bHolomorphic) {
        m_alongIm.assign(slots, BigComplex(bits));
    }
    m_varies.assign(slots, 0);
}

void CDualProgram::Start(const BigComplex& value, const std::vector<int>& set, const std::vector<int>& seeded)
{
    m_values.Reset();
    for (size_t s = 0; s < m_varies.size(); ++s) {
        m_varies[s] = 0;
    }
    for (const int slot : set) {
        if (slot >= 0) {
            m_values.Slot(slot).Set(value);
        }
    }
    for (const int slot : seeded) {
        if (slot < 0) {
            continue;
        }
        m_varies[static_cast<size_t>(slot)] = 1;
        mpc_set_ui(m_alongRe[static_cast<size_t>(slot)].get(), 1, kRnd);
        if (!m_bHolomorphic) {
            mpc_set_ui_ui(m_alongIm[static_cast<size_t>(slot)].get(), 0, 1, kRnd);
        }
    }
}

BigComplex CDualProgram::AlongIm(int slot) const
{
    if (!m_bHolomorphic) {
        return m_alongIm[static_cast<size_t>(slot)];
    }
    BigComplex r(m_alongRe[static_cast<size_t>(slot)]);
    mpc_mul_i(r.get(), r.get(), 1, kRnd);
    return r;
}

void CDualProgram::Run()
{
    m_values.BeginRun();
    if (m_nResetSlot >= 0) {
        m_varies[static_cast<size_t>(m_nResetSlot)] = 0;
    }
    for (int k = 0; k < m_values.InstructionCount(); ++k) {
        const BatchInstruction& in = m_values.Instruction(k);
        const bool aVaries = m_varies[static_cast<size_t>(in.a)] != 0;
        const bool bVaries = in.b >= 0 && in.opcode != kOpCopy && m_varies[static_cast<size_t>(in.b)] != 0;
        const bool varies = (aVaries || bVaries) && !IsComparison(in.opcode);
        if (varies) {
            // The operands before the instruction: the destination may be one of them.
            mpc_set(m_a.get(), m_values.Slot(in.a).get(), kRnd);
            mpc_set(m_b.get(), m_values.Slot(in.b >= 0 ? in.b : in.a).get(), kRnd);
        }
        m_values.RunInstruction(k);
        m_varies[static_cast<size_t>(in.dest)] = varies ? 1 : 0;
        if (!varies) {
            continue;
        }
        if (DualHolomorphic(in.opcode)) {
            Factors(in);
        }
        Derive(in, m_alongRe, aVaries, bVaries);
        if (!m_bHolomorphic) {
            Derive(in, m_alongIm, aVaries, bVaries);
        }
    }
}

// The chain rule's factors of a complex-differentiable operation, from the operands before it (m_a,
// m_b) and its result: d dest = m_fa d a + m_fb d b.
void CDualProgram::Factors(const BatchInstruction& in)
{
    mpc_srcptr a = m_a.get();
    mpc_srcptr b = m_b.get();
    mpc_srcptr r = m_values.Slot(in.dest).get();
    mpc_ptr fa = m_fa.get();
    mpc_ptr fb = m_fb.get();
    mpc_set_ui(fa, 1, kRnd);
    mpc_set_ui(fb, 0, kRnd);
    switch (in.opcode) {
    case kOpNeg: mpc_set_si(fa, -1, kRnd); break;
    case kOpAdd: mpc_set_ui(fb, 1, kRnd); break;
    case kOpSub: mpc_set_si(fb, -1, kRnd); break;
    case kOpMul:
        mpc_set(fa, b, kRnd);
        mpc_set(fb, a, kRnd);
        break;
    case kOpDiv:
        mpc_ui_div(fa, 1, b, kRnd);
        mpc_mul(fb, r, fa, kRnd);
        mpc_neg(fb, fb, kRnd);
        break;
    case kOpPow: // b a^(b - 1) and a^b log a
        mpc_sub_ui(m_t.get(), b, 1, kRnd);
        mpc_pow(fa, a, m_t.get(), kRnd);
        mpc_mul(fa, fa, b, kRnd);
        mpc_log(fb, a, kRnd);
        mpc_mul(fb, fb, r, kRnd);
        break;
    case kBatchOpPowWhole:
        mpc_pow_si(fa, a, in.exponent - 1, kRnd);
        mpc_mul_si(fa, fa, in.exponent, kRnd);
        break;
    case kOpExp: mpc_set(fa, r, kRnd); break;
    case kOpLog: mpc_ui_div(fa, 1, a, kRnd); break;
    case kOpLog10:
        mpfr_log_ui(mpc_realref(m_t.get()), 10, MPFR_RNDN);
        mpc_mul_fr(fa, a, mpc_realref(m_t.get()), kRnd);
        mpc_ui_div(fa, 1, fa, kRnd);
        break;
    case kOpSqrt:
        mpc_mul_2ui(fa, r, 1, kRnd);
        mpc_ui_div(fa, 1, fa, kRnd);
        break;
    case kOpSin: mpc_cos(fa, a, kRnd); break;
    case kOpCos:
        mpc_sin(fa, a, kRnd);
        mpc_neg(fa, fa, kRnd);
        break;
    case kOpTan: // 1 + tan^2
        mpc_sqr(fa, r, kRnd);
        mpc_add_ui(fa, fa, 1, kRnd);
        break;
    case kOpSinh: mpc_cosh(fa, a, kRnd); break;
    case kOpCosh: mpc_sinh(fa, a, kRnd); break;
    case kOpTanh: // 1 - tanh^2
        mpc_sqr(fa, r, kRnd);
        mpc_ui_sub(fa, 1, fa, kRnd);
        break;
    default: break; // copy
    }
}

// The derivative of dest along one direction, from the operands' derivatives before the instruction.
// A slot's derivative is read only while it varies: the others may hold an earlier run's.
void CDualProgram::Derive(
    const BatchInstruction& in, std::vector<BigComplex>& along, bool aVaries, bool bVaries)
{
    const BigComplex& da = along[static_cast<size_t>(in.a)];
    if (DeriveSpecial(in, da)) {
        mpc_swap(along[static_cast<size_t>(in.dest)].get(), m_out.get());
        return;
    }
    mpc_ptr out = m_out.get();
    mpc_set_ui(out, 0, kRnd);
    if (aVaries) {
        mpc_mul(out, m_fa.get(), da.get(), kRnd);
    }
    if (bVaries) {
        mpc_mul(m_t.get(), m_fb.get(), along[static_cast<size_t>(in.b)].get(), kRnd);
        mpc_add(out, out, m_t.get(), kRnd);
    }
    mpc_swap(along[static_cast<size_t>(in.dest)].get(), out);
}

// The operations that are not complex-differentiable, one direction at a time (m_out); false for the
// others.
bool CDualProgram::DeriveSpecial(const BatchInstruction& in, const BigComplex& da)
{
    mpc_srcptr a = m_a.get();
    mpc_ptr out = m_out.get();
    mpfr_ptr re = mpc_realref(out);
    mpfr_ptr im = mpc_imagref(out);
    switch (in.opcode) {
    case kOpImag:
        mpfr_set(re, mpc_imagref(da.get()), MPFR_RNDN);
        mpfr_set(im, mpc_realref(da.get()), MPFR_RNDN);
        return true;
    case kOpConj: mpc_conj(out, da.get(), kRnd); return true;
    case kOpReal: mpfr_set(re, mpc_realref(da.get()), MPFR_RNDN); break;
    case kOpImagFn: mpfr_set(re, mpc_imagref(da.get()), MPFR_RNDN); break;
    case kOpNorm:
        Dot(re, a, da.get());
        mpfr_mul_2ui(re, re, 1, MPFR_RNDN);
        break;
    case kOpAbs:
    case kOpArg:
        if (in.opcode == kOpAbs) {
            Dot(re, a, da.get());
            mpc_abs(mpc_realref(m_t.get()), a, MPFR_RNDN);
        } else { // (re dim - im dre) / |a|^2
            mpfr_fmms(
                re, mpc_realref(a), mpc_imagref(da.get()), mpc_imagref(a), mpc_realref(da.get()), MPFR_RNDN);
            mpc_norm(mpc_realref(m_t.get()), a, MPFR_RNDN);
        }
        if (mpfr_zero_p(mpc_realref(m_t.get()))) {
            // The corner of abs: the derivative on the side the direction moves to, |da| (a point
            // on a fold keeps a Jacobian there); arg has none, taken as 0.
            if (in.opcode == kOpAbs) {
                mpc_abs(re, da.get(), MPFR_RNDN);
            } else {
                mpfr_set_zero(re, 1);
            }
        } else {
            mpfr_div(re, re, mpc_realref(m_t.get()), MPFR_RNDN);
        }
        break;
    default: return false;
    }
    mpfr_set_zero(im, 1);
    return true;
}
