#include "animate.h"

#include "cli.h"
#include "options.h"
#include "overrides.h"
#include "renderreport.h"

#include "exactview.h"
#include "exportworker.h"
#include "fixedlimits.h"
#include "fractalscript.h"
#include "numbertext.h"
#include "renderpool.h"
#include "signalcleanup.h"
#include "surface.h"
#include "watermarkfile.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ostream>

#include <unistd.h>

namespace {

constexpr const char* kAnimateUsage = QT_TRANSLATE_NOOP("glimmerset-cli",
    "Usage: glimmerset-cli animate FROM.gsc TO.gsc [MORE.gsc ...] --frames N -o PATTERN\n"
    "                              [--ease linear|smooth] [--size WxH] [--aa N] [--no-watermark]\n"
    "                              [--threads N] [--png-level N] [--iterations N]\n"
    "                              [--shard K/N | --shard-count N]\n"
    "                              [--skip-existing] [--list] [--video OUT.mp4 --fps F] [--quiet]\n"
    "\n"
    "Renders N frames, numbered from 0, through the key scripts in order: frame 0 is the first key,\n"
    "frame N-1 the last, and key j of K falls on frame round(j(N-1)/(K-1)) with its own values.\n"
    "Between keys the constants and the palette mapping move linearly (its rotation by angle), the\n"
    "view's centre linearly and its width geometrically, and the iteration limit is rounded. The\n"
    "formulas and the palette must be the same in every key. Frame k is always the same picture,\n"
    "whichever process renders it, and each frame file appears only complete.\n"
    "\n"
    "Options:\n"
    "  --frames N          the number of frames, at least the number of keys\n"
    "  -o, --output PATTERN  the frame files: %05d (or %d) stands for the frame number, %% for %;\n"
    "                      the extension chooses the image format; missing folders are made\n"
    "  --ease linear|smooth  the speed within each pair of keys: even (default), or smoothstep\n"
    "  --size WxH          render the frames at this size, 16 to 4096 a side (default: the first\n"
    "                      key's target size); each key keeps its top-left corner and plane width\n"
    "  --aa N              anti-alias with N x N samples per pixel, 1 to 4 (default: the keys' own\n"
    "                      setting, the earlier key's between two; 1 unless saved otherwise)\n"
    "  --no-watermark      leave the watermark out\n"
    "  --threads N         render on N threads (default: every core)\n"
    "  --png-level N       PNG compression level, 0 (fastest) to 9 (smallest); default 1\n"
    "  --iterations N      give every key the iteration limit N, 1 to 1000000000 (brought into\n"
    "                      that range, with a warning)\n"
    "  --shard K/N         render only the frames k with k mod N = K; 0/1 renders all of them and\n"
    "                      reads nothing from the environment\n"
    "  --shard-count N     the N of a shard whose K comes from JOB_COMPLETION_INDEX (Kubernetes\n"
    "                      Indexed Job) or PARALLEL_SEQ - 1 (GNU Parallel)\n"
    "  --skip-existing     leave frames whose file is already a whole picture (a re-run after a\n"
    "                      failure); a frame cut short is rendered again\n"
    "  --list              print the frame numbers and files this shard would render, and stop\n"
    "  --video OUT.mp4     then encode the frames into a video with ffmpeg, when it is installed;\n"
    "                      the video is written whole or not at all\n"
    "  --fps F             the video's frames per second (default 25)\n"
    "  --quiet             print nothing on success\n"
    "  -h, --help          show this help and exit\n"
    "  -V, --version       show the version and exit\n"
    "\n"
    "Without --shard a Slurm job array shards by itself: K = (SLURM_ARRAY_TASK_ID -\n"
    "SLURM_ARRAY_TASK_MIN) / SLURM_ARRAY_TASK_STEP, N = SLURM_ARRAY_TASK_COUNT. The shard and where\n"
    "it came from are shown on standard error.\n"
    "Exit status: 0 on success, 1 when a key does not load or a frame fails, 2 on a usage error.\n");

constexpr auto kProgressInterval = std::chrono::milliseconds(100);
constexpr long long kMaxFrames = 10'000'000;
constexpr double kDefaultFps = 25.0;
// Tests only: the process kills itself with SIGKILL after writing this many frames, the way a
// machine of a render farm may go away, at a moment the test chooses.
constexpr const char* kKillAfterVariable = "GLIMMERSET_TEST_KILL_AFTER_FRAMES";

int Usage(std::ostream& err, std::string_view problem) { return CommandUsage(err, "animate", problem); }

// What the command line asks animate to do.
struct AnimateJob {
    std::vector<std::string> keys;
    std::string pattern;
    int frames { 0 };
    Ease ease { Ease::Linear };
    std::optional<std::string> size;
    int width { 0 };
    int height { 0 };
    std::optional<int> antialias;
    std::optional<int> iterations; // --iterations, brought into its range
    bool watermark { true };
    int threads { 0 }; // --threads; 0: every core
    long long pngLevel { kDefaultPngLevel };
    Shard shard;
    bool skipExisting { false };
    bool list { false };
    std::optional<std::string> video;
    double fps { kDefaultFps };
    bool quiet { false };
};

CCommandOptions AnimateOptions()
{
    return CCommandOptions(
        { Valued({ QStringLiteral("o"), QStringLiteral("output") }, QStringLiteral("PATTERN")),
            Valued({ QStringLiteral("frames") }, QStringLiteral("N")),
            Valued({ QStringLiteral("ease") }, QStringLiteral("EASE")),
            Valued({ QStringLiteral("size") }, QStringLiteral("WxH")),
            Flag({ QStringLiteral("no-watermark") }), Valued({ QStringLiteral("aa") }, QStringLiteral("N")),
            Valued({ QStringLiteral("threads") }, QStringLiteral("N")),
            Valued({ QStringLiteral("png-level") }, QStringLiteral("N")),
            Valued({ QStringLiteral("iterations") }, QStringLiteral("N")),
            Valued({ QStringLiteral("shard") }, QStringLiteral("K/N")),
            Valued({ QStringLiteral("shard-count") }, QStringLiteral("N")),
            Flag({ QStringLiteral("skip-existing") }), Flag({ QStringLiteral("list") }),
            Valued({ QStringLiteral("video") }, QStringLiteral("OUT")),
            Valued({ QStringLiteral("fps") }, QStringLiteral("F")), Flag({ QStringLiteral("quiet") }) });
}

// The options of how each frame is rendered: size, anti-aliasing, threads, PNG level, limit.
std::optional<int> ReadFrameOptions(const CCommandOptions& options, AnimateJob& job, std::ostream& err)
{
    std::string problem;
    job.size = options.Value(QStringLiteral("size"));
    if (job.size && !ReadSize(*job.size, job.width, job.height, problem)) {
        return Usage(err, problem);
    }
    if (!ReadAntialias(options.Value(QStringLiteral("aa")), job.antialias, problem)) {
        return Usage(err, problem);
    }
    if (!ReadThreadsAndPngLevel(options.Value(QStringLiteral("threads")),
            options.Value(QStringLiteral("png-level")), job.threads, job.pngLevel, problem)) {
        return Usage(err, problem);
    }
    std::optional<long long> iterations;
    if (!ReadIterationsOption(options, iterations, problem)) {
        return Usage(err, problem);
    }
    if (iterations) {
        std::string warning;
        job.iterations = ExtendedLimitOf(*iterations, warning);
        if (!warning.empty()) {
            err << "glimmerset-cli animate: " << Warning(warning) << '\n';
        }
    }
    return std::nullopt;
}

std::optional<int> ReadAnimateJob(const CCommandOptions& options, AnimateJob& job, std::ostream& err)
{
    job.keys = options.Positional();
    if (job.keys.size() < 2) {
        return Usage(err, Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "needs at least two key scripts")));
    }
    const std::optional<std::string> pattern = options.Value(QStringLiteral("o"));
    if (!pattern) {
        return Usage(err, Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "missing '-o PATTERN'")));
    }
    job.pattern = *pattern;
    std::string problem;
    if (!FramePath(job.pattern, 0, &problem)) {
        return Usage(err, problem);
    }
    const std::optional<std::string> frames = options.Value(QStringLiteral("frames"));
    long long count = 0;
    if (!frames) {
        return Usage(err, Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "missing '--frames N'")));
    }
    if (!ParseCount(*frames, count) || count < static_cast<long long>(job.keys.size())
        || count > kMaxFrames) {
        return Usage(err,
            Tr(QT_TRANSLATE_NOOP("glimmerset-cli",
                   "'--frames' needs a whole number from the number of keys (%1) to %2, not '%3'"),
                { std::to_string(job.keys.size()), std::to_string(kMaxFrames), *frames }));
    }
    job.frames = static_cast<int>(count);
    if (const std::optional<std::string> ease = options.Value(QStringLiteral("ease"))) {
        if (*ease != "linear" && *ease != "smooth") {
            return Usage(err,
                Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "'--ease' needs linear or smooth, not '%1'"),
                    { *ease }));
        }
        job.ease = *ease == "smooth" ? Ease::Smooth : Ease::Linear;
    }
    if (const std::optional<int> exit = ReadFrameOptions(options, job, err)) {
        return exit;
    }
    if (!ReadShard(
            options.Value(QStringLiteral("shard")), options.Value(QStringLiteral("shard-count")),
            [](const char* name) { return std::getenv(name); }, job.shard, problem)) {
        return Usage(err, problem);
    }
    job.video = options.Value(QStringLiteral("video"));
    if (const std::optional<std::string> fps = options.Value(QStringLiteral("fps"))) {
        if (!job.video) {
            return Usage(err, Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "'--fps' goes with '--video'")));
        }
        if (!ParseDouble(*fps, job.fps) || !(job.fps > 0.0 && job.fps <= 1000.0)) {
            return Usage(err,
                Tr(QT_TRANSLATE_NOOP(
                       "glimmerset-cli", "'--fps' needs a number above 0 and at most 1000, not '%1'"),
                    { *fps }));
        }
    }
    if (job.video && job.shard.count > 1) {
        return Usage(err,
            Tr(QT_TRANSLATE_NOOP(
                "glimmerset-cli", "'--video' needs every frame: it does not go with a shard")));
    }
    job.watermark = !options.Has(QStringLiteral("no-watermark"));
    job.skipExisting = options.Has(QStringLiteral("skip-existing"));
    job.list = options.Has(QStringLiteral("list"));
    job.quiet = options.Has(QStringLiteral("quiet"));
    return std::nullopt;
}

