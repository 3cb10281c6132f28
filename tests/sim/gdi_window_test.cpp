// Drawing into windows: window DCs clipped to the client area (and a child's
// to its parent's), framebuffers per top-level window, the composed screen,
// and the life of a window DC. The system paints new windows with DCs of its
// own, so DC names are taken from the handles rather than counted here.
#include "sim_internal.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

LRESULT TestProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

// Pixels of an image's rectangle, row by row.
std::vector<uint32_t> Region(const sim::Image &image, int left, int top, int width, int height) {
    std::vector<uint32_t> pixels;
    for (int y = top; y < top + height; ++y)
        for (int x = left; x < left + width; ++x) pixels.push_back(image.at(x, y));
    return pixels;
}

size_t CountColour(const sim::Image &image, uint32_t colour) {
    size_t n = 0;
    for (uint32_t p : image.pixels) n += p == colour;
    return n;
}

class GdiWindows : public ::testing::Test {
protected:
    void SetUp() override {
        sim::Config config;
        config.screenWidth = 200;
        config.screenHeight = 100;
        sim::Reset(config);
        sim::Image picture;
        picture.width = 3;
        picture.height = 5;
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 3; ++x) picture.pixels.push_back(uint32_t(0x100000 * (x + 1) + 0x100 * (y + 1)));
        sim::InstallTestBitmap("pic", picture);
        WNDCLASSA wc{};
        wc.lpfnWndProc = TestProc;
        wc.hInstance = sim::ProgramInstance();
        wc.lpszClassName = "GdiTest";
        ASSERT_NE(0, RegisterClassA(&wc));
    }

    HWND Popup(int x, int y, int width, int height, DWORD visible = WS_VISIBLE) {
        HWND hwnd = CreateWindowExA(0, "GdiTest", "popup", WS_POPUP | visible, x, y, width, height, nullptr, nullptr,
                                    sim::ProgramInstance(), nullptr);
        EXPECT_NE(nullptr, hwnd);
        return hwnd;
    }

    HWND Child(HWND parent, int x, int y, int width, int height) {
        HWND hwnd = CreateWindowExA(0, "GdiTest", "child", WS_CHILD | WS_VISIBLE, x, y, width, height, parent,
                                    nullptr, sim::ProgramInstance(), nullptr);
        EXPECT_NE(nullptr, hwnd);
        return hwnd;
    }

    // Copies the 3 x 5 test picture to (x, y) of the window.
    void Paint(HWND hwnd, int x, int y) {
        HDC dc = GetDC(hwnd);
        HDC memory = CreateCompatibleDC(dc);
        HBITMAP picture = LoadBitmapA(sim::ProgramInstance(), "pic");
        HGDIOBJ old = SelectObject(memory, picture);
        EXPECT_EQ(TRUE, BitBlt(dc, x, y, 3, 5, memory, 0, 0, SRCCOPY));
        SelectObject(memory, old);
        DeleteDC(memory);
        ReleaseDC(hwnd, dc);
        DeleteObject(picture);
    }

    void Fill(HWND hwnd, RECT rect, int stock) {
        HDC dc = GetDC(hwnd);
        EXPECT_EQ(1, FillRect(dc, &rect, HBRUSH(GetStockObject(stock))));
        ReleaseDC(hwnd, dc);
    }
};

