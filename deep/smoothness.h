#pragma once

// How far an operation's value moves when its operand moves: the bounds behind the skip's proof that
// every pixel of a view follows its series, and that no pixel's termination holds over the runs it
// skips. All in doubles: a radius below their range counts as 0.

#include "complex.h"

#include <limits>

inline constexpr double kUnbounded = std::numeric_limits<double>::infinity();

// The unary functions and the powers with an exponent the pixels share (B, or the whole exponent).
struct Operation {
    int opcode;
    Complex A; // the reference's operand
    Complex R; // the reference's result
    Complex B; // the exponent of a power
    int exponent { 0 };
};

// The largest |f'| over the disc of operand offsets |t| <= radius around A (for the functions that are
// not complex-differentiable, the largest change of f per unit of |t|); kUnbounded where the disc
// reaches a singularity, a branch cut or the line where the language's exp turns to exactly 0.
// Continuation: f continued across its branch cut (only the singularity at 0 bounds the disc), for
// Cauchy's estimate of its Taylor coefficients.
enum class Cut { Respected, Continued };
double Lipschitz(const Operation& op, double radius, Cut cut = Cut::Respected);

// The radius around A within which f is complex-differentiable (its continuation, branch cuts aside):
// kUnbounded for entire functions; 0 for the operations that are not complex-differentiable.
double AnalyticRadius(const Operation& op);

// The radius around A within which the language's f is that continuation (no branch cut and no jump
// to 0 crossed).
double BranchRadius(const Operation& op);
