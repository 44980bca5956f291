// The main window's other menu commands: settings, palettes, export and About.
#include "fractaldlg.h"

#include "constantmapwindow.h"
#include "fixedlimits.h"
#include "language.h"
#include "largeview.h"
#include "outportdlg.h"
#include "outportsetdlg.h"
#include "settingdlg.h"
#include "surface.h"

#include <QApplication>
#include <QEventLoop>
#include <QProgressDialog>
#include <QTimer>

#include <atomic>
#include <cmath>
#include <thread>

namespace {

// Work aside shows its progress window only when it takes a moment.
constexpr int kAsideProgressDelayMs = 300;

// "GetExporterFilter failed" carries the failure code of the codec list in hexadecimal.
constexpr unsigned kCodecListFailed = 0x80004005u;

std::vector<FileFilter> CodecFilters(CodecUse use)
{
    std::vector<FileFilter> filters;
    for (const ImageCodec& codec : ImageCodecs(use)) {
        if (!IsIconOrMetafile(codec)) {
            filters.push_back({ codec.description + QStringLiteral(" (")
                    + codec.patterns.join(QLatin1Char(';')) + QLatin1Char(')'),
                codec.patterns });
        }
    }
    return filters;
}

} // namespace

std::vector<FileFilter> CFractalDlg::PaletteFilters()
{
    // Only the formats palettes are decoded from, whatever else Qt could read.
    std::vector<FileFilter> readers;
    for (const PaletteFormat& format : PaletteFormats()) {
        readers.push_back({ format.description + QStringLiteral(" (") + format.patterns.join(QLatin1Char(';'))
                + QLatin1Char(')'),
            format.patterns });
    }
    FileFilter all { tr("所有支持的图像文件"), {} };
    for (const FileFilter& reader : readers) {
        all.patterns += reader.patterns;
    }
    readers.insert(readers.begin(), all);
    return readers;
}

std::vector<FileFilter> CFractalDlg::ExportFilters() { return CodecFilters(CodecUse::Writing); }

bool CFractalDlg::TakeFilters(FileDialogRequest& request, std::vector<FileFilter> filters)
{
    request.filters = std::move(filters);
    if (!request.filters.empty()) {
        return true;
    }
    ShowError(QStringLiteral("GetExporterFilter failed:\n%1").arg(kCodecListFailed, 0, 16));
    StartTimers();
    return false;
}

PictureEdit CFractalDlg::SettingsEdit(const CSettingDlg& dialog) const
{
    PictureEdit edit;
    // A formula whose text the dialog left alone keeps its program (one a failed load left too).
    const auto changed = [](const CFormula& now, const CFormula& was, std::optional<std::string>& text) {
        if (now.GetText() != was.GetText()) {
            text = now.GetText();
        }
    };
    changed(dialog.m_iterFormula, m_script.GetIterFormula(), edit.iterText);
    changed(dialog.m_termFormula, m_script.GetTermFormula(), edit.termText);
    changed(dialog.m_colorFormula, m_script.GetColorFormula(), edit.colorText);
    for (int k = 0; k < dialog.m_iterFormula.GetConstantCount(); ++k) {
        edit.constants.emplace_back(k, dialog.m_iterFormula.GetConstant(k));
    }
    const double sign = dialog.m_bReverseAngle ? -1.0 : 1.0;
    edit.mapping = PaletteMapping { dialog.m_dMapX0, dialog.m_dMapY0, dialog.m_dMapDX, dialog.m_dMapDY,
        dialog.m_dMapSin, sign * std::sqrt(1.0 - dialog.m_dMapSin * dialog.m_dMapSin), dialog.m_dMapStretch };
    edit.maxIter = ClampToRange(dialog.m_nMaxIter, kMinIterations, kMaxIterations);
    return edit;
}

