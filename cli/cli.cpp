#include "cli.h"

#include "options.h"
#include "overrides.h"

#include "language.h"
#include "picturedocument.h"
#include "scriptfile.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <ostream>

#ifndef GLIMMERSET_VERSION
#define GLIMMERSET_VERSION "0.01"
#endif

namespace {

constexpr const char* kUsage = QT_TRANSLATE_NOOP("glimmerset-cli",
    "Usage: glimmerset-cli COMMAND [OPTIONS] [ARGUMENTS]\n"
    "\n"
    "Renders and checks Glimmerset fractal scripts without a display.\n"
    "\n"
    "Commands:\n"
    "  eval [--set NAME=RE[,IM]]... [--runs N] [--code] [--] FORMULA\n"
    "        compile a formula, print its code and run it\n"
    "  new -o FILE.gsc [--from-json JSON]\n"
    "        write the default script, or the script JSON describes\n"
    "  check SCRIPT\n"
    "        load a script and print a summary, or why it does not load\n"
    "  render SCRIPT -o IMAGE [--size WxH] [--fit] [--no-watermark] [--threads N]\n"
    "         [--format EXT] [--png-level N] [--aa N] [--scale K] [--data FILE.npy]\n"
    "         [--json | --quiet] [CHANGES]\n"
    "        render a script at its target size into an image file\n"
    "  render SCRIPT... -o FOLDER/ [OPTIONS] [CHANGES]\n"
    "        render several scripts into FOLDER/NAME.EXT in one run\n"
    "  probe SCRIPT --at RE,IM [--size WxH] [--fit] [CHANGES]\n"
    "        print the count and final z of a plane point as one JSON line\n"
    "  find SCRIPT [--near RE,IM] [--width W] [--misiurewicz] [--max-period N]\n"
    "       [--json] [CHANGES]\n"
    "        find the nucleus, periodic or Misiurewicz point of lowest period in a view\n"
    "  set SCRIPT [CHANGES] [-o OUT.gsc]\n"
    "        write changes into a script file\n"
    "  dump SCRIPT [--json]\n"
    "        print every member of a script as text or JSON\n"
    "  extract PICTURE -o SCRIPT.gsc\n"
    "        write the script an exported picture carries\n"
    "  animate FROM.gsc TO.gsc [MORE.gsc ...] --frames N -o PATTERN [--ease E]\n"
    "          [--size WxH] [--iterations N] [--no-watermark] [--shard K/N]\n"
    "          [--skip-existing] [--list]\n"
    "          [--video OUT.mp4 --fps F]\n"
    "        render the frames of an animation through key scripts\n"
    "  help [COMMAND]\n"
    "        show this help, or the options of COMMAND\n"
    "\n"
    "CHANGES (render, set, probe and find): --formula KIND=TEXT,\n"
    "  --const NAME=RE[,IM], --palette FILE, --mapping X0,Y0,DX,DY,SIN,COS,STRETCH,\n"
    "  --iterations N, --center RE,IM, --width W\n"
    "\n"
    "Options:\n"
    "  -h, --help     show this help and exit\n"
    "  -V, --version  show the version and exit\n"
    "\n"
    "A SCRIPT may also be a PNG or JPEG picture exported by Glimmerset: it carries\n"
    "its script.\n"
    "Run 'glimmerset-cli COMMAND --help' for the options of a command.\n"
    "Files are written whole or not at all, through symbolic links; a\n"
    "write-protected file is refused.\n"
    "Messages and help are in the first of the user's languages (LANGUAGE,\n"
    "LC_ALL, LC_MESSAGES, LANG) that the tool has, English or Chinese; else\n"
    "Chinese.\n");

constexpr const char* kVersion = "glimmerset-cli " GLIMMERSET_VERSION "\n";

// Under the help of the commands that compile formulas (eval, check, set, render).
constexpr const char* kFormulaErrorHelp = QT_TRANSLATE_NOOP("glimmerset-cli",
    "\n"
    "A formula that does not compile is named by its message, then by where it fails (line and\n"
    "column) and what is wrong there, above the formula's line with the offending text marked.\n");

using Command = int (*)(const std::vector<std::string>&, std::ostream&, std::ostream&);

Command FindCommand(const std::string& name)
{
    static const struct {
        const char* name;
        Command run;
    } kCommands[] = { { "eval", RunEval }, { "new", RunNew }, { "check", RunCheck }, { "render", RunRender },
        { "set", RunSet }, { "dump", RunDump }, { "extract", RunExtract }, { "animate", RunAnimate },
        { "probe", RunProbe }, { "find", RunFind } };
    for (const auto& command : kCommands) {
        if (name == command.name) {
            return command.run;
        }
    }
    return nullptr;
}

int Usage(std::ostream& err, const std::string& problem)
{
    err << "glimmerset-cli: "
        << Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "%1; try '%2 --help'"), { problem, "glimmerset-cli" })
        << '\n';
    return kExitUsage;
}

} // namespace

