#include "palettedecode.h"

#include "safefile.h"
#include "surface.h"

#include <QFile>
#include <QImageReader>
#include <QtEndian>

#include <algorithm>
#include <limits>
#include <mutex>
#include <vector>

#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// A run of file bytes that the reader sees; the reader sees the runs one after the other.
struct Segment {
    qint64 offset;
    qint64 length;
};

// What the header walk found out before any decoder runs.
struct Plan {
    std::vector<Segment> segments;
    qint64 width { -1 }; // -1: ask the reader
    qint64 height { -1 };
    qint64 bytesPerPixel { 4 }; // the decoded picture plus the decoder's own buffers
    qint64 screenWidth { 0 };   // GIF: the screen the frame is drawn into, which may be larger
    qint64 screenHeight { 0 };
};

quint32 BigEndian32(const char* p)
{
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return (quint32(u[0]) << 24) | (quint32(u[1]) << 16) | (quint32(u[2]) << 8) | quint32(u[3]);
}

quint16 BigEndian16(const char* p)
{
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return static_cast<quint16>((u[0] << 8) | u[1]);
}

QByteArray ReadAt(QFile& file, qint64 offset, qint64 length)
{
    if (!file.seek(offset)) {
        return {};
    }
    return file.read(length);
}

// The file as the decoder sees it: only the planned segments, and nothing more once the deadline has
// passed or the decode was cancelled. Decoders read as they decode, so a failing read ends them.
class GuardedDevice final : public QIODevice {
public:
    GuardedDevice(QFile& file, std::vector<Segment> segments, qint64 readSize, Clock::time_point deadline,
        const std::atomic<bool>* cancel, QByteArray stopBytes)
        : m_file(file)
        , m_segments(std::move(segments))
        , m_nReadSize(readSize)
        , m_deadline(deadline)
        , m_cancel(cancel)
        , m_stopBytes(std::move(stopBytes))
    {
        for (const Segment& segment : m_segments) {
            m_starts.push_back(m_size);
            m_size += segment.length;
        }
    }
    bool isSequential() const override { return false; }
    qint64 size() const override { return m_size; }
    // Whether the decode was stopped: cancelled, or out of time.
    bool Stopped() const { return m_bStopped; }
    bool Expired()
    {
        if ((m_cancel && m_cancel->load(std::memory_order_relaxed)) || Clock::now() >= m_deadline) {
            m_bStopped = true;
        }
        return m_bStopped;
    }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        if (Expired()) {
            if (m_stopBytes.isEmpty()) {
                return -1;
            }
            // The pattern goes on across reads, however small they are.
            for (qint64 k = 0; k < maxSize; ++k) {
                data[k] = m_stopBytes.at(m_nStopAt++ % m_stopBytes.size());
            }
            return maxSize;
        }
        maxSize = std::min(maxSize, m_nReadSize);
        qint64 at = pos();
        qint64 done = 0;
        while (done < maxSize && at < m_size) {
            const auto next = std::upper_bound(m_starts.begin(), m_starts.end(), at);
            const size_t index = static_cast<size_t>(next - m_starts.begin()) - 1;
            const Segment& segment = m_segments[index];
            const qint64 within = at - m_starts[index];
            const qint64 wanted = std::min(maxSize - done, segment.length - within);
            if (!m_file.seek(segment.offset + within)) {
                break;
            }
            const qint64 got = m_file.read(data + done, wanted);
            if (got <= 0) {
                break;
            }
            done += got;
            at += got;
        }
        return done;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QFile& m_file;
    std::vector<Segment> m_segments;
    std::vector<qint64> m_starts;
    qint64 m_size { 0 };
    qint64 m_nReadSize;
    Clock::time_point m_deadline;
    const std::atomic<bool>* m_cancel;
    QByteArray m_stopBytes; // what a stopped decode reads instead of the end of the file
    qint64 m_nStopAt { 0 };
    bool m_bStopped { false };
};

