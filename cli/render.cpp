#include "animate.h"
#include "cli.h"
#include "options.h"
#include "renderreport.h"

#include "fixedlimits.h"
#include "fractalscript.h"
#include "numbertext.h"
#include "renderpool.h"
#include "signalcleanup.h"
#include "surface.h"
#include "view.h"
#include "watermarkfile.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <optional>
#include <ostream>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* kRenderUsage
    = "Usage: glimmerset-cli render SCRIPT -o IMAGE [--size WxH] [--fit] [--no-watermark] [--threads N]\n"
      "                             [--format EXT] [--png-level N] [--aa N] [--json | --quiet]\n"
      "\n"
      "Renders SCRIPT (- for standard input) at its target size into IMAGE, with the watermark in\n"
      "the bottom-right corner. The image format follows IMAGE's extension (png, bmp, jpg, tiff,\n"
      "webp, ppm, ...); '-o -' writes to standard output in the format of --format (default png).\n"
      "\n"
      "Options:\n"
      "  -o, --output IMAGE  the image file to write\n"
      "  --size WxH          render the same width of the plane at another size, 16 to 4096 a side\n"
      "  --fit               with --size: keep the view's centre and show all of it, widening the\n"
      "                      shorter side of the plane to the new proportions\n"
      "  --no-watermark      leave the watermark out\n"
      "  --threads N         render on N threads (default: every core)\n"
      "  --format EXT        the image format for '-o -' (png, bmp, ppm, ...); with a file it must\n"
      "                      agree with the file's extension\n"
      "  --png-level N       PNG compression level, 0 (fastest) to 9 (smallest); default 1\n"
      "  --aa N              anti-alias: N x N samples per pixel, averaged in linear light, 1 to 4\n"
      "                      (default: the script's own setting, 1 unless saved otherwise)\n"
      "  --json              print what was done as one JSON object on one line instead of the\n"
      "                      outcome (on standard error with '-o -')\n"
      "  --quiet             print nothing on success\n"
      "  -h, --help          show this help and exit\n"
      "  -V, --version       show the version and exit\n"
      "\n"
      "Progress is shown on standard error when it is a terminal.\n"
      "Exit status: 0 on success, 1 when the script does not load or the export fails, 2 on a usage error.\n";

// How often the progress bar is redrawn; the end of the export is waited for, not polled.
constexpr auto kProgressInterval = std::chrono::milliseconds(100);
constexpr long long kMaxThreads = 256;

int Usage(std::ostream& err, std::string_view problem) { return CommandUsage(err, "render", problem); }

bool ParseSize(std::string_view text, int& width, int& height)
{
    const size_t x = text.find_first_of("xX");
    if (x == std::string_view::npos) {
        return false;
    }
    const auto whole = [](std::string_view part, int& value) {
        const auto result = std::from_chars(part.data(), part.data() + part.size(), value);
        return !part.empty() && result.ec == std::errc() && result.ptr == part.data() + part.size();
    };
    return whole(text.substr(0, x), width) && whole(text.substr(x + 1), height);
}

// Why the picture could not be written to path, found before the render: no writer for its format,
// a folder that does not exist or cannot be written, a file that cannot be replaced. Empty when it can.
std::string OutputProblem(const std::vector<ImageCodec>& writers, const QString& path)
{
    if (WriterForFile(writers, path) == nullptr) {
        const QString name = QFileInfo(path).fileName();
        const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
        return dot < 0 ? std::string("the name has no extension to choose the image format by")
                       : "no image writer for the extension '" + name.mid(dot).toStdString() + "'";
    }
    const QFileInfo file(path);
    const QByteArray folder = QFile::encodeName(file.absolutePath());
    struct stat status {};
    if (::stat(folder.constData(), &status) != 0) {
        return "folder '" + file.absolutePath().toStdString() + "': " + std::strerror(errno);
    }
    if (!S_ISDIR(status.st_mode)) {
        return "folder '" + file.absolutePath().toStdString() + "': " + std::strerror(ENOTDIR);
    }
    // The picture is written beside the target and renamed into place: the folder must take it.
    if (::access(folder.constData(), W_OK | X_OK) != 0) {
        return "folder '" + file.absolutePath().toStdString() + "': " + std::strerror(errno);
    }
    const QByteArray target = QFile::encodeName(file.absoluteFilePath());
    if (::stat(target.constData(), &status) == 0) {
        if (S_ISDIR(status.st_mode)) {
            return std::strerror(EISDIR);
        }
        if (::access(target.constData(), W_OK) != 0) {
            return std::strerror(errno);
        }
    }
    return {};
}

