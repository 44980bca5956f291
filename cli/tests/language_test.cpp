// The tool speaks the first of the user's languages it has a translation for, else Chinese: the
// program itself is run, since the language is chosen from its environment at start-up.
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// The tool's standard output and error, run with the language settings given and no others.
std::string RunTool(const QStringList& settings, const QStringList& args)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : { "LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG" }) {
        environment.remove(QString::fromLatin1(name));
    }
    for (const QString& setting : settings) {
        environment.insert(setting.section(QLatin1Char('='), 0, 0), setting.section(QLatin1Char('='), 1));
    }
    QProcess tool;
    tool.setProcessEnvironment(environment);
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.start(QStringLiteral(GLIMMERSET_CLI_PATH), args);
    EXPECT_TRUE(tool.waitForFinished(60'000)) << args.join(' ').toStdString();
    return QString::fromUtf8(tool.readAll()).toStdString();
}

TEST(ToolLanguage, FollowsTheUserLanguages)
{
    QTemporaryDir dir;
    const QString bad = dir.filePath(QStringLiteral("bad.gsc"));
    QFile file(bad);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("\xB0\xE6\xB1\xBE\xBA\xC5:{Glimmerset9}\r\n");
    file.close();
    const QString good = dir.filePath(QStringLiteral("good.gsc"));
    const QString missing = dir.filePath(QStringLiteral("missing.json"));
    const struct Row {
        QStringList environment;
        QStringList args;
        const char* message; // what the standard error or output starts with
    } rows[] = {
        { { "LANGUAGE=de:en", "LANG=de_DE.UTF-8" }, { "check", bad }, ": wrong version\n" },
        { { "LANG=de_DE.UTF-8" }, { "check", bad }, ": 版本不正确\n" },
        { { "LC_ALL=C" }, { "check", bad }, ": 版本不正确\n" },
        { { "LANG=en_US.UTF-8" }, { "check", bad }, ": wrong version\n" },
        { { "LANGUAGE=zh_CN:en", "LANG=en_US.UTF-8" }, { "check", bad }, ": 版本不正确\n" },
        { { "LANG=en_GB.UTF-8" },
            { "render", good, "-o", dir.filePath(QStringLiteral("a.png")), "--size", "16x16" },
            "Exported! Time [" },
        // Every message: the system's words, the tool's own and the --json message, with the reason.
        { { "LANGUAGE=en" }, { "new", "--from-json", missing, "-o", dir.filePath(QStringLiteral("n.gsc")) },
            "/missing.json: cannot open the file (No such file or directory)\n" },
        { { "LANGUAGE=en" },
            { "render", good, "-o", dir.filePath(QStringLiteral("out/")), "--size", "16x16" },
            "/out/good.png: Exported! Time [" },
        { { "LANGUAGE=en" }, { "eval", "sin(" }, "error 6: syntax error\n" },
        { { "LANGUAGE=en" }, { "set", good, "--formula", "termination=norm(", "-o", "-" },
            "/good.gsc: termination formula error: syntax error\n" },
        { { "LANGUAGE=en" },
            { "render", good, "-o", dir.filePath(QStringLiteral("j.png")), "--size", "16x16", "--json" },
            "{\"outcome\":\"success\",\"message\":\"Exported! Time [" },
        { { "LANGUAGE=en" }, { "render", good, "-o", "x.png", "--width", "0" },
            ": '--width' needs a number above 0, not '0'; try 'glimmerset-cli render --help'\n" },
        { { "LANG=C" }, { "render", good, "-o", "x.png", "--width", "0" },
            ": '--width' 需要大于 0 的数，而不是 '0'；请尝试 'glimmerset-cli render --help'\n" },
        { { "LANG=C" }, { "render", good, "-o", dir.filePath(QStringLiteral("out/")), "--size", "16x16" },
            "/out/good.png: 导出成功！用时[" },
    };
    QProcess::execute(
        QStringLiteral(GLIMMERSET_CLI_PATH), { QStringLiteral("new"), QStringLiteral("-o"), good });
    for (const Row& row : rows) {
        const std::string output = RunTool(row.environment, row.args);
        const std::string where
            = row.environment.join(' ').toStdString() + " " + row.args.front().toStdString();
        if (std::string(row.message).starts_with(": ")) {
            EXPECT_TRUE(output.ends_with(row.message)) << where << ": " << output;
        } else if (std::string(row.message).starts_with("/")) {
            EXPECT_NE(output.find(row.message), std::string::npos) << where << ": " << output;
        } else {
            EXPECT_TRUE(output.starts_with(row.message)) << where << ": " << output;
        }
    }
}

// The help is written in English and shown in Chinese unless English is the shown language; render's
// is put together from two texts, both translated.
TEST(ToolLanguage, HelpFollowsTheShownLanguage)
{
    const struct Row {
        QStringList environment;
        QStringList args;
        const char* start;
        const char* within;
    } rows[] = {
        { { "LANG=C" }, { "render", "--help" }, "用法： glimmerset-cli render SCRIPT", "\n对脚本的修改（" },
        { { "LANGUAGE=en" }, { "render", "--help" }, "Usage: glimmerset-cli render SCRIPT",
            "\nChanges to the script (" },
        { { "LANG=de_DE.UTF-8" }, { "help", "set" }, "用法： glimmerset-cli set SCRIPT", "\n  --width W " },
    };
    for (const Row& row : rows) {
        const std::string output = RunTool(row.environment, row.args);
        const std::string where = row.environment.join(' ').toStdString();
        EXPECT_TRUE(output.starts_with(row.start)) << where << ": " << output;
        EXPECT_NE(output.find(row.within), std::string::npos) << where << ": " << output;
        EXPECT_EQ(output.find("Usage") == std::string::npos, *row.start != 'U') << where << ": " << output;
    }
}

} // namespace
