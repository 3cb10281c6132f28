// GDI objects in memory device contexts: selection rules, deletion rules,
// live counts, BitBlt and FillRect pixels with clipping, and the misuse
// that Windows would refuse.
#include "sim_windows.h"
#include "simctl.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

sim::Image Picture(int width, int height, const std::vector<uint32_t> &pixels) {
    sim::Image image;
    image.width = width;
    image.height = height;
    image.pixels = pixels;
    return image;
}

// A width x height picture whose pixel (x, y) is 0x00XXYY01 + base.
sim::Image Numbered(int width, int height, uint32_t base) {
    sim::Image image;
    image.width = width;
    image.height = height;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) image.pixels.push_back(base + uint32_t(x << 16 | y << 8 | 1));
    return image;
}

uint32_t Rgb(COLORREF c) { return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF); }

// The pixels of the bitmap selected into dc, read back with GetPixel.
std::vector<uint32_t> PixelsOf(HDC dc, int width, int height) {
    std::vector<uint32_t> pixels;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) pixels.push_back(Rgb(GetPixel(dc, x, y)));
    return pixels;
}

std::vector<std::string> CallTexts() {
    std::vector<std::string> texts;
    for (const sim::Event &e : sim::Log())
        if (e.kind == sim::EventKind::Call) texts.push_back(e.text);
    return texts;
}

class GdiObjects : public ::testing::Test {
protected:
    void SetUp() override {
        sim::Reset();
        sim::InstallTestBitmap("t1x1", Picture(1, 1, {0x123456}));
        sim::InstallTestBitmap("t2x2", Picture(2, 2, {0x000001, 0x000002, 0x000003, 0x000004}));
        sim::InstallTestBitmap("t3x5", Numbered(3, 5, 0));
        sim::InstallTestBitmap("t4x1", Picture(4, 1, {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF}));
        sim::InstallTestBitmap("black6x4", Picture(6, 4, std::vector<uint32_t>(24, 0)));
        instance = sim::ProgramInstance();
    }
    HINSTANCE instance = nullptr;
};

// ---------------------------------------------------------------- selection and deletion

TEST_F(GdiObjects, PaintPictureSequenceIsLoggedAndLeavesNothingLive) {
    sim::ClearLog();
    HBITMAP picture = LoadBitmapA(instance, "T3X5");
    BITMAP info{};
    GetObjectA(picture, sizeof info, &info);
    HDC memory = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(memory, picture);
    SelectObject(memory, old);
    DeleteDC(memory);
    DeleteObject(picture);
    const std::vector<std::string> expected = {
        "LoadBitmapA(instance, \"T3X5\") = bm1",
        "GetObjectA(bm1, " + std::to_string(sizeof(BITMAP)) + ", ptr) = " + std::to_string(sizeof(BITMAP)),
        "CreateCompatibleDC(null) = dc1",
        "SelectObject(dc1, bm1) = bitmap:DEFAULT",
        "SelectObject(dc1, bitmap:DEFAULT) = bm1",
        "DeleteDC(dc1) = 1",
        "DeleteObject(bm1) = 1",
    };
    EXPECT_EQ(expected, CallTexts());
    EXPECT_TRUE(sim::Live() == sim::LiveCounts());
    EXPECT_TRUE(sim::Misuse().empty());
}

