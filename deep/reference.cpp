#include "reference.h"

#include "opcodes.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Past this a value's offsets no longer mean anything in doubles; every pixel near it has escaped.
constexpr double kLargestReferenceValue = 1e150;

bool Usable(Complex v, double largest)
{
    return std::isfinite(v.re) && std::isfinite(v.im) && std::fabs(v.re) < largest
        && std::fabs(v.im) < largest;
}

bool Holomorphic(int opcode)
{
    switch (opcode) {
    case kOpNeg:
    case kOpAdd:
    case kOpSub:
    case kOpMul:
    case kOpDiv:
    case kOpCopy:
    case kOpPow:
    case kOpExp:
    case kOpLog:
    case kOpLog10:
    case kOpSqrt:
    case kOpSin:
    case kOpCos:
    case kOpTan:
    case kOpSinh:
    case kOpCosh:
    case kOpTanh: return true;
    default: return false;
    }
}

// The precision an orbit needs falls as it goes: an error in a value matters only against how far the
// pixels' values have spread there, the pixel step times the orbit's derivative, which grows (and
// shrinks near critical points). So the precision follows the derivative, measured by two probes (a
// real and an imaginary start offset, for formulas that are not complex-differentiable) run through
// the delta program. Slots the program never writes (z0, constants) keep the full precision.
class CPrecisionPlan {
public:
    CPrecisionPlan(
        const CDeltaProgram& program, CPreciseProgram& run, CPreciseProgram& term, mpfr_prec_t bits)
        : m_program(program)
        , m_run(run)
        , m_term(term)
        , m_nFull(bits)
        , m_nWorking(bits)
        , m_probeRe(static_cast<size_t>(run.SlotCount()))
        , m_probeIm(static_cast<size_t>(run.SlotCount()))
    {
        // Short mantissas cost little more than the probes would: measured, following pays from about
        // 3500 bits (-27 % at a width of 1e-1000) and not at 1100 (+9 % at 1e-300).
        constexpr mpfr_prec_t kFollowFrom = 1536;
        // An error in a value at run n reaches the pixels through the state's derivative from n on,
        // while their spread is the derivative from the start: the two agree when the start is all the
        // formula reads. A formula that reads z0 on every run breaks the chain rule: past a run near a
        // critical point (a minibrot's nucleus) the pixels' offsets collapse while the error's effect
        // does not, so such an orbit keeps its full precision.
        m_bFollowing = bits >= kFollowFrom && program.IterZ0() < 0;
        const ExComplex epsilon { 0.5, 0.0, 1 - static_cast<int64_t>(bits) }; // 2^-bits
        for (const int slot : { program.IterZ(), program.IterZ0() }) {
            if (slot >= 0) {
                m_probeRe[static_cast<size_t>(slot)] = epsilon;
                m_probeIm[static_cast<size_t>(slot)] = ex::Swap(epsilon);
            }
        }
        for (int k = 0; k < run.InstructionCount(); ++k) {
            m_bBothProbes = m_bBothProbes || !Holomorphic(run.Instruction(k).opcode);
            const int dest = run.Dest(k);
            if (dest != program.IterZ0()
                && std::find(m_reducible.begin(), m_reducible.end(), dest) == m_reducible.end()) {
                m_reducible.push_back(dest);
            }
        }
        for (int k = 0; k < term.InstructionCount(); ++k) {
            const int dest = term.Dest(k);
            if (std::find(m_termReducible.begin(), m_termReducible.end(), dest) == m_termReducible.end()) {
                m_termReducible.push_back(dest);
            }
        }
        for (const int32_t slot : program.Carried()) {
            if (slot != program.IterZ0()) {
                m_watched.push_back(slot);
            }
        }
    }

