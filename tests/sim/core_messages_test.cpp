// The message queue and the clock: retrieval order and filters, WM_QUIT,
// nested sending, translation, timers (order, replacement, clamping, late
// timers, timer procedures), the tick count's wrap, Sleep, and the ways a
// waiting program ends as hung.
#include "core_support.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

using coretest::Sent;

HWND MakeWindow(DWORD style, int x, int y, int w, int h, HWND parent = nullptr) {
    return CreateWindowExA(0, "Rec", "Window", style, x, y, w, h, parent, nullptr, sim::ProgramInstance(),
                           nullptr);
}

sim::Config FarCursor() {
    sim::Config config;
    config.cursor = {1000, 760};   // under none of the test's windows
    return config;
}

TEST(CoreQueue, PostedThenQuitThenInputThenPaintThenTimer) {
    coretest::NewWorld(FarCursor());
    std::vector<UINT> order;
    std::vector<WPARAM> quitCodes;
    coretest::Run([&] {
        coretest::RegisterRecordingClass("Rec");
        HWND hwnd = MakeWindow(WS_POPUP | WS_VISIBLE, 0, 0, 100, 100);
        SetTimer(hwnd, 1, 10, nullptr);
        Sleep(20);
        sim::KeyDown('A');                  // input (injected as the hardware would)
        PostQuitMessage(3);
        PostMessageA(hwnd, WM_USER, 0, 0);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            order.push_back(msg.message);
            if (msg.message == WM_QUIT) quitCodes.push_back(msg.wParam);
            DispatchMessageA(&msg);         // validates the paint (DefWindowProcA)
        }
        ExitProcess(0);
    });
    EXPECT_EQ(order, (std::vector<UINT>{WM_USER, WM_QUIT, WM_KEYDOWN, WM_PAINT, WM_TIMER}));
    EXPECT_EQ(quitCodes, std::vector<WPARAM>{3});
}

TEST(CoreQueue, WindowFilterTakesDescendantsAndRangesSkipTheRest) {
    coretest::NewWorld(FarCursor());
    coretest::Run([&] {
        coretest::RegisterRecordingClass("Rec");
        HWND parent = MakeWindow(WS_POPUP, 0, 0, 100, 100);
        HWND child = MakeWindow(WS_CHILD, 0, 0, 10, 10, parent);
        HWND other = MakeWindow(WS_POPUP, 0, 0, 100, 100);
        PostMessageA(other, WM_USER + 1, 0, 0);
        PostMessageA(child, WM_USER + 2, 0, 0);
        PostMessageA(nullptr, WM_USER + 3, 0, 0);   // a thread message
        MSG msg;
        ASSERT_TRUE(PeekMessageA(&msg, parent, 0, 0, PM_REMOVE));
        EXPECT_EQ(msg.hwnd, child);
        EXPECT_EQ(msg.message, UINT(WM_USER + 2));
        EXPECT_FALSE(PeekMessageA(&msg, parent, 0, 0, PM_REMOVE));
        ASSERT_TRUE(PeekMessageA(&msg, reinterpret_cast<HWND>(-1), 0, 0, PM_NOREMOVE));
        EXPECT_EQ(msg.message, UINT(WM_USER + 3));
        EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE));
        ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_USER + 3, WM_USER + 3, PM_REMOVE));
        EXPECT_EQ(msg.hwnd, nullptr);
        ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE | PM_NOYIELD));
        EXPECT_EQ(msg.hwnd, other);
        // A filter that is no window is an error.
        EXPECT_EQ(GetMessageA(&msg, reinterpret_cast<HWND>(uintptr_t(0x7777)), 0, 0), -1);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_WINDOW_HANDLE));
        ExitProcess(0);
    });
}

TEST(CoreQueue, GetMessageReturnsZeroForQuitWithItsCode) {
    coretest::NewWorld(FarCursor());
    sim::At(500, [] { PostQuitMessage(9); });
    sim::ProcessResult run = coretest::Run([&] {
        MSG msg;
        EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), 0);
        EXPECT_EQ(msg.message, UINT(WM_QUIT));
        EXPECT_EQ(msg.wParam, 9u);
        EXPECT_EQ(sim::Elapsed(), 500u);   // the clock jumped to the action
        ExitProcess(UINT(msg.wParam));
    });
    EXPECT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 9u);
}

