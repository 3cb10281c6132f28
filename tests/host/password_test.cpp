// Password verification and change on the simulation, with doubles of
// PASSWORD.CPL and MPR.DLL: loading the verifier from the registry switch,
// the close decisions and their 200 ms interval, a verifier that runs a
// message loop of its own, a verifier that faults, and the password change.
#include "host.h"
#include "log_tables.h"
#include "saver_process.h"
#include "show.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace {

const char DesktopKey[] = "Control Panel\\Desktop";
const char UsePassword[] = "ScreenSaveUsePassword";
const UINT ScreenSaverRunning = 97;

// Whether a window is still up, asked of the simulation: a test's actions run
// as the program, and a call of IsWindow there would count among its calls.
bool Alive(HWND hwnd)
{
    if (hwnd == nullptr)
        return false;
    std::vector<HWND> live = sim::LiveWindows();
    return std::find(live.begin(), live.end(), hwnd) != live.end();
}

// ---------------------------------------------------------------- the doubles

// What the PASSWORD.CPL double does when it is asked, and what it saw.
struct VerifierScript {
    std::vector<LRESULT> answers;              // one per question; the last one repeats
    std::function<void(HWND, size_t)> during;  // runs inside the call (window, question index)
    bool fault = false;                        // faults as a null-pointer write would
    std::vector<HWND> askedWith;
    std::vector<uint64_t> askedAt;             // sim::Elapsed() when asked
    std::vector<uint64_t> answeredAt;
    std::vector<int> verifyingInside;          // HostState.isVerifying seen inside
};
VerifierScript Verifier;

BOOL WINAPI FakeVerifyScreenSavePwd(HWND saver)
{
    size_t index = Verifier.askedWith.size();
    Verifier.askedWith.push_back(saver);
    Verifier.askedAt.push_back(sim::Elapsed());
    Verifier.verifyingInside.push_back(HostState.isVerifying);
    if (Verifier.during)
        Verifier.during(saver, index);
    if (Verifier.fault)
        sim::RaiseAccessViolation();
    Verifier.answeredAt.push_back(sim::Elapsed());
    if (Verifier.answers.empty())
        return TRUE;
    return (BOOL)Verifier.answers[std::min(index, Verifier.answers.size() - 1)];
}

// What the MPR.DLL double was asked.
struct ChangeRequest {
    std::string provider;
    HWND owner;
    DWORD reserved1;
    DWORD reserved2;
};
std::vector<ChangeRequest> ChangeRequests;
DWORD ChangeAnswer = 0;

DWORD WINAPI FakePwdChangePasswordA(LPCSTR provider, HWND owner, DWORD reserved1, DWORD reserved2)
{
    ChangeRequests.push_back({provider ? provider : "(null)", owner, reserved1, reserved2});
    return ChangeAnswer;
}

// An entry that a real PASSWORD.CPL also has, for the double without the verifier.
LONG WINAPI FakeControlPanelApplet(HWND, UINT, LPARAM, LPARAM)
{
    return 0;
}

void InstallVerifier(bool exported)
{
    sim::FakeModule module;
    module.fileName = "PASSWORD.CPL";
    module.exports["CPlApplet"] = reinterpret_cast<void *>(&FakeControlPanelApplet);
    if (exported)
        module.exports["VerifyScreenSavePwd"] = reinterpret_cast<void *>(&FakeVerifyScreenSavePwd);
    sim::InstallModule(module);
}

void InstallPasswordProvider(bool exported)
{
    sim::FakeModule module;
    module.fileName = "MPR.DLL";
    if (exported)
        module.exports["PwdChangePasswordA"] = reinterpret_cast<void *>(&FakePwdChangePasswordA);
    sim::InstallModule(module);
}

void EnablePassword()
{
    sim::SetRegistryValue(DesktopKey, UsePassword, REG_DWORD, {1, 0, 0, 0});
}

// ---------------------------------------------------------------- worlds and logs

// A full-screen run on the given family with the password enabled and the
// verifier installed; the show holds each picture for 10 s, painted at once,
// so that no tick falls into the closes the tests look at.
void PasswordWorld(bool win95, sim::Config base = sim::Config())
{
    base.maxVirtualMs = 120000;
    vtest::StartWorld("/s", win95, base);
    vtest::WriteSettings("Seconds=10\r\nPaint=0\r\n");
    Verifier = VerifierScript();
    InstallVerifier(true);
    EnablePassword();
}

// The verifier takes this long to answer, as a user typing a password does.
const DWORD VerifierTakes = 100;
void TakeTime(HWND, size_t)
{
    Sleep(VerifierTakes);
}

// A key at an absolute time of the run, while the saver window is up.
void KeyAt(uint64_t at)
{
    sim::At(at, [] {
        if (Alive(HostState.saverWindow))
            sim::KeyPress('K');
    });
}

// One WM_CLOSE that reached the saver window: the platform calls made while
// it was handled, and its answer.
struct CloseHandling {
    std::vector<std::string> calls;
    LRESULT result = -12345;
    bool returned = false;
};

// Every WM_CLOSE dispatched to or sent to the saver window, in order, with
// the calls made inside (nested messages included).
std::vector<CloseHandling> Closes()
{
    std::vector<CloseHandling> closes;
    const std::vector<sim::Event> &log = sim::Log();
    for (size_t i = 0; i < log.size(); ++i) {
        const sim::Event &start = log[i];
        if ((start.kind != sim::EventKind::Posted && start.kind != sim::EventKind::Sent) ||
            start.message != WM_CLOSE)
            continue;
        CloseHandling close;
        for (size_t j = i + 1; j < log.size(); ++j) {
            const sim::Event &e = log[j];
            if (e.kind == sim::EventKind::Return && e.message == WM_CLOSE && e.depth == start.depth) {
                close.result = e.result;
                close.returned = true;
                break;
            }
            if (e.kind == sim::EventKind::Call)
                close.calls.push_back(e.function);
        }
        closes.push_back(close);
    }
    return closes;
}

