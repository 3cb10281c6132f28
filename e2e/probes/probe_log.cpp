// The probes' log file (named by the PROBE_LOG environment variable) and
// the names of windows and messages in it.
#include "probe_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static FILE *g_log;
static HWND g_windows[64];
static int g_windowCount;
static char g_names[64][16];

void LogOpen()
{
    const char *path = getenv("PROBE_LOG");
    g_log = path ? fopen(path, "wb") : NULL;
}

void LogLine(const char *format, ...)
{
    if (!g_log)
        return;
    va_list args;
    va_start(args, format);
    vfprintf(g_log, format, args);
    va_end(args);
    fputc('\n', g_log);
    fflush(g_log);
}

void LogClose()
{
    if (g_log)
        fclose(g_log);
    g_log = NULL;
}

const char *WindowName(HWND hwnd)
{
    if (!hwnd)
        return "null";
    for (int i = 0; i < g_windowCount; ++i)
        if (g_windows[i] == hwnd)
            return g_names[i];
    return "other";
}

void NameWindowAs(HWND hwnd, const char *name)
{
    if (!hwnd || strcmp(WindowName(hwnd), "other") != 0 || g_windowCount == 64)
        return;
    g_windows[g_windowCount] = hwnd;
    snprintf(g_names[g_windowCount], sizeof g_names[0], "%s", name);
    ++g_windowCount;
}

void NameWindow(HWND hwnd)
{
    char name[16];
    snprintf(name, sizeof name, "w%d", g_windowCount + 1);
    NameWindowAs(hwnd, name);
}

// The messages the probes follow. Pointer messages (WM_MOUSEMOVE,
// WM_SETCURSOR, WM_NCHITTEST, WM_MOUSEACTIVATE) are left out: under Wine they
// come from the X server whenever it pleases, so no two runs agree.
struct MessageInfo {
    UINT message;
    const char *name;
    char params;   // 'n' none, 'w' wParam, 'h' wParam as a window, 'a' activation, 's' size, 'b' both
    bool unordered;
};

static const MessageInfo kMessages[] = {
    {0x0001, "WM_CREATE", 'n', false},
    {0x0002, "WM_DESTROY", 'n', false},
    {0x0003, "WM_MOVE", 's', false},
    {0x0005, "WM_SIZE", 's', false},
    {0x0006, "WM_ACTIVATE", 'a', false},
    {0x0007, "WM_SETFOCUS", 'h', false},
    {0x0008, "WM_KILLFOCUS", 'h', false},
    {0x000A, "WM_ENABLE", 'w', false},
    {0x000C, "WM_SETTEXT", 'n', false},
    {0x000F, "WM_PAINT", 'n', true},
    {0x0010, "WM_CLOSE", 'n', false},
    {0x0012, "WM_QUIT", 'w', false},
    {0x0014, "WM_ERASEBKGND", 'n', true},
    {0x0018, "WM_SHOWWINDOW", 'w', false},
    {0x001C, "WM_ACTIVATEAPP", 'w', false},
    {0x0024, "WM_GETMINMAXINFO", 'n', false},
    {0x0028, "WM_NEXTDLGCTL", 'n', false},
    {0x0030, "WM_SETFONT", 'n', false},
    {0x0046, "WM_WINDOWPOSCHANGING", 'n', false},
    {0x0047, "WM_WINDOWPOSCHANGED", 'n', false},
    {0x0081, "WM_NCCREATE", 'n', false},
    {0x0082, "WM_NCDESTROY", 'n', false},
    {0x0083, "WM_NCCALCSIZE", 'n', false},
    {0x0085, "WM_NCPAINT", 'n', true},
    {0x0086, "WM_NCACTIVATE", 'w', false},
    {0x0087, "WM_GETDLGCODE", 'n', false},
    {0x0100, "WM_KEYDOWN", 'w', false},
    {0x0101, "WM_KEYUP", 'w', false},
    {0x0102, "WM_CHAR", 'w', false},
    {0x0110, "WM_INITDIALOG", 'h', false},
    {0x0111, "WM_COMMAND", 'w', false},
    {0x0112, "WM_SYSCOMMAND", 'w', false},
    {0x0113, "WM_TIMER", 'w', false},
    {0x0133, "WM_CTLCOLOREDIT", 'n', true},
    {0x0135, "WM_CTLCOLORBTN", 'n', true},
    {0x0136, "WM_CTLCOLORDLG", 'n', true},
    {0x0138, "WM_CTLCOLORSTATIC", 'n', true},
    {0x0201, "WM_LBUTTONDOWN", 'n', false},
    {0x0210, "WM_PARENTNOTIFY", 'w', false},
    {0x0202, "WM_LBUTTONUP", 'n', false},
};

void LogMessage(const char *prefix, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    const MessageInfo *info = NULL;
    for (const MessageInfo &m : kMessages)
        if (m.message == message)
            info = &m;
    char name[32];
    if (!info) {
        if (message < 0x8000 || message > 0x80FF)
            return;  // the probes' own messages are WM_APP + n
        snprintf(name, sizeof name, "WM_APP+%u", message - 0x8000);
    }
    const char *text = info ? info->name : name;
    const char *mark = info && info->unordered ? "~ " : "";
    const char *window = WindowName(hwnd);
    char params = info ? info->params : 'b';
    switch (params) {
    case 'w':
        LogLine("%s%s %s %s %lu", mark, prefix, window, text, (unsigned long)wParam);
        break;
    case 'h':
        LogLine("%s%s %s %s %s", mark, prefix, window, text, WindowName((HWND)wParam));
        break;
    case 'a':
        LogLine("%s%s %s %s %lu %s", mark, prefix, window, text, (unsigned long)(wParam & 0xFFFF),
                WindowName((HWND)lParam));
        break;
    case 's':
        LogLine("%s%s %s %s %ld,%ld", mark, prefix, window, text, (long)(short)(lParam & 0xFFFF),
                (long)(short)((lParam >> 16) & 0xFFFF));
        break;
    case 'b':
        LogLine("%s%s %s %s %lu %ld", mark, prefix, window, text, (unsigned long)wParam, (long)lParam);
        break;
    default:
        LogLine("%s%s %s %s", mark, prefix, window, text);
    }
}
