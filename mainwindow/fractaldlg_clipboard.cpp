// The main window's clipboard: Copy puts the picture and its script there, Paste opens a script from
// there, through Open's path and its save-changes question.
#include "fractaldlg.h"

#include "layout.h"
#include "scriptfile.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMimeData>
#include <QTemporaryDir>

QString CFractalDlg::ClipboardScriptText() const
{
    // The palette by its absolute name: a pasted script has no folder of its own to name it from.
    const QString name = m_script.GetPaletteFile();
    const QString palette = name.isEmpty()
        ? QString()
        : QFileInfo(ResolvePalettePath(name, m_script.GetScriptFolder())).absoluteFilePath();
    return ScriptText(m_script.TakeSnapshot(), palette);
}

void CFractalDlg::OnCopy()
{
    // The picture as the preview shows it, carrying its script as an exported picture does.
    const int pw = m_script.GetPreviewWidth();
    const int ph = m_script.GetPreviewHeight();
    QImage picture
        = m_dcPreview.copy((Layout::kPreviewSide - pw) / 2, (Layout::kPreviewSide - ph) / 2, pw, ph);
    const QString text = ClipboardScriptText();
    picture.setText(QString::fromLatin1(kPictureScriptKey), text);
    auto* data = new QMimeData;
    data->setImageData(picture);
    data->setText(text);
    QGuiApplication::clipboard()->setMimeData(data);
}

QString CFractalDlg::PastedScriptText(const QMimeData* data)
{
    if (data == nullptr) {
        return {};
    }
    // A picture that carries its script first: its text may be a caption the picture came with.
    if (data->hasImage()) {
        const QString carried
            = qvariant_cast<QImage>(data->imageData()).text(QString::fromLatin1(kPictureScriptKey));
        if (LooksLikeScriptText(carried)) {
            return carried;
        }
    }
    const QString text = data->hasText() ? data->text() : QString();
    return LooksLikeScriptText(text) ? text : QString();
}

void CFractalDlg::OnPaste()
{
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    // A file copied in a file manager opens as if it were dropped.
    if (const QString path = DroppedScript(data); !path.isEmpty()) {
        OnDropScript(path);
        return;
    }
    QString text = PastedScriptText(data);
    if (text.isEmpty()) {
        ShowError(tr("剪贴板中没有脚本"));
        return;
    }
    Pause();
    if (!SaveChangesQuery()) {
        return;
    }
    // Read as a file is read: the same checks, messages and palette look-up.
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("clipboard.gsc"));
    QFile file(path);
    if (!dir.isValid() || !file.open(QIODevice::WriteOnly) || file.write(EncodeScriptText(text)) < 0) {
        ShowError(tr("无法读取剪贴板中的脚本！"));
        Resume();
        return;
    }
    file.close();
    LoadScript(path, ScriptSource::Clipboard);
    Resume();
}