// lParam of the close requests that the tests post as the system would.
const LPARAM SystemCloseMark = 0x7E57;

// Close requests that the program posted (wParam and lParam 0) since the log
// entry at index from.
int ProgramClosesSince(size_t from)
{
    int closes = 0;
    const std::vector<sim::Event> &log = sim::Log();
    for (size_t i = from; i < log.size(); ++i)
        if (log[i].kind == sim::EventKind::Call && log[i].function == "PostMessageA" &&
            log[i].text.find(", WM_CLOSE, 0x0, 0x0)") != std::string::npos)
            ++closes;
    return closes;
}

// The calls up to and including the first of the given name.
std::vector<std::string> UpTo(const std::vector<std::string> &calls, const std::string &last)
{
    std::vector<std::string> head;
    for (const std::string &call : calls) {
        head.push_back(call);
        if (call == last)
            break;
    }
    return head;
}

// The calls of the password machinery, in order.
std::vector<std::string> PasswordCalls(size_t from = 0)
{
    static const std::vector<std::string> machinery = {
        "RegOpenKeyA",    "RegQueryValueExA", "RegCloseKey", "LoadLibraryA",
        "GetProcAddress", "FreeLibrary",      "SystemParametersInfoA",
    };
    std::vector<std::string> calls;
    for (const std::string &call : vtest::CallsSince(from))
        if (std::find(machinery.begin(), machinery.end(), call) != machinery.end())
            calls.push_back(call);
    return calls;
}

std::vector<std::pair<UINT, UINT>> SaverRunningCalls()
{
    std::vector<std::pair<UINT, UINT>> calls;
    for (const sim::SpiCall &call : sim::SystemParameterCalls())
        calls.push_back({call.action, call.param});
    return calls;
}

std::string Described(const std::vector<std::pair<UINT, UINT>> &calls)
{
    std::string text;
    for (const auto &call : calls)
        text += "(" + std::to_string(call.first) + ", " + std::to_string(call.second) + ") ";
    return text;
}

// ---------------------------------------------------------------- loading

// The registry switch as the tests store it.
struct SwitchValue {
    const char *name;
    bool keyExists;
    bool valueExists;
    DWORD type;
    std::vector<uint8_t> bytes;
    bool enabled;   // what the four-byte read makes of it
};

const SwitchValue SwitchValues[] = {
    {"no Desktop key", false, false, REG_NONE, {}, false},
    {"key without the value", true, false, REG_NONE, {}, false},
    {"DWORD 0", true, true, REG_DWORD, {0, 0, 0, 0}, false},
    {"DWORD 1", true, true, REG_DWORD, {1, 0, 0, 0}, true},
    {"DWORD with the high byte only", true, true, REG_DWORD, {0, 0, 0, 1}, true},
    {"1 byte 1", true, true, REG_BINARY, {1}, true},
    {"1 byte 0", true, true, REG_BINARY, {0}, false},
    {"2 bytes 0 1", true, true, REG_BINARY, {0, 1}, true},
    {"2 bytes 0 0", true, true, REG_BINARY, {0, 0}, false},
    {"no bytes", true, true, REG_BINARY, {}, false},
    {"5 bytes", true, true, REG_BINARY, {1, 0, 0, 0, 0}, false},
    {"8 bytes", true, true, REG_BINARY, {1, 0, 0, 0, 0, 0, 0, 0}, false},
    {"string \"1\"", true, true, REG_SZ, {'1', 0}, true},
    {"string \"0\" (its bytes are not zero)", true, true, REG_SZ, {'0', 0}, true},
    {"empty string", true, true, REG_SZ, {0}, false},
};

// What the run's password calls are, by how far the loading got.
// RegOpenKeyA fails: nothing else.
const std::vector<std::string> NoKeyCalls = {"RegOpenKeyA"};
// The switch is off, missing or unreadable.
const std::vector<std::string> SwitchOffCalls = {"RegOpenKeyA", "RegQueryValueExA", "RegCloseKey"};
// LoadLibraryA("PASSWORD.CPL") fails.
const std::vector<std::string> NoLibraryCalls = {"RegOpenKeyA", "RegQueryValueExA", "LoadLibraryA",
                                                 "RegCloseKey"};
// The library has no VerifyScreenSavePwd: freed at once, the system untold.
const std::vector<std::string> NoEntryCalls = {"RegOpenKeyA",    "RegQueryValueExA", "LoadLibraryA",
                                               "GetProcAddress", "FreeLibrary",      "RegCloseKey"};
// Loaded for the run (the system told 1), unloaded after the loop (told 0).
const std::vector<std::string> LoadedCalls = {
    "RegOpenKeyA", "RegQueryValueExA", "LoadLibraryA",          "GetProcAddress",
    "SystemParametersInfoA", "RegCloseKey", "FreeLibrary",      "SystemParametersInfoA"};

