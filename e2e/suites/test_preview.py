"""The preview under Wine: the saver drawing as a child of another process's
window, as the Display control panel shows it."""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "harness"))
import suite  # noqa: E402
from session import SAVER_CLASS, SAVER_TITLE  # noqa: E402

PREVIEW_STYLE = 0x52000000  # WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN


class PreviewHostCase(suite.WineCase):

    def start_host(self, width, height, *extra):
        d = self.wine.spawn(self.wine.helper("previewhost"),
                            [self.wine.winpath(self.saver), width, height, "%DIR%", *extra],
                            label="preview")
        parent = int(self.wine.wait_file(d / "parent.txt", 20, "the preview host's window"))
        return d, parent

    def finish_host(self, d):
        self.wine.signal(d, "destroy")
        text = self.wine.wait_file(d / "result.txt", 30, "the preview host's report").decode()
        self.wine.wait_for_no_window(cls="VellomirePreviewHost", visible=None)
        return text


class Preview(PreviewHostCase):

    def test_preview_child_has_the_parents_client_size_and_ends_with_its_parent(self):
        for width, height in [(152, 112), (300, 200)]:
            with self.subTest(size=(width, height)):
                d, parent = self.start_host(width, height)
                host = self.wine.wait_for_window(cls="VellomirePreviewHost")
                self.assertEqual(host.hwnd, parent)
                self.assertEqual(host.client_size, (width, height))
                child = self.wine.wait_for_window(cls=SAVER_CLASS, title="Preview")
                self.assertEqual(child.parent, parent)
                self.assertEqual(child.style, PREVIEW_STYLE, f"style {child.style:08X}")
                self.assertEqual(child.exstyle, 0, f"exstyle {child.exstyle:08X}")
                self.assertEqual(child.client_size, (width, height))
                self.assertEqual(child.client_origin, host.client_origin)
                self.assertNotEqual(child.pid, host.pid)
                # No full-screen window, and input does not close a preview.
                self.assertEqual(self.wine.find_windows(cls=SAVER_CLASS, title=SAVER_TITLE,
                                                        visible=None), [])
                self.wine.xdotool("mousemove", host.client_origin[0] + 20, host.client_origin[1] + 20)
                self.wine.xdotool("mousemove_relative", "--", 30, 30)
                self.wine.xdotool("key", "space")
                self.assertTrue(self.wine.stays_absent(d / "result.txt", 1), "the preview ended on input")
                report = self.finish_host(d)
                self.assertIn("exit=0x00000000 0\n", report)
                self.assertIn("ended-before-destroy=0\n", report)
                self.wine.wait_for_no_window(cls=SAVER_CLASS, visible=None)
                # The parent's handle now names no window: refused, nothing made.
                result = self.wine.run(b"vellomire.scr /p %d" % parent, self.saver)
                self.assertEqual(result.unsigned, 0xFFFFFFFF, f"exit code {result}")
                self.assertEqual(self.wine.find_windows(cls=SAVER_CLASS, visible=None), [])

    def test_killed_preview_leaves_nothing_and_a_new_one_starts(self):
        # The Display control panel may end its preview with TerminateProcess.
        before = self.wine.read_control_ini()
        d, parent = self.start_host(152, 112, "kill-first")
        child = self.wine.wait_for_window(cls=SAVER_CLASS, title="Preview")
        self.assertEqual(child.parent, parent)
        report = self.finish_host(d)
        self.assertIn("killed=1 left=0 restarted=1\n", report)
        self.assertIn("exit=0x00000000 0\n", report, "the second preview ended with its parent")
        self.wine.wait_for_no_window(cls=SAVER_CLASS, visible=None)
        self.assertEqual(self.wine.read_control_ini(), before, "a preview wrote control.ini")


if __name__ == "__main__":
    suite.main()
