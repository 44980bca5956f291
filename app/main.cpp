#include "fractalapp.h"
#include "signalcleanup.h"

#include <cstdio>

int main(int argc, char** argv)
{
    InstallSignalCleanup();
    // --help, --version and usage errors are answered before a display is needed.
    QStringList args;
    for (int i = 1; i < argc; ++i) {
        args.append(QString::fromLocal8Bit(argv[i]));
    }
    const StartRequest request = CFractalApp::ParseArguments(args);
    if (request.exit) {
        std::fputs(request.out.toLocal8Bit().constData(), stdout);
        std::fputs(request.err.toLocal8Bit().constData(), stderr);
        return request.exitCode;
    }
    CFractalApp app(argc, argv);
    return app.Run(request.scriptPath);
}
