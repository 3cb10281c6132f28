// Reference for the fixed work of the saver's holding tick, without the
// saver: a full-screen black window like the saver's whose window timer 1
// fires every 1000 ms, and whose procedure does on each tick only what every
// tick of the show must do: yield the rest of the time slice, kill the timer,
// arm it again, and hand the message to DefWindowProcA. The command line
// gives its lifetime in seconds (default 600); a key ends it too.
#include <windows.h>
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
    case WM_KEYDOWN:
        DestroyWindow(hwnd);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    ticksLeft = atoi(commandLine);
    if (ticksLeft <= 0)
        ticksLeft = 600;
    WNDCLASSA windowClass = {};
    windowClass.style = CS_OWNDC | CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
    windowClass.lpfnWndProc = RearmProc;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = (HBRUSH)GetStockObject(BLACK_BRUSH);
    windowClass.lpszClassName = "BenchRearm";
    if (!RegisterClassA(&windowClass))
        return 1;
    HWND hwnd = CreateWindowExA(WS_EX_TOPMOST, "BenchRearm", "Rearm",
                                WS_POPUP | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0, 0,
                                GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
                                NULL, NULL, instance, NULL);
    if (hwnd == NULL)
        return 1;
    SetTimer(hwnd, 1, 1000, NULL);
    MSG message;
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}
