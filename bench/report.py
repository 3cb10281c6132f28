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


def hold_row(hold, label):
    if not hold:
        return [f"CPU while a picture is held, {label}", "not measured", "", "n/a"]
    saver = hold["saver"]
    idle = hold["idle"]
    rearm = hold.get("rearm")
    ws, idle_ws = hold["saver_wineserver"], hold["idle_wineserver"]
    share = ws["sched_pct"] - idle_ws["sched_pct"]
    ratio = saver["sched_ms"] / idle["sched_ms"] if idle["sched_ms"] else None
    text = (f"saver {pct(saver['sched_pct'])} (stat {pct(saver['stat_pct'], 2)}); "
            f"empty loop {pct(idle['sched_pct'])}, ratio {ratio:.2f}x"
            + (f"; a window doing only the tick's yield, kill, re-arm {pct(rearm['sched_pct'])}, "
               f"saver/it {saver['sched_ms'] / rearm['sched_ms']:.2f}x"
               if rearm and rearm["sched_ms"] else "")
            + f"; wineserver {pct(ws['sched_pct'])} vs {pct(idle_ws['sched_pct'])} beside the "
              f"empty loop (the saver's share {share:+.3f} %); over {hold['wall_s']:.0f} s"
            + ("" if hold.get("still_the_same_picture") else "; **the picture changed**"))
    ok = saver["sched_pct"] + max(share, 0) <= 0.05 and ratio is not None and ratio <= 1.2
    note = verdict(ok)
    if not ok and rearm and rearm["sched_ms"]:
        note += (f" (saver alone {'≤' if saver['sched_pct'] <= 0.05 else '>'} 0.05 %; "
                 f"{saver['sched_ms'] / rearm['sched_ms']:.2f}x the design's own tick)")
    return [f"CPU while a picture is held, {label}", text,
            "≤ 0.05 % of one core, ≤ 1.2x the empty program", note]


def paint_row(paint):
    if not paint:
        return ["CPU while painting, 1024x768", "not measured", "", "n/a"]
    saver, ws, idle_ws = paint["saver"], paint["saver_wineserver"], paint["idle_wineserver"]
    share = ws["sched_pct"] - idle_ws["sched_pct"]
    loop = paint.get("paint_loop")
    text = (f"saver {pct(saver['sched_pct'], 2)} (stat {pct(saver['stat_pct'], 2)}); "
            f"wineserver {pct(ws['sched_pct'], 2)} vs {pct(idle_ws['sched_pct'], 2)} beside "
            f"the empty loop (share {share:+.2f} %); Xvfb {pct(paint['xvfb']['sched_pct'], 2)}; "
            f"over {paint['wall_s']:.0f} s of wipes with 1 s holds"
            + (f"; a window doing only the painting tick's calls, without holds: "
               f"{pct(loop['sched_pct'], 2)} (saver/it {saver['sched_ms'] / loop['sched_ms']:.2f}x)"
               if loop and loop["sched_ms"] else ""))
    ok = saver["sched_pct"] + max(share, 0) <= 1.0
    note = verdict(ok)
    if not ok and loop and loop["sched_ms"]:
        note += f" (the design's own ticks cost {pct(loop['sched_pct'], 2)})"
    return ["CPU while painting, 1024x768", text, "≤ 1 % of one core", note]


def start_row(start):
    if not start or start.get("saver_picture_median_s") is None:
        return ["Start-up to first picture", "not measured", "", "n/a"]
    s, b = start["saver_picture_median_s"], start["black_window_median_s"]
    runs = len(start["saver"])
    text = (f"saver {s * 1000:.0f} ms to picture pixels (covered black at "
            f"{start['saver_covered_median_s'] * 1000:.0f} ms); black window "
            f"{b * 1000:.0f} ms; ratio {s / b:.2f}x; medians of {runs} alternating runs, "
            f"screen read every {start['screen_read_ms']:.0f} ms")
    return ["Start-up to first picture, 1024x768", text, "≤ 1.2x the trivial program",
            verdict(s / b <= 1.2)]


def tick_rows(ticks):
    if not ticks:
        return [["Work per tick", "not measured", "", "n/a"]]

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
             "reported; a holding tick does no GDI work", verdict(hold_gdi == 0)]]


def size_row(size):
    if not size:
        return ["Code size", "not measured", "", "n/a"]
    parts, ok = [], True
    for label in ("saver-32", "saver-64"):
        if label in size:
            v = size[label]
            parts.append(f"{label}: {kib(v['code_and_data_memory'])} in memory, "
                         f"{kib(v['code_and_data_file'])} in the file "
                         f"(resources {kib(v['resources'])} more)")
            if label == "saver-32":
                ok = v["code_and_data_file"] <= 12 * 1024
    for label in ("trivial-32", "trivial-64"):
        if label in size:
            parts.append(f"{label}: {kib(size[label]['code_and_data_memory'])} / "
                         f"{kib(size[label]['code_and_data_file'])}")
    return ["Code size (stripped, all sections but .rsrc)", "; ".join(parts),
            "32-bit saver ≤ 12 KiB of code and data in the file", verdict(ok)]


def live_row(folder, paint):
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
    memory = (paint or {}).get("rss_kib_by_minute")
    if memory:
        values = list(memory.values())
        parts.append("Wine resident set at " + ", ".join(
            f"{m} min {v / 1024:.1f} MiB" for m, v in memory.items()))
        growth = values[-1] - values[0]
        parts[-1] += f" (change {growth:+d} KiB)"
        flat = (flat is not False) and growth <= 256
    return ["Handles and memory over time", "; ".join(parts) or "not measured", "flat: no growth",
            verdict(flat)]


def parts_table(parts):
    if not parts:
        return []
    lines = ["", f"Painting tick, part by part (tick_parts.exe under Wine, {parts['screen']}, "
                 f"{parts['rounds']} rounds of {parts['iterations']}):", "",
             "| Part | Wall µs (median) | CPU µs |", "|---|---|---|"]
    for p in parts["parts"]:
        lines.append(f"| {p['part']} | {p['wall_us']:.0f} | {p['cpu_us']:.0f} |")
    return lines


def main():
    folder = Path(sys.argv[1])
    info = machine_lines(folder)
    wine = load_json(folder / "wine.json") or {}
    rows = [
        hold_row(wine.get("hold_1024x768"), "1024x768"),
        hold_row(wine.get("hold_1920x1080"), "1920x1080"),
        paint_row(wine.get("paint_1024x768")),
        start_row(wine.get("start")),
        *tick_rows(load_json(folder / "ticks.json")),
        size_row(load_json(folder / "size.json")),
        live_row(folder, wine.get("paint_1024x768")),
    ]
    out = [
        f"Machine: {info.get('cpu', '?')}, {info.get('cores', '?')} cores; "
        f"load average {info.get('load_start', '?')} at the start, "
        f"{info.get('load_end', '?')} at the end; {info.get('date', '?')}; "
        f"{wine.get('wine', 'Wine not run')}; source {info.get('commit', '?')}",
        "",
        "| Figure | Measured | Target | |",
        "|---|---|---|---|",
    ]
    out += [f"| {' | '.join(r)} |" for r in rows]
    out += parts_table(wine.get("parts"))
    text = "\n".join(out) + "\n"
    (folder / "report.md").write_text(text)
    print(text, end="")


if __name__ == "__main__":
    main()
