// The probe scenarios: short sequences of window, message, timer, activation,
// dialog and profile calls whose every result and message is logged, so the
// same source run on Windows (Wine) and on the simulation can be compared.
#include "probe_log.h"

#include <cstdio>
#include <cstring>
#include <string>

static const UINT kApp = 0x8000;

static LRESULT CALLBACK LoggingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    NameWindow(hwnd);
    LogMessage("proc", hwnd, message, wParam, lParam);
    if (message == kApp + 2)   // sent by ProbeMessages: answers wParam + lParam
        return (LRESULT)(wParam + lParam);
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

// A second procedure that ends the thread's loop when its window goes.
static LRESULT CALLBACK QuittingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY) {
        NameWindow(hwnd);
        LogMessage("proc", hwnd, message, wParam, lParam);
        PostQuitMessage(7);
        return 0;
    }
    return LoggingProc(hwnd, message, wParam, lParam);
}

static void Register(HINSTANCE instance, const char *name, WNDPROC proc)
{
    WNDCLASSA wc;
    memset(&wc, 0, sizeof wc);
    wc.style = 0x2B;  // CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS | CS_OWNDC
    wc.lpfnWndProc = proc;
    wc.hInstance = instance;
    wc.hbrBackground = (HBRUSH)GetStockObject(4);  // BLACK_BRUSH
    wc.lpszClassName = name;
    ATOM atom = RegisterClassA(&wc);
    LogLine("RegisterClassA %s = %s", name, atom ? "atom" : "0");
}

static HWND Create(HINSTANCE instance, const char *cls, const char *title, DWORD exStyle, DWORD style,
                   int x, int y, int w, int h, HWND parent)
{
    LogLine("CreateWindowExA %s begin", title);
    HWND hwnd = CreateWindowExA(exStyle, cls, title, style, x, y, w, h, parent, NULL, instance, NULL);
    NameWindow(hwnd);
    LogLine("CreateWindowExA %s = %s", title, WindowName(hwnd));
    return hwnd;
}

// Retrieves and dispatches messages until GetMessageA returns 0 or -1, or
// (when stopAt is not 0) until that message has been dispatched.
static void Pump(UINT stopAt)
{
    MSG msg;
    for (;;) {
        BOOL got = GetMessageA(&msg, NULL, 0, 0);
        if (got == 0 || got == -1) {
            LogLine("GetMessageA = %d wParam %lu", got, (unsigned long)msg.wParam);
            return;
        }
        LogMessage("get", msg.hwnd, msg.message, msg.wParam, msg.lParam);
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
        if (stopAt && msg.message == stopAt)
            return;
    }
}

static void LogRect(const char *what, HWND hwnd)
{
    RECT r = {0, 0, 0, 0};
    BOOL ok = GetWindowRect(hwnd, &r);
    LogLine("GetWindowRect %s = %d %ld,%ld,%ld,%ld", what, ok, (long)r.left, (long)r.top, (long)r.right, (long)r.bottom);
    RECT c = {0, 0, 0, 0};
    ok = GetClientRect(hwnd, &c);
    LogLine("GetClientRect %s = %d %ld,%ld,%ld,%ld", what, ok, (long)c.left, (long)c.top, (long)c.right, (long)c.bottom);
}

static void ProbeWindow(HINSTANCE instance)
{
    Register(instance, "ProbeWindow", QuittingProc);
    int cx = GetSystemMetrics(SM_CXSCREEN);
    int cy = GetSystemMetrics(SM_CYSCREEN);
    LogLine("GetSystemMetrics = %d,%d", cx, cy);
    HWND w = Create(instance, "ProbeWindow", "Screen Probe", WS_EX_TOPMOST,
                    WS_POPUP | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0, 0, cx, cy, NULL);
    LogRect("w1", w);
    LogLine("IsWindowVisible = %d", IsWindowVisible(w));
    LogLine("SetForegroundWindow begin");
    BOOL fg = SetForegroundWindow(w);
    LogLine("SetForegroundWindow = %d", fg);
    LogLine("GetForegroundWindow = %s", WindowName(GetForegroundWindow()));
    LogLine("GetActiveWindow = %s", WindowName(GetActiveWindow()));
    LogLine("GetFocus = %s", WindowName(GetFocus()));
    LogLine("FindWindowA = %s", WindowName(FindWindowA("ProbeWindow", "Screen Probe")));
    LogLine("FindWindowA other title = %s", WindowName(FindWindowA("ProbeWindow", "Screen")));
    BOOL set = SetWindowTextA(w, "Renamed");
    char title[32] = "";
    int length = GetWindowTextA(w, title, sizeof title);
    LogLine("SetWindowTextA = %d, GetWindowTextA = %d \"%s\"", set, length, title);
    length = GetWindowTextA(w, title, 4);
    LogLine("GetWindowTextA size 4 = %d \"%s\"", length, title);
    LogLine("PostMessageA WM_CLOSE = %d", PostMessageA(w, WM_CLOSE, 0, 0));
    Pump(0);
    LogLine("IsWindow = %d", IsWindow(w));
    LogLine("IsWindow(0) = %d", IsWindow(NULL));
}

