#pragma once

#include "batchformula.h"
#include "bla.h"
#include "comparekind.h"
#include "deltapixel.h"
#include "floatexp.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

// Perturbation: a pixel near a reference orbit computed in high precision iterates only its offset
// from that orbit, in doubles (or in ExComplex while the offset is below the doubles' range). Every
// instruction of the iteration and termination programs has a delta form that gives f(A + a) - f(A)
// from the reference's operands A and the pixel's offsets a without cancellation, and every
// comparison is decided on the exact difference of the reference's operands plus the pixel's.

// Terms of the power series in the pixel's plane offset that carry every pixel over the runs all of
// them share (the skip).
constexpr int kSkipTerms = 6;
// A program that is not complex-differentiable (abs, conj, real, ...) takes a series in the offset a and
// its conjugate: a term c a^p conj(a)^q for every 1 <= p + q <= kSkipTerms, at PairIndex(p, q), by
// degree and within one by the conjugate's power.
constexpr int kPairTerms = kSkipTerms * (kSkipTerms + 3) / 2;
constexpr int PairIndex(int p, int q) { return (p + q - 1) * (p + q + 2) / 2 + q; }

// At a run where a reference value lies below the doubles' normal range, doubles hold a pixel only while
// its largest carried offset is above 2^-kTinyRunBits: its square then stays in their range and
// outweighs all that the lost digits of the reference's value would add; below, the run is taken in
// ExComplex.
constexpr int kTinyRunBits = 480;

// Below 2^-kPlaneOffsetBits a pixel's plane offset nears the doubles' subnormals and loses digits there:
// a formula whose comparisons or cuts read z0 itself keeps such pixels in ExComplex.
constexpr int kPlaneOffsetBits = 1010;

// One program's instructions along a reference orbit: for every run n and instruction k the operands
// and the result, rounded to doubles, at [n * instructions + k]. A comparison records instead the
// exact difference of its operands in a (rounded, with its sign kept as the smallest double where the
// doubles lose it) and 0 in b.
//
// A value whose exact part is not 0 but below the doubles' normal range (a reference passing close to
// 0, as at a minibrot's nucleus) has lost digits there; every instruction with such an operand or
// result keeps all three with their own exponents in tiny (a comparison: its difference as a), which
// the wide arithmetic and the skip read.
struct ProgramRecord {
    struct Tiny {
        size_t at; // n * instructions + k
        ExComplex a, b, r;
    };
    int instructions { 0 };
    std::vector<Complex> a, b, r;
    std::vector<Tiny> tiny;         // in order of at
    std::vector<int32_t> firstTiny; // per run: its first entry in tiny, or -1; empty while tiny is
    // Per run: 1 where a value is not a finite number (log 0 on the way to a finite result); empty
    // while there is none. A pixel whose offsets there are 0 keeps the reference's value; any other
    // takes another reference.
    std::vector<uint8_t> singular;

    // The entry of instruction `at`, or null.
    const Tiny* TinyAt(int run, size_t at) const
    {
        if (firstTiny.empty() || firstTiny[static_cast<size_t>(run)] < 0) {
            return nullptr;
        }
        for (size_t t = static_cast<size_t>(firstTiny[static_cast<size_t>(run)]);
             t < tiny.size() && tiny[t].at <= at; ++t) {
            if (tiny[t].at == at) {
                return &tiny[t];
            }
        }
        return nullptr;
    }
    size_t Bytes() const
    {
        return (a.size() + b.size() + r.size()) * sizeof(Complex) + tiny.size() * sizeof(Tiny)
            + firstTiny.size() * sizeof(int32_t) + singular.size();
    }
};

// Landed pixels run one at a time: a landing orbit is kept only where its termination holds before this
// run, and a pixel that has not ended this many runs after it landed takes another reference.
constexpr int kLandingRuns = 64;

