#pragma once

#include "complex.h"
#include "exactview.h"
#include "mapping.h"
#include "pictureedit.h"

#include <QCommandLineOption>
#include <QString>

#include <optional>
#include <string>
#include <utility>
#include <vector>

class CCommandOptions;
class CPictureDocument;

// Changes to a script given on the command line (render's and set's --const, --iterations, --center,
// --width, --palette, --mapping and --formula), read once and applied to any number of scripts.
// Every value goes through the script's own setters, so that a render with overrides draws exactly
// what set with the same overrides writes.
struct ScriptOverrides {
    std::optional<std::string> iterationFormula;
    std::optional<std::string> terminationFormula;
    std::optional<std::string> colourFormula;
    std::vector<std::pair<std::string, Complex>> constants; // in command-line order
    std::optional<long long> iterations;                    // as given: the script clamps it
    std::optional<Complex> center;
    std::optional<double> width;
    // The same as typed, decimals of any length and exponent: the view deeper than doubles hold.
    std::string centerReText;
    std::string centerImText;
    std::string widthText;
    // --palette: the file, made absolute against the working folder, and whether it was typed as a
    // relative name (the script then stores it relative to its own folder).
    std::optional<QString> palette;
    bool paletteRelative { false };
    std::optional<PaletteMapping> mapping;

    bool Empty() const;
};

// The options above, for a command's option list.
std::vector<QCommandLineOption> OverrideOptions();
// A command's own options followed by the options above.
std::vector<QCommandLineOption> WithOverrideOptions(std::vector<QCommandLineOption> options);

// The help lines of those options, in the manner of the commands' usage texts (English: shown
// through HelpText).
extern const char* const kOverrideHelp;

// Why a number of a view was refused (CheckViewScale, CheckViewCoordinate), as the tool says it for
// every reader: subject names the option or key ("'--width'"), value is the number as given.
std::string ViewNumberProblem(ViewNumberError error, const std::string& subject, const std::string& value);

// A plane point "RE,IM" of an option (--center, probe's --at): the doubles, and the decimals as typed
// (any length and exponent), each held to the one check of a view's numbers. On a value that does not
// read returns false with the problem.
bool ReadPlanePoint(const std::string& value, const std::string& option, Complex& point, std::string& reText,
    std::string& imText, std::string& problem);

// The warnings of values a script brings into its ranges, worded alike by every reader: what is the
// option or key ("--iterations").
std::string SineWarning(double given, double used);
std::string RangeWarning(const std::string& what, long long given, int min, int max, int used);

// --iterations N of render, set and animate: the whole number as given (saturated), for the script to
// bring into 1 to 1000000000. On a value that is not a whole number returns false with the problem.
bool ReadIterationsOption(
    const CCommandOptions& options, std::optional<long long>& iterations, std::string& problem);
// The limit such a number gives, and the warning when it had to be brought into range (else empty).
int ExtendedLimitOf(long long given, std::string& warning);

// The tool's words for a value an edit brought into range.
std::string EditWarningText(const EditWarning& warning);

// Reads the parsed options; on a value that does not parse returns false with the problem.
bool ReadOverrides(const CCommandOptions& options, ScriptOverrides& overrides, std::string& problem);

// What applying the overrides to one script came to.
enum class OverrideStatus {
    Applied,
    Failed, // a formula does not compile or the palette cannot be used: message is the window's text
    Usage,  // the script lacks a constant that is named: message lists the constants it has
};

struct OverrideResult {
    OverrideStatus status { OverrideStatus::Applied };
    std::string message;
    std::string detail;                // a formula's failure: where and what, lines to follow the message
    std::vector<std::string> warnings; // values brought into the script's ranges
};

// Applies the overrides as one edit of the script (pictureedit.h), in its fixed order: formulas (so
// that --const may name a constant a new formula brings), constants, palette (which resets the
// mapping), mapping, iteration limit, view. The first failure stops there; the script is then only
// partly changed.
OverrideResult ApplyOverrides(const ScriptOverrides& overrides, CPictureDocument& script);
