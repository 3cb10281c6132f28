// Activation, the foreground window and the focus: the messages when the
// user goes to another application and comes back with a click, when the
// program switches between its own windows, and when the active window is
// destroyed.
#include "core_support.h"

#include <gtest/gtest.h>

namespace {

using coretest::Posted;
using coretest::Sent;

HWND MakePopup(const char *title, int x, int y, int w, int h, DWORD exStyle = 0) {
    return CreateWindowExA(exStyle, "Rec", title, WS_POPUP | WS_VISIBLE, x, y, w, h, nullptr, nullptr,
                           sim::ProgramInstance(), nullptr);
}

// Runs the program's loop until WM_QUIT.
void Loop() {
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

TEST(CoreActivation, AnotherApplicationTakesTheForegroundAndAClickBringsTheProgramBack) {
    sim::Config config;
    config.cursor = {20, 20};
    coretest::NewWorld(config);
    size_t deactivated = 0, clicked = 0, end = 0;
    HWND other = nullptr;
    sim::At(100, [&] {
        deactivated = coretest::LogMark();
        other = sim::Deactivate();
    });
    sim::At(200, [&] {
        clicked = coretest::LogMark();
        sim::Click(0);
    });
    sim::At(300, [&] {
        end = coretest::LogMark();
        PostQuitMessage(0);
    });
    HWND hwnd = nullptr;
    coretest::Run([&] {
        coretest::RegisterRecordingClass("Rec");
        hwnd = MakePopup("Saver", 0, 0, 640, 480, WS_EX_TOPMOST);
        Loop();
        ExitProcess(0);
    });
    std::vector<coretest::Msg> away = coretest::MessagesSince(deactivated);
    away.resize(std::min<size_t>(4, away.size()));
    EXPECT_TRUE(coretest::SameMessages({Sent("w1", WM_NCACTIVATE, 0), Sent("w1", WM_ACTIVATE, WA_INACTIVE),
                                        Sent("w1", WM_ACTIVATEAPP, 0), Sent("w1", WM_KILLFOCUS)},
                                       away));
    EXPECT_TRUE(sim::IsOutsideWindow(other));
    std::vector<coretest::Msg> all = coretest::MessagesSince(clicked);
    std::vector<coretest::Msg> back(all.begin(), all.begin() + std::min<size_t>(all.size(), 12));
    EXPECT_TRUE(coretest::SameMessages(
        {Sent("w1", WM_NCHITTEST), Sent("w1", WM_MOUSEACTIVATE), Sent("w1", WM_ACTIVATEAPP, 1),
         Sent("w1", WM_NCACTIVATE, 1), Sent("w1", WM_ACTIVATE, WA_CLICKACTIVE), Sent("w1", WM_SETFOCUS),
         Sent("w1", WM_SETCURSOR), Posted("w1", WM_LBUTTONDOWN, 1), Sent("w1", WM_NCHITTEST),
         Sent("w1", WM_SETCURSOR), Posted("w1", WM_LBUTTONUP, 0)},
        back));
    EXPECT_GT(end, clicked);
}

TEST(CoreActivation, ForegroundLockRefusesTheProgramAfterTheUserLeft) {
    coretest::NewWorld();
    sim::At(10, [] { sim::Deactivate(); });
    coretest::Run([&] {
        coretest::RegisterRecordingClass("Rec");
        HWND hwnd = MakePopup("Saver", 0, 0, 100, 100);
        EXPECT_EQ(GetForegroundWindow(), hwnd);
        SetTimer(hwnd, 1, 50, nullptr);
        MSG msg;
        do {   // the user leaves meanwhile
            GetMessageA(&msg, nullptr, 0, 0);
            DispatchMessageA(&msg);
        } while (msg.message != WM_TIMER);
        EXPECT_NE(GetForegroundWindow(), hwnd);
        EXPECT_EQ(GetActiveWindow(), nullptr);
        EXPECT_EQ(GetFocus(), nullptr);
        EXPECT_FALSE(SetForegroundWindow(hwnd));
        // SetFocus makes it the program's active window, not the foreground one.
        size_t mark = coretest::LogMark();
        SetFocus(hwnd);
        EXPECT_TRUE(coretest::SameMessages({Sent("w1", WM_ACTIVATEAPP, 1), Sent("w1", WM_NCACTIVATE, 0),
                                            Sent("w1", WM_ACTIVATE, WA_ACTIVE), Sent("w1", WM_SETFOCUS)},
                                           coretest::MessagesSince(mark)));
        EXPECT_EQ(GetActiveWindow(), hwnd);
        EXPECT_NE(GetForegroundWindow(), hwnd);
        ExitProcess(0);
    });
}

// A second visible popup of the program takes the activation from the first.
TEST(CoreActivation, SwitchBetweenTheProgramsWindowsSendsNoActivateApp) {
    sim::Config config;
    config.cursor = {900, 700};
    coretest::NewWorld(config);
    coretest::Run([&] {
        coretest::RegisterRecordingClass("Rec");
        HWND first = MakePopup("First", 0, 0, 100, 100);
        size_t mark = coretest::LogMark();
        HWND second = MakePopup("Second", 200, 0, 100, 100);
        EXPECT_TRUE(coretest::SameMessages(
            {Sent("w2", WM_SHOWWINDOW, 1), Sent("w2", WM_WINDOWPOSCHANGING), Sent("w1", WM_NCACTIVATE, 0),
             Sent("w1", WM_ACTIVATE, WA_INACTIVE), Sent("w2", WM_NCACTIVATE, 1), Sent("w2", WM_ACTIVATE, WA_ACTIVE),
             Sent("w1", WM_KILLFOCUS), Sent("w2", WM_SETFOCUS), Sent("w2", WM_NCPAINT), Sent("w2", WM_ERASEBKGND),
             Sent("w2", WM_WINDOWPOSCHANGED)},
            coretest::MessagesSinceExcept(mark, {WM_NCCREATE, WM_NCCALCSIZE, WM_CREATE, WM_SIZE, WM_MOVE})));
        EXPECT_EQ(GetForegroundWindow(), second);
        // Destroying the active one hands the activation to the other, before WM_DESTROY.
        mark = coretest::LogMark();
        DestroyWindow(second);
        EXPECT_TRUE(coretest::SameMessages(
            {Sent("w2", WM_WINDOWPOSCHANGING), Sent("w2", WM_WINDOWPOSCHANGED), Sent("w2", WM_NCACTIVATE, 0),
             Sent("w2", WM_ACTIVATE, WA_INACTIVE), Sent("w1", WM_NCACTIVATE, 1), Sent("w1", WM_ACTIVATE, WA_ACTIVE),
             Sent("w2", WM_KILLFOCUS), Sent("w1", WM_SETFOCUS), Sent("w2", WM_DESTROY), Sent("w2", WM_NCDESTROY)},
            coretest::MessagesSince(mark)));
        EXPECT_EQ(GetForegroundWindow(), first);
        EXPECT_EQ(GetFocus(), first);
        ExitProcess(0);
    });
}

TEST(CoreActivation, ActivateAppGoesToEveryTopLevelWindowOfTheProgram) {
    sim::Config config;
    config.cursor = {900, 700};
    coretest::NewWorld(config);
    HWND outside = sim::CreateOutsideWindow("Desktop application", 300, 300);
    coretest::Run([&] {
        coretest::RegisterRecordingClass("Rec");
        EXPECT_EQ(GetForegroundWindow(), outside);
        HWND hidden = CreateWindowExA(0, "Rec", "Hidden", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                      sim::ProgramInstance(), nullptr);
        size_t mark = coretest::LogMark();
        HWND shown = MakePopup("Shown", 0, 0, 100, 100);
        EXPECT_TRUE(coretest::SameMessages(
            {Sent("w3", WM_ACTIVATEAPP, 1), Sent("w2", WM_ACTIVATEAPP, 1), Sent("w3", WM_NCACTIVATE, 1),
             Sent("w3", WM_ACTIVATE, WA_ACTIVE), Sent("w3", WM_SETFOCUS)},
            coretest::MessagesSinceExcept(mark, {WM_NCCREATE, WM_NCCALCSIZE, WM_CREATE, WM_SIZE, WM_MOVE,
                                                 WM_SHOWWINDOW, WM_WINDOWPOSCHANGING, WM_WINDOWPOSCHANGED,
                                                 WM_NCPAINT, WM_ERASEBKGND})));
        EXPECT_EQ(GetForegroundWindow(), shown);
        EXPECT_TRUE(IsWindow(hidden));
        // Handing the foreground to the other application is allowed while in front.
        mark = coretest::LogMark();
        EXPECT_TRUE(SetForegroundWindow(outside));
        EXPECT_TRUE(coretest::SameMessages({Sent("w3", WM_NCACTIVATE, 0), Sent("w3", WM_ACTIVATE, WA_INACTIVE),
                                            Sent("w3", WM_ACTIVATEAPP, 0), Sent("w2", WM_ACTIVATEAPP, 0),
                                            Sent("w3", WM_KILLFOCUS)},
                                           coretest::MessagesSince(mark)));
        ExitProcess(0);
    });
}

}  // namespace
