#include "surface.h"

#include "bmpfile.h"
#include "pngfile.h"
#include "safefile.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QMimeDatabase>
#include <QtEndian>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>

#include <sys/mman.h>
#include <unistd.h>

namespace {

constexpr QRgb kOpaque = 0xff000000u;

// Qt's allocation limit is process-wide; set it once before the first decode.
void SetDecodeLimit()
{
    static std::once_flag once;
    std::call_once(once, [] { QImageReader::setAllocationLimit(kImageAllocationLimitMiB); });
}

// QImageReader guesses the format from the file name's extension before it looks at the content;
// a file opened from a descriptor has no name, so this one keeps the path it was opened for.
class NamedFile : public QFile {
public:
    explicit NamedFile(const QString& name)
        : QFile(name)
        , m_name(name)
    {
    }
    QString fileName() const override { return m_name; }

private:
    QString m_name;
};

// Opens an image file for reading, refusing anything that is not a regular file (see
// OpenRegularFile). Resources (":/...") are in memory and open as usual.
bool OpenImageFile(NamedFile& file, const QString& path, QString& reason)
{
    if (path.startsWith(QLatin1Char(':'))) {
        if (!file.open(QIODevice::ReadOnly)) {
            reason = file.errorString();
            return false;
        }
        return true;
    }
    qint64 size = 0;
    return OpenRegularFile(path, file, size, reason);
}

// Pixels of a large surface that is written once (an export's picture) live in 2 MiB pages where the
// system allows it: the first write to each 4 KiB page of a fresh 64 MB picture otherwise costs a
// page fault, and those faults took about a third of a one-thread render of a 4096 x 4096 picture.
constexpr size_t kHugePage = size_t { 2 } << 20;

void FreePixels(void* pixels) { std::free(pixels); }

QImage CreateLargeSurface(int width, int height)
{
    const size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 4;
    void* pixels = std::aligned_alloc(kHugePage, (bytes + kHugePage - 1) / kHugePage * kHugePage);
    if (pixels == nullptr) {
        return {};
    }
    // Only advice: without huge pages the surface works as any other.
    madvise(pixels, bytes, MADV_HUGEPAGE);
    return QImage(
        static_cast<uchar*>(pixels), width, height, width * 4, QImage::Format_RGB32, FreePixels, pixels);
}

} // namespace

QImage CreateSurface(int width, int height, SurfaceFill fill)
{
    if (width <= 0 || height <= 0) {
        return {};
    }
    const bool large = fill == SurfaceFill::Unfilled
        && static_cast<qint64>(width) * height * 4 >= 4 * qint64 { kHugePage }
        && width <= std::numeric_limits<int>::max() / 4;
    QImage surface = large ? CreateLargeSurface(width, height) : QImage(width, height, QImage::Format_RGB32);
    if (!surface.isNull() && fill == SurfaceFill::Black) {
        surface.fill(kOpaque);
    }
    return surface;
}

Raster DescribeRaster(QImage& surface)
{
    if (surface.isNull()) {
        return {};
    }
    return { surface.width(), surface.height(), static_cast<int>(surface.bytesPerLine()), surface.depth(),
        surface.bits() };
}

PaletteImage SharePalette(const QImage& surface)
{
    if (surface.isNull()) {
        return {};
    }
    auto shared = std::make_shared<const QImage>(surface);
    // constBits never detaches: the pixels stay the ones the surface shares.
    Raster raster { shared->width(), shared->height(), static_cast<int>(shared->bytesPerLine()),
        shared->depth(), const_cast<uint8_t*>(shared->constBits()) };
    return { raster, std::move(shared) };
}

void CopyPixels(const QImage& from, QImage& to)
{
    if (!from.isNull() && from.size() == to.size() && from.format() == to.format()) {
        std::memcpy(to.bits(), from.constBits(), static_cast<size_t>(from.sizeInBytes()));
    }
}

QImage ScaleCorner(const QImage& source, int width, int height, int toWidth, int toHeight)
{
    return SmoothScale(source.copy(0, 0, width, height), toWidth, toHeight);
}

