#include "bmpfile.h"
#include "surface.h"
#include "testutil.h"

#include <QBuffer>
#include <QDir>
#include <QImageWriter>

#include <csignal>
#include <vector>

#include <sys/resource.h>

namespace {

QByteArray QtBmp(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "bmp");
    EXPECT_TRUE(writer.write(image)) << writer.errorString().toStdString();
    return bytes;
}

// Every pixel different in every channel, alpha included, so that a channel out of place shows.
QImage Pattern(int width, int height, QImage::Format format)
{
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            image.setPixel(x, y, qRgba(x * 37 + y, y * 11 + 3 * x, x ^ (y * 7), 40 + (x * y) % 200));
        }
    }
    return image.convertToFormat(format);
}

// Saved BMP files are the bytes Qt's writer makes, whichever of the two writes them: odd widths need
// padding, a piece of the file may end within the picture, the resolution comes from the image.
TEST(BmpFile, SameBytesAsQtsWriter)
{
    struct Row {
        QImage::Format format;
        int width, height;
        int dotsPerMetre; // 0: the image's own
        bool ours;        // written without Qt's writer
    };
    const Row rows[] = {
        { QImage::Format_RGB32, 1, 1, 0, true },
        { QImage::Format_RGB32, 2, 3, 0, true },
        { QImage::Format_RGB32, 3, 2, 3937, true },
        { QImage::Format_RGB32, 4, 1, 0, true },
        { QImage::Format_RGB32, 5, 4, 1, true },
        { QImage::Format_RGB32, 7, 2, 0, true },
        { QImage::Format_ARGB32, 5, 3, 0, true },
        { QImage::Format_RGB32, 1001, 700, 0, true }, // pieces of whole rows and a shorter last one
        { QImage::Format_ARGB32_Premultiplied, 3, 2, 0, false },
        { QImage::Format_RGB888, 5, 2, 0, false },
        { QImage::Format_Indexed8, 3, 3, 0, false },
        { QImage::Format_Mono, 9, 2, 0, false },
    };
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("out.bmp"));
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.format << ' ' << row.width << 'x' << row.height);
        QImage image = Pattern(row.width, row.height, row.format);
        image.setText(QStringLiteral("script"), QStringLiteral("an export's script")); // BMP drops it
        if (row.dotsPerMetre != 0) {
            image.setDotsPerMeterX(row.dotsPerMetre);
            image.setDotsPerMeterY(row.dotsPerMetre + 1);
        }
        const QByteArray expected = QtBmp(image);
        EXPECT_EQ(CanEncodeBmp(image), row.ours);
        if (row.ours) {
            EXPECT_EQ(EncodeBmp(image), expected);
        }
        ASSERT_TRUE(SaveImage(image, path));
        EXPECT_EQ(ReadAll(path), expected);
    }

    // Rows that do not follow each other in memory (a view into a larger buffer).
    std::vector<QRgb> pixels(6 * 3, 0xff123456u);
    for (size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = 0xff000000u | static_cast<QRgb>(i * 0x0a0b0c);
    }
    const QImage view(reinterpret_cast<const uchar*>(pixels.data()), 5, 3, 6 * 4, QImage::Format_RGB32);
    EXPECT_EQ(EncodeBmp(view), QtBmp(view));
    EXPECT_TRUE(EncodeBmp(QImage()).isEmpty());
}

// A save that fails after some pieces reached the file leaves the old file and nothing beside it.
TEST(BmpFile, FailedSaveKeepsTheOldFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("kept.bmp"));
    ASSERT_TRUE(WriteAll(path, "the picture that was there before"));
    const QImage image = Pattern(1001, 700, QImage::Format_RGB32); // 2.1 MB in 1 MiB pieces
    ASSERT_TRUE(CanEncodeBmp(image));

    rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 1536 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    QString error;
    const bool written = SaveImage(image, path, &error);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    EXPECT_FALSE(written);
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(ReadAll(path), "the picture that was there before");
    EXPECT_FALSE(SaveImage(image, dir.filePath(QStringLiteral("missing/out.bmp"))));
    EXPECT_EQ(
        QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList { QStringLiteral("kept.bmp") });
}

} // namespace
