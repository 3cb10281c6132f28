"""Instructions per timer tick, from sim_bench's tick table and the callgrind
files dumped for the sampled ticks (one file per tick).

    /usr/bin/python3 bench/callgrind_ticks.py TICKS.tsv CALLGRIND_DIR SOURCE_DIR OUT.json

Each dump holds the instructions of one WM_TIMER dispatch inside
HostWindowProc: the product's own code (files under SOURCE_DIR/host and
SOURCE_DIR/show), the simulated platform (sim/) and the C++ runtime that the
simulation uses. Only the first is what the saver itself executes on Windows;
the platform calls it makes are counted in the tick table.
"""

import csv
import json
import re
import statistics
import sys
from pathlib import Path

GDI = ["LoadBitmapA", "GetObjectA", "GetDC", "CreateCompatibleDC", "SelectObject",
       "GetStockObject", "FillRect", "BitBlt", "DeleteDC", "ReleaseDC", "DeleteObject"]


NAMES = {}   # compressed names, "(n)" -> name; the numbers hold across a run's files


def parse_dump(path, source):
    """(label, total Ir, Ir by area) of one callgrind file."""
    names = NAMES
    label, total = None, 0
    by_area = {"product": 0, "sim": 0, "other": 0}
    current_file = ""
    skip_next_cost = False
    host, show, sim = f"{source}/host/", f"{source}/show/", f"{source}/sim/"

    def resolve(value):
        m = re.match(r"\((\d+)\)(?: (.*))?$", value)
        if not m:
            return value
        if m.group(2) is not None:
            names[("f", m.group(1))] = m.group(2)
        return names.get(("f", m.group(1)), "")

    with open(path) as f:
        for line in f:
            line = line.rstrip("\n")
            if line.startswith("desc: Trigger: Client Request: "):
                label = line[len("desc: Trigger: Client Request: "):]
            elif line.startswith("totals:") or line.startswith("summary:"):
                total = int(line.split()[1])
            elif line.startswith(("fl=", "fi=", "fe=")):
                current_file = resolve(line[3:])
            elif line.startswith("calls="):
                skip_next_cost = True
            elif line and (line[0].isdigit() or line[0] in "+-*"):
                if skip_next_cost:
                    skip_next_cost = False
                    continue
                cost = int(line.split()[-1])
                if current_file.startswith((host, show)):
                    by_area["product"] += cost
                elif current_file.startswith(sim):
                    by_area["sim"] += cost
                else:
                    by_area["other"] += cost
            elif line.startswith(("cfl=", "cfi=", "cfn=")):
                # Callee names are defined here too; keep the table complete.
                resolve(line[4:])
    return label, total, by_area


def main():
    ticks_path, dump_dir, source, out_path = sys.argv[1:5]
    source = str(Path(source).resolve())
    with open(ticks_path) as f:
        ticks = list(csv.DictReader(f, delimiter="\t"))
    dumps = {}
    for path in sorted(Path(dump_dir).glob("callgrind.out.*")):
        label, total, by_area = parse_dump(path, source)
        if label and label.startswith("tick "):
            dumps[int(label.split()[1])] = {"total": total, **by_area}

    def kind_of(t):
        kind, pattern = t["kind"], int(t["pattern"])
        if kind in ("painting", "completing", "first"):
            group = "rows" if pattern in (0, 1) else "columns" if pattern in (2, 3) else \
                "paired columns" if pattern in (4, 5) else "paired rows"
            return f"{kind} ({group})"
        return kind

    groups = {}
    for t in ticks:
        g = groups.setdefault(kind_of(t), {"ticks": 0, "calls": [], "gdi_calls": [],
                                            "bitblt": [], "product_ir": [], "total_ir": [],
                                            "sim_ir": []})
        g["ticks"] += 1
        # The interval of a tick also holds the loop's TranslateMessage,
        # DispatchMessageA and next GetMessageA: not the tick's calls.
        loop = sum(int(t[name]) for name in ("GetMessageA", "TranslateMessage", "DispatchMessageA"))
        g["calls"].append(int(t["calls"]) - loop)
        g["gdi_calls"].append(sum(int(t[name]) for name in GDI))
        g["bitblt"].append(int(t["BitBlt"]))
        d = dumps.get(int(t["tick"]))
        if d:
            g["product_ir"].append(d["product"])
            g["total_ir"].append(d["total"])
            g["sim_ir"].append(d["sim"] + d["other"])

    def summary(values):
        if not values:
            return None
        return {"min": min(values), "median": statistics.median(values), "max": max(values),
                "n": len(values)}

    result = {k: {"ticks": g["ticks"], **{key: summary(g[key]) for key in
                                          ("calls", "gdi_calls", "bitblt", "product_ir",
                                           "total_ir", "sim_ir")}}
              for k, g in sorted(groups.items())}
    with open(out_path, "w") as f:
        json.dump(result, f, indent=1)


if __name__ == "__main__":
    main()
