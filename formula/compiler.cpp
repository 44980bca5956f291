#include "formula.h"

#include "lexer.h"
#include "opcodes.h"

#include <string_view>
#include <utility>

namespace {

// Operator precedence relations: row = operator on top of the stack, column = incoming operator,
// both in code order (ORDER OP). '<' shift, '=' close a group, '>' reduce, 'E' syntax error.
constexpr std::string_view kRelNeg = "E>>>>E>>>>>>>><><<<<<<<<<<<<<<<<>";
constexpr std::string_view kRelAdd = "<>><<E>>>>>><<<><<<<<<<<<<<<<<<<>";
constexpr std::string_view kRelMul = "<>>>>E>>>>>><<<><<<<<<<<<<<<<<<<>";
constexpr std::string_view kRelCmp = "<<<<<EEEEEEE<<<><<<<<<<<<<<<<<<<>";
constexpr std::string_view kRelPow = "<>>>>E>>>>>>><<><<<<<<<<<<<<<<<<>";
constexpr std::string_view kRelImag = "E>>>>E>>>>>>>EE>EEEEEEEEEEEEEEEE>";
constexpr std::string_view kRelOpen = "<<<<<E<<<<<<<<<=<<<<<<<<<<<<<<<<E";
constexpr std::string_view kRelNone = "EEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEE";
constexpr std::string_view kRelFunc = "<<<<<EEEEEEE<<<=<<<<<<<<<<<<<<<<E";

constexpr std::string_view kRelations[kOpCount] = {
    kRelNeg,                                                                        // 0 unary -
    kRelAdd, kRelAdd,                                                               // 1 +, 2 binary -
    kRelMul, kRelMul,                                                               // 3 *, 4 /
    kRelCmp, kRelCmp, kRelCmp, kRelCmp, kRelCmp, kRelCmp, kRelCmp,                  // 5 = and the comparisons
    kRelPow,                                                                        // 12 ^
    kRelImag,                                                                       // 13 suffix i
    kRelOpen,                                                                       // 14 (
    kRelNone,                                                                       // 15 )
    kRelFunc, kRelFunc, kRelFunc, kRelFunc, kRelFunc, kRelFunc, kRelFunc, kRelFunc, // 16..31
    kRelFunc, kRelFunc, kRelFunc, kRelFunc, kRelFunc, kRelFunc, kRelFunc, kRelFunc,
    kRelNone, // 32 ;
};

consteval bool AllRowsComplete()
{
    for (std::string_view row : kRelations) {
        if (row.size() != kOpCount) {
            return false;
        }
    }
    return true;
}
static_assert(AllRowsComplete(), "every relation row covers the 33 incoming codes");

constexpr int32_t kSemicolon = OperatorToken(kOpEnd);
constexpr int32_t kAssign = OperatorToken(kOpCopy);

} // namespace

int CFormula::Compile(std::string_view text, std::string& errorMessage)
{
    // Named constants keep their values across a successful recompilation when their names remain.
    std::vector<std::pair<std::string, Complex>> saved;
    saved.reserve(m_nConstantCount);
    for (int k = 0; k < m_nConstantCount; ++k) {
        saved.emplace_back(GetConstantName(k), GetConstant(k));
    }

    m_nVariableCount = m_nConstantCount = m_nScratchCount = m_nInstructionCount = 0;
    std::fill(m_instructions.begin(), m_instructions.end(), Instruction {});
    std::fill(m_values.begin(), m_values.end(), Complex {});
    for (std::string& name : m_names) {
        name.clear();
    }
    m_strText.assign(text);
    m_nResultSlot = AddVariable(kLastResultName, {});

    std::vector<int32_t> tokens;
    tokens.reserve(kMaxTokens);
    int result = CLexer(text, *this).Lex(tokens, errorMessage);
    if (result == kCompileOk && tokens.empty()) {
        result = kErrEmpty;
        errorMessage = CompileMessage(result);
    }
    if (result == kCompileOk && tokens.back() != kSemicolon) {
        if (tokens.size() >= kMaxTokens) {
            result = kErrTempOverflow;
            errorMessage = CompileMessage(result);
        } else {
            tokens.push_back(kSemicolon);
        }
    }
    if (result == kCompileOk) {
        result = Parse(tokens, m_nScratchCount, errorMessage);
    }
    if (result != kCompileOk) {
        m_strText.clear();
        return result;
    }

    for (const auto& [name, value] : saved) {
        SetConstant(FindConstant(name), value);
    }
    return kCompileOk;
}

