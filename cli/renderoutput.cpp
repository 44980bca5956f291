#include "renderoutput.h"

#include "animate.h"
#include "cli.h"

#include "bandexport.h"

#include "exactview.h"
#include "picturedocument.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string FolderProblem(const QString& folder, int code)
{
    return Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "folder '%1': %2"),
        { folder.toStdString(), std::strerror(code) });
}

} // namespace

std::string OutputProblem(const std::vector<ImageCodec>& writers, const QString& path)
{
    if (WriterForFile(writers, path) == nullptr) {
        const QString name = QFileInfo(path).fileName();
        const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
        return dot < 0 ? Tr(QT_TRANSLATE_NOOP(
                   "glimmerset-cli", "the name has no extension to choose the image format by"))
                       : Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "no image writer for the extension '%1'"),
                           { name.mid(dot).toStdString() });
    }
    return FileProblem(path);
}

std::string FileProblem(const QString& path)
{
    const QFileInfo file(path);
    const QByteArray folder = QFile::encodeName(file.absolutePath());
    struct stat status { };
    if (::stat(folder.constData(), &status) != 0) {
        return FolderProblem(file.absolutePath(), errno);
    }
    if (!S_ISDIR(status.st_mode)) {
        return FolderProblem(file.absolutePath(), ENOTDIR);
    }
    // The file is written beside the target and renamed into place: the folder must take it.
    if (::access(folder.constData(), W_OK | X_OK) != 0) {
        return FolderProblem(file.absolutePath(), errno);
    }
    const QByteArray target = QFile::encodeName(file.absoluteFilePath());
    if (::stat(target.constData(), &status) == 0) {
        if (S_ISDIR(status.st_mode)) {
            return std::strerror(EISDIR);
        }
        if (::access(target.constData(), W_OK) != 0) {
            return std::strerror(errno);
        }
    }
    return {};
}

ExportView ViewAtSize(const CPictureDocument& script, int width, int height, bool fit)
{
    const PlaneView view = script.GetView();
    const PlaneView shown = fit
        ? Fitted(view, script.GetImageWidth(), script.GetImageHeight(), width, height)
        : AtWidth(view, script.GetImageWidth(), script.GetImageHeight(), width, height);
    return { width, height, shown };
}

std::string ReadScale(const std::optional<std::string>& text, const QString& path, bool data, int& scale)
{
    scale = kMinScale;
    if (!text) {
        return {};
    }
    if (!ParseWhole(*text, scale) || scale < kMinScale || scale > kMaxScale) {
        return Tr(
            QT_TRANSLATE_NOOP("glimmerset-cli", "'--scale' needs a whole number from %1 to %2, not '%3'"),
            { std::to_string(kMinScale), std::to_string(kMaxScale), *text });
    }
    if (scale > 1 && data) {
        return Tr(QT_TRANSLATE_NOOP("glimmerset-cli", "'--data' goes with '--scale 1' only"));
    }
    if (scale > 1 && BandFormatOf(path) == BandFormat::None) {
        return Tr(QT_TRANSLATE_NOOP("glimmerset-cli",
                      "'--scale' above 1 writes PNG or BMP only (pictures written a band of rows at a "
                      "time), not '%1'"),
            { QFileInfo(path).suffix().toStdString() });
    }
    return {};
}

ExportView ScaledView(const CPictureDocument& script, const std::optional<ExportView>& base, int scale)
{
    const PlaneView view = base ? base->view : script.GetView();
    const int width = base ? base->width : script.GetImageWidth();
    const int height = base ? base->height : script.GetImageHeight();
    const PlaneView shown = AtWidth(view, width, height, scale * width, scale * height);
    return { scale * width, scale * height, shown };
}

std::string ScaledSizeProblem(const QString& path, const ExportView& view)
{
    const BandFormat format = BandFormatOf(path);
    if (format == BandFormat::None || BandFormatFits(format, view.width, view.height)) {
        return {};
    }
    return Tr(QT_TRANSLATE_NOOP("glimmerset-cli",
                  "a BMP file holds at most 2 GiB, too little for %1 x %2 pixels: write PNG"),
        { std::to_string(view.width), std::to_string(view.height) });
}
