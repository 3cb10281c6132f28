// Reference for the saver's code size: the smallest GUI program, linked
// statically with the same MinGW runtime and flags as the saver.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return 0;
}
