// Changing the screen-saver password through the system's password provider.
#include "host.h"

static const char ScreenSaverProvider[] = "SCRSAVE";

void ChangePassword(HWND owner)
{
    HMODULE mpr = LoadLibraryA("MPR.DLL");
    if (mpr == NULL)
        return;
    PwdChangePasswordAProc change =
        (PwdChangePasswordAProc)(void (*)(void))GetProcAddress(mpr, "PwdChangePasswordA");
    if (change != NULL)
        change(ScreenSaverProvider, owner, 0, 0);
    FreeLibrary(mpr);
}
