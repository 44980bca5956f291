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

// What each operation is to the layers that compile and run it; one row per code, ORDER OP. A new
// function fills its row here, and the compiler's -Wswitch (an error) names every switch over opcodes
// that still lacks its case (docs/adding-a-function.md lists the rest).
enum class RealForm : uint8_t {
    Whole,    // the real part needs both parts of every operand
    PerPart,  // re from the operands' re, im from their im
    FromBoth, // re needs both parts of the operands, im is 0
    FromRe,   // re is the operand's re, im is 0 (real)
    FromIm,   // re is the operand's im, im is 0 (imag)
    Swapped,  // re from im and im from re (the suffix "i")
};
enum class JitForm : uint8_t {
    None,   // never executed
    Inline, // the generator writes its instructions
    Call,   // the generated code calls the interpreter's lane function
};
struct OpTraits {
    int8_t operands;   // 0: never executed; 1: d = f(d); 2: d = d op s
    RealForm realForm; // what the batch compiler's real-only marking may drop
    bool realOnlyRun;  // the interpreter and the generator have a cheaper real-only form
    JitForm jit;
    bool holomorphic; // complex-differentiable: the deep layers' reference, delta and series forms
    bool decides;     // the result jumps where an operand crosses a line (comparisons, branch cuts)
};

namespace opTraits {
using enum RealForm;
using enum JitForm;
inline constexpr OpTraits kOpTraits[kOpCount] = {
    { 1, PerPart, true, Inline, true, false },   // kOpNeg
    { 2, PerPart, true, Inline, true, false },   // kOpAdd
    { 2, PerPart, true, Inline, true, false },   // kOpSub
    { 2, Whole, false, Inline, true, false },    // kOpMul
    { 2, Whole, false, Call, true, false },      // kOpDiv
    { 2, PerPart, true, Inline, true, false },   // kOpCopy
    { 2, FromBoth, false, Inline, false, true }, // kOpEq
    { 2, PerPart, true, Inline, false, true },   // kOpLt
    { 2, PerPart, true, Inline, false, true },   // kOpLe
    { 2, PerPart, true, Inline, false, true },   // kOpGt
    { 2, PerPart, true, Inline, false, true },   // kOpGe
    { 2, FromBoth, false, Inline, false, true }, // kOpNe
    { 2, Whole, false, Call, true, true },       // kOpPow
    { 1, Swapped, false, Inline, false, false }, // kOpImag
    { 0, Whole, false, None, false, false },     // kOpOpen
    { 0, Whole, false, None, false, false },     // kOpClose
    { 1, FromBoth, false, Call, false, false },  // kOpAbs
    { 1, FromBoth, false, Call, false, true },   // kOpArg
    { 1, PerPart, true, Inline, false, false },  // kOpConj
    { 1, FromRe, true, Inline, false, false },   // kOpReal
    { 1, FromIm, true, Inline, false, false },   // kOpImagFn
    { 1, FromBoth, true, Inline, false, false }, // kOpNorm
    { 1, Whole, false, Call, true, false },      // kOpExp
    { 1, Whole, false, Call, true, true },       // kOpLog
    { 1, Whole, false, Call, true, true },       // kOpLog10
    { 1, Whole, false, Call, true, true },       // kOpSqrt
    { 1, Whole, false, Call, true, false },      // kOpSin
    { 1, Whole, false, Call, true, false },      // kOpCos
    { 1, Whole, false, Call, true, false },      // kOpTan
    { 1, Whole, false, Call, true, false },      // kOpSinh
    { 1, Whole, false, Call, true, false },      // kOpCosh
    { 1, Whole, false, Call, true, false },      // kOpTanh
    { 0, Whole, false, None, false, false },     // kOpEnd
};
} // namespace opTraits
using opTraits::kOpTraits;

// What a row must agree with: an executed code has a generated form and a function one operand; a
// cheaper real-only form needs a real part that does not read both parts whole.
consteval bool RowsAgree()
{
    for (int code = 0; code < kOpCount; ++code) {
        const OpTraits& row = kOpTraits[code];
        const bool function = code >= kFirstFunction && code <= kLastFunction;
        if ((row.operands > 0) != (row.jit != JitForm::None) || (function && row.operands != 1)
            || (row.realOnlyRun && row.realForm == RealForm::Whole)) {
            return false;
        }
    }
    return true;
}
static_assert(RowsAgree(), "a row of kOpTraits contradicts itself");

// The row of a code; codes outside the table (the batch compiler's own) are not operations of it.
constexpr const OpTraits* TraitsOf(int code)
{
    return code >= 0 && code < kOpCount ? &kOpTraits[code] : nullptr;
}

constexpr bool IsFunction(int code) { return code >= kFirstFunction && code <= kLastFunction; }

// Operator tokens are -1 - code, so that operands (slots) stay non-negative.
constexpr int32_t OperatorToken(int code) { return -1 - code; }
constexpr int OperatorCode(int32_t token) { return -1 - token; }
