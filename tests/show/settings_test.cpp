// The stored settings as both readers take them: what the show and the
// dialog make of every kind of stored value, what happens when control.ini
// cannot be written, and the show that follows a confirmed dialog.
#include "host.h"
#include "dialog_user.h"
#include "log_tables.h"
#include "resource.h"
#include "saver_process.h"
#include "show.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

const std::string Section = "[ScreenSaver.Vellomire]\r\n";

std::vector<std::string> ArgumentsOf(const sim::Event &event)
{
    std::vector<std::string> args;
    size_t open = event.text.find('('), close = event.text.find(')');
    if (open == std::string::npos || close == std::string::npos || close < open)
        return args;
    std::string list = event.text.substr(open + 1, close - open - 1);
    size_t start = 0;
    for (size_t i = 0; i <= list.size(); ++i) {
        if (i == list.size() || list[i] == ',') {
            std::string item = list.substr(start, i - start);
            size_t first = item.find_first_not_of(' ');
            args.push_back(first == std::string::npos ? "" : item.substr(first));
            start = i + 1;
        }
    }
    return args;
}

// ---------------------------------------------------------------- the show

// What a full-screen run made of its settings, read from its calls.
struct ShowOutcome {
    bool exited = false;
    bool crashed = false;
    int32_t exitCode = -99;
    INT seconds = 0;          // ShowSettings as the show read them
    INT paint = 0;
    int pictures = 0;         // pictures begun
    bool progressive = false; // the first picture was unfinished after its first tick
    int firstTickCopies = 0;
    int holdSeconds = 0;      // completion of the first picture to the start of the second; 0: none came
    bool holdWhole = true;    // that time was a whole number of seconds
};

struct Tick {
    uint64_t time;
    bool loaded = false;
    bool filled = false;
    int copies = 0;
    std::string period;
};

std::vector<Tick> TimerTicks()
{
    std::vector<Tick> ticks;
    bool inTick = false;
    for (const sim::Event &event : sim::Log()) {
        if (event.kind == sim::EventKind::Posted) {
            inTick = event.message == WM_TIMER;
            if (inTick)
                ticks.push_back(Tick{event.time, false, false, 0, ""});
            continue;
        }
        if (!inTick || event.kind != sim::EventKind::Call)
            continue;
        Tick &tick = ticks.back();
        if (event.function == "LoadBitmapA")
            tick.loaded = true;
        else if (event.function == "FillRect" && tick.loaded)
            tick.filled = true;
        else if (event.function == "BitBlt")
            ++tick.copies;
        else if (event.function == "SetTimer" && ArgumentsOf(event).size() >= 3)
            tick.period = ArgumentsOf(event)[2];
    }
    return ticks;
}

// Runs the saver full screen (seed 1: map9 by ColumnsOpen, 75 calls when
// progressive) for runMs with the given control.ini (none when null).
ShowOutcome RunShow(const std::string *file, uint64_t runMs, sim::Config base = sim::Config())
{
    base.calendarSeconds = 1;
    base.screenWidth = 800;
    base.screenHeight = 600;
    vtest::StartWorld("/s", false, base);
    if (file != nullptr)
        sim::WriteWindowsFile("control.ini", *file);
    sim::At(runMs, [] {
        if (!sim::LiveWindows().empty())
            sim::KeyPress('Q');
    });
    sim::ProcessResult result = vtest::RunProgram();
    ShowOutcome out;
    out.exited = result.exited;
    out.crashed = result.crashed;
    out.exitCode = vtest::SignedExit(result);
    out.seconds = ShowSettings.seconds;
    out.paint = ShowSettings.paint;
    std::vector<Tick> ticks = TimerTicks();
    std::vector<size_t> starts;
    for (size_t i = 0; i < ticks.size(); ++i)
        if (ticks[i].filled)
            starts.push_back(i);
    out.pictures = int(starts.size());
    if (starts.empty())
        return out;
    const Tick &first = ticks[starts[0]];
    out.progressive = first.period == "40";
    out.firstTickCopies = first.copies;
    size_t done = starts[0];
    while (done < ticks.size() && !(ticks[done].loaded && ticks[done].period == "1000"))
        ++done;
    if (starts.size() >= 2 && done < ticks.size()) {
        uint64_t gap = ticks[starts[1]].time - ticks[done].time;
        out.holdSeconds = int(gap / 1000);
        out.holdWhole = gap % 1000 == 0;
    }
    return out;
}

