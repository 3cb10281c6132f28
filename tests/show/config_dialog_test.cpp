// The configuration dialog as a user meets it: what it shows of the stored
// settings, what OK, Cancel, Esc, Enter and the close box do to control.ini
// byte for byte, and the exit code each gives.
#include "host.h"
#include "dialog_user.h"
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
    bool exited = false;
    int32_t exitCode = -99;
    bool neededRescue = false;    // still open at the end of the test's time
    bool fileExists = false;
    std::string file;             // control.ini afterwards
    std::vector<std::vector<std::string>> writes;   // WritePrivateProfileStringA arguments
};

using User = vtest::DialogUser;

const uint64_t Opened = 300;   // the dialog is up
const uint64_t ActGap = 50;

// Starts a world with the given tail and control.ini (none when
// storedFile is null), opens the dialog and lets the user act.
DialogRun RunDialog(const std::string &tail, const std::string *storedFile, const User &user)
{
    vtest::StartWorld(tail);
    if (storedFile != nullptr)
        sim::WriteWindowsFile("control.ini", *storedFile);
    DialogRun run;
    sim::At(Opened, [&run] {
        HWND dialog = sim::ActiveDialog();
        if (dialog == nullptr)
            return;
        run.opened = true;
        run.shownText = sim::ItemText(dialog, IDC_SECONDS);
        run.shownChecked = sim::ItemChecked(dialog, IDC_PAINT);
    });
    vtest::ScheduleDialogUser(user, Opened, ActGap, &run.neededRescue);
    sim::ProcessResult result = vtest::RunProgram();
    run.exited = result.exited;
    run.exitCode = vtest::SignedExit(result);
    run.fileExists = sim::ReadWindowsFile("control.ini", &run.file);
    run.writes = vtest::CallArguments("WritePrivateProfileStringA");
    return run;
}

DialogRun RunDialog(const std::string *storedFile, const User &user)
{
    return RunDialog("", storedFile, user);
}

const User PressOk = User().Click(IDOK);
const User PressCancel = User().Click(IDCANCEL);

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
    User user;
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
        {"no settings, Esc", nullptr, User().Key(VK_ESCAPE), "20", true, 0,
         nullptr, nullptr, nullptr},
        {"no settings, close box", nullptr, User().CloseBox(), "20", true, 0,
         nullptr, nullptr, nullptr},
        {"12345 typed", nullptr,
         User().ToSeconds().Type("12345").Click(IDOK),
         "20", true, 1, "[ScreenSaver.Vellomire]\r\nSeconds=1234\r\nPaint=1\r\n", "1234", "1"},
        {"field cleared", nullptr,
         User().ToSeconds().Key(KeyBackspace).Click(IDOK),
         "20", true, 1, "[ScreenSaver.Vellomire]\r\nSeconds=\r\nPaint=1\r\n", "", "1"},
        {"paint 0 kept", paintOff.c_str(), PressOk, "7", false, 1, paintOff.c_str(), "7", "0"},
        {"paint 0 ticked", paintOff.c_str(),
         User().Click(IDC_PAINT).Click(IDOK),
         "7", false, 1, "[ScreenSaver.Vellomire]\r\nSeconds=7\r\nPaint=1\r\n", "7", "1"},
        {"paint 1 cleared", defaults.c_str(),
         User().Click(IDC_PAINT).Click(IDOK),
         "20", true, 1, "[ScreenSaver.Vellomire]\r\nSeconds=20\r\nPaint=0\r\n", "20", "0"},
        {"six digits shown whole, four stored", sixDigits.c_str(), PressOk, "123456", true, 1,
         "[ScreenSaver.Vellomire]\r\nSeconds=1234\r\nPaint=1\r\n", "1234", "1"},
        {"six digits, Cancel", sixDigits.c_str(), PressCancel, "123456", true, 0, sixDigits.c_str(),
         nullptr, nullptr},
        {"typed then Esc", paintOff.c_str(),
         User().ToSeconds().Type("99").Click(IDC_PAINT).Key(VK_ESCAPE),
         "7", false, 0, paintOff.c_str(), nullptr, nullptr},
        {"Enter in the field is OK", paintOff.c_str(),
         User().ToSeconds().Type("45").Key(VK_RETURN),
         "7", false, 1, "[ScreenSaver.Vellomire]\r\nSeconds=45\r\nPaint=0\r\n", "45", "0"},
        {"Enter on the box is OK", nullptr,
         User().ToSeconds().Key(VK_TAB).FocusIs(IDC_PAINT).Key(VK_SPACE).Key(VK_RETURN),
         "20", true, 1, "[ScreenSaver.Vellomire]\r\nSeconds=20\r\nPaint=0\r\n", "20", "0"},
        {"Enter at once", nullptr, User().Key(VK_RETURN), "20", true, 1,
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
    DialogRun run = RunDialog(nullptr, User().ToSeconds().Type("12345").Read(IDC_SECONDS, &typed).Click(IDOK));
    EXPECT_EQ(typed, "12345");
    EXPECT_EQ(run.writes, Writes("1234", "1"));
}

