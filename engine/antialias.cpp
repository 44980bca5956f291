#include "antialias.h"

#include "exactview.h"

#include <algorithm>
#include <array>
#include <vector>

namespace {

// Where linear light passes from one sRGB value to the next: the midpoints between neighbours.
constexpr std::array<std::uint32_t, 255> Thresholds(const std::uint16_t (&linear)[256])
{
    std::array<std::uint32_t, 255> thresholds {};
    for (size_t k = 0; k < thresholds.size(); ++k) {
        thresholds[k] = (std::uint32_t { linear[k] } + linear[k + 1] + 1) / 2;
    }
    return thresholds;
}

} // namespace

// round(65535 * ((v / 255 + 0.055) / 1.055)^2.4), or v / 255 / 12.92 up to 0.04045.
// clang-format off
const std::uint16_t kSrgbToLinear[256] = {
    0, 20, 40, 60, 80, 99, 119, 139, 159, 179, 199, 219, 241, 264, 288, 313,
    340, 367, 396, 427, 458, 491, 526, 562, 599, 637, 677, 718, 761, 805, 851, 898,
    947, 997, 1048, 1101, 1156, 1212, 1270, 1330, 1391, 1453, 1517, 1583, 1651, 1720, 1790, 1863,
    1937, 2013, 2090, 2170, 2250, 2333, 2418, 2504, 2592, 2681, 2773, 2866, 2961, 3058, 3157, 3258,
    3360, 3464, 3570, 3678, 3788, 3900, 4014, 4129, 4247, 4366, 4488, 4611, 4736, 4864, 4993, 5124,
    5257, 5392, 5530, 5669, 5810, 5953, 6099, 6246, 6395, 6547, 6700, 6856, 7014, 7174, 7335, 7500,
    7666, 7834, 8004, 8177, 8352, 8528, 8708, 8889, 9072, 9258, 9445, 9635, 9828, 10022, 10219, 10417,
    10619, 10822, 11028, 11235, 11446, 11658, 11873, 12090, 12309, 12530, 12754, 12980, 13209, 13440, 13673, 13909,
    14146, 14387, 14629, 14874, 15122, 15371, 15623, 15878, 16135, 16394, 16656, 16920, 17187, 17456, 17727, 18001,
    18277, 18556, 18837, 19121, 19407, 19696, 19987, 20281, 20577, 20876, 21177, 21481, 21787, 22096, 22407, 22721,
    23038, 23357, 23678, 24002, 24329, 24658, 24990, 25325, 25662, 26001, 26344, 26688, 27036, 27386, 27739, 28094,
    28452, 28813, 29176, 29542, 29911, 30282, 30656, 31033, 31412, 31794, 32179, 32567, 32957, 33350, 33745, 34143,
    34544, 34948, 35355, 35764, 36176, 36591, 37008, 37429, 37852, 38278, 38706, 39138, 39572, 40009, 40449, 40891,
    41337, 41785, 42236, 42690, 43147, 43606, 44069, 44534, 45002, 45473, 45947, 46423, 46903, 47385, 47871, 48359,
    48850, 49344, 49841, 50341, 50844, 51349, 51858, 52369, 52884, 53401, 53921, 54445, 54971, 55500, 56032, 56567,
    57105, 57646, 58190, 58737, 59287, 59840, 60396, 60955, 61517, 62082, 62650, 63221, 63795, 64372, 64952, 65535,
};
// clang-format on

std::uint8_t LinearToSrgb(std::uint32_t linear)
{
    static const std::array<std::uint32_t, 255> thresholds = Thresholds(kSrgbToLinear);
    return static_cast<std::uint8_t>(
        std::upper_bound(thresholds.begin(), thresholds.end(), linear) - thresholds.begin());
}

namespace {

// Averages n x n samples per pixel of rows sample rows (n per pixel row) into the target's rows.
void AverageSamples(const std::uint8_t* samples, int sampleBytesPerRow, std::uint8_t* target,
    int targetBytesPerRow, int width, int rows, int n)
{
    const std::uint32_t count = static_cast<std::uint32_t>(n * n);
    for (int y = 0; y < rows; ++y) {
        std::uint8_t* out = target + static_cast<std::ptrdiff_t>(y) * targetBytesPerRow;
        const std::uint8_t* first = samples + static_cast<std::ptrdiff_t>(y) * n * sampleBytesPerRow;
        for (int x = 0; x < width; ++x, out += 4) {
            for (int channel = 0; channel < 3; ++channel) {
                std::uint32_t sum = 0;
                for (int sy = 0; sy < n; ++sy) {
                    const std::uint8_t* sample = first + static_cast<std::ptrdiff_t>(sy) * sampleBytesPerRow
                        + static_cast<std::ptrdiff_t>(x) * n * 4 + channel;
                    for (int sx = 0; sx < n; ++sx) {
                        sum += kSrgbToLinear[sample[sx * 4]];
                    }
                }
                out[channel] = LinearToSrgb((sum + count / 2) / count);
            }
            out[3] = 0xFF;
        }
    }
}

} // namespace

