#include "animate.h"

#include "cli.h"
#include "options.h"
#include "renderreport.h"

#include "antialias.h"
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
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <numbers>
#include <ostream>

#include <unistd.h>

namespace {

constexpr const char* kAnimateUsage = QT_TRANSLATE_NOOP("glimmerset-cli",
    "Usage: glimmerset-cli animate FROM.gsc TO.gsc [MORE.gsc ...] --frames N -o PATTERN\n"
    "                              [--ease linear|smooth] [--size WxH] [--aa N] [--no-watermark]\n"
    "                              [--threads N] [--png-level N] [--shard K/N | --shard-count N]\n"
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
    "  --shard K/N         render only the frames k with k mod N = K; 0/1 renders all of them and\n"
    "                      reads nothing from the environment\n"
    "  --shard-count N     the N of a shard whose K comes from JOB_COMPLETION_INDEX (Kubernetes\n"
    "                      Indexed Job) or PARALLEL_SEQ - 1 (GNU Parallel)\n"
    "  --skip-existing     leave frames whose file is already there (a re-run after a failure)\n"
    "  --list              print the frame numbers and files this shard would render, and stop\n"
    "  --video OUT.mp4     then encode the frames into a video with ffmpeg, when it is installed\n"
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
constexpr long long kMaxThreads = 256;
constexpr long long kMaxFrames = 10'000'000;
constexpr int kMaxPatternWidth = 20;
constexpr double kDefaultFps = 25.0;
// Tests only: the process kills itself with SIGKILL after writing this many frames, the way a
// machine of a render farm may go away, at a moment the test chooses.
constexpr const char* kKillAfterVariable = "GLIMMERSET_TEST_KILL_AFTER_FRAMES";

int Usage(std::ostream& err, std::string_view problem) { return CommandUsage(err, "animate", problem); }

double Lerp(double a, double b, double t) { return a + (b - a) * t; }

// The view between two keys of which one at least is deeper than doubles hold, as FramePicture moves
// shallow views (centre evenly, width by a constant factor), in MPFR at the deeper key's precision.
PlaneView DeepFrameView(const Picture& a, const Picture& b, double t, int width, int height)
{
    const PlaneView va = ViewOf(a);
    const PlaneView vb = ViewOf(b);
    const mpfr_prec_t bits = std::max(ViewBits(va), ViewBits(vb));
    BigFloat ax(bits), ay(bits), bx(bits), by(bits);
    CentreOf(va, width, height, bits, ax, ay);
    CentreOf(vb, width, height, bits, bx, by);
    const PreciseView pa = PreciseViewOf(va, bits);
    const PreciseView pb = PreciseViewOf(vb, bits);
    BigFloat ratio = pa.ratio;
    if (mpfr_equal_p(pa.ratio.get(), pb.ratio.get()) == 0) {
        if (mpfr_sgn(pa.ratio.get()) > 0 && mpfr_sgn(pb.ratio.get()) > 0) {
            // a * (b / a)^t: the logarithm of the quotient has no trouble with exponents past doubles.
            ratio = pb.ratio / pa.ratio;
            mpfr_log(ratio.get(), ratio.get(), MPFR_RNDN);
            mpfr_mul_d(ratio.get(), ratio.get(), t, MPFR_RNDN);
            mpfr_exp(ratio.get(), ratio.get(), MPFR_RNDN);
            ratio = pa.ratio * ratio;
        } else {
            ratio = pa.ratio + (pb.ratio - pa.ratio) * t;
        }
    }
    return ViewAroundCentre(ax + (bx - ax) * t, ay + (by - ay) * t, ratio, width, height);
}

bool ParseWhole(std::string_view text, int& value)
{
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && result.ec == std::errc() && result.ptr == text.data() + text.size();
}

bool ParseSize(std::string_view text, int& width, int& height)
{
    const size_t x = text.find_first_of("xX");
    return x != std::string_view::npos && ParseWhole(text.substr(0, x), width)
        && ParseWhole(text.substr(x + 1), height);
}

// The functions a frame's picture needs, from additions, multiplications, divisions and square roots
// alone, which IEEE arithmetic rounds alike everywhere: the C library picks other code for other CPUs,
// and a frame must be the same picture on every machine of a render farm.
namespace exact {

constexpr int kSeriesTerms = 40;

// e^x: x = k ln 2 + r with |r| <= ln 2 / 2, e^r by its series, then scaled by 2^k (exact).
double Exp(double x)
{
    // Beyond these e^x is 0 or infinite anyway; the bound keeps the conversion to int defined.
    constexpr double kLimit = 2000.0;
    const double k = std::clamp(std::nearbyint(x / std::numbers::ln2), -kLimit, kLimit);
    const double r = x - k * std::numbers::ln2;
    double term = 1.0;
    double sum = 1.0;
    for (int n = 1; n < kSeriesTerms && term != 0.0; ++n) {
        term *= r / n;
        sum += term;
    }
    return std::ldexp(sum, static_cast<int>(k));
}

// ln x for x > 0: x = m 2^e with m in [0.5, 1), ln m = 2 atanh((m - 1) / (m + 1)) by its series.
double Log(double x)
{
    int e = 0;
    const double m = std::frexp(x, &e);
    const double s = (m - 1.0) / (m + 1.0);
    double power = s;
    double sum = 0.0;
    for (int n = 0; n < kSeriesTerms; ++n) {
        sum += power / (2 * n + 1);
        power *= s * s;
    }
    return 2.0 * sum + e * std::numbers::ln2;
}

// sin and cos of an angle in [-2 pi, 2 pi] by their series.
void SinCos(double x, double& sine, double& cosine)
{
    double term = x;
    sine = 0.0;
    for (int n = 1; n < kSeriesTerms; n += 2) {
        sine += term;
        term *= -x * x / ((n + 1) * (n + 2));
    }
    term = 1.0;
    cosine = 0.0;
    for (int n = 0; n < kSeriesTerms; n += 2) {
        cosine += term;
        term *= -x * x / ((n + 1) * (n + 2));
    }
}

// atan x: halving the angle three times (tan(a / 2) = x / (1 + sqrt(1 + x^2))) leaves |x| < 0.2
// for the series.
double Atan(double x)
{
    for (int k = 0; k < 3; ++k) {
        x = x / (1.0 + std::sqrt(1.0 + x * x));
    }
    double power = x;
    double sum = 0.0;
    for (int n = 0; n < kSeriesTerms; ++n) {
        sum += (n % 2 == 0 ? power : -power) / (2 * n + 1);
        power *= x * x;
    }
    return 8.0 * sum;
}

double Atan2(double y, double x)
{
    if (x == 0.0 && y == 0.0) {
        return 0.0;
    }
    if (std::fabs(x) >= std::fabs(y)) {
        const double a = Atan(y / x);
        return x > 0.0 ? a : (y >= 0.0 ? a + std::numbers::pi : a - std::numbers::pi);
    }
    const double a = Atan(x / y);
    return y > 0.0 ? std::numbers::pi / 2 - a : -std::numbers::pi / 2 - a;
}

} // namespace exact

// The plane's rotation of a mapping as an angle and a length (the pair is used as stored, so its
// length scales the palette too).
struct Rotation {
    double angle;
    double length;
};

Rotation RotationOf(const PaletteMapping& m)
{
    return { exact::Atan2(m.sin, m.cos), std::sqrt(m.sin * m.sin + m.cos * m.cos) };
}

} // namespace

int KeyFrame(int key, int keys, int frames)
{
    // Integer rounding, half up: the same frame on every machine.
    const long long twice = 2LL * key * (frames - 1) + (keys - 1);
    return static_cast<int>(twice / (2LL * (keys - 1)));
}

Picture FramePicture(const std::vector<Picture>& keys, int frame, int frames, Ease ease)
{
    const int count = static_cast<int>(keys.size());
    int j = 0;
    while (j + 1 < count && KeyFrame(j + 1, count, frames) <= frame) {
        ++j;
    }
    const int from = KeyFrame(j, count, frames);
    if (frame == from || j + 1 == count) {
        return keys[static_cast<size_t>(j)];
    }
    const Picture& a = keys[static_cast<size_t>(j)];
    const Picture& b = keys[static_cast<size_t>(j) + 1];
    double t = static_cast<double>(frame - from) / (KeyFrame(j + 1, count, frames) - from);
    if (ease == Ease::Smooth) {
        t = t * t * (3.0 - 2.0 * t);
    }
    Picture p = a;
    for (int k = 0; k < p.iterFormula.GetConstantCount(); ++k) {
        const Complex ca = a.iterFormula.GetConstant(k);
        const Complex cb
            = b.iterFormula.GetConstant(b.iterFormula.FindConstant(a.iterFormula.GetConstantName(k)));
        p.iterFormula.SetConstant(k, { Lerp(ca.re, cb.re, t), Lerp(ca.im, cb.im, t) });
    }
    p.maxIter = static_cast<int>(std::lround(Lerp(a.maxIter, b.maxIter, t)));
    const PaletteMapping& ma = a.mapping;
    const PaletteMapping& mb = b.mapping;
    p.mapping.x0 = Lerp(ma.x0, mb.x0, t);
    p.mapping.y0 = Lerp(ma.y0, mb.y0, t);
    p.mapping.dx = Lerp(ma.dx, mb.dx, t);
    p.mapping.dy = Lerp(ma.dy, mb.dy, t);
    p.mapping.stretch = Lerp(ma.stretch, mb.stretch, t);
    // By angle, the shorter way round: sine and cosine moved on their own would shrink the palette
    // to a point on the way through a half turn.
    const Rotation ra = RotationOf(ma);
    const Rotation rb = RotationOf(mb);
    double turn = rb.angle - ra.angle;
    if (turn > std::numbers::pi) {
        turn -= 2.0 * std::numbers::pi;
    } else if (turn < -std::numbers::pi) {
        turn += 2.0 * std::numbers::pi;
    }
    const double angle = ra.angle + turn * t;
    const double length = Lerp(ra.length, rb.length, t);
    // A rotation both keys share stays as stored, to the last bit.
    if (ma.sin != mb.sin || ma.cos != mb.cos) {
        double sine = 0.0;
        double cosine = 1.0;
        exact::SinCos(angle, sine, cosine);
        p.mapping.sin = length * sine;
        p.mapping.cos = length * cosine;
    }
    if (!a.exact.Empty() || !b.exact.Empty()) {
        SetViewOf(p, DeepFrameView(a, b, t, p.imageWidth, p.imageHeight));
        return p;
    }
    // The centre moves evenly and the width by a constant factor per frame: a zoom at even speed.
    const double halfWidth = p.imageWidth / 2.0;
    const double halfHeight = p.imageHeight / 2.0;
    const double centreX = Lerp(a.offsetX + halfWidth * a.ratio, b.offsetX + halfWidth * b.ratio, t);
    const double centreY = Lerp(a.offsetY + halfHeight * a.ratio, b.offsetY + halfHeight * b.ratio, t);
    // Geometric for widths that have a logarithm; a script may hold any number, and those move linearly.
    const bool geometric = a.ratio > 0.0 && b.ratio > 0.0 && std::isfinite(a.ratio) && std::isfinite(b.ratio);
    p.ratio = a.ratio == b.ratio ? a.ratio
        : geometric              ? a.ratio * exact::Exp(exact::Log(b.ratio / a.ratio) * t)
                                 : Lerp(a.ratio, b.ratio, t);
    p.offsetX = centreX - halfWidth * p.ratio;
    p.offsetY = centreY - halfHeight * p.ratio;
    return p;
}

std::string KeyDifference(const Picture& first, const Picture& picture)
{
    const auto missing = [](const CFormula& from, const CFormula& in) -> std::string {
        for (int k = 0; k < from.GetConstantCount(); ++k) {
            if (in.FindConstant(from.GetConstantName(k)) < 0) {
                return from.GetConstantName(k);
            }
        }
        return {};
    };
    if (const std::string name = missing(picture.iterFormula, first.iterFormula); !name.empty()) {
        return "it has the constant " + name + ", which the first key lacks";
    }
    if (const std::string name = missing(first.iterFormula, picture.iterFormula); !name.empty()) {
        return "it lacks the constant " + name + " of the first key";
    }
    const struct {
        const char* name;
        const CFormula& a;
        const CFormula& b;
    } formulas[] = { { "iteration", first.iterFormula, picture.iterFormula },
        { "termination", first.termFormula, picture.termFormula },
        { "colour", first.colorFormula, picture.colorFormula } };
    for (const auto& formula : formulas) {
        if (formula.a.GetText() != formula.b.GetText()) {
            return std::string("its ") + formula.name + " formula '" + formula.b.GetText()
                + "' is not the first key's '" + formula.a.GetText() + "'";
        }
    }
    const Raster& pa = first.palette.raster;
    const Raster& pb = picture.palette.raster;
    bool samePalette = pa.width == pb.width && pa.height == pb.height && pa.bitsPerPixel == pb.bitsPerPixel;
    const size_t rowBytes = static_cast<size_t>(pa.width) * static_cast<size_t>(pa.bitsPerPixel / 8);
    for (int y = 0; samePalette && y < pa.height; ++y) {
        samePalette = std::equal(pa.pixels + static_cast<ptrdiff_t>(y) * pa.bytesPerRow,
            pa.pixels + static_cast<ptrdiff_t>(y) * pa.bytesPerRow + rowBytes,
            pb.pixels + static_cast<ptrdiff_t>(y) * pb.bytesPerRow);
    }
    if (!samePalette) {
        return "its palette is not the first key's";
    }
    return {};
}

std::optional<std::string> FramePath(const std::string& pattern, int frame, std::string* problem)
{
    const auto fail = [problem](std::string why) -> std::optional<std::string> {
        if (problem) {
            *problem = std::move(why);
        }
        return std::nullopt;
    };
    std::string path;
    int conversions = 0;
    for (size_t k = 0; k < pattern.size(); ++k) {
        if (pattern[k] != '%') {
            path += pattern[k];
            continue;
        }
        if (k + 1 < pattern.size() && pattern[k + 1] == '%') {
            path += '%';
            ++k;
            continue;
        }
        size_t at = k + 1;
        const bool zeros = at < pattern.size() && pattern[at] == '0';
        at += zeros ? 1 : 0;
        int width = 0;
        while (at < pattern.size() && pattern[at] >= '0' && pattern[at] <= '9' && width <= kMaxPatternWidth) {
            width = width * 10 + (pattern[at++] - '0');
        }
        if (at >= pattern.size() || pattern[at] != 'd' || width > kMaxPatternWidth) {
            return fail("'" + pattern + "' may hold only %d, %0Nd or %Nd (N up to 20) and %%");
        }
        std::string number = std::to_string(frame);
        if (static_cast<int>(number.size()) < width) {
            number.insert(0, static_cast<size_t>(width) - number.size(), zeros ? '0' : ' ');
        }
        path += number;
        ++conversions;
        k = at;
    }
    if (conversions != 1) {
        return fail("'" + pattern + "' needs one %05d (or %d) for the frame number");
    }
    return path;
}

bool ReadAntialias(const std::optional<std::string>& text, std::optional<int>& samples, std::string& problem)
{
    samples.reset();
    if (!text) {
        return true;
    }
    int value = 0;
    if (!ParseWhole(*text, value) || value < kMinAntialias || value > kMaxAntialias) {
        problem = "'--aa' needs a whole number from " + std::to_string(kMinAntialias) + " to "
            + std::to_string(kMaxAntialias) + ", not '" + *text + "'";
        return false;
    }
    samples = value;
    return true;
}

bool ReadThreadsAndPngLevel(const std::optional<std::string>& threads,
    const std::optional<std::string>& level, long long& pngLevel, std::string& problem)
{
    if (threads) {
        long long count = 0;
        if (!ParseCount(*threads, count) || count < 1 || count > kMaxThreads) {
            problem = "'--threads' needs a whole number from 1 to " + std::to_string(kMaxThreads) + ", not '"
                + *threads + "'";
            return false;
        }
        CRenderPool::Instance().SetThreads(static_cast<int>(count));
    }
    if (level && (!ParseCount(*level, pngLevel) || pngLevel > kMaxPngLevel)) {
        problem = "'--png-level' needs a whole number from 0 to 9, not '" + *level + "'";
        return false;
    }
    return true;
}

bool ReadShard(const std::optional<std::string>& shard, const std::optional<std::string>& shardCount,
    const std::function<const char*(const char*)>& getenv, Shard& result, std::string& problem)
{
    result = {};
    int count = 0;
    if (shardCount && (!ParseWhole(*shardCount, count) || count < 1)) {
        problem = "'--shard-count' needs a whole number of at least 1, not '" + *shardCount + "'";
        return false;
    }
    const auto check = [&](int index, int total, const std::string& what) {
        if (total < 1 || index < 0 || index >= total) {
            problem = what + " gives shard " + std::to_string(index) + "/" + std::to_string(total)
                + ", which is not one of 0/N to (N-1)/N";
            return false;
        }
        result.index = index;
        result.count = total;
        return true;
    };
    if (shard) {
        const size_t slash = shard->find('/');
        int index = 0;
        int total = 0;
        if (slash == std::string::npos || !ParseWhole(std::string_view(*shard).substr(0, slash), index)
            || !ParseWhole(std::string_view(*shard).substr(slash + 1), total)) {
            problem = "'--shard' needs K/N, such as 0/4, not '" + *shard + "'";
            return false;
        }
        return check(index, total, "'--shard " + *shard + "'");
    }
    const auto number = [&](const char* name, int& value) {
        const char* text = getenv(name);
        if (text == nullptr) {
            return false;
        }
        if (!ParseWhole(text, value)) {
            problem = std::string(name) + " is '" + text + "', not a whole number";
            value = -1;
        }
        return true;
    };
    int id = 0;
    int total = 0;
    if (number("SLURM_ARRAY_TASK_ID", id) && number("SLURM_ARRAY_TASK_COUNT", total)) {
        int first = 0;
        int step = 1;
        number("SLURM_ARRAY_TASK_MIN", first);
        number("SLURM_ARRAY_TASK_STEP", step);
        if (!problem.empty()) {
            return false;
        }
        if (step < 1 || (id - first) % step != 0) {
            problem = "SLURM_ARRAY_TASK_STEP " + std::to_string(step)
                + " does not lead from SLURM_ARRAY_TASK_MIN to SLURM_ARRAY_TASK_ID";
            return false;
        }
        result.source = "SLURM_ARRAY_TASK_ID";
        return check((id - first) / step, total, "the Slurm array");
    }
    if (!problem.empty()) {
        return false;
    }
    for (const auto& [name, base] :
        { std::pair { "JOB_COMPLETION_INDEX", 0 }, std::pair { "PARALLEL_SEQ", 1 } }) {
        if (!number(name, id)) {
            continue;
        }
        if (!problem.empty()) {
            return false;
        }
        // GNU Parallel and Kubernetes run many commands that are no shards; only --shard-count
        // makes their number one.
        if (!shardCount) {
            return true;
        }
        result.source = name;
        return check(id - base, count, name);
    }
    if (shardCount) {
        problem = "'--shard-count' needs JOB_COMPLETION_INDEX or PARALLEL_SEQ in the environment, or "
                  "'--shard K/N'";
        return false;
    }
    return true;
}

namespace {

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
    bool watermark { true };
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
            Valued({ QStringLiteral("shard") }, QStringLiteral("K/N")),
            Valued({ QStringLiteral("shard-count") }, QStringLiteral("N")),
            Flag({ QStringLiteral("skip-existing") }), Flag({ QStringLiteral("list") }),
            Valued({ QStringLiteral("video") }, QStringLiteral("OUT")),
            Valued({ QStringLiteral("fps") }, QStringLiteral("F")), Flag({ QStringLiteral("quiet") }) });
}

