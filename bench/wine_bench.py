"""The Wine half of the benchmark: a saver and the reference programs of ours
of the same width (bench/windows/) on private Xvfb displays, under the
host's Wine of that width, measured from outside.

    /usr/bin/python3 bench/wine_bench.py OUT.json --bits 32|64 --saver SCR --bench-dir DIR [--long]

- Parts: tick_parts.exe times the calls of one painting tick, one by one.
- Start-up: from the start of the Wine process to the first picture pixels
  on the screen, against black_window.exe's time to a black screen; the
  screen (whose root is painted grey first) is read with XGetImage in a
  tight loop. Alternating runs, medians.
- Holding: the saver with "Seconds" 3600 and "Paint" 0 (so that the window
  always lies inside one hold) and, at the same time, each on a display and
  wineserver of its own, idle_loop.exe (an empty message loop with a 1000 ms
  timer) and idle_rearm.exe (a window doing only what the design's holding
  tick must do). Once the saver's first picture is complete (the screen
  stops changing) and 3 s more have passed, the CPU time of all three
  processes and their wineservers is read from /proc over the same stretch
  of the hold. At 1024x768 and 1920x1080, five runs of 60 s each, every run
  with programs started anew, so that the report can give the spread of the
  runs.
- Painting: the saver with "Seconds" 1 and "Paint" 1 (wipes, one second of
  hold between them) at 1024x768 for 60 s, beside idle_loop.exe and
  paint_loop.exe (a window doing only the design's painting ticks). The same
  saver process then keeps running for the memory figures: its resident set
  at 1 and 5 minutes (and 10 with --long).

CPU time comes from /proc/PID/stat (user + system, 10 ms ticks) and, more
finely, from the sum of /proc/PID/task/*/schedstat (nanoseconds on a CPU).
Everything is started and ended by this script: the programs by their own
exit (a key press or their lifetime; the windowless one by its process id),
the Wine worlds by the harness.
"""

import argparse
import ctypes
import json
import os
import statistics
import subprocess
import sys
import time
from pathlib import Path

import numpy as np

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "e2e" / "harness"))
import wine_env  # noqa: E402

CLK_TCK = os.sysconf("SC_CLK_TCK")


# ---------------------------------------------------------------- the screen
class _XImage(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int),
                ("xoffset", ctypes.c_int), ("format", ctypes.c_int),
                ("data", ctypes.c_void_p), ("byte_order", ctypes.c_int),
                ("bitmap_unit", ctypes.c_int), ("bitmap_bit_order", ctypes.c_int),
                ("bitmap_pad", ctypes.c_int), ("depth", ctypes.c_int),
                ("bytes_per_line", ctypes.c_int), ("bits_per_pixel", ctypes.c_int)]


class Screen:
    """Reads the whole root window of one X display with XGetImage."""

    _x = None

    def __init__(self, display):
        if Screen._x is None:
            x = ctypes.CDLL("libX11.so.6")
            x.XOpenDisplay.restype = ctypes.c_void_p
            x.XOpenDisplay.argtypes = [ctypes.c_char_p]
            x.XDefaultRootWindow.restype = ctypes.c_ulong
            x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
            x.XGetImage.restype = ctypes.POINTER(_XImage)
            x.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                                    ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
            x.XDestroyImage.argtypes = [ctypes.POINTER(_XImage)]
            x.XCloseDisplay.argtypes = [ctypes.c_void_p]
            x.XSetWindowBackground.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong]
            x.XClearWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
            x.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
            Screen._x = x
        self.dpy = Screen._x.XOpenDisplay(display.encode())
        if not self.dpy:
            raise wine_env.HarnessError(f"cannot open display {display}")
        self.root = Screen._x.XDefaultRootWindow(self.dpy)
        self.width, self.height = wine_env.SCREEN_W, wine_env.SCREEN_H

    def paint_root(self):
        """Gives the root window a plain grey, which no picture and no black
        window has, so that both are told apart from the bare screen."""
        Screen._x.XSetWindowBackground(self.dpy, self.root, ROOT_GREY)
        Screen._x.XClearWindow(self.dpy, self.root)
        Screen._x.XSync(self.dpy, 0)

    def grab(self):
        """The screen as a flat array of 0xRRGGBB pixels."""
        image = Screen._x.XGetImage(self.dpy, self.root, 0, 0, self.width, self.height,
                                    0xFFFFFFFF, 2)  # AllPlanes, ZPixmap
        if not image:
            raise wine_env.HarnessError("XGetImage failed")
        im = image.contents
        raw = ctypes.string_at(im.data, im.bytes_per_line * im.height)
        Screen._x.XDestroyImage(image)
        rows = np.frombuffer(raw, dtype=np.uint32).reshape(self.height, -1)
        return rows[:, :self.width].ravel() & 0xFFFFFF

    def close(self):
        Screen._x.XCloseDisplay(self.dpy)


