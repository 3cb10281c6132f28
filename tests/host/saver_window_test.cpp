// The saver window: its two kinds, the message chain of the host, the wake
// rules and the single-instance test.
#include "host.h"
#include "log_tables.h"
#include "saver_process.h"
#include "show.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const uint64_t Settled = 500;   // the window is up and the first picture painted

// Runs a full-screen saver; body runs Settled ms into the run with the
// saver window; the run ends with a key at endAt unless it ended before.
sim::ProcessResult RunSaverWith(const std::function<void(HWND)> &body, bool win95 = false,
                                uint64_t endAt = 3000)
{
    vtest::StartWorld("/s", win95);
    vtest::WriteSettings("Paint=0\r\n");
    sim::At(Settled, [body] { body(HostState.saverWindow); });
    sim::At(endAt, [] {
        if (!sim::LiveWindows().empty())
            sim::KeyPress('Q');
    });
    return vtest::RunProgram();
}

HWND MakePreviewWorld(int width, int height)
{
    sim::Config config;
    sim::Reset(config);
    HWND parent = sim::CreateOutsideWindow("Display Properties", width, height);
    config.commandLine = "vellomire.scr /p " + std::to_string((unsigned long)(uintptr_t)parent);
    sim::Reset(config);
    HWND again = sim::CreateOutsideWindow("Display Properties", width, height);
    EXPECT_EQ(again, parent);
    return parent;
}

TEST(SaverWindow, FullScreenWindowCoversTheScreenOnTop)
{
    std::string cls, title;
    DWORD style = 0, exStyle = 0;
    RECT rect = {};
    bool hidden = false;
    sim::ProcessResult result = RunSaverWith([&](HWND saver) {
        cls = sim::WindowClass(saver);
        title = sim::WindowTitle(saver);
        style = sim::WindowStyle(saver);
        exStyle = sim::WindowExStyle(saver);
        rect = sim::WindowScreenRect(saver);
        hidden = sim::CursorHidden();
    });
    EXPECT_EQ(vtest::SignedExit(result), 0);
    EXPECT_EQ(cls, "WindowsScreenSaverClass");
    EXPECT_EQ(title, "Screen Saver");
    EXPECT_EQ(style, 0x96000000u);
    EXPECT_EQ(exStyle & WS_EX_TOPMOST, (DWORD)WS_EX_TOPMOST);
    EXPECT_EQ(rect.left, 0);
    EXPECT_EQ(rect.top, 0);
    EXPECT_EQ(rect.right, 1024);
    EXPECT_EQ(rect.bottom, 768);
    EXPECT_TRUE(hidden);
    EXPECT_TRUE(vtest::Called("SetForegroundWindow"));
    EXPECT_TRUE(vtest::Called("RegisterClassA", "WindowsScreenSaverClass"));
}

TEST(SaverWindow, PreviewIsAChildOfTheParentsClientSize)
{
    HWND parent = MakePreviewWorld(152, 112);
    HWND child = nullptr;
    DWORD style = 0, exStyle = 0;
    std::string title;
    RECT rect = {};
    sim::At(Settled, [&] {
        child = HostState.saverWindow;
        style = sim::WindowStyle(child);
        exStyle = sim::WindowExStyle(child);
        title = sim::WindowTitle(child);
        rect = sim::WindowScreenRect(child);
    });
    sim::At(2000, [parent] { sim::DestroyFromOutside(parent); });
    sim::ProcessResult result = vtest::RunProgram();
    EXPECT_EQ(vtest::SignedExit(result), 0);
    EXPECT_EQ(style, 0x52000000u);
    EXPECT_EQ(exStyle, 0u);
    EXPECT_EQ(title, "Preview");
    EXPECT_EQ(rect.right - rect.left, 152);
    EXPECT_EQ(rect.bottom - rect.top, 112);
    EXPECT_EQ(HostState.isPreview, 1);
    // A preview takes no foreground, makes no single-instance test and never
    // hides the cursor.
    EXPECT_FALSE(vtest::Called("FindWindowA"));
    EXPECT_FALSE(vtest::Called("SetForegroundWindow"));
    EXPECT_FALSE(vtest::Called("SetCursor"));
}

