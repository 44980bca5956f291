#include "animate.h"
#include "cli.h"
#include "clirun.h"

#include "antialias.h"

#include "fractalscript.h"
#include "scriptfile.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cfloat>

#include <cmath>
#include <cstdlib>
#include <map>
#include <numbers>
#include <sstream>

namespace {

QByteArray Bytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class Animate : public testing::Test {
protected:
    std::string Path(const QString& name) const { return m_dir.filePath(name).toStdString(); }

    // A new script with some of its lines ("KEY{VALUE}") given other values.
    std::string Script(const QString& name, const std::map<QString, QString>& values)
    {
        const std::string path = Path(name);
        EXPECT_EQ(Cli({ "new", "-o", path }).code, 0);
        QString text = DecodeScriptText(Bytes(QString::fromStdString(path)));
        for (const auto& [key, value] : values) {
            text.replace(QRegularExpression(QRegularExpression::escape(key) + QStringLiteral("\\{[^}]*\\}")),
                key + '{' + value + '}');
        }
        QFile file(QString::fromStdString(path));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(EncodeScriptText(text));
        return path;
    }

    // Three keys that differ in everything an animation moves.
    std::vector<std::string> Keys()
    {
        return { Script(QStringLiteral("a.gsc"), {}),
            Script(QStringLiteral("b.gsc"),
                { { QStringLiteral(u"常量00"), QStringLiteral("C=-0.7, 0.27") },
                    { QStringLiteral(u"最大迭代次数:"), QStringLiteral("60") },
                    { QStringLiteral(u"比率:"), QStringLiteral("0.0015") },
                    { QStringLiteral(u"调色板映射:"), QStringLiteral("0.1, 0.2, 1, 1, 0.5, 0.5, 2") } }),
            Script(QStringLiteral("c.gsc"),
                { { QStringLiteral(u"常量00"), QStringLiteral("C=0.285, 0.01") },
                    { QStringLiteral(u"复平面偏移:"), QStringLiteral("-1, -0.5") } }) };
    }

    QTemporaryDir m_dir;
};

// --iterations gives every key (so every frame) that limit, above 10000 too: a frame on a key is the
// picture render makes with the same option, and carries the limit in its script.
TEST_F(Animate, IterationsForEveryKey)
{
    const std::vector<std::string> keys = Keys();
    const std::string pattern = Path(QStringLiteral("i%d.png"));
    const Outcome made = Cli({ "animate", keys[0], keys[1], "--frames", "3", "--size", "24x24",
        "--iterations", "20000", "-o", pattern, "--quiet" });
    ASSERT_EQ(made.code, 0) << made.err;
    for (int frame = 0; frame < 3; ++frame) {
        const std::string dump = Cli({ "dump", Path(QStringLiteral("i%1.png").arg(frame)) }).out;
        EXPECT_NE(dump.find("iterations: 20000\n"), std::string::npos) << frame << "\n" << dump;
    }
    ASSERT_EQ(Cli({ "render", keys[1], "-o", Path(QStringLiteral("b.png")), "--size", "24x24", "--iterations",
                      "20000", "--quiet" })
                  .code,
        0);
    EXPECT_EQ(QImage(QString::fromStdString(Path(QStringLiteral("b.png")))),
        QImage(QString::fromStdString(Path(QStringLiteral("i2.png")))));
    EXPECT_EQ(
        Cli({ "animate", keys[0], keys[1], "--frames", "3", "--iterations", "many", "-o", pattern }).code, 2);
}

// Frames on the keys are the pictures render makes of the key scripts, pixel for pixel, with and
// without --size.
TEST_F(Animate, FramesOnKeysAreTheKeyScriptsRendered)
{
    const std::vector<std::string> keys = Keys();
    const struct {
        std::vector<std::string> size;
        const char* text;
    } rows[] = { { { "--size", "40x30" }, "--size" }, { {}, "own size" } };
    for (const auto& row : rows) {
        const std::string pattern = Path(QStringLiteral("f/%03d.png"));
        std::vector<std::string> args { "animate", keys[0], keys[1], keys[2], "--frames", "7", "-o", pattern,
            "--quiet" };
        args.insert(args.end(), row.size.begin(), row.size.end());
        if (row.size.empty()) {
            // The scripts' own 1024 x 1024 is too slow for a test: every key at 120 x 100.
            for (const std::string& key : keys) {
                QString text = DecodeScriptText(Bytes(QString::fromStdString(key)));
                text.replace(QStringLiteral("1024, 1024"), QStringLiteral("120, 100"));
                QFile file(QString::fromStdString(key));
                ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
                file.write(EncodeScriptText(text));
            }
        }
        const Outcome animated = Cli(args);
        ASSERT_EQ(animated.code, 0) << animated.err;
        EXPECT_EQ(animated.out, "");
        for (const auto& [key, frame] : { std::pair { 0, 0 }, std::pair { 1, 3 }, std::pair { 2, 6 } }) {
            std::vector<std::string> render { "render", keys[static_cast<size_t>(key)], "-o",
                Path(QStringLiteral("key.png")), "--quiet" };
            render.insert(render.end(), row.size.begin(), row.size.end());
            ASSERT_EQ(Cli(render).code, 0) << row.text;
            const QImage expected(QString::fromStdString(Path(QStringLiteral("key.png"))));
            const QImage got(QString::fromStdString(*FramePath(pattern, frame)));
            EXPECT_FALSE(got.isNull()) << row.text << " frame " << frame;
            EXPECT_TRUE(got == expected) << row.text << " frame " << frame;
        }
        const QImage middle(QString::fromStdString(*FramePath(pattern, 1)));
        EXPECT_FALSE(middle == QImage(QString::fromStdString(*FramePath(pattern, 0)))) << row.text;
        QDir(m_dir.filePath(QStringLiteral("f"))).removeRecursively();
    }
}

Picture KeyPicture(
    Complex constant, int maxIter, double offsetX, double offsetY, double ratio, PaletteMapping mapping)
{
    CFractalScript script;
    script.SetDefaults();
    Picture picture = script.TakeSnapshot();
    picture.iterFormula.SetConstant(0, constant);
    picture.maxIter = maxIter;
    picture.view.offsetX = offsetX;
    picture.view.offsetY = offsetY;
    picture.view.ratio = ratio;
    picture.imageWidth = 200;
    picture.imageHeight = 100;
    picture.mapping = mapping;
    return picture;
}

// Between two keys: constants, mapping origin, scales and stretch linearly; the rotation by angle
// (through a half turn the palette keeps its size); the centre linearly, the width geometrically;
// the limit rounded.
TEST(AnimateInterpolation, Midpoint)
{
    const double h = std::numbers::sqrt2 / 2;
    const Picture a = KeyPicture({ -1, 0.5 }, 100, -1.0, -0.5, 0.01, { 0, 0, 1, 1, 0, 1, 1 });
    const Picture b = KeyPicture({ 1, 1.5 }, 201, 0.0, 0.0, 0.0025, { 0.5, 1, 3, 2, 1, 0, 3 });
    const Picture c = KeyPicture({ 1, 1.5 }, 201, 0.0, 0.0, 0.0025, { 0.5, 1, 3, 2, 0, -1, 3 });
    const Picture m = FramePicture({ a, b }, 1, 3, Ease::Linear);
    const Picture half = FramePicture({ a, c }, 2, 5, Ease::Linear);
    const Picture eased = FramePicture({ a, b }, 1, 5, Ease::Smooth);
    const Picture linear = FramePicture({ a, b }, 1, 5, Ease::Linear);
    // Width 2 -> 0.5 at the midpoint: 1; centre (0, 0) -> (0.25, 0.125): (0.125, 0.0625).
    const struct {
        const char* text;
        double got;
        double expected;
    } rows[] = {
        { "constant re", m.iterFormula.GetConstant(0).re, 0.0 },
        { "constant im", m.iterFormula.GetConstant(0).im, 1.0 },
        { "limit rounded", static_cast<double>(m.maxIter), 151.0 },
        { "width geometric", m.view.ratio * m.imageWidth, 1.0 },
        { "centre x", m.view.offsetX + 100 * m.view.ratio, 0.125 },
        { "centre y", m.view.offsetY + 50 * m.view.ratio, 0.0625 },
        { "mapping x0", m.mapping.x0, 0.25 },
        { "mapping dx", m.mapping.dx, 2.0 },
        { "mapping dy", m.mapping.dy, 1.5 },
        { "mapping stretch", m.mapping.stretch, 2.0 },
        { "quarter turn sin", m.mapping.sin, h },
        { "quarter turn cos", m.mapping.cos, h },
        { "half turn keeps size (sin)", std::abs(half.mapping.sin), 1.0 },
        { "half turn keeps size (cos)", half.mapping.cos, 0.0 },
        { "smoothstep at a quarter", eased.mapping.x0, 0.5 * 0.15625 },
        { "linear at a quarter", linear.mapping.x0, 0.5 * 0.25 },
    };
    for (const auto& row : rows) {
        EXPECT_NEAR(row.got, row.expected, 1e-12) << row.text;
    }
    EXPECT_EQ(KeyFrame(1, 3, 10), 5); // 4.5 rounds up
    EXPECT_EQ(KeyFrame(2, 3, 10), 9);
}

// Between keys deeper than doubles: the same rule in MPFR, widths from 1e-300 to 1e-1000 and a centre
// that moves by less than a double can tell.
TEST(AnimateInterpolation, DeepKeys)
{
    constexpr mpfr_prec_t bits = 4000;
    const auto key = [](const char* x, const char* width) {
        Picture picture = KeyPicture({ 0, 0 }, 100, 0, 0, 1, { 0, 0, 1, 1, 0, 1, 1 });
        picture.view = ViewAroundCentre(BigFloat::Parse(x, bits, nullptr),
            BigFloat::Parse("0.25", bits, nullptr), BigFloat::Parse(width, bits, nullptr) / 200, 200, 100);
        return picture;
    };
    const Picture a = key("-0.75", "1e-300");
    const Picture b
        = key("-0.75000000000000000000000000000000000000000000000000000000000000000002", "1e-1000");
    const Picture m = FramePicture({ a, b }, 1, 3, Ease::Linear);
    ASSERT_FALSE(m.view.exact.Empty());
    BigFloat x(bits), y(bits);
    CentreOf(m.view, 200, 100, bits, x, y);
    const BigFloat width = PreciseViewOf(m, bits).ratio * 200.0;
    const auto near = [](const BigFloat& got, const char* want, double relative) {
        const BigFloat w = BigFloat::Parse(want, bits, nullptr);
        return std::fabs(((got - w) / w).ToDouble()) < relative;
    };
    EXPECT_TRUE(near(width, "1e-650", 1e-12)) << width.ToString(20) << ": geometric, past doubles";
    EXPECT_TRUE(near(x, "-0.75000000000000000000000000000000000000000000000000000000000000000001", 1e-75))
        << x.ToString(80);
    EXPECT_TRUE(near(y, "0.25", 1e-300)) << y.ToString(20);
    EXPECT_EQ(m.view.ratio, DBL_MIN);
}

TEST_F(Animate, KeysThatCannotBeAnimatedAndBadArguments)
{
    const std::string a = Script(QStringLiteral("a.gsc"), {});
    const std::string formula
        = Script(QStringLiteral("f.gsc"), { { QStringLiteral(u"迭代公式:"), QStringLiteral("z=z*z+C2") } });
    const std::string colour
        = Script(QStringLiteral("c.gsc"), { { QStringLiteral(u"取色公式:"), QStringLiteral("z") } });
    const std::string smuggled = Script(QStringLiteral("s.gsc"),
        { { QStringLiteral(u"调色板文件:"), QStringLiteral(u"x最大迭代次数:{9999") } });
    const std::string out = Path(QStringLiteral("%d.png"));
    const struct {
        std::vector<std::string> args;
        int code;
        const char* errContains;
    } rows[] = {
        { { "animate", a, formula, "--frames", "3", "-o", out }, 1,
            "it has the constant C2, which the first key lacks" },
        { { "animate", formula, a, "--frames", "3", "-o", out }, 1, "it has the constant C" },
        { { "animate", a, colour, "--frames", "3", "-o", out }, 1, "its colour formula 'z'" },
        { { "animate", smuggled, smuggled, "--frames", "3", "-o", out }, 1,
            "the palette name 'x最大迭代次数:{9999' cannot be written to a script file" },
        { { "animate", a, "--frames", "3", "-o", out }, 2, "at least two key scripts" },
        { { "animate", a, a, a, "--frames", "2", "-o", out }, 2, "'--frames' needs" },
        { { "animate", a, a, "--frames", "3", "-o", Path(QStringLiteral("x.png")) }, 2, "needs one %05d" },
        { { "animate", a, a, "--frames", "3", "-o", Path(QStringLiteral("%d%d.png")) }, 2, "needs one %05d" },
        { { "animate", a, a, "--frames", "3", "-o", Path(QStringLiteral("%s.png")) }, 2, "may hold only" },
        { { "animate", a, a, "--frames", "3", "-o", out, "--ease", "fast" }, 2, "'--ease'" },
        { { "animate", a, a, "--frames", "3", "-o", out, "--shard", "3/3" }, 2, "not one of" },
        { { "animate", a, a, "--frames", "3", "-o", out, "--shard", "1" }, 2, "needs K/N" },
        { { "animate", a, a, "--frames", "3", "-o", out, "--shard-count", "2" }, 2, "JOB_COMPLETION_INDEX" },
        { { "animate", a, a, "--frames", "3", "-o", out, "--shard", "0/2", "--video", "x.mp4" }, 2,
            "'--video'" },
    };
    for (const auto& row : rows) {
        const Outcome outcome = Cli(row.args);
        EXPECT_EQ(outcome.code, row.code) << row.errContains;
        EXPECT_NE(outcome.err.find(row.errContains), std::string::npos) << outcome.err;
    }
    EXPECT_EQ(FramePath("f/%05d.png", 42), "f/00042.png");
    EXPECT_EQ(FramePath("%%%3d", 7), "%  7");
}

// The engines' own variables choose the shard; --shard and a wrong value win over them.
TEST(AnimateShard, FromTheEnvironment)
{
    const struct {
        std::map<std::string, std::string> environment;
        std::optional<std::string> shard, count;
        bool ok;
        int index, total;
        const char* source;
    } rows[] = {
        { {}, {}, {}, true, 0, 1, "" },
        { { { "SLURM_ARRAY_TASK_ID", "7" }, { "SLURM_ARRAY_TASK_MIN", "3" }, { "SLURM_ARRAY_TASK_STEP", "2" },
              { "SLURM_ARRAY_TASK_COUNT", "4" } },
            {}, {}, true, 2, 4, "SLURM_ARRAY_TASK_ID" },
        { { { "SLURM_ARRAY_TASK_ID", "5" }, { "SLURM_ARRAY_TASK_MIN", "1" },
              { "SLURM_ARRAY_TASK_COUNT", "5" } },
            {}, {}, true, 4, 5, "SLURM_ARRAY_TASK_ID" },
        { { { "SLURM_ARRAY_TASK_ID", "5" }, { "SLURM_ARRAY_TASK_COUNT", "5" } }, {}, {}, false, 0, 0, "" },
        { { { "SLURM_ARRAY_TASK_ID", "x" }, { "SLURM_ARRAY_TASK_COUNT", "5" } }, {}, {}, false, 0, 0, "" },
        { { { "SLURM_ARRAY_TASK_ID", "2" }, { "SLURM_ARRAY_TASK_COUNT", "5" } }, "0/1", {}, true, 0, 1, "" },
        { { { "JOB_COMPLETION_INDEX", "3" } }, {}, "8", true, 3, 8, "JOB_COMPLETION_INDEX" },
        { { { "JOB_COMPLETION_INDEX", "8" } }, {}, "8", false, 0, 0, "" },
        { { { "JOB_COMPLETION_INDEX", "3" } }, {}, {}, true, 0, 1, "" },
        { { { "PARALLEL_SEQ", "3" } }, {}, "3", true, 2, 3, "PARALLEL_SEQ" },
        { { { "PARALLEL_SEQ", "0" } }, {}, "3", false, 0, 0, "" },
        { { { "PARALLEL_SEQ", "2" }, { "JOB_COMPLETION_INDEX", "0" } }, {}, "3", true, 0, 3,
            "JOB_COMPLETION_INDEX" },
    };
    for (const auto& row : rows) {
        const std::string text = row.source + std::string(" ") + std::to_string(row.environment.size());
        Shard shard;
        std::string problem;
        const bool ok = ReadShard(
            row.shard, row.count,
            [&](const char* name) -> const char* {
                const auto found = row.environment.find(name);
                return found == row.environment.end() ? nullptr : found->second.c_str();
            },
            shard, problem);
        ASSERT_EQ(ok, row.ok) << text << ": " << problem;
        if (ok) {
            EXPECT_EQ(shard.index, row.index) << text;
            EXPECT_EQ(shard.count, row.total) << text;
            EXPECT_EQ(shard.source, row.source) << text;
        }
    }
}

// A number beyond an int is named as out of range, and never overflows the shard's arithmetic.
TEST(AnimateShard, NumbersOutOfRange)
{
    const std::map<std::string, std::string> environment { { "SLURM_ARRAY_TASK_ID", "0" },
        { "SLURM_ARRAY_TASK_MIN", "-9223372036854775808" }, { "SLURM_ARRAY_TASK_COUNT", "4" } };
    const auto getenv = [&](const char* name) -> const char* {
        const auto found = environment.find(name);
        return found == environment.end() ? nullptr : found->second.c_str();
    };
    Shard shard;
    std::string problem;
    EXPECT_FALSE(ReadShard({}, {}, getenv, shard, problem));
    EXPECT_NE(problem.find("SLURM_ARRAY_TASK_MIN is '-9223372036854775808', out of range"), std::string::npos)
        << problem;
}

// The process reads its own environment and says where the shard came from; --list renders nothing.
TEST_F(Animate, SlurmArrayListsItsShare)
{
    const std::string a = Script(QStringLiteral("a.gsc"), {});
    ::setenv("SLURM_ARRAY_TASK_ID", "2", 1);
    ::setenv("SLURM_ARRAY_TASK_COUNT", "3", 1);
    ::setenv("SLURM_ARRAY_TASK_MIN", "1", 1);
    const Outcome listed = Cli({ "animate", a, a, "--frames", "8", "-o", "out/%04d.png", "--list" });
    ::unsetenv("SLURM_ARRAY_TASK_ID");
    ::unsetenv("SLURM_ARRAY_TASK_COUNT");
    ::unsetenv("SLURM_ARRAY_TASK_MIN");
    EXPECT_EQ(listed.code, 0);
    EXPECT_EQ(listed.err, "shard 1/3 from SLURM_ARRAY_TASK_ID\n");
    EXPECT_EQ(listed.out, "1 out/0001.png\n4 out/0004.png\n7 out/0007.png\n");
    EXPECT_FALSE(QDir(QStringLiteral("out")).exists());
}

// Three shards run by GNU Parallel make the frames of one run byte for byte; a shard killed after
// its first frame and run again with --skip-existing renders only what is missing.
TEST_F(Animate, ShardsWithGnuParallel)
{
    if (QStandardPaths::findExecutable(QStringLiteral("parallel")).isEmpty()) {
        GTEST_SKIP() << "GNU Parallel is not installed (scripts/deps.sh installs it)";
    }
    const std::vector<std::string> keys = Keys();
    const std::string cli = GLIMMERSET_CLI_PATH;
    const std::string common = keys[0] + " " + keys[1] + " " + keys[2] + " --frames 11 --size 32x24 --quiet";
    ASSERT_EQ(Cli({ "animate", keys[0], keys[1], keys[2], "--frames", "11", "--size", "32x24", "--quiet",
                      "-o", Path(QStringLiteral("one/%05d.png")) })
                  .code,
        0);
    const auto shell = [](const std::string& command, const QStringList& environment = {}) {
        QProcess process;
        QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
        for (const QString& setting : environment) {
            variables.insert(setting.section(QLatin1Char('='), 0, 0), setting.section(QLatin1Char('='), 1));
        }
        process.setProcessEnvironment(variables);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(QStringLiteral("/bin/sh"), { QStringLiteral("-c"), QString::fromStdString(command) });
        process.waitForFinished(120'000);
        return std::pair { process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAll()).toStdString() };
    };
    const std::string many = Path(QStringLiteral("many/%05d.png"));
    // Shard 1 (PARALLEL_SEQ 2) dies after its first frame; the other two finish.
    const auto [code, output] = shell("parallel --will-cite -N0 -j3 '" + cli + " animate " + common + " -o "
            + many + " --shard-count 3' ::: a b c",
        { QStringLiteral("GLIMMERSET_TEST_KILL_AFTER_FRAMES=1"), QStringLiteral("LANGUAGE=en") });
    EXPECT_NE(code, 0) << output;
    EXPECT_NE(output.find("shard 2/3 from PARALLEL_SEQ"), std::string::npos) << output;
    int present = 0;
    for (int frame = 0; frame < 11; ++frame) {
        present += QFile::exists(QString::fromStdString(*FramePath(many, frame)));
    }
    EXPECT_EQ(present, 3) << "each shard wrote one frame before it was killed";
    const auto [again, log] = shell("PARALLEL_SEQ=2 " + cli + " animate " + common + " -o " + many
        + " --shard-count 3 --skip-existing && parallel --will-cite -j3 '" + cli + " animate " + common
        + " -o " + many + " --shard {}/3 --skip-existing' ::: 0 2");
    EXPECT_EQ(again, 0) << log;
    QStringList names = QDir(m_dir.filePath(QStringLiteral("many"))).entryList(QDir::Files | QDir::Hidden);
    EXPECT_EQ(names, QDir(m_dir.filePath(QStringLiteral("one"))).entryList(QDir::Files | QDir::Hidden))
        << "no stray temporary files";
    for (int frame = 0; frame < 11; ++frame) {
        const QString sharded = QString::fromStdString(*FramePath(many, frame));
        EXPECT_EQ(Bytes(sharded),
            Bytes(QString::fromStdString(
                Path(QStringLiteral("one/%1.png").arg(frame, 5, 10, QLatin1Char('0'))))))
            << "frame " << frame;
    }
}

// sRGB in linear light as the maths library gives it, rounded to 16 bits: the test's own reference.
std::uint32_t Linear(int value)
{
    const double c = value / 255.0;
    return static_cast<std::uint32_t>(
        std::lround(65535.0 * (c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4))));
}