// One reference orbit: the iteration's and the termination's records, and what the renderer reads
// of each run. Runs stop at the limit, or where a value leaves the doubles' range.
struct ReferenceOrbit {
    int runs { 0 };
    int terminatedAt { -1 }; // the run after which the reference's own termination held, or -1
    // Above 0: the orbit became periodic within its precision, its state after some run that after the
    // run `period` before. Its records then repeat the cycle up to the limit or the memory allowed (so
    // that the skips see the whole orbit), and the runs past the last record repeat the last `period`
    // records. A lap of the cycle ends after run cycleEnd (the cycle's largest state) and every
    // `period` runs after it.
    int period { 0 };
    int cycleEnd { -1 };
    // A landing orbit that every landed pixel follows alike (the program reads no z0): its pixels go on
    // along it to their end, where others would leave it after kLandingRuns for another reference.
    bool keepsLanded { false };
    // Whether some run below `runs` is a TinyRun or a SingularRun (the record may hold one more run,
    // not offered): the lanes look at each lane's run only then.
    bool specialRuns { false };
    ProgramRecord iteration, termination;
    std::vector<Complex> last;    // the iteration's value after each run
    std::vector<Complex> carried; // [run * carried + j]: every carried slot after each run
    // The real part of the termination's value after each run (rounded, with its sign kept): a pixel's
    // termination holds when it plus the pixel's offset is above 0. Where the exact value lies below
    // the doubles' normal range, heldTiny has it with its own exponent.
    std::vector<double> held;
    std::vector<std::pair<int, ExComplex>> heldTiny; // in order of run
    // The colour formula's records and value after each run (V_iter_n = the run), when it is perturbed.
    ProgramRecord colour;
    std::vector<Complex> colourValue;
    // The skip (PlanSkip): every pixel within the radius starts at run skipRuns with the offsets
    // SkipStart(skipSeries[j], a) of the carried slots.
    int skipRuns { 0 };
    std::vector<std::array<ExComplex, kSkipTerms>> skipSeries;
    // The same series in doubles, for pixels whose offsets the doubles hold: term k scaled by
    // radius^(k+1), taken at the offset divided by the radius (skipUnit = 1 / radius). Empty when a
    // scaled term is past the doubles' range.
    ExComplex skipUnit {};
    std::vector<std::array<Complex, kSkipTerms>> skipScaled;
    // In place of skipSeries and skipScaled for a program that is not complex-differentiable: the
    // series in the offset and its conjugate (see PairIndex).
    std::vector<std::array<ExComplex, kPairTerms>> skipPairs;
    std::vector<std::array<Complex, kPairTerms>> skipPairsScaled;
    // Carried slot j's offset after the skip at the plane offset a, from whichever series the skip took;
    // from the scaled one at a / radius.
    ExComplex SkipOffset(size_t j, const ExComplex& a) const;
    Complex SkipOffsetScaled(size_t j, Complex unit) const;
    bool SkipScaled() const { return skipPairs.empty() ? !skipScaled.empty() : !skipPairsScaled.empty(); }
    // The bilinear skips a pixel takes on its own (PlanBla, with the skip).
    CBlaTable bla;
    // Where the program lands (CDeltaProgram::LandingInstruction): the orbit whose run 0 is a run with
    // that exp's value 0, so that its state after run 0 is the value the pixels collapse onto; null
    // for other programs or where the memory was spent.
    std::shared_ptr<ReferenceOrbit> landing;

    // The record that run n of a pixel takes while it keeps to this orbit (past the end of a periodic
    // one, the run of its cycle), or n itself.
    int RecordRun(int n) const { return n < runs || period <= 0 ? n : runs - period + (n - runs) % period; }
    // The record after record run r: the next one, or the cycle's first after a periodic orbit's last;
    // -1 after the last of one that ends.
    int NextRecord(int r) const { return r + 1 < runs ? r + 1 : (period > 0 ? runs - period : -1); }
    // Whether record run r ends a lap of a periodic orbit's cycle: where a pixel that repeats it is
    // decided.
    bool LapEnd(int r) const { return period > 0 && r >= cycleEnd && (r - cycleEnd) % period == 0; }

    // Whether a reference value of run n lies below the doubles' normal range (see ProgramRecord).
    bool TinyRun(int n) const
    {
        const auto tiny = [n](const ProgramRecord& r) {
            return !r.firstTiny.empty() && r.firstTiny[static_cast<size_t>(n)] >= 0;
        };
        return tiny(iteration) || tiny(termination);
    }
    // Whether a reference value of run n is not a finite number.
    bool SingularRun(int n) const
    {
        const auto singular = [n](const ProgramRecord& r) {
            return !r.singular.empty() && r.singular[static_cast<size_t>(n)] != 0;
        };
        return singular(iteration) || singular(termination);
    }

