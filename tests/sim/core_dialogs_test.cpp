// Modal dialogs: the messages of opening, the place of the dialog, the
// keyboard interface (Tab, Enter, Esc, Space), typing into a number field,
// clicks on controls, the close box, the owner disabled and reactivated,
// and the dialog item functions' buffer rules.
#include "core_support.h"
#include "sim_internal.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using coretest::Posted;
using coretest::Sent;

// Dialog 100 of tests/sim/data/dialogs.rc: OK (1), Cancel (2), a label, the
// edit field and the check box.
const int kEdit = 10;
const int kCheck = 11;

// What the test's dialog procedure saw and did.
struct Record {
    std::vector<WPARAM> clicks;    // WM_COMMAND with BN_CLICKED, whole wParam
    std::string textAtOk;          // GetDlgItemTextA of the edit field, size 5, at IDOK
    UINT countAtOk = 0;
    UINT checkAtOk = 0;
    bool ownerDisabled = false;
    INT_PTR initAnswer = TRUE;
    bool endInInit = false;
};
Record record;

INT_PTR CALLBACK TestDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        if (HWND owner = GetParent(dialog)) record.ownerDisabled = (sim::WindowStyle(owner) & WS_DISABLED) != 0;
        if (record.endInInit) EndDialog(dialog, 7);
        return record.initAnswer;
    case WM_COMMAND:
        if (HIWORD(wParam) != BN_CLICKED) return FALSE;
        record.clicks.push_back(wParam);
        if (LOWORD(wParam) == IDOK) {
            char buffer[5];
            record.countAtOk = GetDlgItemTextA(dialog, kEdit, buffer, sizeof buffer);
            record.textAtOk = buffer;
            record.checkAtOk = IsDlgButtonChecked(dialog, kCheck);
            EndDialog(dialog, 1);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, 2);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

void DialogWorld() {
    sim::Config config;
    config.resourceFile = SIM_TEST_RESOURCE_FILE;
    config.cursor = {1000, 760};
    coretest::NewWorld(config);
    record = Record();
}

INT_PTR RunDialog(HWND owner = nullptr) {
    INT_PTR result = -99;
    sim::ProcessResult run = coretest::Run([&] {
        result = DialogBoxParamA(sim::ProgramInstance(), MAKEINTRESOURCE(100), owner, TestDialogProc, 77);
        ExitProcess(0);
    });
    EXPECT_TRUE(run.exited) << run.hangReason;
    return result;
}

// DialogBoxParamA with no owner: the procedure's messages up to the first paint.
TEST(CoreDialog, OpeningMessagesPlaceAndFocus) {
    DialogWorld();
    HWND dialog = nullptr, focus = nullptr;
    RECT window = {}, edit = {};
    sim::At(50, [&] {
        dialog = sim::ActiveDialog();
        focus = sim::FocusWindow();
        window = sim::WindowScreenRect(dialog);
        edit = sim::DialogItemRect(dialog, kEdit);
        sim::KeyPress(VK_ESCAPE);
    });
    EXPECT_EQ(RunDialog(), 2);
    // Pixels per 4 x 8 dialog units of the template's font.
    const sim::detail::DialogTemplate *t = sim::detail::FindDialogTemplate(MAKEINTRESOURCE(100));
    ASSERT_NE(t, nullptr);
    int bx = 0, by = 0;
    sim::detail::DialogBaseUnits(*t, &bx, &by);
    auto px = [bx](int units) { return (units * bx + 2) / 4; };
    auto py = [by](int units) { return (units * by + 4) / 8; };
    std::vector<coretest::Msg> opening = coretest::MessagesSinceExcept(
        0, {WM_CTLCOLORBTN, WM_CTLCOLORSTATIC, WM_CTLCOLOREDIT, WM_CTLCOLORDLG, WM_COMMAND});
    opening.resize(std::min<size_t>(opening.size(), 11));
    EXPECT_TRUE(coretest::SameMessages(
        {Sent("w1", WM_SETFONT), Sent("w1", WM_INITDIALOG, WPARAM(uintptr_t(sim::WindowByIndex(2)))),
         // Activated by the focus before it is shown: not yet in front.
         Sent("w1", WM_ACTIVATEAPP, 1), Sent("w1", WM_NCACTIVATE, 0), Sent("w1", WM_ACTIVATE, WA_ACTIVE),
         Sent("w1", WM_SHOWWINDOW, 1), Sent("w1", WM_WINDOWPOSCHANGING), Sent("w1", WM_NCPAINT),
         Sent("w1", WM_ERASEBKGND), Sent("w1", WM_WINDOWPOSCHANGED), Posted("w1", WM_PAINT)},
        opening));
    EXPECT_EQ(focus, sim::WindowByIndex(2));   // the first tab stop: OK
    EXPECT_EQ(sim::WindowClass(dialog), "#32770");
    EXPECT_EQ(sim::WindowTitle(dialog), "Test");
    // The client area sits at (10, 20) units from the screen's origin, inside
    // a 3-pixel frame and below a 19-pixel caption.
    EXPECT_EQ(window.left, px(10) - 3);
    EXPECT_EQ(window.top, py(20) - 22);
    EXPECT_EQ(window.right - window.left, px(160) + 6);
    EXPECT_EQ(window.bottom - window.top, py(80) + 25);
    EXPECT_EQ(edit.left, px(50));
    EXPECT_EQ(edit.top, py(5));
    EXPECT_EQ(edit.right, px(50) + px(40));
    EXPECT_EQ(edit.bottom, py(5) + py(12));
    EXPECT_EQ(record.clicks, std::vector<WPARAM>{IDCANCEL});
    EXPECT_EQ(sim::Live().windows, 0);
}