// PNG: every chunk must fit in the file (a length beyond it would make the reader reserve or wait for
// bytes that never come). The reader gets only the chunks that make the pixels; text, colour profiles
// and the like are compressed data we never use and could inflate without bound.
bool PlanPng(QFile& file, qint64 size, Plan& plan, QString& reason)
{
    static const QByteArray kKept[] = { "IHDR", "PLTE", "tRNS", "IDAT", "IEND" };
    plan.segments.push_back({ 0, 8 });
    qint64 offset = 8;
    bool first = true;
    while (offset + 8 <= size) {
        const QByteArray header = ReadAt(file, offset, 8);
        if (header.size() != 8) {
            reason = QStringLiteral("cannot read the file");
            return false;
        }
        const qint64 length = BigEndian32(header.constData());
        const QByteArray type = header.mid(4, 4);
        if (length > size - offset - 12) {
            reason = QStringLiteral("PNG chunk %1 is longer than the rest of the file")
                         .arg(QString::fromLatin1(type.toHex()));
            return false;
        }
        if (first) {
            if (type != "IHDR" || length != 13) {
                reason = QStringLiteral("damaged PNG header");
                return false;
            }
            const QByteArray ihdr = ReadAt(file, offset + 8, 13);
            if (ihdr.size() != 13) {
                reason = QStringLiteral("cannot read the file");
                return false;
            }
            plan.width = BigEndian32(ihdr.constData());
            plan.height = BigEndian32(ihdr.constData() + 4);
            // 16 bits per channel decode to 8 bytes a pixel.
            plan.bytesPerPixel = ihdr.at(8) == 16 ? 8 : 4;
            first = false;
        }
        if (std::find(std::begin(kKept), std::end(kKept), type) != std::end(kKept)) {
            Segment& last = plan.segments.back();
            if (last.offset + last.length == offset) {
                last.length += 12 + length;
            } else {
                plan.segments.push_back({ offset, 12 + length });
            }
        }
        offset += 12 + length;
        if (type == "IEND") {
            break;
        }
    }
    if (first) {
        reason = QStringLiteral("damaged PNG header");
        return false;
    }
    return true;
}

// JPEG: the frame header gives the size and the number of components. A progressive or multi-scan
// picture keeps every coefficient (2 bytes a sample) until its last scan.
bool PlanJpeg(QFile& file, qint64 size, Plan& plan, QString& reason)
{
    plan.segments.push_back({ 0, size });
    qint64 offset = 2;
    while (offset + 4 <= size) {
        const QByteArray marker = ReadAt(file, offset, 4);
        if (marker.size() != 4 || static_cast<unsigned char>(marker[0]) != 0xFF) {
            break;
        }
        const unsigned code = static_cast<unsigned char>(marker[1]);
        if (code == 0xFF) {
            ++offset; // fill byte
            continue;
        }
        if (code == 0x01 || (code >= 0xD0 && code <= 0xD8)) {
            offset += 2;
            continue;
        }
        if (code == 0xDA || code == 0xD9) {
            break; // image data before any frame header
        }
        const bool frame = code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC;
        if (frame) {
            const QByteArray sof = ReadAt(file, offset + 4, 6);
            if (sof.size() != 6) {
                break;
            }
            plan.height = BigEndian16(sof.constData() + 1);
            plan.width = BigEndian16(sof.constData() + 3);
            plan.bytesPerPixel = 4 + 2 * static_cast<unsigned char>(sof[5]);
            return true;
        }
        offset += 2 + BigEndian16(marker.constData() + 2);
    }
    reason = QStringLiteral("damaged JPEG header");
    return false;
}

