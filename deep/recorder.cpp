#include "recorder.h"

#include "deltaforms.h"
#include "smoothness.h"

#include "opcodes.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

bool Usable(Complex v, double largest)
{
    return std::isfinite(v.re) && std::isfinite(v.im) && std::fabs(v.re) < largest
        && std::fabs(v.im) < largest;
}

} // namespace

Complex SignKept(const BigComplex& v)
{
    Complex c = v.ToComplex();
    const auto keep = [](double& part, mpfr_srcptr exact) {
        if (part == 0.0 && mpfr_regular_p(exact)) {
            part = mpfr_sgn(exact) > 0 ? std::numeric_limits<double>::denorm_min()
                                       : -std::numeric_limits<double>::denorm_min();
        }
    };
    keep(c.re, v.Re());
    keep(c.im, v.Im());
    return c;
}

ExComplex WideOf(const BigComplex& v)
{
    const auto part = [](mpfr_srcptr x) {
        if (!mpfr_regular_p(x)) {
            return ex::FromReal(mpfr_nan_p(x) ? kNaN : mpfr_get_d(x, MPFR_RNDN));
        }
        long exponent = 0;
        const double mantissa = mpfr_get_d_2exp(&exponent, x, MPFR_RNDN);
        return ex::Normalised(mantissa, 0.0, exponent);
    };
    return ex::Add(part(v.Re()), ex::Swap(part(v.Im())));
}

CRecorder::CRecorder(const CDeltaCode& code, CPreciseProgram& run, ProgramRecord& record, size_t reserved,
    double largest, int firstRun)
    : m_code(code)
    , m_run(run)
    , m_record(record)
    , m_rounded(static_cast<size_t>(run.SlotCount()))
    , m_diff(run.Precision())
    , m_dLargest(largest)
    , m_nRun(firstRun)
{
    record.instructions = run.InstructionCount();
    const size_t count = reserved * static_cast<size_t>(record.instructions);
    record.a.reserve(count);
    record.b.reserve(count);
    record.r.reserve(count);
    for (int slot = 0; slot < run.SlotCount(); ++slot) {
        m_rounded[static_cast<size_t>(slot)] = run.Slot(slot).ToComplex();
    }
}

bool CRecorder::Tiny(Complex rounded, const BigComplex& exact)
{
    const auto lost
        = [](double part, mpfr_srcptr x) { return std::fabs(part) < 0x1p-1000 && mpfr_regular_p(x); };
    return lost(rounded.re, exact.Re()) || lost(rounded.im, exact.Im());
}

void CRecorder::NoteTiny(size_t before)
{
    const bool some = m_record.tiny.size() > before;
    if (some && m_record.firstTiny.empty()) {
        m_record.firstTiny.assign(static_cast<size_t>(m_nRun), -1);
    }
    if (!m_record.firstTiny.empty()) {
        m_record.firstTiny.push_back(some ? static_cast<int32_t>(before) : -1);
    }
    ++m_nRun;
}