// ---------------------------------------------------------------- the dialog

struct DialogOutcome {
    bool opened = false;
    bool crashed = false;
    int32_t exitCode = -99;
    std::string text;      // the seconds field as opened
    bool checked = false;  // the paint box as opened
    std::vector<std::vector<std::string>> boxSets;   // SendDlgItemMessageA arguments
    std::vector<std::vector<std::string>> writes;
    std::string fileAfter;
    bool fileExists = false;
};

using User = vtest::DialogUser;

const int KeyBackspace = 0x08;

// Opens the dialog (empty tail) on the given control.ini and lets the user
// act; by default the user presses OK. prepare runs in the new world before
// the program starts.
DialogOutcome RunDialog(const std::string *file, const User &user = User().Click(IDOK),
                        sim::Config base = sim::Config(),
                        const std::function<void()> &prepare = {})
{
    vtest::StartWorld("", false, base);
    if (file != nullptr)
        sim::WriteWindowsFile("control.ini", *file);
    if (prepare)
        prepare();
    DialogOutcome out;
    sim::At(300, [&out] {
        HWND dialog = sim::ActiveDialog();
        if (dialog == nullptr)
            return;
        out.opened = true;
        out.text = sim::ItemText(dialog, IDC_SECONDS);
        out.checked = sim::ItemChecked(dialog, IDC_PAINT);
    });
    vtest::ScheduleDialogUser(user, 300, 50);
    sim::ProcessResult result = vtest::RunProgram();
    out.crashed = result.crashed;
    out.exitCode = vtest::SignedExit(result);
    out.boxSets = vtest::CallArguments("SendDlgItemMessageA");
    out.writes = vtest::CallArguments("WritePrivateProfileStringA");
    out.fileExists = sim::ReadWindowsFile("control.ini", &out.fileAfter);
    return out;
}

// ---------------------------------------------------------------- odd values

const int NoHold = 0;   // no second picture within the run

// A stored control.ini as the profile functions read it (Wine's rules:
// blanks around the value trimmed, one pair of quotes removed, at most 29
// characters taken, an empty value is the default; then an optional sign,
// a prefix 0x, 0o or 0b for base 16, 8 or 2, and the digits up to the
// first other character, modulo 2^32). The paint box, an auto check box,
// shows every nonzero value ticked. Both were measured under wine64 with
// the same files: GetPrivateProfileIntA gave each value of this table, and
// BM_SETCHECK with 2, 3, 256 or -1 left the box ticked.
struct OddCase {
    const char *name;
    std::string file;          // control.ini; "-" for no file at all
    INT showSeconds;           // what the show reads
    INT showPaint;
    int hold;                  // seconds between a completed picture and the next
    const char *dialogText;    // what the dialog shows
    bool dialogChecked;
    const char *okSeconds;     // what OK then stores
    const char *okPaint;
};

std::string WithSection(const std::string &lines) { return Section + lines; }

