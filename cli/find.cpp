// find: the nucleus, periodic point or Misiurewicz point of lowest period in a view.
#include "cli.h"
#include "options.h"
#include "overrides.h"
#include "renderreport.h"

#include "exactview.h"
#include "featuresearch.h"
#include "picturedocument.h"
#include "signalcleanup.h"

#include <QTemporaryDir>

#include <cstdlib>
#include <ostream>

namespace {

constexpr const char* kFindUsage = QT_TRANSLATE_NOOP("glimmerset-cli",
    "Usage: glimmerset-cli find SCRIPT [--near RE,IM] [--width W] [--misiurewicz]\n"
    "                           [--max-period N] [--json] [CHANGES]\n"
    "\n"
    "Finds, by Newton's method in the precision the view needs, the feature of lowest period in the\n"
    "square view of side W around RE,IM (by default the view of SCRIPT, - for standard input: its\n"
    "centre and its plane width): for an iteration formula that reads z0 the nucleus (a point whose\n"
    "orbit, started as a pixel's with z = z0 = the point, comes back to it), for one that does not a\n"
    "periodic point, or with --misiurewicz the Misiurewicz point of lowest preperiod + period (z after\n"
    "preperiod + period runs equals z after preperiod runs). The derivatives come from the formula\n"
    "itself, so any formula works; where it is not complex-differentiable (abs, arg, conj, real,\n"
    "imag, norm, the suffix i) Newton's method uses the real 2 x 2 Jacobian.\n"
    "Prints the period, the position to the precision it was found to, a size estimate (about the\n"
    "radius of what lies there) and a --center and --width pair that frames it:\n"
    "\n"
    "  period 3\n"
    "  re -1.75487766624669276004950889924666721\n"
    "  im 0\n"
    "  size 0.0190355\n"
    "  --center -1.75487766624669276004950889924666721,0 --width 0.09518\n"
    "\n"
    "A Misiurewicz point adds a line \"preperiod Q\" (runs before its orbit enters the cycle).\n"
    "\n"
    "Options:\n"
    "  --near RE,IM        the middle of the view searched (decimals of any length and exponent)\n"
    "  --width W           the side of the view searched\n"
    "  --misiurewicz       find a Misiurewicz point\n"
    "  --max-period N      the longest period (preperiod + period) tried, 1 to 1000000; by default\n"
    "                      10000, with --misiurewicz 1000\n"
    "  --json              print one JSON line: {\"period\": P, \"re\": \"...\", \"im\": \"...\",\n"
    "                      \"size\": \"...\", \"center\": \"RE,IM\", \"width\": \"...\"}, decimals as\n"
    "                      texts, with \"preperiod\": Q for a Misiurewicz point\n"
    "  -h, --help          show this help and exit\n"
    "  -V, --version       show the version and exit\n"
    "\n"
    "%s"
    "\n"
    "The changes apply to SCRIPT before the search: its formulas, constants and limit are searched,\n"
    "and --center and --width make the view whose centre and width --near and --width default to\n"
    "(--width is the same option: the side searched is the view's width).\n"
    "\n"
    "Exit status: 0 when a feature was found, 1 when none was (up to the longest period, or the\n"
    "orbit of the view's centre escaped first), the script does not load or a change fails, 2 on a\n"
    "usage error.\n");

int Usage(std::ostream& err, std::string_view problem) { return CommandUsage(err, "find", problem); }

std::string FindUsage()
{
    const std::string text = HelpText(kFindUsage);
    const size_t at = text.find("%s");
    return std::string(text.substr(0, at)).append(HelpText(kOverrideHelp)).append(text.substr(at + 2));
}

struct FindJob {
    std::string script;
    std::optional<std::string> near, width;
    FeatureRequest request;
    bool json { false };
    ScriptOverrides overrides;
};

std::optional<int> ReadFindJob(const CCommandOptions& options, FindJob& job, std::ostream& err)
{
    const std::vector<std::string> positional = options.Positional();
    if (positional.size() != 1) {
        return Usage(err,
            positional.empty() ? Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "missing SCRIPT"))
                               : Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "too many arguments")));
    }
    job.script = positional.front();
    std::string problem;
    if ((job.near = options.Value(QStringLiteral("near")))) {
        Complex point;
        if (!ReadPlanePoint(*job.near, "--near", point, job.request.re, job.request.im, problem)) {
            return Usage(err, problem);
        }
    }
    if ((job.width = options.Value(QStringLiteral("width")))) {
        if (const ViewNumberError error = CheckViewScale(*job.width); error != ViewNumberError::None) {
            return Usage(err, ViewNumberProblem(error, "'--width'", *job.width));
        }
        job.request.width = *job.width;
    }
    if (const std::optional<std::string> most = options.Value(QStringLiteral("max-period"))) {
        char* end = nullptr;
        const long n = std::strtol(most->c_str(), &end, 10);
        if (most->empty() || *end != '\0' || n < 1 || n > kMostMaxPeriod) {
            return Usage(err,
                Tr(QT_TRANSLATE_NOOP(
                       "glimmerset-cli", "'--max-period' needs a whole number from 1 to %1, not '%2'"),
                    { std::to_string(kMostMaxPeriod), *most }));
        }
        job.request.maxPeriod = static_cast<int>(n);
    }
    job.request.kind
        = options.Has(QStringLiteral("misiurewicz")) ? FeatureKind::Misiurewicz : FeatureKind::Periodic;
    job.json = options.Has(QStringLiteral("json"));
    if (!ReadOverrides(options, job.overrides, problem)) {
        return Usage(err, problem);
    }
    return std::nullopt;
}

