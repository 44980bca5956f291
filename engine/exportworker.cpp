#include "fractalscript.h"
#include "surface.h"

#include <chrono>
#include <thread>

namespace {

// StartExport's pause before it reports whether the worker still runs, and StopExport's wait.
constexpr auto kExportPause = std::chrono::milliseconds(100);
constexpr int kStopTries = 10;

} // namespace

bool CFractalScript::StartExport(const QString& path, const QString& watermarkPath)
{
    if (!m_bExportThreadAlive.load()) {
        JoinExport(); // the ended worker's thread handle
        m_strExportFile = path;
        m_strExportWatermark = watermarkPath;
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
    }
    std::this_thread::sleep_for(kExportPause);
    return m_bExportRunning.load(std::memory_order_acquire);
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
        m_strLastError = std::move(text);
    }
    // The text is complete before the flag clears: the window reads it after seeing the flag clear.
    m_bExportRunning.store(false, std::memory_order_release);
}

int CFractalScript::RunExportWorker()
{
    m_exportClock.Start();
    if (m_exportTestHook) {
        m_exportTestHook(ExportStep::Started);
    }

    int width = 0;
    int height = 0;
    {
        std::lock_guard lock(m_mutex);
        width = m_nImageWidth;
        height = m_nImageHeight;
    }
    // One surface of the whole picture; a null surface (out of memory) makes the render report code 1.
    QImage surface = CreateSurface(width, height);
    m_nStage.store(0);
    const int code = Render(DescribeRaster(surface), 0, 0, width, height, 1.0, 1.0, 1, 1);
    if (m_exportTestHook) {
        m_exportTestHook(ExportStep::Rendered);
    }
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
    const bool saved = SaveImage(surface, m_strExportFile);
    m_exportClock.Stop();
    const std::string elapsed = m_exportClock.FormatElapsed();
    if (saved) {
        FinishExport(ExportOutcome::Succeeded, "导出成功！用时" + elapsed);
    } else {
        FinishExport(ExportOutcome::SaveFailed, "保存文件失败！用时" + elapsed);
    }
    return 0;
}