TEST(PasswordVerifier, LoadAndUnloadForEveryFamilySwitchAndLibrary)
{
    int runs = 0;
    for (bool win95 : {true, false})
        for (const SwitchValue &value : SwitchValues)
            for (bool present : {true, false})
                for (bool exported : {true, false}) {
                    if (!present && exported)
                        continue;
                    std::string name = std::string(win95 ? "95: " : "NT: ") + value.name +
                                       (present ? exported ? ", verifier" : ", no entry point"
                                                : ", no library");
                    vtest::StartWorld("/s", win95);
                    vtest::WriteSettings("Seconds=10\r\nPaint=0\r\n");
                    Verifier = VerifierScript();
                    if (present)
                        InstallVerifier(exported);
                    if (value.valueExists)
                        sim::SetRegistryValue(DesktopKey, UsePassword, value.type, value.bytes);
                    else if (value.keyExists)
                        sim::SetRegistryKey(DesktopKey);
                    KeyAt(600);
                    sim::ProcessResult result = vtest::RunProgram();
                    ++runs;

                    const std::vector<std::string> *expected = &LoadedCalls;
                    static const std::vector<std::string> nothing;
                    if (!win95)
                        expected = &nothing;
                    else if (!value.keyExists)
                        expected = &NoKeyCalls;
                    else if (!value.enabled)
                        expected = &SwitchOffCalls;
                    else if (!present)
                        expected = &NoLibraryCalls;
                    else if (!exported)
                        expected = &NoEntryCalls;
                    bool loaded = expected == &LoadedCalls;

                    EXPECT_TRUE(result.exited) << name;
                    EXPECT_EQ(vtest::SignedExit(result), 0) << name;
                    EXPECT_TRUE(vtest::SameSequence(*expected, PasswordCalls())) << name;
                    // A value longer than the four bytes fails the read itself.
                    if (win95 && value.valueExists) {
                        EXPECT_EQ(vtest::Called("RegQueryValueExA", "= ERROR_MORE_DATA"),
                                  value.bytes.size() > 4)
                            << name;
                    }
                    std::vector<std::pair<UINT, UINT>> told = SaverRunningCalls();
                    std::vector<std::pair<UINT, UINT>> expectedTold;
                    if (loaded)
                        expectedTold = {{ScreenSaverRunning, 1}, {ScreenSaverRunning, 0}};
                    EXPECT_EQ(told, expectedTold) << name << ": " << Described(told);
                    for (const sim::SpiCall &call : sim::SystemParameterCalls())
                        EXPECT_EQ(call.winIni, 0u) << name;
                    // The verifier is asked once, by the key's close, and allows it.
                    EXPECT_EQ(Verifier.askedWith.size(), loaded ? 1u : 0u) << name;
                    EXPECT_EQ(vtest::Called("SendMessageA"), loaded) << name;
                    EXPECT_EQ(HostState.closeAllowed, win95 ? 1 : 0) << name;
                    EXPECT_EQ(sim::ModuleLoads("PASSWORD.CPL"),
                              win95 && value.enabled && present ? 1 : 0)
                        << name;
                    EXPECT_EQ(sim::ModuleReferences("PASSWORD.CPL"), 0) << name;
                    EXPECT_EQ(sim::Live().libraries, 0) << name;
                    EXPECT_EQ(sim::Live().registryKeys, 0) << name;
                    EXPECT_TRUE(sim::Misuse().empty()) << name << ": " << sim::Misuse().front();
                    EXPECT_EQ(HostState.verifierLibrary, nullptr) << name;
                    EXPECT_EQ(HostState.verifierEntry, nullptr) << name;
                }
    EXPECT_EQ(runs, 2 * int(std::size(SwitchValues)) * 3);
}

// The arguments of the loading calls.
TEST(PasswordVerifier, LoadingCallsAskForTheSwitchIntoFourBytes)
{
    PasswordWorld(true);
    KeyAt(600);
    sim::ProcessResult result = vtest::RunProgram();
    EXPECT_EQ(vtest::SignedExit(result), 0);
    auto open = vtest::CallArguments("RegOpenKeyA");
    ASSERT_EQ(open.size(), 1u);
    EXPECT_EQ(open[0], (std::vector<std::string>{"HKEY_CURRENT_USER", "\"Control Panel\\Desktop\"",
                                                 "ptr"}));
    auto query = vtest::CallArguments("RegQueryValueExA");
    ASSERT_EQ(query.size(), 1u);
    ASSERT_EQ(query[0].size(), 6u);
    EXPECT_EQ(query[0][1], "\"ScreenSaveUsePassword\"");
    EXPECT_EQ(query[0][2], "null") << "reserved";
    EXPECT_EQ(query[0][3], "null") << "no type asked for";
    EXPECT_EQ(query[0][4], "ptr");
    EXPECT_EQ(query[0][5], "4");
    auto close = vtest::CallArguments("RegCloseKey");
    ASSERT_EQ(close.size(), 1u);
    EXPECT_EQ(close[0][0], query[0][0]) << "the key that was opened is closed";
    EXPECT_TRUE(vtest::Called("LoadLibraryA", "\"PASSWORD.CPL\""));
    EXPECT_TRUE(vtest::Called("GetProcAddress", "\"VerifyScreenSavePwd\""));
    auto spi = vtest::CallArguments("SystemParametersInfoA");
    ASSERT_EQ(spi.size(), 2u);
    EXPECT_EQ(spi[0], (std::vector<std::string>{"SPI_SCREENSAVERRUNNING", "1", "ptr", "0"}));
    EXPECT_EQ(spi[1], (std::vector<std::string>{"SPI_SCREENSAVERRUNNING", "0", "ptr", "0"}));
}