bool CRecorder::Run()
{
    const size_t tinyBefore = m_record.tiny.size();
    m_run.BeginRun();
    if (m_code.ResetSlot() >= 0) {
        m_rounded[static_cast<size_t>(m_code.ResetSlot())] = {};
    }
    bool finite = true;
    for (int k = 0; k < m_record.instructions; ++k) {
        const BatchInstruction& in = m_run.Instruction(k);
        if (IsComparison(in.opcode)) {
            // The exact difference decides every pixel's comparison.
            m_diff.SetPrecision(std::max(m_run.Slot(in.a).Precision(), m_run.Slot(in.b).Precision()));
            mpc_sub(m_diff.get(), m_run.Slot(in.a).get(), m_run.Slot(in.b).get(), MPC_RNDNN);
            const Complex diff = SignKept(m_diff);
            m_record.a.push_back(diff);
            m_record.b.push_back({});
            m_run.RunInstruction(k);
            const Complex r = m_run.Slot(in.dest).ToComplex();
            m_rounded[static_cast<size_t>(in.dest)] = m_record.r.emplace_back(r);
            if (Tiny(diff, m_diff)) {
                m_record.tiny.push_back({ m_record.r.size() - 1, WideOf(m_diff), {}, ex::From(r) });
            }
            continue;
        }
        const int b = in.b >= 0 ? in.b : in.a;
        const Complex ra = m_rounded[static_cast<size_t>(in.a)];
        const Complex rb = m_rounded[static_cast<size_t>(b)];
        m_record.a.push_back(ra);
        m_record.b.push_back(rb);
        const bool tinyOperand = Tiny(ra, m_run.Slot(in.a)) || Tiny(rb, m_run.Slot(b));
        const ExComplex wa = tinyOperand ? WideOf(m_run.Slot(in.a)) : ExComplex {};
        const ExComplex wb = tinyOperand ? WideOf(m_run.Slot(b)) : ExComplex {};
        if (k == m_nZeroAt) {
            m_run.Slot(in.dest).Set(Complex {});
        } else {
            m_run.RunInstruction(k);
        }
        const BigComplex& result = m_run.Slot(in.dest);
        const Complex r = result.ToComplex();
        m_rounded[static_cast<size_t>(in.dest)] = r;
        m_record.r.push_back(r);
        if (tinyOperand || Tiny(r, result)) {
            const size_t at = m_record.r.size() - 1;
            m_record.tiny.push_back(
                { at, tinyOperand ? wa : ex::From(ra), tinyOperand ? wb : ex::From(rb), WideOf(result) });
        }
        finite = finite && std::isfinite(r.re) && std::isfinite(r.im);
    }
    m_nZeroAt = -1;
    NoteTiny(tinyBefore);
    NoteSingular(!finite);
    // What a run carries to the next one, and its value, must mean something in doubles; a value on
    // the way may not be a number (log 0 on the way to exp(log 0) = 0).
    bool usable = Usable(m_rounded[static_cast<size_t>(m_run.ResultSlot())], m_dLargest);
    for (const int32_t slot : m_code.Carried()) {
        usable = usable && Usable(m_rounded[static_cast<size_t>(slot)], m_dLargest);
    }
    return usable;
}

void CRecorder::NoteSingular(bool singular)
{
    if (singular && m_record.singular.empty()) {
        m_record.singular.assign(static_cast<size_t>(m_nRun - 1), 0);
    }
    if (!m_record.singular.empty()) {
        m_record.singular.push_back(singular ? 1 : 0);
    }
}

