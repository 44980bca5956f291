#include "cli.h"
#include "numbers.h"
#include "options.h"

#include "fractalscript.h"

#include <ostream>

namespace {

constexpr const char* kNewUsage
    = "Usage: glimmerset-cli new -o FILE.gsc\n"
      "\n"
      "Writes the default script (a new Julia set with the built-in palette) to FILE.gsc.\n"
      "\n"
      "Exit status: 0 on success, 1 when the file cannot be written, 2 on a usage error.\n";

constexpr const char* kCheckUsage
    = "Usage: glimmerset-cli check SCRIPT\n"
      "\n"
      "Loads SCRIPT and prints \"ok\" with a one-line summary, or the reason it does not load.\n"
      "\n"
      "Exit status: 0 when it loads, 1 when it does not, 2 on a usage error.\n";

int Usage(std::ostream& err, std::string_view command, std::string_view problem)
{
    err << "glimmerset-cli " << command << ": " << problem << "; try 'glimmerset-cli " << command
        << " --help'\n";
    return kExitUsage;
}

std::string ComplexText(Complex value)
{
    return FormatShortest(value.re) + (std::signbit(value.im) ? " - " : " + ")
        + FormatShortest(std::fabs(value.im)) + "i";
}

} // namespace

int RunNew(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    ParsedOptions options;
    std::string problem;
    if (!ParseOptions(args, { { "-o", true }, { "--output", true } }, options, problem)) {
        return Usage(err, "new", problem);
    }
    if (options.help) {
        out << kNewUsage;
        return kExitOk;
    }
    const std::string* file = options.Value("-o") ? options.Value("-o") : options.Value("--output");
    if (file == nullptr || !options.positional.empty()) {
        return Usage(err, "new", file == nullptr ? "missing '-o FILE.gsc'" : "too many arguments");
    }
    CFractalScript script;
    script.SetDefaults();
    script.LoadPalette(QString());
    if (!script.Save(QString::fromStdString(*file))) {
        err << "glimmerset-cli new: cannot write '" << *file << "'\n";
        return kExitFailure;
    }
    return kExitOk;
}

int RunCheck(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    ParsedOptions options;
    std::string problem;
    if (!ParseOptions(args, {}, options, problem)) {
        return Usage(err, "check", problem);
    }
    if (options.help) {
        out << kCheckUsage;
        return kExitOk;
    }
    if (options.positional.size() != 1) {
        return Usage(err, "check", options.positional.empty() ? "missing SCRIPT" : "too many arguments");
    }
    const std::string& path = options.positional.front();
    CFractalScript script;
    if (!script.Load(QString::fromStdString(path))) {
        err << "glimmerset-cli check: " << path << ": " << script.GetLastError() << '\n';
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
