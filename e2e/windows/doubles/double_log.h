// Appends one line to a log file that lies next to the module holding this
// code; each line is written with one WriteFile call and the file is closed
// at once, so the host can read it while the process still runs.
#ifndef VELLOMIRE_DOUBLE_LOG_H
#define VELLOMIRE_DOUBLE_LOG_H

#include <windows.h>

#include <cstdio>
#include <cstring>

static HMODULE g_doubleModule;

static void DoubleLog(const char *logName, const char *line)
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(g_doubleModule, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return;
    char *slash = strrchr(path, '\\');
    if (slash == NULL || (size_t)(slash + 1 - path) + strlen(logName) >= MAX_PATH)
        return;
    strcpy(slash + 1, logName);
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, line, (DWORD)strlen(line), &written, NULL);
    CloseHandle(file);
}

#define DOUBLE_DLLMAIN(logName)                                                           \
    extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)     \
    {                                                                                     \
        if (reason == DLL_PROCESS_ATTACH) {                                               \
            g_doubleModule = instance;                                                    \
            DoubleLog(logName, "attach\n");                                               \
        } else if (reason == DLL_PROCESS_DETACH) {                                        \
            DoubleLog(logName, reserved == NULL ? "detach freelibrary\n"                  \
                                                : "detach process-end\n");                \
        }                                                                                 \
        return TRUE;                                                                      \
    }

#endif
