#include "batchlanes.h"

#include <immintrin.h>
#include <limits>

// Compiled for AVX-512: this file uses no inline function of a header (the linker could keep this
// file's copy for every caller), only intrinsics and builtins.

void StartLanesAvx512(
    const IterationLanes& lanes, uint64_t mask, const double* x, double y, int row, int column)
{
    const __m512d ys = _mm512_set1_pd(y);
    const __m512d zero = _mm512_setzero_pd();
    const __m512d one = _mm512_set1_pd(1.0);
    for (int l = 0; l < 64; l += 8) {
        const __mmask8 m = static_cast<__mmask8>(mask >> l);
        _mm512_mask_storeu_pd(lanes.startRe + l, m, _mm512_maskz_expandloadu_pd(m, x));
        _mm512_mask_storeu_pd(lanes.startIm + l, m, ys);
        _mm512_mask_storeu_pd(lanes.count + l, m, zero);
        _mm512_mask_storeu_pd(lanes.active + l, m, one);
        x += __builtin_popcount(m);
    }
    const __m512i step = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    const __m512i rows = _mm512_set1_epi32(row);
    for (int l = 0; l < 64; l += 16) {
        const __mmask16 m = static_cast<__mmask16>(mask >> l);
        const __m512i columns = _mm512_add_epi32(step, _mm512_set1_epi32(column));
        _mm512_mask_storeu_epi32(lanes.column + l, m, _mm512_maskz_expand_epi32(m, columns));
        _mm512_mask_storeu_epi32(lanes.row + l, m, rows);
        column += __builtin_popcount(m);
    }
}

// Compressing into a register and storing the whole vector: a compressing store to memory is
// microcoded and slow on some processors. No test of empty groups either: which lanes stop is
// random, and a mispredicted branch costs more than the moves.
int GatherLanesAvx512(const IterationLanes& lanes, uint64_t mask, const ColourBatch& batch, int first)
{
    int k = first;
    for (int l = 0; l < 64; l += 8) {
        const __mmask8 m = static_cast<__mmask8>(mask >> l);
        _mm512_storeu_pd(batch.count + k, _mm512_maskz_compress_pd(m, _mm512_loadu_pd(lanes.count + l)));
        if (batch.lastRe) {
            _mm512_storeu_pd(
                batch.lastRe + k, _mm512_maskz_compress_pd(m, _mm512_loadu_pd(lanes.lastRe + l)));
            _mm512_storeu_pd(
                batch.lastIm + k, _mm512_maskz_compress_pd(m, _mm512_loadu_pd(lanes.lastIm + l)));
        }
        k += __builtin_popcount(m);
    }
    k = first;
    for (int l = 0; l < 64; l += 16) {
        const __mmask16 m = static_cast<__mmask16>(mask >> l);
        _mm512_storeu_si512(batch.row + k, _mm512_maskz_compress_epi32(m, _mm512_loadu_si512(lanes.row + l)));
        _mm512_storeu_si512(
            batch.column + k, _mm512_maskz_compress_epi32(m, _mm512_loadu_si512(lanes.column + l)));
        k += __builtin_popcount(m);
    }
    return k;
}