void CFractalDlg::OnSettings()
{
    Pause();
    CSettingDlg dialog(m_services, this);
    dialog.m_iterFormula = m_script.GetIterFormula();
    dialog.m_termFormula = m_script.GetTermFormula();
    dialog.m_colorFormula = m_script.GetColorFormula();
    const PaletteMapping m = m_script.GetMapping();
    dialog.m_dMapX0 = m.x0;
    dialog.m_dMapY0 = m.y0;
    dialog.m_dMapDX = m.dx;
    dialog.m_dMapDY = m.dy;
    dialog.m_dMapSin = m.sin;
    dialog.m_dMapStretch = m.stretch;
    dialog.m_bReverseAngle = m.cos < 0 ? 1 : 0; // -0.0 is not below 0
    dialog.m_nMaxIter = m_script.GetMaxIter();
    dialog.m_dEditStep = m_dEditStep;
    if (m_services.RunSettings(dialog)) {
        EndDrag();
        // Always marked: OK counts as an edit even when nothing changed (the mapping is always set).
        Record(EditKind::Single, SettingsEdit(dialog), 0, dialog.m_dEditStep);
        m_nShownStage = 0;
        m_mapAtDragStart = m_script.GetMapping();
    }
    Resume();
}

void CFractalDlg::OnExtendedLimit()
{
    Pause();
    int limit = m_script.GetMaxIter();
    if (m_services.AskWholeNumber(this, tr("扩展迭代上限"),
            tr("最大迭代次数（%1 到 %2）：").arg(kMinIterations).arg(kMaxExtendedIterations), kMinIterations,
            kMaxExtendedIterations, limit)
        && limit != m_script.GetMaxIter()) {
        EndDrag();
        PictureEdit edit;
        edit.maxIter = limit;
        Record(EditKind::Single, std::move(edit));
        m_nShownStage = 0;
    }
    Resume();
}

void CFractalDlg::OnSystemPalette()
{
    Pause();
    PictureEdit edit;
    edit.palette = ChoosePalette(DecodeNamedPalette(QString(), QString()), PaletteFallback::BuiltIn);
    const bool loaded = !Record(EditKind::Single, std::move(edit)).Failed();
    if (loaded) {
        m_nShownStage = 0;
        m_mapAtDragStart = m_script.GetMapping();
    } else {
        ShowError(tr("载入系统调色板失败!"));
    }
    Resume();
}

bool CFractalDlg::RunAside(
    const QString& title, const QString& label, const std::function<void(const std::atomic<bool>&)>& work)
{
    std::atomic<bool> cancel { false };
    std::atomic<bool> done { false };
    std::thread worker([&] {
        work(cancel);
        done.store(true, std::memory_order_release);
    });
    QProgressDialog progress(label, tr("取消"), 0, 0, this);
    progress.setWindowTitle(title);
    progress.setWindowModality(Qt::WindowModal);
    // Shown by a timer of its own: the dialog's delay only starts with a value, and this work has none.
    progress.setMinimumDuration(kAsideProgressDelayMs);
    QTimer::singleShot(kAsideProgressDelayMs, &progress, [&] {
        if (!done.load(std::memory_order_acquire)) {
            progress.show();
        }
    });
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(kTimerPeriodMs);
    connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done.load(std::memory_order_acquire)) {
            loop.quit();
        }
    });
    // Its Cancel button and Esc.
    connect(&progress, &QProgressDialog::canceled, &loop, [&] { cancel.store(true); });
    connect(&progress, &QDialog::rejected, &loop, [&] { cancel.store(true); });
    poll.start();
    loop.exec();
    worker.join();
    return cancel.load();
}

DecodedPalette CFractalDlg::DecodePaletteAside(const QString& name, const QString& scriptFolder)
{
    DecodedPalette decoded { name, {}, {} };
    const QString path = ResolvePalettePath(name, scriptFolder);
    const PaletteDecoder decode = m_decodePalette;
    const bool cancelled = RunAside(
        tr("导入调色板"), tr("正在载入调色板[%1]...").arg(name), [&](const std::atomic<bool>& cancel) {
            decoded.image = decode(path, &decoded.problem, { kPaletteDecodeTimeout, &cancel });
        });
    if (cancelled && decoded.image.isNull()) {
        decoded.problem = QStringLiteral("cancelled");
    }
    return decoded;
}

