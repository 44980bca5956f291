// What reaches the program through its command line and standard input, run as a process: input
// that never ends or is too long, and outputs that cannot be written, which must be refused before
// any render starts.
#include "fractalscript.h"
#include "scriptfile.h"

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// A script that would take hours at its target size: every pixel of a 4096 x 4096 picture runs all
// 10000 iterations. A refusal that came only after the render would make the test time out.
bool WriteEndlessScript(const QString& path)
{
    CFractalScript script;
    script.SetDefaults();
    if (!script.LoadPalette(QString())) {
        return false;
    }
    script.SetImageSize(4096, 4096);
    script.SetMaxIter(10000);
    script.SetView(-1e-6, -1e-6, 1e-12); // inside the filled Julia set of the default constant
    return script.Save(path);
}

TEST(CommandLineInput, RefusedAtOnce)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // An unprivileged user must reach the folder and read the script.
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    const QString endless = dir.filePath(QStringLiteral("endless.gsc"));
    ASSERT_TRUE(WriteEndlessScript(endless));
    const QString readOnly = dir.filePath(QStringLiteral("read-only"));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("read-only")));
    ASSERT_EQ(::chmod(QFile::encodeName(readOnly).constData(), 0555), 0);
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder.png")));
    const QString atLimit = dir.filePath(QStringLiteral("at-limit"));
    const QString overLimit = dir.filePath(QStringLiteral("over-limit"));
    for (const auto& [path, size] :
        { std::pair { atLimit, kMaxScriptBytes }, { overLimit, kMaxScriptBytes + 1 } }) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.resize(size)); // sparse: zeros that take no room
    }
    const std::string script = endless.toStdString();
    const std::string folder = dir.path().toStdString();

    const struct {
        const char* what;
        std::vector<std::string> args;
        QString input; // standard input's file; empty: none
        bool unprivileged;
        int code;
        std::vector<std::string> errContains;
    } rows[] = {
        { "standard input over the limit", { "check", "-" }, overLimit, false, 1,
            { "cannot open the file", "64 MiB" } },
        { "standard input at the limit", { "check", "-" }, atLimit, false, 1, { "wrong version" } },
        { "/dev/zero as standard input", { "render", "-", "-o", folder + "/x.png" },
            QStringLiteral("/dev/zero"), false, 1,
            { "glimmerset-cli render: -: cannot open the file", "64 MiB" } },
        { "missing output folder", { "render", script, "-o", folder + "/missing/x.png" }, {}, false, 1,
            { folder + "/missing/x.png", "No such file or directory" } },
        { "output folder is a file", { "render", script, "-o", script + "/x.png" }, {}, false, 1,
            { "Not a directory" } },
        { "unwritable output folder", { "render", script, "-o", folder + "/read-only/x.png" }, {}, true, 1,
            { folder + "/read-only/x.png", "Permission denied" } },
        { "output is a folder", { "render", script, "-o", folder + "/folder.png" }, {}, false, 1,
            { "Is a directory" } },
        { "unknown format", { "render", script, "-o", folder + "/x.xyz" }, {}, false, 1,
            { "no image writer for the extension '.xyz'" } },
        { "unknown format for standard output", { "render", script, "-o", "-", "--format", "xyz" }, {}, false,
            1, { "cannot write '-'" } },
        { "--format contradicting the extension",
            { "render", script, "-o", folder + "/x.png", "--format", "bmp" }, {}, false, 2,
            { "'--format bmp' contradicts" } },
        { "--png-level out of range", { "render", script, "-o", folder + "/x.png", "--png-level", "10" }, {},
            false, 2, { "'--png-level'" } },
    };
    // The messages in English, whatever the language of the machine that runs the tests.
    QProcessEnvironment english = QProcessEnvironment::systemEnvironment();
    english.insert(QStringLiteral("LANGUAGE"), QStringLiteral("en"));
    for (const auto& row : rows) {
        QProcess process;
        process.setProcessEnvironment(english);
        QStringList args;
        for (const std::string& arg : row.args) {
            args.append(QString::fromStdString(arg));
        }
        if (!row.input.isEmpty()) {
            process.setStandardInputFile(row.input);
        }
        // Root may write anywhere: the row runs as an ordinary user then.
        if (row.unprivileged && ::geteuid() == 0) {
            process.setChildProcessModifier([] {
                if (::setgid(65534) != 0 || ::setuid(65534) != 0) {
                    ::_exit(99);
                }
            });
        }
        process.start(QStringLiteral(GLIMMERSET_CLI_PATH), args);
        ASSERT_TRUE(process.waitForFinished(120'000)) << row.what << ": still running";
        const std::string err = process.readAllStandardError().toStdString();
        EXPECT_EQ(process.exitCode(), row.code) << row.what << ": " << err;
        for (const std::string& part : row.errContains) {
            EXPECT_NE(err.find(part), std::string::npos) << row.what << ": " << err;
        }
    }
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("x.png"))));
}

} // namespace
