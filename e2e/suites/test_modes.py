"""The saver's command-line modes, started with exact bytes through the
launcher so that every 32-bit exit code is seen whole: command lines that
select nothing or an unusable preview, the password change on both families,
the spellings that run the saver, show the dialog with or without an owner,
and run a preview in a given window. Runs on the host's Wine and, for the
32-bit build, in the i386 machine."""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "harness"))
import suite  # noqa: E402
from dialog import DIALOG_POS_DLU, DialogCase, muldiv  # noqa: E402
from session import SAVER_CLASS, settings  # noqa: E402
from wine_env import SCREEN_H, SCREEN_W  # noqa: E402

MINUS_ONE = 0xFFFFFFFF

# Command lines that must end at once with -1 and make no window.
REFUSED = [
    b"vellomire.scr /x",               # an unknown letter
    b"vellomire.scr 5",                # a digit
    b"vellomire.scr /p",               # preview without a handle
    b"vellomire.scr /p 0",             # preview of no window
    b"vellomire.scr /p abc",           # a handle that is no number
    b"vellomire.scr /p 99999",         # a number that is no window
    b"vellomire.scr /L 99999",         # L is P
    b"vellomire.scr\t/\ts",            # a tab between slash and letter
    b"vellomire.scr /\xe9",            # a byte from 128 up as the option
    b"vellomire.scr \x80s",
    b"vellomire.scr -?",
    b"\"C:\\Program Files\\vellomire.scr\" /q",
]


class RefusedCommandLines(suite.WineCase):

    def test_refused_command_lines_end_with_minus_one(self):
        windows_before = {w.hwnd for w in self.wine.windows()}
        self.assertNotIn(99999, windows_before)   # so /p 99999 names no window
        for command_line in REFUSED:
            with self.subTest(command_line=command_line):
                result = self.wine.run(command_line, self.saver)
                self.assertEqual(result.unsigned, MINUS_ONE, f"exit code {result}")
                self.assertEqual(result.signed, -1)
        made = [w for w in self.wine.windows() if w.hwnd not in windows_before]
        self.assertEqual([w for w in made if w.cls == SAVER_CLASS], [])
        self.assertEqual([w for w in made if w.visible], [])

    def test_password_change_is_refused_on_the_nt_family(self):
        self.wine.set_windows_version(None)
        for command_line in [b"vellomire.scr /a", b"vellomire.scr /a 0", b"vellomire.scr /A 123",
                             b"vellomire.scr -a"]:
            with self.subTest(command_line=command_line):
                result = self.wine.run(command_line, self.saver)
                self.assertEqual(result.unsigned, MINUS_ONE, f"exit code {result}")

    def test_password_change_ends_with_zero_on_the_95_family(self):
        self.wine.set_windows_version("win98")
        try:
            for command_line in [b"vellomire.scr /a", b"vellomire.scr /a 99999"]:
                with self.subTest(command_line=command_line):
                    result = self.wine.run(command_line, self.saver)
                    self.assertEqual(result.unsigned, 0, f"exit code {result}")
        finally:
            self.wine.set_windows_version(None)


class SaverSpellings(suite.WineCase):

    def test_option_spellings_all_run_the_saver_until_input(self):
        self.wine.write_control_ini(settings(paint=b"0"))
        for n, command_line in enumerate([
                b"vellomire.scr /s", b"vellomire.scr /S", b"vellomire.scr -s", b"vellomire.scr s",
                b"vellomire.scr / s", b"vellomire.scr //saver", b"vellomire.scr \t /s",
                b"\"Z:\\no such dir\\vellomire.scr\" /s 123"]):
            with self.subTest(command_line=command_line):
                run, _ = self.wine.start_saver(self.saver, command_line)
                if n == 0:
                    self.assertTrue(run.still_running_after(2), "the saver ended without input")
                self.assert_saver_ends(run, "a")


