#pragma once

#include "arrowkeys.h"
#include "edithistory.h"
#include "featuresearch.h"
#include "fractalscript.h"
#include "mapping.h"
#include "watermarkfile.h"
#include "windowservices.h"

#include <QCoreApplication>
#include <QFont>
#include <QIcon>
#include <QImage>
#include <QMainWindow>
#include <QPointF>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>

class CSettingDlg;
class CClientArea;
class CConstantMapWindow;
class CLargeView;
class CStatusLine;
class QAction;
class QLabel;
class QMenu;
class QMimeData;

// What is under the mouse, or being dragged.
enum DragMode : int {
    DragNone = 0,
    DragPan = 1,    // the preview area
    DragAngle = 2,  // the angle handle at the end of the mapping's first axis
    DragSize = 3,   // the size handle at the parallelogram's far corner
    DragOrigin = 4, // the palette box, or the inside of the parallelogram
    DragStretch = 5 // the stretch slider's handle
};

// The main window: a fixed 715 x 553 client area painted by hand (preview, palette with the mapping
// handles, panels, progress bar, logo), the menu, the keys and mouse gestures, and the commands.
// Owns the one script and drives its preview worker from two 10 ms timers; runs on the GUI thread.
class CFractalDlg : public QMainWindow {
    Q_DECLARE_TR_FUNCTIONS(CFractalDlg)

public:
    // services answers message boxes and dialogs; the window does not own it.
    explicit CFractalDlg(CWindowServices& services, QWidget* parent = nullptr);
    ~CFractalDlg() override;

    // Start-up: the built-in palette, the script named on the command line (empty: a new Julia set),
    // the preview worker and the timers, the watermark file.
    void Initialize(const QString& scriptPath);

    // The commands of the menu.
    void OnFileNew();
    void OnFileOpen();
    bool OnFileSave();
    bool OnFileSaveAs();
    void OnAbout();
    void OnSettings();
    // Edit > the extended iteration limit: beyond the Settings dialog's field, up to 1000000000.
    void OnExtendedLimit();
    void OnSystemPalette();
    void OnImportPalette();
    // Edit > Palette > Reset mapping and the R key: the identity mapping, the stretch kept.
    void OnResetPaletteMapping();
    // Edit > Undo and Redo: a step of the history back or forward.
    void OnUndo();
    void OnRedo();
    // View > Reset view (Home): the default view for the target size; formulas, constants and
    // palette stay. View > Zoom in and Zoom out (+, -): one wheel step about the preview's centre.
    void OnResetView();
    void OnZoom(bool in);
    void OnExport();
    void OnExportSettings();
    // A script file dropped on the window: opened with the save-changes question, like Open.
    void OnDropScript(const QString& path);
    // The .gsc file a drag carries, or an empty text.
    static QString DroppedScript(const QMimeData* data);
    // Drags over the client area: accepted when they carry a script and no command is busy.
    bool AcceptsDrop(const QMimeData* data) const;
    void OnDrop(const QMimeData* data);
    // Edit > Copy: the picture the preview shows and its script, as an image carrying it and as text.
    // Edit > Paste: a script from the clipboard's text, a picture that carries one, or a copied file,
    // opened as a new script with Open's save-changes question.
    void OnCopy();
    void OnPaste();
    // The script text a clipboard holds, or an empty text.
    static QString PastedScriptText(const QMimeData* data);
    // The text Copy puts on the clipboard: the script as Save writes it, its palette by absolute name.
    QString ClipboardScriptText() const;
    // The close query (Escape, the close box, File > Exit): true when the window may close.
    bool CloseQuery();

    // View > Large view: the picture in a resizable window of its own; F11 opens it full screen. View >
    // Constant map: the parameter plane of the current constant, which a click or a drag sets.
    void OnLargeView();
    void OnLargeViewFullScreen();
    void OnConstantMap();
    CLargeView* LargeView() const { return m_largeView.get(); }
    CConstantMapWindow* ConstantMap() const { return m_constantMap.get(); }

