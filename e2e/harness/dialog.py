"""The configuration dialog as the end-to-end suites drive it: the dialog and
its controls as the window lister sees them, a case that opens it, and a
case that sets it with keys and then runs the saver."""

import time

import pictures
import suite
from session import HarnessError

DIALOG_SIZE_DLU = (191, 86)
DIALOG_POS_DLU = (34, 32)
DEFAULT_HOLD = 10   # seconds a finished picture stays when none are stored


def muldiv(a, b, c):
    return (a * b + c // 2) // c if a * b >= 0 else -((-a * b + c // 2) // c)


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
        self.wine.wait_for(lambda: self.xdotool_search(), 30, "an X window captioned Vellomire",
                           interval=0.1)
        children = self.wine.wait_for(lambda: self.controls(window), 10, "the dialog's eight controls")
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
        self.wine.wait_for(lambda: self.field_text(dialog) == seconds, 5, "the typed text in the field")
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

    def assert_holds_shorter_than_the_default(self, run):
        """Tells a stored hold of a second or so from the 10 s that the show
        holds without one, by counting whole pictures: n pictures seen one
        after another need n - 2 holds between the first sighting and the
        last, so with 10 s holds never n within 10 * (n - 2) s. The 10 s do
        not grow with the backend's patience, for they are the saver's own
        clock; the screenshots of a slow or busy machine come slower, which
        only lets the pictures seen, and the time they took, grow together
        until the count wins, within a deadline that does grow."""
        seen = []   # (seconds, picture and place) of each change seen

        def more_than_the_default_shows():
            taken = time.monotonic()
            match = pictures.locate(self.wine.screenshot(), self.pictures)
            if match and match.complete and (not seen or match.key != seen[-1][1]):
                seen.append((taken if not seen else time.monotonic(), match.key))
            span = seen[-1][0] - seen[0][0] if seen else 0
            return len(seen) >= span // DEFAULT_HOLD + 3
        self.wine.wait_for(more_than_the_default_shows, 30,
                           "more whole pictures than holds of 10 s show", interval=0.1)
        self.assertFalse(run.finished(), "the saver ended by itself")
