// winlist.exe OUTPUT-FILE
// Lists every top-level window and all their descendants, one tab-separated
// line each:
//   hwnd parent owner pid class title style exstyle
//   window-rect(l,t,r,b) client-size(w,h) client-origin(x,y) visible
//   control-text check-state
// Handles are decimal; parent is 0 for a top-level window; style and exstyle
// are 8 hex digits; texts escape backslash, tab and line ends. For child
// windows of the classes Edit and Button, control-text is what WM_GETTEXT
// answers (an edit keeps its text apart from the window title) and
// check-state what BM_GETCHECK answers (buttons only); otherwise "-".
#include "helper_io.h"

#include <cstdio>

static std::string g_lines;

static std::string Escape(const char *text)
{
    std::string out;
    for (const char *p = text; *p; ++p) {
        switch (*p) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        default: out += *p;
        }
    }
    return out;
}

static void ListWindow(HWND hwnd)
{
    char className[256] = "";
    char title[512] = "";
    GetClassNameA(hwnd, className, sizeof className);
    GetWindowTextA(hwnd, title, sizeof title);
    HWND parent = GetAncestor(hwnd, GA_PARENT);
    if (parent == GetDesktopWindow())
        parent = NULL;
    HWND owner = GetWindow(hwnd, GW_OWNER);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    RECT window = {0, 0, 0, 0};
    RECT client = {0, 0, 0, 0};
    GetWindowRect(hwnd, &window);
    GetClientRect(hwnd, &client);
    POINT origin = {0, 0};
    ClientToScreen(hwnd, &origin);
    std::string controlText = "-";
    std::string checkState = "-";
    bool isEdit = lstrcmpiA(className, "Edit") == 0;
    bool isButton = lstrcmpiA(className, "Button") == 0;
    if (parent && (isEdit || isButton)) {
        char text[512] = "";
        DWORD_PTR answer = 0;
        if (SendMessageTimeoutA(hwnd, WM_GETTEXT, sizeof text, (LPARAM)text, SMTO_ABORTIFHUNG,
                                1000, &answer))
            controlText = Escape(text);
        if (isButton && SendMessageTimeoutA(hwnd, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 1000, &answer))
            checkState = std::to_string((unsigned long)answer);
    }
    char line[2400];
    snprintf(line, sizeof line,
             "%lu\t%lu\t%lu\t%lu\t%s\t%s\t%08lX\t%08lX\t%ld,%ld,%ld,%ld\t%ld,%ld\t%ld,%ld\t%d\t%s\t%s\n",
             (unsigned long)(ULONG_PTR)hwnd, (unsigned long)(ULONG_PTR)parent,
             (unsigned long)(ULONG_PTR)owner, (unsigned long)pid, Escape(className).c_str(),
             Escape(title).c_str(), (unsigned long)GetWindowLongA(hwnd, GWL_STYLE),
             (unsigned long)GetWindowLongA(hwnd, GWL_EXSTYLE), window.left, window.top,
             window.right, window.bottom, client.right - client.left, client.bottom - client.top,
             origin.x, origin.y, IsWindowVisible(hwnd) ? 1 : 0, controlText.c_str(),
             checkState.c_str());
    g_lines += line;
}

static BOOL CALLBACK ListChild(HWND hwnd, LPARAM)
{
    ListWindow(hwnd);
    return TRUE;
}

static BOOL CALLBACK ListTopLevel(HWND hwnd, LPARAM)
{
    ListWindow(hwnd);
    EnumChildWindows(hwnd, ListChild, 0);  // all descendants, depth first
    return TRUE;
}

int main()
{
    char **argv;
    int argc = HelperArgs(&argv);
    if (argc < 2) {
        fprintf(stderr, "usage: winlist OUTPUT-FILE\n");
        return 2;
    }
    EnumWindows(ListTopLevel, 0);
    g_lines += "end\n";
    return WriteFileAtomically(argv[1], g_lines) ? 0 : 1;
}