int CommandUsage(std::ostream& err, std::string_view command, std::string_view problem)
{
    err << "glimmerset-cli " << command << ": "
        << Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "%1; try '%2 --help'"),
               { problem, "glimmerset-cli " + std::string(command) })
        << '\n';
    return kExitUsage;
}

std::string HelpText(const char* text)
{
    return QCoreApplication::translate("glimmerset-cli", text).toStdString();
}

std::string Tr(const char* text, std::initializer_list<std::string_view> args)
{
    const std::string shown = QCoreApplication::translate("glimmerset-cli", text).toStdString();
    // One pass, so that an argument holding "%2" stays as it is.
    std::string message;
    for (size_t k = 0; k < shown.size(); ++k) {
        const size_t number = k + 1 < shown.size() ? static_cast<size_t>(shown[k + 1] - '1') : args.size();
        if (shown[k] == '%' && number < args.size()) {
            message += *(args.begin() + number);
            ++k;
        } else {
            message += shown[k];
        }
    }
    return message;
}

std::string Shown(const std::string& message) { return TranslateMessage(message).toStdString(); }

bool HandleHelpOrVersion(const CCommandOptions& options, const std::string& usage, std::ostream& out)
{
    if (options.Help()) {
        out << usage;
        return true;
    }
    if (options.Version()) {
        out << kVersion;
        return true;
    }
    return false;
}

bool ScriptFile(
    const char* command, const std::string& argument, QTemporaryDir& dir, QString& path, std::ostream& err)
{
    if (argument != "-") {
        path = QString::fromStdString(argument);
        return true;
    }
    // Read no further than a script file may be long: standard input may never end (/dev/zero).
    std::string text;
    char chunk[1 << 16];
    std::cin.clear();
    errno = 0;
    while (static_cast<qint64>(text.size()) <= kMaxScriptBytes
        && std::cin.read(chunk, sizeof chunk).gcount() > 0) {
        text.append(chunk, static_cast<size_t>(std::cin.gcount()));
    }
    const auto fail = [&](const std::string& reason) {
        err << "glimmerset-cli " << command << ": -: " << Shown("打开文件失败") << " (" << reason << ")\n";
        return false;
    };
    if (static_cast<qint64>(text.size()) > kMaxScriptBytes) {
        return fail(Tr(
            QT_TRANSLATE_NOOP("glimmerset-cli", "standard input is longer than the %1 MiB a script may have"),
            { std::to_string(kMaxScriptBytes >> 20) }));
    }
    if (std::cin.bad()) {
        return fail(Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "cannot read standard input: %1"),
            { std::strerror(errno ? errno : EIO) }));
    }
    path = dir.filePath(QStringLiteral("standard-input.gsc"));
    QFile file(path);
    if (!dir.isValid() || !file.open(QIODevice::WriteOnly)
        || file.write(text.data(), static_cast<qint64>(text.size())) != static_cast<qint64>(text.size())) {
        err << "glimmerset-cli: "
            << Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "cannot keep the script read from standard input"))
            << '\n';
        return false;
    }
    return true;
}

std::string LoadFailure(const CPictureDocument& script)
{
    const std::string& reason = script.GetLoadReason();
    return Shown(script.GetLastError()) + (reason.empty() ? std::string() : " (" + reason + ")");
}

