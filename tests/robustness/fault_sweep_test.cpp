// The fault sweep: each scenario runs once to count its platform calls, and
// then once for every N with the Nth call failing the way Windows fails it.
// Every run must end by itself with the mode's exit code (or -1 where the
// failure left the mode without its window or ended its loop), release what
// it acquired, and write nothing to control.ini but the dialog's two keys.
#include "host.h"
#include "resource.h"
#include "robustness_support.h"
#include "saver_process.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace {

using vrobust::FaultRun;

// The control.ini that every scenario starts with: short holds, painted in steps.
const char StoredSettings[] = "[ScreenSaver.Vellomire]\r\nSeconds=1\r\nPaint=1\r\n";

// ---------------------------------------------------------------- doubles

int VerifierQuestions = 0;
// Refuses the first question and allows every later one.
BOOL WINAPI RefuseThenAllow(HWND)
{
    return VerifierQuestions++ == 0 ? FALSE : TRUE;
}

DWORD WINAPI AcceptChange(LPCSTR, HWND, DWORD, DWORD)
{
    return 0;
}

// ---------------------------------------------------------------- scenarios

enum class IniRule {
    Unchanged,    // the file's bytes stay exactly as they were
    DialogKeys,   // only Seconds and Paint of the program's section may change
};

struct Scenario {
    const char *name;
    const char *tail;            // PARENT stands for an outside window's handle
    int32_t exitCode95;
    int32_t exitCodeNt;
    // Failures of these calls may leave the mode without its window (or its
    // family) and end the process with -1 instead.
    std::set<std::string> mayEndWithMinusOne;
    IniRule ini;
    // Installs doubles and schedules the user's actions; parent is the
    // outside window (or null).
    std::function<void(HWND parent)> prepare;
};

// Repeats an action, so that one lost input (a failed PostMessageA, say)
// does not leave the scenario waiting forever.
void Repeatedly(uint64_t from, uint64_t every, int times, const std::function<void()> &action)
{
    for (int i = 0; i < times; ++i)
        sim::At(from + every * uint64_t(i), action);
}

bool SaverWindowUp()
{
    return vrobust::Alive(HostState.saverWindow);
}

void WakeWithKeys(HWND)
{
    Repeatedly(1200, 250, 8, [] {
        if (SaverWindowUp())
            sim::KeyPress('K');
    });
}

void DestroyParent(HWND parent)
{
    sim::At(1200, [parent] {
        if (vrobust::Alive(parent))
            sim::DestroyFromOutside(parent);
    });
}

void AnswerDialog(bool ok)
{
    sim::At(1000, [ok] {
        if (HWND dialog = sim::ActiveDialog(); dialog != nullptr && ok)
            sim::ClickItem(dialog, IDC_PAINT);
    });
    Repeatedly(1200, 300, 6, [ok] {
        if (HWND dialog = sim::ActiveDialog())
            sim::ClickItem(dialog, ok ? IDOK : IDCANCEL);
    });
    // A dialog that a failure left without working buttons still has its
    // close box and Esc.
    sim::At(3200, [] {
        if (HWND dialog = sim::ActiveDialog())
            sim::PressCloseBox(dialog);
    });
    sim::At(3500, [] {
        if (sim::ActiveDialog())
            sim::KeyPress(VK_ESCAPE);
    });
}

void InstallPasswordProvider(HWND)
{
    sim::FakeModule module;
    module.fileName = "MPR.DLL";
    module.exports["PwdChangePasswordA"] = reinterpret_cast<void *>(&AcceptChange);
    sim::InstallModule(module);
}

void VerifyThenWake(HWND parent)
{
    VerifierQuestions = 0;
    sim::FakeModule module;
    module.fileName = "PASSWORD.CPL";
    module.exports["VerifyScreenSavePwd"] = reinterpret_cast<void *>(&RefuseThenAllow);
    sim::InstallModule(module);
    sim::SetRegistryValue("Control Panel\\Desktop", "ScreenSaveUsePassword", REG_DWORD, {1, 0, 0, 0});
    WakeWithKeys(parent);
}

const std::set<std::string> NoSaverWindow = {"RegisterClassA", "CreateWindowExA"};
const std::set<std::string> NoPreviewWindow = {"IsWindow", "RegisterClassA", "CreateWindowExA"};
const std::set<std::string> NoDialog = {"DialogBoxParamA"};

