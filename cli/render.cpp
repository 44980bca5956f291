#include "animate.h"
#include "cli.h"
#include "npyfile.h"
#include "options.h"
#include "overrides.h"
#include "renderoutput.h"
#include "renderreport.h"

#include "exactview.h"
#include "fixedlimits.h"
#include "fractalscript.h"
#include "language.h"
#include "numbertext.h"
#include "renderpool.h"
#include "signalcleanup.h"
#include "surface.h"
#include "watermarkfile.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <optional>
#include <ostream>
#include <set>

#include <unistd.h>

namespace {

constexpr const char* kRenderUsage = QT_TRANSLATE_NOOP("glimmerset-cli",
    "Usage: glimmerset-cli render SCRIPT -o IMAGE [--size WxH] [--fit] [--scale K] [--no-watermark]\n"
    "                             [--threads N] [--format EXT] [--png-level N] [--aa N]\n"
    "                             [--data FILE.npy] [--json | --quiet] [CHANGES]\n"
    "       glimmerset-cli render SCRIPT... -o FOLDER/ [OPTIONS] [CHANGES]\n"
    "\n"
    "Renders SCRIPT (- for standard input) at its target size into IMAGE, with the watermark in\n"
    "the bottom-right corner. The image format follows IMAGE's extension (png, bmp, jpg, tiff,\n"
    "webp, ppm, ...); '-o -' writes to standard output in the format of --format (default png).\n"
    "With several scripts (into an existing folder, or one given with a final '/'), or an IMAGE\n"
    "that ends in '/', each SCRIPT becomes FOLDER/NAME.EXT (NAME: the script's name without its\n"
    "extension, EXT: --format, default png); the folder is made when missing, and a script that\n"
    "fails does not stop the others.\n"
    "PNG and JPEG pictures carry the script as rendered (without --size and --fit), so that\n"
    "'glimmerset-cli extract' and the window's Open get it back. SCRIPT may be such a picture.\n"
    "\n"
    "Options:\n"
    "  -o, --output IMAGE  the image file (or folder) to write\n"
    "  --size WxH          render the same width of the plane at another size, 16 to 4096 a side\n"
    "  --fit               with --size: keep the view's centre and show all of it, widening the\n"
    "                      shorter side of the plane to the new proportions\n"
    "  --scale K           the same framing at K times the size each way (K = 1 to 16, up to\n"
    "                      65536 a side), for print; PNG and BMP only, written a band of rows at a\n"
    "                      time (a BMP file holds at most 2 GiB); not with --data\n"
    "  --no-watermark      leave the watermark out\n"
    "  --threads N         render on N threads (default: every core)\n"
    "  --format EXT        the image format for '-o -' (png, bmp, ppm, ...); with a file it must\n"
    "                      agree with the file's extension\n"
    "  --png-level N       PNG compression level, 0 (fastest) to 9 (smallest); default 1, the\n"
    "                      fast one\n"
    "  --aa N              anti-alias: N x N samples per pixel, averaged in linear light, 1 to 4\n"
    "                      (default: the script's own setting, 1 unless saved otherwise)\n"
    "  --data FILE.npy     also write every pixel's count and final z as a NumPy file (format\n"
    "                      1.0): shape (height, width), row 0 the picture's top row, fields n\n"
    "                      ('<i8', the final V_iter_n) and z ('<c16', the final z); with --aa above\n"
    "                      1 those of the picture at one sample per pixel, at each pixel's centre;\n"
    "                      a picture that reads V_dz, V_dzy, V_de or V_dir adds dz ('<c16', the\n"
    "                      final V_dz) and de ('<f8', the final V_de)\n"
    "  --json              print what was done as one JSON object on one line instead of the\n"
    "                      outcome (on standard error with '-o -'); one line per picture,\n"
    "                      failures included; a deep view adds deep_references,\n"
    "                      deep_skipped_iterations, deep_rebases, deep_precise_pixels and\n"
    "                      deep_reference_bits\n"
    "  --quiet             print nothing on success\n"
    "  -h, --help          show this help and exit\n"
    "  -V, --version       show the version and exit\n"
    "\n"
    "%s"
    "\n"
    "Progress is shown on standard error when it is a terminal (one line for all pictures).\n"
    "Exit status: 0 on success, 1 when a script does not load, a change fails or an export fails,\n"
    "2 on a usage error (also two scripts of the same name into one folder).\n");

// How often the progress bar is redrawn; the end of the export is waited for, not polled.
constexpr auto kProgressInterval = std::chrono::milliseconds(100);

int Usage(std::ostream& err, std::string_view problem) { return CommandUsage(err, "render", problem); }

std::string RenderUsage()
{
    const std::string text = HelpText(kRenderUsage);
    const size_t at = text.find("%s");
    return std::string(text.substr(0, at))
        .append(HelpText(kOverrideHelp))
        .append(text.substr(at + 2))
        .append(FormulaErrorHelp());
}

// What the command line asks render to do.
struct RenderJob {
    std::vector<std::string> scripts; // SCRIPT..., "-" for standard input
    std::string image;                // IMAGE, "-" for standard output, or the folder
    bool toFolder { false };          // each script into image/NAME.EXT
    std::optional<std::string> size;  // --size as given
    int width { 0 };                  // the --size, when given
    int height { 0 };
    bool fit { false };
    int scale { 1 }; // --scale
    bool watermark { true };
    std::optional<std::string> format; // --format as given
    std::string extension { "png" };   // the format of "-o -"
    int threads { 0 };                 // --threads; 0: every core
    long long pngLevel { kDefaultPngLevel };
    bool json { false };
    bool quiet { false };
    ScriptOverrides overrides;
    std::optional<int> antialias;    // --aa
    std::optional<std::string> data; // --data FILE.npy

