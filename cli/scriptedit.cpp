// set, dump and new --from-json: scripts changed, read and written without the window.
#include "cli.h"
#include "options.h"
#include "overrides.h"
#include "scriptjson.h"

#include "picturedocument.h"
#include "safefile.h"
#include "signalcleanup.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <ostream>

namespace {

constexpr const char* kSetUsage = QT_TRANSLATE_NOOP("glimmerset-cli",
    "Usage: glimmerset-cli set SCRIPT [CHANGES] [-o OUT.gsc]\n"
    "\n"
    "Loads SCRIPT (- for standard input), applies the changes and writes the script to OUT.gsc, or\n"
    "back to SCRIPT without -o. A picture that carries its script, or standard input, needs -o\n"
    "(- for standard output): set writes back only into a script file. 'render' takes the same\n"
    "changes and draws exactly the picture of the script that 'set' writes.\n"
    "\n"
    "Options:\n"
    "  -o, --output OUT.gsc  the script file to write (- for standard output)\n"
    "%s"
    "  -h, --help            show this help and exit\n"
    "  -V, --version         show the version and exit\n"
    "\n"
    "Exit status: 0 on success, 1 when the script does not load, a formula does not compile, the\n"
    "palette cannot be used or the file cannot be written, 2 on a usage error (also a constant the\n"
    "formula does not have, and a picture or standard input without -o).\n");

constexpr const char* kDumpUsage = QT_TRANSLATE_NOOP("glimmerset-cli",
    "Usage: glimmerset-cli dump SCRIPT [--json]\n"
    "\n"
    "Prints every member of SCRIPT (- for standard input) in UTF-8: one 'key: value' line each,\n"
    "values written as render's and set's options take them, or with --json a JSON object that\n"
    "'glimmerset-cli new --from-json' turns back into the same script file.\n"
    "\n"
    "Options:\n"
    "  --json          print JSON: numbers in their shortest exact form; nan, inf, -0 as strings\n"
    "  -h, --help      show this help and exit\n"
    "  -V, --version   show the version and exit\n"
    "\n"
    "Exit status: 0 on success, 1 when the script does not load, 2 on a usage error.\n");

std::string SetUsage()
{
    const std::string text = HelpText(kSetUsage);
    const size_t at = text.find("%s");
    // The change options sit among the command's own, under its "Options:" heading.
    const std::string options = HelpText(kOverrideHelp);
    return std::string(text.substr(0, at))
        .append(options.substr(options.find('\n') + 1))
        .append(text.substr(at + 2))
        .append(FormulaErrorHelp());
}

// Writes the picture of script to target ("-": standard output), its palette named as seen from
// the target's folder (the working folder for standard output).
bool WriteScript(const char* command, const CPictureDocument& script, const QString& paletteName,
    const std::string& target, const QString& fromFolder, std::ostream& out, std::ostream& err)
{
    QTemporaryDir dir;
    const CRemovedOnSignal cleanup(dir.path(), CRemovedOnSignal::Kind::Folder);
    const bool toOut = target == "-";
    const QString path = toOut ? dir.filePath(QStringLiteral("script.gsc")) : QString::fromStdString(target);
    const QString toFolder = toOut ? QDir::currentPath() : QFileInfo(path).absolutePath();
    QString reason;
    if (!SaveScript(
            path, script.TakeSnapshot(), PaletteNameFrom(paletteName, fromFolder, toFolder), &reason)) {
        err << "glimmerset-cli " << command << ": " << CannotWrite(target, reason.toStdString()) << '\n';
        return false;
    }
    if (toOut && !CopyFileTo(path, out)) {
        err << "glimmerset-cli " << command << ": "
            << Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "cannot write to standard output")) << '\n';
        return false;
    }
    return true;
}

} // namespace

