// Profile (INI) files: real files in the simulated Windows folder, read and
// written by the rules of Wine 8's profile code, which the end-to-end tests
// compare against.
//
// Reading: the file is split into lines at every run of CR and LF; each line
// is trimmed of blanks (and ^Z); blank lines are dropped; "[name]" (up to the
// last ']') starts a section; any other line is a key: the name up to the
// first '=' with blanks trimmed, the value after it with blanks trimmed, or
// no value at all when the line has no '='. Lines before the first section
// belong to a nameless section. Comments are keys like any other line.
//
// Writing: the whole file is written anew from that parsed form: each
// section as "[name]" CRLF followed by "key=value" CRLF lines (or "key" for
// a line without '='), the nameless section first without a header. Blank
// lines and the blanks around '=' are therefore not kept; every other line
// is. A write that changes nothing doesn't touch the file. Names and values
// end at a NUL byte. All of this was checked against Wine 8 byte for byte.
//
// A file that starts with a byte-order mark (UTF-8, UTF-16LE or BE) is
// read as text and written back in its encoding with its mark, as Wine
// does; characters beyond one byte are not kept. A name with a folder is a
// native path (no drive letters).
//
// Read-only files and folders are recognised by their permission bits (the
// tests run as root, who may write anything), and refused with
// ERROR_ACCESS_DENIED before anything is changed, as Windows refuses to open
// a read-only file for writing. (Wine run by root writes a file marked
// read-only all the same; the simulation keeps to Windows here.)
#include "sim_internal.h"

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace sim::detail {
namespace {

struct ProfileKey {
    std::string name;
    bool hasValue = false;
    std::string value;
};

struct ProfileSection {
    std::string name;  // empty for the lines before the first section
    std::vector<ProfileKey> keys;
};

struct Profile {
    std::vector<ProfileSection> sections;  // sections[0] is the nameless one
};

void RemoveTree(const std::string &path);

struct ProfileWorld {
    std::string windowsDir;
    std::string temporaryDir;  // made by Reset; removed by the next one, or at exit
    ~ProfileWorld() {
        if (!temporaryDir.empty()) RemoveTree(temporaryDir);
    }
};

ProfileWorld &World() {
    static ProfileWorld world;
    return world;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r' || c == '\n' || c == 0x1a;
}

std::string Trim(const std::string &s) {
    size_t a = 0, b = s.size();
    while (a < b && IsBlank(s[a])) ++a;
    while (b > a && IsBlank(s[b - 1])) --b;
    return s.substr(a, b - a);
}

bool SameText(const std::string &a, const std::string &b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// The encodings a profile file may have; Wine recognises them by their
// byte-order marks and writes the file back in the one it found.
enum class Encoding { Ansi, Utf8, Utf16Le, Utf16Be };

// The file's text, one byte a character: UTF-16 characters above 0xFF
// (which a single-byte code page can't hold) read as '?'.
std::string Decode(const std::string &bytes, Encoding *encoding) {
    auto starts = [&](const char *mark, size_t n) { return bytes.size() >= n && bytes.compare(0, n, mark, n) == 0; };
    if (starts("\xEF\xBB\xBF", 3)) {
        *encoding = Encoding::Utf8;
        return bytes.substr(3);
    }
    bool little = starts("\xFF\xFE", 2), big = starts("\xFE\xFF", 2);
    if (!little && !big) {
        *encoding = Encoding::Ansi;
        return bytes;
    }
    *encoding = little ? Encoding::Utf16Le : Encoding::Utf16Be;
    std::string text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
        unsigned lo = static_cast<unsigned char>(bytes[little ? i : i + 1]);
        unsigned hi = static_cast<unsigned char>(bytes[little ? i + 1 : i]);
        text += hi == 0 ? char(lo) : '?';
    }
    return text;
}

std::string Encode(const std::string &text, Encoding encoding) {
    switch (encoding) {
    case Encoding::Ansi: return text;
    case Encoding::Utf8: return "\xEF\xBB\xBF" + text;
    case Encoding::Utf16Le:
    case Encoding::Utf16Be: {
        bool little = encoding == Encoding::Utf16Le;
        std::string bytes = little ? "\xFF\xFE" : "\xFE\xFF";
        for (char c : text) {
            bytes += little ? c : '\0';
            bytes += little ? '\0' : c;
        }
        return bytes;
    }
    }
    return text;
}

// Names and values are C strings in Wine's profile code: a NUL byte ends them.
std::string CString(const std::string &text) { return text.substr(0, text.find('\0')); }

Profile Parse(const std::string &bytes) {
    Profile profile;
    profile.sections.push_back(ProfileSection());
    size_t pos = 0;
    while (pos < bytes.size()) {
        size_t end = pos;
        while (end < bytes.size() && bytes[end] != '\n' && bytes[end] != '\r') ++end;
        std::string line = Trim(bytes.substr(pos, end - pos));
        pos = end;
        while (pos < bytes.size() && (bytes[pos] == '\n' || bytes[pos] == '\r')) ++pos;
        if (line.empty()) continue;
        if (line[0] == '[') {
            size_t close = line.rfind(']');
            if (close != std::string::npos) {
                ProfileSection section;
                section.name = CString(line.substr(1, close - 1));
                profile.sections.push_back(section);
                continue;
            }
            // No ']': the line is read as a key, as Wine does.
        }
        ProfileKey key;
        size_t equals = line.find('=');
        if (equals == std::string::npos) {
            key.name = line;
        } else {
            key.name = Trim(line.substr(0, equals));
            key.hasValue = true;
            key.value = Trim(line.substr(equals + 1));
        }
        key.name = CString(key.name);
        key.value = CString(key.value);
        profile.sections.back().keys.push_back(key);
    }
    return profile;
}

std::string Serialize(const Profile &profile) {
    std::string out;
    for (const ProfileSection &section : profile.sections) {
        if (!section.name.empty()) out += "[" + section.name + "]\r\n";
        for (const ProfileKey &key : section.keys) {
            out += key.name;
            if (key.hasValue) out += "=" + key.value;
            out += "\r\n";
        }
    }
    return out;
}

ProfileSection *FindSection(Profile &profile, const std::string &name) {
    std::string wanted = Trim(name);
    for (ProfileSection &section : profile.sections)
        if (SameText(section.name, wanted)) return &section;
    return nullptr;
}

ProfileKey *FindKey(ProfileSection &section, const std::string &name) {
    std::string wanted = Trim(name);
    for (ProfileKey &key : section.keys)
        if (SameText(key.name, wanted)) return &key;
    return nullptr;
}

// The native path of a profile or Windows file: a bare name lives in the
// Windows folder, where an existing file is matched without case; a name
// with a folder is used as given (backslashes read as slashes).
std::string ResolvePath(const std::string &fileName) {
    if (fileName.find('/') != std::string::npos || fileName.find('\\') != std::string::npos) {
        std::string path = fileName;
        std::replace(path.begin(), path.end(), '\\', '/');
        return path;
    }
    const std::string &dir = World().windowsDir;
    if (DIR *d = opendir(dir.c_str())) {
        std::string found;
        while (dirent *entry = readdir(d)) {
            if (SameText(entry->d_name, fileName)) {
                found = entry->d_name;
                if (found == fileName) break;
            }
        }
        closedir(d);
        if (!found.empty()) return dir + "/" + found;
    }
    return dir + "/" + fileName;
}

bool ReadBytes(const std::string &path, std::string *bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream out;
    out << in.rdbuf();
    *bytes = out.str();
    return true;
}

bool FileExists(const std::string &path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string FolderOf(const std::string &path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : (slash == 0 ? std::string("/") : path.substr(0, slash));
}

// Whether Windows would let the program write this file: an existing file
// must not be read-only; a new one needs a writable folder.
bool Writable(const std::string &path) {
    struct stat st {};
    if (stat(path.c_str(), &st) == 0) return S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) != 0;
    struct stat folder {};
    std::string dir = FolderOf(path);
    return stat(dir.c_str(), &folder) == 0 && S_ISDIR(folder.st_mode) && (folder.st_mode & S_IWUSR) != 0;
}

bool WriteBytes(const std::string &path, const std::string &bytes) {
    // The file is rewritten in place, as Windows opens it with CREATE_ALWAYS.
    FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = std::fclose(f) == 0 && ok;
    return ok;
}

void RemoveTree(const std::string &path) {
    if (DIR *d = opendir(path.c_str())) {
        while (dirent *entry = readdir(d)) {
            std::string name = entry->d_name;
            if (name == "." || name == "..") continue;
            std::string child = path + "/" + name;
            struct stat st {};
            if (lstat(child.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) RemoveTree(child);
            else unlink(child.c_str());
        }
        closedir(d);
    }
    rmdir(path.c_str());
}

// Removes the Windows folders of simulated worlds whose process is gone.
void RemoveAbandonedFolders(const std::string &parent) {
    const std::string prefix = "vellomire-windows-";
    DIR *d = opendir(parent.c_str());
    if (d == nullptr) return;
    std::vector<std::string> abandoned;
    while (dirent *entry = readdir(d)) {
        std::string name = entry->d_name;
        if (name.compare(0, prefix.size(), prefix) != 0) continue;
        long pid = std::strtol(name.c_str() + prefix.size(), nullptr, 10);
        if (pid > 0 && kill(pid_t(pid), 0) != 0 && errno == ESRCH) abandoned.push_back(parent + "/" + name);
    }
    closedir(d);
    for (const std::string &path : abandoned) RemoveTree(path);
}

// Copies text into a caller's buffer of size characters the way Wine's
// lstrcpyn does (at most size - 1 characters and a zero); returns the count.
DWORD CopyOut(const std::string &text, LPSTR buffer, DWORD size) {
    if (buffer == nullptr || size == 0) return 0;
    size_t n = std::min<size_t>(text.size(), size - 1);
    // A value may hold a NUL byte; the caller's string ends there.
    size_t nul = text.find('\0');
    if (nul != std::string::npos) n = std::min(n, nul);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = 0;
    return DWORD(n);
}

// A list of names, each ending in a zero, the list in another; when it
// doesn't fit, as much as fits and the count size - 2 (Wine).
DWORD CopyList(const std::vector<std::string> &names, LPSTR buffer, DWORD size) {
    if (buffer == nullptr || size == 0) return 0;
    if (size == 1) {
        buffer[0] = 0;
        return 0;
    }
    std::string all;
    for (const std::string &name : names) {
        all += name.substr(0, name.find('\0'));
        all += '\0';
    }
    if (all.size() + 1 <= size) {
        std::memcpy(buffer, all.data(), all.size());
        buffer[all.size()] = 0;
        return DWORD(all.size() == 0 ? 0 : all.size());
    }
    std::memcpy(buffer, all.data(), size - 2);
    buffer[size - 2] = 0;
    buffer[size - 1] = 0;
    return size - 2;
}

// A value as GetPrivateProfileString returns it: one pair of matching
// quotes around it removed.
std::string Unquoted(const std::string &value) {
    if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
        return value.substr(1, value.size() - 2);
    return value;
}

// What GetPrivateProfileStringA reads: the section names (no section),
// the key names of a section (no key), or a key's value or the default.
DWORD ProfileString(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR buffer, DWORD size,
                    LPCSTR fileName) {
    // Wine takes the default without its trailing spaces.
    std::string fallback = defaultValue ? defaultValue : "";
    while (!fallback.empty() && fallback.back() == ' ') fallback.pop_back();
    std::string bytes;
    Profile profile;
    bool haveFile = fileName != nullptr && ReadBytes(ResolvePath(fileName), &bytes);
    Encoding encoding = Encoding::Ansi;
    if (haveFile) profile = Parse(Decode(bytes, &encoding));
    if (section == nullptr) {
        std::vector<std::string> names;
        for (const ProfileSection &s : profile.sections)
            if (!s.name.empty()) names.push_back(s.name);
        return CopyList(names, buffer, size);
    }
    ProfileSection *found = haveFile ? FindSection(profile, section) : nullptr;
    if (key == nullptr) {
        std::vector<std::string> names;
        if (found != nullptr)
            for (const ProfileKey &k : found->keys) names.push_back(k.name);
        return CopyList(names, buffer, size);
    }
    ProfileKey *k = found ? FindKey(*found, key) : nullptr;
    if (k == nullptr) return CopyOut(fallback, buffer, size);
    return CopyOut(Unquoted(k->value), buffer, size);
}

std::string Shown(LPCSTR text) { return Quote(text); }

// Wine's RtlUnicodeStringToInteger with base 0, on a zero-terminated string.
UINT WineStringToInteger(const char *p) {
    while (*p != 0 && static_cast<unsigned char>(*p) <= ' ') ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    uint32_t base = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'o' || p[1] == 'b')) {
        base = p[1] == 'x' ? 16 : p[1] == 'o' ? 8 : 2;
        p += 2;
    }
    uint32_t value = 0;
    for (;; ++p) {
        uint32_t digit;
        if (*p >= '0' && *p <= '9') digit = uint32_t(*p - '0');
        else if (*p >= 'A' && *p <= 'Z') digit = uint32_t(*p - 'A' + 10);
        else if (*p >= 'a' && *p <= 'z') digit = uint32_t(*p - 'a' + 10);
        else break;
        if (digit >= base) break;
        value = value * base + digit;
    }
    return negative ? 0u - value : value;
}

}  // namespace

