#include "tangent.h"

#include "opcodes.h"

#include <algorithm>
#include <array>
#include <string>

namespace {

// Comparisons are constant on either side of where they jump: their derivative is 0.
bool ZeroDerivative(int op) { return op >= kOpEq && op <= kOpNe; }
bool Binary(int op) { return op >= kOpAdd && op <= kOpPow && op != kOpCopy; }

// log10(e), as Log10 multiplies by it.
constexpr double kLog10E = 0.4342944819032518;

// Work slots of one direction: what a rule keeps between its instructions.
constexpr int kWorkSlots = 4;

} // namespace

// Builds the derived program of tangent.h in three steps: which slots depend on p, where their tangents
// live, and the instructions.
class CTangentBuilder {
public:
    CTangentBuilder(const CFormula& source, const std::vector<int>& seeds, TangentFormula& out)
        : m_source(source)
        , m_seeds(seeds)
        , m_out(out)
    {
    }
    bool Build();

private:
    void FindActive();
    bool Layout();
    int32_t Shifted(int32_t slot) const { return slot >= m_nFirstTemporary ? slot + m_nShift : slot; }
    void Emit(int32_t d, int32_t op, int32_t s = -1) { m_code.push_back({ d, op, s }); }
    void Before(const Instruction& x, int32_t ts, int k);
    void BeforePower(const Instruction& x, int32_t ts, int k);
    void BeforeModulus(const Instruction& x, int k);
    void After(const Instruction& x, int32_t ts, int k);

    const CFormula& m_source;
    const std::vector<int>& m_seeds;
    TangentFormula& m_out;
    // Whether a value depends on p, and whether an operation that is not complex-differentiable made it.
    struct Dependence {
        bool active { false };
        bool tainted { false };
    };
    // What one instruction of the source reads and writes, as the last run of FindActive saw it.
    struct Step {
        bool destinationIn { false };
        bool sourceIn { false };
        bool out { false };
    };
    std::vector<Dependence> m_start; // the variables as a run starts, by slot
    std::vector<Step> m_steps;       // by instruction
    std::vector<char> m_active;      // by the source's slot: depends on p somewhere
    Dependence m_result;             // the formula's value after a run
    int m_nDirections { 1 };
    int32_t m_nFirstTemporary { 0 }; // the source's first slot above its literals
    int32_t m_nShift { 0 };          // the literals this program adds
    int32_t m_zero { 0 }, m_one { 0 }, m_log10e { 0 };
    std::vector<int32_t> m_exponentLess; // by the source's literal slot: that literal minus one, or -1
    std::array<std::vector<int32_t>, 2> m_tangent; // by the derived program's slot, -1 when constant
    std::array<std::array<int32_t, kWorkSlots>, 2> m_work {};
    std::vector<Instruction> m_code;
};

void CTangentBuilder::FindActive()
{
    // Forward through the program with what depends on p. Temporaries are written before they are
    // read; variables carry their state from one run to the next, so the runs repeat until it holds.
    m_start.assign(kVariableCapacity, {});
    for (const int seed : m_seeds) {
        if (seed >= 0) {
            m_start[seed].active = true;
        }
    }
    const Instruction* in = m_source.GetInstructions();
    const int count = m_source.GetInstructionCount();
    std::vector<Dependence> state(kSlotCount);
    for (bool changed = true; changed;) {
        std::fill(state.begin(), state.end(), Dependence {});
        std::copy(m_start.begin(), m_start.end(), state.begin());
        state[m_source.GetResultSlot()] = {}; // Run resets it to 0
        m_steps.assign(static_cast<size_t>(count), {});
        for (int i = 0; i < count; ++i) {
            const Instruction& x = in[i];
            const Dependence d = state[x.destination];
            const Dependence s = x.source >= 0 ? state[x.source] : Dependence {};
            Dependence out;
            if (x.opcode == kOpCopy) {
                out = s;
            } else if (Binary(x.opcode) && !ZeroDerivative(x.opcode)) {
                out = { d.active || s.active, d.tainted || s.tainted };
            } else if (!ZeroDerivative(x.opcode) && kOpTraits[x.opcode].operands == 1) {
                out = { d.active, d.tainted || (d.active && !kOpTraits[x.opcode].holomorphic) };
            }
            m_steps[i] = { d.active, s.active, out.active };
            state[x.destination] = out;
        }
        changed = false;
        for (int v = 0; v < m_source.GetVariableCount(); ++v) {
            const Dependence merged { m_start[v].active || state[v].active,
                m_start[v].tainted || state[v].tainted };
            changed = changed || merged.active != m_start[v].active || merged.tainted != m_start[v].tainted;
            m_start[v] = merged;
        }
    }
    m_result = state[m_source.GetResultSlot()];
    // A derivative along the imaginary axis of its own where an operation that is not
    // complex-differentiable reaches the value.
    m_nDirections = m_result.tainted ? 2 : 1;
    m_active.assign(kSlotCount, 0);
    for (int v = 0; v < kVariableCapacity; ++v) {
        m_active[v] = m_start[v].active;
    }
    for (int i = 0; i < count; ++i) {
        m_active[in[i].destination] = m_active[in[i].destination] || m_steps[i].out;
    }
}

