#include "lexer.h"

#include "opcodes.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <numbers>

namespace {

// The number state machine. A character at position k of a state's set leads to the state named
// by letter k of its next-state string; any other character and the end of the text lead to 'A'.
struct LexState {
    std::string_view set;
    std::string_view next;
};
// ORDER: states 'A' to 'H'.
constexpr LexState kStates[] = {
    { "0123456789+-*/()=^i;<>! \t\r\n", "BBBBBBBBBBHHHHHHHHHHHHHAAAA" }, // A between tokens
    { "0123456789.e", "BBBBBBBBBBCEA" },                                 // B integer digits
    { "0123456789", "DDDDDDDDDDA" },                                     // C after the point
    { "0123456789e", "DDDDDDDDDDEA" },                                   // D fraction digits
    { "0123456789-", "FFFFFFFFFFGA" },                                   // E after "e"
    { "0123456789", "FFFFFFFFFFA" },                                     // F exponent digits
    { "0123456789", "FFFFFFFFFFA" },                                     // G after "e-"
    { "", "A" },                                                         // H after an operator
};

constexpr std::string_view kIdentifierAlphabet
    = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_";

char NextState(char state, char c, bool atEnd)
{
    const LexState& s = kStates[state - 'A'];
    const size_t k = atEnd ? std::string_view::npos : s.set.find(c);
    return k == std::string_view::npos ? 'A' : s.next[k];
}

bool InSetA(char c) { return kStates[0].set.find(c) != std::string_view::npos; }

// The function whose spelling (with its "(") begins the text at pos, tried in code order; 0 if none.
int MatchFunction(std::string_view text, size_t pos)
{
    const std::string_view rest = text.substr(pos);
    for (int code = kFirstFunction; code <= kLastFunction; ++code) {
        if (rest.starts_with(kOpSpellings[code])) {
            return code;
        }
    }
    return 0;
}

bool IsOperandOrClose(const std::vector<int32_t>& tokens)
{
    return !tokens.empty() && (tokens.back() >= 0 || tokens.back() == OperatorToken(kOpClose));
}

} // namespace

namespace {

// The value of a number literal, built digit by digit in text order: the order of the operations
// fixes the double that "0.3" becomes, so it must not change.
struct NumberValue {
    double mantissa { 0.0 };
    double fraction { 1.0 };
    double exponent { 0.0 };
    double exponentSign { 1.0 };

    // Takes the character c just read in number state s ('B' to 'G').
    void Take(char s, char c)
    {
        switch (s) {
        case 'B': mantissa = mantissa * 10.0 + (c - '0'); break;
        case 'D':
            fraction = fraction * 0.1;
            mantissa = mantissa + (c - '0') * fraction;
            break;
        case 'F': exponent = exponent * 10.0 + (c - '0'); break;
        case 'G': exponentSign = -1.0; break;
        default: break; // C and E only mark the "." and the "e"
        }
    }

    // A number may not end right after its ".", "e" or "e-": '2e+5' must not become 5.
    static bool CanEnd(char s) { return s == 'B' || s == 'D' || s == 'F'; }

    double Value(char s) const
    {
        return s == 'F' ? mantissa * PowerOfTen(exponentSign * exponent) : mantissa;
    }

    // 10^e for a whole e, each rounded once (as the C library's pow gives them, without calling it).
    static double PowerOfTen(double e)
    {
        static constexpr double kPowers[] = {
#include "powersoften.inc"
        };
        if (e > 308.0) {
            return std::numeric_limits<double>::infinity();
        }
        return e < -323.0 ? 0.0 : kPowers[static_cast<int>(e) + 323];
    }
};

} // namespace

int CLexer::Fail(int code, FormulaProblem problem, size_t offset, size_t length)
{
    m_diagnostic.problem = problem;
    m_diagnostic.offset = std::min(offset, m_text.size());
    m_diagnostic.length = std::min(length, m_text.size() - m_diagnostic.offset);
    m_diagnostic.text.assign(m_text.substr(m_diagnostic.offset, m_diagnostic.length));
    return code;
}