# Not a colour of the pictures' 3-3-2 table (whose levels are 0, 36, 73, 109,
# 146, 182, 219, 255 and 0, 85, 170, 255).
ROOT_GREY = 0x808080


def picture_pixels(pixels):
    """Pixels that are neither black nor the root's grey: the bare screen and
    a blackened window have none, a picture has many."""
    return int(np.count_nonzero((pixels != 0) & (pixels != ROOT_GREY)))


def bare_screen(pixels):
    return float(np.count_nonzero(pixels == ROOT_GREY)) / pixels.size > 0.99


# ---------------------------------------------------------------- processes
def cpu(pid):
    """CPU time of a process so far: stat ticks (user+system) and schedstat ns."""
    with open(f"/proc/{pid}/stat") as f:
        rest = f.read().rsplit(")", 1)[1].split()
    ticks = int(rest[11]) + int(rest[12])
    ns = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/schedstat") as f:
                ns += int(f.read().split()[0])
        except (FileNotFoundError, ProcessLookupError):
            pass
    return {"ticks": ticks, "ns": ns}


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return None


def wineserver_pid(session):
    """The wineserver of a session's prefix: it works in a folder named
    server-DEV-INODE after the prefix's device and inode (in /tmp/.wine-UID
    or, on Debian, a /tmp/wine-XXXXXX of its own)."""
    st = os.stat(session.prefix)
    folder = f"server-{st.st_dev:x}-{st.st_ino:x}"
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/comm") as f:
                if not f.read().startswith("wineserver"):
                    continue
            if os.path.basename(os.readlink(f"/proc/{entry}/cwd")) == folder:
                return int(entry)
        except (FileNotFoundError, ProcessLookupError, PermissionError):
            continue
    raise wine_env.HarnessError(f"no wineserver for {session.prefix}")


class Usage:
    """CPU of a set of processes between start() and stop()."""

    def __init__(self, pids):
        self.pids = dict(pids)   # label -> pid

    def start(self):
        self.t0 = time.monotonic()
        self.c0 = {k: cpu(p) for k, p in self.pids.items()}

    def stop(self):
        self.t1 = time.monotonic()
        self.c1 = {k: cpu(p) for k, p in self.pids.items()}
        wall = self.t1 - self.t0
        out = {"wall_s": round(wall, 3)}
        for k in self.pids:
            ticks = self.c1[k]["ticks"] - self.c0[k]["ticks"]
            ns = self.c1[k]["ns"] - self.c0[k]["ns"]
            out[k] = {
                "stat_ms": ticks * 1000 // CLK_TCK,
                "stat_pct": round(100.0 * ticks / CLK_TCK / wall, 4),
                "sched_ms": round(ns / 1e6, 2),
                "sched_pct": round(100.0 * ns / 1e9 / wall, 4),
            }
        return out


# ---------------------------------------------------------------- worlds
HOLD_SECONDS = 3600     # "Seconds" of the holding runs: far longer than a window


def open_session(name, width, height, bits):
    wine_env.SCREEN_W, wine_env.SCREEN_H = width, height
    session = wine_env.WineSession(f"bench-{name}", bits)
    session.start()
    session.size = (width, height)
    screen = screen_of(session)
    screen.paint_root()
    screen.close()
    return session


def settings(session, seconds, paint):
    session.write_control_ini(
        f"[ScreenSaver.Vellomire]\r\nSeconds={seconds}\r\nPaint={paint}\r\n".encode())


def screen_of(session):
    wine_env.SCREEN_W, wine_env.SCREEN_H = session.size
    return Screen(session.display)


