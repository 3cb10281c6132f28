"""The 32-bit backend of the end-to-end cases: the saver runs under 32-bit
Wine inside the emulated i386 machine (see vm.py). VmSession offers the small
interface the cases are written against (session.py): put files into the
world, start a program with an exact command line and get its full exit code,
list windows, send input, take screenshots, read and write control.ini and the
registry. Every operation is one job over the machine's job channel; waits are
for conditions with deadlines.
"""

import io
import shlex
import time
from pathlib import Path, PurePosixPath

from session import ExitResult, HarnessError, Window, parse_exit, parse_winlist, wait_for
from vm import Vm, VmError

GUEST_ROOT = PurePosixPath("/tmp/e2e")
PREFIX = PurePosixPath("/opt/vellomire/pfx")
HELPERS = ("launcher", "winlist", "previewhost", "foreground")


class VmLaunch:
    """A program started through launcher.exe inside the machine."""

    def __init__(self, session, directory):
        self.session = session
        self.dir = directory
        self.result_file = directory / "result.txt"

    def finished(self):
        return self.session.exists(self.result_file)

    def windows_pid(self, timeout=60):
        text = self.session.wait_file(self.dir / "result.txt.pid", timeout,
                                      "the launcher to start the program")
        return int(text.decode().strip().split("=")[1])

    def wait(self, timeout=60):
        text = self.session.wait_file(self.result_file, timeout, "the program to end").decode()
        if text.startswith("error="):
            raise HarnessError(f"launcher could not start the program: {text.strip()}")
        return parse_exit(text)

    def press_until_ended(self, key, timeout=120):
        """Sends `key` and waits up to 3 s for the program to end, again and
        again, all inside the machine; returns its ExitResult."""
        r = shlex.quote(str(self.result_file))
        result = self.session.vm.job(
            f"end=$(( $(date +%s) + {int(timeout)} ))\n"
            f"while [ $(date +%s) -lt $end ]; do\n"
            f"  xdotool key {shlex.quote(key)}\n"
            f"  round=$(( $(date +%s) + 3 ))\n"
            f"  while [ $(date +%s) -lt $round ]; do\n"
            f"    [ -s {r} ] && exit 0\n    sleep 0.05\n  done\n"
            f"done\nexit 3\n", fetch=[str(self.result_file)], timeout=timeout + 30)
        if result.rc == 3:
            raise AssertionError(f"the program did not end within {timeout} s of pressing {key}")
        if result.rc != 0 or str(self.result_file) not in result.files:
            raise HarnessError(f"pressing keys failed: {result.stderr!r}")
        return parse_exit(result.files[str(self.result_file)].decode())

    def still_running_after(self, seconds):
        """True when the program has not ended within `seconds` (only where an
        exit must NOT come)."""
        result = self.session.vm.job(
            f"end=$(( $(date +%s%N) / 1000000 + {int(seconds * 1000)} ))\n"
            f"while [ $(( $(date +%s%N) / 1000000 )) -lt $end ]; do\n"
            f"  [ -e {self.result_file} ] && exit 1\n  sleep 0.05\ndone\n"
            f"[ ! -e {self.result_file} ]\n", timeout=seconds + 30)
        return result.rc == 0


