// The system's odds and ends: version, command line, screen metrics,
// SystemParametersInfoA, CharNextA, wsprintfA and the calendar clock.
// Functions that cannot fail on Windows (GetCommandLineA, CharNextA, the
// time functions) ignore an injected failure.
#include "sim_internal.h"

#include <cstdarg>
#include <cstring>
#include <vector>

namespace sim::detail {
namespace {

constexpr DWORD kErrorInsufficientBuffer = 122;
constexpr DWORD kTimeZoneIdUnknown = 0;
constexpr int64_t kFileTimeEpochSeconds = 11644473600;  // 1601-01-01 to 1970-01-01

struct SystemWorld {
    std::vector<char> commandLine;
    std::vector<SpiCall> spiCalls;
    UINT screenSaverRunning = 0;
};

SystemWorld &World() {
    static SystemWorld world;
    return world;
}

// Milliseconds since 1970-01-01 UTC on the virtual calendar.
int64_t CalendarMilliseconds() {
    return CurrentConfig().calendarSeconds * 1000 + int64_t(VirtualMilliseconds());
}

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void CivilFromDays(int64_t days, int *year, int *month, int *day) {
    days += 719468;
    int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    int64_t doe = days - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t y = yoe + era * 400;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    *day = int(doy - (153 * mp + 2) / 5 + 1);
    *month = int(mp < 10 ? mp + 3 : mp - 9);
    *year = int(y + (*month <= 2 ? 1 : 0));
}

SYSTEMTIME TimeFromMilliseconds(int64_t ms) {
    int64_t seconds = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
    int64_t millis = ms - seconds * 1000;
    int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
    int64_t secondOfDay = seconds - days * 86400;
    int year, month, day;
    CivilFromDays(days, &year, &month, &day);
    SYSTEMTIME t{};
    t.wYear = WORD(year);
    t.wMonth = WORD(month);
    t.wDay = WORD(day);
    t.wDayOfWeek = WORD(((days % 7) + 7 + 4) % 7);  // 1970-01-01 was a Thursday
    t.wHour = WORD(secondOfDay / 3600);
    t.wMinute = WORD(secondOfDay / 60 % 60);
    t.wSecond = WORD(secondOfDay % 60);
    t.wMilliseconds = WORD(millis);
    return t;
}

std::string TimeText(const SYSTEMTIME &t) {
    return Format("%04u-%02u-%02u %02u:%02u:%02u.%03u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                  t.wSecond, t.wMilliseconds);
}

// ---------------------------------------------------------------- wsprintfA

// USER32's formatter: %[-][#][0][width][.precision][h|l|w]type with the
// types c C d i u x X s S p and %%; no floating point. The output stops at
// 1023 characters and a zero (the 1024-byte limit of wsprintfA).
class Printer {
public:
    Printer(char *buffer, size_t limit) : buffer_(buffer), room_(limit) {}

    bool Put(char c) {
        if (room_ <= 1) return false;
        buffer_[length_++] = c;
        --room_;
        return true;
    }
    bool Put(const std::string &s) {
        for (char c : s)
            if (!Put(c)) return false;
        return true;
    }
    size_t Length() const { return length_; }
    bool Full() const { return room_ <= 1; }
    void Finish() { buffer_[length_] = 0; }

private:
    char *buffer_;
    size_t room_;
    size_t length_ = 0;
};

std::string Pad(const std::string &body, const std::string &prefix, int width, bool left, bool zero) {
    std::string out;
    int total = int(prefix.size() + body.size());
    int fill = width > total ? width - total : 0;
    if (left) return prefix + body + std::string(size_t(fill), ' ');
    if (zero) return prefix + std::string(size_t(fill), '0') + body;
    return std::string(size_t(fill), ' ') + prefix + body;
}

// Returns the length written, or -1 when the output was cut at the limit.
int Print(char *buffer, size_t limit, const char *format, va_list args) {
    Printer out(buffer, limit);
    const char *p = format;
    while (*p != 0 && !out.Full()) {
        if (*p != '%') {
            out.Put(*p++);
            continue;
        }
        ++p;
        if (*p == '%') {
            out.Put(*p++);
            continue;
        }
        bool left = false, alternate = false, zero = false;
        for (;; ++p) {
            if (*p == '-') left = true;
            else if (*p == '#') alternate = true;
            else if (*p == '0') zero = true;
            else break;
        }
        int width = 0;
        while (*p >= '0' && *p <= '9') width = width * 10 + (*p++ - '0');
        int precision = -1;
        if (*p == '.') {
            ++p;
            precision = 0;
            while (*p >= '0' && *p <= '9') precision = precision * 10 + (*p++ - '0');
        }
        bool wide = false;
        if (*p == 'l' || *p == 'w') {
            wide = *p == 'w';
            ++p;
        } else if (*p == 'h') {
            ++p;
        }
        char type = *p;
        if (type == 0) break;
        ++p;
        std::string body, prefix;
        switch (type) {
        case 'c':
        case 'C':
            body = std::string(1, char(va_arg(args, int)));
            zero = false;
            break;
        case 's':
        case 'S': {
            const char *s = va_arg(args, const char *);
            if (wide) s = nullptr;  // wide strings don't occur in this program
            std::string text = s ? s : "(null)";
            if (precision >= 0 && size_t(precision) < text.size()) text.resize(size_t(precision));
            body = text;
            zero = false;
            break;
        }
        case 'd':
        case 'i': {
            long value = long(va_arg(args, int));
            unsigned long magnitude = value < 0 ? 0ul - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
            body = Format("%lu", magnitude);
            if (value < 0) prefix = "-";
            break;
        }
        case 'u':
            body = Format("%u", va_arg(args, unsigned));
            break;
        case 'x':
        case 'X': {
            unsigned value = va_arg(args, unsigned);
            body = Format(type == 'x' ? "%x" : "%X", value);
            if (alternate && value != 0) prefix = type == 'x' ? "0x" : "0X";
            break;
        }
        case 'p':
            body = Format("%0*llX", int(sizeof(void *) * 2),
                          static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(va_arg(args, void *))));
            break;
        default:  // an unknown type prints itself
            body = std::string(1, type);
            zero = false;
            break;
        }
        if (precision >= 0 && type != 's' && type != 'S' && type != 'c' && type != 'C' &&
            body.size() < size_t(precision))
            body = std::string(size_t(precision) - body.size(), '0') + body;
        out.Put(Pad(body, prefix, width, left, zero && precision < 0));
    }
    out.Finish();
    return out.Full() ? -1 : int(out.Length());
}

}  // namespace

void ResetSystem() {
    SystemWorld &w = World();
    const std::string &line = CurrentConfig().commandLine;
    w.commandLine.assign(line.begin(), line.end());
    w.commandLine.push_back(0);
    w.spiCalls.clear();
    w.screenSaverRunning = 0;
}

}  // namespace sim::detail