namespace {

constexpr double kUnit = 0x1p-53; // the rounding of one operation of doubles, relative
// A comparison or the final sign is taken from doubles only when its value lies this many times its
// error bound away from 0: then its relative error is below 2^-40, far below what decides a pixel.
constexpr double kMargin = 0x1p12;
// Below this a part of a value has lost digits to the doubles' range.
constexpr double kSmallest = 0x1p-1000;

// |a| at most (cheaper than the modulus, and the bounds only need an upper one).
double Size(Complex a) { return std::fabs(a.re) + std::fabs(a.im); }
double Larger(Complex e) { return std::fmax(e.re, e.im); }
Complex Both(double e) { return { e, e }; }

// One operation in doubles as the language computes it.
Complex Operate(const BatchInstruction& in, Complex a, Complex b)
{
    if (in.opcode == kBatchOpPowWhole) {
        return Pow(a, { static_cast<double>(in.exponent), 0.0 });
    }
    switch (static_cast<Op>(in.opcode)) {
    case kOpNeg: return Negate(a);
    case kOpAdd: return Add(a, b);
    case kOpSub: return Sub(a, b);
    case kOpMul: return Mul(a, b);
    case kOpDiv: return Div(a, b);
    case kOpCopy: return a;
    case kOpEq: return Equal(a, b);
    case kOpLt: return Less(a, b);
    case kOpLe: return LessEqual(a, b);
    case kOpGt: return Greater(a, b);
    case kOpGe: return GreaterEqual(a, b);
    case kOpNe: return NotEqual(a, b);
    case kOpPow: return Pow(a, b);
    case kOpImag: return SwapParts(a);
    case kOpAbs: return Abs(a);
    case kOpArg: return Arg(a);
    case kOpConj: return Conj(a);
    case kOpReal: return RealPart(a);
    case kOpImagFn: return ImagPart(a);
    case kOpNorm: return Norm(a);
    case kOpExp: return Exp(a);
    case kOpLog: return Log(a);
    case kOpLog10: return Log10(a);
    case kOpSqrt: return Sqrt(a);
    case kOpSin: return Sin(a);
    case kOpCos: return Cos(a);
    case kOpTan: return Tan(a);
    case kOpSinh: return Sinh(a);
    case kOpCosh: return Cosh(a);
    case kOpTanh: return Tanh(a);
    case kOpOpen:
    case kOpClose:
    case kOpEnd:
    case kOpCount: break; // never executed
    }
    return {};
}

// A bound on each part's error of r = op(a, b) from its operands' error bounds ea, eb; infinite where
// the operation is not smooth enough around its operand to tell.
Complex ErrorOf(const BatchInstruction& in, Complex a, Complex b, Complex r, Complex ea, Complex eb)
{
    const double ma = Larger(ea) * 2.0; // |error of a|, both parts together
    const double mb = Larger(eb) * 2.0;
    const double rounding = 8.0 * kUnit * Size(r);
    // The batch compiler's whole power is not an Op; it takes the slope below, as a power does.
    const Op op = in.opcode == kBatchOpPowWhole ? kOpPow : static_cast<Op>(in.opcode);
    switch (op) {
    case kOpNeg:
    case kOpCopy:
    case kOpConj: return ea;
    case kOpImag: return { ea.im, ea.re };
    case kOpReal: return { ea.re, 0.0 };
    case kOpImagFn: return { ea.im, 0.0 };
    case kOpAdd:
    case kOpSub: return { ea.re + eb.re + rounding, ea.im + eb.im + rounding };
    case kOpMul: return Both(Size(a) * mb + Size(b) * ma + ma * mb + rounding);
    case kOpDiv:
        return mb < 0.5 * Size(b) ? Both(2.0 * (ma + Size(r) * mb) / Size(b) + rounding) : Both(kUnbounded);
    case kOpNorm: return { 2.0 * Size(a) * ma + ma * ma + rounding, 0.0 };
    case kOpAbs: return { ma + rounding, 0.0 };
    case kOpEq:
    case kOpLt:
    case kOpLe:
    case kOpGt:
    case kOpGe:
    case kOpNe:
    case kOpPow:
    case kOpOpen:
    case kOpClose:
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
    case kOpCount: break; // by the operation's slope
    }
    if (in.opcode == kOpPow && mb > 0.0) {
        return Both(kUnbounded); // an exponent that is not exact
    }
    // The C library's functions are within a few units of the last place.
    const double slope = Lipschitz({ in.opcode, a, r, b, in.exponent }, ma);
    return Both(slope * ma + 4.0 * rounding);
}

// Whether a comparison's difference (or the final value) is decided by doubles: its parts lie far
// from 0 against their error bounds, or are exactly 0 with no error.
bool Clear(double value, double error)
{
    return std::isfinite(value) && std::isfinite(error)
        && ((value == 0.0 && error == 0.0)
            || (std::fabs(value) > kMargin * error && std::fabs(value) >= kSmallest));
}

bool Representable(Complex v, Complex e)
{
    const auto part = [](double x, double err) { return x == 0.0 ? err == 0.0 : std::fabs(x) >= kSmallest; };
    return std::isfinite(v.re) && std::isfinite(v.im) && part(v.re, e.re) && part(v.im, e.im);
}

} // namespace

CFollowerRecorder::CFollowerRecorder(const CDeltaCode& code, int nSlot, ProgramRecord& record,
    size_t reserved, const BigComplex& point, mpfr_prec_t bits, bool signDecides)
    : m_code(code)
    , m_nN(nSlot)
    , m_record(record)
    , m_exactPoint(point)
    , m_nBits(bits)
    , m_bSignDecides(signDecides)
    , m_point(point.ToComplex())
    , m_value(static_cast<size_t>(m_code.Slots()))
    , m_error(static_cast<size_t>(m_code.Slots()))
{
    record.instructions = static_cast<int>(m_code.Code().size());
    record.a.reserve(reserved * m_code.Code().size());
    record.b.reserve(reserved * m_code.Code().size());
    record.r.reserve(reserved * m_code.Code().size());
    for (const int32_t slot : m_code.Carried()) {
        m_bCarries = m_bCarries || (slot != m_code.Z() && slot != m_code.Z0() && slot != m_nN);
    }
    m_pointError = { kUnit * std::fabs(m_point.re), kUnit * std::fabs(m_point.im) };
    for (int s = 0; s < m_code.Slots(); ++s) {
        m_value[static_cast<size_t>(s)] = m_code.Program().Initial(s); // exact: the compiled doubles
    }
}