void CFractalDlg::ShowPaletteWarning()
{
    const std::string warning = m_script.GetPaletteWarning();
    if (!warning.empty()) {
        m_services.ShowMessage(this,
            tr("调色板文件无法使用，已改用系统调色板：\n%1").arg(QString::fromStdString(warning)), tr("警告"),
            MessageIcon::Exclamation, MessageButtons::Ok);
    }
}

void CFractalDlg::OnImportPalette()
{
    StopTimers();
    FileDialogRequest request;
    if (!TakeFilters(request, PaletteFilters())) {
        return;
    }
    request.title = tr("导入调色板");
    request.mustExist = true;
    const FileDialogResult chosen = m_services.ChooseFileToOpen(this, request);
    if (chosen.accepted) {
        EndDrag();
        m_script.StopPreview();
        // A name a script file cannot hold ("}", a line break) would make the next save fail.
        // An image that does not decode changes nothing: no silent swap to the built-in palette.
        // A cancelled load changes nothing either, and needs no message.
        const bool storable = ScriptNameProblem(chosen.path).isEmpty();
        DecodedPalette decoded = storable ? DecodePaletteAside(chosen.path, QString()) : DecodedPalette {};
        const bool cancelled = decoded.problem == QLatin1String("cancelled"); // before decoded moves
        bool installed = false;
        if (storable) {
            PictureEdit edit;
            edit.palette = ChoosePalette(std::move(decoded), PaletteFallback::None);
            installed = !Record(EditKind::Single, std::move(edit)).Failed();
        }
        if (installed) {
            m_nShownStage = 0;
            m_mapAtDragStart = m_script.GetMapping();
        } else if (!cancelled) {
            ShowError(tr("载入调色板失败!"));
        }
        m_script.StartPreview();
    }
    StartTimers();
}

bool CFractalDlg::WaitForExport()
{
    const auto running
        = [this] { return m_script.ExportWorker().m_bRunning.load(std::memory_order_acquire); };
    // Preview and export never render at once: the preview starts again only after the export.
    // While the window waits, the export's progress is in front of the user, who can cancel it.
    m_bWaitingForExport = true;
    bool seen = false;
    do {
        COutportDlg progress(this);
        progress.m_pScript = &m_script;
        m_services.RunExportProgress(progress);
        // Seen only when this window showed the outcome: a worker may end between the window's
        // closing and this check, and then nobody has seen how it ended.
        seen = progress.ShownOutcome();
        if (running()) {
            // Closed early (a cancel not yet done): wait one tick, closed to input, then show it again.
            QEventLoop loop;
            QTimer::singleShot(kTimerPeriodMs, &loop, &QEventLoop::quit);
            loop.exec(QEventLoop::ExcludeUserInputEvents);
        }
    } while (running());
    m_bWaitingForExport = false;
    m_script.JoinExport();
    return !seen;
}

void CFractalDlg::OnExport()
{
    StopTimers();
    FileDialogRequest request;
    if (!TakeFilters(request, ExportFilters())) {
        return;
    }
    StopSideViews();
    m_script.StopPreview();
    request.title = tr("导出图像");
    request.defaultSuffix = QStringLiteral(".bmp");
    request.selectedFilter = m_nExportFilterIndex;
    request.overwritePrompt = true;
    const FileDialogResult chosen = m_services.ChooseFileToSave(this, request);
    if (chosen.accepted) {
        EndDrag();
        QApplication::setOverrideCursor(Qt::WaitCursor);
        m_script.StartExport(chosen.path, CWatermarkFile::Path());
        QApplication::restoreOverrideCursor();
        // Every export ends with its outcome in front of the user: the progress window opens even
        // when the worker has already ended, and shows the outcome at once.
        m_nExportFilterIndex = chosen.selectedFilter;
        const bool endedUnseen = WaitForExport();
        const ExportOutcome outcome = m_script.GetExportOutcome();
        if (endedUnseen && (outcome == ExportOutcome::RenderFailed || outcome == ExportOutcome::SaveFailed)) {
            ShowError(TranslateMessage(m_script.GetLastError()));
        }
    }
    if (!m_script.PreviewWorker().m_bRunning.load()) {
        m_nShownStage = 0;
        m_script.StartPreview();
    }
    StartSideViews();
    StartTimers();
}

