#pragma once

// Bilinear skips: over a run of the reference orbit that a pixel's offsets are small enough for, the
// offset of z moves by a map linear in its own offset and the pixel's plane offset,
//     dz(n + L) = A dz(n) + B dc,
// to within a share of the result the doubles round away. The maps of single runs come from the
// iteration program's delta forms at the reference's operands (a complex factor where the program is
// complex-differentiable, a real 2 x 2 matrix where abs, arg, conj, real, imag, norm or a comparison
// make it not); each holds while every operand's offset stays within the radius its neglected terms
// allow. Runs merge into skips of 2, 4, 8, ... runs, and a pixel takes the longest one that holds.

#include "floatexp.h"

#include <cstdint>
#include <functional>
#include <vector>

// The neglected terms a skip may leave, as a share of the terms it keeps: the rounding of one run of
// the doubles, so that a skip moves a pixel no more than the runs it replaces would have.
constexpr double kBlaAccuracy = 0x1p-53;

// A real 2 x 2 matrix (row-major) times 2^e, its largest entry in [0.5, 1) or all 0.
struct ExMatrix {
    double m[4] { 0.0, 0.0, 0.0, 0.0 };
    int64_t e { 0 };

    static ExMatrix Identity() { return { { 0.5, 0.0, 0.0, 0.5 }, 1 }; }
    // Multiplication by the complex number c.
    static ExMatrix OfComplex(const ExComplex& c) { return Normalised({ { c.re, -c.im, c.im, c.re }, c.e }); }
    static ExMatrix Normalised(ExMatrix x);
    bool IsZero() const { return m[0] == 0.0 && m[1] == 0.0 && m[2] == 0.0 && m[3] == 0.0; }
    // The Frobenius norm, a bound on how much the matrix stretches any vector (a real ExComplex).
    ExComplex Size() const;
    // Whether the second row is 0: the offset it gives has no imaginary part.
    bool RealRows() const { return m[2] == 0.0 && m[3] == 0.0; }
    ExComplex Apply(const ExComplex& v) const
    {
        return ex::Normalised(m[0] * v.re + m[1] * v.im, m[2] * v.re + m[3] * v.im, e + v.e);
    }
};

ExMatrix Mul(const ExMatrix& a, const ExMatrix& b);
ExMatrix Add(const ExMatrix& a, const ExMatrix& b);
ExMatrix Scale(const ExMatrix& a, double k);

// The most carried offsets (z and the formula's own carried variables, z0 apart) a skip moves.
constexpr int kBlaMaxWidth = 3;

// One skip over the state d of the carried offsets that move (z first): d -> A d + B dc, A a
// width x width block of 2 x 2 matrices and B a column of them, for max |d_i| <= radius (with every
// plane offset the table was made for).
struct BlaSkip {
    ExMatrix a[kBlaMaxWidth * kBlaMaxWidth], b[kBlaMaxWidth];
    ExComplex radius {}; // real; 0: no pixel may take it
};

// The skips of one reference orbit: level k holds the skips of 2^k runs from every run divisible by 2^k,
// from level kBlaFirstLevel up. The levels below would save a pixel only a run or three and would take
// half the memory; a pixel does those runs itself.
constexpr int kBlaFirstLevel = 2;
// The first level's skips one map makes (see CBlaTable::Build): 16384 runs.
constexpr size_t kBlaStretch = 4096;

// First-level skips of whole stretches made before the table (see CPlanAhead): stretch s's skips in
// matrices[s] (a table's stride each) and radii[s]; both empty for a stretch not made.
struct BlaStretches {
    std::vector<std::vector<ExMatrix>> matrices;
    std::vector<std::vector<ExComplex>> radii;

    bool Made(size_t s) const { return s < radii.size() && !radii[s].empty(); }
};