const std::vector<OddCase> &OddCases()
{
    static const char exe[] = "MZ\x90\0\x03\0\0\0\x04\0\0\0\xff\xff\0\0\xb8\0\0\0\0\0\0\0@\0\x1a";
    static const std::vector<OddCase> cases = {
        {"no file", "-", 10, 1, 10, "20", true, "20", "1"},
        {"empty file", "", 10, 1, 10, "20", true, "20", "1"},
        {"section missing", "[Other]\r\nSeconds=3\r\nPaint=0\r\n", 10, 1, 10, "20", true, "20", "1"},
        {"section in other case", "[screensaver.VELLOMIRE]\r\nSeconds=3\r\nPaint=0\r\n", 3, 0, 3,
         "3", false, "3", "0"},
        {"keys missing", WithSection(""), 10, 1, 10, "20", true, "20", "1"},
        {"empty values", WithSection("Seconds=\r\nPaint=\r\n"), 10, 1, 10, "20", true, "20", "1"},
        {"keys without '='", WithSection("Seconds\r\nPaint\r\n"), 10, 1, 10, "20", true, "20", "1"},
        {"negative", WithSection("Seconds=-5\r\nPaint=0\r\n"), -5, 0, 1, "-5", false, "-5", "0"},
        {"zero", WithSection("Seconds=0\r\nPaint=0\r\n"), 0, 0, 1, "0", false, "0", "0"},
        {"huge", WithSection("Seconds=99999999999\r\nPaint=0\r\n"), 1215752191, 0, NoHold,
         "1215752191", false, "1215", "0"},
        {"huge negative", WithSection("Seconds=-99999999999\r\nPaint=0\r\n"), -1215752191, 0, 1,
         "-1215752191", false, "-121", "0"},
        {"2^32 - 1", WithSection("Seconds=4294967295\r\nPaint=0\r\n"), -1, 0, 1, "-1", false, "-1", "0"},
        {"2^31", WithSection("Seconds=2147483648\r\nPaint=0\r\n"), INT_MIN, 0, 1, "-2147483648", false,
         "-214", "0"},
        {"2^31 - 1", WithSection("Seconds=2147483647\r\nPaint=0\r\n"), INT_MAX, 0, NoHold,
         "2147483647", false, "2147", "0"},
        {"a hundred digits", WithSection("Seconds=" + std::string(100, '1') + "\r\nPaint=0\r\n"),
         1729917383, 0, NoHold, "1729917383", false, "1729", "0"},
        {"not a number", WithSection("Seconds=abc\r\nPaint=xyz\r\n"), 0, 0, 1, "0", false, "0", "0"},
        {"digits then letters", WithSection("Seconds=4abc\r\nPaint=0abc\r\n"), 4, 0, 4, "4", false, "4",
         "0"},
        {"hexadecimal", WithSection("Seconds=0x10\r\nPaint=0x0\r\n"), 16, 0, 16, "16", false, "16", "0"},
        {"hexadecimal paint", WithSection("Seconds=2\r\nPaint=0x1\r\n"), 2, 1, 2, "2", true, "2", "1"},
        {"upper-case X", WithSection("Seconds=0X1F\r\nPaint=0X1\r\n"), 0, 0, 1, "0", false, "0", "0"},
        {"octal and binary", WithSection("Seconds=0o17\r\nPaint=0b0\r\n"), 15, 0, 15, "15", false, "15",
         "0"},
        {"leading zero is not octal", WithSection("Seconds=010\r\nPaint=00\r\n"), 10, 0, 10, "10", false,
         "10", "0"},
        {"negative hexadecimal", WithSection("Seconds=-0x10\r\nPaint=0\r\n"), -16, 0, 1, "-16", false,
         "-16", "0"},
        {"spaces around", WithSection("  Seconds  =  3  \r\n\tPaint\t=\t0\t\r\n"), 3, 0, 3, "3", false,
         "3", "0"},
        {"space inside", WithSection("Seconds=1 2\r\nPaint=0 1\r\n"), 1, 0, 1, "1", false, "1", "0"},
        {"plus sign", WithSection("Seconds=+4\r\nPaint=+0\r\n"), 4, 0, 4, "4", false, "4", "0"},
        {"quoted", WithSection("Seconds=\"6\"\r\nPaint='0'\r\n"), 6, 0, 6, "6", false, "6", "0"},
        {"leading zeros", WithSection("Seconds=0002\r\nPaint=0000\r\n"), 2, 0, 2, "2", false, "2", "0"},
        {"paint 2", WithSection("Seconds=2\r\nPaint=2\r\n"), 2, 2, 2, "2", true, "2", "1"},
        {"paint -1", WithSection("Seconds=2\r\nPaint=-1\r\n"), 2, -1, 2, "2", true, "2", "1"},
        {"paint 256", WithSection("Seconds=2\r\nPaint=256\r\n"), 2, 256, 2, "2", true, "2", "1"},
        {"LF only", "[ScreenSaver.Vellomire]\nSeconds=3\nPaint=0\n", 3, 0, 3, "3", false, "3", "0"},
        {"NUL inside the value", WithSection(std::string("Seconds=") + '\0' + "5\r\nPaint=" + '\0' + "\r\n"), 10, 1, 10,
         "20", true, "20", "1"},
        {"binary bytes", std::string(exe, sizeof exe - 1), 10, 1, 10, "20", true, "20", "1"},
        {"binary, then the section", std::string(exe, sizeof exe - 1) + "\r\n" +
                                         WithSection("Seconds=3\r\nPaint=0\r\n"),
         3, 0, 3, "3", false, "3", "0"},
        {"all 256 byte values", [] {
             std::string all;
             for (int b = 0; b < 256; ++b)
                 all += char(b);
             return all;
         }(), 10, 1, 10, "20", true, "20", "1"},
    };
    return cases;
}

