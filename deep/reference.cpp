#include "reference.h"

#include "planahead.h"

#include "recorder.h"

#include "opcodes.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>

namespace {

// Past this a value's offsets no longer mean anything in doubles; every pixel near it has escaped.
constexpr double kLargestReferenceValue = 1e150;

// The batch compiler's own codes (a whole power) count as not: the probes then take both directions.
bool Holomorphic(int opcode)
{
    const OpTraits* traits = TraitsOf(opcode);
    return traits && traits->holomorphic;
}

// The precision an orbit needs falls as it goes: an error in a value matters only against how far the
// pixels' values have spread there, the pixel step times the orbit's derivative, which grows (and
// shrinks near critical points). So the precision follows the derivative, measured by two probes (a
// real and an imaginary start offset, for formulas that are not complex-differentiable) run through
// the delta program. Slots the program never writes (z0, constants) keep the full precision.
class CPrecisionPlan {
public:
    CPrecisionPlan(const CDeltaProgram& program, CPreciseProgram& run, mpfr_prec_t bits)
        : m_program(program)
        , m_run(run)
        , m_nFull(bits)
        , m_nWorking(bits)
        , m_probeRe(static_cast<size_t>(run.SlotCount()))
        , m_probeIm(static_cast<size_t>(run.SlotCount()))
    {
        // Short mantissas cost little more than the probes would: measured, following pays from about
        // 3500 bits (-27 % at a width of 1e-1000) and not at 1100 (+9 % at 1e-300). A run of exp, log,
        // a trigonometric or hyperbolic function or a power that is not whole costs far more in
        // arbitrary precision, and following pays for such a program from a few hundred bits: exp(z) + C
        // beside its Julia set, reference and skips, -10 % at 1e-100 and -18 % at 1e-300, none at 1e-50.
        constexpr mpfr_prec_t kFollowFrom = 1536;
        constexpr mpfr_prec_t kCostlyFollowFrom = 320;
        // An error in a value at run n reaches the pixels through the state's derivative from n on,
        // while their spread is the derivative from the start: the two agree when the start is all the
        // formula reads. A formula that reads z0 on every run breaks the chain rule: past a run near a
        // critical point (a minibrot's nucleus) the pixels' offsets collapse while the error's effect
        // does not, so such an orbit keeps its full precision.
        bool costly = false;
        for (int k = 0; k < run.InstructionCount(); ++k) {
            const int opcode = run.Instruction(k).opcode;
            costly = costly || opcode == kOpPow || (opcode >= kOpExp && opcode <= kOpTanh);
        }
        m_bFollowing = bits >= (costly ? kCostlyFollowFrom : kFollowFrom) && program.IterZ0() < 0;
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
    }

    const CDeltaProgram& m_program;
    CPreciseProgram& m_run;
    const mpfr_prec_t m_nFull;
    mpfr_prec_t m_nWorking;
    bool m_bFollowing { true };
    bool m_bBothProbes { false }; // the program has operations that are not complex-differentiable
    std::vector<ExComplex> m_probeRe, m_probeIm;
    std::vector<int> m_reducible; // slots the program writes, z0 aside
    std::vector<int> m_watched;   // carried slots, z0 aside
};

// Brent's cycle detection on the exact carried values: the state after run 0 is kept, then the state
// after the run where the distance to the kept one reaches 1, 2, 4, ... runs, and every state compared
// with the kept one. Equal to all but 16 bits of the precision they were computed in, the orbit
// repeats from there with the distance as its period.
class CPeriodWatch {
public:
    CPeriodWatch(const CDeltaProgram& program, mpfr_prec_t bits)
        : m_diff(bits)
    {
        for (const int32_t slot : program.Carried()) {
            if (slot != program.IterZ0()) {
                m_slots.push_back(slot);
                m_saved.emplace_back(bits);
            }
        }
        m_bOn = program.Autonomous() && !m_slots.empty();
    }