static void ProbeMessages(HINSTANCE instance)
{
    Register(instance, "ProbeMessages", LoggingProc);
    HWND w = Create(instance, "ProbeMessages", "Hidden", 0, WS_POPUP, 0, 0, 100, 100, NULL);
    LogLine("PostMessageA 1 = %d", PostMessageA(w, kApp + 1, 1, 2));
    LogLine("SendMessageA 2 = %ld", (long)SendMessageA(w, kApp + 2, 3, 4));
    LogLine("PostMessageA 3 = %d", PostMessageA(w, kApp + 3, 5, 6));
    PostQuitMessage(5);
    LogLine("PostMessageA 4 = %d", PostMessageA(w, kApp + 4, 7, 8));
    LogLine("PostMessageA null window 5 = %d", PostMessageA(NULL, kApp + 5, 9, 10));
    MSG msg;
    BOOL peeked = PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE);
    LogLine("PeekMessageA NOREMOVE = %d %s", peeked, peeked ? WindowName(msg.hwnd) : "-");
    Pump(0);   // WM_QUIT comes after every posted message
    peeked = PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE);
    LogLine("PeekMessageA after quit = %d", peeked);
    LogLine("SendMessageA WM_SETTEXT = %ld", (long)SendMessageA(w, WM_SETTEXT, 0, (LPARAM) "abc"));
    LogLine("SendMessageA WM_GETTEXTLENGTH = %ld", (long)SendMessageA(w, WM_GETTEXTLENGTH, 0, 0));
    LogLine("DestroyWindow = %d", DestroyWindow(w));
    LogLine("DestroyWindow again = %d", DestroyWindow(w));
    LogLine("PostMessageA to a destroyed window = %d", PostMessageA(w, kApp + 6, 0, 0));
    LogLine("IsWindow = %d", IsWindow(w));
}

static void ProbeTimers(HINSTANCE instance)
{
    Register(instance, "ProbeTimers", LoggingProc);
    HWND w = Create(instance, "ProbeTimers", "Timers", 0, WS_POPUP, 0, 0, 100, 100, NULL);
    LogLine("SetTimer 1 = %lu", (unsigned long)SetTimer(w, 1, 10, NULL));
    Pump(WM_TIMER);
    LogLine("KillTimer 1 = %d", KillTimer(w, 1));
    LogLine("KillTimer 1 again = %d", KillTimer(w, 1));
    // A posted message comes before a due timer.
    LogLine("SetTimer 3 = %lu", (unsigned long)SetTimer(w, 3, 1, NULL));
    Sleep(50);
    LogLine("PostMessageA = %d", PostMessageA(w, kApp + 1, 0, 0));
    Pump(WM_TIMER);
    LogLine("KillTimer 3 = %d", KillTimer(w, 3));
    // Setting an existing timer again replaces it.
    LogLine("SetTimer 4 = %lu", (unsigned long)SetTimer(w, 4, 10, NULL));
    LogLine("SetTimer 4 again = %lu", (unsigned long)SetTimer(w, 4, 20, NULL));
    Pump(WM_TIMER);
    LogLine("KillTimer 4 = %d", KillTimer(w, 4));
    LogLine("KillTimer 4 again = %d", KillTimer(w, 4));
    // Timer 0 on a window is a valid id.
    LogLine("SetTimer 0 = %lu", (unsigned long)SetTimer(w, 0, 10, NULL));
    Pump(WM_TIMER);
    LogLine("KillTimer 0 = %d", KillTimer(w, 0));
    DestroyWindow(w);
    LogLine("SetTimer on a destroyed window = %lu", (unsigned long)SetTimer(w, 5, 10, NULL));
    LogLine("KillTimer on a destroyed window = %d", KillTimer(w, 5));
}

