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

int CFormula::Compile(std::string_view text, std::string& errorMessage, CompileDiagnostic* diagnostic)
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
    CLexer lexer(text, *this);
    int result = lexer.Lex(tokens, errorMessage);
    CompileDiagnostic found = lexer.Diagnostic();
    std::vector<TokenSpan> spans = lexer.Spans();
    if (result == kCompileOk && tokens.empty()) {
        result = kErrEmpty;
        errorMessage = CompileMessage(result);
    }
    if (result == kCompileOk && tokens.back() != kSemicolon) {
        if (tokens.size() >= kMaxTokens) {
            result = kErrTempOverflow;
            errorMessage = CompileMessage(result);
            found = {};
            found.problem = FormulaProblem::kTooManyTokens;
            found.offset = spans.back().offset;
            found.length = spans.back().length;
            found.text.assign(text.substr(found.offset, found.length));
        } else {
            tokens.push_back(kSemicolon);
            spans.push_back({ text.size(), 0 });
        }
    }
    if (result == kCompileOk) {
        ParseFailure failure;
        result = Parse(tokens, m_nScratchCount, errorMessage, failure);
        if (result != kCompileOk && diagnostic != nullptr) {
            found = DiagnoseParse(result, text, tokens, spans, failure, m_names);
        }
    }
    if (result != kCompileOk) {
        if (diagnostic != nullptr) {
            *diagnostic = std::move(found);
            if (diagnostic->problem != FormulaProblem::kNone) {
                LineAndColumn(text, diagnostic->offset, diagnostic->line, diagnostic->column);
            }
        }
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
int CFormula::Parse(
    const std::vector<int32_t>& tokens, int literalCount, std::string& errorMessage, ParseFailure& failure)
{
    std::vector<StackedOperator> operators;
    operators.reserve(tokens.size());
    const int count = static_cast<int>(tokens.size());

    int i = 0;
    int result = kCompileOk;
    while (i < count && result == kCompileOk) {
        failure.statementStart = i;
        // Statement start: "variable =" makes the variable the target.
        int32_t target = m_nResultSlot;
        if (i + 1 < count && tokens[i + 1] == kAssign) {
            if (tokens[i] < 0 || tokens[i] >= kVariableCapacity) {
                result = kErrAssignment;
                failure.token = i;
                break;
            }
            target = tokens[i];
        }
        result = ParseStatement(tokens, i, target, operators, literalCount, failure);
        if (result == kCompileOk) {
            result = EndStatement(target, literalCount);
            failure.token = i - 1; // the statement's ";"
            failure.reducing = true;
        }
    }
    if (result != kCompileOk) {
        errorMessage = CompileMessage(result);
    }
    return result;
}

// One statement up to and including its ";": i moves past it.
int CFormula::ParseStatement(const std::vector<int32_t>& tokens, int& i, int32_t target,
    std::vector<StackedOperator>& operators, int literalCount, ParseFailure& failure)
{
    const auto fail = [&](int result, int operatorToken, bool reducing) {
        failure.token = i;
        failure.operatorToken = operatorToken;
        failure.reducing = reducing;
        return result;
    };
    while (true) {
        const int32_t token = tokens[i];
        if (token >= 0) {
            if (const int result = PushOperand(tokens, i); result != kCompileOk) {
                return fail(result, -1, false);
            }
            ++i;
            continue;
        }

        const int code = OperatorCode(token);
        if (operators.empty()) {
            if (code == kOpEnd) {
                ++i;
                return kCompileOk;
            }
            operators.push_back({ code, i });
            ++i;
            continue;
        }

        const StackedOperator top = operators.back();
        switch (kRelations[top.code][code]) {
        case '<':
            operators.push_back({ code, i });
            ++i;
            break;
        case '=':
            // A ")" closes its group; a function's group yields the function of its value.
            operators.pop_back();
            if (IsFunction(top.code)) {
                if (const int result = ReduceUnary(top.code, literalCount); result != kCompileOk) {
                    return fail(result, top.token, true);
                }
            }
            ++i;
            break;
        case '>':
            // Reduce the top operator; the same incoming token is examined again.
            operators.pop_back();
            if (const int result = Reduce(top.code, target, literalCount); result != kCompileOk) {
                return fail(result, top.token, true);
            }
            break;
        case 'E': return fail(kErrSyntax, top.token, false);
        default: return fail(kErrInternal, top.token, false);
        }
    }
}

// An operand is copied onto the temporary stack, except the variable that an "=" follows: it is the target.
int CFormula::PushOperand(const std::vector<int32_t>& tokens, int i)
{
    const int32_t token = tokens[i];
    if (m_nScratchCount >= kScratchCapacity) {
        return kErrTempOverflow;
    }
    const int count = static_cast<int>(tokens.size());
    const bool assignmentTarget = token < kVariableCapacity && i + 1 < count && tokens[i + 1] == kAssign;
    if (!assignmentTarget) {
        if (!Emit(kFirstScratchSlot + m_nScratchCount, kOpCopy, token)) {
            return kErrInstructionOverflow;
        }
        ++m_nScratchCount;
    }
    return kCompileOk;
}

int CFormula::Reduce(int op, int32_t target, int literalCount)
{
    if (op > kOpImag) {
        return kErrUnknownOperator;
    }
    if (op == kOpNeg || op == kOpImag) {
        return ReduceUnary(op, literalCount);
    }
    if (op == kOpCopy) {
        if (TempCount(literalCount) < 1) {
            return kErrMissingData;
        }
        if (TempCount(literalCount) > 1) {
            return kErrSyntax;
        }
        if (!Emit(target, kOpCopy, TopTemp())) {
            return kErrInstructionOverflow;
        }
        --m_nScratchCount;
        if (target != m_nResultSlot && !Emit(m_nResultSlot, kOpCopy, target)) {
            return kErrInstructionOverflow;
        }
        return kCompileOk;
    }
    if (TempCount(literalCount) < 2) {
        return kErrMissingData;
    }
    if (!Emit(TopTemp() - 1, op, TopTemp())) {
        return kErrInstructionOverflow;
    }
    --m_nScratchCount;
    return kCompileOk;
}

// Unary minus, suffix i and the functions work on the top temporary in place.
int CFormula::ReduceUnary(int op, int literalCount)
{
    if (TempCount(literalCount) < 1) {
        return kErrMissingData;
    }
    return Emit(TopTemp(), op, -1) ? kCompileOk : kErrInstructionOverflow;
}

// Statement end: one value left becomes the statement's value.
int CFormula::EndStatement(int32_t target, int literalCount)
{
    const int t = TempCount(literalCount);
    if (t > 1 || t < 0) {
        return kErrSyntax;
    }
    if (t == 1) {
        if (!Emit(target, kOpCopy, TopTemp())) {
            return kErrInstructionOverflow;
        }
        --m_nScratchCount;
    }
    return kCompileOk;
}
