"""The frame of an end-to-end suite: one session per suite run (per CTest
test), shared by all its cases, on the backend and build the environment
chooses.

A suite file defines unittest.TestCase classes derived from WineCase and ends
with `suite.main()`. VELLOMIRE_BITS (64 by default) selects the build, run
under the host's Wine of that width; VELLOMIRE_BACKEND=i386 runs the 32-bit
build in the emulated i386 machine instead, where the host cannot run 32-bit
programs.
"""

import os
import signal
import sys
import time
import unittest
from pathlib import Path

import wine_env
from session import SAVER_CLASS

_session = None


def bits():
    return 32 if backend() == "i386" else int(os.environ.get("VELLOMIRE_BITS", "64"))


def backend():
    return os.environ.get("VELLOMIRE_BACKEND", "host")


def session():
    """The suite's shared session, started on first use."""
    global _session
    if _session is None:
        if backend() == "i386":
            sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "i386"))
            from vm_session import VmSession
            _session = VmSession(wine_env.build_dir(32) / "e2e" / "windows")
        else:
            _session = wine_env.WineSession(name=os.path.basename(sys.argv[0]).removesuffix(".py"),
                                            bits=bits())
        _session.start()
        print(f"[harness] {_session.name} session ready in {_session.elapsed_start:.1f} s",
              flush=True)
    return _session


def saver_path():
    return wine_env.build_dir(bits()) / "vellomire.scr"


class WineCase(unittest.TestCase):
    """Gives each case `self.wine` (the shared session) and `self.saver`,
    the saver file in that session's world."""

    needs_saver = True

    @classmethod
    def setUpClass(cls):
        cls.wine = session()
        cls.saver = saver_path()
        if cls.needs_saver and not cls.saver.exists():
            raise AssertionError(f"the saver is not built: {cls.saver} is missing")
        if cls.needs_saver and backend() == "i386":
            cls.saver = cls.wine.stage("saver", {"vellomire.scr": cls.saver}) / "vellomire.scr"

    def setUp(self):
        self.started = time.monotonic()

    def assert_saver_ends(self, run, key=None):
        """Presses `key` (if given), then the run must end with 0 and its
        window be gone."""
        if key:
            self.wine.xdotool("key", key)
        result = run.wait()
        self.assertEqual(result.unsigned, 0, f"exit code {result}")
        self.wine.wait_for_no_window(cls=SAVER_CLASS, visible=None)

    def tearDown(self):
        self.wine.end_leftovers()
        print(f"  ({time.monotonic() - self.started:.1f} s)", file=sys.stderr, flush=True)


def main():
    # A CTest timeout sends SIGTERM: unwind so the display and server are ended.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    started = time.monotonic()
    try:
        program = unittest.main(exit=False, verbosity=2)
    finally:
        if _session is not None:
            _session.close()
    print(f"[harness] suite took {time.monotonic() - started:.1f} s", flush=True)
    result = program.result
    sys.exit(0 if result.wasSuccessful() and result.testsRun > 0 else 1)
