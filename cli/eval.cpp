#include "cli.h"
#include "options.h"

#include "batchformula.h"
#include "formula.h"
#include "numbertext.h"
#include "picture.h"

#include <ostream>
#include <string_view>
#include <utility>

namespace {

constexpr const char* kEvalUsage = QT_TRANSLATE_NOOP("glimmerset-cli",
    "Usage: glimmerset-cli eval [--set NAME=RE[,IM]]... [--runs N] [--code] [--batch] [--] FORMULA\n"
    "\n"
    "Compiles FORMULA, stores each --set value into the variable or named constant NAME, runs the\n"
    "formula N times (default 1) and prints each result as its real and imaginary part.\n"
    "\n"
    "Options:\n"
    "  --set NAME=RE[,IM]  store a value before the first run (may be repeated)\n"
    "  --runs N            run the formula N times\n"
    "  --code              first print the compiled instructions, one 'DEST OPCODE SOURCE' a line\n"
    "  --batch             first print the program the batched renderer runs, on one line\n"
    "  --                  end of options: the next argument is the formula, even if it begins with '-'\n"
    "  -h, --help          show this help and exit\n"
    "  -V, --version       show the version and exit\n"
    "\n"
    "Exit status: 0 on success, 1 when the formula does not compile, 2 on a usage error.\n");

int Usage(std::ostream& err, std::string_view problem) { return CommandUsage(err, "eval", problem); }

// The values of --set NAME=RE[,IM], in the order given; false with the problem when one is malformed.
bool ReadSets(const std::vector<std::string>& values, std::vector<std::pair<std::string, Complex>>& sets,
    std::string& problem)
{
    for (const std::string& value : values) {
        const size_t eq = value.find('=');
        Complex number;
        if (eq == 0 || eq == std::string::npos
            || !ParseComplex(std::string_view(value).substr(eq + 1), number)) {
            problem
                = Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "'--set' needs NAME=RE[,IM], not '%1'"), { value });
            return false;
        }
        sets.emplace_back(value.substr(0, eq), number);
    }
    return true;
}

} // namespace

int RunEval(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    CCommandOptions options({ Valued({ QStringLiteral("set") }, QStringLiteral("NAME=RE[,IM]")),
        Valued({ QStringLiteral("runs") }, QStringLiteral("N")), Flag({ QStringLiteral("code") }),
        Flag({ QStringLiteral("batch") }) });
    std::string problem;
    if (!options.Parse(args, problem)) {
        if (options.HadUnknownOption()) {
            problem = Tr(
                QT_TRANSLATE_NOOP("glimmerset-cli", "%1 (put '--' before a formula that begins with '-')"),
                { problem });
        }
        return Usage(err, problem);
    }
    if (HandleHelpOrVersion(options, HelpText(kEvalUsage) + FormulaErrorHelp(), out)) {
        return kExitOk;
    }
    const std::vector<std::string> positional = options.Positional();
    if (positional.empty()) {
        return Usage(err, Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "missing FORMULA")));
    }
    if (positional.size() > 1) {
        return Usage(err, Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "too many arguments")));
    }
    long long runs = 1;
    if (const std::optional<std::string> value = options.Value(QStringLiteral("runs"));
        value && !ParseCount(*value, runs)) {
        return Usage(err,
            Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "'--runs' needs a whole number of at least 0, not '%1'"),
                { *value }));
    }
    std::vector<std::pair<std::string, Complex>> sets;
    if (!ReadSets(options.Values(QStringLiteral("set")), sets, problem)) {
        return Usage(err, problem);
    }
    const bool printCode = options.Has(QStringLiteral("code"));
    const std::string* formulaText = &positional.front();

    CFormula formula;
    std::string message;
    CompileDiagnostic where;
    if (const int code = formula.Compile(*formulaText, message, &where); code != kCompileOk) {
        // "error N:" stays as it is for programs that read the code; the message is shown as the window
        // shows it.
        err << "error " << code << ": " << Shown(message) << '\n';
        PrintFormulaErrorDetail({ FormulaKind::None, message, where, *formulaText }, err);
        return kExitFailure;
    }
    if (printCode) {
        out << formula.Dump(CFormula::DumpLayout::Lines);
    }
    if (options.Has(QStringLiteral("batch"))) {
        out << CBatchFormula(formula).Dump() << '\n';
    }
    for (const auto& [name, value] : sets) {
        if (const int slot = formula.FindVariable(name); slot >= 0) {
            formula.SetVariable(slot, value);
        } else if (const int k = formula.FindConstant(name); k >= 0) {
            formula.SetConstant(k, value);
        } else {
            err << "glimmerset-cli eval: "
                << Tr(QT_TRANSLATE_NOOP(
                          "glimmerset-cli", "the formula has no variable or constant named '%1'"),
                       { name })
                << '\n';
            return kExitUsage;
        }
    }
    for (long long run = 0; run < runs; ++run) {
        const Complex result = formula.Run();
        out << FormatG17(result.re) << ' ' << FormatG17(result.im) << '\n';
    }
    return kExitOk;
}
