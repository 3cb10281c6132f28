// The configuration dialog as a user meets it: what it shows of the stored
// settings, what OK, Cancel, Esc, Enter and the close box do to control.ini
// byte for byte, and the exit code each gives.
#include "host.h"
#include "log_tables.h"
#include "resource.h"
#include "saver_process.h"
#include "show.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

const char Section[] = "[ScreenSaver.Vellomire]\r\n";
// Keys and notifications the platform header leaves out.
const int KeyBackspace = 0x08;
const WPARAM FieldChanged = WPARAM(0x0300) << 16 | IDC_SECONDS;   // EN_CHANGE from the field
const WPARAM OkWithCode = WPARAM(1) << 16 | IDOK;

// What a dialog run showed and left behind.
struct DialogRun {
    bool opened = false;
    std::string shownText;        // the seconds field when the dialog opened
    bool shownChecked = false;    // the paint box when it opened
    std::string textBeforeEnd;    // the seconds field after the user's input
    bool exited = false;
    int32_t exitCode = -99;
    bool neededRescue = false;    // still open at the end of the test's time
    bool fileExists = false;
    std::string file;             // control.ini afterwards
    std::vector<std::vector<std::string>> writes;   // WritePrivateProfileStringA arguments
};

// The user's part, given the dialog.
using UserInput = std::function<void(HWND)>;

// Starts a world with the given tail and control.ini (none when
// storedFile is null), opens the dialog and lets the user act.
DialogRun RunDialog(const std::string &tail, const std::string *storedFile, const UserInput &user)
{
    vtest::StartWorld(tail);
    if (storedFile != nullptr)
        sim::WriteWindowsFile("control.ini", *storedFile);
    DialogRun run;
    sim::At(300, [&run, user] {
        HWND dialog = sim::ActiveDialog();
        if (dialog == nullptr)
            return;
        run.opened = true;
        run.shownText = sim::ItemText(dialog, IDC_SECONDS);
        run.shownChecked = sim::ItemChecked(dialog, IDC_PAINT);
        user(dialog);
    });
    sim::At(5000, [&run] {
        if (HWND dialog = sim::ActiveDialog()) {
            run.neededRescue = true;
            sim::PressCloseBox(dialog);
        }
    });
    sim::ProcessResult result = vtest::RunProgram();
    run.exited = result.exited;
    run.exitCode = vtest::SignedExit(result);
    run.fileExists = sim::ReadWindowsFile("control.ini", &run.file);
    run.writes = vtest::CallArguments("WritePrivateProfileStringA");
    return run;
}

DialogRun RunDialog(const std::string *storedFile, const UserInput &user)
{
    return RunDialog("", storedFile, user);
}

// The user's acts, as input the system turns into messages.
void PressOk(HWND dialog) { sim::ClickItem(dialog, IDOK); }
void PressCancel(HWND dialog) { sim::ClickItem(dialog, IDCANCEL); }

// Tab from the OK button (the first tab stop, focused at the start) past
// Cancel to the seconds field, which selects its whole text.
void FocusSeconds(HWND dialog)
{
    sim::KeyPress(VK_TAB);
    sim::KeyPress(VK_TAB);
    EXPECT_EQ(sim::FocusWindow(), sim::DialogItem(dialog, IDC_SECONDS));
}

std::string Stored(const std::string &seconds, const std::string &paint)
{
    return std::string(Section) + "Seconds=" + seconds + "\r\nPaint=" + paint + "\r\n";
}

// The two writes of an OK, in their order.
std::vector<std::vector<std::string>> Writes(const std::string &seconds, const std::string &paint)
{
    return {{"\"ScreenSaver.Vellomire\"", "\"Seconds\"", "\"" + seconds + "\"", "\"control.ini\""},
            {"\"ScreenSaver.Vellomire\"", "\"Paint\"", "\"" + paint + "\"", "\"control.ini\""}};
}

struct UserCase {
    const char *name;
    const char *stored;        // control.ini before; null: no file
    UserInput user;
    const char *shownText;
    bool shownChecked;
    int32_t exitCode;
    const char *fileAfter;     // null: no file
    const char *writtenSeconds;   // null: nothing written
    const char *writtenPaint;
};

