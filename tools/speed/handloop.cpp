// The ceiling of the speed work: the arithmetic of plainloop.cpp, bit for bit, written by hand in
// AVX-512 intrinsics. Three vectors of eight lanes run interleaved (their chains of dependent
// operations hide each other's latency); every lane carries zr, zi, zr², zi², its count and whether
// it still runs (a mask bit). The escape test is a mask each iteration, but whether any lane needs a
// new pixel is asked only every four iterations: the lanes that stopped in between run on with
// values nothing reads. Built with g++ -O3 -march=native -ffp-contract=off (no fused multiply-add,
// which would change the bits) and run on one thread; prints the same JSON line as plainloop.
//
// Usage: handloop OFFSET_X OFFSET_Y RATIO WIDTH HEIGHT LIMIT C_RE C_IM
#include <immintrin.h>

#include <bit>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int kVectors = 3;
constexpr int kIterationsPerTest = 4;

// The pixels in order, row by row: hands each freed lane the next one.
struct Pixels {
    std::vector<double> xs; // plane x of each column, as plainloop computes it
    double offsetY, ratio;
    int width, height;
    int row { 0 }, column { 0 };

    // Starts the next pixels in the lanes of free, lowest lane first; returns the lanes started.
    __mmask8 Start(__mmask8 free, __m512d& zr, __m512d& zi)
    {
        __mmask8 started = 0;
        while (free != 0 && row < height) {
            // A run of the row's columns into as many free lanes.
            const int count = std::min(std::popcount(static_cast<unsigned>(free)), width - column);
            __mmask8 lanes = free;
            for (int extra = std::popcount(static_cast<unsigned>(free)) - count; extra > 0; --extra) {
                lanes
                    &= static_cast<__mmask8>(~(1u << (31 - std::countl_zero(static_cast<unsigned>(lanes)))));
            }
            zr = _mm512_mask_expandloadu_pd(zr, lanes, xs.data() + column);
            zi = _mm512_mask_mov_pd(zi, lanes, _mm512_set1_pd(offsetY + (row + 0.5) * ratio));
            started |= lanes;
            free &= static_cast<__mmask8>(~lanes);
            column += count;
            if (column == width) {
                column = 0;
                ++row;
            }
        }
        return started;
    }
};

} // namespace

int main(int argc, char** argv)
{
    if (argc != 9) {
        std::fprintf(stderr, "usage: handloop OFFSET_X OFFSET_Y RATIO WIDTH HEIGHT LIMIT C_RE C_IM\n");
        return 2;
    }
    const double offsetX = std::atof(argv[1]);
    Pixels pixels { {}, std::atof(argv[2]), std::atof(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]) };
    const int limit = std::atoi(argv[6]);
    const __m512d cr = _mm512_set1_pd(std::atof(argv[7]));
    const __m512d ci = _mm512_set1_pd(std::atof(argv[8]));
    const __m512d escape = _mm512_set1_pd(100.0);
    const __m512d one = _mm512_set1_pd(1.0);
    const __m512d limits = _mm512_set1_pd(limit);
    const auto start = std::chrono::steady_clock::now();
    for (int column = 0; column < pixels.width; ++column) {
        pixels.xs.push_back(offsetX + (column + 0.5) * pixels.ratio);
    }
    pixels.xs.resize(pixels.xs.size() + 8); // expand loads read whole vectors

    __m512d zr[kVectors], zi[kVectors], zr2[kVectors], zi2[kVectors], n[kVectors];
    __mmask8 running[kVectors], occupied[kVectors];
    long long runs = 0;
    unsigned long long check = 0; // keeps the counts alive
    for (int v = 0; v < kVectors; ++v) {
        zr[v] = zi[v] = zr2[v] = zi2[v] = n[v] = _mm512_setzero_pd();
        running[v] = occupied[v] = 0;
    }
    for (;;) {
        // Refill: the counts of the stopped lanes are taken, new pixels start in them.
        bool any = false;
        for (int v = 0; v < kVectors; ++v) {
            const __mmask8 stopped = occupied[v] & static_cast<__mmask8>(~running[v]);
            if (stopped != 0) {
                alignas(64) double counts[8];
                _mm512_store_pd(counts, n[v]);
                for (unsigned lanes = stopped; lanes != 0; lanes &= lanes - 1) {
                    const int count = static_cast<int>(counts[std::countr_zero(lanes)]);
                    runs += count < limit ? count + 1 : count;
                    check += static_cast<unsigned>(count);
                }
            }
            const __mmask8 started = pixels.Start(static_cast<__mmask8>(~running[v]), zr[v], zi[v]);
            zr2[v] = _mm512_mask_mul_pd(zr2[v], started, zr[v], zr[v]);
            zi2[v] = _mm512_mask_mul_pd(zi2[v], started, zi[v], zi[v]);
            n[v] = _mm512_mask_mov_pd(n[v], started, _mm512_setzero_pd());
            running[v] |= started;
            occupied[v] = running[v];
            any = any || running[v] != 0;
        }
        if (!any) {
            break;
        }
        // Four iterations of every lane, then the test whether any lane stopped.
        do {
            for (int k = 0; k < kIterationsPerTest; ++k) {
                for (int v = 0; v < kVectors; ++v) {
                    const __m512d t = _mm512_mul_pd(zr[v], zi[v]);
                    zr[v] = _mm512_add_pd(_mm512_sub_pd(zr2[v], zi2[v]), cr);
                    zi[v] = _mm512_add_pd(_mm512_add_pd(t, t), ci);
                    zr2[v] = _mm512_mul_pd(zr[v], zr[v]);
                    zi2[v] = _mm512_mul_pd(zi[v], zi[v]);
                    const __mmask8 escaped = _mm512_mask_cmp_pd_mask(
                        running[v], _mm512_add_pd(zr2[v], zi2[v]), escape, _CMP_GT_OQ);
                    running[v] &= static_cast<__mmask8>(~escaped);
                    n[v] = _mm512_mask_add_pd(n[v], running[v], n[v], one);
                    running[v] &= static_cast<__mmask8>(
                        ~_mm512_mask_cmp_pd_mask(running[v], n[v], limits, _CMP_GE_OQ));
                }
            }
        } while (running[0] == occupied[0] && running[1] == occupied[1] && running[2] == occupied[2]);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("{\"iterations\":%lld,\"seconds\":%.6f,\"check\":%llu}\n", runs, seconds, check);
    return 0;
}
