#include "lanederivative.h"

#include <bit>

namespace {

// The record's value at lane l's run, as the pixel's own run reads it (values below the doubles' range
// from their own list).
template <class Pick>
Complex Recorded(
    const ProgramRecord& record, int k, size_t runAt, const std::vector<Complex>& values, Pick pick)
{
    const size_t at = runAt + static_cast<size_t>(k);
    if (record.firstTiny.empty()) {
        return values[at];
    }
    const int run = static_cast<int>(runAt / static_cast<size_t>(record.instructions));
    const ProgramRecord::Tiny* tiny = record.TinyAt(run, at);
    return tiny ? ex::ToComplex(pick(*tiny)) : values[at];
}

} // namespace

void CLaneDerivatives::BeginRun(uint64_t active)
{
    for (uint64_t bits = active; bits != 0; bits &= bits - 1) {
        m_carrier.BeginRun(Lane(std::countr_zero(bits)));
    }
}

void CLaneDerivatives::EndRun(uint64_t active, const double* glitched)
{
    for (uint64_t bits = active; bits != 0; bits &= bits - 1) {
        const int l = std::countr_zero(bits);
        if (glitched[l] == 0.0) {
            m_carrier.EndRun(Lane(l));
        }
    }
}

void CLaneDerivatives::Before(const BatchInstruction& in, const ProgramRecord& record, int k,
    const size_t* runAt, uint64_t active, const double* ar, const double* ai, const double* br,
    const double* bi)
{
    if (!COrbitDerivative::ReadsOperands(in)) {
        return;
    }
    for (uint64_t bits = active; bits != 0; bits &= bits - 1) {
        const int l = std::countr_zero(bits);
        m_a[l]
            = Add(Recorded(record, k, runAt[l], record.a, [](const ProgramRecord::Tiny& t) { return t.a; }),
                { ar[l], ai[l] });
        m_b[l]
            = Add(Recorded(record, k, runAt[l], record.b, [](const ProgramRecord::Tiny& t) { return t.b; }),
                { br[l], bi[l] });
    }
}

void CLaneDerivatives::After(const BatchInstruction& in, const ProgramRecord& record, int k,
    const size_t* runAt, uint64_t active, const double* dr, const double* di)
{
    for (uint64_t bits = COrbitDerivative::ReadsResult(in) ? active : 0; bits != 0; bits &= bits - 1) {
        const int l = std::countr_zero(bits);
        m_r[l]
            = Add(Recorded(record, k, runAt[l], record.r, [](const ProgramRecord::Tiny& t) { return t.r; }),
                { dr[l], di[l] });
    }
    m_carrier.Chain(in, m_a, m_b, m_r, active, m_lanes.data());
}