TEST_F(GdiObjects, NewMemoryDcHoldsTheOneByOneMonochromeBitmap) {
    HDC memory = CreateCompatibleDC(nullptr);
    HBITMAP picture = LoadBitmapA(instance, "t2x2");
    HGDIOBJ stock = SelectObject(memory, picture);
    ASSERT_NE(nullptr, stock);
    BITMAP info{};
    EXPECT_EQ(int(sizeof(BITMAP)), GetObjectA(stock, sizeof info, &info));
    EXPECT_EQ(1, info.bmWidth);
    EXPECT_EQ(1, info.bmHeight);
    EXPECT_EQ(1, info.bmBitsPixel);
    EXPECT_EQ(2, info.bmWidthBytes);
    EXPECT_EQ(1, info.bmPlanes);
    // The same stock bitmap is in every new memory DC, and can't be deleted.
    HDC second = CreateCompatibleDC(memory);
    HBITMAP other = LoadBitmapA(instance, "t1x1");
    EXPECT_EQ(stock, SelectObject(second, other));
    EXPECT_EQ(TRUE, DeleteObject(stock));
    EXPECT_EQ(picture, SelectObject(memory, stock));
    EXPECT_EQ(other, SelectObject(second, stock));
    EXPECT_EQ(TRUE, DeleteDC(memory));
    EXPECT_EQ(TRUE, DeleteDC(second));
    EXPECT_EQ(TRUE, DeleteObject(picture));
    EXPECT_EQ(TRUE, DeleteObject(other));
    EXPECT_TRUE(sim::Misuse().empty());
}

TEST_F(GdiObjects, GetObjectSizesAsWindowsAnswersThem) {
    HBITMAP picture = LoadBitmapA(instance, "t3x5");
    BITMAP info{};
    EXPECT_EQ(int(sizeof(BITMAP)), GetObjectA(picture, 0, nullptr));  // the size needed
    EXPECT_EQ(0, GetObjectA(picture, 0, &info));
    EXPECT_EQ(0, GetObjectA(picture, int(sizeof(BITMAP)) - 1, &info));
    EXPECT_EQ(0, info.bmWidth) << "a short buffer is left alone";
    EXPECT_EQ(int(sizeof(BITMAP)), GetObjectA(picture, int(sizeof(BITMAP)) + 16, &info));
    EXPECT_EQ(3, info.bmWidth);
    EXPECT_EQ(5, info.bmHeight);
    EXPECT_EQ(12, info.bmWidthBytes);
    EXPECT_EQ(32, info.bmBitsPixel);
    EXPECT_EQ(nullptr, info.bmBits);
    DeleteObject(picture);
    EXPECT_EQ(0, GetObjectA(picture, sizeof info, &info));
    EXPECT_EQ(DWORD(ERROR_INVALID_HANDLE), GetLastError());
}

TEST_F(GdiObjects, BitmapSelectedElsewhereCantBeSelectedAgain) {
    HDC a = CreateCompatibleDC(nullptr);
    HDC b = CreateCompatibleDC(nullptr);
    HBITMAP picture = LoadBitmapA(instance, "t2x2");
    HGDIOBJ stockA = SelectObject(a, picture);
    EXPECT_EQ(nullptr, SelectObject(b, picture));
    ASSERT_EQ(1u, sim::Misuse().size());
    EXPECT_EQ("SelectObject of bitmap bm1 already selected into dc1", sim::Misuse()[0]);
    // Selecting it again into its own DC is fine and returns it.
    EXPECT_EQ(picture, SelectObject(a, picture));
    SelectObject(a, stockA);
    EXPECT_NE(nullptr, SelectObject(b, picture)) << "free again once the first DC let it go";
    EXPECT_EQ(1u, sim::Misuse().size());
}

TEST_F(GdiObjects, DeletingASelectedBitmapFailsAndIsRecorded) {
    HDC memory = CreateCompatibleDC(nullptr);
    HBITMAP picture = LoadBitmapA(instance, "t2x2");
    HGDIOBJ old = SelectObject(memory, picture);
    EXPECT_EQ(FALSE, DeleteObject(picture));
    ASSERT_EQ(1u, sim::Misuse().size());
    EXPECT_EQ("DeleteObject of bm1 while selected into dc1", sim::Misuse()[0]);
    EXPECT_EQ(1, sim::Live().bitmaps);
    SelectObject(memory, old);
    EXPECT_EQ(TRUE, DeleteObject(picture));
    EXPECT_EQ(0, sim::Live().bitmaps);
    EXPECT_EQ(FALSE, DeleteObject(picture));
    EXPECT_EQ("DeleteObject of bm1, deleted before", sim::Misuse().back());
    DeleteDC(memory);
}