// The script's own view where the command line leaves the middle or the width out.
void FillFromView(const CPictureDocument& script, FindJob& job)
{
    const Picture picture = script.TakeSnapshot();
    const PlaneView view = picture.view;
    const mpfr_prec_t bits = ViewBits(view);
    if (!job.near) {
        BigFloat x(bits), y(bits);
        CentreOf(view, picture.imageWidth, picture.imageHeight, bits, x, y);
        job.request.re = ShortestText(x);
        job.request.im = ShortestText(y);
    }
    if (!job.width) {
        const PreciseView precise = PreciseViewOf(view, bits);
        job.request.width = ShortestText(precise.ratio * static_cast<double>(picture.imageWidth));
    }
}

void Print(const FeatureAnswer& answer, bool json, std::ostream& out)
{
    const std::string centre = answer.re + "," + answer.im;
    if (json) {
        out << "{\"period\": " << answer.period;
        if (answer.preperiod > 0) {
            out << ", \"preperiod\": " << answer.preperiod;
        }
        out << ", \"re\": " << JsonString(answer.re) << ", \"im\": " << JsonString(answer.im)
            << ", \"size\": " << JsonString(answer.size) << ", \"center\": " << JsonString(centre)
            << ", \"width\": " << JsonString(answer.width) << "}\n";
        return;
    }
    out << "period " << answer.period << '\n';
    if (answer.preperiod > 0) {
        out << "preperiod " << answer.preperiod << '\n';
    }
    out << "re " << answer.re << "\nim " << answer.im << "\nsize " << answer.size << "\n--center " << centre
        << " --width " << answer.width << '\n';
}

} // namespace

int RunFind(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    // --width is the view's width among the changes and the side searched: one option, one meaning.
    CCommandOptions options(WithOverrideOptions({ Valued({ QStringLiteral("near") }, QStringLiteral("RE,IM")),
        Flag({ QStringLiteral("misiurewicz") }),
        Valued({ QStringLiteral("max-period") }, QStringLiteral("N")), Flag({ QStringLiteral("json") }) }));
    std::string problem;
    if (!options.Parse(args, problem)) {
        return Usage(err, problem);
    }
    if (HandleHelpOrVersion(options, FindUsage(), out)) {
        return kExitOk;
    }
    FindJob job;
    if (const std::optional<int> exit = ReadFindJob(options, job, err)) {
        return *exit;
    }
    QTemporaryDir dir;
    const CRemovedOnSignal cleanup(dir.path(), CRemovedOnSignal::Kind::Folder);
    CPictureDocument script;
    if (!LoadScriptArgument("find", job.script, dir, script, err)) {
        return kExitFailure;
    }
    if (int code = kExitOk; !ApplyCommandOverrides("find", job.script, job.overrides, script, code, err)) {
        return code;
    }
    FillFromView(script, job);
    const FeatureAnswer answer = FindViewFeature(script.GetIterFormula(), job.request);
    switch (answer.outcome) {
    case FeatureOutcome::Found: Print(answer, job.json, out); return out.flush() ? kExitOk : kExitFailure;
    case FeatureOutcome::NoVariable:
        err << "glimmerset-cli find: " << job.script << ": " << Shown("绘制失败！错误代码[4]") << '\n';
        return kExitFailure;
    default:
        err << "glimmerset-cli find: "
            << Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "%1: no feature of period up to %2 in the view"),
                   { job.script,
                       std::to_string(job.request.maxPeriod > 0               ? job.request.maxPeriod
                               : job.request.kind == FeatureKind::Misiurewicz ? kDefaultMaxMisiurewicz
                                                                              : kDefaultMaxPeriod) })
            << '\n';
        return kExitFailure;
    }
}
