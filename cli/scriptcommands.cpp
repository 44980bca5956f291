#include "cli.h"
#include "options.h"

#include "numbertext.h"
#include "picturedocument.h"
#include "signalcleanup.h"

#include <QTemporaryDir>

#include <ostream>

namespace {

constexpr const char* kNewUsage = QT_TRANSLATE_NOOP("glimmerset-cli",
    "Usage: glimmerset-cli new -o FILE.gsc [--from-json JSON]\n"
    "\n"
    "Writes the default script (a new Julia set with the built-in palette) to FILE.gsc.\n"
    "\n"
    "Options:\n"
    "  -o, --output FILE.gsc  the script file to write (- for standard output)\n"
    "  --from-json JSON       write the script that JSON (- for standard input) describes, in the\n"
    "                         form 'glimmerset-cli dump --json' prints; a key left out keeps the\n"
    "                         default script's value\n"
    "\n"
    "Exit status: 0 on success, 1 when the file cannot be written or the JSON does not describe a\n"
    "script, 2 on a usage error.\n");

constexpr const char* kCheckUsage = QT_TRANSLATE_NOOP("glimmerset-cli",
    "Usage: glimmerset-cli check SCRIPT\n"
    "\n"
    "Loads SCRIPT and prints \"ok\" with a one-line summary, or the reason it does not load.\n"
    "\n"
    "Exit status: 0 when it loads, 1 when it does not, 2 on a usage error.\n");

std::string ComplexText(Complex value)
{
    // "1 + nani" would read as a name; a part that is not a number keeps its own word.
    if (!std::isfinite(value.im)) {
        return FormatShortest(value.re) + " + " + FormatShortest(value.im) + "*i";
    }
    return FormatShortest(value.re) + (std::signbit(value.im) ? " - " : " + ")
        + FormatShortest(std::fabs(value.im)) + "i";
}

} // namespace

int RunNew(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    CCommandOptions options(
        { Valued({ QStringLiteral("o"), QStringLiteral("output") }, QStringLiteral("FILE")),
            Valued({ QStringLiteral("from-json") }, QStringLiteral("JSON")) });
    std::string problem;
    if (!options.Parse(args, problem)) {
        return CommandUsage(err, "new", problem);
    }
    if (HandleHelpOrVersion(options, HelpText(kNewUsage), out)) {
        return kExitOk;
    }
    const std::optional<std::string> file = options.Value(QStringLiteral("o"));
    if (!file || !options.Positional().empty()) {
        return CommandUsage(err, "new",
            !file ? Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "missing '-o FILE.gsc'"))
                  : Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "too many arguments")));
    }
    if (const std::optional<std::string> json = options.Value(QStringLiteral("from-json"))) {
        return RunNewFromJson(*json, *file, out, err);
    }
    CPictureDocument script;
    script.SetDefaults();
    script.LoadPalette(QString());
    QTemporaryDir dir;
    const CRemovedOnSignal cleanup(dir.path(), CRemovedOnSignal::Kind::Folder);
    const QString path
        = *file == "-" ? dir.filePath(QStringLiteral("new.gsc")) : QString::fromStdString(*file);
    QString reason;
    if (!script.Save(path, &reason)) {
        err << "glimmerset-cli new: " << CannotWrite(*file, reason.toStdString()) << '\n';
        return kExitFailure;
    }
    if (*file == "-" && !CopyFileTo(path, out)) {
        err << "glimmerset-cli new: "
            << Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "cannot write to standard output")) << '\n';
        return kExitFailure;
    }
    return kExitOk;
}

int RunCheck(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    CCommandOptions options({});
    std::string problem;
    if (!options.Parse(args, problem)) {
        return CommandUsage(err, "check", problem);
    }
    if (HandleHelpOrVersion(options, HelpText(kCheckUsage) + FormulaErrorHelp(), out)) {
        return kExitOk;
    }
    const std::vector<std::string> positional = options.Positional();
    if (positional.size() != 1) {
        return CommandUsage(err, "check",
            positional.empty() ? Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "missing SCRIPT"))
                               : Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "too many arguments")));
    }
    const std::string& path = positional.front();
    QTemporaryDir dir;
    const CRemovedOnSignal cleanup(dir.path(), CRemovedOnSignal::Kind::Folder);
    CPictureDocument script;
    if (!LoadScriptArgument("check", path, dir, script, err)) {
        return kExitFailure;
    }
    const CFormula& iter = script.GetIterFormula();
    std::string constants;
    for (int k = 0; k < iter.GetConstantCount(); ++k) {
        constants += (k ? ", " : "") + iter.GetConstantName(k) + " = " + ComplexText(iter.GetConstant(k));
    }
    out << "ok: " << script.GetImageWidth() << " x " << script.GetImageHeight() << ", " << script.GetMaxIter()
        << " iterations, " << (constants.empty() ? std::string("no constants") : constants) << ", "
        << (script.GetPaletteFile().isEmpty() ? std::string("built-in palette")
                                              : "palette " + script.GetPaletteFile().toStdString())
        << '\n';
    return kExitOk;
}
