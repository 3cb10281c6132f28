// Injected input: mouse moves with their hit test and cursor messages,
// merged moves, double clicks, the wheel, keys without a focus window, the
// cursor's shape and visibility, and the move a window gets when it appears
// under a resting cursor.
#include "core_support.h"

#include <gtest/gtest.h>

namespace {

using coretest::Posted;
using coretest::Sent;

// The messages of the recording class, with their lParam, from the loop.
struct Seen {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};
std::vector<Seen> seen;

HWND MakeWindow(const char *cls, DWORD style, int x, int y, int w, int h, HWND parent = nullptr) {
    return CreateWindowExA(0, cls, "Window", style, x, y, w, h, parent, nullptr, sim::ProgramInstance(), nullptr);
}

// A window over the top left of the screen and the program's loop until WM_QUIT at endAt.
// schedule sets up the test's actions in the new world.
void RunWithWindow(const std::function<void()> &schedule, const char *cls, UINT classStyle, uint64_t endAt,
                   POINT cursor = {100, 100}) {
    sim::Config config;
    config.cursor = cursor;
    coretest::NewWorld(config);
    schedule();
    seen.clear();
    coretest::SetHook([](HWND, UINT message, WPARAM wParam, LPARAM lParam, LRESULT *) {
        if (message >= WM_MOUSEMOVE && message <= WM_MOUSEWHEEL) seen.push_back({message, wParam, lParam});
        if (message >= WM_KEYDOWN && message <= WM_SYSKEYUP) seen.push_back({message, wParam, lParam});
        return false;
    });
    sim::At(endAt, [] { PostQuitMessage(0); });
    coretest::Run([&] {
        coretest::RegisterRecordingClass(cls, classStyle);
        MakeWindow(cls, WS_POPUP | WS_VISIBLE, 0, 0, 640, 480);
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        ExitProcess(0);
    });
}

std::vector<UINT> Messages() {
    std::vector<UINT> list;
    for (const Seen &s : seen) list.push_back(s.message);
    return list;
}

TEST(CoreInput, MouseMoveComesAfterHitTestAndCursorWithClientCoordinates) {
    size_t mark = 0;
    RunWithWindow(
        [&] {
            sim::At(10, [&] {
                mark = coretest::LogMark();
                sim::MoveCursor(5, 0);
            });
        },
        "Rec", 0, 50);
    std::vector<coretest::Msg> moved = coretest::MessagesSinceExcept(mark, {WM_PAINT, WM_ERASEBKGND});
    EXPECT_TRUE(coretest::SameMessages({Sent("w1", WM_NCHITTEST), Sent("w1", WM_SETCURSOR),
                                        Posted("w1", WM_MOUSEMOVE)},
                                       moved));
    for (size_t i = mark; i < sim::Log().size(); ++i) {
        const sim::Event &e = sim::Log()[i];
        if (e.kind == sim::EventKind::Sent && e.message == WM_SETCURSOR) {
            EXPECT_EQ(e.lParam, MAKELPARAM(1 /* HTCLIENT */, WM_MOUSEMOVE));
            EXPECT_EQ(e.wParam, WPARAM(uintptr_t(sim::WindowByIndex(1))));
        }
        if (e.kind == sim::EventKind::Sent && e.message == WM_NCHITTEST) {
            EXPECT_EQ(e.lParam, MAKELPARAM(105, 100));
        }
    }
    // The first move is the one the new window got under the resting cursor.
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].lParam, MAKELPARAM(100, 100));
    EXPECT_EQ(seen[1].lParam, MAKELPARAM(105, 100));
    EXPECT_EQ(sim::CursorPosition().x, 105);
}

TEST(CoreInput, MovesNotYetRetrievedMergeIntoTheLast) {
    RunWithWindow(
        [] {
            sim::At(10, [] {
                sim::MoveCursor(1, 0);
                sim::MoveCursor(1, 1);
                sim::MoveCursor(0, 7);
            });
        },
        "Rec", 0, 50, {300, 200});
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].lParam, MAKELPARAM(302, 208));
}