    // Input from the other views. A wheel step about (px, py) of a picture shown at shownWidth x
    // shownHeight, in the preview's bursts and steps; a pan begun at a press and moved by (dx, dy).
    void ZoomAt(int angleDelta, double px, double py, int shownWidth, int shownHeight);
    void BeginPan();
    void PanBy(int dx, int dy, int shownWidth, int shownHeight);
    // A gesture of its own (a drag on the constant map); the current constant set as one step of it.
    std::uint64_t NewGesture() { return ++m_nGesture; }
    void SetConstantInGesture(Complex value, std::uint64_t gesture);
    // Whether the main window or the large view has the keyboard; held keys forgotten when neither has.
    bool InputActive() const;
    void ForgetHeldKeys() { m_arrows.Clear(); }
    // The commands with keys, for the other views to offer the same keys.
    const QList<QAction*>& ShortcutActions() const { return m_shortcutActions; }
    const QImage& Watermark() const { return m_mark; }
    // Composes a preview frame into canvas with its top-left corner at, and the watermark over its
    // bottom-right corner at the size it has in an exported imageWidth x imageHeight picture
    // (markScaled keeps it scaled).
    static void ComposeFrame(QImage& canvas, QPoint at, const QImage& frame, const QImage& mark,
        QImage& markScaled, int imageWidth, int imageHeight);

    // The two timers' work: 0 takes preview frames and repaints, 1 polls the held arrow keys.
    void OnPreviewTimer();
    void OnKeysTimer();

    // Input in client coordinates, as the client area reports it.
    void OnKeyDown(int key, bool shift);
    // An arrow key's press or release as the toolkit reports it (timestamp in ms, 0 for none).
    void OnArrowKey(
        int key, bool pressed, unsigned long timestamp = 0, bool autoRepeat = false, unsigned scanCode = 0);
    // Whether a held key is physically down, for releases whose repeat press is late; tests replace it.
    void SetKeyProbe(CArrowKeys::Probe probe) { m_keyProbe = std::move(probe); }
    void OnWheel(int angleDelta, QPoint position);
    void OnLeftButtonDown(QPoint position);
    void OnMouseMove(QPoint position, bool leftButtonHeld);
    void OnLeftButtonUp(QPoint position);

    // Composes the whole client area into the back buffer and returns it.
    const QImage& ComposeClient();

    // The title rules: the file title of a path ("未命名" for none).
    static QString FileTitleOf(const QString& path);

    CFractalScript& Script() { return m_script; }
    CEditHistory& History() { return m_history; }
    // The clock of wheel bursts in milliseconds; tests put their own in its place.
    void SetClock(std::function<qint64()> clock) { m_clock = std::move(clock); }
    // A wheel step that follows the previous one within this joins its step of the history.
    static constexpr qint64 kWheelBurstMs = 500;
    // The status line's texts: the plane point under the mouse (empty off the picture) in full, the
    // plane width the preview shows, the preview's state, and the deep zoom's summary (empty while the
    // view is shallow).
    QString StatusCoordinate() const;
    QString StatusZoom() const;
    QString StatusState() const;
    QString StatusDeepSummary() const;
    // The same figures in short, for a status line too narrow for the sentence; empty as that is.
    QString StatusDeepCompact() const;
    // The width as a number, the scale when the panel prints it as 0 (else empty), and every value of
    // the view in full.
    QString StatusWidth() const;
    QString StatusScale() const;
    QString StatusViewValues() const;
    // The plane point at the centre of pixel (i, j) of a pw x ph picture of the target, as decimals with
    // the digits that tell neighbouring pixels apart; false off the picture.
    bool PlaneTextsAt(int i, int j, int pw, int ph, QString& x, QString& y) const;
    // Fills a status line with the texts above, the point (x, y) and a preview's state.
    void FillStatusLine(CStatusLine& line, const QString& x, const QString& y, const QString& state) const;
    // A preview's state: its passes while they come in, then how long the last full one took (lastMs,
    // when not below 0).
    static QString RenderStateText(double progress, qint64 lastMs);
    CStatusLine& StatusLine() const { return *m_status; }
    // The plane point of a client pixel over the preview picture; false off the picture.
    bool PlanePointAt(QPoint position, double& x, double& y) const;
    // The view is past what doubles tell apart: the deep path renders it.
    bool DeepView() const;
    // What a press at position would do, as the mouse cursor shows it and a tooltip says it.
    static Qt::CursorShape CursorFor(DragMode mode);
    QString ToolTipFor(DragMode mode) const;
    const QString& ScriptPath() const { return m_strScriptPath; }
    double EditStep() const { return m_dEditStep; }
    void SetEditStep(double step) { m_dEditStep = step; }
    int ShownStage() const { return m_nShownStage; }
    DragMode GetDragMode() const { return m_nDragMode; }
    bool TimersRunning() const;
    CClientArea* ClientArea() const { return m_clientArea; }
    QImage& PreviewImage() { return m_dcPreview; }

