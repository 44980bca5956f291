#include "fractalapp.h"

int main(int argc, char** argv)
{
    CFractalApp app(argc, argv);
    return app.Run();
}
