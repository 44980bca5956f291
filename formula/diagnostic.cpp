#include "diagnostic.h"

#include "formula.h"
#include "opcodes.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <optional>

namespace {

// One message per problem, indexed by it: fixed texts like the compile messages, %1 and %2 for
// the quoted texts. ORDER: FormulaProblem.
constexpr const char* kProblemMessages[] = {
    "",                                     // kNone
    "未知的名称“%1”：常量名以 C 开头",      // kUnknownConstantName
    "未知的名称“%1”：变量名以 z 或 V 开头", // kUnknownVariableName
    "未知的函数“%1”",                       // kUnknownFunction
    "函数名“%1”后面要紧跟“(”",              // kFunctionWithoutParen
    "不能使用的字符“%1”",                   // kUnexpectedCharacter
    "“!”后面要跟“=”：不等于写作 !=",        // kLoneExclamation
    "不完整的数“%1”",                       // kIncompleteNumber
    "数后面直接跟着名称：请写作 %2",        // kNumberBeforeName
    "“%1”和“%2”之间缺少运算符",             // kMissingOperator
    "“%1”没有配对的“)”",                    // kUnclosed
    "“)”前面没有配对的“(”",                 // kUnopened
    "运算符“%1”缺少运算数",                 // kMissingOperand
    "“=”后面缺少值",                        // kEmptyAssignment
    "函数“%1)”缺少参数",                    // kEmptyFunction
    "不能给常量“%1”赋值：公式只读取常量",   // kAssignedConstant
    "只能给变量赋值，“%1”不是变量",         // kAssignedNonVariable
    "表达式中间的“=”：相等比较写作 ==",     // kMisplacedAssignment
    "比较“%1”在这里要加括号",               // kBareComparison
    "这里不能出现“%1”",                     // kUnexpected
    "语句留下了不止一个值：缺少运算符",     // kExtraValue
    "记号超过 1024 个",                     // kTooManyTokens
    "数和中间结果超过 1024 个",             // kTooManyValues
    "变量超过 100 个：“%1”",                // kTooManyVariables
    "常量超过 100 个：“%1”",                // kTooManyConstants
    "指令超过 1024 条",                     // kTooManyInstructions
};
static_assert(std::size(kProblemMessages) == static_cast<size_t>(FormulaProblem::kCount));

void ReplaceAll(std::string& text, std::string_view what, std::string_view with)
{
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size())) {
        text.replace(at, what.size(), with);
    }
}

bool IsOperator(int32_t token, int code) { return token < 0 && OperatorCode(token) == code; }
// A token after which a value is complete, and one that begins a value.
bool EndsValue(int32_t t) { return t >= 0 || IsOperator(t, kOpClose) || IsOperator(t, kOpImag); }
bool StartsValue(int32_t t)
{
    return t >= 0 || IsOperator(t, kOpOpen) || (t < 0 && IsFunction(OperatorCode(t)));
}
bool IsComparison(int code) { return code >= kOpEq && code <= kOpNe; }

// Builds diagnostics over one token list.
struct Explainer {
    std::string_view text;
    const std::vector<int32_t>& tokens;
    const std::vector<TokenSpan>& spans;
    const std::vector<std::string>& names;

