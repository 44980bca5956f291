#pragma once

#include "formula.h"
#include "mapping.h"
#include "palettedecode.h"
#include "raster.h"
#include "renderer.h"
#include "stopwatch.h"
#include "workergate.h"

#include <QImage>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <type_traits>

// Whether LoadPalette falls back to the built-in palette when the named image cannot be decoded.
enum class PaletteFallback { BuiltIn, None };

// A palette decoded before it is installed (the window decodes off its own thread): the name as the
// script stores it, the picture in the surface format, or a null picture and the reason.
struct DecodedPalette {
    QString name;
    QImage image;
    QString problem;
};

// The file a palette name stands for: an absolute name as it is; a relative one beside the script
// (scriptFolder) when such a file exists there, otherwise as given, against the working folder.
QString ResolvePalettePath(const QString& name, const QString& scriptFolder);

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
    double offsetX { 0.0 };
    double offsetY { 0.0 };
    double ratio { 1.0 };
};

// What one export is asked to do.
struct ExportRequest {
    QString path;
    QString watermarkPath; // empty: no watermark
    std::optional<ExportView> view; // empty: the script's target size and view
    int pngLevel { kDefaultPngLevel };
};

// What the last export did, for reports and measurements.
struct ExportReport {
    ExportOutcome outcome { ExportOutcome::None };
    int width { 0 };
    int height { 0 };
    std::int64_t iterations { 0 }; // runs of the iteration formula over all pixels
    int threads { 0 };
    double renderSeconds { 0.0 };
    double encodeSeconds { 0.0 }; // encoding and writing the file
    double totalSeconds { 0.0 };  // the whole export, as its outcome text gives it
};

// A picture as the user edits it: three formulas, their constants, the iteration limit, the view,
// the target size, the palette and its mapping, plus the words it shares with its preview and
// export workers.
// Owned by the main window (or the command-line tool); its setters run on that thread. A render
// copies the picture state under m_mutex when it starts, so edits never race with a pixel loop.
class CFractalScript {
public:
    CFractalScript();
    ~CFractalScript();
    CFractalScript(const CFractalScript&) = delete;
    CFractalScript& operator=(const CFractalScript&) = delete;

    // A new Julia set: the default formulas and constant, view, size, limit and identity mapping.
    // Leaves the palette, its file name and the stretch alone.
    void SetDefaults();

    // Compile the iteration and termination formulas; on failure err holds the message.
    bool SetFormulas(std::string_view iterText, std::string_view termText, std::string& err);
    bool SetColorFormula(std::string_view text, std::string& err);
    // Replaces all three formulas by compiled copies (the settings command).
    void ReplaceFormulas(const CFormula& iter, const CFormula& term, const CFormula& color);

    void SetMapping(
        double x0, double y0, double dx, double dy, double sinTheta, double cosTheta, double stretch);
    void SetMapping(const PaletteMapping& m) { SetMapping(m.x0, m.y0, m.dx, m.dy, m.sin, m.cos, m.stretch); }
    // Puts the mapping back where a palette load puts it (the identity), keeping the stretch.
    void ResetPaletteMapping();
    void SetImageSize(int width, int height);
    // The view that zoom and pan write: offset of the top-left plane point and plane units per pixel.
    void SetView(double offsetX, double offsetY, double ratio);
    // The iteration limit, clamped into [1, 10000]; marks the script only when it changes.
    void SetMaxIter(int maxIter);

    int PrevConstant();
    int NextConstant();
    bool SetCurrentConstant(Complex value);
    std::string GetCurrentConstantName() const;
    Complex GetCurrentConstant() const;
    int GetCurrentConstantIndex() const { return m_nCurConst; }

    // Palette images. LoadPalette with an empty name loads the built-in palette.
    // A relative name is looked up beside the script's file first (ResolvePalettePath).
    bool LoadPalette(const QString& name, PaletteFallback fallback = PaletteFallback::BuiltIn,
        const PaletteDecodeLimits& limits = {});
    // LoadPalette with the decode already done.
    bool SetDecodedPalette(DecodedPalette decoded, PaletteFallback fallback = PaletteFallback::BuiltIn);
    void ReleasePalette();
    // Why the named palette gave way to the built-in one at the last load, as one line naming the
    // file and the reason; empty when it did not.
    std::string GetPaletteWarning() const;

