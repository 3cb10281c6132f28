// cmdecho.exe: a stand-in program for testing the launcher itself. Writes the
// exact bytes of its GetCommandLineA to cmdline.txt in its current folder
// (the launch's folder) and ends with the exit code given in hexadecimal
// after the last "exit=" of its command line (0 without one). It needs no
// environment of its own, so that a launch of it takes the way a saver's does.
#include "helper_io.h"

#include <cstdlib>
#include <cstring>

int main()
{
    const char *line = GetCommandLineA();
    WriteFileAtomically("cmdline.txt", line);
    const char *code = NULL;
    for (const char *at = strstr(line, "exit="); at != NULL; at = strstr(at + 5, "exit="))
        code = at + 5;
    ExitProcess(code != NULL ? (DWORD)strtoul(code, NULL, 16) : 0);
}
