#include "cli.h"

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
                               "Run 'glimmerset-cli COMMAND --help' for the options of a command.\n";

} // namespace

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