TEST(CoreQueue, SentMessagesNestOnTheOneThread) {
    coretest::NewWorld(FarCursor());
    coretest::SetHook([](HWND hwnd, UINT message, WPARAM, LPARAM, LRESULT *result) {
        if (message == WM_USER) {
            *result = SendMessageA(hwnd, WM_USER + 1, 0, 0) + 1;
            return true;
        }
        if (message == WM_USER + 1) {
            *result = 41;
            return true;
        }
        return false;
    });
    coretest::Run([&] {
        coretest::RegisterRecordingClass("Rec");
        HWND hwnd = MakeWindow(WS_POPUP, 0, 0, 10, 10);
        size_t mark = coretest::LogMark();
        EXPECT_EQ(SendMessageA(hwnd, WM_USER, 0, 0), 42);
        std::vector<std::pair<int, std::string>> seen;
        for (size_t i = mark; i < sim::Log().size(); ++i) {
            const sim::Event &e = sim::Log()[i];
            seen.push_back({e.depth, sim::FormatEvent(e).substr(11)});
        }
        EXPECT_EQ(seen, (std::vector<std::pair<int, std::string>>{
                            {0, "SendMessageA(w1, 0x0400, 0x0, 0x0) = 42"},
                            {0, "sent w1 0x0400(0x0, 0x0)"},
                            {1, "  SendMessageA(w1, 0x0401, 0x0, 0x0) = 41"},
                            {1, "  sent w1 0x0401(0x0, 0x0)"},
                            {1, "    w1 0x0401 = 41"},
                            {0, "  w1 0x0400 = 42"},
                        }));
        ExitProcess(0);
    });
}

TEST(CoreQueue, TranslateMessageMakesCharactersWithTheShiftState) {
    coretest::NewWorld(FarCursor());
    std::string typed;
    std::vector<LPARAM> keyParams;
    sim::At(10, [] {
        sim::TypeText("aB1!");
        sim::KeyPress(VK_ESCAPE);
        sim::KeyPress(VK_F1);   // no character
    });
    sim::At(20, [] { PostQuitMessage(0); });
    coretest::SetHook([&](HWND, UINT message, WPARAM wParam, LPARAM lParam, LRESULT *) {
        if (message == WM_CHAR) typed += char(wParam);
        if ((message == WM_KEYDOWN || message == WM_KEYUP) && wParam == VK_ESCAPE) keyParams.push_back(lParam);
        return false;
    });
    coretest::Run([&] {
        coretest::RegisterRecordingClass("Rec");
        MakeWindow(WS_POPUP | WS_VISIBLE, 0, 0, 10, 10);
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
            BOOL translated = TranslateMessage(&msg);
            bool keyMessage = msg.message >= WM_KEYDOWN && msg.message <= 0x0109;   // WM_KEYLAST
            EXPECT_EQ(translated != FALSE, keyMessage) << sim::MessageName(msg.message);
            DispatchMessageA(&msg);
        }
        ExitProcess(0);
    });
    EXPECT_EQ(typed, "aB1!\x1b");
    // Repeat count 1 and the scan code; the release has the previous-state and transition bits.
    EXPECT_EQ(keyParams, (std::vector<LPARAM>{0x00010001, LPARAM(0xC0010001u)}));
}

TEST(CoreTimers, FireAtStartPlusElapseInDueOrder) {
    coretest::NewWorld(FarCursor());
    std::vector<std::pair<uint64_t, WPARAM>> fired;
    coretest::Run([&] {
        coretest::RegisterRecordingClass("Rec");
        HWND hwnd = MakeWindow(WS_POPUP, 0, 0, 10, 10);
        EXPECT_EQ(SetTimer(hwnd, 1, 100, nullptr), 1u);
        EXPECT_EQ(SetTimer(hwnd, 2, 30, nullptr), 2u);
        EXPECT_EQ(SetTimer(hwnd, 3, 1, nullptr), 3u);   // the minimum is 10 ms
        MSG msg;
        while (fired.size() < 9 && GetMessageA(&msg, nullptr, 0, 0) > 0) {
            if (msg.message != WM_TIMER) continue;
            fired.push_back({sim::Elapsed(), msg.wParam});
            if (msg.wParam == 3) KillTimer(hwnd, 3);
        }
        ExitProcess(0);
    });
    EXPECT_EQ(fired, (std::vector<std::pair<uint64_t, WPARAM>>{
                         {10, 3}, {30, 2}, {60, 2}, {90, 2}, {100, 1}, {120, 2}, {150, 2}, {180, 2}, {200, 1}}));
}

TEST(CoreTimers, ResetByASecondSetTimerAndLateTimersDoNotPileUp) {
    coretest::NewWorld(FarCursor());
    std::vector<uint64_t> fired;
    coretest::Run([&] {
        coretest::RegisterRecordingClass("Rec");
        HWND hwnd = MakeWindow(WS_POPUP, 0, 0, 10, 10);
        SetTimer(hwnd, 1, 100, nullptr);
        Sleep(50);
        SetTimer(hwnd, 1, 100, nullptr);   // replaces the first: due at 150
        MSG msg;
        GetMessageA(&msg, nullptr, 0, 0);
        fired.push_back(sim::Elapsed());
        Sleep(330);                          // 480: two periods missed
        GetMessageA(&msg, nullptr, 0, 0);
        fired.push_back(sim::Elapsed());
        GetMessageA(&msg, nullptr, 0, 0);   // next on the old grid
        fired.push_back(sim::Elapsed());
        EXPECT_FALSE(KillTimer(hwnd, 99));
        EXPECT_TRUE(KillTimer(hwnd, 1));
        EXPECT_EQ(sim::Live().timers, 0);
        ExitProcess(0);
    });
    EXPECT_EQ(fired, (std::vector<uint64_t>{150, 480, 550}));
}

