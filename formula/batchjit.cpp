#include "batchjit.h"

#include "complex.h"
#include "opcodes.h"

#include <algorithm>
#include <bit>
#include <limits>
#include <map>

#define XBYAK_NO_OP_NAMES
#include <xbyak/xbyak.h>

namespace {

// The scalar functions of the language over the lanes of one vector, for the operations the generated
// code does not do itself: the same functions the interpreter calls, so the same bits. d may be a.
template <Complex (*F)(Complex), int N>
void UnaryLanes(const double* ar, const double* ai, const double*, const double*, double* dr, double* di)
{
    for (int l = 0; l < N; ++l) {
        const Complex r = F(Complex { ar[l], ai[l] });
        dr[l] = r.re;
        di[l] = r.im;
    }
}

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
Complex ArgOf(Complex a) { return Arg(a); }
Complex DivOf(Complex a, Complex b) { return Div(a, b); }

using LaneFunction = void (*)(const double*, const double*, const double*, const double*, double*, double*);

template <int N> LaneFunction LanesOf(int opcode)
{
    switch (static_cast<Op>(opcode)) {
    case kOpDiv: return BinaryLanes<DivOf, N>;
    case kOpPow: return BinaryLanes<Pow, N>;
    case kOpAbs: return UnaryLanes<Abs, N>;
    case kOpArg: return UnaryLanes<ArgOf, N>;
    case kOpExp: return UnaryLanes<Exp, N>;
    case kOpLog: return UnaryLanes<Log, N>;
    case kOpLog10: return UnaryLanes<Log10, N>;
    case kOpSqrt: return UnaryLanes<Sqrt, N>;
    case kOpSin: return UnaryLanes<Sin, N>;
    case kOpCos: return UnaryLanes<Cos, N>;
    case kOpTan: return UnaryLanes<Tan, N>;
    case kOpSinh: return UnaryLanes<Sinh, N>;
    case kOpCosh: return UnaryLanes<Cosh, N>;
    case kOpTanh: return UnaryLanes<Tanh, N>;
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

// The operations whose real part the interpreter computes alone when only it is read (RunRealOnly).
bool HasRealOnlyForm(int opcode)
{
    const OpTraits* traits = TraitsOf(opcode);
    return traits != nullptr && traits->realOnlyRun;
}

bool Known(int opcode)
{
    const OpTraits* traits = TraitsOf(opcode);
    return (traits != nullptr && traits->jit != JitForm::None) || opcode == kBatchOpPowWhole;
}

// Comparison predicates of vcmppd, as the compiler emits them for the interpreter's operators. The
// signalling and quiet forms give the same result; only the NaN rules matter.
constexpr uint8_t kCmpEq = 0x00; // EQ_OQ
constexpr uint8_t kCmpLt = 0x01; // LT_OS
constexpr uint8_t kCmpLe = 0x02; // LE_OS
constexpr uint8_t kCmpNe = 0x04; // NEQ_UQ: true when either is NaN, as !=
constexpr uint8_t kCmpGe = 0x0D; // GE_OS
constexpr uint8_t kCmpGt = 0x0E; // GT_OS

// Offsets in the constant block, a vector of eight doubles each.
constexpr int kOne = 0;
constexpr int kZero = 64;
constexpr int kSign = 128;
constexpr int kLimit = 192;
constexpr int kAbs = 256; // every bit but the sign
constexpr int kNaNs = 320;

} // namespace

// Generating code costs a thread about as much as this many pixels save (the mapping, the writing,
// the protection change and the unmapping): smaller renders, such as the preview's passes, run on the
// interpreter. The preview benchmark's finished frame took 29.6 ms with code for every pass, 14.7 without.
constexpr size_t kPixelsForCode = 32768;

// Room for the longest program the compiler accepts, every operation a function call that saves and
// restores all registers; only the pages written are ever backed by memory.
constexpr size_t kCodeBytes = size_t { 1 } << 20;

struct CBatchJit::Code : Xbyak::CodeGenerator {
    Code()
        : Xbyak::CodeGenerator(kCodeBytes, Xbyak::DontSetProtectRWE)
    {
    }
};

CBatchJit::~CBatchJit() = default;

// Generated code carries no type signature before its first byte for clang's check of indirect calls
// (reading there would leave the mapping).
#if defined(__clang__)
__attribute__((no_sanitize("function")))
#endif
uint64_t
CBatchJit::Run() const
{
    return m_pRun(m_pointers.data(), m_constants);
}

std::vector<JitIsa> CBatchJit::AvailableIsas()
{
    std::vector<JitIsa> isas;
    if (__builtin_cpu_supports("avx2")) {
        isas.push_back(JitIsa::Avx2);
    }
    if (__builtin_cpu_supports("avx512f")) {
        isas.push_back(JitIsa::Avx512);
    }
    return isas;
}

bool CBatchJit::Chosen(const std::vector<JitProgram>& programs, size_t pixels, JitUse use, JitIsa& isa)
{
    static const std::vector<JitIsa> isas = AvailableIsas();
    const auto has = [&](JitIsa wanted) { return std::find(isas.begin(), isas.end(), wanted) != isas.end(); };
    switch (use) {
    case JitUse::Off: return false;
    case JitUse::Default:
        // AVX2's sixteen registers hold too few slots: its code was measured slower than the
        // AVX2 interpreter (default picture 72 ms against 44), so it runs in tests only.
        isa = JitIsa::Avx512;
        return has(isa) && pixels >= kPixelsForCode && Pays(programs, isa);
    case JitUse::Avx2: isa = JitIsa::Avx2; return has(isa);
    case JitUse::Avx512: isa = JitIsa::Avx512; return has(isa);
    }
    return false;
}

bool CBatchJit::Pays(const std::vector<JitProgram>& programs, JitIsa isa)
{
    for (const JitProgram& p : programs) {
        for (int k = 0; k < p.count; ++k) {
            const BatchInstruction& in = p.code[k];
            const bool divides = (in.opcode == kOpDiv && isa != JitIsa::Avx512)
                || (in.opcode == kBatchOpPowWhole && in.exponent < 0);
            if (divides || LanesOf<8>(in.opcode) != nullptr) {
                return false;
            }
        }
    }
    return true;
}

namespace {

using namespace Xbyak;
using namespace Xbyak::util;

// Writes the code of one block. Registers: rbx the storage pointers, r12 the constants, r13 the
// byte offset of the vector in its lanes, r14 the stopped lanes of the block, r15 those of the
// vector, ebp the iterations left. Vector registers 0 to 7 are scratch (0-3 operands, 4-5 results,
// 6-7 temporaries; on AVX-512 also 8-11, for the division); the others hold the storages used most,
// the last one (AVX2) the running lanes, k1 (AVX-512) the running lanes.
class CGenerator {
public:
    CGenerator(
        CodeGenerator& g, JitIsa isa, std::vector<double*>& pointers, const double* ones, const double* zeros)
        : m_g(g)
        , m_bWide(isa == JitIsa::Avx512)
        , m_nVecBytes(m_bWide ? 64 : 32)
        , m_nLanes(m_nVecBytes / 8)
        , m_pointers(pointers)
        , m_pOnes(ones)
        , m_pZeros(zeros)
    {
    }

    bool Generate(
        const std::vector<JitProgram>& programs, const JitAdvance& advance, int iterations, int longest);

private:
    Xmm V(int i) const { return m_bWide ? Xmm(Zmm(i)) : Xmm(Ymm(i)); }
    Address Const(int offset) const { return m_g.ptr[r12 + offset]; }
    int Storage(const double* p)
    {
        const auto found = m_ids.find(p);
        if (found != m_ids.end()) {
            return found->second;
        }
        const int id = static_cast<int>(m_pointers.size());
        m_pointers.push_back(const_cast<double*>(p));
        m_ids.emplace(p, id);
        m_uses.push_back(0);
        m_written.push_back(false);
        m_homes[0].push_back(-1);
        m_homes[1].push_back(-1);
        return id;
    }
    void Use(int id, bool write)
    {
        ++m_uses[id];
        if (write) {
            m_written[id] = true;
        }
    }
    Address Memory(int id)
    {
        m_g.mov(rax, m_g.ptr[rbx + id * 8]);
        return m_g.ptr[rax + r13 + m_nVec * m_nVecBytes];
    }
    // The running lanes of the vector being written (the second of a pair in k5).
    Opmask Running() const { return m_nVec == 0 ? k1 : k5; }
    // The register holding the storage: its own, or scratch loaded from memory.
    Xmm Read(int id, int scratch)
    {
        if (Home()[id] >= 0) {
            return V(Home()[id]);
        }
        m_g.vmovupd(V(scratch), Memory(id));
        return V(scratch);
    }
    void Write(int id, const Xmm& value)
    {
        if (Home()[id] >= 0) {
            if (Home()[id] != value.getIdx()) {
                m_g.vmovapd(V(Home()[id]), value);
            }
        } else {
            m_g.vmovupd(Memory(id), value);
        }
    }
    void LoadHomes();
    void StoreHomes();
    void Truth(const Xmm& d, int scratchMask); // d = 1 where the comparison in scratchMask held, else 0
    void Compare(const Xmm& d, const Xmm& a, const Xmm& b, uint8_t predicate);
    bool Instruction(const BatchInstruction& in, const BatchLanes* slots);
    void CallLanes(LaneFunction f, int ar, int ai, int br, int bi, int dr, int di);
    void Power(const BatchInstruction& in, const BatchLanes* slots);
    void Advance(const JitAdvance& advance);
    void Divide(int aRe, int aIm, int bRe, int bIm, int dRe, int dIm);

    CodeGenerator& m_g;
    const bool m_bWide;
    const int m_nVecBytes;
    const int m_nLanes; // lanes a vector
    std::vector<double*>& m_pointers;
    const double* m_pOnes; // kLanes ones and zeros, the 1 + 0i of 1 / a power
    const double* m_pZeros;
    std::map<const double*, int> m_ids;
    std::vector<int> m_uses;
    std::vector<bool> m_written;
    // The vector register of each storage, or -1 (memory): for the vector being written (m_nVec) and,
    // when two vectors run side by side, for the second of the pair.
    std::vector<int> m_homes[2];
    std::vector<int>& Home() { return m_homes[m_nVec]; }
    int m_nVec { 0 };
    bool m_bPair { false };
    int m_nActive { -1 }; // AVX2: the register of the running lanes' mask
    int m_nTerm { -1 }, m_nLastRe { -1 }, m_nLastIm { -1 }, m_nCount { -1 }, m_nResultRe { -1 },
        m_nResultIm { -1 };
    int m_nActiveStorage { -1 };
    static constexpr int kFrame = 64;
    // How many of the least used storages may stay in memory for two vectors to run side by side.
    static constexpr int kPairSpills = 2; // the running lanes while a function is called
};

void CGenerator::LoadHomes()
{
    for (m_nVec = 0; m_nVec < (m_bPair ? 2 : 1); ++m_nVec) {
        for (size_t id = 0; id < Home().size(); ++id) {
            if (Home()[id] >= 0) {
                m_g.vmovupd(V(Home()[id]), Memory(static_cast<int>(id)));
            }
        }
    }
    m_nVec = 0;
}

void CGenerator::StoreHomes()
{
    for (m_nVec = 0; m_nVec < (m_bPair ? 2 : 1); ++m_nVec) {
        for (size_t id = 0; id < Home().size(); ++id) {
            if (Home()[id] >= 0 && m_written[id]) {
                m_g.vmovupd(Memory(static_cast<int>(id)), V(Home()[id]));
            }
        }
    }
    m_nVec = 0;
}

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
        CallLanes(m_bWide ? LanesOf<8>(kOpDiv) : LanesOf<4>(kOpDiv), Storage(m_pOnes), Storage(m_pZeros), dRe,
            dIm, dRe, dIm);
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
    if (const LaneFunction f = m_bWide ? LanesOf<8>(op) : LanesOf<4>(op)) {
        CallLanes(f, aRe, aIm, unary ? -1 : bRe, unary ? -1 : bIm, dRe, dIm);
        return true;
    }
    const bool realOnly = in.realOnly && HasRealOnlyForm(op);
    const Xmm x = Read(aRe, 0);
    const Xmm u = Read(bRe, 2);
    // Results go straight to the destination's register when no operand of the operation is there.
    const auto operand = [&](int id) { return id == aRe || id == aIm || id == bRe || id == bIm; };
    const Xmm r = Home()[dRe] >= 0 && !operand(dRe) ? V(Home()[dRe]) : V(4);
    const Xmm i = Home()[dIm] >= 0 && !operand(dIm) ? V(Home()[dIm]) : V(5);
    const Xmm t = V(6);
    const auto y = [&] { return Read(aIm, 1); };
    const auto w = [&] { return Read(bIm, 3); };
    bool imaginary = !realOnly; // whether i is written to the destination
    switch (static_cast<Op>(op)) {
    case kOpNeg:
        m_g.vxorpd(r, x, Const(kSign));
        if (imaginary) {
            m_g.vxorpd(i, y(), Const(kSign));
        }
        break;
    case kOpAdd:
        m_g.vaddpd(r, x, u);
        if (imaginary) {
            m_g.vaddpd(i, y(), w());
        }
        break;
    case kOpSub:
        m_g.vsubpd(r, x, u);
        if (imaginary) {
            m_g.vsubpd(i, y(), w());
        }
        break;
    case kOpMul: {
        const Xmm yy = y(), ww = w();
        m_g.vmulpd(r, x, u);
        m_g.vmulpd(t, yy, ww);
        m_g.vsubpd(r, r, t);
        m_g.vmulpd(i, yy, u);
        m_g.vmulpd(t, x, ww);
        m_g.vaddpd(i, i, t);
        break;
    }
    case kOpCopy:
        m_g.vmovapd(r, x);
        if (imaginary) {
            m_g.vmovapd(i, y());
        }
        break;
    case kOpEq:
    case kOpNe:
        if (m_bWide) {
            const uint8_t p = op == kOpEq ? kCmpEq : kCmpNe;
            m_g.vcmppd(k2, x, u, p);
            m_g.vcmppd(k3, y(), w(), p);
            if (op == kOpEq) {
                m_g.kandw(k2, k2, k3);
            } else {
                m_g.korw(k2, k2, k3);
            }
        } else {
            const uint8_t p = op == kOpEq ? kCmpEq : kCmpNe;
            m_g.vcmppd(r, x, u, p);
            m_g.vcmppd(t, y(), w(), p);
            if (op == kOpEq) {
                m_g.vandpd(r, r, t);
            } else {
                m_g.vorpd(r, r, t);
            }
        }
        Truth(r, 0);
        m_g.vmovupd(i, Const(kZero));
        break;
    case kOpLt:
    case kOpLe:
    case kOpGt:
    case kOpGe: {
        const uint8_t p = op == kOpLt ? kCmpLt : op == kOpLe ? kCmpLe : op == kOpGt ? kCmpGt : kCmpGe;
        Compare(r, x, u, p);
        Truth(r, 0);
        if (imaginary) {
            Compare(i, y(), w(), p);
            Truth(i, 0);
        }
        break;
    }
    case kOpImag:
        m_g.vmovapd(r, y());
        m_g.vmovapd(i, x);
        break;
    case kOpConj:
        m_g.vmovapd(r, x);
        if (imaginary) {
            m_g.vxorpd(i, y(), Const(kSign));
        }
        break;
    case kOpReal:
        m_g.vmovapd(r, x);
        if (imaginary) {
            m_g.vmovupd(i, Const(kZero));
        }
        break;
    case kOpImagFn:
        m_g.vmovapd(r, y());
        if (imaginary) {
            m_g.vmovupd(i, Const(kZero));
        }
        break;
    case kOpNorm:
        m_g.vmulpd(r, x, x);
        m_g.vmulpd(t, y(), y());
        m_g.vaddpd(r, r, t);
        if (imaginary) {
            m_g.vmovupd(i, Const(kZero));
        }
        break;
    // Called above (JitForm::Call), or never executed.
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
    case kOpCount: return false;
    }
    Write(dRe, r);
    if (imaginary) {
        Write(dIm, i);
    }
    return true;
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

void CGenerator::Advance(const JitAdvance& advance)
{
    // As AdvanceLanes: a running lane whose termination value is greater than 0 stops; the others
    // count one more and stop at the limit; a lane that stops keeps the iteration's value.
    const Xmm term = Read(m_nTerm, 0);
    const Xmm count = Read(m_nCount, 1);
    if (m_bWide) {
        const Opmask running = Running();
        m_g.vcmppd(k2, term, Const(kZero), kCmpGt);
        m_g.kandw(k2, k2, running);  // stopped
        m_g.kandnw(k3, k2, running); // running on
        m_g.vaddpd(count | k3, count, Const(kOne));
        m_g.vcmppd(k4 | k3, count, Const(kLimit), kCmpGe);
        m_g.korw(k2, k2, k4); // finished
        if (advance.resultRe != nullptr) {
            const Xmm lastRe = Read(m_nLastRe, 2);
            const Xmm lastIm = Read(m_nLastIm, 3);
            const Xmm re = Read(m_nResultRe, 4);
            const Xmm im = Read(m_nResultIm, 5);
            m_g.vmovapd(re | k2, lastRe);
            m_g.vmovapd(im | k2, lastIm);
            Write(m_nResultRe, re);
            Write(m_nResultIm, im);
        }
        m_g.kandnw(running, k2, running);
        m_g.kmovw(eax, k2);
        if (m_nVec == 1) {
            m_g.shl(eax, m_nLanes); // the second vector's lanes follow the first's
        }
    } else {
        const Xmm active = V(m_nActive);
        const Xmm stopped = V(6), on = V(7);
        m_g.vcmppd(stopped, term, Const(kZero), kCmpGt);
        m_g.vandpd(stopped, stopped, active);
        m_g.vandnpd(on, stopped, active);
        m_g.vandpd(V(2), on, Const(kOne));
        m_g.vaddpd(count, count, V(2));
        m_g.vcmppd(V(2), count, Const(kLimit), kCmpGe);
        m_g.vandpd(V(2), V(2), on);
        m_g.vorpd(stopped, stopped, V(2));
        if (advance.resultRe != nullptr) {
            const Xmm lastRe = Read(m_nLastRe, 2);
            const Xmm lastIm = Read(m_nLastIm, 3);
            const Xmm re = Read(m_nResultRe, 4);
            const Xmm im = Read(m_nResultIm, 5);
            m_g.vblendvpd(re, re, lastRe, stopped);
            m_g.vblendvpd(im, im, lastIm, stopped);
            Write(m_nResultRe, re);
            Write(m_nResultIm, im);
        }
        m_g.vandnpd(active, stopped, active);
        m_g.vmovmskpd(eax, stopped);
    }
    Write(m_nCount, count);
    m_g.or_(r15d, eax);
}

bool CGenerator::Generate(
    const std::vector<JitProgram>& programs, const JitAdvance& advance, int iterations, int longest)
{
    // First pass: every storage and how often one iteration uses it.
    for (const JitProgram& p : programs) {
        if (p.reset >= 0) {
            Use(Storage(p.lanes[p.reset].re), true);
            Use(Storage(p.lanes[p.reset].im), true);
        }
        for (int k = 0; k < p.count; ++k) {
            const BatchInstruction& in = p.code[k];
            if (!Known(in.opcode)) {
                return false;
            }
            if (in.opcode == kBatchOpPowWhole && in.exponent < 0) {
                Use(Storage(m_pOnes), false);
                Use(Storage(m_pZeros), false);
            }
            const BatchLanes& a = p.lanes[in.a];
            const BatchLanes& b = in.b >= 0 ? p.lanes[in.b] : a;
            const BatchLanes& d = p.lanes[in.dest];
            Use(Storage(a.re), false);
            Use(Storage(a.im), false);
            Use(Storage(b.re), false);
            Use(Storage(b.im), false);
            Use(Storage(d.re), true);
            Use(Storage(d.im), true);
        }
    }
    m_nTerm = Storage(advance.termination);
    m_nCount = Storage(advance.count);
    Use(m_nTerm, false);
    Use(m_nCount, true);
    m_uses[m_nCount] += 4;
    if (advance.resultRe != nullptr) {
        m_nLastRe = Storage(advance.lastRe);
        m_nLastIm = Storage(advance.lastIm);
        m_nResultRe = Storage(advance.resultRe);
        m_nResultIm = Storage(advance.resultIm);
        Use(m_nLastRe, false);
        Use(m_nLastIm, false);
        Use(m_nResultRe, true);
        Use(m_nResultIm, true);
    }
    m_nActiveStorage = Storage(advance.active);
    // The registers go to the storages used most.
    bool divides = false;
    for (const JitProgram& p : programs) {
        for (int k = 0; k < p.count; ++k) {
            divides = divides || p.code[k].opcode == kOpDiv;
        }
    }
    const int firstHome = m_bWide && divides ? 12 : 8; // AVX-512's division needs four more
    const int homes = m_bWide ? 32 - firstHome : 16 - firstHome - 1;
    m_nActive = m_bWide ? -1 : 15;
    std::vector<int> order(m_uses.size());
    for (size_t id = 0; id < order.size(); ++id) {
        order[id] = static_cast<int>(id);
    }
    std::stable_sort(order.begin(), order.end(), [&](int l, int r) { return m_uses[l] > m_uses[r]; });
    int used = 0;
    for (int id : order) {
        used += id != m_nActiveStorage && m_uses[id] > 0 ? 1 : 0;
    }
    // Two vectors side by side, each in registers of its own, hide the latency of one vector's chain
    // of dependent operations behind the other's; only when every storage of both has a register and
    // no function is called (a call would save and restore both).
    bool calls = false;
    for (const JitProgram& p : programs) {
        for (int k = 0; k < p.count; ++k) {
            calls = calls || LanesOf<8>(p.code[k].opcode) != nullptr
                || (p.code[k].opcode == kBatchOpPowWhole && p.code[k].exponent < 0);
        }
    }
    m_bPair = m_bWide && !calls && used <= homes / 2 + kPairSpills;
    for (int vec = 0; vec < (m_bPair ? 2 : 1); ++vec) {
        int next = firstHome + vec * (homes / 2);
        for (int k = 0; k < static_cast<int>(order.size()) && k < (m_bPair ? homes / 2 : homes); ++k) {
            if (order[k] != m_nActiveStorage && m_uses[order[k]] > 0) {
                m_homes[vec][order[k]] = next++;
            }
        }
    }

    auto& g = m_g;
    g.push(rbx);
    g.push(rbp);
    g.push(r12);
    g.push(r13);
    g.push(r14);
    g.push(r15);
    g.sub(rsp, kFrame + 8); // 16-byte aligned at calls
    g.mov(rbx, rdi);
    g.mov(r12, rsi);
    g.xor_(r13d, r13d);
    g.xor_(r14d, r14d);
    Label vectorLoop, iterationLoop, vectorDone;
    g.L(vectorLoop);
    // The running lanes: active != 0.
    g.mov(rax, g.ptr[rbx + m_nActiveStorage * 8]);
    g.vmovupd(V(0), g.ptr[rax + r13]);
    if (m_bWide) {
        g.vcmppd(k1, V(0), Const(kZero), kCmpNe);
        if (m_bPair) {
            g.vmovupd(V(0), g.ptr[rax + r13 + m_nVecBytes]);
            g.vcmppd(k5, V(0), Const(kZero), kCmpNe);
        }
    } else {
        g.vcmppd(V(m_nActive), V(0), Const(kZero), kCmpNe);
    }
    LoadHomes();
    g.xor_(r15d, r15d);
    g.mov(ebp, longest);
    g.L(iterationLoop);
    // With a pair, each operation is written for the first vector, then for the second.
    const int vectors = m_bPair ? 2 : 1;
    for (const JitProgram& p : programs) {
        for (m_nVec = 0; m_nVec < vectors; ++m_nVec) {
            if (p.reset >= 0) {
                g.vmovupd(V(4), Const(kZero));
                Write(Storage(p.lanes[p.reset].re), V(4));
                Write(Storage(p.lanes[p.reset].im), V(4));
            }
        }
        for (int k = 0; k < p.count; ++k) {
            for (m_nVec = 0; m_nVec < vectors; ++m_nVec) {
                if (!Instruction(p.code[k], p.lanes)) {
                    return false;
                }
            }
        }
    }
    for (m_nVec = 0; m_nVec < vectors; ++m_nVec) {
        Advance(advance);
    }
    m_nVec = 0;
    // A vector whose lanes have all stopped waits for its refill without running on: nothing reads
    // what it would compute, and a new pixel resets every variable of its lane. After the first
    // `iterations`, a vector runs on until one of its lanes stops (at most `longest` in all), so
    // that long pixels do not return for nothing and the lane is refilled at once.
    if (m_bWide) {
        g.kortestw(k1, m_bPair ? k5 : k1);
    } else {
        g.vmovmskpd(eax, V(m_nActive));
        g.test(eax, eax);
    }
    g.jz(vectorDone, CodeGenerator::T_NEAR);
    g.dec(ebp);
    g.jz(vectorDone, CodeGenerator::T_NEAR);
    g.cmp(ebp, longest - iterations);
    g.ja(iterationLoop, CodeGenerator::T_NEAR);
    g.test(r15d, r15d);
    g.jz(iterationLoop, CodeGenerator::T_NEAR);
    g.L(vectorDone);
    StoreHomes();
    // active = 1 or 0 again.
    if (m_bWide) {
        g.vmovupd(V(0) | k1 | T_z, Const(kOne));
    } else {
        g.vandpd(V(0), V(m_nActive), Const(kOne));
    }
    g.mov(rax, g.ptr[rbx + m_nActiveStorage * 8]);
    g.vmovupd(g.ptr[rax + r13], V(0));
    if (m_bPair) {
        g.vmovupd(V(0) | k5 | T_z, Const(kOne));
        g.vmovupd(g.ptr[rax + r13 + m_nVecBytes], V(0));
    }
    // The vector's stopped lanes into their place among all lanes.
    g.mov(rcx, r13);
    g.shr(rcx, 3);
    g.shl(r15, cl);
    g.or_(r14, r15);
    g.add(r13, m_nVecBytes * vectors);
    g.cmp(r13, kLanes * 8);
    g.jb(vectorLoop, CodeGenerator::T_NEAR);
    g.mov(rax, r14);
    g.vzeroupper();
    g.add(rsp, kFrame + 8);
    g.pop(r15);
    g.pop(r14);
    g.pop(r13);
    g.pop(r12);
    g.pop(rbp);
    g.pop(rbx);
    g.ret();
    return true;
}

} // namespace

bool CBatchJit::Generate(const std::vector<JitProgram>& programs, const JitAdvance& advance, int iterations,
    int longest, JitIsa isa)
{
    const std::vector<JitIsa> isas = AvailableIsas();
    if (std::find(isas.begin(), isas.end(), isa) == isas.end() || iterations < 1 || longest < iterations) {
        return false;
    }
    for (int l = 0; l < 8; ++l) {
        m_constants[kOne / 8 + l] = 1.0;
        m_constants[kZero / 8 + l] = 0.0;
        m_constants[kSign / 8 + l] = -0.0;
        m_constants[kLimit / 8 + l] = advance.limit;
        m_constants[kAbs / 8 + l] = std::bit_cast<double>(~(uint64_t { 1 } << 63));
        m_constants[kNaNs / 8 + l] = kNaN;
    }
    std::fill(std::begin(m_ones), std::end(m_ones), 1.0);
    // Xbyak reports running out of room or memory by exceptions; none leaves here.
    try {
        m_pCode = std::make_unique<Code>();
        CGenerator generator(*m_pCode, isa, m_pointers, m_ones, m_zeros);
        if (!generator.Generate(programs, advance, iterations, longest)) {
            return false;
        }
        m_pCode->ready(CodeArray::PROTECT_RE);
        // Written, then read-and-execute; a system that refuses that keeps the interpreter.
        if (!m_pCode->setProtectModeRE(false)) {
            return false;
        }
        m_pRun = reinterpret_cast<RunFunction>(const_cast<uint8_t*>(m_pCode->getCode()));
    } catch (...) {
        return false;
    }
    return true;
}

std::unique_ptr<CBatchJit> CBatchJit::Build(const std::vector<JitProgram>& programs,
    const JitAdvance& advance, int iterations, int longest, JitIsa isa)
{
    std::unique_ptr<CBatchJit> jit(new CBatchJit);
    return jit->Generate(programs, advance, iterations, longest, isa) ? std::move(jit) : nullptr;
}

std::unique_ptr<CBatchJit> CBatchJit::BuildSingle(const JitProgram& program, JitIsa isa)
{
    // The termination value is the zeros (never greater than 0) and the limit is never reached.
    std::unique_ptr<CBatchJit> jit(new CBatchJit);
    const JitAdvance advance { jit->m_zeros, nullptr, nullptr, jit->m_count, jit->m_active, nullptr, nullptr,
        std::numeric_limits<double>::infinity() };
    return jit->Generate({ program }, advance, 1, 1, isa) ? std::move(jit) : nullptr;
}
