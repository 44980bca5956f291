#include "overrides.h"

#include "cli.h"
#include "options.h"

#include "fixedlimits.h"
#include "numbertext.h"
#include "picturedocument.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <limits>

const char* const kOverrideHelp = QT_TRANSLATE_NOOP("glimmerset-cli",
    "Changes to the script (applied in this order, each through the script's own setter):\n"
    "  --formula KIND=TEXT   replace a formula; KIND is iteration, termination or colour\n"
    "  --const NAME=RE[,IM]  set a named constant of the iteration formula (may be repeated)\n"
    "  --palette FILE        use the palette image FILE (resets the mapping, as in the window)\n"
    "  --mapping X0,Y0,DX,DY,SIN,COS,STRETCH\n"
    "                        set the seven numbers of the palette mapping\n"
    "  --iterations N        set the iteration limit, 1 to 1000000000 (brought into that range,\n"
    "                        with a warning); above 10000 the script file keeps 10000 on its\n"
    "                        usual line and N on a line of its own\n"
    "  --center RE,IM        move the view's centre to this plane point\n"
    "  --width W             show W plane units across, keeping the centre and the proportions\n"
    "                        (RE, IM and W: decimals of any length and exponent, such as 1e-1000;\n"
    "                        a view deeper than doubles hold keeps them exactly)\n");

namespace {

// A decimal of any length and exponent whose nearest double is finite: the double, the text for the
// exact view. Numbers that doubles read keep the double they always gave.
bool ParseDecimal(std::string_view text, double& value, std::string& exact)
{
    bool ok = false;
    const BigFloat precise = BigFloat::Parse(text, 64, &ok);
    if (!ok) {
        return false;
    }
    if (!ParseDouble(text, value)) {
        value = precise.ToDouble();
    }
    exact = std::string(text.starts_with('+') ? text.substr(1) : text);
    return std::isfinite(value);
}

// Several finite numbers separated by commas, exactly count of them.
bool ParseNumbers(std::string_view text, double* values, int count)
{
    for (int k = 0; k < count; ++k) {
        const size_t comma = k + 1 < count ? text.find(',') : std::string_view::npos;
        if ((k + 1 < count && comma == std::string_view::npos)
            || !ParseDouble(text.substr(0, comma), values[k]) || !std::isfinite(values[k])) {
            return false;
        }
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    }
    return true;
}

// A whole number with an optional sign, saturated to long long: the script clamps it afterwards,
// so 99999999999999999999 is as far out of range as 20000.
bool ParseWhole(std::string_view text, long long& value)
{
    const bool negative = text.starts_with('-');
    if (negative || text.starts_with('+')) {
        text.remove_prefix(1);
    }
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) {
        return false;
    }
    unsigned long long magnitude = 0;
    if (std::from_chars(text.data(), text.data() + text.size(), magnitude).ec != std::errc()
        || magnitude > static_cast<unsigned long long>(std::numeric_limits<long long>::max())) {
        magnitude = static_cast<unsigned long long>(std::numeric_limits<long long>::max());
    }
    value = negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
    return true;
}

std::string ConstantNames(const CFormula& formula)
{
    std::string names;
    for (int k = 0; k < formula.GetConstantCount(); ++k) {
        names += (k ? ", " : "") + formula.GetConstantName(k);
    }
    return names.empty() ? Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "it has none"))
                         : Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "its constants: %1"), { names });
}

// --center and --width, each number held to the one check of a view's numbers.
bool ReadViewOverrides(const CCommandOptions& options, ScriptOverrides& overrides, std::string& problem)
{
    const auto fail = [&problem](std::string text) {
        problem = std::move(text);
        return false;
    };
    if (const std::optional<std::string> value = options.Value(QStringLiteral("center"))) {
        Complex center;
        if (!ReadPlanePoint(
                *value, "--center", center, overrides.centerReText, overrides.centerImText, problem)) {
            return false;
        }
        overrides.center = center;
    }
    if (const std::optional<std::string> value = options.Value(QStringLiteral("width"))) {
        // Any width above 0, also below the doubles (1e-1000): the view then keeps it exactly.
        if (const ViewNumberError error = CheckViewScale(*value); error != ViewNumberError::None) {
            return fail(ViewNumberProblem(error, "'--width'", *value));
        }
        double width = 0.0;
        ParseDecimal(*value, width, overrides.widthText);
        overrides.width = width;
    }
    return true;
}

