#pragma once

#include <string>

struct ExportReport;

// What render shows while it works and reports when it is done.

// The progress bar: one line on standard error, redrawn in place; ClearProgress blanks it.
void ShowProgress(double progress, double elapsed);
void ClearProgress();

// A JSON string: quotes, backslashes and control characters escaped; text that is not UTF-8 is
// replaced, so that the line always parses.
std::string JsonString(const std::string& text);

// --json's line of a picture that was never rendered: outcome ("script-failed", "save-failed"),
// message and path.
std::string JsonFailure(const std::string& outcome, const std::string& message, const std::string& path);

// --json's line: the outcome, the message, the path, the size and the timings as one JSON object.
std::string JsonReport(const ExportReport& report, const std::string& message, const std::string& path);

// A picture of a render into a folder, as a JSON line: JsonReport's with the script named, or the
// reason the script was never rendered.
std::string BatchJson(const std::string& script, const std::string& path, const std::string* reportLine,
    const std::string& problem);