TEST(CoreTimers, TimerProcedureGetsTheTimerInsteadOfTheWindow) {
    static std::vector<std::pair<UINT_PTR, DWORD>> calls;
    calls.clear();
    int windowTimers = 0;
    sim::Config config = FarCursor();
    config.startTick = 1000;
    coretest::NewWorld(config);
    coretest::SetHook([&](HWND, UINT message, WPARAM, LPARAM, LRESULT *) {
        if (message == WM_TIMER) ++windowTimers;
        return false;
    });
    coretest::Run([&] {
        coretest::RegisterRecordingClass("Rec");
        HWND hwnd = MakeWindow(WS_POPUP, 0, 0, 10, 10);
        SetTimer(hwnd, 4, 25, [](HWND, UINT, UINT_PTR id, DWORD tick) { calls.push_back({id, tick}); });
        MSG msg;
        for (int i = 0; i < 2; ++i) {
            GetMessageA(&msg, nullptr, 0, 0);
            DispatchMessageA(&msg);
        }
        ExitProcess(0);
    });
    EXPECT_EQ(calls, (std::vector<std::pair<UINT_PTR, DWORD>>{{4, 1025}, {4, 1050}}));
    EXPECT_EQ(windowTimers, 0);
}

TEST(CoreClock, TickCountWrapsAndSleepZeroKeepsTheClock) {
    sim::Config config = FarCursor();
    config.startTick = 0xFFFFFF00u;
    coretest::NewWorld(config);
    coretest::Run([&] {
        EXPECT_EQ(GetTickCount(), 0xFFFFFF00u);
        Sleep(0);
        EXPECT_EQ(GetTickCount(), 0xFFFFFF00u);
        Sleep(0x200);
        EXPECT_EQ(GetTickCount(), 0x100u);
        ExitProcess(0);
    });
    EXPECT_EQ(sim::Elapsed(), 0x200u);
    EXPECT_EQ(coretest::CallTextsSince(0),
              (std::vector<std::string>{"GetTickCount() = 4294967040", "Sleep(0)", "GetTickCount() = 4294967040",
                                        "Sleep(512)", "GetTickCount() = 256", "ExitProcess(0)"}));
}

TEST(CoreHang, WaitingWithNothingToComeOrPastTheBoundsEndsAsHung) {
    // Nothing can ever arrive.
    coretest::NewWorld(FarCursor());
    sim::ProcessResult run = coretest::Run([] {
        MSG msg;
        GetMessageA(&msg, nullptr, 0, 0);
        ADD_FAILURE() << "GetMessageA returned";
    });
    EXPECT_TRUE(run.hung);
    EXPECT_NE(run.hangReason.find("idle forever"), std::string::npos) << run.hangReason;

    // A timer outside the filter cannot end the wait either.
    coretest::NewWorld(FarCursor());
    run = coretest::Run([] {
        coretest::RegisterRecordingClass("Rec");
        HWND hwnd = MakeWindow(WS_POPUP, 0, 0, 10, 10);
        SetTimer(hwnd, 1, 10, nullptr);
        MSG msg;
        GetMessageA(&msg, nullptr, WM_USER, WM_USER);
    });
    EXPECT_TRUE(run.hung);

    // Too many messages.
    sim::Config config = FarCursor();
    config.maxMessages = 100;
    coretest::NewWorld(config);
    run = coretest::Run([] {
        coretest::RegisterRecordingClass("Rec");
        SetTimer(MakeWindow(WS_POPUP, 0, 0, 10, 10), 1, 10, nullptr);
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    });
    EXPECT_TRUE(run.hung);
    EXPECT_NE(run.hangReason.find("message limit"), std::string::npos) << run.hangReason;
    EXPECT_EQ(sim::Elapsed(), 1010u);   // the 101st timer message, 10 ms apart

    // Too much virtual time.
    config = FarCursor();
    config.maxVirtualMs = 5000;
    coretest::NewWorld(config);
    run = coretest::Run([] { Sleep(6000); });
    EXPECT_TRUE(run.hung);
    EXPECT_NE(run.hangReason.find("virtual time"), std::string::npos) << run.hangReason;
}

TEST(CoreClock, AnHourOfOneSecondTimersGivesOneTickEachWithoutALog) {
    sim::Config config = FarCursor();
    config.logging = false;
    coretest::NewWorld(config);
    int ticks = 0;
    sim::ProcessResult run = coretest::Run([&] {
        coretest::RegisterRecordingClass("Rec");
        SetTimer(MakeWindow(WS_POPUP, 0, 0, 10, 10), 1, 1000, nullptr);
        MSG msg;
        while (sim::Elapsed() < 3600u * 1000 && GetMessageA(&msg, nullptr, 0, 0) > 0) ++ticks;
        ExitProcess(0);
    });
    EXPECT_TRUE(run.exited);
    EXPECT_EQ(ticks, 3600);
    EXPECT_TRUE(sim::Log().empty());
}

}  // namespace