TEST_F(GdiObjects, DeletingADcWithABitmapSelectedIsAllowed) {
    HDC memory = CreateCompatibleDC(nullptr);
    HBITMAP picture = LoadBitmapA(instance, "t2x2");
    SelectObject(memory, picture);
    EXPECT_EQ(TRUE, DeleteDC(memory));
    EXPECT_TRUE(sim::Misuse().empty());
    sim::LiveCounts live = sim::Live();
    EXPECT_EQ(0, live.memoryDcs);
    EXPECT_EQ(1, live.bitmaps) << "the bitmap lives on until DeleteObject";
    EXPECT_EQ(TRUE, DeleteObject(picture));
    EXPECT_EQ(0, sim::Live().bitmaps);
    // Twice: refused and recorded.
    EXPECT_EQ(FALSE, DeleteDC(memory));
    ASSERT_EQ(1u, sim::Misuse().size());
    EXPECT_EQ("DeleteDC of an unknown or deleted DC dc1", sim::Misuse()[0]);
}

TEST_F(GdiObjects, StockObjectsAreFixedAndNeverLive) {
    HGDIOBJ black = GetStockObject(BLACK_BRUSH);
    EXPECT_EQ(black, GetStockObject(BLACK_BRUSH));
    EXPECT_NE(black, GetStockObject(WHITE_BRUSH));
    EXPECT_EQ(nullptr, GetStockObject(99));
    EXPECT_EQ(TRUE, DeleteObject(black));
    EXPECT_EQ(black, GetStockObject(BLACK_BRUSH));
    EXPECT_TRUE(sim::Live() == sim::LiveCounts());
    sim::ClearLog();
    GetStockObject(BLACK_BRUSH);
    DeleteObject(black);
    EXPECT_EQ((std::vector<std::string>{"GetStockObject(BLACK_BRUSH) = brush:BLACK", "DeleteObject(brush:BLACK) = 1"}),
              CallTexts());
}

TEST_F(GdiObjects, LiveCountsFollowCreationAndRelease) {
    HDC a = CreateCompatibleDC(nullptr);
    HDC b = CreateCompatibleDC(nullptr);
    HBITMAP p = LoadBitmapA(instance, "t1x1");
    HBITMAP q = LoadBitmapA(instance, "t1x1");
    sim::LiveCounts live = sim::Live();
    EXPECT_EQ(2, live.memoryDcs);
    EXPECT_EQ(2, live.bitmaps);
    EXPECT_EQ(0, live.windowDcs);
    EXPECT_EQ(0, live.brushes);
    DeleteDC(a);
    DeleteObject(p);
    live = sim::Live();
    EXPECT_EQ(1, live.memoryDcs);
    EXPECT_EQ(1, live.bitmaps);
    DeleteDC(b);
    DeleteObject(q);
    EXPECT_TRUE(sim::Live() == sim::LiveCounts());
}

TEST_F(GdiObjects, WrongUsesAreRefusedAndRecorded) {
    HDC memory = CreateCompatibleDC(nullptr);
    EXPECT_EQ(0, ReleaseDC(nullptr, memory));
    EXPECT_EQ(nullptr, SelectObject(memory, nullptr));
    HDC bogus = reinterpret_cast<HDC>(uintptr_t(0x12345));
    EXPECT_EQ(nullptr, CreateCompatibleDC(bogus));
    EXPECT_EQ(FALSE, BitBlt(memory, 0, 0, 1, 1, bogus, 0, 0, SRCCOPY));
    RECT r{0, 0, 1, 1};
    EXPECT_EQ(0, FillRect(bogus, &r, HBRUSH(GetStockObject(BLACK_BRUSH))));
    EXPECT_EQ(0, FillRect(memory, &r, reinterpret_cast<HBRUSH>(uintptr_t(0x777777))));
    const std::vector<std::string> expected = {
        "ReleaseDC of memory DC dc1",
        "SelectObject of a null object into dc1",
        "CreateCompatibleDC of an unknown DC 0x12345",
        "BitBlt with an unknown DC 0x12345",
        "FillRect on an unknown DC 0x12345",
        "FillRect with an unknown brush 0x777777",
    };
    EXPECT_EQ(expected, sim::Misuse());
    DeleteDC(memory);
}

