#pragma once

#include "language.h"

#include <QApplication>
#include <QString>
#include <QStringList>
#include <QTranslator>

#include <memory>

// What the command line asks of the window program, decided before any display is needed.
struct StartRequest {
    bool exit { false }; // print and end instead of opening the window
    int exitCode { 0 };  // when exit: 0 for --help and --version, 2 for a usage error
    QString out;         // for standard output
    QString err;         // for standard error
    QString scriptPath;  // the one script named, or empty for a new Julia set
};

// The application: starts the main window with the script named on the command line (exactly one
// argument) or a new Julia set, and ends when the window closes. Holds no state of its own.
class CFractalApp : public QApplication {
public:
    CFractalApp(int& argc, char** argv);
    int Run(const QString& scriptPath);

    // Reads the arguments after the program's name: --help and --version, Qt's own options (which
    // QApplication takes), "--" before a script whose name starts with '-', and the script. Help and
    // usage errors are in language ("zh_CN", "en"), by default the user's.
    static StartRequest ParseArguments(const QStringList& args, const QString& language = UserLanguage());
    // Qt's own texts (standard buttons, file dialogs) in the window's language ("zh_CN", "en"); null
    // when the translation is not installed.
    static std::unique_ptr<QTranslator> LoadQtTranslation(const QString& language);

private:
    std::unique_ptr<QTranslator> m_qtTranslation;
};
