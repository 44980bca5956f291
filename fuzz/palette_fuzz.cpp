// Fuzzes palette loading: the image readers behind DecodeImage and the conversion to a surface.
// The file has no extension, so the readers are chosen by content. Run with -malloc_limit_mb just
// above the decoder's limit (see `make fuzz`): an allocation beyond it is a finding.

#include "fractalscript.h"
#include "surface.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void Require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "palette_fuzz: %s\n", what);
        std::abort();
    }
}

const QTemporaryDir& Folder()
{
    static const QTemporaryDir folder;
    return folder;
}

// Qt and the codecs are not instrumented, so libFuzzer sees nothing of what a decoder did. These
// counters (which libFuzzer reads as features) tell it a little: which reader claims the file, the
// pixel format it announces, how the load ended and the rough shape of the palette.
__attribute__((section("__libfuzzer_extra_counters"))) uint8_t g_outcomes[4096];

void Note(size_t feature) { ++g_outcomes[feature % sizeof g_outcomes]; }

int Log2(int n)
{
    int bits = 0;
    while (n > 1 && bits < 31) {
        n >>= 1;
        ++bits;
    }
    return bits;
}

void NoteOutcome(const QString& path, const CFractalScript& script, bool loaded)
{
    QImageReader reader(path);
    const size_t format = qHash(reader.format()) % 64;
    Note(format * 2 + (loaded ? 1 : 0));
    Note(128 + format * 40 + static_cast<size_t>(reader.imageFormat()));
    if (loaded) {
        Note(2816 + static_cast<size_t>(Log2(script.GetPaletteWidth())) * 32
            + Log2(script.GetPaletteHeight()));
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication* const app = new QCoreApplication(*argc, *argv);
    (void)app;
    Require(Folder().isValid(), "no temporary folder");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString path = Folder().filePath(QStringLiteral("palette"));
    {
        QFile file(path);
        Require(file.open(QIODevice::WriteOnly | QIODevice::Truncate)
                && file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size))
                    == static_cast<qint64>(size),
            "cannot write the input file");
    }
    CFractalScript script;
    const bool loaded = script.LoadPalette(path, PaletteFallback::None);
    NoteOutcome(path, script, loaded);
    if (loaded) {
        // What the renderer relies on: a surface of the recorded size in the surface format.
        const QImage& palette = script.GetPalette();
        Require(!palette.isNull() && palette.format() == QImage::Format_RGB32,
            "palette not in the surface format");
        Require(palette.width() == script.GetPaletteWidth() && palette.height() == script.GetPaletteHeight(),
            "palette size not recorded");
        Require(static_cast<qint64>(palette.width()) * palette.height() * 4
                <= qint64(kImageAllocationLimitMiB) << 20,
            "palette beyond the decoder's limit");
        Require(script.GetPaletteFile() == path, "palette file name not recorded");
    } else {
        Require(script.GetPalette().isNull() && script.GetPaletteFile().isEmpty(),
            "a failed load changed the script");
    }
    return 0;
}