// The user's ways through the dialog, each held against the stored bytes.
TEST(ConfigDialog, WhatTheUserDoesAndWhatIsStored)
{
    const std::string defaults = Stored("20", "1");
    const std::string paintOff = Stored("7", "0");
    const std::string sixDigits = Stored("123456", "1");
    const UserCase cases[] = {
        {"no settings, OK", nullptr, PressOk, "20", true, 1, defaults.c_str(), "20", "1"},
        {"no settings, Cancel", nullptr, PressCancel, "20", true, 0, nullptr, nullptr, nullptr},
        {"no settings, Esc", nullptr, [](HWND) { sim::KeyPress(VK_ESCAPE); }, "20", true, 0,
         nullptr, nullptr, nullptr},
        {"no settings, close box", nullptr, [](HWND d) { sim::PressCloseBox(d); }, "20", true, 0,
         nullptr, nullptr, nullptr},
        {"12345 typed", nullptr,
         [](HWND d) {
             FocusSeconds(d);
             sim::TypeText("12345");
             PressOk(d);
         },
         "20", true, 1, "[ScreenSaver.Vellomire]\r\nSeconds=1234\r\nPaint=1\r\n", "1234", "1"},
        {"field cleared", nullptr,
         [](HWND d) {
             FocusSeconds(d);
             sim::KeyPress(KeyBackspace);
             PressOk(d);
         },
         "20", true, 1, "[ScreenSaver.Vellomire]\r\nSeconds=\r\nPaint=1\r\n", "", "1"},
        {"paint 0 kept", paintOff.c_str(), PressOk, "7", false, 1, paintOff.c_str(), "7", "0"},
        {"paint 0 ticked", paintOff.c_str(),
         [](HWND d) {
             sim::ClickItem(d, IDC_PAINT);
             PressOk(d);
         },
         "7", false, 1, "[ScreenSaver.Vellomire]\r\nSeconds=7\r\nPaint=1\r\n", "7", "1"},
        {"paint 1 cleared", defaults.c_str(),
         [](HWND d) {
             sim::ClickItem(d, IDC_PAINT);
             PressOk(d);
         },
         "20", true, 1, "[ScreenSaver.Vellomire]\r\nSeconds=20\r\nPaint=0\r\n", "20", "0"},
        {"six digits shown whole, four stored", sixDigits.c_str(), PressOk, "123456", true, 1,
         "[ScreenSaver.Vellomire]\r\nSeconds=1234\r\nPaint=1\r\n", "1234", "1"},
        {"six digits, Cancel", sixDigits.c_str(), PressCancel, "123456", true, 0, sixDigits.c_str(),
         nullptr, nullptr},
        {"typed then Esc", paintOff.c_str(),
         [](HWND d) {
             FocusSeconds(d);
             sim::TypeText("99");
             sim::ClickItem(d, IDC_PAINT);
             sim::KeyPress(VK_ESCAPE);
         },
         "7", false, 0, paintOff.c_str(), nullptr, nullptr},
        {"Enter in the field is OK", paintOff.c_str(),
         [](HWND d) {
             FocusSeconds(d);
             sim::TypeText("45");
             sim::KeyPress(VK_RETURN);
         },
         "7", false, 1, "[ScreenSaver.Vellomire]\r\nSeconds=45\r\nPaint=0\r\n", "45", "0"},
        {"Enter on the box is OK", nullptr,
         [](HWND d) {
             FocusSeconds(d);
             sim::KeyPress(VK_TAB);
             EXPECT_EQ(sim::FocusWindow(), sim::DialogItem(d, IDC_PAINT));
             sim::KeyPress(VK_SPACE);
             sim::KeyPress(VK_RETURN);
         },
         "20", true, 1, "[ScreenSaver.Vellomire]\r\nSeconds=20\r\nPaint=0\r\n", "20", "0"},
        {"Enter at once", nullptr, [](HWND) { sim::KeyPress(VK_RETURN); }, "20", true, 1,
         defaults.c_str(), "20", "1"},
    };
    for (const UserCase &c : cases) {
        std::string stored = c.stored ? c.stored : "";
        DialogRun run = RunDialog(c.stored ? &stored : nullptr, c.user);
        ASSERT_TRUE(run.opened) << c.name;
        EXPECT_FALSE(run.neededRescue) << c.name << ": the dialog stayed open";
        EXPECT_TRUE(run.exited) << c.name;
        EXPECT_EQ(run.shownText, c.shownText) << c.name;
        EXPECT_EQ(run.shownChecked, c.shownChecked) << c.name;
        EXPECT_EQ(run.exitCode, c.exitCode) << c.name;
        EXPECT_EQ(run.fileExists, c.fileAfter != nullptr) << c.name;
        if (c.fileAfter != nullptr) {
            EXPECT_EQ(run.file, c.fileAfter) << c.name;
        }
        if (c.writtenSeconds == nullptr) {
            EXPECT_TRUE(run.writes.empty()) << c.name << ": nothing is written";
        } else {
            EXPECT_EQ(run.writes, Writes(c.writtenSeconds, c.writtenPaint)) << c.name;
        }
    }
}

