#pragma once

#include <QCoreApplication>
#include <QString>
#include <QStringList>

#include <vector>

class COutportDlg;
class COutportSetDlg;
class CSettingDlg;
class QUrl;
class QWidget;

enum class MessageIcon { Error, Question, Exclamation, Information };
enum class MessageButtons { Ok, YesNoCancel };
enum class MessageAnswer { Ok, Yes, No, Cancel };

// One entry of a file dialog's type list: the description as the user reads it and its patterns.
struct FileFilter {
    QString description;
    QStringList patterns; // "*.gsc"
};

struct FileDialogRequest {
    QString title;
    std::vector<FileFilter> filters;
    int selectedFilter { 0 };
    QString defaultSuffix; // appended to a name typed without an extension ("" for none)
    QString initialName;
    bool mustExist { false };       // open: the chosen file must exist
    bool overwritePrompt { false }; // save: ask before replacing a file
};

struct FileDialogResult {
    bool accepted { false };
    QString path;
    int selectedFilter { 0 };
};

// The window framework services the main window and its commands call: message boxes, file
// dialogs and the modal dialogs. The program uses the Qt implementation; tests answer instead.
class CWindowServices {
public:
    virtual ~CWindowServices() = default;
    virtual MessageAnswer ShowMessage(QWidget* parent, const QString& text, const QString& caption,
        MessageIcon icon, MessageButtons buttons)
        = 0;
    virtual FileDialogResult ChooseFileToOpen(QWidget* parent, const FileDialogRequest& request) = 0;
    virtual FileDialogResult ChooseFileToSave(QWidget* parent, const FileDialogRequest& request) = 0;
    virtual void ShowAbout(QWidget* parent) = 0;
    // Opens a page in the user's browser (the About box's contact button); by default nothing.
    virtual void OpenUrl(QWidget*, const QUrl&) { }
    // The modal dialogs, filled by the caller; true when they end with OK. Unless a service says
    // otherwise they end with Cancel and the export progress window closes at once.
    virtual bool RunSettings(CSettingDlg&) { return false; }
    virtual bool RunExportSize(COutportSetDlg&) { return false; }
    virtual void RunExportProgress(COutportDlg&) { }
    // Asks for a whole number from min to max, starting at value (the extended iteration limit); true,
    // with the answer in value, when the user accepts. Unless a service says otherwise it is declined.
    virtual bool AskWholeNumber(QWidget*, const QString& /*title*/, const QString& /*label*/, int /*min*/,
        int /*max*/, int& /*value*/)
    {
        return false;
    }
};

// The real services: QMessageBox, QFileDialog and the program's dialogs.
class CQtWindowServices : public CWindowServices {
    Q_DECLARE_TR_FUNCTIONS(CQtWindowServices)

public:
    MessageAnswer ShowMessage(QWidget* parent, const QString& text, const QString& caption, MessageIcon icon,
        MessageButtons buttons) override;
    FileDialogResult ChooseFileToOpen(QWidget* parent, const FileDialogRequest& request) override;
    FileDialogResult ChooseFileToSave(QWidget* parent, const FileDialogRequest& request) override;
    void ShowAbout(QWidget* parent) override;
    void OpenUrl(QWidget* parent, const QUrl& url) override;
    bool RunSettings(CSettingDlg& dialog) override;
    bool RunExportSize(COutportSetDlg& dialog) override;
    void RunExportProgress(COutportDlg& dialog) override;
    bool AskWholeNumber(
        QWidget* parent, const QString& title, const QString& label, int min, int max, int& value) override;
};

// A filter entry in Qt's syntax: the description, then its patterns in parentheses unless the
// description already ends with them ("Glimmerset脚本文件 (*.gsc)").
QString QtFilter(const FileFilter& filter);

// The About box's text lines, under "Glimmerset Version 0.01".
QStringList AboutLines();
