#pragma once

#include <initializer_list>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

// Exit codes of glimmerset-cli.
enum ExitCode : int {
    kExitOk = 0,
    kExitFailure = 1, // the command ran and failed (compile error, load or export failure)
    kExitUsage = 2,   // the command line was wrong, or named something that does not exist
};

// Runs glimmerset-cli with its arguments (without the program name), writing to out and err.
// Everything the program does goes through here, so tests drive it without a process.
int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

class CCommandOptions;
class CPictureDocument;
class QTemporaryDir;
class QString;

// A usage error of a command: the problem and where to find the command's help, on err. Returns
// kExitUsage.
int CommandUsage(std::ostream& err, std::string_view command, std::string_view problem);

// A help text in the shown language. The help texts are written in English, each marked with
// QT_TRANSLATE_NOOP("glimmerset-cli", ...) so that translations/glimmerset-cli_zh_CN.ts carries it;
// main() installs that translation when the shown language is Chinese.
std::string HelpText(const char* text);

// A message of the tool in the shown language: written in English and marked with
// QT_TRANSLATE_NOOP("glimmerset-cli", ...), like the help; each %1 to %9 in it stands for the
// argument of that number, which is not translated (a path, a value, the system's words).
std::string Tr(const char* text, std::initializer_list<std::string_view> args = {});

// A message of the engine (the system's words: "版本不正确", "迭代公式错误:...", an export's outcome)
// in the shown language, as the window shows it.
std::string Shown(const std::string& message);

// --help and --version of a command: prints what was asked for (usage: the help as shown, see
// HelpText) and returns true.
bool HandleHelpOrVersion(const CCommandOptions& options, const std::string& usage, std::ostream& out);

// A script argument as a file: "-" reads standard input into a file in dir, stopping at the size a
// script file may have. Returns false, with the reason on err, when standard input cannot be read or
// is longer than that.
bool ScriptFile(
    const char* command, const std::string& argument, QTemporaryDir& dir, QString& path, std::ostream& err);

// Loads a script argument (through ScriptFile) into script. On failure prints why on err, gives it
// in problem when asked (without the command and the argument) and returns false; a palette warning
// of a script that loads is printed there too.
bool LoadScriptArgument(const char* command, const std::string& argument, QTemporaryDir& dir,
    CPictureDocument& script, std::ostream& err, std::string* problem = nullptr);

// Applies the command line's changes (overrides.h) to a script loaded for command, argument naming
// it in messages: warnings go to err. Returns false when a change fails, with why on err and the exit
// code in code (a usage error for a constant the script lacks).
struct ScriptOverrides;
bool ApplyCommandOverrides(const char* command, const std::string& argument, const ScriptOverrides& overrides,
    CPictureDocument& script, int& code, std::ostream& err);

// Why the last Load of script failed, in the shown language, with the system's reason when the file
// could not be read ("打开文件失败 (No such file or directory)").
std::string LoadFailure(const CPictureDocument& script);

// "cannot write 'PATH': WHY" in the shown language.
std::string CannotWrite(const std::string& path, const std::string& why);

// "warning: TEXT" in the shown language.
std::string Warning(const std::string& warning);

// The lines that follow a formula error's message on err: where and what, in the shown language, and
// the formula's line with the offending text marked; nothing when the compiler found no place.
struct FormulaError;
void PrintFormulaErrorDetail(const FormulaError& error, std::ostream& err);
// What the help of those commands says about it, in the shown language.
std::string FormulaErrorHelp();
std::string FormulaErrorLines(const FormulaError& error);

// Copies a file to a stream (what "-o -" writes to standard output).
bool CopyFileTo(const QString& path, std::ostream& out);

// The commands, each with its arguments after the command name.
int RunEval(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunNew(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunCheck(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunRender(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunSet(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunDump(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// new --from-json: the script a JSON file (or "-") describes, written to target.
int RunNewFromJson(
    const std::string& source, const std::string& target, std::ostream& out, std::ostream& err);
int RunExtract(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunAnimate(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunProbe(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunFind(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