    size_t Bytes() const
    {
        return iteration.Bytes() + termination.Bytes() + colour.Bytes()
            + (last.size() + carried.size() + colourValue.size()) * sizeof(Complex)
            + held.size() * sizeof(double) + heldTiny.size() * sizeof(heldTiny[0]) + bla.Bytes()
            + (landing ? landing->Bytes() : 0);
    }
    // The termination's value after run n with its own exponent.
    ExComplex Held(int n) const;
};

// A carried slot's offset after the skip: the series at the pixel's plane offset.
ExComplex SkipStart(const std::array<ExComplex, kSkipTerms>& series, const ExComplex& offset);
// The same from the scaled series, at the offset over the radius.
Complex SkipStart(const std::array<Complex, kSkipTerms>& scaled, Complex unitOffset);
// The same for a series in the offset and its conjugate.
ExComplex SkipStart(const std::array<ExComplex, kPairTerms>& series, const ExComplex& offset);
Complex SkipStart(const std::array<Complex, kPairTerms>& scaled, Complex unitOffset);
// The derivatives of such a series at the offset along the real and the imaginary axis.
void SkipSlopes(const std::array<ExComplex, kPairTerms>& series, const ExComplex& offset, ExComplex& alongX,
    ExComplex& alongY);

// One batch program, perturbed: its delta forms over a program record.
class CDeltaCode {
public:
    CDeltaCode() = default;
    // z and z0 are batch slots of the program (-1 when unused); both are carried from run to run with
    // the program's variables.
    CDeltaCode(const CBatchFormula& program, int z, int z0);

    const CBatchFormula& Program() const { return m_program; }
    const std::vector<BatchInstruction>& Code() const { return m_code; }
    int Z() const { return m_z; }
    int Z0() const { return m_z0; }
    int Slots() const { return m_nSlots; }
    int Result() const { return m_nResult; }
    int ResetSlot() const { return m_nReset; }
    const std::vector<int32_t>& Carried() const { return m_carried; }
    // Whether a comparison or a branch cut of the program reads the plane point within a run (not
    // through a carried value): then an offset of z0 that the doubles lose decides a pixel.
    bool DecidesOnPlanePoint() const { return m_bPlaneDecides; }
    // Whether a comparison or a branch cut reads z or z0 (directly or through what they flow into).
    bool DecidesOnValues() const { return m_bValueDecides; }

    // One run on the offsets d (every slot) at run `run` of the record; true when the pixel left the
    // reference's precision.
    template <class N> bool Run(const ProgramRecord& record, int run, N* d) const;

private:
    CBatchFormula m_program;
    std::vector<BatchInstruction> m_code;
    std::vector<int32_t> m_carried;
    int m_z { -1 };
    int m_z0 { -1 };
    int m_nSlots { 0 };
    int m_nReset { -1 };
    int m_nResult { 0 };
    bool m_bPlaneDecides { false };
    bool m_bValueDecides { false };
};

class CDeltaProgram;
class CSeriesAhead;
struct PlannedAhead;
class COrbitDerivative;
struct OrbitDerivative;
class CLaneDerivatives;
// The perturbed programs of an iteration, a termination and a colour formula, bound by name: "z" and
// "z0" of each, "V_iter_n" of the termination and the colour (whose "V_iter_max" the caller has set).
// Without a colour formula, or with one that decides nothing on z or z0, the colour is not perturbed.
CDeltaProgram DeltaProgramOf(
    const CFormula& iteration, const CFormula& termination, const CFormula* colour = nullptr);

// Whether an opcode compares (its delta is the change of a 0/1 truth).
bool IsComparison(int opcode);

