#include "delta.h"

#include "arith.h"
#include "deltaforms.h"
#include "lanecycle.h"
#include "orbitderivative.h"

#include "opcodes.h"

#include <algorithm>
#include <cmath>

bool IsComparison(int opcode) { return CompareKindOf(opcode).has_value(); }

namespace {

// Operations whose result jumps where their operand crosses a line: comparisons and branch cuts (a
// whole power has none).
bool Decides(const BatchInstruction& in)
{
    return in.opcode != kBatchOpPowWhole && kOpTraits[in.opcode].decides;
}

// Whether a deciding operation reads one of the starting slots within one run: they taint what they
// flow into, and a carried value starts every run untainted.
bool TaintDecides(const std::vector<BatchInstruction>& code, std::initializer_list<int> from, int slots)
{
    std::vector<uint8_t> tainted(static_cast<size_t>(slots), 0);
    bool any = false;
    for (const int slot : from) {
        if (slot >= 0) {
            tainted[static_cast<size_t>(slot)] = 1;
            any = true;
        }
    }
    if (!any) {
        return false;
    }
    for (const BatchInstruction& in : code) {
        const bool reads
            = tainted[static_cast<size_t>(in.a)] || (in.b >= 0 && tainted[static_cast<size_t>(in.b)]);
        if (reads && Decides(in)) {
            return true;
        }
        tainted[static_cast<size_t>(in.dest)] = reads;
    }
    return false;
}

bool OffsetsBelow(const ExComplex* x, const std::vector<int32_t>& slots, int bits)
{
    return std::all_of(slots.begin(), slots.end(), [&](int32_t s) { return ex::Below(x[s], bits); });
}

bool OffsetsBelowD(const Complex* d, const std::vector<int32_t>& slots, int bits)
{
    const double limit = std::ldexp(1.0, -bits);
    return std::all_of(slots.begin(), slots.end(),
        [&](int32_t s) { return std::fmax(std::fabs(d[s].re), std::fabs(d[s].im)) < limit; });
}

// The derivative a pixel carries, where it carries one.
struct PixelCarry {
    const COrbitDerivative* carrier;
    OrbitDerivative* state;

    template <class N> bool Run(const CDeltaCode& code, const ProgramRecord& record, int r, N* d) const
    {
        return carrier ? carrier->Run(record, r, d, *state) : code.Run(record, r, d);
    }
    // A pixel that goes on from where the lanes left it has no derivative they carried.
    void Start(const ReferenceOrbit& orbit, const ExComplex& offset, int n, bool going) const
    {
        if (carrier) {
            going ? carrier->Unknown(*state) : carrier->Start(orbit, offset, n, *state);
        }
    }
};

// A pixel's scratch: its slots in doubles (d) and in ExComplex (x); after them, in both forms, the
// carried offsets at its last pass through a periodic orbit's end (NaN before the first, see
// NextRecord), and in doubles those before a run.
struct PixelScratch {
    size_t all, laps;
    Complex* d;
    ExComplex* x;

