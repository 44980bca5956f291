#include "batchformula.h"

#include "opcodes.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace {

bool IsUnary(int op) { return op == kOpNeg || op == kOpImag || IsFunction(op); }
bool IsBinary(int op) { return op >= kOpAdd && op <= kOpPow && op != kOpCopy; }

} // namespace

CBatchFormula::CBatchFormula(const CFormula& formula, ValueParts parts)
{
    // Copy propagation: a copy into a temporary only records where the value is; the operation
    // that reads the temporary reads that slot instead. A temporary's value is made real before
    // the slot it stands for is overwritten.
    const int firstTemporary = kFirstScratchSlot + formula.GetScratchCount();
    std::vector<int32_t> alias(kSlotCount);
    for (int32_t s = 0; s < kSlotCount; ++s) {
        alias[s] = s;
    }
    std::vector<BatchInstruction> code; // still in formula slots
    const auto beforeWrite = [&](int32_t slot) {
        for (int32_t t = firstTemporary; t < kSlotCount; ++t) {
            if (t != slot && alias[t] == slot) {
                code.push_back({ t, kOpCopy, slot, -1 });
                alias[t] = t;
            }
        }
    };
    const Instruction* in = formula.GetInstructions();
    for (int i = 0; i < formula.GetInstructionCount(); ++i) {
        const Instruction& x = in[i];
        if (x.opcode == kOpCopy) {
            const int32_t source = alias[x.source];
            beforeWrite(x.destination);
            if (x.destination >= firstTemporary) {
                alias[x.destination] = source;
            } else {
                code.push_back({ x.destination, kOpCopy, source, -1 });
                alias[x.destination] = x.destination;
            }
        } else if (IsUnary(x.opcode) || IsBinary(x.opcode)) {
            const int32_t a = alias[x.destination];
            const int32_t b = IsBinary(x.opcode) ? alias[x.source] : -1;
            beforeWrite(x.destination);
            code.push_back({ x.destination, x.opcode, a, b });
            alias[x.destination] = x.destination;
        }
    }

    // A temporary computed and then only copied into its target: compute straight into the target.
    // Temporaries never outlive their statement, so the one copy is the temporary's last reader.
    const auto readsLater = [&](size_t from, int32_t slot) {
        for (size_t k = from; k < code.size(); ++k) {
            if (code[k].a == slot || code[k].b == slot) {
                return true;
            }
            if (code[k].dest == slot) {
                return false;
            }
        }
        return false;
    };
    for (size_t k = 1; k < code.size(); ++k) {
        BatchInstruction& copy = code[k];
        BatchInstruction& producer = code[k - 1];
        if (copy.opcode == kOpCopy && copy.a >= firstTemporary && producer.dest == copy.a
            && !readsLater(k + 1, copy.a)) {
            producer.dest = copy.dest;
            copy.opcode = -1; // removed below
        }
    }
    std::erase_if(code, [](const BatchInstruction& x) { return x.opcode < 0; });

    // The value of the formula: a final copy of a variable into V_LAST_RESULT is read from the
    // variable itself, and V_LAST_RESULT needs its reset only when something reads it before the
    // last write, or nothing writes it.
    int32_t result = formula.GetResultSlot();
    const auto readsResult = [&](int32_t slot) {
        return std::any_of(code.begin(), code.end(),
            [slot](const BatchInstruction& x) { return x.a == slot || x.b == slot; });
    };
    if (!code.empty() && code.back().opcode == kOpCopy && code.back().dest == result
        && !readsResult(result)) {
        result = code.back().a;
        code.pop_back();
    }
    const bool resultWritten = std::any_of(code.begin(), code.end(),
        [&](const BatchInstruction& x) { return x.dest == formula.GetResultSlot(); });
    m_bResetResult
        = readsResult(formula.GetResultSlot()) || (!resultWritten && result == formula.GetResultSlot());
    m_nResetSlot = formula.GetResultSlot();

    // Compact slots: every variable (the renderer sets some), the result and what the code touches.
    m_slotOf.assign(kSlotCount, -1);
    const auto use = [this](int32_t slot) {
        if (slot >= 0 && m_slotOf[slot] < 0) {
            m_slotOf[slot] = m_nSlots++;
            m_initial.push_back(Complex {});
        }
    };
    for (int s = 0; s < formula.GetVariableCount(); ++s) {
        use(s);
        // Only what the program writes can differ from its compiled value when a pixel ends.
        const bool written
            = std::any_of(code.begin(), code.end(), [s](const BatchInstruction& x) { return x.dest == s; });
        const bool unreadResult = s == formula.GetResultSlot() && !m_bResetResult && !readsResult(s);
        if (written && !unreadResult) {
            m_variables.push_back(m_slotOf[s]);
        }
    }
    use(formula.GetResultSlot());
    use(result);
    for (const BatchInstruction& x : code) {
        use(x.dest);
        use(x.a);
        use(x.b);
    }
    const Complex* slots = formula.GetSlots();
    for (int s = 0; s < kSlotCount; ++s) {
        if (m_slotOf[s] >= 0) {
            m_initial[m_slotOf[s]] = slots[s];
        }
    }
    for (BatchInstruction& x : code) {
        x = { m_slotOf[x.dest], x.opcode, m_slotOf[x.a], x.b >= 0 ? m_slotOf[x.b] : -1 };
    }
    m_code = std::move(code);
    m_nResult = m_slotOf[result];
    m_nResultFormulaSlot = formula.GetResultSlot();
    MarkRealOnly(parts == ValueParts::Both);
    m_nResetSlot = m_slotOf[m_nResetSlot];
    Allocate();
}
CBatchFormula::CBatchFormula(const CBatchFormula& other)
    : m_code(other.m_code)
    , m_initial(other.m_initial)
    , m_variables(other.m_variables)
    , m_nSlots(other.m_nSlots)
    , m_nResult(other.m_nResult)
    , m_nResetSlot(other.m_nResetSlot)
    , m_bResetResult(other.m_bResetResult)
    , m_slotOf(other.m_slotOf)
{
    Allocate(); // a copy reads every slot from its own lanes again
}