// The full-screen start-up in order, up to the message loop.
TEST(SaverWindow, FullScreenStartUpOrder)
{
    RunSaverWith([](HWND) {});
    const std::vector<std::string> expected = {
        "GetCommandLineA", "GetModuleHandleA", "GetVersionExA",   "LoadIconA",
        "GetStockObject",  "GetSystemMetrics", "GetSystemMetrics", "FindWindowA",
        "RegisterClassA",  "CreateWindowExA",  "GetModuleHandleA", "GetCursorPos",
        "SetCursor",       "LoadStringA",      "LoadStringA",     "GetPrivateProfileIntA",
        "GetPrivateProfileIntA", "SetTimer",   "GetSystemTimeAsFileTime",
        "SetForegroundWindow", "GetMessageA",
    };
    EXPECT_TRUE(vtest::InOrder(expected, vtest::CallsSince(0)));
    // Nothing touches the password machinery on the NT family.
    EXPECT_FALSE(vtest::Called("RegOpenKeyA"));
    EXPECT_FALSE(vtest::Called("SystemParametersInfoA"));
}

struct MoveCase {
    const char *name;
    std::vector<std::pair<int, int>> moves;
    int wakesOnMove;   // 1-based index of the move that posts the close; 0: none
};

// The mouse rule measures from a reference that stays put until a wake.
TEST(SaverWindow, MouseRule)
{
    const MoveCase cases[] = {
        {"3 right, 1 down: distance 4", {{3, 1}}, 0},
        {"3 right, 2 down: distance 5", {{3, 2}}, 1},
        {"5 left", {{-5, 0}}, 1},
        {"moves add up", {{2, 0}, {2, 0}, {1, 0}}, 3},
        {"there and back", {{4, 0}, {-4, 0}, {4, 0}, {-4, 0}}, 0},
        {"diagonal drift", {{1, 1}, {1, 1}, {1, 0}}, 3},
        {"up and left", {{-2, -2}, {0, -1}}, 2},
    };
    for (const MoveCase &c : cases) {
        vtest::StartWorld("/s");
        vtest::WriteSettings("Paint=0\r\n");
        for (size_t i = 0; i < c.moves.size(); ++i) {
            auto move = c.moves[i];
            sim::At(Settled + 100 * i, [move] { sim::MoveCursor(move.first, move.second); });
        }
        sim::At(Settled + 1000, [] {
            if (!sim::LiveWindows().empty())
                sim::KeyPress('Q');
        });
        sim::ProcessResult result = vtest::RunProgram();
        EXPECT_EQ(vtest::SignedExit(result), 0) << c.name;
        // The close comes at the time of the move that caused it.
        int firstWake = 0;
        for (const sim::Event &event : sim::Log()) {
            if (event.kind != sim::EventKind::Call || event.function != "PostMessageA" ||
                event.text.find("WM_CLOSE") == std::string::npos || event.time < Settled)
                continue;
            if (event.time < Settled + 100 * c.moves.size())
                firstWake = int((event.time - Settled) / 100) + 1;
            break;
        }
        EXPECT_EQ(firstWake, c.wakesOnMove) << c.name;
    }
}

// The move that Windows reports when the window appears under the resting
// cursor is not a wake.
TEST(SaverWindow, FirstMouseMoveAfterCreationDoesNotWake)
{
    int closes = -1;
    sim::ProcessResult result = RunSaverWith([&](HWND) { closes = vtest::ClosesPostedSince(0); });
    EXPECT_EQ(closes, 0);
    EXPECT_EQ(vtest::SignedExit(result), 0);
}