bool CTangentBuilder::Layout()
{
    CFormula& f = m_out.formula;
    f = m_source;
    const int literals = m_source.GetScratchCount();
    m_nFirstTemporary = kFirstScratchSlot + literals;
    const Instruction* in = m_source.GetInstructions();
    // The literals first, so that the temporaries move up once.
    m_zero = f.AddLiteral("'0", {});
    m_one = f.AddLiteral("'1", { 1.0, 0.0 });
    m_log10e = f.AddLiteral("'log10e", { kLog10E, 0.0 });
    m_exponentLess.assign(kSlotCount, -1);
    bool fits = m_zero >= 0 && m_one >= 0 && m_log10e >= 0;
    for (int i = 0; i < m_source.GetInstructionCount() && fits; ++i) {
        const Instruction& x = in[i];
        if (x.opcode == kOpPow && m_steps[i].out && x.source >= kFirstScratchSlot
            && x.source < m_nFirstTemporary) {
            const Complex e = m_source.GetSlots()[x.source];
            const int literal
                = f.AddLiteral(std::string("'").append(std::to_string(x.source)), { e.re - 1.0, e.im });
            m_exponentLess[x.source] = kFirstScratchSlot + literal;
            fits = literal >= 0;
        }
    }
    if (!fits) {
        return false;
    }
    m_zero += kFirstScratchSlot;
    m_one += kFirstScratchSlot;
    m_log10e += kFirstScratchSlot;
    m_nShift = f.GetScratchCount() - literals;
    int32_t next = f.GetScratchCount() + kFirstScratchSlot;
    for (int i = 0; i < m_source.GetInstructionCount(); ++i) {
        next = std::max(
            { next, Shifted(in[i].destination) + 1, in[i].source >= 0 ? Shifted(in[i].source) + 1 : 0 });
    }
    static constexpr const char* kSuffix[2] = { "'x", "'y" };
    for (int k = 0; k < m_nDirections; ++k) {
        m_tangent[k].assign(kSlotCount, -1);
        for (int32_t s = 0; s < kSlotCount; ++s) {
            if (!m_active[s]) {
                continue;
            }
            if (s < kVariableCapacity) {
                const bool seed = std::find(m_seeds.begin(), m_seeds.end(), s) != m_seeds.end();
                const Complex start = !seed ? Complex {}
                    : k == 0                ? Complex { 1.0, 0.0 }
                                            : Complex { 0.0, 1.0 };
                const int v = f.AddVariable(m_source.GetSlotName(s) + kSuffix[k], start);
                if (v < 0) {
                    return false;
                }
                m_tangent[k][s] = v;
            } else if (Shifted(s) < kSlotCount) {
                m_tangent[k][Shifted(s)] = next++;
            } else {
                return false;
            }
        }
        for (int32_t& w : m_work[k]) {
            w = next++;
        }
    }
    return next <= kSlotCount;
}