    PixelScratch(
        size_t slots, size_t carried, std::vector<Complex>& scratchD, std::vector<ExComplex>& scratchX)
        : all(slots)
        , laps(carried + 1)
    {
        scratchD.assign(all + laps + carried, Complex { NAN, NAN });
        scratchX.assign(all + laps, ExComplex {});
        d = scratchD.data();
        x = scratchX.data();
        ForgetLaps();
    }
    // The slots in the other form.
    void ToDoubles() const
    {
        std::transform(x, x + all, d, [](const ExComplex& v) { return ex::ToComplex(v); });
        ForgetLaps();
    }
    void ToWide() const
    {
        std::transform(d, d + all, x, [](Complex v) { return ex::From(v); });
        ForgetLaps();
    }
    // Laps kept in one form, or on another orbit, would be compared with offsets far away.
    void ForgetLaps() const
    {
        std::fill_n(d + all, laps, Complex { NAN, NAN });
        std::fill_n(x + all, laps, ExComplex { NAN, NAN, 0 });
    }
};

// Where a pixel that goes on from where the lanes left it stands.
DeltaPixel Resumed(const DeltaPixel* resumed, int n)
{
    DeltaPixel pixel;
    const bool going = resumed && resumed->resumeRun >= 0;
    pixel.runs = going ? resumed->runs : n;
    pixel.skipped = going ? resumed->skipped : 0;
    pixel.rebases = going ? resumed->rebases : 0;
    pixel.landed = going && resumed->landed;
    pixel.landedAt = going ? resumed->landedAt : 0;
    return pixel;
}

// A pixel that ends leaves the offsets it ends with in x, where the caller finds them.
DeltaPixel Ended(const DeltaPixel& pixel, bool doubles, const Complex* d, ExComplex* x, size_t slots)
{
    if (doubles) {
        std::transform(d, d + slots, x, [](Complex v) { return ex::From(v); });
    }
    return pixel;
}

// The bilinear skips of a pixel at its run n on record r, its carried offsets in d (doubles) or x: the record
// reached, n moved as far. Skips follow the records (a rebased pixel's, or one that went round a
// periodic orbit, is not its own run) and stop before the limit and the orbit's end.
int Bilinear(const ReferenceOrbit& orbit, int r, int& n, int maxIter, BlaTries& tries, bool doubles,
    Complex* d, ExComplex* x, const ExComplex& planeOffset, DeltaPixel& pixel, const PixelCarry& carry)
{
    if (orbit.bla.Empty() || n < tries.next || r < 0 || r >= orbit.runs) {
        return r;
    }
    const std::vector<int32_t>& slots = orbit.bla.Slots();
    ExComplex state[kBlaMaxWidth];
    for (size_t i = 0; i < slots.size(); ++i) {
        state[i] = doubles ? ex::From(d[slots[i]]) : x[slots[i]];
    }
    const int end = std::min(orbit.runs, r + maxIter - n) - 1;
    const int to = carry.carrier ? carry.carrier->Skip(orbit.bla, r, end, state, planeOffset, *carry.state)
                                 : orbit.bla.Skip(r, end, state, planeOffset);
    if (to != r) {
        for (size_t i = 0; i < slots.size(); ++i) {
            if (doubles) {
                d[slots[i]] = ex::ToComplex(state[i]);
            } else {
                x[slots[i]] = state[i];
            }
        }
        pixel.skipped += to - r;
        pixel.runs += to - r;
        n += to - r;
    }
    tries.Tried(r, to, n);
    return to;
}

} // namespace

ExComplex ReferenceOrbit::Held(int n) const
{
    const double value = held[static_cast<size_t>(n)];
    if (!(std::fabs(value) < 0x1p-1000)) {
        return ex::FromReal(value);
    }
    const auto at = std::lower_bound(heldTiny.begin(), heldTiny.end(), n,
        [](const std::pair<int, ExComplex>& t, int run) { return t.first < run; });
    return at != heldTiny.end() && at->first == n ? at->second : ex::FromReal(value);
}

CDeltaCode::CDeltaCode(const CBatchFormula& program, int z, int z0)
    : m_program(program)
    , m_code(program.Code())
    , m_z(z)
    , m_z0(z0)
    , m_nSlots(program.SlotCount())
    , m_nReset(program.ResetSlot())
    , m_nResult(program.ResultSlot())
{
    m_carried = program.Variables();
    for (const int slot : { z, z0 }) {
        if (slot >= 0 && std::find(m_carried.begin(), m_carried.end(), slot) == m_carried.end()) {
            m_carried.push_back(slot);
        }
    }
    std::sort(m_carried.begin(), m_carried.end());
    // z0's offset keeps a carried value above the doubles' range; a plane offset alone does not.
    m_bPlaneDecides = TaintDecides(m_code, { z0 }, m_nSlots);
    m_bValueDecides = TaintDecides(m_code, { z, z0 }, m_nSlots);
}

