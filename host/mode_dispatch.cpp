// Mode selection: which of the saver's modes the command tail asks for, run
// inside the structured exception guard, and the small launchers of the modes.
#include "host.h"
#include "resource.h"
#include "show.h"

// A fault that the system's own policy hands to us: the filter asks the
// system what to do and passes its verdict on unchanged.
static LONG ModeFaultFilter(EXCEPTION_POINTERS *pointers)
{
    return UnhandledExceptionFilter(pointers);
}

static INT SelectMode(void *context)
{
    LPCSTR text = (LPCSTR)context;
    while (*text == ' ' || *text == '-' || *text == '/')
        ++text;
    switch (*text) {
    case '\0':
        return ShowConfigDialog(NULL);
    case 'C':
    case 'c':
        return ShowConfigDialog(GetForegroundWindow());
    case 'S':
    case 's':
        return RunSaver(NULL);
    case 'P':
    case 'p':
    case 'L':
    case 'l':
        ++text;
        while (*text == ' ')
            ++text;
        return RunPreview(text);
    case 'A':
    case 'a':
        if (!HostState.isWin95Family)
            return -1;
        ++text;
        while (*text == ' ')
            ++text;
        return RunChangePassword(text);
    default:
        return -1;
    }
}

static INT IsWin95Family(void)
{
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version))
        return 0;
    return version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS ? 1 : 0;
}

// When the guard's handler runs, the stack has been unwound to here; the
// system is told that no saver runs any more, and the exit code is the
// exception code, as the system itself gives a process ended by a fault.
INT DispatchMode(HINSTANCE instance, LPCSTR tail)
{
    HostState.instance = instance;
    HostState.isWin95Family = IsWin95Family();
    INT result = -1;
    if (!GuardedCall(SelectMode, (void *)tail, ModeFaultFilter, &result))
        SetSaverRunning(0);
    return result;
}

DWORD ParseWindowHandle(LPCSTR text)
{
    DWORD value = 0;
    while (*text >= '0' && *text <= '9') {
        value = value * 10u + (DWORD)(*text - '0');
        ++text;
    }
    return value;
}

// Window handles are 32-bit numbers; in a 64-bit process they are the same
// number, zero-extended.
static HWND HandleFromNumber(DWORD number)
{
    return (HWND)(ULONG_PTR)number;
}

INT RunPreview(LPCSTR text)
{
    HWND parent = HandleFromNumber(ParseWindowHandle(text));
    if (parent == NULL || !IsWindow(parent))
        return -1;
    return RunSaver(parent);
}

INT RunChangePassword(LPCSTR text)
{
    HWND owner = HandleFromNumber(ParseWindowHandle(text));
    if (owner == NULL || !IsWindow(owner))
        owner = GetForegroundWindow();
    ChangePassword(owner);
    return 0;
}

INT ShowConfigDialog(HWND owner)
{
    if (!PrepareConfigDialog(HostState.instance))
        return 0;
    return (INT)DialogBoxParamA(HostState.instance, MAKEINTRESOURCEA(IDD_CONFIG), owner,
                                ConfigDialogProc, 0);
}
