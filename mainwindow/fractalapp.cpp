#include "fractalapp.h"

#include "fractaldlg.h"
#include "windowservices.h"

CFractalApp::CFractalApp(int& argc, char** argv)
    : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("Glimmerset"));
    setApplicationVersion(QStringLiteral("0.01"));
    // The key under which the framework keeps settings; the program keeps its state in scripts only.
    setOrganizationName(QStringLiteral(u"应用程序向导生成的本地应用程序"));
    // Ties the window to its launcher: the Wayland app id and the desktop entry share this name, and
    // the X11 window class is the application name above, the entry's StartupWMClass.
    setDesktopFileName(QStringLiteral("org.glimmerset.Glimmerset"));
}

int CFractalApp::Run()
{
    const QStringList args = arguments();
    CQtWindowServices services;
    CFractalDlg window(services);
    window.Initialize(args.size() == 2 ? args.at(1) : QString());
    window.show();
    return exec();
}
