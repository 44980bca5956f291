// Encoding the default picture at 2048 x 2048 once it is rendered: our PNG writer at the levels that
// matter, Qt's writer at level 1 as it was used before, and BMP; bytes per second of pixels.
#include "fractalscript.h"
#include "pngfile.h"
#include "surface.h"

#include <QBuffer>
#include <QImageWriter>

#include <benchmark/benchmark.h>

namespace {

constexpr int kSide = 2048;

const QImage& Picture()
{
    static const QImage picture = [] {
        CFractalScript script;
        script.SetDefaults();
        script.LoadPalette(QString());
        QImage surface = CreateSurface(kSide, kSide);
        script.Render(DescribeRaster(surface), 0, 0, kSide, kSide, 1, 1, 1, 1);
        return surface;
    }();
    return picture;
}

void Count(benchmark::State& state, qint64 fileBytes)
{
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kSide) * kSide * 4);
    state.counters["file_bytes"] = static_cast<double>(fileBytes);
}

void BM_EncodePng(benchmark::State& state)
{
    const QImage& picture = Picture();
    const Raster rows { kSide, kSide, kSide * 4, 32, const_cast<uint8_t*>(picture.constBits()) };
    qint64 bytes = 0;
    for (auto _ : state) {
        bytes = 0;
        CPngEncoder encoder(
            [&](const char*, qsizetype size) {
                bytes += size;
                return true;
            },
            static_cast<int>(state.range(0)));
        if (!encoder.Begin(kSide, kSide, 3937, {}) || !encoder.AddRows(rows) || !encoder.Finish()) {
            state.SkipWithError("encoding failed");
        }
    }
    Count(state, bytes);
}
BENCHMARK(BM_EncodePng)->Arg(0)->Arg(1)->Arg(6)->Unit(benchmark::kMillisecond);

// The writer every PNG export went through before, at the level it was given (as a quality).
void BM_EncodePngQt(benchmark::State& state)
{
    const QImage& picture = Picture();
    qint64 bytes = 0;
    for (auto _ : state) {
        QByteArray file;
        QBuffer buffer(&file);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "png");
        writer.setQuality(100 - (static_cast<int>(state.range(0)) * 91 + 8) / 9);
        writer.write(picture);
        bytes = file.size();
    }
    Count(state, bytes);
}
BENCHMARK(BM_EncodePngQt)->Arg(1)->Arg(6)->Unit(benchmark::kMillisecond);

} // namespace