// The sRGB value nearest to a linear light, the higher one on a tie.
int Encoded(std::uint32_t linear)
{
    int best = 0;
    for (int v = 1; v < 256; ++v) {
        const long long gap = std::llabs(static_cast<long long>(Linear(v)) - linear);
        if (gap <= std::llabs(static_cast<long long>(Linear(best)) - linear)) {
            best = v;
        }
    }
    return best;
}

// --aa 1 is the picture without it; --aa 2 is the 2x picture averaged 2 x 2 in linear light, on any
// number of threads; the setting is kept in the script file only when it is above 1.
TEST_F(Animate, AntialiasedRender)
{
    for (int v = 0; v < 256; ++v) {
        ASSERT_EQ(kSrgbToLinear[v], Linear(v)) << v;
        ASSERT_EQ(LinearToSrgb(kSrgbToLinear[v]), v) << v;
    }
    const std::string script = Script(
        QStringLiteral("s.gsc"), { { QStringLiteral(u"目标图像大小:"), QStringLiteral("120, 100") } });
    const auto render = [&](const char* name, std::vector<std::string> more) {
        std::vector<std::string> args { "render", script, "-o", Path(QString::fromLatin1(name)), "--quiet" };
        args.insert(args.end(), more.begin(), more.end());
        EXPECT_EQ(Cli(args).code, 0) << name;
        return QImage(m_dir.filePath(QString::fromLatin1(name)));
    };
    render("plain.png", {});
    render("aa1.png", { "--aa", "1" });
    EXPECT_EQ(
        Bytes(m_dir.filePath(QStringLiteral("plain.png"))), Bytes(m_dir.filePath(QStringLiteral("aa1.png"))));
    const QImage fine = render("fine.png", { "--size", "240x200", "--no-watermark" });
    const QImage aa2 = render("aa2.png", { "--aa", "2", "--no-watermark", "--threads", "1" });
    ASSERT_EQ(aa2.size(), QSize(120, 100));
    int differing = 0;
    for (int y = 0; y < 100; ++y) {
        for (int x = 0; x < 120; ++x) {
            const QRgb samples[] = { fine.pixel(2 * x, 2 * y), fine.pixel(2 * x + 1, 2 * y),
                fine.pixel(2 * x, 2 * y + 1), fine.pixel(2 * x + 1, 2 * y + 1) };
            int channels[3];
            for (int c = 0; c < 3; ++c) {
                std::uint32_t sum = 0;
                for (const QRgb sample : samples) {
                    sum += Linear((sample >> (8 * c)) & 0xFF);
                }
                channels[c] = Encoded((sum + 2) / 4);
            }
            const QRgb expected = qRgb(channels[2], channels[1], channels[0]);
            differing += samples[0] != samples[3];
            ASSERT_EQ(aa2.pixel(x, y), expected) << x << "," << y;
        }
    }
    EXPECT_GT(differing, 50) << "the picture has edges to smooth";
    const QImage threads = render("aa2t.png", { "--aa", "2", "--no-watermark", "--threads", "2" });
    EXPECT_TRUE(threads == aa2);

    // Bands of one row of pixels give the picture of one band.
    CFractalScript loaded;
    ASSERT_TRUE(loaded.Load(QString::fromStdString(script)));
    std::atomic<int> stage { 0 };
    std::atomic<bool> stop { false };
    std::atomic<double> progress { 0.0 };
    CRenderPool pool;
    QImage whole(120, 100, QImage::Format_RGB32);
    QImage banded(120, 100, QImage::Format_RGB32);
    for (QImage* image : { &whole, &banded }) {
        Picture picture = loaded.TakeSnapshot();
        const Raster raster { 120, 100, static_cast<int>(image->bytesPerLine()), 32, image->bits() };
        ASSERT_EQ(RenderAntialiased(picture, raster, 3, { stage, 0, stop, progress, pool }, nullptr,
                      image == &banded ? 1 : kAntialiasBandSamples),
            kRenderDone);
    }
    EXPECT_TRUE(whole == banded);
    EXPECT_EQ(progress.load(), 1.0);

    // The file keeps it in a line of its own after the constants, only above 1.
    const struct {
        int samples;
        bool line;
    } rows[] = { { 1, false }, { 3, true }, { 9, true } };
    for (const auto& row : rows) {
        loaded.SetAntialias(row.samples);
        const QString saved = m_dir.filePath(QStringLiteral("saved.gsc"));
        ASSERT_TRUE(loaded.Save(saved));
        const QString text = DecodeScriptText(Bytes(saved));
        EXPECT_EQ(text.contains(QStringLiteral(u"抗锯齿采样:{")), row.line) << row.samples;
        if (row.line) {
            EXPECT_TRUE(text.endsWith(
                QStringLiteral(u"}\n抗锯齿采样:{%1}\n").arg(std::min(row.samples, kMaxAntialias))))
                << text.toStdString();
        }
        CFractalScript again;
        ASSERT_TRUE(again.Load(saved));
        EXPECT_EQ(again.GetAntialias(), std::min(row.samples, kMaxAntialias));
    }
}