class VmSession:
    bits = 32
    name = "i386"

    def __init__(self, helpers_dir, log_dir=None):
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
        except BaseException:
            self.close()
            raise
        self.timings["ready"] = time.monotonic() - started
        return self

    def _start_display(self):
        put = {}
        for name in HELPERS:
            path = self.helpers_dir / f"{name}.exe"
            if not path.exists():
                raise HarnessError(f"missing 32-bit helper program {path}")
            put[str(GUEST_ROOT / "bin" / f"{name}.exe")] = path
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

    # ----- files ----------------------------------------------------------
    def new_dir(self, label):
        self.counter += 1
        d = GUEST_ROOT / "work" / f"{self.counter:03d}-{label}"
        self.vm.job(f"mkdir -p {d}").check("mkdir")
        return d

    def stage(self, label, files):
        """Puts host files (name -> host Path or bytes) into a new directory of
        the machine; returns that directory."""
        self.counter += 1
        d = GUEST_ROOT / "work" / f"{self.counter:03d}-{label}"
        self.vm.job(f"mkdir -p {d}", put={str(d / name): data for name, data in files.items()}
                    ).check("staging files")
        return d

    def stage_signal(self, directory, name):
        """Makes an empty file `name` in `directory` (a helper waits for it)."""
        self.vm.job(f"touch {shlex.quote(str(directory / name))}").check("touch")

    def exists(self, path):
        return self.vm.job(f"[ -e {shlex.quote(str(path))} ]", timeout=30).rc == 0

    def read_file(self, path):
        """The bytes of a file of the machine, or None when it does not exist."""
        result = self.vm.job("true", fetch=[str(path)], timeout=30)
        return result.files.get(str(path))

    def wait_file(self, path, timeout, what):
        """Waits inside the machine until a non-empty file exists; its bytes."""
        p = shlex.quote(str(path))
        result = self.vm.job(
            f"end=$(( $(date +%s) + {int(timeout) + 1} ))\n"
            f"while [ ! -s {p} ]; do\n"
            f"  [ $(date +%s) -ge $end ] && exit 3\n  sleep 0.05\ndone\n", fetch=[str(path)],
            timeout=timeout + 30)
        if result.rc == 3:
            raise AssertionError(f"timed out after {timeout:.1f} s waiting for {what}")
        if result.rc != 0 or str(path) not in result.files:
            raise HarnessError(f"waiting for {path} failed: {result.stderr!r}")
        return result.files[str(path)]

    def winpath(self, path):
        return "Z:" + str(path).replace("/", "\\")

    # ----- programs -----------------------------------------------------------
    def _env_prefix(self, extra_env):
        return "".join(f"export {k}={shlex.quote(v)}\n" for k, v in (extra_env or {}).items())

    def spawn(self, program, args, extra_env=None, label="spawn"):
        """Starts a Windows program in the background; its output goes to a log."""
        d = self.new_dir(label)
        args = [self.winpath(d) if a == "%DIR%" else a for a in args]
        words = " ".join(shlex.quote(str(a)) for a in [program] + list(args))
        self.vm.job(self._env_prefix(extra_env) +
                    f"cd {d}\nsetsid wine {words} > {d}/wine.log 2>&1 < /dev/null &\n",
                    timeout=60).check("starting a program")
        return d

    def helper(self, name):
        return GUEST_ROOT / "bin" / f"{name}.exe"

    def launch(self, command_line, program, timeout_ms=120000, extra_env=None):
        if isinstance(command_line, str):
            command_line = command_line.encode("latin-1")
        self.counter += 1
        d = GUEST_ROOT / "work" / f"{self.counter:03d}-launch"
        args = [self.helper("launcher"), self.winpath(program), self.winpath(d / "cmdline.bin"),
                self.winpath(d / "result.txt"), str(timeout_ms)]
        words = " ".join(shlex.quote(str(a)) for a in args)
        self.vm.job(self._env_prefix(extra_env) +
                    f"cd {d}\nsetsid wine {words} > {d}/wine.log 2>&1 < /dev/null &\n",
                    put={str(d / "cmdline.bin"): command_line}, timeout=60).check("launching")
        return VmLaunch(self, d)

    def run(self, command_line, program, timeout=60, extra_env=None):
        return self.launch(command_line, program, int(timeout * 1000) + 5000,
                           extra_env).wait(timeout + 30)

    def wine(self, *args, timeout=120):
        words = " ".join(shlex.quote(str(a)) for a in args)
        return self.vm.job(f"wine {words} > /dev/null 2>&1 < /dev/null", timeout=timeout).rc

    def reg_add(self, key, value, data, kind="REG_SZ"):
        rc = self.wine("reg", "add", key, "/v", value, "/t", kind, "/d", data, "/f")
        if rc != 0:
            raise HarnessError(f"reg add {key} {value} failed ({rc})")

    def reg_delete(self, key, value):
        self.wine("reg", "delete", key, "/v", value, "/f")

    def registry(self, changes):
        """Applies (key, value, data, kind) changes in one import; data None
        deletes the value."""
        roots = {"HKCU": "HKEY_CURRENT_USER", "HKLM": "HKEY_LOCAL_MACHINE"}
        lines = ["REGEDIT4", ""]
        for key, value, data, kind in changes:
            root, _, rest = key.partition("\\")
            lines.append(f"[{roots.get(root, root)}\\{rest}]")
            if data is None:
                lines.append(f'"{value}"=-')
            elif kind == "REG_DWORD":
                lines.append(f'"{value}"=dword:{int(data):08x}')
            else:
                escaped = data.replace("\\", "\\\\").replace('"', '\\"')
                lines.append(f'"{value}"="{escaped}"')
            lines.append("")
        self.counter += 1
        path = GUEST_ROOT / "work" / f"{self.counter:03d}-changes.reg"
        result = self.vm.job(f"wine regedit /s '{self.winpath(path)}' > /dev/null 2>&1 < /dev/null",
                             put={str(path): "\r\n".join(lines).encode("latin-1")}, timeout=120)
        if result.rc != 0:
            raise HarnessError(f"regedit failed ({result.rc})")

    def set_windows_version(self, version, program="vellomire.scr"):
        key = rf"HKCU\Software\Wine\AppDefaults\{program}"
        if version is None:
            self.reg_delete(key, "Version")
        else:
            self.reg_add(key, "Version", version)

    # ----- windows ----------------------------------------------------------
    def windows(self):
        self.counter += 1
        out = GUEST_ROOT / "work" / f"{self.counter:03d}-windows.txt"
        result = self.vm.job(f"wine {self.helper('winlist')} '{self.winpath(out)}' "
                             f"> /dev/null 2>&1 < /dev/null", fetch=[str(out)], timeout=120)
        if result.rc != 0 or str(out) not in result.files:
            raise HarnessError(f"winlist failed ({result.rc})")
        return parse_winlist(result.files[str(out)].decode("latin-1"))

    def find_windows(self, **criteria):
        return self._select(self.windows(), **criteria)

    @staticmethod
    def _select(windows, cls=None, title=None, visible=True, pid=None, top_level=None,
                parent=None):
        found = []
        for w in windows:
            if cls is not None and w.cls != cls:
                continue
            if title is not None and w.title != title:
                continue
            if visible is not None and w.visible != visible:
                continue
            if pid is not None and w.pid != pid:
                continue
            if top_level is not None and (w.parent == 0) != top_level:
                continue
            if parent is not None and w.parent != parent:
                continue
            found.append(w)
        return found

    def _poll_windows(self, needle, present, seconds):
        """Lists windows inside the machine until a line contains the text
        `needle` (or none does, when `present` is false) or `seconds` pass;
        returns the last list."""
        self.counter += 1
        out = GUEST_ROOT / "work" / f"{self.counter:03d}-windows.txt"
        test = "grep -qF -- \"$needle\" {out}" if present else "! grep -qF -- \"$needle\" {out}"
        script = (f"needle=$(printf '%s' {shlex.quote(needle)})\n"
                  f"end=$(( $(date +%s) + {max(1, int(seconds))} ))\n"
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
        if criteria.get("cls") is not None:
            return "\t" + criteria["cls"] + "\t"
        if criteria.get("title") is not None:
            return "\t" + criteria["title"] + "\t"
        return "\t"

    def wait_for_window(self, timeout=120, **criteria):
        deadline = time.monotonic() + timeout
        while True:
            windows = self._poll_windows(self._needle(criteria), True,
                                         deadline - time.monotonic())
            found = self._select(windows, **criteria)
            if found:
                if len(found) != 1:
                    raise AssertionError(f"expected one window with {criteria}, found {found}")
                return found[0]
            if time.monotonic() >= deadline:
                raise AssertionError(f"timed out after {timeout:.1f} s waiting for a window "
                                     f"with {criteria}")

    def wait_for_no_window(self, timeout=120, **criteria):
        deadline = time.monotonic() + timeout
        while True:
            windows = self._poll_windows(self._needle(criteria), False,
                                         deadline - time.monotonic())
            if not self._select(windows, **criteria):
                return
            if time.monotonic() >= deadline:
                raise AssertionError(f"timed out after {timeout:.1f} s waiting for no window "
                                     f"with {criteria}")

    # ----- input and screen ---------------------------------------------------
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

    # ----- settings file ----------------------------------------------------
    @property
    def control_ini(self):
        return PREFIX / "drive_c" / "windows" / "control.ini"

    def read_control_ini(self):
        return self.read_file(self.control_ini)

    def write_control_ini(self, data):
        if data is None:
            self.vm.job(f"rm -f {self.control_ini}").check("removing control.ini")
        else:
            self.vm.job("true", put={str(self.control_ini): data}).check("writing control.ini")