std::optional<int> ReadAnimateJob(const CCommandOptions& options, AnimateJob& job, std::ostream& err)
{
    job.keys = options.Positional();
    if (job.keys.size() < 2) {
        return Usage(err, "needs at least two key scripts");
    }
    const std::optional<std::string> pattern = options.Value(QStringLiteral("o"));
    if (!pattern) {
        return Usage(err, "missing '-o PATTERN'");
    }
    job.pattern = *pattern;
    std::string problem;
    if (!FramePath(job.pattern, 0, &problem)) {
        return Usage(err, problem);
    }
    const std::optional<std::string> frames = options.Value(QStringLiteral("frames"));
    long long count = 0;
    if (!frames) {
        return Usage(err, "missing '--frames N'");
    }
    if (!ParseCount(*frames, count) || count < static_cast<long long>(job.keys.size())
        || count > kMaxFrames) {
        return Usage(err,
            "'--frames' needs a whole number from the number of keys (" + std::to_string(job.keys.size())
                + ") to " + std::to_string(kMaxFrames) + ", not '" + *frames + "'");
    }
    job.frames = static_cast<int>(count);
    if (const std::optional<std::string> ease = options.Value(QStringLiteral("ease"))) {
        if (*ease != "linear" && *ease != "smooth") {
            return Usage(err, "'--ease' needs linear or smooth, not '" + *ease + "'");
        }
        job.ease = *ease == "smooth" ? Ease::Smooth : Ease::Linear;
    }
    job.size = options.Value(QStringLiteral("size"));
    if (job.size
        && (!ParseSize(*job.size, job.width, job.height) || std::min(job.width, job.height) < kMinToolSide
            || std::max(job.width, job.height) > kMaxToolSide)) {
        return Usage(err,
            "'--size' needs WIDTHxHEIGHT, each side from " + std::to_string(kMinToolSide) + " to "
                + std::to_string(kMaxToolSide) + ", not '" + *job.size + "'");
    }
    if (!ReadAntialias(options.Value(QStringLiteral("aa")), job.antialias, problem)) {
        return Usage(err, problem);
    }
    if (!ReadThreadsAndPngLevel(options.Value(QStringLiteral("threads")),
            options.Value(QStringLiteral("png-level")), job.pngLevel, problem)) {
        return Usage(err, problem);
    }
    if (!ReadShard(
            options.Value(QStringLiteral("shard")), options.Value(QStringLiteral("shard-count")),
            [](const char* name) { return std::getenv(name); }, job.shard, problem)) {
        return Usage(err, problem);
    }
    job.video = options.Value(QStringLiteral("video"));
    if (const std::optional<std::string> fps = options.Value(QStringLiteral("fps"))) {
        if (!job.video) {
            return Usage(err, "'--fps' goes with '--video'");
        }
        if (!ParseDouble(*fps, job.fps) || !(job.fps > 0.0 && job.fps <= 1000.0)) {
            return Usage(err, "'--fps' needs a number above 0 and at most 1000, not '" + *fps + "'");
        }
    }
    if (job.video && job.shard.count > 1) {
        return Usage(err, "'--video' needs every frame: it does not go with a shard");
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
        if (job.size) {
            ShowAtSize(picture, job.width, job.height);
        } else if (!keys.empty()
            && (picture.imageWidth != keys.front().imageWidth
                || picture.imageHeight != keys.front().imageHeight)) {
            ShowAtSize(picture, keys.front().imageWidth, keys.front().imageHeight);
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

// Whether a frame's file is there: frames appear only complete, so a regular file is a finished one.
bool FrameDone(const QString& path)
{
    const QFileInfo file(path);
    return file.isFile() && file.size() > 0;
}

// Encodes the frames into a video: ffmpeg reads them as they lie on disk through its image sequence
// input, which takes the same printf pattern.
int EncodeVideo(const AnimateJob& job, std::ostream& err)
{
    const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    if (ffmpeg.isEmpty()) {
        err << "glimmerset-cli animate: cannot write '" << *job.video
            << "': ffmpeg is missing (install it, or encode the frames on disk yourself)\n";
        return kExitFailure;
    }
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(ffmpeg,
        { QStringLiteral("-nostdin"), QStringLiteral("-y"), QStringLiteral("-loglevel"),
            QStringLiteral("error"), QStringLiteral("-framerate"),
            QString::fromStdString(FormatShortest(job.fps)), QStringLiteral("-start_number"),
            QStringLiteral("0"), QStringLiteral("-i"), QString::fromStdString(job.pattern),
            QStringLiteral("-pix_fmt"), QStringLiteral("yuv420p"), QStringLiteral("-vf"),
            QStringLiteral("pad=ceil(iw/2)*2:ceil(ih/2)*2"), QString::fromStdString(*job.video) });
    if (!process.waitForStarted() || !process.waitForFinished(-1)
        || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        err << "glimmerset-cli animate: ffmpeg could not write '" << *job.video << "'\n";
        return kExitFailure;
    }
    return kExitOk;
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
        err << "shard " << job.shard.index << '/' << job.shard.count << " from " << job.shard.source << '\n';
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
        return Usage(err, "no image writer for the extension of '" + job.pattern + "'");
    }
    QTemporaryDir dir;
    const CRemovedOnSignal cleanup(dir.path(), CRemovedOnSignal::Kind::Folder);
    std::vector<Picture> keys;
    if (!LoadKeys(job, dir, keys, err)) {
        return kExitFailure;
    }
    int killAfter = -1;
    if (const char* kill = std::getenv(kKillAfterVariable)) {
        killAfter = std::atoi(kill);
    }

    const CWatermarkFile watermark;
    Picture current;
    std::string outcome;
    CExportWorker worker(
        [&current] { return current; }, [&outcome](std::string text) { outcome = std::move(text); });
    const bool terminal = !job.quiet && isatty(STDERR_FILENO) == 1;
    const auto started = std::chrono::steady_clock::now();
    const int share = (job.frames - job.shard.index + job.shard.count - 1) / job.shard.count;
    int written = 0;
    int skipped = 0;
    int failed = 0;
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
                err << "glimmerset-cli animate: cannot make the folder '" << folder.toStdString() << "'\n";
                return kExitFailure;
            }
        }
        current = FramePicture(keys, frame, job.frames, job.ease);
        worker.Begin({ file, job.watermark ? CWatermarkFile::Path() : QString(), std::nullopt,
            static_cast<int>(job.pngLevel), {}, {}, job.antialias });
        while (!worker.Wait(terminal ? kProgressInterval : std::chrono::hours(24))) {
            if (terminal) {
                ShowProgress((written + skipped + failed + worker.m_dProgress.load()) / share,
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
            }
        }
        worker.Join();
        if (worker.Outcome() != ExportOutcome::Succeeded) {
            if (terminal) {
                ClearProgress();
            }
            err << "glimmerset-cli animate: frame " << frame << ": " << outcome << '\n';
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
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (failed > 0) {
        err << "glimmerset-cli animate: " << failed << " of " << share << " frames failed\n";
        return kExitFailure;
    }
    if (!job.quiet) {
        out << written << " frames written, " << skipped << " already there";
        if (written > 0) {
            out << " (" << FormatShortest(std::round(written / seconds * 100.0) / 100.0) << " frames/s)";
        }
        out << '\n';
    }
    return job.video ? EncodeVideo(job, err) : kExitOk;
}
