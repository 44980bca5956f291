// Fuzzes the script reader and the writer behind it.
//
// The input is loaded three times: as it is, and behind a valid version line in each encoding so that
// the rest of the reader is reached. A script that loads is saved and loaded into a fresh script, which must
// then hold the same members; one whose names its lines cannot hold is refused by the writer.

#include "fractalscript.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void Require(bool condition, const char* what, const std::string& detail = {})
{
    if (!condition) {
        std::fprintf(stderr, "script_fuzz: %s %s\n", what, detail.c_str());
        std::abort();
    }
}

bool SameBits(double a, double b)
{
    return (std::isnan(a) && std::isnan(b)) || std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b);
}

// The files of one run, in a folder of their own created once.
const QTemporaryDir& Folder()
{
    static const QTemporaryDir folder;
    return folder;
}

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

void RequireSameFormula(const CFormula& a, const CFormula& b, const char* what)
{
    Require(a.GetText() == b.GetText(), what, a.GetText() + " | " + b.GetText());
}

void CheckRoundTrip(CFractalScript& loaded)
{
    const QString savedPath = Folder().filePath(QStringLiteral("saved.gsc"));
    // A name the lines cannot hold (a line break, a key's text) is refused by the writer, which then
    // writes nothing: the format has no escape for it.
    if (!ScriptNameProblem(loaded.GetPaletteFile()).isEmpty()) {
        QFile::remove(savedPath);
        Require(
            !loaded.Save(savedPath) && !QFile::exists(savedPath), "a name the lines cannot hold was saved");
        return;
    }
    Require(loaded.Save(savedPath), "a loaded script does not save");
    CFractalScript again;
    Require(again.Load(savedPath), "a saved script does not load:", again.GetLastError());

    RequireSameFormula(loaded.GetIterFormula(), again.GetIterFormula(), "iteration formula:");
    RequireSameFormula(loaded.GetTermFormula(), again.GetTermFormula(), "termination formula:");
    RequireSameFormula(loaded.GetColorFormula(), again.GetColorFormula(), "colour formula:");
    Require(loaded.GetPaletteFile() == again.GetPaletteFile(), "palette file name:",
        loaded.GetPaletteFile().toStdString() + " | " + again.GetPaletteFile().toStdString());
    const PaletteMapping m = loaded.GetMapping();
    const PaletteMapping n = again.GetMapping();
    Require(SameBits(m.x0, n.x0) && SameBits(m.y0, n.y0) && SameBits(m.dx, n.dx) && SameBits(m.dy, n.dy)
            && SameBits(m.sin, n.sin) && SameBits(m.cos, n.cos) && SameBits(m.stretch, n.stretch),
        "mapping");
    Require(SameBits(loaded.GetOffsetX(), again.GetOffsetX())
            && SameBits(loaded.GetOffsetY(), again.GetOffsetY()),
        "offset");
    Require(SameBits(loaded.GetRatio(), again.GetRatio()), "ratio");
    Require(
        loaded.GetImageWidth() == again.GetImageWidth() && loaded.GetImageHeight() == again.GetImageHeight(),
        "image size");
    Require(loaded.GetMaxIter() == again.GetMaxIter(), "iteration limit");
    const CFormula& c = loaded.GetIterFormula();
    const CFormula& d = again.GetIterFormula();
    Require(c.GetConstantCount() == d.GetConstantCount(), "constant count");
    for (int k = 0; k < c.GetConstantCount(); ++k) {
        Require(c.GetConstantName(k) == d.GetConstantName(k), "constant name:", c.GetConstantName(k));
        Require(SameBits(c.GetConstant(k).re, d.GetConstant(k).re)
                && SameBits(c.GetConstant(k).im, d.GetConstant(k).im),
            "constant value:", c.GetConstantName(k));
    }
}

void LoadAndCheck(const QByteArray& bytes)
{
    const QString path = Folder().filePath(QStringLiteral("input.gsc"));
    Require(WriteFile(path, bytes), "cannot write the input file");
    CFractalScript script;
    if (script.Load(path)) {
        CheckRoundTrip(script);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // Plugins (the image codecs) and the codecs' caches are set up as in the programs; never destroyed.
    static QCoreApplication* const app = new QCoreApplication(*argc, *argv);
    (void)app;
    Require(Folder().isValid(), "no temporary folder");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes
        = QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    LoadAndCheck(bytes);
    // Behind the version line in each encoding: a file that is not valid UTF-8 throughout is read as
    // GB18030, and only the line in its own encoding lets the reader go on.
    LoadAndCheck(
        QByteArray("\xE7\x89\x88\xE6\x9C\xAC\xE5\x8F\xB7:{Glimmerset0.01}\n") + bytes); // 版本号 in UTF-8
    LoadAndCheck(QByteArray("\xB0\xE6\xB1\xBE\xBA\xC5:{Glimmerset0.01}\r\n") + bytes); // 版本号 in GB18030
    return 0;
}
