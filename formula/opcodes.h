#pragma once

#include <cstdint>
#include <string_view>

// The token value, the precedence-matrix index and the opcode are one number: keep this ORDER.
// Stored programs, the lexer's tokens (-1 - code) and the compiler's matrix all depend on it.
enum Op : int32_t {
    kOpNeg,   // d = -d (prefix minus)
    kOpAdd,   // d = d + s
    kOpSub,   // d = d - s (binary minus)
    kOpMul,   // d = d * s
    kOpDiv,   // d = d / s
    kOpCopy,  // d = s (assignment and operand loads)
    kOpEq,    // d = (d == s)
    kOpLt,    // d = (d < s) per part
    kOpLe,    // d = (d <= s) per part
    kOpGt,    // d = (d > s) per part
    kOpGe,    // d = (d >= s) per part
    kOpNe,    // d = (d != s)
    kOpPow,   // d = d ^ s
    kOpImag,  // d = (d.im, d.re), the suffix "i"
    kOpOpen,  // "(" grouping, never executed
    kOpClose, // ")" grouping, never executed
    kOpAbs,   // functions 16 to 31: d = f(d)
    kOpArg,
    kOpConj,
    kOpReal,
    kOpImagFn,
    kOpNorm,
    kOpExp,
    kOpLog,
    kOpLog10,
    kOpSqrt,
    kOpSin,
    kOpCos,
    kOpTan,
    kOpSinh,
    kOpCosh,
    kOpTanh,
    kOpEnd, // ";" statement separator, never executed
    kOpCount
};
static_assert(kOpCount == 33, "stored programs and the precedence matrix depend on this numbering");

constexpr int kFirstFunction = kOpAbs;
constexpr int kLastFunction = kOpTanh;

// The exact spelling of every code; a function's spelling includes its "(". ORDER OP.
inline constexpr std::string_view kOpSpellings[kOpCount] = { "-", "+", "-", "*", "/", "=", "==", "<",
    "<=", ">", ">=", "!=", "^", "i", "(", ")", "abs(", "arg(", "conj(", "real(", "imag(", "norm(", "exp(",
    "log(", "log10(", "sqrt(", "sin(", "cos(", "tan(", "sinh(", "cosh(", "tanh(", ";" };

constexpr bool IsFunction(int code) { return code >= kFirstFunction && code <= kLastFunction; }

// Operator tokens are -1 - code, so that operands (slots) stay non-negative.
constexpr int32_t OperatorToken(int code) { return -1 - code; }
constexpr int OperatorCode(int32_t token) { return -1 - token; }
