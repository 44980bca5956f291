#include "lexer.h"

#include "opcodes.h"

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
        return s == 'F' ? mantissa * std::pow(10.0, exponentSign * exponent) : mantissa;
    }
};

} // namespace

int CLexer::Append(std::vector<int32_t>& tokens, int32_t token)
{
    if (tokens.size() >= kMaxTokens) {
        return kErrTempOverflow;
    }
    tokens.push_back(token);
    return kCompileOk;
}

int CLexer::AppendLiteral(std::vector<int32_t>& tokens, std::string_view name, Complex value)
{
    if (tokens.size() >= kMaxTokens) {
        return kErrTempOverflow;
    }
    const int slot = m_formula.AddLiteral(name, value);
    if (slot < 0) {
        return kErrTempOverflow;
    }
    return Append(tokens, kFirstScratchSlot + slot);
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
        const std::string_view name = m_text.substr(pos, end - pos);
        pos = end;
        if (c == 'C') {
            const int k = m_formula.AddConstant(name, {});
            m_bConstantOverflow = k < 0;
            return k < 0 ? kErrTableOverflow : Append(tokens, kFirstConstantSlot + k);
        }
        const int slot = m_formula.AddVariable(name, {});
        return slot < 0 ? kErrTableOverflow : Append(tokens, slot);
    }
    if (const int code = MatchFunction(m_text, pos)) {
        pos += kOpSpellings[code].size();
        return Append(tokens, OperatorToken(code));
    }
    if (c == 'e') {
        pos += 1;
        return AppendLiteral(tokens, "e", { std::numbers::e, 0.0 });
    }
    if (m_text.substr(pos).starts_with("pi")) {
        pos += 2;
        return AppendLiteral(tokens, "pi", { std::numbers::pi, 0.0 });
    }
    return kErrIllegalChar;
}

// State H: op is the operator character just read, next the character after it.
int CLexer::ReadOperator(std::vector<int32_t>& tokens, char op, char next, bool& consumedNext)
{
    consumedNext = false;
    if (op == '!') {
        // A "!" that does not start "!=" is no operator at all.
        if (next != '=') {
            return kErrIllegalChar;
        }
        consumedNext = true;
        return Append(tokens, OperatorToken(kOpNe));
    }
    int code = 0;
    while (kOpSpellings[code].size() != 1 || kOpSpellings[code][0] != op) {
        ++code; // First match in code order, so "-" finds the unary minus.
    }
    const bool afterOperand = IsOperandOrClose(tokens);
    if (code == kOpNeg && afterOperand) {
        code = kOpSub;
    } else if (code == kOpImag && !afterOperand) {
        return AppendLiteral(tokens, "i", { 0.0, 1.0 });
    } else if (next == '=' && (code == kOpCopy || code == kOpLt || code == kOpGt)) {
        code = code == kOpCopy ? kOpEq : code == kOpLt ? kOpLe : kOpGe;
        consumedNext = true;
    }
    return Append(tokens, OperatorToken(code));
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
                    result = Append(tokens, OperatorToken(code));
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
                result = NumberValue::CanEnd(state)
                    ? AppendLiteral(tokens, tokenText, { number.Value(state), 0.0 })
                    : kErrIllegalChar;
                state = 'A';
                advance = false;
            }
            break;
        case 'H': {
            bool consumedNext = false;
            result = ReadOperator(tokens, prev, c, consumedNext);
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