    // The preview size rule: fit the target size into 480 x 480 and make the preview's cells.
    void ApplyPreviewSize();

    // The period of both timers, and the tick of the window's waits for its workers.
    static constexpr int kTimerPeriodMs = 10;

    // Timer ticks while arrow keys are held: a member under its long-standing name, so that every
    // window counts its own.
    int s_nArrowRepeat { 0 };

    // The file-type lists of Import palette and Export, from the image codecs Qt has here.
    static std::vector<FileFilter> PaletteFilters();
    static std::vector<FileFilter> ExportFilters();

    // The decode that palette loads run off the window thread; the tests put a gate in its place.
    using PaletteDecoder = std::function<QImage(const QString&, QString*, const PaletteDecodeLimits&)>;
    void SetPaletteDecoder(PaletteDecoder decoder) { m_decodePalette = std::move(decoder); }

    // The client area's context menu at a position of it, and its "zoom to the nearest feature": the
    // view that frames the feature of lowest period in the view around the point under position, one
    // step of the history (see fractaldlg_feature.cpp).
    void OnContextMenu(QPoint position, QPoint global);
    void BuildContextMenu(QMenu& menu, QPoint position);
    void OnZoomToFeature(QPoint position);
    // The search that runs off the window thread; the tests put a gate in its place.
    using FeatureFinder
        = std::function<FeatureAnswer(const CFormula&, const FeatureRequest&, const std::function<bool()>&)>;
    void SetFeatureFinder(FeatureFinder finder) { m_findFeature = std::move(finder); }

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void BuildMenu();
    void BuildStatusLine();
    void UpdateStatusLine();
    // The history's entry for the script's palette as it is now.
    std::shared_ptr<PaletteEntry> PaletteNow();
    // Applies edit (and the window's edit step, when given) and makes its step of the history from the
    // edit and its inverse; a step of a gesture kind joins the step on top when that one has the same
    // kind and gesture. An edit that changed nothing leaves no step.
    EditResult Record(EditKind kind, PictureEdit edit, std::uint64_t gesture = 0,
        std::optional<double> editStep = std::nullopt);
    // The edit the settings dialog's values make.
    PictureEdit SettingsEdit(const CSettingDlg& dialog) const;
    // Puts one side of a step into the script and the window (undo, redo).
    void ApplySide(const EditSide& side);
    // The script's modified flag and the title follow the history's saved state.
    void SyncModified();
    // A fresh history after New and Open.
    void ResetHistory();
    // One wheel step about (px, py) of a picture shown at shownWidth x shownHeight.
    void ZoomStep(bool forward, double px, double py, int shownWidth, int shownHeight, EditKind kind,
        std::uint64_t gesture);
    // The side views' workers stop with the preview's and start again with it.
    void StopSideViews();
    void StartSideViews();
    void Pause();
    void Resume();
    void StopTimers();
    void StartTimers();
    void EndDrag();
    // The save-changes question; false when the command is to be abandoned (Cancel, or Yes without a
    // successful save). Called paused; leaves the window paused when it returns true.
    bool SaveChangesQuery();
    void UpdateTitle();
    // Reads a script into the window (Open, drop and paste): the title, the preview size, a new picture.
    // A script from the clipboard has no file: it opens untitled, its palettes named from the working
    // folder.
    enum class ScriptSource { File, Clipboard };
    void LoadScript(const QString& path, ScriptSource source = ScriptSource::File);
    void ShowError(const QString& text);
    // Puts a file type list into request; false, after telling the user and starting the timers
    // again, when the image codecs offer none.
    bool TakeFilters(FileDialogRequest& request, std::vector<FileFilter> filters);
    // Runs work on a thread of its own while the window goes on painting, under a window (shown after a
    // moment) that says so and offers to cancel (its Cancel or Esc) by setting work's flag; the thread
    // has ended on return, which tells whether the user cancelled.
    bool RunAside(const QString& title, const QString& label,
        const std::function<void(const std::atomic<bool>&)>& work);
    // Decodes a palette aside; cancel stops the decode.
    DecodedPalette DecodePaletteAside(const QString& name, const QString& scriptFolder);
    // The search of the view around the pixel under position; false off the picture.
    bool FeatureRequestAt(QPoint position, FeatureRequest& request) const;
    // Runs the feature finder aside; Cancelled when the user cancelled.
    FeatureAnswer FindFeatureAside(const FeatureRequest& request);
    // Tells once that the palette a script named gave way to the built-in one.
    void ShowPaletteWarning();
    // The default picture, as New leaves it: defaults, preview size, built-in palette, no file.
    void StartNewScript();
    void ComposePreview();
    void Repaint();
    void ApplyMapping(const PaletteMapping& mapping);
    // Shows the export's progress window until the export has ended, opening it again when it was
    // closed before; returns whether it ended while no progress window was open.
    bool WaitForExport();