bool LoadScriptArgument(const char* command, const std::string& argument, QTemporaryDir& dir,
    CPictureDocument& script, std::ostream& err, std::string* problem)
{
    QString file;
    if (!ScriptFile(command, argument, dir, file, err)) {
        if (problem) {
            *problem = Shown("打开文件失败");
        }
        return false;
    }
    if (!script.Load(file)) {
        err << "glimmerset-cli " << command << ": " << argument << ": " << LoadFailure(script) << '\n';
        PrintFormulaErrorDetail(script.GetLastFormulaError(), err);
        if (problem) {
            *problem = LoadFailure(script);
        }
        return false;
    }
    if (const std::string warning = script.GetPaletteWarning(); !warning.empty()) {
        err << "glimmerset-cli " << command << ": " << Warning(warning) << '\n';
    }
    return true;
}

bool ApplyCommandOverrides(const char* command, const std::string& argument, const ScriptOverrides& overrides,
    CPictureDocument& script, int& code, std::ostream& err)
{
    const OverrideResult applied = ApplyOverrides(overrides, script);
    for (const std::string& warning : applied.warnings) {
        err << "glimmerset-cli " << command << ": " << Warning(argument + ": " + warning) << '\n';
    }
    switch (applied.status) {
    case OverrideStatus::Applied: return true;
    case OverrideStatus::Usage: code = CommandUsage(err, command, Shown(applied.message)); return false;
    case OverrideStatus::Failed:
        err << "glimmerset-cli " << command << ": " << argument << ": " << Shown(applied.message) << '\n'
            << applied.detail;
        code = kExitFailure;
        return false;
    }
    return false;
}

std::string CannotWrite(const std::string& path, const std::string& why)
{
    return Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "cannot write '%1': %2"), { path, why });
}

std::string Warning(const std::string& warning)
{
    return Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "warning: %1"), { warning });
}

std::string FormulaErrorHelp() { return HelpText(kFormulaErrorHelp); }

std::string FormulaErrorLines(const FormulaError& error)
{
    const QString detail = FormulaErrorDetail(error);
    return detail.isEmpty() ? std::string() : detail.toStdString() + '\n' + FormulaErrorExcerpt(error);
}

void PrintFormulaErrorDetail(const FormulaError& error, std::ostream& err)
{
    err << FormulaErrorLines(error);
}

bool CopyFileTo(const QString& path, std::ostream& out)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QByteArray bytes = file.readAll();
    out.write(bytes.constData(), bytes.size());
    return static_cast<bool>(out.flush());
}

int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    // The program's own options come before the command; everything from the command on is the
    // command's, read by its own parser.
    QCommandLineParser parser;
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    parser.addOption(Flag({ QStringLiteral("h"), QStringLiteral("help") }));
    parser.addOption(Flag({ QStringLiteral("V"), QStringLiteral("version") }));
    QStringList list { QStringLiteral("glimmerset-cli") };
    for (const std::string& arg : args) {
        list.append(QString::fromStdString(arg));
    }
    if (!parser.parse(list)) {
        // Only the arguments before the command are the program's options: the first one that is
        // none of them is at fault.
        for (const std::string& arg : args) {
            if (arg != "-h" && arg != "--help" && arg != "-V" && arg != "--version") {
                return Usage(err, Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "unknown option '%1'"), { arg }));
            }
        }
        return Usage(err, parser.errorText().toStdString());
    }
    if (parser.isSet(QStringLiteral("help"))) {
        out << HelpText(kUsage);
        return kExitOk;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        out << kVersion;
        return kExitOk;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty()) {
        return Usage(err, Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "no command given")));
    }
    const std::string command = positional.front().toStdString();
    std::vector<std::string> rest;
    for (qsizetype k = 1; k < positional.size(); ++k) {
        rest.push_back(positional[k].toStdString());
    }
    if (command == "help") {
        if (rest.empty()) {
            out << HelpText(kUsage);
            return kExitOk;
        }
        if (rest.size() > 1) {
            return Usage(err, Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "'help' takes one COMMAND")));
        }
        // Exactly what the command's own --help prints.
        if (const Command run = FindCommand(rest.front())) {
            return run({ "--help" }, out, err);
        }
        return Usage(err, Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "unknown command '%1'"), { rest.front() }));
    }
    if (const Command run = FindCommand(command)) {
        return run(rest, out, err);
    }
    return Usage(err, Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "unknown command '%1'"), { command }));
}