using namespace sim;
using namespace sim::detail;

BOOL GetVersionExA(LPOSVERSIONINFOA info) {
    Call call = BeginCall("GetVersionExA", info ? Format("{size %u}", unsigned(info->dwOSVersionInfoSize)) : "null");
    auto finish = [&](BOOL result, DWORD error) {
        if (!result) SetLastErrorInternal(error);
        EndCall(call, Format("%d", int(result)), result);
        return result;
    };
    if (call.fail || CurrentConfig().versionFails) return finish(FALSE, ERROR_INVALID_PARAMETER);
    if (info == nullptr) {
        RecordMisuse("GetVersionExA with a null pointer");
        return finish(FALSE, ERROR_INVALID_PARAMETER);
    }
    // OSVERSIONINFOA, or OSVERSIONINFOEXA (8 bytes longer: service pack,
    // suite and product type, all reported as 0 here).
    DWORD size = info->dwOSVersionInfoSize;
    if (size != sizeof(OSVERSIONINFOA) && size != sizeof(OSVERSIONINFOA) + 8)
        return finish(FALSE, kErrorInsufficientBuffer);
    std::memset(reinterpret_cast<char *>(info) + sizeof(DWORD), 0, size - sizeof(DWORD));
    if (CurrentConfig().win95Family) {
        // Windows 98 Second Edition, as Wine reports it in its "win98" mode:
        // the build number's high word repeats the version.
        info->dwMajorVersion = 4;
        info->dwMinorVersion = 10;
        info->dwBuildNumber = 0x040A08AE;  // build 2222
        info->dwPlatformId = VER_PLATFORM_WIN32_WINDOWS;
        std::strcpy(info->szCSDVersion, " A ");
    } else {
        info->dwMajorVersion = 5;  // Windows XP
        info->dwMinorVersion = 1;
        info->dwBuildNumber = 2600;
        info->dwPlatformId = VER_PLATFORM_WIN32_NT;
        std::strcpy(info->szCSDVersion, "Service Pack 3");
    }
    return finish(TRUE, 0);
}

LPSTR GetCommandLineA(void) {
    Call call = BeginCall("GetCommandLineA", "");
    LPSTR line = World().commandLine.data();
    EndCall(call, Quote(line), LRESULT(reinterpret_cast<intptr_t>(line)));
    return line;
}

int GetSystemMetrics(int index) {
    const char *name = index == SM_CXSCREEN ? "SM_CXSCREEN" : index == SM_CYSCREEN ? "SM_CYSCREEN" : nullptr;
    Call call = BeginCall("GetSystemMetrics", name ? std::string(name) : Format("%d", index));
    int result = 0;  // unknown indexes read 0, as on Windows
    if (!call.fail) {
        if (index == SM_CXSCREEN) result = CurrentConfig().screenWidth;
        else if (index == SM_CYSCREEN) result = CurrentConfig().screenHeight;
    }
    EndCall(call, Format("%d", result), result);
    return result;
}

