#include "picturetext.h"

#include "palettedecode.h"
#include "safefile.h"

#include <QFile>
#include <QStringDecoder>

#include <algorithm>

#include <zlib.h>

namespace {

constexpr qint64 kPngSignatureBytes = 8;
constexpr qint64 kPngChunkHeaderBytes = 8; // length and type; the CRC follows the data
constexpr qint64 kPngCrcBytes = 4;
constexpr qint64 kLongestPngChunk = 0x7FFFFFFF; // PNG's own limit on a chunk's length
// What a text chunk holds beside its text: the keyword and, in iTXt, the language tag and the
// translated keyword, which PNG leaves unbounded. A chunk this much longer than the longest text
// allowed is refused unread.
constexpr qint64 kTextChunkSlack = 4096;
// The text is read and inflated in pieces of these sizes, so that only the text itself is held.
constexpr qint64 kReadStep = 1 << 20;
constexpr qint64 kInflateStep = 1 << 16;

quint32 BigEndian32(const QByteArray& bytes, qsizetype at)
{
    const auto* u = reinterpret_cast<const unsigned char*>(bytes.constData() + at);
    return (quint32(u[0]) << 24) | (quint32(u[1]) << 16) | (quint32(u[2]) << 8) | quint32(u[3]);
}

quint16 BigEndian16(const QByteArray& bytes, qsizetype at)
{
    const auto* u = reinterpret_cast<const unsigned char*>(bytes.constData() + at);
    return static_cast<quint16>((u[0] << 8) | u[1]);
}

QByteArray ReadAt(QFile& file, qint64 offset, qint64 length)
{
    if (!file.seek(offset)) {
        return {};
    }
    return file.read(length);
}

QString TooLong(const QByteArray& key, qint64 maxBytes)
{
    return QStringLiteral("its text '%1' is longer than %2 MiB")
        .arg(QString::fromLatin1(key))
        .arg(maxBytes >> 20);
}

// Where the last text chunk of the key lies in a PNG file. Every chunk must fit in the file.
bool FindPngText(QFile& file, qint64 size, const QByteArray& key, qint64& found, QString& reason)
{
    bool first = true;
    for (qint64 offset = kPngSignatureBytes; offset + kPngChunkHeaderBytes <= size;) {
        const QByteArray header = ReadAt(file, offset, kPngChunkHeaderBytes);
        if (header.size() != kPngChunkHeaderBytes) {
            reason = QStringLiteral("cannot read the file");
            return false;
        }
        const qint64 length = BigEndian32(header, 0);
        const QByteArray type = header.mid(4, 4);
        if (length > kLongestPngChunk || length > size - offset - kPngChunkHeaderBytes - kPngCrcBytes) {
            reason = QStringLiteral("PNG chunk %1 is longer than the rest of the file")
                         .arg(QString::fromLatin1(type.toHex()));
            return false;
        }
        if (first && (type != "IHDR" || length != 13)) {
            reason = QStringLiteral("damaged PNG header");
            return false;
        }
        first = false;
        if ((type == "tEXt" || type == "zTXt" || type == "iTXt") && length > key.size()
            && ReadAt(file, offset + kPngChunkHeaderBytes, key.size() + 1) == key + '\0') {
            found = offset;
        }
        offset += kPngChunkHeaderBytes + length + kPngCrcBytes;
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

// Where the text of a text chunk starts, after its keyword (and in iTXt the compression flag and
// method, the language tag and the translated keyword, each ended by a NUL), and whether it is
// compressed. Negative when head, the start of the chunk's data, does not hold all of that.
qsizetype TextStart(const QByteArray& type, const QByteArray& head, qsizetype keyword, bool& compressed)
{
    compressed = type == "zTXt";
    if (type == "tEXt") {
        return keyword;
    }
    if (type == "zTXt") {
        return head.size() > keyword ? keyword + 1 : -1; // the compression method
    }
    const qsizetype language = head.size() >= keyword + 2 ? head.indexOf('\0', keyword + 2) : -1;
    const qsizetype translated = language < 0 ? -1 : head.indexOf('\0', language + 1);
    compressed = translated >= 0 && head.at(keyword) != 0;
    return translated < 0 ? -1 : translated + 1;
}

// The text of the chunk at offset, whose keyword is key, read and decoded a piece at a time, so
// that no more than the text itself is held: tEXt is Latin-1, zTXt compressed Latin-1, iTXt UTF-8
// (compressed when its flag says so), as the PNG format lays them out.
bool ReadPngText(
    QFile& file, qint64 offset, const QByteArray& key, qint64 maxBytes, QString& text, QString& reason)
{
    const QByteArray header = ReadAt(file, offset, kPngChunkHeaderBytes);
    const qint64 length = BigEndian32(header, 0);
    const QByteArray type = header.mid(4, 4);
    if (length > maxBytes + kTextChunkSlack) {
        reason = TooLong(key, maxBytes);
        return false;
    }
    const QByteArray head = file.read(std::min<qint64>(length, key.size() + 1 + kTextChunkSlack));
    uLong sum = crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(type.constData()), 4);
    bool compressed = false;
    const qsizetype start = TextStart(type, head, key.size() + 1, compressed);
    QStringDecoder decoder(type == "iTXt" ? QStringDecoder::Utf8 : QStringDecoder::Latin1);
    z_stream stream {};
    if (start < 0 || (compressed && inflateInit(&stream) != Z_OK)) {
        reason = QStringLiteral("damaged PNG text chunk");
        return false;
    }
    text.reserve(compressed ? 0 : length - start); // a UTF-8 byte is at most one UTF-16 unit
    qint64 produced = 0;
    const auto append = [&](QByteArrayView bytes) {
        produced += bytes.size();
        text += decoder(bytes);
        return produced <= maxBytes;
    };
    int status = Z_OK;
    QByteArray inflated(kInflateStep, '\0');
    // Compressed bytes as they come; what follows the end of the stream is ignored.
    const auto inflateBytes = [&](QByteArrayView bytes) {
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
        stream.avail_in = static_cast<uInt>(bytes.size());
        while (status == Z_OK) {
            stream.next_out = reinterpret_cast<Bytef*>(inflated.data());
            stream.avail_out = static_cast<uInt>(inflated.size());
            const int result = inflate(&stream, Z_NO_FLUSH);
            status = result == Z_BUF_ERROR ? Z_OK : result; // no progress: it needs the next bytes
            if (!append(QByteArrayView(inflated).first(inflated.size() - stream.avail_out))) {
                return false;
            }
            if (result == Z_BUF_ERROR || (stream.avail_in == 0 && stream.avail_out > 0)) {
                break;
            }
        }
        return true;
    };
    const auto take = [&](QByteArrayView bytes) { return compressed ? inflateBytes(bytes) : append(bytes); };
    sum = crc32(sum, reinterpret_cast<const Bytef*>(head.constData()), static_cast<uInt>(head.size()));
    bool fits = take(QByteArrayView(head).sliced(start));
    for (qint64 left = length - head.size(); fits && left > 0;) {
        const QByteArray piece = file.read(std::min(left, kReadStep));
        if (piece.isEmpty()) {
            break;
        }
        sum = crc32(sum, reinterpret_cast<const Bytef*>(piece.constData()), static_cast<uInt>(piece.size()));
        fits = take(piece);
        left -= piece.size();
    }
    if (compressed) {
        inflateEnd(&stream);
    }
    const QByteArray crc = file.read(kPngCrcBytes);
    if (!fits) {
        reason = TooLong(key, maxBytes);
    } else if (crc.size() != kPngCrcBytes || BigEndian32(crc, 0) != sum
        || (compressed && status != Z_STREAM_END)) {
        reason = QStringLiteral("damaged PNG text chunk");
    } else {
        return true;
    }
    text.clear();
    return false;
}

// The last JPEG comment "KEY: TEXT" before the image data. A comment holds at most 65533 bytes.
bool ReadJpegText(QFile& file, qint64 size, const QByteArray& key, QString& text, QString& reason)
{
    const QByteArray prefix = key + ": ";
    for (qint64 offset = 2;;) {
        const QByteArray marker = ReadAt(file, offset, 4);
        if (marker.size() < 2 || static_cast<unsigned char>(marker[0]) != 0xFF) {
            reason = QStringLiteral("damaged JPEG file");
            return false;
        }
        const unsigned code = static_cast<unsigned char>(marker[1]);
        if (code == 0xFF) {
            ++offset; // a fill byte
            continue;
        }
        if (code == 0x01 || (code >= 0xD0 && code <= 0xD7)) {
            offset += 2;
            continue;
        }
        if (code == 0xDA || code == 0xD9) {
            return true; // the image data, or the end: comments come before them
        }
        const qint64 length = marker.size() == 4 ? BigEndian16(marker, 2) : 0;
        if (length < 2 || length > size - offset - 2) {
            reason = QStringLiteral("damaged JPEG file");
            return false;
        }
        if (code == 0xFE) {
            const QByteArray comment = ReadAt(file, offset + 4, length - 2);
            if (comment.startsWith(prefix)) {
                text = QString::fromUtf8(QByteArrayView(comment).sliced(prefix.size()));
            }
        }
        offset += 2 + length;
    }
}

} // namespace

bool ReadPictureText(
    const QString& path, const QByteArray& key, qint64 maxBytes, QString& text, QString& reason)
{
    text.clear();
    QFile file;
    qint64 size = 0;
    if (!OpenRegularFile(path, file, size, reason)) {
        return false;
    }
    const QByteArray format = PaletteFormatOf(file.read(16));
    if (format == "png") {
        qint64 found = -1;
        return FindPngText(file, size, key, found, reason)
            && (found < 0 || ReadPngText(file, found, key, maxBytes, text, reason));
    }
    if (format == "jpeg") {
        return ReadJpegText(file, size, key, text, reason);
    }
    if (format.isEmpty()) {
        reason = QStringLiteral("not a PNG, JPEG, BMP or GIF image");
        return false;
    }
    return true;
}
