"""The full-screen run under Wine: the saver window, the picture on the
screen against the bitmaps, the wake rules and the single-instance rule."""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "harness"))
import suite  # noqa: E402
import pictures  # noqa: E402
from session import POINTER_REST as REST, SAVER_CLASS, SAVER_TITLE, settings  # noqa: E402
from wine_env import SCREEN_W, SCREEN_H  # noqa: E402

FULL_SCREEN_STYLE = 0x96000000  # WS_POPUP | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN
WS_EX_TOPMOST = 0x8


class FullScreenCase(suite.WineCase):

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.pictures = pictures.load_pictures()

    def setUp(self):
        super().setUp()
        self.wine.set_windows_version(None)
        self.wine.write_control_ini(settings(paint=b"0"))

    def wait_for_picture(self, timeout=10):
        """Takes screenshots until one shows a whole picture; its Match."""
        def whole_picture():
            match = pictures.locate(self.wine.screenshot(), self.pictures)
            return match if match and match.complete else None
        return self.wine.wait_for(whole_picture, timeout, "a whole picture on the screen", interval=0.1)


class SaverWindow(FullScreenCase):

    def test_one_topmost_black_window_covers_the_screen_and_shows_one_picture(self):
        run, window = self.wine.start_saver(self.saver)
        self.assertEqual(window.parent, 0)
        self.assertEqual(window.owner, 0)
        self.assertEqual(window.rect, (0, 0, SCREEN_W, SCREEN_H))
        self.assertEqual(window.client_size, (SCREEN_W, SCREEN_H))
        self.assertEqual(window.style, FULL_SCREEN_STYLE, f"style {window.style:08X}")
        self.assertEqual(window.exstyle & WS_EX_TOPMOST, WS_EX_TOPMOST, f"exstyle {window.exstyle:08X}")
        self.assertEqual(window.exstyle & ~0x8, 0, f"exstyle {window.exstyle:08X}")
        visible = [w for w in self.wine.windows() if w.visible and w.parent == 0]
        self.assertEqual(visible, [window], "exactly one visible top-level window")
        self.assertEqual([w for w in self.wine.windows() if w.parent == window.hwnd], [])

        match = self.wait_for_picture()
        name, picture = self.pictures[match.index]
        x, y = match.origin
        self.assertGreaterEqual(x, 0)
        self.assertGreaterEqual(y, 0)
        self.assertLessEqual(x + picture.shape[1], SCREEN_W)
        self.assertLessEqual(y + picture.shape[0], SCREEN_H)
        self.assertTrue(run.still_running_after(0))
        self.assert_saver_ends(run, "space")

    def test_a_second_run_returns_zero_at_once_and_leaves_the_first(self):
        first, window = self.wine.start_saver(self.saver)
        second = self.wine.launch(b"vellomire.scr /s", self.saver)
        result = second.wait()
        self.assertEqual(result.unsigned, 0, f"second run's exit code {result}")
        self.assertFalse(first.finished(), "the first run ended")
        self.assertEqual(self.wine.find_windows(cls=SAVER_CLASS, title=SAVER_TITLE, visible=None),
                         [window])
        self.assert_saver_ends(first, "space")


class WakeRules(FullScreenCase):

    def test_a_move_of_distance_four_does_not_wake_and_five_does(self):
        run, _ = self.wine.start_saver(self.saver)
        self.wait_for_picture()
        self.wine.xdotool("mousemove_relative", "--", 3, 1)
        self.assertEqual(self.wine.pointer(), (REST[0] + 3, REST[1] + 1))
        self.assertTrue(run.still_running_after(1.5), "a move of 3 right and 1 down ended the run")
        self.wine.xdotool("mousemove_relative", "--", 0, 1)   # now 3 right and 2 down
        self.assert_saver_ends(run)

    def test_a_move_of_three_right_and_two_down_wakes(self):
        run, _ = self.wine.start_saver(self.saver)
        self.wine.xdotool("mousemove_relative", "--", 3, 2)
        self.assert_saver_ends(run)

    def test_a_key_wakes(self):
        run, _ = self.wine.start_saver(self.saver)
        self.assert_saver_ends(run, "shift")

    def test_a_click_wakes(self):
        for button in (1, 3, 2):
            with self.subTest(button=button):
                run, _ = self.wine.start_saver(self.saver)
                self.wine.xdotool("click", button)
                self.assert_saver_ends(run)

    def test_losing_the_foreground_wakes(self):
        run, _ = self.wine.start_saver(self.saver)
        d = self.wine.spawn(self.wine.helper("foreground"), ["%DIR%"], label="fg")
        try:
            self.assert_saver_ends(run)
        finally:
            self.wine.signal(d, "quit")
        self.wine.wait_for_no_window(cls="VellomireForeground")

    def test_a_key_wakes_on_the_95_family(self):
        self.wine.set_windows_version("win98")
        run, _ = self.wine.start_saver(self.saver)
        self.assert_saver_ends(run, "space")


if __name__ == "__main__":
    suite.main()
