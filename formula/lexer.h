#pragma once

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

private:
    int Append(std::vector<int32_t>& tokens, int32_t token);
    int AppendLiteral(std::vector<int32_t>& tokens, std::string_view name, Complex value);
    int ReadWord(std::vector<int32_t>& tokens, size_t& pos);
    int ReadOperator(std::vector<int32_t>& tokens, char op, char next, bool& consumedNext);

    std::string_view m_text;
    CFormula& m_formula;
    bool m_bConstantOverflow { false }; // code 3 has a message of its own for constants
};
