// The main window's script-file commands: New, Open, Save, Save As, scripts dropped on the window
// and the save-changes question they and the close query ask.
#include "fractaldlg.h"
#include "language.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>

#include <algorithm>

namespace {

// The one entry of the script-file dialogs.
std::vector<FileFilter> ScriptFilters()
{
    return { { QCoreApplication::translate("CFractalDlg", "Glimmerset脚本文件 (*.gsc)"),
        { QStringLiteral("*.gsc") } } };
}

// The exported pictures that carry their script, which Open and a drop open as well.
const QStringList kPicturePatterns { QStringLiteral("*.png"), QStringLiteral("*.jpg"),
    QStringLiteral("*.jpeg") };

// Open's entries: the scripts first, as the dialog has always shown them, then the pictures.
std::vector<FileFilter> OpenFilters()
{
    std::vector<FileFilter> filters = ScriptFilters();
    filters.push_back({ QCoreApplication::translate("CFractalDlg", "带脚本的图片 (*.png *.jpg *.jpeg)"),
        kPicturePatterns });
    return filters;
}

} // namespace

bool CFractalDlg::SaveChangesQuery()
{
    if (!m_script.IsModified()) {
        return true;
    }
    const MessageAnswer answer = m_services.ShowMessage(this, tr("当前脚本已经被修改，是否需要保存修改？"),
        tr("保存修改"), MessageIcon::Question, MessageButtons::YesNoCancel);
    if (answer == MessageAnswer::Cancel) {
        Resume();
        return false;
    }
    if (answer == MessageAnswer::Yes) {
        const bool saved = OnFileSave();
        // Work the user asked to keep and that was not kept: the command does not go on.
        if (!saved) {
            Resume();
            return false;
        }
        Pause();
    }
    return true;
}

void CFractalDlg::OnFileNew()
{
    Pause();
    if (!SaveChangesQuery()) {
        return;
    }
    StartNewScript();
    UpdateTitle();
    ResetHistory();
    m_nShownStage = 0;
    m_mapAtDragStart = m_script.GetMapping();
    Resume();
}

void CFractalDlg::StartNewScript()
{
    m_script.SetDefaults();
    ApplyPreviewSize();
    m_script.LoadPalette(QString());
    m_strScriptPath.clear();
}

void CFractalDlg::OnFileOpen()
{
    Pause();
    if (!SaveChangesQuery()) {
        return;
    }
    FileDialogRequest request;
    request.title = tr("打开");
    request.filters = OpenFilters();
    request.defaultSuffix = QStringLiteral("gsc");
    request.mustExist = true;
    const FileDialogResult chosen = m_services.ChooseFileToOpen(this, request);
    if (chosen.accepted) {
        LoadScript(chosen.path);
    }
    Resume();
}

void CFractalDlg::LoadScript(const QString& path, ScriptSource source)
{
    m_strScriptPath = path;
    QString paletteName;
    DecodedPalette decoded;
    const bool named = CFractalScript::ReadPaletteName(path, paletteName) && !paletteName.isEmpty();
    if (named) {
        decoded = DecodePaletteAside(paletteName, QFileInfo(path).absolutePath());
    }
    // A picture opens its script as a new one: Save must never write a script over the picture.
    const bool picture = IsPictureFile(path);
    const bool clipboard = source == ScriptSource::Clipboard;
    if (!m_script.Load(path, named ? &decoded : nullptr)) {
        QString message = clipboard ? tr("无法读取剪贴板中的脚本！") : tr("读取文件[%1]失败！").arg(path);
        // A formula that does not compile says which, where and what; so does a picture's reason.
        if (m_script.GetLastFormulaError()) {
            message += QLatin1Char('\n') + FormulaErrorText(m_script.GetLastFormulaError());
        } else if (picture || clipboard) {
            message += QLatin1Char('\n') + TranslateMessage(m_script.GetLastError());
        }
        ShowError(message);
        m_strScriptPath.clear();
    } else {
        ShowPaletteWarning();
    }
    if (picture || clipboard) {
        m_strScriptPath.clear();
    }
    if (clipboard) {
        m_script.SetScriptFolder(QDir::currentPath());
    }
    ApplyPreviewSize();
    UpdateTitle();
    ResetHistory(); // also after a failed load: what it left is where the new history starts
    m_nShownStage = 0;
    m_mapAtDragStart = m_script.GetMapping();
}

QString CFractalDlg::DroppedScript(const QMimeData* data)
{
    // One local file whose name ends in .gsc, or a picture's that may carry its script; anything
    // else is not for this window.
    if (data == nullptr || !data->hasUrls() || data->urls().size() != 1) {
        return {};
    }
    const QUrl url = data->urls().constFirst();
    const QString path = url.toLocalFile();
    const bool named = path.endsWith(QStringLiteral(".gsc"), Qt::CaseInsensitive)
        || std::any_of(kPicturePatterns.begin(), kPicturePatterns.end(),
            [&path](const QString& pattern) { return path.endsWith(pattern.mid(1), Qt::CaseInsensitive); });
    if (!url.isLocalFile() || !named) {
        return {};
    }
    return path;
}

void CFractalDlg::OnDropScript(const QString& path)
{
    Pause();
    if (!SaveChangesQuery()) {
        return;
    }
    LoadScript(path);
    Resume();
}

bool CFractalDlg::AcceptsDrop(const QMimeData* data) const
{
    return !m_bWaitingForExport && !DroppedScript(data).isEmpty();
}

void CFractalDlg::OnDrop(const QMimeData* data)
{
    const QString path = DroppedScript(data);
    // Opened after the drop has returned to its source: the save-changes question is modal.
    QTimer::singleShot(0, this, [this, path] { OnDropScript(path); });
}

bool CFractalDlg::OnFileSave()
{
    if (m_strScriptPath.isEmpty()) {
        return OnFileSaveAs();
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QString reason;
    const bool saved = m_script.Save(m_strScriptPath, &reason);
    QApplication::restoreOverrideCursor();
    if (saved) {
        m_history.Stack().setClean();
    } else {
        ShowError(tr("保存到文件[%1]失败！").arg(m_strScriptPath) + QLatin1Char('\n') + reason);
        m_strScriptPath.clear();
    }
    UpdateTitle();
    return saved;
}

bool CFractalDlg::OnFileSaveAs()
{
    // The preview worker keeps running: saving only reads the script.
    StopTimers();
    EndDrag();
    FileDialogRequest request;
    request.title = tr("另存为");
    request.filters = ScriptFilters();
    request.defaultSuffix = QStringLiteral("gsc");
    request.initialName = m_strFileTitle + QStringLiteral(".gsc");
    request.overwritePrompt = true;
    const FileDialogResult chosen = m_services.ChooseFileToSave(this, request);
    bool saved = false;
    if (chosen.accepted) {
        m_strScriptPath = chosen.path;
        saved = OnFileSave();
    }
    StartTimers();
    return saved;
}

bool CFractalDlg::CloseQuery()
{
    Pause();
    if (!SaveChangesQuery()) {
        return false;
    }
    return true;
}
