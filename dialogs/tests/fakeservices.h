#pragma once

#include "windowservices.h"

#include <QUrl>

#include <deque>
#include <vector>

// The window services of every window and dialog test: answers message boxes and file dialogs from
// queues (OK, or Cancel for a question, when a queue is empty) and records what was asked.
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

    FileDialogResult ChooseFileToOpen(QWidget*, const FileDialogRequest& request) override
    {
        return Next(FileDialogKind::Open, request);
    }
    FileDialogResult ChooseFileToSave(QWidget*, const FileDialogRequest& request) override
    {
        return Next(FileDialogKind::Save, request);
    }
    void ShowAbout(QWidget* parent) override
    {
        ++aboutShown;
        aboutParent = parent;
    }

    void OpenUrl(QWidget*, const QUrl& url) override { opened.push_back(url); }

    // Answers from numbers (declined when it is empty); records the range and the value offered.
    bool AskWholeNumber(QWidget*, const QString&, const QString&, int min, int max, int& value) override
    {
        asked.push_back({ min, max, value });
        if (numbers.empty()) {
            return false;
        }
        value = numbers.front();
        numbers.pop_front();
        return true;
    }
    struct NumberRequest {
        int min, max, offered;
    };
    std::deque<int> numbers;
    std::vector<NumberRequest> asked;

    enum class FileDialogKind { Open, Save };
    struct FileRequest {
        FileDialogKind kind;
        FileDialogRequest request;
    };

    // The last message's text, or an empty text.
    QString Last() const { return messages.empty() ? QString() : messages.back().text; }

    // An accepted file dialog that returns path.
    void ChooseFile(const QString& path) { files.push_back({ true, path, 0 }); }

    std::deque<MessageAnswer> answers;
    std::deque<FileDialogResult> files; // empty: the dialog is cancelled
    std::vector<Message> messages;
    std::vector<FileRequest> fileRequests;
    std::vector<QUrl> opened; // pages the window asked the browser for
    int aboutShown { 0 };
    QWidget* aboutParent { nullptr };

private:
    FileDialogResult Next(FileDialogKind kind, const FileDialogRequest& request)
    {
        fileRequests.push_back({ kind, request });
        if (files.empty()) {
            return {};
        }
        const FileDialogResult result = files.front();
        files.pop_front();
        return result;
    }
};