def end_program(session, process, timeout=20, key=True):
    """Ends a program of ours with a key press (the saver and the reference
    programs with a window close on one), waiting for its exit; one without
    a window (key=False) is ended by its process id."""
    if process.poll() is None and not key:
        process.terminate()
    elif process.poll() is None:
        try:
            session.xdotool("key", "a")
        except wine_env.HarnessError:
            pass
    try:
        process.wait(timeout)
    except subprocess.TimeoutExpired:
        process.kill()   # our own child, by its id
        process.wait(10)


def wait_complete(screen, process, timeout=60, still=0.6):
    """Waits until the first picture is on the screen and has not changed for
    `still` seconds; returns the pixels."""
    deadline = time.monotonic() + timeout
    last, since = None, time.monotonic()
    while time.monotonic() < deadline:
        if process.poll() is not None:
            raise wine_env.HarnessError("the saver ended before its picture was complete")
        pixels = screen.grab()
        if last is None or not np.array_equal(pixels, last):
            last, since = pixels, time.monotonic()
        elif picture_pixels(pixels) > 1000 and time.monotonic() - since >= still:
            return pixels
        time.sleep(0.1)
    raise wine_env.HarnessError("the first picture did not complete in time")


def wait_pixels(screen, condition, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        pixels = screen.grab()
        if condition(pixels):
            return pixels
        time.sleep(0.01)
    return None


# ---------------------------------------------------------------- figures
def measure_holding(saver_world, references, saver, window_s):
    """references: (label, world, program) of the reference programs, each
    run at the same time as the saver on a world of its own."""
    settings(saver_world, HOLD_SECONDS, 0)
    screen = screen_of(saver_world)
    process = saver_world.popen(saver, ["/s"])
    running = [(label, world, world.popen(program, [str(int(window_s) + 120)]))
               for label, world, program in references]
    try:
        held = wait_complete(screen, process)
        # The references started with the saver: their own start-up (some
        # milliseconds of CPU, as much as a minute of holding costs) is over
        # by then.
        time.sleep(3)
        pids = {"saver": process.pid, "saver_wineserver": wineserver_pid(saver_world)}
        for label, world, reference in running:
            pids[label] = reference.pid
            pids[label + "_wineserver"] = wineserver_pid(world)
        usage = Usage(pids)
        usage.start()
        time.sleep(window_s)
        result = usage.stop()
        after = screen.grab()
        result["still_the_same_picture"] = bool(np.array_equal(held, after))
        result["screen"] = "%dx%d" % saver_world.size
    finally:
        end_program(saver_world, process)
        for label, world, reference in running:
            end_program(world, reference, key=label != "idle")
        screen.close()
    return result


def merge_runs(runs):
    """Several holding runs as one: CPU and wall time summed, each run kept."""
    merged = {"wall_s": round(sum(r["wall_s"] for r in runs), 3), "screen": runs[0]["screen"],
              "still_the_same_picture": all(r["still_the_same_picture"] for r in runs),
              "runs": runs}
    for key, value in runs[0].items():
        if isinstance(value, dict) and "sched_ms" in value:
            stat_ms = sum(r[key]["stat_ms"] for r in runs)
            sched_ms = sum(r[key]["sched_ms"] for r in runs)
            merged[key] = {"stat_ms": stat_ms,
                           "stat_pct": round(100.0 * stat_ms / 1000 / merged["wall_s"], 4),
                           "sched_ms": round(sched_ms, 2),
                           "sched_pct": round(100.0 * sched_ms / 1000 / merged["wall_s"], 4)}
    return merged


def measure_painting(saver_world, references, saver, window_s, memory_minutes):
    """The saver with "Seconds" 1 and "Paint" 1 beside the reference programs
    (label, world, program, arguments) over window_s seconds; then the saver
    alone on, for its resident memory at the given minutes."""
    settings(saver_world, 1, 1)
    screen = screen_of(saver_world)
    started = time.monotonic()
    process = saver_world.popen(saver, ["/s"])
    lifetime = str(int(window_s) + 120)
    running = [(label, world, world.popen(program, [lifetime] + arguments))
               for label, world, program, arguments in references]
    result = {"screen": "%dx%d" % saver_world.size}
    try:
        if wait_pixels(screen, lambda p: picture_pixels(p) > 0, 60) is None:
            raise wine_env.HarnessError("the saver showed no picture")
        screen.close()
        screen = None
        time.sleep(3)   # the references' own start-up is over by then
        pids = {"saver": process.pid, "saver_wineserver": wineserver_pid(saver_world),
                "xvfb": saver_world.xvfb.pid}
        for label, world, reference in running:
            if reference.poll() is not None:
                raise wine_env.HarnessError(f"{label} ended early ({reference.returncode})")
            pids[label] = reference.pid
            pids[label + "_wineserver"] = wineserver_pid(world)
            pids[label + "_xvfb"] = world.xvfb.pid
        usage = Usage(pids)
        usage.start()
        time.sleep(window_s)
        result.update(usage.stop())
        for label, world, reference in running:
            end_program(world, reference, key=label != "idle")
        running = []
        memory = {}
        whole = Usage({"saver": process.pid, "saver_wineserver": pids["saver_wineserver"]})
        whole.c0 = {k: {"ticks": 0, "ns": 0} for k in whole.pids}
        whole.t0 = started
        for minutes in memory_minutes:
            at = started + minutes * 60
            while time.monotonic() < at:
                if process.poll() is not None:
                    raise wine_env.HarnessError("the saver ended during the memory run")
                time.sleep(min(5.0, max(0.0, at - time.monotonic())))
            memory[f"{minutes:g}"] = rss_kib(process.pid)
        result["rss_kib_by_minute"] = memory
        result["whole_run"] = whole.stop()
    finally:
        if screen is not None:
            screen.close()
        end_program(saver_world, process)
        for label, world, reference in running:
            end_program(world, reference, key=label != "idle")
    return result


def start_time(world, program, args, want_picture, timeout=60):
    """Seconds from the start of the Wine process until the screen is black
    (a full-screen black window) and until picture pixels show."""
    screen = screen_of(world)
    try:
        if wait_pixels(screen, bare_screen, 30) is None:
            raise wine_env.HarnessError("the screen is not bare before a start")
        t0 = time.monotonic()
        process = world.popen(program, args)
        black = picture = None
        while time.monotonic() - t0 < timeout:
            pixels = screen.grab()
            now = time.monotonic() - t0
            if black is None and np.count_nonzero(pixels == ROOT_GREY) == 0:
                black = now
            if picture is None and picture_pixels(pixels) >= 50:
                picture = now
            if (picture if want_picture else black) is not None:
                break
        end_program(world, process)
        if wait_pixels(screen, bare_screen, 30) is None:
            raise wine_env.HarnessError("the screen is not bare after a run")
        return {"covered_s": black, "picture_s": picture}
    finally:
        screen.close()


def measure_start(world, saver, black_window, runs):
    settings(world, 60, 1)
    # One of each first, not counted: fills the page cache and the server.
    start_time(world, black_window, ["10"], False)
    start_time(world, saver, ["/s"], True)
    saver_runs, black_runs = [], []
    for _ in range(runs):
        black_runs.append(start_time(world, black_window, ["10"], False))
        saver_runs.append(start_time(world, saver, ["/s"], True))
    # Resolution: how long one read of the screen takes.
    screen = screen_of(world)
    t = time.monotonic()
    for _ in range(20):
        screen.grab()
    grab_ms = (time.monotonic() - t) / 20 * 1000
    screen.close()

    def median(values):
        values = [v for v in values if v is not None]
        return statistics.median(values) if values else None

    return {
        "screen": "%dx%d" % world.size,
        "saver": saver_runs,
        "black_window": black_runs,
        "saver_picture_median_s": median([r["picture_s"] for r in saver_runs]),
        "saver_covered_median_s": median([r["covered_s"] for r in saver_runs]),
        "black_window_median_s": median([r["covered_s"] for r in black_runs]),
        "screen_read_ms": round(grab_ms, 1),
    }


def measure_parts(world, tick_parts, saver, iterations=200, rounds=7):
    """Runs tick_parts.exe: the painting tick's platform calls timed part by part."""
    out = world.new_dir("parts") / "parts.txt"
    process = world.popen(tick_parts, [world.winpath(saver), world.winpath(out),
                                       str(iterations), str(rounds)])
    code = process.wait(900)
    if code != 0 or not out.exists():
        raise wine_env.HarnessError(f"tick_parts.exe failed ({code})")
    parts = []
    for line in out.read_text().splitlines():
        name, wall, cpu_us = line.split("\t")
        parts.append({"part": name, "wall_us": float(wall), "cpu_us": float(cpu_us)})
    return {"screen": "%dx%d" % world.size, "iterations": iterations, "rounds": rounds,
            "parts": parts}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("out")
    parser.add_argument("--bits", type=int, choices=(32, 64), default=64)
    parser.add_argument("--saver", required=True)
    parser.add_argument("--bench-dir", required=True, help="folder of the reference .exe files")
    parser.add_argument("--long", action="store_true", help="memory also at 10 minutes")
    parser.add_argument("--memory-minutes", default="1,5")
    parser.add_argument("--hold-window", type=float, default=60.0)
    parser.add_argument("--hold-runs", type=int, default=5)
    parser.add_argument("--paint-window", type=float, default=60.0)
    parser.add_argument("--start-runs", type=int, default=10)
    parser.add_argument("--only", default="parts,start,hold,paint")
    args = parser.parse_args()
    saver = Path(args.saver).resolve()
    bench = Path(args.bench_dir).resolve()
    only = set(args.only.split(","))
    bits = args.bits
    results = {"bits": bits, "wine": subprocess.run([wine_env.LOADER[bits], "--version"],
                                                    capture_output=True, text=True).stdout.strip()}
    out = Path(args.out)

    def save():
        out.write_text(json.dumps(results, indent=1))

    worlds = []
    try:
        small = open_session("saver-1024", 1024, 768, bits)
        worlds.append(small)
        small_idle = open_session("idle-1024", 1024, 768, bits) if only & {"hold", "paint"} else None
        if small_idle:
            worlds.append(small_idle)
        small_rearm = open_session("rearm-1024", 1024, 768, bits) if only & {"hold", "paint"} else None
        if small_rearm:
            worlds.append(small_rearm)
        if "parts" in only:
            print("bench: a painting tick's calls, part by part, at 1024x768", flush=True)
            results["parts"] = measure_parts(small, bench / "tick_parts.exe", saver)
            save()
        if "start" in only:
            print("bench: start-up at 1024x768", flush=True)
            results["start"] = measure_start(small, saver, bench / "black_window.exe",
                                             args.start_runs)
            save()
        if "hold" in only:
            print("bench: holding at 1024x768", flush=True)
            results["hold_1024x768"] = merge_runs([measure_holding(
                small, [("idle", small_idle, bench / "idle_loop.exe"),
                        ("rearm", small_rearm, bench / "idle_rearm.exe")], saver, args.hold_window)
                for _ in range(args.hold_runs)])
            save()
        if "paint" in only:
            minutes = [float(m) for m in args.memory_minutes.split(",")]
            minutes += [10.0] if args.long else []
            print(f"bench: painting at 1024x768, then memory up to {minutes[-1]} minutes",
                  flush=True)
            results["paint_1024x768"] = measure_painting(
                small, [("idle", small_idle, bench / "idle_loop.exe", []),
                        ("paint_loop", small_rearm, bench / "paint_loop.exe",
                         [small_rearm.winpath(saver)])],
                saver, args.paint_window, minutes)
            save()
        for world in list(worlds):
            world.close()
            worlds.remove(world)
        if "hold" in only:
            big = open_session("saver-1920", 1920, 1080, bits)
            worlds.append(big)
            big_idle = open_session("idle-1920", 1920, 1080, bits)
            worlds.append(big_idle)
            big_rearm = open_session("rearm-1920", 1920, 1080, bits)
            worlds.append(big_rearm)
            print("bench: holding at 1920x1080", flush=True)
            results["hold_1920x1080"] = merge_runs([measure_holding(
                big, [("idle", big_idle, bench / "idle_loop.exe"),
                      ("rearm", big_rearm, bench / "idle_rearm.exe")], saver, args.hold_window)
                for _ in range(args.hold_runs)])
            save()
    finally:
        for world in worlds:
            world.close()
    save()


if __name__ == "__main__":
    main()