// The view of --center and --width: doubles while neither the script's view nor the new one is deeper
// than doubles hold, the typed decimals in MPFR otherwise. On a view a script cannot hold returns
// false with the problem.
bool OverriddenView(
    const ScriptOverrides& overrides, const CPictureDocument& script, PlaneView& result, std::string& problem)
{
    const int w = script.GetImageWidth();
    const int h = script.GetImageHeight();
    const PlaneView old = script.GetView();
    const double oldRatio = old.ratio;
    const Complex center = overrides.center.value_or(
        Complex { old.offsetX + w * oldRatio / 2, old.offsetY + h * oldRatio / 2 });
    const double ratio = overrides.width ? *overrides.width / w : oldRatio;
    const double offsetX = center.re - w * ratio / 2;
    const double offsetY = center.im - h * ratio / 2;
    const bool doubles
        = ratio > 0.0 && std::isfinite(ratio) && std::isfinite(offsetX) && std::isfinite(offsetY);
    if (doubles && old.exact.Empty() && !IsDeepView(old, w, h)
        && !IsDeepView(PlaneView { offsetX, offsetY, ratio, {} }, w, h)) {
        result = { offsetX, offsetY, ratio, {} };
        return true;
    }
    // Deeper than doubles hold: the typed texts and the script's exact view, in MPFR.
    const auto view = [&](mpfr_prec_t bits) {
        BigFloat x(bits), y(bits);
        CentreOf(old, w, h, bits, x, y);
        if (overrides.center) {
            x = BigFloat::Parse(overrides.centerReText, bits, nullptr);
            y = BigFloat::Parse(overrides.centerImText, bits, nullptr);
        }
        const BigFloat r = overrides.width ? BigFloat::Parse(overrides.widthText, bits, nullptr) / w
                                           : PreciseViewOf(old, bits).ratio;
        return ViewAroundCentre(x, y, r, w, h);
    };
    result = view(std::max(ViewBits(old), ViewBits(view(64))));
    // The width a script of this size divides into pixels may go below the deepest ratio.
    if (!result.exact.Empty() && CheckViewScale(result.exact.ratio) == ViewNumberError::TooDeep) {
        problem = ViewNumberProblem(ViewNumberError::TooDeep, "'--width'", overrides.widthText);
        return false;
    }
    if (!std::isfinite(result.offsetX) || !std::isfinite(result.offsetY) || !(result.ratio > 0.0)) {
        problem = Tr(QT_TRANSLATE_NOOP(
            "glimmerset-cli", "the view of '--center' and '--width' lies beyond the numbers a script holds"));
        return false;
    }
    return true;
}

// The constants named on the command line, by their index in the iteration formula the edit leaves
// (its own when the edit brings none); false with the unknown name when one is not there.
bool ConstantIndices(
    const ScriptOverrides& overrides, const CPictureDocument& script, PictureEdit& edit, std::string& unknown)
{
    CFormula iter = script.GetIterFormula();
    std::string error;
    if (edit.iterText && iter.Compile(*edit.iterText, error) != kCompileOk) {
        return true; // the edit stops at the formula, which says why
    }
    for (const auto& [name, value] : overrides.constants) {
        const int k = iter.FindConstant(name);
        if (k < 0) {
            unknown = name;
            return false;
        }
        edit.constants.emplace_back(k, value);
    }
    return true;
}

} // namespace

bool ReadPlanePoint(const std::string& value, const std::string& option, Complex& point, std::string& reText,
    std::string& imText, std::string& problem)
{
    const size_t comma = value.find(',');
    if (comma == std::string::npos) {
        problem = Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "'%1' needs RE,IM, not '%2'"), { option, value });
        return false;
    }
    std::string* const texts[] = { &reText, &imText };
    double* const parts[] = { &point.re, &point.im };
    for (int k = 0; k < 2; ++k) {
        const std::string part = k == 0 ? value.substr(0, comma) : value.substr(comma + 1);
        if (const ViewNumberError error = CheckViewCoordinate(part); error != ViewNumberError::None) {
            problem = ViewNumberProblem(error, "'" + option + "'", part);
            return false;
        }
        ParseDecimal(part, *parts[k], *texts[k]);
    }
    return true;
}