void CTangentBuilder::Before(const Instruction& x, int32_t ts, int k)
{
    const int32_t d = x.destination;
    const int32_t s = x.source;
    const int32_t td = m_tangent[k][d];
    const auto& w = m_work[k];
    switch (static_cast<Op>(x.opcode)) {
    case kOpCopy: Emit(td, kOpCopy, ts >= 0 ? ts : m_zero); break;
    case kOpNeg:
    case kOpImag:
    case kOpConj:
    case kOpReal:
    case kOpImagFn: Emit(td, x.opcode); break; // linear over the reals: the same map
    case kOpAdd:
    case kOpSub:
        if (ts >= 0) {
            Emit(td, x.opcode, ts);
        }
        break;
    case kOpMul: // d' s + d s'
        if (ts >= 0) {
            Emit(w[0], kOpCopy, d);
            Emit(w[0], kOpMul, ts);
        }
        Emit(td, kOpMul, s);
        if (ts >= 0) {
            Emit(td, kOpAdd, w[0]);
        }
        break;
    case kOpEq:
    case kOpLt:
    case kOpLe:
    case kOpGt:
    case kOpGe:
    case kOpNe: Emit(td, kOpCopy, m_zero); break;
    case kOpPow: BeforePower(x, ts, k); break;
    case kOpAbs:
    case kOpNorm:
    case kOpArg: BeforeModulus(x, k); break;
    case kOpLog: Emit(td, kOpDiv, d); break;
    case kOpLog10:
        Emit(td, kOpDiv, d);
        Emit(td, kOpMul, m_log10e);
        break;
    case kOpSin:
    case kOpCos:
    case kOpSinh:
    case kOpCosh: {
        const int32_t derivative = x.opcode == kOpSin ? kOpCos
            : x.opcode == kOpCos                      ? kOpSin
            : x.opcode == kOpSinh                     ? kOpCosh
                                                      : kOpSinh;
        Emit(w[0], kOpCopy, d);
        Emit(w[0], derivative);
        if (x.opcode == kOpCos) {
            Emit(w[0], kOpNeg);
        }
        Emit(td, kOpMul, w[0]);
        break;
    }
    case kOpDiv:
    case kOpExp:
    case kOpSqrt:
    case kOpTan:
    case kOpTanh:
    case kOpOpen:
    case kOpClose:
    case kOpEnd:
    case kOpCount: break; // after the value, or never executed
    }
}

// s d^(s-1) d'; with s depending on p, d^s log(d) s' follows in After.
void CTangentBuilder::BeforePower(const Instruction& x, int32_t ts, int k)
{
    const int32_t d = x.destination;
    const int32_t s = x.source;
    const int32_t td = m_tangent[k][d];
    const auto& w = m_work[k];
    int32_t less = s < m_nFirstTemporary ? m_exponentLess[s] : -1;
    if (less >= 0 && m_source.GetSlots()[s].re == 0.0 && m_source.GetSlots()[s].im == 0.0) {
        Emit(td, kOpCopy, m_zero); // d^0 is 1 everywhere, also where d^-1 is not
        return;
    }
    if (less < 0) {
        Emit(w[1], kOpCopy, s);
        Emit(w[1], kOpSub, m_one);
        less = w[1];
    }
    Emit(w[2], kOpCopy, d);
    Emit(w[2], kOpPow, less);
    Emit(w[2], kOpMul, s);
    Emit(w[2], kOpMul, td);
    if (ts >= 0) {
        Emit(w[0], kOpCopy, d);
    } else {
        Emit(td, kOpCopy, w[2]);
    }
}

// abs: re(conj(d) d') / |d|, after; norm: 2 re(conj(d) d'); arg: im(conj(d) d') / |d|^2.
void CTangentBuilder::BeforeModulus(const Instruction& x, int k)
{
    const int32_t d = x.destination;
    const int32_t td = m_tangent[k][d];
    const auto& w = m_work[k];
    Emit(w[0], kOpCopy, d);
    Emit(w[0], kOpConj);
    Emit(w[0], kOpMul, td);
    Emit(w[0], x.opcode == kOpArg ? kOpImagFn : kOpReal);
    if (x.opcode == kOpNorm) {
        Emit(td, kOpCopy, w[0]);
        Emit(td, kOpAdd, w[0]);
    } else if (x.opcode == kOpArg) {
        Emit(w[1], kOpCopy, d);
        Emit(w[1], kOpNorm);
        Emit(td, kOpCopy, w[0]);
        Emit(td, kOpDiv, w[1]);
    }
}

