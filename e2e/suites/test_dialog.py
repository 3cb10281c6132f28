"""The configuration dialog under Wine: where it opens, what it shows, the
bytes it writes to control.ini, its exit codes, and the run that follows."""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "harness"))
import suite  # noqa: E402
import pictures  # noqa: E402
from dialog import DialogCase, ShowCase  # noqa: E402
from session import settings  # noqa: E402


class Contents(DialogCase):

    def test_defaults_are_shown_and_ok_stores_both_keys(self):
        run, dialog = self.open_dialog()
        # WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT
        # (the system adds WS_CLIPSIBLINGS and DS_3DLOOK), not centred, no owner.
        self.assertEqual(dialog.window.style & ~0x04000004, 0x90C800C0, f"style {dialog.window.style:08X}")
        self.assertEqual(dialog.window.owner, 0)
        self.assertEqual([(c.cls, c.title) for c in dialog.children], [
            ("Button", "OK"), ("Button", "Cancel"), ("Static", dialog.children[2].title),
            ("Static", "Change picture every"), ("Edit", ""), ("Static", "seconds"),
            ("Static", dialog.children[6].title), ("Button", "Slowly paint pictures")])
        self.assertEqual(dialog.seconds_field.text, "20")
        self.assertEqual(dialog.paint_box.check, 1)
        self.wine.xdotool("key", "Return")
        self.assert_exit(run, 1)
        self.assertEqual(self.wine.read_control_ini(), settings(b"20", b"1"))

    def test_typing_and_toggling_are_stored_on_ok(self):
        run, dialog = self.open_dialog()
        self.focus_seconds_field()
        self.wine.xdotool("type", "12345")
        self.wine.wait_for(lambda: self.field_text(dialog) == "12345", 5, "the typed text in the field")
        self.wine.xdotool("key", "Tab")        # to the check box
        self.wine.xdotool("key", "space")
        self.wine.xdotool("key", "Return")     # the default button: OK
        self.assert_exit(run, 1)
        self.assertEqual(self.wine.read_control_ini(), settings(b"1234", b"0"))

    def test_the_field_takes_only_digits_and_may_be_left_empty(self):
        run, dialog = self.open_dialog()
        self.focus_seconds_field()
        self.wine.xdotool("type", "a-7")
        self.wine.wait_for(lambda: self.field_text(dialog) == "7", 5, "only the digit in the field")
        self.wine.xdotool("key", "BackSpace")
        self.wine.wait_for(lambda: self.field_text(dialog) == "", 5, "an empty field")
        self.wine.xdotool("key", "Return")
        self.assert_exit(run, 1)
        self.assertEqual(self.wine.read_control_ini(), settings(b"", b"1"))

    def test_stored_values_are_shown_and_other_sections_kept(self):
        before = b"[Other]\r\nKey=x\r\n" + settings(b"98765", b"0")
        self.wine.write_control_ini(before)
        run, dialog = self.open_dialog()
        self.assertEqual(dialog.seconds_field.text, "98765")
        self.assertEqual(dialog.paint_box.check, 0)
        self.wine.xdotool("key", "Return")
        self.assert_exit(run, 1)
        self.assertEqual(self.wine.read_control_ini(), b"[Other]\r\nKey=x\r\n" + settings(b"9876", b"0"))

    def test_escape_cancel_and_close_store_nothing_and_end_with_zero(self):
        before = b"[Other]\r\nKey=x\r\n\r\n" + settings(b"7", b"1")
        for way in ("Escape", "Cancel", "close"):
            with self.subTest(way=way):
                self.wine.write_control_ini(before)
                run, dialog = self.open_dialog()
                self.focus_seconds_field()
                self.wine.xdotool("type", "3")
                self.wine.wait_for(lambda: self.field_text(dialog) == "3", 5, "the typed text in the field")
                if way == "Escape":
                    self.wine.xdotool("key", "Escape")
                elif way == "Cancel":
                    cancel = dialog.child("Button", "Cancel")
                    self.wine.xdotool("mousemove", cancel.rect[0] + 10, cancel.rect[1] + 10)
                    self.wine.xdotool("click", 1)
                else:
                    self.wine.post_message(dialog.window.hwnd, 0x0010)   # WM_CLOSE
                self.assert_exit(run, 0)
                self.assertEqual(self.wine.read_control_ini(), before)


