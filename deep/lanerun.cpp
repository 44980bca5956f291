#include "lanerun.h"

#include "deltaforms.h"
#include "lanebooks.h"

#include "opcodes.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace deltalanes {

namespace {

// The delta form lane by lane, for the active lanes.
void Scalar(const BatchInstruction& in, const Complex* refA, const Complex* refB, const Complex* refR,
    const size_t* runAt, uint64_t active, const double* ar, const double* ai, const double* br,
    const double* bi, double* dr, double* di, double* glitched)
{
    for (uint64_t bits = active; bits != 0; bits &= bits - 1) {
        const int l = std::countr_zero(bits);
        const size_t run = runAt[l];
        bool glitch = false;
        const Complex v = DeltaForm<Complex>(
            in, refA[run], refB[run], refR[run], { ar[l], ai[l] }, { br[l], bi[l] }, glitch);
        dr[l] = v.re;
        di[l] = v.im;
        glitched[l] = glitch ? 1.0 : glitched[l];
    }
}

// An instruction's operands in the lanes and its rows of the reference's record.
struct LaneOperands {
    const double *ar, *ai, *br, *bi;
    double *dr, *di;
    const Complex *refA, *refB, *refR;
};

// One instruction over the lanes: the vector loops where the form has one, else lane by lane.
void RunInstruction(const BatchInstruction& in, const LaneOperands& o, const size_t* runAt, uint64_t active,
    double* glitched, const DeltaKernels& kernels, const LaneBooks& books)
{
    const auto [ar, ai, br, bi, dr, di, refA, refB, refR] = o;
    // The batch compiler's whole power is not an Op: it takes the lane-by-lane form.
    const Op op = in.opcode == kBatchOpPowWhole ? kOpPow : static_cast<Op>(in.opcode);
    switch (op) {
    case kOpAdd: kernels.add(ar, ai, br, bi, dr, di); break;
    case kOpSub: kernels.sub(ar, ai, br, bi, dr, di); break;
    case kOpCopy: books.linear(op, ar, ai, dr, di); break;
    case kOpMul:
        // A b + a B + a b, with the glitch test of the scalar form.
        kernels.mul(refA, refB, runAt, ar, ai, br, bi, dr, di, glitched, kGlitchShare * kGlitchShare);
        break;
    case kOpNorm: kernels.norm(refA, runAt, ar, ai, dr, di, glitched, kGlitchShare * kGlitchShare); break;
    case kOpEq:
    case kOpNe:
    case kOpLt:
    case kOpLe:
    case kOpGt:
    case kOpGe: kernels.compare(*CompareKindOf(in.opcode), refA, refR, runAt, ar, ai, br, bi, dr, di); break;
    case kOpPow:
        if (in.opcode == kBatchOpPowWhole && in.exponent == 2) {
            kernels.square(refA, runAt, ar, ai, dr, di, glitched, kGlitchShare * kGlitchShare);
        } else if (in.opcode == kBatchOpPowWhole) {
            kernels.wholePower(
                in.exponent, refA, refB, refR, runAt, ar, ai, dr, di, glitched, kGlitchShare * kGlitchShare);
        } else {
            Scalar(in, refA, refB, refR, runAt, active, ar, ai, br, bi, dr, di, glitched);
        }
        break;
    case kOpAbs: {
        // Real operands by their signs; the others (a complex modulus) by the general form.
        alignas(64) double other[kLanes];
        kernels.fold(refA, runAt, ar, ai, dr, di, other);
        Scalar(in, refA, refB, refR, runAt, books.marked(other) & active, ar, ai, br, bi, dr, di, glitched);
        break;
    }
    case kOpExp: {
        alignas(64) double other[kLanes];
        kernels.exp(refA, refR, runAt, ar, ai, dr, di, glitched, other);
        Scalar(in, refA, refB, refR, runAt, books.marked(other) & active, ar, ai, br, bi, dr, di, glitched);
        break;
    }
    case kOpNeg:
    case kOpConj:
    case kOpImag:
    case kOpReal:
    case kOpImagFn: books.linear(op, ar, ai, dr, di); break;
    case kOpDiv:
        kernels.quotient(
            refA, refB, refR, runAt, ar, ai, br, bi, dr, di, glitched, kGlitchShare * kGlitchShare);
        break;
    case kOpOpen:
    case kOpClose:
    case kOpArg:
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
    case kOpCount: Scalar(in, refA, refB, refR, runAt, active, ar, ai, br, bi, dr, di, glitched); break;
    }
}

} // namespace

void RunLanes(const CDeltaCode& code, const ProgramRecord& record, const size_t* runAt, uint64_t active,
    double* re, double* im, double* glitched, const DeltaKernels& kernels, LaneChain* chain)
{
    if (code.ResetSlot() >= 0) {
        std::fill_n(re + At(code.ResetSlot()), kLaneCount, 0.0);
        std::fill_n(im + At(code.ResetSlot()), kLaneCount, 0.0);
    }
    const LaneBooks& books = ActiveLaneBooks();
    const int instructions = static_cast<int>(code.Code().size());
    for (int k = 0; k < instructions; ++k) {
        const BatchInstruction& in = code.Code()[static_cast<size_t>(k)];
        const double* ar = re + At(in.a);
        const double* ai = im + At(in.a);
        const double* br = re + At(in.b >= 0 ? in.b : in.a);
        const double* bi = im + At(in.b >= 0 ? in.b : in.a);
        double* dr = re + At(in.dest);
        double* di = im + At(in.dest);
        if (chain) {
            chain->Before(in, record, k, runAt, active, ar, ai, br, bi);
        }
        RunInstruction(in,
            { ar, ai, br, bi, dr, di, record.a.data() + k, record.b.data() + k, record.r.data() + k }, runAt,
            active, glitched, kernels, books);
        if (chain) {
            chain->After(in, record, k, runAt, active, dr, di);
        }
    }
}

} // namespace deltalanes