// The key scripts as pictures at the frame size, each with its view at that size as render --size
// gives it (and exactly its own view at its own size). Returns false with the reason on err.
bool LoadKeys(const AnimateJob& job, QTemporaryDir& dir, std::vector<Picture>& keys, std::ostream& err)
{
    for (const std::string& key : job.keys) {
        CFractalScript script;
        if (!LoadScriptArgument("animate", key, dir, script, err)) {
            return false;
        }
        Picture picture = script.TakeSnapshot();
        picture.maxIter = job.iterations.value_or(picture.maxIter);
        if (job.size) {
            ShowAtSize(picture, job.width, job.height);
        } else if (!keys.empty()
            && (picture.imageWidth != keys.front().imageWidth
                || picture.imageHeight != keys.front().imageHeight)) {
            ShowAtSize(picture, keys.front().imageWidth, keys.front().imageHeight);
        }
        // Refused here once, rather than by every frame's export.
        if (const QString problem = ScriptLineProblem(picture, script.GetPaletteFile());
            !problem.isEmpty() && PictureKeepsScript(QString::fromStdString(job.pattern))) {
            err << "glimmerset-cli animate: " << key << ": " << problem.toStdString() << '\n';
            return false;
        }
        if (!keys.empty()) {
            if (const std::string difference = KeyDifference(keys.front(), picture); !difference.empty()) {
                err << "glimmerset-cli animate: " << key << ": " << difference << '\n';
                return false;
            }
        }
        keys.push_back(std::move(picture));
    }
    return true;
}