// The iteration and termination programs of a picture, perturbed. The termination runs after every
// run of the iteration with z = the iteration's value, V_iter_n = the run (the same for every pixel)
// and z0 = the plane point.
class CDeltaProgram {
public:
    CDeltaProgram() = default;
    // The slots are batch slots of their programs (-1 where a name is unused).
    CDeltaProgram(const CBatchFormula& iteration, int iterZ, int iterZ0, const CBatchFormula& termination,
        int termZ, int termN, int termZ0);

    const CDeltaCode& Iteration() const { return m_iter; }
    const CDeltaCode& Termination() const { return m_term; }
    int TermN() const { return m_termN; }
    // The colour formula perturbed, when a comparison or a cut of it reads z or z0: its decisions are
    // then taken on the exact values (see Colour).
    void SetColour(const CBatchFormula& colour, int z, int n, int z0);
    bool ExactColour() const { return m_bColour; }
    const CDeltaCode& ColourCode() const { return m_colour; }
    int ColourN() const { return m_colourN; }
    // The colour of a pixel that ended at run `run` of the orbit with the offset z of its value, z0 of
    // its plane point, and count - run in n (0, or 1 at the limit); false where the delta glitched
    // (the caller then colours the rounded value). scratch holds the colour's slots.
    bool Colour(const ReferenceOrbit& orbit, int run, const ExComplex& z, const ExComplex& z0, double n,
        std::vector<ExComplex>& scratch, Complex& colour) const;
    const CBatchFormula& Program() const { return m_iter.Program(); }
    int IterZ() const { return m_iter.Z(); }
    int IterZ0() const { return m_iter.Z0(); }
    const std::vector<int32_t>& Carried() const { return m_iter.Carried(); }
    bool DecidesOnPlanePoint() const { return m_iter.DecidesOnPlanePoint() || m_term.DecidesOnPlanePoint(); }
    // Whether the termination is norm(z) > K for a constant K > 0, or real(z) > K or imag(z) > K for a
    // finite K (or >= K). Then EscapeDecision decides it on a pixel's value and its offset from the
    // reference's (1 holds, -1 does not) where they lie clearly off the level curve, and returns 0
    // elsewhere (or for a value that is not a number): the rounding errors of that value's level (its
    // norm or its part), and the exact decision's, are below 2^-48 of the levels involved (the
    // pixel's, K's and the reference value's, at most twice the pixel's and the offset's together),
    // so that outside 2^-40 of them both decide alike, without the exact decision's glitch tests
    // sending such pixels to other references.
    bool DecidesEscape() const { return m_bEscapeDecides; }
    double EscapeDecision(Complex value, Complex offset) const
    {
        // One form for the three, without branches, so that the lanes decide in vectors: the weights
        // pick the norm or one part (a norm's margin is that of the norm alone, bit for bit).
        const double n = value.re * value.re + value.im * value.im;
        const double part = m_escapeRe * value.re + m_escapeIm * value.im;
        const double partOffset = m_escapeRe * offset.re + m_escapeIm * offset.im;
        const double level = m_escapeNorm * n + part;
        const double size = m_escapeNorm * n + std::fabs(part);
        const double offsetSize
            = m_escapeNorm * (offset.re * offset.re + offset.im * offset.im) + std::fabs(partOffset);
        const double margin = 0x1p-40 * (3.0 * size + m_escapeSize + 2.0 * offsetSize);
        // margin >= 0, so at most one holds.
        return (level - m_escape > margin ? 1.0 : 0.0) - (m_escape - level > margin ? 1.0 : 0.0);
    }

    // Plans the skip for offsets up to `radius` (a real ExComplex): the runs over which every such
    // pixel's offsets stay a power series of kSkipTerms terms in its plane offset.
    // Formulas with operations that are not complex-differentiable take a series in the offset and its
    // conjugate.
    // Plans the orbit's bilinear skips too (PlanBla, on up to `threads` threads).
    // What CPlanAhead planned while the orbit was computed (where not null) is taken as it is.
    void PlanSkip(ReferenceOrbit& orbit, const ExComplex& radius, int maxIter, int threads = 1,
        PlannedAhead* ahead = nullptr) const;
    // The skip's series planned run by run, so that it can follow the orbit as it is recorded.
    std::unique_ptr<CSeriesAhead> SeriesPlanner(const ExComplex& radius, int maxIter) const;