// What the show reads and does with each stored value: its hold time and
// whether it paints progressively, from its calls.
TEST(Settings, WhatTheShowMakesOfStoredValues)
{
    for (const OddCase &c : OddCases()) {
        // Long enough for a progressive first picture (75 calls), its hold
        // and the start of the next.
        uint64_t runMs = 3000 + uint64_t(c.hold == NoHold ? 17 : c.hold) * 1000 + 500;
        ShowOutcome show = RunShow(c.file == "-" ? nullptr : &c.file, runMs);
        EXPECT_TRUE(show.exited) << c.name;
        EXPECT_FALSE(show.crashed) << c.name;
        EXPECT_EQ(show.exitCode, 0) << c.name;
        EXPECT_EQ(show.seconds, c.showSeconds) << c.name;
        EXPECT_EQ(show.paint, c.showPaint) << c.name;
        EXPECT_EQ(show.progressive, c.showPaint != 0) << c.name;
        if (c.showPaint == 0) {
            EXPECT_EQ(show.firstTickCopies, 1) << c.name << ": painted in one copy";
        }
        EXPECT_EQ(show.holdSeconds, c.hold) << c.name;
        EXPECT_TRUE(show.holdWhole) << c.name;
        if (c.hold == NoHold) {
            EXPECT_EQ(show.pictures, 1) << c.name;
        } else {
            EXPECT_GE(show.pictures, 2) << c.name;
        }
    }
}

// What the dialog shows for each stored value, and what OK stores then.
TEST(Settings, WhatTheDialogMakesOfStoredValues)
{
    for (const OddCase &c : OddCases()) {
        DialogOutcome dialog = RunDialog(c.file == "-" ? nullptr : &c.file);
        ASSERT_TRUE(dialog.opened) << c.name;
        EXPECT_FALSE(dialog.crashed) << c.name;
        EXPECT_EQ(dialog.exitCode, 1) << c.name;
        EXPECT_EQ(dialog.text, c.dialogText) << c.name;
        EXPECT_EQ(dialog.checked, c.dialogChecked) << c.name;
        // The box is sent the value read, whatever it is; what the box makes
        // of it is the system's business.
        ASSERT_EQ(dialog.boxSets.size(), 1u) << c.name;
        ASSERT_EQ(dialog.boxSets[0].size(), 5u) << c.name;
        EXPECT_EQ(dialog.boxSets[0][1], std::to_string(IDC_PAINT)) << c.name;
        EXPECT_EQ(dialog.boxSets[0][2], "BM_SETCHECK") << c.name;
        EXPECT_EQ(uint32_t(std::strtoull(dialog.boxSets[0][3].c_str(), nullptr, 16)), uint32_t(c.showPaint))
            << c.name << ": " << dialog.boxSets[0][3];
        ASSERT_EQ(dialog.writes.size(), 2u) << c.name;
        EXPECT_EQ(dialog.writes[0][1], "\"Seconds\"") << c.name;
        EXPECT_EQ(dialog.writes[0][2], "\"" + std::string(c.okSeconds) + "\"") << c.name;
        EXPECT_EQ(dialog.writes[1][1], "\"Paint\"") << c.name;
        EXPECT_EQ(dialog.writes[1][2], "\"" + std::string(c.okPaint) + "\"") << c.name;
        // The show's reader then finds what OK stored.
        std::string stored = dialog.fileAfter;
        ShowOutcome show = RunShow(&stored, 600);
        EXPECT_EQ(show.seconds, INT(std::atoi(c.okSeconds))) << c.name;
        EXPECT_EQ(show.paint, INT(std::atoi(c.okPaint))) << c.name;
    }
}

