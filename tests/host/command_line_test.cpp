// The command line: which mode each tail selects, with which owner or
// parent, and the exit code the process ends with.
#include "host.h"
#include "saver_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int);

namespace {

enum class Mode { Nothing, Dialog, Saver, Preview, ChangePassword };

const char *ModeName(Mode mode)
{
    switch (mode) {
    case Mode::Nothing: return "nothing";
    case Mode::Dialog: return "dialog";
    case Mode::Saver: return "saver";
    case Mode::Preview: return "preview";
    case Mode::ChangePassword: return "change password";
    }
    return "?";
}

bool Alive(HWND hwnd)
{
    std::vector<HWND> live = sim::LiveWindows();
    return std::find(live.begin(), live.end(), hwnd) != live.end();
}

// Ends whatever the program started, a second into the run: Esc for a
// dialog, a key for a full-screen saver, the parent's end for a preview.
void ScheduleEnd(HWND parent)
{
    sim::At(1000, [parent] {
        if (sim::ActiveDialog() != nullptr) {
            sim::KeyPress(VK_ESCAPE);
            return;
        }
        sim::KeyPress('A');
        if (parent != nullptr && Alive(parent))
            sim::DestroyFromOutside(parent);
    });
}

Mode ObservedMode()
{
    if (vtest::Called("DialogBoxParamA"))
        return Mode::Dialog;
    if (vtest::Called("CreateWindowExA", "\"Screen Saver\""))
        return Mode::Saver;
    if (vtest::Called("CreateWindowExA", "\"Preview\""))
        return Mode::Preview;
    if (vtest::Called("LoadLibraryA", "MPR.DLL"))
        return Mode::ChangePassword;
    return Mode::Nothing;
}

struct Outcome {
    Mode mode;
    int32_t exitCode;
};

// Runs a full command line; PARENT in it stands for a live outside window
// and FOREGROUND-less runs have an outside window in the foreground.
Outcome RunLine(std::string commandLine, bool win95 = false, HWND *parentOut = nullptr)
{
    sim::Config config;
    config.win95Family = win95;
    config.commandLine = commandLine;
    sim::Reset(config);
    HWND parent = sim::CreateOutsideWindow("Display Properties", 152, 112);
    size_t at = commandLine.find("PARENT");
    if (at != std::string::npos) {
        commandLine.replace(at, 6, std::to_string((unsigned long)(uintptr_t)parent));
        config.commandLine = commandLine;
        sim::Reset(config);
        HWND again = sim::CreateOutsideWindow("Display Properties", 152, 112);
        EXPECT_EQ(again, parent) << "window handles are given out in creation order";
    }
    if (parentOut != nullptr)
        *parentOut = parent;
    ScheduleEnd(parent);
    sim::ProcessResult result = vtest::RunProgram();
    EXPECT_TRUE(result.exited) << commandLine << (result.hung ? " hung: " + result.hangReason : "");
    return {ObservedMode(), vtest::SignedExit(result)};
}

struct TailCase {
    const char *commandLine;
    Mode mode;
    int32_t exitCode;
};

void CheckTable(const TailCase *cases, size_t count, bool win95)
{
    for (size_t i = 0; i < count; ++i) {
        Outcome outcome = RunLine(cases[i].commandLine, win95);
        EXPECT_EQ(ModeName(outcome.mode), std::string(ModeName(cases[i].mode)))
            << "command line: [" << cases[i].commandLine << "]";
        EXPECT_EQ(outcome.exitCode, cases[i].exitCode)
            << "command line: [" << cases[i].commandLine << "]";
    }
}

// What each tail selects, on either family. Dialogs end with Esc (0), the
// saver with a key (0), previews with the end of their parent (0).
const TailCase ModeTable[] = {
    {"vellomire.scr", Mode::Dialog, 0},
    {"vellomire.scr ", Mode::Dialog, 0},
    {"vellomire.scr /", Mode::Dialog, 0},
    {"vellomire.scr - / -", Mode::Dialog, 0},
    {"vellomire.scr /c", Mode::Dialog, 0},
    {"vellomire.scr C:123", Mode::Dialog, 0},
    {"vellomire.scr s", Mode::Saver, 0},
    {"vellomire.scr S", Mode::Saver, 0},
    {"vellomire.scr -s", Mode::Saver, 0},
    {"vellomire.scr /S", Mode::Saver, 0},
    {"vellomire.scr / s", Mode::Saver, 0},
    {"vellomire.scr //s", Mode::Saver, 0},
    {"vellomire.scr /saver", Mode::Saver, 0},
    {"vellomire.scr\t\t/s", Mode::Saver, 0},
    {"vellomire.scr \t/s", Mode::Saver, 0},
    {"vellomire.scr /p PARENT", Mode::Preview, 0},
    {"vellomire.scr /pPARENT", Mode::Preview, 0},
    {"vellomire.scr /P   PARENT", Mode::Preview, 0},
    {"vellomire.scr /p PARENTxyz", Mode::Preview, 0},
    {"vellomire.scr /l PARENT", Mode::Preview, 0},
    {"vellomire.scr L PARENT", Mode::Preview, 0},
    {"vellomire.scr /p", Mode::Nothing, -1},
    {"vellomire.scr /p 0", Mode::Nothing, -1},
    {"vellomire.scr /p abc", Mode::Nothing, -1},
    {"vellomire.scr /p\tPARENT", Mode::Nothing, -1},
    {"vellomire.scr /p -PARENT", Mode::Nothing, -1},
    {"vellomire.scr /p 99999", Mode::Nothing, -1},
    {"vellomire.scr /\ts", Mode::Nothing, -1},
    {"vellomire.scr /x", Mode::Nothing, -1},
    {"vellomire.scr 5", Mode::Nothing, -1},
    {"vellomire.scr /\x80", Mode::Nothing, -1},
    {"vellomire.scr /\xE9s", Mode::Nothing, -1},
    {"\"C:\\Program Files\\vellomire.scr\" /s", Mode::Saver, 0},
    {"\"C:\\Program Files\\vellomire.scr\"/s", Mode::Saver, 0},
    {"\"C:\\Program Files\\vellomire.scr /s", Mode::Dialog, 0},
    {"vellomire.scr/s", Mode::Dialog, 0},
    {"vell\xF6mire.scr /s", Mode::Saver, 0},
    {"vellomire!.scr /s", Mode::Saver, 0},
    {"\xF6 /s", Mode::Saver, 0},
    {"", Mode::Dialog, 0},
};

TEST(CommandLine, ModeTableOnTheNtFamily)
{
    CheckTable(ModeTable, sizeof ModeTable / sizeof ModeTable[0], false);
}

TEST(CommandLine, ModeTableOnThe95Family)
{
    CheckTable(ModeTable, sizeof ModeTable / sizeof ModeTable[0], true);
}

TEST(CommandLine, ChangePasswordOnlyOnThe95Family)
{
    const TailCase nt[] = {
        {"vellomire.scr /a", Mode::Nothing, -1},
        {"vellomire.scr /a PARENT", Mode::Nothing, -1},
        {"vellomire.scr A", Mode::Nothing, -1},
    };
    CheckTable(nt, 3, false);
    const TailCase win95[] = {
        {"vellomire.scr /a", Mode::ChangePassword, 0},
        {"vellomire.scr /a PARENT", Mode::ChangePassword, 0},
        {"vellomire.scr -A 0", Mode::ChangePassword, 0},
        {"vellomire.scr a 99999", Mode::ChangePassword, 0},
    };
    CheckTable(win95, 4, true);
}

TEST(CommandLine, VersionFailureCountsAsNtFamily)
{
    sim::Config config;
    config.win95Family = true;
    config.versionFails = true;
    config.commandLine = "vellomire.scr /a";
    sim::Reset(config);
    sim::ProcessResult result = vtest::RunProgram();
    EXPECT_EQ(vtest::SignedExit(result), -1);
    EXPECT_FALSE(vtest::Called("LoadLibraryA"));
}

// The dialog's owner: none for an empty tail, the foreground window for C.
TEST(CommandLine, DialogOwner)
{
    for (const char *tail : {"", "/c", "c:5"}) {
        vtest::StartWorld(tail);
        HWND foreground = sim::Deactivate();
        sim::At(500, [] { sim::KeyPress(VK_ESCAPE); });
        sim::ProcessResult result = vtest::RunProgram();
        EXPECT_EQ(vtest::SignedExit(result), 0) << tail;
        auto calls = vtest::CallArguments("DialogBoxParamA");
        ASSERT_EQ(calls.size(), 1u) << tail;
        ASSERT_GE(calls[0].size(), 3u);
        std::string expected = *tail == '\0' ? "null" : sim::WindowName(foreground);
        EXPECT_EQ(calls[0][2], expected) << "owner for tail [" << tail << "]";
    }
}

// The change of password gets the window named on the command line, or the
// foreground window when none or a dead one is named.
TEST(CommandLine, ChangePasswordOwner)
{
    struct Case { const char *tail; bool named; };
    for (Case c : {Case{"/a PARENT", true}, Case{"/a", false}, Case{"/a 99999", false}}) {
        HWND parent = nullptr;
        std::string commandLine = std::string("vellomire.scr ") + c.tail;
        sim::Config config;
        config.win95Family = true;
        config.commandLine = commandLine;
        sim::Reset(config);
        parent = sim::CreateOutsideWindow("Display Properties", 100, 100);
        if (c.named) {
            size_t at = commandLine.find("PARENT");
            commandLine.replace(at, 6, std::to_string((unsigned long)(uintptr_t)parent));
            config.commandLine = commandLine;
            sim::Reset(config);
            ASSERT_EQ(sim::CreateOutsideWindow("Display Properties", 100, 100), parent);
        }
        HWND foreground = sim::Deactivate();
        static std::vector<std::string> seen;
        seen.clear();
        sim::FakeModule mpr;
        mpr.fileName = "MPR.DLL";
        mpr.exports["PwdChangePasswordA"] = reinterpret_cast<void *>(
            +[](LPCSTR provider, HWND owner, DWORD a, DWORD b) -> DWORD {
                seen.push_back(provider);
                seen.push_back(sim::WindowName(owner));
                seen.push_back(std::to_string(a) + "," + std::to_string(b));
                return 0;
            });
        sim::InstallModule(mpr);
        sim::ProcessResult result = vtest::RunProgram();
        EXPECT_EQ(vtest::SignedExit(result), 0);
        ASSERT_EQ(seen.size(), 3u) << c.tail;
        EXPECT_EQ(seen[0], "SCRSAVE");
        EXPECT_EQ(seen[1], sim::WindowName(c.named ? parent : foreground)) << c.tail;
        EXPECT_EQ(seen[2], "0,0");
        EXPECT_EQ(sim::ModuleReferences("MPR.DLL"), 0) << "MPR.DLL is freed after the call";
    }
}

TEST(CommandLine, ParseWindowHandleWrapsAndStops)
{
    struct Case { const char *text; DWORD value; };
    const Case cases[] = {
        {"", 0},           {"abc", 0},          {"-5", 0},
        {" 5", 0},         {"0", 0},            {"42", 42},
        {"42abc", 42},     {"007", 7},          {"4294967295", 4294967295u},
        {"4294967296", 0}, {"4294967297", 1},   {"99999999999", 1215752191u},
        {"12 34", 12},     {"0x10", 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ParseWindowHandle(c.text), c.value) << "[" << c.text << "]";
}

// A handle beyond 32 bits wraps before the window is looked up.
TEST(CommandLine, PreviewHandleWrapsModulo2To32)
{
    sim::Config config;
    config.commandLine = "vellomire.scr";
    sim::Reset(config);
    HWND parent = sim::CreateOutsideWindow("Display Properties", 152, 112);
    uint64_t wrapped = (uint64_t)(uintptr_t)parent + 4294967296ull * 3;
    config.commandLine = "vellomire.scr /p " + std::to_string(wrapped);
    sim::Reset(config);
    ASSERT_EQ(sim::CreateOutsideWindow("Display Properties", 152, 112), parent);
    ScheduleEnd(parent);
    sim::ProcessResult result = vtest::RunProgram();
    EXPECT_EQ(vtest::SignedExit(result), 0);
    EXPECT_EQ(ObservedMode(), Mode::Preview);
}

// A dead window on the command line makes nothing.
TEST(CommandLine, PreviewOfDestroyedWindowFails)
{
    sim::Config config;
    sim::Reset(config);
    HWND parent = sim::CreateOutsideWindow("Display Properties", 152, 112);
    config.commandLine = "vellomire.scr /p " + std::to_string((unsigned long)(uintptr_t)parent);
    sim::Reset(config);
    ASSERT_EQ(sim::CreateOutsideWindow("Display Properties", 152, 112), parent);
    sim::DestroyFromOutside(parent);
    sim::ProcessResult result = vtest::RunProgram();
    EXPECT_EQ(vtest::SignedExit(result), -1);
    EXPECT_FALSE(vtest::Called("CreateWindowExA"));
    EXPECT_FALSE(vtest::Called("RegisterClassA"));
}

// The entry ignores the runtime's arguments and ends the process itself.
TEST(CommandLine, EntryEndsTheProcessWithTheModeResult)
{
    vtest::StartWorld("/x");
    sim::ProcessResult result = vtest::RunProgram([] {
        char junk[] = "/s";
        WinMain(nullptr, nullptr, junk, 1);
    });
    EXPECT_TRUE(result.exited);
    EXPECT_FALSE(result.returned);
    EXPECT_EQ(result.exitCode, 0xFFFFFFFFu);
}

// Commands that cannot be typed: long, unterminated, full of control bytes.
TEST(CommandLine, OddCommandLinesNeverCrash)
{
    std::string huge(100000, 's');
    std::string manyDigits = "vellomire.scr /p " + std::string(5000, '9');
    std::string controls = "vellomire.scr ";
    for (int c = 1; c < 32; ++c)
        controls += char(c);
    const std::string lines[] = {"\"", "\"\"", "\" /s", huge, "vellomire.scr " + huge,
                                 manyDigits, controls, "vellomire.scr \x7F", "vellomire.scr \xFF"};
    for (const std::string &line : lines) {
        Outcome outcome = RunLine(line);
        EXPECT_TRUE(outcome.exitCode == 0 || outcome.exitCode == -1) << line.substr(0, 40);
    }
}

}  // namespace