TEST_F(GdiWindows, WindowDcDrawsIntoTheClientAreaAndTheScreen) {
    HWND hwnd = Popup(10, 20, 100, 50);
    Fill(hwnd, RECT{0, 0, 100, 50}, BLACK_BRUSH);
    Fill(hwnd, RECT{1, 1, 3, 2}, WHITE_BRUSH);
    Paint(hwnd, 98, 47);  // runs over the right and bottom edges: 2 x 3 of it shows
    sim::Image client = sim::ClientPixels(hwnd);
    ASSERT_EQ(100, client.width);
    ASSERT_EQ(50, client.height);
    EXPECT_EQ((std::vector<uint32_t>{0, 0, 0, 0, 0xFFFFFF, 0xFFFFFF}), Region(client, 0, 0, 3, 2));
    EXPECT_EQ((std::vector<uint32_t>{0x100100, 0x200100, 0x100200, 0x200200, 0x100300, 0x200300}),
              Region(client, 98, 47, 2, 3));
    EXPECT_EQ(2u + 6u, client.pixels.size() - CountColour(client, 0));
    sim::Image screen = sim::Screen();
    ASSERT_EQ(200, screen.width);
    ASSERT_EQ(100, screen.height);
    EXPECT_EQ(0xFFFFFFu, screen.at(11, 21));
    EXPECT_EQ(0x100100u, screen.at(108, 67));
    EXPECT_EQ(0x200300u, screen.at(109, 69));
    EXPECT_EQ(0u, screen.at(110, 67)) << "outside the window: the desktop";
    EXPECT_EQ(8u, screen.pixels.size() - CountColour(screen, 0));
    EXPECT_TRUE(sim::Misuse().empty());
    EXPECT_EQ(0, sim::Live().windowDcs);
}

TEST_F(GdiWindows, CallsOfAPaintAreLoggedWithWindowAndDcNames) {
    HWND hwnd = Popup(0, 0, 40, 30);
    sim::ClearLog();
    HDC dc = GetDC(hwnd);
    RECT all{0, 0, 40, 30};
    FillRect(dc, &all, HBRUSH(GetStockObject(BLACK_BRUSH)));
    GetPixel(dc, 0, 0);
    ReleaseDC(hwnd, dc);
    std::vector<std::string> texts;
    for (const sim::Event &e : sim::Log())
        if (e.kind == sim::EventKind::Call) texts.push_back(e.text);
    const std::string d = sim::detail::Name(dc);
    EXPECT_EQ('d', d[0]);
    const std::vector<std::string> expected = {
        "GetDC(" + sim::WindowName(hwnd) + ") = " + d,
        "GetStockObject(BLACK_BRUSH) = brush:BLACK",
        "FillRect(" + d + ", {0, 0, 40, 30}, brush:BLACK) = 1",
        "GetPixel(" + d + ", 0, 0) = 0x000000",
        "ReleaseDC(" + sim::WindowName(hwnd) + ", " + d + ") = 1",
    };
    EXPECT_EQ(expected, texts);
}

TEST_F(GdiWindows, ChildDrawsAtItsOffsetClippedToItselfAndItsParent) {
    HWND parent = Popup(0, 0, 100, 50);
    HWND child = Child(parent, 90, 40, 30, 30);  // only 10 x 10 of it lies inside the parent
    Fill(child, RECT{-5, -5, 100, 100}, WHITE_BRUSH);
    sim::Image client = sim::ClientPixels(parent);
    EXPECT_EQ(100u, client.pixels.size() - CountColour(client, 0));
    EXPECT_EQ(0xFFFFFFu, client.at(90, 40));
    EXPECT_EQ(0xFFFFFFu, client.at(99, 49));
    EXPECT_EQ(0u, client.at(89, 40));
    EXPECT_EQ(0u, client.at(90, 39));
    // The child's own pixels, seen through its client area.
    sim::Image own = sim::ClientPixels(child);
    EXPECT_EQ(30, own.width);
    EXPECT_EQ(0xFFFFFFu, own.at(0, 0));
    EXPECT_EQ(0u, own.at(10, 0)) << "beyond the parent: never drawn";
    // GetPixel through the child's DC answers inside its visible part only.
    HDC dc = GetDC(child);
    EXPECT_EQ(RGB(255, 255, 255), GetPixel(dc, 9, 9));
    EXPECT_EQ(COLORREF(0xFFFFFFFF), GetPixel(dc, 10, 9));
    ReleaseDC(child, dc);
}