// BMP: uncompressed pixel rows must all be in the file. Qt's reader returns the rows it found as the
// whole picture, the rest left as they were allocated. (Compressed rows have no fixed length.)
bool PlanBmp(QFile& file, qint64 size, Plan& plan, QString& reason)
{
    plan.segments.push_back({ 0, size });
    const QByteArray h = ReadAt(file, 0, 34);
    const auto u32 = [&h](int at) { return qFromLittleEndian<quint32>(h.constData() + at); };
    const auto u16 = [&h](int at) { return qFromLittleEndian<quint16>(h.constData() + at); };
    if (h.size() < 34) {
        return true; // too short for pixels: the reader finds none
    }
    const bool core = u32(14) == 12; // the oldest header, with 16-bit sizes
    const qint64 width = core ? u16(18) : qint32(u32(18));
    const qint64 height = std::abs(core ? qint64(u16(20)) : qint64(qint32(u32(22))));
    const qint64 bits = u16(core ? 24 : 28);
    const quint32 compression = core ? 0 : u32(30);
    const bool plain = compression == 0 || compression == 3 || compression == 6; // RGB, bit fields
    if (!plain || width <= 0 || height <= 0 || bits <= 0) {
        return true;
    }
    const qint64 pixels = u32(10);
    const qint64 stride = (width * bits + 31) / 32 * 4;
    if (pixels > size || stride > (size - pixels) / height) {
        reason = QStringLiteral("BMP pixel data is shorter than its header declares");
        return false;
    }
    return true;
}

void SetAllocationLimit()
{
    static std::once_flag once;
    std::call_once(once, [] { QImageReader::setAllocationLimit(kImageAllocationLimitMiB); });
}

// Walks the headers of a file of this format before any decoder sees it.
bool PlanFor(const QByteArray& format, QFile& file, qint64 size, Plan& plan, QString& reason)
{
    if (format == "png") {
        return PlanPng(file, size, plan, reason);
    }
    if (format == "jpeg") {
        return PlanJpeg(file, size, plan, reason);
    }
    if (format == "bmp") {
        return PlanBmp(file, size, plan, reason);
    }
    plan.segments.push_back({ 0, size });
    // GIF keeps the whole screen beside the frame it draws into it.
    plan.bytesPerPixel = format == "gif" ? 8 : 4;
    if (format == "gif") {
        const QByteArray screen = ReadAt(file, 6, 4);
        if (screen.size() != 4) {
            reason = QStringLiteral("damaged GIF header");
            return false;
        }
        const auto u = [&screen](int at) { return static_cast<unsigned char>(screen[at]); };
        plan.screenWidth = u(0) | (u(1) << 8);
        plan.screenHeight = u(2) | (u(3) << 8);
    }
    return true;
}

// Refuses, before decoding, a picture with no pixels or one larger than the memory budget.
bool WithinBudget(
    QImageReader& reader, const GuardedDevice& device, Plan& plan, qint64 memoryBudget, QString& reason)
{
    if (plan.width < 0) {
        const QSize declared = reader.size();
        plan.width = declared.width();
        plan.height = declared.height();
        if (plan.width > 0 && plan.height > 0) {
            plan.width = std::max(plan.width, plan.screenWidth);
            plan.height = std::max(plan.height, plan.screenHeight);
        }
    }
    if (plan.width <= 0 || plan.height <= 0) {
        reason = device.Stopped() ? QStringLiteral("cancelled or too slow") : QStringLiteral("no pixels");
        return false;
    }
    // Divided, not multiplied: a PNG header may declare up to 2^32 - 1 each way.
    if (plan.width > memoryBudget / plan.bytesPerPixel / plan.height) {
        reason = QStringLiteral("image too large (%1 x %2)").arg(plan.width).arg(plan.height);
        return false;
    }
    return true;
}

