// foreground.exe DIR
// Makes a small visible window, brings it to the foreground (taking the
// activation from whatever had it), writes DIR\foreground.txt with its handle
// and whether it is now the foreground window, and stays until DIR\quit
// appears or 15 minutes pass (a long case in the emulated i386 machine
// keeps its owner window for minutes).
#include "helper_io.h"

#include <cstdio>

static LRESULT CALLBACK ForegroundProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    char **argv;
    int argc = HelperArgs(&argv);
    if (argc < 2)
        return 2;
    std::string dir = argv[1];
    std::string readyFile = dir + "\\foreground.txt";
    std::string quitFile = dir + "\\quit";

    WNDCLASSA wc;
    ZeroMemory(&wc, sizeof wc);
    wc.lpfnWndProc = ForegroundProc;
    wc.hInstance = instance;
    wc.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    wc.lpszClassName = "VellomireForeground";
    if (!RegisterClassA(&wc))
        return 3;
    HWND hwnd = CreateWindowExA(WS_EX_TOPMOST, wc.lpszClassName, "Foreground",
                                WS_POPUP | WS_VISIBLE, 10, 10, 100, 100, NULL, NULL, instance, NULL);
    if (!hwnd)
        return 4;
    BOOL done = SetForegroundWindow(hwnd);
    char text[96];
    snprintf(text, sizeof text, "hwnd=%lu\nset=%d\nforeground=%d\n", (unsigned long)(ULONG_PTR)hwnd,
             done ? 1 : 0, GetForegroundWindow() == hwnd ? 1 : 0);
    WriteFileAtomically(readyFile.c_str(), text);

    DWORD start = GetTickCount();
    while (!FileExists(quitFile.c_str()) && GetTickCount() - start < 15 * 60000) {
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        MsgWaitForMultipleObjects(0, NULL, FALSE, 20, QS_ALLINPUT);
    }
    DestroyWindow(hwnd);
    return 0;
}
