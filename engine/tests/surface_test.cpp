#include "fractalscript.h"
#include "surface.h"
#include "testutil.h"

#include <QtEndian>

#include <chrono>
#include <functional>
#include <future>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// The PNG level changes the file's size, never its pixels: 0 stores, 9 packs hardest.
TEST(Surface, PngLevel)
{
    QTemporaryDir dir;
    QImage surface = CreateSurface(256, 64);
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 256; ++x) {
            surface.setPixel(x, y, qRgb(x, (x * y) % 7, y));
        }
    }
    qint64 previous = 0;
    for (const int level : { 9, 1, 0 }) {
        const QString path = dir.filePath(QStringLiteral("level%1.png").arg(level));
        ASSERT_TRUE(SaveImage(surface, path, nullptr, level));
        EXPECT_EQ(QImage(path).convertToFormat(QImage::Format_RGB32), surface) << level;
        EXPECT_GT(QFileInfo(path).size(), previous) << level;
        previous = QFileInfo(path).size();
    }
    EXPECT_GT(previous, 256 * 64 * 3) << "level 0 stores the pixels as they are";
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

// Runs work on a thread of its own. False when it has not returned within five seconds; unblock then
// releases it, so that a failing test still ends.
bool FinishesPromptly(const std::function<void()>& work, const std::function<void()>& unblock)
{
    auto running = std::async(std::launch::async, work);
    const bool prompt = running.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    if (!prompt) {
        unblock();
    }
    running.get();
    return prompt;
}

TEST(Surface, DecodingOnlyReadsRegularFiles)
{
    // A palette's name comes from a script: a FIFO, a terminal or a device must neither block nor be
    // read without end, and the regular files keep being found by extension and by content.
    QTemporaryDir dir;
    QImage picture(3, 2, QImage::Format_RGB32);
    picture.fill(qRgb(10, 20, 30));
    ASSERT_TRUE(picture.save(dir.filePath(QStringLiteral("good.png"))));
    const QByteArray png = ReadAll(dir.filePath(QStringLiteral("good.png")));
    ASSERT_TRUE(WriteAll(dir.filePath(QStringLiteral("png-named.jpg")), png));
    ASSERT_TRUE(WriteAll(dir.filePath(QStringLiteral("no-extension")), png));
    const QString fifo = dir.filePath(QStringLiteral("fifo"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString heldFifo = dir.filePath(QStringLiteral("held-fifo"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(heldFifo).constData(), 0600), 0);
    // Held open for reading and writing here: opening it does not block, reading it would.
    int held = ::open(QFile::encodeName(heldFifo).constData(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_TRUE(QFile::link(fifo, dir.filePath(QStringLiteral("link-to-fifo"))));

    // A writer that opens and closes the FIFO ends a read that waits on it.
    const auto releaseFifo = [&fifo] {
        const int writer = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (writer >= 0) {
            ::close(writer);
        }
    };
    const auto releaseHeld = [&held] {
        ::close(held);
        held = -1;
    };
    const auto nothing = [] {};
    const struct {
        const char* name;
        QString path;
        std::function<void()> unblock;
        bool decodes;
    } rows[] = {
        { "PNG", dir.filePath(QStringLiteral("good.png")), nothing, true },
        { "PNG named .jpg", dir.filePath(QStringLiteral("png-named.jpg")), nothing, true },
        { "PNG without extension", dir.filePath(QStringLiteral("no-extension")), nothing, true },
        { "built-in palette", QStringLiteral(":/glimmerset/palette.png"), nothing, true },
        { "folder", dir.path(), nothing, false },
        { "/dev/zero", QStringLiteral("/dev/zero"), nothing, false },
        { "FIFO without writer", fifo, releaseFifo, false },
        { "link to that FIFO", dir.filePath(QStringLiteral("link-to-fifo")), releaseFifo, false },
        { "FIFO with a silent writer", heldFifo, releaseHeld, false },
        { "name cut by a NUL", dir.filePath(QStringLiteral("good.png")) + QChar(u'\0') + QStringLiteral("x"),
            nothing, false },
    };
    for (const auto& row : rows) {
        QImage image;
        EXPECT_TRUE(FinishesPromptly([&] { image = DecodeImage(row.path); }, row.unblock)) << row.name;
        EXPECT_EQ(!image.isNull(), row.decodes) << row.name;
    }
    if (held >= 0) {
        ::close(held);
    }

    // Through a script's palette: the built-in palette takes the place of what cannot be read.
    CFractalScript script;
    bool loaded = false;
    EXPECT_TRUE(FinishesPromptly([&] { loaded = script.LoadPalette(fifo); }, releaseFifo));
    EXPECT_TRUE(loaded);
    EXPECT_EQ(script.GetPaletteWidth(), 1000);
}

TEST(Surface, LargestPaletteLoads)
{
    // The decoder's limit is inclusive: 8192 x 8192 pixels of four bytes is exactly 256 MiB and loads
    // (a one-bit file of 8 MiB), one row more does not.
    QTemporaryDir dir;
    for (const int height : { 8192, 8193 }) {
        QImage mono(8192, height, QImage::Format_Mono);
        ASSERT_FALSE(mono.isNull());
        mono.setColorTable({ qRgb(9, 8, 7), qRgb(255, 255, 255) });
        mono.fill(0);
        const QString path = dir.filePath(QStringLiteral("big%1.bmp").arg(height));
        ASSERT_TRUE(mono.save(path));
        mono = QImage();
        CFractalScript script;
        EXPECT_EQ(script.LoadPalette(path, PaletteFallback::None), height == 8192) << height;
        if (height == 8192) {
            EXPECT_EQ(script.GetPaletteHeight(), 8192);
            EXPECT_EQ(script.GetPalette().pixel(8191, 8191), qRgb(9, 8, 7));
        }
    }
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

// An export's picture has pixels of its own (in huge pages where allowed): it is written and shared as
// any surface, and a shared copy keeps its pixels when the picture changes.
TEST(Surface, LargeUnfilledSurface)
{
    QImage surface = CreateSurface(2048, 1024, SurfaceFill::Unfilled);
    ASSERT_FALSE(surface.isNull());
    EXPECT_EQ(surface.format(), QImage::Format_RGB32);
    EXPECT_EQ(surface.bytesPerLine(), 2048 * 4);
    surface.setPixel(2047, 1023, qRgb(1, 2, 3));
    const QImage kept = surface;
    surface.setPixel(2047, 1023, qRgb(4, 5, 6));
    EXPECT_EQ(kept.pixel(2047, 1023), qRgb(1, 2, 3));
    EXPECT_EQ(surface.pixel(2047, 1023), qRgb(4, 5, 6));
    EXPECT_EQ(DescribeRaster(surface).pixels, surface.constBits());
}

} // namespace