// OK writes both keys every time, also when nothing changed, Seconds first;
// the profile leaves a file that already holds these values untouched.
TEST(ConfigDialog, OkWritesBothKeysEveryTime)
{
    const std::string stored = Stored("20", "1");
    DialogRun run = RunDialog(&stored, PressOk);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.writes, Writes("20", "1"));
    EXPECT_EQ(run.file, stored);
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
        DialogRun run = RunDialog(&c.before, User().Click(IDC_PAINT).Click(IDOK));
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
    const std::vector<std::pair<const char *, User>> ways = {
        {"Cancel", PressCancel},
        {"Esc", User().Key(VK_ESCAPE)},
        {"close box", User().CloseBox()},
        {"changes, then Cancel",
         User().ToSeconds().Type("3").Click(IDC_PAINT).Click(IDCANCEL)},
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

// Messages that the dialog procedure is asked about, and what it answers.
struct Answer {
    const char *name;
    UINT message;
    WPARAM wParam;
    INT_PTR result;
    bool ends;
};

const Answer Answers[] = {
    {"a notification of the field", WM_COMMAND, FieldChanged, FALSE, false},
    {"the box clicked", WM_COMMAND, IDC_PAINT, FALSE, false},
    {"OK with a notification code", WM_COMMAND, OkWithCode, FALSE, false},
    {"another message", WM_TIMER, 1, FALSE, false},
    {"WM_CLOSE itself", WM_CLOSE, 0, FALSE, false},
    {"Cancel", WM_COMMAND, IDCANCEL, TRUE, true},
};
const UINT AskNow = WM_APP + 1;
std::vector<INT_PTR> AnswerResults;
std::vector<int> AnswerEnds;

// Stands between the dialog and ConfigDialogProc; once the dialog is up it
// puts the questions to the procedure from inside the program.
INT_PTR CALLBACK AskingProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != AskNow) {
        INT_PTR result = ConfigDialogProc(dialog, message, wParam, lParam);
        if (message == WM_INITDIALOG)
            PostMessageA(dialog, AskNow, 0, 0);
        return result;
    }
    for (const Answer &a : Answers) {
        size_t mark = vtest::LogMark();
        AnswerResults.push_back(ConfigDialogProc(dialog, a.message, a.wParam, 0));
        int endCalls = 0;
        for (const std::string &call : vtest::CallsSince(mark))
            endCalls += call == "EndDialog";
        AnswerEnds.push_back(endCalls);
    }
    return TRUE;
}

// The procedure's answers: TRUE for what it handles, FALSE for the rest,
// and IDOK / IDCANCEL only as whole wParam values.
TEST(ConfigDialog, ProcedureAnswers)
{
    AnswerResults.clear();
    AnswerEnds.clear();
    vtest::StartWorld("");
    sim::At(5000, [] {
        if (HWND dialog = sim::ActiveDialog())
            sim::PressCloseBox(dialog);
    });
    INT_PTR ended = -99;
    BOOL prepared = FALSE;
    sim::ProcessResult result = vtest::RunProgram([&] {
        HostState.instance = sim::ProgramInstance();
        prepared = PrepareConfigDialog(HostState.instance);
        ended = DialogBoxParamA(HostState.instance, MAKEINTRESOURCEA(IDD_CONFIG), NULL, AskingProc, 0);
        ExitProcess(0);
    });
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(prepared, TRUE);
    EXPECT_EQ(ended, 0) << "Cancel ends the dialog with 0";
    EXPECT_LT(sim::Elapsed(), 5000u) << "the dialog ended by itself";
    ASSERT_EQ(AnswerResults.size(), sizeof Answers / sizeof Answers[0]);
    for (size_t i = 0; i < AnswerResults.size(); ++i) {
        EXPECT_EQ(AnswerResults[i], Answers[i].result) << Answers[i].name;
        EXPECT_EQ(AnswerEnds[i], Answers[i].ends ? 1 : 0) << Answers[i].name;
    }
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
