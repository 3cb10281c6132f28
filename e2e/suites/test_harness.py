"""Checks of the test harness itself under Wine: that the launcher passes
command lines byte for byte and reports whole 32-bit exit codes, that the
window lister sees windows as they are, and that input reaches Wine."""

import os
import sys
import unittest
from pathlib import PurePath

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "harness"))
import suite  # noqa: E402
from session import Launch, Session  # noqa: E402


class Launcher(suite.WineCase):
    needs_saver = False

    def echo(self, command_line):
        """Launches cmdecho as a saver is launched: its result and the
        command line it got."""
        launch = self.wine.launch(command_line, self.wine.helper("cmdecho"))
        return launch.wait(), self.wine.read_file(launch.dir / "cmdline.txt")

    def test_command_line_bytes_arrive_unchanged(self):
        cases = [
            b"vellomire.scr /s",
            b"vellomire.scr\t/\ts",
            b"vellomire.scr/s",
            b"\"C:\\some dir\\vellomire.scr\"   /p 123",
            b"\"unterminated name /c",
            b"vellomire.scr " + bytes([0x80, 0xA0, 0xC4, 0xE9, 0xFF]),
            b"vellomire.scr \x01\x1f/s",
        ]
        for command_line in cases:
            with self.subTest(command_line=command_line):
                _, seen = self.echo(command_line)
                self.assertEqual(seen, command_line)

    def test_exit_codes_are_whole_32_bit_values(self):
        for exit_hex, signed in [("0", 0), ("1", 1), ("FFFFFFFF", -1), ("C0DE1234", -1059188172),
                                 ("7FFFFFFF", 2147483647), ("100", 256)]:
            with self.subTest(exit_code=exit_hex):
                result, _ = self.echo(b"cmdecho exit=" + exit_hex.encode())
                self.assertEqual(result.unsigned, int(exit_hex, 16))
                self.assertEqual(result.signed, signed)


    def test_a_reset_ends_leftovers_and_keeps_the_windows_versions_given(self):
        key = r"HKCU\Software\Wine\AppDefaults\cmdecho.exe"
        self.wine.set_windows_version("win98", "cmdecho.exe")
        d = self.wine.empty_dir("left")
        self.wine.launch(b"foreground " + self.wine.winpath(d).encode(), self.wine.helper("foreground"))
        self.wine.wait_for_window(cls="VellomireForeground")
        self.wine.end_leftovers()
        self.wine.wait_for_no_window(cls="VellomireForeground")
        self.wine.set_windows_version(None, "cmdecho.exe")
        self.assertEqual(self.wine.registry_values(key), {})


class WindowList(suite.WineCase):
    needs_saver = False

    def test_lists_a_foreground_window_and_input_reaches_wine(self):
        d = self.wine.spawn(self.wine.helper("foreground"), ["%DIR%"], label="fg")
        try:
            window = self.wine.wait_for_window(cls="VellomireForeground", title="Foreground")
            # WS_POPUP | WS_VISIBLE, and WS_CLIPSIBLINGS that every top-level window gets
            self.assertEqual(window.style, 0x94000000)
            self.assertEqual(window.exstyle & 0x8, 0x8)       # WS_EX_TOPMOST
            self.assertEqual(window.rect, (10, 10, 110, 110))
            self.assertEqual(window.client_size, (100, 100))
            self.assertEqual(window.client_origin, (10, 10))
            self.assertEqual(window.parent, 0)
            report = self.wine.wait_file(d / "foreground.txt", 10, "the foreground report")
            self.assertIn(b"foreground=1", report)
            # Wine's per-thread input-method window exists and is invisible.
            ime = self.wine.find_windows(cls="IME", visible=None, pid=window.pid)
            self.assertTrue(all(not w.visible for w in ime))
            # A screenshot shows its white client area on the black root.
            shot = self.wine.screenshot()
            self.assertEqual(shot.getpixel((60, 60)), (255, 255, 255))
            self.assertEqual(shot.getpixel((200, 200)), (0, 0, 0))
            # Pointer motion reaches the X server as sent.
            self.wine.xdotool("mousemove", 500, 400)
            self.wine.xdotool("mousemove_relative", "--", 3, 1)
            self.assertEqual(self.wine.pointer(), (503, 401))
        finally:
            self.wine.signal(d, "quit")
        self.wine.wait_for_no_window(cls="VellomireForeground")


class PressUntilEnded(unittest.TestCase):
    """Pressing keys until a program ends, on a stub backend."""

    def test_a_result_that_is_no_exit_code_ends_the_presses_at_once(self):
        class Stub(Session):
            presses = 0

            def xdotool(self, *args):
                self.presses += 1

            def wait_file(self, path, timeout, what):
                return b"timeout\n"      # the launcher ended the program

        stub = Stub()
        with self.assertRaisesRegex(AssertionError, "did not end normally: 'timeout"):
            Launch(stub, PurePath("/launch")).press_until_ended("space", timeout=2)
        self.assertEqual(stub.presses, 1)


if __name__ == "__main__":
    suite.main()
