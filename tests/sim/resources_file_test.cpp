// The resources as the simulation reads them out of windres's output: the
// program's own file (dialog, strings, pictures), an extended dialog
// template, LoadStringA's buffer rules, and files that are cut short or
// corrupt.
#include "sim_internal.h"

#include <gtest/gtest.h>
#include <strings.h>

#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string kProgramFile = VELLOMIRE_RESOURCE_FILE;

sim::Config WithFile(const std::string &path) {
    sim::Config config;
    config.resourceFile = path;
    return config;
}

std::string ReadAll(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::string WriteTemp(const std::string &name, const std::string &bytes) {
    std::string path = ::testing::TempDir() + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

// Where the data of the first entry of each numbered type starts.
std::map<int, size_t> FirstDataOfType(const std::string &bytes) {
    std::map<int, size_t> first;
    for (size_t at = 0; at + 12 <= bytes.size();) {
        uint32_t dataSize, headerSize;
        uint16_t tag, type;
        std::memcpy(&dataSize, &bytes[at], 4);
        std::memcpy(&headerSize, &bytes[at + 4], 4);
        std::memcpy(&tag, &bytes[at + 8], 2);
        std::memcpy(&type, &bytes[at + 10], 2);
        if (tag == 0xFFFF) first.emplace(type, at + headerSize);
        at = (at + headerSize + dataSize + 3) & ~size_t(3);
    }
    return first;
}

// ---------------------------------------------------------------- the program's file

TEST(ProgramResources, TheDialogStringsAndPictures) {
    sim::Reset();
    HINSTANCE instance = sim::ProgramInstance();
    char buffer[64];
    EXPECT_EQ(11, LoadStringA(instance, 1001, buffer, sizeof buffer));
    EXPECT_STREQ("control.ini", buffer);
    EXPECT_EQ(22, LoadStringA(instance, 1002, buffer, sizeof buffer));
    EXPECT_STREQ("Vellomire Screen Saver", buffer);
    EXPECT_EQ(21, LoadStringA(nullptr, 1007, buffer, sizeof buffer));  // null: the program's own module
    EXPECT_STREQ("ScreenSaver.Vellomire", buffer);
    SetLastError(0);
    EXPECT_EQ(nullptr, LoadIconA(instance, MAKEINTRESOURCE(100)));
    EXPECT_EQ(DWORD(ERROR_RESOURCE_NAME_NOT_FOUND), GetLastError());
    EXPECT_NE(nullptr, LoadIconA(nullptr, MAKEINTRESOURCE(32512)));  // IDI_APPLICATION

    const sim::detail::DialogTemplate *d = sim::detail::FindDialogTemplate(MAKEINTRESOURCE(2003));
    ASSERT_NE(nullptr, d);
    EXPECT_EQ(d, sim::detail::FindDialogTemplate("#2003"));
    EXPECT_EQ(nullptr, sim::detail::FindDialogTemplate("2003"));  // a string name, not the number
    EXPECT_EQ(DWORD(WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT), d->style);
    EXPECT_EQ(0u, d->exStyle);
    EXPECT_EQ((std::vector<int>{34, 32, 191, 86}), (std::vector<int>{d->x, d->y, d->cx, d->cy}));
    EXPECT_EQ("Vellomire", d->caption);
    EXPECT_EQ(10, d->pointSize);
    EXPECT_EQ("Times New Roman", d->fontName);
    const DWORD base = WS_CHILD | WS_VISIBLE;
    struct Expected { const char *cls; int id; const char *text; DWORD style; int x, y, cx, cy; };
    const Expected expected[] = {
        {"Button", 1, "OK", base | BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP, 5, 41, 67, 16},
        {"Button", 2, "Cancel", base | BS_PUSHBUTTON | WS_TABSTOP, 5, 62, 67, 16},
        {"Static", -1, "Revision 1.1, Vellomire team", base | SS_CENTER | WS_GROUP, 81, 73, 105, 8},
        {"Static", -1, "Change picture every", base | SS_LEFT | WS_GROUP, 5, 6, 68, 8},
        {"Edit", 1008, "", base | ES_LEFT | ES_AUTOHSCROLL | ES_NUMBER | WS_BORDER | WS_TABSTOP, 75, 5, 24, 12},
        {"Static", -1, "seconds", base | SS_LEFT | WS_GROUP, 102, 6, 27, 8},
        {"Static", -1, "Photographs by Berasategi, Engelhardt, Freespace, Michetti, van der Walt, NASA and SpaceX",
         base | SS_CENTER | SS_SUNKEN | WS_BORDER | WS_GROUP, 80, 33, 106, 36},
        {"Button", 1009, "Slowly paint pictures", base | BS_AUTOCHECKBOX | WS_TABSTOP, 5, 20, 80, 10},
    };
    ASSERT_EQ(8u, d->controls.size());
    for (size_t i = 0; i < 8; ++i) {
        SCOPED_TRACE("control " + std::to_string(i + 1));
        const sim::detail::DialogControl &c = d->controls[i];
        EXPECT_EQ(0, strcasecmp(expected[i].cls, c.className.c_str())) << c.className;
        EXPECT_EQ(expected[i].id, c.id);
        EXPECT_EQ(expected[i].text, c.text);
        EXPECT_EQ(expected[i].style, c.style);
        EXPECT_EQ(0u, c.exStyle);
        EXPECT_EQ((std::vector<int>{expected[i].x, expected[i].y, expected[i].cx, expected[i].cy}),
                  (std::vector<int>{c.x, c.y, c.cx, c.cy}));
    }

    const int heights[] = {301, 270, 301, 301, 301, 305, 305, 295, 301, 301, 301};
    for (int i = 0; i < 11; ++i) {
        std::string name = "map" + std::to_string(i + 1);
        SCOPED_TRACE(name);
        sim::Image picture = sim::ResourceBitmap(name);
        EXPECT_EQ(450, picture.width);
        EXPECT_EQ(heights[i], picture.height);
        // Every pixel is a colour of the pictures' 3-3-2 table.
        size_t outside = 0;
        for (uint32_t p : picture.pixels) {
            uint32_t r = p >> 16, g = (p >> 8) & 0xFF, b = p & 0xFF;
            auto level = [](uint32_t v) {
                for (uint32_t k = 0; k < 8; ++k)
                    if (v == (k * 255 + 3) / 7) return true;
                return false;
            };
            if (!level(r) || !level(g) || b % 85 != 0) ++outside;
        }
        EXPECT_EQ(0u, outside);
    }
    HBITMAP bitmap = LoadBitmapA(instance, "Map3");
    ASSERT_NE(nullptr, bitmap);
    BITMAP info{};
    EXPECT_EQ(int(sizeof(BITMAP)), GetObjectA(bitmap, sizeof info, &info));
    EXPECT_EQ((std::vector<LONG>{450, 301, 1, 32, 1800}),
              (std::vector<LONG>{info.bmWidth, info.bmHeight, info.bmPlanes, info.bmBitsPixel, info.bmWidthBytes}));
    EXPECT_EQ(TRUE, DeleteObject(bitmap));
    SetLastError(0);
    EXPECT_EQ(nullptr, LoadBitmapA(instance, "map12"));
    EXPECT_EQ(DWORD(ERROR_RESOURCE_NAME_NOT_FOUND), GetLastError());
}

// A picture pixel for pixel against the BMP file windres read: rows from the
// top, colours from the file's table.
TEST(ProgramResources, PictureAsItsBmpFileHoldsIt) {
    sim::Reset();
    const std::string bmp = ReadAll(std::string(VELLOMIRE_PICTURES) + "/map2.bmp");
    ASSERT_GT(bmp.size(), 1078u);
    auto u32 = [&](size_t at) {
        uint32_t v;
        std::memcpy(&v, &bmp[at], 4);
        return v;
    };
    const int width = int(u32(18)), height = int(u32(22));
    const size_t bits = u32(10), stride = (size_t(width) + 3) / 4 * 4;
    ASSERT_EQ(8, bmp[28]);  // bits a pixel
    std::vector<uint32_t> expected;
    for (int y = height - 1; y >= 0; --y)  // bottom-up
        for (int x = 0; x < width; ++x)
            expected.push_back(u32(54 + 4 * uint8_t(bmp[bits + size_t(y) * stride + size_t(x)])) & 0xFFFFFF);
    sim::Image picture = sim::ResourceBitmap("map2");
    EXPECT_EQ(width, picture.width);
    EXPECT_EQ(height, picture.height);
    EXPECT_TRUE(expected == picture.pixels);
}

TEST(ProgramResources, LoadStringCopiesAtMostSizeMinusOneAndAZero) {
    sim::Reset();
    HINSTANCE instance = sim::ProgramInstance();
    char buffer[40];
    auto load = [&](int size) {
        std::memset(buffer, '#', sizeof buffer);
        return LoadStringA(instance, 1001, buffer, size);
    };
    EXPECT_EQ(11, load(40));
    EXPECT_EQ(std::string("control.ini\0#", 13), std::string(buffer, 13));
    EXPECT_EQ(11, load(12));  // exactly enough
    EXPECT_EQ(std::string("control.ini\0#", 13), std::string(buffer, 13));
    EXPECT_EQ(10, load(11));  // one short: the last character goes
    EXPECT_EQ(std::string("control.in\0#", 12), std::string(buffer, 12));
    EXPECT_EQ(0, load(1));
    EXPECT_EQ(std::string("\0#", 2), std::string(buffer, 2));
    EXPECT_EQ(-1, load(0));  // size 0 writes nothing and answers -1 (Wine's LoadStringA)
    EXPECT_EQ('#', buffer[0]);
    // An id missing from a present block, one of no block, another module, an injected failure.
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(0, LoadStringA(instance, 1003, buffer, 40));
    EXPECT_EQ(std::string("\0#", 2), std::string(buffer, 2));
    EXPECT_EQ(0, LoadStringA(instance, 6000, buffer, 40));
    EXPECT_EQ(0, LoadStringA(reinterpret_cast<HINSTANCE>(uintptr_t(0x7000000)), 1001, buffer, 40));
    EXPECT_STREQ("", buffer);
    sim::FailCall("LoadStringA", sim::CallCount("LoadStringA") + 1);
    EXPECT_EQ(0, LoadStringA(instance, 1001, buffer, 40));
    EXPECT_STREQ("", buffer);
    EXPECT_EQ(11, LoadStringA(instance, 1001, buffer, 40));  // that call only
}

TEST(ProgramResources, TestBitmapsTakePrecedenceUntilReset) {
    sim::Reset();
    sim::Image tiny;
    tiny.width = 2;
    tiny.height = 1;
    tiny.pixels = {0xABCDEF, 0x000001};
    sim::InstallTestBitmap("MAP1", tiny);
    EXPECT_EQ(tiny.pixels, sim::ResourceBitmap("map1").pixels);
    HBITMAP bitmap = LoadBitmapA(sim::ProgramInstance(), "map1");
    BITMAP info{};
    GetObjectA(bitmap, sizeof info, &info);
    EXPECT_EQ(2, info.bmWidth);
    DeleteObject(bitmap);
    sim::Reset();
    EXPECT_EQ(450, sim::ResourceBitmap("map1").width);
}

// ---------------------------------------------------------------- other files

TEST(ResourceFile, ExtendedDialogTemplate) {
    sim::Reset(WithFile(SIM_TEST_RESOURCE_FILE));
    const sim::detail::DialogTemplate *d = sim::detail::FindDialogTemplate(MAKEINTRESOURCE(101));
    ASSERT_NE(nullptr, d);
    EXPECT_EQ(DWORD(DS_SETFONT | WS_POPUP | WS_CAPTION), d->style);
    EXPECT_EQ(DWORD(0x80), d->exStyle);  // WS_EX_TOOLWINDOW
    EXPECT_EQ((std::vector<int>{1, 2, 100, 50}), (std::vector<int>{d->x, d->y, d->cx, d->cy}));
    EXPECT_EQ("Extended", d->caption);
    EXPECT_EQ(8, d->pointSize);
    EXPECT_EQ("MS Shell Dlg", d->fontName);
    ASSERT_EQ(2u, d->controls.size());
    const sim::detail::DialogControl &button = d->controls[0], &icon = d->controls[1];
    EXPECT_EQ("Button", button.className);  // stored as the predefined atom
    EXPECT_EQ(IDCANCEL, button.id);
    EXPECT_EQ("Cancel", button.text);
    EXPECT_EQ(DWORD(WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON | WS_TABSTOP | WS_DISABLED), button.style);
    EXPECT_EQ(DWORD(0x200), button.exStyle);  // WS_EX_CLIENTEDGE
    EXPECT_EQ((std::vector<int>{1, 2, 3, 4}), (std::vector<int>{button.x, button.y, button.cx, button.cy}));
    EXPECT_EQ(0, strcasecmp("Static", icon.className.c_str())) << icon.className;
    EXPECT_EQ(-1, icon.id);
    EXPECT_EQ("#7", icon.text);  // a resource named by number
    EXPECT_EQ((std::vector<int>{5, 6, 7, 8}), (std::vector<int>{icon.x, icon.y, icon.cx, icon.cy}));
}

// The figures Wine 8 gives on Debian's fonts.
TEST(ResourceFile, BaseUnitsOfTheTemplateFont) {
    sim::detail::DialogTemplate d{};
    d.fontName = "Times New Roman";
    d.pointSize = 10;
    int x = 0, y = 0;
    sim::detail::DialogBaseUnits(d, &x, &y);
    EXPECT_EQ(7, x);
    EXPECT_EQ(15, y);
    d.fontName.clear();
    d.pointSize = 0;
    sim::detail::DialogBaseUnits(d, &x, &y);
    EXPECT_EQ(7, x);
    EXPECT_EQ(16, y);
}

// A damaged file gives no resources and one line that names it and says
// what is wrong; a picture that can't be decoded is missing alone.
TEST(ResourceFile, DamagedFilesGiveNoResourcesAndSayWhy) {
    const std::string good = ReadAll(kProgramFile);
    ASSERT_GT(good.size(), 100000u);
    std::map<int, size_t> at = FirstDataOfType(good);
    ASSERT_TRUE(at.count(2) && at.count(5));  // a bitmap and a dialog
    std::string badBitmap = good, farBitmap = good, badDialog = good;
    badBitmap[at[2] + 14] = 7;                      // bits per pixel
    farBitmap[at[2] + 3] = 0x7F;                    // the header's size, and no colour table:
    farBitmap[at[2] + 14] = 24;                     // 24 bits a pixel, no colours used
    farBitmap[at[2] + 32] = farBitmap[at[2] + 33] = 0;
    badDialog[at[5] + 8] = badDialog[at[5] + 9] = char(0xFF);  // number of controls
    struct Case { const char *name; std::string bytes; const char *says; bool stringsStay; };
    const Case cases[] = {
        {"cut.res", good.substr(0, good.size() / 2), "cut short", false},
        {"cut-at-end.res", good.substr(0, good.size() - 6), "cut short", false},
        {"header.res", good.substr(0, 20), "not a resource file", false},
        {"script.res", "MAP1 BITMAP \"map1.bmp\"\n", "not a resource file", false},
        {"dialog.res", badDialog, "(type 5) is cut short", false},
        {"bitmap.res", badBitmap, "bitmap MAP1: unsupported bitmap", true},
        {"far-bitmap.res", farBitmap, "bitmap MAP1: bitmap cut short", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = WriteTemp(c.name, c.bytes);
        sim::Reset(WithFile(path));
        ::testing::internal::CaptureStderr();
        char buffer[32] = "x";
        EXPECT_EQ(c.stringsStay ? 11 : 0, LoadStringA(sim::ProgramInstance(), 1001, buffer, sizeof buffer));
        EXPECT_EQ(c.stringsStay, sim::detail::FindDialogTemplate(MAKEINTRESOURCE(2003)) != nullptr);
        SetLastError(0);
        EXPECT_EQ(nullptr, LoadBitmapA(sim::ProgramInstance(), "map1"));
        EXPECT_EQ(DWORD(ERROR_RESOURCE_NAME_NOT_FOUND), GetLastError());
        std::string said = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(std::string::npos, said.find("sim: resource file " + path + ": ")) << said;
        EXPECT_NE(std::string::npos, said.find(c.says)) << said;
    }
    // A file rewritten between worlds is read again.
    std::string path = WriteTemp("rewritten.res", good);
    sim::Reset(WithFile(path));
    EXPECT_NE(nullptr, sim::detail::FindDialogTemplate(MAKEINTRESOURCE(2003)));
    WriteTemp("rewritten.res", good.substr(0, 100));
    sim::Reset(WithFile(path));
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(nullptr, sim::detail::FindDialogTemplate(MAKEINTRESOURCE(2003)));
    EXPECT_NE(std::string::npos, ::testing::internal::GetCapturedStderr().find("rewritten.res: the entry at byte 32"));
    sim::Reset(WithFile(::testing::TempDir() + "no-such.res"));
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(nullptr, sim::detail::FindDialogTemplate(MAKEINTRESOURCE(2003)));
    EXPECT_NE(std::string::npos, ::testing::internal::GetCapturedStderr().find("no-such.res: can't be read"));
}

}  // namespace
