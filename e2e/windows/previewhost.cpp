// previewhost.exe SAVER WIDTH HEIGHT DIR
// Plays the part of the Display control panel's preview: makes a top-level
// window whose client area is WIDTH by HEIGHT, writes its handle in decimal to
// DIR\parent.txt, starts "SAVER" /p HANDLE, and keeps pumping messages. When
// DIR\destroy appears it destroys its window; it then waits up to 10 s for the
// saver and writes DIR\result.txt:
//   exit=0x<8 hex digits> <signed decimal>   (or "timeout", or "error=N")
//   ended-before-destroy=<0|1>
// With a fifth argument "kill-first" it first plays a control panel that
// kills its preview: once the preview's window is up it ends the saver with
// TerminateProcess, counts the preview windows left in its own window, and
// starts a new preview, which the rest then runs as above. Extra line:
//   killed=<0|1> left=<N> restarted=<0|1>
#include "helper_io.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

static LRESULT CALLBACK ParentProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

// Pumps messages until the process ends, the file appears or the time is up.
// Returns true when the process has ended.
static bool PumpUntil(HANDLE process, const char *stopFile, DWORD limitMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (WaitForSingleObject(process, 0) == WAIT_OBJECT_0)
            return true;
        if (stopFile && FileExists(stopFile))
            return false;
        if (GetTickCount() - start > limitMs)
            return false;
        MsgWaitForMultipleObjects(1, &process, FALSE, 20, QS_ALLINPUT);
    }
}

// Waits, pumping messages, until a preview window is a child of parent
// (with no parent: just pumps for the given time).
static bool WaitForPreview(HWND parent, DWORD limitMs)
{
    DWORD start = GetTickCount();
    while (GetTickCount() - start < limitMs) {
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (parent != NULL &&
            FindWindowExA(parent, NULL, "WindowsScreenSaverClass", "Preview") != NULL)
            return true;
        MsgWaitForMultipleObjects(0, NULL, FALSE, 20, QS_ALLINPUT);
    }
    return false;
}

static int CountPreviews(HWND parent)
{
    int count = 0;
    for (HWND child = FindWindowExA(parent, NULL, "WindowsScreenSaverClass", NULL); child;
         child = FindWindowExA(parent, child, "WindowsScreenSaverClass", NULL))
        ++count;
    return count;
}

static bool StartPreview(const char *saver, HWND parent, PROCESS_INFORMATION *process)
{
    char commandLine[MAX_PATH + 64];
    snprintf(commandLine, sizeof commandLine, "\"%s\" /p %lu", saver,
             (unsigned long)(ULONG_PTR)parent);
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    ZeroMemory(process, sizeof *process);
    return CreateProcessA(saver, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup,
                          process) != 0;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    char **argv;
    int argc = HelperArgs(&argv);
    if (argc < 5)
        return 2;
    const char *saver = argv[1];
    int width = atoi(argv[2]);
    int height = atoi(argv[3]);
    std::string dir = argv[4];
    std::string parentFile = dir + "\\parent.txt";
    std::string destroyFile = dir + "\\destroy";
    std::string resultFile = dir + "\\result.txt";

    WNDCLASSA wc;
    ZeroMemory(&wc, sizeof wc);
    wc.lpfnWndProc = ParentProc;
    wc.hInstance = instance;
    wc.hbrBackground = (HBRUSH)GetStockObject(GRAY_BRUSH);
    wc.lpszClassName = "VellomirePreviewHost";
    if (!RegisterClassA(&wc))
        return 3;
    DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_VISIBLE | WS_CLIPCHILDREN;
    RECT frame = {0, 0, width, height};
    AdjustWindowRect(&frame, style, FALSE);
    HWND parent = CreateWindowExA(0, wc.lpszClassName, "Preview host", style, 100, 100,
                                  frame.right - frame.left, frame.bottom - frame.top, NULL, NULL,
                                  instance, NULL);
    if (!parent)
        return 4;

    PROCESS_INFORMATION process;
    if (!StartPreview(saver, parent, &process)) {
        char text[64];
        snprintf(text, sizeof text, "error=%lu\n", (unsigned long)GetLastError());
        WriteFileAtomically(resultFile.c_str(), text);
        return 5;
    }
    std::string killReport;
    if (argc > 5 && strcmp(argv[5], "kill-first") == 0) {
        bool up = WaitForPreview(parent, 60000);
        bool killed = up && TerminateProcess(process.hProcess, 1) &&
                      WaitForSingleObject(process.hProcess, 20000) == WAIT_OBJECT_0;
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        // What a killed process leaves is gone once the system has cleaned
        // up after it; give it a moment, pumping, before counting.
        DWORD start = GetTickCount();
        while (CountPreviews(parent) != 0 && GetTickCount() - start < 5000)
            WaitForPreview(NULL, 50);
        int left = CountPreviews(parent);
        bool restarted = StartPreview(saver, parent, &process) && WaitForPreview(parent, 60000);
        char text[96];
        snprintf(text, sizeof text, "killed=%d left=%d restarted=%d\n", killed ? 1 : 0, left,
                 restarted ? 1 : 0);
        killReport = text;
        if (!restarted) {
            WriteFileAtomically(resultFile.c_str(), killReport);
            return 6;
        }
    }
    char handleText[32];
    snprintf(handleText, sizeof handleText, "%lu\n", (unsigned long)(ULONG_PTR)parent);
    WriteFileAtomically(parentFile.c_str(), handleText);

    bool endedEarly = PumpUntil(process.hProcess, destroyFile.c_str(), 120000);
    DestroyWindow(parent);
    bool ended = endedEarly || PumpUntil(process.hProcess, NULL, 10000);

    std::string result;
    DWORD code = 0;
    if (!ended) {
        TerminateProcess(process.hProcess, 0xDEAD);
        result = "timeout\n";
    } else if (GetExitCodeProcess(process.hProcess, &code)) {
        char text[64];
        snprintf(text, sizeof text, "exit=0x%08lX %ld\n", (unsigned long)code, (long)(LONG)code);
        result = text;
    } else {
        result = "error=exitcode\n";
    }
    result += endedEarly ? "ended-before-destroy=1\n" : "ended-before-destroy=0\n";
    result += killReport;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    WriteFileAtomically(resultFile.c_str(), result);
    return 0;
}