const Scenario Scenarios[] = {
    {"full-screen run woken by a key", "/s", 0, 0, NoSaverWindow, IniRule::Unchanged, WakeWithKeys},
    {"preview ended by destroying its parent", "/p PARENT", 0, 0, NoPreviewWindow,
     IniRule::Unchanged, DestroyParent},
    {"dialog with OK", "/c", 1, 1, NoDialog, IniRule::DialogKeys, [](HWND) { AnswerDialog(true); }},
    {"dialog with Cancel", "/c", 0, 0, NoDialog, IniRule::Unchanged,
     [](HWND) { AnswerDialog(false); }},
    // On the NT family the letter A selects nothing; on the 95 family a
    // failing GetVersionExA makes it the NT family.
    {"password change", "/a", 0, -1, {"GetVersionExA"}, IniRule::Unchanged,
     InstallPasswordProvider},
    {"password verification, refused then allowed", "/s", 0, 0, NoSaverWindow, IniRule::Unchanged,
     VerifyThenWake},
};

// Only the program's section with its two keys, in this order, each with a
// value the dialog can write: digits for Seconds, 0 or 1 for Paint.
::testing::AssertionResult OnlyDialogKeys(const std::string &bytes)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find("\r\n", start);
        if (end == std::string::npos)
            return ::testing::AssertionFailure() << "a line without CR LF in:\n" << bytes;
        lines.push_back(bytes.substr(start, end - start));
        start = end + 2;
    }
    if (lines.size() != 3 || lines[0] != "[ScreenSaver.Vellomire]" ||
        lines[1].rfind("Seconds=", 0) != 0 || lines[2].rfind("Paint=", 0) != 0)
        return ::testing::AssertionFailure() << "unexpected control.ini:\n" << bytes;
    std::string seconds = lines[1].substr(8);
    if (seconds.size() > 4 || seconds.find_first_not_of("0123456789") != std::string::npos)
        return ::testing::AssertionFailure() << "Seconds=" << seconds;
    std::string paint = lines[2].substr(6);
    if (paint != "0" && paint != "1")
        return ::testing::AssertionFailure() << "Paint=" << paint;
    return ::testing::AssertionSuccess();
}

FaultRun RunScenario(const Scenario &scenario, bool win95, uint64_t failNth)
{
    vrobust::World world;
    world.tail = scenario.tail;
    world.win95 = win95;
    world.screenWidth = 320;
    world.screenHeight = 240;
    world.settings = StoredSettings;
    world.prepare = scenario.prepare;
    world.failNth = failNth;
    return vrobust::Run(world);
}

