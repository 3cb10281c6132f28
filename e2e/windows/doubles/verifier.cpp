// Test double of PASSWORD.CPL: VerifyScreenSavePwd refuses the first request
// and accepts every later one; each call is logged to verifier.log with the
// window handle it was given, the tick count, and whether the system says a
// screen saver runs (SPI_GETSCREENSAVERRUNNING, which the saver sets). Built against the saver's own declaration of
// the entry point, so a calling convention that differs does not compile.
#include "system_entry_points.h"
#include "double_log.h"

static LONG g_calls;

extern "C" BOOL WINAPI VerifyScreenSavePwd(HWND saverWindow)
{
    LONG call = InterlockedIncrement(&g_calls);
    DWORD tick = GetTickCount();
    BOOL running = -1;
    if (!SystemParametersInfoA(SPI_GETSCREENSAVERRUNNING, 0, &running, 0))
        running = -1;
    char line[160];
    snprintf(line, sizeof line, "verify call=%ld hwnd=%lu answer=%d tick=%lu running=%d\n",
             (long)call, (unsigned long)(ULONG_PTR)saverWindow, call >= 2 ? 1 : 0,
             (unsigned long)tick, (int)running);
    DoubleLog("verifier.log", line);
    return call >= 2 ? TRUE : FALSE;
}

static const VerifyScreenSavePwdProc g_sameDeclaration = VerifyScreenSavePwd;

DOUBLE_DLLMAIN("verifier.log")
