// File input and output shared by the end-to-end helper programs.
#include "helper_io.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

bool ReadFileBytes(const char *path, std::string *bytes)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bytes->clear();
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, NULL) && got > 0)
        bytes->append(buffer, got);
    CloseHandle(file);
    return true;
}

bool WriteFileAtomically(const char *path, const std::string &text)
{
    std::string temporary = std::string(path) + ".tmp";
    HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, text.data(), (DWORD)text.size(), &written, NULL);
    CloseHandle(file);
    if (!ok || written != text.size())
        return false;
    return MoveFileExA(temporary.c_str(), path, MOVEFILE_REPLACE_EXISTING) != 0;
}

bool FileExists(const char *path)
{
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

int HelperArgs(char ***argv)
{
    *argv = __argv;
    return __argc;
}

int ServeRequests(const char *request, void (*answer)(const std::string &text))
{
    const char *slash = strrchr(request, '\\');
    std::string folder(request, slash ? slash - request : 0);
    HANDLE change = FindFirstChangeNotificationA(folder.c_str(), FALSE,
                                                 FILE_NOTIFY_CHANGE_FILE_NAME);
    for (;;) {
        std::string text;
        if (FileExists(request) && ReadFileBytes(request, &text) && DeleteFileA(request))
            answer(text);
        if (change == INVALID_HANDLE_VALUE) {
            Sleep(20);
        } else {
            WaitForSingleObject(change, 1000);   // a second at most, should a change go unseen
            FindNextChangeNotification(change);
        }
    }
}

void TakeLines(const std::string &text, std::string *lines, int count)
{
    size_t at = 0;
    for (int n = 0; n < count; ++n) {
        size_t end = text.find('\n', at);
        lines[n] = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? text.size() : end + 1;
    }
}