int RenderRows(Picture& picture, const Raster& target, int top, int n, RenderControl control,
    RenderStats* stats, std::vector<std::uint8_t>& samples, long long bandSamples)
{
    const int width = picture.imageWidth;
    if (target.pixels == nullptr || target.width < width || top < 0
        || target.height > picture.imageHeight - top) {
        return kRenderNoTarget;
    }
    if (n <= 1) {
        // The whole lattice, of which only the target's rows land in it: every pixel has the plane
        // point it has in the whole picture, to the last bit.
        RenderArea rows { 0, 0, width, picture.imageHeight, 1.0, 1.0, 1, 1, top };
        return RenderPicture(picture, target, rows, control, stats);
    }
    if (target.bitsPerPixel != 32) {
        return kRenderNoTarget;
    }
    // The samples are the pixels of the picture at n times the size, the view kept as --size keeps it.
    Picture fine = picture;
    ShowAtSize(fine, n * width, n * picture.imageHeight);
    const int height = target.height;
    const int bandRows = static_cast<int>(
        std::clamp<long long>(bandSamples / (static_cast<long long>(n) * n * width), 1, height));
    const int bandBytesPerRow = fine.imageWidth * 4;
    samples.resize(static_cast<size_t>(bandBytesPerRow) * n * bandRows);
    RenderStats total;
    std::atomic<double> bandProgress { 0.0 };
    for (int y = 0; y < height; y += bandRows) {
        const int rows = std::min(bandRows, height - y);
        const Raster band { fine.imageWidth, n * rows, bandBytesPerRow, 32, samples.data() };
        // The whole fine lattice, of which only the band's rows land in the band's raster.
        RenderStats bandStats;
        const int code = RenderPicture(fine, band,
            { 0, 0, fine.imageWidth, fine.imageHeight, 1.0, 1.0, 1, 1, n * (top + y) },
            { control.stage, control.generation, control.stop, bandProgress, control.pool }, &bandStats);
        if (code != kRenderDone) {
            return code;
        }
        total.iterations += bandStats.iterations;
        total.threads = bandStats.threads;
        AverageSamples(samples.data(), bandBytesPerRow,
            target.pixels + static_cast<std::ptrdiff_t>(y) * target.bytesPerRow, target.bytesPerRow, width,
            rows, n);
        control.progress.store(static_cast<double>(y + rows) / height, std::memory_order_relaxed);
    }
    if (stats) {
        *stats = total;
    }
    return kRenderDone;
}

int RenderAntialiased(Picture& picture, const Raster& target, int n, RenderControl control,
    RenderStats* stats, long long bandSamples, const PixelData* data)
{
    const int width = picture.imageWidth;
    const int height = picture.imageHeight;
    RenderArea whole { 0, 0, width, height, 1.0, 1.0, 1, 1 };
    whole.data = data;
    if (n <= 1) {
        return RenderPicture(picture, target, whole, control, stats);
    }
    if (target.pixels == nullptr || target.width < width || target.height < height
        || target.bitsPerPixel != 32) {
        return kRenderNoTarget;
    }
    RenderStats first;
    if (data) {
        // The numbers at the pixels' centres, as the picture at one sample per pixel has them; its
        // progress is not shown (a share of 1 / (n * n) of the whole).
        std::atomic<double> dataProgress { 0.0 };
        if (const int code
            = RenderPicture(picture, target, whole, control.WithProgress(dataProgress), &first);
            code != kRenderDone) {
            return code;
        }
    }
    control.progress.store(0.0, std::memory_order_relaxed);
    std::vector<std::uint8_t> samples;
    const Raster rows { width, height, target.bytesPerRow, 32, target.pixels };
    const int code = RenderRows(picture, rows, 0, n, control, stats, samples, bandSamples);
    if (stats) {
        stats->iterations += first.iterations;
    }
    return code;
}