static void ProbeActivation(HINSTANCE instance)
{
    Register(instance, "ProbeActivation", LoggingProc);
    HWND a = Create(instance, "ProbeActivation", "First", 0, WS_POPUP | WS_VISIBLE, 0, 0, 200, 100, NULL);
    LogLine("GetForegroundWindow = %s", WindowName(GetForegroundWindow()));
    HWND b = Create(instance, "ProbeActivation", "Second", 0, WS_POPUP | WS_VISIBLE, 0, 200, 200, 100, NULL);
    LogLine("GetForegroundWindow = %s", WindowName(GetForegroundWindow()));
    LogLine("SetForegroundWindow first begin");
    LogLine("SetForegroundWindow first = %d", SetForegroundWindow(a));
    LogLine("GetActiveWindow = %s", WindowName(GetActiveWindow()));
    LogLine("ShowWindow hide first begin");
    LogLine("ShowWindow hide first = %d", ShowWindow(a, SW_HIDE));
    LogLine("GetActiveWindow = %s", WindowName(GetActiveWindow()));
    LogLine("DestroyWindow second begin");
    LogLine("DestroyWindow second = %d", DestroyWindow(b));
    LogLine("DestroyWindow first begin");
    LogLine("DestroyWindow first = %d", DestroyWindow(a));
    LogLine("GetActiveWindow = %s", WindowName(GetActiveWindow()));
}

static int g_cancelSeen;

