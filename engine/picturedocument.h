#pragma once

#include "palettedecode.h"
#include "picture.h"
#include "pictureedit.h"
#include "scriptfile.h"

#include <QImage>
#include <QString>

#include <mutex>
#include <string>
#include <string_view>

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

// A picture as the user edits it (a Picture value), with its palette's file, the folder its names
// are meant from, its current constant and whether it has unsaved changes. Thread-free: it owns no
// thread and no lock, so the tool's set, dump and check edit one alone. CFractalScript adds the two
// workers, the lock their snapshots take and the restart of their renders (the two hooks below).
class CPictureDocument {
public:
    CPictureDocument() = default;
    virtual ~CPictureDocument() = default;
    CPictureDocument(const CPictureDocument&) = delete;
    CPictureDocument& operator=(const CPictureDocument&) = delete;

    // The one path of every change of the picture: applied in the edit's fixed order, renders
    // restarted once, the document marked by the setters' rules. Returns the edit that undoes it,
    // the warnings of values brought into range, and a failure that stopped it.
    EditResult Apply(const PictureEdit& edit);

    // A new Julia set: the default formulas and constant, view, size, limit and identity mapping.
    // Leaves the palette, its file name and the stretch alone.
    void SetDefaults();

    // One-field edits (each one Apply). The formulas: on failure the error names the formula.
    FormulaError SetFormulas(std::string_view iterText, std::string_view termText);
    FormulaError SetColorFormula(std::string_view text);
    // The same, with the message alone in err on failure.
    bool SetFormulas(std::string_view iterText, std::string_view termText, std::string& err);
    bool SetColorFormula(std::string_view text, std::string& err);
    void SetMapping(
        double x0, double y0, double dx, double dy, double sinTheta, double cosTheta, double stretch);
    void SetMapping(const PaletteMapping& m) { SetMapping(m.x0, m.y0, m.dx, m.dy, m.sin, m.cos, m.stretch); }
    void SetImageSize(int width, int height);
    // The view that zoom and pan write: offset of the top-left plane point and plane units per pixel.
    // Typed doubles replace the exact values of a deep view.
    void SetView(double offsetX, double offsetY, double ratio);
    // A view of any depth (exactview.h), its exact values included.
    void SetView(const PlaneView& view);
    // The iteration limit, clamped into [1, 10000]; marks the document only when it changes.
    void SetMaxIter(int maxIter);
    // The same with the extended range, [1, 1000000000] (fixedlimits.h): the tool, the window's
    // extended limit and undo, which puts back whatever limit the document held.
    void SetExtendedMaxIter(long long maxIter);
    // The samples per pixel a side of exports, clamped into [1, 4]; marks the document only when it
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

    // A copy of the picture as it is now, taken under the lock (the workers' snapshots).
    Picture TakeSnapshot() const;

    // The message of the last failed Load, or the outcome of the last export.
    std::string GetLastError() const;
    // Why the file of the last Load could not be read (the system's words, as "No such file or
    // directory"), beside its message "打开文件失败"; empty when the file was read.
    const std::string& GetLoadReason() const { return m_strLoadReason; }
    // When the last Load failed on a formula: which, where and what; empty otherwise.
    const FormulaError& GetLastFormulaError() const { return m_lastFormulaError; }

    // Read access for the window, the dialogs, the tool and the tests.
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
    // The window's undo history knows when the document is back at its saved state.
    void SetModified(bool modified) { m_bModified = modified; }

protected:
    // The lock that guards the picture, the palette's file and the last error against readers on
    // other threads: none for a document alone (an empty lock); CFractalScript's for its workers.
    virtual std::unique_lock<std::mutex> LockState() const { return {}; }
    // Called after a change of what renders show, outside the lock: a render either has the change
    // in its snapshot or is aborted. A document alone has no render.
    virtual void PictureChanged() { }
    // The export worker leaves its outcome here, from its own thread.
    void SetLastError(std::string text);

private:
    // The decoded palette, or the built-in one as fallback allows, installed into picture.
    bool InstallDecoded(DecodedPalette decoded, PaletteFallback fallback, Picture& picture);

    // Under LockState: the picture, the palette's file, problem and surface, and the last error.
    Picture m_picture;
    QString m_strPaletteFile;
    QString m_strPaletteProblem; // why the named palette was not used; empty when it was
    QImage m_palette;            // the palette surface, Format_RGB32, whose pixels m_picture.palette shares
    std::string m_strLastError;
    // The editing thread's alone.
    int m_nCurConst { 0 };
    QString m_strScriptFolder;
    bool m_bModified { false };
    std::string m_strLoadReason;
    FormulaError m_lastFormulaError;
};