TEST_F(GdiWindows, SmallChildOfAGrandparent) {
    HWND top = Popup(0, 0, 100, 50);
    HWND middle = Child(top, 10, 10, 20, 20);
    HWND inner = Child(middle, 15, 15, 20, 20);  // 5 x 5 inside the middle window
    Fill(inner, RECT{0, 0, 20, 20}, WHITE_BRUSH);
    sim::Image client = sim::ClientPixels(top);
    EXPECT_EQ(25u, client.pixels.size() - CountColour(client, 0));
    EXPECT_EQ(0xFFFFFFu, client.at(25, 25));
    EXPECT_EQ(0xFFFFFFu, client.at(29, 29));
    EXPECT_EQ(0u, client.at(30, 29));
}

TEST_F(GdiWindows, HiddenWindowDrawsNothing) {
    HWND hwnd = Popup(0, 0, 20, 10, 0);
    Fill(hwnd, RECT{0, 0, 20, 10}, WHITE_BRUSH);
    Paint(hwnd, 0, 0);
    ShowWindow(hwnd, SW_SHOW);
    EXPECT_EQ(200u, CountColour(sim::ClientPixels(hwnd), 0)) << "what was drawn while hidden is lost";
    Fill(hwnd, RECT{0, 0, 20, 10}, WHITE_BRUSH);
    EXPECT_EQ(200u, CountColour(sim::ClientPixels(hwnd), 0xFFFFFF));
}

TEST_F(GdiWindows, ScreenComposesWindowsInZOrder) {
    HWND bottom = Popup(0, 0, 50, 50);
    HWND top = Popup(40, 40, 20, 20);
    Fill(bottom, RECT{0, 0, 50, 50}, WHITE_BRUSH);
    Fill(top, RECT{0, 0, 20, 20}, BLACK_BRUSH);
    sim::Image screen = sim::Screen();
    EXPECT_EQ(0xFFFFFFu, screen.at(39, 39));
    EXPECT_EQ(0u, screen.at(40, 40)) << "the later window lies on top";
    EXPECT_EQ(0u, screen.at(49, 49));
    EXPECT_EQ(size_t(50 * 50 - 100), CountColour(screen, 0xFFFFFF));
    // The bottom window keeps its own pixels under the top one.
    EXPECT_EQ(0xFFFFFFu, sim::ClientPixels(bottom).at(45, 45));
}

TEST_F(GdiWindows, ReleasingTwiceIsRefusedAndRecorded) {
    HWND hwnd = Popup(0, 0, 20, 10);
    HDC dc = GetDC(hwnd);
    HDC other = GetDC(hwnd);
    EXPECT_NE(dc, other) << "a new DC for every GetDC here";
    EXPECT_EQ(2, sim::Live().windowDcs);
    EXPECT_EQ(1, ReleaseDC(hwnd, dc));
    EXPECT_EQ(0, ReleaseDC(hwnd, dc));
    EXPECT_EQ(1, sim::Live().windowDcs);
    EXPECT_EQ(TRUE, DeleteDC(other)) << "Wine's answer, but the DC isn't freed";
    EXPECT_EQ(1, sim::Live().windowDcs);
    EXPECT_EQ(1, ReleaseDC(hwnd, other));
    EXPECT_EQ(0, sim::Live().windowDcs);
    const std::vector<std::string> expected = {
        "ReleaseDC of " + sim::detail::Name(dc) + ", released or deleted before",
        "DeleteDC of window DC " + sim::detail::Name(other) + " (use ReleaseDC)",
    };
    EXPECT_EQ(expected, sim::Misuse());
}

TEST_F(GdiWindows, BitmapsCantBeSelectedIntoAWindowDc) {
    HWND hwnd = Popup(0, 0, 20, 10);
    HDC dc = GetDC(hwnd);
    HBITMAP picture = LoadBitmapA(sim::ProgramInstance(), "pic");
    EXPECT_EQ(nullptr, SelectObject(dc, picture));
    ASSERT_EQ(1u, sim::Misuse().size());
    EXPECT_EQ("SelectObject of bitmap " + sim::detail::Name(HGDIOBJ(picture)) + " into window DC " +
                  sim::detail::Name(dc),
              sim::Misuse()[0]);
    ReleaseDC(hwnd, dc);
    DeleteObject(picture);
}

