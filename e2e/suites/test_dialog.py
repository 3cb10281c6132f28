"""The configuration dialog under Wine: where it opens, what it shows, the
bytes it writes to control.ini, its exit codes, and the run that follows."""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "harness"))
import suite  # noqa: E402
import pictures  # noqa: E402
from session import HarnessError, wait_for  # noqa: E402

SECTION = b"[ScreenSaver.Vellomire]\r\n"
DIALOG_SIZE_DLU = (191, 86)
DIALOG_POS_DLU = (34, 32)
ID_OK, ID_CANCEL, ID_SECONDS, ID_PAINT = 1, 2, 1008, 1009


def muldiv(a, b, c):
    return (a * b + c // 2) // c if a * b >= 0 else -((-a * b + c // 2) // c)


def settings(seconds, paint):
    return SECTION + b"Seconds=%s\r\nPaint=%s\r\n" % (seconds, paint)


class Dialog:
    """The dialog window and its controls as the window lister saw them."""

    def __init__(self, window, children):
        self.window = window
        self.children = children

    def child(self, cls, title=None):
        found = [c for c in self.children if c.cls == cls and (title is None or c.title == title)]
        if len(found) != 1:
            raise AssertionError(f"expected one {cls} {title!r} in the dialog, found {found}")
        return found[0]

    @property
    def seconds_field(self):
        return self.child("Edit")

    @property
    def paint_box(self):
        return self.child("Button", "Slowly paint pictures")

    def base_units(self):
        """The dialog's base units, found from its client size in pixels."""
        w, h = self.window.client_size
        xs = [b for b in range(1, 64) if muldiv(DIALOG_SIZE_DLU[0], b, 4) == w]
        ys = [b for b in range(1, 64) if muldiv(DIALOG_SIZE_DLU[1], b, 8) == h]
        if not xs or not ys:
            raise AssertionError(f"client size {w}x{h} is no 191x86 dialog units")
        return xs[0], ys[0]


class DialogCase(suite.WineCase):

    def setUp(self):
        super().setUp()
        self.wine.set_windows_version(None)
        self.wine.write_control_ini(None)

    def open_dialog(self, command_line=b"vellomire.scr /c"):
        run = self.wine.launch(command_line, self.saver)
        # The dialog as Windows lists it, then found by its caption on the X
        # display, as a person (or xdotool) finds it; the X window may be
        # named a moment after the Windows one is listed.
        window = self.wine.wait_for_window(title="Vellomire", cls="#32770", timeout=30)
        self.wait_for(lambda: self.xdotool_search(), 30, "an X window captioned Vellomire",
                      interval=0.1)
        children = self.wait_for(lambda: self.controls(window), 10, "the dialog's eight controls")
        return run, Dialog(window, children)

    def xdotool_search(self):
        # xdotool answers "nothing found" with a failing exit status.
        try:
            return self.wine.xdotool("search", "--name", "^Vellomire$").split()
        except HarnessError:
            return []

    def controls(self, window):
        children = [w for w in self.wine.windows() if w.parent == window.hwnd]
        return children if len(children) == 8 else None

    def focus_seconds_field(self):
        # OK has the focus at the start; Tab, Tab reach the field with its
        # text selected, so typing replaces it.
        self.wine.xdotool("key", "Tab")
        self.wine.xdotool("key", "Tab")

    def field_text(self, dialog):
        return [w for w in self.wine.windows() if w.hwnd == dialog.seconds_field.hwnd][0].text

    def assert_exit(self, run, code):
        result = run.wait()
        self.assertEqual(result.unsigned, code, f"exit code {result}")
        self.wine.wait_for_no_window(title="Vellomire", cls="#32770", visible=None)


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
        self.wait_for(lambda: self.field_text(dialog) == "12345", 5, "the typed text in the field")
        self.wine.xdotool("key", "Tab")        # to the check box
        self.wine.xdotool("key", "space")
        self.wine.xdotool("key", "Return")     # the default button: OK
        self.assert_exit(run, 1)
        self.assertEqual(self.wine.read_control_ini(), settings(b"1234", b"0"))

    def test_the_field_takes_only_digits_and_may_be_left_empty(self):
        run, dialog = self.open_dialog()
        self.focus_seconds_field()
        self.wine.xdotool("type", "a-7")
        self.wait_for(lambda: self.field_text(dialog) == "7", 5, "only the digit in the field")
        self.wine.xdotool("key", "BackSpace")
        self.wait_for(lambda: self.field_text(dialog) == "", 5, "an empty field")
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
                self.wait_for(lambda: self.field_text(dialog) == "3", 5, "the typed text in the field")
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
        self.wine.wine(self.wine.helper("textwidth"), self.wine.winpath(out), "Times New Roman",
                       "10", *texts)
        return [tuple(int(v) for v in line.split())
                for line in self.wine.read_file(out).decode().splitlines()]


class ShowCase(DialogCase):
    """The dialog driven with keys, and the run that follows it."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.pictures = pictures.load_pictures()

    def set_in_dialog(self, seconds, paint):
        run, dialog = self.open_dialog()
        self.focus_seconds_field()
        self.wine.xdotool("type", seconds)
        self.wait_for(lambda: self.field_text(dialog) == seconds, 5, "the typed text in the field")
        if dialog.paint_box.check != paint:
            self.wine.xdotool("key", "Tab")
            self.wine.xdotool("key", "space")
        self.wine.xdotool("key", "Return")
        self.assert_exit(run, 1)

    def assert_dialog_shows(self, seconds, paint):
        run, dialog = self.open_dialog()
        self.assertEqual((dialog.seconds_field.text, dialog.paint_box.check), (seconds, paint))
        self.wine.xdotool("key", "Escape")
        self.assert_exit(run, 0)

    def start_saver(self):
        self.wine.xdotool("mousemove", 500, 400)
        run = self.wine.launch(b"vellomire.scr /s", self.saver)
        self.wine.wait_for_window(cls="WindowsScreenSaverClass", title="Screen Saver")
        return run

    def end_saver(self, run):
        self.wine.xdotool("key", "space")
        result = run.wait()
        self.assertEqual(result.unsigned, 0, f"exit code {result}")

    def assert_picture_changes_sooner_than_the_default(self, run):
        """A stored hold of 1 s: a second whole picture follows the first
        well within the 10 s that the show holds without a stored value."""
        shown = []

        def whole_picture():
            match = pictures.locate(self.wine.screenshot(), self.pictures)
            if match and match.complete and (not shown or match.key != shown[-1]):
                shown.append(match.key)
            return len(shown) >= 2
        self.wait_for(lambda: shown or whole_picture(), 10, "a whole picture", interval=0.1)
        wait_for(whole_picture, 9, "a second whole picture", interval=0.1)
        self.assertFalse(run.finished(), "the saver ended by itself")


class FollowingRun(ShowCase):

    def configure(self, seconds, paint):
        self.set_in_dialog(seconds, paint)
        self.assertEqual(self.wine.read_control_ini(), settings(seconds.encode(), b"%d" % paint))

    def test_one_second_at_once_changes_the_picture_soon(self):
        self.configure("1", 0)
        run = self.start_saver()
        self.assert_picture_changes_sooner_than_the_default(run)
        self.end_saver(run)

    def test_slow_painting_shows_a_partly_drawn_picture(self):
        self.configure("30", 1)
        run = self.start_saver()
        seen = []

        def partial_picture():
            match = pictures.locate(self.wine.screenshot(), self.pictures)
            if match:
                seen.append(match)
            if match is None and seen:
                raise AssertionError("the screen shows something that is no picture")
            return match is not None and not match.complete and match.painted < match.picture_nonblack
        self.wait_for(partial_picture, 10, "a partly painted picture", interval=0.05)
        self.end_saver(run)


if __name__ == "__main__":
    suite.main()