int CLexer::Append(std::vector<int32_t>& tokens, int32_t token, size_t offset, size_t length)
{
    if (tokens.size() >= kMaxTokens) {
        return Fail(kErrTempOverflow, FormulaProblem::kTooManyTokens, offset, length);
    }
    tokens.push_back(token);
    m_spans.push_back({ offset, length });
    return kCompileOk;
}

int CLexer::AppendLiteral(
    std::vector<int32_t>& tokens, std::string_view name, Complex value, size_t offset, size_t length)
{
    if (tokens.size() >= kMaxTokens) {
        return Fail(kErrTempOverflow, FormulaProblem::kTooManyTokens, offset, length);
    }
    const int slot = m_formula.AddLiteral(name, value);
    if (slot < 0) {
        return Fail(kErrTempOverflow, FormulaProblem::kTooManyValues, offset, length);
    }
    return Append(tokens, kFirstScratchSlot + slot, offset, length);
}

int CLexer::UnknownWord(size_t pos)
{
    const auto isLetter = [](char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; };
    const char c = m_text[pos];
    if (kIdentifierAlphabet.find(c) == std::string_view::npos) {
        // One character, the whole of it when it is a UTF-8 sequence ("（" is three bytes).
        size_t end = pos + 1;
        while (end < m_text.size() && (static_cast<unsigned char>(m_text[end]) & 0xc0) == 0x80) {
            ++end;
        }
        return Fail(kErrIllegalChar, FormulaProblem::kUnexpectedCharacter, pos, end - pos);
    }
    // The whole word, letters before pos included: "exp2" fails at its "x", after "e" was taken.
    size_t start = pos;
    while (start > 0 && isLetter(m_text[start - 1])) {
        --start;
    }
    size_t end = m_text.find_first_not_of(kIdentifierAlphabet, pos);
    end = end == std::string_view::npos ? m_text.size() : end;
    const std::string_view word = m_text.substr(start, end - start);
    for (int code = kFirstFunction; code <= kLastFunction; ++code) {
        if (kOpSpellings[code].substr(0, kOpSpellings[code].size() - 1) == word) {
            return Fail(kErrIllegalChar, FormulaProblem::kFunctionWithoutParen, start, end - start);
        }
    }
    const size_t next = m_text.find_first_not_of(" \t", end);
    if (next != std::string_view::npos && m_text[next] == '(') {
        return Fail(kErrIllegalChar, FormulaProblem::kUnknownFunction, start, end - start);
    }
    const bool upper = std::isupper(static_cast<unsigned char>(word.front()));
    return Fail(kErrIllegalChar,
        upper ? FormulaProblem::kUnknownConstantName : FormulaProblem::kUnknownVariableName, start,
        end - start);
}

// A character outside the set of state A starts a name, a function, "e" or "pi"; pos moves past it.
int CLexer::ReadWord(std::vector<int32_t>& tokens, size_t& pos)
{
    const char c = m_text[pos];
    if (c == 'z' || c == 'V' || c == 'C') {
        size_t end = m_text.find_first_not_of(kIdentifierAlphabet, pos + 1);
        if (end == std::string_view::npos) {
            end = m_text.size();
        }
        const size_t start = pos;
        const std::string_view name = m_text.substr(pos, end - pos);
        pos = end;
        if (c == 'C') {
            const int k = m_formula.AddConstant(name, {});
            m_bConstantOverflow = k < 0;
            return k < 0 ? Fail(kErrTableOverflow, FormulaProblem::kTooManyConstants, start, name.size())
                         : Append(tokens, kFirstConstantSlot + k, start, name.size());
        }
        const int slot = m_formula.AddVariable(name, {});
        return slot < 0 ? Fail(kErrTableOverflow, FormulaProblem::kTooManyVariables, start, name.size())
                        : Append(tokens, slot, start, name.size());
    }
    if (const int code = MatchFunction(m_text, pos)) {
        pos += kOpSpellings[code].size();
        return Append(
            tokens, OperatorToken(code), pos - kOpSpellings[code].size(), kOpSpellings[code].size());
    }
    if (c == 'e') {
        pos += 1;
        return AppendLiteral(tokens, "e", { std::numbers::e, 0.0 }, pos - 1, 1);
    }
    if (m_text.substr(pos).starts_with("pi")) {
        pos += 2;
        return AppendLiteral(tokens, "pi", { std::numbers::pi, 0.0 }, pos - 2, 2);
    }
    return UnknownWord(pos);
}

