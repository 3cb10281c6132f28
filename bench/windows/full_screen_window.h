// The full-screen window that the reference programs share with the saver's
// own: a topmost black popup covering the screen, its class registered here,
// a procedure tail that ends the program on a key, and the message loop.
#ifndef BENCH_FULL_SCREEN_WINDOW_H
#define BENCH_FULL_SCREEN_WINDOW_H

#include <windows.h>

// Registers the class and opens the window; NULL when either fails.
static inline HWND OpenFullScreenWindow(HINSTANCE instance, const char *className, const char *title,
                                 WNDPROC procedure, UINT classStyle, DWORD style)
{
    WNDCLASSA windowClass = {};
    windowClass.style = classStyle;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = (HBRUSH)GetStockObject(BLACK_BRUSH);
    windowClass.lpszClassName = className;
    if (!RegisterClassA(&windowClass))
        return NULL;
    return CreateWindowExA(WS_EX_TOPMOST, className, title, WS_POPUP | WS_VISIBLE | style, 0, 0,
                           GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), NULL,
                           NULL, instance, NULL);
}

// What every reference window does with the messages it leaves: a key ends
// the program, and so does the window's end.
static inline LRESULT FullScreenDefaultProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_KEYDOWN:
        DestroyWindow(hwnd);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

static inline int RunMessageLoop(void)
{
    MSG message;
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}

#endif