    // After run n is recorded: the precision of the next run.
    void Follow(const ReferenceOrbit& orbit, int n, const std::vector<Complex>& rounded)
    {
        if (!m_bFollowing) {
            return;
        }
        m_program.Probe(orbit, n, m_probeRe.data());
        if (m_bBothProbes) {
            m_program.Probe(orbit, n, m_probeIm.data());
        }
        int64_t spread = INT64_MAX; // log2 of the derivative, rounded down
        int magnitude = 0;          // log2 of the largest carried value, rounded up
        for (const int32_t slot : m_watched) {
            const ExComplex& re = m_probeRe[static_cast<size_t>(slot)];
            // Complex-differentiable: every direction of the start moves a value alike.
            const ExComplex& im = m_bBothProbes ? m_probeIm[static_cast<size_t>(slot)] : re;
            if (ex::IsZero(re) || ex::IsZero(im) || !ex::IsFinite(re) || !ex::IsFinite(im)) {
                // A value the start does not move (a counter), or a probe lost: the full precision from here.
                m_bFollowing = false;
                SetWorking(m_nFull);
                return;
            }
            spread = std::min({ spread, re.e - 1 + m_nFull, im.e - 1 + m_nFull });
            const Complex v = rounded[static_cast<size_t>(slot)];
            const double larger = std::fmax(std::fabs(v.re), std::fabs(v.im));
            if (larger > 0.0) {
                magnitude = std::max(magnitude, std::ilogb(larger) + 1);
            }
        }
        if (m_watched.empty()) {
            return;
        }
        // The full precision held the start's magnitude (at least 2^4) over the step, with guard bits.
        constexpr int64_t kSlack = 64;
        constexpr int64_t kFewest = 128;
        const int64_t wanted = static_cast<int64_t>(m_nFull) - std::max<int64_t>(spread, 0)
            + std::max(0, magnitude - 4) + kSlack;
        const auto needed
            = static_cast<mpfr_prec_t>(std::clamp<int64_t>((wanted + 63) / 64 * 64, kFewest, m_nFull));
        // Rounded down only by two limbs or more at a time; raised at once.
        if (needed > m_nWorking || needed + 128 <= m_nWorking) {
            SetWorking(needed);
        }
    }

private:
    void SetWorking(mpfr_prec_t bits)
    {
        if (bits == m_nWorking) {
            return;
        }
        m_nWorking = bits;
        for (const int slot : m_reducible) {
            m_run.Slot(slot).SetPrecision(bits);
        }
        for (const int slot : m_termReducible) {
            m_term.Slot(slot).SetPrecision(bits);
        }
    }

    const CDeltaProgram& m_program;
    CPreciseProgram& m_run;
    CPreciseProgram& m_term;
    const mpfr_prec_t m_nFull;
    mpfr_prec_t m_nWorking;
    bool m_bFollowing { true };
    bool m_bBothProbes { false }; // the program has operations that are not complex-differentiable
    std::vector<ExComplex> m_probeRe, m_probeIm;
    std::vector<int> m_reducible;     // slots the program writes, z0 aside
    std::vector<int> m_termReducible; // slots the termination writes
    std::vector<int> m_watched;       // carried slots, z0 aside
};

// Records one program's instructions run by run, each value rounded once as the run writes it.
class CRecorder {
public:
    // Values past largest end the orbit.
    CRecorder(
        const CDeltaCode& code, CPreciseProgram& run, ProgramRecord& record, size_t reserved, double largest)
        : m_code(code)
        , m_run(run)
        , m_record(record)
        , m_rounded(static_cast<size_t>(run.SlotCount()))
        , m_diff(run.Precision())
        , m_dLargest(largest)
    {
        record.instructions = run.InstructionCount();
        record.comparisons = code.Comparisons();
        const size_t count = reserved * static_cast<size_t>(record.instructions);
        record.a.reserve(count);
        record.b.reserve(count);
        record.r.reserve(count);
        record.wide.reserve(reserved * static_cast<size_t>(record.comparisons));
        for (int slot = 0; slot < run.SlotCount(); ++slot) {
            m_rounded[static_cast<size_t>(slot)] = run.Slot(slot).ToComplex();
        }
    }

    // A slot the caller set in the precise program.
    void Refresh(int slot) { m_rounded[static_cast<size_t>(slot)] = m_run.Slot(slot).ToComplex(); }
    const std::vector<Complex>& Rounded() const { return m_rounded; }

