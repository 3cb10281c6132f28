"""The saver's command-line modes under Wine: exit codes of command lines
that select nothing or an unusable preview, started with exact bytes through
the launcher so that every 32-bit exit code is seen whole."""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "harness"))
import suite  # noqa: E402

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
        self.assertEqual([w for w in made if w.cls == "WindowsScreenSaverClass"], [])
        self.assertEqual([w for w in made if w.visible], [])

    def test_password_change_is_refused_on_the_nt_family(self):
        self.wine.set_windows_version(None)
        for command_line in [b"vellomire.scr /a", b"vellomire.scr /A 123", b"vellomire.scr -a"]:
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


if __name__ == "__main__":
    suite.main()
