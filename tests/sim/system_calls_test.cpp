// The system functions: version, command line, metrics, system parameters,
// CharNextA, wsprintfA and the calendar clock.
#include "sim_windows.h"
#include "simctl.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// ---------------------------------------------------------------- version

TEST(SystemVersion, NtFamilyByDefault) {
    sim::Reset();
    OSVERSIONINFOA info;
    std::memset(&info, 0xCC, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    EXPECT_EQ(TRUE, GetVersionExA(&info));
    EXPECT_EQ(5u, info.dwMajorVersion);
    EXPECT_EQ(1u, info.dwMinorVersion);
    EXPECT_EQ(2600u, info.dwBuildNumber);
    EXPECT_EQ(DWORD(VER_PLATFORM_WIN32_NT), info.dwPlatformId);
    EXPECT_STREQ("Service Pack 3", info.szCSDVersion);
    EXPECT_EQ(0, info.szCSDVersion[127]);
}

TEST(SystemVersion, NinetyFiveFamily) {
    sim::Config config;
    config.win95Family = true;
    sim::Reset(config);
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    EXPECT_EQ(TRUE, GetVersionExA(&info));
    EXPECT_EQ(4u, info.dwMajorVersion);
    EXPECT_EQ(10u, info.dwMinorVersion);
    EXPECT_EQ(2222u, info.dwBuildNumber & 0xFFFF);
    EXPECT_EQ(DWORD(VER_PLATFORM_WIN32_WINDOWS), info.dwPlatformId);
}

TEST(SystemVersion, WrongSizeAndConfiguredFailure) {
    sim::Reset();
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info - 1;
    SetLastError(0);
    EXPECT_EQ(FALSE, GetVersionExA(&info));
    EXPECT_EQ(122u, GetLastError());  // ERROR_INSUFFICIENT_BUFFER
    EXPECT_EQ(0u, info.dwMajorVersion);
    sim::Config config;
    config.versionFails = true;
    sim::Reset(config);
    info.dwOSVersionInfoSize = sizeof info;
    EXPECT_EQ(FALSE, GetVersionExA(&info));
    EXPECT_EQ(0u, info.dwPlatformId);
}

// ---------------------------------------------------------------- command line and metrics

TEST(SystemCommandLine, StableWritableBufferOfTheConfiguredLine) {
    sim::Config config;
    config.commandLine = "C:\\WINDOWS\\VELLOM~1.SCR /p 1234";
    sim::Reset(config);
    LPSTR line = GetCommandLineA();
    EXPECT_STREQ("C:\\WINDOWS\\VELLOM~1.SCR /p 1234", line);
    line[0] = 'D';
    EXPECT_EQ(line, GetCommandLineA());
    EXPECT_EQ('D', GetCommandLineA()[0]);
    sim::Reset(config);
    EXPECT_EQ('C', GetCommandLineA()[0]) << "a new world has the configured line again";
}

TEST(SystemMetrics, ScreenSizeFromTheWorld) {
    sim::Config config;
    config.screenWidth = 800;
    config.screenHeight = 600;
    sim::Reset(config);
    EXPECT_EQ(800, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(600, GetSystemMetrics(SM_CYSCREEN));
    EXPECT_EQ(0, GetSystemMetrics(9999));
}

TEST(SystemParameters, ScreenSaverRunningReturnsThePreviousState) {
    sim::Reset();
    UINT previous = 77;
    EXPECT_EQ(TRUE, SystemParametersInfoA(SPI_SCREENSAVERRUNNING, 1, &previous, 0));
    EXPECT_EQ(0u, previous);
    EXPECT_EQ(TRUE, SystemParametersInfoA(SPI_SCREENSAVERRUNNING, 1, &previous, 0));
    EXPECT_EQ(1u, previous);
    EXPECT_EQ(TRUE, SystemParametersInfoA(SPI_SCREENSAVERRUNNING, 0, &previous, 0));
    EXPECT_EQ(1u, previous);
    const std::vector<sim::SpiCall> &calls = sim::SystemParameterCalls();
    ASSERT_EQ(3u, calls.size());
    EXPECT_EQ(UINT(SPI_SCREENSAVERRUNNING), calls[2].action);
    EXPECT_EQ(0u, calls[2].param);
    EXPECT_EQ(1u, calls[1].param);
    EXPECT_EQ(0u, calls[0].winIni);
    sim::Reset();
    EXPECT_TRUE(sim::SystemParameterCalls().empty());
}

// ---------------------------------------------------------------- text

TEST(SystemText, CharNextStepsOneByteAndStopsAtTheEnd) {
    sim::Reset();
    const char text[] = "a\xE9";
    EXPECT_EQ(text + 1, CharNextA(text));
    EXPECT_EQ(text + 2, CharNextA(text + 1));
    EXPECT_EQ(text + 2, CharNextA(text + 2));
}

TEST(SystemText, WsprintfFormats) {
    sim::Reset();
    char buffer[1100];
    auto check = [&](int result, const char *expected) {
        EXPECT_STREQ(expected, buffer);
        EXPECT_EQ(int(std::strlen(expected)), result) << expected;
    };
    check(wsprintfA(buffer, "map%d", 11), "map11");
    check(wsprintfA(buffer, "%d", -2147483647 - 1), "-2147483648");
    check(wsprintfA(buffer, "%u", 4294967295u), "4294967295");
    check(wsprintfA(buffer, "%ld|%lu", -5, 5u), "-5|5");
    check(wsprintfA(buffer, "[%5d][%-5d][%05d][%03d]", 42, 42, -42, 1234), "[   42][42   ][-0042][1234]");
    check(wsprintfA(buffer, "%x %X %#x %08X", 255, 255, 255, 0xBEEFu), "ff FF 0xff 0000BEEF");
    check(wsprintfA(buffer, "%s|%5s|%-5s|%.2s|%c%%", "abc", "ab", "ab", "xyz", 'Q'), "abc|   ab|ab   |xy|Q%");
    check(wsprintfA(buffer, "%s", static_cast<const char *>(nullptr)), "(null)");
    check(wsprintfA(buffer, "%.3d", 7), "007");
}

TEST(SystemText, WsprintfStopsAt1023CharactersAndAnswers1024) {
    sim::Reset();
    std::string long_(2000, 'x');
    char buffer[1100];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(1024, wsprintfA(buffer, "%s", long_.c_str()));
    EXPECT_EQ(1023u, std::strlen(buffer));
    EXPECT_EQ('#', buffer[1024]);
    std::string exact(1022, 'y');
    EXPECT_EQ(1022, wsprintfA(buffer, "%s", exact.c_str()));
    // 1023 characters fill the buffer to its last byte: Wine answers 1024 then too.
    std::string full(1023, 'z');
    EXPECT_EQ(1024, wsprintfA(buffer, "%s", full.c_str()));
    EXPECT_EQ(1023u, std::strlen(buffer));
}

// ---------------------------------------------------------------- clock

TEST(SystemClock, CalendarTimeAndTimeZone) {
    sim::Config config;
    config.calendarSeconds = 951782400 + 3600 * 13 + 60 * 7 + 9;  // 2000-02-29 13:07:09 UTC, a Tuesday
    config.timeZoneBias = -120;                                   // two hours east of UTC
    sim::Reset(config);
    SYSTEMTIME utc{}, local{};
    GetSystemTime(&utc);
    EXPECT_EQ(2000, utc.wYear);
    EXPECT_EQ(2, utc.wMonth);
    EXPECT_EQ(29, utc.wDay);
    EXPECT_EQ(2, utc.wDayOfWeek);
    EXPECT_EQ(13, utc.wHour);
    EXPECT_EQ(7, utc.wMinute);
    EXPECT_EQ(9, utc.wSecond);
    EXPECT_EQ(0, utc.wMilliseconds);
    GetLocalTime(&local);
    EXPECT_EQ(15, local.wHour);
    EXPECT_EQ(29, local.wDay);
    FILETIME ft{};
    GetSystemTimeAsFileTime(&ft);
    uint64_t ticks = uint64_t(ft.dwHighDateTime) << 32 | ft.dwLowDateTime;
    EXPECT_EQ((uint64_t(config.calendarSeconds) + 11644473600ull) * 10000000ull, ticks);
    TIME_ZONE_INFORMATION zone{};
    EXPECT_EQ(0u, GetTimeZoneInformation(&zone));  // TIME_ZONE_ID_UNKNOWN
    EXPECT_EQ(-120, zone.Bias);
}

TEST(SystemClock, FollowsTheVirtualClock) {
    sim::Config config;
    config.calendarSeconds = 86400 - 1;  // 1970-01-01 23:59:59 UTC
    sim::Reset(config);
    SYSTEMTIME before{}, after{};
    FILETIME start{}, end{};
    sim::RunProcess([&] {
        GetSystemTime(&before);
        GetSystemTimeAsFileTime(&start);
        Sleep(1250);
        GetSystemTime(&after);
        GetSystemTimeAsFileTime(&end);
    });
    EXPECT_EQ(1, before.wDay);
    EXPECT_EQ(59, before.wSecond);
    EXPECT_EQ(2, after.wDay);
    EXPECT_EQ(0, after.wHour);
    EXPECT_EQ(0, after.wSecond);
    EXPECT_EQ(250, after.wMilliseconds);
    EXPECT_EQ(5, after.wDayOfWeek);  // a Friday
    uint64_t t0 = uint64_t(start.dwHighDateTime) << 32 | start.dwLowDateTime;
    uint64_t t1 = uint64_t(end.dwHighDateTime) << 32 | end.dwLowDateTime;
    EXPECT_EQ(12500000u, t1 - t0);  // 1.25 s in 100 ns units
}

TEST(SystemClock, LocalTimeCrossesMidnightBackwards) {
    sim::Config config;
    config.calendarSeconds = 0;  // 1970-01-01 00:00:00 UTC, a Thursday
    config.timeZoneBias = 300;   // five hours west
    sim::Reset(config);
    SYSTEMTIME local{};
    GetLocalTime(&local);
    EXPECT_EQ(1969, local.wYear);
    EXPECT_EQ(12, local.wMonth);
    EXPECT_EQ(31, local.wDay);
    EXPECT_EQ(19, local.wHour);
    EXPECT_EQ(3, local.wDayOfWeek);
}

}  // namespace
