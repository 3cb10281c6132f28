"""Shows the saver full screen under Wine (run-saver.sh's work): the shipped
32-bit one where the host runs 32-bit programs, else its 64-bit twin.

With DISPLAY set it runs on that display in a prefix kept in build/ and ends
when the saver does (move the mouse or press a key). Without DISPLAY it runs
on a private Xvfb for the given number of seconds and saves a screenshot
every second into the folder that it names at the start.
"""

import os
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "e2e", "harness"))
import wine_env  # noqa: E402


def width():
    """32 where the kernel runs 32-bit programs and 32-bit Wine is there."""
    way = subprocess.run([wine_env.REPO / "tools" / "win32-way.sh", "--why"], capture_output=True,
                         text=True, env=dict(os.environ, VELLOMIRE_I386_MACHINE="")).stdout.split("\n")
    if way[0] != "host":
        print(f"run-saver: {way[1]}: showing the 64-bit saver, not the shipped 32-bit one")
        return 64
    if not os.access(wine_env.WINE32, os.X_OK):
        print(f"run-saver: no 32-bit Wine ({wine_env.WINE32}): showing the 64-bit saver, "
              "not the shipped 32-bit one")
        return 64
    print("run-saver: showing the shipped 32-bit saver")
    return 32


def main():
    seconds = float(sys.argv[1]) if len(sys.argv) > 1 else 20.0
    bits = width()
    saver = wine_env.build_dir(bits) / "vellomire.scr"
    if not saver.exists():
        sys.exit(f"run-saver: {saver} is not built")
    display = os.environ.get("DISPLAY") or None
    if display:
        prefix = wine_env.REPO / "build" / f"wine-prefix-win{bits}"
        session = wine_env.WineSession("show", bits, display=display, prefix=prefix)
        print(f"run-saver: showing the saver on {display} (prefix {prefix}); "
              "move the mouse or press a key to end it", flush=True)
        session.start()
        try:
            launch, _ = session.start_saver(saver, timeout_ms=24 * 3600 * 1000)
            result = launch.wait(timeout=24 * 3600)
            print(f"run-saver: the saver ended with exit code {result}")
        finally:
            session.close()
        return
    shots = wine_env.REPO / "build" / "screenshots" / time.strftime("%Y%m%d-%H%M%S")
    shots.mkdir(parents=True, exist_ok=True)
    print(f"run-saver: no DISPLAY; running the saver on a private Xvfb for {seconds:g} s", flush=True)
    print(f"run-saver: screenshots go to {shots}", flush=True)
    with wine_env.WineSession("show", bits) as session:
        launch, _ = session.start_saver(saver, timeout_ms=int(seconds * 1000) + 60000)
        start = time.monotonic()
        n = 0
        while time.monotonic() - start < seconds and not launch.finished():
            n += 1
            session.screenshot(shots / f"shot-{n:03d}.png")
            next_shot = start + n
            while time.monotonic() < next_shot and not launch.finished():
                time.sleep(0.05)
        if launch.finished():
            print(f"run-saver: the saver ended early with {launch.wait()}")
        else:
            session.xdotool("key", "space")  # a key ends the run
            print(f"run-saver: ended by a key press: exit code {launch.wait(timeout=30)}")
    print(f"run-saver: {n} screenshots in {shots}")


if __name__ == "__main__":
    main()
