#!/usr/bin/python3
"""Runs the headless runner on a known full-screen run and checks its trace:
with the calendar at second 1 on an 800 x 600 screen the first picture is
map9 at (198, 58), painted by ColumnsOpen in 75 calls 40 ms apart, the last
one ending with the copy of the whole picture.

usage: check_wipe_trace.py VELLOMIRE_SIM
"""
import subprocess
import sys

PICTURE = ("map9", 198, 58, 4)
WIDTH, HEIGHT = 450, 301
CALLS = 75
PERIOD = 40
HOLD = 10000  # no settings stored: the show holds a picture 10 seconds

FIRST_CALL = [225, 225, 226, 224, 227, 223]
LAST_CALL = [447, 3, 448, 2, 449, 1]


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def main():
    if len(sys.argv) != 2:
        fail("usage: check_wipe_trace.py VELLOMIRE_SIM")
    run = subprocess.run(
        [sys.argv[1], "--trace", "--screen", "800x600", "--clock", "1", "--", "/s"],
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, check=False)
    if run.returncode != 0:
        fail("the runner ended with %d: %s" % (run.returncode, run.stderr.strip()))
    lines = [line.split() for line in run.stdout.splitlines() if line.strip()]
    if not lines or lines[-1][1:] != ["exit", "0"]:
        fail("the run did not end with exit 0: %r" % (lines[-1:] if lines else "no trace"))

    pictures = [i for i, line in enumerate(lines) if line[1] == "picture"]
    if len(pictures) < 2:
        fail("fewer than two pictures in the trace")
    first = lines[pictures[0]]
    shown = (first[2], int(first[3]), int(first[4]), int(first[5]))
    if shown != PICTURE:
        fail("first picture %r, expected %r" % (shown, PICTURE))
    name, x0, y0, _ = PICTURE

    # The first picture's copies, grouped by the tick (time) that made them.
    ticks = {}
    for line in lines[pictures[0] + 1:pictures[1]]:
        if line[1] != "blit":
            continue
        ticks.setdefault(int(line[0]), []).append(tuple(int(v) for v in line[2:8]))
    times = sorted(ticks)
    if len(times) != CALLS:
        fail("%s took %d calls, expected %d" % (name, len(times), CALLS))
    gaps = sorted({b - a for a, b in zip(times, times[1:])})
    if gaps != [PERIOD]:
        fail("calls are %r ms apart, expected %d" % (gaps, PERIOD))
    if int(first[0]) != times[0]:
        fail("the first steps came at %d, not in the tick that started the picture (%s)"
             % (times[0], first[0]))

    def columns(call):
        copies = ticks[times[call]]
        out = []
        for x, y, w, h, sx, sy in copies:
            if (w, h, y, sy) == (1, HEIGHT, y0, 0) and x == x0 + sx:
                out.append(sx)
            else:
                out.append((x, y, w, h, sx, sy))
        return out

    if columns(0) != FIRST_CALL:
        fail("call 1 copied %r, expected columns %r" % (columns(0), FIRST_CALL))
    for call in range(CALLS - 1):
        steps = range(3 * call, 3 * call + 3)
        expected = [c for n in steps for c in (225 + n, 225 - n)]
        if columns(call) != expected:
            fail("call %d copied %r, expected columns %r" % (call + 1, columns(call), expected))
    last = ticks[times[-1]]
    if columns(CALLS - 1)[:-1] != LAST_CALL or last[-1] != (x0, y0, WIDTH, HEIGHT, 0, 0):
        fail("call %d copied %r, expected columns %r and the whole picture"
             % (CALLS, last, LAST_CALL))

    second = lines[pictures[1]]
    if int(second[0]) - times[-1] != HOLD:
        fail("the next picture began %d ms after the last call, expected %d"
             % (int(second[0]) - times[-1], HOLD))
    print("%s by ColumnsOpen: %d calls %d ms apart from %d ms, whole copy at %d ms; next %s at %s ms"
          % (name, len(times), PERIOD, times[0], times[-1], second[2], second[0]))


if __name__ == "__main__":
    main()
