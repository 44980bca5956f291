#include "cli.h"
#include "options.h"

#include "picturedocument.h"
#include "scriptfile.h"
#include "signalcleanup.h"

#include <QDir>
#include <QTemporaryDir>

#include <ostream>

namespace {

constexpr const char* kExtractUsage = QT_TRANSLATE_NOOP("glimmerset-cli",
    "Usage: glimmerset-cli extract PICTURE -o SCRIPT.gsc\n"
    "\n"
    "Writes the script an exported picture carries (PNG, JPEG) to SCRIPT.gsc: exactly the bytes\n"
    "that saving the script there from the window would write. A relative palette name is rewritten\n"
    "so that it names the same file from SCRIPT's folder. '-o -' writes to standard output, with\n"
    "the palette name as seen from the working folder; PICTURE '-' reads standard input.\n"
    "\n"
    "Exit status: 0 on success, 1 when the picture carries no script that loads or the file cannot\n"
    "be written, 2 on a usage error.\n");

} // namespace

int RunExtract(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    CCommandOptions options(
        { Valued({ QStringLiteral("o"), QStringLiteral("output") }, QStringLiteral("SCRIPT")) });
    std::string problem;
    if (!options.Parse(args, problem)) {
        return CommandUsage(err, "extract", problem);
    }
    if (HandleHelpOrVersion(options, HelpText(kExtractUsage), out)) {
        return kExitOk;
    }
    const std::optional<std::string> file = options.Value(QStringLiteral("o"));
    const std::vector<std::string> positional = options.Positional();
    if (positional.size() != 1) {
        return CommandUsage(err, "extract",
            positional.empty() ? Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "missing PICTURE"))
                               : Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "too many arguments")));
    }
    if (!file) {
        return CommandUsage(
            err, "extract", Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "missing '-o SCRIPT.gsc'")));
    }
    QTemporaryDir dir;
    const CRemovedOnSignal cleanup(dir.path(), CRemovedOnSignal::Kind::Folder);
    // Loaded as the window opens it, so that what is written is what Save writes for that script.
    CPictureDocument script;
    if (!LoadScriptArgument("extract", positional.front(), dir, script, err)) {
        return kExitFailure;
    }
    if (*file == "-") {
        const QString name
            = PaletteNameFrom(script.GetPaletteFile(), script.GetScriptFolder(), QDir::currentPath());
        const QByteArray bytes = EncodeScriptText(ScriptText(script.TakeSnapshot(), name));
        out.write(bytes.constData(), bytes.size());
        if (!out.flush()) {
            err << "glimmerset-cli extract: "
                << Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "cannot write to standard output")) << '\n';
            return kExitFailure;
        }
        return kExitOk;
    }
    QString reason;
    if (!script.Save(QString::fromStdString(*file), &reason)) {
        err << "glimmerset-cli extract: " << CannotWrite(*file, reason.toStdString()) << '\n';
        return kExitFailure;
    }
    return kExitOk;
}
