#include "windowservices.h"

#include "aboutdlg.h"
#include "outportdlg.h"
#include "outportsetdlg.h"
#include "settingdlg.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QUrl>

QString QtFilter(const FileFilter& filter)
{
    // Qt reads the patterns from the parentheses at the end, separated by blanks.
    const QString patterns
        = QStringLiteral("(") + filter.patterns.join(QLatin1Char(' ')) + QStringLiteral(")");
    const QString listed = QStringLiteral("(") + filter.patterns.join(QLatin1Char(';')) + QStringLiteral(")");
    if (filter.description.endsWith(listed)) {
        return filter.description.chopped(listed.size()) + patterns;
    }
    return filter.description + QLatin1Char(' ') + patterns;
}

QStringList AboutLines()
{
    return { QCoreApplication::translate("CQtWindowServices", "使用简介："),
        QCoreApplication::translate("CQtWindowServices", " 左右键：修改当前常数实部"),
        QCoreApplication::translate("CQtWindowServices", " 上下键：修改当前常数虚部"),
        QCoreApplication::translate("CQtWindowServices", "      a/z：更改修改精度"),
        QCoreApplication::translate("CQtWindowServices", "        C：选择下一个常量"),
        QCoreApplication::translate("CQtWindowServices", "Shift+C：选择上一个常量"),
        QCoreApplication::translate("CQtWindowServices", "拖动调色板区修改映射原点"),
        QCoreApplication::translate("CQtWindowServices", "拖动调色板角度手柄(小圆点)修改映射角度"),
        QCoreApplication::translate("CQtWindowServices", "在预览区按住鼠标左键拖动图像"),
        QCoreApplication::translate("CQtWindowServices", "鼠标滚轮缩放图像"),
        QCoreApplication::translate("CQtWindowServices", "编辑->参数设置：设置迭代公式等参数"), QString(),
        QCoreApplication::translate("CQtWindowServices", "一起来玩分形吧！") };
}

MessageAnswer CQtWindowServices::ShowMessage(
    QWidget* parent, const QString& text, const QString& caption, MessageIcon icon, MessageButtons buttons)
{
    QMessageBox box(parent);
    box.setWindowTitle(caption);
    box.setText(text);
    switch (icon) {
    case MessageIcon::Error: box.setIcon(QMessageBox::Critical); break;
    case MessageIcon::Question: box.setIcon(QMessageBox::Question); break;
    case MessageIcon::Exclamation: box.setIcon(QMessageBox::Warning); break;
    case MessageIcon::Information: box.setIcon(QMessageBox::Information); break;
    }
    if (buttons == MessageButtons::YesNoCancel) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::Cancel);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    switch (box.exec()) {
    case QMessageBox::Yes: return MessageAnswer::Yes;
    case QMessageBox::No: return MessageAnswer::No;
    case QMessageBox::Cancel: return MessageAnswer::Cancel;
    default: return buttons == MessageButtons::YesNoCancel ? MessageAnswer::Cancel : MessageAnswer::Ok;
    }
}

namespace {

FileDialogResult RunFileDialog(
    QWidget* parent, const FileDialogRequest& request, QFileDialog::AcceptMode mode)
{
    QFileDialog dialog(parent, request.title);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptOpen && request.mustExist ? QFileDialog::ExistingFile
                                                                            : QFileDialog::AnyFile);
    if (mode == QFileDialog::AcceptSave && !request.overwritePrompt) {
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
    }
    QStringList filters;
    for (const FileFilter& filter : request.filters) {
        filters.append(QtFilter(filter));
    }
    dialog.setNameFilters(filters);
    if (request.selectedFilter >= 0 && request.selectedFilter < filters.size()) {
        dialog.selectNameFilter(filters[request.selectedFilter]);
    }
    QString suffix = request.defaultSuffix;
    if (suffix.startsWith(QLatin1Char('.'))) {
        suffix.remove(0, 1);
    }
    dialog.setDefaultSuffix(suffix);
    if (!request.initialName.isEmpty()) {
        dialog.selectFile(request.initialName);
    }
    FileDialogResult result;
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return result;
    }
    result.accepted = true;
    result.path = dialog.selectedFiles().constFirst();
    result.selectedFilter = std::max<int>(0, filters.indexOf(dialog.selectedNameFilter()));
    return result;
}

} // namespace

FileDialogResult CQtWindowServices::ChooseFileToOpen(QWidget* parent, const FileDialogRequest& request)
{
    return RunFileDialog(parent, request, QFileDialog::AcceptOpen);
}

FileDialogResult CQtWindowServices::ChooseFileToSave(QWidget* parent, const FileDialogRequest& request)
{
    return RunFileDialog(parent, request, QFileDialog::AcceptSave);
}

void CQtWindowServices::ShowAbout(QWidget* parent)
{
    CAboutDlg about(*this, parent);
    about.exec();
}

void CQtWindowServices::OpenUrl(QWidget* parent, const QUrl& url)
{
    if (!QDesktopServices::openUrl(url)) {
        ShowMessage(parent, tr("无法打开网页：%1").arg(url.toString()), tr("错误"), MessageIcon::Error,
            MessageButtons::Ok);
    }
}

bool CQtWindowServices::RunSettings(CSettingDlg& dialog) { return dialog.exec() == QDialog::Accepted; }

bool CQtWindowServices::RunExportSize(COutportSetDlg& dialog) { return dialog.exec() == QDialog::Accepted; }

void CQtWindowServices::RunExportProgress(COutportDlg& dialog) { dialog.exec(); }

bool CQtWindowServices::AskWholeNumber(
    QWidget* parent, const QString& title, const QString& label, int min, int max, int& value)
{
    bool accepted = false;
    const int answer = QInputDialog::getInt(parent, title, label, value, min, max, 1, &accepted);
    if (accepted) {
        value = answer;
    }
    return accepted;
}
