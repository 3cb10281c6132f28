// cmdecho.exe: a stand-in program for testing the launcher itself. Writes the
// exact bytes of its GetCommandLineA to the file named by CMDECHO_OUT and ends
// with the exit code given in hexadecimal by CMDECHO_EXIT (default 0).
#include "helper_io.h"

#include <cstdlib>

int main()
{
    char path[MAX_PATH];
    if (GetEnvironmentVariableA("CMDECHO_OUT", path, sizeof path) == 0)
        return 2;
    WriteFileAtomically(path, GetCommandLineA());
    char code[32];
    DWORD exitCode = 0;
    if (GetEnvironmentVariableA("CMDECHO_EXIT", code, sizeof code) != 0)
        exitCode = (DWORD)strtoul(code, NULL, 16);
    ExitProcess(exitCode);
}