    // Script files (".gsc"). Load reports its failure through GetLastError, Save through reason
    // (the system's words), leaving the last error alone. A palette decoded ahead (for this
    // script's palette name) is used instead of decoding it again.
    bool Load(const QString& path, const DecodedPalette* palette = nullptr);
    // Save rewrites a relative palette name that would name another file from the new folder.
    bool Save(const QString& path, QString* reason = nullptr);
    // The folder of the file last loaded or saved; relative palette names start there.
    const QString& GetScriptFolder() const { return m_strScriptFolder; }
    // The palette name a script file stores, without loading it; false when it cannot be read.
    static bool ReadPaletteName(const QString& path, QString& name);

    // Renders the lattice described by the arguments into the target (see RenderPicture).
    int Render(const Raster& target, int left, int top, int right, int bottom, double scaleX, double scaleY,
        int stepX, int stepY);
    RenderSnapshot TakeSnapshot() const;

    // The progressive preview: a coarse picture at one sixth of the resolution, then 36 fine passes
    // in random order. CreatePreview and ReleasePreview stop the worker first.
    void CreatePreview(int cellsX, int cellsY, int cellWidth, int cellHeight);
    void ReleasePreview();
    // Starts the worker unless it runs; returns whether it runs.
    bool StartPreview();
    // Asks the worker to stop and waits until it has ended (a render aborts within one pixel).
    bool StopPreview();
    // The hand-over, polled by the window's timer; never waits. shown is the stage the caller last
    // took (0 after every change). Copies a new frame into frame (m_nPreviewWidth x
    // m_nPreviewHeight, Format_RGB32) and returns true when there is one.
    bool GetPreviewFrame(int& shown, QImage& frame);
    // The half-second hold after the coarse picture, in 10 ms ticks (benchmarks and tests shorten it).
    void SetPreviewHoldTicks(int ticks) { m_nHoldTicks.store(ticks); }
    int GetPreviewWidth() const { return m_nPreviewWidth; }
    int GetPreviewHeight() const { return m_nPreviewHeight; }

    // Export: renders the target size on a worker thread, stamps the watermark and writes the file
    // chosen by the extension. StartExport returns whether an export is still running after 100 ms.
    bool StartExport(const QString& path, const QString& watermarkPath);
    // Starts the worker without StartExport's pause (the command-line tool waits with WaitExport).
    // Returns false, starting nothing, when an export is running.
    bool BeginExport(const ExportRequest& request);
    // Waits until the running export has ended, or for at most timeout; returns whether it has ended.
    bool WaitExport(std::chrono::milliseconds timeout);
    bool StopExport();
    // Waits until no export thread is left (every wait is bounded by a render's abort check).
    void JoinExport();
    ExportReport GetExportReport() const;
    // The PNG compression level of the window's exports; an export setting, not kept in the file.
    void SetPngLevel(int level);
    int GetPngLevel() const { return m_nPngLevel; }
    ExportOutcome GetExportOutcome() const;

    std::string GetLastError() const;

    // Read access for the window, the dialogs and the tests.
    const CFormula& GetIterFormula() const { return m_iterFormula; }
    const CFormula& GetTermFormula() const { return m_termFormula; }
    const CFormula& GetColorFormula() const { return m_colorFormula; }
    int GetMaxIter() const { return m_nMaxIter; }
    double GetOffsetX() const { return m_dOffsetX; }
    double GetOffsetY() const { return m_dOffsetY; }
    double GetRatio() const { return m_dRatio; }
    int GetImageWidth() const { return m_nImageWidth; }
    int GetImageHeight() const { return m_nImageHeight; }
    const QString& GetPaletteFile() const { return m_strPaletteFile; }
    int GetPaletteWidth() const { return m_nPaletteWidth; }
    int GetPaletteHeight() const { return m_nPaletteHeight; }
    const QImage& GetPalette() const { return m_palette; }
    PaletteMapping GetMapping() const;
    bool IsModified() const { return m_bModified; }
    void SetModified() { m_bModified = true; }

