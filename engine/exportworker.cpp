#include "exportworker.h"

#include "derivatives.h"

#include "antialias.h"
#include "deepsession.h"
#include "exactview.h"
#include "renderer.h"
#include "scriptfile.h"
#include "surface.h"

#include <QFileInfo>

#include <algorithm>
#include <chrono>
#include <new>
#include <thread>

namespace {

// Stop's wait for the worker, in steps.
constexpr auto kStopStep = std::chrono::milliseconds(100);
constexpr int kStopTries = 10;

// The longest JPEG comment ("key: text"), the marker's length field less its own two bytes.
constexpr qsizetype kMaxJpegComment = 65533;

} // namespace

bool PictureKeepsScript(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == QLatin1String("png") || suffix == QLatin1String("jpg")
        || suffix == QLatin1String("jpeg");
}

CExportWorker::CExportWorker(TakePicture takePicture, Announce announce, CRenderPool& pool)
    : m_takePicture(std::move(takePicture))
    , m_announce(std::move(announce))
    , m_pool(pool)
{
}

CExportWorker::~CExportWorker()
{
    // No worker may outlive what it reads.
    m_bStopRequest.store(true);
    Join();
}

bool CExportWorker::Begin(const ExportRequest& request)
{
    if (m_bThreadAlive.load()) {
        return false;
    }
    Join(); // the ended worker's thread handle
    m_request = request;
    m_request.pngLevel = std::clamp(request.pngLevel, kMinPngLevel, kMaxPngLevel);
    m_bStopRequest.store(false);
    m_nStage.store(0);
    // The progress window reads this from its first tick: an earlier render may have left it at 1.0.
    m_dProgress.store(0.0);
    // The flag is set before the thread exists, so that no second worker can slip in.
    m_bThreadAlive.store(true);
    m_bRunning.store(true);
    m_thread = std::thread([this] {
        Run();
        m_bThreadAlive.store(false);
    });
    return true;
}

bool CExportWorker::Wait(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_endMutex);
    return m_ended.wait_for(lock, timeout, [this] { return !m_bRunning.load(std::memory_order_acquire); });
}

bool CExportWorker::Stop()
{
    m_bStopRequest.store(true);
    for (int tries = 0; tries < kStopTries && m_bRunning.load(std::memory_order_acquire); ++tries) {
        std::this_thread::sleep_for(kStopStep);
    }
    m_bStopRequest.store(false);
    return !m_bRunning.load(std::memory_order_acquire);
}

