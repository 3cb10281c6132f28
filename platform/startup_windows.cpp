// The image's entry point on Windows. The saver links no C runtime (Windows 95
// has no MSVCRT.DLL), so nothing initialises a runtime before the main entry:
// this hands the main entry the values a runtime would and never returns,
// since SaverEntry ends the process with ExitProcess itself.
#include "platform.h"

extern "C" void SaverStartup(void)
{
    ExitProcess((UINT)WinMain(GetModuleHandleA(NULL), NULL, GetCommandLineA(), SW_SHOWDEFAULT));
}
