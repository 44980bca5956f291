#include "bandexport.h"

#include "antialias.h"
#include "bmpfile.h"
#include "pngfile.h"
#include "safefile.h"
#include "surface.h"
#include "workergate.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// Two buffers: one renders while the other is encoded.
constexpr int kBandBuffers = 2;

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// The resolution a surface of the whole picture would carry, which its writers put in the file.
int SurfaceDotsPerMetre() { return QImage(1, 1, QImage::Format_RGB32).dotsPerMeterX(); }

struct Band {
    std::unique_ptr<std::uint8_t[]> pixels;
    int top { 0 };
    int rows { 0 };
};

// The file's side: a thread that writes the file (whole or not at all) from the bands handed to it
// in order. The render's thread takes a free band, fills it and hands it over; the encoder gives it
// back once it is in the file. Everything below the mutex is shared by the two threads.
class CBandEncoder {
public:
    CBandEncoder(const BandJob& job, int width, int height, int bandRows)
        : m_job(job)
        , m_nWidth(width)
        , m_nHeight(height)
    {
        m_bands.resize(kBandBuffers);
        for (int k = 0; k < kBandBuffers; ++k) {
            m_bands[k].pixels = std::make_unique_for_overwrite<std::uint8_t[]>(
                static_cast<size_t>(width) * 4 * static_cast<size_t>(bandRows));
            m_free.push_back(k);
        }
        m_thread = std::thread([this] { Run(); });
    }
    ~CBandEncoder() { End(EndKind::Abandon); }
    CBandEncoder(const CBandEncoder&) = delete;
    CBandEncoder& operator=(const CBandEncoder&) = delete;

    // A free band, or -1 once the file has failed (and will not take another band).
    int Acquire()
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_free.empty() || m_bDone; });
        if (m_bDone) {
            return -1;
        }
        const int index = m_free.front();
        m_free.pop_front();
        return index;
    }
    Band& At(int index) { return m_bands[index]; }
    void Submit(int index)
    {
        {
            std::lock_guard lock(m_mutex);
            m_ready.push_back(index);
        }
        m_changed.notify_all();
    }
    enum class EndKind { Finish, Abandon };
    // Finish writes the end of the file once every band is in; Abandon drops the file. Returns
    // whether the file was written whole.
    bool End(EndKind kind)
    {
        {
            std::lock_guard lock(m_mutex);
            if (!m_bEnding) {
                m_end = kind;
            }
            m_bEnding = true;
        }
        m_changed.notify_all();
        if (m_thread.joinable()) {
            m_thread.join();
        }
        return m_bSaved;
    }
    QString Reason() const { return m_strReason; }
    double Seconds() const { return m_dSeconds; }

private:
    // The next band to write, or -1 when the file is to end (or to be abandoned).
    int Next()
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_ready.empty() || m_bEnding; });
        if (m_ready.empty() || m_end == EndKind::Abandon) {
            return -1;
        }
        const int index = m_ready.front();
        m_ready.pop_front();
        return index;
    }
    void Release(int index)
    {
        {
            std::lock_guard lock(m_mutex);
            m_free.push_back(index);
        }
        m_changed.notify_all();
    }
    bool Produce(const FileWrite& write);
    void Run()
    {
        QString reason;
        const bool saved = WriteFileAtomically(
            m_job.path, [this](const FileWrite& write) { return Produce(write); }, &reason);
        {
            std::lock_guard lock(m_mutex);
            m_bSaved = saved;
            m_strReason = reason;
            m_bDone = true;
        }
        m_changed.notify_all();
    }

    const BandJob& m_job;
    const int m_nWidth;
    const int m_nHeight;
    std::vector<Band> m_bands; // each band is either free, ready, or with one of the threads
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<int> m_free;            // encoder -> render
    std::deque<int> m_ready;           // render -> encoder
    bool m_bEnding { false };          // render -> encoder: no more bands
    EndKind m_end { EndKind::Finish }; // render -> encoder
    bool m_bDone { false };            // encoder -> render: the file is written or has failed
    bool m_bSaved { false };           // encoder -> render, read after the join
    QString m_strReason;               // encoder -> render, read after the join
    double m_dSeconds { 0.0 };         // the encoder's alone until the join
};

