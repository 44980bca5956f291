#include "deepreads.h"

#include "orbitderivative.h"
#include "reference.h"

#include <algorithm>

CDeepIterationReads::CDeepIterationReads(const std::vector<IterationRead>& reads,
    const CBatchFormula& iteration, const std::vector<int32_t>& carried)
    : m_nCarried(carried.size())
{
    for (const IterationRead& read : reads) {
        const int slot = iteration.Slot(read.source);
        const auto at = std::find(carried.begin(), carried.end(), slot);
        m_source.push_back(slot);
        m_carried.push_back(slot >= 0 && at != carried.end() ? static_cast<int>(at - carried.begin()) : -1);
        m_initial.push_back(slot >= 0 ? iteration.Initial(slot) : kNaNResult);
    }
}

void CDeepIterationReads::Perturbed(
    const ReferenceOrbit& orbit, int record, const ExComplex* x, Complex* out) const
{
    for (size_t k = 0; k < m_source.size(); ++k) {
        if (m_carried[k] < 0) {
            out[k] = m_initial[k];
        } else if (record < 0 || record >= orbit.runs) {
            out[k] = kNaNResult;
        } else {
            const Complex reference
                = orbit.carried[static_cast<size_t>(record) * m_nCarried + static_cast<size_t>(m_carried[k])];
            out[k] = Add(reference, ex::ToComplex(x[m_source[k]]));
        }
    }
}

void CDeepIterationReads::Precise(const CPreciseProgram& iteration, Complex* out) const
{
    for (size_t k = 0; k < m_source.size(); ++k) {
        out[k] = m_source[k] >= 0 ? iteration.Slot(m_source[k]).ToComplex() : m_initial[k];
    }
}

CDeepPreciseFeed::CDeepPreciseFeed(const RenderBindings& v, bool derive, const CBatchFormula& iteration,
    const CBatchFormula& termination, mpfr_prec_t bits, const ExComplex& pixel,
    const OracleBindings& bindings)
    : m_nResult(iteration.ResultSlot())
    , m_seeds { bindings.iterZ, bindings.iterZ0 }
    , m_pixel(pixel)
    , m_bTermination(TerminationReads(v))
{
    if (derive) {
        m_dual = std::make_unique<CDualProgram>(iteration, bits);
    }
    const DerivativeSlots& d = v.termD;
    int k = 0;
    for (const int slot : { d.dz, d.dzy, d.de, d.dir }) {
        m_derivative[k++] = slot >= 0 ? termination.Slot(slot) : -1;
    }
    for (const IterationRead& read : v.termReads) {
        m_reads.emplace_back(termination.Slot(read.slot), iteration.Slot(read.source));
    }
    std::erase(m_seeds, -1);
}

void CDeepPreciseFeed::Start(const BigComplex& point)
{
    if (m_dual) {
        m_dual->Start(point, m_seeds, m_seeds);
    }
}

void CDeepPreciseFeed::AfterRun(
    const CPreciseProgram& iteration, const BigComplex& value, CPreciseProgram& termination)
{
    if (m_dual) {
        m_dual->Run();
    }
    for (const auto& [slot, source] : m_reads) {
        if (slot >= 0) {
            if (source >= 0) {
                termination.Slot(slot).Set(iteration.Slot(source));
            } else {
                termination.Slot(slot).Set(kNaNResult);
            }
        }
    }
    if (!m_dual
        || std::all_of(std::begin(m_derivative), std::end(m_derivative), [](int s) { return s < 0; })) {
        return;
    }
    ExComplex d[2];
    DerivativeOf(d);
    const DerivativeView view = ViewDeepDerivative(value.ToComplex(), d[0], d[1], m_pixel);
    const Complex values[4] { view.dz, view.dzy, { view.de, 0.0 }, view.dir };
    for (int k = 0; k < 4; ++k) {
        if (m_derivative[k] >= 0) {
            termination.Slot(m_derivative[k]).Set(values[k]);
        }
    }
}

void CDeepPreciseFeed::DerivativeOf(ExComplex* out) const
{
    out[0] = WideOf(m_dual->AlongRe(m_nResult));
    out[1] = WideOf(m_dual->AlongIm(m_nResult));
}
