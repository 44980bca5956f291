#include "cli.h"
#include "numbers.h"

#include "formula.h"

#include <ostream>
#include <string_view>
#include <utility>

namespace {

constexpr const char* kEvalUsage
    = "Usage: glimmerset-cli eval [--set NAME=RE[,IM]]... [--runs N] [--code] [--] FORMULA\n"
      "\n"
      "Compiles FORMULA, stores each --set value into the variable or named constant NAME, runs the\n"
      "formula N times (default 1) and prints each result as its real and imaginary part.\n"
      "\n"
      "Options:\n"
      "  --set NAME=RE[,IM]  store a value before the first run (may be repeated)\n"
      "  --runs N            run the formula N times\n"
      "  --code              first print the compiled instructions, one 'DEST OPCODE SOURCE' a line\n"
      "  --                  end of options: the next argument is the formula, even if it begins with '-'\n"
      "  -h, --help          show this help and exit\n"
      "\n"
      "Exit status: 0 on success, 1 when the formula does not compile, 2 on a usage error.\n";

int Usage(std::ostream& err, std::string_view problem)
{
    err << "glimmerset-cli eval: " << problem << "; try 'glimmerset-cli eval --help'\n";
    return kExitUsage;
}

} // namespace

int RunEval(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    std::vector<std::pair<std::string, Complex>> sets;
    long long runs = 1;
    bool printCode = false;
    const std::string* formulaText = nullptr;

    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool optionsEnded = formulaText != nullptr;
        if (!optionsEnded && arg == "--") {
            if (i + 2 != args.size()) {
                return Usage(err, i + 1 == args.size() ? "missing FORMULA after '--'" : "too many arguments");
            }
            formulaText = &args[i + 1];
            break;
        }
        if (optionsEnded) {
            return Usage(err, "too many arguments");
        }
        if (arg == "-h" || arg == "--help") {
            out << kEvalUsage;
            return kExitOk;
        }
        if (arg == "--code") {
            printCode = true;
        } else if (arg == "--set" || arg == "--runs") {
            if (i + 1 == args.size()) {
                return Usage(err, "option '" + arg + "' needs a value");
            }
            const std::string& value = args[++i];
            if (arg == "--runs") {
                if (!ParseCount(value, runs)) {
                    return Usage(err, "'--runs' needs a whole number of at least 0, not '" + value + "'");
                }
                continue;
            }
            const size_t eq = value.find('=');
            Complex number;
            if (eq == 0 || eq == std::string::npos
                || !ParseComplex(std::string_view(value).substr(eq + 1), number)) {
                return Usage(err, "'--set' needs NAME=RE[,IM], not '" + value + "'");
            }
            sets.emplace_back(value.substr(0, eq), number);
        } else if (arg.size() > 1 && arg[0] == '-') {
            return Usage(
                err, "unknown option '" + arg + "' (put '--' before a formula that begins with '-')");
        } else {
            formulaText = &arg;
        }
    }
    if (formulaText == nullptr) {
        return Usage(err, "missing FORMULA");
    }

    CFormula formula;
    std::string message;
    if (const int code = formula.Compile(*formulaText, message); code != kCompileOk) {
        err << "error " << code << ": " << message << '\n';
        return kExitFailure;
    }
    if (printCode) {
        const Instruction* code = formula.GetInstructions();
        for (int i = 0; i < formula.GetInstructionCount(); ++i) {
            out << code[i].destination << ' ' << code[i].opcode << ' ' << code[i].source << '\n';
        }
    }
    for (const auto& [name, value] : sets) {
        if (const int slot = formula.FindVariable(name); slot >= 0) {
            formula.SetVariable(slot, value);
        } else if (const int k = formula.FindConstant(name); k >= 0) {
            formula.SetConstant(k, value);
        } else {
            err << "glimmerset-cli eval: the formula has no variable or constant named '" << name << "'\n";
            return kExitUsage;
        }
    }
    for (long long run = 0; run < runs; ++run) {
        const Complex result = formula.Run();
        out << FormatG17(result.re) << ' ' << FormatG17(result.im) << '\n';
    }
    return kExitOk;
}