// The field takes any length while typing; only OK cuts it to four.
TEST(ConfigDialog, TheFieldHoldsMoreThanItStores)
{
    std::string typed;
    DialogRun run = RunDialog(nullptr, [&typed](HWND d) {
        FocusSeconds(d);
        sim::TypeText("12345");
        typed = sim::ItemText(d, IDC_SECONDS);
        PressOk(d);
    });
    EXPECT_EQ(typed, "12345");
    EXPECT_EQ(run.writes, Writes("1234", "1"));
}

// OK writes both keys every time, also when nothing changed, Seconds first;
// the profile leaves a file whose values are already these untouched.
TEST(ConfigDialog, OkWritesBothKeysEveryTime)
{
    const std::string stored = Stored("20", "1");
    for (int round = 0; round < 2; ++round) {
        DialogRun run = RunDialog(&stored, PressOk);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.writes, Writes("20", "1")) << "round " << round;
        EXPECT_EQ(run.file, stored);
    }
}

// Other sections, comments and keys of control.ini survive an OK, byte for
// byte; only the two values of the saver's own section change.
TEST(ConfigDialog, OtherContentOfTheFileIsKept)
{
    struct FileCase {
        const char *name;
        std::string before;
        std::string after;
    };
    const FileCase cases[] = {
        {"sections before and after",
         "[drivers.desktop]\r\nwallpaper=(none)\r\n"
         "[ScreenSaver.Vellomire]\r\nSeconds=7\r\nPaint=1\r\n"
         "[ScreenSaver.Other]\r\nSeconds=3\r\n",
         "[drivers.desktop]\r\nwallpaper=(none)\r\n"
         "[ScreenSaver.Vellomire]\r\nSeconds=7\r\nPaint=0\r\n"
         "[ScreenSaver.Other]\r\nSeconds=3\r\n"},
        {"comments and other keys in the section",
         "; written by hand\r\n[ScreenSaver.Vellomire]\r\n; hold time\r\nSeconds=7\r\n"
         "Colour=blue\r\nPaint=1\r\nTrailing\r\n",
         "; written by hand\r\n[ScreenSaver.Vellomire]\r\n; hold time\r\nSeconds=7\r\n"
         "Colour=blue\r\nPaint=0\r\nTrailing\r\n"},
        {"section missing: added at the end",
         "[Patterns]\r\n(None)=(None)\r\n",
         "[Patterns]\r\n(None)=(None)\r\n[ScreenSaver.Vellomire]\r\nSeconds=20\r\nPaint=0\r\n"},
        {"one key missing: added at the section's end",
         "[ScreenSaver.Vellomire]\r\nPaint=1\r\n[Other]\r\nx=1\r\n",
         "[ScreenSaver.Vellomire]\r\nPaint=0\r\nSeconds=20\r\n[Other]\r\nx=1\r\n"},
    };
    for (const FileCase &c : cases) {
        DialogRun run = RunDialog(&c.before, [](HWND d) {
            sim::ClickItem(d, IDC_PAINT);
            PressOk(d);
        });
        EXPECT_EQ(run.exitCode, 1) << c.name;
        EXPECT_EQ(run.file, c.after) << c.name;
    }
}

// Cancel, Esc and the close box leave an unusual file exactly as it was.
TEST(ConfigDialog, CancelLeavesTheFileAsItWas)
{
    const std::string stored =
        "\r\n\r\n; blank lines, spaces around '=' and LF-only lines\n[ScreenSaver.Vellomire]\n"
        "  Seconds = 7  \r\n\r\nPaint=0\r\n[x]\r\n";
    const std::vector<std::pair<const char *, UserInput>> ways = {
        {"Cancel", PressCancel},
        {"Esc", [](HWND) { sim::KeyPress(VK_ESCAPE); }},
        {"close box", [](HWND d) { sim::PressCloseBox(d); }},
        {"changes, then Cancel",
         [](HWND d) {
             sim::ClickItem(d, IDC_PAINT);
             FocusSeconds(d);
             sim::TypeText("3");
             PressCancel(d);
         }},
    };
    for (const auto &way : ways) {
        DialogRun run = RunDialog(&stored, way.second);
        EXPECT_EQ(run.exitCode, 0) << way.first;
        EXPECT_EQ(run.shownText, "7") << way.first;
        EXPECT_FALSE(run.shownChecked) << way.first;
        EXPECT_EQ(run.file, stored) << way.first;
        EXPECT_TRUE(run.writes.empty()) << way.first;
    }
}