    // After run n: the period once the state repeats, else 0.
    int Note(int n, const CPreciseProgram& run)
    {
        if (!m_bOn) {
            return 0;
        }
        if (m_nSavedAt >= 0 && Repeats(run)) {
            return n - m_nSavedAt;
        }
        if (m_nSavedAt < 0 || n - m_nSavedAt >= m_nSpan) {
            for (size_t i = 0; i < m_slots.size(); ++i) {
                m_saved[i] = run.Slot(m_slots[i]);
            }
            m_nSpan = m_nSavedAt < 0 ? 1 : 2 * m_nSpan;
            m_nSavedAt = n;
        }
        return 0;
    }

private:
    bool Repeats(const CPreciseProgram& run)
    {
        for (size_t i = 0; i < m_slots.size(); ++i) {
            const BigComplex& now = run.Slot(m_slots[i]);
            const mpfr_prec_t bits = now.Precision();
            m_diff.SetPrecision(bits);
            mpc_sub(m_diff.get(), now.get(), m_saved[i].get(), MPC_RNDNN);
            const long size = std::max(Exponent(now.Re()), Exponent(now.Im()));
            const long gap = std::max(Exponent(m_diff.Re()), Exponent(m_diff.Im()));
            if (gap != kZero && (size == kZero || gap > size - (static_cast<long>(bits) - 16))) {
                return false;
            }
        }
        return true;
    }
    static constexpr long kZero = LONG_MIN;
    static long Exponent(mpfr_srcptr x)
    {
        return mpfr_zero_p(x) ? kZero : (mpfr_number_p(x) ? static_cast<long>(mpfr_get_exp(x)) : LONG_MAX);
    }

