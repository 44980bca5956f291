// set, dump, new --from-json, render's changes and renders into a folder.
#include "cli.h"
#include "clirun.h"

#include "scriptfile.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sstream>

namespace {

QByteArray Bytes(const std::string& path)
{
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class Edit : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(Cli({ "new", "-o", Path("a.gsc") }).code, 0); }
    std::string Path(const std::string& name) const
    {
        return m_dir.filePath(QString::fromStdString(name)).toStdString();
    }
    QTemporaryDir m_dir;
};

TEST_F(Edit, EachChangeAndItsError)
{
    QImage palette(8, 4, QImage::Format_RGB32);
    palette.fill(Qt::red);
    ASSERT_TRUE(palette.save(QString::fromStdString(Path("pal.png"))));
    ASSERT_TRUE(palette.save(QString::fromStdString(Path("p\n最大迭代次数:{9999.png")), "png"));
    const struct {
        std::vector<std::string> changes;
        int code;
        std::string dumpLine; // a line of the changed script's dump
        std::string err;      // part of standard error; empty: nothing printed
    } rows[] = {
        { { "--iterations", "500" }, 0, "iterations: 500", "" },
        { { "--iterations", "20000" }, 0, "iterations: 20000", "" },
        // A termination that holds at once: the render of the largest limit stays instant.
        { { "--iterations", "99999999999", "--formula", "termination=1;" }, 0, "iterations: 1000000000",
            "outside 1 to 1000000000; 1000000000 is used" },
        { { "--iterations", "-3" }, 0, "iterations: 1", "; 1 is used" },
        { { "--iterations", "2.5" }, 2, "", "'--iterations' needs a whole number" },
        { { "--const", "C=0.3,-0.5" }, 0, "const C: 0.3,-0.5", "" },
        { { "--const", "C=0.25" }, 0, "const C: 0.25,0", "" },
        { { "--const", "D=1" }, 2, "", "no constant named 'D' (its constants: C)" },
        { { "--const", "C=nan" }, 2, "", "'--const' needs NAME=RE[,IM]" },
        { { "--formula", "iteration=z = z * z + C + C2;", "--const", "C2=0.5,1" }, 0,
            "const C: -0.78,-0.15\nconst C2: 0.5,1", "" },
        { { "--formula", "iteration=z = z +" }, 1, "", "迭代公式错误:" },
        { { "--formula", "iteration=z1 = 1;" }, 1, "", "迭代公式错误:未发现迭代变量" },
        { { "--formula", "termination=(" }, 1, "", "终止条件公式错误:" },
        { { "--formula", "colour=V_iter_n / 2;" }, 0, "formula colour: V_iter_n / 2;", "" },
        { { "--formula", "shape=z" }, 2, "", "'--formula' needs iteration=TEXT" },
        { { "--center", "0.5,0.25" }, 0, "center: 0.5,0.25\nwidth: 2\n", "" },
        { { "--width", "0.5" }, 0, "center: 0,0\nwidth: 0.5\n", "" },
        { { "--width", "0.5", "--center", "-1,1" }, 0, "offset: -1.25,0.75", "" },
        { { "--width", "0" }, 2, "", "'--width' needs a number above 0" },
        { { "--center", "1" }, 2, "", "'--center' needs RE,IM" },
        { { "--mapping", "0.1,0.2,2,3,0.6,-0.8,4" }, 0, "mapping: 0.1,0.2,2,3,0.6,-0.8,4", "" },
        { { "--mapping", "0,0,1,1,1.5,0,1" }, 0, "mapping: 0,0,1,1,1,0,1",
            "sine 1.5 is outside [-1, 1]; 1 is used" },
        { { "--mapping", "1,2,3" }, 2, "", "'--mapping' needs seven finite numbers" },
        { { "--palette", Path("pal.png"), "--mapping", "0,0,2,2,0,1,3" }, 0,
            "palette: " + Path("pal.png") + "\nmapping: 0,0,2,2,0,1,3", "" },
        { { "--palette", Path("missing.png") }, 1, "", "载入调色板失败!" },
        { { "--palette", Path("a}.png") }, 2, "", "cannot be named in a script file: it holds '}'" },
        { { "--palette", Path("p\n最大迭代次数:{9999.png") }, 2, "", "it holds a line break" },
        { { "--width", "1e-316000" }, 2, "",
            "'--width' 1e-316000 is deeper than the deepest view supported" },
    };
    for (const auto& row : rows) {
        const std::string where = row.changes.front() + " " + row.changes[1];
        std::vector<std::string> args { "set", Path("a.gsc"), "-o", Path("b.gsc") };
        args.insert(args.end(), row.changes.begin(), row.changes.end());
        QFile::remove(QString::fromStdString(Path("b.gsc")));
        const Outcome set = Cli(args);
        EXPECT_EQ(set.code, row.code) << where << "\n" << set.err;
        EXPECT_EQ(set.err.empty(), row.err.empty()) << where << "\n" << set.err;
        EXPECT_NE(set.err.find(row.err), std::string::npos) << where << "\n" << set.err;
        if (row.code != 0) {
            EXPECT_FALSE(QFile::exists(QString::fromStdString(Path("b.gsc")))) << where;
            continue;
        }
        const Outcome dump = Cli({ "dump", Path("b.gsc") });
        EXPECT_NE(dump.out.find(row.dumpLine), std::string::npos) << where << "\n" << dump.out;
        // render takes the same changes, with the same messages.
        args[0] = "render";
        args[3] = Path("b.png");
        args.insert(args.end(), { "--size", "16x16", "--quiet" });
        const Outcome render = Cli(args);
        EXPECT_EQ(render.code, 0) << where << "\n" << render.err;
        EXPECT_NE(render.err.find(row.err), std::string::npos) << where << "\n" << render.err;
    }
}

