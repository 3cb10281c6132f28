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
// each REQUEST-FILE that appears holds the four arguments a line, then
// NAME=VALUE lines that the program's environment gets besides the
// launcher's; each program is started and waited for on a thread of its own.
#include "helper_io.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// The environment block of this process with `extra` (NAME=VALUE lines) put
// in, replacing variables of the same names; empty when there is no extra.
static std::string Environment(const std::string &extra)
{
    std::string block;
    if (extra.empty())
        return block;
    char *own = GetEnvironmentStringsA();
    for (const char *entry = own; own && *entry; entry += strlen(entry) + 1) {
        const char *equals = strchr(entry + 1, '=');
        std::string name(entry, equals ? equals - entry + 1 : strlen(entry));
        if (extra.find("\n" + name) == std::string::npos && extra.compare(0, name.size(), name))
            block.append(entry, strlen(entry) + 1);
    }
    FreeEnvironmentStringsA(own);
    for (size_t at = 0; at < extra.size();) {
        size_t end = std::min(extra.find('\n', at), extra.size());
        block.append(extra, at, end - at).push_back('\0');
        at = end + 1;
    }
    return block;       // c_str() ends the block with a second zero
}

static int Launch(const char *program, const char *commandLineFile, const std::string &resultPath,
                  DWORD timeout, const std::string &environment)
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
    if (!CreateProcessA(program, &buffer[0], NULL, NULL, FALSE, 0,
                        environment.empty() ? NULL : (void *)environment.c_str(),
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
    std::string extra = TakeLines(*request, field, 4);
    extra.erase(extra.find_last_not_of('\n') + 1);
    Launch(field[0] == "-" ? NULL : field[0].c_str(), field[1].c_str(), field[2],
           (DWORD)strtoul(field[3].c_str(), NULL, 10), Environment(extra));
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
                  argc > 4 ? (DWORD)strtoul(argv[4], NULL, 10) : INFINITE, "");
}