bool CFormula::Emit(int32_t destination, int32_t opcode, int32_t source)
{
    if (m_nInstructionCount >= kMaxInstructions) {
        return false;
    }
    m_instructions[m_nInstructionCount++] = { destination, opcode, source };
    return true;
}

// Operator-precedence parse generating three-address code directly; temporaries form a stack in the
// scratch area above the literals.
int CFormula::Parse(const std::vector<int32_t>& tokens, int literalCount, std::string& errorMessage)
{
    std::vector<int> operators;
    operators.reserve(tokens.size());
    const int count = static_cast<int>(tokens.size());
    const auto temps = [&] { return m_nScratchCount - literalCount; };
    const auto topTemp = [&] { return kFirstScratchSlot - 1 + m_nScratchCount; };
    const auto fail = [&](int code) {
        errorMessage = CompileMessage(code);
        return code;
    };

    int i = 0;
    while (i < count) {
        // Statement start: "variable =" makes the variable the target.
        int target = m_nResultSlot;
        if (i + 1 < count && tokens[i + 1] == kAssign) {
            if (tokens[i] < 0 || tokens[i] >= kVariableCapacity) {
                return fail(kErrAssignment);
            }
            target = tokens[i];
        }

        bool statementEnded = false;
        while (!statementEnded) {
            const int32_t token = tokens[i];
            if (token >= 0) {
                if (m_nScratchCount >= kScratchCapacity) {
                    return fail(kErrTempOverflow);
                }
                const bool assignmentTarget
                    = token < kVariableCapacity && i + 1 < count && tokens[i + 1] == kAssign;
                if (!assignmentTarget) {
                    if (!Emit(kFirstScratchSlot + m_nScratchCount, kOpCopy, token)) {
                        return fail(kErrInstructionOverflow);
                    }
                    ++m_nScratchCount;
                }
                ++i;
                continue;
            }

            const int code = OperatorCode(token);
            if (operators.empty()) {
                if (code == kOpEnd) {
                    statementEnded = true;
                } else {
                    operators.push_back(code);
                }
                ++i;
                continue;
            }

            const int top = operators.back();
            switch (kRelations[top][code]) {
            case '<':
                operators.push_back(code);
                ++i;
                break;
            case '=':
                operators.pop_back();
                if (IsFunction(top)) {
                    if (temps() < 1) {
                        return fail(kErrMissingData);
                    }
                    if (!Emit(topTemp(), top, -1)) {
                        return fail(kErrInstructionOverflow);
                    }
                }
                ++i;
                break;
            case '>':
                // Reduce the top operator; the same incoming token is examined again.
                operators.pop_back();
                if (top > kOpImag) {
                    return fail(kErrUnknownOperator);
                }
                if (top == kOpNeg || top == kOpImag) {
                    if (temps() < 1) {
                        return fail(kErrMissingData);
                    }
                    if (!Emit(topTemp(), top, -1)) {
                        return fail(kErrInstructionOverflow);
                    }
                } else if (top == kOpCopy) {
                    if (temps() < 1) {
                        return fail(kErrMissingData);
                    }
                    if (temps() > 1) {
                        return fail(kErrSyntax);
                    }
                    if (!Emit(target, kOpCopy, topTemp())) {
                        return fail(kErrInstructionOverflow);
                    }
                    --m_nScratchCount;
                    if (target != m_nResultSlot && !Emit(m_nResultSlot, kOpCopy, target)) {
                        return fail(kErrInstructionOverflow);
                    }
                } else {
                    if (temps() < 2) {
                        return fail(kErrMissingData);
                    }
                    if (!Emit(topTemp() - 1, top, topTemp())) {
                        return fail(kErrInstructionOverflow);
                    }
                    --m_nScratchCount;
                }
                break;
            case 'E': return fail(kErrSyntax);
            default: return fail(kErrInternal);
            }
        }

        // Statement end: one value left becomes the statement's value.
        const int t = temps();
        if (t > 1 || t < 0) {
            return fail(kErrSyntax);
        }
        if (t == 1) {
            if (!Emit(target, kOpCopy, topTemp())) {
                return fail(kErrInstructionOverflow);
            }
            --m_nScratchCount;
        }
    }
    return kCompileOk;
}
