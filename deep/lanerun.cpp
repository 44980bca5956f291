#include "lanerun.h"

#include "deltaforms.h"

#include "opcodes.h"

#include <algorithm>
#include <cmath>

namespace deltalanes {

void RunLanes(const CDeltaCode& code, const ProgramRecord& record, const size_t* runAt, uint64_t active,
    double* re, double* im, double* glitched, const DeltaKernels& kernels)
{
    if (code.ResetSlot() >= 0) {
        std::fill_n(re + At(code.ResetSlot()), kLaneCount, 0.0);
        std::fill_n(im + At(code.ResetSlot()), kLaneCount, 0.0);
    }
    const int instructions = static_cast<int>(code.Code().size());
    for (int k = 0; k < instructions; ++k) {
        const BatchInstruction& in = code.Code()[static_cast<size_t>(k)];
        const double* ar = re + At(in.a);
        const double* ai = im + At(in.a);
        const double* br = re + At(in.b >= 0 ? in.b : in.a);
        const double* bi = im + At(in.b >= 0 ? in.b : in.a);
        double* dr = re + At(in.dest);
        double* di = im + At(in.dest);
        const Complex* refA = record.a.data() + k;
        const Complex* refB = record.b.data() + k;
        const Complex* refR = record.r.data() + k;
        // The batch compiler's whole power is not an Op: it takes the lane-by-lane form.
        const Op op = in.opcode == kBatchOpPowWhole ? kOpPow : static_cast<Op>(in.opcode);
        switch (op) {
        case kOpAdd: kernels.add(ar, ai, br, bi, dr, di); break;
        case kOpSub: kernels.sub(ar, ai, br, bi, dr, di); break;
        case kOpCopy:
            std::copy_n(ar, kLaneCount, dr);
            std::copy_n(ai, kLaneCount, di);
            break;
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
        case kOpGe:
            kernels.compare(*CompareKindOf(in.opcode), refA, refR, runAt, ar, ai, br, bi, dr, di);
            break;
        case kOpNeg:
        case kOpDiv:
        case kOpPow:
        case kOpImag:
        case kOpOpen:
        case kOpClose:
        case kOpAbs:
        case kOpArg:
        case kOpConj:
        case kOpReal:
        case kOpImagFn:
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
        case kOpCount:
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
            break;
        }
    }
}

} // namespace deltalanes