template <class N> bool CDeltaCode::Run(const ProgramRecord& record, int run, N* d) const
{
    bool glitch = false;
    if (m_nReset >= 0) {
        d[m_nReset] = N {};
    }
    const size_t base = static_cast<size_t>(run) * static_cast<size_t>(record.instructions);
    const int count = static_cast<int>(m_code.size());
    for (int k = 0; k < count; ++k) {
        const BatchInstruction& in = m_code[static_cast<size_t>(k)];
        const size_t at = base + static_cast<size_t>(k);
        const N& db = in.b >= 0 ? d[in.b] : d[in.a];
        if constexpr (std::is_same_v<N, ExComplex>) {
            // Reference values below the doubles' range, with their own exponents; an exact difference
            // that small still decides a comparison.
            if (const ProgramRecord::Tiny* tiny = record.TinyAt(run, at)) {
                const std::optional<CompareKind> kind = CompareKindOf(in.opcode);
                d[in.dest] = kind ? ComparisonDelta(*kind, tiny->a, record.r[at], d[in.a], db)
                                  : DeltaFormWide(in, tiny->a, tiny->b, tiny->r, d[in.a], db, glitch);
                continue;
            }
        }
        d[in.dest] = DeltaForm<N>(in, record.a[at], record.b[at], record.r[at], d[in.a], db, glitch);
    }
    return glitch;
}

template bool CDeltaCode::Run<Complex>(const ProgramRecord&, int, Complex*) const;
template bool CDeltaCode::Run<ExComplex>(const ProgramRecord&, int, ExComplex*) const;

namespace {

// Whether the termination program is norm(z), real(z) or imag(z) > K (or >= K) for a constant K (> 0
// for the norm): its level instruction's opcode and K.
bool IsEscape(const CDeltaCode& term, int termN, Op& level, double& bound)
{
    const std::vector<BatchInstruction>& code = term.Code();
    if (code.size() != 2 || term.Z() < 0 || term.ResetSlot() >= 0) {
        return false;
    }
    const BatchInstruction& first = code[0];
    const BatchInstruction& test = code[1];
    level = static_cast<Op>(first.opcode);
    if ((level != kOpNorm && level != kOpReal && level != kOpImagFn) || first.a != term.Z()
        || (test.opcode != kOpGt && test.opcode != kOpGe) || test.a != first.dest || test.b < 0
        || test.dest != term.Result() || test.b == term.Z() || test.b == term.Z0() || test.b == termN
        || term.Program().Writes(test.b)) {
        return false;
    }
    const Complex k = term.Program().Initial(test.b);
    bound = k.re;
    return std::isfinite(k.re) && k.im == 0.0 && (level != kOpNorm || k.re > 0.0);
}

} // namespace

CDeltaProgram::CDeltaProgram(const CBatchFormula& iteration, int iterZ, int iterZ0,
    const CBatchFormula& termination, int termZ, int termN, int termZ0)
    : m_iter(iteration, iterZ, iterZ0)
    , m_term(termination, termZ, termZ0)
    , m_termN(termN)
{
    Op level = kOpNorm;
    m_bEscapeDecides = IsEscape(m_term, m_termN, level, m_escape);
    m_escapeSize = std::fabs(m_escape);
    m_escapeNorm = level == kOpNorm ? 1.0 : 0.0;
    m_escapeRe = level == kOpReal ? 1.0 : 0.0;
    m_escapeIm = level == kOpImagFn ? 1.0 : 0.0;
    NoteAutonomy();
}

CDeltaProgram DeltaProgramOf(const CFormula& iteration, const CFormula& termination, const CFormula* colour)
{
    const CBatchFormula iter(iteration);
    const CBatchFormula term(termination);
    CDeltaProgram program(iter, iter.Slot(iteration.FindVariable("z")),
        iter.Slot(iteration.FindVariable("z0")), term, term.Slot(termination.FindVariable("z")),
        term.Slot(termination.FindVariable("V_iter_n")), term.Slot(termination.FindVariable("z0")));
    if (colour) {
        const CBatchFormula paint(*colour);
        program.SetColour(paint, paint.Slot(colour->FindVariable("z")),
            paint.Slot(colour->FindVariable("V_iter_n")), paint.Slot(colour->FindVariable("z0")));
    }
    return program;
}