TEST(CoreDialog, KeyboardInterface) {
    struct Case {
        const char *name;
        std::function<void()> keys;
        INT_PTR result;
        std::vector<WPARAM> clicks;
        std::string text;
        UINT count;
        UINT check;
    };
    auto tabs = [](int n) {
        for (int i = 0; i < n; ++i) sim::KeyPress(VK_TAB);
    };
    const std::vector<Case> cases = {
        {"enter on the default button", [] { sim::KeyPress(VK_RETURN); }, 1, {IDOK}, "", 0, 0},
        {"escape", [] { sim::KeyPress(VK_ESCAPE); }, 2, {IDCANCEL}, "", 0, 0},
        {"a focused push button is the default one",
         [&] {
             tabs(1);
             sim::KeyPress(VK_RETURN);
         },
         2, {IDCANCEL}, "", 0, 0},
        {"shift tab goes backwards round the dialog",
         [&] {
             sim::KeyDown(VK_SHIFT);
             tabs(1);   // from OK to the check box
             sim::KeyUp(VK_SHIFT);
             sim::KeyPress(VK_SPACE);
             sim::KeyPress(VK_RETURN);   // not a push button: the dialog's default, OK
         },
         1, {MAKELONG(kCheck, BN_CLICKED), IDOK}, "", 0, 1},
        {"digits only, at most size - 1 read back",
         [&] {
             tabs(2);   // the field: its text is selected
             sim::TypeText("12a3 45");
             sim::KeyPress(0x08);   // backspace
             sim::KeyPress(VK_RETURN);
         },
         1, {IDOK}, "1234", 4, 0},
        {"space on a push button clicks it",
         [&] {
             tabs(1);
             sim::KeyPress(VK_SPACE);
         },
         2, {IDCANCEL}, "", 0, 0},
    };
    for (const Case &c : cases) {
        DialogWorld();
        sim::At(50, [&c] {
            if (HWND dialog = sim::ActiveDialog()) SetDlgItemTextA(dialog, kEdit, "20");
        });
        sim::At(60, c.keys);
        EXPECT_EQ(RunDialog(), c.result) << c.name;
        EXPECT_EQ(record.clicks, c.clicks) << c.name;
        if (c.result == 1) {
            EXPECT_EQ(record.textAtOk, c.text.empty() ? "20" : c.text) << c.name;
            EXPECT_EQ(record.countAtOk, c.text.empty() ? 2u : c.count) << c.name;
            EXPECT_EQ(record.checkAtOk, c.check) << c.name;
        }
    }
}

