// The code of each operation: inline for the arithmetic, the comparisons, abs of a real value and the
// division on AVX-512; a call of the batch kernels' vector function for the other functions, and of
// the interpreter's scalar code for the power and AVX2's division, so that every lane computes the
// same bits.
#include "batchjitgen.h"

namespace jit {

namespace {

// The scalar functions of the language over the lanes of one vector, for the operations the generated
// code does not do itself: the same functions the interpreter calls, so the same bits. d may be a.
template <Complex (*F)(Complex, Complex), int N>
void BinaryLanes(
    const double* ar, const double* ai, const double* br, const double* bi, double* dr, double* di)
{
    for (int l = 0; l < N; ++l) {
        const Complex r = F(Complex { ar[l], ai[l] }, Complex { br[l], bi[l] });
        dr[l] = r.re;
        di[l] = r.im;
    }
}

// Out of line, so that the address is that of this file's copy.
Complex DivOf(Complex a, Complex b) { return Div(a, b); }

template <int N> LaneFunction LanesFor(int opcode)
{
    switch (static_cast<Op>(opcode)) {
    case kOpDiv: return BinaryLanes<DivOf, N>;
    case kOpPow: return BinaryLanes<Pow, N>;
    case kOpAbs:
    case kOpArg:
    case kOpExp:
    case kOpLog:
    case kOpLog10:
    case kOpSqrt:
    case kOpSin:
    case kOpCos:
    case kOpTan:
    case kOpSinh:
    case kOpCosh:
    case kOpTanh: return (N == 8 ? BatchAvx512::kKernels : BatchAvx2::kKernels).function(opcode);
    // Written inline by the generator (JitForm::Inline), or never executed.
    case kOpNeg:
    case kOpAdd:
    case kOpSub:
    case kOpMul:
    case kOpCopy:
    case kOpEq:
    case kOpLt:
    case kOpLe:
    case kOpGt:
    case kOpGe:
    case kOpNe:
    case kOpImag:
    case kOpOpen:
    case kOpClose:
    case kOpConj:
    case kOpReal:
    case kOpImagFn:
    case kOpNorm:
    case kOpEnd:
    case kOpCount: break;
    }
    return nullptr; // the batch compiler's own codes
}

} // namespace

LaneFunction LanesOf(int opcode, bool wide) { return wide ? LanesFor<8>(opcode) : LanesFor<4>(opcode); }

void CGenerator::Compare(const Xmm& d, const Xmm& a, const Xmm& b, uint8_t predicate)
{
    // AVX-512 compares into k2, AVX2 into d (then a mask of whole lanes).
    if (m_bWide) {
        m_g.vcmppd(k2, a, b, predicate);
    } else {
        m_g.vcmppd(d, a, b, predicate);
    }
}

void CGenerator::Truth(const Xmm& d, int)
{
    if (m_bWide) {
        m_g.vmovupd(d | k2 | T_z, Const(kOne));
    } else {
        m_g.vandpd(d, d, Const(kOne));
    }
}

void CGenerator::CallLanes(LaneFunction f, int ar, int ai, int br, int bi, int dr, int di)
{
    // Every vector register is the callee's to change: the homes go to their storages, the running
    // lanes to the frame, and all come back afterwards. The scalar code runs with clean upper halves.
    StoreHomes();
    if (m_bWide) {
        m_g.kmovw(m_g.ptr[rsp], k1);
    } else {
        m_g.vmovupd(m_g.ptr[rsp], V(m_nActive));
    }
    m_g.vzeroupper();
    const auto pointer = [&](const Reg64& r, int id) {
        if (id < 0) {
            m_g.mov(r, rax); // unused operand: any readable address
        } else {
            m_g.mov(r, m_g.ptr[rbx + id * 8]);
            m_g.add(r, r13);
        }
    };
    m_g.mov(rax, r12);
    pointer(rdi, ar);
    pointer(rsi, ai);
    pointer(rdx, br);
    pointer(rcx, bi);
    pointer(r8, dr);
    pointer(r9, di);
    m_g.mov(rax, reinterpret_cast<uint64_t>(f));
    m_g.call(rax);
    if (m_bWide) {
        m_g.kmovw(k1, m_g.ptr[rsp]);
    } else {
        m_g.vmovupd(V(m_nActive), m_g.ptr[rsp]);
    }
    LoadHomes();
}

// a ^ n by the interpreter's binary powering: the first product is with 1, every product rounded as
// in Mul, and 1 / result for a negative n through the scalar division.
void CGenerator::Power(const BatchInstruction& in, const BatchLanes* slots)
{
    const int n = in.exponent;
    const int aRe = Storage(slots[in.a].re), aIm = Storage(slots[in.a].im);
    const int dRe = Storage(slots[in.dest].re), dIm = Storage(slots[in.dest].im);
    const uint32_t magnitude
        = n < 0 ? static_cast<uint32_t>(-static_cast<int64_t>(n)) : static_cast<uint32_t>(n);
    const Xmm baseRe = V(2), baseIm = V(3), re = V(4), im = V(5), t0 = V(6), t1 = V(7);
    m_g.vmovapd(baseRe, Read(aRe, 0));
    m_g.vmovapd(baseIm, Read(aIm, 1));
    m_g.vmovupd(re, Const(kOne));
    m_g.vmovupd(im, Const(kZero));
    // x *= y as the interpreter's Mul rounds it: (x.re y.re - x.im y.im, x.im y.re + x.re y.im).
    const auto multiply = [&](Xmm xRe, Xmm xIm, Xmm yRe, Xmm yIm) {
        m_g.vmulpd(t0, xRe, yRe);
        m_g.vmulpd(t1, xIm, yIm);
        m_g.vsubpd(t0, t0, t1);
        m_g.vmulpd(t1, xIm, yRe);
        m_g.vmulpd(xIm, xRe, yIm);
        m_g.vaddpd(xIm, t1, xIm);
        m_g.vmovapd(xRe, t0);
    };
    for (uint32_t m = magnitude;; m /= 2) {
        if (m & 1u) {
            multiply(re, im, baseRe, baseIm);
        }
        if (m < 2) {
            break;
        }
        multiply(baseRe, baseIm, baseRe, baseIm);
    }
    Write(dRe, re);
    Write(dIm, im);
    if (n < 0) {
        CallLanes(LanesOf(kOpDiv, m_bWide), Storage(m_pOnes), Storage(m_pZeros), dRe, dIm, dRe, dIm);
    }
}

bool CGenerator::Instruction(const BatchInstruction& in, const BatchLanes* slots)
{
    const int op = in.opcode;
    const bool unary = in.b < 0;
    const BatchLanes& a = slots[in.a];
    const BatchLanes& b = unary ? a : slots[in.b];
    const BatchLanes& d = slots[in.dest];
    const int aRe = Storage(a.re), aIm = Storage(a.im), bRe = Storage(b.re), bIm = Storage(b.im);
    const int dRe = Storage(d.re), dIm = Storage(d.im);
    if (op == kBatchOpPowWhole) {
        Power(in, slots);
        return true;
    }
    if (op == kOpDiv && m_bWide) {
        Divide(aRe, aIm, bRe, bIm, dRe, dIm);
        return true;
    }
    if (op == kOpAbs && m_bAbsOfReal) {
        // hypot(x, 0) is |x| exactly, so the modulus's own bits.
        m_g.vandpd(V(4), Read(aRe, 0), Const(kAbs));
        Write(dRe, V(4));
        m_g.vmovupd(V(5), Const(kZero));
        Write(dIm, V(5));
        return true;
    }
    if (const LaneFunction f = LanesOf(op, m_bWide)) {
        CallLanes(f, aRe, aIm, unary ? -1 : bRe, unary ? -1 : bIm, dRe, dIm);
        return true;
    }
    const Xmm x = Read(aRe, 0);
    const Xmm u = Read(bRe, 2);
    // Results go straight to the destination's register when no operand of the operation is there.
    const auto operand = [&](int id) { return id == aRe || id == aIm || id == bRe || id == bIm; };
    const Xmm r = Home()[dRe] >= 0 && !operand(dRe) ? V(Home()[dRe]) : V(4);
    const Xmm i = Home()[dIm] >= 0 && !operand(dIm) ? V(Home()[dIm]) : V(5);
    // Whether i is written to the destination.
    const bool imaginary = !(in.realOnly && HasRealOnlyForm(op));
    if (!Inline({ op, x, u, r, i, V(6), aIm, bIm, imaginary })) {
        return false;
    }
    Write(dRe, r);
    if (imaginary) {
        Write(dIm, i);
    }
    return true;
}

bool CGenerator::Inline(const InlineOperands& o)
{
    switch (static_cast<Op>(o.op)) {
    case kOpNeg:
    case kOpAdd:
    case kOpSub:
    case kOpCopy:
    case kOpConj: PartWise(o); return true;
    case kOpMul: Product(o); return true;
    case kOpEq:
    case kOpNe: Equality(o); return true;
    case kOpLt:
    case kOpLe:
    case kOpGt:
    case kOpGe: Order(o); return true;
    case kOpImag:
        m_g.vmovapd(o.r, Y(o));
        m_g.vmovapd(o.i, o.x);
        return true;
    case kOpReal:
    case kOpImagFn:
    case kOpNorm: RealValued(o); return true;
    // Called (JitForm::Call), or never executed.
    case kOpDiv:
    case kOpPow:
    case kOpOpen:
    case kOpClose:
    case kOpAbs:
    case kOpArg:
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
    case kOpCount: break;
    }
    return false;
}

// The operations whose real part comes from the operands' real parts, and imaginary from imaginary.
void CGenerator::PartWise(const InlineOperands& o)
{
    const auto [op, x, u, r, i, t, aIm, bIm, imaginary] = o;
    if (op == kOpNeg) {
        m_g.vxorpd(r, x, Const(kSign));
        if (imaginary) {
            m_g.vxorpd(i, Y(o), Const(kSign));
        }
    } else if (op == kOpAdd) {
        m_g.vaddpd(r, x, u);
        if (imaginary) {
            m_g.vaddpd(i, Y(o), W(o));
        }
    } else if (op == kOpSub) {
        m_g.vsubpd(r, x, u);
        if (imaginary) {
            m_g.vsubpd(i, Y(o), W(o));
        }
    } else if (op == kOpCopy) {
        m_g.vmovapd(r, x);
        if (imaginary) {
            m_g.vmovapd(i, Y(o));
        }
    } else { // conj
        m_g.vmovapd(r, x);
        if (imaginary) {
            m_g.vxorpd(i, Y(o), Const(kSign));
        }
    }
}

// As the interpreter's Mul rounds it: (x u - y w, y u + x w).
void CGenerator::Product(const InlineOperands& o)
{
    const auto [op, x, u, r, i, t, aIm, bIm, imaginary] = o;
    const Xmm yy = Y(o), ww = W(o);
    m_g.vmulpd(r, x, u);
    m_g.vmulpd(t, yy, ww);
    m_g.vsubpd(r, r, t);
    m_g.vmulpd(i, yy, u);
    m_g.vmulpd(t, x, ww);
    m_g.vaddpd(i, i, t);
}

// == and !=: both parts compared, the result real.
void CGenerator::Equality(const InlineOperands& o)
{
    const auto [op, x, u, r, i, t, aIm, bIm, imaginary] = o;
    const uint8_t p = op == kOpEq ? kCmpEq : kCmpNe;
    if (m_bWide) {
        m_g.vcmppd(k2, x, u, p);
        m_g.vcmppd(k3, Y(o), W(o), p);
        if (op == kOpEq) {
            m_g.kandw(k2, k2, k3);
        } else {
            m_g.korw(k2, k2, k3);
        }
    } else {
        m_g.vcmppd(r, x, u, p);
        m_g.vcmppd(t, Y(o), W(o), p);
        if (op == kOpEq) {
            m_g.vandpd(r, r, t);
        } else {
            m_g.vorpd(r, r, t);
        }
    }
    Truth(r, 0);
    m_g.vmovupd(i, Const(kZero));
}

// <, <=, > and >=: each part compared on its own.
void CGenerator::Order(const InlineOperands& o)
{
    const auto [op, x, u, r, i, t, aIm, bIm, imaginary] = o;
    const uint8_t p = op == kOpLt ? kCmpLt : op == kOpLe ? kCmpLe : op == kOpGt ? kCmpGt : kCmpGe;
    Compare(r, x, u, p);
    Truth(r, 0);
    if (imaginary) {
        Compare(i, Y(o), W(o), p);
        Truth(i, 0);
    }
}

// real, imag and norm: a real result.
void CGenerator::RealValued(const InlineOperands& o)
{
    const auto [op, x, u, r, i, t, aIm, bIm, imaginary] = o;
    if (op == kOpReal) {
        m_g.vmovapd(r, x);
    } else if (op == kOpImagFn) {
        m_g.vmovapd(r, Y(o));
    } else { // norm
        m_g.vmulpd(r, x, x);
        m_g.vmulpd(t, Y(o), Y(o));
        m_g.vaddpd(r, r, t);
    }
    if (imaginary) {
        m_g.vmovupd(i, Const(kZero));
    }
}

// The interpreter's DivideVectors on AVX-512: each lane's way of Smith's division chosen before
// dividing (r = w / u when |w| < |u|, else u / w), every operation of it in its order, and the NaN
// result for a NaN or zero divisor, or a NaN or zero scaled divisor.
void CGenerator::Divide(int aRe, int aIm, int bRe, int bIm, int dRe, int dIm)
{
    const Xmm x = Read(aRe, 0), y = Read(aIm, 1), u = Read(bRe, 2), w = Read(bIm, 3);
    const Xmm t0 = V(6), t1 = V(7), top = V(8), bottom = V(9), ratio = V(10), scaled = V(11);
    const auto operand = [&](int id) { return id == aRe || id == aIm || id == bRe || id == bIm; };
    const Xmm re = Home()[dRe] >= 0 && !operand(dRe) ? V(Home()[dRe]) : V(4);
    const Xmm im = Home()[dIm] >= 0 && !operand(dIm) ? V(Home()[dIm]) : V(5);
    m_g.vandpd(t0, u, Const(kAbs));
    m_g.vandpd(t1, w, Const(kAbs));
    m_g.vcmppd(k2, t1, t0, kCmpLt); // the first way
    m_g.vmovapd(top, u);
    m_g.vmovapd(top | k2, w);
    m_g.vmovapd(bottom, w);
    m_g.vmovapd(bottom | k2, u);
    m_g.vdivpd(ratio, top, bottom);
    m_g.vmulpd(t0, ratio, top);
    m_g.vaddpd(scaled, bottom, t0);
    m_g.vmulpd(t0, x, ratio);    // x r
    m_g.vmulpd(t1, y, ratio);    // y r
    m_g.vaddpd(top, t0, y);      // the other way: (x r + y) / dv and (y r - x) / dv
    m_g.vaddpd(top | k2, x, t1); // the first: (x + y r) / dv and (y - x r) / dv
    m_g.vsubpd(bottom, t1, x);
    m_g.vsubpd(bottom | k2, y, t0);
    m_g.vcmppd(k3, u, u, kCmpNe);
    m_g.vcmppd(k4, w, w, kCmpNe);
    m_g.korw(k3, k3, k4);
    m_g.vcmppd(k4, scaled, scaled, kCmpNe);
    m_g.korw(k3, k3, k4);
    m_g.vcmppd(k4, scaled, Const(kZero), kCmpEq);
    m_g.korw(k3, k3, k4);
    m_g.vcmppd(k4, w, Const(kZero), kCmpEq);
    m_g.kandnw(k4, k2, k4);
    m_g.korw(k3, k3, k4);
    m_g.vdivpd(re, top, scaled);
    m_g.vdivpd(im, bottom, scaled);
    m_g.vmovupd(re | k3, Const(kNaNs));
    m_g.vmovupd(im | k3, Const(kNaNs));
    Write(dRe, re);
    Write(dIm, im);
}

} // namespace jit
