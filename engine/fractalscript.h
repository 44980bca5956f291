#pragma once

#include "deepsession.h"
#include "exportworker.h"
#include "palettedecode.h"
#include "picture.h"
#include "pictureedit.h"
#include "previewworker.h"
#include "renderpool.h"
#include "scriptfile.h"

#include <QImage>
#include <QString>

#include <chrono>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// Whether LoadPalette falls back to the built-in palette when the named image cannot be decoded.
enum class PaletteFallback { BuiltIn, None };

// A palette decoded before it is installed (the window decodes off its own thread): the name as the
// script stores it, the picture in the surface format, or a null picture and the reason.
struct DecodedPalette {
    QString name;
    QImage image;
    QString problem;
};

// The palette named by a script in scriptFolder, decoded (an empty name decodes nothing).
DecodedPalette DecodeNamedPalette(
    const QString& name, const QString& scriptFolder, const PaletteDecodeLimits& limits = {});

// The palette a decode gives, or the built-in one as fallback allows (a null picture when neither):
// what an edit installs.
PaletteChoice ChoosePalette(DecodedPalette decoded, PaletteFallback fallback);

// A picture as the user edits it (a Picture value), with its palette's file, its current constant and
// its two workers: the preview and the export.
// Owned by the main window (or the command-line tool); its setters run on that thread. A render
// copies the picture under m_mutex when it starts, so edits never race with a pixel loop.
class CFractalScript {
public:
    CFractalScript();
    ~CFractalScript();
    CFractalScript(const CFractalScript&) = delete;
    CFractalScript& operator=(const CFractalScript&) = delete;

    // The one path of every change of the picture: applied under the lock in the edit's fixed order,
    // renders restarted once (RestartRenders), the script marked by the setters' rules. Returns the
    // edit that undoes it, the warnings of values brought into range, and a failure that stopped it.
    EditResult Apply(const PictureEdit& edit);

    // A new Julia set: the default formulas and constant, view, size, limit and identity mapping.
    // Leaves the palette, its file name and the stretch alone.
    void SetDefaults();

    // Compile the iteration and termination formulas; on failure the error names the formula.
    FormulaError SetFormulas(std::string_view iterText, std::string_view termText);
    FormulaError SetColorFormula(std::string_view text);
    // The same, with the message alone in err on failure.
    bool SetFormulas(std::string_view iterText, std::string_view termText, std::string& err);
    bool SetColorFormula(std::string_view text, std::string& err);

    void SetMapping(
        double x0, double y0, double dx, double dy, double sinTheta, double cosTheta, double stretch);
    void SetMapping(const PaletteMapping& m) { SetMapping(m.x0, m.y0, m.dx, m.dy, m.sin, m.cos, m.stretch); }
    // Puts the mapping back where a palette load puts it (the identity), keeping the stretch.
    void ResetPaletteMapping();
    void SetImageSize(int width, int height);
    // The view that zoom and pan write: offset of the top-left plane point and plane units per pixel.
    // Typed doubles replace the exact values of a deep view.
    void SetView(double offsetX, double offsetY, double ratio);
    // A view of any depth (exactview.h), its exact values included.
    void SetView(const PlaneView& view);
    // The iteration limit, clamped into [1, 10000]; marks the script only when it changes.
    void SetMaxIter(int maxIter);
    // The same with the extended range, [1, 1000000000] (fixedlimits.h): the tool, the window's
    // extended limit and undo, which puts back whatever limit the script held.
    void SetExtendedMaxIter(long long maxIter);
    // The samples per pixel a side of exports, clamped into [1, 4]; marks the script only when it
    // changes. The preview never anti-aliases.
    void SetAntialias(int samples);

    int PrevConstant();
    int NextConstant();
    bool SetCurrentConstant(Complex value);
    // The constant at index, whichever is current (undo puts a value back where it was made).
    bool SetConstant(int index, Complex value);
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
    // The folder of the file last loaded or saved; relative palette names start there. A script read
    // from somewhere else than its folder (a pasted one) takes the folder its names are meant from.
    const QString& GetScriptFolder() const { return m_strScriptFolder; }
    void SetScriptFolder(const QString& folder) { m_strScriptFolder = folder; }
    // The palette name a script file stores, without loading it; false when it cannot be read.
    static bool ReadPaletteName(const QString& path, QString& name)
    {
        return ReadScriptPaletteName(path, name);
    }

    // Renders the lattice described by the arguments into the target with the preview worker's
    // stage, stop request and render progress (see CPreviewWorker::Render).
    int Render(const Raster& target, int left, int top, int right, int bottom, double scaleX, double scaleY,
        int stepX, int stepY)
    {
        return m_preview.Render(target, left, top, right, bottom, scaleX, scaleY, stepX, stepY);
    }
    // A copy of the picture as it is now, taken under the lock.
    Picture TakeSnapshot() const;