static INT_PTR CALLBACK ProbeDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        NameWindowAs(dialog, "dlg");
        NameWindowAs(GetDlgItem(dialog, 1), "ok");
        NameWindowAs(GetDlgItem(dialog, 2), "cancel");
        NameWindowAs(GetDlgItem(dialog, 101), "edit");
        NameWindowAs(GetDlgItem(dialog, 102), "tick");
    }
    LogMessage("dlgproc", dialog, message, wParam, lParam);
    char text[16];
    switch (message) {
    case WM_INITDIALOG:
        LogLine("lParam = %ld", (long)lParam);
        LogLine("SetDlgItemTextA = %d", SetDlgItemTextA(dialog, 101, "12345"));
        memset(text, 'x', sizeof text);
        LogLine("GetDlgItemTextA size 5 = %u \"%s\"", GetDlgItemTextA(dialog, 101, text, 5), text);
        LogLine("GetDlgItemTextA missing item = %u", GetDlgItemTextA(dialog, 999, text, 5));
        LogLine("IsDlgButtonChecked = %u", IsDlgButtonChecked(dialog, 102));
        LogLine("SendDlgItemMessageA BM_SETCHECK = %ld",
                (long)SendDlgItemMessageA(dialog, 102, BM_SETCHECK, 1, 0));
        LogLine("IsDlgButtonChecked = %u", IsDlgButtonChecked(dialog, 102));
        LogLine("CheckDlgButton 0 = %d", CheckDlgButton(dialog, 102, 0));
        LogLine("BM_GETCHECK = %ld", (long)SendDlgItemMessageA(dialog, 102, BM_GETCHECK, 0, 0));
        LogRect("dlg", dialog);
        LogRect("ok", GetDlgItem(dialog, 1));
        LogLine("PostMessageA = %d", PostMessageA(dialog, kApp + 1, 0, 0));
        return TRUE;
    case kApp + 1:
        LogLine("GetFocus = %s", WindowName(GetFocus()));
        LogLine("GetActiveWindow = %s", WindowName(GetActiveWindow()));
        LogLine("PostMessageA WM_CLOSE = %d", PostMessageA(dialog, WM_CLOSE, 0, 0));
        return TRUE;
    case WM_COMMAND:
        if (wParam == IDCANCEL && !g_cancelSeen) {
            g_cancelSeen = 1;
            LogLine("PostMessageA IDOK = %d", PostMessageA(dialog, WM_COMMAND, IDOK, 0));
            return TRUE;
        }
        if (wParam == IDOK) {
            LogLine("EndDialog = %d", EndDialog(dialog, 1234));
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

static void ProbeDialog(HINSTANCE instance)
{
    LogLine("DialogBoxParamA begin");
    INT_PTR result = DialogBoxParamA(instance, (LPCSTR)(ULONG_PTR)100, NULL, ProbeDialogProc, 42);
    LogLine("DialogBoxParamA = %ld", (long)result);
    LogLine("IsWindow dlg = %d", IsWindow(FindWindowA(NULL, "Probe dialog")));
    result = DialogBoxParamA(instance, (LPCSTR)(ULONG_PTR)999, NULL, ProbeDialogProc, 0);
    LogLine("DialogBoxParamA missing template = %ld", (long)result);
}

// The dialog's keyboard interface: keys posted one at a time to whichever
// control has the focus, each after the previous one has been handled.
static const struct {
    UINT message;
    WPARAM wParam;
} kKeySteps[] = {
    {WM_KEYDOWN, VK_TAB},   {WM_KEYUP, VK_TAB},     // OK to Cancel, which becomes the default
    {WM_KEYDOWN, VK_TAB},   {WM_KEYUP, VK_TAB},     // to the field, its text selected
    {WM_CHAR, '7'},         {WM_CHAR, 'x'},         // a digit replaces the text; a letter is refused
    {WM_CHAR, '8'},         {WM_CHAR, 8},           // and a backspace takes the 8 back
    {WM_CHAR, '9'},         {WM_KEYDOWN, VK_TAB},   // to the check box
    {WM_KEYUP, VK_TAB},     {WM_KEYDOWN, VK_SPACE}, // space ticks it
    {WM_KEYUP, VK_SPACE},   {WM_KEYDOWN, VK_TAB},   // round to OK
    {WM_KEYUP, VK_TAB},     {WM_KEYDOWN, VK_TAB},   // to Cancel
    {WM_KEYUP, VK_TAB},     {WM_KEYDOWN, VK_RETURN},  // Enter: the focused push button
};
static size_t g_keyStep;

// Two more runs: Enter in the field clicks the dialog's own default button;
// Esc cancels.
static const struct {
    UINT message;
    WPARAM wParam;
} kEnterInField[] = {
    {WM_KEYDOWN, VK_TAB}, {WM_KEYUP, VK_TAB}, {WM_KEYDOWN, VK_TAB}, {WM_KEYUP, VK_TAB}, {WM_KEYDOWN, VK_RETURN},
}, kEscape[] = {
    {WM_KEYDOWN, VK_ESCAPE},
};
static int g_keyRun;

static INT_PTR CALLBACK ProbeKeysProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        NameWindowAs(dialog, "dlg");
        NameWindowAs(GetDlgItem(dialog, 1), "ok");
        NameWindowAs(GetDlgItem(dialog, 2), "cancel");
        NameWindowAs(GetDlgItem(dialog, 101), "edit");
        NameWindowAs(GetDlgItem(dialog, 102), "tick");
    }
    LogMessage("dlgproc", dialog, message, wParam, lParam);
    switch (message) {
    case WM_INITDIALOG:
        SetDlgItemTextA(dialog, 101, "20");
        PostMessageA(dialog, kApp + 3, 0, 0);
        return TRUE;
    case kApp + 3: {
        char text[16] = "";
        GetDlgItemTextA(dialog, 101, text, sizeof text);
        HWND focus = GetFocus();
        LogLine("step %u: focus %s, text \"%s\", tick %u, default %lu", (unsigned)g_keyStep,
                WindowName(focus), text, IsDlgButtonChecked(dialog, 102),
                (unsigned long)(SendMessageA(dialog, DM_GETDEFID, 0, 0) & 0xFFFF));
        size_t count = g_keyRun == 0   ? sizeof kKeySteps / sizeof kKeySteps[0]
                       : g_keyRun == 1 ? sizeof kEnterInField / sizeof kEnterInField[0]
                                       : sizeof kEscape / sizeof kEscape[0];
        if (g_keyStep < count) {
            UINT key = g_keyRun == 0   ? kKeySteps[g_keyStep].message
                       : g_keyRun == 1 ? kEnterInField[g_keyStep].message
                                       : kEscape[g_keyStep].message;
            WPARAM code = g_keyRun == 0   ? kKeySteps[g_keyStep].wParam
                          : g_keyRun == 1 ? kEnterInField[g_keyStep].wParam
                                          : kEscape[g_keyStep].wParam;
            PostMessageA(focus, key, code, 1);
            ++g_keyStep;
            PostMessageA(dialog, kApp + 3, 0, 0);
        }
        return TRUE;
    }
    case WM_COMMAND:
        if (wParam == IDOK || wParam == IDCANCEL) {
            LogLine("EndDialog = %d", EndDialog(dialog, (INT_PTR)wParam));
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

static void ProbeDialogKeys(HINSTANCE instance)
{
    for (g_keyRun = 0; g_keyRun < 3; ++g_keyRun) {
        g_keyStep = 0;
        INT_PTR result = DialogBoxParamA(instance, (LPCSTR)(ULONG_PTR)100, NULL, ProbeKeysProc, 0);
        LogLine("DialogBoxParamA = %ld", (long)result);
    }
}

// Retrieval filters (a window and its descendants, thread messages, ranges),
// a timer procedure, key translation, and the last error of a failed KillTimer.
static void CALLBACK ProbeTimerProc(HWND hwnd, UINT message, UINT_PTR id, DWORD)
{
    LogLine("timer procedure: %s %u id %lu", WindowName(hwnd), message, (unsigned long)id);
}

static void LogPeek(const char *what, HWND filter, UINT first, UINT last, UINT flags)
{
    MSG msg;
    BOOL got = PeekMessageA(&msg, filter, first, last, flags);
    if (got)
        LogLine("%s = 1: %s %04x %lu", what, WindowName(msg.hwnd), msg.message, (unsigned long)msg.wParam);
    else
        LogLine("%s = 0", what);
}

static void ProbeFilters(HINSTANCE instance)
{
    Register(instance, "ProbeFilters", LoggingProc);
    HWND parent = Create(instance, "ProbeFilters", "Parent", 0, WS_POPUP, 0, 0, 100, 100, NULL);
    HWND child = Create(instance, "ProbeFilters", "Child", 0, WS_CHILD, 0, 0, 10, 10, parent);
    HWND other = Create(instance, "ProbeFilters", "Other", 0, WS_POPUP, 0, 0, 100, 100, NULL);
    PostMessageA(other, kApp + 1, 1, 0);
    PostMessageA(child, kApp + 2, 2, 0);
    PostMessageA(NULL, kApp + 3, 3, 0);
    LogPeek("peek parent", parent, 0, 0, PM_REMOVE);
    LogPeek("peek parent again", parent, 0, 0, PM_REMOVE);
    LogPeek("peek thread only", (HWND)-1, 0, 0, PM_NOREMOVE);
    LogPeek("peek timers", NULL, WM_TIMER, WM_TIMER, PM_REMOVE);
    LogPeek("peek app+3", NULL, kApp + 3, kApp + 3, PM_REMOVE);
    LogPeek("peek any", NULL, 0, 0, PM_REMOVE | PM_NOYIELD);
    LogPeek("peek empty", NULL, 0, 0, PM_REMOVE);
    PostMessageA(child, WM_KEYDOWN, 'A', 0x001E0001);
    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
        LogMessage("get", msg.hwnd, msg.message, msg.wParam, msg.lParam);
        LogLine("TranslateMessage = %d", TranslateMessage(&msg));
        DispatchMessageA(&msg);
    }
    LogLine("SetTimer = %lu", (unsigned long)SetTimer(other, 4, 25, ProbeTimerProc));
    for (int i = 0; i < 2; ++i) {
        if (GetMessageA(&msg, NULL, 0, 0) <= 0) break;
        LogMessage("get", msg.hwnd, msg.message, msg.wParam, 0);
        DispatchMessageA(&msg);
    }
    LogLine("KillTimer = %d", KillTimer(other, 4));
    SetLastError(0);
    BOOL killed = KillTimer(other, 4);
    LogLine("KillTimer again = %d, last error %lu", killed, (unsigned long)GetLastError());
    DestroyWindow(parent);
    DestroyWindow(other);
}

// Painting: what BeginPaint reports after erases that failed or succeeded,
// invalidated rectangles, UpdateWindow, and BeginPaint outside WM_PAINT.
static LRESULT g_eraseAnswer;

static void LogPaint(HWND hwnd, const char *when)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    LogLine("%s: BeginPaint %s, fErase %d, rcPaint %ld,%ld,%ld,%ld", when, dc ? "dc" : "null", ps.fErase,
            (long)ps.rcPaint.left, (long)ps.rcPaint.top, (long)ps.rcPaint.right, (long)ps.rcPaint.bottom);
    EndPaint(hwnd, &ps);
}

static LRESULT CALLBACK PaintProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    NameWindow(hwnd);
    LogMessage("proc", hwnd, message, wParam, lParam);
    if (message == WM_PAINT) {
        LogPaint(hwnd, "WM_PAINT");
        return 0;
    }
    if (message == WM_ERASEBKGND) {
        LogLine("erase answered %ld", (long)g_eraseAnswer);
        return g_eraseAnswer;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

static void Drain()
{
    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
        LogMessage("get", msg.hwnd, msg.message, msg.wParam, msg.lParam);
        DispatchMessageA(&msg);
    }
}

static void ProbePaint(HINSTANCE instance)
{
    WNDCLASSA wc;
    memset(&wc, 0, sizeof wc);
    wc.lpfnWndProc = PaintProc;
    wc.hInstance = instance;
    wc.lpszClassName = "ProbePaint";   // no background brush
    LogLine("RegisterClassA = %s", RegisterClassA(&wc) ? "atom" : "0");
    g_eraseAnswer = 0;
    HWND w = Create(instance, "ProbePaint", "Paint", 0, WS_POPUP | WS_VISIBLE, 0, 0, 200, 100, NULL);
    Drain();
    LogLine("InvalidateRect no erase = %d", InvalidateRect(w, NULL, FALSE));
    LogLine("UpdateWindow = %d", UpdateWindow(w));
    RECT part = {10, 10, 50, 40};
    LogLine("InvalidateRect part = %d", InvalidateRect(w, &part, TRUE));
    LogLine("UpdateWindow = %d", UpdateWindow(w));
    g_eraseAnswer = 1;
    LogLine("InvalidateRect erase = %d", InvalidateRect(w, NULL, TRUE));
    Drain();
    LogPaint(w, "outside WM_PAINT");
    LogLine("DestroyWindow = %d", DestroyWindow(w));
}

// A dialog owned by a window of the program: the owner disabled while it
// runs, enabled and active again after; the dialog placed from the owner.
static void ProbeOwnedDialog(HINSTANCE instance)
{
    Register(instance, "ProbeOwned", LoggingProc);
    HWND owner = Create(instance, "ProbeOwned", "Owner", 0, WS_POPUP | WS_VISIBLE, 30, 40, 400, 300, NULL);
    LogLine("DialogBoxParamA begin");
    g_keyRun = 2;   // Esc
    g_keyStep = 0;
    INT_PTR result = DialogBoxParamA(instance, (LPCSTR)(ULONG_PTR)100, owner, ProbeKeysProc, 0);
    LogLine("DialogBoxParamA = %ld", (long)result);
    LogLine("IsWindowEnabled owner = %d", IsWindowEnabled(owner));
    LogLine("GetActiveWindow = %s", WindowName(GetActiveWindow()));
    LogLine("GetFocus = %s", WindowName(GetFocus()));
    LogLine("DestroyWindow = %d", DestroyWindow(owner));
}

// Children: placement inside the parent, the parent told of them, the focus
// handed back when a focused child goes, and the order of the destroy
// messages down a family.
static void ProbeChildren(HINSTANCE instance)
{
    Register(instance, "ProbeChildren", LoggingProc);
    HWND parent = Create(instance, "ProbeChildren", "Parent", 0, WS_POPUP | WS_VISIBLE, 40, 30, 300, 200, NULL);
    HWND child = Create(instance, "ProbeChildren", "Child", 0, WS_CHILD | WS_VISIBLE | WS_BORDER, 10, 20, 100, 50,
                        parent);
    HWND grandchild = Create(instance, "ProbeChildren", "Grandchild", 0, WS_CHILD | WS_VISIBLE, 5, 5, 20, 10, child);
    LogRect("child", child);
    LogRect("grandchild", grandchild);
    LogLine("GetParent child = %s", WindowName(GetParent(child)));
    LogLine("SetFocus grandchild begin");
    LogLine("SetFocus grandchild = %s", WindowName(SetFocus(grandchild)));
    LogLine("DestroyWindow child begin");
    LogLine("DestroyWindow child = %d", DestroyWindow(child));
    LogLine("GetFocus = %s", WindowName(GetFocus()));
    HWND second = Create(instance, "ProbeChildren", "Second", 0, WS_CHILD | WS_VISIBLE, 50, 60, 30, 30, parent);
    Create(instance, "ProbeChildren", "Third", 0, WS_CHILD, 0, 0, 30, 30, second);
    LogLine("DestroyWindow parent begin");
    LogLine("DestroyWindow parent = %d", DestroyWindow(parent));
    LogLine("IsWindow second = %d", IsWindow(second));
}

static void ProbeProfile(HINSTANCE)
{
    const char *file = "vprobe.ini";
    // Start from nothing: remove the section a previous run may have left.
    WritePrivateProfileStringA("Probe", NULL, NULL, file);
    WritePrivateProfileStringA("Other", NULL, NULL, file);
    LogLine("missing = %u", GetPrivateProfileIntA("Probe", "Missing", 99, file));
    static const char *const values[] = {"12abc", "-5", "", " 7", "0x10", "4294967296",
                                         "2147483648", "+3", "abc", "007", "3 4"};
    for (const char *value : values) {
        BOOL ok = WritePrivateProfileStringA("Probe", "Key", value, file);
        LogLine("write \"%s\" = %d, read = %u", value, ok, GetPrivateProfileIntA("Probe", "Key", 99, file));
    }
    LogLine("read other case = %u", GetPrivateProfileIntA("PROBE", "KEY", 99, file));
    WritePrivateProfileStringA("Probe", "Text", "hello world", file);
    char buffer[64];
    DWORD n = GetPrivateProfileStringA("Probe", "Text", "def", buffer, 6, file);
    LogLine("GetPrivateProfileStringA size 6 = %lu \"%s\"", (unsigned long)n, buffer);
    n = GetPrivateProfileStringA("Probe", "None", "def", buffer, sizeof buffer, file);
    LogLine("GetPrivateProfileStringA default = %lu \"%s\"", (unsigned long)n, buffer);
    WritePrivateProfileStringA("Other", "A", "1", file);
    LogLine("delete key = %d", WritePrivateProfileStringA("Probe", "Key", NULL, file));
    LogLine("deleted key reads = %u", GetPrivateProfileIntA("Probe", "Key", 99, file));
    n = GetPrivateProfileStringA(NULL, NULL, "", buffer, sizeof buffer, file);
    std::string sections;
    for (DWORD i = 0; i < n; ++i)
        sections += buffer[i] ? buffer[i] : '|';
    LogLine("sections = %lu \"%s\"", (unsigned long)n, sections.c_str());
    LogLine("delete section = %d", WritePrivateProfileStringA("Probe", NULL, NULL, file));
    LogLine("deleted section reads = %u", GetPrivateProfileIntA("Probe", "Text", 99, file));
    WritePrivateProfileStringA("Other", NULL, NULL, file);
}

void ProbeEntry()
{
    LogOpen();
    HINSTANCE instance = GetModuleHandleA(NULL);
    const char *line = GetCommandLineA();
    const char *last = strrchr(line, ' ');
    const char *name = last ? last + 1 : line;
    LogLine("probe %s", name);
    // The scenarios; each runs to its end and returns.
    static const struct { const char *name; void (*run)(HINSTANCE); } scenarios[] = {
        {"window", ProbeWindow}, {"messages", ProbeMessages}, {"timers", ProbeTimers},
        {"activation", ProbeActivation}, {"dialog", ProbeDialog}, {"profile", ProbeProfile},
        {"dialogkeys", ProbeDialogKeys}, {"children", ProbeChildren}, {"paint", ProbePaint},
        {"filters", ProbeFilters}, {"owned", ProbeOwnedDialog}};
    size_t n = 0;
    while (n < sizeof scenarios / sizeof scenarios[0] && strcmp(name, scenarios[n].name) != 0)
        n++;
    if (n < sizeof scenarios / sizeof scenarios[0])
        scenarios[n].run(instance);
    else
        LogLine("unknown probe");
    LogLine("end");
    LogClose();
    ExitProcess(0);
}
