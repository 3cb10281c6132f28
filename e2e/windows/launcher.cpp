// launcher.exe PROGRAM CMDLINE-FILE RESULT-FILE [TIMEOUT-MS]
// launcher.exe --serve REQUEST-FILE
// Starts PROGRAM (a full path, or "-" to let the system find it in the command
// line) with the command line whose exact bytes are in CMDLINE-FILE, in the
// result file's folder, waits for it and writes its full 32-bit exit code to
// RESULT-FILE:
//   exit=0x<8 hex digits> <signed decimal>
// or "timeout" when it did not end within TIMEOUT-MS (it is then terminated),
// or "error=<GetLastError>" when it could not be started.
// With --serve it stays running, for where a program start costs seconds:
// each REQUEST-FILE that appears holds the four arguments a line, and each
// program is started and waited for on a thread of its own. Programs get the
// server's environment: Wine takes WINEDLLOVERRIDES from the environment its
// process started with, not from a block given to CreateProcess, so a launch
// that needs its own environment starts a launcher of its own.
#include "helper_io.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

static int Launch(const char *program, const char *commandLineFile, const std::string &resultPath,
                  DWORD timeout)
{
    std::string commandLine;
    if (!ReadFileBytes(commandLineFile, &commandLine)) {
        fprintf(stderr, "launcher: cannot read %s\n", commandLineFile);
        return 2;
    }
    std::string folder = resultPath.substr(0, resultPath.find_last_of('\\') + 1);
    // CreateProcessA may write into the command line buffer: give it a copy.
    std::string buffer = commandLine;
    buffer.push_back('\0');
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof process);
    if (!CreateProcessA(program, &buffer[0], NULL, NULL, FALSE, 0, NULL,
                        folder.empty() ? NULL : folder.c_str(), &startup, &process)) {
        char text[64];
        snprintf(text, sizeof text, "error=%lu\n", (unsigned long)GetLastError());
        WriteFileAtomically(resultPath.c_str(), text);
        return 1;
    }
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

static DWORD WINAPI LaunchAsked(void *asked)
{
    std::string *request = (std::string *)asked;
    std::string field[4];
    TakeLines(*request, field, 4);
    Launch(field[0] == "-" ? NULL : field[0].c_str(), field[1].c_str(), field[2],
           (DWORD)strtoul(field[3].c_str(), NULL, 10));
    delete request;
    return 0;
}

static void Answer(const std::string &request)
{
    std::string *asked = new std::string(request);
    HANDLE thread = CreateThread(NULL, 0, LaunchAsked, asked, 0, NULL);
    if (thread)
        CloseHandle(thread);
    else
        delete asked;
}

int main()
{
    char **argv;
    int argc = HelperArgs(&argv);
    if (argc == 3 && strcmp(argv[1], "--serve") == 0)
        return ServeRequests(argv[2], Answer);
    if (argc < 4) {
        fprintf(stderr, "usage: launcher PROGRAM CMDLINE-FILE RESULT-FILE [TIMEOUT-MS]\n");
        return 2;
    }
    return Launch(strcmp(argv[1], "-") == 0 ? NULL : argv[1], argv[2], argv[3],
                  argc > 4 ? (DWORD)strtoul(argv[4], NULL, 10) : INFINITE);
}
