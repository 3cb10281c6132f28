// The resource script as the simulation reads it: dialog templates, the
// string table with LoadStringA's truncation rules, bitmaps decoded from
// BMP files, and the program's own script.
#include "sim_internal.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const std::string kData = VELLOMIRE_SIM_TEST_DATA;

sim::Config WithScript(const std::string &path) {
    sim::Config config;
    config.resourceScript = path;
    return config;
}

// A folder of its own for scripts and BMP files written by a test.
std::string MakeFolder() {
    char name[] = "/tmp/vellomire-rc-test-XXXXXX";
    EXPECT_NE(nullptr, mkdtemp(name));
    return name;
}

void RemoveFolder(const std::string &folder) {
    EXPECT_EQ(0, std::system(("rm -rf '" + folder + "'").c_str()));
}

void WriteFile(const std::string &path, const std::string &bytes) {
    std::FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(nullptr, f) << path;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

void Put16(std::string *b, unsigned v) {
    b->push_back(char(v & 0xFF));
    b->push_back(char((v >> 8) & 0xFF));
}
void Put32(std::string *b, uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

// An 8-bit BI_RGB bottom-up BMP: rows of palette indexes from the top,
// colours as 0x00RRGGBB; clrUsed 0 means a full table of 256.
std::string Bmp8(int width, const std::vector<std::vector<uint8_t>> &rows, const std::vector<uint32_t> &table,
                 uint32_t clrUsed) {
    int height = int(rows.size());
    size_t stride = (size_t(width) + 3) / 4 * 4;
    size_t entries = clrUsed ? clrUsed : 256;
    uint32_t offBits = uint32_t(14 + 40 + entries * 4);
    std::string b = "BM";
    Put32(&b, uint32_t(offBits + stride * size_t(height)));
    Put32(&b, 0);
    Put32(&b, offBits);
    Put32(&b, 40);
    Put32(&b, uint32_t(width));
    Put32(&b, uint32_t(height));
    Put16(&b, 1);
    Put16(&b, 8);
    Put32(&b, 0);
    Put32(&b, uint32_t(stride * size_t(height)));
    Put32(&b, 0);
    Put32(&b, 0);
    Put32(&b, clrUsed);
    Put32(&b, 0);
    for (size_t i = 0; i < entries; ++i) {
        uint32_t c = i < table.size() ? table[i] : 0;
        b.push_back(char(c & 0xFF));
        b.push_back(char((c >> 8) & 0xFF));
        b.push_back(char((c >> 16) & 0xFF));
        b.push_back(0);
    }
    for (int y = height - 1; y >= 0; --y) {
        std::string row(stride, char(0x5A));  // filler bytes that must not show
        for (int x = 0; x < width; ++x) row[size_t(x)] = char(rows[size_t(y)][size_t(x)]);
        b += row;
    }
    return b;
}

// A 24-bit bottom-up BMP.
std::string Bmp24(int width, const std::vector<std::vector<uint32_t>> &rows) {
    int height = int(rows.size());
    size_t stride = (size_t(width) * 3 + 3) / 4 * 4;
    std::string b = "BM";
    Put32(&b, uint32_t(54 + stride * size_t(height)));
    Put32(&b, 0);
    Put32(&b, 54);
    Put32(&b, 40);
    Put32(&b, uint32_t(width));
    Put32(&b, uint32_t(height));
    Put16(&b, 1);
    Put16(&b, 24);
    for (int i = 0; i < 6; ++i) Put32(&b, 0);
    for (int y = height - 1; y >= 0; --y) {
        std::string row(stride, 0);
        for (int x = 0; x < width; ++x) {
            uint32_t c = rows[size_t(y)][size_t(x)];
            row[size_t(x) * 3] = char(c & 0xFF);
            row[size_t(x) * 3 + 1] = char((c >> 8) & 0xFF);
            row[size_t(x) * 3 + 2] = char((c >> 16) & 0xFF);
        }
        b += row;
    }
    return b;
}

// ---------------------------------------------------------------- dialogs

TEST(ResourceDialogs, TemplateOfTheScriptWithIdsFromTheHeader) {
    sim::Reset(WithScript(kData + "/settings.rc"));
    const sim::detail::DialogTemplate *d = sim::detail::FindDialogTemplate(MAKEINTRESOURCE(2003));
    ASSERT_NE(nullptr, d);
    EXPECT_EQ(2003, d->id);
    EXPECT_EQ(DWORD(WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT), d->style);
    EXPECT_EQ(0u, d->exStyle);
    EXPECT_EQ(34, d->x);
    EXPECT_EQ(32, d->y);
    EXPECT_EQ(191, d->cx);
    EXPECT_EQ(86, d->cy);
    EXPECT_EQ("Test Settings", d->caption);
    EXPECT_EQ(10, d->pointSize);
    EXPECT_EQ("Times New Roman", d->fontName);
    struct Expected {
        const char *cls;
        int id;
        const char *text;
        DWORD style;
        int x, y, cx, cy;
    };
    const DWORD base = WS_CHILD | WS_VISIBLE;
    const Expected expected[] = {
        {"Button", IDOK, "OK", base | BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP, 5, 41, 67, 16},
        {"Edit", 1008, "", base | ES_LEFT | ES_AUTOHSCROLL | ES_NUMBER | WS_BORDER | WS_TABSTOP, 75, 5, 24, 12},
        {"Static", -1, "Two\nlines", base | SS_CENTER | SS_SUNKEN | WS_BORDER | WS_GROUP, 80, 33, 106, 36},
        {"Button", 1009, "Slowly", base | BS_AUTOCHECKBOX | WS_TABSTOP, 5, 20, 80, 10},
        {"Button", 3, "Go", base | BS_DEFPUSHBUTTON | WS_TABSTOP, 1, 2, 3, 4},
        {"Edit", 7, "", base | ES_LEFT | ES_NUMBER | WS_TABSTOP, 10, 20, 30, 40},
        {"Static", -1, "left", base | SS_LEFT | WS_GROUP, 10, 20, 30, 8},
    };
    ASSERT_EQ(sizeof expected / sizeof expected[0], d->controls.size());
    for (size_t i = 0; i < d->controls.size(); ++i) {
        const sim::detail::DialogControl &c = d->controls[i];
        const Expected &e = expected[i];
        SCOPED_TRACE("control " + std::to_string(i + 1));
        EXPECT_EQ(e.cls, c.className);
        EXPECT_EQ(e.id, c.id);
        EXPECT_EQ(e.text, c.text);
        EXPECT_EQ(e.style, c.style);
        EXPECT_EQ(0u, c.exStyle);
        EXPECT_EQ(e.x, c.x);
        EXPECT_EQ(e.y, c.y);
        EXPECT_EQ(e.cx, c.cx);
        EXPECT_EQ(e.cy, c.cy);
    }
}

TEST(ResourceDialogs, NamesNumbersAndExtendedTemplates) {
    sim::Reset(WithScript(kData + "/settings.rc"));
    EXPECT_NE(nullptr, sim::detail::FindDialogTemplate("#2003"));
    EXPECT_EQ(nullptr, sim::detail::FindDialogTemplate("2003"));  // a string name, not the number
    EXPECT_EQ(nullptr, sim::detail::FindDialogTemplate(MAKEINTRESOURCE(2004)));
    const sim::detail::DialogTemplate *ex = sim::detail::FindDialogTemplate(MAKEINTRESOURCE(7));
    ASSERT_NE(nullptr, ex);
    EXPECT_EQ(DWORD(DS_SETFONT | WS_POPUP), ex->style);
    EXPECT_EQ(DWORD(0x80), ex->exStyle);
    EXPECT_EQ("MS Shell Dlg", ex->fontName);
    ASSERT_EQ(1u, ex->controls.size());
    EXPECT_EQ(IDCANCEL, ex->controls[0].id);
    EXPECT_EQ(DWORD(WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON | WS_TABSTOP | WS_DISABLED), ex->controls[0].style);
    EXPECT_EQ(DWORD(0x200), ex->controls[0].exStyle);
}

// The figures Wine 8 gives on Debian's fonts.
TEST(ResourceDialogs, BaseUnitsOfTheTemplateFont) {
    sim::detail::DialogTemplate d{};
    d.fontName = "Times New Roman";
    d.pointSize = 10;
    int x = 0, y = 0;
    sim::detail::DialogBaseUnits(d, &x, &y);
    EXPECT_EQ(8, x);
    EXPECT_EQ(15, y);
    d.fontName.clear();
    d.pointSize = 0;
    sim::detail::DialogBaseUnits(d, &x, &y);
    EXPECT_EQ(7, x);
    EXPECT_EQ(16, y);
}

TEST(ResourceDialogs, BrokenScriptGivesNoResources) {
    sim::Reset(WithScript(kData + "/broken.rc"));
    char buffer[32] = "x";
    EXPECT_EQ(0, LoadStringA(sim::ProgramInstance(), 1001, buffer, sizeof buffer));
    EXPECT_STREQ("", buffer);
    EXPECT_EQ(nullptr, sim::detail::FindDialogTemplate(MAKEINTRESOURCE(2003)));
    sim::Reset(WithScript(kData + "/no-such-script.rc"));
    EXPECT_EQ(nullptr, LoadBitmapA(sim::ProgramInstance(), "map1"));
    EXPECT_EQ(DWORD(ERROR_RESOURCE_NAME_NOT_FOUND), GetLastError());
}

// ---------------------------------------------------------------- strings

TEST(ResourceStrings, LoadStringCopiesAtMostSizeMinusOneAndAZero) {
    sim::Reset(WithScript(kData + "/settings.rc"));
    HINSTANCE instance = sim::ProgramInstance();
    char buffer[40];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(11, LoadStringA(instance, 1001, buffer, 40));
    EXPECT_EQ(std::string("control.ini\0#", 13), std::string(buffer, 13));
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(11, LoadStringA(instance, 1001, buffer, 12));  // exactly enough
    EXPECT_EQ(std::string("control.ini\0#", 13), std::string(buffer, 13));
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(10, LoadStringA(instance, 1001, buffer, 11));  // one short: the last character goes
    EXPECT_EQ(std::string("control.in\0#", 12), std::string(buffer, 12));
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(0, LoadStringA(instance, 1001, buffer, 1));
    EXPECT_EQ(std::string("\0#", 2), std::string(buffer, 2));
    // Size 0 writes nothing and answers -1 (Wine's LoadStringA).
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(-1, LoadStringA(instance, 1001, buffer, 0));
    EXPECT_EQ('#', buffer[0]);
}

TEST(ResourceStrings, EscapesQuotesMissingIdsAndInstances) {
    sim::Reset(WithScript(kData + "/settings.rc"));
    char buffer[40];
    EXPECT_EQ(18, LoadStringA(sim::ProgramInstance(), 1002, buffer, 40));
    EXPECT_STREQ("Say \"hello\"\tthere\n", buffer);
    EXPECT_EQ(7, LoadStringA(nullptr, 6000, buffer, 40));  // null: the program's own module
    EXPECT_STREQ("defined", buffer);
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(0, LoadStringA(sim::ProgramInstance(), 1003, buffer, 40));
    EXPECT_EQ(std::string("\0#", 2), std::string(buffer, 2));
    EXPECT_EQ(0, LoadStringA(reinterpret_cast<HINSTANCE>(uintptr_t(0x7000000)), 1001, buffer, 40));
    EXPECT_STREQ("", buffer);
    std::string text;
    EXPECT_TRUE(sim::detail::FindString(1007, &text));
    EXPECT_EQ("ScreenSaver.Test", text);
}

TEST(ResourceStrings, InjectedFailureLeavesAnEmptyString) {
    sim::Reset(WithScript(kData + "/settings.rc"));
    sim::FailCall("LoadStringA", 2);
    char buffer[40];
    EXPECT_EQ(11, LoadStringA(sim::ProgramInstance(), 1001, buffer, 40));
    EXPECT_EQ(0, LoadStringA(sim::ProgramInstance(), 1001, buffer, 40));
    EXPECT_STREQ("", buffer);
}

TEST(ResourceIcons, NoIconInTheScript) {
    sim::Reset(WithScript(kData + "/settings.rc"));
    SetLastError(0);
    EXPECT_EQ(nullptr, LoadIconA(sim::ProgramInstance(), MAKEINTRESOURCE(100)));
    EXPECT_EQ(DWORD(ERROR_RESOURCE_NAME_NOT_FOUND), GetLastError());
    EXPECT_NE(nullptr, LoadIconA(nullptr, MAKEINTRESOURCE(32512)));  // IDI_APPLICATION
}

// ---------------------------------------------------------------- bitmaps

TEST(ResourceBitmaps, EightBitBottomUpWithColourTable) {
    std::string folder = MakeFolder();
    mkdir((folder + "/sub").c_str(), 0755);
    std::vector<uint32_t> table = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF, 0x123456};
    // 3 x 2 with a short table (clrUsed 5); 5 x 1 with a full one.
    WriteFile(folder + "/one.bmp", Bmp8(3, {{1, 2, 3}, {4, 0, 1}}, table, 5));
    WriteFile(folder + "/sub/two.bmp", Bmp8(5, {{4, 3, 2, 1, 0}}, table, 0));
    std::string script = "MAP1 BITMAP \"one.bmp\"\nmap2 BITMAP \"sub/two.bmp\"\nMAP3 BITMAP \"three.bmp\"\n";
    WriteFile(folder + "/pictures.rc", script);
    sim::Reset(WithScript(folder + "/pictures.rc"));

    sim::Image one = sim::ResourceBitmap("map1");
    ASSERT_EQ(3, one.width);
    ASSERT_EQ(2, one.height);
    EXPECT_EQ((std::vector<uint32_t>{0xFF0000, 0x00FF00, 0x0000FF, 0x123456, 0x000000, 0xFF0000}), one.pixels);
    sim::Image two = sim::ResourceBitmap("MAP2");
    EXPECT_EQ((std::vector<uint32_t>{0x123456, 0x0000FF, 0x00FF00, 0xFF0000, 0x000000}), two.pixels);
    EXPECT_TRUE(sim::detail::HasBitmapResource("Map3"));
    EXPECT_EQ(0, sim::ResourceBitmap("map3").width) << "a missing file gives no picture";

    HBITMAP bitmap = LoadBitmapA(sim::ProgramInstance(), "Map1");
    ASSERT_NE(nullptr, bitmap);
    BITMAP info{};
    EXPECT_EQ(int(sizeof(BITMAP)), GetObjectA(bitmap, sizeof info, &info));
    EXPECT_EQ(3, info.bmWidth);
    EXPECT_EQ(2, info.bmHeight);
    EXPECT_EQ(1, info.bmPlanes);
    EXPECT_EQ(32, info.bmBitsPixel);
    EXPECT_EQ(12, info.bmWidthBytes);
    EXPECT_EQ(TRUE, DeleteObject(bitmap));
    SetLastError(0);
    EXPECT_EQ(nullptr, LoadBitmapA(sim::ProgramInstance(), "map3"));
    EXPECT_EQ(DWORD(ERROR_RESOURCE_NAME_NOT_FOUND), GetLastError());
    EXPECT_EQ(nullptr, LoadBitmapA(sim::ProgramInstance(), "map4"));
    EXPECT_EQ(DWORD(ERROR_RESOURCE_NAME_NOT_FOUND), GetLastError());
    RemoveFolder(folder);
}

TEST(ResourceBitmaps, TwentyFourBitFilesAndChangesOnDisk) {
    std::string folder = MakeFolder();
    WriteFile(folder + "/p.bmp", Bmp24(2, {{0x010203, 0x040506}, {0x0A0B0C, 0xFFFFFF}}));
    WriteFile(folder + "/p.rc", "PIC BITMAP p.bmp\n");
    sim::Reset(WithScript(folder + "/p.rc"));
    EXPECT_EQ((std::vector<uint32_t>{0x010203, 0x040506, 0x0A0B0C, 0xFFFFFF}), sim::ResourceBitmap("pic").pixels);
    // A file rewritten between worlds is decoded again.
    WriteFile(folder + "/p.bmp", Bmp24(1, {{0x778899}}));
    struct timespec times[2] = {{0, UTIME_NOW}, {0, UTIME_NOW}};
    times[1].tv_sec = 1;  // a different time stamp whatever the clock's resolution
    times[1].tv_nsec = 0;
    utimensat(AT_FDCWD, (folder + "/p.bmp").c_str(), times, 0);
    sim::Reset(WithScript(folder + "/p.rc"));
    EXPECT_EQ((std::vector<uint32_t>{0x778899}), sim::ResourceBitmap("pic").pixels);
    RemoveFolder(folder);
}

TEST(ResourceBitmaps, TestBitmapsTakePrecedenceUntilReset) {
    std::string folder = MakeFolder();
    WriteFile(folder + "/p.bmp", Bmp24(1, {{0x112233}}));
    WriteFile(folder + "/p.rc", "MAP1 BITMAP \"p.bmp\"\n");
    sim::Reset(WithScript(folder + "/p.rc"));
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
    sim::Reset(WithScript(folder + "/p.rc"));
    EXPECT_EQ((std::vector<uint32_t>{0x112233}), sim::ResourceBitmap("map1").pixels);
    RemoveFolder(folder);
}

TEST(ResourceBitmaps, FilesThatAreNoBitmapsGiveNone) {
    std::string folder = MakeFolder();
    WriteFile(folder + "/a.bmp", "BM this is not a bitmap");
    std::string cut = Bmp24(4, {{1, 2, 3, 4}, {5, 6, 7, 8}});
    cut.resize(cut.size() - 3);
    WriteFile(folder + "/b.bmp", cut);
    WriteFile(folder + "/p.rc", "A BITMAP a.bmp\nB BITMAP b.bmp\n");
    sim::Reset(WithScript(folder + "/p.rc"));
    EXPECT_EQ(nullptr, LoadBitmapA(sim::ProgramInstance(), "a"));
    EXPECT_EQ(nullptr, LoadBitmapA(sim::ProgramInstance(), "b"));
    RemoveFolder(folder);
}

// ---------------------------------------------------------------- the program's script

// The script that windres compiles into the saver, read the same way.
TEST(ProgramScript, HoldsTheDialogStringsAndPictures) {
    std::string path = VELLOMIRE_RESOURCE_SCRIPT;
    if (access(path.c_str(), R_OK) != 0) GTEST_SKIP() << path << " is not there yet";
    sim::Reset();
    char buffer[64];
    EXPECT_EQ(11, LoadStringA(sim::ProgramInstance(), 1001, buffer, sizeof buffer));
    EXPECT_STREQ("control.ini", buffer);
    EXPECT_EQ(22, LoadStringA(sim::ProgramInstance(), 1002, buffer, sizeof buffer));
    EXPECT_STREQ("Vellomire Screen Saver", buffer);
    EXPECT_EQ(21, LoadStringA(sim::ProgramInstance(), 1007, buffer, sizeof buffer));
    EXPECT_STREQ("ScreenSaver.Vellomire", buffer);
    EXPECT_EQ(nullptr, LoadIconA(sim::ProgramInstance(), MAKEINTRESOURCE(100)));

    const sim::detail::DialogTemplate *d = sim::detail::FindDialogTemplate(MAKEINTRESOURCE(2003));
    ASSERT_NE(nullptr, d);
    EXPECT_EQ(DWORD(WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT), d->style);
    EXPECT_EQ((std::vector<int>{34, 32, 191, 86}), (std::vector<int>{d->x, d->y, d->cx, d->cy}));
    EXPECT_EQ("Vellomire", d->caption);
    EXPECT_EQ(10, d->pointSize);
    EXPECT_EQ("Times New Roman", d->fontName);
    const DWORD base = WS_CHILD | WS_VISIBLE;
    struct Expected { const char *cls; int id; DWORD style; int x, y, cx, cy; };
    const Expected expected[] = {
        {"Button", 1, base | BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP, 5, 41, 67, 16},
        {"Button", 2, base | BS_PUSHBUTTON | WS_TABSTOP, 5, 62, 67, 16},
        {"Static", -1, base | SS_CENTER | WS_GROUP, 81, 73, 105, 8},
        {"Static", -1, base | SS_LEFT | WS_GROUP, 5, 6, 68, 8},
        {"Edit", 1008, base | ES_LEFT | ES_AUTOHSCROLL | ES_NUMBER | WS_BORDER | WS_TABSTOP, 75, 5, 24, 12},
        {"Static", -1, base | SS_LEFT | WS_GROUP, 102, 6, 27, 8},
        {"Static", -1, base | SS_CENTER | SS_SUNKEN | WS_BORDER | WS_GROUP, 80, 33, 106, 36},
        {"Button", 1009, base | BS_AUTOCHECKBOX | WS_TABSTOP, 5, 20, 80, 10},
    };
    ASSERT_EQ(8u, d->controls.size());
    for (size_t i = 0; i < 8; ++i) {
        SCOPED_TRACE("control " + std::to_string(i + 1));
        const sim::detail::DialogControl &c = d->controls[i];
        EXPECT_EQ(0, strcasecmp(expected[i].cls, c.className.c_str())) << c.className;
        EXPECT_EQ(expected[i].id, c.id);
        EXPECT_EQ(expected[i].style, c.style);
        EXPECT_EQ((std::vector<int>{expected[i].x, expected[i].y, expected[i].cx, expected[i].cy}),
                  (std::vector<int>{c.x, c.y, c.cx, c.cy}));
    }
    EXPECT_EQ("OK", d->controls[0].text);
    EXPECT_EQ("Cancel", d->controls[1].text);
    EXPECT_EQ("Change picture every", d->controls[3].text);
    EXPECT_EQ("", d->controls[4].text);
    EXPECT_EQ("seconds", d->controls[5].text);
    EXPECT_EQ("Slowly paint pictures", d->controls[7].text);

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
}

}  // namespace