// Cancel on every stored value leaves its bytes, whatever they are.
TEST(Settings, CancelKeepsAnyFileByteForByte)
{
    for (const OddCase &c : OddCases()) {
        if (c.file == "-")
            continue;
        DialogOutcome dialog = RunDialog(&c.file, User().Click(IDCANCEL));
        EXPECT_EQ(dialog.exitCode, 0) << c.name;
        EXPECT_TRUE(dialog.writes.empty()) << c.name;
        EXPECT_EQ(dialog.fileAfter, c.file) << c.name;
    }
}

// A control.ini saved with a byte order mark, as UTF-16 (little-endian) or
// as UTF-8: Wine 8's profile functions read both as text (measured with
// GetPrivateProfileIntA under wine64: Seconds 3, Paint 0 from either).
TEST(Settings, FileWithByteOrderMarkIsReadAsText)
{
    const std::string text = "[ScreenSaver.Vellomire]\r\nSeconds=3\r\nPaint=0\r\n";
    std::string utf16 = "\xFF\xFE";
    for (char c : text) {
        utf16 += c;
        utf16 += '\0';
    }
    const std::pair<const char *, std::string> files[] = {
        {"UTF-16LE", utf16},
        {"UTF-8", "\xEF\xBB\xBF" + text},
    };
    for (const auto &file : files) {
        ShowOutcome show = RunShow(&file.second, 3000);
        EXPECT_EQ(show.seconds, 3) << file.first;
        EXPECT_EQ(show.paint, 0) << file.first;
        DialogOutcome dialog = RunDialog(&file.second, User().Click(IDCANCEL));
        EXPECT_EQ(dialog.text, "3") << file.first;
        EXPECT_FALSE(dialog.checked) << file.first;
        EXPECT_EQ(dialog.fileAfter, file.second) << file.first;
    }
}

// ---------------------------------------------------------------- failing writes

// Restores a folder's permission bits when the test is done with it.
struct ModeGuard {
    std::string path;
    mode_t mode;
    ~ModeGuard()
    {
        if (!path.empty())
            chmod(path.c_str(), mode);
    }
};

// When control.ini cannot be written the dialog still ends with 1, nothing
// is reported, and the old file stays whole.
TEST(Settings, WritesThatFail)
{
    const std::string stored = WithSection("Seconds=7\r\nPaint=0\r\n");
    struct FailCase {
        const char *name;
        std::vector<int> failing;     // which WritePrivateProfileStringA calls fail
        std::string after;
    };
    const FailCase cases[] = {
        {"both writes fail", {1, 2}, stored},
        {"the Seconds write fails", {1}, WithSection("Seconds=7\r\nPaint=1\r\n")},
        {"the Paint write fails", {2}, WithSection("Seconds=35\r\nPaint=0\r\n")},
    };
    for (const FailCase &c : cases) {
        std::vector<int> failing = c.failing;
        DialogOutcome dialog =
            RunDialog(&stored, User().ToSeconds().Type("35").Click(IDC_PAINT).Click(IDOK),
                      sim::Config(), [failing] {
                          for (int nth : failing)
                              sim::FailCall("WritePrivateProfileStringA", nth);
                      });
        EXPECT_FALSE(dialog.crashed) << c.name;
        EXPECT_EQ(dialog.exitCode, 1) << c.name;
        EXPECT_EQ(vtest::CountCalls("WritePrivateProfileStringA"), 2) << c.name;
        EXPECT_EQ(dialog.fileAfter, c.after) << c.name;
        EXPECT_FALSE(vtest::Called("MessageBoxA")) << c.name;
    }
}

