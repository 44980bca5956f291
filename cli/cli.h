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

// The commands, each with its arguments after the command name.
int RunEval(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunNew(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunCheck(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunRender(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