class DialogOwners(DialogCase):

    def test_empty_tails_open_the_dialog_without_owner_at_34_32_dialog_units(self):
        for command_line in [b"vellomire.scr", b"vellomire.scr /", b"vellomire.scr - / -",
                             b"vellomire.scr/s", b"\"Z:\\x\\vellomire.scr /s", b"vellomire.scr /c"]:
            with self.subTest(command_line=command_line):
                run, dialog = self.open_dialog(command_line)
                self.assertEqual(dialog.window.owner, 0)
                bx, by = dialog.base_units()
                expected = (muldiv(DIALOG_POS_DLU[0], bx, 4), muldiv(DIALOG_POS_DLU[1], by, 8))
                self.assertEqual(dialog.window.client_origin, expected)
                w, h = dialog.window.client_size
                self.assertNotEqual(expected, ((SCREEN_W - w) // 2, (SCREEN_H - h) // 2))
                self.wine.xdotool("key", "Escape")
                self.assert_exit(run, 0)

    def test_configure_option_is_owned_by_the_foreground_window(self):
        d = self.wine.spawn(self.wine.helper("foreground"), ["%DIR%"], label="owner")
        try:
            owner = self.wine.wait_for_window(cls="VellomireForeground")
            self.wine.wait_file(d / "foreground.txt", 30, "the foreground window")
            run, dialog = self.open_dialog(b"vellomire.scr /c:1234")
            self.assertEqual(dialog.window.owner, owner.hwnd)
            bx, by = dialog.base_units()
            ox, oy = owner.client_origin
            self.assertEqual(dialog.window.client_origin,
                             (ox + muldiv(DIALOG_POS_DLU[0], bx, 4), oy + muldiv(DIALOG_POS_DLU[1], by, 8)))
            self.wine.xdotool("key", "Escape")
            self.assert_exit(run, 0)
        finally:
            self.wine.signal(d, "quit")
        self.wine.wait_for_no_window(cls="VellomireForeground")


class PreviewHandles(suite.WineCase):

    def test_handle_spellings_on_the_command_line(self):
        """/p and /l with a handle given in the ways the grammar allows, in a
        window of foreground.exe; the tab variant is refused."""
        d = self.wine.spawn(self.wine.helper("foreground"), ["%DIR%"], label="owner")
        try:
            owner = self.wine.wait_for_window(cls="VellomireForeground")
            h = owner.hwnd
            refused = [b"vellomire.scr /p\t%d" % h, b"vellomire.scr /p -%d" % h,
                       b"vellomire.scr /p 0x%x" % h]
            for command_line in refused:
                with self.subTest(command_line=command_line):
                    result = self.wine.run(command_line, self.saver)
                    self.assertEqual(result.unsigned, MINUS_ONE, f"exit code {result}")
            self.assertEqual(self.wine.find_windows(cls=SAVER_CLASS, visible=None), [])
            accepted = [b"vellomire.scr /p %d" % h, b"vellomire.scr /P%d" % h,
                        b"vellomire.scr -l   %dxyz" % h, b"vellomire.scr /p %d" % (h + (1 << 32))]
            for command_line in accepted:
                with self.subTest(command_line=command_line):
                    run = self.wine.launch(command_line, self.saver)
                    child = self.wine.wait_for_window(cls=SAVER_CLASS, title="Preview")
                    self.assertEqual(child.parent, h)
                    self.assertEqual(child.client_size, owner.client_size)
                    self.assertFalse(run.finished())
                    # A WM_CLOSE from outside ends a preview too: the chain
                    # hands it to the default procedure, which destroys the window.
                    self.wine.post_message(child.hwnd, 0x0010)
                    result = run.wait()
                    self.assertEqual(result.unsigned, 0, f"exit code {result}")
                    self.wine.wait_for_no_window(cls=SAVER_CLASS, visible=None)
        finally:
            self.wine.signal(d, "quit")
        self.wine.wait_for_no_window(cls="VellomireForeground")


if __name__ == "__main__":
    suite.main()
