#pragma once

#include "windowservices.h"

#include <deque>

// Answers the window's message boxes and dialogs from queues, and records what was asked.
class CFakeServices : public CWindowServices {
public:
    struct Message {
        QString text;
        QString caption;
        MessageIcon icon;
        MessageButtons buttons;
    };

    MessageAnswer ShowMessage(QWidget*, const QString& text, const QString& caption, MessageIcon icon,
        MessageButtons buttons) override
    {
        messages.push_back({ text, caption, icon, buttons });
        if (answers.empty()) {
            return buttons == MessageButtons::Ok ? MessageAnswer::Ok : MessageAnswer::Cancel;
        }
        const MessageAnswer answer = answers.front();
        answers.pop_front();
        return answer;
    }

    FileDialogResult ChooseFileToOpen(QWidget*, const FileDialogRequest& request) override { return Next(request); }
    FileDialogResult ChooseFileToSave(QWidget*, const FileDialogRequest& request) override { return Next(request); }
    void ShowAbout(QWidget*) override { ++aboutShown; }

    std::deque<MessageAnswer> answers;
    std::deque<FileDialogResult> files;
    std::vector<Message> messages;
    std::vector<FileDialogRequest> fileRequests;
    int aboutShown { 0 };

private:
    FileDialogResult Next(const FileDialogRequest& request)
    {
        fileRequests.push_back(request);
        if (files.empty()) {
            return {};
        }
        const FileDialogResult result = files.front();
        files.pop_front();
        return result;
    }
};