// When the cursor cannot be read at creation the reference stays at the
// screen's corner: the move reported as the window appears wakes a cursor
// resting 5 pixels from there, and not one resting 4 pixels away.
TEST(SaverWindow, UnreadableCursorAtCreationMeasuresFromTheCorner)
{
    for (POINT rest : {POINT{3, 2}, POINT{3, 1}}) {
        sim::Config config;
        config.cursor = rest;
        vtest::StartWorld("/s", false, config);
        sim::FailCall("GetCursorPos", 1);
        sim::At(Settled, [] { sim::KeyPress('Q'); });
        sim::ProcessResult result = vtest::RunProgram();
        EXPECT_EQ(vtest::SignedExit(result), 0);
        EXPECT_EQ(vtest::Called("TranslateMessage", "WM_KEYDOWN"), rest.y == 1)
            << "only the 4-pixel rest waits for the key";
    }
}

// Each wake ends a run on the NT family with 0, through one WM_CLOSE.
TEST(SaverWindow, WakeEvents)
{
    struct Case { const char *name; std::function<void()> act; };
    const Case cases[] = {
        {"key", [] { sim::KeyDown('K'); }},
        {"left button", [] { sim::ButtonDown(0); }},
        {"right button", [] { sim::ButtonDown(1); }},
        {"middle button", [] { sim::ButtonDown(2); }},
        {"deactivation", [] { sim::Deactivate(); }},
        {"system key", [] { PostMessageA(HostState.saverWindow, WM_SYSKEYDOWN, 18, 0); }},
    };
    for (const Case &c : cases) {
        vtest::StartWorld("/s");
        vtest::WriteSettings("Paint=0\r\n");
        uint64_t endedAt = 0;
        sim::At(Settled, c.act);
        sim::ProcessResult result = vtest::RunProgram();
        endedAt = sim::Elapsed();
        EXPECT_TRUE(result.exited) << c.name;
        EXPECT_EQ(vtest::SignedExit(result), 0) << c.name;
        EXPECT_LT(endedAt, Settled + 100) << c.name << " ends the run at once";
        EXPECT_GE(vtest::ClosesPostedSince(0), 1) << c.name;
        EXPECT_EQ(HostState.closeAllowed, 0) << "the NT family never verifies";
    }
}

// Messages that never wake, handed to the window as the system would.
TEST(SaverWindow, MessagesThatDoNotWake)
{
    const UINT quiet[] = {WM_KEYUP,        WM_SYSKEYUP,     WM_CHAR,         WM_LBUTTONUP,
                          WM_RBUTTONUP,    WM_MBUTTONUP,    WM_LBUTTONDBLCLK, WM_RBUTTONDBLCLK,
                          WM_MBUTTONDBLCLK, WM_MOUSEWHEEL,  WM_NULL};
    int closes = -1;
    LRESULT activated = -1;
    sim::ProcessResult result = RunSaverWith([&](HWND saver) {
        size_t mark = vtest::LogMark();
        for (UINT message : quiet)
            HostWindowProc(saver, message, 0, 0);
        activated = HostWindowProc(saver, WM_ACTIVATEAPP, 1, 0);
        sim::KeyUp('K');
        sim::ButtonUp(0);
        sim::Wheel(120);
        closes = vtest::ClosesPostedSince(mark);
    });
    EXPECT_EQ(closes, 0);
    EXPECT_EQ(activated, 0);
    EXPECT_EQ(vtest::SignedExit(result), 0);
}

// The runs a row of the default procedure's table belongs to: either
// family, one of them, or the 95 family while the verifier is being asked.
enum class When { Showing, OnNt, On95, Verifying };

struct DefaultCase {
    const char *name;
    UINT message;
    WPARAM wParam;
    std::vector<std::string> calls;   // the program's calls while handling it
    bool checkResult;
    LRESULT result;
    When when = When::Showing;
};

