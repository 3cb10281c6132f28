// winlist.exe OUTPUT-FILE
// winlist.exe --serve REQUEST-FILE
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
// With --serve it stays running and answers requests, for where a program
// start costs seconds: whenever REQUEST-FILE appears it reads four lines from
// it (the output file, a text, 1 or 0, seconds) and deletes it, then looks
// at the windows' classes and titles every 100 ms until the text stands
// between two tabs in "\tclass\ttitle\t" of a window (1) or of none (0), or
// the seconds pass, and writes the list to the output file. So a wait for a
// window costs no program starts, no shell loop, and no more of the machine
// than names read from the server.
#include "helper_io.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

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

// With a text to look for, only the names are read: no window gets a message.
static const std::string *g_sought;

static void Visit(HWND hwnd)
{
    if (!g_sought) {
        ListWindow(hwnd);
        return;
    }
    char className[256] = "";
    char title[512] = "";
    GetClassNameA(hwnd, className, sizeof className);
    GetWindowTextA(hwnd, title, sizeof title);
    g_lines += "\t" + Escape(className) + "\t" + Escape(title) + "\t\n";
}

static BOOL CALLBACK ListChild(HWND hwnd, LPARAM)
{
    Visit(hwnd);
    return TRUE;
}

static BOOL CALLBACK ListTopLevel(HWND hwnd, LPARAM)
{
    Visit(hwnd);
    EnumChildWindows(hwnd, ListChild, 0);  // all descendants, depth first
    return TRUE;
}

static void ListAll(const std::string *sought = NULL)
{
    g_sought = sought;
    g_lines.clear();
    EnumWindows(ListTopLevel, 0);
    g_lines += "end\n";
}

static void Answer(const std::string &request)
{
    std::string field[4];
    TakeLines(request, field, 4);
    bool present = field[2] == "1";
    DWORD deadline = GetTickCount() + 1000 * strtoul(field[3].c_str(), NULL, 10);
    for (ListAll(&field[1]); (g_lines.find(field[1]) != std::string::npos) != present &&
                             (LONG)(GetTickCount() - deadline) < 0; ListAll(&field[1]))
        Sleep(100);
    ListAll();
    WriteFileAtomically(field[0].c_str(), g_lines);
}

int main()
{
    char **argv;
    int argc = HelperArgs(&argv);
    if (argc == 3 && strcmp(argv[1], "--serve") == 0)
        return ServeRequests(argv[2], Answer);
    if (argc != 2) {
        fprintf(stderr, "usage: winlist OUTPUT-FILE | --serve REQUEST-FILE\n");
        return 2;
    }
    ListAll();
    return WriteFileAtomically(argv[1], g_lines) ? 0 : 1;
}