    // Runs and records one run; false when a value left the doubles' range.
    bool Run()
    {
        const size_t tinyBefore = m_record.tiny.size();
        m_run.BeginRun();
        if (m_code.ResetSlot() >= 0) {
            m_rounded[static_cast<size_t>(m_code.ResetSlot())] = {};
        }
        bool usable = true;
        for (int k = 0; k < m_record.instructions; ++k) {
            const BatchInstruction& in = m_run.Instruction(k);
            if (m_code.ComparisonIndex()[static_cast<size_t>(k)] >= 0) {
                // The exact difference decides every pixel's comparison.
                m_diff.SetPrecision(std::max(m_run.Slot(in.a).Precision(), m_run.Slot(in.b).Precision()));
                mpc_sub(m_diff.get(), m_run.Slot(in.a).get(), m_run.Slot(in.b).get(), MPC_RNDNN);
                m_record.a.push_back(SignKept(m_diff));
                m_record.b.push_back({});
                m_record.wide.push_back(WideOf(m_diff));
                m_run.RunInstruction(k);
                m_rounded[static_cast<size_t>(in.dest)]
                    = m_record.r.emplace_back(m_run.Slot(in.dest).ToComplex());
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
            m_run.RunInstruction(k);
            const BigComplex& result = m_run.Slot(in.dest);
            const Complex r = result.ToComplex();
            m_rounded[static_cast<size_t>(in.dest)] = r;
            m_record.r.push_back(r);
            if (tinyOperand || Tiny(r, result)) {
                const size_t at = m_record.r.size() - 1;
                m_record.tiny.push_back(
                    { at, tinyOperand ? wa : ex::From(ra), tinyOperand ? wb : ex::From(rb), WideOf(result) });
            }
            usable = usable && Usable(r, m_dLargest);
        }
        NoteTiny(tinyBefore);
        return usable;
    }

private:
    // A part that rounds below the doubles' normal range while the exact one is not 0 lost digits.
    static bool Tiny(Complex rounded, const BigComplex& exact)
    {
        const auto lost
            = [](double part, mpfr_srcptr x) { return std::fabs(part) < 0x1p-1000 && mpfr_regular_p(x); };
        return lost(rounded.re, exact.Re()) || lost(rounded.im, exact.Im());
    }

    // The run's first entry among the tiny values, once there are any.
    void NoteTiny(size_t before)
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

    const CDeltaCode& m_code;
    CPreciseProgram& m_run;
    ProgramRecord& m_record;
    std::vector<Complex> m_rounded; // every slot's value rounded to doubles
    BigComplex m_diff;
    const double m_dLargest;
    int m_nRun { 0 };
};

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

bool BuildReference(const CDeltaProgram& program, const BigComplex& point, mpfr_prec_t bits, int maxIter,
    Reference& out, const std::function<bool()>& cancelled, size_t maxBytes)
{
    out.point = point;
    ReferenceOrbit& orbit = out.orbit;
    orbit = {};
    const CDeltaCode& iteration = program.Iteration();
    const CDeltaCode& termination = program.Termination();
    CPreciseProgram run(iteration.Program(), bits);
    CPreciseProgram term(termination.Program(), bits);
    run.Reset();
    term.Reset();
    for (const int slot : { iteration.Z(), iteration.Z0() }) {
        if (slot >= 0) {
            run.Slot(slot).Set(point);
        }
    }
    if (termination.Z0() >= 0) {
        term.Slot(termination.Z0()).Set(point);
    }
    const std::vector<int32_t>& carried = iteration.Carried();
    const size_t perRun
        = (3 * static_cast<size_t>(iteration.Code().size() + termination.Code().size()) + 2 + carried.size())
            * sizeof(Complex)
        + static_cast<size_t>(iteration.Comparisons() + termination.Comparisons() + 1) * sizeof(ExComplex);
    // Room for the runs of a typical orbit at once: growing the records copies them, and touches
    // fresh pages each time.
    const size_t reserved = std::min({ static_cast<size_t>(maxIter), maxBytes / perRun, size_t { 4096 } });
    CRecorder iterRecord(iteration, run, orbit.iteration, reserved, kLargestReferenceValue);
    // The termination's values only have to be numbers: no offset is carried from them.
    CRecorder termRecord(termination, term, orbit.termination, reserved, std::numeric_limits<double>::max());
    orbit.last.reserve(reserved);
    orbit.carried.reserve(reserved * carried.size());
    orbit.held.reserve(reserved);
    orbit.heldD.reserve(reserved);
    CPrecisionPlan precision(program, run, term, bits);
    BigComplex held(bits);
    for (int n = 0; n < maxIter; ++n) {
        if ((n & 63) == 0 && cancelled && cancelled()) {
            return false;
        }
        if (orbit.Bytes() + perRun > maxBytes) {
            break;
        }
        bool usable = iterRecord.Run();
        const Complex last = iterRecord.Rounded()[static_cast<size_t>(run.ResultSlot())];
        orbit.last.push_back(last);
        for (const int32_t slot : carried) {
            orbit.carried.push_back(iterRecord.Rounded()[static_cast<size_t>(slot)]);
        }
        // The termination on the exact value.
        if (termination.Z() >= 0) {
            term.Slot(termination.Z()).Set(run.Slot(run.ResultSlot()));
            termRecord.Refresh(termination.Z());
        }
        if (program.TermN() >= 0) {
            term.Slot(program.TermN()).Set(Complex { static_cast<double>(n), 0.0 });
            termRecord.Refresh(program.TermN());
        }
        usable = termRecord.Run() && usable;
        const BigComplex& value = term.Slot(term.ResultSlot());
        orbit.held.push_back(WideOf(value));
        orbit.heldD.push_back(SignKept(value).re);
        if (!usable) {
            break; // the run is recorded but not offered: its values are beyond the doubles
        }
        orbit.runs = n + 1;
        if (orbit.terminatedAt < 0 && mpfr_sgn(value.Re()) > 0 && !mpfr_nan_p(value.Re())) {
            orbit.terminatedAt = n;
        }
        precision.Follow(orbit, n, iterRecord.Rounded());
    }
    return true;
}