// HostDefaultProc while the saver shows, on either family without a
// verifier, and while a verification is under way.
TEST(SaverWindow, DefaultProcTable)
{
    const DefaultCase cases[] = {
        {"show", WM_SHOWWINDOW, 1, {"SetCursor", "DefWindowProcA"}, false, 0},
        {"hide", WM_SHOWWINDOW, 0, {"DefWindowProcA"}, false, 0},
        {"deactivate app", WM_ACTIVATEAPP, 0, {"PostMessageA", "DefWindowProcA"}, false, 0},
        {"activate app", WM_ACTIVATEAPP, 1, {"DefWindowProcA"}, false, 0},
        {"set cursor", WM_SETCURSOR, 0, {"SetCursor"}, true, 1},
        {"key", WM_KEYDOWN, 'K', {"PostMessageA", "DefWindowProcA"}, false, 0},
        {"system key", WM_SYSKEYDOWN, 18, {"PostMessageA", "DefWindowProcA"}, false, 0},
        {"left", WM_LBUTTONDOWN, 0, {"PostMessageA", "DefWindowProcA"}, false, 0},
        {"right", WM_RBUTTONDOWN, 0, {"PostMessageA", "DefWindowProcA"}, false, 0},
        {"middle", WM_MBUTTONDOWN, 0, {"PostMessageA", "DefWindowProcA"}, false, 0},
        {"resting mouse", WM_MOUSEMOVE, 0, {"GetCursorPos", "DefWindowProcA"}, false, 0},
        {"verify request on NT", WM_VERIFY_PASSWORD, 0, {"DefWindowProcA"}, false, 0, When::OnNt},
        {"verify request on 95, no verifier", WM_VERIFY_PASSWORD, 0, {}, true, 1, When::On95},
        {"other", WM_NULL, 0, {"DefWindowProcA"}, false, 0},
        {"paint while verifying", WM_PAINT, 0, {"DefWindowProcA"}, false, 0, When::Verifying},
        {"key while verifying", WM_KEYDOWN, 'K', {"DefWindowProcA"}, false, 0, When::Verifying},
        {"mouse while verifying", WM_MOUSEMOVE, 0, {"DefWindowProcA"}, false, 0, When::Verifying},
        {"deactivate while verifying", WM_ACTIVATEAPP, 0, {"DefWindowProcA"}, false, 0,
         When::Verifying},
        {"set cursor while verifying", WM_SETCURSOR, 0, {"DefWindowProcA"}, false, 0,
         When::Verifying},
    };
    for (bool win95 : {false, true}) {
        std::vector<const DefaultCase *> rows;
        std::vector<std::vector<std::string>> seen;
        std::vector<LRESULT> results;
        RunSaverWith([&](HWND saver) {
            for (const DefaultCase &c : cases) {
                if (win95 ? c.when == When::OnNt
                          : c.when == When::On95 || c.when == When::Verifying)
                    continue;
                HostState.isVerifying = c.when == When::Verifying;
                size_t mark = vtest::LogMark();
                results.push_back(HostDefaultProc(saver, c.message, c.wParam, 0));
                seen.push_back(vtest::CallsSince(mark));
                HostState.isVerifying = 0;
                rows.push_back(&c);
            }
        }, win95);
        ASSERT_EQ(seen.size(), win95 ? 18u : 13u);
        for (size_t i = 0; i < seen.size(); ++i) {
            EXPECT_TRUE(vtest::SameSequence(rows[i]->calls, seen[i])) << rows[i]->name;
            if (rows[i]->checkResult) {
                EXPECT_EQ(results[i], rows[i]->result) << rows[i]->name;
            }
        }
    }
}

