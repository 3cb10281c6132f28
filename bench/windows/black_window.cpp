// Reference for the saver's start-up: a Win32 program that opens a black,
// topmost, full-screen popup window and waits. A key or a mouse button ends
// it; so does its lifetime in seconds, given on the command line (default 60).
#include <windows.h>
#include <stdlib.h>

static LRESULT CALLBACK BlackWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_KEYDOWN:
    case WM_LBUTTONDOWN:
    case WM_TIMER:
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
    int seconds = atoi(commandLine);
    if (seconds <= 0)
        seconds = 60;
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = BlackWindowProc;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = (HBRUSH)GetStockObject(BLACK_BRUSH);
    windowClass.lpszClassName = "BenchBlackWindow";
    if (!RegisterClassA(&windowClass))
        return 1;
    HWND hwnd = CreateWindowExA(WS_EX_TOPMOST, "BenchBlackWindow", "Black", WS_POPUP | WS_VISIBLE,
                                0, 0, GetSystemMetrics(SM_CXSCREEN),
                                GetSystemMetrics(SM_CYSCREEN), NULL, NULL, instance, NULL);
    if (hwnd == NULL)
        return 1;
    SetForegroundWindow(hwnd);
    SetTimer(hwnd, 1, (UINT)seconds * 1000, NULL);
    MSG message;
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}
