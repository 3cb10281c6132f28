// Test double of PASSWORD.CPL whose VerifyScreenSavePwd faults: it logs the
// call and then writes through a null pointer (volatile both ways, so that
// the compiler keeps the store).
#include "system_entry_points.h"
#include "double_log.h"

extern "C" BOOL WINAPI VerifyScreenSavePwd(HWND saverWindow)
{
    char line[64];
    snprintf(line, sizeof line, "verify hwnd=%lu fault\n", (unsigned long)(ULONG_PTR)saverWindow);
    DoubleLog("verifier.log", line);
    volatile int *volatile nowhere = NULL;
    *nowhere = 1;
    DoubleLog("verifier.log", "the write through a null pointer did not fault\n");
    return TRUE;
}

static const VerifyScreenSavePwdProc g_sameDeclaration = VerifyScreenSavePwd;

DOUBLE_DLLMAIN("verifier.log")