    bool ToStandardOutput() const { return image == "-"; }
};

// The --data file, or an empty name.
QString DataFile(const RenderJob& job) { return job.data ? QString::fromStdString(*job.data) : QString(); }

// Where a render's progress bar stands: picture done of count, all under one line.
struct ProgressShare {
    int done { 0 };
    int count { 1 };
    std::chrono::steady_clock::time_point started { std::chrono::steady_clock::now() };
};

CCommandOptions RenderOptions()
{
    return CCommandOptions(WithOverrideOptions({ Valued({ QStringLiteral("o"), QStringLiteral("output") },
                                                     QStringLiteral("IMAGE")),
        Valued({ QStringLiteral("size") }, QStringLiteral("WxH")), Flag({ QStringLiteral("fit") }),
        Valued({ QStringLiteral("scale") }, QStringLiteral("K")), Flag({ QStringLiteral("no-watermark") }),
        Valued({ QStringLiteral("threads") }, QStringLiteral("N")),
        Valued({ QStringLiteral("format") }, QStringLiteral("EXT")),
        Valued({ QStringLiteral("png-level") }, QStringLiteral("N")), Flag({ QStringLiteral("json") }),
        Flag({ QStringLiteral("quiet") }), Valued({ QStringLiteral("aa") }, QStringLiteral("N")),
        Valued({ QStringLiteral("data") }, QStringLiteral("FILE")) }));
}

// The values of the parsed options, checked one by one; --threads takes effect at once. Returns the
// exit code of a usage error, or nothing when the job can run.
std::optional<int> ReadRenderJob(const CCommandOptions& options, RenderJob& job, std::ostream& err)
{
    const std::optional<std::string> image = options.Value(QStringLiteral("o"));
    job.scripts = options.Positional();
    if (job.scripts.empty()) {
        return Usage(err, Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "missing SCRIPT")));
    }
    if (!image) {
        return Usage(err, Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "missing '-o IMAGE'")));
    }
    job.image = *image;
    // One script into an existing folder stays an error ("Is a directory"): only a '/' asks for a
    // folder there.
    job.toFolder = job.scripts.size() > 1 || job.image.ends_with('/');
    if (job.toFolder
        && (job.ToStandardOutput()
            || !(job.image.ends_with('/') || QFileInfo(QString::fromStdString(job.image)).isDir()))) {
        return Usage(err,
            Tr(QT_TRANSLATE_NOOP(
                "glimmerset-cli", "with several scripts '-o' names a folder: end it with '/'")));
    }
    job.size = options.Value(QStringLiteral("size"));
    // Bringing a size into range quietly would write a picture of a size nobody asked for.
    if (std::string problem; job.size && !ReadSize(*job.size, job.width, job.height, problem)) {
        return Usage(err, problem);
    }
    if (std::string problem; !ReadThreadsAndPngLevel(options.Value(QStringLiteral("threads")),
            options.Value(QStringLiteral("png-level")), job.threads, job.pngLevel, problem)) {
        return Usage(err, problem);
    }
    if (std::string problem; !ReadAntialias(options.Value(QStringLiteral("aa")), job.antialias, problem)) {
        return Usage(err, problem);
    }
    job.fit = options.Has(QStringLiteral("fit"));
    job.watermark = !options.Has(QStringLiteral("no-watermark"));
    job.json = options.Has(QStringLiteral("json"));
    job.quiet = options.Has(QStringLiteral("quiet"));
    if (job.json && job.quiet) {
        return Usage(
            err, Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "'--json' and '--quiet' exclude each other")));
    }
    job.format = options.Value(QStringLiteral("format"));
    job.extension = job.format ? *job.format : "png";
    if (job.extension.empty() || job.extension.find_first_of("/.") != std::string::npos) {
        return Usage(err,
            Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "'--format' needs an extension such as png, not '%1'"),
                { job.extension }));
    }
    job.data = options.Value(QStringLiteral("data"));
    if (job.data && (job.data->empty() || *job.data == "-")) {
        return Usage(err, Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "'--data' needs a file name")));
    }
    if (job.data && job.toFolder) {
        return Usage(err, Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "'--data' goes with one script")));
    }
    if (job.data
        && QFileInfo(QString::fromStdString(*job.data)).absoluteFilePath()
            == QFileInfo(QString::fromStdString(job.image)).absoluteFilePath()) {
        return Usage(
            err, Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "'--data' needs another file than the picture")));
    }
    const std::string named = job.toFolder || job.ToStandardOutput() ? "picture." + job.extension : job.image;
    if (std::string problem = ReadScale(options.Value(QStringLiteral("scale")), QString::fromStdString(named),
            job.data.has_value(), job.scale);
        !problem.empty()) {
        return Usage(err, problem);
    }
    std::string problem;
    if (!ReadOverrides(options, job.overrides, problem)) {
        return Usage(err, problem);
    }
    return std::nullopt;
}

