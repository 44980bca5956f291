// Every glimmerset-cli example shown in README.md, docs/*.md and the manual pages runs as shown: the
// lines are taken from the files themselves, so a new example is checked as soon as it is written.
// Examples are the "$ " lines of code blocks (and, in a manual page, every line of a no-fill block
// that runs the program); the lines after one, up to the next, are its output. Elapsed times differ
// from run to run and are compared as a pattern.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <filesystem>

namespace {

namespace fs = std::filesystem;

struct Example {
    QString file; // relative to the source tree
    int line { 0 };
    QString command;
    QStringList output; // empty: not shown
};

// A manual page's text as it reads: the escapes the pages use.
QString Unroff(QString line)
{
    static const QRegularExpression unicode(QStringLiteral("\\\\\\[u([0-9A-F]{4})\\]"));
    QRegularExpressionMatch match;
    while ((match = unicode.match(line)).hasMatch()) {
        line.replace(match.capturedStart(), match.capturedLength(), QChar(match.captured(1).toUShort(nullptr, 16)));
    }
    return line.replace(QStringLiteral("\\-"), QStringLiteral("-")).replace(QStringLiteral("\\(mu"), QStringLiteral("×"));
}

QStringList ReadLines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
}

std::vector<Example> Examples(const QString& relative)
{
    const bool manual = relative.endsWith(QStringLiteral(".1"));
    const QStringList lines = ReadLines(QStringLiteral(GLIMMERSET_SOURCE_DIR "/") + relative);
    std::vector<Example> examples;
    bool inBlock = false;
    bool takingOutput = false;
    for (int k = 0; k < lines.size(); ++k) {
        const QString raw = lines[k];
        const bool fence = manual ? (raw == QStringLiteral(".nf") || raw == QStringLiteral(".fi"))
                                  : raw.startsWith(QStringLiteral("```"));
        if (fence) {
            inBlock = manual ? raw == QStringLiteral(".nf") : !inBlock;
            takingOutput = false;
            continue;
        }
        if (!inBlock) {
            continue;
        }
        const QString line = manual ? Unroff(raw) : raw;
        if (line.startsWith(QStringLiteral("$ "))) {
            examples.push_back({ relative, k + 1, line.mid(2), {} });
            takingOutput = line.contains(QStringLiteral("glimmerset-cli"));
            if (!takingOutput) {
                examples.pop_back();
            }
        } else if (manual && line.contains(QStringLiteral("glimmerset-cli"))) {
            examples.push_back({ relative, k + 1, line, {} });
            takingOutput = false;
        } else if (takingOutput) {
            examples.back().output.append(line);
        }
    }
    return examples;
}

std::vector<Example> AllExamples()
{
    QStringList files { QStringLiteral("README.md") };
    for (const QString& name : QDir(QStringLiteral(GLIMMERSET_SOURCE_DIR "/docs")).entryList({ QStringLiteral("*.md") })) {
        files.append(QStringLiteral("docs/") + name);
    }
    for (const QString& name : QDir(QStringLiteral(GLIMMERSET_SOURCE_DIR "/docs/man")).entryList({ QStringLiteral("*.1") })) {
        files.append(QStringLiteral("docs/man/") + name);
    }
    std::vector<Example> all;
    for (const QString& file : files) {
        const std::vector<Example> examples = Examples(file);
        all.insert(all.end(), examples.begin(), examples.end());
    }
    return all;
}

// Elapsed times as they appear in outcome texts.
QString WithoutTimes(QString text)
{
    static const QRegularExpression elapsed(QStringLiteral("\\[\\d\\d-\\d\\d:\\d\\d:\\d\\d,\\d{6,7}\\]"));
    return text.replace(elapsed, QStringLiteral("[TIME]"));
}

TEST(DocumentedCommandLines, RunAsShown)
{
    const std::vector<Example> examples = AllExamples();
    ASSERT_GE(examples.size(), 20u) << "the examples of the documents were not found";
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PATH"),
        QString::fromStdString(fs::path(GLIMMERSET_CLI_PATH).parent_path().string()) + QLatin1Char(':')
            + environment.value(QStringLiteral("PATH")));
    // The examples of one file build on each other (new, then check), so each file has a folder of
    // its own and runs in order.
    QString folderFile;
    std::unique_ptr<QTemporaryDir> folder;
    for (const Example& example : examples) {
        if (example.file != folderFile) {
            folder = std::make_unique<QTemporaryDir>();
            folderFile = example.file;
        }
        const std::string where = example.file.toStdString() + ":" + std::to_string(example.line) + ": "
            + example.command.toStdString();
        QProcess shell;
        shell.setProcessEnvironment(environment);
        shell.setWorkingDirectory(folder->path());
        shell.setProcessChannelMode(QProcess::MergedChannels);
        shell.start(QStringLiteral("/bin/sh"), { QStringLiteral("-c"), example.command });
        ASSERT_TRUE(shell.waitForFinished(300'000)) << where;
        const QString output = QString::fromUtf8(shell.readAll());
        // A formula that does not compile is shown with its message, and exits with status 1.
        const int expected
            = !example.output.isEmpty() && example.output.front().startsWith(QStringLiteral("error ")) ? 1 : 0;
        EXPECT_EQ(shell.exitCode(), expected) << where << "\n" << output.toStdString();
        if (!example.output.isEmpty()) {
            EXPECT_EQ(WithoutTimes(output).toStdString(), WithoutTimes(example.output.join(QLatin1Char('\n')) + "\n").toStdString())
                << where;
        }
    }
}

} // namespace
