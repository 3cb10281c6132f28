// The program's main entry: the start-up calls it first thing. Its arguments
// are ignored; SaverEntry reads the system's own command line and ends the
// process itself.
#include "host.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    SaverEntry();
    return 0;
}
