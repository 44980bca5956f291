#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// What a failed compile found, beyond its code: where the offending text lies and what is wrong with
// it in words. The code and its message (CompileMessage) stay what they are; this only explains them.

// ORDER: kProblemMessages in diagnostic.cpp follows this order.
enum class FormulaProblem : int {
    kNone,                 // no detail (an empty formula)
    kUnknownConstantName,  // an upper-case name that is no constant: constants start with C
    kUnknownVariableName,  // a lower-case name that is no variable: variables start with z or V
    kUnknownFunction,      // a name followed by "("
    kFunctionWithoutParen, // a function's name without its "(" right after it
    kUnexpectedCharacter,  // a character that starts no token
    kLoneExclamation,      // "!" not followed by "="
    kIncompleteNumber,     // "2e", "2." or "2e-" with nothing after
    kNumberBeforeName,     // "2z": a number directly followed by a name
    kMissingOperator,      // two values side by side
    kUnclosed,             // "(" or a function never closed
    kUnopened,             // ")" without its "("
    kMissingOperand,       // an operator without its values
    kEmptyAssignment,      // "z = ;"
    kEmptyFunction,        // "sin()"
    kAssignedConstant,     // "C = 1;"
    kAssignedNonVariable,  // "2 = z;"
    kMisplacedAssignment,  // "=" inside an expression
    kBareComparison,       // a comparison after "=" or another comparison, or inside a function
    kUnexpected,           // an operator where it cannot stand
    kExtraValue,           // a statement that leaves more than one value
    kTooManyTokens,        // more than 1024 tokens
    kTooManyValues,        // literals and intermediate values overflow the scratch area
    kTooManyVariables,     // more than 100 variables
    kTooManyConstants,     // more than 100 named constants
    kTooManyInstructions,  // more than 1024 instructions
    kCount
};

// The place and the words. Offsets are bytes of the formula text; line and column count from 1, the
// column in characters (UTF-8 sequences count once), and are 0 when the problem has no place.
struct CompileDiagnostic {
    FormulaProblem problem { FormulaProblem::kNone };
    size_t offset { 0 };
    size_t length { 0 };
    int line { 0 };
    int column { 0 };
    std::string text;  // the offending text, which the message quotes as %1
    std::string other; // a second text some messages quote as %2
    bool operator==(const CompileDiagnostic&) const = default;
};

// A problem's message: a fixed Chinese text with %1 (and %2) for the quoted texts, like the compile
// messages; the programs translate it before they fill it in.
const char* ProblemMessage(FormulaProblem problem);
// The message filled in with the diagnostic's texts.
std::string DescribeProblem(const CompileDiagnostic& diagnostic);
// Line and column of a byte offset in text, as CompileDiagnostic counts them.
void LineAndColumn(std::string_view text, size_t offset, int& line, int& column);

// Internal to the compiler: where each token came from, and where the parse stopped.
struct TokenSpan {
    size_t offset { 0 };
    size_t length { 0 };
};
struct ParseFailure {
    int token { -1 };         // the token the parse was looking at
    int operatorToken { -1 }; // the operator on top of the stack, or the one being reduced
    int statementStart { 0 }; // the failing statement's first token
    bool reducing { false };  // the failure came from reducing operatorToken
};
// Explains a parse failure of code over tokens with their spans (the last ";" may have none).
CompileDiagnostic DiagnoseParse(int code, std::string_view text, const std::vector<int32_t>& tokens,
    const std::vector<TokenSpan>& spans, const ParseFailure& failure,
    const std::vector<std::string>& slotNames);
