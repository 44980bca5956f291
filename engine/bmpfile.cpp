#include "bmpfile.h"

#include "safefile.h"

#include <QtEndian>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

constexpr int kHeaderSize = kBmpHeaderBytes; // file header, 40-byte info header; no colour table
// Qt's writer puts this in for an image that has no resolution (72 dots per inch).
constexpr int kDefaultDotsPerMetre = 2834;
// Pieces handed to the disk: large enough that a write call costs nothing per byte, small enough
// to stay in the cache between the conversion and the copy into the file.
constexpr qint64 kPieceBytes = qint64 { 1 } << 20;

void Put16(char*& out, int value)
{
    qToLittleEndian(static_cast<quint16>(value), out);
    out += 2;
}

void Put32(char*& out, qint64 value)
{
    qToLittleEndian(static_cast<quint32>(value), out);
    out += 4;
}

void WriteHeader(const QImage& image, char* out)
{
    WriteBmpHeader(image.width(), image.height(), image.dotsPerMeterX(), image.dotsPerMeterY(), out);
}

#if defined(__x86_64__)
// Four pixels per shuffle that drops every fourth byte. Each store writes 16 bytes of which the
// next store overwrites the last 4, so it stops while 16 bytes still fit in the row. Returns the
// pixels converted.
__attribute__((target("ssse3"))) int ConvertPixelsSsse3(const QRgb* in, int width, char* out, qint64 rowBytes)
{
    const __m128i drop = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    int column = 0;
    for (; column + 4 <= width && column * qint64 { 3 } + 16 <= rowBytes; column += 4) {
        const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + column));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + column * 3), _mm_shuffle_epi8(pixels, drop));
    }
    return column;
}
#endif

// One row of 32-bit pixels as blue, green, red bytes and the zero padding. Four pixels make three
// words, so that the loop stores words instead of bytes.
void ConvertRow(const QRgb* in, int width, char* out, qint64 rowBytes)
{
    char* const start = out;
    int column = 0;
#if defined(__x86_64__)
    static const bool ssse3 = __builtin_cpu_supports("ssse3");
    if (ssse3) {
        column = ConvertPixelsSsse3(in, width, out, rowBytes);
        out += column * 3;
    }
#endif
    if constexpr (Q_BYTE_ORDER == Q_LITTLE_ENDIAN) {
        for (; column + 4 <= width; column += 4) {
            const quint32 p0 = in[column];
            const quint32 p1 = in[column + 1];
            const quint32 p2 = in[column + 2];
            const quint32 p3 = in[column + 3];
            const quint32 words[3] = { (p0 & 0xffffffu) | (p1 << 24), ((p1 >> 8) & 0xffffu) | (p2 << 16),
                ((p2 >> 16) & 0xffu) | (p3 << 8) };
            std::memcpy(out, words, sizeof words);
            out += sizeof words;
        }
    }
    for (; column < width; ++column) {
        const QRgb pixel = in[column];
        *out++ = static_cast<char>(qBlue(pixel));
        *out++ = static_cast<char>(qGreen(pixel));
        *out++ = static_cast<char>(qRed(pixel));
    }
    std::memset(out, 0, static_cast<size_t>(rowBytes - (out - start)));
}

// Rows of the file from fileRow on (file row 0 is the image's bottom row), count of them.
void ConvertRows(const QImage& image, int fileRow, int count, char* out)
{
    const int top = image.height() - fileRow - count;
    const Raster rows { image.width(), count, static_cast<int>(image.bytesPerLine()), 32,
        const_cast<uint8_t*>(image.constScanLine(top)) };
    ConvertBmpRows(rows, out);
}

} // namespace

qint64 BmpRowBytes(int width) { return (static_cast<qint64>(width) * 24 + 31) / 32 * 4; }

qint64 BmpFileBytes(int width, int height) { return kHeaderSize + BmpRowBytes(width) * height; }

bool BmpFits(int width, int height)
{
    // Qt's writer gives up on files whose size does not fit the header's signed 32-bit field.
    return width > 0 && height > 0 && BmpFileBytes(width, height) <= std::numeric_limits<qint32>::max();
}

void WriteBmpHeader(int width, int height, int dotsPerMetreX, int dotsPerMetreY, char* out)
{
    const qint64 pixelBytes = BmpRowBytes(width) * height;
    const auto resolution = [](int dots) { return dots != 0 ? dots : kDefaultDotsPerMetre; };
    *out++ = 'B';
    *out++ = 'M';
    Put32(out, kHeaderSize + pixelBytes); // file size
    Put32(out, 0);                        // reserved
    Put32(out, kHeaderSize);              // where the pixels start
    Put32(out, 40);                       // info header size
    Put32(out, width);
    Put32(out, height); // positive: the bottom row comes first
    Put16(out, 1);      // planes
    Put16(out, 24);     // bits per pixel
    Put32(out, 0);      // no compression
    Put32(out, pixelBytes);
    Put32(out, resolution(dotsPerMetreX));
    Put32(out, resolution(dotsPerMetreY));
    Put32(out, 0); // colours used
    Put32(out, 0); // colours important
}

void ConvertBmpRows(const Raster& rows, char* out)
{
    const qint64 rowBytes = BmpRowBytes(rows.width);
    for (int y = rows.height - 1; y >= 0; --y) {
        ConvertRow(
            reinterpret_cast<const QRgb*>(rows.pixels + static_cast<std::ptrdiff_t>(y) * rows.bytesPerRow),
            rows.width, out, rowBytes);
        out += rowBytes;
    }
}

bool CanEncodeBmp(const QImage& image)
{
    return !image.isNull()
        && (image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32)
        && BmpFits(image.width(), image.height());
}

QByteArray EncodeBmp(const QImage& image)
{
    if (!CanEncodeBmp(image)) {
        return {};
    }
    QByteArray bytes(BmpFileBytes(image.width(), image.height()), Qt::Uninitialized);
    WriteHeader(image, bytes.data());
    ConvertRows(image, 0, image.height(), bytes.data() + kHeaderSize);
    return bytes;
}

bool SaveBmp(const QImage& image, const QString& path, QString* error)
{
    if (!CanEncodeBmp(image)) {
        if (error) {
            *error = QStringLiteral("invalid image");
        }
        return false;
    }
    const qint64 rowBytes = BmpRowBytes(image.width());
    const int rowsPerPiece = static_cast<int>(std::clamp<qint64>(kPieceBytes / rowBytes, 1, image.height()));
    const auto piece = std::make_unique_for_overwrite<char[]>(static_cast<size_t>(rowsPerPiece * rowBytes));
    const auto produce = [&](const FileWrite& write) {
        char header[kHeaderSize];
        WriteHeader(image, header);
        if (!write(header, kHeaderSize)) {
            return false;
        }
        for (int row = 0; row < image.height(); row += rowsPerPiece) {
            const int count = std::min(rowsPerPiece, image.height() - row);
            ConvertRows(image, row, count, piece.get());
            if (!write(piece.get(), count * rowBytes)) {
                return false;
            }
        }
        return true;
    };
    return WriteFileAtomically(path, produce, error);
}