TEST_F(GdiObjects, InjectedFailuresLookLikeWindowsFailures) {
    sim::FailCall("LoadBitmapA", 1);
    sim::FailCall("CreateCompatibleDC", 1);
    sim::FailCall("SelectObject", 1);
    sim::FailCall("DeleteDC", 1);
    EXPECT_EQ(nullptr, LoadBitmapA(instance, "t1x1"));
    HBITMAP picture = LoadBitmapA(instance, "t1x1");
    ASSERT_NE(nullptr, picture);
    EXPECT_EQ(nullptr, CreateCompatibleDC(nullptr));
    HDC memory = CreateCompatibleDC(nullptr);
    ASSERT_NE(nullptr, memory);
    EXPECT_EQ(nullptr, SelectObject(memory, picture));
    EXPECT_NE(nullptr, SelectObject(memory, picture));
    EXPECT_EQ(FALSE, DeleteDC(memory));
    EXPECT_EQ(1, sim::Live().memoryDcs) << "a failed DeleteDC leaves the DC";
    EXPECT_EQ(TRUE, DeleteDC(memory));
    EXPECT_EQ(TRUE, DeleteObject(picture));
    EXPECT_TRUE(sim::Misuse().empty());
}

TEST_F(GdiObjects, UnknownBitmapNamesAndForeignInstances) {
    SetLastError(0);
    EXPECT_EQ(nullptr, LoadBitmapA(instance, "nothing"));
    EXPECT_EQ(DWORD(ERROR_RESOURCE_NAME_NOT_FOUND), GetLastError());
    SetLastError(0);
    EXPECT_EQ(nullptr, LoadBitmapA(nullptr, "t1x1"));
    EXPECT_EQ(DWORD(ERROR_RESOURCE_NAME_NOT_FOUND), GetLastError());
    EXPECT_EQ(0, sim::Live().bitmaps);
}

// ---------------------------------------------------------------- pixels

TEST_F(GdiObjects, BitBltCopiesBetweenMemoryBitmaps) {
    HDC source = CreateCompatibleDC(nullptr);
    HDC target = CreateCompatibleDC(nullptr);
    HBITMAP picture = LoadBitmapA(instance, "t3x5");
    HBITMAP canvas = LoadBitmapA(instance, "black6x4");
    HGDIOBJ oldSource = SelectObject(source, picture);
    HGDIOBJ oldTarget = SelectObject(target, canvas);
    // Row 2 of the picture to (1, 1); then column 0 to (5, 0), which runs
    // past the bottom of the canvas and is cut there.
    EXPECT_EQ(TRUE, BitBlt(target, 1, 1, 3, 1, source, 0, 2, SRCCOPY));
    EXPECT_EQ(TRUE, BitBlt(target, 5, 0, 1, 5, source, 0, 0, SRCCOPY));
    const uint32_t o = 0;
    const std::vector<uint32_t> expected = {
        o, o,        o,        o,        o, 0x000001,
        o, 0x000201, 0x010201, 0x020201, o, 0x000101,
        o, o,        o,        o,        o, 0x000201,
        o, o,        o,        o,        o, 0x000301,
    };
    EXPECT_EQ(expected, PixelsOf(target, 6, 4));
    EXPECT_TRUE(sim::Misuse().empty());
    // The resource itself is not changed by drawing into a loaded copy.
    EXPECT_EQ(std::vector<uint32_t>(24, 0), sim::ResourceBitmap("black6x4").pixels);
    SelectObject(source, oldSource);
    SelectObject(target, oldTarget);
    DeleteDC(source);
    DeleteDC(target);
    DeleteObject(picture);
    DeleteObject(canvas);
}