void CTangentBuilder::After(const Instruction& x, int32_t ts, int k)
{
    const int32_t d = x.destination;
    const int32_t s = x.source;
    const int32_t td = m_tangent[k][d];
    const auto& w = m_work[k];
    switch (x.opcode) {
    case kOpDiv: // (d' - q s') / s with q the quotient
        if (ts >= 0) {
            Emit(w[0], kOpCopy, d);
            Emit(w[0], kOpMul, ts);
            Emit(td, kOpSub, w[0]);
        }
        Emit(td, kOpDiv, s);
        break;
    case kOpPow:
        if (ts >= 0) {
            Emit(w[3], kOpCopy, w[0]);
            Emit(w[3], kOpLog);
            Emit(w[3], kOpMul, ts);
            Emit(w[3], kOpMul, d);
            Emit(td, kOpCopy, w[2]);
            Emit(td, kOpAdd, w[3]);
        }
        break;
    case kOpAbs:
        Emit(td, kOpCopy, w[0]);
        Emit(td, kOpDiv, d);
        break;
    case kOpExp: Emit(td, kOpMul, d); break;
    case kOpSqrt: // d' / 2 sqrt
        Emit(w[0], kOpCopy, d);
        Emit(w[0], kOpAdd, d);
        Emit(td, kOpDiv, w[0]);
        break;
    case kOpTan:  // d' (1 + tan^2)
    case kOpTanh: // d' (1 - tanh^2)
        Emit(w[0], kOpCopy, d);
        Emit(w[0], kOpMul, d);
        if (x.opcode == kOpTan) {
            Emit(w[0], kOpAdd, m_one);
            Emit(td, kOpMul, w[0]);
        } else {
            Emit(w[1], kOpCopy, m_one);
            Emit(w[1], kOpSub, w[0]);
            Emit(td, kOpMul, w[1]);
        }
        break;
    default: break;
    }
}

bool CTangentBuilder::Build()
{
    FindActive();
    if (!Layout()) {
        return false;
    }
    const Instruction* in = m_source.GetInstructions();
    for (int i = 0; i < m_source.GetInstructionCount(); ++i) {
        const Instruction& source = in[i];
        const Step step = m_steps[i];
        const Instruction x { Shifted(source.destination), source.opcode,
            source.source >= 0 ? Shifted(source.source) : -1 };
        if (kOpTraits[x.opcode].operands == 0) {
            continue;
        }
        if (step.out && Binary(x.opcode) && x.destination == x.source) {
            return false; // the compiler never emits one; the rules read both before the write
        }
        for (int k = 0; k < m_nDirections; ++k) {
            const int32_t td = m_tangent[k][x.destination];
            if (step.out && !step.destinationIn && x.opcode != kOpCopy) {
                Emit(td, kOpCopy, m_zero); // the rules read the destination's tangent
            }
            if (step.out) {
                Before(x, step.sourceIn ? m_tangent[k][x.source] : -1, k);
            } else if (td >= 0 && x.destination < kVariableCapacity) {
                Emit(td, kOpCopy, m_zero); // a variable's tangent holds from one run to the next
            }
        }
        Emit(x.destination, x.opcode, x.source);
        for (int k = 0; k < m_nDirections && step.out; ++k) {
            After(x, step.sourceIn ? m_tangent[k][x.source] : -1, k);
        }
    }
    if (m_code.size() > static_cast<size_t>(kMaxInstructions)) {
        return false;
    }
    CFormula& f = m_out.formula;
    std::copy(m_code.begin(), m_code.end(), f.m_instructions.begin());
    f.m_nInstructionCount = static_cast<int>(m_code.size());
    const int32_t result = m_source.GetResultSlot();
    m_out.dzx = m_result.active ? m_tangent[0][result] : -1;
    m_out.dzy = m_result.active && m_nDirections == 2 ? m_tangent[1][result] : -1;
    return true;
}

bool DifferentiateFormula(const CFormula& source, const std::vector<int>& seeds, TangentFormula& out)
{
    out = {};
    return CTangentBuilder(source, seeds, out).Build();
}

bool ReadsBeforeAssigning(const CFormula& formula, int variable)
{
    if (variable < 0) {
        return false;
    }
    const Instruction* in = formula.GetInstructions();
    for (int i = 0; i < formula.GetInstructionCount(); ++i) {
        const Instruction& x = in[i];
        const bool readsDestination = x.opcode != kOpCopy && kOpTraits[x.opcode].operands > 0;
        if (x.source == variable || (x.destination == variable && readsDestination)) {
            return true;
        }
        if (x.destination == variable) {
            return false;
        }
    }
    return false;
}

DerivativeView ViewDerivative(Complex z, Complex dz, Complex dzy, double pixel)
{
    DerivativeView view { dz, dzy, 0.0, {} };
    const double absZ = Abs(z).re;
    const double absDz = Abs(dz).re;
    // Ratio first: |z| and |dz| grow together, and their product could overflow where the ratio holds.
    view.de = absZ / absDz * realfn::Log(absZ) / pixel;
    const Complex unitZ = Div(z, { absZ, 0.0 });
    const Complex unitDz = Div(dz, { absDz, 0.0 });
    const Complex w = Mul(unitZ, Conj(unitDz));
    view.dir = Div(w, Abs(w));
    return view;
}
