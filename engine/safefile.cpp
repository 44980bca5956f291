#include "safefile.h"

#include "signalcleanup.h"

#include <QFile>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include <pthread.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString Reason(int code) { return QString::fromLocal8Bit(std::strerror(code)); }

// The file a name finally stands for, through any chain of symbolic links; it need not exist (a
// dangling link names the file that saving creates). Relative links count from the link's folder.
QByteArray FollowLinks(QByteArray path, int& error)
{
    for (int hops = 0; hops < 40; ++hops) {
        struct stat status { };
        if (::lstat(path.constData(), &status) != 0 || !S_ISLNK(status.st_mode)) {
            return path;
        }
        QByteArray target(PATH_MAX, Qt::Uninitialized);
        const ssize_t length
            = ::readlink(path.constData(), target.data(), static_cast<size_t>(target.size()));
        if (length < 0 || length >= target.size()) {
            error = length < 0 ? errno : ENAMETOOLONG;
            return {};
        }
        target.truncate(length);
        if (!target.startsWith('/')) {
            const qsizetype slash = path.lastIndexOf('/');
            target.prepend(slash < 0 ? QByteArray() : path.left(slash + 1));
        }
        path = target;
    }
    error = ELOOP;
    return {};
}

// Blocks the stop signals while a temporary file is created and registered, so that no signal
// falls between the two and leaves the file behind.
class CStopSignalsBlocked {
public:
    CStopSignalsBlocked()
    {
        sigset_t stops;
        sigemptyset(&stops);
        sigaddset(&stops, SIGINT);
        sigaddset(&stops, SIGTERM);
        sigaddset(&stops, SIGHUP);
        pthread_sigmask(SIG_BLOCK, &stops, &m_old);
    }
    ~CStopSignalsBlocked() { pthread_sigmask(SIG_SETMASK, &m_old, nullptr); }

private:
    sigset_t m_old {};
};

// How much of a file is written before the disk is asked to start on it.
constexpr qint64 kWritebackStretch = qint64 { 4 } << 20;

// Writes all the bytes to fd; 0, or the error code of the write that failed.
int WriteAll(int fd, const char* data, qint64 left)
{
    while (left > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(left));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return written < 0 ? errno : ENOSPC;
        }
        data += written;
        left -= written;
    }
    return 0;
}

// The file a save replaces, links followed, and what is there now.
struct SaveTarget {
    QByteArray path;
    struct stat old { };
    bool exists { false };
};

// Fills target for path; the reason when the save must be refused.
std::optional<QString> CheckTarget(const QString& path, SaveTarget& target)
{
    if (path.isEmpty() || path.contains(QChar(u'\0'))) {
        return QStringLiteral("invalid file name");
    }
    // Saving through a link writes the file it names, and leaves the link a link.
    int linkError = 0;
    target.path = FollowLinks(QFile::encodeName(path), linkError);
    if (target.path.isEmpty()) {
        return Reason(linkError);
    }
    target.exists = ::stat(target.path.constData(), &target.old) == 0;
    if (target.exists && !S_ISREG(target.old.st_mode)) {
        return QStringLiteral("not a regular file");
    }
    // Replacing a file only needs its folder to be writable; a write-protected file is refused all
    // the same, as the shell's redirection refuses it.
    if (target.exists && ::faccessat(AT_FDCWD, target.path.constData(), W_OK, AT_EACCESS) != 0) {
        return Reason(errno);
    }
    return std::nullopt;
}

// The new file gets the old one's permissions, or those a new file would get.
void GiveMode(int fd, const SaveTarget& target)
{
    if (target.exists) {
        ::fchmod(fd, target.old.st_mode & 07777);
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, 0666 & ~mask);
    }
}

} // namespace

QString FollowSymbolicLinks(const QString& path)
{
    int error = 0;
    const QByteArray followed = FollowLinks(QFile::encodeName(path), error);
    return followed.isEmpty() ? path : QFile::decodeName(followed);
}

bool WriteFileAtomically(const QString& path, const QByteArray& bytes, QString* error)
{
    return WriteFileAtomically(
        path, [&bytes](const FileWrite& write) { return write(bytes.constData(), bytes.size()); }, error);
}

bool WriteFileAtomically(
    const QString& path, const std::function<bool(const FileWrite&)>& produce, QString* error)
{
    const auto fail = [error](const QString& reason) {
        if (error) {
            *error = reason;
        }
        return false;
    };
    SaveTarget target;
    if (const std::optional<QString> problem = CheckTarget(path, target)) {
        return fail(*problem);
    }
    // A short fixed name beside the target, so that every name the file system accepts can be saved
    // and strays are easy to find.
    const qsizetype slash = target.path.lastIndexOf('/');
    QByteArray temporary = (slash < 0 ? QByteArray() : target.path.left(slash + 1)) + kTemporaryFilePattern;
    std::optional<CRemovedOnSignal> cleanup;
    int fd = -1;
    {
        const CStopSignalsBlocked blocked;
        fd = ::mkstemps(temporary.data(), kTemporaryFileSuffixLength);
        if (fd >= 0) {
            cleanup.emplace(QFile::decodeName(temporary), CRemovedOnSignal::Kind::File);
        }
    }
    if (fd < 0) {
        return fail(Reason(errno));
    }
    const auto abandon = [&](int code) {
        ::close(fd);
        ::unlink(temporary.constData());
        return fail(Reason(code));
    };
    GiveMode(fd, target);
    int writeError = 0;
    qint64 written = 0;
    qint64 handedToDisk = 0;
    const FileWrite write = [&](const char* data, qsizetype size) {
        if (writeError == 0) {
            writeError = WriteAll(fd, data, size);
            written += size;
        }
        // The disk starts on each finished stretch while the next is made, so that the flush at the
        // end only waits for the last one. Only a head start: the flush below still checks it all.
        if (writeError == 0 && written - handedToDisk >= kWritebackStretch) {
            ::sync_file_range(fd, handedToDisk, written - handedToDisk, SYNC_FILE_RANGE_WRITE);
            handedToDisk = written;
        }
        return writeError == 0;
    };
    if (!produce(write) || writeError != 0) {
        return abandon(writeError != 0 ? writeError : ECANCELED);
    }
    if (::fsync(fd) != 0) {
        return abandon(errno);
    }
    if (::close(fd) != 0) {
        const int code = errno;
        ::unlink(temporary.constData());
        return fail(Reason(code));
    }
    if (::rename(temporary.constData(), target.path.constData()) != 0) {
        const int code = errno;
        ::unlink(temporary.constData());
        return fail(Reason(code));
    }
    return true;
}

int OpenRegularFile(const QString& path, qint64& size, QString& reason)
{
    if (path.isEmpty() || path.contains(QChar(u'\0'))) {
        reason = QStringLiteral("invalid file name");
        return -1;
    }
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        reason = QString::fromLocal8Bit(std::strerror(errno));
        return -1;
    }
    struct stat status = {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        reason = QStringLiteral("not a regular file");
        return -1;
    }
    size = status.st_size;
    return fd;
}

bool OpenRegularFile(const QString& path, QFile& file, qint64& size, QString& reason)
{
    const int fd = OpenRegularFile(path, size, reason);
    if (fd < 0) {
        return false;
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        reason = file.errorString();
        return false;
    }
    return true;
}