// Whether a frame is done: frames are written whole, so a file that is not a whole picture was cut
// short or damaged after it was written, and is rendered again.
bool FrameDone(const QString& path) { return QFileInfo(path).isFile() && IsWholePicture(path); }

// How the frames of this process went.
struct FrameCounts {
    int share { 0 }; // the frames of the shard
    int written { 0 };
    int skipped { 0 };
    int failed { 0 };
};

// Renders the shard's frames one after another, each through the export worker, with the progress
// bar on a terminal; a frame that fails is reported and passed over. False when a folder of the
// pattern cannot be made.
bool RenderFrames(
    const AnimateJob& job, const std::vector<Picture>& keys, FrameCounts& counts, std::ostream& err)
{
    int killAfter = -1;
    if (const char* kill = std::getenv(kKillAfterVariable)) {
        killAfter = std::atoi(kill);
    }

    const CWatermarkFile watermark;
    Picture current;
    std::string outcome;
    CRenderPool pool;
    pool.SetThreads(job.threads);
    CExportWorker worker(
        [&current] { return current; }, [&outcome](std::string text) { outcome = std::move(text); }, pool);
    const bool terminal = !job.quiet && isatty(STDERR_FILENO) == 1;
    const auto started = std::chrono::steady_clock::now();
    counts.share = (job.frames - job.shard.index + job.shard.count - 1) / job.shard.count;
    int& written = counts.written;
    int& skipped = counts.skipped;
    int& failed = counts.failed;
    QString folder;
    for (int frame = job.shard.index; frame < job.frames; frame += job.shard.count) {
        const std::string path = *FramePath(job.pattern, frame);
        const QString file = QString::fromStdString(path);
        if (job.skipExisting && FrameDone(file)) {
            ++skipped;
            continue;
        }
        // The pattern may number folders too ('%03d/frame.png').
        if (const QString next = QFileInfo(file).absolutePath(); next != folder) {
            folder = next;
            if (!QDir().mkpath(folder)) {
                err << "glimmerset-cli animate: "
                    << Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "cannot make the folder '%1'"),
                           { folder.toStdString() })
                    << '\n';
                return false;
            }
        }
        current = FramePicture(keys, frame, job.frames, job.ease);
        worker.Begin({ file, job.watermark ? CWatermarkFile::Path() : QString(), std::nullopt,
            static_cast<int>(job.pngLevel), {}, {}, job.antialias });
        while (!worker.Wait(terminal ? kProgressInterval : std::chrono::hours(24))) {
            if (terminal) {
                ShowProgress((written + skipped + failed + worker.m_dProgress.load()) / counts.share,
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
            }
        }
        worker.Join();
        if (worker.Outcome() != ExportOutcome::Succeeded) {
            if (terminal) {
                ClearProgress();
            }
            err << "glimmerset-cli animate: "
                << Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "frame %1: %2"),
                       { std::to_string(frame), Shown(outcome) })
                << '\n';
            ++failed;
            continue;
        }
        if (++written == killAfter) {
            std::raise(SIGKILL);
        }
    }
    if (terminal) {
        ClearProgress();
    }
    return true;
}

} // namespace