// A preview and a refused second full-screen run never load the verifier.
TEST(PasswordVerifier, PreviewAndSecondSaverLoadNothing)
{
    // Preview.
    sim::Config config;
    config.win95Family = true;
    sim::Reset(config);
    HWND parent = sim::CreateOutsideWindow("Display Properties", 152, 112);
    config.commandLine = "vellomire.scr /p " + std::to_string((unsigned long)(uintptr_t)parent);
    sim::Reset(config);
    ASSERT_EQ(sim::CreateOutsideWindow("Display Properties", 152, 112), parent);
    Verifier = VerifierScript();
    InstallVerifier(true);
    EnablePassword();
    sim::At(1000, [parent] { sim::DestroyFromOutside(parent); });
    sim::ProcessResult preview = vtest::RunProgram();
    EXPECT_EQ(vtest::SignedExit(preview), 0);
    EXPECT_TRUE(PasswordCalls().empty());
    EXPECT_TRUE(sim::SystemParameterCalls().empty());

    // A saver window of another process already runs.
    PasswordWorld(true);
    sim::CreateOutsideWindow("Screen Saver", 1024, 768, "WindowsScreenSaverClass");
    sim::ProcessResult second = vtest::RunProgram();
    EXPECT_EQ(vtest::SignedExit(second), 0);
    EXPECT_TRUE(PasswordCalls().empty());
    EXPECT_TRUE(sim::SystemParameterCalls().empty());
}

// Loading again while loaded unloads first (the system told 0) and reads the
// switch afresh; unloading twice frees once.
TEST(PasswordVerifier, LoadingAgainUnloadsFirstAndRereadsTheSwitch)
{
    struct Case {
        const char *name;
        bool switchOffBetween;
        std::vector<std::string> expected;
        std::vector<std::pair<UINT, UINT>> told;
    };
    const Case cases[] = {
        {"switch stays on", false,
         {"RegOpenKeyA", "RegQueryValueExA", "LoadLibraryA", "GetProcAddress", "SystemParametersInfoA",
          "RegCloseKey",
          // second load
          "FreeLibrary", "SystemParametersInfoA", "RegOpenKeyA", "RegQueryValueExA", "LoadLibraryA",
          "GetProcAddress", "SystemParametersInfoA", "RegCloseKey",
          // unload, twice
          "FreeLibrary", "SystemParametersInfoA"},
         {{97, 1}, {97, 0}, {97, 1}, {97, 0}}},
        {"switch turned off between", true,
         {"RegOpenKeyA", "RegQueryValueExA", "LoadLibraryA", "GetProcAddress", "SystemParametersInfoA",
          "RegCloseKey",
          // second load
          "FreeLibrary", "SystemParametersInfoA", "RegOpenKeyA", "RegQueryValueExA", "RegCloseKey"},
         {{97, 1}, {97, 0}}},
    };
    for (const Case &c : cases) {
        PasswordWorld(true);
        bool off = c.switchOffBetween;
        sim::ProcessResult result = vtest::RunProgram([off] {
            HostState.isWin95Family = 1;
            LoadPasswordVerifier();
            if (off)
                sim::SetRegistryValue(DesktopKey, UsePassword, REG_DWORD, {0, 0, 0, 0});
            LoadPasswordVerifier();
            UnloadPasswordVerifier();
            UnloadPasswordVerifier();
        });
        EXPECT_TRUE(result.returned) << c.name;
        EXPECT_TRUE(vtest::SameSequence(c.expected, PasswordCalls())) << c.name;
        EXPECT_EQ(SaverRunningCalls(), c.told) << c.name << ": " << Described(SaverRunningCalls());
        EXPECT_EQ(sim::ModuleReferences("PASSWORD.CPL"), 0) << c.name;
        EXPECT_EQ(sim::Live().registryKeys, 0) << c.name;
        EXPECT_TRUE(sim::Misuse().empty()) << c.name;
    }
}

// On the NT family the three do nothing, whatever the switch says.
TEST(PasswordVerifier, NtFamilyDoesNothing)
{
    PasswordWorld(false);
    sim::ProcessResult result = vtest::RunProgram([] {
        HostState.isWin95Family = 0;
        LoadPasswordVerifier();
        SetSaverRunning(1);
        SetSaverRunning(0);
        UnloadPasswordVerifier();
    });
    EXPECT_TRUE(result.returned);
    EXPECT_TRUE(vtest::CallsSince(0).empty());
    EXPECT_TRUE(sim::SystemParameterCalls().empty());
}

TEST(PasswordVerifier, TickDifferenceWrapsModulo32Bits)
{
    struct Case {
        DWORD earlier, later, difference;
    };
    const Case cases[] = {
        {100, 300, 200},
        {5, 5, 0},
        {0xFFFFFF9Cu, 50, 150},
        {0xFFFFFFFFu, 0, 1},
        {1, 0, 0xFFFFFFFFu},
        {0, 0xFFFFFFFFu, 0xFFFFFFFFu},
    };
    for (const Case &c : cases)
        EXPECT_EQ(TickDifference(c.earlier, c.later), c.difference)
            << c.earlier << " to " << c.later;
}

// ---------------------------------------------------------------- close decisions

// Inside a close that asks the verifier: the tick, two drops of pending
// timer messages, the request; a refusal hides the cursor again; the tick
// is read again at the end; the close path takes the cursor as reference.
const std::vector<std::string> RefusedAfterAsking = {
    "GetTickCount", "PeekMessageA", "PeekMessageA", "SendMessageA", "Sleep",
    "SetCursor",    "GetTickCount", "GetCursorPos"};
// Inside a close within 200 ms of the last answer: refused without asking.
const std::vector<std::string> RefusedWithoutAsking = {"GetTickCount", "GetCursorPos"};
// Inside a close while the verifier is being asked: refused before the tick is read.
const std::vector<std::string> RefusedWhileVerifying = {"GetCursorPos"};
// Inside a close that is allowed, up to the default procedure that destroys.
const std::vector<std::string> AllowedAfterAsking = {
    "GetTickCount", "PeekMessageA", "PeekMessageA", "SendMessageA", "Sleep",
    "GetTickCount", "DefWindowProcA"};

