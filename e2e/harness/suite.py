"""The frame of a Wine suite: one WineSession per suite run (per CTest test),
shared by all its cases, and the choice of the 64- or 32-bit build.

A suite file defines unittest.TestCase classes derived from WineCase and ends
with `suite.main()`. VELLOMIRE_BITS (64 by default) selects the build; when
the 32-bit build cannot run here the whole suite exits with SKIP_CODE after
saying why.
"""

import os
import signal
import sys
import time
import unittest

import wine_env

SKIP_CODE = 77

_session = None


def bits():
    return int(os.environ.get("VELLOMIRE_BITS", "64"))


def session():
    """The suite's shared session, started on first use."""
    global _session
    if _session is None:
        _session = wine_env.WineSession(name=os.path.basename(sys.argv[0]).removesuffix(".py"),
                                        bits=bits()).start()
        print(f"[harness] Wine prefix and display {_session.display} ready in "
              f"{_session.elapsed_start:.1f} s", flush=True)
    return _session


def saver_path():
    return wine_env.build_dir(bits()) / "vellomire.scr"


class WineCase(unittest.TestCase):
    """Gives each case `self.wine` (the shared session) and `self.saver`."""

    needs_saver = True

    @classmethod
    def setUpClass(cls):
        cls.wine = session()
        cls.saver = saver_path()
        if cls.needs_saver and not cls.saver.exists():
            raise AssertionError(f"the saver is not built: {cls.saver} is missing")

    def setUp(self):
        self.started = time.monotonic()

    def tearDown(self):
        print(f"  ({time.monotonic() - self.started:.1f} s)", file=sys.stderr, flush=True)


def main():
    global _session
    if bits() == 32:
        ok, reason, probe_session = wine_env.probe_32bit()
        if not ok:
            print(f"SKIPPED: the 32-bit build is not run under Wine here: {reason}.", flush=True)
            print("The 32-bit saver is checked statically (e2e_static_pe) instead.", flush=True)
            sys.exit(SKIP_CODE)
        _session = probe_session
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