class Layout(DialogCase):

    def test_nothing_is_clipped_and_the_top_row_reads_as_one_line(self):
        run, dialog = self.open_dialog()
        label = dialog.child("Static", "Change picture every")
        field = dialog.seconds_field
        unit = dialog.child("Static", "seconds")
        check = dialog.paint_box
        # One row, left to right, no overlaps, all inside the client area.
        for a, b in [(label, field), (field, unit)]:
            self.assertLessEqual(a.rect[2], b.rect[0], f"{a.title!r} overlaps {b.title!r}")
        for c in (label, unit):
            self.assertLess(max(c.rect[1], field.rect[1]), min(c.rect[3], field.rect[3]))
        cx, cy = dialog.window.client_origin
        cw, ch = dialog.window.client_size
        for c in dialog.children:
            self.assertTrue(cx <= c.rect[0] and c.rect[2] <= cx + cw and cy <= c.rect[1]
                            and c.rect[3] <= cy + ch, f"{c.cls} {c.title!r} sticks out of the dialog")
        # The texts fit their controls in the dialog's font on one line.
        widths = self.text_sizes(["Change picture every", "seconds", "Slowly paint pictures"])
        self.assertLessEqual(widths[0][0], label.client_size[0])
        self.assertLessEqual(widths[1][0], unit.client_size[0])
        self.assertLessEqual(widths[0][1], label.client_size[1])
        box = 13 + 4   # the check mark square and its gap
        self.assertLessEqual(widths[2][0] + box, check.client_size[0])
        # And the screen shows dark text in each label of the row.
        shot = pictures.as_array(self.wine.screenshot())
        for c in (label, unit):
            l, t, r, b = c.rect
            self.assertTrue((shot[t:b, l:r].max(axis=2) < 96).any(), f"no text drawn in {c.title!r}")
        self.wine.xdotool("key", "Escape")
        self.assert_exit(run, 0)

    def text_sizes(self, texts):
        out = self.wine.empty_dir("tw") / "sizes.txt"
        rc = self.wine.wine(self.wine.helper("textwidth"), self.wine.winpath(out),
                            "Times New Roman", "10", *texts)
        self.assertEqual(rc, 0, "textwidth's exit status")
        return [tuple(int(v) for v in line.split())
                for line in self.wine.read_file(out).decode().splitlines()]


class FollowingRun(ShowCase):

    def configure(self, seconds, paint):
        self.set_in_dialog(seconds, paint)
        self.assertEqual(self.wine.read_control_ini(), settings(seconds.encode(), b"%d" % paint))

    def test_one_second_at_once_changes_the_picture_soon(self):
        self.configure("1", 0)
        run, _ = self.wine.start_saver(self.saver)
        self.assert_holds_shorter_than_the_default(run)
        self.assert_saver_ends(run, "space")

    def test_slow_painting_shows_a_partly_drawn_picture(self):
        self.configure("30", 1)
        run, _ = self.wine.start_saver(self.saver)
        seen = []

        def partly(match):
            return match is not None and not match.complete and match.painted < match.picture_nonblack

        def growing_picture():
            # A shot read while Xvfb writes a whole picture at once shows its
            # top part alone: only a part that grows (or holds) from one shot
            # to the next shows painting.
            match = pictures.locate(self.wine.screenshot(), self.pictures)
            if match is None and any(seen):
                raise AssertionError("the screen shows something that is no picture")
            last = seen[-1] if seen else None
            seen.append(match)
            return partly(last) and partly(match) and last.key == match.key \
                and last.painted <= match.painted
        self.wine.wait_for(growing_picture, 10, "a partly painted picture that grows", interval=0.05)
        self.assert_saver_ends(run, "space")


if __name__ == "__main__":
    suite.main()
