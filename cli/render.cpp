#include "cli.h"
#include "options.h"

#include "fractalscript.h"
#include "numbers.h"
#include "renderpool.h"
#include "signalcleanup.h"
#include "surface.h"
#include "watermarkfile.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ostream>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* kRenderUsage
    = "Usage: glimmerset-cli render SCRIPT -o IMAGE [--size WxH] [--fit] [--no-watermark] [--threads N]\n"
      "                             [--format EXT] [--png-level N] [--json | --quiet]\n"
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
constexpr int kBarWidth = 30;

int Usage(std::ostream& err, std::string_view problem)
{
    err << "glimmerset-cli render: " << problem << "; try 'glimmerset-cli render --help'\n";
    return kExitUsage;
}

// The sides --size may ask for: thumbnails below the 100 pixels of a script's own target size too.
constexpr int kMinSide = 16;
constexpr int kMaxSide = 4096;

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

std::string Clock(double seconds)
{
    const long s = static_cast<long>(seconds);
    char text[32];
    if (s >= 3600) {
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    } else {
        std::snprintf(text, sizeof text, "%02ld:%02ld", s / 60, s % 60);
    }
    return text;
}

// One line on the terminal, redrawn in place.
void ShowProgress(double progress, double elapsed)
{
    const int filled = static_cast<int>(std::clamp(progress, 0.0, 1.0) * kBarWidth);
    std::string bar(filled, '#');
    bar.resize(kBarWidth, ' ');
    std::string left = progress > 0.0 ? Clock(elapsed * (1.0 - progress) / progress) + " left" : "";
    std::fprintf(stderr, "\r[%s] %3d%%  %s elapsed  %s   ", bar.c_str(), static_cast<int>(progress * 100.0),
        Clock(elapsed).c_str(), left.c_str());
    std::fflush(stderr);
}

// A JSON string: quotes, backslashes and control characters escaped; text that is not UTF-8 is
// replaced, so that the line always parses.
std::string JsonString(const std::string& text)
{
    const std::string utf8 = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).toStdString();
    std::string json = "\"";
    for (const char c : utf8) {
        if (c == '"' || c == '\\') {
            json += '\\';
            json += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            json += escaped;
        } else {
            json += c;
        }
    }
    return json + '"';
}

const char* OutcomeName(ExportOutcome outcome)
{
    switch (outcome) {
    case ExportOutcome::Succeeded:
        return "success";
    case ExportOutcome::Cancelled:
        return "cancelled";
    case ExportOutcome::SaveFailed:
        return "save-failed";
    default:
        return "render-failed";
    }
}

std::string JsonReport(const ExportReport& report, const std::string& message, const std::string& path)
{
    return "{\"outcome\":\"" + std::string(OutcomeName(report.outcome)) + "\",\"message\":" + JsonString(message)
        + ",\"path\":" + JsonString(path) + ",\"width\":" + std::to_string(report.width)
        + ",\"height\":" + std::to_string(report.height) + ",\"iterations\":" + std::to_string(report.iterations)
        + ",\"threads\":" + std::to_string(report.threads)
        + ",\"render_seconds\":" + FormatShortest(report.renderSeconds)
        + ",\"encode_seconds\":" + FormatShortest(report.encodeSeconds)
        + ",\"total_seconds\":" + FormatShortest(report.totalSeconds) + "}\n";
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
    const double ratio = script.GetRatio();
    if (!fit) {
        return { width, height, script.GetOffsetX(), script.GetOffsetY(), ratio * script.GetImageWidth() / width };
    }
    const double planeWidth = script.GetImageWidth() * ratio;
    const double planeHeight = script.GetImageHeight() * ratio;
    const double fitted = std::max(planeWidth / width, planeHeight / height);
    return { width, height, script.GetOffsetX() + (planeWidth - width * fitted) / 2,
        script.GetOffsetY() + (planeHeight - height * fitted) / 2, fitted };
}

} // namespace