TEST_F(GdiWindows, DcOutlivingItsWindowDrawsNothingAndStillCounts) {
    HWND hwnd = Popup(0, 0, 20, 10);
    HDC dc = GetDC(hwnd);
    DestroyWindow(hwnd);
    RECT all{0, 0, 20, 10};
    EXPECT_EQ(1, FillRect(dc, &all, HBRUSH(GetStockObject(WHITE_BRUSH))));
    EXPECT_EQ(1, sim::Live().windowDcs) << "a DC never released stays counted";
    EXPECT_EQ(1, ReleaseDC(hwnd, dc));
    EXPECT_EQ(0, sim::Live().windowDcs);
    EXPECT_EQ(0u, CountColour(sim::Screen(), 0xFFFFFF));
}

TEST_F(GdiWindows, GetDcOfAnInvalidWindowFails) {
    SetLastError(0);
    EXPECT_EQ(nullptr, GetDC(reinterpret_cast<HWND>(uintptr_t(0x4321))));
    EXPECT_EQ(DWORD(ERROR_INVALID_WINDOW_HANDLE), GetLastError());
    EXPECT_EQ(0, sim::Live().windowDcs);
    sim::FailCall("GetDC", 2);  // the second GetDC of this world
    HWND hwnd = Popup(0, 0, 20, 10);
    EXPECT_EQ(nullptr, GetDC(hwnd));
    EXPECT_EQ(0, sim::Live().windowDcs);
}

TEST_F(GdiWindows, CopyFromAWindowIntoABitmapAndBack) {
    HWND hwnd = Popup(0, 0, 20, 10);
    Paint(hwnd, 5, 2);
    HDC dc = GetDC(hwnd);
    HDC memory = CreateCompatibleDC(dc);
    sim::Image blank;
    blank.width = 3;
    blank.height = 5;
    blank.pixels.assign(15, 0xABCDEF);
    sim::InstallTestBitmap("blank", blank);
    HBITMAP canvas = LoadBitmapA(sim::ProgramInstance(), "blank");
    HGDIOBJ old = SelectObject(memory, canvas);
    // Window to bitmap, then the bitmap to another place of the window.
    EXPECT_EQ(TRUE, BitBlt(memory, 0, 0, 3, 5, dc, 5, 2, SRCCOPY));
    EXPECT_EQ(TRUE, BitBlt(dc, 15, 5, 3, 5, memory, 0, 0, SRCCOPY));
    sim::Image client = sim::ClientPixels(hwnd);
    EXPECT_EQ(Region(client, 5, 2, 3, 5), Region(client, 15, 5, 3, 5));
    EXPECT_EQ(0x100100u, client.at(15, 5));
    // Reading past the client's right and bottom edges copies only what is
    // there; the rest of the bitmap keeps its pixels.
    EXPECT_TRUE(sim::Misuse().empty());
    EXPECT_EQ(TRUE, BitBlt(memory, 0, 0, 3, 5, dc, 18, 8, SRCCOPY));
    EXPECT_EQ(RGB(0, 0, 0), GetPixel(memory, 0, 0));
    EXPECT_EQ(RGB(0, 0, 0), GetPixel(memory, 1, 1));
    EXPECT_EQ(RGB(0x30, 0x01, 0x00), GetPixel(memory, 2, 0));
    EXPECT_EQ(RGB(0x10, 0x03, 0x00), GetPixel(memory, 0, 2));
    ASSERT_EQ(1u, sim::Misuse().size());
    EXPECT_EQ("BitBlt read outside source: " + sim::detail::Name(dc) + " rect {18, 8, 21, 13} of 20x10",
              sim::Misuse()[0]);
    SelectObject(memory, old);
    DeleteDC(memory);
    ReleaseDC(hwnd, dc);
    DeleteObject(canvas);
}

}  // namespace
