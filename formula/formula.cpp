#include "formula.h"

#include "opcodes.h"

#include <string>

const char* CompileMessage(int code)
{
    // One message per result code, indexed by the code.
    static const char* const kMessages[] = {
        "",                   // 0 success
        "临时变量溢出",       // 1 token list or scratch area full
        "非法字符",           // 2 a character that starts no token
        kMsgVariableOverflow, // 3 (constants: kMsgConstantOverflow)
        "缺少数据",           // 4 an operator without its operands
        "未知运算符",         // 5 reduction of a code above 13
        "编译错误",           // 6 syntax error
        "内部编译错误",       // 7 a relation the matrix cannot hold
        "错误的赋值语句",     // 8 assignment to something that is not a variable
        "运算符号溢出",       // 9 more than 1024 instructions
        "公式为空",           // 10 no token at all
    };
    if (code < 0 || code >= static_cast<int>(std::size(kMessages))) {
        return "";
    }
    return kMessages[code];
}

CFormula::CFormula()
    : m_values(kSlotCount)
    , m_names(kSlotCount)
    , m_instructions(kMaxInstructions)
{
}

Complex CFormula::Run()
{
    // Hoisted: the loop touches nothing else. The compiler guarantees valid slots (see Verify).
    Complex* const v = m_values.data();
    const Instruction* in = m_instructions.data();
    const Instruction* const end = in + m_nInstructionCount;
    v[m_nResultSlot] = Complex {};
    for (; in != end; ++in) {
        Complex& d = v[in->destination];
        switch (static_cast<Op>(in->opcode)) {
        case kOpNeg: d = Negate(d); break;
        case kOpAdd: d = Add(d, v[in->source]); break;
        case kOpSub: d = Sub(d, v[in->source]); break;
        case kOpMul: d = Mul(d, v[in->source]); break;
        case kOpDiv: d = Div(d, v[in->source]); break;
        case kOpCopy: d = v[in->source]; break;
        case kOpEq: d = Equal(d, v[in->source]); break;
        case kOpLt: d = Less(d, v[in->source]); break;
        case kOpLe: d = LessEqual(d, v[in->source]); break;
        case kOpGt: d = Greater(d, v[in->source]); break;
        case kOpGe: d = GreaterEqual(d, v[in->source]); break;
        case kOpNe: d = NotEqual(d, v[in->source]); break;
        case kOpPow: d = Pow(d, v[in->source]); break;
        case kOpImag: d = SwapParts(d); break;
        case kOpAbs: d = Abs(d); break;
        case kOpArg: d = Arg(d); break;
        case kOpConj: d = Conj(d); break;
        case kOpReal: d = RealPart(d); break;
        case kOpImagFn: d = ImagPart(d); break;
        case kOpNorm: d = Norm(d); break;
        case kOpExp: d = Exp(d); break;
        case kOpLog: d = Log(d); break;
        case kOpLog10: d = Log10(d); break;
        case kOpSqrt: d = Sqrt(d); break;
        case kOpSin: d = Sin(d); break;
        case kOpCos: d = Cos(d); break;
        case kOpTan: d = Tan(d); break;
        case kOpSinh: d = Sinh(d); break;
        case kOpCosh: d = Cosh(d); break;
        case kOpTanh: d = Tanh(d); break;
        case kOpOpen:
        case kOpClose:
        case kOpEnd:
        case kOpCount: break; // grouping and the separator do nothing
        }
    }
    return v[m_nResultSlot];
}

int CFormula::FindVariable(std::string_view name) const
{
    for (int i = 0; i < m_nVariableCount; ++i) {
        if (m_names[i] == name) {
            return i;
        }
    }
    return -1;
}

bool CFormula::SetVariable(int index, Complex value)
{
    if (index < 0 || index >= m_nVariableCount) {
        return false;
    }
    m_values[index] = value;
    return true;
}

Complex CFormula::GetVariable(int index) const
{
    if (index < 0 || index >= m_nVariableCount) {
        return {};
    }
    return m_values[index];
}

int CFormula::FindConstant(std::string_view name) const
{
    for (int k = 0; k < m_nConstantCount; ++k) {
        if (m_names[kFirstConstantSlot + k] == name) {
            return k;
        }
    }
    return -1;
}

std::string CFormula::GetConstantName(int k) const
{
    if (k < 0 || k >= m_nConstantCount) {
        return {};
    }
    return m_names[kFirstConstantSlot + k];
}

Complex CFormula::GetConstant(int k) const
{
    if (k < 0 || k >= m_nConstantCount) {
        return {};
    }
    return m_values[kFirstConstantSlot + k];
}

bool CFormula::SetConstant(int k, Complex value)
{
    if (k < 0 || k >= m_nConstantCount) {
        return false;
    }
    m_values[kFirstConstantSlot + k] = value;
    return true;
}

int CFormula::AddEntry(int firstSlot, int capacity, int& count, std::string_view name, Complex value)
{
    for (int k = 0; k < count; ++k) {
        if (m_names[firstSlot + k] == name) {
            return k;
        }
    }
    if (count >= capacity) {
        return -1;
    }
    m_names[firstSlot + count].assign(name);
    m_values[firstSlot + count] = value;
    return count++;
}

int CFormula::AddVariable(std::string_view name, Complex value)
{
    return AddEntry(0, kVariableCapacity, m_nVariableCount, name, value);
}

int CFormula::AddConstant(std::string_view name, Complex value)
{
    return AddEntry(kFirstConstantSlot, kConstantCapacity, m_nConstantCount, name, value);
}

int CFormula::AddLiteral(std::string_view name, Complex value)
{
    return AddEntry(kFirstScratchSlot, kScratchCapacity, m_nScratchCount, name, value);
}

std::string CFormula::Dump(DumpLayout layout) const
{
    std::string out;
    for (int i = 0; i < m_nInstructionCount; ++i) {
        const Instruction& in = m_instructions[i];
        const std::string d = std::to_string(in.destination);
        const std::string op = std::to_string(in.opcode);
        const std::string s = std::to_string(in.source);
        if (layout == DumpLayout::Lines) {
            out += d + ' ' + op + ' ' + s + '\n';
        } else {
            out += (i > 0 ? " (" : "(") + d + ',' + op + ',' + s + ')';
        }
    }
    return out;
}

bool CFormula::Verify() const
{
    const auto valid = [](int32_t slot) { return slot >= 0 && slot < kSlotCount; };
    if (m_nInstructionCount < 0 || m_nInstructionCount > kMaxInstructions || !valid(m_nResultSlot)) {
        return false;
    }
    for (int i = 0; i < m_nInstructionCount; ++i) {
        const Instruction& in = m_instructions[i];
        if (!valid(in.destination)) {
            return false;
        }
        const bool readsSource = (in.opcode >= kOpAdd && in.opcode <= kOpPow);
        if (readsSource && !valid(in.source)) {
            return false;
        }
    }
    return true;
}