// --center and --width past doubles: the exact view line, dump's exact centre and width, JSON's
// texts, and back to doubles when the view is shallow again.
TEST_F(Edit, DeepView)
{
    ASSERT_EQ(Cli({ "set", Path("a.gsc"), "-o", Path("b.gsc"), "--width", "1e-1000" }).code, 0);
    const QString text = DecodeScriptText(Bytes(Path("b.gsc")));
    EXPECT_TRUE(text.contains(u"\n精确视图:{-5e-1001, -5e-1001, 9.765625e-1004}\n"_qs)) << text.toStdString();
    EXPECT_TRUE(text.contains(u"比率:{2.2250738585072014e-308}"_qs)) << text.toStdString();
    const Outcome dump = Cli({ "dump", Path("b.gsc") });
    EXPECT_NE(dump.out.find("center: 0,0\nwidth: 1e-1000\n"), std::string::npos) << dump.out;

    const std::string centre = "-0.7436438870371587047521915061,0.131825904205311970495252226";
    ASSERT_EQ(Cli({ "set", Path("b.gsc"), "--center", centre, "--width", "3.5e-30" }).code, 0);
    EXPECT_NE(Cli({ "dump", Path("b.gsc") }).out.find("center: " + centre + "\nwidth: 3.5e-30\n"),
        std::string::npos);
    // A picture carries the exact view in its script, whatever size it is rendered at.
    ASSERT_EQ(
        Cli({ "render", Path("b.gsc"), "-o", Path("b.png"), "--size", "32x16", "--fit", "--quiet" }).code, 0);
    EXPECT_NE(Cli({ "dump", Path("b.png") }).out.find("center: " + centre + "\nwidth: 3.5e-30\n"),
        std::string::npos);

    // JSON carries the exact texts: new --from-json writes the same file.
    const Outcome json = Cli({ "dump", Path("b.gsc"), "--json" });
    EXPECT_NE(json.out.find("\"exact\": [\""), std::string::npos) << json.out;
    QFile file(QString::fromStdString(Path("b.json")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(json.out.data(), static_cast<qint64>(json.out.size()));
    file.close();
    ASSERT_EQ(Cli({ "new", "--from-json", Path("b.json"), "-o", Path("c.gsc") }).code, 0);
    EXPECT_EQ(Bytes(Path("c.gsc")), Bytes(Path("b.gsc")));

    ASSERT_EQ(Cli({ "set", Path("b.gsc"), "--width", "0.5" }).code, 0);
    EXPECT_FALSE(DecodeScriptText(Bytes(Path("b.gsc"))).contains(u"精确视图"_qs));
    for (const char* width : { "-1e-1000", "0e5", "1e-400000", "1e400" }) {
        EXPECT_EQ(Cli({ "set", Path("b.gsc"), "--width", width }).code, 2) << width;
    }
}

TEST_F(Edit, SetThenDumpRoundTrip)
{
    // A render with changes is the picture of set with the same changes, then render.
    const std::vector<std::string> changes { "--const", "C=0.285,0.01", "--iterations", "20000", "--width",
        "1.7", "--center", "0.1,-0.2", "--mapping", "0.1,0,1.5,1,0.28,0.96,2" };
    std::vector<std::string> set { "set", Path("a.gsc"), "-o", Path("b.gsc") };
    set.insert(set.end(), changes.begin(), changes.end());
    ASSERT_EQ(Cli(set).code, 0);
    EXPECT_NE(Cli({ "dump", Path("b.gsc") }).out.find("iterations: 20000\n"), std::string::npos);
    std::vector<std::string> direct { "render", Path("a.gsc"), "-o", Path("direct.png"), "--size", "48x40",
        "--quiet" };
    direct.insert(direct.end(), changes.begin(), changes.end());
    ASSERT_EQ(Cli(direct).code, 0);
    ASSERT_EQ(Cli({ "render", Path("b.gsc"), "-o", Path("set.png"), "--size", "48x40", "--quiet" }).code, 0);
    EXPECT_EQ(
        QImage(QString::fromStdString(Path("direct.png"))), QImage(QString::fromStdString(Path("set.png"))));

    // dump --json, then new --from-json: the same bytes; so is set without changes.
    const Outcome json = Cli({ "dump", Path("b.gsc"), "--json" });
    ASSERT_EQ(json.code, 0) << json.err;
    QFile file(QString::fromStdString(Path("b.json")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(json.out.data(), static_cast<qint64>(json.out.size()));
    file.close();
    const Outcome made = Cli({ "new", "--from-json", Path("b.json"), "-o", Path("c.gsc") });
    ASSERT_EQ(made.code, 0) << made.err;
    EXPECT_EQ(Bytes(Path("c.gsc")), Bytes(Path("b.gsc")));
    ASSERT_EQ(Cli({ "set", Path("c.gsc") }).code, 0);
    EXPECT_EQ(Bytes(Path("c.gsc")), Bytes(Path("b.gsc")));

    // Values the writer keeps exactly and JSON numbers cannot hold: strings of their own.
    // A limit beyond the largest is brought to it, with a warning that names the number given.
    const char* edge = R"({"constants": {"C": ["nan", "-0"]}, "mapping": {"sin": "-inf"}, "ratio": 1e-300,
        "iterations": 5e9})";
    file.setFileName(QString::fromStdString(Path("edge.json")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(edge);
    file.close();
    const Outcome edged = Cli({ "new", "--from-json", Path("edge.json"), "-o", Path("edge.gsc") });
    ASSERT_EQ(edged.code, 0) << edged.err;
    EXPECT_NE(edged.err.find("iterations 5000000000 is outside 1 to 1000000000; 1000000000 is used"),
        std::string::npos)
        << edged.err;
    const std::string again = Cli({ "dump", "--json", Path("edge.gsc") }).out;
    EXPECT_NE(again.find(R"("iterations": 1000000000,)"), std::string::npos) << again;
    EXPECT_NE(again.find(R"("C": ["nan", "-0"])"), std::string::npos) << again;
    EXPECT_NE(again.find(R"("sin": -1,)"), std::string::npos) << again;
    EXPECT_NE(again.find(R"("ratio": 1e-300)"), std::string::npos) << again;

    const struct {
        const char* json;
        const char* err;
    } bad[] = {
        { "{", "not JSON" },
        { R"({"colour": "z;"})", "'colour': is not a key" },
        { R"({"constants": {"C2": [1, 2]}})", "'constants.C2': the iteration formula has no such constant" },
        { R"({"formulas": {"iteration": "z = ;"}})", "迭代公式错误:" },
        { R"({"size": [100.5, 100]})", "'size': needs a whole number" },
        { R"({"offset": [1]})", "'offset': needs an array of 2 numbers" },
        // Views: the answers of --center and --width.
        { R"({"ratio": "nan"})", "'ratio' needs a number, not 'nan'" },
        { R"({"ratio": 0})", "'ratio' needs a number above 0, not '0'" },
        { R"({"ratio": -1})", "'ratio' needs a number above 0" },
        { R"({"ratio": "inf"})", "'ratio' inf is beyond the largest number" },
        { R"({"offset": [0, "-inf"]})", "'offset' -inf is beyond the largest number" },
        { R"({"exact": ["0", "0", "1e-316000"]})", "'exact' 1e-316000 is deeper than the deepest view" },
        // Names the script file's lines cannot hold, and what a lenient reader would drop or keep.
        { "{\"palette\": \"x\\n\u6700\u5927\u8fed\u4ee3\u6b21\u6570:{9999\", \"iterations\": 256}",
            "'palette': cannot be named in a script file: it holds a line break" },
        { R"({"palette": "x最大迭代次数:{9999"})", "it holds '最大迭代次数:{', a key of script files" },
        { R"({"palette": "a\uD800"})", "a lone surrogate \\uD800 in a string at byte 14" },
        { R"({"ratio": 1, "ratio": 2})", "'ratio' is given twice" },
        { R"({"formulas": {"colour": "z;", "colour": "z;"}})", "'formulas.colour' is given twice" },
        { "{\"palette\": \"\xff\"}", "not UTF-8" },
    };
    for (const auto& row : bad) {
        file.setFileName(QString::fromStdString(Path("bad.json")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(row.json);
        file.close();
        const Outcome outcome = Cli({ "new", "--from-json", Path("bad.json"), "-o", Path("bad.gsc") });
        EXPECT_EQ(outcome.code, 1) << row.json;
        EXPECT_NE(outcome.err.find(row.err), std::string::npos) << row.json << "\n" << outcome.err;
        EXPECT_FALSE(QFile::exists(QString::fromStdString(Path("bad.gsc")))) << row.json;
    }
}

// set writes back only into a script file: a picture, or standard input, without -o is a usage error
// that reads nothing and leaves the picture as it was.
TEST_F(Edit, SetWritesBackOnlyIntoScripts)
{
    for (const char* name : { "p.png", "p.jpg" }) {
        ASSERT_EQ(Cli({ "render", Path("a.gsc"), "-o", Path(name), "--size", "16x16", "--quiet" }).code, 0);
        const QByteArray before = Bytes(Path(name));
        const Outcome set = Cli({ "set", Path(name), "--iterations", "500" });
        EXPECT_EQ(set.code, 2) << name;
        EXPECT_NE(
            set.err.find("is a picture, and set writes back only into a script file: give '-o OUT.gsc'"),
            std::string::npos)
            << set.err;
        EXPECT_EQ(Bytes(Path(name)), before) << name;
        EXPECT_EQ(Cli({ "set", Path(name), "--iterations", "500", "-o", Path("from-picture.gsc") }).code, 0);
    }
    const Outcome input = Cli({ "set", "-", "--iterations", "500" });
    EXPECT_EQ(input.code, 2);
    EXPECT_NE(input.err.find("standard input cannot be written back"), std::string::npos) << input.err;
}

// With --json every outcome of a render is one JSON line, failures included, on the stream a success's
// line would take.
TEST_F(Edit, JsonLineForEveryOutcome)
{
    const struct {
        std::vector<std::string> args;
        int code;
        bool onError; // the line on standard error ("-o -")
        std::string line;
    } rows[] = {
        { { "render", Path("a.gsc"), "-o", Path("x.png"), "--formula", "colour=sin(" }, 1, false,
            "{\"outcome\":\"script-failed\",\"message\":\"取色公式错误:" },
        { { "render", Path("missing.gsc"), "-o", Path("x.png") }, 1, false,
            "{\"outcome\":\"script-failed\",\"message\":\"打开文件失败 (" },
        { { "render", Path("a.gsc"), "-o", Path("x.xyz") }, 1, false,
            "{\"outcome\":\"save-failed\",\"message\":\"cannot write '" + Path("x.xyz") },
        { { "render", Path("a.gsc"), "-o", "-", "--const", "D=1" }, 2, true,
            "{\"outcome\":\"script-failed\",\"message\":\"the iteration formula has no constant named 'D'" },
    };
    for (const auto& row : rows) {
        std::vector<std::string> args = row.args;
        args.insert(args.end(), { "--json", "--size", "16x16" });
        const Outcome outcome = Cli(args);
        EXPECT_EQ(outcome.code, row.code) << row.line;
        const std::string& stream = row.onError ? outcome.err : outcome.out;
        const size_t at = stream.find(row.line);
        EXPECT_NE(at, std::string::npos) << stream;
        EXPECT_TRUE(at == std::string::npos || stream.find("}\n", at) != std::string::npos) << stream;
    }
}

TEST_F(Edit, RenderIntoFolderPassesOverFailures)
{
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("sub")));
    ASSERT_EQ(Cli({ "new", "-o", Path("sub/c.gsc") }).code, 0);
    ASSERT_EQ(Cli({ "new", "-o", Path("sub/a.gsc") }).code, 0);
    const Outcome batch = Cli({ "render", Path("a.gsc"), Path("missing.gsc"), Path("sub/c.gsc"), "-o",
        Path("out/"), "--size", "32x24", "--json", "--iterations", "50" });
    EXPECT_EQ(batch.code, 1);
    EXPECT_EQ(QImage(QString::fromStdString(Path("out/a.png"))).size(), QSize(32, 24));
    EXPECT_EQ(QImage(QString::fromStdString(Path("out/c.png"))).size(), QSize(32, 24));
    EXPECT_FALSE(QFile::exists(QString::fromStdString(Path("out/missing.png"))));
    std::istringstream lines(batch.out);
    std::vector<std::string> json;
    for (std::string line; std::getline(lines, line);) {
        json.push_back(line);
    }
    ASSERT_EQ(json.size(), 3u) << batch.out;
    EXPECT_TRUE(json[0].starts_with("{\"script\":\"" + Path("a.gsc") + "\",\"outcome\":\"success\""))
        << json[0];
    // The reason the file could not be read comes with the message.
    EXPECT_NE(json[1].find("\"outcome\":\"script-failed\",\"message\":\"打开文件失败 ("
                  + std::string(std::strerror(ENOENT)) + ")\""),
        std::string::npos)
        << json[1];
    EXPECT_NE(json[2].find("\"outcome\":\"success\""), std::string::npos) << json[2];

    const struct {
        std::vector<std::string> args;
        int code;
        const char* err;
    } rows[] = {
        { { "render", Path("a.gsc"), Path("sub/a.gsc"), "-o", Path("out2/") }, 2,
            "two scripts are named 'a'" },
        { { "render", Path("a.gsc"), Path("sub/c.gsc"), "-o", Path("x.png") }, 2, "'-o' names a folder" },
        { { "render", Path("a.gsc"), "-", "-o", Path("out2/") }, 2, "standard input" },
        { { "render", Path("a.gsc"), Path("sub/c.gsc"), "-o", Path("out3"), "--format", "bmp", "--size",
              "16x16" },
            2, "'-o' names a folder" },
    };
    for (const auto& row : rows) {
        const Outcome outcome = Cli(row.args);
        EXPECT_EQ(outcome.code, row.code) << row.err;
        EXPECT_NE(outcome.err.find(row.err), std::string::npos) << outcome.err;
    }
    EXPECT_FALSE(QFile::exists(QString::fromStdString(Path("out2"))));
    // An existing folder takes the pictures without a '/', in the format asked for.
    const Outcome bmp = Cli({ "render", Path("a.gsc"), Path("sub/c.gsc"), "-o", Path("out"), "--format",
        "bmp", "--size", "16x16", "--const", "C=0.1" });
    EXPECT_EQ(bmp.code, 0) << bmp.err;
    EXPECT_EQ(QImage(QString::fromStdString(Path("out/c.bmp"))).size(), QSize(16, 16));
}

} // namespace
