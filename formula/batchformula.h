#pragma once

#include "formula.h"

#include <cstdint>
#include <memory>
#include <vector>

// Lanes of a batch: one pixel each. 64 measured best: enough to hide the dispatch of every
// instruction, small enough that all slots of a usual formula stay in the first-level cache.
constexpr int kLanes = 64;

// One instruction of a batch program: dest = a OP b over all lanes (b is -1 for unary codes).
// Indices are compact slot numbers of the batch, not the formula's.
struct BatchInstruction {
    int32_t dest { 0 };
    int32_t opcode { 0 };
    int32_t a { 0 };
    int32_t b { -1 };
};

// The same compiled program as a CFormula, run over kLanes pixels at once: every slot is an array
// of lanes (structure of arrays), and every instruction is one loop over the lanes that the compiler
// vectorises. Copies into temporaries are folded away (each operation reads its operands where they
// are), which changes no bit of any result: every lane computes exactly what CFormula::Run computes.
// Owned by one thread; copy one per thread.
class CBatchFormula {
public:
    CBatchFormula() = default;
    explicit CBatchFormula(const CFormula& formula);
    CBatchFormula(const CBatchFormula& other);
    CBatchFormula& operator=(const CBatchFormula& other);
    CBatchFormula(CBatchFormula&&) noexcept = default;
    CBatchFormula& operator=(CBatchFormula&&) noexcept = default;

    // Runs the program once on every lane; V_LAST_RESULT of each lane holds its value afterwards.
    void Run();

    // The batch slot of a formula slot (a variable's index from FindVariable), or -1.
    int Slot(int formulaSlot) const;
    int ResultSlot() const { return m_nResult; }
    int SlotCount() const { return m_nSlots; }

    // The lanes of a batch slot.
    double* Re(int slot) { return m_values.get() + static_cast<size_t>(slot) * 2 * kLanes; }
    double* Im(int slot) { return m_values.get() + (static_cast<size_t>(slot) * 2 + 1) * kLanes; }
    const double* Re(int slot) const { return m_values.get() + static_cast<size_t>(slot) * 2 * kLanes; }
    const double* Im(int slot) const { return m_values.get() + (static_cast<size_t>(slot) * 2 + 1) * kLanes; }

    void Set(int slot, int lane, Complex value)
    {
        Re(slot)[lane] = value.re;
        Im(slot)[lane] = value.im;
    }
    Complex Get(int slot, int lane) const { return { Re(slot)[lane], Im(slot)[lane] }; }
    // Puts every variable of one lane back to its compiled value: a new pixel starts there.
    void ResetLane(int lane);
    // Stores a value into a variable of every lane's compiled state (V_iter_max, once per render).
    void SetInitial(int slot, Complex value);

    const std::vector<BatchInstruction>& Code() const { return m_code; }

private:
    void Allocate();

    std::vector<BatchInstruction> m_code;
    std::vector<Complex> m_initial;  // every batch slot's value as compiled
    std::vector<int32_t> m_variables; // batch slots that hold variables
    int m_nSlots { 0 };
    int m_nResult { 0 };
    std::vector<int32_t> m_slotOf;   // formula slot -> batch slot, -1 when unused
    std::unique_ptr<double[]> m_values; // m_nSlots x (re lanes, im lanes)
};