// HostWindowProc's own answers in a full-screen run.
TEST(SaverWindow, WindowProcAnswers)
{
    LRESULT setText = -1, screenSave = -1, nextWindow = -1, prevWindow = -1;
    std::vector<std::string> screenSaveCalls, screenSaveLowBitCalls, keyMenuCalls, switchCalls,
        timerCalls;
    std::string title;
    RunSaverWith([&](HWND saver) {
        setText = HostWindowProc(saver, WM_SETTEXT, 0, (LPARAM) "Changed");
        title = sim::WindowTitle(saver);
        size_t mark = vtest::LogMark();
        screenSave = HostWindowProc(saver, WM_SYSCOMMAND, SC_SCREENSAVE, 0);
        screenSaveCalls = vtest::CallsSince(mark);
        mark = vtest::LogMark();
        HostWindowProc(saver, WM_SYSCOMMAND, SC_SCREENSAVE | 1, 0);
        screenSaveLowBitCalls = vtest::CallsSince(mark);
        mark = vtest::LogMark();
        HostWindowProc(saver, WM_SYSCOMMAND, SC_KEYMENU, 0);
        keyMenuCalls = vtest::CallsSince(mark);
        mark = vtest::LogMark();
        nextWindow = HostWindowProc(saver, WM_SYSCOMMAND, SC_NEXTWINDOW, 0);
        prevWindow = HostWindowProc(saver, WM_SYSCOMMAND, SC_PREVWINDOW, 0);
        switchCalls = vtest::CallsSince(mark);
        mark = vtest::LogMark();
        HostWindowProc(saver, WM_TIMER, 1, 0);
        timerCalls = vtest::CallsSince(mark);
    });
    EXPECT_EQ(setText, 0);
    EXPECT_EQ(title, "Screen Saver");
    EXPECT_EQ(screenSave, 0);
    EXPECT_TRUE(screenSaveCalls.empty());
    EXPECT_TRUE(vtest::SameSequence({"DefWindowProcA"}, screenSaveLowBitCalls));
    EXPECT_TRUE(vtest::SameSequence({"DefWindowProcA"}, keyMenuCalls));
    EXPECT_EQ(nextWindow, 0);
    EXPECT_EQ(prevWindow, 0);
    EXPECT_TRUE(switchCalls.empty()) << "answered by the host, not by DefWindowProcA";
    ASSERT_GE(timerCalls.size(), 2u);
    EXPECT_EQ(timerCalls[0], "Sleep");
    EXPECT_EQ(timerCalls[1], "KillTimer");
}

// Once a close is allowed, timers stop at the host and input goes straight
// to the system's default.
TEST(SaverWindow, AfterCloseAllowed)
{
    LRESULT timer = -1;
    std::vector<std::string> timerCalls, keyCalls, paintCalls, closeCalls;
    RunSaverWith([&](HWND saver) {
        HostState.closeAllowed = 1;
        size_t mark = vtest::LogMark();
        timer = HostWindowProc(saver, WM_TIMER, 1, 0);
        timerCalls = vtest::CallsSince(mark);
        mark = vtest::LogMark();
        HostWindowProc(saver, WM_KEYDOWN, 'K', 0);
        HostWindowProc(saver, WM_MOUSEMOVE, 0, 0);
        HostWindowProc(saver, WM_LBUTTONDOWN, 0, 0);
        keyCalls = vtest::CallsSince(mark);
        mark = vtest::LogMark();
        HostWindowProc(saver, WM_PAINT, 0, 0);
        paintCalls = vtest::CallsSince(mark);
        mark = vtest::LogMark();
        HostDefaultProc(saver, WM_ACTIVATEAPP, 0, 0);
        closeCalls = vtest::CallsSince(mark);
    });
    EXPECT_EQ(timer, 0);
    EXPECT_TRUE(timerCalls.empty());
    EXPECT_TRUE(vtest::SameSequence({"DefWindowProcA", "DefWindowProcA", "DefWindowProcA"},
                                    keyCalls));
    EXPECT_TRUE(vtest::SameSequence({"DefWindowProcA"}, paintCalls)) << "no cursor hiding, no show";
    EXPECT_TRUE(vtest::SameSequence({"DefWindowProcA"}, closeCalls));
}