TEST(CoreDialog, ClicksOnControlsAndTheCloseBox) {
    DialogWorld();
    HWND dialog = nullptr;
    bool checked = false;
    sim::At(50, [&] {
        dialog = sim::ActiveDialog();
        sim::ClickItem(dialog, kCheck);
    });
    sim::At(60, [&] {
        checked = sim::ItemChecked(dialog, kCheck);
        sim::ClickItem(dialog, IDOK);
    });
    EXPECT_EQ(RunDialog(), 1);
    EXPECT_TRUE(checked);
    EXPECT_EQ(record.clicks, (std::vector<WPARAM>{MAKELONG(kCheck, BN_CLICKED), IDOK}));
    EXPECT_EQ(record.checkAtOk, 1u);

    // The close box: SC_CLOSE, then WM_CLOSE, which the dialog manager turns
    // into a posted IDCANCEL because the procedure leaves it alone.
    DialogWorld();
    size_t mark = 0;
    sim::At(50, [&] {
        mark = coretest::LogMark();
        sim::PressCloseBox(sim::ActiveDialog());
    });
    EXPECT_EQ(RunDialog(), 2);
    std::vector<coretest::Msg> closing = coretest::MessagesSince(mark);
    closing.resize(std::min<size_t>(closing.size(), 4));
    EXPECT_TRUE(coretest::SameMessages({Posted("w1", 0x00A1 /* WM_NCLBUTTONDOWN */), Sent("w1", WM_SYSCOMMAND, SC_CLOSE),
                                        Sent("w1", WM_CLOSE), Posted("w1", WM_COMMAND, IDCANCEL)},
                                       closing));
}

TEST(CoreDialog, OwnerIsDisabledWhileModalAndActiveAgainAfter) {
    DialogWorld();
    HWND owner = nullptr;
    RECT window = {};
    sim::At(50, [&] {
        window = sim::WindowScreenRect(sim::ActiveDialog());
        sim::KeyPress(VK_RETURN);
    });
    size_t afterDialog = 0;
    coretest::Run([&] {
        coretest::RegisterRecordingClass("Rec");
        owner = CreateWindowExA(0, "Rec", "Owner", WS_POPUP | WS_VISIBLE, 100, 50, 600, 400, nullptr, nullptr,
                                sim::ProgramInstance(), nullptr);
        size_t mark = coretest::LogMark();
        EXPECT_EQ(DialogBoxParamA(sim::ProgramInstance(), MAKEINTRESOURCE(100), owner, TestDialogProc, 0), 1);
        afterDialog = coretest::LogMark();
        std::vector<coretest::Msg> toOwner;
        for (const coretest::Msg &m : coretest::MessagesSince(mark))
            if (m.window == "w1" && m.message != WM_PAINT && m.message != WM_ERASEBKGND && m.message != WM_NCHITTEST &&
                m.message != WM_SETCURSOR && m.message != WM_MOUSEMOVE)
                toOwner.push_back(m);
        EXPECT_TRUE(coretest::SameMessages(
            {Sent("w1", 0x001F /* WM_CANCELMODE */), Sent("w1", WM_KILLFOCUS), Sent("w1", WM_ENABLE, 0),
             Sent("w1", WM_NCACTIVATE, 0), Sent("w1", WM_ACTIVATE, WA_INACTIVE),
             Sent("w1", 0x0121 /* WM_ENTERIDLE */, 0 /* MSGF_DIALOGBOX */), Sent("w1", WM_ENABLE, 1),
             Sent("w1", WM_NCACTIVATE, 1), Sent("w1", WM_ACTIVATE, WA_ACTIVE), Sent("w1", WM_SETFOCUS)},
            toOwner));
        EXPECT_EQ(GetForegroundWindow(), owner);
        EXPECT_EQ(GetFocus(), owner);
        ExitProcess(0);
    });
    EXPECT_TRUE(record.ownerDisabled);
    EXPECT_EQ(sim::WindowStyle(owner) & WS_DISABLED, 0u);
    // Placed from the owner's client origin, not centred.
    const sim::detail::DialogTemplate *t = sim::detail::FindDialogTemplate(MAKEINTRESOURCE(100));
    ASSERT_NE(t, nullptr);
    int bx = 0, by = 0;
    sim::detail::DialogBaseUnits(*t, &bx, &by);
    EXPECT_EQ(window.left, 100 + (10 * bx + 2) / 4 - 3);
    EXPECT_EQ(window.top, 50 + (20 * by + 4) / 8 - 22);
    EXPECT_GT(afterDialog, 0u);
}

