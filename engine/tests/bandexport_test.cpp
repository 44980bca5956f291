#include "fractalscript.h"
#include "picturetext.h"
#include "pngfile.h"
#include "scriptfile.h"
#include "surface.h"
#include "testutil.h"
#include "watermarkfile.h"

#include <QDir>

#include <chrono>
#include <random>

namespace {

// Pixels of every value in every channel at random, so that a channel or a row out of place shows.
QImage Noise(int width, int height, unsigned seed)
{
    QImage image(width, height, QImage::Format_RGB32);
    std::mt19937 random(seed);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            image.setPixel(x, y, 0xff000000u | (random() & 0xffffffu));
        }
    }
    return image;
}

// Every level writes the same pixels, with its texts, for widths that do and do not fill the
// converter's four-pixel steps; the decoder is Qt's, not ours.
TEST(PngFile, LevelsKeepThePixelsAndTheText)
{
    const struct {
        int width, height, level;
    } rows[] = { { 1, 1, 1 }, { 5, 3, 1 }, { 6, 9, 0 }, { 37, 20, 1 }, { 64, 64, 2 }, { 301, 7, 6 },
        { 1000, 300, 1 }, { 33, 33, 9 } };
    QTemporaryDir dir;
    const QString text = QStringLiteral("迭代 {z = z * z + C;}\n") + QString(3000, QLatin1Char('x'));
    for (const auto& row : rows) {
        const std::string name = std::to_string(row.width) + "x" + std::to_string(row.height) + " level "
            + std::to_string(row.level);
        QImage image = Noise(row.width, row.height, static_cast<unsigned>(row.width * 7 + row.level));
        image.setText(QString::fromLatin1(kPictureScriptKey), text);
        const QString path = dir.filePath(QStringLiteral("p.png"));
        ASSERT_TRUE(CanEncodePng(image)) << name;
        ASSERT_TRUE(SaveImage(image, path, nullptr, row.level)) << name;
        const QImage back = QImage(path).convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(back.size(), image.size()) << name;
        EXPECT_EQ(back, image) << name;
        EXPECT_EQ(QImage(path).text(QString::fromLatin1(kPictureScriptKey)), text) << name;
        QString read, reason;
        EXPECT_TRUE(ReadPictureText(path, kPictureScriptKey, 1 << 20, read, reason)) << name;
        EXPECT_EQ(read, text) << name;
        EXPECT_TRUE(IsWholePicture(path)) << name;
    }
}

// The encoder refuses what would make a broken file: rows beyond the header's height, an end before
// all of them, a failed write; a failed save leaves no file.
TEST(PngFile, RefusesWhatWouldBreakTheFile)
{
    QImage image = Noise(8, 4, 1);
    const Raster rows = RasterOf(image);
    QByteArray bytes;
    const FileWrite collect = [&](const char* data, qsizetype size) {
        bytes.append(data, size);
        return true;
    };
    {
        CPngEncoder encoder(collect, 1);
        ASSERT_TRUE(encoder.Begin(8, 3, 0, {}));
        EXPECT_FALSE(encoder.AddRows(rows)) << "four rows into three";
    }
    {
        CPngEncoder encoder(collect, 1);
        ASSERT_TRUE(encoder.Begin(8, 8, 0, {}));
        ASSERT_TRUE(encoder.AddRows(rows));
        EXPECT_FALSE(encoder.Finish()) << "four rows of eight";
    }
    {
        int writes = 0;
        CPngEncoder encoder([&](const char*, qsizetype) { return ++writes < 3; }, 1);
        EXPECT_FALSE(encoder.Begin(8, 4, 3780, {}) && encoder.AddRows(rows) && encoder.Finish());
    }
    QTemporaryDir dir;
    QString reason;
    EXPECT_FALSE(SavePng(image, dir.filePath(QStringLiteral("no/such/folder.png")), 1, &reason));
    EXPECT_FALSE(reason.isEmpty());
    EXPECT_FALSE(CanEncodePng(image.convertToFormat(QImage::Format_ARGB32))) << "alpha goes to Qt's writer";
}

class BandExport : public testing::Test {
protected:
    void SetUp() override
    {
        m_script.SetDefaults();
        ASSERT_TRUE(m_script.LoadPalette(QString()));
        m_script.SetImageSize(300, 200);
    }