// --video hands the frames to ffmpeg when there is one, and says so when there is none.
TEST_F(Animate, Video)
{
    const std::string a = Script(QStringLiteral("a.gsc"), {});
    const std::string b
        = Script(QStringLiteral("b.gsc"), { { QStringLiteral(u"常量00"), QStringLiteral("C=0.285, 0.01") } });
    const std::vector<std::string> args { "animate", a, b, "--frames", "3", "--size", "33x24", "--quiet",
        "-o", Path(QStringLiteral("v/%02d.png")), "--video", Path(QStringLiteral("v.mp4")), "--fps", "12" };
    const std::string path = std::getenv("PATH");
    ::setenv("PATH", m_dir.path().toLocal8Bit().constData(), 1);
    const Outcome missing = Cli(args);
    ::setenv("PATH", path.c_str(), 1);
    EXPECT_EQ(missing.code, 1);
    EXPECT_NE(missing.err.find("ffmpeg is missing"), std::string::npos) << missing.err;
    EXPECT_TRUE(QFile::exists(m_dir.filePath(QStringLiteral("v/02.png")))) << "the frames stay";
    if (QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty()) {
        GTEST_SKIP() << "ffmpeg is not installed (scripts/deps.sh installs it)";
    }
    const Outcome encoded = Cli(args);
    ASSERT_EQ(encoded.code, 0) << encoded.err;
    EXPECT_TRUE(Bytes(m_dir.filePath(QStringLiteral("v.mp4"))).contains("ftyp"));
}

