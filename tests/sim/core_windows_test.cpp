// Window classes and windows: the messages of creation (also failed
// creation) and destruction held against Windows' orders, geometry of
// popups, framed windows and children, lookup, parents and titles.
#include "core_support.h"
#include "sim_internal.h"

#include <gtest/gtest.h>

namespace {

using coretest::Posted;
using coretest::Sent;

const DWORD kPopup = WS_POPUP | WS_VISIBLE;

HWND MakeWindow(DWORD exStyle, const char *title, DWORD style, int x, int y, int w, int h, HWND parent = nullptr,
                int id = 0) {
    return CreateWindowExA(exStyle, "Rec", title, style, x, y, w, h, parent,
                           reinterpret_cast<HMENU>(intptr_t(id)), sim::ProgramInstance(), nullptr);
}

// CreateWindowExA of a visible topmost popup while nothing has the foreground.
const std::vector<coretest::Msg> kCreateVisiblePopup = {
    Sent("w1", WM_NCCREATE),
    Sent("w1", WM_NCCALCSIZE),
    Sent("w1", WM_CREATE),
    Sent("w1", WM_SIZE),
    Sent("w1", WM_MOVE),
    Sent("w1", WM_SHOWWINDOW, 1),
    Sent("w1", WM_WINDOWPOSCHANGING),
    Sent("w1", WM_ACTIVATEAPP, 1),
    Sent("w1", WM_NCACTIVATE, 1),
    Sent("w1", WM_ACTIVATE, WA_ACTIVE),
    Sent("w1", WM_SETFOCUS),
    Sent("w1", WM_NCPAINT),
    Sent("w1", WM_ERASEBKGND),
    Sent("w1", WM_WINDOWPOSCHANGED),
};

// The class brush erased the window while it was shown: the paint later
// comes without another WM_ERASEBKGND.
TEST(CoreCreate, VisiblePopupGetsCreationShowActivationThenMouseMoveAndPaint) {
    coretest::NewWorld();
    HWND hwnd = nullptr;
    size_t created = 0;
    sim::ProcessResult run = coretest::Run([&] {
        ASSERT_NE(coretest::RegisterRecordingClass("Rec", 0, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH))), 0);
        size_t mark = coretest::LogMark();
        hwnd = MakeWindow(WS_EX_TOPMOST, "Screen Saver", kPopup, 0, 0, 640, 480);
        EXPECT_TRUE(coretest::SameMessages(kCreateVisiblePopup, coretest::MessagesSince(mark)));
        created = coretest::LogMark();
        EXPECT_EQ(GetForegroundWindow(), hwnd);
        EXPECT_EQ(GetFocus(), hwnd);
        EXPECT_EQ(GetActiveWindow(), hwnd);
        // The cursor rests over the new window: a mouse move comes, then the paint.
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        ExitProcess(0);
    });
    EXPECT_TRUE(run.exited);
    EXPECT_TRUE(coretest::SameMessages(
        {Sent("w1", WM_NCHITTEST), Sent("w1", WM_SETCURSOR), Posted("w1", WM_MOUSEMOVE), Posted("w1", WM_PAINT)},
        coretest::MessagesSince(created)));
    EXPECT_EQ(sim::WindowTitle(hwnd), "Screen Saver");
    // The process is gone: its window went without messages.
    EXPECT_EQ(sim::Live().windows, 0);
    EXPECT_EQ(sim::Live().classes, 0);
}

TEST(CoreCreate, InvisibleWindowGetsNoShowUntilShowWindow) {
    coretest::NewWorld();
    coretest::Run([&] {
        coretest::RegisterRecordingClass("Rec");
        size_t mark = coretest::LogMark();
        HWND hwnd = MakeWindow(0, "Hidden", WS_POPUP, 0, 0, 50, 50);
        EXPECT_TRUE(coretest::SameMessages({Sent("w1", WM_NCCREATE), Sent("w1", WM_NCCALCSIZE),
                                            Sent("w1", WM_CREATE), Sent("w1", WM_SIZE), Sent("w1", WM_MOVE)},
                                           coretest::MessagesSince(mark)));
        EXPECT_FALSE(IsWindowVisible(hwnd));
        EXPECT_EQ(GetForegroundWindow(), nullptr);
        mark = coretest::LogMark();
        EXPECT_EQ(ShowWindow(hwnd, SW_SHOW), FALSE);
        std::vector<coretest::Msg> show(kCreateVisiblePopup.begin() + 5, kCreateVisiblePopup.end());
        EXPECT_TRUE(coretest::SameMessages(show, coretest::MessagesSince(mark)));
        EXPECT_NE(ShowWindow(hwnd, SW_SHOW), FALSE);   // it was visible
        ExitProcess(0);
    });
}

