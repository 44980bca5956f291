#pragma once

#include "batchtypes.h"
#include "formula.h"

#include <cstdint>
#include <string>
#include <vector>

// The passes that turn a CFormula's program into a batch program, in the order CBatchFormula runs
// them. None changes a bit of any result: each only decides where a value is kept. Each pass is a
// function of its own so that tests can hold it to golden rows (formula -> exact program).

// A batch program while it is compiled. Until CompactSlots its slots are the formula's.
struct BatchDraft {
    std::vector<BatchInstruction> code;
    int32_t result { 0 };      // the slot that holds the formula's value after a run
    int32_t resetSlot { 0 };   // V_LAST_RESULT, set to 0 at the start of a run
    bool resetResult { true }; // whether that reset can be observed
};

// Pass 1, copy folding: a copy into a temporary only records where the value is, and the operation
// that reads the temporary reads that slot instead. A temporary's value is made real (copied)
// before the slot it stands for is overwritten. Unary and binary operations keep their order.
BatchDraft FoldCopies(const CFormula& formula);

// Pass 2, folding into targets: a temporary computed and then only copied into its target is
// computed straight into the target.
void FoldIntoTargets(BatchDraft& draft, int32_t firstTemporary);

// Pass 3, result remapping: a final copy of a variable into V_LAST_RESULT goes, and the value is
// read from the variable itself; the reset of V_LAST_RESULT stays only where it can be observed.
void RemapResult(BatchDraft& draft);

// The compact slot numbering of a batch program, and what a new pixel starts from.
struct BatchSlots {
    std::vector<int32_t> slotOf;    // formula slot -> batch slot, -1 when unused
    std::vector<Complex> initial;   // every batch slot's value as compiled
    std::vector<int32_t> variables; // batch slots of the variables a run can change
    int32_t count { 0 };
};

// Pass 4, slot compaction: numbers the slots the program uses (every variable, the result and what
// the code touches) from 0, and renumbers the draft to them.
BatchSlots CompactSlots(BatchDraft& draft, const CFormula& formula);

// Pass 5, real-only parts: marks the operations whose imaginary part nothing reads. Variables keep
// both parts (the next run reads them); the value keeps its imaginary part when resultImaginaryRead.
void MarkRealOnly(
    BatchDraft& draft, const BatchSlots& slots, const CFormula& formula, bool resultImaginaryRead);

// Pass 6, whole powers: a power whose exponent is a literal or named constant with a whole value
// becomes kBatchOpPowWhole, the scalar path's multiplications done over vectors.
void MarkWholePowers(BatchDraft& draft, const BatchSlots& slots, const CFormula& formula);

// "(dest,op,a,b) (dest,op,a) ... -> result", with "r" after an operation that computes its real
// part only, "^n" after a whole power and "reset R; " first when the reset of V_LAST_RESULT stays: the golden
// form.
std::string DumpBatchProgram(const BatchDraft& draft);