    void Run(const QString& name, int bandRows, bool whole, int samples)
    {
        ExportRequest request { m_dir.filePath(name), CWatermarkFile::Path(), std::nullopt, 1, {}, {},
            samples };
        request.keepData = whole; // the numbers of every pixel make the export render the picture whole
        request.bandRows = bandRows;
        ASSERT_TRUE(m_script.BeginExport(request));
        ASSERT_TRUE(m_script.WaitExport(std::chrono::seconds(120)));
        m_script.JoinExport();
        ASSERT_EQ(m_script.GetExportOutcome(), ExportOutcome::Succeeded) << m_script.GetLastError();
        EXPECT_EQ(m_script.ExportWorker().m_dProgress.load(), 1.0);
    }

    QTemporaryDir m_dir;
    CFractalScript m_script;
    const CWatermarkFile m_watermark;
};

// In bands of any height (one row, a height that does not divide the picture's, the export's own),
// with and without anti-aliasing, an export writes the very bytes of the picture rendered whole and
// written at once: the BMP's from the bottom band up, the PNG's with its script. The watermark
// straddles bands of 7 rows.
TEST_F(BandExport, SameFileAsThePictureRenderedWhole)
{
    const struct {
        const char* extension;
        int samples;
        int bandRows;
    } rows[] = { { "bmp", 1, 7 }, { "bmp", 1, 1 }, { "png", 1, 7 }, { "png", 1, 0 }, { "png", 2, 13 },
        { "bmp", 3, 0 } };
    for (const auto& row : rows) {
        const std::string name = std::string(row.extension) + " aa " + std::to_string(row.samples) + " rows "
            + std::to_string(row.bandRows);
        const QString banded = QStringLiteral("banded.") + QLatin1String(row.extension);
        const QString whole = QStringLiteral("whole.") + QLatin1String(row.extension);
        Run(banded, row.bandRows, false, row.samples);
        Run(whole, 0, true, row.samples);
        const QByteArray bytes = ReadAll(m_dir.filePath(banded));
        ASSERT_FALSE(bytes.isEmpty()) << name;
        EXPECT_EQ(bytes, ReadAll(m_dir.filePath(whole))) << name;
        EXPECT_EQ(QImage(m_dir.filePath(banded)).size(), QSize(300, 200)) << name;
    }
    // The pixels of the PNG are those of the BMP, as Qt reads both.
    Run(QStringLiteral("a.png"), 7, false, 1);
    Run(QStringLiteral("a.bmp"), 7, false, 1);
    EXPECT_EQ(QImage(m_dir.filePath(QStringLiteral("a.png"))).convertToFormat(QImage::Format_RGB32),
        QImage(m_dir.filePath(QStringLiteral("a.bmp"))).convertToFormat(QImage::Format_RGB32));
}

// A file that cannot be written stops the export with the system's reason; a cancel between bands
// leaves no file and the old one as it was.
TEST_F(BandExport, FailureAndCancelKeepTheOldFile)
{
    ExportRequest request { m_dir.filePath(QStringLiteral("no/folder.png")), QString(), std::nullopt, 1, {},
        {}, std::nullopt };
    request.bandRows = 3;
    ASSERT_TRUE(m_script.BeginExport(request));
    m_script.JoinExport();
    EXPECT_EQ(m_script.GetExportOutcome(), ExportOutcome::SaveFailed);
    EXPECT_NE(m_script.GetLastError().find("No such file or directory"), std::string::npos)
        << m_script.GetLastError();

    const QString kept = m_dir.filePath(QStringLiteral("kept.bmp"));
    ASSERT_TRUE(WriteAll(kept, "old picture"));
    request.path = kept;
    m_script.ExportWorker().m_renderedGate.Close();
    ASSERT_TRUE(m_script.BeginExport(request));
    ASSERT_FALSE(WaitWhile([&] { return m_script.ExportWorker().m_renderedGate.Arrivals() == 0; }, 1, 60000));
    m_script.ExportWorker().m_bStopRequest.store(true);
    m_script.JoinExport();
    m_script.ExportWorker().m_bStopRequest.store(false);
    m_script.ExportWorker().m_renderedGate.Open();
    EXPECT_EQ(m_script.GetExportOutcome(), ExportOutcome::Cancelled);
    EXPECT_EQ(ReadAll(kept), QByteArray("old picture"));
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1) << "no temporary file left";
}

} // namespace
