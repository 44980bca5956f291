#pragma once

#include "complex.h"
#include "diagnostic.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One three-address instruction: destination = destination OP source (unary codes use -1 as source).
struct Instruction {
    int32_t destination { 0 };
    int32_t opcode { 0 };
    int32_t source { 0 };
};

// Slot layout: variables, then named constants, then the scratch area (literals, then temporaries).
constexpr int kVariableCapacity = 100;
constexpr int kConstantCapacity = 100;
constexpr int kScratchCapacity = 1024;
constexpr int kFirstConstantSlot = kVariableCapacity;
constexpr int kFirstScratchSlot = kFirstConstantSlot + kConstantCapacity;
constexpr int kSlotCount = kFirstScratchSlot + kScratchCapacity;
static_assert(kSlotCount == 1224);
constexpr int kMaxTokens = 1024;
constexpr int kMaxInstructions = 1024;

// Compile's result codes; each has one message (code 3 has two, for variables and for constants).
enum CompileResult : int {
    kCompileOk = 0,
    kErrTempOverflow = 1,
    kErrIllegalChar = 2,
    kErrTableOverflow = 3,
    kErrMissingData = 4,
    kErrUnknownOperator = 5,
    kErrSyntax = 6,
    kErrInternal = 7,
    kErrAssignment = 8,
    kErrInstructionOverflow = 9,
    kErrEmpty = 10,
};

// The message of a result code; code 3 gives the variable message, see kMsgConstantOverflow.
const char* CompileMessage(int code);
inline constexpr const char* kMsgVariableOverflow = "变量溢出";
inline constexpr const char* kMsgConstantOverflow = "常量溢出";

// The name of the variable that holds a formula's value; always slot 0.
inline constexpr std::string_view kLastResultName = "V_LAST_RESULT";

// One compiled formula: 1224 complex slots with their names and up to 1024 instructions.
// Copied by value; a copy runs independently. Used by one thread at a time: Run writes its slots.
class CFormula {
public:
    CFormula();

    // Rebuilds the formula from text; 0 on success, else a code 1 to 10 with its message in
    // errorMessage (untouched on success). Named constants that survive keep their values. On failure
    // diagnostic, when given, says where and what; the code and the message are the same without it.
    int Compile(std::string_view text, std::string& errorMessage, CompileDiagnostic* diagnostic = nullptr);

    // Executes the program once and returns V_LAST_RESULT. The inner loop of every render.
    Complex Run();

    int FindVariable(std::string_view name) const;
    bool SetVariable(int index, Complex value);
    Complex GetVariable(int index) const;
    int GetVariableCount() const { return m_nVariableCount; }
    // Stores GetVariableCount() values, saved earlier from GetSlots() of the same program, back into
    // the variables: the renderer starts every pixel from the same state.
    void ResetVariables(const Complex* values) { std::copy_n(values, m_nVariableCount, m_values.data()); }

    int FindConstant(std::string_view name) const;
    int GetConstantCount() const { return m_nConstantCount; }
    std::string GetConstantName(int k) const;
    Complex GetConstant(int k) const;
    bool SetConstant(int k, Complex value);

    const std::string& GetText() const { return m_strText; }

    // The program and its slots, for the batched evaluator, tools and tests.
    int GetInstructionCount() const { return m_nInstructionCount; }
    const Instruction* GetInstructions() const { return m_instructions.data(); }
    int GetResultSlot() const { return m_nResultSlot; }
    int GetScratchCount() const { return m_nScratchCount; }
    const Complex* GetSlots() const { return m_values.data(); }
    const std::string& GetSlotName(int slot) const { return m_names[slot]; }

    // Golden: "(dest,op,src) (dest,op,src) ...", the form of the compiler tests. Lines: one
    // "dest op src" a line, as the tool prints a program.
    enum class DumpLayout { Golden, Lines };
    std::string Dump(DumpLayout layout = DumpLayout::Golden) const;
    // True when every instruction reads and writes only valid slots: what Run relies on unchecked.
    bool Verify() const;

private:
    friend class CLexer;
    friend class CTangentBuilder; // writes the derived program of tangent.h

    // Table entries: the slot within its area, an existing entry for a known name, -1 when full.
    int AddVariable(std::string_view name, Complex value);
    int AddConstant(std::string_view name, Complex value);
    int AddLiteral(std::string_view name, Complex value);
    int AddEntry(int firstSlot, int capacity, int& count, std::string_view name, Complex value);

    int Parse(const std::vector<int32_t>& tokens, int literalCount, std::string& errorMessage,
        ParseFailure& failure);
    // Parse's steps return 0 or an error code; Parse alone turns the code into the message. The
    // operators' stack keeps each operator's token beside it, for the failure's place.
    struct StackedOperator {
        int code;
        int token;
    };
    int ParseStatement(const std::vector<int32_t>& tokens, int& i, int32_t target,
        std::vector<StackedOperator>& operators, int literalCount, ParseFailure& failure);
    int PushOperand(const std::vector<int32_t>& tokens, int i);
    int Reduce(int op, int32_t target, int literalCount);
    int ReduceUnary(int op, int literalCount);
    int EndStatement(int32_t target, int literalCount);
    bool Emit(int32_t destination, int32_t opcode, int32_t source);
    // Temporaries form a stack in the scratch area above the literals.
    int TempCount(int literalCount) const { return m_nScratchCount - literalCount; }
    int32_t TopTemp() const { return kFirstScratchSlot - 1 + m_nScratchCount; }

    std::string m_strText;
    std::vector<Complex> m_values;
    std::vector<std::string> m_names;
    int m_nVariableCount { 0 };
    int m_nConstantCount { 0 };
    int m_nScratchCount { 0 };
    int m_nResultSlot { 0 };
    std::vector<Instruction> m_instructions;
    int m_nInstructionCount { 0 };
};

// The text with each variable or named constant called renames[k].first renamed renames[k].second,
// names read as the compiler reads them; everything else as it was. Nothing when the text does not lex.
std::optional<std::string> RenameFormulaNames(
    std::string_view text, const std::vector<std::pair<std::string, std::string>>& renames);