bool CBandEncoder::Produce(const FileWrite& write)
{
    const int dots = SurfaceDotsPerMetre();
    std::unique_ptr<CPngEncoder> png;
    std::vector<char> bmpRows;
    Clock::time_point start = Clock::now();
    if (m_job.format == BandFormat::Png) {
        png = std::make_unique<CPngEncoder>(write, m_job.pngLevel);
        if (!png->Begin(m_nWidth, m_nHeight, dots, m_job.texts)) {
            return false;
        }
    } else {
        char header[kBmpHeaderBytes];
        WriteBmpHeader(m_nWidth, m_nHeight, dots, dots, header);
        if (!write(header, kBmpHeaderBytes)) {
            return false;
        }
    }
    m_dSeconds += Since(start);
    for (int index = Next(); index >= 0; index = Next()) {
        start = Clock::now();
        const Band& band = m_bands[index];
        const Raster rows { m_nWidth, band.rows, m_nWidth * 4, 32, band.pixels.get() };
        bool written = true;
        if (png) {
            written = png->AddRows(rows);
        } else {
            bmpRows.resize(static_cast<size_t>(BmpRowBytes(m_nWidth) * band.rows));
            ConvertBmpRows(rows, bmpRows.data());
            written = write(bmpRows.data(), static_cast<qsizetype>(bmpRows.size()));
        }
        m_dSeconds += Since(start);
        Release(index);
        if (!written) {
            return false;
        }
    }
    {
        std::lock_guard lock(m_mutex);
        if (m_end == EndKind::Abandon) {
            return false;
        }
    }
    start = Clock::now();
    const bool finished = !png || png->Finish();
    m_dSeconds += Since(start);
    return finished;
}

} // namespace

BandFormat BandFormatOf(const QString& path)
{
    const std::vector<ImageCodec> writers = ImageCodecs(CodecUse::Writing);
    const ImageCodec* writer = WriterForFile(writers, path);
    if (writer == nullptr) {
        return BandFormat::None;
    }
    if (writer->format.compare("png", Qt::CaseInsensitive) == 0) {
        return BandFormat::Png;
    }
    return writer->format.compare("bmp", Qt::CaseInsensitive) == 0 ? BandFormat::Bmp : BandFormat::None;
}

bool BandFormatFits(BandFormat format, int width, int height)
{
    switch (format) {
    case BandFormat::Png: return width > 0 && height > 0;
    case BandFormat::Bmp: return BmpFits(width, height);
    case BandFormat::None: break;
    }
    return false;
}

BandOutcome ExportInBands(Picture& picture, const BandJob& job, RenderControl control, CWorkerGate& rendered)
{
    const int width = picture.imageWidth;
    const int height = picture.imageHeight;
    const int bandRows = job.bandRows > 0
        ? std::min(job.bandRows, height)
        : static_cast<int>(std::clamp<long long>(kBandPixels / width, 1, height));
    BandOutcome outcome;
    CBandEncoder encoder(job, width, height, bandRows);
    std::vector<std::uint8_t> samples;
    std::atomic<double> bandProgress { 0.0 };
    control.progress.store(0.0, std::memory_order_relaxed);
    const bool fromBottom = job.format == BandFormat::Bmp;
    const int bands = (height + bandRows - 1) / bandRows;
    int rowsDone = 0;
    for (int k = 0; k < bands && outcome.code == kRenderDone; ++k) {
        const int first = (fromBottom ? bands - 1 - k : k) * bandRows;
        const int index = encoder.Acquire();
        if (index < 0) {
            break; // the file failed: its reason is the outcome
        }
        Band& band = encoder.At(index);
        band.top = first;
        band.rows = std::min(bandRows, height - first);
        const Raster target { width, band.rows, width * 4, 32, band.pixels.get() };
        const Clock::time_point start = Clock::now();
        RenderStats stats;
        outcome.code = RenderRows(
            picture, target, first, job.samples, control.WithProgress(bandProgress), &stats, samples);
        outcome.renderSeconds += Since(start);
        outcome.stats.iterations += stats.iterations;
        outcome.stats.threads = std::max(outcome.stats.threads, stats.threads);
        if (outcome.code != kRenderDone) {
            break;
        }
        // The watermark's bottom-right corner meets the picture's, in whichever bands it falls.
        if (!job.watermark.isNull() && first + band.rows > height - job.watermark.height()) {
            QImage view(band.pixels.get(), width, band.rows, width * 4, QImage::Format_RGB32);
            BlendWatermark(
                view, job.watermark, width - job.watermark.width(), height - job.watermark.height() - first);
        }
        encoder.Submit(index);
        rowsDone += band.rows;
        control.progress.store(static_cast<double>(rowsDone) / height, std::memory_order_relaxed);
    }
    if (outcome.code == kRenderDone && rowsDone == height) {
        rendered.Pass(control.stop);
    }
    const bool finish = outcome.code == kRenderDone && rowsDone == height && !control.stop.load();
    outcome.finished = finish;
    outcome.saved = encoder.End(finish ? CBandEncoder::EndKind::Finish : CBandEncoder::EndKind::Abandon);
    outcome.reason = encoder.Reason();
    outcome.encodeSeconds = encoder.Seconds();
    return outcome;
}