// Checks one run; returns the number of problems found.
int Check(const Scenario &scenario, bool win95, const FaultRun &run)
{
    std::string where = std::string(scenario.name) + (win95 ? " (95)" : " (NT)") +
                        (run.failNth ? ", call " + std::to_string(run.failNth) + " " +
                                           run.failedFunction + " failing"
                                     : ", no failure");
    int failures = ::testing::Test::HasFailure() ? -1 : 0;
    const sim::ProcessResult &r = run.result;
    EXPECT_FALSE(r.crashed) << where << ": crash 0x" << std::hex << r.crashCode;
    EXPECT_FALSE(r.hung) << where << ": " << r.hangReason;
    EXPECT_TRUE(r.exited) << where;
    int32_t expected = win95 ? scenario.exitCode95 : scenario.exitCodeNt;
    // A failing GetMessageA ends the loop at once, and the run with -1.
    if (run.failNth && run.failedFunction == "GetMessageA")
        expected = -1;
    int32_t code = vtest::SignedExit(r);
    bool mayBeMinusOne = run.failNth && scenario.mayEndWithMinusOne.count(run.failedFunction);
    if (!(code == expected || (mayBeMinusOne && code == -1)))
        ADD_FAILURE() << where << ": exit code " << code << ", expected " << expected;
    // What the program must give back itself, counted when ExitProcess was
    // called. A release call that fails keeps its one object: the program
    // asked, and there is nothing more it could do.
    const sim::LiveCounts &live = run.atExit;
    auto kept = [&run](const char *release) {
        return run.failNth && run.failedFunction == release ? 1 : 0;
    };
    EXPECT_EQ(live.windowDcs, kept("ReleaseDC")) << where;
    EXPECT_EQ(live.memoryDcs, kept("DeleteDC")) << where;
    EXPECT_EQ(live.bitmaps + live.brushes, kept("DeleteObject")) << where;
    EXPECT_EQ(live.libraries, kept("FreeLibrary")) << where;
    EXPECT_EQ(live.registryKeys, kept("RegCloseKey")) << where;
    // Windows and timers are gone at exit, unless the loop itself failed
    // and the process ends with its window up (the system takes it down).
    if (!(run.failNth && run.failedFunction == "GetMessageA")) {
        EXPECT_EQ(live.windows, 0) << where;
        EXPECT_EQ(live.timers, 0) << where;
    }
    // And nothing after the process either.
    EXPECT_EQ(run.after.windows, 0) << where;
    EXPECT_EQ(run.after.timers, 0) << where;
    EXPECT_EQ(run.after.libraries, kept("FreeLibrary")) << where;
    EXPECT_EQ(run.after.registryKeys, kept("RegCloseKey")) << where;
    if (!run.misuse.empty())
        ADD_FAILURE() << where << ": misuse: " << run.misuse.front();
    // control.ini.
    if (scenario.ini == IniRule::Unchanged)
        EXPECT_EQ(run.iniAfter, run.iniBefore) << where;
    else
        EXPECT_TRUE(OnlyDialogKeys(run.iniAfter)) << where;
    for (const std::vector<std::string> &write : run.profileWrites)
        EXPECT_TRUE(write.size() == 4 && write[0] == "\"ScreenSaver.Vellomire\"" &&
                    (write[1] == "\"Seconds\"" || write[1] == "\"Paint\"") &&
                    write[3] == "\"control.ini\"")
            << where << ": WritePrivateProfileStringA(" << ::testing::PrintToString(write) << ")";
    if (failures == 0 && ::testing::Test::HasFailure())
        return 1;
    return 0;
}

// Every call fails once; under the sanitizers, where each run is slow,
// VELLOMIRE_FAULT_STRIDE=k makes every kth call fail instead.
uint64_t Stride()
{
    const char *text = std::getenv("VELLOMIRE_FAULT_STRIDE");
    long stride = text ? std::strtol(text, nullptr, 10) : 1;
    return stride > 1 ? uint64_t(stride) : 1;
}

class FaultSweep : public ::testing::TestWithParam<size_t> {};

TEST_P(FaultSweep, EveryCallFailingOnce)
{
    const Scenario &scenario = Scenarios[GetParam()];
    for (bool win95 : {true, false}) {
        FaultRun clean = RunScenario(scenario, win95, 0);
        ASSERT_EQ(Check(scenario, win95, clean), 0) << "the scenario itself must pass";
        ASSERT_GT(clean.calls, 10u) << scenario.name;
        // The clean run's result is the mode's, without the -1 allowance.
        EXPECT_EQ(vtest::SignedExit(clean.result),
                  win95 ? scenario.exitCode95 : scenario.exitCodeNt);
        int badRuns = 0;
        uint64_t runs = 0;
        for (uint64_t n = 1; n <= clean.calls; n += Stride()) {
            ++runs;
            FaultRun run = RunScenario(scenario, win95, n);
            badRuns += Check(scenario, win95, run);
            // A flood of the same failure says nothing more.
            if (badRuns >= 20) {
                ADD_FAILURE() << "stopping " << scenario.name << " after 20 bad runs";
                break;
            }
        }
        std::printf("fault sweep: %s (%s): %llu calls, %llu fault runs\n", scenario.name,
                    win95 ? "95" : "NT", (unsigned long long)clean.calls,
                    (unsigned long long)runs);
        vrobust::CountFaultRuns(runs);
    }
}

INSTANTIATE_TEST_SUITE_P(Scenarios, FaultSweep,
                         ::testing::Range(size_t(0), std::size(Scenarios)),
                         [](const ::testing::TestParamInfo<size_t> &info) {
                             std::string name = Scenarios[info.param].name;
                             std::string id;
                             bool upper = true;
                             for (char c : name) {
                                 if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
                                     id += upper ? char(c & ~0x20) : c;
                                     upper = false;
                                 } else if (c == ' ') {
                                     upper = true;
                                 }
                             }
                             return id;
                         });

}  // namespace