TEST_F(GdiObjects, ReadingOutsideTheSourceCopiesOnlyWhatExistsAndIsRecorded) {
    HDC source = CreateCompatibleDC(nullptr);
    HDC target = CreateCompatibleDC(nullptr);
    HBITMAP picture = LoadBitmapA(instance, "t2x2");
    HBITMAP canvas = LoadBitmapA(instance, "black6x4");
    SelectObject(source, picture);
    SelectObject(target, canvas);
    FillRect(target, std::vector<RECT>{{0, 0, 6, 4}}.data(), HBRUSH(GetStockObject(WHITE_BRUSH)));
    // A 3 x 3 copy from (-1, 0): only the picture's 2 x 2 lands, at (1, 0).
    EXPECT_EQ(TRUE, BitBlt(target, 0, 0, 3, 3, source, -1, 0, SRCCOPY));
    const uint32_t w = 0xFFFFFF;
    const std::vector<uint32_t> expected = {
        w, 0x000001, 0x000002, w, w, w,
        w, 0x000003, 0x000004, w, w, w,
        w, w,        w,        w, w, w,
        w, w,        w,        w, w, w,
    };
    EXPECT_EQ(expected, PixelsOf(target, 6, 4));
    ASSERT_EQ(1u, sim::Misuse().size());
    EXPECT_EQ("BitBlt read outside source: dc1 rect {-1, 0, 2, 3} of 2x2", sim::Misuse()[0]);
}

TEST_F(GdiObjects, FillRectClipsAndOrdersTheRectangle) {
    HDC memory = CreateCompatibleDC(nullptr);
    HBITMAP canvas = LoadBitmapA(instance, "black6x4");
    SelectObject(memory, canvas);
    HBRUSH white = HBRUSH(GetStockObject(WHITE_BRUSH));
    // Inverted: turned round its far edge, columns 3 and 4 of rows 1 and 2 (Wine).
    RECT inverted{4, 2, 2, 0};
    EXPECT_EQ(1, FillRect(memory, &inverted, white));
    RECT outside{5, 3, 100, 100};
    EXPECT_EQ(1, FillRect(memory, &outside, white));
    RECT empty{1, 1, 1, 3};
    EXPECT_EQ(1, FillRect(memory, &empty, white));
    const uint32_t w = 0xFFFFFF, o = 0;
    const std::vector<uint32_t> expected = {
        o, o, o, o, o, o,
        o, o, o, w, w, o,
        o, o, o, w, w, o,
        o, o, o, o, o, w,
    };
    EXPECT_EQ(expected, PixelsOf(memory, 6, 4));
    RECT all{0, 0, 6, 4};
    EXPECT_EQ(1, FillRect(memory, &all, HBRUSH(GetStockObject(BLACK_BRUSH))));
    EXPECT_EQ(std::vector<uint32_t>(24, 0), PixelsOf(memory, 6, 4));
    EXPECT_EQ(COLORREF(0xFFFFFFFF), GetPixel(memory, 6, 0)) << "outside the bitmap: CLR_INVALID";
    EXPECT_EQ(COLORREF(0xFFFFFFFF), GetPixel(memory, -1, 0));
}

// A system colour index + 1 stands for a brush of that colour; the colours
// are those of Wine's default theme.
TEST_F(GdiObjects, SystemColourBrushes) {
    HDC memory = CreateCompatibleDC(nullptr);
    SelectObject(memory, LoadBitmapA(instance, "black6x4"));
    RECT left{0, 0, 3, 4}, right{3, 0, 6, 4};
    EXPECT_EQ(1, FillRect(memory, &left, reinterpret_cast<HBRUSH>(uintptr_t(15 + 1))));  // COLOR_BTNFACE
    EXPECT_EQ(1, FillRect(memory, &right, reinterpret_cast<HBRUSH>(uintptr_t(5 + 1))));  // COLOR_WINDOW
    EXPECT_EQ(RGB(0xF5, 0xF5, 0xF5), GetPixel(memory, 2, 3));
    EXPECT_EQ(RGB(0xFF, 0xFF, 0xFF), GetPixel(memory, 3, 0));
    EXPECT_TRUE(sim::Misuse().empty());
}

