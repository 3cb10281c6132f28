"""The i386 backend of the end-to-end tests: the saver runs under 32-bit Wine
inside the emulated i386 machine (see vm.py). VmSession supplies the
primitives of session.Session as jobs over the machine's job channel; waits
for files and windows run inside the machine, so that a wait costs one job.
"""

import os
import shlex
import sys
import time
from pathlib import Path, PurePosixPath

from vm import Vm, VmError

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "harness"))
from session import HarnessError, Session, Timeout, parse_winlist, select_windows, windows_name  # noqa: E402

GUEST_ROOT = PurePosixPath("/tmp/e2e")
PREFIX = PurePosixPath("/opt/vellomire/pfx")
# The loops that wait in the machine start no process: each would cost tens of
# milliseconds of its one emulated processor, which the programs waited for
# need. They nap on a FIFO that nobody writes and read bash's own clocks.
NAP = f"exec 3<> {GUEST_ROOT}/nap\n"


class VmSession(Session):
    bits = 32
    name = "i386"
    patience = 6        # software emulation of the whole machine
    windows_dir = PREFIX / "drive_c" / "windows"
    control_ini = windows_dir / "control.ini"
    framebuffer = GUEST_ROOT / "fb" / "Xvfb_screen0"     # Xvfb's -fbdir (vellomire-session)
    # The helpers that stay running and take requests (_start_servers).
    lister_request = GUEST_ROOT / "lister" / "request"
    launcher_request = GUEST_ROOT / "launcher" / "request"

    def __init__(self, helpers_dir):
        super().__init__()
        self.helpers_dir = Path(helpers_dir)
        self.vm = None
        self.counter = 0
        self.display = ":1"

    # ----- lifetime -------------------------------------------------------
    def start(self):
        """Restores the machine as the image build left it, ready for a
        session (Xvfb and the wineserver running), and puts the helpers in."""
        started = time.monotonic()
        put = {str(GUEST_ROOT / "bin" / path.name): path for path in self.helpers_dir.glob("*.exe")}
        if str(GUEST_ROOT / "bin" / "winlist.exe") not in put:
            raise HarnessError(f"the 32-bit helper programs are not built in {self.helpers_dir}")
        try:
            self.vm = Vm().start(restore=True)
        except ConnectionRefusedError:     # qemu's monitor bound but not yet listening
            self.vm = Vm().start(restore=True)
        try:
            self.vm.job(f"mkfifo {GUEST_ROOT}/nap", put=put).check("putting the helpers in")
            self._start_servers()
            self.give_dialog_font()
        except BaseException:
            self.close()
            raise
        self.elapsed_start = time.monotonic() - started
        return self

    def close(self):
        if self.vm is not None:
            try:
                if os.environ.get("VELLOMIRE_KEEP_PREFIX"):     # the machine's own logs
                    logs = self.vm.job(f"cd {GUEST_ROOT} && tar -cf /tmp/logs.tar "
                                       f"$(find . -name '*.log')", fetch=["/tmp/logs.tar"])
                    (self.vm.tmp / "guest-logs.tar").write_bytes(logs.files.get("/tmp/logs.tar", b""))
            except (VmError, OSError):
                pass
            finally:
                self.vm.stop()
                self.vm = None

    # ----- primitives of a Session ------------------------------------------
    def new_dir(self, label):
        # Made by the first job that puts a file or starts a program in it.
        self.counter += 1
        return GUEST_ROOT / "work" / f"{self.counter:03d}-{label}"

    def put(self, files):
        self.vm.job("true", put={str(path): data for path, data in files.items()}
                    ).check("putting files into the machine")

    def read_file(self, path):
        return self.vm.job("true", fetch=[str(path)], timeout=30).files.get(str(path))

    def remove(self, path):
        self.vm.job(f"rm -rf {shlex.quote(str(path))}").check("removing a file")

    def make_dir(self, path):
        self.vm.job(f"mkdir -p {shlex.quote(str(path))}").check("making a folder")

    def exists(self, path):
        return self.vm.job(f"[ -e {shlex.quote(str(path))} ]", timeout=30).rc == 0

    def file_within(self, path, timeout, what):
        p = shlex.quote(str(path))
        result = self.vm.job(
            f"{NAP}end=$((EPOCHSECONDS + {int(timeout) + 1}))\n"
            f"until [ -s {p} ]; do\n"
            f"  ((EPOCHSECONDS >= end)) && exit 3\n  read -t 0.05 -u 3\ndone\nexit 0\n",
            fetch=[str(path)], timeout=timeout + 30)
        if result.rc == 3:
            raise Timeout(f"timed out after {timeout:.1f} s waiting for {what}")
        if result.rc != 0 or str(path) not in result.files:
            raise HarnessError(f"waiting for {path} failed: {result.stderr!r}")
        return result.files[str(path)]

    def absent_within(self, path, seconds):
        p = shlex.quote(str(path))
        result = self.vm.job(
            f"{NAP}now() {{ t=${{EPOCHREALTIME/./}}; ms=$((t / 1000)); }}\n"
            f"now; end=$((ms + {int(seconds * 1000)}))\n"
            f"while now; ((ms < end)); do\n"
            f"  [ -e {p} ] && exit 1\n  read -t 0.05 -u 3\ndone\n"
            f"[ ! -e {p} ]\n", timeout=seconds + 30)
        return result.rc == 0

    def winpath(self, path):
        return windows_name(path)

    def helper(self, name):
        return GUEST_ROOT / "bin" / f"{name}.exe"

    def start_program(self, program, args, directory, extra_env=None, files=None):
        put = {str(path): data for path, data in (files or {}).items()}
        if program == self.helper("launcher") and not extra_env:
            # The running launcher takes it: the job ends once it has.
            request = self.launcher_request
            put[f"{request}.new"] = "".join(f"{line}\n" for line in args).encode("latin-1")
            # One it has not taken in time goes again, so that a late server
            # cannot start it during the next case.
            self.vm.job(f"{NAP}mv {request}.new {request}\nend=$((EPOCHSECONDS + 60))\n"
                        f"while [ -e {request} ]; do\n"
                        f"  ((EPOCHSECONDS >= end)) && {{ rm -f {request}; exit 4; }}\n"
                        f"  read -t 0.02 -u 3\ndone\nexit 0\n", put=put,
                        timeout=90).check("handing a program to the launcher")
        else:
            self._spawn(program, args, directory, extra_env, put)

    def _spawn(self, program, args, directory, extra_env=None, put=None):
        env = "".join(f"export {k}={shlex.quote(v)}\n" for k, v in (extra_env or {}).items())
        words = " ".join(shlex.quote(str(a)) for a in [program] + list(args))
        self.vm.job(env + f"mkdir -p {directory}\ncd {directory}\n"
                    f"setsid wine {words} > {directory}/wine.log 2>&1 < /dev/null &\n",
                    put=put, timeout=60).check("starting a program")

    def run_wine(self, args, seconds):
        words = " ".join(shlex.quote(a) for a in args)
        started = time.monotonic()
        rc = self.vm.job(f"wine {words} > /dev/null 2>&1 < /dev/null", timeout=seconds).rc
        if rc == 124 and time.monotonic() - started >= seconds:    # the agent ended it
            raise HarnessError(f"wine {args[0]} did not finish in {seconds} s")
        return rc

    def reset(self):
        self.vm.job("wineserver -k; wineserver -w; setsid wineserver -p "
                    "> /dev/null 2>&1 < /dev/null", timeout=120)
        self._start_servers()

    def _start_servers(self):
        """The window lister and the launcher kept running, for a Wine
        program's start costs seconds here: the lists and launches are asked
        of them (_poll_windows, start_program)."""
        for name, request in (("winlist", self.lister_request),
                              ("launcher", self.launcher_request)):
            self._spawn(self.helper(name), ["--serve", self.winpath(request)], request.parent)

    def windows(self):
        return self._poll_windows("\t", True, 0)

    def xdotool(self, *args):
        words = " ".join(shlex.quote(str(a)) for a in args)
        result = self.vm.job(f"xdotool {words}", timeout=60)
        if result.rc != 0:
            raise HarnessError(f"xdotool {args} failed: {result.stderr!r}")
        return result.text()

    # ----- waits for windows, inside the machine ----------------------------
    def _poll_windows(self, needle, present, seconds):
        """Asks the running lister for the windows once a line contains the
        text `needle` (or none does, when `present` is false) or `seconds`
        pass (the lister waits); its answer comes no later than 60 s after."""
        self.counter += 1
        out = GUEST_ROOT / "work" / f"{self.counter:03d}-windows.txt"
        request = self.lister_request
        seconds = max(0, int(seconds))
        script = (f"{NAP}printf '%s\\n' {shlex.quote(self.winpath(out))} {shlex.quote(needle)} "
                  f"{int(present)} {seconds} > {request}.new && mv {request}.new {request}\n"
                  f"end=$((EPOCHSECONDS + {seconds + 60}))\n"
                  f"until [ -e {out} ]; do\n"
                  f"  ((EPOCHSECONDS >= end)) && exit 4\n  read -t 0.05 -u 3\ndone\n")
        result = self.vm.job(script, fetch=[str(out)], timeout=seconds + 120)
        if str(out) not in result.files:
            raise HarnessError(f"the window lister did not answer ({result.rc})")
        return parse_winlist(result.files[str(out)].decode("latin-1"))

    def windows_within(self, present, seconds, criteria):
        # The lister waits for a line that holds the class or the title asked for.
        needle = next((f"\t{criteria[key]}\t" for key in ("cls", "title")
                       if criteria.get(key) is not None), "\t")
        deadline = time.monotonic() + seconds
        while True:
            found = select_windows(self._poll_windows(needle, present,
                                                      deadline - time.monotonic()), **criteria)
            if bool(found) == present or time.monotonic() >= deadline:
                return found