// State H: op is the operator character just read (at offset at), next the character after it.
int CLexer::ReadOperator(std::vector<int32_t>& tokens, size_t at, char op, char next, bool& consumedNext)
{
    consumedNext = false;
    if (op == '!') {
        // A "!" that does not start "!=" is no operator at all.
        if (next != '=') {
            return Fail(kErrIllegalChar, FormulaProblem::kLoneExclamation, at, 1);
        }
        consumedNext = true;
        return Append(tokens, OperatorToken(kOpNe), at, 2);
    }
    int code = 0;
    while (kOpSpellings[code].size() != 1 || kOpSpellings[code][0] != op) {
        ++code; // First match in code order, so "-" finds the unary minus.
    }
    const bool afterOperand = IsOperandOrClose(tokens);
    if (code == kOpNeg && afterOperand) {
        code = kOpSub;
    } else if (code == kOpImag && !afterOperand) {
        return AppendLiteral(tokens, "i", { 0.0, 1.0 }, at, 1);
    } else if (next == '=' && (code == kOpCopy || code == kOpLt || code == kOpGt)) {
        code = code == kOpCopy ? kOpEq : code == kOpLt ? kOpLe : kOpGe;
        consumedNext = true;
    }
    return Append(tokens, OperatorToken(code), at, consumedNext ? 2 : 1);
}

int CLexer::Lex(std::vector<int32_t>& tokens, std::string& errorMessage)
{
    char state = 'A';
    size_t pos = 0;
    char prev = 0;
    std::string tokenText;
    NumberValue number;
    int result = kCompileOk;

    while (result == kCompileOk) {
        const bool atEnd = pos >= m_text.size();
        const char c = atEnd ? '\0' : m_text[pos];
        const char n = NextState(state, c, atEnd);
        bool advance = true;

        switch (state) {
        case 'A':
            if (atEnd) {
                return kCompileOk;
            }
            tokenText.clear();
            if (InSetA(c)) {
                number = {};
                if (const int code = MatchFunction(m_text, pos)) { // only "imag(" can start here
                    result = Append(tokens, OperatorToken(code), pos, kOpSpellings[code].size());
                    pos += kOpSpellings[code].size();
                    advance = false;
                }
            } else {
                result = ReadWord(tokens, pos);
                advance = false;
            }
            break;
        case 'B':
        case 'C':
        case 'D':
        case 'E':
        case 'F':
        case 'G':
            number.Take(state, prev);
            // A literal ends when the next state is A: enter it under its source text, then look at c
            // again as the first character of the next token.
            if (n == 'A') {
                const size_t start = pos - tokenText.size();
                result = NumberValue::CanEnd(state)
                    ? AppendLiteral(tokens, tokenText, { number.Value(state), 0.0 }, start, tokenText.size())
                    : Fail(kErrIllegalChar, FormulaProblem::kIncompleteNumber, start, tokenText.size());
                state = 'A';
                advance = false;
            }
            break;
        case 'H': {
            bool consumedNext = false;
            result = ReadOperator(tokens, pos - 1, prev, c, consumedNext);
            state = 'A';
            advance = consumedNext;
            if (consumedNext) {
                prev = c;
                ++pos;
                continue;
            }
            break;
        }
        default: result = kErrInternal; break;
        }

        if (advance && result == kCompileOk) {
            if (atEnd) {
                return kCompileOk;
            }
            tokenText += c;
            prev = c;
            state = n;
            ++pos;
        }
    }
    errorMessage = m_bConstantOverflow ? kMsgConstantOverflow : CompileMessage(result);
    return result;
}