// The size and view of a render at another size than the script's target. The document's rule keeps
// the top-left corner and the width of the plane; fit keeps the centre and widens the plane on the
// side that the new proportions make longer, so that everything the script shows stays in sight.
ExportView ViewAtSize(const CFractalScript& script, int width, int height, bool fit)
{
    const View view { script.GetOffsetX(), script.GetOffsetY(), script.GetRatio() };
    const View shown = fit ? view.Fitted(script.GetImageWidth(), script.GetImageHeight(), width, height)
                           : view.AtWidth(script.GetImageWidth(), width);
    return { width, height, shown.offsetX, shown.offsetY, shown.ratio };
}

// What the command line asks render to do.
struct RenderJob {
    std::string script;              // SCRIPT, "-" for standard input
    std::string image;               // IMAGE, "-" for standard output
    std::optional<std::string> size; // --size as given
    int width { 0 };                 // the --size, when given
    int height { 0 };
    bool fit { false };
    bool watermark { true };
    std::optional<std::string> format; // --format as given
    std::string extension { "png" };   // the format of "-o -"
    long long pngLevel { kDefaultPngLevel };
    bool json { false };
    bool quiet { false };
    std::optional<int> antialias; // --aa

    bool ToStandardOutput() const { return image == "-"; }
};

CCommandOptions RenderOptions()
{
    return CCommandOptions({ Valued(
                                 { QStringLiteral("o"), QStringLiteral("output") }, QStringLiteral("IMAGE")),
        Valued({ QStringLiteral("size") }, QStringLiteral("WxH")), Flag({ QStringLiteral("fit") }),
        Flag({ QStringLiteral("no-watermark") }), Valued({ QStringLiteral("threads") }, QStringLiteral("N")),
        Valued({ QStringLiteral("format") }, QStringLiteral("EXT")),
        Valued({ QStringLiteral("png-level") }, QStringLiteral("N")), Flag({ QStringLiteral("json") }),
        Flag({ QStringLiteral("quiet") }), Valued({ QStringLiteral("aa") }, QStringLiteral("N")) });
}

// The values of the parsed options, checked one by one; --threads takes effect at once. Returns the
// exit code of a usage error, or nothing when the job can run.
std::optional<int> ReadRenderJob(const CCommandOptions& options, RenderJob& job, std::ostream& err)
{
    const std::optional<std::string> image = options.Value(QStringLiteral("o"));
    const std::vector<std::string> positional = options.Positional();
    if (positional.size() != 1) {
        return Usage(err, positional.empty() ? "missing SCRIPT" : "too many arguments");
    }
    if (!image) {
        return Usage(err, "missing '-o IMAGE'");
    }
    job.script = positional.front();
    job.image = *image;
    job.size = options.Value(QStringLiteral("size"));
    if (job.size && !ParseSize(*job.size, job.width, job.height)) {
        return Usage(err, "'--size' needs WIDTHxHEIGHT, not '" + *job.size + "'");
    }
    // Bringing a size into range quietly would write a picture of a size nobody asked for.
    if (job.size
        && (std::min(job.width, job.height) < kMinToolSide
            || std::max(job.width, job.height) > kMaxToolSide)) {
        return Usage(err,
            "'--size' needs each side from " + std::to_string(kMinToolSide) + " to "
                + std::to_string(kMaxToolSide) + ", not '" + *job.size + "'");
    }
    if (const std::optional<std::string> threads = options.Value(QStringLiteral("threads"))) {
        long long count = 0;
        if (!ParseCount(*threads, count) || count < 1 || count > kMaxThreads) {
            return Usage(err,
                "'--threads' needs a whole number from 1 to " + std::to_string(kMaxThreads) + ", not '"
                    + *threads + "'");
        }
        CRenderPool::Instance().SetThreads(static_cast<int>(count));
    }
    if (const std::optional<std::string> level = options.Value(QStringLiteral("png-level"));
        level && (!ParseCount(*level, job.pngLevel) || job.pngLevel > kMaxPngLevel)) {
        return Usage(err, "'--png-level' needs a whole number from 0 to 9, not '" + *level + "'");
    }
    if (std::string problem; !ReadAntialias(options.Value(QStringLiteral("aa")), job.antialias, problem)) {
        return Usage(err, problem);
    }
    job.fit = options.Has(QStringLiteral("fit"));
    job.watermark = !options.Has(QStringLiteral("no-watermark"));
    job.json = options.Has(QStringLiteral("json"));
    job.quiet = options.Has(QStringLiteral("quiet"));
    if (job.json && job.quiet) {
        return Usage(err, "'--json' and '--quiet' exclude each other");
    }
    job.format = options.Value(QStringLiteral("format"));
    job.extension = job.format ? *job.format : "png";
    if (job.extension.empty() || job.extension.find_first_of("/.") != std::string::npos) {
        return Usage(err, "'--format' needs an extension such as png, not '" + job.extension + "'");
    }
    return std::nullopt;
}

