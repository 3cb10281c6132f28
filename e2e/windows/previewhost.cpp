// previewhost.exe SAVER WIDTH HEIGHT DIR
// Plays the part of the Display control panel's preview: makes a top-level
// window whose client area is WIDTH by HEIGHT, writes its handle in decimal to
// DIR\parent.txt, starts "SAVER" /p HANDLE, and keeps pumping messages. When
// DIR\destroy appears it destroys its window; it then waits up to 10 s for the
// saver and writes DIR\result.txt:
//   exit=0x<8 hex digits> <signed decimal>   (or "timeout", or "error=N")
//   ended-before-destroy=<0|1>
#include "helper_io.h"

#include <cstdio>
#include <cstdlib>

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

    char commandLine[MAX_PATH + 64];
    snprintf(commandLine, sizeof commandLine, "\"%s\" /p %lu", saver,
             (unsigned long)(ULONG_PTR)parent);
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof process);
    if (!CreateProcessA(saver, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        char text[64];
        snprintf(text, sizeof text, "error=%lu\n", (unsigned long)GetLastError());
        WriteFileAtomically(resultFile.c_str(), text);
        return 5;
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
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    WriteFileAtomically(resultFile.c_str(), result);
    return 0;
}
