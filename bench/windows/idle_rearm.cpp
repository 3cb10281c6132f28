// Reference for the fixed work of the saver's holding tick, without the
// saver: a full-screen black window like the saver's whose window timer 1
// fires every 1000 ms, and whose procedure does on each tick only what every
// tick of the show must do: yield the rest of the time slice, kill the timer,
// arm it again, and hand the message to DefWindowProcA. The command line
// gives its lifetime in seconds (default 600); a key ends it too.
#include "full_screen_window.h"
#include <stdlib.h>

static int ticksLeft;

static LRESULT CALLBACK RearmProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_TIMER:
        Sleep(0);
        KillTimer(hwnd, 1);
        if (--ticksLeft <= 0) {
            DestroyWindow(hwnd);
            return 0;
        }
        SetTimer(hwnd, 1, 1000, NULL);
        break;
    }
    return FullScreenDefaultProc(hwnd, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    ticksLeft = atoi(commandLine);
    if (ticksLeft <= 0)
        ticksLeft = 600;
    HWND hwnd = OpenFullScreenWindow(instance, "BenchRearm", "Rearm", RearmProc,
                                     CS_OWNDC | CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS,
                                     WS_CLIPSIBLINGS | WS_CLIPCHILDREN);
    if (hwnd == NULL)
        return 1;
    SetTimer(hwnd, 1, 1000, NULL);
    return RunMessageLoop();
}