// Decodes through a device that stops at the deadline or on cancel; a null image, with the reason,
// on any failure.
QImage ReadBounded(QFile& file, const QByteArray& format, Plan& plan, Clock::time_point deadline,
    const PaletteDecodeLimits& limits, QString& reason)
{
    // The deadline is looked at on every read. A JPEG scan of a few bytes can make the decoder go over
    // the whole picture, so JPEG is read in small pieces to look often.
    // A JPEG decoder that runs out of data takes that for the end of the picture and still builds all
    // of it (every block and row of a picture of the whole budget) before returning. A second frame
    // header is an error, which it stops at.
    // Qt's PNG and BMP readers take a short read for the whole of what they asked for (PNG reads again
    // into the start of its buffer, BMP leaves the rest of a row as it was), so they are given every
    // byte asked for: libpng asks for at most one chunk, and for 8 KiB of picture data at a time, the
    // BMP reader for one row, so the deadline is still looked at often.
    const QByteArray stopBytes = format == "jpeg" ? QByteArray("\xFF\xC0", 2) : QByteArray();
    const qint64 readSize = format == "jpeg" ? 64
        : format == "png" || format == "bmp" ? std::numeric_limits<qint64>::max()
                                             : 4096;
    GuardedDevice device(file, plan.segments, readSize, deadline, limits.cancel, stopBytes);
    device.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    QImageReader reader(&device, format);
    // Only the reader chosen above: Qt would otherwise try every reader it has on the content.
    reader.setAutoDetectImageFormat(false);
    if (!WithinBudget(reader, device, plan, limits.memoryBudget, reason)) {
        return QImage();
    }
    QImage image = reader.read();
    if (device.Expired()) {
        const bool cancelled = limits.cancel && limits.cancel->load();
        reason = cancelled ? QStringLiteral("cancelled")
                           : QStringLiteral("decoding took longer than %1 s")
                                 .arg(std::chrono::duration<double>(limits.timeout).count());
        return QImage();
    }
    if (image.isNull()) {
        reason = reader.errorString();
    }
    return image;
}

} // namespace

QByteArray PaletteFormatOf(const QByteArray& head)
{
    if (head.startsWith("\x89PNG\r\n\x1a\n")) {
        return "png";
    }
    if (head.startsWith("\xFF\xD8\xFF")) {
        return "jpeg";
    }
    if (head.startsWith("GIF87a") || head.startsWith("GIF89a")) {
        return "gif";
    }
    if (head.startsWith("BM")) {
        return "bmp";
    }
    return {};
}

const std::vector<PaletteFormat>& PaletteFormats()
{
    static const std::vector<PaletteFormat> formats {
        { QStringLiteral("PNG image"), { QStringLiteral("*.png") } },
        { QStringLiteral("JPEG image"),
            { QStringLiteral("*.jpg"), QStringLiteral("*.jpeg"), QStringLiteral("*.jpe") } },
        { QStringLiteral("Windows BMP image"), { QStringLiteral("*.bmp"), QStringLiteral("*.dib") } },
        { QStringLiteral("GIF image"), { QStringLiteral("*.gif") } },
    };
    return formats;
}

namespace {

// The one decode of palettes and pictures: the file's own format, its headers walked first, then
// the reader held to the budget and the deadline. A null image, with the reason, on any failure.
QImage DecodeGuarded(const QString& path, const PaletteDecodeLimits& limits, QString& reason)
{
    const Clock::time_point deadline = Clock::now() + limits.timeout;
    if (path.isEmpty()) {
        reason = QStringLiteral("no file name");
        return {};
    }
    SetAllocationLimit();
    QFile file;
    qint64 size = 0;
    if (!OpenRegularFile(path, file, size, reason)) {
        return {};
    }
    const QByteArray format = PaletteFormatOf(file.read(16));
    if (format.isEmpty()) {
        reason = QStringLiteral("not a PNG, JPEG, BMP or GIF image");
        return {};
    }
    Plan plan;
    if (!PlanFor(format, file, size, plan, reason)) {
        return {};
    }
    return ReadBounded(file, format, plan, deadline, limits, reason);
}

} // namespace

QImage DecodePalette(const QString& path, QString* error, const PaletteDecodeLimits& limits)
{
    const auto fail = [error](const QString& reason) {
        if (error) {
            *error = reason;
        }
        return QImage();
    };
    QString reason;
    const QImage image = DecodeGuarded(path, limits, reason);
    if (image.isNull()) {
        return fail(reason);
    }
    QImage surface = ToSurfaceFormat(image);
    if (surface.isNull()) {
        return fail(QStringLiteral("out of memory"));
    }
    return surface;
}

bool IsPictureFile(const QString& path)
{
    QFile file;
    qint64 size = 0;
    QString reason;
    return OpenRegularFile(path, file, size, reason) && !PaletteFormatOf(file.read(16)).isEmpty();
}
