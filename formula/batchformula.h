#pragma once

#include "batchjit.h"
#include "batchtypes.h"
#include "formula.h"

#include <bit>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <vector>

// The kernels for the widest instruction set this processor has (AVX-512, AVX2 or SSE2), chosen once.
const BatchKernels& ActiveBatchKernels();
// Every set of kernels this processor can run, for the tests that hold them all to the same bits.
std::vector<const BatchKernels*> AvailableBatchKernels();
// Runs every later batch on these kernels (one of AvailableBatchKernels); for tests and benchmarks.
void UseBatchKernels(const BatchKernels& kernels);

// The same compiled program as a CFormula, run over kLanes pixels at once: every slot is an array
// of lanes (structure of arrays), and every instruction is one loop over the lanes that the compiler
// vectorises. Copies into temporaries are folded away (each operation reads its operands where they
// are), which changes no bit of any result: every lane computes exactly what CFormula::Run computes.
// Owned by one thread; copy one per thread.
class CBatchFormula {
public:
    CBatchFormula() = default;
    // Which parts of the formula's value the caller reads: a termination test reads the real part only.
    enum class ValueParts { Both, RealOnly };
    explicit CBatchFormula(const CFormula& formula, ValueParts parts = ValueParts::Both);
    CBatchFormula(const CBatchFormula& other);
    CBatchFormula& operator=(const CBatchFormula& other);
    CBatchFormula(CBatchFormula&&) noexcept = default;
    CBatchFormula& operator=(CBatchFormula&&) noexcept = default;

    // Runs the program once on every lane; V_LAST_RESULT of each lane holds its value afterwards.
    void Run();

    // The batch slot of a formula slot (a variable's index from FindVariable), or -1.
    int Slot(int formulaSlot) const;
    int ResultSlot() const { return m_nResult; }

    // The lanes of a batch slot.
    double* Re(int slot) { return m_lanes[slot].re; }
    double* Im(int slot) { return m_lanes[slot].im; }
    const double* Re(int slot) const { return m_lanes[slot].re; }
    const double* Im(int slot) const { return m_lanes[slot].im; }

    // Reads a slot from lanes kept elsewhere (another program's result, the renderer's counters),
    // so that nothing is copied per run. Only for a slot the program never writes (see Writes).
    void ReadFrom(int slot, double* re, double* im) { m_lanes[slot] = { re, im }; }

    void Set(int slot, int lane, Complex value)
    {
        Re(slot)[lane] = value.re;
        Im(slot)[lane] = value.im;
    }
    Complex Get(int slot, int lane) const { return { Re(slot)[lane], Im(slot)[lane] }; }
    // Puts every variable of one lane that a run can change back to its compiled value: a new pixel
    // starts there.
    void ResetLane(int lane)
    {
        for (const int32_t s : m_variables) {
            Set(s, lane, m_initial[s]);
        }
    }
    // ResetLane for every lane of a mask (a bit each).
    void ResetLanes(uint64_t lanes)
    {
        for (const int32_t s : m_variables) {
            double* const re = Re(s);
            double* const im = Im(s);
            const Complex value = m_initial[s];
            for (uint64_t rest = lanes; rest != 0; rest &= rest - 1) {
                const int lane = std::countr_zero(rest);
                re[lane] = value.re;
                im[lane] = value.im;
            }
        }
    }
    // A variable that the caller sets itself at the start of every pixel: ResetLane leaves it alone.
    void SetByCaller(int slot) { std::erase(m_variables, slot); }

    const std::vector<BatchInstruction>& Code() const { return m_code; }
    // What a run of the program starts from, for the programs that rerun it in other arithmetic
    // (the deep zoom's reference orbits): the number of slots, each slot's compiled value, the
    // variables a run can change, and the slot reset to 0 before each run (-1 when unobservable).
    int SlotCount() const { return m_nSlots; }
    Complex Initial(int slot) const { return m_initial[static_cast<size_t>(slot)]; }
    const std::vector<int32_t>& Variables() const { return m_variables; }
    int ResetSlot() const { return m_bResetResult ? m_nResetSlot : -1; }
    // The program as the code generator reads it: the same code on the same lanes.
    JitProgram Program() const
    {
        if (!m_values) {
            return {};
        }
        return { m_code.data(), static_cast<int>(m_code.size()), m_lanes.data(),
            m_bResetResult ? m_nResetSlot : -1 };
    }
    // The program in the golden form of the batch compiler's tests (see DumpBatchProgram).
    std::string Dump() const;
    // Whether the program writes the batch slot (a renderer input it would otherwise only read).
    bool Writes(int slot) const;

private:
    void Allocate();

    std::vector<BatchInstruction> m_code;
    std::vector<Complex> m_initial;   // every batch slot's value as compiled
    std::vector<int32_t> m_variables; // batch slots of the variables a run can change
    int m_nSlots { 0 };
    int m_nResult { 0 };           // the batch slot that holds the formula's value after a run
    int m_nResetSlot { 0 };        // V_LAST_RESULT's batch slot
    bool m_bResetResult { true };  // whether its reset to 0 at the start of a run can be observed
    std::vector<int32_t> m_slotOf; // formula slot -> batch slot, -1 when unused
    // Lanes start on a cache line: a vector load that straddles two lines runs measurably slower.
    struct AlignedFree {
        void operator()(double* p) const { ::operator delete[](p, std::align_val_t { 64 }); }
    };
    std::unique_ptr<double[], AlignedFree> m_values; // m_nSlots x (re lanes, im lanes)
    std::vector<BatchLanes> m_lanes; // where each slot's lanes are: in m_values unless read from elsewhere
};

// ViewDerivative of n lanes at once (up to kLanes), with its bits.
inline void ViewDerivatives(const DerivativeLanes& lanes, int n, double pixel)
{
    ActiveBatchKernels().views(lanes, n, pixel);
}

// Advances the escape-time loop of every lane after a run of the termination formula, all lanes at
// once. For a running lane (active = 1): a termination result whose real part is greater than 0
// stops it with its count (one that is not a number does not stop it); otherwise its count goes up
// by one and it stops when the count reaches limit. A lane that stops gets active = 0 and keeps the
// iteration's value of this run (last) in result, unless resultRe is null (nothing reads it). Returns
// the lanes that stopped, a bit each.
inline uint64_t AdvanceLanes(const double* termination, const double* lastRe, const double* lastIm,
    double* count, double* active, double* resultRe, double* resultIm, double limit)
{
    return ActiveBatchKernels().advance(
        termination, lastRe, lastIm, count, active, resultRe, resultIm, limit);
}