// A video is complete or not there: a failing ffmpeg leaves nothing at the output, a name that
// begins with '-' reaches ffmpeg as a path, and a frame cut short is rendered again by --skip-existing.
TEST_F(Animate, VideoAndFramesWholeOrNothing)
{
    const std::string a = Script(QStringLiteral("a.gsc"), {});
    const std::string b
        = Script(QStringLiteral("b.gsc"), { { QStringLiteral(u"常量00"), QStringLiteral("C=0.285, 0.01") } });
    // A stand-in for ffmpeg: it notes its arguments, writes a part of a video to its last one and
    // ends with the status it is told.
    const QString bin = m_dir.filePath(QStringLiteral("bin"));
    ASSERT_TRUE(QDir().mkpath(bin));
    QFile fake(bin + QStringLiteral("/ffmpeg"));
    ASSERT_TRUE(fake.open(QIODevice::WriteOnly));
    fake.write("#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$0.args\"\nfor last; do :; done\n"
               "printf partial > \"$last\"\nread code < \"$0.status\"\nexit $code\n");
    fake.close();
    fake.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const auto status = [&](const char* code) {
        QFile file(bin + QStringLiteral("/ffmpeg.status"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(code);
    };
    const std::string path = std::getenv("PATH");
    const QString working = QDir::currentPath();
    ::setenv("PATH", bin.toLocal8Bit().constData(), 1);
    QDir::setCurrent(m_dir.path());
    const std::vector<std::string> args { "animate", a, b, "--frames", "3", "--size", "33x24", "--quiet",
        "-o", "f/%02d.png", "--video", "-v.mp4", "--skip-existing" };
    status("1");
    const Outcome failed = Cli(args);
    const bool leftBehind = QFile::exists(m_dir.filePath(QStringLiteral("-v.mp4")));
    status("0");
    const Outcome encoded = Cli(args);
    const QByteArray given = Bytes(bin + QStringLiteral("/ffmpeg.args"));
    QFile::resize(m_dir.filePath(QStringLiteral("f/01.png")), 100);
    const Outcome again = Cli(args);
    ::setenv("PATH", path.c_str(), 1);
    QDir::setCurrent(working);

    EXPECT_EQ(failed.code, 1);
    EXPECT_NE(failed.err.find("ffmpeg failed (exit status 1); nothing was written"), std::string::npos)
        << failed.err;
    EXPECT_FALSE(leftBehind);
    ASSERT_EQ(encoded.code, 0) << encoded.err;
    EXPECT_EQ(Bytes(m_dir.filePath(QStringLiteral("-v.mp4"))), "partial") << "only ffmpeg's success is kept";
    EXPECT_TRUE(given.contains("\n" + QFile::encodeName(m_dir.filePath(QStringLiteral("f/%02d.png"))) + "\n"))
        << given.toStdString();
    EXPECT_TRUE(given.endsWith(".mp4\n") && given.contains("\n/")) << given.toStdString();
    EXPECT_EQ(QDir(m_dir.path()).entryList({ QStringLiteral(".glimmerset-*") }, QDir::Hidden | QDir::Files),
        QStringList());
    ASSERT_EQ(again.code, 0) << again.err;
    EXPECT_EQ(QImage(m_dir.filePath(QStringLiteral("f/01.png"))).size(), QSize(33, 24));
}

} // namespace