CFollowerRecorder::~CFollowerRecorder() = default;

bool CFollowerRecorder::Run(
    int n, const BigComplex& value, Complex rounded, Complex& result, ExComplex& exactRe)
{
    if (!m_bCarries && RunInDoubles(n, rounded, result)) {
        exactRe = ex::FromReal(result.re);
        if (m_recorder) {
            m_recorder->RecordedElsewhere();
        }
        return true;
    }
    if (!m_recorder) {
        m_precise = std::make_unique<CPreciseProgram>(m_code.Program(), m_nBits);
        m_precise->Reset();
        if (m_code.Z0() >= 0) {
            m_precise->Slot(m_code.Z0()).Set(m_exactPoint);
        }
        m_recorder = std::make_unique<CRecorder>(
            m_code, *m_precise, m_record, 0, std::numeric_limits<double>::max(), n);
    }
    return RunPrecisely(n, value, result, exactRe);
}

bool CFollowerRecorder::RunInDoubles(int n, Complex z, Complex& result)
{
    // Inputs; the constants keep their exact compiled values with no error, and every other slot is
    // written before it is read.
    Complex* const value = m_value.data();
    Complex* const error = m_error.data();
    if (m_code.Z() >= 0) {
        value[m_code.Z()] = z;
        error[m_code.Z()] = { kUnit * std::fabs(z.re), kUnit * std::fabs(z.im) };
    }
    if (m_code.Z0() >= 0) {
        value[m_code.Z0()] = m_point;
        error[m_code.Z0()] = m_pointError;
    }
    if (m_nN >= 0) {
        value[m_nN] = { static_cast<double>(n), 0.0 };
    }
    if (m_code.ResetSlot() >= 0) {
        value[m_code.ResetSlot()] = {};
        error[m_code.ResetSlot()] = {};
    }
    ProgramRecord& record = m_record;
    const size_t mark = record.a.size();
    bool clear = true;
    for (const BatchInstruction& in : m_code.Code()) {
        const int b = in.b >= 0 ? in.b : in.a;
        const Complex r = Operate(in, value[in.a], value[b]);
        if (IsComparison(in.opcode)) {
            const Complex diff = Sub(value[in.a], value[b]);
            clear = clear && Clear(diff.re, error[in.a].re + error[b].re + kUnit * std::fabs(diff.re))
                && Clear(diff.im, error[in.a].im + error[b].im + kUnit * std::fabs(diff.im));
            record.a.push_back(diff);
            record.b.push_back({});
            error[in.dest] = {};
        } else {
            record.a.push_back(value[in.a]);
            record.b.push_back(value[b]);
            const Complex e = ErrorOf(in, value[in.a], value[b], r, error[in.a], error[b]);
            clear = clear && Representable(r, e) && std::isfinite(e.re) && std::isfinite(e.im);
            error[in.dest] = e;
        }
        record.r.push_back(r);
        value[in.dest] = r;
    }
    result = value[m_code.Result()];
    if (!clear || (m_bSignDecides && !Clear(result.re, error[m_code.Result()].re))) {
        // Not decided by doubles: this run again in the reference's precision.
        record.a.resize(mark);
        record.b.resize(mark);
        record.r.resize(mark);
        return false;
    }
    return true;
}

bool CFollowerRecorder::RunPrecisely(int n, const BigComplex& value, Complex& result, ExComplex& exactRe)
{
    if (m_code.Z() >= 0) {
        m_precise->Slot(m_code.Z()).Set(value);
        m_recorder->Refresh(m_code.Z());
    }
    if (m_nN >= 0) {
        m_precise->Slot(m_nN).Set(Complex { static_cast<double>(n), 0.0 });
        m_recorder->Refresh(m_nN);
    }
    const bool usable = m_recorder->Run();
    const BigComplex& exact = m_precise->Slot(m_precise->ResultSlot());
    result = SignKept(exact);
    exactRe = ex::RealOf(WideOf(exact));
    return usable;
}