TEST_F(GdiObjects, StockBrushDescribesItself) {
    struct { UINT style; COLORREF color; ULONG_PTR hatch; } brush{9, 9, 9};
    EXPECT_EQ(int(sizeof brush), GetObjectA(GetStockObject(BLACK_BRUSH), sizeof brush, &brush));
    EXPECT_EQ(0u, brush.style);  // BS_SOLID
    EXPECT_EQ(RGB(0, 0, 0), brush.color);
    EXPECT_EQ(int(sizeof brush), GetObjectA(GetStockObject(WHITE_BRUSH), sizeof brush, &brush));
    EXPECT_EQ(RGB(255, 255, 255), brush.color);
}

TEST_F(GdiObjects, ColoursComeBackAsColorrefs) {
    HDC memory = CreateCompatibleDC(nullptr);
    HBITMAP picture = LoadBitmapA(instance, "t4x1");
    SelectObject(memory, picture);
    EXPECT_EQ(RGB(255, 0, 0), GetPixel(memory, 0, 0));
    EXPECT_EQ(RGB(0, 255, 0), GetPixel(memory, 1, 0));
    EXPECT_EQ(RGB(0, 0, 255), GetPixel(memory, 2, 0));
    EXPECT_EQ(RGB(255, 255, 255), GetPixel(memory, 3, 0));
}

TEST_F(GdiObjects, CopyWithinOneBitmapReadsTheOldPixels) {
    HDC memory = CreateCompatibleDC(nullptr);
    HBITMAP picture = LoadBitmapA(instance, "t4x1");
    SelectObject(memory, picture);
    EXPECT_EQ(TRUE, BitBlt(memory, 1, 0, 3, 1, memory, 0, 0, SRCCOPY));
    EXPECT_EQ((std::vector<uint32_t>{0xFF0000, 0xFF0000, 0x00FF00, 0x0000FF}), PixelsOf(memory, 4, 1));
}

TEST_F(GdiObjects, NegativeExtentsNameTheRectangleFromItsOtherCorner) {
    HDC source = CreateCompatibleDC(nullptr);
    HDC target = CreateCompatibleDC(nullptr);
    SelectObject(source, LoadBitmapA(instance, "t4x1"));
    SelectObject(target, LoadBitmapA(instance, "black6x4"));
    // Width -2 at x 3 from source x 3: source columns 2 and 3 to columns 2
    // and 3 (Wine); from source x 4 the second column would lie outside.
    EXPECT_EQ(TRUE, BitBlt(target, 3, 0, -2, 1, source, 3, 0, SRCCOPY));
    EXPECT_EQ((std::vector<uint32_t>{0, 0, 0x0000FF, 0xFFFFFF, 0, 0}), PixelsOf(target, 6, 1));
    EXPECT_TRUE(sim::Misuse().empty());
    EXPECT_EQ(TRUE, BitBlt(target, 1, 0, -1, 1, source, 1, 0, SRCCOPY));
    EXPECT_EQ((std::vector<uint32_t>{0, 0x00FF00, 0x0000FF, 0xFFFFFF, 0, 0}), PixelsOf(target, 6, 1));
    EXPECT_EQ(FALSE, BitBlt(target, 0, 0, 1, 1, source, 0, 0, 0x00EE0086));  // SRCPAINT isn't supported
}

TEST_F(GdiObjects, MonochromeBitmapKeepsWhiteAndTurnsTheRestBlack) {
    HDC source = CreateCompatibleDC(nullptr);
    HDC mono = CreateCompatibleDC(nullptr);
    SelectObject(source, LoadBitmapA(instance, "t4x1"));
    EXPECT_EQ(TRUE, BitBlt(mono, 0, 0, 1, 1, source, 3, 0, SRCCOPY));
    EXPECT_EQ(RGB(255, 255, 255), GetPixel(mono, 0, 0));
    EXPECT_EQ(TRUE, BitBlt(mono, 0, 0, 1, 1, source, 1, 0, SRCCOPY));
    EXPECT_EQ(RGB(0, 0, 0), GetPixel(mono, 0, 0));
}

}  // namespace