// Refusal, a close 150 ms after the end of that verification (refused
// without asking), and one 250 ms after it (asked again, allowed); the same
// at 199 and 200 ms, the edge of the interval; also across the wrap of the
// tick counter and with a verification that ends at the tick 0xFFFFFFFF,
// which counts as none.
TEST(VerifyClose, RefusalThenIntervalThenAcceptance)
{
    const uint64_t firstKey = 500;
    const uint64_t answered = firstKey + VerifierTakes;   // elapsed time of the first answer
    struct Case {
        const char *name;
        uint32_t startTick;
        bool asksAt150;   // the close 150 ms after the refusal asks again
        uint64_t refusedAfter = 150, asksAfter = 250;   // ms after the refusal's answer
    };
    const Case cases[] = {
        {"ticks from 0", 0, false},
        {"199 and 200 ms after the answer", 0, false, 199, 200},
        {"ends 100 ms before the wrap; 50 ms after it", uint32_t(0x100000000ull - answered - 100), false},
        {"ends at the tick 0xFFFFFFFF", uint32_t(0xFFFFFFFFull - answered), true},
        {"ends at the tick 0", uint32_t(0x100000000ull - answered), false},
    };
    for (const Case &c : cases) {
        sim::Config config;
        config.startTick = c.startTick;
        PasswordWorld(true, config);
        // Refused until the third question where the close at 150 ms asks
        // too, otherwise until the second.
        Verifier.answers = c.asksAt150 ? std::vector<LRESULT>{0, 0, 1} : std::vector<LRESULT>{0, 1};
        Verifier.during = TakeTime;
        KeyAt(firstKey);
        KeyAt(answered + c.refusedAfter);
        KeyAt(answered + c.asksAfter);
        KeyAt(answered + 600);
        sim::ProcessResult result = vtest::RunProgram();
        EXPECT_TRUE(result.exited) << c.name;
        EXPECT_FALSE(result.hung) << c.name;
        EXPECT_EQ(vtest::SignedExit(result), 0) << c.name;

        std::vector<CloseHandling> closes = Closes();
        if (c.asksAt150) {
            // Asked at once again (refused, ending 100 ms later), so the key
            // at 250 falls right at the end of that answer and is refused
            // without asking; the key at 600 asks a third time and is allowed.
            ASSERT_EQ(closes.size(), 4u) << c.name;
            EXPECT_TRUE(vtest::SameSequence(RefusedAfterAsking, closes[0].calls)) << c.name;
            EXPECT_TRUE(vtest::SameSequence(RefusedAfterAsking, closes[1].calls)) << c.name;
            EXPECT_TRUE(vtest::SameSequence(RefusedWithoutAsking, closes[2].calls)) << c.name;
            EXPECT_TRUE(
                vtest::SameSequence(AllowedAfterAsking, UpTo(closes[3].calls, "DefWindowProcA")))
                << c.name;
            EXPECT_EQ(Verifier.askedAt,
                      (std::vector<uint64_t>{firstKey, answered + 150, answered + 600}))
                << c.name;
            continue;
        }
        ASSERT_EQ(closes.size(), 3u) << c.name;
        EXPECT_TRUE(vtest::SameSequence(RefusedAfterAsking, closes[0].calls)) << c.name;
        EXPECT_TRUE(vtest::SameSequence(RefusedWithoutAsking, closes[1].calls)) << c.name;
        EXPECT_TRUE(vtest::SameSequence(AllowedAfterAsking, UpTo(closes[2].calls, "DefWindowProcA")))
            << c.name;
        for (size_t i = 0; i < 2; ++i) {
            EXPECT_TRUE(closes[i].returned) << c.name << " close " << i;
            EXPECT_EQ(closes[i].result, 0) << c.name << " close " << i;
        }
        const uint64_t asked = answered + c.asksAfter;
        EXPECT_EQ(Verifier.askedAt, (std::vector<uint64_t>{firstKey, asked})) << c.name;
        EXPECT_EQ(Verifier.answeredAt, (std::vector<uint64_t>{answered, asked + VerifierTakes}))
            << c.name;
        EXPECT_EQ(HostState.lastVerifyTick, uint32_t(c.startTick + asked + VerifierTakes))
            << c.name << ": the tick at the end of the last verification";
        EXPECT_EQ(HostState.closeAllowed, 1) << c.name;
        EXPECT_EQ(HostState.isVerifying, 0) << c.name;
        // Every question went to the saver window while isVerifying was set.
        for (size_t i = 0; i < Verifier.askedWith.size(); ++i) {
            EXPECT_EQ(Verifier.askedWith[i], HostState.saverWindow) << c.name;
            EXPECT_EQ(Verifier.verifyingInside[i], 1) << c.name;
        }
        EXPECT_EQ(sim::Live().libraries, 0) << c.name;
    }
}

// The answer is stored unchanged; any nonzero one allows, and a close
// allowed stays allowed for the rest of the run.
TEST(VerifyClose, AnswerIsStoredUnchanged)
{
    struct Case {
        LRESULT answer;
        bool closes;
    };
    const Case cases[] = {{1, true}, {2, true}, {-1, true}, {0x100, true}, {0, false}};
    for (const Case &c : cases) {
        PasswordWorld(true);
        Verifier.answers = {c.answer};
        KeyAt(500);
        // A later close attempt from outside, in case the first was refused.
        sim::At(2000, [] {
            if (Alive(HostState.saverWindow))
                sim::DestroyFromOutside(HostState.saverWindow);
        });
        std::vector<INT> allowedLater;
        sim::At(510, [&allowedLater] { allowedLater.push_back(HostState.closeAllowed); });
        sim::ProcessResult result = vtest::RunProgram();
        EXPECT_EQ(vtest::SignedExit(result), 0) << c.answer;
        EXPECT_EQ(HostState.closeAllowed, (INT)c.answer) << c.answer;
        ASSERT_EQ(Verifier.askedWith.size(), 1u) << c.answer;
        std::vector<CloseHandling> closes = Closes();
        ASSERT_FALSE(closes.empty()) << c.answer;
        if (c.closes) {
            // The close went on to the default procedure and the run ended.
            EXPECT_TRUE(allowedLater.empty()) << c.answer;
            EXPECT_TRUE(vtest::SameSequence({"GetTickCount", "PeekMessageA", "PeekMessageA",
                                             "SendMessageA", "GetTickCount", "DefWindowProcA"},
                                            UpTo(closes[0].calls, "DefWindowProcA")))
                << c.answer;
        } else {
            EXPECT_TRUE(vtest::SameSequence({"GetTickCount", "PeekMessageA", "PeekMessageA",
                                             "SendMessageA", "SetCursor", "GetTickCount",
                                             "GetCursorPos"},
                                            closes[0].calls));
            EXPECT_EQ(closes[0].result, 0);
            EXPECT_EQ(allowedLater, (std::vector<INT>{0}));
        }
    }
}

