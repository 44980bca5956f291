#include "pngfile.h"

#include <QtEndian>

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

constexpr unsigned char kSignature[8] = { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n' };
constexpr int kFilterNone = 0;
constexpr int kFilterUp = 2;
constexpr int kFilters = 5; // none, sub, up, average, Paeth
constexpr size_t kPixelBytes = 3;
// Compressed rows leave in IDAT chunks of this size: few enough chunks, little held back.
constexpr size_t kChunkBytes = size_t { 1 } << 18;
// Whole rows handed to deflate at once (a row is at most 3 x 65,536 bytes plus its filter byte).
constexpr size_t kFilteredBytes = size_t { 1 } << 18;

#if defined(__x86_64__)
// Four pixels per shuffle that drops every fourth byte and turns blue-green-red into red-green-blue.
// Each store writes 16 bytes of which the next overwrites the last 4, so it stops while 16 fit.
__attribute__((target("ssse3"))) int RgbPixelsSsse3(const quint32* in, int width, unsigned char* out)
{
    const __m128i order = _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
    int column = 0;
    for (; column + 6 <= width; column += 4) {
        const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + column));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + column * 3), _mm_shuffle_epi8(pixels, order));
    }
    return column;
}
#endif

// One row of 32-bit pixels as red, green, blue bytes.
void RgbRow(const quint32* in, int width, unsigned char* out)
{
    int column = 0;
#if defined(__x86_64__)
    static const bool ssse3 = __builtin_cpu_supports("ssse3");
    if (ssse3) {
        column = RgbPixelsSsse3(in, width, out);
    }
#endif
    for (; column < width; ++column) {
        const quint32 pixel = in[column];
        out[column * 3] = static_cast<unsigned char>(pixel >> 16);
        out[column * 3 + 1] = static_cast<unsigned char>(pixel >> 8);
        out[column * 3 + 2] = static_cast<unsigned char>(pixel);
    }
}

} // namespace

struct CPngEncoder::State {
    FileWrite write;
    int level { 1 };
    int width { 0 };
    int height { 0 };
    int rowsDone { 0 };
    bool begun { false };
    bool failed { false };
    z_stream zlib {};
    std::vector<unsigned char> previous; // the row above, as red, green, blue
    std::vector<unsigned char> current;
    std::vector<unsigned char> filtered; // whole filtered rows, each after its filter byte
    size_t filteredUsed { 0 };
    std::vector<unsigned char> trial; // a row under one filter
    std::vector<unsigned char> chunk; // "IDAT" and the compressed bytes of the chunk being filled