// A preview ignores input, keeps the cursor, forwards help to its parent.
TEST(SaverWindow, PreviewInputAndForwarding)
{
    HWND parent = MakePreviewWorld(200, 150);
    LRESULT help = -1, menu = -1, screenSave = -1;
    std::vector<std::string> screenSaveCalls;
    sim::At(Settled, [&] {
        HWND preview = HostState.saverWindow;
        sim::KeyPress('K');
        sim::Click(0);
        sim::MoveCursor(50, 50);
        sim::Deactivate();
        help = HostWindowProc(preview, WM_HELP, 7, 0x1234);
        menu = HostWindowProc(preview, WM_CONTEXTMENU, 9, 0x00050006);
        size_t mark = vtest::LogMark();
        screenSave = HostWindowProc(preview, WM_SYSCOMMAND, SC_SCREENSAVE, 0);
        screenSaveCalls = vtest::CallsSince(mark);
    });
    sim::At(3000, [parent] { sim::DestroyFromOutside(parent); });
    sim::ProcessResult result = vtest::RunProgram();
    EXPECT_EQ(vtest::SignedExit(result), 0);
    EXPECT_GE(sim::Elapsed(), 3000u) << "nothing but the parent's end closes a preview";
    EXPECT_EQ(vtest::ClosesPostedSince(0), 0);
    EXPECT_EQ(help, 1);
    EXPECT_EQ(menu, 1);
    EXPECT_TRUE(vtest::SameSequence({"DefWindowProcA"}, screenSaveCalls));
    std::vector<MSG> forwarded = sim::OutsideMessages(parent);
    std::vector<MSG> mine;
    for (const MSG &m : forwarded)
        if (m.message == WM_HELP || m.message == WM_CONTEXTMENU)
            mine.push_back(m);
    ASSERT_EQ(mine.size(), 2u);
    EXPECT_EQ(mine[0].message, (UINT)WM_HELP);
    EXPECT_EQ(mine[0].wParam, (WPARAM)parent);
    EXPECT_EQ(mine[0].lParam, 0x1234);
    EXPECT_EQ(mine[1].message, (UINT)WM_CONTEXTMENU);
    EXPECT_EQ(mine[1].wParam, (WPARAM)parent);
    EXPECT_EQ(mine[1].lParam, 0x00050006);
    EXPECT_FALSE(vtest::Called("SetCursor"));
}

// A second full-screen start finds the first by class and title and only
// brings it forward.
TEST(SaverWindow, SingleInstance)
{
    for (bool win95 : {false, true}) {
        vtest::StartWorld("/s", win95);
        sim::SetRegistryValue("Control Panel\\Desktop", "ScreenSaveUsePassword", REG_DWORD,
                              {1, 0, 0, 0});
        HWND running =
            sim::CreateOutsideWindowOfClass("WindowsScreenSaverClass", "Screen Saver", 1024, 768);
        sim::ProcessResult result = vtest::RunProgram();
        EXPECT_EQ(vtest::SignedExit(result), 0);
        EXPECT_EQ(sim::Elapsed(), 0u) << "returns at once";
        EXPECT_TRUE(vtest::Called("SetForegroundWindow", sim::WindowName(running)));
        EXPECT_FALSE(vtest::Called("RegisterClassA"));
        EXPECT_FALSE(vtest::Called("CreateWindowExA"));
        EXPECT_FALSE(vtest::Called("RegOpenKeyA"));
        EXPECT_FALSE(vtest::Called("LoadLibraryA"));
        EXPECT_TRUE(vtest::Called("LoadIconA")) << "the class is filled before the test";
    }
    // Another title, or a preview, is not refused.
    vtest::StartWorld("/s");
    sim::CreateOutsideWindowOfClass("WindowsScreenSaverClass", "Preview", 100, 100);
    sim::At(Settled, [] { sim::KeyPress('K'); });
    vtest::RunProgram();
    EXPECT_TRUE(vtest::Called("CreateWindowExA", "\"Screen Saver\""));
}