int RunRender(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    CCommandOptions options({ Valued({ QStringLiteral("o"), QStringLiteral("output") }, QStringLiteral("IMAGE")),
        Valued({ QStringLiteral("size") }, QStringLiteral("WxH")), Flag({ QStringLiteral("fit") }),
        Flag({ QStringLiteral("no-watermark") }), Valued({ QStringLiteral("threads") }, QStringLiteral("N")),
        Valued({ QStringLiteral("format") }, QStringLiteral("EXT")),
        Valued({ QStringLiteral("png-level") }, QStringLiteral("N")), Flag({ QStringLiteral("json") }),
        Flag({ QStringLiteral("quiet") }) });
    std::string problem;
    if (!options.Parse(args, problem)) {
        return Usage(err, problem);
    }
    if (HandleHelpOrVersion(options, kRenderUsage, out)) {
        return kExitOk;
    }
    const std::optional<std::string> image = options.Value(QStringLiteral("o"));
    const std::vector<std::string> positional = options.Positional();
    if (positional.size() != 1) {
        return Usage(err, positional.empty() ? "missing SCRIPT" : "too many arguments");
    }
    if (!image) {
        return Usage(err, "missing '-o IMAGE'");
    }
    int width = 0;
    int height = 0;
    const std::optional<std::string> size = options.Value(QStringLiteral("size"));
    if (size && !ParseSize(*size, width, height)) {
        return Usage(err, "'--size' needs WIDTHxHEIGHT, not '" + *size + "'");
    }
    // Bringing a size into range quietly would write a picture of a size nobody asked for.
    if (size && (std::min(width, height) < kMinSide || std::max(width, height) > kMaxSide)) {
        return Usage(err,
            "'--size' needs each side from " + std::to_string(kMinSide) + " to " + std::to_string(kMaxSide)
                + ", not '" + *size + "'");
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
    long long pngLevel = kDefaultPngLevel;
    if (const std::optional<std::string> level = options.Value(QStringLiteral("png-level"));
        level && (!ParseCount(*level, pngLevel) || pngLevel > kMaxPngLevel)) {
        return Usage(err, "'--png-level' needs a whole number from 0 to 9, not '" + *level + "'");
    }
    const bool json = options.Has(QStringLiteral("json"));
    const bool quiet = options.Has(QStringLiteral("quiet"));
    if (json && quiet) {
        return Usage(err, "'--json' and '--quiet' exclude each other");
    }

    // "-o -": the picture goes through a file of the chosen format, then to standard output.
    const bool toStandardOutput = *image == "-";
    const std::optional<std::string> formatOption = options.Value(QStringLiteral("format"));
    const std::string format = formatOption ? *formatOption : "png";
    if (format.empty() || format.find_first_of("/.") != std::string::npos) {
        return Usage(err, "'--format' needs an extension such as png, not '" + format + "'");
    }
    const std::vector<ImageCodec> writers = ImageCodecs(CodecUse::Writing);
    const QString formatName = QString::fromStdString("picture." + format);
    if (formatOption && !toStandardOutput
        && WriterForFile(writers, formatName) != WriterForFile(writers, QString::fromStdString(*image))) {
        return Usage(err, "'--format " + format + "' contradicts the extension of '" + *image + "'");
    }

    const std::string& path = positional.front();
    QTemporaryDir dir;
    const CRemovedOnSignal cleanup(dir.path(), CRemovedOnSignal::Kind::Folder);
    const QString imageFile = toStandardOutput ? dir.filePath(formatName) : QString::fromStdString(*image);
    // Found now rather than after a render that may take minutes.
    if (const std::string why = OutputProblem(writers, imageFile); !why.empty()) {
        err << "glimmerset-cli render: cannot write '" << (toStandardOutput ? "-" : *image) << "': " << why
            << '\n';
        return kExitFailure;
    }
    QString scriptFile;
    if (!ScriptFile("render", path, dir, scriptFile, err)) {
        return kExitFailure;
    }
    CFractalScript script;
    if (!script.Load(scriptFile)) {
        err << "glimmerset-cli render: " << path << ": " << script.GetLastError() << '\n';
        return kExitFailure;
    }
    if (const std::string warning = script.GetPaletteWarning(); !warning.empty()) {
        err << "glimmerset-cli render: warning: " << warning << '\n';
    }

    const CWatermarkFile watermark;
    const bool terminal = !quiet && isatty(STDERR_FILENO) == 1;
    const auto started = std::chrono::steady_clock::now();
    ExportRequest request { imageFile,
        options.Has(QStringLiteral("no-watermark")) ? QString() : CWatermarkFile::Path(), std::nullopt,
        static_cast<int>(pngLevel) };
    if (size) {
        request.view = ViewAtSize(script, width, height, options.Has(QStringLiteral("fit")));
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
        std::fprintf(stderr, "\r%*s\r", kBarWidth + 40, "");
    }
    const bool succeeded = script.GetExportOutcome() == ExportOutcome::Succeeded;
    if (succeeded && toStandardOutput && !CopyFileTo(imageFile, out)) {
        err << "glimmerset-cli render: cannot write the picture to standard output\n";
        return kExitFailure;
    }
    // The report goes with the picture's stream only when the picture itself does not.
    std::ostream& report = (json ? !toStandardOutput : succeeded && !toStandardOutput) ? out : err;
    if (json) {
        report << JsonReport(script.GetExportReport(), script.GetLastError(), toStandardOutput ? "-" : *image);
    } else if (!(quiet && succeeded)) {
        report << script.GetLastError() << '\n';
    }
    return succeeded ? kExitOk : kExitFailure;
}