void ResetProfiles() {
    ProfileWorld &w = World();
    if (!w.temporaryDir.empty()) {
        RemoveTree(w.temporaryDir);
        w.temporaryDir.clear();
    }
    const std::string &configured = CurrentConfig().windowsDir;
    if (!configured.empty()) {
        w.windowsDir = configured;
        mkdir(configured.c_str(), 0755);
        return;
    }
    const char *tmp = std::getenv("TMPDIR");
    std::string parent = tmp && *tmp ? tmp : "/tmp";
    static bool swept = false;
    if (!swept) {
        RemoveAbandonedFolders(parent);
        swept = true;
    }
    // The process id in the name lets a later process remove the folder
    // of one that was killed before it could.
    std::string pattern = parent + "/vellomire-windows-" + std::to_string(getpid()) + "-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back(0);
    if (mkdtemp(name.data()) != nullptr) {
        w.temporaryDir = name.data();
        w.windowsDir = name.data();
    } else {
        w.windowsDir = ".";
    }
}

}  // namespace sim::detail

using namespace sim::detail;

UINT GetPrivateProfileIntA(LPCSTR section, LPCSTR key, INT defaultValue, LPCSTR fileName) {
    Call call = BeginCall("GetPrivateProfileIntA",
                          Shown(section) + ", " + Shown(key) + Format(", %d, ", defaultValue) + Shown(fileName));
    if (call.fail) {
        // A failed read of the file leaves the default, as an absent file does.
        EndCall(call, Format("%u", UINT(defaultValue)), LRESULT(UINT(defaultValue)));
        return UINT(defaultValue);
    }
    // Wine reads the value as a string into 30 characters (so at most 29
    // count) and returns the default when that string is empty: an empty
    // value gives the default too (Windows NT gives 0 there). Then it
    // converts it with RtlUnicodeStringToInteger in base 0: characters up to
    // ' ' skipped, one optional '+' or '-', then a prefix "0x", "0o" or "0b"
    // (lower case only) selects base 16, 8 or 2, else base 10; digits (and
    // letters of either case for digits above 9) up to the first that
    // doesn't fit the base, accumulated modulo 2^32 and negated for '-'.
    // Measured under Wine 8: "0x10" 16, "0X1F" 0, "010" 10, "0o17" 15,
    // "-0x10" 4294967280, "99999999999999999999" 1661992959.
    char buffer[30];
    DWORD length = 0;
    {
        InternalScope internal;
        length = ProfileString(section, key, "", buffer, sizeof(buffer), fileName);
    }
    UINT result;
    if (length == 0) {
        result = UINT(defaultValue);
    } else {
        result = WineStringToInteger(buffer);
    }
    EndCall(call, Format("%u", result), LRESULT(result));
    return result;
}

DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR buffer, DWORD size,
                               LPCSTR fileName) {
    Call call = BeginCall("GetPrivateProfileStringA", Shown(section) + ", " + Shown(key) + ", " +
                                                          Shown(defaultValue) + (buffer ? ", ptr" : ", null") +
                                                          Format(", %u, ", unsigned(size)) + Shown(fileName));
    DWORD result;
    if (call.fail) {
        result = CopyOut("", buffer, size);
        SetLastErrorInternal(ERROR_FILE_NOT_FOUND);
    } else {
        result = ProfileString(section, key, defaultValue, buffer, size, fileName);
    }
    EndCall(call, Format("%u", unsigned(result)), LRESULT(result));
    return result;
}

BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR fileName) {
    Call call = BeginCall("WritePrivateProfileStringA",
                          Shown(section) + ", " + Shown(key) + ", " + Shown(value) + ", " + Shown(fileName));
    auto finish = [&](BOOL result, DWORD error) {
        if (!result) SetLastErrorInternal(error);
        EndCall(call, Format("%d", int(result)), result);
        return result;
    };
    if (call.fail) return finish(FALSE, ERROR_ACCESS_DENIED);
    if (section == nullptr && key == nullptr && value == nullptr) return finish(TRUE, 0);  // "flush the cache"
    if (fileName == nullptr) return finish(FALSE, ERROR_FILE_NOT_FOUND);
    std::string path = ResolvePath(fileName);
    bool exists = FileExists(path);
    if (!Writable(path)) return finish(FALSE, ERROR_ACCESS_DENIED);
    if (section == nullptr) return finish(FALSE, ERROR_FILE_NOT_FOUND);
    std::string bytes;
    if (exists && !ReadBytes(path, &bytes)) return finish(FALSE, ERROR_ACCESS_DENIED);
    Encoding encoding = Encoding::Ansi;  // a new file is written in the code page
    Profile profile = Parse(Decode(bytes, &encoding));
    bool changed = false;
    ProfileSection *s = FindSection(profile, section);
    if (key == nullptr) {  // delete the section
        if (s != nullptr) {
            profile.sections.erase(profile.sections.begin() + (s - profile.sections.data()));
            changed = true;
        }
    } else if (value == nullptr) {  // delete the key
        if (s != nullptr) {
            if (ProfileKey *k = FindKey(*s, key)) {
                s->keys.erase(s->keys.begin() + (k - s->keys.data()));
                changed = true;
            }
        }
    } else {
        if (s == nullptr) {
            ProfileSection added;
            added.name = Trim(section);
            profile.sections.push_back(added);
            s = &profile.sections.back();
        }
        // Wine stores the value without its leading blanks.
        std::string text = value;
        size_t start = 0;
        while (start < text.size() && IsBlank(text[start])) ++start;
        text = text.substr(start);
        ProfileKey *k = FindKey(*s, key);
        if (k == nullptr) {
            ProfileKey added;
            added.name = Trim(key);
            s->keys.push_back(added);
            k = &s->keys.back();
        }
        if (!k->hasValue || k->value != text) {
            k->hasValue = true;
            k->value = text;
            changed = true;
        }
    }
    if (!changed) return finish(TRUE, 0);
    if (!WriteBytes(path, Encode(Serialize(profile), encoding))) return finish(FALSE, ERROR_ACCESS_DENIED);
    return finish(TRUE, 0);
}

UINT GetWindowsDirectoryA(LPSTR buffer, UINT size) {
    Call call = BeginCall("GetWindowsDirectoryA", std::string(buffer ? "ptr" : "null") + Format(", %u", size));
    const std::string &dir = World().windowsDir;
    UINT result;
    if (call.fail) {
        SetLastErrorInternal(ERROR_NOT_ENOUGH_MEMORY);
        result = 0;
    } else if (buffer == nullptr || size <= dir.size()) {
        result = UINT(dir.size() + 1);  // the size needed, with the zero
    } else {
        std::memcpy(buffer, dir.c_str(), dir.size() + 1);
        result = UINT(dir.size());
    }
    EndCall(call, Format("%u", result), LRESULT(result));
    return result;
}

namespace sim {

std::string WindowsDirectory() { return World().windowsDir; }

bool ReadWindowsFile(const std::string &name, std::string *bytes) {
    return ReadBytes(ResolvePath(name), bytes);
}

void WriteWindowsFile(const std::string &name, const std::string &bytes) {
    WriteBytes(ResolvePath(name), bytes);
}

}  // namespace sim