    // Painting pieces.
    void PaintPanels(class QPainter& painter);
    void PaintPalette(class QPainter& painter);

    CWindowServices& m_services;
    QIcon m_hAppIcon;
    QString m_strScriptPath;
    QString m_strFileTitle;
    double m_dEditStep { 0.01 };
    double m_dShownPreviewProgress { 0.0 };
    double m_dShownRenderProgress { 0.0 };
    DragMode m_nDragMode { DragNone };
    PaletteMapping m_mapAtDragStart;
    PlaneView m_viewAtDragStart; // the view at the press of a pan, exact values included
    QPoint m_ptDragStart { -1, 0 };
    CFractalScript m_script;
    QImage m_dcPreview; // 480 x 480: the latest preview frame with the watermark
    QImage m_dcBack;    // the whole client area, composed before it reaches the screen
    int m_nShownStage { 0 };

    CClientArea* m_clientArea { nullptr };
    QTimer m_timerPreview; // timer 0
    QTimer m_timerKeys;    // timer 1
    QFont m_font;
    QImage m_frame;         // the hand-over's copy of the preview picture
    QImage m_progressStrip; // bitmap 130
    QImage m_logo;          // bitmap 131
    QImage m_mark;          // the watermark, read once from its file
    QImage m_markScaled;    // ... scaled for the current preview
    std::unique_ptr<CWatermarkFile> m_watermarkFile;
    CArrowKeys m_arrows;
    CArrowKeys::Probe m_keyProbe { PhysicalKeyDown };
    bool m_bArrowsHeld { false }; // the last keys tick found an arrow held
    int m_nWheelDelta { 0 };      // wheel movement not yet a whole notch
    bool m_bCloseConfirmed { false };
    CEditHistory m_history;
    std::uint64_t m_nGesture { 0 };      // a new number for every drag, held-arrow spell and wheel burst
    std::uint64_t m_nArrowGesture { 0 }; // the one the held arrows edit under
    std::uint64_t m_nWheelGesture { 0 };
    qint64 m_nLastWheelMs { 0 };
    bool m_bWheelSeen { false };
    std::function<qint64()> m_clock;
    std::shared_ptr<PaletteEntry> m_currentPalette;
    QAction* m_undoAction { nullptr };
    QAction* m_redoAction { nullptr };
    std::unique_ptr<CStatusLine> m_status;
    QList<QAction*> m_shortcutActions;
    QPoint m_ptMouse { -1, -1 };     // the last mouse position over the client area
    qint64 m_nPreviewStartMs { -1 }; // when the preview now rendering began; -1 when none is
    qint64 m_nLastPreviewMs { -1 };  // how long the last full preview took
    bool m_bWaitingForExport { false };
    bool m_bKeepFraming { false };  // Export settings' choice, for the rest of the run
    int m_nExportFilterIndex { 0 }; // the file type last chosen for an export, for the rest of the run
    PaletteDecoder m_decodePalette { DecodePalette };
    FeatureFinder m_findFeature { FindViewFeature };
    // Declared last: they go first, while the script they read is still there.
    std::unique_ptr<CLargeView> m_largeView;
    std::unique_ptr<CConstantMapWindow> m_constantMap;
};