    // Iterates one pixel at `offset` from the reference's plane point. The scratch vectors hold its
    // slots. A pixel that IterateLanes deferred at a run of its own goes on from there (resume: its row
    // of DeltaLanes::resume). With a carrier (made from Iteration()), the pixel also carries its
    // orbit's derivative in `derivative`: after the call, its dzx and dzy are the last value's. A pixel
    // that did not glitch leaves its iteration's offsets after its last run in scratchX.
    // With handsLandedBack, a pixel that lands on a landing orbit all its landed pixels follow
    // (keepsLanded) stops there, marked deferred with its next run and record (resumeRun, recordRun),
    // and leaves its slots, the iteration's then the termination's, in scratchD: the lanes take it on
    // (IterateLanes with LaneResumes). A pixel resumed as landed goes on along the landing orbit.
    DeltaPixel Iterate(const ReferenceOrbit& orbit, const ExComplex& offset, int maxIter,
        std::vector<Complex>& scratchD, std::vector<ExComplex>& scratchX, const DeltaPixel* resumed = nullptr,
        const Complex* resume = nullptr, const COrbitDerivative* carrier = nullptr,
        OrbitDerivative* derivative = nullptr, bool handsLandedBack = false) const;

    // Iterates count pixels side by side in doubles from the skip's run, kLanes at a time: each lane
    // runs at its own run of the reference and takes the next pixel when its own ends. A pixel whose
    // offsets lie below the doubles' range is marked deferred and left for Iterate, from its start or,
    // at a run where the reference passes closer to 0 than the doubles hold, from that run. With
    // `derive`, the lanes carry each pixel's derivative too (a deferred pixel's is not kept). With
    // `resumes`, the pixels go on from where Iterate handed them back instead, on `orbit`, their landing
    // orbit; those that glitch there are deferred to land again (Iterate, resumed as landed).
    void IterateLanes(const ReferenceOrbit& orbit, const ExComplex* offsets, int count, int maxIter,
        DeltaLanes& scratch, DeltaPixel* out, CLaneDerivatives* derive = nullptr,
        const LaneResumes* resumes = nullptr) const;

    // Whether a pixel may take the record of another run than its own (a periodic orbit's cycle, a
    // rebase): the termination reads no run number and carries nothing of its own, and an exact colour
    // reads no run number either (the iteration reads none).
    bool Autonomous() const { return m_bAutonomous; }
    // Whether a glitch of the iteration may be mended by going on from another run of the orbit: an
    // autonomous program whose every operation glitches only where the pixel's operand drops far below
    // the reference's (its offsets then still hold the pixel's value to the doubles' precision of
    // their size). Operations with branch cuts (log, arg, sqrt, powers that are not whole) can lose a
    // pixel's offset in a jump, and trigonometric ones have poles: those glitch as before.
    bool Rebases() const { return m_bRebases; }
    // After record run r, a pixel whose offsets d (every slot of the iteration) glitched: the run of
    // the orbit whose state lies nearest the pixel's when nearer than the pixel's offsets are large.
    // Then d holds the offsets from that run's state and `to` the run; false (d unchanged) otherwise.
    bool Rebase(const ReferenceOrbit& orbit, int r, Complex* d, int& to) const;

    // The exp instruction whose value alone carries the state from run to run: with its value taken as
    // 0, every carried value (z0 aside) and the iteration's value follow from constants and z0. Where
    // a pixel's exp falls far below the reference's, its orbit collapses onto that asymptotic value
    // (C for exp(z) + C) whatever the reference does; -1 where there is none or the program is not
    // autonomous. The first such exp of the program counts.
    int LandingInstruction() const { return m_nLanding; }
    // After record run r of orbit glitched, the pixel's carried offsets d back as they were before it:
    // the run taken instead as run 0 of the landing orbit `to`, its exp from the pixel's own argument. Then d
    // holds the offsets after that run; false (d no longer meaningful) where the landing orbit is
    // missing, the doubles do not hold the pixel's argument to its own precision, or the run glitches.
    bool Land(const ReferenceOrbit& orbit, int r, const ReferenceOrbit* to, Complex* d) const;