void CFractalDlg::OnExportSettings()
{
    StopTimers();
    EndDrag();
    StopSideViews();
    m_script.StopPreview();
    COutportSetDlg dialog(m_services, this);
    dialog.m_nWidth = m_script.GetImageWidth();
    dialog.m_nHeight = m_script.GetImageHeight();
    dialog.m_nPngLevel = m_script.GetPngLevel();
    dialog.m_nAntialias = m_script.GetAntialias();
    dialog.m_bKeepFraming = m_bKeepFraming ? 1 : 0;
    const bool accepted = m_services.RunExportSize(dialog);
    if (accepted) {
        m_script.SetPngLevel(dialog.m_nPngLevel);
        m_bKeepFraming = dialog.m_bKeepFraming != 0;
    }
    const int width = m_script.GetImageWidth();
    const int height = m_script.GetImageHeight();
    const bool resized = dialog.m_nWidth != width || dialog.m_nHeight != height;
    if (accepted && (resized || dialog.m_nAntialias != m_script.GetAntialias())) {
        // Kept framing: the same part of the plane at the new size, its centre where it was (the
        // document's rule keeps the scale, so that a larger picture shows more of the plane).
        const bool reframe = resized && m_bKeepFraming;
        const PlaneView framed = Fitted(m_script.GetView(), width, height, dialog.m_nWidth, dialog.m_nHeight);
        PictureEdit edit;
        edit.imageSize = std::pair { dialog.m_nWidth, dialog.m_nHeight };
        edit.antialias = dialog.m_nAntialias;
        if (reframe && std::isfinite(framed.ratio) && framed.ratio > 0) {
            edit.view = framed;
        }
        Record(EditKind::Single, std::move(edit));
        ApplyPreviewSize();
    }
    m_nShownStage = 0;
    m_script.StartPreview();
    StartSideViews();
    StartTimers();
}

void CFractalDlg::OnResetPaletteMapping()
{
    // Where loading a palette puts it: the way back for handles dragged out of reach.
    EndDrag();
    PictureEdit edit;
    edit.mapping = IdentityMapping(m_script.GetMapping().stretch);
    Record(EditKind::Single, std::move(edit));
    m_nShownStage = 0;
    m_mapAtDragStart = m_script.GetMapping();
    Repaint();
}

void CFractalDlg::OnAbout() { m_services.ShowAbout(this); }

void CFractalDlg::StopSideViews()
{
    if (m_largeView) {
        m_largeView->StopRendering();
    }
    if (m_constantMap) {
        m_constantMap->StopRendering();
    }
}

void CFractalDlg::StartSideViews()
{
    if (m_largeView) {
        m_largeView->StartRendering();
    }
    if (m_constantMap) {
        m_constantMap->StartRendering();
    }
}

void CFractalDlg::OnLargeView()
{
    if (!m_largeView) {
        m_largeView = std::make_unique<CLargeView>(*this, m_script);
    }
    m_largeView->showNormal();
    m_largeView->raise();
    m_largeView->activateWindow();
}

void CFractalDlg::OnLargeViewFullScreen()
{
    OnLargeView();
    m_largeView->showFullScreen();
}

void CFractalDlg::OnConstantMap()
{
    if (!m_constantMap) {
        m_constantMap = std::make_unique<CConstantMapWindow>(*this, m_script);
    }
    m_constantMap->show();
    m_constantMap->raise();
    m_constantMap->activateWindow();
}
