// Test double of MPR.DLL: PwdChangePasswordA logs its four arguments to
// mpr.log and reports success.
#include "system_entry_points.h"
#include "double_log.h"

extern "C" DWORD WINAPI PwdChangePasswordA(LPCSTR provider, HWND owner, DWORD reserved1,
                                           DWORD reserved2)
{
    char line[160];
    snprintf(line, sizeof line, "change provider=%s owner=%lu reserved1=%lu reserved2=%lu\n",
             provider != NULL ? provider : "(null)", (unsigned long)(ULONG_PTR)owner,
             (unsigned long)reserved1, (unsigned long)reserved2);
    DoubleLog("mpr.log", line);
    return 0;
}

static const PwdChangePasswordAProc g_sameDeclaration = PwdChangePasswordA;

DOUBLE_DLLMAIN("mpr.log")
