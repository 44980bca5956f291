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
