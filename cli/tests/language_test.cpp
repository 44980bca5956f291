// The tool speaks the first of the user's languages it has a translation for, else Chinese: the
// program itself is run, since the language is chosen from its environment at start-up.
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

TEST(ToolLanguage, FollowsTheUserLanguages)
{
    QTemporaryDir dir;
    const QString bad = dir.filePath(QStringLiteral("bad.gsc"));
    QFile file(bad);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("\xB0\xE6\xB1\xBE\xBA\xC5:{Glimmerset9}\r\n");
    file.close();
    const QString good = dir.filePath(QStringLiteral("good.gsc"));
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
    };
    QProcess::execute(
        QStringLiteral(GLIMMERSET_CLI_PATH), { QStringLiteral("new"), QStringLiteral("-o"), good });
    for (const Row& row : rows) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : { "LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG" }) {
            environment.remove(QString::fromLatin1(name));
        }
        for (const QString& setting : row.environment) {
            environment.insert(setting.section(QLatin1Char('='), 0, 0), setting.section(QLatin1Char('='), 1));
        }
        QProcess tool;
        tool.setProcessEnvironment(environment);
        tool.setProcessChannelMode(QProcess::MergedChannels);
        tool.start(QStringLiteral(GLIMMERSET_CLI_PATH), row.args);
        ASSERT_TRUE(tool.waitForFinished(60'000));
        const std::string output = QString::fromUtf8(tool.readAll()).toStdString();
        const std::string where
            = row.environment.join(' ').toStdString() + " " + row.args.front().toStdString();
        if (std::string(row.message).starts_with(": ")) {
            EXPECT_TRUE(output.ends_with(row.message)) << where << ": " << output;
        } else {
            EXPECT_TRUE(output.starts_with(row.message)) << where << ": " << output;
        }
    }
}

} // namespace