std::string ViewNumberProblem(ViewNumberError error, const std::string& subject, const std::string& value)
{
    switch (error) {
    case ViewNumberError::None: return {};
    case ViewNumberError::NotANumber:
        return Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "%1 needs a number, not '%2'"), { subject, value });
    case ViewNumberError::NotPositive:
        return Tr(
            QT_TRANSLATE_NOOP("glimmerset-cli", "%1 needs a number above 0, not '%2'"), { subject, value });
    case ViewNumberError::OutOfRange:
        return Tr(QT_TRANSLATE_NOOP(
                      "glimmerset-cli", "%1 %2 is beyond the largest number a script holds (about 1.8e308)"),
            { subject, value });
    case ViewNumberError::TooDeep:
        return Tr(QT_TRANSLATE_NOOP(
                      "glimmerset-cli", "%1 %2 is deeper than the deepest view supported (about 1e-315000)"),
            { subject, value });
    }
    return {};
}

std::string SineWarning(double given, double used)
{
    return Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "the mapping's sine %1 is outside [-1, 1]; %2 is used"),
        { FormatShortest(given), FormatShortest(used) });
}

std::string RangeWarning(const std::string& what, long long given, int min, int max, int used)
{
    return Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "%1 %2 is outside %3 to %4; %5 is used"),
        { what, std::to_string(given), std::to_string(min), std::to_string(max), std::to_string(used) });
}

bool ScriptOverrides::Empty() const
{
    return !iterationFormula && !terminationFormula && !colourFormula && constants.empty() && !iterations
        && !center && !width && !palette && !mapping;
}

std::vector<QCommandLineOption> OverrideOptions()
{
    return { Valued({ QStringLiteral("formula") }, QStringLiteral("KIND=TEXT")),
        Valued({ QStringLiteral("const") }, QStringLiteral("NAME=RE[,IM]")),
        Valued({ QStringLiteral("palette") }, QStringLiteral("FILE")),
        Valued({ QStringLiteral("mapping") }, QStringLiteral("X0,Y0,DX,DY,SIN,COS,STRETCH")),
        Valued({ QStringLiteral("iterations") }, QStringLiteral("N")),
        Valued({ QStringLiteral("center") }, QStringLiteral("RE,IM")),
        Valued({ QStringLiteral("width") }, QStringLiteral("W")) };
}

std::vector<QCommandLineOption> WithOverrideOptions(std::vector<QCommandLineOption> options)
{
    for (QCommandLineOption& option : OverrideOptions()) {
        options.push_back(std::move(option));
    }
    return options;
}

bool ReadIterationsOption(
    const CCommandOptions& options, std::optional<long long>& iterations, std::string& problem)
{
    if (const std::optional<std::string> value = options.Value(QStringLiteral("iterations"))) {
        long long count = 0;
        if (!ParseWhole(*value, count)) {
            problem = Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "'--iterations' needs a whole number, not '%1'"),
                { *value });
            return false;
        }
        iterations = count;
    }
    return true;
}

int ExtendedLimitOf(long long given, std::string& warning)
{
    const int limit = ClampToRange(given, kMinIterations, kMaxExtendedIterations);
    warning = limit == given ? std::string()
                             : EditWarningText({ EditWarning::Field::Iterations, given, limit, 0.0, 0.0 });
    return limit;
}

bool ReadOverrides(const CCommandOptions& options, ScriptOverrides& overrides, std::string& problem)
{
    const auto fail = [&problem](std::string text) {
        problem = std::move(text);
        return false;
    };
    for (const std::string& value : options.Values(QStringLiteral("formula"))) {
        const size_t eq = value.find('=');
        const std::string kind = value.substr(0, eq);
        std::optional<std::string>* const target = kind == "iteration" ? &overrides.iterationFormula
            : kind == "termination"                                    ? &overrides.terminationFormula
            : kind == "colour"                                         ? &overrides.colourFormula
                                                                       : nullptr;
        if (eq == std::string::npos || target == nullptr) {
            return fail(Tr(QT_TRANSLATE_NOOP("glimmerset-cli",
                               "'--formula' needs iteration=TEXT, termination=TEXT or colour=TEXT, not '%1'"),
                { value }));
        }
        *target = value.substr(eq + 1);
    }
    for (const std::string& value : options.Values(QStringLiteral("const"))) {
        const size_t eq = value.find('=');
        Complex number;
        if (eq == 0 || eq == std::string::npos
            || !ParseComplex(std::string_view(value).substr(eq + 1), number) || !std::isfinite(number.re)
            || !std::isfinite(number.im)) {
            return fail(Tr(QT_TRANSLATE_NOOP("glimmerset-cli",
                               "'--const' needs NAME=RE[,IM] with finite numbers, not '%1'"),
                { value }));
        }
        overrides.constants.emplace_back(value.substr(0, eq), number);
    }
    if (!ReadIterationsOption(options, overrides.iterations, problem)) {
        return false;
    }
    if (!ReadViewOverrides(options, overrides, problem)) {
        return false;
    }
    if (const std::optional<std::string> value = options.Value(QStringLiteral("mapping"))) {
        double m[7];
        if (!ParseNumbers(*value, m, 7)) {
            return fail(
                Tr(QT_TRANSLATE_NOOP("glimmerset-cli",
                       "'--mapping' needs seven finite numbers X0,Y0,DX,DY,SIN,COS,STRETCH, not '%1'"),
                    { *value }));
        }
        overrides.mapping = PaletteMapping { m[0], m[1], m[2], m[3], m[4], m[5], m[6] };
    }
    if (const std::optional<std::string> value = options.Value(QStringLiteral("palette"))) {
        // A name a script file cannot hold would make the script unwritable, as the window refuses
        // such names too.
        const QString name = QString::fromStdString(*value);
        if (value->empty()) {
            return fail(Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "'--palette' needs a file")));
        }
        if (const QString why = ScriptNameProblem(name); !why.isEmpty()) {
            return fail(
                Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "'--palette %1' cannot be named in a script file: %2"),
                    { *value, why.toStdString() }));
        }
        overrides.palette = QFileInfo(name).absoluteFilePath();
        overrides.paletteRelative = QDir::isRelativePath(name);
    }
    return true;
}

