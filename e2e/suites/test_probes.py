"""Fidelity probes: the same small Win32 programs run under Wine and on the
simulation, and their logs compared line by line. Differences that are
known and written down in e2e/probes/known-differences.txt (and explained in
e2e/probes/DIFFERENCES.md) are reported but tolerated; any other difference,
and a known one that no longer shows, fails."""

import difflib
import os
import subprocess
import sys
import tempfile
from collections import Counter
from pathlib import Path

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "harness"))
import suite  # noqa: E402
import wine_env  # noqa: E402

SCENARIOS = ["window", "messages", "timers", "activation", "dialog", "dialogkeys", "children", "paint", "filters", "owned", "profile"]
KNOWN_FILE = Path(__file__).resolve().parents[1] / "probes" / "known-differences.txt"


def load_known():
    """{(scenario, side): Counter of lines} from the known-differences file."""
    known = {}
    for raw in KNOWN_FILE.read_text().splitlines():
        if not raw.strip() or raw.startswith("#"):
            continue
        scenario, side, line = raw.split("\t", 2)
        if side not in ("wine-only", "sim-only", "moved"):
            raise ValueError(f"bad side {side!r} in {KNOWN_FILE}")
        known.setdefault((scenario, side), Counter())[line] += 1
    return known


def differences(wine_lines, sim_lines):
    """(wine-only, sim-only) Counters: ordered lines by a sequence diff, lines
    marked "~" (whose place is up to the system) as multisets."""
    ordered = lambda lines: [l for l in lines if not l.startswith("~ ")]  # noqa: E731
    free = lambda lines: Counter(l for l in lines if l.startswith("~ "))  # noqa: E731
    wine_ordered, sim_ordered = ordered(wine_lines), ordered(sim_lines)
    wine_only, sim_only = Counter(), Counter()
    matcher = difflib.SequenceMatcher(a=sim_ordered, b=wine_ordered, autojunk=False)
    for tag, i1, i2, j1, j2 in matcher.get_opcodes():
        if tag != "equal":
            sim_only.update(sim_ordered[i1:i2])
            wine_only.update(wine_ordered[j1:j2])
    wine_only.update(free(wine_lines) - free(sim_lines))
    sim_only.update(free(sim_lines) - free(wine_lines))
    return wine_only, sim_only


class Probes(suite.WineCase):
    needs_saver = False

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.known = load_known()
        cls.probe_exe = wine_env.build_dir(64) / "e2e" / "windows" / "probes" / "probe.exe"
        cls.native = Path(os.environ.get("VELLOMIRE_NATIVE_PROBE", ""))

    def run_wine(self, scenario):
        if not self.probe_exe.exists():
            self.fail(f"{self.probe_exe} is not built")
        out = self.wine.new_dir("probe") / "log.txt"
        result = self.wine.run(b"probe.exe " + scenario.encode(), self.probe_exe,
                               extra_env={"PROBE_LOG": self.wine.winpath(out)})
        self.assertEqual(result.unsigned, 0, f"probe.exe {scenario} ended with {result}")
        return out.read_text().splitlines()

    def run_sim(self, scenario):
        if not self.native.is_file():
            self.fail(f"the native probe is not built (VELLOMIRE_NATIVE_PROBE={self.native})")
        with tempfile.TemporaryDirectory() as d:
            out = Path(d) / "log.txt"
            done = subprocess.run([str(self.native), scenario], env=dict(os.environ, PROBE_LOG=str(out)),
                                  stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
            self.assertEqual(done.returncode, 0, done.stderr.decode(errors="replace"))
            return out.read_text().splitlines()

    def compare(self, scenario):
        wine_lines = self.run_wine(scenario)
        sim_lines = self.run_sim(scenario)
        self.assertEqual(wine_lines[-1:], ["end"], "the Windows probe did not finish")
        self.assertEqual(sim_lines[-1:], ["end"], "the simulated probe did not finish")
        wine_only, sim_only = differences(wine_lines, sim_lines)
        problems = []
        # Lines that both sides have, in another order: a sequence diff may
        # blame either of the lines that swapped places, so they are listed
        # as a group, which is stale only when none of them differs any more.
        moved = self.known.get((scenario, "moved"), Counter())
        moved_found = [line for line in moved if line in wine_only and line in sim_only]
        for line in moved_found:
            print(f"  known difference (moved): {line}", file=sys.stderr)
            del wine_only[line]
            del sim_only[line]
        if moved and not moved_found:
            problems.append(f"moved: {sorted(moved)}  <- listed as known but no longer differs")
        for side, found in (("wine-only", wine_only), ("sim-only", sim_only)):
            expected = self.known.get((scenario, side), Counter())
            for line in sorted(found):
                if line in expected:
                    print(f"  known difference ({side}): {line}", file=sys.stderr)
                else:
                    problems.append(f"{side}: {line}")
            for line in sorted(expected):
                if line not in found:
                    problems.append(f"{side}: {line}  <- listed as known but no longer differs")
        if problems:
            side_by_side = "\n".join(difflib.unified_diff(sim_lines, wine_lines, "simulation", "wine",
                                                          lineterm="", n=3))
            self.fail(f"probe {scenario}: unexplained differences\n  " + "\n  ".join(problems)
                      + f"\n{side_by_side}")

    def test_window(self):
        self.compare("window")

    def test_messages(self):
        self.compare("messages")

    def test_timers(self):
        self.compare("timers")

    def test_activation(self):
        self.compare("activation")

    def test_dialog(self):
        self.compare("dialog")

    def test_dialogkeys(self):
        self.compare("dialogkeys")

    def test_children(self):
        self.compare("children")

    def test_paint(self):
        self.compare("paint")

    def test_filters(self):
        self.compare("filters")

    def test_owned(self):
        self.compare("owned")

    def test_profile(self):
        self.compare("profile")


if __name__ == "__main__":
    suite.main()
