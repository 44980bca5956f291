#include "batchcompile.h"

#include "opcodes.h"

#include <algorithm>
#include <cmath>

namespace {

bool IsUnary(int op) { return op == kOpNeg || op == kOpImag || IsFunction(op); }
bool IsBinary(int op) { return op >= kOpAdd && op <= kOpPow && op != kOpCopy; }

bool Reads(const std::vector<BatchInstruction>& code, int32_t slot)
{
    return std::any_of(
        code.begin(), code.end(), [slot](const BatchInstruction& x) { return x.a == slot || x.b == slot; });
}

bool Writes(const std::vector<BatchInstruction>& code, int32_t slot)
{
    return std::any_of(
        code.begin(), code.end(), [slot](const BatchInstruction& x) { return x.dest == slot; });
}

// Whether an instruction from `from` on reads the slot before something writes it again.
bool ReadsBeforeWrite(const std::vector<BatchInstruction>& code, size_t from, int32_t slot)
{
    for (size_t k = from; k < code.size(); ++k) {
        if (code[k].a == slot || code[k].b == slot) {
            return true;
        }
        if (code[k].dest == slot) {
            return false;
        }
    }
    return false;
}

} // namespace

BatchDraft FoldCopies(const CFormula& formula)
{
    const int32_t firstTemporary = kFirstScratchSlot + formula.GetScratchCount();
    std::vector<int32_t> alias(kSlotCount);
    for (int32_t s = 0; s < kSlotCount; ++s) {
        alias[s] = s;
    }
    BatchDraft draft;
    draft.result = draft.resetSlot = formula.GetResultSlot();
    std::vector<BatchInstruction>& code = draft.code;
    // Only temporaries up to the highest one ever aliased can alias: the scan stops there (formulas
    // use a few of the slots, and this runs before every render).
    int32_t aliasedEnd = firstTemporary;
    const auto beforeWrite = [&](int32_t slot) {
        for (int32_t t = firstTemporary; t < aliasedEnd; ++t) {
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
                aliasedEnd = std::max(aliasedEnd, x.destination + 1);
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
    return draft;
}

void FoldIntoTargets(BatchDraft& draft, int32_t firstTemporary)
{
    // Temporaries never outlive their statement, so the one copy is the temporary's last reader.
    std::vector<BatchInstruction>& code = draft.code;
    for (size_t k = 1; k < code.size(); ++k) {
        BatchInstruction& copy = code[k];
        BatchInstruction& producer = code[k - 1];
        if (copy.opcode == kOpCopy && copy.a >= firstTemporary && producer.dest == copy.a
            && !ReadsBeforeWrite(code, k + 1, copy.a)) {
            producer.dest = copy.dest;
            copy.opcode = -1; // removed below
        }
    }
    std::erase_if(code, [](const BatchInstruction& x) { return x.opcode < 0; });
}

void RemapResult(BatchDraft& draft)
{
    std::vector<BatchInstruction>& code = draft.code;
    const int32_t lastResult = draft.resetSlot;
    if (!code.empty() && code.back().opcode == kOpCopy && code.back().dest == lastResult
        && !Reads(code, lastResult)) {
        draft.result = code.back().a;
        code.pop_back();
    }
    // The reset is observed when something reads V_LAST_RESULT before its last write, or when
    // nothing writes it and it is the value.
    draft.resetResult = Reads(code, lastResult) || (!Writes(code, lastResult) && draft.result == lastResult);
}

BatchSlots CompactSlots(BatchDraft& draft, const CFormula& formula)
{
    BatchSlots slots;
    slots.slotOf.assign(kSlotCount, -1);
    const auto use = [&slots](int32_t slot) {
        if (slot >= 0 && slots.slotOf[slot] < 0) {
            slots.slotOf[slot] = slots.count++;
            slots.initial.push_back(Complex {});
        }
    };
    const std::vector<BatchInstruction>& code = draft.code;
    for (int32_t s = 0; s < formula.GetVariableCount(); ++s) {
        use(s);
        // Only what the program writes can differ from its compiled value when a pixel ends.
        const bool unreadResult = s == draft.resetSlot && !draft.resetResult && !Reads(code, s);
        if (Writes(code, s) && !unreadResult) {
            slots.variables.push_back(slots.slotOf[s]);
        }
    }
    use(draft.resetSlot);
    use(draft.result);
    for (const BatchInstruction& x : code) {
        use(x.dest);
        use(x.a);
        use(x.b);
    }
    const Complex* values = formula.GetSlots();
    for (int32_t s = 0; s < kSlotCount; ++s) {
        if (slots.slotOf[s] >= 0) {
            slots.initial[slots.slotOf[s]] = values[s];
        }
    }
    for (BatchInstruction& x : draft.code) {
        x = { slots.slotOf[x.dest], x.opcode, slots.slotOf[x.a], x.b >= 0 ? slots.slotOf[x.b] : -1 };
    }
    draft.result = slots.slotOf[draft.result];
    draft.resetSlot = slots.slotOf[draft.resetSlot];
    return slots;
}

void MarkRealOnly(
    BatchDraft& draft, const BatchSlots& slots, const CFormula& formula, bool resultImaginaryRead)
{
    // Backwards through the program: which parts of which slots are still read.
    std::vector<char> liveRe(slots.count, 0);
    std::vector<char> liveIm(slots.count, 0);
    for (int32_t variable = 0; variable < formula.GetVariableCount(); ++variable) {
        if (const int32_t s = slots.slotOf[variable]; s >= 0 && variable != formula.GetResultSlot()) {
            liveRe[s] = liveIm[s] = 1;
        }
    }
    liveRe[draft.result] = 1;
    liveIm[draft.result] = liveIm[draft.result] || resultImaginaryRead;
    for (auto x = draft.code.rbegin(); x != draft.code.rend(); ++x) {
        const bool needRe = liveRe[x->dest];
        const bool needIm = liveIm[x->dest];
        // The real part of these needs only the real parts (or, for imag, the imaginary part) of
        // the operands, or their imaginary part is a constant 0.
        const RealForm part = kOpTraits[x->opcode].realForm;
        const bool perPart = part == RealForm::PerPart; // re from re, im from im
        const bool realResult = part != RealForm::Whole && part != RealForm::Swapped;
        x->realOnly = (!needIm && realResult) ? 1 : 0;
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
        } else if (part == RealForm::FromRe) {
            use(x->a, true, false);
        } else if (part == RealForm::FromIm) {
            use(x->a, false, true);
        } else if (part == RealForm::Swapped) {
            use(x->a, needIm, needRe);
        } else {
            use(x->a, true, true);
            use(x->b, true, true);
        }
    }
}

void MarkWholePowers(BatchDraft& draft, const BatchSlots& slots, const CFormula& formula)
{
    for (BatchInstruction& x : draft.code) {
        // Variables come first in the compact numbering; above them, what the program never writes
        // keeps its compiled value in every lane.
        if (x.opcode != kOpPow || x.b < formula.GetVariableCount() || Writes(draft.code, x.b)) {
            continue;
        }
        const Complex e = slots.initial[x.b];
        if (e.im == 0.0 && std::floor(e.re) == e.re) {
            x.opcode = kBatchOpPowWhole;
            x.exponent = SaturateExponent(e.re);
        }
    }
}

std::string DumpBatchProgram(const BatchDraft& draft)
{
    std::string out;
    if (draft.resetResult) {
        out += "reset " + std::to_string(draft.resetSlot) + "; ";
    }
    for (const BatchInstruction& x : draft.code) {
        out += '(' + std::to_string(x.dest) + ',' + std::to_string(x.opcode) + ',' + std::to_string(x.a);
        if (x.b >= 0) {
            out += ',' + std::to_string(x.b);
        }
        out += x.realOnly ? ")r" : ")";
        if (x.opcode == kBatchOpPowWhole) {
            out += '^' + std::to_string(x.exponent);
        }
        out += ' ';
    }
    return out + "-> " + std::to_string(draft.result);
}