void CDeltaProgram::SetColour(const CBatchFormula& colour, int z, int n, int z0)
{
    m_colour = CDeltaCode(colour, z, z0);
    m_colourN = n;
    // A colour formula whose variables a run could leave changed is left to the rounded values: its
    // records along the orbit would each need the variables as they start a pixel.
    const bool fresh = std::all_of(m_colour.Carried().begin(), m_colour.Carried().end(),
        [&](int32_t slot) { return slot == z || slot == z0 || slot == n; });
    m_bColour = m_colour.DecidesOnValues() && fresh;
    NoteAutonomy();
}

bool CDeltaProgram::Colour(const ReferenceOrbit& orbit, int run, const ExComplex& z, const ExComplex& z0,
    double n, std::vector<ExComplex>& scratch, Complex& colour) const
{
    scratch.assign(static_cast<size_t>(m_colour.Slots()), ExComplex {});
    if (m_colour.Z() >= 0) {
        scratch[static_cast<size_t>(m_colour.Z())] = z;
    }
    if (m_colour.Z0() >= 0) {
        scratch[static_cast<size_t>(m_colour.Z0())] = z0;
    }
    if (m_colourN >= 0) {
        scratch[static_cast<size_t>(m_colourN)] = ex::FromReal(n);
    }
    if (m_colour.Run(orbit.colour, run, scratch.data())) {
        return false;
    }
    const Complex delta = ex::ToComplex(scratch[static_cast<size_t>(m_colour.Result())]);
    colour = Add(orbit.colourValue[static_cast<size_t>(run)], delta);
    return std::isfinite(colour.re) && std::isfinite(colour.im);
}

Complex CDeltaProgram::Delta(
    const BatchInstruction& in, Complex A, Complex B, Complex R, Complex a, Complex b) const
{
    bool glitch = false;
    return DeltaForm<Complex>(in, A, B, R, a, b, glitch);
}

ExComplex CDeltaProgram::Delta(
    const BatchInstruction& in, Complex A, Complex B, Complex R, const ExComplex& a, const ExComplex& b) const
{
    bool glitch = false;
    return DeltaForm<ExComplex>(in, A, B, R, a, b, glitch);
}

void CDeltaProgram::Probe(const ReferenceOrbit& orbit, int run, ExComplex* d) const
{
    m_iter.Run(orbit.iteration, run, d);
}

template <class N>
bool CDeltaProgram::Holds(
    const ReferenceOrbit& orbit, int n, const N* d, const N& z0, N* t, bool& glitch) const
{
    if (m_term.Z() >= 0) {
        t[m_term.Z()] = d[m_iter.Result()];
    }
    if (m_term.Z0() >= 0) {
        t[m_term.Z0()] = z0;
    }
    if (m_bEscapeDecides) {
        const Complex offset = Arith<N>::ToC(d[m_iter.Result()]);
        if (const double decided = EscapeDecision(Add(orbit.last[static_cast<size_t>(n)], offset), offset);
            decided != 0.0) {
            return decided > 0.0;
        }
    }
    if (m_termN >= 0) {
        t[m_termN] = N {};
    }
    glitch |= m_term.Run(orbit.termination, n, t);
    const N& v = t[m_term.Result()];
    double sum = 0.0;
    if constexpr (std::is_same_v<N, Complex>) {
        sum = orbit.held[static_cast<size_t>(n)] + v.re;
    } else {
        sum = ex::Add(orbit.Held(n), ex::RealOf(v)).re;
    }
    // The reference's value, or the pixel's, is not a number: a reference of its own decides.
    glitch |= std::isnan(sum);
    return sum > 0.0;
}

