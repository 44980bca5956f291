// probe: the numbers of one plane point, as a render computes the pixel there.
#include "animate.h"
#include "cli.h"
#include "options.h"
#include "overrides.h"
#include "renderoutput.h"
#include "renderreport.h"
#include "scriptjson.h"

#include "exactview.h"
#include "fractalscript.h"
#include "probe.h"
#include "signalcleanup.h"

#include <QTemporaryDir>

#include <ostream>

namespace {

constexpr const char* kProbeUsage = QT_TRANSLATE_NOOP("glimmerset-cli",
    "Usage: glimmerset-cli probe SCRIPT --at RE,IM [--size WxH] [--fit] [CHANGES]\n"
    "\n"
    "Prints, as one JSON object on one line, the count and the final z of the plane point RE,IM\n"
    "(decimals of any length and exponent, as --center takes them) as a render of SCRIPT (- for\n"
    "standard input) computes the pixel there: for a view that doubles hold, the double renderer's\n"
    "bits at the nearest double; for a deep view, the deep renderer's perturbation against the\n"
    "view's main reference at its centre, or arbitrary precision where that reference cannot take\n"
    "the point. At a pixel's centre it gives what render --data writes for that pixel.\n"
    "\n"
    "  {\"re\": \"0.1\", \"im\": \"-0.2\", \"n\": 43, \"z\": [-43.29538398629965, -39.51419511698013],\n"
    "   \"limit\": 256, \"path\": \"doubles\"}\n"
    "\n"
    "Keys:\n"
    "  re, im   the point as computed, as texts: the nearest double's shortest form, or for a\n"
    "           deep view the decimal at the render's precision\n"
    "  n        the final V_iter_n (the count; the limit where the termination never held)\n"
    "  z        the final z, [real, imaginary]; \"nan\", \"inf\", \"-inf\" and \"-0\" as texts\n"
    "  limit    the iteration limit, V_iter_max\n"
    "  path     \"doubles\", \"perturbation\" or \"precise\": how it was computed\n"
    "  dz, de   the final V_dz, [real, imaginary], and V_de, after z: only for a picture whose\n"
    "           termination or colour formula reads V_dz, V_dzy, V_de or V_dir\n"
    "\n"
    "Options:\n"
    "  --at RE,IM          the plane point\n"
    "  --size WxH          the view of a render at this size (its reference, for a deep view, lies\n"
    "                      at that view's centre), 16 to 4096 a side\n"
    "  --fit               with --size: the view of render --fit\n"
    "  -h, --help          show this help and exit\n"
    "  -V, --version       show the version and exit\n"
    "\n"
    "%s"
    "\n"
    "Exit status: 0 on success, 1 when the script does not load or a change fails, 2 on a usage error.\n");

int Usage(std::ostream& err, std::string_view problem) { return CommandUsage(err, "probe", problem); }

std::string ProbeUsage()
{
    const std::string text = HelpText(kProbeUsage);
    const size_t at = text.find("%s");
    return std::string(text.substr(0, at))
        .append(HelpText(kOverrideHelp))
        .append(text.substr(at + 2))
        .append(FormulaErrorHelp());
}

const char* PathName(ProbePath path)
{
    switch (path) {
    case ProbePath::Doubles: return "doubles";
    case ProbePath::Perturbation: return "perturbation";
    case ProbePath::Precise: return "precise";
    }
    return "";
}

// What the command line asks probe to do.
struct ProbeJob {
    std::string script;
    std::string reText, imText;
    std::optional<std::string> size;
    int width { 0 };
    int height { 0 };
    bool fit { false };
    ScriptOverrides overrides;
};

std::optional<int> ReadProbeJob(const CCommandOptions& options, ProbeJob& job, std::ostream& err)
{
    const std::vector<std::string> positional = options.Positional();
    if (positional.size() != 1) {
        return Usage(err,
            positional.empty() ? Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "missing SCRIPT"))
                               : Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "too many arguments")));
    }
    job.script = positional.front();
    const std::optional<std::string> at = options.Value(QStringLiteral("at"));
    if (!at) {
        return Usage(err, Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "missing '--at RE,IM'")));
    }
    std::string problem;
    Complex point;
    if (!ReadPlanePoint(*at, "--at", point, job.reText, job.imText, problem)) {
        return Usage(err, problem);
    }
    job.size = options.Value(QStringLiteral("size"));
    if (job.size && !ReadSize(*job.size, job.width, job.height, problem)) {
        return Usage(err, problem);
    }
    job.fit = options.Has(QStringLiteral("fit"));
    if (!ReadOverrides(options, job.overrides, problem)) {
        return Usage(err, problem);
    }
    return std::nullopt;
}

// The script with the changes applied, as the picture a render of it shows. False when it cannot be
// had, with the reason on err and the exit code in code.
bool ProbedPicture(const ProbeJob& job, QTemporaryDir& dir, Picture& picture, int& code, std::ostream& err)
{
    code = kExitFailure;
    CFractalScript script;
    if (!LoadScriptArgument("probe", job.script, dir, script, err)) {
        return false;
    }
    if (!ApplyCommandOverrides("probe", job.script, job.overrides, script, code, err)) {
        return false;
    }
    picture = script.TakeSnapshot();
    if (job.size) {
        const ExportView view = ViewAtSize(script, job.width, job.height, job.fit);
        picture.imageWidth = view.width;
        picture.imageHeight = view.height;
        picture.view = view.view;
    }
    return true;
}

} // namespace

int RunProbe(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    CCommandOptions options(WithOverrideOptions({ Valued({ QStringLiteral("at") }, QStringLiteral("RE,IM")),
        Valued({ QStringLiteral("size") }, QStringLiteral("WxH")), Flag({ QStringLiteral("fit") }) }));
    std::string problem;
    if (!options.Parse(args, problem)) {
        return Usage(err, problem);
    }
    if (HandleHelpOrVersion(options, ProbeUsage(), out)) {
        return kExitOk;
    }
    ProbeJob job;
    if (const std::optional<int> exit = ReadProbeJob(options, job, err)) {
        return *exit;
    }
    QTemporaryDir dir;
    const CRemovedOnSignal cleanup(dir.path(), CRemovedOnSignal::Kind::Folder);
    Picture picture;
    int code = kExitOk;
    if (!ProbedPicture(job, dir, picture, code, err)) {
        return code;
    }
    const ProbeResult probe = ProbePoint(picture, job.reText, job.imText);
    if (probe.result != kRenderDone) {
        err << "glimmerset-cli probe: " << Shown("绘制失败！错误代码[" + std::to_string(probe.result) + "]")
            << '\n';
        return kExitFailure;
    }
    out << "{\"re\": " << JsonString(probe.re) << ", \"im\": " << JsonString(probe.im)
        << ", \"n\": " << probe.count << ", \"z\": [" << JsonNumber(probe.last.re) << ", "
        << JsonNumber(probe.last.im) << "]";
    if (probe.derivative) {
        out << ", \"dz\": [" << JsonNumber(probe.dz.re) << ", " << JsonNumber(probe.dz.im)
            << "], \"de\": " << JsonNumber(probe.de);
    }
    out << ", \"limit\": " << picture.maxIter << ", \"path\": \"" << PathName(probe.path) << "\"}\n";
    return out.flush() ? kExitOk : kExitFailure;
}