int RunAnimate(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    CCommandOptions options = AnimateOptions();
    std::string problem;
    if (!options.Parse(args, problem)) {
        return Usage(err, problem);
    }
    if (HandleHelpOrVersion(options, HelpText(kAnimateUsage), out)) {
        return kExitOk;
    }
    AnimateJob job;
    if (const std::optional<int> exit = ReadAnimateJob(options, job, err)) {
        return *exit;
    }
    if (!job.shard.source.empty()) {
        err << Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "shard %1/%2 from %3"),
            { std::to_string(job.shard.index), std::to_string(job.shard.count), job.shard.source })
            << '\n';
    }
    if (job.list) {
        for (int frame = job.shard.index; frame < job.frames; frame += job.shard.count) {
            out << frame << ' ' << *FramePath(job.pattern, frame) << '\n';
        }
        return kExitOk;
    }
    const std::vector<ImageCodec> writers = ImageCodecs(CodecUse::Writing);
    const QString firstPath = QString::fromStdString(*FramePath(job.pattern, 0));
    if (WriterForFile(writers, firstPath) == nullptr) {
        return Usage(err,
            Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "no image writer for the extension of '%1'"),
                { job.pattern }));
    }
    QTemporaryDir dir;
    const CRemovedOnSignal cleanup(dir.path(), CRemovedOnSignal::Kind::Folder);
    std::vector<Picture> keys;
    if (!LoadKeys(job, dir, keys, err)) {
        return kExitFailure;
    }
    FrameCounts counts;
    const auto started = std::chrono::steady_clock::now();
    if (!RenderFrames(job, keys, counts, err)) {
        return kExitFailure;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const int written = counts.written;
    const int skipped = counts.skipped;
    if (counts.failed > 0) {
        err << "glimmerset-cli animate: "
            << Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "%1 of %2 frames failed"),
                   { std::to_string(counts.failed), std::to_string(counts.share) })
            << '\n';
        return kExitFailure;
    }
    if (!job.quiet) {
        out << (written > 0
                ? Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "%1 frames written, %2 already there (%3 frames/s)"),
                    { std::to_string(written), std::to_string(skipped),
                        FormatShortest(std::round(written / seconds * 100.0) / 100.0) })
                : Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "%1 frames written, %2 already there"),
                    { std::to_string(written), std::to_string(skipped) }))
            << '\n';
    }
    return job.video ? EncodeVideo(*job.video, job.fps, job.pattern, err) : kExitOk;
}
