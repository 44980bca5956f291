#include "cli.h"
#include "clirun.h"

#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <sstream>

namespace {

class Commands : public testing::Test {
protected:
    std::string Path(const char* name) const
    {
        return m_dir.filePath(QString::fromLatin1(name)).toStdString();
    }
    QTemporaryDir m_dir;
};

TEST_F(Commands, NewThenCheck)
{
    const Outcome created = Cli({ "new", "-o", Path("a.gsc") });
    ASSERT_EQ(created.code, 0) << created.err;
    const Outcome checked = Cli({ "check", Path("a.gsc") });
    EXPECT_EQ(checked.code, 0);
    EXPECT_EQ(checked.out, "ok: 1024 x 1024, 256 iterations, C = -0.78 - 0.15i, built-in palette\n");

    // A part that is not a number is written as a word of its own, never glued to the "i".
    QFile source(QString::fromStdString(Path("a.gsc")));
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    QByteArray text = source.readAll().replace("-0.150000}", "nan}");
    QFile nanFile(QString::fromStdString(Path("nan.gsc")));
    ASSERT_TRUE(nanFile.open(QIODevice::WriteOnly));
    nanFile.write(text);
    nanFile.close();
    EXPECT_EQ(Cli({ "check", Path("nan.gsc") }).out,
        "ok: 1024 x 1024, 256 iterations, C = -0.78 + nan*i, built-in palette\n");

    QFile file(QString::fromStdString(Path("bad.gsc")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("\xB0\xE6\xB1\xBE\xBA\xC5:{Glimmerset9}\r\n");
    file.close();
    const Outcome bad = Cli({ "check", Path("bad.gsc") });
    EXPECT_EQ(bad.code, 1);
    EXPECT_NE(bad.err.find("版本不正确"), std::string::npos) << bad.err;
    const Outcome missing = Cli({ "check", Path("missing.gsc") });
    EXPECT_EQ(missing.code, 1);
    EXPECT_NE(missing.err.find("打开文件失败"), std::string::npos) << missing.err;
    EXPECT_EQ(Cli({ "new", "-o", Path("no/folder/a.gsc") }).code, 1);
}

TEST_F(Commands, Render)
{
    ASSERT_EQ(Cli({ "new", "-o", Path("a.gsc") }).code, 0);
    const Outcome rendered = Cli({ "render", Path("a.gsc"), "-o", Path("a.png"), "--size", "300x150" });
    ASSERT_EQ(rendered.code, 0) << rendered.err;
    EXPECT_TRUE(rendered.out.starts_with("导出成功！用时[")) << rendered.out;
    const QImage picture(QString::fromStdString(Path("a.png")));
    ASSERT_EQ(picture.size(), QSize(300, 150));
    ASSERT_EQ(Cli({ "render", Path("a.gsc"), "--no-watermark", "--output=" + Path("b.png"), "--size=300x150",
                      "--threads", "2" })
                  .code,
        0);
    const QImage plain(QString::fromStdString(Path("b.png")));
    EXPECT_EQ(picture.pixel(0, 0), plain.pixel(0, 0));
    int differ = 0;
    for (int y = 150 - 63; y < 150; ++y) {
        for (int x = 300 - 277; x < 300; ++x) {
            differ += picture.pixel(x, y) != plain.pixel(x, y);
        }
    }
    EXPECT_GT(differ, 1000) << "the watermark sits in the bottom-right corner";

    const struct {
        std::vector<std::string> args;
        int code;
        const char* errContains;
    } rows[] = {
        { { "render", Path("a.gsc") }, 2, "missing '-o IMAGE'" },
        { { "render", "-o", Path("x.png") }, 2, "missing SCRIPT" },
        { { "render", Path("a.gsc"), "-o", Path("x.png"), "--size", "300" }, 2, "WIDTHxHEIGHT" },
        { { "render", Path("a.gsc"), "-o", Path("x.png"), "--bogus" }, 2, "unknown option" },
        { { "render", Path("a.gsc"), "-o", Path("x.png"), "--size", "15x64" }, 2, "from 16 to 4096" },
        { { "render", Path("a.gsc"), "-o", Path("x.png"), "--size", "100x4097" }, 2, "from 16 to 4096" },
        { { "render", Path("a.gsc"), "-o", Path("x.png"), "--threads", "0" }, 2, "'--threads'" },
        { { "render", Path("a.gsc"), "-o", Path("x.png"), "--threads", "2x" }, 2, "'--threads'" },
        { { "render", Path("missing.gsc"), "-o", Path("x.png") }, 1, "打开文件失败" },
        { { "new" }, 2, "missing '-o FILE.gsc'" },
        { { "check" }, 2, "missing SCRIPT" },
    };
    for (const auto& row : rows) {
        const Outcome outcome = Cli(row.args);
        EXPECT_EQ(outcome.code, row.code) << row.errContains;
        EXPECT_NE(outcome.err.find(row.errContains), std::string::npos) << outcome.err;
    }
}

// A formula that does not compile: the system's message first, then where and what, and the formula's
// line with the offending text marked, from every command that compiles one.
TEST_F(Commands, FormulaErrorsPoint)
{
    ASSERT_EQ(Cli({ "new", "-o", Path("a.gsc") }).code, 0);
    QFile good(QString::fromStdString(Path("a.gsc")));
    ASSERT_TRUE(good.open(QIODevice::ReadOnly));
    QFile bad(QString::fromStdString(Path("bad.gsc")));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write(good.readAll().replace("z * z + C", "z * z + D"));
    bad.close();
    const std::string formula = "iteration=z = z * z + D;";
    const std::string detail
        = "第 1 行，第 13 列：未知的名称“D”：常量名以 C 开头\n  z = z * z + D;\n              ^\n";
    const struct Row {
        std::vector<std::string> args;
        std::string first;
    } rows[] = {
        { { "eval", "z = z * z + D;" }, "error 2: 非法字符\n" },
        { { "check", Path("bad.gsc") },
            "glimmerset-cli check: " + Path("bad.gsc") + ": 迭代公式错误:非法字符\n" },
        { { "set", Path("a.gsc"), "--formula", formula },
            "glimmerset-cli set: " + Path("a.gsc") + ": 迭代公式错误:非法字符\n" },
        { { "render", Path("a.gsc"), "-o", Path("a.png"), "--formula", formula },
            "glimmerset-cli render: " + Path("a.gsc") + ": 迭代公式错误:非法字符\n" },
    };
    for (const Row& row : rows) {
        const Outcome outcome = Cli(row.args);
        EXPECT_EQ(outcome.code, 1) << row.args.front();
        EXPECT_EQ(outcome.err, row.first + detail) << row.args.front();
    }
}

TEST_F(Commands, HelpForEveryCommand)
{
    for (const char* command : { "eval", "new", "check", "render", "set", "dump", "extract", "animate" }) {
        const Outcome help = Cli({ command, "--help" });
        EXPECT_EQ(help.code, 0) << command;
        EXPECT_NE(help.out.find(std::string("glimmerset-cli ") + command), std::string::npos) << command;
        const Outcome asked = Cli({ "help", command });
        EXPECT_EQ(asked.code, 0) << command;
        EXPECT_EQ(asked.out, help.out) << "help " << command;
    }
    EXPECT_EQ(Cli({ "help" }).out, Cli({ "--help" }).out);
    EXPECT_EQ(Cli({ "help", "bogus" }).code, 2);
    EXPECT_EQ(Cli({ "--bogus", "eval", "1" }).code, 2);
}

// Short options take their value glued on, as QCommandLineParser reads them.
TEST_F(Commands, GluedShortOption)
{
    ASSERT_EQ(Cli({ "new", "-o" + Path("glued.gsc") }).code, 0);
    EXPECT_EQ(Cli({ "check", Path("glued.gsc") }).code, 0);
}

// --fit shows the script's whole view, centred, in another shape: the script's own picture is the
// middle of the wider one (the same lattice up to the last bit, so nearly every pixel is equal).
TEST_F(Commands, FitKeepsTheWholeViewCentred)
{
    ASSERT_EQ(Cli({ "new", "-o", Path("a.gsc") }).code, 0);
    const auto render = [&](const char* size, const char* name, bool fit) {
        std::vector<std::string> args { "render", Path("a.gsc"), "-o", Path(name), "--size", size,
            "--no-watermark", "--quiet" };
        if (fit) {
            args.push_back("--fit");
        }
        const Outcome outcome = Cli(args);
        EXPECT_EQ(outcome.code, 0) << outcome.err;
        EXPECT_EQ(outcome.out + outcome.err, "") << "--quiet prints nothing on success";
        return QImage(QString::fromStdString(Path(name)));
    };
    const QImage square = render("120x120", "square.png", false);
    const struct {
        const char* size;
        int left, top;
    } rows[] = { { "240x120", 60, 0 }, { "120x180", 0, 30 } };
    for (const auto& row : rows) {
        const QImage fitted = render(row.size, "fitted.png", true);
        int same = 0;
        for (int y = 0; y < 120; ++y) {
            for (int x = 0; x < 120; ++x) {
                same += fitted.pixel(x + row.left, y + row.top) == square.pixel(x, y);
            }
        }
        EXPECT_GT(same, 120 * 120 * 99 / 100) << row.size;
    }
    // The document's rule for another shape: the top-left corner and the width of the plane stay.
    const QImage tall = render("120x180", "tall.png", false);
    EXPECT_EQ(tall.copy(0, 0, 120, 120), square);
}

// --scale K is the same framing at K times the size: with sizes whose ratios are exact, the very
// pixels of --size at K times the size. What cannot be written a band at a time is refused first.
TEST_F(Commands, ScaleRendersTheSameFramingLarger)
{
    ASSERT_EQ(Cli({ "new", "-o", Path("a.gsc") }).code, 0);
    ASSERT_EQ(
        Cli({ "render", Path("a.gsc"), "-o", Path("scaled.png"), "--size", "64x32", "--scale", "4" }).code,
        0);
    ASSERT_EQ(Cli({ "render", Path("a.gsc"), "-o", Path("sized.bmp"), "--size", "256x128" }).code, 0);
    const QImage scaled(QString::fromStdString(Path("scaled.png")));
    EXPECT_EQ(scaled.size(), QSize(256, 128));
    EXPECT_EQ(scaled.convertToFormat(QImage::Format_RGB32),
        QImage(QString::fromStdString(Path("sized.bmp"))).convertToFormat(QImage::Format_RGB32));
    const struct {
        std::vector<std::string> args;
        int code;
        const char* errContains;
    } rows[] = {
        { { "--scale", "17" }, 2, "from 1 to 16" },
        { { "--scale", "0" }, 2, "from 1 to 16" },
        { { "--scale", "2", "-o", Path("x.jpg") }, 2, "PNG or BMP only" },
        { { "--scale", "2", "--data", Path("x.npy") }, 2, "'--scale 1'" },
        { { "--scale", "16", "--size", "4096x4096", "-o", Path("x.bmp") }, 1, "2 GiB" },
    };
    for (const auto& row : rows) {
        std::vector<std::string> args { "render", Path("a.gsc"), "-o", Path("x.png") };
        args.insert(args.end(), row.args.begin(), row.args.end());
        const Outcome outcome = Cli(args);
        EXPECT_EQ(outcome.code, row.code) << row.errContains;
        EXPECT_NE(outcome.err.find(row.errContains), std::string::npos) << outcome.err;
    }
    EXPECT_FALSE(QFile::exists(QString::fromStdString(Path("x.bmp"))));
}

TEST_F(Commands, JsonReport)
{
    ASSERT_EQ(Cli({ "new", "-o", Path("a.gsc") }).code, 0);
    const Outcome file = Cli({ "render", Path("a.gsc"), "-o", Path("a.png"), "--json" });
    ASSERT_EQ(file.code, 0) << file.err;
    EXPECT_EQ(std::count(file.out.begin(), file.out.end(), '\n'), 1);
    for (const std::string& part : { std::string("{\"outcome\":\"success\",\"message\":\"导出成功！用时["),
             "\"path\":\"" + Path("a.png") + "\"", std::string("\"width\":1024,\"height\":1024,"),
             std::string("\"iterations\":20611394,\"threads\":"), std::string("\"render_seconds\":"),
             std::string("\"encode_seconds\":"), std::string("\"total_seconds\":") }) {
        EXPECT_NE(file.out.find(part), std::string::npos) << part << " in " << file.out;
    }
    EXPECT_EQ(file.out.find("deep_"), std::string::npos) << "a shallow picture has no deep figures";
    // A deep view adds the deep path's figures.
    ASSERT_EQ(
        Cli({ "set", Path("a.gsc"), "--center", "0,1", "--width", "1e-30", "-o", Path("deep.gsc") }).code, 0);
    const Outcome deep
        = Cli({ "render", Path("deep.gsc"), "-o", Path("deep.png"), "--size", "16x16", "--json" });
    ASSERT_EQ(deep.code, 0) << deep.err;
    for (const char* key : { ",\"deep_references\":", ",\"deep_skipped_iterations\":", ",\"deep_rebases\":",
             ",\"deep_precise_pixels\":0,", ",\"deep_reference_bits\":" }) {
        EXPECT_NE(deep.out.find(key), std::string::npos) << key << " in " << deep.out;
    }
    EXPECT_EQ(deep.out.find("\"deep_references\":0,"), std::string::npos) << deep.out;
    // With the picture on standard output the report goes to standard error.
    const Outcome piped = Cli({ "render", Path("a.gsc"), "-o", "-", "--size", "16x16", "--json" });
    ASSERT_EQ(piped.code, 0);
    EXPECT_TRUE(piped.out.starts_with("\x89PNG"));
    EXPECT_TRUE(piped.err.starts_with("{\"outcome\":\"success\"")) << piped.err;
    EXPECT_NE(piped.err.find("\"path\":\"-\",\"width\":16,\"height\":16"), std::string::npos) << piped.err;
    EXPECT_EQ(Cli({ "render", Path("a.gsc"), "-o", Path("a.png"), "--json", "--quiet" }).code, 2);
}

} // namespace

namespace {

// Runs with standard input taken from text.
Outcome CliWithInput(const std::string& text, std::vector<std::string> args)
{
    std::istringstream input(text);
    std::streambuf* const saved = std::cin.rdbuf(input.rdbuf());
    const Outcome outcome = Cli(std::move(args));
    std::cin.rdbuf(saved);
    return outcome;
}

} // namespace

TEST_F(Commands, StandardInputAndOutput)
{
    // "-o -" writes the script to standard output, and "-" reads one from standard input.
    const Outcome script = Cli({ "new", "-o", "-" });
    ASSERT_EQ(script.code, 0) << script.err;
    EXPECT_TRUE(script.out.starts_with("\xB0\xE6\xB1\xBE\xBA\xC5:{Glimmerset0.01}\r\n"));
    const Outcome checked = CliWithInput(script.out, { "check", "-" });
    EXPECT_EQ(checked.code, 0) << checked.err;
    EXPECT_TRUE(checked.out.starts_with("ok: 1024 x 1024")) << checked.out;

    const Outcome picture
        = CliWithInput(script.out, { "render", "-", "-o", "-", "--format", "ppm", "--size", "100x100" });
    ASSERT_EQ(picture.code, 0) << picture.err;
    EXPECT_TRUE(picture.out.starts_with("P6")) << "a PPM picture on standard output";
    EXPECT_TRUE(picture.err.starts_with("导出成功")) << "the outcome goes to standard error then";
    EXPECT_EQ(CliWithInput("no script", { "check", "-" }).code, 1);
    EXPECT_EQ(Cli({ "render", "x.gsc", "-o", "-", "--format", "../png" }).code, 2);
}

TEST_F(Commands, VersionOfEveryCommand)
{
    for (const char* command : { "eval", "new", "check", "render", "set", "dump", "extract", "animate" }) {
        const Outcome version = Cli({ command, "--version" });
        EXPECT_EQ(version.code, 0) << command;
        EXPECT_EQ(version.out, "glimmerset-cli 0.01\n") << command;
    }
}

namespace {

// A picture stands in for its script wherever a script is read; extract gives the script back, and
// a picture without one says so.
TEST_F(Commands, PicturesCarryTheirScript)
{
    ASSERT_EQ(Cli({ "new", "-o", Path("a.gsc") }).code, 0);
    ASSERT_EQ(Cli({ "render", Path("a.gsc"), "-o", Path("a.jpg"), "--size", "32x32", "--quiet" }).code, 0);
    EXPECT_EQ(Cli({ "check", Path("a.jpg") }).out,
        "ok: 1024 x 1024, 256 iterations, C = -0.78 - 0.15i, built-in palette\n");
    ASSERT_EQ(Cli({ "extract", Path("a.jpg"), "-o", Path("b.gsc") }).code, 0);
    QFile a(QString::fromStdString(Path("a.gsc")));
    QFile b(QString::fromStdString(Path("b.gsc")));
    ASSERT_TRUE(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
    EXPECT_EQ(a.readAll(), b.readAll());

    ASSERT_TRUE(QImage(8, 8, QImage::Format_RGB32).save(QString::fromStdString(Path("plain.png"))));
    const struct Row {
        std::vector<std::string> args;
        int code;
        std::string err;
    } rows[] = {
        { { "extract", Path("plain.png"), "-o", Path("c.gsc") }, 1,
            "glimmerset-cli extract: " + Path("plain.png") + ": 图片中没有脚本\n" },
        { { "render", Path("plain.png"), "-o", Path("c.png") }, 1,
            "glimmerset-cli render: " + Path("plain.png") + ": 图片中没有脚本\n" },
        { { "extract", Path("plain.png") }, 2,
            "glimmerset-cli extract: missing '-o SCRIPT.gsc'; try 'glimmerset-cli extract --help'\n" },
        { { "extract", "-o", Path("c.gsc") }, 2,
            "glimmerset-cli extract: missing PICTURE; try 'glimmerset-cli extract --help'\n" },
    };
    for (const Row& row : rows) {
        const Outcome outcome = Cli(row.args);
        EXPECT_EQ(outcome.code, row.code) << row.args[0];
        EXPECT_EQ(outcome.err, row.err) << row.args[0];
    }
    EXPECT_FALSE(QFile::exists(QString::fromStdString(Path("c.gsc"))));
}

} // namespace