// With the password off on the Windows 95 family, the first close is allowed
// without a request; on the NT family no close is ever verified.
TEST(VerifyClose, WithoutVerifier)
{
    for (bool win95 : {true, false}) {
        vtest::StartWorld("/s", win95);
        vtest::WriteSettings("Seconds=10\r\nPaint=0\r\n");
        Verifier = VerifierScript();
        InstallVerifier(true);
        KeyAt(500);
        sim::ProcessResult result = vtest::RunProgram();
        EXPECT_EQ(vtest::SignedExit(result), 0);
        std::vector<CloseHandling> closes = Closes();
        ASSERT_EQ(closes.size(), 1u);
        EXPECT_EQ(UpTo(closes[0].calls, "DefWindowProcA"), (std::vector<std::string>{"DefWindowProcA"}))
            << (win95 ? "95" : "NT");
        EXPECT_EQ(HostState.closeAllowed, win95 ? 1 : 0);
        EXPECT_TRUE(Verifier.askedWith.empty());
        EXPECT_FALSE(vtest::Called("SendMessageA"));
        EXPECT_FALSE(vtest::Called("GetTickCount"));
    }
}

// Timer messages waiting when the verification starts: two are dropped, with
// PeekMessageA on the saver window for WM_TIMER only, removing without
// yielding; a third stays and reaches the show afterwards.
TEST(VerifyClose, DropsTwoPendingTimerMessagesAndNoMore)
{
    PasswordWorld(true);
    Verifier.answers = {0, 1};
    sim::At(500, [] {
        HWND saver = HostState.saverWindow;
        PostMessageA(saver, WM_CLOSE, 0, 0);
        PostMessageA(saver, WM_TIMER, 7, 0);
        PostMessageA(saver, WM_TIMER, 8, 0);
        PostMessageA(saver, WM_TIMER, 9, 0);
    });
    KeyAt(1500);
    sim::ProcessResult result = vtest::RunProgram();
    EXPECT_EQ(vtest::SignedExit(result), 0);

    auto peeks = vtest::CallArguments("PeekMessageA");
    ASSERT_EQ(peeks.size(), 4u) << "two for each of the two verifications";
    std::string saver = sim::WindowName(sim::WindowByIndex(1));
    for (const auto &args : peeks) {
        // The saver window, WM_TIMER to WM_TIMER, PM_REMOVE | PM_NOYIELD.
        EXPECT_EQ(args, (std::vector<std::string>{saver, "275", "275", "3"}));
    }
    std::vector<WPARAM> dispatchedTimers;
    for (const sim::Event &e : sim::Log())
        if (e.kind == sim::EventKind::Posted && e.message == WM_TIMER && e.wParam != SHOW_TIMER_ID)
            dispatchedTimers.push_back(e.wParam);
    EXPECT_EQ(dispatchedTimers, (std::vector<WPARAM>{9}));
}

