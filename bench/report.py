"""Prints the benchmark's table from one results folder of run-bench.sh, and
writes it to report.md in that folder.

    /usr/bin/python3 bench/report.py build/bench-results/STAMP
"""

import csv
import json
import sys
from pathlib import Path


def load_json(path):
    try:
        return json.loads(Path(path).read_text())
    except (OSError, ValueError):
        return None


def kib(n):
    return f"{n / 1024:.1f} KiB"


def pct(value, digits=3):
    return "n/a" if value is None else f"{value:.{digits}f} %"


def verdict(ok):
    return "n/a" if ok is None else ("met" if ok else "**missed**")


def machine_lines(folder):
    info = {}
    try:
        for line in (folder / "machine.txt").read_text().splitlines():
            key, _, value = line.partition("=")
            info[key] = value
    except OSError:
        pass
    return info


GOAL = 1.05     # each figure within this of the design's floor program


def spread(runs, key, floor):
    """The median of the runs' ratios of `key`'s CPU to `floor`'s, and the
    lowest and highest run's: with five runs the range holds the true median
    ratio with 94 % probability whatever the noise's shape (a busy neighbour
    adds milliseconds to single runs, which a mean would take in)."""
    ratios = sorted(r[key]["sched_ms"] / r[floor]["sched_ms"] for r in runs if r[floor]["sched_ms"])
    if not ratios:
        return None
    n = len(ratios)
    median = (ratios[(n - 1) // 2] + ratios[n // 2]) / 2
    return median, ratios[0], ratios[-1], n


def ratio_text(s):
    median, low, high, n = s
    return f"**{median:.2f}x**" + (f" (median of {n} runs, {low:.2f} to {high:.2f}x)" if n > 1 else "")


def goal_verdict(s, *also):
    """Met when the ratio is within GOAL and every other condition holds; says
    when the runs' range holds GOAL, so that they do not tell the two apart."""
    if s is None:
        return "n/a"
    median, low, high, n = s
    note = verdict(median <= GOAL and all(also))
    if n > 1 and low <= GOAL <= high:
        note += f" ({GOAL}x lies within the runs' range)"
    return note


def hold_text(hold, short=False):
    """The column's text and the runs' ratio to the design's holding tick."""
    if not hold:
        return "not measured", None
    runs = hold.get("runs", [hold])
    saver, rearm = hold["saver"], hold.get("rearm")
    floor = spread(runs, "saver", "rearm") if rearm else None
    ratio = ratio_text(floor) if floor else "n/a"
    if short:
        return f"saver {pct(saver['sched_pct'])}; {ratio} the design's holding tick", floor
    idle = spread(runs, "saver", "idle")
    share = hold["saver_wineserver"]["sched_pct"] - hold["idle_wineserver"]["sched_pct"]
    return (f"saver {pct(saver['sched_pct'])} of a core; the design's holding tick alone "
            f"(`idle_rearm.exe`) {pct(rearm['sched_pct']) if rearm else 'n/a'}: saver {ratio}; "
            f"empty loop {pct(hold['idle']['sched_pct'])}"
            + (f" (saver {idle[0]:.2f}x)" if idle else "")
            + f"; the saver's share of its wineserver {share:+.3f} %; "
              f"{len(runs)} runs of {runs[0]['wall_s']:.0f} s inside one hold"
            + ("" if hold.get("still_the_same_picture") else "; **the picture changed**")), floor


def hold_row(h32, h64, label):
    (t32, f32), (t64, f64) = hold_text(h32), hold_text(h64, short=True)
    main, floor = (h32, f32) if h32 else (h64, f64)
    return [f"CPU while a picture is held, {label}", t32, t64,
            f"≤ 0.05 % of one core; ≤ {GOAL}x the design's holding tick",
            goal_verdict(floor, main["saver"]["sched_pct"] <= 0.05) if main else "n/a"]


def paint_text(paint, short=False):
    """The column's text and the ratio to the design's painting ticks."""
    if not paint:
        return "not measured", None
    saver, loop = paint["saver"], paint.get("paint_loop")
    s = spread([paint], "saver", "paint_loop") if loop else None
    if short:
        return (f"saver {pct(saver['sched_pct'], 2)}; {s[0]:.2f}x the painting ticks" if s
                else "n/a"), s
    share = paint["saver_wineserver"]["sched_pct"] - paint["idle_wineserver"]["sched_pct"]
    return (f"saver {pct(saver['sched_pct'], 2)} (stat {pct(saver['stat_pct'], 2)}); "
            f"wineserver share {share:+.2f} %; Xvfb {pct(paint['xvfb']['sched_pct'], 2)}; over "
            f"{paint['wall_s']:.0f} s of wipes with 1 s holds; a window doing only the painting "
            f"tick's calls, without holds: {pct(loop['sched_pct'], 2) if loop else 'n/a'}"
            + (f" (saver {s[0]:.2f}x)" if s else "")), s


def paint_row(p32, p64):
    (t32, s32), (t64, s64) = paint_text(p32), paint_text(p64, short=True)
    main, s = (p32, s32) if p32 else (p64, s64)
    note = goal_verdict(s) if main else "n/a"
    if main and main["saver"]["sched_pct"] > 1.0 and main.get("paint_loop"):
        note += f" (over 1 %: the design's own ticks cost {pct(main['paint_loop']['sched_pct'], 2)})"
    return ["CPU while painting, 1024x768", t32, t64,
            f"≤ {GOAL}x the design's painting ticks (and ≤ 1 % of one core)", note]


def start_text(start, short=False):
    """The column's text and the ratio to the black window."""
    if not start or start.get("saver_picture_median_s") is None:
        return "not measured", None
    s, b = start["saver_picture_median_s"], start["black_window_median_s"]
    if short:
        return f"{s * 1000:.0f} against {b * 1000:.0f} ms, {s / b:.2f}x", s / b
    return (f"saver {s * 1000:.0f} ms to picture pixels (covered black at "
            f"{start['saver_covered_median_s'] * 1000:.0f} ms); black window "
            f"{b * 1000:.0f} ms; **{s / b:.2f}x**; medians of {len(start['saver'])} alternating "
            f"runs, screen read every {start['screen_read_ms']:.0f} ms"), s / b


def start_row(s32, s64):
    (t32, r32), (t64, r64) = start_text(s32), start_text(s64, short=True)
    ratio = r32 if r32 is not None else r64
    return ["Start-up to first picture, 1024x768", t32, t64,
            f"≤ {GOAL}x a program that opens a black full-screen window",
            verdict(None if ratio is None else ratio <= GOAL)]


def tick_rows(ticks):
    if not ticks:
        return [["Work per tick", "not measured", "", "", "n/a"]]

    def line(kinds, name):
        picked = [ticks[k] for k in kinds if k in ticks and ticks[k]["product_ir"]]
        if not picked:
            return None
        ir = [p["product_ir"]["median"] for p in picked]
        calls = [p["calls"]["max"] for p in picked]
        gdi = [p["gdi_calls"]["max"] for p in picked]
        blits = [p["bitblt"]["max"] for p in picked]
        return (f"{name}: {min(ir):.0f}-{max(ir):.0f} instructions of the saver's own code, "
                f"≤ {max(calls)} platform calls ({max(gdi)} GDI, {max(blits)} BitBlt)")

    painting = [k for k in ticks if k.startswith("painting")]
    first = [k for k in ticks if k.startswith("first")]
    completing = [k for k in ticks if k.startswith("completing (paired")]
    parts = [line(first, "first tick of a picture"), line(painting, "painting tick"),
             line(completing, "completing tick of patterns 4-7"),
             line(["holding", "holding-last"], "holding tick")]
    hold_gdi = max(ticks[k]["gdi_calls"]["max"] for k in ("holding", "holding-last") if k in ticks)
    return [["Work per tick (simulation, callgrind)", "; ".join(p for p in parts if p),
             "the same sources", "reported; a holding tick does no GDI work",
             verdict(hold_gdi == 0)]]


def size_row(size):
    if not size:
        return ["Code size", "not measured", "", "", "n/a"]

    def text(bits):
        saver, trivial = size.get(f"saver-{bits}"), size.get(f"trivial-{bits}")
        parts = []
        if saver:
            parts.append(f"{kib(saver['code_and_data_memory'])} in memory, "
                         f"{kib(saver['code_and_data_file'])} in the file (resources "
                         f"{kib(saver['resources'])} more)")
        if trivial:
            parts.append(f"trivial program {kib(trivial['code_and_data_memory'])} / "
                         f"{kib(trivial['code_and_data_file'])}")
        return "; ".join(parts) or "not measured"
    ok = "saver-32" in size and size["saver-32"]["code_and_data_file"] <= 12 * 1024
    return ["Code size (stripped, all sections but .rsrc)", text(32), text(64),
            "32-bit saver ≤ 12 KiB of code and data in the file", verdict(ok)]


def resident(paint):
    memory = (paint or {}).get("rss_kib_by_minute")
    if not memory:
        return "", None
    values = list(memory.values())
    return ("Wine resident set at " + ", ".join(f"{m} min {v / 1024:.1f} MiB"
                                                for m, v in memory.items())
            + f" (change {values[-1] - values[0]:+d} KiB)"), values[-1] - values[0] <= 256


def live_row(folder, paint, twin):
    rows = []
    try:
        with open(folder / "live.tsv") as f:
            rows = list(csv.DictReader((l for l in f if not l.startswith("#")), delimiter="\t"))
    except OSError:
        pass
    keys = ["windows", "classes", "timers", "window_dcs", "memory_dcs", "bitmaps", "brushes",
            "libraries", "registry_keys"]
    parts, flat = [], None
    running = [r for r in rows if r["when"] == "running"]
    if running:
        counts = [tuple(int(r[k]) for k in keys) for r in running]
        flat = all(c == counts[0] for c in counts)
        ended = [r for r in rows if r["when"] == "ended"]
        parts.append("simulation after pictures " + ", ".join(r["pictures"] for r in running) +
                     ": " + ", ".join(f"{k} {running[-1][k]}" for k in keys) +
                     (" at each" if flat else " (**changes**)") +
                     (f"; all 0 after exit" if ended and all(int(ended[0][k]) == 0 for k in keys)
                      else "") +
                     f"; misuse {running[-1]['misuse']}")
    memory, still = resident(paint)
    if memory:
        parts.append(memory)
        flat = (flat is not False) and still
    return ["Handles and memory over time", "; ".join(parts) or "not measured",
            resident(twin)[0] or "not measured", "flat: no growth", verdict(flat)]


def parts_table(p32, p64):
    shown = [p for p in (p32, p64) if p]
    if not shown:
        return []
    widths = [bits for bits, p in ((32, p32), (64, p64)) if p]
    lines = ["", f"Painting tick, part by part (tick_parts.exe under Wine, {shown[0]['screen']}, "
                 f"{shown[0]['rounds']} rounds of {shown[0]['iterations']}), "
                 "wall µs (median) and CPU µs:", "",
             "| Part | " + " | ".join(f"{b}-bit wall | {b}-bit CPU" for b in widths) + " |",
             "|---|" + "---|---|" * len(widths)]
    for n, part in enumerate(shown[0]["parts"]):
        cells = [f"{p['parts'][n]['wall_us']:.0f} | {max(0.0, p['parts'][n]['cpu_us']):.0f}" for p in shown]
        lines.append(f"| {part['part']} | " + " | ".join(cells) + " |")
    return lines


def main():
    folder = Path(sys.argv[1])
    info = machine_lines(folder)
    # The shipped 32-bit file's figures, and its 64-bit twin's beside them
    # (wine.json: a run from before the shipped file was measured, 64-bit).
    w32 = load_json(folder / "wine-32.json") or {}
    w64 = load_json(folder / "wine-64.json") or load_json(folder / "wine.json") or {}
    rows = [
        hold_row(w32.get("hold_1024x768"), w64.get("hold_1024x768"), "1024x768"),
        hold_row(w32.get("hold_1920x1080"), w64.get("hold_1920x1080"), "1920x1080"),
        paint_row(w32.get("paint_1024x768"), w64.get("paint_1024x768")),
        start_row(w32.get("start"), w64.get("start")),
        *tick_rows(load_json(folder / "ticks.json")),
        size_row(load_json(folder / "size.json")),
        live_row(folder, w32.get("paint_1024x768"), w64.get("paint_1024x768")),
    ]
    out = [
        f"Machine: {info.get('cpu', '?')}, {info.get('cores', '?')} cores; "
        f"load average {info.get('load_start', '?')} at the start, "
        f"{info.get('load_end', '?')} at the end; {info.get('date', '?')}; "
        f"{w32.get('wine') or w64.get('wine') or 'Wine not run'}; source {info.get('commit', '?')}",
    ]
    if info.get("win32_wine", "yes") != "yes":
        out.append(f"The shipped 32-bit file was not run: {info['win32_wine']}; the 64-bit twin's "
                   "figures stand alone.")
    out += ["", "| Figure | Shipped 32-bit file | 64-bit twin | Target | |", "|---|---|---|---|---|"]
    out += [f"| {' | '.join(r)} |" for r in rows]
    out += parts_table(w32.get("parts"), w64.get("parts"))
    text = "\n".join(out) + "\n"
    (folder / "report.md").write_text(text)
    print(text, end="")


if __name__ == "__main__":
    main()