CBatchFormula& CBatchFormula::operator=(const CBatchFormula& other)
{
    if (this != &other) {
        CBatchFormula copy(other);
        *this = std::move(copy);
    }
    return *this;
}

void CBatchFormula::Allocate()
{
    // Every lane starts from the compiled values; constants and literals never change afterwards.
    m_values = std::make_unique<double[]>(static_cast<size_t>(m_nSlots) * 2 * kLanes);
    m_lanes.resize(m_nSlots);
    for (int s = 0; s < m_nSlots; ++s) {
        m_lanes[s] = { m_values.get() + static_cast<size_t>(s) * 2 * kLanes,
            m_values.get() + (static_cast<size_t>(s) * 2 + 1) * kLanes };
    }
    for (int s = 0; s < m_nSlots; ++s) {
        for (int l = 0; l < kLanes; ++l) {
            Set(s, l, m_initial[s]);
        }
    }
}

int CBatchFormula::Slot(int formulaSlot) const
{
    if (formulaSlot < 0 || formulaSlot >= static_cast<int>(m_slotOf.size())) {
        return -1;
    }
    return m_slotOf[formulaSlot];
}

void CBatchFormula::SetInitial(int slot, Complex value)
{
    if (slot < 0) {
        return;
    }
    m_initial[slot] = value;
    for (int l = 0; l < kLanes; ++l) {
        Set(slot, l, value);
    }
}

