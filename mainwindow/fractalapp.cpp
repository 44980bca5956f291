#include "fractalapp.h"

#include "fractaldlg.h"
#include "language.h"
#include "windowservices.h"

#include <QLibraryInfo>
#include <QTranslator>

namespace {

const QString kVersion = QStringLiteral("0.01");
const QString kUsageLine = QStringLiteral("Usage: glimmerset [OPTION]... [SCRIPT]\n");
const QString kHelp = kUsageLine
    + QStringLiteral("\n"
                     "Explores escape-time fractals of the Julia-set family. Opens SCRIPT (a .gsc file) at\n"
                     "start-up, or a new Julia set without one.\n"
                     "\n"
                     "Options:\n"
                     "  -h, --help     show this help and exit\n"
                     "  -V, --version  show the version and exit\n"
                     "  --             end of options: the next argument is the script\n"
                     "\n"
                     "Qt's own options (-platform NAME, -style NAME, ...) are accepted as well.\n"
                     "\n"
                     "In the window: the arrow keys change the current constant, A and Z its step, C picks\n"
                     "the constant, R resets the palette mapping (keeping the stretch), Esc closes.\n"
                     "\n"
                     "SCRIPT may also be a PNG or JPEG picture exported by Glimmerset: it opens the script\n"
                     "it carries, as a new script. The window speaks the first of the user's languages\n"
                     "(LANGUAGE, LC_ALL, LC_MESSAGES, LANG) that it has, English or Chinese; else Chinese.\n"

                     "Ctrl+Z undoes an edit, Ctrl+Shift+Z or Ctrl+Y redoes it; Home resets the view, + and -\n"
                     "zoom about the centre. The status line shows the point under the mouse, the width\n"
                     "of the view and the preview's progress.\n");

// Qt's options that QApplication reads itself: those followed by a value, and the flags.
const QStringList kQtValueOptions { QStringLiteral("platform"), QStringLiteral("platformpluginpath"),
    QStringLiteral("platformtheme"), QStringLiteral("plugin"), QStringLiteral("qwindowgeometry"),
    QStringLiteral("qwindowicon"), QStringLiteral("qwindowtitle"), QStringLiteral("display"),
    QStringLiteral("geometry"), QStringLiteral("style"), QStringLiteral("stylesheet"),
    QStringLiteral("session"), QStringLiteral("name"), QStringLiteral("title") };
const QStringList kQtFlags { QStringLiteral("reverse"), QStringLiteral("widgetcount"),
    QStringLiteral("nograb"), QStringLiteral("dograb"), QStringLiteral("sync") };

} // namespace

CFractalApp::CFractalApp(int& argc, char** argv)
    : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("Glimmerset"));
    setApplicationVersion(kVersion);
    // The key under which the framework keeps settings; the program keeps its state in scripts only.
    setOrganizationName(QStringLiteral(u"应用程序向导生成的本地应用程序"));
    // Ties the window to its launcher: the Wayland app id and the desktop entry share this name, and
    // the X11 window class is the application name above, the entry's StartupWMClass.
    setDesktopFileName(QStringLiteral("org.glimmerset.Glimmerset"));
    // The first of the user's languages that the program speaks, else Chinese; Qt's own dialogs
    // follow the program, not the system.
    m_qtTranslation = LoadQtTranslation(InstallUserLanguage());
    if (m_qtTranslation) {
        installTranslator(m_qtTranslation.get());
    }
}

std::unique_ptr<QTranslator> CFractalApp::LoadQtTranslation(const QString& language)
{
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(
            QStringLiteral("qtbase_") + language, QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        return nullptr;
    }
    return translator;
}

StartRequest CFractalApp::ParseArguments(const QStringList& args)
{
    StartRequest request;
    QStringList scripts;
    bool options = true;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        if (!options || arg == QStringLiteral("-") || !arg.startsWith(QLatin1Char('-'))) {
            scripts.append(arg);
            continue;
        }
        if (arg == QStringLiteral("--")) {
            options = false;
            continue;
        }
        if (arg == QStringLiteral("-h") || arg == QStringLiteral("--help")) {
            return { true, 0, kHelp, {}, {} };
        }
        if (arg == QStringLiteral("-V") || arg == QStringLiteral("--version")) {
            return { true, 0, QStringLiteral("glimmerset %1\n").arg(kVersion), {}, {} };
        }
        // Qt takes "-style NAME", "--style NAME" and "-style=NAME".
        const QString name
            = arg.mid(arg.startsWith(QStringLiteral("--")) ? 2 : 1).section(QLatin1Char('='), 0, 0);
        if (kQtValueOptions.contains(name)) {
            if (!arg.contains(QLatin1Char('='))) {
                ++i;
            }
            continue;
        }
        if (kQtFlags.contains(name)) {
            continue;
        }
        request.exit = true;
        request.exitCode = 2;
        request.err = QStringLiteral("glimmerset: unknown option '%1'\n").arg(arg) + kUsageLine;
        return request;
    }
    // Exactly one script is opened; with more, none of them.
    if (scripts.size() == 1) {
        request.scriptPath = scripts.constFirst();
    }
    return request;
}

int CFractalApp::Run(const QString& scriptPath)
{
    CQtWindowServices services;
    CFractalDlg window(services);
    window.Initialize(scriptPath);
    window.show();
    return exec();
}
