#include "cli.h"
#include "language.h"
#include "signalcleanup.h"

#include <QCoreApplication>
#include <QTranslator>

#include <iostream>

int main(int argc, char** argv)
{
    InstallSignalCleanup();
    // No display: a core application is enough for the image codecs' plugins.
    QCoreApplication app(argc, argv);
    // The messages in the first of the user's languages that the program speaks, else Chinese.
    InstallUserLanguage();
    // The help texts are written in English: Chinese is their translation.
    QTranslator help;
    if (ShownLanguage() == QLatin1String("zh_CN")
        && help.load(QStringLiteral(":/glimmerset/i18n/glimmerset-cli_zh_CN.qm"))) {
        QCoreApplication::installTranslator(&help);
    }
    std::vector<std::string> args(argv + 1, argv + argc);
    const int code = RunCommandLine(args, std::cout, std::cerr);
    std::cout.flush();
    return code;
}