void CBatchFormula::MarkRealOnly(bool resultImaginaryRead)
{
    // Backwards through the program: which parts of which slots are still read. Variables keep
    // both parts (the next run reads them); the value keeps what the caller reads.
    std::vector<char> liveRe(m_nSlots, 0);
    std::vector<char> liveIm(m_nSlots, 0);
    for (int variable = 0; variable < kVariableCapacity; ++variable) {
        if (const int32_t s = m_slotOf[variable]; s >= 0 && variable != m_nResultFormulaSlot) {
            liveRe[s] = liveIm[s] = 1;
        }
    }
    liveRe[m_nResult] = 1;
    liveIm[m_nResult] = liveIm[m_nResult] || resultImaginaryRead;
    for (auto x = m_code.rbegin(); x != m_code.rend(); ++x) {
        const bool needRe = liveRe[x->dest];
        const bool needIm = liveIm[x->dest];
        // The real part of these needs only the real parts (or, for imag, the imaginary part) of
        // the operands, or their imaginary part is a constant 0.
        bool perPart = false;      // re from re, im from im
        bool realFromBoth = false; // re needs both parts, im is 0
        switch (x->opcode) {
        case kOpNeg:
        case kOpAdd:
        case kOpSub:
        case kOpCopy:
        case kOpLt:
        case kOpLe:
        case kOpGt:
        case kOpGe:
        case kOpConj: perPart = true; break;
        case kOpEq:
        case kOpNe:
        case kOpNorm:
        case kOpAbs:
        case kOpArg: realFromBoth = true; break;
        default: break;
        }
        x->realOnly = (!needIm && (perPart || realFromBoth || x->opcode == kOpReal || x->opcode == kOpImagFn))
            ? 1
            : 0;
        // What this instruction writes is dead above it; what it reads is live.
        liveRe[x->dest] = 0;
        if (!x->realOnly) {
            liveIm[x->dest] = 0;
        }
        const auto use = [&](int32_t slot, bool re, bool im) {
            if (slot >= 0) {
                liveRe[slot] = liveRe[slot] || re;
                liveIm[slot] = liveIm[slot] || im;
            }
        };
        if (!needRe && !needIm) {
            continue;
        }
        if (perPart) {
            use(x->a, needRe, needIm && !x->realOnly);
            use(x->b, needRe, needIm && !x->realOnly);
        } else if (x->opcode == kOpReal) {
            use(x->a, true, false);
        } else if (x->opcode == kOpImagFn) {
            use(x->a, false, true);
        } else if (x->opcode == kOpImag) {
            use(x->a, needIm, needRe);
        } else {
            use(x->a, true, true);
            use(x->b, true, true);
        }
    }
}

bool CBatchFormula::Writes(int slot) const
{
    return std::any_of(
        m_code.begin(), m_code.end(), [slot](const BatchInstruction& x) { return x.dest == slot; });
}

void CBatchFormula::Run()
{
    if (m_values) {
        ActiveBatchKernels().run(m_code.data(), static_cast<int>(m_code.size()), m_lanes.data(),
            m_bResetResult ? m_nResetSlot : -1);
    }
}

namespace {

// The kernels in use: the widest set this processor has, unless a test or benchmark chose another.
std::atomic<const BatchKernels*> s_pKernels { nullptr }; // chosen once; tests may switch between renders

const BatchKernels& WidestKernels()
{
    if (__builtin_cpu_supports("avx512f")) {
        return BatchAvx512::kKernels;
    }
    if (__builtin_cpu_supports("avx2")) {
        return BatchAvx2::kKernels;
    }
    return BatchSse2::kKernels;
}

} // namespace

const BatchKernels& ActiveBatchKernels()
{
    const BatchKernels* kernels = s_pKernels.load(std::memory_order_relaxed);
    if (kernels == nullptr) {
        kernels = &WidestKernels();
        s_pKernels.store(kernels, std::memory_order_relaxed);
    }
    return *kernels;
}

std::vector<const BatchKernels*> AvailableBatchKernels()
{
    std::vector<const BatchKernels*> kernels { &BatchSse2::kKernels };
    if (__builtin_cpu_supports("avx2")) {
        kernels.push_back(&BatchAvx2::kKernels);
    }
    if (__builtin_cpu_supports("avx512f")) {
        kernels.push_back(&BatchAvx512::kKernels);
    }
    return kernels;
}

void UseBatchKernels(const BatchKernels& kernels) { s_pKernels.store(&kernels, std::memory_order_relaxed); }