DeltaPixel CDeltaProgram::Iterate(const ReferenceOrbit& orbit, const ExComplex& offset, int maxIter,
    std::vector<Complex>& scratchD, std::vector<ExComplex>& scratchX, const DeltaPixel* resumed,
    const Complex* resume, const COrbitDerivative* carrier, OrbitDerivative* derivative,
    bool handsLandedBack) const
{
    const PixelCarry carry { carrier, derivative };
    const size_t slots = static_cast<size_t>(m_iter.Slots());
    const size_t all = slots + static_cast<size_t>(m_term.Slots());
    const std::vector<int32_t>& carried = m_iter.Carried();
    const PixelScratch scratch(all, carried.size(), scratchD, scratchX);
    ExComplex* x = scratch.x;
    Complex* d = scratch.d;
    int n = StartPixel(orbit, offset, resumed, resume, x);
    const bool going = resumed && resumed->resumeRun >= 0;
    carry.Start(orbit, offset, n, going);
    DeltaPixel pixel = Resumed(resumed, n);
    int r = going && resumed->recordRun >= 0 ? resumed->recordRun : orbit.RecordRun(n); // the record n takes
    // Offsets below 2^-600 run in ExComplex; past it, doubles hold them and their products (what they round
    // away is negligible beside them), except while a comparison or a cut reads a plane offset they lose.
    const bool keepWide = DecidesOnPlanePoint() && ex::Below(offset, kPlaneOffsetBits) && !ex::IsZero(offset);
    bool doubles = (ex::IsZero(offset) && n == 0) || (!keepWide && !OffsetsBelow(x, carried, 600));
    const Complex z0 = ex::ToComplex(offset);
    if (doubles) {
        scratch.ToDoubles();
    }
    BlaTries tries { n, 1 };
    // The landing orbit once the pixel landed.
    const ReferenceOrbit* on = pixel.landed && orbit.landing ? orbit.landing.get() : &orbit;
    const bool handsBack = handsLandedBack && !pixel.landed && orbit.landing && orbit.landing->keepsLanded;
    for (;; ++n) {
        r = Bilinear(*on, r, n, maxIter, tries, doubles, d, x, offset, pixel, carry);
        if (r < 0 || r >= on->runs) {
            pixel.glitched = true; // the reference ended before this pixel did
            return pixel;
        }
        if (handsBack && on != &orbit && doubles) {
            pixel.deferred = true;
            pixel.resumeRun = n;
            pixel.recordRun = r;
            return pixel;
        }
        if (doubles && on->TinyRun(r) && OffsetsBelowD(d, carried, kTinyRunBits)) {
            // The reference passes closer to 0 than the doubles hold, and the pixel's offsets are too
            // small for their products to hold: this run in ExComplex.
            scratch.ToWide();
            doubles = false;
        }
        bool glitch = false;
        bool holds = false;
        Complex delta;
        if (doubles) {
            Complex* before = d + all + carried.size() + 1;
            std::transform(carried.begin(), carried.end(), before, [d](int32_t s) { return d[s]; });
            glitch = carry.Run(m_iter, on->iteration, r, d);
            const ReferenceOrbit* was = on;
            if (glitch && Mend(orbit, on, r, d, before, pixel, !carrier, glitch)) {
                --n; // the run again, from another record (see RebaseGlitchedLanes)
                if (on != was) {
                    scratch.ForgetLaps();
                }
                continue;
            }
            holds = Holds(*on, r, d, z0, d + slots, glitch);
            delta = d[m_iter.Result()];
        } else {
            glitch = carry.Run(m_iter, on->iteration, r, x);
            holds = Holds(*on, r, x, offset, x + slots, glitch);
            delta = ex::ToComplex(x[m_iter.Result()]);
            if (!keepWide && !OffsetsBelow(x, carried, 600)) {
                scratch.ToDoubles();
                doubles = true;
            }
        }
        if (glitch) {
            pixel.glitched = true;
            return pixel;
        }
        ++pixel.runs;
        pixel.last = Add(on->last[static_cast<size_t>(r)], delta);
        pixel.lastOffset = doubles ? ex::From(d[m_iter.Result()]) : x[m_iter.Result()];
        pixel.recordRun = r;
        if (holds || n + 1 >= maxIter) {
            pixel.count = holds ? n : maxIter;
            return Ended(pixel, doubles, d, x, slots);
        }
        r = doubles ? NextRecord(*on, r, d, d + all, maxIter, n, pixel)
                    : NextRecordWide(*on, r, x, x + all, maxIter, n, pixel);
    }
}
