// The saver window's run: class, window (full screen or preview), message
// loop, and the single-instance test of the full-screen run.
#include "host.h"

HostStateRecord HostState = {
    NULL, NULL, 0, 0, 0, NULL, NULL, NULL, NULL, NULL, 0, WAKE_THRESHOLD, NO_VERIFY_TICK, {0, 0},
};

static const char SaverClassName[] = "WindowsScreenSaverClass";
static const char FullScreenTitle[] = "Screen Saver";
static const char PreviewTitle[] = "Preview";

#define SAVER_CLASS_STYLE (CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS | CS_OWNDC)
#define FULL_SCREEN_STYLE (WS_POPUP | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN)
#define PREVIEW_STYLE (WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN)
#define SAVER_ICON_ID 100

// What a run that made no window gives back: not a success code.
#define RUN_NOT_STARTED (-1)

struct SaverWindowShape {
    DWORD exStyle;
    DWORD style;
    LPCSTR title;
    int width;
    int height;
};

static void FillSaverClass(WNDCLASSA *saverClass)
{
    saverClass->style = SAVER_CLASS_STYLE;
    saverClass->lpfnWndProc = HostWindowProc;
    saverClass->cbClsExtra = 0;
    saverClass->cbWndExtra = 0;
    saverClass->hInstance = HostState.instance;
    saverClass->hIcon = LoadIconA(HostState.instance, MAKEINTRESOURCEA(SAVER_ICON_ID));
    saverClass->hCursor = NULL;
    saverClass->hbrBackground = (HBRUSH)GetStockObject(BLACK_BRUSH);
    saverClass->lpszMenuName = NULL;
    saverClass->lpszClassName = SaverClassName;
}

static void ShapePreview(HWND parent, SaverWindowShape *shape)
{
    RECT client = {0, 0, 0, 0};
    if (!GetClientRect(parent, &client)) {
        client.right = 0;
        client.bottom = 0;
    }
    shape->exStyle = 0;
    shape->style = PREVIEW_STYLE;
    shape->title = PreviewTitle;
    shape->width = client.right;
    shape->height = client.bottom;
    HostState.isPreview = 1;
}

static void ShapeFullScreen(SaverWindowShape *shape)
{
    shape->exStyle = WS_EX_TOPMOST;
    shape->style = FULL_SCREEN_STYLE;
    shape->title = FullScreenTitle;
    shape->width = GetSystemMetrics(SM_CXSCREEN);
    shape->height = GetSystemMetrics(SM_CYSCREEN);
}

// A full-screen saver that already runs is brought to the front instead.
static BOOL SaverAlreadyRunning(void)
{
    HWND running = FindWindowA(SaverClassName, FullScreenTitle);
    if (running == NULL || !IsWindow(running))
        return FALSE;
    SetForegroundWindow(running);
    return TRUE;
}

// Runs the loop until WM_QUIT and gives back its wParam. A failing
// GetMessageA (-1) ends the loop too, instead of spinning on the error.
static INT PumpMessages(void)
{
    MSG message;
    BOOL got;
    while ((got = GetMessageA(&message, NULL, 0, 0)) != 0) {
        if (got == -1)
            return RUN_NOT_STARTED;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return (INT)message.wParam;
}

INT RunSaver(HWND parent)
{
    WNDCLASSA saverClass;
    FillSaverClass(&saverClass);

    SaverWindowShape shape;
    if (parent != NULL) {
        ShapePreview(parent, &shape);
    } else {
        ShapeFullScreen(&shape);
        if (SaverAlreadyRunning())
            return 0;
        LoadPasswordVerifier();
    }

    if (RegisterClassA(&saverClass)) {
        HostState.saverWindow =
            CreateWindowExA(shape.exStyle, SaverClassName, shape.title, shape.style, 0, 0,
                            shape.width, shape.height, parent, NULL, HostState.instance, NULL);
    }

    INT result = RUN_NOT_STARTED;
    if (HostState.saverWindow != NULL) {
        if (!HostState.isPreview)
            SetForegroundWindow(HostState.saverWindow);
        result = PumpMessages();
    }
    UnloadPasswordVerifier();
    return result;
}
