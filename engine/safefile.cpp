#include "safefile.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool WriteFileAtomically(const QString& path, const QByteArray& bytes, QString* error)
{
    const auto fail = [error](const QString& reason) {
        if (error) {
            *error = reason;
        }
        return false;
    };
    const QFileInfo target(path);
    if (target.exists() && !target.isFile()) {
        return fail(QStringLiteral("not a regular file"));
    }
    QByteArray temporary
        = QFile::encodeName(target.absolutePath() + QStringLiteral("/.") + target.fileName()) + ".XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0) {
        return fail(QString::fromLocal8Bit(std::strerror(errno)));
    }
    const auto abandon = [&](int code) {
        ::close(fd);
        ::unlink(temporary.constData());
        return fail(QString::fromLocal8Bit(std::strerror(code)));
    };
    // The new file gets the old one's permissions, or those a new file would get.
    struct stat old { };
    if (::stat(QFile::encodeName(path).constData(), &old) == 0) {
        ::fchmod(fd, old.st_mode & 07777);
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, 0666 & ~mask);
    }
    const char* data = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(left));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return abandon(written < 0 ? errno : ENOSPC);
        }
        data += written;
        left -= written;
    }
    if (::fsync(fd) != 0) {
        return abandon(errno);
    }
    if (::close(fd) != 0) {
        const int code = errno;
        ::unlink(temporary.constData());
        return fail(QString::fromLocal8Bit(std::strerror(code)));
    }
    if (::rename(temporary.constData(), QFile::encodeName(path).constData()) != 0) {
        const int code = errno;
        ::unlink(temporary.constData());
        return fail(QString::fromLocal8Bit(std::strerror(code)));
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
