// The files the tool writes, with the tool run as a child process: each case gets its own user,
// file-size limit or signal, and the tool's own start-up (signal handling) is part of what is tested.
#include "signalcleanup.h"
#include "watermarkfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

constexpr uid_t kNobody = 65534;

struct Child {
    pid_t pid { -1 };
    int stdinFd { -1 };  // the child's standard input, while the test keeps it open
    int stderrFd { -1 }; // the child's standard error
};

struct Limits {
    bool unprivileged { false }; // as "nobody" when the test runs as root, else as the test's user
    rlim_t fileSize { RLIM_INFINITY };
};

std::string Reason(int code) { return std::strerror(code); }

// Starts the tool with TMPDIR set to tmp. Everything the child does between fork and exec is
// async-signal-safe: the test process has threads.
Child Start(const std::vector<std::string>& args, const QString& tmp, Limits limits = {})
{
    std::vector<std::string> words { GLIMMERSET_CLI_PATH };
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> variables { "TMPDIR=" + tmp.toStdString() };
    for (char** variable = environ; *variable; ++variable) {
        if (std::strncmp(*variable, "TMPDIR=", 7) != 0) {
            variables.emplace_back(*variable);
        }
    }
    std::vector<char*> envp;
    for (std::string& variable : variables) {
        envp.push_back(variable.data());
    }
    envp.push_back(nullptr);

    int input[2];
    int error[2];
    if (pipe2(input, O_CLOEXEC) != 0 || pipe2(error, O_CLOEXEC) != 0) {
        return {};
    }
    const bool dropToNobody = limits.unprivileged && geteuid() == 0;
    const pid_t pid = fork();
    if (pid == 0) {
        const rlimit size { limits.fileSize, limits.fileSize };
        if (dup2(input[0], STDIN_FILENO) < 0 || dup2(error[1], STDERR_FILENO) < 0
            || (limits.fileSize != RLIM_INFINITY && setrlimit(RLIMIT_FSIZE, &size) != 0)
            || (dropToNobody
                && (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0))) {
            _exit(126);
        }
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(input[0]);
    close(error[1]);
    return { pid, input[1], error[0] };
}

// Waits for the child; returns its wait status and what it wrote on standard error.
int Finish(Child& child, std::string& err)
{
    if (child.stdinFd >= 0) {
        close(child.stdinFd);
    }
    char buffer[4096];
    for (ssize_t n; (n = read(child.stderrFd, buffer, sizeof buffer)) > 0;) {
        err.append(buffer, static_cast<size_t>(n));
    }
    close(child.stderrFd);
    int status = 0;
    waitpid(child.pid, &status, 0);
    return status;
}

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

bool WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

class FilesWeWrite : public testing::Test {
protected:
    void SetUp() override
    {
        // Open to "nobody": the unprivileged cases write here.
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(QDir(m_dir.path()).mkpath(QStringLiteral("tmp")));
        ASSERT_TRUE(QDir(m_dir.path()).mkpath(QStringLiteral("real")));
        for (const QString& folder : { m_dir.path(), Path("tmp"), Path("real") }) {
            ASSERT_EQ(chmod(QFile::encodeName(folder).constData(), 0777), 0);
        }
        std::string err;
        Child child = Start({ "new", "-o", Path("a.gsc").toStdString() }, Path("tmp"));
        ASSERT_EQ(Finish(child, err), 0) << err;
        ASSERT_EQ(chmod(QFile::encodeName(Path("a.gsc")).constData(), 0644), 0);
    }
    QString Path(const QString& name) const { return m_dir.filePath(name); }
    // Stray temporary files of the saves, in the folder and its "real" folder, and anything left in
    // the temporary folder the tool was given.
    QStringList Leftovers() const
    {
        const QStringList stray { QStringLiteral(".glimmerset-*") };
        return QDir(m_dir.path()).entryList(stray, QDir::Files | QDir::Hidden)
            + QDir(Path("real")).entryList(stray, QDir::Files | QDir::Hidden)
            + QDir(Path("tmp")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    QTemporaryDir m_dir;
};

TEST_F(FilesWeWrite, EachCase)
{
    const QByteArray old = "the file that was there before";
    const auto readOnly = [&](const char* name) {
        WriteAll(Path(QString::fromLatin1(name)), old);
        chmod(QFile::encodeName(Path(QString::fromLatin1(name))).constData(), 0444);
    };
    const auto link = [&](const char* target, const char* name) {
        symlink(target, QFile::encodeName(Path(QString::fromLatin1(name))).constData());
    };
    const auto P = [&](const char* name) { return Path(QString::fromLatin1(name)); };
    const QString longName = QString(251, QLatin1Char('n')) + QStringLiteral(".gsc"); // 255 bytes
    const struct {
        const char* name;
        std::function<void()> setUp;
        const char* command; // "new" writes a script, "render" a picture of a.gsc
        QString target;      // as given on the command line
        Limits limits;
        int reason;      // 0: the save succeeds; else the system's reason (-1: ours), with the path
        QString written; // where the new bytes land, or the file that must keep old
        bool keptOld;    // that file still holds old
    } rows[] = {
        { "read-only script", [&] { readOnly("keep.gsc"); }, "new", P("keep.gsc"), { true }, EACCES,
            P("keep.gsc"), true },
        { "read-only picture", [&] { readOnly("keep.png"); }, "render", P("keep.png"), { true }, EACCES,
            P("keep.png"), true },
        { "symbolic link", [&] { WriteAll(P("real/linked.gsc"), old), link("real/linked.gsc", "link.gsc"); },
            "new", P("link.gsc"), {}, 0, P("real/linked.gsc"), false },
        { "dangling link", [&] { link("real/made.png", "dangling.png"); }, "render", P("dangling.png"), {}, 0,
            P("real/made.png"), false },
        { "255-byte name", [] {}, "new", Path(longName), {}, 0, Path(longName), false },
        { "missing folder", [] {}, "new", P("no/such/a.gsc"), {}, ENOENT, QString(), false },
        { "a folder", [&] { QDir().mkpath(P("folder.gsc")); }, "new", P("folder.gsc"), {}, -1, QString(),
            false },
        { "file-size limit", [&] { WriteAll(P("big.png"), old); }, "render", P("big.png"), { false, 1024 },
            EFBIG, P("big.png"), true },
        { "file-size limit, BMP", [&] { WriteAll(P("big.bmp"), old); }, "render", P("big.bmp"),
            { false, 1024 }, EFBIG, P("big.bmp"), true },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        row.setUp();
        const std::string target = row.target.toStdString();
        const std::vector<std::string> args = std::string(row.command) == "new"
            ? std::vector<std::string> { "new", "-o", target }
            : std::vector<std::string> { "render", Path("a.gsc").toStdString(), "-o", target, "--size",
                  "200x100" };
        Child child = Start(args, Path("tmp"), row.limits);
        std::string err;
        const int status = Finish(child, err);
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
        if (row.reason == 0) {
            EXPECT_EQ(WEXITSTATUS(status), 0) << err;
            EXPECT_NE(ReadAll(row.written), old);
            EXPECT_EQ(ReadAll(row.target), ReadAll(row.written));
            EXPECT_EQ(QFileInfo(row.target).isSymLink(), row.target != row.written) << "a link stays a link";
        } else {
            EXPECT_EQ(WEXITSTATUS(status), 1) << err;
            EXPECT_NE(err.find(target), std::string::npos) << err;
            EXPECT_NE(err.find(row.reason > 0 ? Reason(row.reason) : "not a regular file"), std::string::npos)
                << err;
        }
        if (row.keptOld) {
            EXPECT_EQ(ReadAll(row.written), old);
        }
        EXPECT_EQ(Leftovers(), QStringList());
    }
}

// Stopped while it waits for its script on standard input, the tool removes its temporary folder and
// ends by the signal, as the shell expects (130, 143, 129).
TEST_F(FilesWeWrite, StoppedBySignals)
{
    // The child is known to wait in read() on its standard input, with its folder made and
    // registered, once its main thread shows that system call.
    const std::string reading = std::to_string(SYS_read) + " 0x0 ";
    for (const int signal : { SIGINT, SIGTERM, SIGHUP }) {
        SCOPED_TRACE(signal);
        Child child = Start({ "check", "-" }, Path("tmp"));
        const QString syscallFile = QStringLiteral("/proc/%1/task/%1/syscall").arg(child.pid);
        bool waiting = false;
        for (int tries = 0; tries < 30000 && !waiting; ++tries) {
            waiting = ReadAll(syscallFile).startsWith(QByteArray::fromStdString(reading));
            if (!waiting) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
        if (!waiting) {
            kill(child.pid, SIGKILL);
            std::string ignored;
            Finish(child, ignored);
            GTEST_SKIP() << "cannot see the child's system call in " << syscallFile.toStdString();
        }
        EXPECT_EQ(QDir(Path("tmp")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), 1);
        kill(child.pid, signal);
        std::string err;
        const int status = Finish(child, err);
        ASSERT_TRUE(WIFSIGNALED(status)) << err;
        EXPECT_EQ(WTERMSIG(status), signal);
        EXPECT_EQ(Leftovers(), QStringList());
    }
}

// The handler itself, with what a window or a render has registered at the moment of the signal:
// the watermark's folder and the temporary file of a save in progress.
TEST_F(FilesWeWrite, SignalRemovesWhatIsRegistered)
{
    const QString temporary = Path("real/.glimmerset-abcdef.tmp");
    ASSERT_TRUE(WriteAll(temporary, "half a picture"));
    const pid_t pid = fork();
    if (pid == 0) {
        qputenv("TMPDIR", QFile::encodeName(Path("tmp")));
        InstallSignalCleanup();
        const CWatermarkFile watermark;
        const CRemovedOnSignal file(temporary, CRemovedOnSignal::Kind::File);
        if (CWatermarkFile::Path().isEmpty() || !file.IsRegistered()) {
            _exit(3);
        }
        raise(SIGTERM);
        _exit(4);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << WEXITSTATUS(status);
    EXPECT_EQ(WTERMSIG(status), SIGTERM);
    EXPECT_EQ(Leftovers(), QStringList());
}

} // namespace