// Without a class brush the erase at the show fails: the paint is told to
// erase (fErase) and gets no second WM_ERASEBKGND.
TEST(CoreCreate, AWindowNotErasedWhenShownIsToldSoWhenPainted) {
    sim::Config config;
    config.cursor = {1000, 760};
    coretest::NewWorld(config);
    std::vector<BOOL> erase;
    coretest::SetHook([&](HWND hwnd, UINT message, WPARAM, LPARAM, LRESULT *result) {
        if (message != WM_PAINT) return false;
        PAINTSTRUCT ps;
        BeginPaint(hwnd, &ps);
        erase.push_back(ps.fErase);
        EndPaint(hwnd, &ps);
        *result = 0;
        return true;
    });
    coretest::Run([&] {
        coretest::RegisterRecordingClass("Rec");
        HWND hwnd = MakeWindow(0, "Bare", kPopup, 0, 0, 50, 50);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        InvalidateRect(hwnd, nullptr, FALSE);
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        ExitProcess(0);
    });
    int erases = 0;
    for (const sim::Event &e : sim::Log()) erases += e.kind == sim::EventKind::Sent && e.message == WM_ERASEBKGND;
    EXPECT_EQ(erases, 1);
    EXPECT_EQ(erase, (std::vector<BOOL>{TRUE, FALSE}));
}

TEST(CoreCreate, RefusedCreationSendsOnlyNcDestroy) {
    struct Case {
        UINT refuser;
        LRESULT answer;
        std::vector<coretest::Msg> expected;
    };
    const std::vector<Case> cases = {
        {WM_NCCREATE, FALSE, {Sent("w1", WM_NCCREATE), Sent("w1", WM_NCDESTROY)}},
        {WM_CREATE,
         -1,
         {Sent("w1", WM_NCCREATE), Sent("w1", WM_NCCALCSIZE), Sent("w1", WM_CREATE), Sent("w1", WM_NCDESTROY)}},
    };
    for (const Case &c : cases) {
        coretest::NewWorld();
        coretest::SetHook([&c](HWND, UINT message, WPARAM, LPARAM, LRESULT *result) {
            if (message != c.refuser) return false;
            *result = c.answer;
            return true;
        });
        coretest::Run([&] {
            coretest::RegisterRecordingClass("Rec");
            size_t mark = coretest::LogMark();
            HWND hwnd = MakeWindow(0, "Refused", kPopup, 0, 0, 50, 50);
            EXPECT_EQ(hwnd, nullptr) << sim::MessageName(c.refuser);
            EXPECT_TRUE(coretest::SameMessages(c.expected, coretest::MessagesSince(mark)))
                << sim::MessageName(c.refuser);
            EXPECT_FALSE(IsWindow(sim::WindowByIndex(1)));
            EXPECT_EQ(sim::Live().windows, 0);
            ExitProcess(0);
        });
    }
}

TEST(CoreCreate, ChildIsPlacedInItsParentsClientAreaAndNotifiesIt) {
    sim::Config config;
    config.cursor = {900, 700};
    coretest::NewWorld(config);
    coretest::Run([&] {
        coretest::RegisterRecordingClass("Rec");
        HWND parent = MakeWindow(0, "Parent", kPopup, 100, 50, 400, 300);
        size_t mark = coretest::LogMark();
        HWND child = MakeWindow(0, "Child", WS_CHILD | WS_VISIBLE | WS_BORDER, 10, 20, 100, 50, parent, 7);
        EXPECT_TRUE(coretest::SameMessages(
            {Sent("w2", WM_NCCREATE), Sent("w2", WM_NCCALCSIZE), Sent("w2", WM_CREATE), Sent("w2", WM_SIZE),
             Sent("w2", WM_MOVE), Sent("w1", 0x0210 /* WM_PARENTNOTIFY */, MAKELONG(WM_CREATE, 7)),
             // A child is not drawn as it appears: it waits for its paint.
             Sent("w2", WM_SHOWWINDOW, 1), Sent("w2", WM_WINDOWPOSCHANGING), Sent("w2", WM_WINDOWPOSCHANGED)},
            coretest::MessagesSince(mark)));
        const sim::Event *size = nullptr, *move = nullptr;
        for (size_t i = mark; i < sim::Log().size(); ++i) {
            if (sim::Log()[i].kind != sim::EventKind::Sent || sim::Log()[i].function != "w2") continue;
            if (sim::Log()[i].message == WM_SIZE) size = &sim::Log()[i];
            if (sim::Log()[i].message == WM_MOVE) move = &sim::Log()[i];
        }
        ASSERT_TRUE(size && move);
        EXPECT_EQ(size->lParam, MAKELPARAM(98, 48));   // the border takes a pixel on each side
        EXPECT_EQ(move->lParam, MAKELPARAM(11, 21));   // the client origin in the parent's client area
        RECT rect;
        ASSERT_TRUE(GetClientRect(child, &rect));
        EXPECT_EQ(rect.right, 98);
        EXPECT_EQ(rect.bottom, 48);
        ASSERT_TRUE(GetWindowRect(child, &rect));
        EXPECT_EQ(rect.left, 110);
        EXPECT_EQ(rect.top, 70);
        EXPECT_EQ(rect.right, 210);
        EXPECT_EQ(rect.bottom, 120);
        sim::detail::WindowGeometry g;
        ASSERT_TRUE(sim::detail::GetWindowGeometry(child, &g));
        EXPECT_EQ(g.topLevel, parent);
        EXPECT_EQ(g.clientLeft, 11);
        EXPECT_EQ(g.clientTop, 21);
        EXPECT_TRUE(g.visible);
        EXPECT_EQ(GetParent(child), parent);
        EXPECT_EQ(GetFocus(), parent);   // children are not activated
        ExitProcess(0);
    });
}