    // Shared with the workers. Compare-and-swap for the worker's stage advances, so that a reset
    // by the window is never lost; every other access is a plain atomic load or store.
    std::atomic<int> m_nStage { 0 };                // window: store 0; workers: advance, restart
    std::atomic<bool> m_bStopRequest { false };     // window -> workers: stop, and abort every render
    std::atomic<bool> m_bRefreshRequest { false };  // window -> preview worker: publish the buffer
    std::atomic<bool> m_bPreviewRunning { false };  // preview worker -> window
    std::atomic<bool> m_bExportRunning { false };   // export worker -> window (release on clear)
    std::atomic<double> m_dPreviewProgress { 0.0 }; // preview worker -> window
    std::atomic<double> m_dRenderProgress { 0.0 };  // rendering worker -> window
    bool AdvanceStage(int from) { return m_nStage.compare_exchange_strong(from, from + 1); }
    // Tests only: the export worker passes it before it renders; a held worker is a running export
    // with nothing rendered yet, however fast the machine.
    CWorkerGate m_exportGate;
    // Tests only: passed after the render, before the export's last cancel check and its file.
    CWorkerGate m_exportRenderedGate;

private:
    // The one path of every edit: written under the lock, then the stage reset, so that a render
    // either has the edit in its snapshot or is aborted by it; then the script is marked. A write
    // that returns false changed nothing the picture shows: no reset, no mark.
    template <typename Write> bool Edit(Write&& write)
    {
        {
            std::lock_guard lock(m_mutex);
            if constexpr (std::is_void_v<decltype(write())>) {
                write();
            } else if (!write()) {
                return false;
            }
        }
        m_nStage.store(0);
        m_bModified = true;
        return true;
    }

    // The workers' bodies; the running flag is already set by whoever starts them.
    void RunPreviewWorker();
    int RunExportWorker();
    void ResetMapping();
    void SetLastError(std::string text);
    void FinishExport(ExportOutcome outcome, std::string text);

    // Guards the picture state below (formulas, limit, view, size, palette, mapping) and the
    // outcome text: the window writes under it, a render copies under it.
    mutable std::mutex m_mutex;

    CFormula m_iterFormula;
    CFormula m_termFormula;
    CFormula m_colorFormula;
    int m_nMaxIter { 100 };
    int m_nCurConst { 0 };
    double m_dOffsetX { 0.0 };
    double m_dOffsetY { 0.0 };
    double m_dRatio { 1.0 };
    int m_nImageWidth { 1024 };
    int m_nImageHeight { 1024 };
    QString m_strPaletteFile;
    QString m_strPaletteProblem; // why the named palette was not used; empty when it was
    QString m_strScriptFolder;
    int m_nPaletteWidth { 0 };
    int m_nPaletteHeight { 0 };
    QImage m_palette; // the palette surface and its raster, Format_RGB32
    double m_dMapX0 { 0.0 };
    double m_dMapY0 { 0.0 };
    double m_dMapDX { 1.0 };
    double m_dMapDY { 1.0 };
    double m_dMapSin { 0.0 };
    double m_dMapCos { 1.0 };
    double m_dMapStretch { 1.0 };
    bool m_bModified { false };

    int m_nCellsX { 0 };
    int m_nCellsY { 0 };
    int m_nPreviewWidth { 0 };
    int m_nPreviewHeight { 0 };
    std::atomic<int> m_nHoldTicks { 50 }; // window or test -> preview worker
    QImage m_previewSurface;              // the picture the window takes; guarded by m_previewMutex
    QImage m_coarseSurface;               // the worker's alone while it runs
    QImage m_workBuffer; // the preview raster: target of every preview render; the worker's alone
    std::mutex m_previewMutex;
    bool m_bFramePending { false }; // window only: a refresh was asked for on an earlier tick
    std::thread m_previewThread;
    std::atomic<bool> m_bPreviewThreadAlive { false };

    QString m_strExportFile;
    QString m_strExportWatermark;
    std::optional<ExportView> m_exportView;
    int m_nExportPngLevel { kDefaultPngLevel };
    int m_nPngLevel { kDefaultPngLevel };
    ExportReport m_exportReport; // guarded by m_mutex
    std::mutex m_exportEndMutex;
    std::condition_variable m_exportEnded; // notified once the running flag is clear
    Stopwatch m_exportClock;
    ExportOutcome m_exportOutcome { ExportOutcome::None };
    std::string m_strLastError;
    std::thread m_exportThread;
    std::atomic<bool> m_bExportThreadAlive { false }; // set at start, cleared as the thread's last act
};

// The version text of script files; a reader accepts only this.
inline constexpr std::string_view kScriptVersion = "Glimmerset0.01";
