// The program's main entry: the runtime calls it after its own start-up. The
// arguments that the runtime prepared are ignored; SaverEntry reads the
// system's own command line and ends the process itself.
#include "host.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    SaverEntry();
    return 0;
}
