"""The i386 backend of the end-to-end tests: the saver runs under 32-bit Wine
inside the emulated i386 machine (see vm.py). VmSession supplies the
primitives of session.Session as jobs over the machine's job channel; waits
for files and windows run inside the machine, so that a wait costs one job.
"""

import io
import shlex
import sys
import time
from pathlib import Path, PurePosixPath

from vm import Vm, VmError

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "harness"))
from session import HarnessError, Session, Timeout, parse_winlist, select_windows, windows_name  # noqa: E402

GUEST_ROOT = PurePosixPath("/tmp/e2e")
PREFIX = PurePosixPath("/opt/vellomire/pfx")


class VmSession(Session):
    bits = 32
    name = "i386"
    patience = 6        # software emulation of the whole machine
    windows_dir = PREFIX / "drive_c" / "windows"
    control_ini = windows_dir / "control.ini"

    def __init__(self, helpers_dir, log_dir=None):
        super().__init__()
        self.helpers_dir = Path(helpers_dir)
        self.log_dir = log_dir
        self.vm = None
        self.counter = 0
        self.display = ":1"
        self.timings = {}

    # ----- lifetime -------------------------------------------------------
    def start(self):
        started = time.monotonic()
        self.vm = Vm(log_dir=self.log_dir).start()
        self.timings["boot"] = self.vm.boot_seconds
        try:
            self._start_display()
            self.give_dialog_font()
        except BaseException:
            self.close()
            raise
        self.timings["ready"] = time.monotonic() - started
        self.elapsed_start = self.timings["ready"]
        return self

    def _start_display(self):
        # Every helper program that the 32-bit tree built.
        put = {str(GUEST_ROOT / "bin" / path.name): path for path in self.helpers_dir.glob("*.exe")}
        if str(GUEST_ROOT / "bin" / "winlist.exe") not in put:
            raise HarnessError(f"the 32-bit helper programs are not built in {self.helpers_dir}")
        self.vm.job(f"""
set -e
mkdir -p {GUEST_ROOT}/work
setsid Xvfb :1 -screen 0 1024x768x24 -noreset -nolisten tcp > {GUEST_ROOT}/xvfb.log 2>&1 < /dev/null &
for _ in $(seq 1 600); do [ -e /tmp/.X11-unix/X1 ] && break; sleep 0.1; done
[ -e /tmp/.X11-unix/X1 ]
setsid wineserver -p > {GUEST_ROOT}/wineserver.log 2>&1 < /dev/null
wine {GUEST_ROOT}/bin/winlist.exe 'Z:\\tmp\\e2e\\warm.txt' > {GUEST_ROOT}/warm.log 2>&1 < /dev/null
grep -qx end {GUEST_ROOT}/warm.txt
""", put=put, timeout=600).check("starting Xvfb and the wineserver")

    def close(self):
        if self.vm is not None:
            try:
                self.vm.job("wineserver -k; wineserver -w", timeout=60)
            except (VmError, OSError):
                pass
            finally:
                self.vm.stop()
                self.vm = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.close()

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
            f"end=$(( $(date +%s) + {int(timeout) + 1} ))\n"
            f"while [ ! -s {p} ]; do\n"
            f"  [ $(date +%s) -ge $end ] && exit 3\n  sleep 0.05\ndone\n", fetch=[str(path)],
            timeout=timeout + 30)
        if result.rc == 3:
            raise Timeout(f"timed out after {timeout:.1f} s waiting for {what}")
        if result.rc != 0 or str(path) not in result.files:
            raise HarnessError(f"waiting for {path} failed: {result.stderr!r}")
        return result.files[str(path)]

    def absent_within(self, path, seconds):
        p = shlex.quote(str(path))
        result = self.vm.job(
            f"end=$(( $(date +%s%N) / 1000000 + {int(seconds * 1000)} ))\n"
            f"while [ $(( $(date +%s%N) / 1000000 )) -lt $end ]; do\n"
            f"  [ -e {p} ] && exit 1\n  sleep 0.05\ndone\n"
            f"[ ! -e {p} ]\n", timeout=seconds + 30)
        return result.rc == 0

    def winpath(self, path):
        return windows_name(path)

    def helper(self, name):
        return GUEST_ROOT / "bin" / f"{name}.exe"

    def start_program(self, program, args, directory, extra_env=None):
        env = "".join(f"export {k}={shlex.quote(v)}\n" for k, v in (extra_env or {}).items())
        words = " ".join(shlex.quote(str(a)) for a in [program] + list(args))
        self.vm.job(env + f"mkdir -p {directory}\ncd {directory}\n"
                    f"setsid wine {words} > {directory}/wine.log 2>&1 < /dev/null &\n",
                    timeout=60).check("starting a program")

    def wine(self, *args, timeout=120):
        words = " ".join(shlex.quote(str(a)) for a in args)
        return self.vm.job(f"wine {words} > /dev/null 2>&1 < /dev/null", timeout=timeout).rc

    def reset(self):
        self.vm.job("wineserver -k; wineserver -w; setsid wineserver -p "
                    "> /dev/null 2>&1 < /dev/null", timeout=120)

    def windows(self):
        return self._poll_windows("\t", True, 0)

    def xdotool(self, *args):
        words = " ".join(shlex.quote(str(a)) for a in args)
        result = self.vm.job(f"xdotool {words}", timeout=60)
        if result.rc != 0:
            raise HarnessError(f"xdotool {args} failed: {result.stderr!r}")
        return result.text()

    def screenshot(self):
        from PIL import Image
        self.counter += 1
        shot = GUEST_ROOT / "work" / f"{self.counter:03d}-screen.png"
        result = self.vm.job(f"import -display :1 -window root {shot}", fetch=[str(shot)],
                             timeout=120)
        if result.rc != 0 or str(shot) not in result.files:
            raise HarnessError(f"import failed: {result.stderr!r}")
        with Image.open(io.BytesIO(result.files[str(shot)])) as image:
            return image.convert("RGB")

    # ----- waits for windows, inside the machine ----------------------------
    def _poll_windows(self, needle, present, seconds):
        """Lists windows inside the machine until a line contains the text
        `needle` (or none does, when `present` is false) or `seconds` pass;
        returns the last list."""
        self.counter += 1
        out = GUEST_ROOT / "work" / f"{self.counter:03d}-windows.txt"
        test = "grep -qF -- \"$needle\" {out}" if present else "! grep -qF -- \"$needle\" {out}"
        script = (f"needle=$(printf '%s' {shlex.quote(needle)})\n"
                  f"end=$(( $(date +%s) + {max(0, int(seconds))} ))\n"
                  f"while :; do\n"
                  f"  rm -f {out}\n"
                  f"  wine {self.helper('winlist')} '{self.winpath(out)}' > /dev/null 2>&1 < /dev/null\n"
                  f"  grep -qx end {out} && {test.format(out=out)} && exit 0\n"
                  f"  [ $(date +%s) -ge $end ] && exit 0\n"
                  f"  sleep 0.1\n"
                  f"done\n")
        result = self.vm.job(script, fetch=[str(out)], timeout=seconds + 120)
        if str(out) not in result.files:
            raise HarnessError(f"winlist failed ({result.rc})")
        return parse_winlist(result.files[str(out)].decode("latin-1"))

    @staticmethod
    def _needle(criteria):
        for key in ("cls", "title"):
            if criteria.get(key) is not None:
                return "\t" + criteria[key] + "\t"
        return "\t"

    def windows_within(self, present, seconds, criteria):
        deadline = time.monotonic() + seconds
        while True:
            found = select_windows(self._poll_windows(self._needle(criteria), present,
                                                      deadline - time.monotonic()), **criteria)
            if bool(found) == present or time.monotonic() >= deadline:
                return found