    bool m_bOn { false };
    std::vector<int32_t> m_slots;
    std::vector<BigComplex> m_saved;
    BigComplex m_diff;
    int m_nSavedAt { -1 };
    int m_nSpan { 1 };
};

// What one run of the orbit takes in its records.
size_t RecordBytesPerRun(const CDeltaProgram& program)
{
    const CDeltaCode& iteration = program.Iteration();
    const size_t instructions = iteration.Code().size() + program.Termination().Code().size();
    return (3 * instructions + 2 + iteration.Carried().size()) * sizeof(Complex) + sizeof(double);
}

void Reserve(ReferenceOrbit& orbit, size_t runs, size_t carried)
{
    orbit.last.reserve(runs);
    orbit.carried.reserve(runs * carried);
    orbit.held.reserve(runs);
}

// Run n's records as a copy of run `from`'s (a periodic orbit's later lap).
void RepeatRecord(ProgramRecord& record, int from, int n)
{
    const auto width = static_cast<size_t>(record.instructions);
    const size_t at = static_cast<size_t>(from) * width;
    for (std::vector<Complex>* v : { &record.a, &record.b, &record.r }) {
        const size_t end = v->size();
        v->resize(end + width); // then copied: a range of the vector cannot be inserted into itself
        std::copy_n(v->data() + at, width, v->data() + end);
    }
    if (!record.firstTiny.empty()) {
        const int32_t first = record.firstTiny[static_cast<size_t>(from)];
        record.firstTiny.push_back(first < 0 ? -1 : static_cast<int32_t>(record.tiny.size()));
        const size_t shift = static_cast<size_t>(n - from) * width;
        for (size_t t = first < 0 ? record.tiny.size() : static_cast<size_t>(first);
             t < record.tiny.size() && record.tiny[t].at < at + width; ++t) {
            ProgramRecord::Tiny copy = record.tiny[t];
            copy.at += shift;
            record.tiny.push_back(copy);
        }
    }
    if (!record.singular.empty()) {
        const uint8_t singular = record.singular[static_cast<size_t>(from)];
        record.singular.push_back(singular);
    }
}

// Writes out a periodic orbit's laps after its first cycle, so that the series and the bilinear skips
// cover the orbit rather than one lap (the orbit of a nucleus or a Misiurewicz point that `find`
// centres a view on). Up to the limit and the budget, and no further than kRepeatedRuns: planning the
// skips costs microseconds a run, and pixels that keep to the cycle longer are decided by their laps.
void RepeatCycle(ReferenceOrbit& orbit, int maxIter, size_t perRun, size_t blaPerRun, size_t maxBytes)
{
    constexpr int kRepeatedRuns = 1 << 16;
    const size_t nc = orbit.runs > 0 ? orbit.carried.size() / static_cast<size_t>(orbit.runs) : 0;
    // Laps end at the cycle's largest state: a pixel repeats when it moved little beside that size,
    // which would be 0 at a nucleus's own run.
    double largest = -1.0;
    for (int r = orbit.runs - orbit.period; r < orbit.runs; ++r) {
        double size = 0.0;
        for (size_t j = 0; j < nc; ++j) {
            const Complex v = orbit.carried[static_cast<size_t>(r) * nc + j];
            size += std::fabs(v.re) + std::fabs(v.im);
        }
        if (size > largest) {
            largest = size;
            orbit.cycleEnd = r;
        }
    }
    const int end = std::min(maxIter, std::max(orbit.runs, kRepeatedRuns));
    for (int n = orbit.runs; n < end; ++n) {
        if (orbit.Bytes() + perRun + (static_cast<size_t>(n) + 1) * blaPerRun > maxBytes) {
            break;
        }
        const int from = n - orbit.period;
        const auto f = static_cast<size_t>(from);
        RepeatRecord(orbit.iteration, from, n);
        RepeatRecord(orbit.termination, from, n);
        if (!orbit.colourValue.empty()) {
            RepeatRecord(orbit.colour, from, n);
            const Complex colour = orbit.colourValue[f];
            orbit.colourValue.push_back(colour);
        }
        const Complex last = orbit.last[f];
        orbit.last.push_back(last);
        const size_t end = orbit.carried.size();
        orbit.carried.resize(end + nc);
        std::copy_n(orbit.carried.data() + f * nc, nc, orbit.carried.data() + end);
        const double held = orbit.held[f];
        orbit.held.push_back(held);
        const auto tiny = std::lower_bound(orbit.heldTiny.begin(), orbit.heldTiny.end(), from,
            [](const std::pair<int, ExComplex>& e, int run) { return e.first < run; });
        if (tiny != orbit.heldTiny.end() && tiny->first == from) {
            const ExComplex value = tiny->second;
            orbit.heldTiny.push_back({ n, value });
        }
        orbit.runs = n + 1;
    }
}

// Run n's value and carried values in doubles, as the pixels read them.
Complex RecordValues(ReferenceOrbit& orbit, const std::vector<Complex>& rounded,
    const std::vector<int32_t>& carried, int result)
{
    const Complex last = rounded[static_cast<size_t>(result)];
    orbit.last.push_back(last);
    for (const int32_t slot : carried) {
        orbit.carried.push_back(rounded[static_cast<size_t>(slot)]);
    }
    return last;
}

// The termination on run n's exact value (rounded: last): false where the orbit ends there.
bool RecordHeld(ReferenceOrbit& orbit, CFollowerRecorder& record, int n, const BigComplex& value,
    Complex last, bool& holds)
{
    Complex held;
    ExComplex exact;
    if (!record.Run(n, value, last, held, exact)) {
        return false;
    }
    orbit.held.push_back(held.re);
    if (std::fabs(held.re) < 0x1p-1000 && !ex::IsZero(exact)) {
        orbit.heldTiny.push_back({ n, exact });
    }
    holds = exact.re > 0.0;
    return true;
}

// The orbit from point; zeroAt >= 0: a landing orbit, whose first run takes that instruction's value
// as 0 (and which takes no bilinear skips).
bool BuildOrbit(const CDeltaProgram& program, const BigComplex& point, mpfr_prec_t bits, int maxIter,
    ReferenceOrbit& orbit, const std::function<bool()>& cancelled, size_t maxBytes, int zeroAt,
    CPlanAhead* ahead = nullptr)
{
    const CDeltaCode& iteration = program.Iteration();
    CPreciseProgram run(iteration.Program(), bits);
    run.Reset();
    for (const int slot : { iteration.Z(), iteration.Z0() }) {
        if (slot >= 0) {
            run.Slot(slot).Set(point);
        }
    }
    const std::vector<int32_t>& carried = iteration.Carried();
    const size_t perRun = RecordBytesPerRun(program);
    // The bilinear skips' table, made after the orbit, counts in its budget too.
    const size_t blaPerRun = zeroAt < 0 ? BlaBytesPerRun(program) : 0;
    // Room for every run the budget allows at once: growing a record would hold the old copy and the
    // new one together (half as much again as the budget at its largest), while room not yet written
    // takes no memory.
    const size_t reserved = std::min(static_cast<size_t>(maxIter), maxBytes / (perRun + blaPerRun));
    CRecorder iterRecord(iteration, run, orbit.iteration, reserved, kLargestReferenceValue);
    iterRecord.ZeroNext(zeroAt);
    CFollowerRecorder termRecord(
        program.Termination(), program.TermN(), orbit.termination, reserved, point, bits, true);
    std::unique_ptr<CFollowerRecorder> colourRecord;
    if (program.ExactColour()) {
        colourRecord = std::make_unique<CFollowerRecorder>(
            program.ColourCode(), program.ColourN(), orbit.colour, reserved, point, bits, false);
    }
    Reserve(orbit, reserved, carried.size());
    CPrecisionPlan precision(program, run, bits);
    CPeriodWatch period(program, bits);
    for (int n = 0; n < maxIter; ++n) {
        if ((n & 63) == 0 && cancelled && cancelled()) {
            return false;
        }
        if (orbit.Bytes() + perRun + (static_cast<size_t>(n) + 1) * blaPerRun > maxBytes) {
            break;
        }
        if (!iterRecord.Run()) {
            break; // the run is recorded but not offered: its values are beyond the doubles
        }
        const Complex last = RecordValues(orbit, iterRecord.Rounded(), carried, run.ResultSlot());
        bool holds = false;
        if (!RecordHeld(orbit, termRecord, n, run.Slot(run.ResultSlot()), last, holds)) {
            break;
        }
        if (colourRecord) {
            Complex colour;
            ExComplex ignored;
            colourRecord->Run(n, run.Slot(run.ResultSlot()), last, colour, ignored);
            orbit.colourValue.push_back(colour);
        }
        orbit.runs = n + 1;
        if (ahead) {
            ahead->Recorded(orbit);
        }
        if (orbit.terminatedAt < 0 && holds) {
            orbit.terminatedAt = n;
        }
        if (const int p = period.Note(n, run); p > 0) {
            orbit.period = p; // the pixels that keep to it go round its last p runs
            RepeatCycle(orbit, maxIter, perRun, blaPerRun, maxBytes);
            break;
        }
        precision.Follow(orbit, n, iterRecord.Rounded());
    }
    for (int n = 0; n < orbit.runs && !orbit.specialRuns; ++n) {
        orbit.specialRuns = orbit.TinyRun(n) || orbit.SingularRun(n);
    }
    return true;
}

} // namespace