TEST(CoreCreate, FramesTakeFixedNonclientWidths) {
    struct Case {
        DWORD style;
        DWORD exStyle;
        int width, height;   // client size of a 200 x 100 window
    };
    const Case cases[] = {
        {WS_POPUP, 0, 200, 100},
        {WS_POPUP | WS_BORDER, 0, 198, 98},
        {WS_POPUP | WS_CAPTION | WS_SYSMENU, 0, 194, 75},
        {WS_POPUP | WS_CAPTION, WS_EX_DLGMODALFRAME, 194, 75},
        {WS_POPUP | WS_THICKFRAME, 0, 194, 94},
        {WS_OVERLAPPEDWINDOW, 0, 192, 73},
    };
    coretest::NewWorld();
    coretest::Run([&] {
        coretest::RegisterRecordingClass("Rec");
        for (const Case &c : cases) {
            HWND hwnd = MakeWindow(c.exStyle, "Framed", c.style, 10, 10, 200, 100);
            RECT rect;
            ASSERT_TRUE(GetClientRect(hwnd, &rect));
            EXPECT_EQ(rect.right, c.width) << std::hex << c.style;
            EXPECT_EQ(rect.bottom, c.height) << std::hex << c.style;
            DestroyWindow(hwnd);
        }
        ExitProcess(0);
    });
}

// DestroyWindow of the active popup with a child and a timer.
TEST(CoreDestroy, ParentThenChildrenDestroyedChildrenFirstNcDestroyed) {
    coretest::NewWorld();
    coretest::Run([&] {
        coretest::RegisterRecordingClass("Rec");
        HWND parent = MakeWindow(0, "Parent", kPopup, 0, 0, 300, 200);
        HWND child = MakeWindow(0, "Child", WS_CHILD | WS_VISIBLE, 0, 0, 30, 20, parent, 1);
        MakeWindow(0, "Grandchild", WS_CHILD, 0, 0, 10, 10, child, 2);
        ASSERT_NE(SetTimer(child, 5, 100, nullptr), 0u);
        ASSERT_NE(SetTimer(parent, 6, 100, nullptr), 0u);
        PostMessageA(child, WM_USER, 0, 0);
        EXPECT_EQ(sim::Live().timers, 2);
        size_t mark = coretest::LogMark();
        EXPECT_TRUE(DestroyWindow(parent));
        EXPECT_TRUE(coretest::SameMessages(
            {Sent("w1", WM_WINDOWPOSCHANGING), Sent("w1", WM_WINDOWPOSCHANGED), Sent("w1", WM_NCACTIVATE, 0),
             Sent("w1", WM_ACTIVATE, WA_INACTIVE), Sent("w1", WM_ACTIVATEAPP, 0), Sent("w1", WM_KILLFOCUS),
             Sent("w1", WM_DESTROY), Sent("w2", WM_DESTROY), Sent("w3", WM_DESTROY), Sent("w3", WM_NCDESTROY),
             Sent("w2", WM_NCDESTROY), Sent("w1", WM_NCDESTROY)},
            coretest::MessagesSince(mark)));
        EXPECT_FALSE(IsWindow(child));
        EXPECT_EQ(sim::Live().windows, 0);
        EXPECT_EQ(sim::Live().timers, 0);
        EXPECT_EQ(GetForegroundWindow(), nullptr);
        EXPECT_EQ(GetFocus(), nullptr);
        MSG msg;
        EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));   // the posted message went too
        EXPECT_FALSE(DestroyWindow(parent));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_WINDOW_HANDLE));
        ExitProcess(0);
    });
}

