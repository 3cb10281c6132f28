// The default procedure under the picture show: wake rules and the close
// path, then the system's default handling.
#include "host.h"

static void PostClose(HWND hwnd)
{
    PostMessageA(hwnd, WM_CLOSE, 0, 0);
}

static DWORD Distance(LONG from, LONG to)
{
    return to >= from ? (DWORD)to - (DWORD)from : (DWORD)from - (DWORD)to;
}

// The mouse wakes the saver once it has moved more than the threshold away
// from the reference, which stays put between wakes so that small moves add up.
static void ApplyMouseRule(HWND hwnd)
{
    POINT cursor;
    if (!GetCursorPos(&cursor))
        return;
    DWORD distance = Distance(HostState.lastCursorPos.x, cursor.x) +
                     Distance(HostState.lastCursorPos.y, cursor.y);
    if (distance > HostState.wakeThreshold) {
        PostClose(hwnd);
        HostState.lastCursorPos = cursor;
    }
}

// On the Windows 95 family a close first asks the password verifier; a
// refused close keeps the saver and measures the mouse from where it is now.
static LRESULT HandleClose(HWND hwnd, WPARAM wParam, LPARAM lParam)
{
    if (!HostState.isWin95Family || VerifyClose(hwnd))
        return DefWindowProcA(hwnd, WM_CLOSE, wParam, lParam);
    POINT cursor;
    if (GetCursorPos(&cursor))
        HostState.lastCursorPos = cursor;
    return 0;
}

static LRESULT AnswerVerifyRequest(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!HostState.isWin95Family)
        return DefWindowProcA(hwnd, message, wParam, lParam);
    if (HostState.verifierEntry == NULL)
        return 1;
    return HostState.verifierEntry(hwnd);
}

LRESULT CALLBACK HostDefaultProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (HostState.isPreview || HostState.closeAllowed)
        return DefWindowProcA(hwnd, message, wParam, lParam);
    if (message == WM_CLOSE)
        return HandleClose(hwnd, wParam, lParam);
    if (message == WM_VERIFY_PASSWORD)
        return AnswerVerifyRequest(hwnd, message, wParam, lParam);
    if (HostState.isVerifying)
        return DefWindowProcA(hwnd, message, wParam, lParam);

    switch (message) {
    case WM_SHOWWINDOW:
        if (wParam != 0)
            SetCursor(NULL);
        break;
    case WM_ACTIVATEAPP:
        if (wParam == 0)
            PostClose(hwnd);
        break;
    case WM_SETCURSOR:
        SetCursor(NULL);
        return 1;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
        PostClose(hwnd);
        break;
    case WM_MOUSEMOVE:
        ApplyMouseRule(hwnd);
        break;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}
