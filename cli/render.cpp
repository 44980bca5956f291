#include "cli.h"
#include "options.h"

#include "fractalscript.h"
#include "numbers.h"
#include "renderpool.h"
#include "signalcleanup.h"
#include "watermarkfile.h"

#include <QTemporaryDir>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <ostream>
#include <thread>
#include <unistd.h>

namespace {

constexpr const char* kRenderUsage
    = "Usage: glimmerset-cli render SCRIPT -o IMAGE [--size WxH] [--no-watermark] [--threads N]\n"
      "\n"
      "Renders SCRIPT (- for standard input) at its target size into IMAGE, with the watermark in\n"
      "the bottom-right corner. The image format follows IMAGE's extension (png, bmp, jpg, tiff,\n"
      "webp, ppm, ...); '-o -' writes to standard output in the format of --format (default png).\n"
      "\n"
      "Options:\n"
      "  -o, --output IMAGE  the image file to write\n"
      "  --size WxH          render the same width of the plane at another size\n"
      "  --no-watermark      leave the watermark out\n"
      "  --threads N         render on N threads (default: every core)\n"
      "  --format EXT        the image format for '-o -' (png, bmp, ppm, ...)\n"
      "  -h, --help          show this help and exit\n"
      "  -V, --version       show the version and exit\n"
      "\n"
      "Progress is shown on standard error when it is a terminal.\n"
      "Exit status: 0 on success, 1 when the script does not load or the export fails, 2 on a usage error.\n";

constexpr auto kPollInterval = std::chrono::milliseconds(100);
constexpr long long kMaxThreads = 256;
constexpr int kBarWidth = 30;

int Usage(std::ostream& err, std::string_view problem)
{
    err << "glimmerset-cli render: " << problem << "; try 'glimmerset-cli render --help'\n";
    return kExitUsage;
}

// The sides a script's target picture may have.
constexpr int kMinSide = 100;
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

} // namespace

int RunRender(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    ParsedOptions options;
    std::string problem;
    const std::vector<OptionSpec> specs { { "-o", true }, { "--output", true }, { "--size", true },
        { "--no-watermark", false }, { "--threads", true }, { "--format", true } };
    if (!ParseOptions(args, specs, options, problem)) {
        return Usage(err, problem);
    }
    if (HandleHelpOrVersion(options, kRenderUsage, out)) {
        return kExitOk;
    }
    const std::string* image = options.Value("-o") ? options.Value("-o") : options.Value("--output");
    if (options.positional.size() != 1) {
        return Usage(err, options.positional.empty() ? "missing SCRIPT" : "too many arguments");
    }
    if (image == nullptr) {
        return Usage(err, "missing '-o IMAGE'");
    }
    int width = 0;
    int height = 0;
    const std::string* size = options.Value("--size");
    if (size && !ParseSize(*size, width, height)) {
        return Usage(err, "'--size' needs WIDTHxHEIGHT, not '" + *size + "'");
    }
    // A script cannot hold another size; bringing it into range quietly would write a picture of a
    // size nobody asked for.
    if (size && (std::min(width, height) < kMinSide || std::max(width, height) > kMaxSide)) {
        return Usage(err,
            "'--size' needs each side from " + std::to_string(kMinSide) + " to " + std::to_string(kMaxSide)
                + ", not '" + *size + "'");
    }

    if (const std::string* threads = options.Value("--threads")) {
        long long count = 0;
        if (!ParseCount(*threads, count) || count < 1 || count > kMaxThreads) {
            return Usage(err,
                "'--threads' needs a whole number from 1 to " + std::to_string(kMaxThreads) + ", not '"
                    + *threads + "'");
        }
        CRenderPool::Instance().SetThreads(static_cast<int>(count));
    }

    const std::string& path = options.positional.front();
    QTemporaryDir dir;
    const CRemovedOnSignal cleanup(dir.path(), CRemovedOnSignal::Kind::Folder);
    QString scriptFile;
    if (!ScriptFile(path, dir, scriptFile, err)) {
        return kExitFailure;
    }
    // "-o -": the picture goes through a file of the chosen format, then to standard output.
    const bool toStandardOutput = *image == "-";
    const std::string format = options.Value("--format") ? *options.Value("--format") : "png";
    if (format.empty() || format.find_first_of("/.") != std::string::npos) {
        return Usage(err, "'--format' needs an extension such as png, not '" + format + "'");
    }
    const QString imageFile = toStandardOutput ? dir.filePath(QString::fromStdString("picture." + format))
                                               : QString::fromStdString(*image);
    CFractalScript script;
    if (!script.Load(scriptFile)) {
        err << "glimmerset-cli render: " << path << ": " << script.GetLastError() << '\n';
        return kExitFailure;
    }
    if (size) {
        // The same width of the plane at another size: the ratio scales by the old width over the new.
        const int oldWidth = script.GetImageWidth();
        script.SetImageSize(width, height);
        script.SetView(
            script.GetOffsetX(), script.GetOffsetY(), script.GetRatio() * oldWidth / script.GetImageWidth());
    }

    const CWatermarkFile watermark;
    const bool terminal = isatty(STDERR_FILENO) == 1;
    const auto started = std::chrono::steady_clock::now();
    script.StartExport(imageFile, options.Has("--no-watermark") ? QString() : CWatermarkFile::Path());
    while (script.m_bExportRunning.load(std::memory_order_acquire)) {
        if (terminal) {
            ShowProgress(script.m_dRenderProgress.load(),
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
        }
        std::this_thread::sleep_for(kPollInterval);
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
    // The outcome goes with the picture's stream only when the picture itself does not.
    (succeeded && !toStandardOutput ? out : err) << script.GetLastError() << '\n';
    return succeeded ? kExitOk : kExitFailure;
}
