#pragma once

#include "windowservices.h"

#include <vector>

// Records the messages a dialog shows and answers each with OK.
class CRecordingServices : public CWindowServices {
public:
    MessageAnswer ShowMessage(
        QWidget*, const QString& text, const QString&, MessageIcon icon, MessageButtons) override
    {
        messages.push_back(text);
        icons.push_back(icon);
        return MessageAnswer::Ok;
    }
    FileDialogResult ChooseFileToOpen(QWidget*, const FileDialogRequest&) override { return {}; }
    FileDialogResult ChooseFileToSave(QWidget*, const FileDialogRequest&) override { return {}; }
    void ShowAbout(QWidget*) override { }

    QString Last() const { return messages.empty() ? QString() : messages.back(); }

    std::vector<QString> messages;
    std::vector<MessageIcon> icons;
};