    bool Chunk(const char* type, const unsigned char* data, size_t size)
    {
        unsigned char head[8];
        qToBigEndian(static_cast<quint32>(size), head);
        std::memcpy(head + 4, type, 4);
        uLong crc = crc32(0, head + 4, 4);
        if (size > 0) { // a null pointer would restart the sum
            crc = crc32(crc, data, static_cast<uInt>(size));
        }
        unsigned char tail[4];
        qToBigEndian(static_cast<quint32>(crc), tail);
        failed = failed || !write(reinterpret_cast<const char*>(head), 8)
            || (size > 0 && !write(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)))
            || !write(reinterpret_cast<const char*>(tail), 4);
        return !failed;
    }

    // Runs deflate over what zlib holds as input, sending every full chunk; flush is zlib's.
    bool Deflate(int flush)
    {
        for (;;) {
            zlib.next_out = chunk.data() + chunk.size() - zlib.avail_out;
            const int status = deflate(&zlib, flush);
            if (status == Z_STREAM_ERROR) {
                failed = true;
                return false;
            }
            if (zlib.avail_out == 0 && !SendChunk()) {
                return false;
            }
            if (flush == Z_FINISH ? status == Z_STREAM_END : zlib.avail_in == 0 && zlib.avail_out > 0) {
                return true;
            }
        }
    }

    bool SendChunk()
    {
        const size_t used = chunk.size() - zlib.avail_out;
        if (used > 0 && !Chunk("IDAT", chunk.data(), used)) {
            return false;
        }
        zlib.avail_out = static_cast<uInt>(chunk.size());
        return true;
    }

    bool DeflateFiltered()
    {
        zlib.next_in = filtered.data();
        zlib.avail_in = static_cast<uInt>(filteredUsed);
        filteredUsed = 0;
        return Deflate(Z_NO_FLUSH);
    }

    // The row in current, filtered, after the rows waiting for deflate; current becomes previous.
    void FilterRow()
    {
        const size_t bytes = current.size();
        unsigned char* out = filtered.data() + filteredUsed;
        filteredUsed += bytes + 1;
        if (level == 0) {
            *out = kFilterNone;
            std::memcpy(out + 1, current.data(), bytes);
        } else if (level == 1) {
            *out++ = kFilterUp;
            for (size_t k = 0; k < bytes; ++k) {
                out[k] = static_cast<unsigned char>(current[k] - previous[k]);
            }
        } else {
            BestFilter(out);
        }
        current.swap(previous);
    }

    // Every filter tried on the row, the one whose bytes, read as signed, sum to the least in size
    // kept: the usual guess at what deflates best. One loop per filter, so that each vectorises.
    void BestFilter(unsigned char* out)
    {
        const size_t bytes = current.size();
        const unsigned char* row = current.data();
        const unsigned char* above = previous.data();
        trial.resize(bytes * kFilters);
        unsigned char* none = trial.data();
        unsigned char* sub = none + bytes;
        unsigned char* up = sub + bytes;
        unsigned char* average = up + bytes;
        unsigned char* paeth = average + bytes;
        std::memcpy(none, row, bytes);
        for (size_t k = 0; k < bytes; ++k) {
            const int left = k >= kPixelBytes ? row[k - kPixelBytes] : 0;
            sub[k] = static_cast<unsigned char>(row[k] - left);
            up[k] = static_cast<unsigned char>(row[k] - above[k]);
            average[k] = static_cast<unsigned char>(row[k] - ((left + above[k]) >> 1));
        }
        for (size_t k = 0; k < bytes; ++k) {
            const int left = k >= kPixelBytes ? row[k - kPixelBytes] : 0;
            const int corner = k >= kPixelBytes ? above[k - kPixelBytes] : 0;
            const int pa = std::abs(above[k] - corner); // |p - left| with p = left + up - corner
            const int pb = std::abs(left - corner);
            const int pc = std::abs(left + above[k] - 2 * corner);
            const int predicted = pa <= pb && pa <= pc ? left : pb <= pc ? above[k] : corner;
            paeth[k] = static_cast<unsigned char>(row[k] - predicted);
        }
        long best = -1;
        for (int filter = 0; filter < kFilters; ++filter) {
            const signed char* bytesOf = reinterpret_cast<const signed char*>(trial.data() + filter * bytes);
            long sum = 0;
            for (size_t k = 0; k < bytes; ++k) {
                sum += std::abs(static_cast<int>(bytesOf[k]));
            }
            if (best < 0 || sum < best) {
                best = sum;
                *out = static_cast<unsigned char>(filter);
                std::memcpy(out + 1, trial.data() + filter * bytes, bytes);
            }
        }
    }
};

CPngEncoder::CPngEncoder(FileWrite write, int level)
    : m_state(std::make_unique<State>())
{
    m_state->write = std::move(write);
    m_state->level = std::clamp(level, 0, 9);
}

CPngEncoder::~CPngEncoder()
{
    if (m_state->begun) {
        deflateEnd(&m_state->zlib);
    }
}

// A compressed iTXt chunk: keyword, compression flag and method, empty language and translated
// keyword, then the UTF-8 text deflated.
static QByteArray TextChunk(const QByteArray& key, const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    uLongf size = compressBound(static_cast<uLong>(utf8.size()));
    QByteArray packed(static_cast<qsizetype>(size), Qt::Uninitialized);
    if (compress2(reinterpret_cast<Bytef*>(packed.data()), &size,
            reinterpret_cast<const Bytef*>(utf8.constData()), static_cast<uLong>(utf8.size()),
            Z_BEST_COMPRESSION)
        != Z_OK) {
        return {};
    }
    packed.truncate(static_cast<qsizetype>(size));
    return key + QByteArray("\0\1\0\0\0", 5) + packed;
}