// Runs the export of the loaded script into imageFile, with the progress bar on a terminal.
bool Export(
    CFractalScript& script, const RenderJob& job, const QString& imageFile, const ProgressShare& share = {})
{
    const CWatermarkFile watermark;
    const bool terminal = !job.quiet && isatty(STDERR_FILENO) == 1;
    const auto started = share.started;
    ExportRequest request { imageFile, job.watermark ? CWatermarkFile::Path() : QString(), std::nullopt,
        static_cast<int>(job.pngLevel), {}, {}, job.antialias, job.data.has_value() };
    if (job.size) {
        request.view = ViewAtSize(script, job.width, job.height, job.fit);
    }
    if (job.scale > 1) {
        request.view = ScaledView(script, request.view, job.scale);
    }
    // A picture for standard output is written in a scratch folder first: its script names the
    // palette as seen from the working folder.
    if (job.ToStandardOutput()) {
        request.scriptFolder = QDir::currentPath();
    }
    script.BeginExport(request);
    // The worker's end wakes this thread at once; the bar is redrawn meanwhile.
    while (!script.WaitExport(terminal ? kProgressInterval : std::chrono::hours(24))) {
        if (terminal) {
            ShowProgress((share.done + script.ExportWorker().m_dProgress.load()) / share.count,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
        }
    }
    script.JoinExport();
    if (terminal) {
        ClearProgress();
    }
    return script.GetExportOutcome() == ExportOutcome::Succeeded;
}

// After the export: the picture to standard output when asked, then the outcome or the JSON line.
int Finish(const CFractalScript& script, const RenderJob& job, const QString& imageFile, bool succeeded,
    std::ostream& out, std::ostream& err)
{
    const bool toStandardOutput = job.ToStandardOutput();
    if (succeeded && toStandardOutput && !CopyFileTo(imageFile, out)) {
        err << "glimmerset-cli render: "
            << Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "cannot write the picture to standard output")) << '\n';
        return kExitFailure;
    }
    // The report goes with the picture's stream only when the picture itself does not.
    std::ostream& report = (job.json ? !toStandardOutput : succeeded && !toStandardOutput) ? out : err;
    if (job.json) {
        report << JsonReport(script.GetExportReport(), Shown(script.GetLastError()), job.image);
    } else if (!(job.quiet && succeeded)) {
        report << Shown(script.GetLastError()) << '\n';
    }
    return succeeded ? kExitOk : kExitFailure;
}