// The dialog's owner: the foreground window for C, none for an empty tail.
TEST(ConfigDialog, OwnerByCommandLine)
{
    for (const char *tail : {"", "/c", "-C"}) {
        vtest::StartWorld(tail);
        HWND foreground = sim::Deactivate();
        sim::At(300, [] { sim::KeyPress(VK_ESCAPE); });
        sim::ProcessResult result = vtest::RunProgram();
        EXPECT_EQ(vtest::SignedExit(result), 0) << tail;
        auto calls = vtest::CallArguments("DialogBoxParamA");
        ASSERT_EQ(calls.size(), 1u) << tail;
        ASSERT_GE(calls[0].size(), 3u) << tail;
        bool owned = *tail != '\0';
        EXPECT_EQ(calls[0][2], owned ? sim::WindowName(foreground) : "null") << tail;
        EXPECT_EQ(vtest::Called("GetForegroundWindow"), owned) << tail;
    }
}

// The procedure's answers: TRUE for what it handles, FALSE for the rest,
// and IDOK / IDCANCEL only as whole wParam values.
TEST(ConfigDialog, ProcedureAnswers)
{
    struct Answer {
        const char *name;
        UINT message;
        WPARAM wParam;
        INT_PTR result;
        bool ends;
    };
    const Answer answers[] = {
        {"a notification of the field", WM_COMMAND, FieldChanged, FALSE, false},
        {"the box clicked", WM_COMMAND, IDC_PAINT, FALSE, false},
        {"OK with a notification code", WM_COMMAND, OkWithCode, FALSE, false},
        {"another message", WM_TIMER, 1, FALSE, false},
        {"WM_CLOSE itself", WM_CLOSE, 0, FALSE, false},
        {"Cancel", WM_COMMAND, IDCANCEL, TRUE, true},
    };
    std::vector<INT_PTR> results;
    std::vector<int> ends;
    vtest::StartWorld("");
    sim::At(300, [&] {
        HWND dialog = sim::ActiveDialog();
        ASSERT_NE(dialog, nullptr);
        for (const Answer &a : answers) {
            size_t mark = vtest::LogMark();
            results.push_back(ConfigDialogProc(dialog, a.message, a.wParam, 0));
            int endCalls = 0;
            for (const std::string &call : vtest::CallsSince(mark))
                endCalls += call == "EndDialog";
            ends.push_back(endCalls);
        }
    });
    sim::ProcessResult result = vtest::RunProgram();
    EXPECT_EQ(vtest::SignedExit(result), 0);
    ASSERT_EQ(results.size(), sizeof answers / sizeof answers[0]);
    for (size_t i = 0; i < results.size(); ++i) {
        EXPECT_EQ(results[i], answers[i].result) << answers[i].name;
        EXPECT_EQ(ends[i], answers[i].ends ? 1 : 0) << answers[i].name;
    }
    EXPECT_EQ(PrepareConfigDialog(HostState.instance), TRUE);
}

// The dialog's start: the names loaded, the two reads with the dialog's
// defaults, the field set and the box checked, in this order.
TEST(ConfigDialog, OpeningCalls)
{
    const std::string stored = Stored("9", "0");
    DialogRun run = RunDialog(&stored, PressCancel);
    std::vector<std::string> calls = vtest::CallsSince(0, true);
    const std::vector<std::string> expected = {
        "DialogBoxParamA(",
        "LoadStringA(",
        "LoadStringA(",
        "GetPrivateProfileIntA(\"ScreenSaver.Vellomire\", \"Seconds\", 20, \"control.ini\") = 9",
        "SetDlgItemTextA(",
        "GetPrivateProfileIntA(\"ScreenSaver.Vellomire\", \"Paint\", 1, \"control.ini\") = 0",
        "SendDlgItemMessageA(",
        "EndDialog(",
    };
    // Each expected entry is the start of a logged call, in this order.
    size_t at = 0;
    std::vector<std::string> matched;
    for (const std::string &call : calls) {
        if (at < expected.size() && call.compare(0, expected[at].size(), expected[at]) == 0) {
            matched.push_back(expected[at]);
            ++at;
        }
    }
    EXPECT_TRUE(vtest::SameSequence(expected, matched));
    EXPECT_TRUE(vtest::Called("SetDlgItemTextA", "\"9\""));
    EXPECT_EQ(run.shownText, "9");
    EXPECT_FALSE(run.shownChecked);
}

}  // namespace