int RunSet(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    CCommandOptions options(WithOverrideOptions(
        { Valued({ QStringLiteral("o"), QStringLiteral("output") }, QStringLiteral("OUT.gsc")) }));
    std::string problem;
    if (!options.Parse(args, problem)) {
        return CommandUsage(err, "set", problem);
    }
    if (HandleHelpOrVersion(options, SetUsage(), out)) {
        return kExitOk;
    }
    const std::vector<std::string> positional = options.Positional();
    if (positional.size() != 1) {
        return CommandUsage(err, "set",
            positional.empty() ? Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "missing SCRIPT"))
                               : Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "too many arguments")));
    }
    ScriptOverrides overrides;
    if (!ReadOverrides(options, overrides, problem)) {
        return CommandUsage(err, "set", problem);
    }
    const std::string& source = positional.front();
    // Written back, a picture would become a script file and its pixels would be gone.
    if (!options.Has(QStringLiteral("o"))
        && (source == "-" || IsPictureFile(QString::fromStdString(source)))) {
        return CommandUsage(err, "set",
            source == "-" ? Tr(QT_TRANSLATE_NOOP("glimmerset-cli",
                "standard input cannot be written back: give '-o OUT.gsc' ('-o -' for standard output)"))
                          : Tr(QT_TRANSLATE_NOOP("glimmerset-cli",
                                   "'%1' is a picture, and set writes back only into a script file: give '-o "
                                   "OUT.gsc'"),
                              { source }));
    }
    QTemporaryDir dir;
    const CRemovedOnSignal cleanup(dir.path(), CRemovedOnSignal::Kind::Folder);
    CPictureDocument script;
    if (!LoadScriptArgument("set", source, dir, script, err)) {
        return kExitFailure;
    }
    const OverrideResult applied = ApplyOverrides(overrides, script);
    for (const std::string& warning : applied.warnings) {
        err << "glimmerset-cli set: " << Warning(warning) << '\n';
    }
    if (applied.status == OverrideStatus::Usage) {
        return CommandUsage(err, "set", applied.message);
    }
    if (applied.status == OverrideStatus::Failed) {
        err << "glimmerset-cli set: " << source << ": " << Shown(applied.message) << '\n' << applied.detail;
        return kExitFailure;
    }
    const std::string target = options.Value(QStringLiteral("o")).value_or(source);
    return WriteScript("set", script, script.GetPaletteFile(), target, script.GetScriptFolder(), out, err)
        ? kExitOk
        : kExitFailure;
}

int RunDump(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    CCommandOptions options({ Flag({ QStringLiteral("json") }) });
    std::string problem;
    if (!options.Parse(args, problem)) {
        return CommandUsage(err, "dump", problem);
    }
    if (HandleHelpOrVersion(options, HelpText(kDumpUsage), out)) {
        return kExitOk;
    }
    const std::vector<std::string> positional = options.Positional();
    if (positional.size() != 1) {
        return CommandUsage(err, "dump",
            positional.empty() ? Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "missing SCRIPT"))
                               : Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "too many arguments")));
    }
    QTemporaryDir dir;
    const CRemovedOnSignal cleanup(dir.path(), CRemovedOnSignal::Kind::Folder);
    CPictureDocument script;
    if (!LoadScriptArgument("dump", positional.front(), dir, script, err)) {
        return kExitFailure;
    }
    out << (options.Has(QStringLiteral("json")) ? ScriptJson(script) : ScriptText(script));
    return out.flush() ? kExitOk : kExitFailure;
}

int RunNewFromJson(const std::string& source, const std::string& target, std::ostream& out, std::ostream& err)
{
    QTemporaryDir dir;
    const CRemovedOnSignal cleanup(dir.path(), CRemovedOnSignal::Kind::Folder);
    QString path;
    if (!ScriptFile("new", source, dir, path, err)) {
        return kExitFailure;
    }
    // Only a regular file of a sane size, as a script: a name may stand for a FIFO or a device.
    QFile file;
    qint64 size = 0;
    QString reason;
    if (OpenRegularFile(path, file, size, reason) && size > kMaxScriptBytes) {
        reason = QString::fromStdString(
            Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "longer than the %1 MiB a JSON file may have"),
                { std::to_string(kMaxScriptBytes >> 20) }));
    }
    if (!reason.isEmpty()) {
        err << "glimmerset-cli new: " << source << ": " << Shown("打开文件失败") << " ("
            << reason.toStdString() << ")\n";
        return kExitFailure;
    }
    CPictureDocument script;
    QString paletteName;
    std::string problem;
    std::vector<std::string> warnings;
    const bool read = ScriptFromJson(file.readAll(), script, paletteName, problem, warnings);
    for (const std::string& warning : warnings) {
        err << "glimmerset-cli new: " << Warning(warning) << '\n';
    }
    if (!read) {
        err << "glimmerset-cli new: " << source << ": " << problem << '\n';
        return kExitFailure;
    }
    // The palette name is kept as written: it names a file beside the script being written.
    const QString folder
        = target == "-" ? QDir::currentPath() : QFileInfo(QString::fromStdString(target)).absolutePath();
    return WriteScript("new", script, paletteName, target, folder, out, err) ? kExitOk : kExitFailure;
}
