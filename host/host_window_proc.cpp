// The saver window's procedure: what the host answers or prepares itself
// before a message goes on to the picture show.
#include "host.h"
#include "show.h"

// Detaches the input method from the saver window, when the process already
// has IMM32 loaded, so keys reach the window as keys; remembers the cursor.
static void StartWindow(HWND hwnd)
{
    HostState.immModule = GetModuleHandleA("IMM32.DLL");
    if (HostState.immModule != NULL)
        HostState.associateContextEntry = (ImmAssociateContextProc)(void (*)(void))GetProcAddress(
            HostState.immModule, "ImmAssociateContext");
    if (HostState.associateContextEntry != NULL)
        HostState.savedInputContext = HostState.associateContextEntry(hwnd, NULL);
    POINT cursor;
    if (GetCursorPos(&cursor))
        HostState.lastCursorPos = cursor;
    if (!HostState.isPreview)
        SetCursor(NULL);
}

static void EndWindow(HWND hwnd)
{
    if (HostState.immModule != NULL && HostState.associateContextEntry != NULL &&
        HostState.savedInputContext != NULL)
        HostState.associateContextEntry(hwnd, HostState.savedInputContext);
    PostQuitMessage(0);
}

// A preview hands help and context-menu requests to the window it lives in.
static void ForwardToParent(HWND hwnd, UINT message, LPARAM lParam)
{
    HWND parent = GetParent(hwnd);
    if (parent != NULL && IsWindow(parent))
        PostMessageA(parent, message, (WPARAM)parent, lParam);
}

static BOOL IsFilteredSystemCommand(WPARAM command)
{
    return command == SC_NEXTWINDOW || command == SC_PREVWINDOW || command == SC_SCREENSAVE;
}

LRESULT CALLBACK HostWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        StartWindow(hwnd);
        break;
    case WM_DESTROY:
        EndWindow(hwnd);
        break;
    case WM_SETTEXT:
        return 0;
    case WM_PAINT:
        if (HostState.closeAllowed)
            return DefWindowProcA(hwnd, message, wParam, lParam);
        if (!HostState.isPreview)
            SetCursor(NULL);
        break;
    case WM_HELP:
    case WM_CONTEXTMENU:
        if (HostState.isPreview) {
            ForwardToParent(hwnd, message, lParam);
            return 1;
        }
        break;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
        if (HostState.closeAllowed)
            return DefWindowProcA(hwnd, message, wParam, lParam);
        break;
    case WM_SYSCOMMAND:
        if (!HostState.isPreview && IsFilteredSystemCommand(wParam))
            return 0;
        break;
    case WM_TIMER:
        if (HostState.closeAllowed)
            return 0;
        Sleep(0);
        break;
    }
    return PictureShowProc(hwnd, message, wParam, lParam);
}
