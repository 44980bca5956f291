#pragma once

// What a deep view's pixels hand the colour and termination formulas beside z: the iteration
// formula's variables (V_iter_<name>) at full value, and for the pixels computed in arbitrary
// precision, the orbit's derivative run step by step with the iteration. Internal to the renderer.
#include "renderplan.h"

#include "delta.h"
#include "dual.h"
#include "oracle.h"

#include <memory>
#include <vector>

// The iteration formula's variables that a formula reads as V_iter_<name>, in doubles.
class CDeepIterationReads {
public:
    CDeepIterationReads(const std::vector<IterationRead>& reads, const CBatchFormula& iteration,
        const std::vector<int32_t>& carried);

    size_t Size() const { return m_source.size(); }
    // A perturbed pixel whose last run took record `record` of the orbit, with the iteration's offsets
    // x after it: the reference's recorded value plus the pixel's offset.
    void Perturbed(const ReferenceOrbit& orbit, int record, const ExComplex* x, Complex* out) const;
    // A pixel in arbitrary precision, the iteration program after its last run.
    void Precise(const CPreciseProgram& iteration, Complex* out) const;

private:
    std::vector<int> m_source;  // the iteration's batch slot, or -1
    std::vector<int> m_carried; // its index among the carried slots, or -1 (a run never changes it)
    std::vector<Complex> m_initial;
    size_t m_nCarried { 0 }; // the orbit's carried values per run
};

// The termination formula's V_dz, V_dzy, V_de, V_dir and V_iter_<name> on the pixels computed in
// arbitrary precision: after every run of the iteration the derivative takes a run of its own and
// the termination's slots are set, as the doubles paths set them. The perturbed pixels do not carry
// them to the termination, so a picture whose termination reads them is computed here throughout.
class CDeepPreciseFeed {
public:
    // derive: whether a formula reads the derivative.
    CDeepPreciseFeed(const RenderBindings& v, bool derive, const CBatchFormula& iteration,
        const CBatchFormula& termination, mpfr_prec_t bits, const ExComplex& pixel,
        const OracleBindings& bindings);

    // Whether the termination reads any of the names (the perturbed pixels cannot take the picture).
    bool Termination() const { return m_bTermination; }
    // Whether the derivative is carried (a formula reads it).
    bool Derivative() const { return m_dual != nullptr; }
    void Start(const BigComplex& point);
    // After run n of the iteration, whose value is `value`: the derivative's run and the termination's
    // slots.
    void AfterRun(const CPreciseProgram& iteration, const BigComplex& value, CPreciseProgram& termination);
    // The derivatives of the last value along x and y.
    void DerivativeOf(ExComplex* out) const;

private:
    std::unique_ptr<CDualProgram> m_dual;
    int m_nResult { -1 };
    std::vector<int> m_seeds;
    ExComplex m_pixel;
    int m_derivative[4] { -1, -1, -1, -1 };   // the termination's batch slots of V_dz, V_dzy, V_de, V_dir
    std::vector<std::pair<int, int>> m_reads; // the termination's V_iter_<name>, the iteration's <name>
    bool m_bTermination { false };
};

// Whether a picture's termination formula reads the derivative or V_iter_<name>.
inline bool TerminationReads(const RenderBindings& v) { return v.termD.Any() || !v.termReads.empty(); }