// MapColour's operations in its order, none fused (the build forbids contraction); PaletteIndex as
// selections: the coordinate where it lies inside [0, size), size - 1 where it is finite beyond,
// 0 for the rest (below 0, infinite, not a number), then truncated.
void MapColoursAvx512(const PaletteMapping& m, const double* re, const double* im, int n, int width,
    int height, int* xs, int* ys)
{
    const __m512d dx = _mm512_set1_pd(m.dx);
    const __m512d dy = _mm512_set1_pd(m.dy);
    const __m512d stretch = _mm512_set1_pd(m.stretch);
    const __m512d cosine = _mm512_set1_pd(m.cos);
    const __m512d sine = _mm512_set1_pd(m.sin);
    const __m512d x0 = _mm512_set1_pd(m.x0);
    const __m512d y0 = _mm512_set1_pd(m.y0);
    const __m512d w = _mm512_set1_pd(width);
    const __m512d h = _mm512_set1_pd(height);
    const __m512d zero = _mm512_setzero_pd();
    const __m512d largest = _mm512_set1_pd(std::numeric_limits<double>::max());
    const auto index = [&](__m512d coordinate, __m512d size, int last) {
        const __mmask8 inside = _mm512_cmp_pd_mask(coordinate, zero, _CMP_GE_OQ)
            & _mm512_cmp_pd_mask(coordinate, size, _CMP_LT_OQ);
        const __mmask8 beyond = _mm512_cmp_pd_mask(coordinate, size, _CMP_GE_OQ)
            & _mm512_cmp_pd_mask(coordinate, largest, _CMP_LE_OQ);
        const __m512d chosen = _mm512_mask_mov_pd(
            _mm512_maskz_mov_pd(inside, coordinate), beyond, _mm512_set1_pd(static_cast<double>(last)));
        return _mm512_maskz_cvttpd_epi32(0xff, chosen); // (the unmasked form warns in GCC 12)
    };
    for (int k = 0; k < n; k += 8) {
        // The last vector reads and writes only the colours that are there.
        const __mmask8 there = n - k >= 8 ? 0xff : static_cast<__mmask8>((1u << (n - k)) - 1);
        const __m512d u = _mm512_mul_pd(_mm512_mul_pd(_mm512_maskz_loadu_pd(there, re + k), dx), stretch);
        const __m512d v = _mm512_mul_pd(_mm512_mul_pd(_mm512_maskz_loadu_pd(there, im + k), dy), stretch);
        const __m512d x = _mm512_sub_pd(_mm512_add_pd(_mm512_mul_pd(u, cosine), x0), _mm512_mul_pd(v, sine));
        const __m512d y = _mm512_add_pd(_mm512_add_pd(_mm512_mul_pd(v, cosine), _mm512_mul_pd(u, sine)), y0);
        const __m256i column = index(_mm512_mul_pd(x, w), w, width - 1);
        const __m256i row = index(_mm512_mul_pd(y, h), h, height - 1);
        if (there == 0xff) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(xs + k), column);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(ys + k), row);
        } else {
            alignas(32) int columns[8];
            alignas(32) int rows[8];
            _mm256_store_si256(reinterpret_cast<__m256i*>(columns), column);
            _mm256_store_si256(reinterpret_cast<__m256i*>(rows), row);
            for (int j = 0; j < n - k; ++j) {
                xs[k + j] = columns[j];
                ys[k + j] = rows[j];
            }
        }
    }
}

void CopyPixelsAvx512(
    const PixelCopy& c, const int* xs, const int* ys, const int* rows, const int* columns, int n)
{
    const __m512i paletteStride = _mm512_set1_epi64(c.paletteStride);
    const __m512i targetStride = _mm512_set1_epi64(c.targetStride);
    const __m256i none = _mm256_setzero_si256();
    const __m256i every = _mm256_set1_epi32(-1);
    const auto offsets = [](__m256i row, __m512i stride, __m256i column) {
        // row * stride + column * 4 in 64 bits: the products of the low halves, sign-extended (the
        // masked forms: the unmasked ones warn in GCC 12).
        return _mm512_add_epi64(_mm512_maskz_mul_epi32(0xff, _mm512_maskz_cvtepi32_epi64(0xff, row), stride),
            _mm512_maskz_slli_epi64(0xff, _mm512_maskz_cvtepi32_epi64(0xff, column), 2));
    };
    int k = 0;
    for (; k + 8 <= n; k += 8) {
        const auto load
            = [k](const int* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + k)); };
        const __m256i pixels = _mm512_mask_i64gather_epi32(
            none, 0xff, offsets(load(ys), paletteStride, load(xs)), c.palette, 1);
        const __m256i row = _mm256_mask_i32gather_epi32(none, c.rowPixel, load(rows), every, 4);
        const __m256i column = _mm256_mask_i32gather_epi32(none, c.columnPixel, load(columns), every, 4);
        _mm512_i64scatter_epi32(c.target, offsets(row, targetStride, column), pixels, 1);
    }
    for (; k < n; ++k) {
        __builtin_memcpy(c.target + c.rowPixel[rows[k]] * c.targetStride + c.columnPixel[columns[k]] * 4,
            c.palette + ys[k] * c.paletteStride + xs[k] * 4, 4);
    }
}
