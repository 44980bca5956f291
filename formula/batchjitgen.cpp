// The block the generated code runs: which storages live in registers, and the frame, the loop over
// the vectors of the block and the loop over iterations around the operations' code.
#include "batchjitgen.h"

#include <algorithm>

namespace jit {

void CGenerator::LoadHomes(bool edge)
{
    for (m_nVec = 0; m_nVec < (m_bPair ? 2 : 1); ++m_nVec) {
        for (size_t id = 0; id < Home().size(); ++id) {
            if (Home()[id] >= 0 && (!edge || m_liveIn[id])) {
                m_g.vmovupd(V(Home()[id]), Memory(static_cast<int>(id)));
            }
        }
    }
    m_nVec = 0;
}

void CGenerator::StoreHomes(bool edge)
{
    for (m_nVec = 0; m_nVec < (m_bPair ? 2 : 1); ++m_nVec) {
        for (size_t id = 0; id < Home().size(); ++id) {
            if (Home()[id] >= 0 && m_written[id] && (!edge || m_liveIn[id] || m_readOutside[id])) {
                m_g.vmovupd(Memory(static_cast<int>(id)), V(Home()[id]));
            }
        }
    }
    m_nVec = 0;
}

void CGenerator::Advance(const JitAdvance& advance)
{
    // As AdvanceLanes: a running lane whose termination value is greater than 0 stops; the others
    // count one more and stop at the limit; a lane that stops keeps the iteration's value.
    const Xmm count = Read(m_nCount, 1);
    if (m_bWide) {
        const Opmask running = Running();
        if (m_pMaskIn != nullptr) {
            m_g.kandw(k2, m_nVec == 0 ? k6 : k7, running); // the termination test's own mask
        } else {
            m_g.vcmppd(k2, Read(m_nTerm, 0), Const(kZero), kCmpGt);
            m_g.kandw(k2, k2, running);
        }
        // k2: stopped
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
        KeepAtStop(advance, [&](const Xmm& kept, const Xmm& from) { m_g.vmovapd(kept | k2, from); });
        WriteCount(count);
        m_g.kandnw(running, k2, running);
        // eax from here on: a store to a storage in memory would load its address into rax.
        m_g.kmovw(eax, k2);
        if (m_nVec == 1) {
            m_g.shl(eax, m_nLanes); // the second vector's lanes follow the first's
        }
    } else {
        const Xmm active = V(m_nActive);
        const Xmm stopped = V(6), on = V(7);
        m_g.vcmppd(stopped, Read(m_nTerm, 0), Const(kZero), kCmpGt);
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
        KeepAtStop(
            advance, [&](const Xmm& kept, const Xmm& from) { m_g.vblendvpd(kept, kept, from, stopped); });
        WriteCount(count);
        m_g.vandnpd(active, stopped, active);
        m_g.vmovmskpd(eax, stopped);
    }
    if (advance.resultRe != nullptr) {
        Written(m_nResultRe);
        Written(m_nResultIm);
    }
    m_g.or_(r15d, eax);
}

void CGenerator::WriteCount(const Xmm& count)
{
    Write(m_nCount, count);
    Written(m_nCount);
}

// The kept pairs' values of a stopping lane, as the result's: move(kept, from) where the lane stops.
void CGenerator::KeepAtStop(
    const JitAdvance& advance, const std::function<void(const Xmm&, const Xmm&)>& move)
{
    for (size_t k = 0; k < advance.keep.size(); ++k) {
        if (advance.keep[k].toRe == nullptr) {
            continue;
        }
        for (int part = 0; part < 2; ++part) {
            const int from = m_keepIds[k][part];
            const int kept = m_keepIds[k][2 + part];
            const Xmm value = Read(kept, 4);
            move(value, Read(from, 2));
            Write(kept, value);
            Written(kept);
        }
    }
}

bool CGenerator::Generate(
    const std::vector<JitProgram>& programs, const JitAdvance& advance, int iterations, int longest)
{
    m_advance = advance;
    if (!CountUses(programs, advance)) {
        return false;
    }
    AssignHomes(programs);
    EnterBlock();
    Label vectorLoop, iterationLoop, vectorDone;
    m_g.L(vectorLoop);
    StartVector(longest);
    m_g.L(iterationLoop);
    // The tests whether to go on are asked every kUnroll iterations where the bounds allow: the lanes
    // that stop in between run on masked, as they do to the end of a block anyway.
    const int unroll = iterations % kUnroll == 0 && longest % kUnroll == 0 ? kUnroll : 1;
    for (int k = 0; k < unroll; ++k) {
        if (!Iterate(programs, advance)) {
            return false;
        }
    }
    EndIteration(iterationLoop, vectorDone, iterations, longest, unroll);
    m_g.L(vectorDone);
    EndVector(vectorLoop);
    LeaveBlock();
    return true;
}

bool VisitStorages(const std::vector<JitProgram>& programs, const JitAdvance& advance, const double* ones,
    const double* zeros, const std::function<void(const double*, bool, bool)>& visit)
{
    for (const JitProgram& p : programs) {
        if (p.reset >= 0) {
            visit(p.lanes[p.reset].re, true, true);
            visit(p.lanes[p.reset].im, true, true);
        }
        for (int k = 0; k < p.count; ++k) {
            const BatchInstruction& in = p.code[k];
            if (!Known(in.opcode)) {
                return false;
            }
            if (in.opcode == kBatchOpPowWhole && in.exponent < 0) {
                visit(ones, false, true);
                visit(zeros, false, true);
            }
            const BatchLanes& a = p.lanes[in.a];
            const BatchLanes& b = in.b >= 0 ? p.lanes[in.b] : a;
            const BatchLanes& d = p.lanes[in.dest];
            const bool readsIm = ReadsImaginary(in);
            visit(a.re, false, true);
            visit(a.im, false, readsIm);
            visit(b.re, false, true);
            visit(b.im, false, readsIm);
            visit(d.re, true, true);
            visit(d.im, WritesImaginary(in), WritesImaginary(in));
        }
    }
    visit(advance.termination, false, true);
    visit(advance.count, true, true);
    if (advance.resultRe != nullptr) {
        visit(advance.lastRe, false, true);
        visit(advance.lastIm, false, true);
        visit(advance.resultRe, true, true);
        visit(advance.resultIm, true, true);
    }
    for (const JitKeep& keep : advance.keep) {
        if (keep.toRe != nullptr) {
            visit(keep.fromRe, false, true);
            visit(keep.fromIm, false, true);
            visit(keep.toRe, true, true);
            visit(keep.toIm, true, true);
        }
    }
    visit(advance.active, false, false);
    return true;
}

// Every storage and how often one iteration uses it; false for an operation the generator lacks.
bool CGenerator::CountUses(const std::vector<JitProgram>& programs, const JitAdvance& advance)
{
    if (!VisitStorages(
            programs, advance, m_pOnes, m_pZeros, [this](const double* p, bool write, bool touched) {
                const int id = Storage(p);
                if (touched) {
                    Use(id, write);
                }
            })) {
        return false;
    }
    m_nTerm = Storage(advance.termination);
    m_nCount = Storage(advance.count);
    m_uses[m_nCount] += 4;
    if (advance.resultRe != nullptr) {
        m_nLastRe = Storage(advance.lastRe);
        m_nLastIm = Storage(advance.lastIm);
        m_nResultRe = Storage(advance.resultRe);
        m_nResultIm = Storage(advance.resultIm);
    }
    for (size_t k = 0; k < advance.keep.size(); ++k) {
        const JitKeep& keep = advance.keep[k];
        if (keep.toRe != nullptr) {
            m_keepIds[k]
                = { Storage(keep.fromRe), Storage(keep.fromIm), Storage(keep.toRe), Storage(keep.toIm) };
        }
    }
    // The running lanes live in a mask register, never in a home.
    m_nActiveStorage = Storage(advance.active);
    m_bKeepEvery = advance.keepEvery;
    PlanMask(programs, advance);
    PlanEdges(programs, advance);
    return true;
}

void CGenerator::AssignHomes(const std::vector<JitProgram>& programs)
{
    // The registers go to the storages used most.
    bool divides = false;
    bool calls = false;
    for (const JitProgram& p : programs) {
        for (int k = 0; k < p.count; ++k) {
            divides = divides || p.code[k].opcode == kOpDiv;
            // (AVX-512 divides inline.)
            calls = calls
                || (LanesOf(p.code[k].opcode, true) != nullptr && !(m_bWide && p.code[k].opcode == kOpDiv))
                || (p.code[k].opcode == kBatchOpPowWhole && p.code[k].exponent < 0);
        }
    }
    const int firstHome = m_bWide && divides ? 12 : 8; // AVX-512's division needs four more
    // The last four registers hold squares (two a vector) where the programs square a value and
    // call nothing (a call would lose them).
    if (m_bWide && !calls) {
        PlanSquares(programs, m_advance);
    }
    const int homes = m_bWide ? 32 - firstHome - (m_nSquareReg >= 0 ? 4 : 0) : 16 - firstHome - 1;
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
    m_bPair = m_bWide && !calls && used <= homes / 2 + kPairSpills;
    for (int vec = 0; vec < (m_bPair ? 2 : 1); ++vec) {
        int next = firstHome + vec * (homes / 2);
        for (int k = 0; k < static_cast<int>(order.size()) && k < (m_bPair ? homes / 2 : homes); ++k) {
            if (order[k] != m_nActiveStorage && m_uses[order[k]] > 0) {
                m_homes[vec][order[k]] = next++;
            }
        }
    }
}

// Saves the registers the block uses and sets up the storage pointers, the constants and the offsets.
void CGenerator::EnterBlock()
{
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
}

// The running lanes of the vector (or pair) about to run, its homes loaded, and the iteration count.
void CGenerator::StartVector(int longest)
{
    auto& g = m_g;
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
    LoadHomes(true);
    SquaresAtEntry();
    g.xor_(r15d, r15d);
    g.mov(ebp, longest);
}

// Whether the instruction leaves its destination's imaginary part exactly 0 (for an abs after it);
// an instruction that does not write that part leaves what was known.
void CGenerator::NoteWrite(const BatchInstruction& in, int imaginary)
{
    if (in.realOnly && HasRealOnlyForm(in.opcode)) {
        return;
    }
    if (imaginary >= static_cast<int>(m_realIm.size())) {
        m_realIm.resize(imaginary + 1, 0);
    }
    const int op = in.opcode;
    m_realIm[imaginary] = op == kOpReal || op == kOpImagFn || op == kOpNorm || op == kOpAbs || op == kOpArg
        || op == kOpEq || op == kOpNe;
}

// One iteration of every program and the advance, for each vector of a pair.
bool CGenerator::Iterate(const std::vector<JitProgram>& programs, const JitAdvance& advance)
{
    auto& g = m_g;
    // With a pair, each operation is written for the first vector, then for the second.
    const int vectors = m_bPair ? 2 : 1;
    // What the loop's previous turn or a refill left is not known to be real.
    std::fill(m_realIm.begin(), m_realIm.end(), 0);
    for (const JitProgram& p : programs) {
        for (m_nVec = 0; m_nVec < vectors; ++m_nVec) {
            if (p.reset >= 0) {
                g.vmovupd(V(4), Const(kZero));
                Write(Storage(p.lanes[p.reset].re), V(4));
                Write(Storage(p.lanes[p.reset].im), V(4));
                Written(Storage(p.lanes[p.reset].re));
                Written(Storage(p.lanes[p.reset].im));
            }
        }
        for (int k = 0; k < p.count; ++k) {
            const BatchInstruction& in = p.code[k];
            // Decided once for both vectors of a pair: the first one's write may be the operand.
            m_bAbsOfReal = in.opcode == kOpAbs && KnownReal(Storage(p.lanes[in.a].im));
            for (m_nVec = 0; m_nVec < vectors; ++m_nVec) {
                if (&in == m_pMaskIn) {
                    TerminationMask(in, p.lanes);
                } else if (!Squares(in, p.lanes) && !Instruction(in, p.lanes)) {
                    return false;
                }
                Written(Storage(p.lanes[in.dest].re));
                Written(Storage(p.lanes[in.dest].im));
            }
            NoteWrite(in, Storage(p.lanes[in.dest].im));
        }
    }
    for (m_nVec = 0; m_nVec < vectors; ++m_nVec) {
        Advance(advance);
    }
    m_nVec = 0;
    return true;
}

void CGenerator::EndIteration(
    Label& iterationLoop, Label& vectorDone, int iterations, int longest, int unroll)
{
    auto& g = m_g;
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
    g.sub(ebp, unroll);
    g.jz(vectorDone, CodeGenerator::T_NEAR);
    g.cmp(ebp, longest - iterations);
    g.ja(iterationLoop, CodeGenerator::T_NEAR);
    g.test(r15d, r15d);
    g.jz(iterationLoop, CodeGenerator::T_NEAR);
}

// The vector's homes and running lanes back to memory, its stopped lanes noted, and on to the next.
void CGenerator::EndVector(Label& vectorLoop)
{
    auto& g = m_g;
    StoreHomes(true);
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
    g.add(r13, m_nVecBytes * (m_bPair ? 2 : 1));
    g.cmp(r13, kLanes * 8);
    g.jb(vectorLoop, CodeGenerator::T_NEAR);
}

void CGenerator::LeaveBlock()
{
    auto& g = m_g;
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
}

} // namespace jit
