// The yardstick of the speed work: z = z * z + C over one view as a plain double loop, built on its
// own with g++ -O2 -ffp-contract=off and run on one thread. Walks the lattice of the renderer (pixel
// centres from the view's offset) and prints the iteration runs and the seconds as one JSON line.
//
// Usage: plainloop OFFSET_X OFFSET_Y RATIO WIDTH HEIGHT LIMIT C_RE C_IM
#include <chrono>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc != 9) {
        std::fprintf(stderr, "usage: plainloop OFFSET_X OFFSET_Y RATIO WIDTH HEIGHT LIMIT C_RE C_IM\n");
        return 2;
    }
    const double offsetX = std::atof(argv[1]);
    const double offsetY = std::atof(argv[2]);
    const double ratio = std::atof(argv[3]);
    const int width = std::atoi(argv[4]);
    const int height = std::atoi(argv[5]);
    const int limit = std::atoi(argv[6]);
    const double cr = std::atof(argv[7]);
    const double ci = std::atof(argv[8]);
    const auto start = std::chrono::steady_clock::now();
    long long runs = 0;
    unsigned long long check = 0; // keeps the counts alive
    for (int row = 0; row < height; ++row) {
        const double y = offsetY + (row + 0.5) * ratio;
        for (int column = 0; column < width; ++column) {
            double zr = offsetX + (column + 0.5) * ratio;
            double zi = y;
            double zr2 = zr * zr;
            double zi2 = zi * zi;
            int n = 0;
            for (;;) {
                const double t = zr * zi;
                zr = zr2 - zi2 + cr;
                zi = t + t + ci;
                zr2 = zr * zr;
                zi2 = zi * zi;
                ++runs;
                if (zr2 + zi2 > 100.0) {
                    break;
                }
                if (++n >= limit) {
                    break;
                }
            }
            check += static_cast<unsigned>(n);
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("{\"iterations\":%lld,\"seconds\":%.6f,\"check\":%llu}\n", runs, seconds, check);
    return 0;
}