// As Wine does it: the focus inside a hidden child is lost without a message,
// and the parent erases what the child covered at once.
TEST(CoreDestroy, AFocusedChildGoesWithItsFocusAndItsParentErases) {
    coretest::NewWorld();
    coretest::Run([&] {
        coretest::RegisterRecordingClass("Rec");
        HWND parent = MakeWindow(0, "Parent", kPopup, 0, 0, 300, 200);
        HWND child = MakeWindow(0, "Child", WS_CHILD | WS_VISIBLE, 0, 0, 30, 20, parent, 1);
        EXPECT_EQ(SetFocus(child), parent);
        size_t mark = coretest::LogMark();
        DestroyWindow(child);
        EXPECT_TRUE(coretest::SameMessages(
            {Sent("w1", 0x0210 /* WM_PARENTNOTIFY */, MAKELONG(WM_DESTROY, 1)), Sent("w2", WM_SHOWWINDOW, 0),
             Sent("w2", WM_WINDOWPOSCHANGING), Sent("w1", WM_ERASEBKGND), Sent("w2", WM_WINDOWPOSCHANGED),
             Sent("w2", WM_DESTROY), Sent("w2", WM_NCDESTROY)},
            coretest::MessagesSince(mark)));
        EXPECT_EQ(GetFocus(), nullptr);
        EXPECT_EQ(GetActiveWindow(), parent);
        ExitProcess(0);
    });
}

TEST(CoreDestroy, WindowsOfOtherProcessesCannotBeDestroyedByTheProgram) {
    coretest::NewWorld();
    HWND outside = sim::CreateOutsideWindow("Display Properties", 400, 300);
    coretest::Run([&] {
        EXPECT_FALSE(DestroyWindow(outside));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
        EXPECT_TRUE(IsWindow(outside));
        ExitProcess(0);
    });
    EXPECT_TRUE(sim::Live().windows == 0);
    EXPECT_TRUE(sim::IsOutsideWindow(outside));
}

TEST(CoreClasses, NamesCompareWithoutCaseAndDuplicatesFail) {
    coretest::NewWorld();
    coretest::Run([&] {
        EXPECT_NE(coretest::RegisterRecordingClass("WindowsScreenSaverClass"), 0);
        SetLastError(0);
        EXPECT_EQ(coretest::RegisterRecordingClass("WINDOWSSCREENSAVERCLASS"), 0);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_CLASS_ALREADY_EXISTS));
        HWND hwnd = CreateWindowExA(0, "windowsscreensaverclass", "x", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                    sim::ProgramInstance(), nullptr);
        EXPECT_NE(hwnd, nullptr);
        EXPECT_EQ(sim::WindowClass(hwnd), "WindowsScreenSaverClass");
        EXPECT_EQ(CreateWindowExA(0, "NoSuchClass", "x", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                  sim::ProgramInstance(), nullptr),
                  nullptr);
        // A class with windows cannot go; without them it can.
        EXPECT_FALSE(UnregisterClassA("WindowsScreenSaverClass", sim::ProgramInstance()));
        DestroyWindow(hwnd);
        EXPECT_TRUE(UnregisterClassA("WindowsScreenSaverClass", sim::ProgramInstance()));
        EXPECT_EQ(sim::Live().classes, 0);
        ExitProcess(0);
    });
}

TEST(CoreLookup, FindWindowSeesTopLevelWindowsOfEveryProcessWithoutCase) {
    coretest::NewWorld();
    HWND other = sim::CreateOutsideWindowOfClass("WindowsScreenSaverClass", "Screen Saver", 100, 100);
    coretest::Run([&] {
        EXPECT_EQ(FindWindowA("WindowsScreenSaverClass", "Screen Saver"), other);
        EXPECT_EQ(FindWindowA("windowsscreensaverclass", "SCREEN SAVER"), other);
        EXPECT_EQ(FindWindowA("WindowsScreenSaverClass", "Preview"), nullptr);
        coretest::RegisterRecordingClass("Rec");
        HWND mine = MakeWindow(0, "Mine", kPopup, 0, 0, 10, 10);
        MakeWindow(0, "Child", WS_CHILD, 0, 0, 5, 5, mine, 3);
        EXPECT_EQ(FindWindowA(nullptr, "mine"), mine);
        EXPECT_EQ(FindWindowA(nullptr, "Child"), nullptr);   // only top-level windows
        EXPECT_EQ(FindWindowA("rec", nullptr), mine);
        EXPECT_EQ(FindWindowA(nullptr, nullptr), mine);       // the top of the z-order
        ExitProcess(0);
    });
}

