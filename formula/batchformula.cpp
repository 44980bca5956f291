#include "batchformula.h"

#include "opcodes.h"

#include <cstring>

namespace {

// Eight lanes as one vector: AVX-512 in one register, two AVX2 or four SSE2 registers otherwise.
// Element-wise IEEE arithmetic, never fused (the build forbids contraction): the same bits per lane
// as the scalar evaluator.
using Vec = double __attribute__((vector_size(64)));
using Mask = long long __attribute__((vector_size(64)));
constexpr int kVecLanes = 8;
static_assert(kLanes % kVecLanes == 0);

inline Vec Load(const double* p)
{
    Vec v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline void Store(double* p, Vec v) { std::memcpy(p, &v, sizeof v); }

inline Vec Truth(Mask m) { return __builtin_convertvector(m & 1, Vec); }

// The lanes of one slot: real parts, then imaginary parts.
struct Lanes {
    double* re;
    double* im;
};

// Every lane through a scalar function of the language (division, power, the transcendental ones).
template <typename F>
inline void EachLane(Lanes d, Lanes a, Lanes b, F f)
{
    for (int l = 0; l < kLanes; ++l) {
        const Complex r = f(Complex { a.re[l], a.im[l] }, Complex { b.re[l], b.im[l] });
        d.re[l] = r.re;
        d.im[l] = r.im;
    }
}

template <typename F>
inline void EachLane(Lanes d, Lanes a, F f)
{
    for (int l = 0; l < kLanes; ++l) {
        const Complex r = f(Complex { a.re[l], a.im[l] });
        d.re[l] = r.re;
        d.im[l] = r.im;
    }
}

// Every lane through vector arithmetic; operands are loaded before the destination is written, so
// a destination that is also an operand is fine.
template <typename F>
inline void EachVector(Lanes d, Lanes a, Lanes b, F f)
{
    for (int l = 0; l < kLanes; l += kVecLanes) {
        Vec re;
        Vec im;
        f(Load(a.re + l), Load(a.im + l), Load(b.re + l), Load(b.im + l), re, im);
        Store(d.re + l, re);
        Store(d.im + l, im);
    }
}

// The run loop over a batch program; one copy per instruction set, chosen at load time by the CPU.
// ORDER OP: one line per opcode, as in CFormula::Run.
__attribute__((target_clones("avx512f", "avx2", "default"))) void RunBatch(
    const BatchInstruction* code, size_t count, double* values, int32_t result)
{
    const auto lanes = [values](int32_t slot) {
        double* re = values + static_cast<size_t>(slot) * 2 * kLanes;
        return Lanes { re, re + kLanes };
    };
    const Lanes v = lanes(result);
    std::memset(v.re, 0, sizeof(double) * kLanes);
    std::memset(v.im, 0, sizeof(double) * kLanes);
    const Vec one = Vec {} + 1.0;
    const Vec zero = Vec {};
    for (const BatchInstruction* in = code; in != code + count; ++in) {
        const Lanes d = lanes(in->dest);
        const Lanes a = lanes(in->a);
        const Lanes b = in->b >= 0 ? lanes(in->b) : a;
        switch (in->opcode) {
        case kOpNeg: EachVector(d, a, a, [](Vec x, Vec y, Vec, Vec, Vec& r, Vec& i) { r = -x; i = -y; }); break;
        case kOpAdd: EachVector(d, a, b, [](Vec x, Vec y, Vec u, Vec w, Vec& r, Vec& i) { r = x + u; i = y + w; }); break;
        case kOpSub: EachVector(d, a, b, [](Vec x, Vec y, Vec u, Vec w, Vec& r, Vec& i) { r = x - u; i = y - w; }); break;
        case kOpMul: EachVector(d, a, b, [](Vec x, Vec y, Vec u, Vec w, Vec& r, Vec& i) { r = x * u - y * w; i = y * u + x * w; }); break;
        case kOpDiv: EachLane(d, a, b, Div); break;
        case kOpCopy: EachVector(d, a, a, [](Vec x, Vec y, Vec, Vec, Vec& r, Vec& i) { r = x; i = y; }); break;
        case kOpEq: EachVector(d, a, b, [zero](Vec x, Vec y, Vec u, Vec w, Vec& r, Vec& i) { r = Truth((x == u) & (y == w)); i = zero; }); break;
        case kOpLt: EachVector(d, a, b, [](Vec x, Vec y, Vec u, Vec w, Vec& r, Vec& i) { r = Truth(x < u); i = Truth(y < w); }); break;
        case kOpLe: EachVector(d, a, b, [](Vec x, Vec y, Vec u, Vec w, Vec& r, Vec& i) { r = Truth(x <= u); i = Truth(y <= w); }); break;
        case kOpGt: EachVector(d, a, b, [](Vec x, Vec y, Vec u, Vec w, Vec& r, Vec& i) { r = Truth(x > u); i = Truth(y > w); }); break;
        case kOpGe: EachVector(d, a, b, [](Vec x, Vec y, Vec u, Vec w, Vec& r, Vec& i) { r = Truth(x >= u); i = Truth(y >= w); }); break;
        case kOpNe: EachVector(d, a, b, [zero](Vec x, Vec y, Vec u, Vec w, Vec& r, Vec& i) { r = Truth((x != u) | (y != w)); i = zero; }); break;
        case kOpPow: EachLane(d, a, b, Pow); break;
        case kOpImag: EachVector(d, a, a, [](Vec x, Vec y, Vec, Vec, Vec& r, Vec& i) { r = y; i = x; }); break;
        case kOpAbs: EachLane(d, a, Abs); break;
        case kOpArg: EachLane(d, a, Arg); break;
        case kOpConj: EachVector(d, a, a, [](Vec x, Vec y, Vec, Vec, Vec& r, Vec& i) { r = x; i = -y; }); break;
        case kOpReal: EachVector(d, a, a, [zero](Vec x, Vec, Vec, Vec, Vec& r, Vec& i) { r = x; i = zero; }); break;
        case kOpImagFn: EachVector(d, a, a, [zero](Vec, Vec y, Vec, Vec, Vec& r, Vec& i) { r = y; i = zero; }); break;
        case kOpNorm: EachVector(d, a, a, [zero](Vec x, Vec y, Vec, Vec, Vec& r, Vec& i) { r = x * x + y * y; i = zero; }); break;
        case kOpExp: EachLane(d, a, Exp); break;
        case kOpLog: EachLane(d, a, Log); break;
        case kOpLog10: EachLane(d, a, Log10); break;
        case kOpSqrt: EachLane(d, a, Sqrt); break;
        case kOpSin: EachLane(d, a, Sin); break;
        case kOpCos: EachLane(d, a, Cos); break;
        case kOpTan: EachLane(d, a, Tan); break;
        case kOpSinh: EachLane(d, a, Sinh); break;
        case kOpCosh: EachLane(d, a, Cosh); break;
        case kOpTanh: EachLane(d, a, Tanh); break;
        default: break; // Grouping, the separator and unknown codes never reach a batch program.
        }
    }
    (void)one;
}

bool IsUnary(int op) { return op == kOpNeg || op == kOpImag || IsFunction(op); }
bool IsBinary(int op) { return op >= kOpAdd && op <= kOpPow && op != kOpCopy; }

} // namespace

CBatchFormula::CBatchFormula(const CFormula& formula)
{
    // Copy propagation: a copy into a temporary only records where the value is; the operation
    // that reads the temporary reads that slot instead. A temporary's value is made real before
    // the slot it stands for is overwritten.
    const int firstTemporary = kFirstScratchSlot + formula.GetScratchCount();
    std::vector<int32_t> alias(kSlotCount);
    for (int32_t s = 0; s < kSlotCount; ++s) {
        alias[s] = s;
    }
    std::vector<BatchInstruction> code; // still in formula slots
    const auto beforeWrite = [&](int32_t slot) {
        for (int32_t t = firstTemporary; t < kSlotCount; ++t) {
            if (t != slot && alias[t] == slot) {
                code.push_back({ t, kOpCopy, slot, -1 });
                alias[t] = t;
            }
        }
    };
    const Instruction* in = formula.GetInstructions();
    for (int i = 0; i < formula.GetInstructionCount(); ++i) {
        const Instruction& x = in[i];
        if (x.opcode == kOpCopy) {
            const int32_t source = alias[x.source];
            beforeWrite(x.destination);
            if (x.destination >= firstTemporary) {
                alias[x.destination] = source;
            } else {
                code.push_back({ x.destination, kOpCopy, source, -1 });
                alias[x.destination] = x.destination;
            }
        } else if (IsUnary(x.opcode) || IsBinary(x.opcode)) {
            const int32_t a = alias[x.destination];
            const int32_t b = IsBinary(x.opcode) ? alias[x.source] : -1;
            beforeWrite(x.destination);
            code.push_back({ x.destination, x.opcode, a, b });
            alias[x.destination] = x.destination;
        }
    }

    // Compact slots: every variable (the renderer sets some), the result and what the code touches.
    m_slotOf.assign(kSlotCount, -1);
    const auto use = [this](int32_t slot) {
        if (slot >= 0 && m_slotOf[slot] < 0) {
            m_slotOf[slot] = m_nSlots++;
            m_initial.push_back(Complex {});
        }
    };
    for (int s = 0; s < formula.GetVariableCount(); ++s) {
        use(s);
        m_variables.push_back(m_slotOf[s]);
    }
    use(formula.GetResultSlot());
    for (const BatchInstruction& x : code) {
        use(x.dest);
        use(x.a);
        use(x.b);
    }
    const Complex* slots = formula.GetSlots();
    for (int s = 0; s < kSlotCount; ++s) {
        if (m_slotOf[s] >= 0) {
            m_initial[m_slotOf[s]] = slots[s];
        }
    }
    for (BatchInstruction& x : code) {
        x = { m_slotOf[x.dest], x.opcode, m_slotOf[x.a], x.b >= 0 ? m_slotOf[x.b] : -1 };
    }
    m_code = std::move(code);
    m_nResult = m_slotOf[formula.GetResultSlot()];
    Allocate();
}

CBatchFormula::CBatchFormula(const CBatchFormula& other)
    : m_code(other.m_code)
    , m_initial(other.m_initial)
    , m_variables(other.m_variables)
    , m_nSlots(other.m_nSlots)
    , m_nResult(other.m_nResult)
    , m_slotOf(other.m_slotOf)
{
    Allocate();
}

CBatchFormula& CBatchFormula::operator=(const CBatchFormula& other)
{
    if (this != &other) {
        CBatchFormula copy(other);
        *this = std::move(copy);
    }
    return *this;
}

void CBatchFormula::Allocate()
{
    // Every lane starts from the compiled values; constants and literals never change afterwards.
    m_values = std::make_unique<double[]>(static_cast<size_t>(m_nSlots) * 2 * kLanes);
    for (int s = 0; s < m_nSlots; ++s) {
        for (int l = 0; l < kLanes; ++l) {
            Set(s, l, m_initial[s]);
        }
    }
}

int CBatchFormula::Slot(int formulaSlot) const
{
    if (formulaSlot < 0 || formulaSlot >= static_cast<int>(m_slotOf.size())) {
        return -1;
    }
    return m_slotOf[formulaSlot];
}

void CBatchFormula::ResetLane(int lane)
{
    for (const int32_t s : m_variables) {
        Set(s, lane, m_initial[s]);
    }
}

void CBatchFormula::SetInitial(int slot, Complex value)
{
    if (slot < 0) {
        return;
    }
    m_initial[slot] = value;
    for (int l = 0; l < kLanes; ++l) {
        Set(slot, l, value);
    }
}

void CBatchFormula::Run()
{
    if (m_values) {
        RunBatch(m_code.data(), m_code.size(), m_values.get(), m_nResult);
    }
}