std::string EditWarningText(const EditWarning& warning)
{
    switch (warning.field) {
    case EditWarning::Field::Sine: return SineWarning(warning.sineGiven, warning.sineUsed);
    case EditWarning::Field::Iterations:
        return RangeWarning(
            "--iterations", warning.given, kMinIterations, kMaxExtendedIterations, warning.used);
    case EditWarning::Field::ImageWidth:
    case EditWarning::Field::ImageHeight:
    case EditWarning::Field::Antialias: break; // no option sets them
    }
    return {};
}

OverrideResult ApplyOverrides(const ScriptOverrides& overrides, CPictureDocument& script)
{
    OverrideResult result;
    PictureEdit edit;
    edit.iterText = overrides.iterationFormula;
    edit.termText = overrides.terminationFormula;
    edit.colorText = overrides.colourFormula;
    // What comes after a failure is left out, as the script's setters would have stopped there.
    std::string unknown;
    std::string viewProblem;
    if (!ConstantIndices(overrides, script, edit, unknown)) {
        script.Apply(edit);
        result.status = OverrideStatus::Usage;
        result.message
            = Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "the iteration formula has no constant named '%1' (%2)"),
                { unknown, ConstantNames(script.GetIterFormula()) });
        return result;
    }
    std::string problem;
    if (overrides.palette) {
        // Stored as the script stores palettes: relative to its own folder when typed relative.
        DecodedPalette decoded = DecodeNamedPalette(*overrides.palette, QString());
        problem = decoded.problem.toStdString();
        decoded.name = overrides.paletteRelative
            ? QDir(script.GetScriptFolder()).relativeFilePath(*overrides.palette)
            : *overrides.palette;
        // As the window's palette import: an image that does not decode changes nothing.
        edit.palette = ChoosePalette(std::move(decoded), PaletteFallback::None);
    }
    edit.mapping = overrides.mapping;
    edit.maxIter = overrides.iterations;
    PlaneView view;
    const bool viewRead
        = !(overrides.center || overrides.width) || OverriddenView(overrides, script, view, viewProblem);
    if ((overrides.center || overrides.width) && viewRead) {
        edit.view = view;
    }
    const EditResult applied = script.Apply(edit);
    if (applied.error) {
        result.status = OverrideStatus::Failed;
        result.detail = FormulaErrorLines(applied.error);
        result.message = applied.error.message;
        return result;
    }
    if (applied.paletteFailed) {
        result.status = OverrideStatus::Failed;
        result.message = "载入调色板失败! (" + overrides.palette->toStdString() + ": "
            + (problem.empty() ? Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "unreadable")) : problem) + ")";
        return result;
    }
    // The window's path for a named constant: the last one named becomes the current one.
    if (!edit.constants.empty()) {
        while (script.GetCurrentConstantIndex() != edit.constants.back().first) {
            script.NextConstant();
        }
    }
    if (edit.palette) {
        script.SetModified();
    }
    for (const EditWarning& warning : applied.warnings) {
        result.warnings.push_back(EditWarningText(warning));
    }
    if (!viewRead) {
        result.status = OverrideStatus::Usage;
        result.message = std::move(viewProblem);
    }
    return result;
}