TEST(CoreLookup, ParentOwnerAndNone) {
    coretest::NewWorld();
    coretest::Run([&] {
        coretest::RegisterRecordingClass("Rec");
        HWND top = MakeWindow(0, "Top", WS_POPUP, 0, 0, 10, 10);
        HWND child = MakeWindow(0, "Child", WS_CHILD, 0, 0, 5, 5, top, 1);
        HWND ownedPopup = MakeWindow(0, "Owned", WS_POPUP, 0, 0, 5, 5, child);
        HWND ownedOverlapped = MakeWindow(0, "Owned2", WS_OVERLAPPED, 0, 0, 5, 5, top);
        EXPECT_EQ(GetParent(top), nullptr);
        EXPECT_EQ(GetParent(child), top);
        EXPECT_EQ(GetParent(ownedPopup), top);   // the owner is the top-level ancestor
        EXPECT_EQ(GetParent(ownedOverlapped), nullptr);
        EXPECT_EQ(GetParent(reinterpret_cast<HWND>(uintptr_t(12345))), nullptr);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_WINDOW_HANDLE));
        EXPECT_TRUE(IsWindow(top));
        EXPECT_FALSE(IsWindow(nullptr));
        EXPECT_FALSE(IsWindow(reinterpret_cast<HWND>(uintptr_t(0x10021))));
        ExitProcess(0);
    });
}

TEST(CoreTitles, TitleComesFromDefWindowProcAndTheProcedureMayRefuseChanges) {
    coretest::NewWorld();
    bool refuse = false, skipNcCreate = false;
    coretest::SetHook([&](HWND, UINT message, WPARAM, LPARAM, LRESULT *result) {
        if ((message == WM_SETTEXT && refuse) || (message == WM_NCCREATE && skipNcCreate)) {
            *result = message == WM_NCCREATE ? TRUE : 0;
            return true;
        }
        return false;
    });
    coretest::Run([&] {
        coretest::RegisterRecordingClass("Rec");
        HWND hwnd = MakeWindow(0, "Screen Saver", WS_POPUP, 0, 0, 10, 10);
        char buffer[8];
        EXPECT_EQ(GetWindowTextA(hwnd, buffer, sizeof buffer), 7);   // at most size - 1
        EXPECT_STREQ(buffer, "Screen ");
        refuse = true;
        EXPECT_FALSE(SetWindowTextA(hwnd, "Other"));
        EXPECT_EQ(sim::WindowTitle(hwnd), "Screen Saver");
        refuse = false;
        EXPECT_TRUE(SetWindowTextA(hwnd, "Other"));
        EXPECT_EQ(sim::WindowTitle(hwnd), "Other");
        // A procedure that answers WM_NCCREATE itself leaves the title empty.
        skipNcCreate = true;
        HWND bare = MakeWindow(0, "Preview", WS_POPUP, 0, 0, 10, 10);
        EXPECT_EQ(sim::WindowTitle(bare), "");
        EXPECT_EQ(FindWindowA("Rec", "Preview"), nullptr);
        ExitProcess(0);
    });
}

TEST(CoreProcess, WindowsLeftAtTheEndGoSilentlyAndClassesWithThem) {
    coretest::NewWorld();
    sim::ProcessResult run = coretest::Run([&] {
        coretest::RegisterRecordingClass("Rec");
        HWND hwnd = MakeWindow(0, "Left", kPopup, 0, 0, 10, 10);
        SetTimer(hwnd, 1, 100, nullptr);
        ExitProcess(3);
    });
    EXPECT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 3u);
    for (const sim::Event &e : sim::Log()) EXPECT_NE(e.message, UINT(WM_DESTROY)) << sim::FormatEvent(e);
    EXPECT_TRUE(sim::Live() == sim::LiveCounts());
    EXPECT_EQ(sim::LiveWindows().size(), 0u);
    // A second process of the program registers the class again.
    run = coretest::Run([&] {
        EXPECT_NE(coretest::RegisterRecordingClass("Rec"), 0);
        EXPECT_EQ(FindWindowA("Rec", nullptr), nullptr);
    });
    EXPECT_TRUE(run.returned);
}

}  // namespace