// The Display control panel goes away while its dialog waits for input: the
// owner's end takes the dialog with it, and the modal loop ends with 0, as
// Wine's does when its dialog is no longer a window.
TEST(CoreDialog, DialogEndsWithItsOutsideOwner) {
    DialogWorld();
    HWND owner = sim::CreateOutsideWindow("Display Properties", 400, 300);
    HWND dialog = nullptr;
    sim::At(50, [&] {
        dialog = sim::ActiveDialog();
        sim::DestroyFromOutside(owner);
    });
    EXPECT_EQ(RunDialog(owner), 0);
    EXPECT_NE(dialog, nullptr);
    EXPECT_EQ(sim::Elapsed(), 50u) << "the loop ends when the dialog goes, not later";
}

TEST(CoreDialog, FailuresAndEndingInInitDialog) {
    // No such template.
    DialogWorld();
    coretest::Run([&] {
        SetLastError(0);
        EXPECT_EQ(DialogBoxParamA(sim::ProgramInstance(), MAKEINTRESOURCE(101), nullptr, TestDialogProc, 0), -1);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_RESOURCE_NAME_NOT_FOUND));
        EXPECT_EQ(sim::Live().windows, 0);
        ExitProcess(0);
    });
    // EndDialog inside WM_INITDIALOG: never shown, the result comes back.
    DialogWorld();
    record.endInInit = true;
    EXPECT_EQ(RunDialog(), 7);
    for (const sim::Event &e : sim::Log()) EXPECT_NE(e.message, UINT(WM_SHOWWINDOW)) << sim::FormatEvent(e);
    // A dialog that nobody answers waits forever: the run ends as hung.
    DialogWorld();
    sim::ProcessResult run = coretest::Run([&] {
        DialogBoxParamA(sim::ProgramInstance(), MAKEINTRESOURCE(100), nullptr, TestDialogProc, 0);
    });
    EXPECT_TRUE(run.hung);
    EXPECT_NE(run.hangReason.find("idle forever"), std::string::npos) << run.hangReason;
}

TEST(CoreDialog, ItemFunctions) {
    DialogWorld();
    sim::At(50, [] {
        HWND dialog = sim::ActiveDialog();
        char buffer[8] = "xxxxxxx";
        EXPECT_TRUE(SetDlgItemTextA(dialog, kEdit, "123456789"));   // the field takes any text set
        EXPECT_EQ(GetDlgItemTextA(dialog, kEdit, buffer, 8), 7u);
        EXPECT_STREQ(buffer, "1234567");
        EXPECT_EQ(GetDlgItemTextA(dialog, kEdit, buffer, 1), 0u);
        EXPECT_STREQ(buffer, "");
        buffer[0] = 'x';
        EXPECT_EQ(GetDlgItemTextA(dialog, kEdit, buffer, 0), 0u);
        EXPECT_EQ(buffer[0], 'x');   // size 0: nothing written
        EXPECT_EQ(GetDlgItemTextA(dialog, 99, buffer, 8), 0u);
        EXPECT_STREQ(buffer, "");
        EXPECT_FALSE(SetDlgItemTextA(dialog, 99, "x"));
        EXPECT_EQ(GetDlgItem(dialog, 99), nullptr);
        EXPECT_EQ(sim::ItemText(dialog, IDOK), "OK");
        // Check states: a two-state box keeps 0 or 1, a push button none.
        const std::pair<WPARAM, UINT> checks[] = {{1, 1}, {0, 0}, {2, 1}, {0xFFFFFFFF, 1}, {BST_UNCHECKED, 0}};
        for (const auto &c : checks) {
            SendDlgItemMessageA(dialog, kCheck, BM_SETCHECK, c.first, 0);
            EXPECT_EQ(IsDlgButtonChecked(dialog, kCheck), c.second) << c.first;
            EXPECT_EQ(SendDlgItemMessageA(dialog, kCheck, BM_GETCHECK, 0, 0), LRESULT(c.second)) << c.first;
        }
        EXPECT_TRUE(CheckDlgButton(dialog, kCheck, BST_CHECKED));
        EXPECT_TRUE(sim::ItemChecked(dialog, kCheck));
        SendDlgItemMessageA(dialog, IDOK, BM_SETCHECK, 1, 0);
        EXPECT_EQ(IsDlgButtonChecked(dialog, IDOK), 0u);
        sim::KeyPress(VK_ESCAPE);
    });
    EXPECT_EQ(RunDialog(), 2);
}

}  // namespace
