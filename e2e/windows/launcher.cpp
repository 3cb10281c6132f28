// launcher.exe PROGRAM CMDLINE-FILE RESULT-FILE [TIMEOUT-MS]
// Starts PROGRAM (a full path, or "-" to let the system find it in the command
// line) with the command line whose exact bytes are in CMDLINE-FILE, waits for
// it and writes its full 32-bit exit code to RESULT-FILE:
//   pid=<decimal>            (written to RESULT-FILE.pid as soon as it runs)
//   exit=0x<8 hex digits> <signed decimal>
// or "timeout" when it did not end within TIMEOUT-MS (it is then terminated),
// or "error=<GetLastError>" when it could not be started.
#include "helper_io.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main()
{
    char **argv;
    int argc = HelperArgs(&argv);
    if (argc < 4) {
        fprintf(stderr, "usage: launcher PROGRAM CMDLINE-FILE RESULT-FILE [TIMEOUT-MS]\n");
        return 2;
    }
    const char *program = strcmp(argv[1], "-") == 0 ? NULL : argv[1];
    std::string commandLine;
    if (!ReadFileBytes(argv[2], &commandLine)) {
        fprintf(stderr, "launcher: cannot read %s\n", argv[2]);
        return 2;
    }
    DWORD timeout = argc > 4 ? (DWORD)strtoul(argv[4], NULL, 10) : INFINITE;
    std::string resultPath = argv[3];

    // CreateProcessA may write into the command line buffer: give it a copy.
    std::string buffer = commandLine;
    buffer.push_back('\0');
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof process);
    if (!CreateProcessA(program, &buffer[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        char text[64];
        snprintf(text, sizeof text, "error=%lu\n", (unsigned long)GetLastError());
        WriteFileAtomically(resultPath.c_str(), text);
        return 1;
    }
    char pidText[64];
    snprintf(pidText, sizeof pidText, "pid=%lu\n", (unsigned long)process.dwProcessId);
    WriteFileAtomically((resultPath + ".pid").c_str(), pidText);

    DWORD waited = WaitForSingleObject(process.hProcess, timeout);
    std::string result;
    if (waited != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 0xDEAD);
        WaitForSingleObject(process.hProcess, 5000);
        result = "timeout\n";
    } else {
        DWORD code = 0;
        if (!GetExitCodeProcess(process.hProcess, &code)) {
            result = "error=exitcode\n";
        } else {
            char text[64];
            snprintf(text, sizeof text, "exit=0x%08lX %ld\n", (unsigned long)code, (long)(LONG)code);
            result = text;
        }
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    WriteFileAtomically(resultPath.c_str(), result);
    printf("%s", result.c_str());
    return 0;
}
