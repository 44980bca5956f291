#pragma once
// The six comparisons as a type of their own, so that every switch that decides one lists them all
// and the compiler names a missing one.
#include "batchtypes.h"
#include "opcodes.h"

#include <cstdint>
#include <optional>

enum class CompareKind : uint8_t { Eq, Ne, Lt, Le, Gt, Ge };

// An instruction's comparison, or none where it does not compare.
constexpr std::optional<CompareKind> CompareKindOf(int opcode)
{
    if (opcode == kBatchOpPowWhole) {
        return std::nullopt;
    }
    switch (static_cast<Op>(opcode)) {
    case kOpEq: return CompareKind::Eq;
    case kOpNe: return CompareKind::Ne;
    case kOpLt: return CompareKind::Lt;
    case kOpLe: return CompareKind::Le;
    case kOpGt: return CompareKind::Gt;
    case kOpGe: return CompareKind::Ge;
    case kOpNeg:
    case kOpAdd:
    case kOpSub:
    case kOpMul:
    case kOpDiv:
    case kOpCopy:
    case kOpPow:
    case kOpImag:
    case kOpOpen:
    case kOpClose:
    case kOpAbs:
    case kOpArg:
    case kOpConj:
    case kOpReal:
    case kOpImagFn:
    case kOpNorm:
    case kOpExp:
    case kOpLog:
    case kOpLog10:
    case kOpSqrt:
    case kOpSin:
    case kOpCos:
    case kOpTan:
    case kOpSinh:
    case kOpCosh:
    case kOpTanh:
    case kOpEnd:
    case kOpCount: return std::nullopt;
    }
    return std::nullopt; // a code outside the table
}
