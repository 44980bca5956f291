#include "batchformula.h"

#include "batchcompile.h"

#include <algorithm>
#include <atomic>
#include <cstring>

CBatchFormula::CBatchFormula(const CFormula& formula, ValueParts parts)
{
    BatchDraft draft = FoldCopies(formula);
    FoldIntoTargets(draft, kFirstScratchSlot + formula.GetScratchCount());
    RemapResult(draft);
    BatchSlots slots = CompactSlots(draft, formula);
    MarkRealOnly(draft, slots, formula, parts == ValueParts::Both);
    MarkWholePowers(draft, slots, formula);
    m_code = std::move(draft.code);
    m_nResult = draft.result;
    m_nResetSlot = draft.resetSlot;
    m_bResetResult = draft.resetResult;
    m_initial = std::move(slots.initial);
    m_variables = std::move(slots.variables);
    m_nSlots = slots.count;
    m_slotOf = std::move(slots.slotOf);
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
    const size_t count = static_cast<size_t>(m_nSlots) * 2 * kLanes;
    m_values.reset(static_cast<double*>(::operator new[](count * sizeof(double), std::align_val_t { 64 })));
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

bool CBatchFormula::Writes(int slot) const
{
    return std::any_of(
        m_code.begin(), m_code.end(), [slot](const BatchInstruction& x) { return x.dest == slot; });
}

std::string CBatchFormula::Dump() const
{
    BatchDraft draft;
    draft.code = m_code;
    draft.result = m_nResult;
    draft.resetSlot = m_nResetSlot;
    draft.resetResult = m_bResetResult;
    return DumpBatchProgram(draft);
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
