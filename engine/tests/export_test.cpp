#include "fractalscript.h"
#include "surface.h"
#include "testutil.h"
#include "watermarkfile.h"

#include <chrono>
#include <thread>

namespace {

class Export : public testing::Test {
protected:
    void SetUp() override
    {
        m_script.SetDefaults();
        ASSERT_TRUE(m_script.LoadPalette(QString()));
        m_script.SetImageSize(300, 200);
    }

    // Starts an export and waits for it to end, within a bound.
    void RunExport(const QString& file, const QString& watermark)
    {
        m_script.StartExport(file, watermark);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (m_script.ExportWorker().m_bRunning.load() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        m_script.JoinExport();
    }

    QString Path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }

    QTemporaryDir m_dir;
    CFractalScript m_script;
};

TEST_F(Export, WritesThePictureWithTheWatermark)
{
    const CWatermarkFile watermark;
    ASSERT_FALSE(CWatermarkFile::Path().isEmpty());
    EXPECT_TRUE(CWatermarkFile::Path().endsWith(QStringLiteral("/glimmerset001mark.png")));
    RunExport(Path("with.png"), CWatermarkFile::Path());
    EXPECT_EQ(m_script.GetExportOutcome(), ExportOutcome::Succeeded);
    EXPECT_TRUE(m_script.GetLastError().starts_with("导出成功！用时[")) << m_script.GetLastError();
    EXPECT_EQ(m_script.ExportWorker().m_dProgress.load(), 1.0);
    RunExport(Path("without.png"), QString());
    const QImage with(Path("with.png"));
    const QImage without(Path("without.png"));
    ASSERT_EQ(with.size(), QSize(300, 200));
    ASSERT_EQ(without.size(), QSize(300, 200));

    // The watermark's bottom-right corner meets the picture's; outside it the pictures agree.
    const QImage mark
        = QImage(QString::fromLatin1(kWatermarkResource)).convertToFormat(QImage::Format_ARGB32);
    int blended = 0;
    for (int y = 0; y < 200; ++y) {
        for (int x = 0; x < 300; ++x) {
            const int mx = x - (300 - 277);
            const int my = y - (200 - 63);
            if (mx < 0 || my < 0) {
                ASSERT_EQ(with.pixel(x, y), without.pixel(x, y)) << x << ", " << y;
                continue;
            }
            const QRgb s = mark.pixel(mx, my);
            const QRgb d = without.pixel(x, y);
            const int a = qAlpha(s);
            const QRgb want = qRgb(std::min(255, qRed(s) + qRed(d) * (255 - a) / 255),
                std::min(255, qGreen(s) + qGreen(d) * (255 - a) / 255),
                std::min(255, qBlue(s) + qBlue(d) * (255 - a) / 255));
            ASSERT_EQ(with.pixel(x, y), want) << x << ", " << y;
            blended += with.pixel(x, y) != d;
        }
    }
    EXPECT_GT(blended, 1000);
}

TEST_F(Export, MissingWatermarkAndUnknownExtension)
{
    RunExport(Path("plain.bmp"), Path("no-such-mark.png"));
    EXPECT_EQ(m_script.GetExportOutcome(), ExportOutcome::Succeeded);
    EXPECT_EQ(QImage(Path("plain.bmp")).size(), QSize(300, 200));

    RunExport(Path("picture.xyz"), QString());
    EXPECT_EQ(m_script.GetExportOutcome(), ExportOutcome::SaveFailed);
    EXPECT_TRUE(m_script.GetLastError().starts_with("保存文件失败！用时[")) << m_script.GetLastError();
    EXPECT_FALSE(QFile::exists(Path("picture.xyz")));

    RunExport(Path("missing-folder/picture.png"), QString());
    EXPECT_EQ(m_script.GetExportOutcome(), ExportOutcome::SaveFailed);
}

TEST_F(Export, RenderFailureAndCancel)
{
    CFractalScript noPalette;
    noPalette.SetDefaults();
    noPalette.StartExport(Path("none.png"), QString());
    noPalette.JoinExport();
    EXPECT_EQ(noPalette.GetExportOutcome(), ExportOutcome::RenderFailed);
    EXPECT_TRUE(noPalette.GetLastError().starts_with("绘制失败！错误代码[3]。用时["))
        << noPalette.GetLastError();

    // A worker held before it writes, cancelled: the cancel text, and no file.
    m_script.ExportWorker().m_startGate.Close();
    EXPECT_TRUE(m_script.StartExport(Path("cancelled.png"), QString())) << "still running after 100 ms";
    // A second export while one runs starts nothing.
    EXPECT_TRUE(m_script.StartExport(Path("second.png"), QString()));
    EXPECT_TRUE(m_script.StopExport()) << "a stop request lets the worker through";
    m_script.ExportWorker().m_startGate.Open();
    m_script.JoinExport();
    EXPECT_EQ(m_script.GetExportOutcome(), ExportOutcome::Cancelled);
    EXPECT_TRUE(m_script.GetLastError().starts_with("导出已经被用户取消！用时[")) << m_script.GetLastError();
    EXPECT_FALSE(m_script.ExportWorker().m_bStopRequest.load()) << "StopExport clears the request";
    EXPECT_FALSE(QFile::exists(Path("cancelled.png")));
    EXPECT_FALSE(QFile::exists(Path("second.png")));
}

// A cancel that arrives as the last row is done still cancels: no file, no success. The export
// starts from an empty bar whatever the preview left in it.
TEST_F(Export, CancelAfterTheLastRow)
{
    m_script.SetImageSize(100, 100);
    double progressAtStart = -1.0;
    m_script.ExportWorker().m_startGate.Close();
    m_script.ExportWorker().m_renderedGate.Close();
    m_script.ExportWorker().m_dProgress.store(1.0);
    m_script.StartExport(Path("late.png"), QString());
    ASSERT_FALSE(WaitWhile([&] { return m_script.ExportWorker().m_startGate.Arrivals() == 0; }, 1, 30000));
    progressAtStart = m_script.ExportWorker().m_dProgress.load();
    m_script.ExportWorker().m_startGate.Open();
    ASSERT_FALSE(WaitWhile([&] { return m_script.ExportWorker().m_renderedGate.Arrivals() == 0; }, 1, 30000));
    m_script.ExportWorker().m_bStopRequest.store(true); // the user's Cancel, after the render has finished
    m_script.JoinExport();
    m_script.ExportWorker().m_bStopRequest.store(false);
    EXPECT_EQ(progressAtStart, 0.0);
    EXPECT_EQ(m_script.GetExportOutcome(), ExportOutcome::Cancelled);
    EXPECT_FALSE(QFile::exists(Path("late.png")));
}

TEST(Stopwatch, FormatElapsed)
{
    const struct {
        double seconds;
        const char* text;
    } rows[] = { { 3725.5, "[00-01:02:05,500000]" }, { 90061.25, "[01-01:01:01,250000]" },
        { 0.0000004, "[00-00:00:00,000000]" }, { 0.9999996, "[00-00:00:00,1000000]" },
        { 0, "[00-00:00:00,000000]" }, { 59.999999, "[00-00:00:59,999999]" },
        { -5, "[00-00:00:00,000000]" } };
    for (const auto& row : rows) {
        EXPECT_EQ(Stopwatch::FormatElapsed(row.seconds), row.text) << row.seconds;
    }
    Stopwatch clock;
    clock.Start();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    clock.Stop();
    EXPECT_GE(clock.Elapsed(), 0.019);
}

} // namespace