class CBlaTable {
public:
    bool Empty() const { return m_levels.empty(); }
    void Clear()
    {
        m_levels.clear();
        m_radii.clear();
    }
    // The carried slots a skip moves, z first.
    const std::vector<int32_t>& Slots() const { return m_slots; }
    // Makes the single runs of one stretch of the orbit: map(n, out) makes run n's, the runs in order.
    using RunMaps = std::function<std::function<void(int, BlaSkip&)>()>;
    // Merges the single runs 0 .. runs - 1 into the levels, each level's skips made from the one below
    // without keeping the single runs. The runs go in stretches of kBlaStretch skips of the first
    // level, each from a map of its own (maps(), which may carry a guess from run to run), so that the
    // table is the same whatever the number of threads that share the stretches.
    // Stretches in `made` are taken as they are.
    void Build(std::vector<int32_t> slots, int runs, const RunMaps& maps, const ExComplex& planeRadius,
        int threads = 1, const BlaStretches* made = nullptr);
    // Makes the first level's skips j0 .. j1 - 1 with one map (of runs 4 j0 on) into `at` (Stride(width)
    // matrices each) and radii; whether any of them holds.
    static bool MakeStretch(const std::function<void(int, BlaSkip&)>& map, size_t j0, size_t j1, int width,
        const ExComplex& planeRadius, ExMatrix* at, ExComplex* radii);
    static size_t Stride(int width) { return static_cast<size_t>(width * width + width); }

    // Takes the longest skips that hold from run n on the state d (plane offset dc), never past run
    // `end`; returns the run reached. alongX and alongY (where not null) are the state's derivatives
    // with respect to the plane point along x and y, moved with it (dc's are 1 and i).
    int Skip(int n, int end, ExComplex* d, const ExComplex& dc, ExComplex* alongX = nullptr,
        ExComplex* alongY = nullptr) const;

    size_t Bytes() const;
    // The most a table takes for each run of its orbit.
    static size_t BytesPerRun(int width);

private:
    size_t Stride() const { return Stride(m_nWidth); }
    void Store(size_t level, size_t j, const BlaSkip& s);
    BlaSkip Load(size_t level, size_t j) const;

    int m_nWidth { 1 };
    std::vector<int32_t> m_slots;
    // Level kBlaFirstLevel + k: the matrices of its skips (A row by row, then B) and their radii.
    std::vector<std::vector<ExMatrix>> m_levels;
    std::vector<std::vector<ExComplex>> m_radii;
};

// When a pixel next tries the bilinear skips: at the next record a skip may start from; a pixel that
// found none there seldom finds one at the next, so its tries back off, a little. The scalar loop and
// the lanes keep the same tries, so that a pixel skips alike in both.
struct BlaTries {
    int next { 0 };
    int wait { 1 };

    // After a try from record r that reached record `to`, the pixel now at its run n.
    void Tried(int r, int to, int n);
};

class CDeltaProgram;
struct ReferenceOrbit;
// The carried slots a skip moves (z first), or none when the program's runs cannot be skipped: it
// writes z0, carries more than kBlaMaxWidth values besides z0, or its termination carries values of
// its own.
std::vector<int32_t> BlaSlots(const CDeltaProgram& program);
// The single runs' maps and radii along the orbit for plane offsets up to planeRadius, merged (empty
// where BlaSlots is).
void PlanBla(const CDeltaProgram& program, ReferenceOrbit& orbit, const ExComplex& planeRadius, int maxIter,
    int threads = 1, const BlaStretches* made = nullptr);
// The single runs' maps of orbit for CBlaTable::Build, with the carried slots `state` (BlaSlots).
CBlaTable::RunMaps BlaRunMaps(const CDeltaProgram& program, const ReferenceOrbit& orbit,
    const ExComplex& planeRadius, const std::vector<int32_t>& state);
// What the table of PlanBla takes at most for each run of an orbit of program (0 where it makes none).
size_t BlaBytesPerRun(const CDeltaProgram& program);
