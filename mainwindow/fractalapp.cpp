#include "fractalapp.h"

#include "fractaldlg.h"
#include "language.h"
#include "windowservices.h"

#include <QLibraryInfo>
#include <QTranslator>

namespace {

const QString kVersion = QStringLiteral("0.01");
// The texts of the command line, written in Chinese like the window's and shown in the user's language
// (translated before any application exists).
const char* const kUsageLine = QT_TRANSLATE_NOOP("CFractalApp", "用法：glimmerset [选项]... [脚本]\n");
const char* const kUnknownOption = QT_TRANSLATE_NOOP("CFractalApp", "glimmerset：未知的选项“%1”\n");
const char* const kHelp = QT_TRANSLATE_NOOP("CFractalApp",
    "\n"
    "探索 Julia 集一族的逃逸时间分形。启动时打开脚本（.gsc 文件），没有脚本时新建一个 Julia 集。\n"
    "\n"
    "选项：\n"
    "  -h, --help     显示本帮助并退出\n"
    "  -V, --version  显示版本并退出\n"
    "  --             选项到此为止：下一个参数是脚本\n"
    "\n"
    "也接受 Qt 自己的选项（-platform 名称、-style 名称……）。\n"
    "\n"
    "窗口中：方向键修改当前常量，A 和 Z 修改其精度，C 选择常量，R 重置调色板映射（保留拉伸），\n"
    "Esc 关闭。按住方向键时立即修改一次，十分之一秒后每 10 毫秒修改一次；按住一次是一个撤销步骤。\n"
    "Ctrl+Z 撤销，Ctrl+Shift+Z 或 Ctrl+Y 重做；Home 重置视图，+ 和 - 以中心缩放。\n"
    "Ctrl+C 把图片和它的脚本复制到剪贴板，Ctrl+V 从剪贴板中的脚本文本或带脚本的图片打开脚本。\n"
    "F11 全屏打开大视图（视图 › 大视图）；视图 › 常量图显示当前常量的参数平面，单击或拖动设置常量。\n"
    "状态栏显示鼠标下的点、视图的宽度和预览的进度；单击数字复制它的完整值。\n"
    "\n"
    "脚本也可以是 Glimmerset 导出的 PNG 或 JPEG 图片：打开它携带的脚本，作为新脚本。\n"
    "窗口使用用户的语言（LANGUAGE、LC_ALL、LC_MESSAGES、LANG）中第一个它会的，英文或中文；\n"
    "都不是时用中文。\n");

QString StartText(const QString& language, const char* text)
{
    return TranslateIn(language, "CFractalApp", text);
}

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

StartRequest CFractalApp::ParseArguments(const QStringList& args, const QString& language)
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
            return { true, 0, StartText(language, kUsageLine) + StartText(language, kHelp), {}, {} };
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
        request.err = StartText(language, kUnknownOption).arg(arg) + StartText(language, kUsageLine);
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
