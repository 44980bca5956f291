// animate --video: the frames on disk encoded by ffmpeg into a video that appears only whole.
#include "animate.h"

#include "cli.h"

#include "numbertext.h"
#include "safefile.h"
#include "signalcleanup.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <cerrno>
#include <cstring>
#include <ostream>

#include <sys/stat.h>
#include <unistd.h>

// Encodes the frames into a video: ffmpeg reads them as they lie on disk through its image sequence
// input, which takes the same printf pattern. The video is complete or not there: ffmpeg writes it
// under a temporary name beside it (with its extension, by which ffmpeg chooses the container),
// renamed into its place once ffmpeg has succeeded. Both names go to ffmpeg as absolute paths, which
// it cannot take for an option ("-v.mp4") or a protocol ("pipe:1").
int EncodeVideo(const std::string& video, double fps, const std::string& pattern, std::ostream& err)
{
    const auto fail = [&](const std::string& why) {
        err << "glimmerset-cli animate: " << CannotWrite(video, why) << '\n';
        return kExitFailure;
    };
    const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    if (ffmpeg.isEmpty()) {
        return fail(Tr(QT_TRANSLATE_NOOP(
            "glimmerset-cli", "ffmpeg is missing (install it, or encode the frames on disk yourself)")));
    }
    const QFileInfo target(FollowSymbolicLinks(QFileInfo(QString::fromStdString(video)).absoluteFilePath()));
    const QString suffix = target.suffix().isEmpty() ? QString() : QLatin1Char('.') + target.suffix();
    QTemporaryFile temporary(target.absoluteDir().filePath(QStringLiteral(".glimmerset-XXXXXX") + suffix));
    if (!temporary.open()) {
        return fail(temporary.errorString().toStdString());
    }
    temporary.close();
    const CRemovedOnSignal cleanup(temporary.fileName(), CRemovedOnSignal::Kind::File);
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(ffmpeg,
        { QStringLiteral("-nostdin"), QStringLiteral("-y"), QStringLiteral("-loglevel"),
            QStringLiteral("error"), QStringLiteral("-framerate"),
            QString::fromStdString(FormatShortest(fps)), QStringLiteral("-start_number"), QStringLiteral("0"),
            QStringLiteral("-i"), QFileInfo(QString::fromStdString(pattern)).absoluteFilePath(),
            QStringLiteral("-pix_fmt"), QStringLiteral("yuv420p"), QStringLiteral("-vf"),
            QStringLiteral("pad=ceil(iw/2)*2:ceil(ih/2)*2"), temporary.fileName() });
    if (!process.waitForStarted() || !process.waitForFinished(-1)
        || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        return fail(
            Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "ffmpeg failed (exit status %1); nothing was written"),
                { std::to_string(process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1) }));
    }
    // ffmpeg's own file would have the usual permissions, and a video it replaces keeps its own.
    struct stat old { };
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::chmod(QFile::encodeName(temporary.fileName()).constData(),
        ::stat(QFile::encodeName(target.absoluteFilePath()).constData(), &old) == 0 ? old.st_mode & 07777
                                                                                    : 0666 & ~mask);
    if (::rename(QFile::encodeName(temporary.fileName()).constData(),
            QFile::encodeName(target.absoluteFilePath()).constData())
        != 0) {
        return fail(std::strerror(errno));
    }
    return kExitOk;
}
