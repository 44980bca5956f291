// What the generated loop leaves out of the operations as the interpreter writes them, every bit the
// same: the termination test kept as the mask it is (not turned into 1.0 or 0.0 and compared with 0
// again), a value's squares computed once (the norm that ends an iteration squares the value the
// next iteration's z * z squares again; both cross terms of a square are x y, as multiplication
// commutes), and at the block's edges only the homes that hold something loaded or stored.
#include "batchjitgen.h"

namespace jit {

namespace {

bool IsOrder(int opcode) { return opcode == kOpLt || opcode == kOpLe || opcode == kOpGt || opcode == kOpGe; }

uint8_t OrderPredicate(int opcode)
{
    return opcode == kOpLt ? kCmpLt : opcode == kOpLe ? kCmpLe : opcode == kOpGt ? kCmpGt : kCmpGe;
}

} // namespace

bool ReadsImaginary(const BatchInstruction& in) { return !(in.realOnly && IsOrder(in.opcode)); }

// As Instruction writes it.
bool WritesImaginary(const BatchInstruction& in) { return !(in.realOnly && HasRealOnlyForm(in.opcode)); }

// The last comparison of the termination program becomes a mask when nothing but the bookkeeping
// reads its value.
void CGenerator::PlanMask(const std::vector<JitProgram>& programs, const JitAdvance& advance)
{
    if (!m_bWide || programs.empty() || programs.back().count == 0 || m_bKeepEvery) {
        return;
    }
    const JitProgram& last = programs.back();
    const BatchInstruction& test = last.code[last.count - 1];
    if (!IsOrder(test.opcode) || !test.realOnly || Storage(last.lanes[test.dest].re) != m_nTerm) {
        return;
    }
    for (const JitProgram& p : programs) {
        if (p.reset >= 0
            && (Storage(p.lanes[p.reset].re) == m_nTerm || Storage(p.lanes[p.reset].im) == m_nTerm)) {
            return;
        }
        for (int k = 0; k < p.count; ++k) {
            const BatchInstruction& in = p.code[k];
            const BatchLanes& b = in.b >= 0 ? p.lanes[in.b] : p.lanes[in.a];
            for (const double* read : { p.lanes[in.a].re, p.lanes[in.a].im, b.re, b.im }) {
                if (Storage(read) == m_nTerm) {
                    return;
                }
            }
        }
    }
    if (advance.lastRe == advance.termination || advance.lastIm == advance.termination) {
        return;
    }
    for (const JitKeep& keep : advance.keep) {
        if (keep.fromRe == advance.termination || keep.fromIm == advance.termination) {
            return;
        }
    }
    m_pMaskIn = &test;
    m_uses[m_nTerm] = 0; // never in memory, nor in a home
}

// Which storages an iteration reads before it writes them (loaded at a block's start), and which the
// caller reads after the block (stored at its end, with the former).
void CGenerator::PlanEdges(const std::vector<JitProgram>& programs, const JitAdvance& advance)
{
    m_liveIn.assign(m_uses.size(), false);
    m_readOutside.assign(m_uses.size(), m_bKeepEvery);
    std::vector<bool> seen(m_uses.size(), false);
    const auto access = [&](const double* p, bool write) {
        const int id = Storage(p);
        if (!seen[id]) {
            seen[id] = true;
            m_liveIn[id] = !write;
        }
    };
    for (const JitProgram& p : programs) {
        if (p.reset >= 0) {
            access(p.lanes[p.reset].re, true);
            access(p.lanes[p.reset].im, true);
        }
        for (int k = 0; k < p.count; ++k) {
            const BatchInstruction& in = p.code[k];
            if (in.opcode == kBatchOpPowWhole && in.exponent < 0) {
                access(m_pOnes, false);
                access(m_pZeros, false);
            }
            for (const int operand : { in.a, in.b >= 0 ? in.b : in.a }) {
                access(p.lanes[operand].re, false);
                if (ReadsImaginary(in)) {
                    access(p.lanes[operand].im, false);
                }
            }
            if (&in != m_pMaskIn) {
                access(p.lanes[in.dest].re, true);
                if (WritesImaginary(in)) {
                    access(p.lanes[in.dest].im, true);
                }
            }
        }
    }
    // The bookkeeping reads before it writes (its stores are masked).
    for (const double* p : std::initializer_list<const double*> { advance.termination, advance.count,
             advance.lastRe, advance.lastIm, advance.resultRe, advance.resultIm }) {
        if (p != nullptr) {
            access(p, false);
        }
    }
    for (const double* p :
        std::initializer_list<const double*> { advance.count, advance.resultRe, advance.resultIm }) {
        if (p != nullptr) {
            m_readOutside[Storage(p)] = true;
        }
    }
    for (const JitKeep& keep : advance.keep) {
        if (keep.toRe != nullptr) {
            for (const double* p :
                std::initializer_list<const double*> { keep.fromRe, keep.fromIm, keep.toRe, keep.toIm }) {
                access(p, false);
            }
            m_readOutside[Storage(keep.toRe)] = true;
            m_readOutside[Storage(keep.toIm)] = true;
        }
    }
}

CGenerator::Squared CGenerator::AfterSquares(Squared s, const BatchInstruction& in, const BatchLanes* slots)
{
    const int aRe = Storage(slots[in.a].re), aIm = Storage(slots[in.a].im);
    const bool square = in.opcode == kOpNorm
        || (in.opcode == kOpMul && aRe == Storage(slots[in.b].re) && aIm == Storage(slots[in.b].im));
    if (square) {
        s = { aRe, aIm };
    }
    for (const int id : { Storage(slots[in.dest].re), Storage(slots[in.dest].im) }) {
        if (id == s.re || id == s.im) {
            s = {};
        }
    }
    return s;
}

// The square registers are kept where a value is squared; they hold its squares when an iteration
// starts only if the iteration ends with them (computed once more at the start of every vector).
void CGenerator::PlanSquares(const std::vector<JitProgram>& programs, const JitAdvance& advance)
{
    bool squares = false;
    const auto iterate = [&](Squared s) {
        for (const JitProgram& p : programs) {
            for (const double* reset : { p.reset >= 0 ? p.lanes[p.reset].re : nullptr,
                     p.reset >= 0 ? p.lanes[p.reset].im : nullptr }) {
                if (reset != nullptr && (Storage(reset) == s.re || Storage(reset) == s.im)) {
                    s = {};
                }
            }
            for (int k = 0; k < p.count; ++k) {
                const BatchInstruction& in = p.code[k];
                squares = squares || in.opcode == kOpNorm
                    || (in.opcode == kOpMul && Storage(p.lanes[in.a].re) == Storage(p.lanes[in.b].re)
                        && Storage(p.lanes[in.a].im) == Storage(p.lanes[in.b].im));
                s = AfterSquares(s, in, p.lanes);
            }
        }
        for (const double* written :
            std::initializer_list<const double*> { advance.count, advance.resultRe, advance.resultIm }) {
            if (written != nullptr && (Storage(written) == s.re || Storage(written) == s.im)) {
                s = {};
            }
        }
        for (const JitKeep& keep : advance.keep) {
            for (const double* written : std::initializer_list<const double*> { keep.toRe, keep.toIm }) {
                if (written != nullptr && (Storage(written) == s.re || Storage(written) == s.im)) {
                    s = {};
                }
            }
        }
        return s;
    };
    const Squared end = iterate({});
    m_entrySquares = end.re >= 0 && iterate(end) == end ? end : Squared {};
    m_nSquareReg = squares ? 28 : -1;
}

void CGenerator::SquaresAtEntry()
{
    for (m_nVec = 0; m_nVec < (m_bPair ? 2 : 1); ++m_nVec) {
        m_squares[m_nVec] = m_nSquareReg >= 0 ? m_entrySquares : Squared {};
        if (m_squares[m_nVec].re >= 0) {
            const Xmm x = Read(m_entrySquares.re, 0), y = Read(m_entrySquares.im, 1);
            m_g.vmulpd(V(m_nSquareReg + 2 * m_nVec), x, x);
            m_g.vmulpd(V(m_nSquareReg + 2 * m_nVec + 1), y, y);
        }
    }
    m_nVec = 0;
}

void CGenerator::Written(int id)
{
    Squared& s = m_squares[m_nVec];
    if (id == s.re || id == s.im) {
        s = {};
    }
}

// z * z and norm(z) from the squares of z: (x x - y y, t + t) with t = x y, and x x + y y.
bool CGenerator::Squares(const BatchInstruction& in, const BatchLanes* slots)
{
    const int aRe = Storage(slots[in.a].re), aIm = Storage(slots[in.a].im);
    const bool norm = in.opcode == kOpNorm;
    if (m_nSquareReg < 0
        || !(norm
            || (in.opcode == kOpMul && aRe == Storage(slots[in.b].re) && aIm == Storage(slots[in.b].im)))) {
        return false;
    }
    const int dRe = Storage(slots[in.dest].re), dIm = Storage(slots[in.dest].im);
    const Xmm xx = V(m_nSquareReg + 2 * m_nVec), yy = V(m_nSquareReg + 2 * m_nVec + 1);
    const Xmm x = Read(aRe, 0), y = Read(aIm, 1);
    if (!(m_squares[m_nVec] == Squared { aRe, aIm })) {
        m_g.vmulpd(xx, x, x);
        m_g.vmulpd(yy, y, y);
        m_squares[m_nVec] = { aRe, aIm };
    }
    const auto operand = [&](int id) { return id == aRe || id == aIm; };
    const Xmm r = Home()[dRe] >= 0 && !operand(dRe) ? V(Home()[dRe]) : V(4);
    const Xmm i = Home()[dIm] >= 0 && !operand(dIm) ? V(Home()[dIm]) : V(5);
    const bool imaginary = WritesImaginary(in);
    if (norm) {
        m_g.vaddpd(r, xx, yy);
        if (imaginary) {
            m_g.vmovupd(i, Const(kZero));
        }
    } else {
        m_g.vmulpd(V(6), x, y);
        m_g.vsubpd(r, xx, yy);
        m_g.vaddpd(i, V(6), V(6));
    }
    Write(dRe, r);
    if (imaginary) {
        Write(dIm, i);
    }
    return true;
}

void CGenerator::TerminationMask(const BatchInstruction& in, const BatchLanes* slots)
{
    const Xmm x = Read(Storage(slots[in.a].re), 0);
    const Xmm u = Read(Storage(slots[in.b].re), 2);
    m_g.vcmppd(m_nVec == 0 ? k6 : k7, x, u, OrderPredicate(in.opcode));
}

} // namespace jit
