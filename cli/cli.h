#pragma once

#include <iosfwd>
#include <string>
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
class QTemporaryDir;
class QString;

// --help and --version of a command: prints what was asked for and returns true.
bool HandleHelpOrVersion(const CCommandOptions& options, const char* usage, std::ostream& out);

// A script argument as a file: "-" reads standard input into a file in dir, stopping at the size a
// script file may have. Returns false, with the reason on err, when standard input cannot be read or
// is longer than that.
bool ScriptFile(const char* command, const std::string& argument, QTemporaryDir& dir, QString& path,
    std::ostream& err);

// Copies a file to a stream (what "-o -" writes to standard output).
bool CopyFileTo(const QString& path, std::ostream& out);

// The commands, each with its arguments after the command name.
int RunEval(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunNew(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunCheck(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunRender(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
