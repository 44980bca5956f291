#include "surface.h"
#include "testutil.h"

#include <QtEndian>

namespace {

TEST(Surface, WatermarkBlend)
{
    struct Row {
        int s, a, d, want;
    };
    // result = min(255, s + d * (255 - a) / 255), per channel, integer arithmetic.
    const Row rows[] = { { 200, 255, 100, 200 }, { 0, 0, 100, 100 }, { 0, 5, 255, 250 }, { 250, 5, 10, 255 },
        { 100, 128, 200, 199 }, { 0, 255, 77, 0 } };
    for (const Row& row : rows) {
        QImage surface = CreateSurface(1, 1);
        surface.setPixel(0, 0, qRgb(row.d, row.d, row.d));
        QImage mark(1, 1, QImage::Format_ARGB32);
        mark.setPixel(0, 0, qRgba(row.s, row.s, row.s, row.a));
        BlendWatermark(surface, mark, 0, 0);
        EXPECT_EQ(qRed(surface.pixel(0, 0)), row.want) << row.s << ' ' << row.a << ' ' << row.d;
        EXPECT_EQ(qBlue(surface.pixel(0, 0)), row.want) << row.s << ' ' << row.a << ' ' << row.d;
    }
}

TEST(Surface, WatermarkClipsAndCopiesOpaquePictures)
{
    QImage surface = CreateSurface(100, 100);
    QImage mark(277, 63, QImage::Format_ARGB32);
    mark.fill(qRgba(255, 255, 255, 255));
    mark.setPixel(276, 62, qRgba(10, 20, 30, 255));
    BlendWatermark(surface, mark, 100 - 277, 100 - 63); // the left part falls outside
    EXPECT_EQ(surface.pixel(99, 99), qRgb(10, 20, 30));
    EXPECT_EQ(surface.pixel(0, 37), qRgb(255, 255, 255));
    EXPECT_EQ(surface.pixel(0, 36), qRgb(0, 0, 0));

    QImage opaque(2, 2, QImage::Format_RGB32);
    opaque.fill(qRgb(9, 8, 7));
    BlendWatermark(surface, opaque, 98, 98);
    EXPECT_EQ(surface.pixel(99, 99), qRgb(9, 8, 7));
    BlendWatermark(surface, opaque, 1000, -1000); // entirely outside: nothing happens
}

TEST(Surface, ConstantBlend)
{
    QImage surface = CreateSurface(4, 1);
    surface.fill(qRgb(255, 255, 255));
    QImage black(2, 1, QImage::Format_RGB32);
    black.fill(qRgb(0, 0, 0));
    BlendConstant(surface, black, 1, 0, 2, 1, 100);
    EXPECT_EQ(surface.pixel(0, 0), qRgb(255, 255, 255));
    EXPECT_EQ(surface.pixel(1, 0), qRgb(155, 155, 155)); // (0 * 100 + 255 * 155) / 255
    EXPECT_EQ(surface.pixel(3, 0), qRgb(255, 255, 255));
}

TEST(Surface, Codecs)
{
    const std::vector<ImageCodec> readers = ImageCodecs(CodecUse::Reading);
    const std::vector<ImageCodec> writers = ImageCodecs(CodecUse::Writing);
    for (const char* format : { "png", "jpeg", "bmp", "gif" }) {
        EXPECT_TRUE(std::any_of(readers.begin(), readers.end(), [&](const ImageCodec& c) {
            return c.format == format;
        })) << format;
    }
    for (const ImageCodec& codec : writers) {
        EXPECT_FALSE(codec.description.isEmpty()) << codec.format.constData();
        ASSERT_FALSE(codec.patterns.isEmpty()) << codec.format.constData();
        for (const QString& pattern : codec.patterns) {
            EXPECT_TRUE(pattern.startsWith(QStringLiteral("*."))) << pattern.toStdString();
        }
    }
    const struct {
        const char* file;
        const char* format; // nullptr: no writer
    } rows[] = { { "picture.png", "png" }, { "PICTURE.PNG", "png" }, { "a.b/picture.jpeg", "jpeg" },
        { "picture.jpg", "jpeg" }, { "picture.bmp", "bmp" }, { "picture.ppm", "ppm" },
        { "picture.xyz", nullptr }, { "picture", nullptr }, { "dir.d/picture", nullptr } };
    for (const auto& row : rows) {
        const ImageCodec* writer = WriterForFile(writers, QString::fromLatin1(row.file));
        if (row.format == nullptr) {
            EXPECT_EQ(writer, nullptr) << row.file;
        } else {
            ASSERT_NE(writer, nullptr) << row.file;
            // jpg and jpeg share one entry; its key may be either.
            EXPECT_TRUE(
                writer->format == row.format || (QByteArray(row.format) == "jpeg" && writer->format == "jpg"))
                << row.file << " -> " << writer->format.constData();
        }
    }
    const auto icon
        = std::find_if(writers.begin(), writers.end(), [](const ImageCodec& c) { return c.format == "ico"; });
    if (icon != writers.end()) {
        EXPECT_TRUE(IsIconOrMetafile(*icon));
    }
}

TEST(Surface, SavingIsAllOrNothing)
{
    QTemporaryDir dir;
    QImage surface = CreateSurface(3, 2);
    surface.setPixel(2, 1, qRgb(1, 2, 3));
    const QString png = dir.filePath(QStringLiteral("out.png"));
    ASSERT_TRUE(SaveImage(surface, png));
    EXPECT_EQ(QImage(png).pixel(2, 1), qRgb(1, 2, 3));

    // A failed write leaves the old file as it was and no stray file beside it.
    const QByteArray before = ReadAll(png);
    QString error;
    EXPECT_FALSE(SaveImage(QImage(), png, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(ReadAll(png), before);
    EXPECT_FALSE(SaveImage(surface, dir.filePath(QStringLiteral("out.xyz"))));
    EXPECT_FALSE(SaveImage(surface, dir.filePath(QStringLiteral("missing/out.png"))));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList { QStringLiteral("out.png") });
}

uint32_t Crc32(const QByteArray& bytes)
{
    uint32_t crc = 0xffffffffu;
    for (const char byte : bytes) {
        crc ^= static_cast<uint8_t>(byte);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

QByteArray Chunk(const char* type, const QByteArray& data)
{
    QByteArray body = QByteArray(type) + data;
    QByteArray chunk(4, 0);
    qToBigEndian<quint32>(data.size(), chunk.data());
    QByteArray crc(4, 0);
    qToBigEndian<quint32>(Crc32(body), crc.data());
    return chunk + body + crc;
}

TEST(Surface, DecodingRefusesHugeImages)
{
    // A valid PNG header that declares 100000 x 100000 pixels (40 GB decoded).
    QByteArray header(13, 0);
    qToBigEndian<quint32>(100000, header.data());
    qToBigEndian<quint32>(100000, header.data() + 4);
    header[8] = 8; // bit depth
    header[9] = 6; // RGBA
    const QByteArray png = QByteArray("\x89PNG\r\n\x1a\n", 8) + Chunk("IHDR", header) + Chunk("IEND", {});
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("huge.png"));
    ASSERT_TRUE(WriteAll(path, png));
    QString error;
    EXPECT_TRUE(DecodeImage(path, &error).isNull());
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(DecodeImage(QString(), &error).isNull());
    EXPECT_TRUE(DecodeImage(dir.filePath(QStringLiteral("missing.png")), &error).isNull());
}

TEST(Surface, Sizes)
{
    EXPECT_TRUE(CreateSurface(0, 10).isNull());
    EXPECT_TRUE(CreateSurface(10, -1).isNull());
    const QImage big = CreateSurface(4096, 4096);
    ASSERT_FALSE(big.isNull());
    EXPECT_EQ(big.format(), QImage::Format_RGB32);
    QImage copy = big;
    const Raster raster = DescribeRaster(copy);
    EXPECT_EQ(raster.bytesPerRow, 4096 * 4);
    EXPECT_EQ(raster.bitsPerPixel, 32);
    QImage none;
    EXPECT_EQ(DescribeRaster(none).pixels, nullptr);
}

} // namespace