BOOL SystemParametersInfoA(UINT action, UINT param, LPVOID pvParam, UINT winIni) {
    Call call = BeginCall("SystemParametersInfoA",
                          (action == SPI_SCREENSAVERRUNNING ? std::string("SPI_SCREENSAVERRUNNING")
                                                            : Format("%u", action)) +
                              Format(", %u, ", param) + (pvParam ? "ptr" : "null") + Format(", %u", winIni));
    World().spiCalls.push_back(SpiCall{action, param, winIni});
    auto finish = [&](BOOL result, DWORD error) {
        if (!result) SetLastErrorInternal(error);
        EndCall(call, Format("%d", int(result)), result);
        return result;
    };
    if (call.fail) return finish(FALSE, ERROR_INVALID_PARAMETER);
    if (action == SPI_SCREENSAVERRUNNING) {
        // The previous state comes back through pvParam.
        if (pvParam != nullptr) *static_cast<UINT *>(pvParam) = World().screenSaverRunning;
        World().screenSaverRunning = param != 0 ? 1 : 0;
        return finish(TRUE, 0);
    }
    return finish(FALSE, ERROR_INVALID_PARAMETER);
}

LPSTR CharNextA(LPCSTR text) {
    Call call = BeginCall("CharNextA", Quote(text));
    if (text == nullptr) {
        RecordMisuse("CharNextA of a null pointer");
        EndCall(call, "null");
        return nullptr;
    }
    // A single-byte code page: one byte a character; the end stays the end.
    LPCSTR next = *text != 0 ? text + 1 : text;
    EndCall(call, Quote(next), LRESULT(reinterpret_cast<intptr_t>(next)));
    return const_cast<LPSTR>(next);
}

// Returns the length of the output; when it had to be cut at 1023
// characters, 1024, as Wine's USER32 answers.
int wsprintfA(LPSTR buffer, LPCSTR format, ...) {
    Call call = BeginCall("wsprintfA", std::string(buffer ? "ptr" : "null") + ", " + Quote(format) + ", ...");
    if (buffer == nullptr || format == nullptr) {
        RecordMisuse("wsprintfA with a null buffer or format");
        EndCall(call, "0");
        return 0;
    }
    va_list args;
    va_start(args, format);
    int written = Print(buffer, 1024, format, args);
    va_end(args);
    int result = written < 0 ? 1024 : written;
    EndCall(call, Format("%d ", result) + Quote(buffer), result);
    return result;
}

void GetSystemTimeAsFileTime(LPFILETIME time) {
    Call call = BeginCall("GetSystemTimeAsFileTime", time ? "ptr" : "null");
    uint64_t ticks = uint64_t(CalendarMilliseconds() + kFileTimeEpochSeconds * 1000) * 10000u;
    if (time != nullptr) {
        time->dwLowDateTime = DWORD(ticks & 0xFFFFFFFFu);
        time->dwHighDateTime = DWORD(ticks >> 32);
    }
    EndCall(call, Format("%llu", static_cast<unsigned long long>(ticks)));
}

void GetSystemTime(LPSYSTEMTIME time) {
    Call call = BeginCall("GetSystemTime", time ? "ptr" : "null");
    SYSTEMTIME t = TimeFromMilliseconds(CalendarMilliseconds());
    if (time != nullptr) *time = t;
    EndCall(call, TimeText(t));
}

void GetLocalTime(LPSYSTEMTIME time) {
    Call call = BeginCall("GetLocalTime", time ? "ptr" : "null");
    // UTC = local + bias, so local = UTC - bias.
    SYSTEMTIME t = TimeFromMilliseconds(CalendarMilliseconds() - int64_t(CurrentConfig().timeZoneBias) * 60000);
    if (time != nullptr) *time = t;
    EndCall(call, TimeText(t));
}

DWORD GetTimeZoneInformation(LPTIME_ZONE_INFORMATION info) {
    Call call = BeginCall("GetTimeZoneInformation", info ? "ptr" : "null");
    if (info != nullptr) {
        // One zone without daylight saving time.
        std::memset(info, 0, sizeof(*info));
        info->Bias = CurrentConfig().timeZoneBias;
        std::strcpy(info->StandardName, "Simulated Standard Time");
        std::strcpy(info->DaylightName, "Simulated Daylight Time");
    }
    EndCall(call, "TIME_ZONE_ID_UNKNOWN", LRESULT(kTimeZoneIdUnknown));
    return kTimeZoneIdUnknown;
}

namespace sim {

const std::vector<SpiCall> &SystemParameterCalls() { return World().spiCalls; }

}  // namespace sim
