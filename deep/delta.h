#pragma once

#include "batchformula.h"
#include "floatexp.h"
#include "formula.h"

#include <array>
#include <cstdint>
#include <vector>

// Perturbation: a pixel near a reference orbit computed in high precision iterates only its offset
// from that orbit, in doubles (or in ExComplex while the offset is below the doubles' range). Every
// instruction of the batch program has a delta form that gives f(A + a) - f(A) from the reference's
// operands A and the pixel's offsets a without cancellation.

// Terms of the power series in the pixel's plane offset that carry every pixel over the runs all of
// them share (the skip): six take an orbit of z * z + C to within 1e-3 of its reference before the
// seventh would matter, where one (the first-order skip) stops near 1e-12.
constexpr int kSkipTerms = 6;

// One reference orbit: for every run n of the iteration program and every instruction k, the
// reference values (rounded to doubles) of the operands and of the result. Runs stop at the limit,
// or where a value leaves the doubles' range.
struct ReferenceOrbit {
    int instructions { 0 };
    int runs { 0 };
    int terminatedAt { -1 };       // the run after which the reference's own termination held, or -1
    std::vector<Complex> a, b, r;  // [run * instructions + k]
    std::vector<Complex> last;     // the program's value after each run
    std::vector<Complex> carried;  // [run * carried + j]: every carried slot after each run
    // The skip (PlanSkip): every pixel within the radius starts at run skipRuns with the offsets
    // SkipStart(skipSeries[j], a) of the carried slots.
    int skipRuns { 0 };
    std::vector<std::array<ExComplex, kSkipTerms>> skipSeries;
    // The same series in doubles, for pixels whose offsets the doubles hold: term k scaled by
    // radius^(k+1), taken at the offset divided by the radius (skipUnit = 1 / radius). Empty when a
    // scaled term is past the doubles' range.
    ExComplex skipUnit {};
    std::vector<std::array<Complex, kSkipTerms>> skipScaled;

    size_t Bytes() const
    {
        return (a.size() + b.size() + r.size() + last.size() + carried.size()) * sizeof(Complex);
    }
};

// The termination formula of a pixel, run in doubles on the full value as the renderer runs it.
struct TerminationTest {
    CFormula formula;
    int z { -1 }, n { -1 }, z0 { -1 };
    std::vector<Complex> start; // every variable as the render began

    bool Holds(Complex last, int run)
    {
        formula.SetVariable(z, last);
        formula.SetVariable(n, { static_cast<double>(run), 0.0 });
        return formula.Run().re > 0.0;
    }
    void BeginPixel(Complex point)
    {
        formula.ResetVariables(start.data());
        formula.SetVariable(z0, point);
    }
};

// What iterating one pixel gave.
struct DeltaPixel {
    int count { 0 };
    Complex last {};
    bool glitched { false }; // the pixel left its reference's precision: needs another reference
    bool deferred { false }; // IterateLanes only: offsets below the doubles' range, for Iterate
    std::int64_t runs { 0 };
};

// The termination formula over kLanes pixels at once (the lane-batched path).
struct TerminationLanes {
    CBatchFormula program;
    int z { -1 }, n { -1 }, z0 { -1 }; // batch slots, -1 when unused
};

// The offsets of kLanes pixels of the lane-batched path, one per lane, in doubles.
struct DeltaLanes {
    std::vector<double> re, im; // slots x kLanes
    std::vector<double> lastRe, lastIm;
    std::vector<double> glitched; // 1 where the lane's pixel left the reference's precision (a double: the lane loops run over vectors)
};

// A carried slot's offset after the skip: the series at the pixel's plane offset.
ExComplex SkipStart(const std::array<ExComplex, kSkipTerms>& series, const ExComplex& offset);
// The same from the scaled series, at the offset over the radius.
Complex SkipStart(const std::array<Complex, kSkipTerms>& scaled, Complex unitOffset);

class CDeltaProgram {
public:
    CDeltaProgram() = default;
    // iterZ and iterZ0 are batch slots of the program (iterZ0 may be -1).
    CDeltaProgram(const CBatchFormula& program, int iterZ, int iterZ0);

    const CBatchFormula& Program() const { return m_program; }
    int IterZ() const { return m_iterZ; }
    int IterZ0() const { return m_iterZ0; }
    // The slots whose values carry from one run to the next: the variables and z and z0.
    const std::vector<int32_t>& Carried() const { return m_carried; }

    // Plans the skip for offsets up to `radius` (a real ExComplex): the runs over which every such
    // pixel's offsets stay a power series of kSkipTerms terms in its plane offset.
    // Formulas with operations that are not complex-differentiable on varying values skip nothing.
    void PlanSkip(ReferenceOrbit& orbit, const ExComplex& radius, int maxIter) const;

    // Iterates one pixel at `offset` from the reference's plane point. scratch holds 2 x slots values.
    DeltaPixel Iterate(const ReferenceOrbit& orbit, const ExComplex& offset, TerminationTest& term,
        int maxIter, std::vector<Complex>& scratchD, std::vector<ExComplex>& scratchX) const;

    // Iterates count pixels side by side in doubles from the skip's run, kLanes at a time: each lane
    // runs at its own run of the reference and takes the next pixel when its own ends. points are the
    // pixels' plane points rounded to doubles (their z0 for the termination formula). A pixel whose
    // offsets lie below the doubles' range is marked deferred and left for Iterate. Always true.
    bool IterateLanes(const ReferenceOrbit& orbit, const ExComplex* offsets, const Complex* points, int count,
        TerminationLanes& term, int maxIter, DeltaLanes& scratch, DeltaPixel* out) const;

    // The delta of one instruction, for tests: f(A + a, B + b) - f(A, B) given the reference operands
    // A, B, its result R and the offsets, in doubles and in ExComplex.
    Complex Delta(const BatchInstruction& in, Complex A, Complex B, Complex R, Complex a, Complex b) const;
    ExComplex Delta(
        const BatchInstruction& in, Complex A, Complex B, Complex R, const ExComplex& a, const ExComplex& b) const;

    // One run of the delta program on the offsets d (every slot), at run `run` of the orbit: how a
    // small change of the start moves each value. The glitch tests are not applied.
    void Probe(const ReferenceOrbit& orbit, int run, ExComplex* d) const;

private:
    template <class N>
    bool RunOnce(const ReferenceOrbit& orbit, int run, N* d) const;

    CBatchFormula m_program;
    std::vector<BatchInstruction> m_code;
    std::vector<int32_t> m_carried;
    int m_iterZ { -1 };
    int m_iterZ0 { -1 };
    int m_nSlots { 0 };
    int m_nReset { -1 };
    int m_nResult { 0 };
};