QImage ToSurfaceFormat(const QImage& image)
{
    if (image.isNull()) {
        return {};
    }
    if (image.format() == QImage::Format_RGB32) {
        return image;
    }
    // Through non-premultiplied ARGB, so that colours under an alpha channel stay as stored; from
    // there Qt only sets the alpha byte, in place. A palette may be as large as the decoder allows:
    // one buffer and no pass of our own over it keeps that to a fraction of a second.
    QImage surface = image.convertToFormat(QImage::Format_ARGB32);
    surface.convertTo(QImage::Format_RGB32);
    if (surface.isNull() || surface.format() != QImage::Format_RGB32) {
        return {};
    }
    return surface;
}

QImage SmoothScale(const QImage& source, int width, int height)
{
    if (source.isNull() || width <= 0 || height <= 0) {
        return {};
    }
    return source.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

void BlendWatermark(QImage& surface, const QImage& mark, int x, int y)
{
    if (surface.isNull() || mark.isNull()) {
        return;
    }
    const QImage source
        = mark.convertToFormat(mark.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    const QRect area = QRect(x, y, source.width(), source.height()).intersected(surface.rect());
    const bool alpha = mark.hasAlphaChannel();
    for (int row = area.top(); row <= area.bottom(); ++row) {
        const QRgb* in = reinterpret_cast<const QRgb*>(source.constScanLine(row - y));
        QRgb* out = reinterpret_cast<QRgb*>(surface.scanLine(row));
        for (int column = area.left(); column <= area.right(); ++column) {
            const QRgb s = in[column - x];
            if (!alpha) {
                out[column] = s | kOpaque;
                continue;
            }
            const int a = qAlpha(s);
            const QRgb d = out[column];
            const auto blend = [a](int sc, int dc) { return std::min(255, sc + dc * (255 - a) / 255); };
            out[column]
                = qRgb(blend(qRed(s), qRed(d)), blend(qGreen(s), qGreen(d)), blend(qBlue(s), qBlue(d)));
        }
    }
}

QImage DecodeImage(const QString& path, QString* error)
{
    SetDecodeLimit();
    if (path.isEmpty()) {
        if (error) {
            *error = QStringLiteral("no file name");
        }
        return {};
    }
    NamedFile file(path);
    QString reason;
    if (!OpenImageFile(file, path, reason)) {
        if (error) {
            *error = reason;
        }
        return {};
    }
    QImageReader reader(&file);
    // Refuse a declared size beyond the limit before any decoder allocates for it.
    const QSize declared = reader.size();
    if (declared.isValid()
        && static_cast<qint64>(declared.width()) * declared.height() * 4 > qint64(kImageAllocationLimitMiB)
                << 20) {
        if (error) {
            *error = QStringLiteral("image too large");
        }
        return {};
    }
    QImage image = reader.read();
    if (image.isNull() && error) {
        *error = reader.errorString();
    }
    return image;
}

bool IsWholePicture(const QString& path)
{
    if (DecodeImage(path).isNull()) {
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return false;
    }
    const qint64 size = file.size();
    const QByteArray head = file.read(6);
    file.seek(std::max<qint64>(0, size - 12));
    const QByteArray tail = file.read(12);
    if (head.startsWith("\x89PNG")) {
        return tail == QByteArrayView("\0\0\0\0IEND\xAE\x42\x60\x82", 12);
    }
    if (head.startsWith("\xFF\xD8")) {
        return tail.endsWith("\xFF\xD9");
    }
    if (head.startsWith("BM") && head.size() == 6) {
        return size >= qFromLittleEndian<quint32>(head.constData() + 2);
    }
    return true;
}

std::vector<ImageCodec> ImageCodecs(CodecUse use)
{
    const QList<QByteArray> formats = use == CodecUse::Reading ? QImageReader::supportedImageFormats()
                                                               : QImageWriter::supportedImageFormats();
    QMimeDatabase mimes;
    std::vector<ImageCodec> codecs;
    std::vector<QString> mimeNames;
    for (const QByteArray& format : formats) {
        const QString suffix = QString::fromLatin1(format).toLower();
        const QMimeType mime
            = mimes.mimeTypeForFile(QStringLiteral("x.") + suffix, QMimeDatabase::MatchExtension);
        const bool known = mime.isValid() && !mime.isDefault();
        const QString name = known ? mime.name() : suffix;
        const auto seen = std::find(mimeNames.begin(), mimeNames.end(), name);
        const QString pattern = QStringLiteral("*.") + suffix;
        if (seen != mimeNames.end()) {
            ImageCodec& codec = codecs[seen - mimeNames.begin()];
            if (!codec.patterns.contains(pattern)) {
                codec.patterns.append(pattern);
            }
            continue;
        }
        ImageCodec codec { format, known ? mime.comment() : suffix.toUpper() + QStringLiteral(" image"), {} };
        if (known) {
            for (const QString& glob : mime.globPatterns()) {
                if (glob.startsWith(QStringLiteral("*.")) && !codec.patterns.contains(glob.toLower())) {
                    codec.patterns.append(glob.toLower());
                }
            }
        }
        if (!codec.patterns.contains(pattern)) {
            codec.patterns.append(pattern);
        }
        codecs.push_back(codec);
        mimeNames.push_back(name);
    }
    return codecs;
}

bool IsIconOrMetafile(const ImageCodec& codec)
{
    static const QByteArray kLeftOut[] = { "ico", "cur", "icns", "emf", "wmf" };
    return std::find(std::begin(kLeftOut), std::end(kLeftOut), codec.format.toLower()) != std::end(kLeftOut);
}

const ImageCodec* WriterForFile(const std::vector<ImageCodec>& writers, const QString& fileName)
{
    const QString name = QFileInfo(fileName).fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot < 0) {
        return nullptr;
    }
    const QString extension = name.mid(dot + 1);
    for (const ImageCodec& writer : writers) {
        for (const QString& pattern : writer.patterns) {
            if (pattern.mid(2).compare(extension, Qt::CaseInsensitive) == 0) {
                return &writer;
            }
        }
    }
    return nullptr;
}

bool SaveImage(const QImage& surface, const QString& path, QString* error, int pngLevel)
{
    const auto fail = [error](const QString& reason) {
        if (error) {
            *error = reason;
        }
        return false;
    };
    const std::vector<ImageCodec> writers = ImageCodecs(CodecUse::Writing);
    const ImageCodec* writer = WriterForFile(writers, path);
    if (writer == nullptr) {
        return fail(QStringLiteral("no image writer for this extension"));
    }
    // The common export of a large picture, many times faster than Qt's writer and the same bytes.
    if (writer->format.compare("bmp", Qt::CaseInsensitive) == 0 && CanEncodeBmp(surface)) {
        return SaveBmp(surface, path, error);
    }
    // An opaque picture as PNG: our own writer, row by row, with filters and deflate chosen for
    // speed at the default level (pngfile.h); the level without a choice is zlib's default.
    constexpr int kZlibDefaultLevel = 6;
    if (writer->format.compare("png", Qt::CaseInsensitive) == 0 && CanEncodePng(surface)) {
        return SavePng(surface, path, pngLevel >= 0 ? pngLevel : kZlibDefaultLevel, error);
    }
    // Encoded in memory first, then written whole or not at all: a failed or cancelled export never
    // leaves a broken picture, nor destroys the one it would have replaced.
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter imageWriter(&buffer, writer->format);
    if (pngLevel >= 0 && writer->format.compare("png", Qt::CaseInsensitive) == 0) {
        // Qt's PNG writer takes the level as a quality: level = (100 - quality) * 9 / 91.
        imageWriter.setQuality(100 - (std::min(pngLevel, 9) * 91 + 8) / 9);
    }
    if (!imageWriter.write(surface)) {
        return fail(imageWriter.errorString());
    }
    buffer.close();
    QString reason;
    if (!WriteFileAtomically(path, bytes, &reason)) {
        return fail(reason);
    }
    return true;
}