// A read-only control.ini, and a read-only Windows folder without one.
TEST(Settings, ReadOnlyFileAndFolder)
{
    const std::string stored = WithSection("Seconds=7\r\nPaint=0\r\n");
    for (bool folder : {false, true}) {
        ModeGuard guard{"", 0755};
        DialogOutcome dialog = RunDialog(folder ? nullptr : &stored, User().Click(IDC_PAINT).Click(IDOK),
                                         sim::Config(), [folder, &guard] {
                                             std::string dir = sim::WindowsDirectory();
                                             guard.path = folder ? dir : dir + "/control.ini";
                                             struct stat st {};
                                             ASSERT_EQ(stat(guard.path.c_str(), &st), 0);
                                             guard.mode = st.st_mode & 07777;
                                             chmod(guard.path.c_str(), folder ? 0555 : 0444);
                                         });
        const char *name = folder ? "read-only folder" : "read-only file";
        EXPECT_FALSE(dialog.crashed) << name;
        EXPECT_EQ(dialog.exitCode, 1) << name;
        std::vector<std::string> writes;
        for (const sim::Event &event : sim::Log())
            if (event.kind == sim::EventKind::Call && event.function == "WritePrivateProfileStringA")
                writes.push_back(event.text.substr(event.text.rfind(" = ")));
        EXPECT_EQ(writes, std::vector<std::string>({" = 0", " = 0"})) << name << ": both refused";
        EXPECT_EQ(dialog.fileExists, !folder) << name;
        if (!folder) {
            EXPECT_EQ(dialog.fileAfter, stored) << name;
        }
    }
}

// ---------------------------------------------------------------- the next show

// What OK stores is what the next show uses: its hold time and its way of
// painting, visible in its calls.
TEST(Settings, NextShowUsesWhatOkStored)
{
    char pattern[] = "/tmp/vellomire-settings-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    std::string dir = pattern;
    sim::Config base;
    base.windowsDir = dir;

    struct NextCase {
        const char *name;
        const char *typed;
        bool clickBox;     // the box starts ticked (no settings) or as the last case left it
        int hold;
        bool progressive;
    };
    const NextCase cases[] = {
        {"3 seconds, at once", "3", true, 3, false},
        {"2 seconds, slowly", "2", true, 2, true},
        {"field cleared: the show's default", "", false, 10, true},
    };
    unlink((dir + "/control.ini").c_str());
    for (const NextCase &c : cases) {
        User user;
        user.ToSeconds();
        if (*c.typed == '\0')
            user.Key(KeyBackspace);
        else
            user.Type(c.typed);
        if (c.clickBox)
            user.Click(IDC_PAINT);
        user.Click(IDOK);
        DialogOutcome dialog = RunDialog(nullptr, user, base);
        EXPECT_EQ(dialog.exitCode, 1) << c.name;
        ShowOutcome show = RunShow(nullptr, 3000 + uint64_t(c.hold) * 1000 + 500, base);
        EXPECT_EQ(show.holdSeconds, c.hold) << c.name;
        EXPECT_EQ(show.progressive, c.progressive) << c.name;
        EXPECT_GE(show.pictures, 2) << c.name;
    }
    unlink((dir + "/control.ini").c_str());
    rmdir(dir.c_str());
}

}  // namespace