// Loads a script and applies the changes: false when it cannot be rendered, with the reason on err
// and the exit code in code.
bool PrepareScript(const RenderJob& job, const std::string& argument, const QString& imageFile,
    QTemporaryDir& dir, CFractalScript& script, int& code, std::string& problem, std::ostream& err)
{
    code = kExitFailure;
    if (!LoadScriptArgument("render", argument, dir, script, err, &problem)) {
        return false;
    }
    const OverrideResult applied = ApplyOverrides(job.overrides, script);
    for (const std::string& warning : applied.warnings) {
        err << "glimmerset-cli render: " << Warning(argument + ": " + warning) << '\n';
    }
    if (applied.status == OverrideStatus::Applied && job.scale > 1) {
        const std::optional<ExportView> base
            = job.size ? std::optional(ViewAtSize(script, job.width, job.height, job.fit)) : std::nullopt;
        problem = ScaledSizeProblem(imageFile, ScaledView(script, base, job.scale));
        if (!problem.empty()) {
            err << "glimmerset-cli render: " << CannotWrite(imageFile.toStdString(), problem) << '\n';
            return false;
        }
    }
    if (applied.status == OverrideStatus::Applied) {
        return true;
    }
    problem = Shown(applied.message);
    if (applied.status == OverrideStatus::Usage && !job.toFolder) {
        code = Usage(err, problem);
    } else {
        err << "glimmerset-cli render: " << argument << ": " << problem << '\n' << applied.detail;
    }
    return false;
}

// render SCRIPT... -o FOLDER/: one picture after another on the one render pool, every failure
// reported and passed over.
int RenderToFolder(RenderJob& job, std::ostream& out, std::ostream& err)
{
    const QString folder = QString::fromStdString(job.image);
    std::vector<std::string> images;
    std::set<std::string> names;
    for (const std::string& script : job.scripts) {
        if (script == "-") {
            return Usage(err,
                Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "standard input cannot be one of several scripts")));
        }
        const std::string name = QFileInfo(QString::fromStdString(script)).completeBaseName().toStdString();
        if (!names.insert(name).second) {
            return Usage(err,
                Tr(QT_TRANSLATE_NOOP("glimmerset-cli",
                       "two scripts are named '%1': both would be written to the same picture"),
                    { name }));
        }
        images.push_back(
            QDir(folder).filePath(QString::fromStdString(name + "." + job.extension)).toStdString());
    }
    if (!QDir().mkpath(folder)) {
        err << "glimmerset-cli render: "
            << Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "cannot make the folder '%1'"), { job.image }) << '\n';
        return kExitFailure;
    }
    const std::vector<ImageCodec> writers = ImageCodecs(CodecUse::Writing);
    bool allSucceeded = true;
    ProgressShare share { 0, static_cast<int>(job.scripts.size()) };
    for (size_t k = 0; k < job.scripts.size(); ++k, ++share.done) {
        const std::string& argument = job.scripts[k];
        const QString imageFile = QString::fromStdString(images[k]);
        QTemporaryDir dir;
        const CRemovedOnSignal cleanup(dir.path(), CRemovedOnSignal::Kind::Folder);
        CFractalScript script;
        script.RenderPool().SetThreads(job.threads);
        int code = kExitOk;
        std::string problem = OutputProblem(writers, imageFile);
        if (!problem.empty()) {
            problem = CannotWrite(images[k], problem);
            err << "glimmerset-cli render: " << problem << '\n';
        } else if (PrepareScript(job, argument, imageFile, dir, script, code, problem, err)) {
            const bool succeeded = Export(script, job, imageFile, share);
            allSucceeded = allSucceeded && succeeded;
            const std::string message = Shown(script.GetLastError());
            if (job.json) {
                const std::string line = JsonReport(script.GetExportReport(), message, images[k]);
                out << BatchJson(argument, images[k], &line, {});
            } else if (!succeeded) {
                err << "glimmerset-cli render: " << argument << ": " << message << '\n';
            } else if (!job.quiet) {
                out << images[k] << ": " << message << '\n';
            }
            out.flush();
            continue;
        }
        allSucceeded = false;
        if (job.json) {
            out << BatchJson(argument, images[k], nullptr, problem);
            out.flush();
        }
    }
    return allSucceeded ? kExitOk : kExitFailure;
}

} // namespace

