"""Saves the configuration dialog as Wine draws it (default settings) to the
file given as the argument, cropped to the dialog's window."""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "e2e", "harness"))
import wine_env  # noqa: E402


def main():
    target = sys.argv[1]
    saver = wine_env.build_dir(64) / "vellomire.scr"
    if not saver.exists():
        sys.exit(f"make-dialog-screenshot: {saver} is not built")
    with wine_env.WineSession("dialog-shot") as wine:
        run = wine.launch(b"vellomire.scr", saver)
        dialog = wine.wait_for_window(cls="#32770", title="Vellomire")
        wine.wait_for(lambda: len([w for w in wine.windows() if w.parent == dialog.hwnd]) == 8,
                      10, "the dialog's controls")
        wine.xdotool("mousemove", wine_env.SCREEN_W - 1, wine_env.SCREEN_H - 1)
        # Wait until the dialog is drawn: its OK button text is on the screen.
        ok = wine.find_windows(cls="Button", title="OK")[0]

        def drawn():
            shot = wine.screenshot()
            l, t, r, b = ok.rect
            button = shot.crop((l, t, r, b)).convert("L")
            return shot if min(button.getdata()) < 64 else None
        shot = wine.wait_for(drawn, 10, "the dialog to be drawn")
        shot.crop(dialog.rect).save(target)
        wine.xdotool("key", "Escape")
        print(f"make-dialog-screenshot: {target} ({dialog.rect[2] - dialog.rect[0]}x"
              f"{dialog.rect[3] - dialog.rect[1]}); the dialog ended with {run.wait()}")


if __name__ == "__main__":
    main()
