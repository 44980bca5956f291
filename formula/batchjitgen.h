#pragma once

// The code generator behind CBatchJit, for its own files alone: batchjitgen.cpp allocates registers
// and writes the block's frame and loops, batchjitemit.cpp the code of each operation.
#include "batchjit.h"

#include "complex.h"
#include "opcodes.h"

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#define XBYAK_NO_OP_NAMES
#include <xbyak/xbyak.h>

namespace jit {

using namespace Xbyak;
using namespace Xbyak::util;

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

using LaneFunction = void (*)(const double*, const double*, const double*, const double*, double*, double*);

// The function of an operation over the lanes of one vector (wide: eight lanes, else four), for the
// operations the generated code calls: the batch kernels' vector code of the same set for the
// functions, the interpreter's scalar code for division and power; null for those it writes itself.
LaneFunction LanesOf(int opcode, bool wide);

// The operations whose real part the interpreter computes alone when only it is read (RunRealOnly).
inline bool HasRealOnlyForm(int opcode)
{
    const OpTraits* traits = TraitsOf(opcode);
    return traits != nullptr && traits->realOnlyRun;
}

inline bool Known(int opcode)
{
    const OpTraits* traits = TraitsOf(opcode);
    return (traits != nullptr && traits->jit != JitForm::None) || opcode == kBatchOpPowWhole;
}

// Calls visit with every storage the block names (whether it writes it, whether the code touches it
// at all: the imaginary parts of real-only results and comparisons are named, never read or written),
// in the order the generator numbers them: the storage list of code generated for other lanes of the
// same shape comes from here. false for an operation the generator lacks.
bool VisitStorages(const std::vector<JitProgram>& programs, const JitAdvance& advance, const double* ones,
    const double* zeros, const std::function<void(const double*, bool write, bool touched)>& visit);

// Whether the operation reads the imaginary parts of its operands, and writes that of its result.
bool ReadsImaginary(const BatchInstruction& in);
bool WritesImaginary(const BatchInstruction& in);

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

    // The whole block's code (batchjitgen.cpp); false when a program has what it cannot write.
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
    // Register allocation, and the block's frame and loops (batchjitgen.cpp).
    bool CountUses(const std::vector<JitProgram>& programs, const JitAdvance& advance);
    // The trims of the loop (batchjittrim.cpp): the termination test kept as a mask, the squares of
    // a value computed once (norm's reused by the next iteration's product, x y for both of a square's
    // cross terms), and the homes loaded and stored at the block's edges only where they matter.
    void PlanMask(const std::vector<JitProgram>& programs, const JitAdvance& advance);
    void PlanEdges(const std::vector<JitProgram>& programs, const JitAdvance& advance);
    void PlanSquares(const std::vector<JitProgram>& programs, const JitAdvance& advance);
    bool Squares(const BatchInstruction& in, const BatchLanes* slots);
    void TerminationMask(const BatchInstruction& in, const BatchLanes* slots);
    void SquaresAtEntry();
    void Written(int id);
    // Which storage's squares the square registers hold: re and im ids, or -1.
    struct Squared {
        int re { -1 }, im { -1 };
        bool operator==(const Squared&) const = default;
    };
    Squared AfterSquares(Squared s, const BatchInstruction& in, const BatchLanes* slots);
    void AssignHomes(const std::vector<JitProgram>& programs);
    void EnterBlock();
    void StartVector(int longest);
    bool Iterate(const std::vector<JitProgram>& programs, const JitAdvance& advance);
    void EndIteration(Label& iterationLoop, Label& vectorDone, int iterations, int longest, int unroll);
    void EndVector(Label& vectorLoop);
    void LeaveBlock();
    // At a block's edge (edge: only what is read before written in an iteration, and stored what is
    // also read outside), or around a call (everything).
    void LoadHomes(bool edge = false);
    void StoreHomes(bool edge = false);
    void Advance(const JitAdvance& advance);
    void WriteCount(const Xmm& count);
    void KeepAtStop(const JitAdvance& advance, const std::function<void(const Xmm&, const Xmm&)>& move);
    // One operation's code (batchjitemit.cpp).
    void Truth(const Xmm& d, int scratchMask); // d = 1 where the comparison in scratchMask held, else 0
    void Compare(const Xmm& d, const Xmm& a, const Xmm& b, uint8_t predicate);
    bool Instruction(const BatchInstruction& in, const BatchLanes* slots);
    // abs of an operand whose imaginary part is exactly 0 is |re| (the modulus, bit for bit), inline.
    bool KnownReal(int imaginary) const
    {
        return imaginary < static_cast<int>(m_realIm.size()) && m_realIm[imaginary] != 0;
    }
    void NoteWrite(const BatchInstruction& in, int imaginary);
    // The registers of an operation the generator writes itself: x and u hold the operands' real
    // parts, r and i take the result, t is scratch; Y and W read the imaginary parts when needed.
    struct InlineOperands {
        int op;
        Xmm x, u, r, i, t;
        int aIm, bIm;
        bool imaginary; // whether i is written to the destination
    };
    Xmm Y(const InlineOperands& o) { return Read(o.aIm, 1); }
    Xmm W(const InlineOperands& o) { return Read(o.bIm, 3); }
    bool Inline(const InlineOperands& o);
    void PartWise(const InlineOperands& o);
    void Product(const InlineOperands& o);
    void Equality(const InlineOperands& o);
    void Order(const InlineOperands& o);
    void RealValued(const InlineOperands& o);
    void CallLanes(LaneFunction f, int ar, int ai, int br, int bi, int dr, int di);
    void Power(const BatchInstruction& in, const BatchLanes* slots);
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
    std::array<std::array<int, 4>, kJitKeeps> m_keepIds {}; // each kept pair's from re, im, to re, im
    JitAdvance m_advance;
    const BatchInstruction* m_pMaskIn { nullptr }; // the comparison kept as a mask (k6, k7), or null
    std::vector<bool> m_liveIn;                    // read before written in an iteration
    std::vector<bool> m_readOutside;               // read by the caller after the block
    bool m_bKeepEvery { false };
    int m_nSquareReg { -1 }; // the square registers, two a vector, or -1
    Squared m_entrySquares;  // what they hold when an iteration starts
    Squared m_squares[2];
    std::vector<char> m_realIm;  // per storage: an imaginary part this iteration set to exactly 0
    bool m_bAbsOfReal { false }; // the instruction being written is such an abs
    static constexpr int kFrame = 64;
    static constexpr int kUnroll = 4;
    // How many of the least used storages may stay in memory for two vectors to run side by side.
    static constexpr int kPairSpills = 2; // the running lanes while a function is called
};

} // namespace jit