void CExportWorker::Join()
{
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

ExportReport CExportWorker::Report() const
{
    std::lock_guard lock(m_mutex);
    return m_report;
}

ExportOutcome CExportWorker::Outcome() const
{
    std::lock_guard lock(m_mutex);
    return m_outcome;
}

void CExportWorker::Finish(ExportOutcome outcome, std::string text)
{
    {
        std::lock_guard lock(m_mutex);
        m_outcome = outcome;
        m_report.outcome = outcome;
        m_report.totalSeconds = m_clock.Elapsed();
    }
    // The text is complete before the flag clears: the window reads it after seeing the flag clear.
    m_announce(std::move(text));
    // The flag changes under the waiters' mutex, so that none of them misses the notification.
    {
        std::lock_guard lock(m_endMutex);
        m_bRunning.store(false, std::memory_order_release);
    }
    m_ended.notify_all();
}

int CExportWorker::RenderInto(Picture& picture, QImage& surface)
{
    Stopwatch renderClock;
    renderClock.Start();
    m_dProgress.store(0.0);
    const int generation = m_nStage.load();
    RenderStats stats;
    const int samples
        = ClampToRange(m_request.antialias.value_or(picture.antialias), kMinAntialias, kMaxAntialias);
    m_data = {};
    PixelData sink;
    if (m_request.keepData && !surface.isNull()) {
        try {
            m_data.Resize(picture.imageWidth, picture.imageHeight,
                ReadsDerivative(picture.termFormula, picture.colorFormula));
        } catch (const std::bad_alloc&) {
            return kRenderNoTarget; // as a surface that memory cannot hold
        }
        sink = m_data.Sink();
    }
    const int code = RenderAntialiased(picture, DescribeRaster(surface), samples,
        { m_nStage, generation, m_bStopRequest, m_dProgress, m_pool, m_pDeep }, &stats, kAntialiasBandSamples,
        m_request.keepData ? &sink : nullptr);
    renderClock.Stop();
    NoteRender(picture, stats, renderClock.Elapsed());
    return code;
}

void CExportWorker::NoteRender(const Picture& picture, const RenderStats& stats, double seconds)
{
    std::lock_guard lock(m_mutex);
    m_report.iterations = stats.iterations;
    m_report.threads = stats.threads;
    m_report.renderSeconds = seconds;
    if (const DeepRenderState deep = m_pDeep ? m_pDeep->Last() : DeepRenderState {};
        deep.active && IsDeepView(picture)) {
        m_report.deep = true;
        m_report.deepReferences = deep.references;
        m_report.deepSkipped = deep.skipRuns;
        m_report.deepPrecisePixels = deep.precisePixels;
        m_report.deepReferenceBits = deep.referenceBits;
        m_report.deepRebases = deep.rebases;
    }
}

BandFormat CExportWorker::BandsFor(const Picture& picture) const
{
    // The numbers of every pixel are kept for the whole picture anyway. A deep view's references are
    // chosen from the pixels of each render, so bands could give last bits other than the whole
    // picture's: up to the largest picture the window makes it is rendered whole, as the window
    // shows it; beyond that (the tool's --scale) there is no whole to agree with, and bands it is.
    constexpr long long kLargestWholePicture = 4096LL * 4096;
    if (m_request.keepData
        || (IsDeepView(picture)
            && static_cast<long long>(picture.imageWidth) * picture.imageHeight <= kLargestWholePicture)) {
        return BandFormat::None;
    }
    const BandFormat format = BandFormatOf(m_request.path);
    return BandFormatFits(format, picture.imageWidth, picture.imageHeight) ? format : BandFormat::None;
}

void CExportWorker::RunInBands(Picture& picture, const QString& scriptText, BandFormat format)
{
    BandJob job { m_request.path, format, m_request.pngLevel, {}, {},
        std::clamp(m_request.antialias.value_or(picture.antialias), kMinAntialias, kMaxAntialias),
        m_request.bandRows };
    if (format == BandFormat::Png) {
        job.texts.append({ QByteArray(kPictureScriptKey), scriptText });
    }
    // A missing or unreadable watermark leaves the picture without it.
    if (!m_request.watermarkPath.isEmpty()) {
        job.watermark = DecodeImage(m_request.watermarkPath);
    }
    m_startGate.Pass(m_bStopRequest);
    m_dProgress.store(0.0);
    const int generation = m_nStage.load();
    const BandOutcome done = ExportInBands(
        picture, job, { m_nStage, generation, m_bStopRequest, m_dProgress, m_pool, m_pDeep }, m_renderedGate);
    NoteRender(picture, done.stats, done.renderSeconds);
    {
        std::lock_guard lock(m_mutex);
        m_report.encodeSeconds = done.encodeSeconds;
    }
    // Once the file has been ended, a stop that arrives later cannot undo it: the outcome is the write's.
    if (done.code != kRenderDone || (m_bStopRequest.load() && !done.finished)) {
        EndAfterRender(done.code);
        return;
    }
    m_clock.Stop();
    const std::string elapsed = m_clock.FormatElapsed();
    if (done.saved) {
        Finish(ExportOutcome::Succeeded, "导出成功！用时" + elapsed);
    } else {
        Finish(ExportOutcome::SaveFailed,
            "保存文件失败！用时" + elapsed + " " + m_request.path.toStdString() + ": "
                + done.reason.toStdString());
    }
}

void CExportWorker::EndAfterRender(int code)
{
    m_clock.Stop();
    const std::string elapsed = m_clock.FormatElapsed();
    if (m_bStopRequest.load()) {
        Finish(ExportOutcome::Cancelled, "导出已经被用户取消！用时" + elapsed);
    } else {
        Finish(
            ExportOutcome::RenderFailed, "绘制失败！错误代码[" + std::to_string(code) + "]。用时" + elapsed);
    }
}

void CExportWorker::WriteFile(QImage& surface, const QString& scriptText)
{
    // Writers that keep text store it (PNG as an iTXt chunk, JPEG as a comment); the others drop it.
    // A JPEG comment holds at most 65533 bytes, and a longer one makes the whole write fail: such a
    // picture goes without its script rather than not at all.
    const QString key = QString::fromLatin1(kPictureScriptKey);
    const bool png = m_request.path.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive);
    if (png || key.size() + 2 + scriptText.toUtf8().size() <= kMaxJpegComment) {
        surface.setText(key, scriptText);
    }
    // The watermark's bottom-right corner meets the picture's; what falls outside is clipped.
    // A missing or unreadable file leaves the picture without it.
    if (!m_request.watermarkPath.isEmpty()) {
        const QImage mark = DecodeImage(m_request.watermarkPath);
        if (!mark.isNull()) {
            BlendWatermark(surface, mark, surface.width() - mark.width(), surface.height() - mark.height());
        }
    }
    Stopwatch encodeClock;
    encodeClock.Start();
    QString reason;
    const bool saved = SaveImage(surface, m_request.path, &reason, m_request.pngLevel);
    encodeClock.Stop();
    {
        std::lock_guard lock(m_mutex);
        m_report.encodeSeconds = encodeClock.Elapsed();
    }
    m_clock.Stop();
    const std::string elapsed = m_clock.FormatElapsed();
    if (saved) {
        Finish(ExportOutcome::Succeeded, "导出成功！用时" + elapsed);
    } else {
        // The fixed text first, then which file and why, so that the user can put it right.
        Finish(ExportOutcome::SaveFailed,
            "保存文件失败！用时" + elapsed + " " + m_request.path.toStdString() + ": "
                + reason.toStdString());
    }
}