// A verifier that runs a message loop of its own, as the system's password
// dialog does: the show goes on ticking, input posts no close, and a close
// posted meanwhile is refused at once without a second question.
TEST(VerifyClose, VerifierWithItsOwnMessageLoop)
{
    PasswordWorld(true);
    vtest::WriteSettings("Seconds=1\r\nPaint=1\r\n");
    Verifier.answers = {0, 1};
    const uint64_t loopFor = 1500;
    struct Inside {
        size_t logStart = 0;
        int setTimers = 0;
        int killTimers = 0;
        int closesPosted = -1;
        POINT cursorAfterMove = {0, 0};
    } inside;
    Verifier.during = [&inside, loopFor](HWND saver, size_t question) {
        if (question != 0)
            return;
        inside.logStart = vtest::LogMark();
        int setBefore = sim::CallCount("SetTimer");
        int killBefore = sim::CallCount("KillTimer");
        uint64_t start = sim::Elapsed();
        sim::At(start + 200, [] { sim::KeyPress('K'); });
        sim::At(start + 400, [] { sim::Click(0); });
        sim::At(start + 600, [&inside] {
            sim::MoveCursor(40, 30);
            inside.cursorAfterMove = sim::CursorPosition();
        });
        // The system's close carries a mark in lParam, so that it is not
        // counted among the program's own close requests (lParam 0).
        sim::At(start + 800, [saver] { PostMessageA(saver, WM_CLOSE, 0, SystemCloseMark); });
        sim::At(start + 1000, [] { sim::Deactivate(); });
        MSG message;
        while (sim::Elapsed() < start + loopFor && GetMessageA(&message, NULL, 0, 0) > 0) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        inside.setTimers = sim::CallCount("SetTimer") - setBefore;
        inside.killTimers = sim::CallCount("KillTimer") - killBefore;
        inside.closesPosted = ProgramClosesSince(inside.logStart);
    };
    POINT referenceAfter = {-1, -1};
    bool hiddenAfter = false;
    sim::At(500, [] { sim::KeyPress('K'); });
    sim::At(500 + loopFor + 300, [&] {
        referenceAfter = HostState.lastCursorPos;
        hiddenAfter = sim::CursorHidden();
    });
    // Another application took the foreground inside; the last close comes
    // from the system.
    sim::At(500 + loopFor + 600, [] { PostMessageA(HostState.saverWindow, WM_CLOSE, 0, 0); });
    sim::ProcessResult result = vtest::RunProgram();
    EXPECT_TRUE(result.exited);
    EXPECT_FALSE(result.hung) << result.hangReason;
    EXPECT_EQ(vtest::SignedExit(result), 0);

    // The show ticked on inside the verification (a picture every second,
    // painted in 40 ms steps).
    EXPECT_GT(inside.setTimers, 10);
    EXPECT_GT(inside.killTimers, 10);
    // No input inside posted a close.
    EXPECT_EQ(inside.closesPosted, 0);
    // Two questions in all: the key's, refused, and the last key's, allowed.
    ASSERT_EQ(Verifier.askedWith.size(), 2u);
    // The close posted during the verification was refused at once, nested.
    std::vector<CloseHandling> closes = Closes();
    ASSERT_GE(closes.size(), 3u);
    EXPECT_TRUE(vtest::SameSequence(RefusedWhileVerifying, closes[1].calls))
        << "the close inside the verification";
    EXPECT_EQ(closes[1].result, 0);
    // The refusal hid the cursor and took the moved cursor as the reference.
    EXPECT_TRUE(hiddenAfter);
    EXPECT_EQ(referenceAfter.x, inside.cursorAfterMove.x);
    EXPECT_EQ(referenceAfter.y, inside.cursorAfterMove.y);
    EXPECT_EQ(HostState.closeAllowed, 1);
    EXPECT_EQ(sim::Live().libraries, 0);
}

// The refused close: nothing clears closeAllowed, and the reference of the
// mouse rule is where the cursor is, so small moves after it don't wake.
TEST(VerifyClose, RefusalResetsTheMouseReference)
{
    struct Case {
        const char *name;
        int dx, dy;      // a move after the refusal
        bool wakes;
    };
    const Case cases[] = {
        {"4 pixels after the refusal", 2, 2, false},
        {"5 pixels after the refusal", 3, 2, true},
    };
    for (const Case &c : cases) {
        PasswordWorld(true);
        Verifier.answers = {0, 1};
        // The cursor moves 3 pixels while the verifier is asked, unseen by the
        // mouse rule; a reference left at the old place would add them up.
        Verifier.during = [](HWND, size_t question) {
            if (question == 0)
                sim::MoveCursor(3, 0);
        };
        KeyAt(500);
        int dx = c.dx, dy = c.dy;
        sim::At(1000, [dx, dy] { sim::MoveCursor(dx, dy); });
        sim::At(3000, [] {
            if (Alive(HostState.saverWindow))
                sim::DestroyFromOutside(HostState.saverWindow);
        });
        sim::ProcessResult result = vtest::RunProgram();
        EXPECT_EQ(vtest::SignedExit(result), 0) << c.name;
        EXPECT_EQ(Verifier.askedWith.size(), c.wakes ? 2u : 1u) << c.name;
    }
}

// A verifier that faults: the guard tells the system that no saver runs and
// the process ends with the fault's code; the library is still held when
// the process ends (the system frees it with the process).
TEST(VerifyClose, FaultingVerifierEndsTheRunThroughTheGuard)
{
    struct Case {
        const char *name;
        LONG verdict;
        bool exited;
        bool crashed;
        std::vector<std::pair<UINT, UINT>> told;
    };
    const Case cases[] = {
        {"the system runs the handler", EXCEPTION_EXECUTE_HANDLER, true, false, {{97, 1}, {97, 0}}},
        {"the system searches further", EXCEPTION_CONTINUE_SEARCH, false, true, {{97, 1}}},
    };
    for (const Case &c : cases) {
        PasswordWorld(true);
        Verifier.fault = true;
        sim::SetUnhandledExceptionVerdict(c.verdict);
        KeyAt(500);
        sim::ProcessResult result = vtest::RunProgram();
        EXPECT_FALSE(result.hung) << c.name << ": " << result.hangReason;
        EXPECT_EQ(result.exited, c.exited) << c.name;
        EXPECT_EQ(result.crashed, c.crashed) << c.name;
        EXPECT_EQ(c.exited ? result.exitCode : result.crashCode, 0xC0000005u) << c.name;
        EXPECT_EQ(SaverRunningCalls(), c.told) << c.name << ": " << Described(SaverRunningCalls());
        EXPECT_EQ(vtest::CountCalls("UnhandledExceptionFilter"), 1) << c.name;
        if (c.exited) {
            // The system is told after the filter gave its verdict, and the
            // process ends right after.
            std::vector<std::string> tail = vtest::CallsSince(0);
            auto filter = std::find(tail.begin(), tail.end(), "UnhandledExceptionFilter");
            ASSERT_NE(filter, tail.end());
            EXPECT_EQ(std::vector<std::string>(filter, tail.end()),
                      (std::vector<std::string>{"UnhandledExceptionFilter", "SystemParametersInfoA",
                                                "ExitProcess"}))
                << c.name;
        }
        // The guard does not unload: the verifier is still loaded when the
        // process ends.
        EXPECT_FALSE(vtest::Called("FreeLibrary")) << c.name;
        EXPECT_EQ(sim::ModuleReferences("PASSWORD.CPL"), 1) << c.name;
        EXPECT_NE(HostState.verifierEntry, nullptr) << c.name;
        EXPECT_EQ(HostState.isVerifying, 1) << c.name << ": the fault came inside the verification";
    }
}

