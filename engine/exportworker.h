#pragma once

#include "bandexport.h"
#include "picture.h"
#include "renderer.h"
#include "stopwatch.h"
#include "workergate.h"

class CDeepSession;
class CRenderPool;

#include <QImage>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

// How the last export ended, beside its outcome text.
enum class ExportOutcome { None, Succeeded, Cancelled, RenderFailed, SaveFailed, AlreadyRunning };

// PNG compression levels (zlib's 0 to 9) of exported pictures; see SaveImage.
inline constexpr int kMinPngLevel = 0;
inline constexpr int kMaxPngLevel = 9;
inline constexpr int kDefaultPngLevel = 1;

// Another size and view for one export (the command-line tool's --size and --fit): the script's own
// target size and view stay as they are.
struct ExportView {
    int width { 0 };
    int height { 0 };
    PlaneView view; // a deep view's exact values included
};

// Whether a picture written to path carries its script: PNG (an iTXt chunk) and JPEG (a comment),
// chosen by the extension as the writer is.
bool PictureKeepsScript(const QString& path);

// What one export is asked to do.
struct ExportRequest {
    QString path;
    QString watermarkPath;          // empty: no watermark
    std::optional<ExportView> view; // empty: the script's target size and view
    int pngLevel { kDefaultPngLevel };
    // The palette name the picture's script stores (see ScriptText); the caller sets it.
    QString paletteName;
    // The folder the palette name is relative to when the picture goes elsewhere first (the tool's
    // "-o -"); empty: the picture's own folder.
    QString scriptFolder;
    std::optional<int> antialias; // samples per pixel a side (1 to 4); empty: the picture's own
    // Keep every pixel's count and final z, at its centre (see RenderAntialiased), for TakeData.
    // Such an export renders the picture whole.
    bool keepData { false };
    // Rows per band of an export made in bands (see bandexport.h); 0 leaves it to the export.
    int bandRows { 0 };
};

// What the last export did, for reports and measurements.
struct ExportReport {
    ExportOutcome outcome { ExportOutcome::None };
    int width { 0 };
    int height { 0 };
    std::int64_t iterations { 0 }; // runs of the iteration formula over all pixels
    int threads { 0 };
    double renderSeconds { 0.0 };
    double encodeSeconds { 0.0 }; // encoding and writing the file (beside the render, in bands)
    double totalSeconds { 0.0 };  // the whole export, as its outcome text gives it
    // A deep view's figures (see DeepRenderState): references in use, runs every pixel skipped, pixels
    // in arbitrary precision, the references' precision; deep is false for a view doubles render.
    bool deep { false };
    int deepReferences { 0 };
    int deepSkipped { 0 };
    int deepPrecisePixels { 0 };
    int deepReferenceBits { 0 };
    std::int64_t deepRebases { 0 };
};

// The export: renders a copy of the picture at its target size on a thread of its own, stamps the
// watermark and writes the file chosen by the extension, carrying the script's text where the format
// keeps text (PNG, JPEG), on the pool's threads. Started and stopped from one thread (the
// window's or the tool's); the outcome text goes to whoever started it through announce, before the
// running flag clears.
class CExportWorker {
public:
    using TakePicture = std::function<Picture()>;
    using Announce = std::function<void(std::string)>;
    CExportWorker(TakePicture takePicture, Announce announce, CRenderPool& pool);
    ~CExportWorker();
    CExportWorker(const CExportWorker&) = delete;
    CExportWorker& operator=(const CExportWorker&) = delete;

    // Starts the worker; false, starting nothing, when an export is running.
    bool Begin(const ExportRequest& request);
    // Waits until the running export has ended, or for at most timeout; returns whether it has ended.
    bool Wait(std::chrono::milliseconds timeout);
    // Asks the worker to stop and waits up to a second; returns whether it has ended.
    bool Stop();
    // Waits until no export thread is left (every wait is bounded by a render's abort check).
    void Join();
    ExportReport Report() const;
    ExportOutcome Outcome() const;
    // The numbers of the last export that kept them (ExportRequest::keepData), handed over once; read
    // only after the export has ended.
    PixelTable TakeData() { return std::move(m_data); }

    // Shared with the worker thread. Every access is a plain atomic load or store.
    std::atomic<int> m_nStage { 0 };            // the render's generation: a change aborts it
    std::atomic<bool> m_bStopRequest { false }; // caller -> worker: stop, and abort the render
    std::atomic<bool> m_bRunning { false };     // worker -> caller (release on clear)
    std::atomic<double> m_dProgress { 0.0 };    // worker -> caller: share of the render done
    // Tests only: the worker passes it before it renders; a held worker is a running export with
    // nothing rendered yet, however fast the machine.
    CWorkerGate m_startGate;
    // Tests only: passed after the render, before the export's last cancel check and its file.
    CWorkerGate m_renderedGate;

    // Where deep views keep their references (the owner's, shared with its preview; set before Begin).
    void SetDeepSession(CDeepSession* session) { m_pDeep = session; }

private:
    CDeepSession* m_pDeep { nullptr };
    void Run();
    // Renders the picture into surface; returns the render's result.
    int RenderInto(Picture& picture, QImage& surface);
    void WriteFile(QImage& surface, const QString& scriptText);
    // Whether and how this export is made in bands (bandexport.h).
    BandFormat BandsFor(const Picture& picture) const;
    void RunInBands(Picture& picture, const QString& scriptText, BandFormat format);
    // The render's figures in the report, a deep view's included.
    void NoteRender(const Picture& picture, const RenderStats& stats, double seconds);
    void EndAfterRender(int code);
    void Finish(ExportOutcome outcome, std::string text);

    TakePicture m_takePicture;
    Announce m_announce;
    CRenderPool& m_pool;
    ExportRequest m_request;    // the worker's alone while it runs
    PixelTable m_data;          // the worker's alone while it runs
    mutable std::mutex m_mutex; // guards the report and the outcome
    ExportReport m_report;
    ExportOutcome m_outcome { ExportOutcome::None };
    std::mutex m_endMutex;
    std::condition_variable m_ended; // notified once the running flag is clear
    Stopwatch m_clock;
    std::thread m_thread;
    std::atomic<bool> m_bThreadAlive { false }; // set at start, cleared as the thread's last act
};
