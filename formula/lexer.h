#pragma once

#include "diagnostic.h"
#include "formula.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The first phase of CFormula::Compile: reads the text once, left to right, into at most 1024 tokens
// and enters every variable, named constant and literal it meets into the formula's slot tables.
// Tokens: 0..99 variables, 100..199 constants, 200..1223 literals, -1 - code for operators.
class CLexer {
public:
    CLexer(std::string_view text, CFormula& formula)
        : m_text(text)
        , m_formula(formula)
    {
    }

    // 0, or the error code 1, 2 or 3 with its message.
    int Lex(std::vector<int32_t>& tokens, std::string& errorMessage);
    // Where each token came from, one span per token.
    const std::vector<TokenSpan>& Spans() const { return m_spans; }
    // After a failed Lex: where and what (line and column still to be filled in).
    const CompileDiagnostic& Diagnostic() const { return m_diagnostic; }

private:
    // Each token is appended with the span of text it came from.
    int Append(std::vector<int32_t>& tokens, int32_t token, size_t offset, size_t length);
    int AppendLiteral(
        std::vector<int32_t>& tokens, std::string_view name, Complex value, size_t offset, size_t length);
    int ReadWord(std::vector<int32_t>& tokens, size_t& pos);
    int ReadOperator(std::vector<int32_t>& tokens, size_t at, char op, char next, bool& consumedNext);
    // Records the problem of a failed token at offset and returns code.
    int Fail(int code, FormulaProblem problem, size_t offset, size_t length);
    // The problem of a word the lexer does not know, starting at pos.
    int UnknownWord(size_t pos);

    std::string_view m_text;
    CFormula& m_formula;
    bool m_bConstantOverflow { false }; // code 3 has a message of its own for constants
    std::vector<TokenSpan> m_spans;
    CompileDiagnostic m_diagnostic;
};
