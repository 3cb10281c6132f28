// The screen-saver password of the Windows 95 family: the system's verifier
// is loaded for a full-screen run when the user enabled the password, and
// every close request is put to it, never twice at once and not again within
// a short interval after its last answer.
#include "host.h"

static const char DesktopKey[] = "Control Panel\\Desktop";
static const char UsePasswordValue[] = "ScreenSaveUsePassword";

void SetSaverRunning(INT flag)
{
    if (!HostState.isWin95Family)
        return;
    UINT previous = 0;
    SystemParametersInfoA(SPI_SCREENSAVERRUNNING, (UINT)flag, &previous, 0);
}

// The switch is read into four bytes that start at zero, so a shorter value
// counts as its own bytes; a longer one fails the read and counts as off.
static BOOL PasswordEnabled(HKEY desktop)
{
    DWORD enabled = 0;
    DWORD size = sizeof enabled;
    if (RegQueryValueExA(desktop, UsePasswordValue, NULL, NULL, (LPBYTE)&enabled, &size) !=
        ERROR_SUCCESS)
        return FALSE;
    return enabled != 0;
}

void LoadPasswordVerifier(void)
{
    if (!HostState.isWin95Family)
        return;
    if (HostState.verifierLibrary != NULL)
        UnloadPasswordVerifier();
    HKEY desktop = NULL;
    if (RegOpenKeyA(HKEY_CURRENT_USER, DesktopKey, &desktop) != ERROR_SUCCESS)
        return;
    if (PasswordEnabled(desktop)) {
        HostState.verifierLibrary = LoadLibraryA("PASSWORD.CPL");
        if (HostState.verifierLibrary != NULL) {
            HostState.verifierEntry = (VerifyScreenSavePwdProc)(void (*)(void))GetProcAddress(
                HostState.verifierLibrary, "VerifyScreenSavePwd");
            if (HostState.verifierEntry != NULL)
                SetSaverRunning(1);
            else
                UnloadPasswordVerifier();
        }
    }
    RegCloseKey(desktop);
}

void UnloadPasswordVerifier(void)
{
    if (!HostState.isWin95Family || HostState.verifierLibrary == NULL)
        return;
    FreeLibrary(HostState.verifierLibrary);
    HostState.verifierLibrary = NULL;
    if (HostState.verifierEntry != NULL) {
        HostState.verifierEntry = NULL;
        SetSaverRunning(0);
    }
}

DWORD TickDifference(DWORD earlier, DWORD later)
{
    return later - earlier;
}

// Timer messages already waiting would run the show inside the verifier's
// dialog at once; at most two of them are dropped before asking.
static void DropPendingTicks(HWND hwnd)
{
    MSG dropped;
    PeekMessageA(&dropped, hwnd, WM_TIMER, WM_TIMER, PM_REMOVE | PM_NOYIELD);
    PeekMessageA(&dropped, hwnd, WM_TIMER, WM_TIMER, PM_REMOVE | PM_NOYIELD);
}

INT VerifyClose(HWND hwnd)
{
    if (HostState.isVerifying)
        return 0;
    if (HostState.verifierEntry == NULL) {
        HostState.closeAllowed = 1;
        return 1;
    }
    DWORD now = GetTickCount();
    if (HostState.lastVerifyTick != NO_VERIFY_TICK &&
        TickDifference(HostState.lastVerifyTick, now) < VERIFY_INTERVAL_MS)
        return 0;

    HostState.isVerifying = 1;
    DropPendingTicks(hwnd);
    LRESULT answer = SendMessageA(hwnd, WM_VERIFY_PASSWORD, 0, 0);
    HostState.closeAllowed = (INT)answer;
    HostState.isVerifying = 0;
    if (answer == 0)
        SetCursor(NULL);
    HostState.lastVerifyTick = GetTickCount();
    return HostState.closeAllowed;
}
