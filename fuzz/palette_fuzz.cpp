// Fuzzes palette loading: the image readers behind DecodePalette and the conversion to a surface.
// The first byte of an input picks the file's extension among every one the program offers (and
// none), so that a name can never steer the input to another reader; the rest is the file. Run with
// -malloc_limit_mb just above the decoder's limit (see `make fuzz`): an allocation beyond it is a
// finding.

#include "fractalscript.h"
#include "palettedecode.h"
#include "surface.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
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

constexpr qint64 kFuzzMemoryBudget = qint64 { 16 } << 20;

const QTemporaryDir& Folder()
{
    static const QTemporaryDir folder;
    return folder;
}

// Qt and the codecs are not instrumented, so libFuzzer sees nothing of what a decoder did. These
// counters (which libFuzzer reads as features) tell it a little: which reader claims the file, the
// pixel format it announces, how the load ended and the rough shape of the palette.
__attribute__((section("__libfuzzer_extra_counters"))) uint8_t s_outcomes[4096];

// The extensions of the Import palette dialog and of every image reader Qt has here, and none.
const QStringList& Extensions()
{
    static const QStringList extensions = [] {
        QStringList list { QString() };
        for (const PaletteFormat& format : PaletteFormats()) {
            list += format.patterns;
        }
        for (const ImageCodec& codec : ImageCodecs(CodecUse::Reading)) {
            list += codec.patterns;
        }
        for (QString& pattern : list) {
            pattern.remove(0, 1); // "*.png" -> ".png"
        }
        list.removeDuplicates();
        return list;
    }();
    return extensions;
}

void Note(size_t feature) { ++s_outcomes[feature % sizeof s_outcomes]; }

int Log2(int n)
{
    int bits = 0;
    while (n > 1 && bits < 31) {
        n >>= 1;
        ++bits;
    }
    return bits;
}

void NoteOutcome(const uint8_t* file, size_t size, const CFractalScript& script, bool loaded)
{
    const QByteArray head(reinterpret_cast<const char*>(file), static_cast<qsizetype>(std::min<size_t>(size, 16)));
    const size_t format = qHash(PaletteFormatOf(head)) % 64;
    Note(format * 2 + (loaded ? 1 : 0));
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
    if (size == 0) {
        return 0;
    }
    const QString path
        = Folder().filePath(QStringLiteral("palette") + Extensions().at(data[0] % Extensions().size()));
    {
        QFile file(path);
        Require(file.open(QIODevice::WriteOnly | QIODevice::Truncate)
                && file.write(reinterpret_cast<const char*>(data + 1), static_cast<qint64>(size - 1))
                    == static_cast<qint64>(size - 1),
            "cannot write the input file");
    }
    CFractalScript script;
    // A shorter deadline than the programs', so that the path that cuts a decode is fuzzed as well;
    // a slow input then costs about the deadline, a tenth of libFuzzer's 1 s, which leaves room for
    // a loaded machine. A smaller budget too: the decoder touches all of the picture and its buffers once, and libFuzzer
    // gives an input 1 s, which a picture of the programs' 256 MiB does not fit in under ASan on a
    // slow machine. The bounds are the same code whatever their values.
    const bool loaded = script.LoadPalette(
        path, PaletteFallback::None, { std::chrono::milliseconds(100), nullptr, kFuzzMemoryBudget });
    NoteOutcome(data + 1, size - 1, script, loaded);
    QFile::remove(path);
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