bool BuildReference(const CDeltaProgram& program, const BigComplex& point, mpfr_prec_t bits, int maxIter,
    Reference& out, const std::function<bool()>& cancelled, size_t maxBytes, CPlanAhead* ahead)
{
    out.point = point;
    out.orbit = {};
    if (!BuildOrbit(program, point, bits, maxIter, out.orbit, cancelled, maxBytes, -1, ahead)) {
        return false;
    }
    // The landing orbit takes what the reference and its bilinear skips leave of the budget.
    const size_t used = out.orbit.Bytes() + static_cast<size_t>(out.orbit.runs) * BlaBytesPerRun(program);
    if (program.LandingInstruction() < 0 || used >= maxBytes) {
        return true;
    }
    // Landed pixels go on one at a time (the lanes run one orbit). Where the program reads no z0 they
    // all follow the one orbit of the constants (exp(z) + C lands on C's), so it serves them to their
    // end: another reference would land its own pixels the same way, and a basin's pixels would take
    // references until the cap. Otherwise it pays only where the landing orbit's own termination holds
    // soon; beside one that lives on (0.5 exp(z * z) + z0 follows z0's orbit to the limit) the pixels
    // would run alone to the limit, far slower than the lanes on another reference.
    const bool alike = program.Iteration().Z0() < 0 && program.Termination().Z0() < 0;
    auto landing = std::make_shared<ReferenceOrbit>();
    if (!BuildOrbit(program, point, bits, alike ? maxIter : std::min(maxIter, kLandingRuns + 1), *landing,
            cancelled, maxBytes - used, program.LandingInstruction())) {
        return false;
    }
    landing->keepsLanded = alike;
    if (landing->runs >= 2
        && (alike || (landing->terminatedAt >= 0 && landing->terminatedAt < kLandingRuns))) {
        out.orbit.landing = std::move(landing);
    }
    return true;
}