bool CPngEncoder::Begin(
    int width, int height, int dotsPerMetre, const QList<std::pair<QByteArray, QString>>& texts)
{
    State& s = *m_state;
    // Runs only at level 1; filtered rows favour short matches at the others (see the header).
    const int zlibLevel = s.level;
    const int strategy = s.level == 1 ? Z_RLE : s.level == 0 ? Z_DEFAULT_STRATEGY : Z_FILTERED;
    if (s.begun || width <= 0 || height <= 0 || static_cast<size_t>(width) * 3 + 1 > kFilteredBytes
        || deflateInit2(&s.zlib, zlibLevel, Z_DEFLATED, MAX_WBITS, 8, strategy) != Z_OK) {
        return false;
    }
    s.begun = true;
    s.width = width;
    s.height = height;
    s.previous.assign(static_cast<size_t>(width) * 3, 0);
    s.current.assign(s.previous.size(), 0);
    s.filtered.resize(kFilteredBytes);
    s.chunk.resize(kChunkBytes);
    s.zlib.avail_out = static_cast<uInt>(s.chunk.size());
    unsigned char header[13];
    qToBigEndian(static_cast<quint32>(width), header);
    qToBigEndian(static_cast<quint32>(height), header + 4);
    const unsigned char rest[5] = { 8, 2, 0, 0, 0 }; // 8 bits, RGB, deflate, filters, no interlace
    std::memcpy(header + 8, rest, sizeof rest);
    s.failed = !s.write(reinterpret_cast<const char*>(kSignature), sizeof kSignature);
    s.Chunk("IHDR", header, sizeof header);
    if (dotsPerMetre > 0) {
        unsigned char physical[9];
        qToBigEndian(static_cast<quint32>(dotsPerMetre), physical);
        qToBigEndian(static_cast<quint32>(dotsPerMetre), physical + 4);
        physical[8] = 1; // the unit is the metre
        s.Chunk("pHYs", physical, sizeof physical);
    }
    for (const auto& [key, text] : texts) {
        const QByteArray chunk = TextChunk(key, text);
        s.failed = s.failed || chunk.isEmpty();
        s.Chunk("iTXt", reinterpret_cast<const unsigned char*>(chunk.constData()),
            static_cast<size_t>(chunk.size()));
    }
    return !s.failed;
}

bool CPngEncoder::AddRows(const Raster& rows)
{
    State& s = *m_state;
    if (!s.begun || s.failed || rows.width != s.width || rows.bitsPerPixel != 32
        || rows.height > s.height - s.rowsDone) {
        return false;
    }
    const size_t rowBytes = s.current.size() + 1;
    for (int y = 0; y < rows.height; ++y) {
        if (s.filteredUsed + rowBytes > s.filtered.size() && !s.DeflateFiltered()) {
            return false;
        }
        RgbRow(
            reinterpret_cast<const quint32*>(rows.pixels + static_cast<std::ptrdiff_t>(y) * rows.bytesPerRow),
            s.width, s.current.data());
        s.FilterRow();
    }
    s.rowsDone += rows.height;
    return s.DeflateFiltered();
}

bool CPngEncoder::Finish()
{
    State& s = *m_state;
    if (!s.begun || s.failed || s.rowsDone != s.height) {
        return false;
    }
    s.zlib.next_in = nullptr;
    s.zlib.avail_in = 0;
    return s.Deflate(Z_FINISH) && s.SendChunk() && s.Chunk("IEND", nullptr, 0);
}

bool CanEncodePng(const QImage& image)
{
    return !image.isNull() && image.format() == QImage::Format_RGB32
        && static_cast<size_t>(image.width()) * 3 + 1 <= kFilteredBytes;
}

bool SavePng(const QImage& image, const QString& path, int level, QString* error)
{
    if (!CanEncodePng(image)) {
        if (error) {
            *error = QStringLiteral("invalid image");
        }
        return false;
    }
    QList<std::pair<QByteArray, QString>> texts;
    for (const QString& key : image.textKeys()) {
        texts.append({ key.toLatin1(), image.text(key) });
    }
    const auto produce = [&](const FileWrite& write) {
        CPngEncoder encoder(write, level);
        const Raster rows { image.width(), image.height(), static_cast<int>(image.bytesPerLine()), 32,
            const_cast<uint8_t*>(image.constBits()) };
        return encoder.Begin(image.width(), image.height(), image.dotsPerMeterX(), texts)
            && encoder.AddRows(rows) && encoder.Finish();
    };
    return WriteFileAtomically(path, produce, error);
}