    bool IsNumber(int k) const
    {
        const int32_t t = tokens[static_cast<size_t>(k)];
        const std::string& name = t >= kFirstScratchSlot ? names[static_cast<size_t>(t)] : std::string();
        return !name.empty()
            && (std::isdigit(static_cast<unsigned char>(name.front())) || name.front() == '.');
    }
    std::string TextOf(int k) const
    {
        const TokenSpan& s = spans[static_cast<size_t>(k)];
        const int32_t t = tokens[static_cast<size_t>(k)];
        return s.length > 0 ? std::string(text.substr(s.offset, s.length))
                            : std::string(t < 0 ? kOpSpellings[OperatorCode(t)] : std::string_view());
    }
    // The place from token first to token last, both included.
    CompileDiagnostic At(
        FormulaProblem problem, int first, int last, std::string quoted, std::string other = {}) const
    {
        const TokenSpan& a = spans[static_cast<size_t>(first)];
        const TokenSpan& b = spans[static_cast<size_t>(last)];
        return { problem, a.offset, b.offset + b.length - a.offset, 0, 0, std::move(quoted),
            std::move(other) };
    }
    CompileDiagnostic At(FormulaProblem problem, int k) const { return At(problem, k, k, TextOf(k)); }
    // Two values side by side in the statement from first: the usual cause of a statement that leaves
    // more than one value. Never an error by itself: "z z +;" compiles.
    std::optional<CompileDiagnostic> SideBySide(int first) const
    {
        for (int k = first; k + 1 < static_cast<int>(tokens.size()) && !IsOperator(tokens[k], kOpEnd); ++k) {
            if (!EndsValue(tokens[k]) || !StartsValue(tokens[k + 1])) {
                continue;
            }
            if (IsNumber(k) && !IsNumber(k + 1)) {
                return At(FormulaProblem::kNumberBeforeName, k, k + 1, {}, TextOf(k) + " * " + TextOf(k + 1));
            }
            return At(FormulaProblem::kMissingOperator, k, k + 1, TextOf(k), TextOf(k + 1));
        }
        return std::nullopt;
    }
    // The precedence matrix refused the incoming token at k with the operator at top on the stack.
    CompileDiagnostic Refused(int top, int k) const
    {
        const int topCode = OperatorCode(tokens[static_cast<size_t>(top)]);
        const int code = OperatorCode(tokens[static_cast<size_t>(k)]);
        if (topCode == kOpClose) {
            return At(FormulaProblem::kUnopened, top);
        }
        if (code == kOpEnd && (topCode == kOpOpen || IsFunction(topCode))) {
            return At(FormulaProblem::kUnclosed, top);
        }
        if (code == kOpCopy) {
            return At(FormulaProblem::kMisplacedAssignment, k);
        }
        if (IsComparison(code) && (topCode == kOpCopy || IsComparison(topCode) || IsFunction(topCode))) {
            return At(FormulaProblem::kBareComparison, k);
        }
        return At(FormulaProblem::kUnexpected, k);
    }
};

} // namespace

const char* ProblemMessage(FormulaProblem problem)
{
    const auto index = static_cast<size_t>(problem);
    return index < std::size(kProblemMessages) ? kProblemMessages[index] : "";
}

std::string DescribeProblem(const CompileDiagnostic& diagnostic)
{
    std::string message = ProblemMessage(diagnostic.problem);
    // %2 first: the texts put in may hold "%1" themselves.
    ReplaceAll(message, "%2", diagnostic.other);
    ReplaceAll(message, "%1", diagnostic.text);
    return message;
}

void LineAndColumn(std::string_view text, size_t offset, int& line, int& column)
{
    line = 1;
    column = 1;
    for (size_t k = 0; k < offset && k < text.size(); ++k) {
        const auto c = static_cast<unsigned char>(text[k]);
        if (c == '\n') {
            ++line;
            column = 1;
        } else if ((c & 0xc0) != 0x80) {
            ++column; // a UTF-8 sequence counts at its first byte
        }
    }
}

CompileDiagnostic DiagnoseParse(int code, std::string_view text, const std::vector<int32_t>& tokens,
    const std::vector<TokenSpan>& spans, const ParseFailure& failure,
    const std::vector<std::string>& slotNames)
{
    const Explainer explain { text, tokens, spans, slotNames };
    const int last = static_cast<int>(tokens.size()) - 1;
    const int k = std::clamp(failure.token, 0, last);
    const int op = failure.operatorToken >= 0 ? std::min(failure.operatorToken, last) : k;
    switch (code) {
    case kErrAssignment: {
        const int32_t t = tokens[static_cast<size_t>(k)];
        return explain.At(t >= kFirstConstantSlot && t < kFirstScratchSlot
                ? FormulaProblem::kAssignedConstant
                : FormulaProblem::kAssignedNonVariable,
            k);
    }
    case kErrSyntax:
        if (const std::optional<CompileDiagnostic> pair = explain.SideBySide(failure.statementStart)) {
            return *pair;
        }
        if (!failure.reducing && failure.operatorToken >= 0) {
            return explain.Refused(op, k);
        }
        return explain.At(FormulaProblem::kExtraValue, failure.statementStart, k,
            std::string(text.substr(spans[static_cast<size_t>(failure.statementStart)].offset,
                spans[static_cast<size_t>(k)].offset
                    - spans[static_cast<size_t>(failure.statementStart)].offset)));
    case kErrMissingData: {
        const int opCode
            = tokens[static_cast<size_t>(op)] < 0 ? OperatorCode(tokens[static_cast<size_t>(op)]) : -1;
        return explain.At(opCode == kOpCopy ? FormulaProblem::kEmptyAssignment
                : IsFunction(opCode)        ? FormulaProblem::kEmptyFunction
                                            : FormulaProblem::kMissingOperand,
            op);
    }
    case kErrTempOverflow: return explain.At(FormulaProblem::kTooManyValues, k);
    case kErrInstructionOverflow: return explain.At(FormulaProblem::kTooManyInstructions, k);
    default: return explain.At(FormulaProblem::kUnexpected, k);
    }
}
