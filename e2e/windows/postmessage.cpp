// postmessage.exe HWND MESSAGE [WPARAM [LPARAM]]
// Posts one message to a window of another process (all numbers decimal);
// exits with 0 when PostMessageA succeeded.
#include "helper_io.h"

#include <cstdlib>

int main()
{
    char **argv;
    int argc = HelperArgs(&argv);
    if (argc < 3)
        return 2;
    HWND hwnd = (HWND)(ULONG_PTR)strtoul(argv[1], NULL, 10);
    UINT message = (UINT)strtoul(argv[2], NULL, 10);
    WPARAM wParam = argc > 3 ? (WPARAM)strtoul(argv[3], NULL, 10) : 0;
    LPARAM lParam = argc > 4 ? (LPARAM)strtol(argv[4], NULL, 10) : 0;
    return PostMessageA(hwnd, message, wParam, lParam) ? 0 : 1;
}