    // The progressive preview (see CPreviewWorker).
    CPreviewWorker& PreviewWorker() { return m_preview; }
    // What the last deep render of the preview or the export did (the status line).
    DeepRenderState GetDeepRenderState() const { return m_deep.Last(); }
    CDeepSession& DeepSession() { return m_deep; }
    // The threads renders of this picture run on (the side views' workers share them).
    CRenderPool& RenderPool() { return m_pool; }
    // Another worker that every edit restarts like the preview (a second view of the picture); the
    // window's thread adds and removes it, and removes it before the worker goes.
    void AddStageFollower(CPreviewWorker& worker) { m_stageFollowers.push_back(&worker); }
    void RemoveStageFollower(CPreviewWorker& worker) { std::erase(m_stageFollowers, &worker); }
    void CreatePreview(int cellsX, int cellsY, int cellWidth, int cellHeight)
    {
        m_preview.Create(cellsX, cellsY, cellWidth, cellHeight);
    }
    void ReleasePreview() { m_preview.Release(); }
    bool StartPreview() { return m_preview.Start(); }
    bool StopPreview() { return m_preview.Stop(); }
    bool GetPreviewFrame(int& shown, QImage& frame) { return m_preview.TakeFrame(shown, frame); }
    void SetPreviewHoldTicks(int ticks) { m_preview.SetHoldTicks(ticks); }
    int GetPreviewWidth() const { return m_preview.Width(); }
    int GetPreviewHeight() const { return m_preview.Height(); }

    // The export (see CExportWorker).
    CExportWorker& ExportWorker() { return m_export; }

    // Export: renders the target size on a worker thread, stamps the watermark and writes the file
    // chosen by the extension. StartExport returns whether an export is still running after 100 ms.
    bool StartExport(const QString& path, const QString& watermarkPath);
    // Starts the worker without StartExport's pause (the command-line tool waits with WaitExport).
    // Returns false, starting nothing, when an export is running. The picture carries the script
    // with its palette name as Save would write it into the picture's folder (or the request's
    // scriptFolder).
    bool BeginExport(ExportRequest request);
    // Waits until the running export has ended, or for at most timeout; returns whether it has ended.
    bool WaitExport(std::chrono::milliseconds timeout) { return m_export.Wait(timeout); }
    bool StopExport() { return m_export.Stop(); }
    // Waits until no export thread is left (every wait is bounded by a render's abort check).
    void JoinExport() { m_export.Join(); }
    ExportReport GetExportReport() const { return m_export.Report(); }
    // The PNG compression level of the window's exports; an export setting, not kept in the file.
    void SetPngLevel(int level);
    int GetPngLevel() const { return m_nPngLevel; }
    ExportOutcome GetExportOutcome() const { return m_export.Outcome(); }

    std::string GetLastError() const;
    // Why the file of the last Load could not be read (the system's words, as "No such file or
    // directory"), beside its message "打开文件失败"; empty when the file was read.
    const std::string& GetLoadReason() const { return m_strLoadReason; }
    // When the last Load failed on a formula: which, where and what; empty otherwise.
    const FormulaError& GetLastFormulaError() const { return m_lastFormulaError; }

    // Read access for the window, the dialogs and the tests.
    const CFormula& GetIterFormula() const { return m_picture.iterFormula; }
    const CFormula& GetTermFormula() const { return m_picture.termFormula; }
    const CFormula& GetColorFormula() const { return m_picture.colorFormula; }
    int GetMaxIter() const { return m_picture.maxIter; }
    int GetAntialias() const { return m_picture.antialias; }
    double GetOffsetX() const { return m_picture.view.offsetX; }
    double GetOffsetY() const { return m_picture.view.offsetY; }
    double GetRatio() const { return m_picture.view.ratio; }
    PlaneView GetView() const { return m_picture.view; }
    const ExactView& GetExactView() const { return m_picture.view.exact; }
    int GetImageWidth() const { return m_picture.imageWidth; }
    int GetImageHeight() const { return m_picture.imageHeight; }
    const QString& GetPaletteFile() const { return m_strPaletteFile; }
    int GetPaletteWidth() const { return m_picture.palette.raster.width; }
    int GetPaletteHeight() const { return m_picture.palette.raster.height; }
    const QImage& GetPalette() const { return m_palette; }
    PaletteMapping GetMapping() const { return m_picture.mapping; }
    bool IsModified() const { return m_bModified; }
    void SetModified() { m_bModified = true; }
    // The window's undo history knows when the script is back at its saved state.
    void SetModified(bool modified) { m_bModified = modified; }

private:
    // Every running render of the picture starts over: the preview and the views that follow it.
    void RestartRenders();

    void SetLastError(std::string text);
    // The decoded palette, or the built-in one as fallback allows, installed into picture.
    bool InstallDecoded(DecodedPalette decoded, PaletteFallback fallback, Picture& picture);

    // Guards the picture state below (formulas, limit, view, size, palette, mapping) and the
    // outcome text: the window writes under it, a render copies under it.
    mutable std::mutex m_mutex;

    Picture m_picture;
    int m_nCurConst { 0 };
    QString m_strPaletteFile;
    QString m_strPaletteProblem; // why the named palette was not used; empty when it was
    QString m_strScriptFolder;
    QImage m_palette; // the palette surface, Format_RGB32, whose pixels m_picture.palette shares
    bool m_bModified { false };
    int m_nPngLevel { kDefaultPngLevel };
    std::string m_strLastError;
    std::string m_strLoadReason;
    FormulaError m_lastFormulaError;               // the window's thread only
    std::vector<CPreviewWorker*> m_stageFollowers; // the window's thread only

    // Declared last: destroyed first, so that no worker outlives what it reads.
    // The deep views' references, shared by the two workers (never rendering at once): declared first,
    // so that it outlives them.
    CDeepSession m_deep;
    CRenderPool m_pool; // the threads of every render of this script and the views that follow it
    CPreviewWorker m_preview;
    CExportWorker m_export;
};
