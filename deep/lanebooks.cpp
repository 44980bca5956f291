#include "lanebooks.h"

#include "lanerun.h"

#include <immintrin.h>

namespace deltalanes {

namespace {

// The loops, inlined into a function per instruction set; restrict tells the compiler no output
// overlaps an input, so that it needs no run-time checks to make vectors. Bits is the set's own
// test of 0: a mask, and the shifts constants once the loop is unrolled.
template <uint64_t (*Bits)(const double*)>
[[gnu::always_inline]] inline uint64_t Decide(const CDeltaProgram& program, const double* __restrict re,
    const double* __restrict im, const double* __restrict dre, const double* __restrict dim,
    double* __restrict decision)
{
    alignas(64) double undecided[kLanes];
    for (size_t l = 0; l < kLaneCount; ++l) {
        const double d = program.EscapeDecision({ re[l], im[l] }, { dre[l], dim[l] });
        decision[l] = d;
        undecided[l] = d == 0.0 ? 1.0 : 0.0;
    }
    return Bits(undecided);
}

template <uint64_t (*Bits)(const double*)>
[[gnu::always_inline]] inline uint64_t GoOn(
    const LaneCursor& lanes, const double* __restrict glitched, const double* __restrict sum)
{
    alignas(64) double goes[kLanes];
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
    return Bits(goes);
}

// A loop per operation, each lane read before it is written.
[[gnu::always_inline]] inline void Linear(Op op, const double* ar, const double* ai, double* dr, double* di)
{
    const auto each = [&](auto part) [[gnu::always_inline]] {
        for (size_t l = 0; l < kLaneCount; ++l) {
            double re = 0.0, im = 0.0;
            part(ar[l], ai[l], re, im);
            dr[l] = re;
            di[l] = im;
        }
    };
    switch (op) {
    case kOpCopy: each([](double x, double y, double& re, double& im) { re = x, im = y; }); break;
    case kOpNeg: each([](double x, double y, double& re, double& im) { re = -x, im = -y; }); break;
    case kOpConj: each([](double x, double y, double& re, double& im) { re = x, im = -y; }); break;
    case kOpReal: each([](double x, double, double& re, double& im) { re = x, im = 0.0; }); break;
    case kOpImag: each([](double x, double y, double& re, double& im) { re = y, im = x; }); break;
    default: each([](double, double y, double& re, double& im) { re = y, im = 0.0; }); break; // imag()
    }
}

[[gnu::target("avx2")]] uint64_t BitsAvx2(const double* value)
{
    uint64_t bits = 0;
#pragma GCC unroll 16
    for (size_t l = 0; l < kLaneCount; l += 4) {
        const __m256d v = _mm256_cmp_pd(_mm256_loadu_pd(value + l), _mm256_setzero_pd(), _CMP_NEQ_UQ);
        bits |= static_cast<uint64_t>(_mm256_movemask_pd(v)) << l;
    }
    return bits;
}

[[gnu::target("avx512f")]] uint64_t BitsAvx512(const double* value)
{
    uint64_t bits = 0;
#pragma GCC unroll 8
    for (size_t l = 0; l < kLaneCount; l += 8) {
        bits |= static_cast<uint64_t>(
                    _mm512_cmp_pd_mask(_mm512_loadu_pd(value + l), _mm512_setzero_pd(), _CMP_NEQ_UQ))
            << l;
    }
    return bits;
}

#define GLIMMERSET_LANE_BOOKS(SET, BITS, TARGET)                                                             \
    TARGET uint64_t Decide##SET(const CDeltaProgram& program, const double* re, const double* im,            \
        const double* dre, const double* dim, double* decision)                                              \
    {                                                                                                        \
        return Decide<BITS>(program, re, im, dre, dim, decision);                                            \
    }                                                                                                        \
    TARGET uint64_t GoOn##SET(const LaneCursor& lanes, const double* glitched, const double* sum)            \
    {                                                                                                        \
        return GoOn<BITS>(lanes, glitched, sum);                                                             \
    }                                                                                                        \
    TARGET void Linear##SET(Op op, const double* ar, const double* ai, double* dr, double* di)               \
    {                                                                                                        \
        Linear(op, ar, ai, dr, di);                                                                          \
    }                                                                                                        \
    const LaneBooks kBooks##SET { Decide##SET, GoOn##SET, BITS, Linear##SET };

GLIMMERSET_LANE_BOOKS(Sse2, LanesSet, )
GLIMMERSET_LANE_BOOKS(Avx2, BitsAvx2, [[gnu::target("avx2")]])
GLIMMERSET_LANE_BOOKS(Avx512, BitsAvx512, [[gnu::target("avx512f")]])

#undef GLIMMERSET_LANE_BOOKS

} // namespace

const LaneBooks& ActiveLaneBooks()
{
    static const LaneBooks& books = __builtin_cpu_supports("avx512f") ? kBooksAvx512
        : __builtin_cpu_supports("avx2")                              ? kBooksAvx2
                                                                      : kBooksSse2;
    return books;
}

std::vector<const LaneBooks*> LaneBooksOfThisProcessor()
{
    std::vector<const LaneBooks*> books { &kBooksSse2 };
    if (__builtin_cpu_supports("avx2")) {
        books.push_back(&kBooksAvx2);
    }
    if (__builtin_cpu_supports("avx512f")) {
        books.push_back(&kBooksAvx512);
    }
    return books;
}

} // namespace deltalanes