// ---------------------------------------------------------------- password change

TEST(ChangePassword, ThroughTheModeTable)
{
    enum class Owner { None, Parent, Foreground };
    struct Case {
        const char *name;
        bool win95;
        const char *tail;       // PARENT stands for a live outside window
        bool providerPresent;
        bool exported;
        DWORD answer;
        int32_t exitCode;
        std::vector<std::string> calls;   // LoadLibraryA, GetProcAddress, FreeLibrary
        Owner owner;                      // the owner passed, when the provider is called
    };
    const std::vector<std::string> changed = {"LoadLibraryA", "GetProcAddress", "FreeLibrary"};
    const Case cases[] = {
        {"95, no handle", true, "/a", true, true, 0, 0, changed, Owner::Foreground},
        {"95, a window's handle", true, "/a PARENT", true, true, 0, 0, changed, Owner::Parent},
        {"95, handle without a space", true, "-aPARENT", true, true, 1, 0, changed, Owner::Parent},
        {"95, a handle of no window", true, "/a 12345", true, true, 0xFFFFFFFFu, 0, changed,
         Owner::Foreground},
        {"95, handle 0", true, "/A 0", true, true, 0, 0, changed, Owner::Foreground},
        {"95, provider answers an error", true, "/a", true, true, 1223, 0, changed, Owner::Foreground},
        {"95, no MPR.DLL", true, "/a", false, false, 0, 0, {"LoadLibraryA"}, Owner::None},
        {"95, MPR.DLL without the entry", true, "/a", true, false, 0, 0, changed, Owner::None},
        {"NT, no handle", false, "/a", true, true, 0, -1, {}, Owner::None},
        {"NT, a window's handle", false, "/a PARENT", true, true, 0, -1, {}, Owner::None},
    };
    for (const Case &c : cases) {
        sim::Config config;
        config.win95Family = c.win95;
        sim::Reset(config);
        HWND parent = sim::CreateOutsideWindow("Display Properties", 400, 300);
        std::string tail = c.tail;
        size_t at = tail.find("PARENT");
        if (at != std::string::npos)
            tail.replace(at, 6, std::to_string((unsigned long)(uintptr_t)parent));
        vtest::StartWorld(tail, c.win95);
        ASSERT_EQ(sim::CreateOutsideWindow("Display Properties", 400, 300), parent) << c.name;
        HWND foreground = sim::CreateOutsideWindow("Control Panel", 300, 200);
        ChangeRequests.clear();
        ChangeAnswer = c.answer;
        if (c.providerPresent)
            InstallPasswordProvider(c.exported);
        sim::ProcessResult result = vtest::RunProgram();
        EXPECT_TRUE(result.exited) << c.name;
        EXPECT_EQ(vtest::SignedExit(result), c.exitCode) << c.name;
        EXPECT_TRUE(vtest::SameSequence(c.calls, PasswordCalls())) << c.name;
        if (!c.calls.empty()) {
            EXPECT_TRUE(vtest::Called("LoadLibraryA", "\"MPR.DLL\"")) << c.name;
            if (c.calls.size() > 1) {
                EXPECT_TRUE(vtest::Called("GetProcAddress", "\"PwdChangePasswordA\"")) << c.name;
            }
        }
        EXPECT_EQ(sim::ModuleLoads("MPR.DLL"), c.providerPresent && c.win95 ? 1 : 0) << c.name;
        EXPECT_EQ(sim::ModuleReferences("MPR.DLL"), 0) << c.name;
        EXPECT_EQ(sim::Live().libraries, 0) << c.name;
        EXPECT_TRUE(sim::SystemParameterCalls().empty()) << c.name;
        EXPECT_TRUE(sim::Misuse().empty()) << c.name;
        if (c.owner == Owner::None) {
            EXPECT_TRUE(ChangeRequests.empty()) << c.name;
            continue;
        }
        ASSERT_EQ(ChangeRequests.size(), 1u) << c.name;
        EXPECT_EQ(ChangeRequests[0].provider, "SCRSAVE") << c.name;
        EXPECT_EQ(ChangeRequests[0].owner, c.owner == Owner::Parent ? parent : foreground)
            << c.name << ": " << sim::WindowName(ChangeRequests[0].owner);
        EXPECT_EQ(ChangeRequests[0].reserved1, 0u) << c.name;
        EXPECT_EQ(ChangeRequests[0].reserved2, 0u) << c.name;
    }
}

// ChangePassword itself, with and without an owner; it does not look at the family.
TEST(ChangePassword, WithAndWithoutOwner)
{
    for (bool win95 : {true, false})
        for (bool withOwner : {true, false}) {
            vtest::StartWorld("", win95);
            HWND owner = withOwner ? sim::CreateOutsideWindow("Owner", 200, 100) : nullptr;
            ChangeRequests.clear();
            InstallPasswordProvider(true);
            sim::ProcessResult result = vtest::RunProgram([owner, win95] {
                HostState.isWin95Family = win95 ? 1 : 0;
                ChangePassword(owner);
            });
            EXPECT_TRUE(result.returned);
            ASSERT_EQ(ChangeRequests.size(), 1u);
            EXPECT_EQ(ChangeRequests[0].provider, "SCRSAVE");
            EXPECT_EQ(ChangeRequests[0].owner, owner);
            EXPECT_EQ(vtest::CallsSince(0),
                      (std::vector<std::string>{"LoadLibraryA", "GetProcAddress", "FreeLibrary"}));
            EXPECT_EQ(sim::ModuleReferences("MPR.DLL"), 0);
        }
}

}  // namespace
