#include "lanebooks.h"

#include "lanerun.h"

namespace deltalanes {

namespace {

// The loops, inlined into a function per instruction set; restrict tells the compiler no output
// overlaps an input, so that it needs no run-time checks to make vectors.
[[gnu::always_inline]] inline void Decide(const CDeltaProgram& program, const double* __restrict re,
    const double* __restrict im, const double* __restrict dre, const double* __restrict dim,
    double* __restrict decision, double* __restrict undecided)
{
    for (size_t l = 0; l < kLaneCount; ++l) {
        const double d = program.NormDecision({ re[l], im[l] }, { dre[l], dim[l] });
        decision[l] = d;
        undecided[l] = d == 0.0 ? 1.0 : 0.0;
    }
}

[[gnu::always_inline]] inline void GoOn(const LaneCursor& lanes, const double* __restrict glitched,
    const double* __restrict sum, double* __restrict goes)
{
    double* __restrict quiet = lanes.quiet;
    for (size_t l = 0; l < kLaneCount; ++l) {
        const double step = (quiet[l] > 0.0) & (glitched[l] == 0.0) & (sum[l] <= 0.0) ? 1.0 : 0.0;
        quiet[l] -= step;
        goes[l] = step;
    }
    int* __restrict laneRun = lanes.laneRun;
    int* __restrict recordRun = lanes.recordRun;
    for (size_t l = 0; l < kLaneCount; ++l) {
        const int step = static_cast<int>(goes[l]);
        laneRun[l] += step;
        recordRun[l] += step;
    }
    size_t* __restrict runAt = lanes.runAt;
    size_t* __restrict termRunAt = lanes.termRunAt;
    for (size_t l = 0; l < kLaneCount; ++l) {
        const size_t all = goes[l] != 0.0 ? ~size_t { 0 } : 0;
        runAt[l] += lanes.iter & all;
        termRunAt[l] += lanes.term & all;
    }
}

#define GLIMMERSET_LANE_BOOKS(SET, TARGET)                                                                   \
    TARGET void Decide##SET(const CDeltaProgram& program, const double* re, const double* im,                \
        const double* dre, const double* dim, double* decision, double* undecided)                           \
    {                                                                                                        \
        Decide(program, re, im, dre, dim, decision, undecided);                                              \
    }                                                                                                        \
    TARGET void GoOn##SET(const LaneCursor& lanes, const double* glitched, const double* sum, double* goes)  \
    {                                                                                                        \
        GoOn(lanes, glitched, sum, goes);                                                                    \
    }                                                                                                        \
    const LaneBooks kBooks##SET { Decide##SET, GoOn##SET };

GLIMMERSET_LANE_BOOKS(Sse2, )
GLIMMERSET_LANE_BOOKS(Avx2, [[gnu::target("avx2")]])
GLIMMERSET_LANE_BOOKS(Avx512, [[gnu::target("avx512f")]])

#undef GLIMMERSET_LANE_BOOKS

} // namespace

const LaneBooks& ActiveLaneBooks()
{
    static const LaneBooks& books = __builtin_cpu_supports("avx512f") ? kBooksAvx512
        : __builtin_cpu_supports("avx2")                              ? kBooksAvx2
                                                                      : kBooksSse2;
    return books;
}

} // namespace deltalanes