// The input method is detached while the saver runs and put back at the end.
HIMC DetachedContext = reinterpret_cast<HIMC>(uintptr_t(0x4321));
std::vector<std::pair<std::string, uintptr_t>> ImmCalls;
HIMC AnswerWith = nullptr;

HIMC FakeImmAssociateContext(HWND hwnd, HIMC context)
{
    ImmCalls.push_back({sim::WindowName(hwnd), uintptr_t(context)});
    return AnswerWith;
}

TEST(SaverWindow, InputMethodDetachedAndRestored)
{
    for (bool hasContext : {true, false}) {
        ImmCalls.clear();
        AnswerWith = hasContext ? DetachedContext : nullptr;
        vtest::StartWorld("/s");
        sim::FakeModule imm;
        imm.fileName = "IMM32.DLL";
        imm.preloaded = true;
        imm.exports["ImmAssociateContext"] = reinterpret_cast<void *>(&FakeImmAssociateContext);
        sim::InstallModule(imm);
        std::string saverName;
        sim::At(Settled, [&saverName] {
            saverName = sim::WindowName(HostState.saverWindow);
            sim::KeyPress('K');
        });
        sim::ProcessResult result = vtest::RunProgram();
        EXPECT_EQ(vtest::SignedExit(result), 0);
        ASSERT_EQ(ImmCalls.size(), hasContext ? 2u : 1u);
        EXPECT_EQ(ImmCalls[0].first, saverName);
        EXPECT_EQ(ImmCalls[0].second, 0u);
        if (hasContext) {
            EXPECT_EQ(ImmCalls[1].first, saverName);
            EXPECT_EQ(ImmCalls[1].second, uintptr_t(DetachedContext));
        }
        EXPECT_FALSE(vtest::Called("LoadLibraryA")) << "IMM32 is never loaded by the saver";
        EXPECT_EQ(sim::ModuleLoads("IMM32.DLL"), 0);
        EXPECT_EQ(sim::ModuleReferences("IMM32.DLL"), 1) << "nor freed: the process's own load";
    }
    // Without IMM32 in the process nothing is asked for beyond the lookup.
    vtest::StartWorld("/s");
    sim::At(Settled, [] { sim::KeyPress('K'); });
    vtest::RunProgram();
    EXPECT_FALSE(vtest::Called("GetProcAddress"));
}

// No window, no loop: the run gives back -1 and still unloads the verifier.
TEST(SaverWindow, NoWindowMeansNoRun)
{
    for (const char *failing : {"RegisterClassA", "CreateWindowExA"}) {
        vtest::StartWorld("/s", true);
        sim::SetRegistryValue("Control Panel\\Desktop", "ScreenSaveUsePassword", REG_DWORD,
                              {1, 0, 0, 0});
        sim::FakeModule password;
        password.fileName = "PASSWORD.CPL";
        password.exports["VerifyScreenSavePwd"] =
            reinterpret_cast<void *>(+[](HWND) -> BOOL { return TRUE; });
        sim::InstallModule(password);
        sim::FailCall(failing, 1);
        sim::ProcessResult result = vtest::RunProgram();
        EXPECT_EQ(vtest::SignedExit(result), -1) << failing;
        EXPECT_FALSE(vtest::Called("GetMessageA")) << failing;
        EXPECT_EQ(sim::ModuleReferences("PASSWORD.CPL"), 0) << failing;
        ASSERT_EQ(sim::SystemParameterCalls().size(), 2u) << failing;
        EXPECT_EQ(sim::SystemParameterCalls()[1].param, 0u) << "told that the saver ended";
    }
}

}  // namespace
