#include "cli.h"

#include "options.h"

#include <QFile>
#include <QTemporaryDir>

#include <iostream>
#include <iterator>
#include <ostream>

#ifndef GLIMMERSET_VERSION
#define GLIMMERSET_VERSION "0.01"
#endif

namespace {

constexpr const char* kUsage = "Usage: glimmerset-cli COMMAND [OPTIONS] [ARGUMENTS]\n"
                               "\n"
                               "Renders and checks Glimmerset fractal scripts without a display.\n"
                               "\n"
                               "Commands:\n"
                               "  eval [--set NAME=RE[,IM]]... [--runs N] [--code] [--] FORMULA\n"
                               "        compile a formula, print its code and run it\n"
                               "  new -o FILE.gsc\n"
                               "        write the default script\n"
                               "  check SCRIPT\n"
                               "        load a script and print a summary, or why it does not load\n"
                               "  render SCRIPT -o IMAGE [--size WxH] [--no-watermark] [--threads N]\n"
                               "        render a script at its target size into an image file\n"
                               "\n"
                               "Options:\n"
                               "  -h, --help     show this help and exit\n"
                               "  -V, --version  show the version and exit\n"
                               "\n"
                               "Run 'glimmerset-cli COMMAND --help' for the options of a command.\n"
                               "Files are written whole or not at all, through symbolic links; a\n"
                               "write-protected file is refused.\n";

} // namespace

bool HandleHelpOrVersion(const ParsedOptions& options, const char* usage, std::ostream& out)
{
    if (options.help) {
        out << usage;
        return true;
    }
    if (options.version) {
        out << "glimmerset-cli " GLIMMERSET_VERSION "\n";
        return true;
    }
    return false;
}

bool ScriptFile(const std::string& argument, QTemporaryDir& dir, QString& path, std::ostream& err)
{
    if (argument != "-") {
        path = QString::fromStdString(argument);
        return true;
    }
    const std::string text((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
    path = dir.filePath(QStringLiteral("standard-input.gsc"));
    QFile file(path);
    if (!dir.isValid() || !file.open(QIODevice::WriteOnly)
        || file.write(text.data(), static_cast<qint64>(text.size())) != static_cast<qint64>(text.size())) {
        err << "glimmerset-cli: cannot keep the script read from standard input\n";
        return false;
    }
    return true;
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
    if (args.empty()) {
        err << "glimmerset-cli: no command given; try 'glimmerset-cli --help'\n";
        return kExitUsage;
    }
    const std::string& command = args.front();
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (command == "-h" || command == "--help" || command == "help") {
        out << kUsage;
        return kExitOk;
    }
    if (command == "-V" || command == "--version") {
        out << "glimmerset-cli " GLIMMERSET_VERSION "\n";
        return kExitOk;
    }
    if (command == "eval") {
        return RunEval(rest, out, err);
    }
    if (command == "new") {
        return RunNew(rest, out, err);
    }
    if (command == "check") {
        return RunCheck(rest, out, err);
    }
    if (command == "render") {
        return RunRender(rest, out, err);
    }
    err << "glimmerset-cli: unknown command '" << command << "'; try 'glimmerset-cli --help'\n";
    return kExitUsage;
}
