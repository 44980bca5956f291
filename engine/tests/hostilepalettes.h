#pragma once

// Palette files built to hurt the decoders: each was seen to crash, exhaust or freeze the program.
// The fuzz seeds in fuzz/corpus/palette are these bytes, written by `engine_tests
// --write-hostile-palettes FOLDER`.

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageWriter>

#include <cstdint>

namespace hostile {

inline quint32 Crc32(const QByteArray& bytes)
{
    quint32 crc = 0xffffffffu;
    for (const char c : bytes) {
        crc ^= static_cast<unsigned char>(c);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

inline QByteArray BigEndian(quint32 value)
{
    QByteArray bytes(4, '\0');
    for (int k = 0; k < 4; ++k) {
        bytes[k] = static_cast<char>(value >> (24 - 8 * k));
    }
    return bytes;
}

// One PNG/MNG chunk; declaredLength overrides the length field (the data stays as given).
inline QByteArray Chunk(const char* type, const QByteArray& data, qint64 declaredLength = -1)
{
    const QByteArray body = QByteArray(type, 4) + data;
    return BigEndian(static_cast<quint32>(declaredLength < 0 ? data.size() : declaredLength)) + body
        + BigEndian(Crc32(body));
}

inline QByteArray Ihdr(quint32 width, quint32 height)
{
    return Chunk("IHDR", BigEndian(width) + BigEndian(height) + QByteArray("\x08\x02\x00\x00\x00", 5));
}

// Zlib data of the rows (qCompress puts a 4-byte length before the zlib stream).
inline QByteArray Idat(const QByteArray& rows) { return Chunk("IDAT", qCompress(rows).mid(4)); }

// A valid 1 x 1 PNG followed by an ancillary chunk that declares 0x7fffffff bytes.
inline QByteArray HugeChunkPng()
{
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + Ihdr(1, 1) + Idat(QByteArray(4, '\0'))
        + Chunk("tEXt", QByteArray("a\0b", 3), 0x7fffffff) + Chunk("IEND", {});
}

// An MNG stream whose embedded image declares 32768 x 32768 inside a 3 x 2 frame.
inline QByteArray MngBadFrame()
{
    QByteArray mhdr = BigEndian(3) + BigEndian(2) + BigEndian(1);
    mhdr += BigEndian(0) + BigEndian(0) + BigEndian(0) + BigEndian(1); // layers, frames, time, profile
    return QByteArray("\x8aMNG\r\n\x1a\n", 8) + Chunk("MHDR", mhdr) + Ihdr(32768, 32768)
        + Idat(QByteArray(3 * (1 + 3 * 32768), '\0')) + Chunk("IEND", {}) + Chunk("MEND", {});
}

// A PNG whose compressed text chunk inflates to the given size.
inline QByteArray ZtxtBombPng(int inflated)
{
    const QByteArray text = qCompress(QByteArray(inflated, 'a'), 9).mid(4);
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + Ihdr(1, 1) + Chunk("zTXt", QByteArray("b\0\0", 3) + text)
        + Idat(QByteArray(4, '\0')) + Chunk("IEND", {});
}

// A progressive side x side JPEG whose last scan (an AC refinement) is repeated: every copy makes the
// decoder go over every block again.
inline QByteArray RepeatedScanJpeg(int side, int repeats)
{
    QImage picture(side, side, QImage::Format_RGB32);
    picture.fill(qRgb(40, 90, 200));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setProgressiveScanWrite(true);
    if (!writer.write(picture)) {
        return {};
    }
    // Markers: the last start-of-scan runs to the end-of-image marker at the end.
    const auto u = [&bytes](qsizetype at) { return static_cast<unsigned char>(bytes[at]); };
    qsizetype lastScan = -1;
    for (qsizetype at = 2; at + 1 < bytes.size(); ++at) {
        if (u(at) == 0xFF && u(at + 1) == 0xDA) {
            lastScan = at;
        }
    }
    const qsizetype end = bytes.size() - 2; // FF D9
    if (lastScan < 0 || u(end) != 0xFF || u(end + 1) != 0xD9) {
        return {};
    }
    const QByteArray scan = bytes.mid(lastScan, end - lastScan);
    QByteArray out = bytes.left(end);
    for (int k = 1; k < repeats; ++k) {
        out += scan;
    }
    return out + QByteArray("\xFF\xD9", 2);
}

} // namespace hostile
