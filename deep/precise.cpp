#include "precise.h"

#include "precisekernel.h"

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
