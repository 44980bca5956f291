// Fuzzes the exact view line of script files ("精确视图:{X, Y, RATIO}") and the check of a view's
// numbers behind it.
//
// The first two bytes choose the target size; the rest is the line's value. A view that reads has
// finite doubles and a ratio the check takes, and the exact texts it keeps read back to the same view;
// in a script file it comes back the same after a save.

#include "exactview.h"
#include "fractalscript.h"
#include "scriptfile.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

// About 1e-10000, as a binary exponent.
constexpr long kFuzzedDeepestExponent = -33220;

void Require(bool condition, const char* what, const std::string& detail = {})
{
    if (!condition) {
        std::fprintf(stderr, "exactview_fuzz: %s %s\n", what, detail.c_str());
        std::abort();
    }
}

const QTemporaryDir& Folder()
{
    static const QTemporaryDir folder;
    return folder;
}

std::string Texts(const ExactView& e) { return e.offsetX + ", " + e.offsetY + ", " + e.ratio; }

// The view of the line's value as the script file's reader splits it.
std::optional<PlaneView> Read(const QString& value, int width, int height, ExactView& texts)
{
    const QStringList parts = value.split(QLatin1Char(','));
    if (parts.size() != 3) {
        return std::nullopt;
    }
    texts = { parts[0].trimmed().toStdString(), parts[1].trimmed().toStdString(),
        parts[2].trimmed().toStdString() };
    return ViewFromExact(texts, width, height);
}

void CheckInScriptFile(const QString& value, int width, int height, const PlaneView& view)
{
    CFractalScript script;
    script.SetDefaults();
    script.SetImageSize(width, height);
    const QString path = Folder().filePath(QStringLiteral("view.gsc"));
    Require(script.Save(path), "the default script does not save");
    QFile file(path);
    Require(file.open(QIODevice::Append), "cannot add the line");
    file.write(EncodeScriptText(QStringLiteral(u"精确视图:{%1}\n").arg(value)));
    file.close();
    CFractalScript loaded;
    Require(loaded.Load(path), "a script with a view that reads does not load:", loaded.GetLastError());
    Require(loaded.GetView() == view, "the script file's reader reads another view:", Texts(view.exact));
    Require(loaded.Save(path), "a loaded view does not save");
    CFractalScript again;
    Require(
        again.Load(path) && again.GetView() == view, "a saved view reads back otherwise:", Texts(view.exact));
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
    if (size < 2) {
        return 0;
    }
    // Sizes as the reader brings them into range; the corners of the range come most often.
    const int width = 100 + (data[0] * 3996) / 255;
    const int height = 100 + (data[1] * 3996) / 255;
    // As the file's reader sees a value: its line ends are line feeds.
    const QString value
        = QString::fromUtf8(reinterpret_cast<const char*>(data + 2), static_cast<qsizetype>(size - 2))
              .replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (value.contains(QLatin1Char('}'))) {
        return 0; // the reader's value ends at the first "}"
    }
    // The deepest views take their reader about a second even without sanitizers (their numbers need
    // a million bits): far deeper than 1e-10000 is left to the tests of the limit.
    if (const QStringList parts = value.split(QLatin1Char(',')); parts.size() == 3) {
        bool ok = false;
        const BigFloat ratio = BigFloat::Parse(parts[2].trimmed().toStdString(), 64, &ok);
        if (ok && !ratio.IsZero() && ratio.Exponent() < kFuzzedDeepestExponent) {
            return 0;
        }
    }
    ExactView texts;
    const std::optional<PlaneView> view = Read(value, width, height, texts);
    if (!view) {
        return 0;
    }
    Require(std::isfinite(view->offsetX) && std::isfinite(view->offsetY) && view->ratio > 0.0
            && std::isfinite(view->ratio),
        "a view that reads holds a double that is not finite:", Texts(texts));
    Require(CheckViewScale(texts.ratio) == ViewNumberError::None
            && CheckViewCoordinate(texts.offsetX) == ViewNumberError::None
            && CheckViewCoordinate(texts.offsetY) == ViewNumberError::None,
        "a view reads that the check refuses:", Texts(texts));
    if (!view->exact.Empty()) {
        const std::optional<PlaneView> again = ViewFromExact(view->exact, width, height);
        Require(again && *again == *view,
            "the exact texts a view keeps read back otherwise:", Texts(view->exact));
    }
    CheckInScriptFile(value, width, height, *view);
    return 0;
}
