// Reference for the saver's start-up: a Win32 program that opens a black,
// topmost, full-screen popup window and waits. A key or a mouse button ends
// it; so does its lifetime in seconds, given on the command line (default 60).
#include "full_screen_window.h"
#include <stdlib.h>

static LRESULT CALLBACK BlackWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_LBUTTONDOWN || message == WM_TIMER) {
        DestroyWindow(hwnd);
        return 0;
    }
    return FullScreenDefaultProc(hwnd, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    int seconds = atoi(commandLine);
    if (seconds <= 0)
        seconds = 60;
    HWND hwnd = OpenFullScreenWindow(instance, "BenchBlackWindow", "Black", BlackWindowProc, 0, 0);
    if (hwnd == NULL)
        return 1;
    SetForegroundWindow(hwnd);
    SetTimer(hwnd, 1, (UINT)seconds * 1000, NULL);
    return RunMessageLoop();
}
