#include "fractalscript.h"
#include "renderpool.h"
#include "surface.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

// StartExport's pause before it reports whether the worker still runs, and StopExport's wait.
constexpr auto kExportPause = std::chrono::milliseconds(100);
constexpr int kStopTries = 10;

} // namespace

bool CFractalScript::StartExport(const QString& path, const QString& watermarkPath)
{
    BeginExport({ path, watermarkPath, std::nullopt, m_nPngLevel });
    std::this_thread::sleep_for(kExportPause);
    return m_bExportRunning.load(std::memory_order_acquire);
}

bool CFractalScript::BeginExport(const ExportRequest& request)
{
    if (m_bExportThreadAlive.load()) {
        return false;
    }
    JoinExport(); // the ended worker's thread handle
    m_strExportFile = request.path;
    m_strExportWatermark = request.watermarkPath;
    m_exportView = request.view;
    m_nExportPngLevel = std::clamp(request.pngLevel, kMinPngLevel, kMaxPngLevel);
    m_bStopRequest.store(false);
    m_nStage.store(0);
    // The progress window reads this from its first tick: the last preview pass left it at 1.0.
    m_dRenderProgress.store(0.0);
    // The flag is set before the thread exists, so that no second worker can slip in.
    m_bExportThreadAlive.store(true);
    m_bExportRunning.store(true);
    m_exportThread = std::thread([this] {
        RunExportWorker();
        m_bExportThreadAlive.store(false);
    });
    return true;
}

bool CFractalScript::WaitExport(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_exportEndMutex);
    return m_exportEnded.wait_for(
        lock, timeout, [this] { return !m_bExportRunning.load(std::memory_order_acquire); });
}

void CFractalScript::SetPngLevel(int level) { m_nPngLevel = std::clamp(level, kMinPngLevel, kMaxPngLevel); }

ExportReport CFractalScript::GetExportReport() const
{
    std::lock_guard lock(m_mutex);
    return m_exportReport;
}

bool CFractalScript::StopExport()
{
    m_bStopRequest.store(true);
    for (int tries = 0; tries < kStopTries && m_bExportRunning.load(std::memory_order_acquire); ++tries) {
        std::this_thread::sleep_for(kExportPause);
    }
    m_bStopRequest.store(false);
    return !m_bExportRunning.load(std::memory_order_acquire);
}

void CFractalScript::JoinExport()
{
    if (m_exportThread.joinable()) {
        m_exportThread.join();
    }
}

ExportOutcome CFractalScript::GetExportOutcome() const
{
    std::lock_guard lock(m_mutex);
    return m_exportOutcome;
}

void CFractalScript::FinishExport(ExportOutcome outcome, std::string text)
{
    {
        std::lock_guard lock(m_mutex);
        m_exportOutcome = outcome;
        m_exportReport.outcome = outcome;
        m_exportReport.totalSeconds = m_exportClock.Elapsed();
        m_strLastError = std::move(text);
    }
    // The text is complete before the flag clears: the window reads it after seeing the flag clear.
    // The flag changes under the waiters' mutex, so that none of them misses the notification.
    {
        std::lock_guard lock(m_exportEndMutex);
        m_bExportRunning.store(false, std::memory_order_release);
    }
    m_exportEnded.notify_all();
}

int CFractalScript::RunExportWorker()
{
    m_exportClock.Start();

    int width = 0;
    int height = 0;
    {
        std::lock_guard lock(m_mutex);
        width = m_exportView ? m_exportView->width : m_nImageWidth;
        height = m_exportView ? m_exportView->height : m_nImageHeight;
        m_exportReport = { ExportOutcome::None, width, height, 0, 0, 0.0, 0.0, 0.0 };
    }
    // One surface of the whole picture; a null surface (out of memory) makes the render report code 1.
    // The render writes every pixel, so it is not filled first (0.2 s at 4096 x 4096).
    QImage surface = CreateSurface(width, height, SurfaceFill::Unfilled);
    m_nStage.store(0);
    m_exportGate.Pass(m_bStopRequest);
    Stopwatch renderClock;
    renderClock.Start();
    m_dRenderProgress.store(0.0);
    const int generation = m_nStage.load();
    RenderSnapshot picture = TakeSnapshot();
    if (m_exportView) {
        picture.imageWidth = width;
        picture.imageHeight = height;
        picture.offsetX = m_exportView->offsetX;
        picture.offsetY = m_exportView->offsetY;
        picture.ratio = m_exportView->ratio;
    }
    RenderStats stats;
    const int code = RenderPicture(picture, DescribeRaster(surface), { 0, 0, width, height, 1.0, 1.0, 1, 1 },
        { m_nStage, generation, m_bStopRequest, m_dRenderProgress }, &stats);
    renderClock.Stop();
    {
        std::lock_guard lock(m_mutex);
        m_exportReport.iterations = stats.iterations;
        m_exportReport.threads = stats.threads;
        m_exportReport.renderSeconds = renderClock.Elapsed();
    }
    m_exportRenderedGate.Pass(m_bStopRequest);
    if (code != kRenderDone || m_bStopRequest.load()) {
        m_exportClock.Stop();
        const std::string elapsed = m_exportClock.FormatElapsed();
        if (m_bStopRequest.load()) {
            FinishExport(ExportOutcome::Cancelled, "导出已经被用户取消！用时" + elapsed);
        } else {
            FinishExport(ExportOutcome::RenderFailed,
                "绘制失败！错误代码[" + std::to_string(code) + "]。用时" + elapsed);
        }
        return 3;
    }

    // The watermark's bottom-right corner meets the picture's; what falls outside is clipped.
    // A missing or unreadable file leaves the picture without it.
    if (!m_strExportWatermark.isEmpty()) {
        const QImage mark = DecodeImage(m_strExportWatermark);
        if (!mark.isNull()) {
            BlendWatermark(surface, mark, width - mark.width(), height - mark.height());
        }
    }
    Stopwatch encodeClock;
    encodeClock.Start();
    QString reason;
    const bool saved = SaveImage(surface, m_strExportFile, &reason, m_nExportPngLevel);
    encodeClock.Stop();
    {
        std::lock_guard lock(m_mutex);
        m_exportReport.encodeSeconds = encodeClock.Elapsed();
    }
    m_exportClock.Stop();
    const std::string elapsed = m_exportClock.FormatElapsed();
    if (saved) {
        FinishExport(ExportOutcome::Succeeded, "导出成功！用时" + elapsed);
    } else {
        // The fixed text first, then which file and why, so that the user can put it right.
        FinishExport(ExportOutcome::SaveFailed,
            "保存文件失败！用时" + elapsed + " " + m_strExportFile.toStdString() + ": "
                + reason.toStdString());
    }
    return 0;
}