    // The delta of one instruction, for tests: f(A + a, B + b) - f(A, B) given the reference operands
    // A, B, its result R and the offsets, in doubles and in ExComplex.
    Complex Delta(const BatchInstruction& in, Complex A, Complex B, Complex R, Complex a, Complex b) const;
    ExComplex Delta(const BatchInstruction& in, Complex A, Complex B, Complex R, const ExComplex& a,
        const ExComplex& b) const;

    // One run of the iteration's delta program on the offsets d (every slot), at run `run` of the orbit:
    // how a small change of the start moves each value. The glitch tests are not applied.
    void Probe(const ReferenceOrbit& orbit, int run, ExComplex* d) const;

private:
    // One run of the skip's models of the iteration (false where they no longer hold every pixel), and
    // of the bounds of the termination's offsets (false where some pixel's termination may hold).
    // Disc: CModelDisc with TaylorModel, or CPairDisc with PairModel where the program is not
    // complex-differentiable.
    template <class Disc, class Model>
    bool ModelRun(const ReferenceOrbit& orbit, int n, const Disc& disc, std::vector<Model>& models) const;
    template <class Disc, class Model>
    bool TerminationStays(const ReferenceOrbit& orbit, int n, const Disc& disc,
        const std::vector<Model>& models, std::vector<ExComplex>& bounds) const;
    template <class Disc, class Model, size_t kTerms> friend class CSeriesRuns;
    int StartPixel(const ReferenceOrbit& orbit, const ExComplex& offset, const DeltaPixel* resumed,
        const Complex* resume, ExComplex* x) const;
    // Whether the pixel's termination holds after run n, its iteration offsets at d, its plane offset
    // z0; t holds the termination's offsets (carried from run to run). glitch is set as Run sets it.
    template <class N>
    bool Holds(const ReferenceOrbit& orbit, int n, const N* d, const N& z0, N* t, bool& glitch) const;

    CDeltaCode m_iter;
    CDeltaCode m_term;
    CDeltaCode m_colour;
    int m_colourN { -1 };
    bool m_bColour { false };
    int m_termN { -1 };
    bool m_bEscapeDecides { false };
    double m_escape { 0.0 }; // K, and its size
    double m_escapeSize { 0.0 };
    double m_escapeNorm { 0.0 }; // the level's weights: 1 for the norm, or for the part it reads
    double m_escapeRe { 0.0 };
    double m_escapeIm { 0.0 };
    // The record after record run r for a pixel going on from its run n with the offsets d, in doubles:
    // see NextLaneRecord (lap: the carried offsets at its last pass through a periodic orbit's end). A
    // pixel that goes round for good moves n on to the lap that ends at the limit.
    int NextRecord(const ReferenceOrbit& orbit, int r, Complex* d, Complex* lap, int maxIter, int& n,
        DeltaPixel& pixel) const;
    // The same for offsets in ExComplex (lap: carried size + 1 values, NaN before the first pass).
    int NextRecordWide(const ReferenceOrbit& orbit, int r, const ExComplex* x, ExComplex* lap, int maxIter,
        int& n, DeltaPixel& pixel) const;
    // After the run on record r glitched: the pixel back to its carried offsets before it and, where it
    // rebases from there, r the record to take the run again on (see RebaseGlitchedLanes).
    bool RunAgain(
        const ReferenceOrbit& orbit, int& r, Complex* d, const Complex* before, DeltaPixel& pixel) const;
    // After the run on record r glitched: the run taken on the landing orbit of the pixel's reference
    // orbit where it lands (Land: then on moves to it, r is 0, glitch is cleared and the run is done),
    // else RunAgain on the orbit the pixel is on.
    bool Mend(const ReferenceOrbit& orbit, const ReferenceOrbit*& on, int& r, Complex* d,
        const Complex* before, DeltaPixel& pixel, bool mayLand, bool& glitch) const;

    bool m_bAutonomous { false };
    bool m_bRebases { false };
    std::vector<int> m_rebased; // the carried slots a rebase moves (z0 keeps its offset): their indices
    int m_nLanding { -1 };
    std::vector<uint8_t> m_stateRead; // per instruction: reads the state other than through the landing exp
    void NoteAutonomy();
    void NoteLanding();
};
