#include "fractalapp.h"
#include "signalcleanup.h"

int main(int argc, char** argv)
{
    InstallSignalCleanup();
    CFractalApp app(argc, argv);
    return app.Run();
}
