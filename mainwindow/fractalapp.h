#pragma once

#include <QApplication>

// The application: starts the main window with the script named on the command line (exactly one
// argument) or a new Julia set, and ends when the window closes. Holds no state of its own.
class CFractalApp : public QApplication {
public:
    CFractalApp(int& argc, char** argv);
    int Run();
};