void CExportWorker::Run()
{
    m_clock.Start();
    // One copy of the picture for the whole export, so that its size and its view belong together.
    Picture picture = m_takePicture();
    // The script as it was rendered, before another size and view for this export: reopening the
    // picture gives the script, not the export's size.
    const QString scriptText = ScriptText(picture, m_request.paletteName);
    if (const std::optional<ExportView>& view = m_request.view) {
        picture.imageWidth = view->width;
        picture.imageHeight = view->height;
        picture.view = view->view;
    }
    {
        std::lock_guard lock(m_mutex);
        m_report = { ExportOutcome::None, picture.imageWidth, picture.imageHeight, 0, 0, 0.0, 0.0, 0.0 };
    }
    // A picture that keeps its script holds the script file's text: a name that text cannot hold is
    // refused before the render, as a save of the script would refuse it.
    if (const QString problem = ScriptLineProblem(picture, m_request.paletteName);
        !problem.isEmpty() && PictureKeepsScript(m_request.path)) {
        m_clock.Stop();
        Finish(ExportOutcome::SaveFailed,
            "保存文件失败！用时" + m_clock.FormatElapsed() + " " + m_request.path.toStdString() + ": "
                + problem.toStdString());
        return;
    }
    // PNG and BMP are made a band at a time; the other formats need the whole picture at once.
    if (const BandFormat format = BandsFor(picture); format != BandFormat::None) {
        RunInBands(picture, scriptText, format);
        return;
    }
    // One surface of the whole picture; a null surface (out of memory) makes the render report code 1.
    // The render writes every pixel, so it is not filled first (0.2 s at 4096 x 4096).
    QImage surface = CreateSurface(picture.imageWidth, picture.imageHeight, SurfaceFill::Unfilled);
    m_startGate.Pass(m_bStopRequest);
    const int code = RenderInto(picture, surface);
    m_renderedGate.Pass(m_bStopRequest);
    if (code == kRenderDone && !m_bStopRequest.load()) {
        WriteFile(surface, scriptText);
        return;
    }
    EndAfterRender(code);
}