TEST(CoreInput, DoubleClicksNeedTheClassStyleTheTimeAndThePlace) {
    struct Case {
        const char *name;
        UINT classStyle;
        uint64_t secondAt;
        int dx;
        std::vector<UINT> expected;
    };
    const std::vector<Case> cases = {
        {"quick", CS_DBLCLKS, 300, 0, {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP}},
        {"no class style", 0, 300, 0, {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDOWN, WM_LBUTTONUP}},
        {"too slow", CS_DBLCLKS, 700, 0, {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDOWN, WM_LBUTTONUP}},
        {"two pixels off", CS_DBLCLKS, 300, 2, {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_MOUSEMOVE, WM_LBUTTONDBLCLK,
                                                WM_LBUTTONUP}},
        {"three pixels off", CS_DBLCLKS, 300, 3, {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_MOUSEMOVE, WM_LBUTTONDOWN,
                                                  WM_LBUTTONUP}},
    };
    for (const Case &c : cases) {
        RunWithWindow(
            [&c] {
                sim::At(200, [] { sim::Click(0); });
                sim::At(200 + c.secondAt - 1, [&c] { sim::MoveCursor(c.dx, 0); });
                sim::At(200 + c.secondAt, [] { sim::Click(0); });
            },
            "Rec", c.classStyle, 2000);
        std::vector<UINT> got = Messages();
        got.erase(got.begin());   // the move under the resting cursor
        EXPECT_EQ(got, c.expected) << c.name;
    }
    // A third quick click starts afresh.
    RunWithWindow(
        [] {
            sim::At(100, [] { sim::DoubleClick(0); });
            sim::At(200, [] { sim::Click(0); });
        },
        "Rec", CS_DBLCLKS, 1000);
    EXPECT_EQ(Messages(), (std::vector<UINT>{WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK,
                                             WM_LBUTTONUP, WM_LBUTTONDOWN, WM_LBUTTONUP}));
}

TEST(CoreInput, WheelAndKeysGoToTheFocusOrAsSystemKeysToTheActiveWindow) {
    RunWithWindow(
        [] {
            sim::At(10, [] {
                sim::Wheel(120);
                sim::Wheel(-120);
            });
            sim::At(20, [] {
                SetFocus(nullptr);
                sim::KeyPress('K');
            });
        },
        "Rec", 0, 50, {900, 700});
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[0].message, UINT(WM_MOUSEWHEEL));
    EXPECT_EQ(HIWORD(seen[0].wParam), 120);
    EXPECT_EQ(HIWORD(seen[1].wParam), 0xFF88);
    EXPECT_EQ(seen[2].message, UINT(WM_SYSKEYDOWN));
    EXPECT_EQ(seen[3].message, UINT(WM_SYSKEYUP));
    EXPECT_EQ(seen[2].wParam, WPARAM('K'));
}

TEST(CoreInput, CursorShapeAndVisibility) {
    coretest::NewWorld();
    coretest::Run([&] {
        EXPECT_FALSE(sim::CursorHidden());
        HCURSOR arrow = SetCursor(nullptr);
        EXPECT_NE(arrow, nullptr);
        EXPECT_TRUE(sim::CursorHidden());
        EXPECT_EQ(SetCursor(arrow), nullptr);
        EXPECT_FALSE(sim::CursorHidden());
        EXPECT_EQ(ShowCursor(FALSE), -1);
        EXPECT_TRUE(sim::CursorHidden());
        EXPECT_EQ(ShowCursor(TRUE), 0);
        EXPECT_FALSE(sim::CursorHidden());
        POINT p;
        EXPECT_TRUE(GetCursorPos(&p));
        EXPECT_EQ(p.x, 512);
        EXPECT_EQ(p.y, 384);
        ExitProcess(0);
    });
    EXPECT_EQ(coretest::CallTextsSince(0),
              (std::vector<std::string>{"SetCursor(null) = cursor:ARROW", "SetCursor(cursor:ARROW) = null",
                                        "ShowCursor(0) = -1", "ShowCursor(1) = 0", "GetCursorPos() = 1 {512, 384}",
                                        "ExitProcess(0)"}));
}

TEST(CoreInput, AWindowAppearingUnderTheRestingCursorGetsAMove) {
    sim::Config config;
    config.cursor = {50, 50};
    coretest::NewWorld(config);
    coretest::Run([&] {
        coretest::RegisterRecordingClass("Rec");
        MakeWindow("Rec", WS_POPUP | WS_VISIBLE, 200, 200, 100, 100);           // elsewhere: w1
        HWND under = MakeWindow("Rec", WS_POPUP, 0, 0, 100, 100);               // hidden: w2
        HWND child = MakeWindow("Rec", WS_CHILD | WS_VISIBLE, 40, 40, 20, 20, under);   // w3
        size_t mark = coretest::LogMark();
        ShowWindow(under, SW_SHOW);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        std::vector<coretest::Msg> moves;
        for (const coretest::Msg &m : coretest::MessagesSince(mark))
            if (m.message == WM_MOUSEMOVE) moves.push_back(m);
        // The child is the window under the cursor.
        EXPECT_TRUE(coretest::SameMessages({Posted("w3", WM_MOUSEMOVE)}, moves));
        EXPECT_TRUE(IsWindowVisible(child));
        ExitProcess(0);
    });
}

}  // namespace