int RunRender(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    CCommandOptions options = RenderOptions();
    std::string problem;
    if (!options.Parse(args, problem)) {
        return Usage(err, problem);
    }
    if (HandleHelpOrVersion(options, RenderUsage(), out)) {
        return kExitOk;
    }
    RenderJob job;
    if (const std::optional<int> exit = ReadRenderJob(options, job, err)) {
        return *exit;
    }
    if (job.toFolder) {
        return RenderToFolder(job, out, err);
    }
    // "-o -": the picture goes through a file of the chosen format, then to standard output.
    const std::vector<ImageCodec> writers = ImageCodecs(CodecUse::Writing);
    const QString formatName = QString::fromStdString("picture." + job.extension);
    if (job.format && !job.ToStandardOutput()
        && WriterForFile(writers, formatName) != WriterForFile(writers, QString::fromStdString(job.image))) {
        return Usage(err,
            Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "'--format %1' contradicts the extension of '%2'"),
                { job.extension, job.image }));
    }
    QTemporaryDir dir;
    const CRemovedOnSignal cleanup(dir.path(), CRemovedOnSignal::Kind::Folder);
    const QString imageFile
        = job.ToStandardOutput() ? dir.filePath(formatName) : QString::fromStdString(job.image);
    // Found now rather than after a render that may take minutes.
    // With --json every outcome is a line, failures included; the line goes where a success's would.
    std::ostream& report = job.ToStandardOutput() ? err : out;
    std::string shown = job.image;
    std::string why = OutputProblem(writers, imageFile);
    if (why.empty() && job.data) {
        shown = *job.data;
        why = FileProblem(DataFile(job));
    }
    if (!why.empty()) {
        err << "glimmerset-cli render: " << CannotWrite(shown, why) << '\n';
        report << (job.json ? JsonFailure("save-failed", CannotWrite(shown, why), shown) : "");
        return kExitFailure;
    }
    CFractalScript script;
    script.RenderPool().SetThreads(job.threads);
    int code = kExitOk;
    if (!PrepareScript(job, job.scripts.front(), imageFile, dir, script, code, problem, err)) {
        report << (job.json ? JsonFailure("script-failed", problem, job.image) : "");
        return code;
    }
    const bool succeeded = Export(script, job, imageFile);
    if (QString why;
        succeeded && job.data && !WriteNpy(DataFile(job), script.ExportWorker().TakeData(), &why)) {
        err << "glimmerset-cli render: " << CannotWrite(*job.data, why.toStdString()) << '\n';
        report << (job.json ? JsonFailure("save-failed", CannotWrite(*job.data, why.toStdString()), *job.data)
                            : "");
        return kExitFailure;
    }
    return Finish(script, job, imageFile, succeeded, out, err);
}