// Runs the export of the loaded script into imageFile, with the progress bar on a terminal.
bool Export(CFractalScript& script, const RenderJob& job, const QString& imageFile)
{
    const CWatermarkFile watermark;
    const bool terminal = !job.quiet && isatty(STDERR_FILENO) == 1;
    const auto started = std::chrono::steady_clock::now();
    ExportRequest request { imageFile, job.watermark ? CWatermarkFile::Path() : QString(), std::nullopt,
        static_cast<int>(job.pngLevel), job.antialias };
    if (job.size) {
        request.view = ViewAtSize(script, job.width, job.height, job.fit);
    }
    script.BeginExport(request);
    // The worker's end wakes this thread at once; the bar is redrawn meanwhile.
    while (!script.WaitExport(terminal ? kProgressInterval : std::chrono::hours(24))) {
        if (terminal) {
            ShowProgress(script.ExportWorker().m_dProgress.load(),
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
        err << "glimmerset-cli render: cannot write the picture to standard output\n";
        return kExitFailure;
    }
    // The report goes with the picture's stream only when the picture itself does not.
    std::ostream& report = (job.json ? !toStandardOutput : succeeded && !toStandardOutput) ? out : err;
    if (job.json) {
        report << JsonReport(script.GetExportReport(), script.GetLastError(), job.image);
    } else if (!(job.quiet && succeeded)) {
        report << script.GetLastError() << '\n';
    }
    return succeeded ? kExitOk : kExitFailure;
}

} // namespace

int RunRender(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    CCommandOptions options = RenderOptions();
    std::string problem;
    if (!options.Parse(args, problem)) {
        return Usage(err, problem);
    }
    if (HandleHelpOrVersion(options, kRenderUsage, out)) {
        return kExitOk;
    }
    RenderJob job;
    if (const std::optional<int> exit = ReadRenderJob(options, job, err)) {
        return *exit;
    }
    // "-o -": the picture goes through a file of the chosen format, then to standard output.
    const std::vector<ImageCodec> writers = ImageCodecs(CodecUse::Writing);
    const QString formatName = QString::fromStdString("picture." + job.extension);
    if (job.format && !job.ToStandardOutput()
        && WriterForFile(writers, formatName) != WriterForFile(writers, QString::fromStdString(job.image))) {
        return Usage(
            err, "'--format " + job.extension + "' contradicts the extension of '" + job.image + "'");
    }
    QTemporaryDir dir;
    const CRemovedOnSignal cleanup(dir.path(), CRemovedOnSignal::Kind::Folder);
    const QString imageFile
        = job.ToStandardOutput() ? dir.filePath(formatName) : QString::fromStdString(job.image);
    // Found now rather than after a render that may take minutes.
    if (const std::string why = OutputProblem(writers, imageFile); !why.empty()) {
        err << "glimmerset-cli render: cannot write '" << job.image << "': " << why << '\n';
        return kExitFailure;
    }
    CFractalScript script;
    if (!LoadScriptArgument("render", job.script, dir, script, err)) {
        return kExitFailure;
    }
    const bool succeeded = Export(script, job, imageFile);
    return Finish(script, job, imageFile, succeeded, out, err);
}
