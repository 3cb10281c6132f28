"""A private Wine world for one end-to-end suite: its own X display (Xvfb),
its own Wine prefix and a wineserver kept alive for the whole suite, plus the
means to start Windows programs with exact command lines, list their windows,
send them input, take screenshots and read and write the prefix's control.ini.

Everything waits for conditions with deadlines; nothing sleeps blindly.
"""

import os
import shutil
import signal
import subprocess
import tempfile
import time
from dataclasses import dataclass
from pathlib import Path

WINE64 = "/usr/lib/wine/wine64"
WINE32 = "/usr/lib/wine/wine"      # the 32-bit loader (Debian's wine32:i386)
WINE_ANY = "/usr/bin/wine"          # picks the loader that fits the program
WINESERVER = "/usr/bin/wineserver"
SCREEN_W, SCREEN_H = 1024, 768

REPO = Path(__file__).resolve().parents[2]


class HarnessError(RuntimeError):
    """The test environment itself failed (not the program under test)."""


def wait_for(condition, timeout, what, interval=0.05):
    """Polls condition() until it returns a true value, which is returned;
    raises AssertionError naming `what` when `timeout` seconds pass first."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise AssertionError(f"timed out after {timeout:.1f} s waiting for {what}")
        time.sleep(interval)


def build_dir(bits):
    """The MinGW build tree of the given width (environment overrides)."""
    name = "VELLOMIRE_WIN32_DIR" if bits == 32 else "VELLOMIRE_WIN64_DIR"
    default = REPO / "build" / ("win32" if bits == 32 else "win64")
    return Path(os.environ.get(name, str(default)))


@dataclass
class Window:
    hwnd: int
    parent: int
    owner: int
    pid: int
    cls: str
    title: str
    style: int
    exstyle: int
    rect: tuple          # left, top, right, bottom in screen coordinates
    client_size: tuple   # width, height
    client_origin: tuple  # screen position of the client area's top left
    visible: bool
    text: str = None     # WM_GETTEXT of an Edit or Button child, else None
    check: int = None    # BM_GETCHECK of a Button child, else None


def _unescape(text):
    out, i = [], 0
    while i < len(text):
        if text[i] == "\\" and i + 1 < len(text):
            out.append({"t": "\t", "n": "\n", "r": "\r", "\\": "\\"}.get(text[i + 1], text[i + 1]))
            i += 2
        else:
            out.append(text[i])
            i += 1
    return "".join(out)


def parse_winlist(text):
    lines = text.split("\n")
    if "end" not in lines:
        raise HarnessError("window list is incomplete")
    windows = []
    for line in lines:
        if not line or line == "end":
            continue
        f = line.split("\t")
        if len(f) != 14:
            raise HarnessError(f"bad window list line: {line!r}")
        windows.append(Window(
            hwnd=int(f[0]), parent=int(f[1]), owner=int(f[2]), pid=int(f[3]),
            cls=_unescape(f[4]), title=_unescape(f[5]),
            style=int(f[6], 16), exstyle=int(f[7], 16),
            rect=tuple(int(v) for v in f[8].split(",")),
            client_size=tuple(int(v) for v in f[9].split(",")),
            client_origin=tuple(int(v) for v in f[10].split(",")),
            visible=f[11] == "1",
            text=None if f[12] == "-" else _unescape(f[12]),
            check=None if f[13] == "-" else int(f[13])))
    return windows


@dataclass
class ExitResult:
    unsigned: int
    signed: int

    def __str__(self):
        return f"0x{self.unsigned:08X} ({self.signed})"


def parse_exit(text):
    """Reads the launcher's result text: exit=0xXXXXXXXX N."""
    text = text.strip()
    if not text.startswith("exit="):
        raise AssertionError(f"program did not end normally: {text!r}")
    hexpart, decpart = text[len("exit="):].split()
    result = ExitResult(int(hexpart, 16), int(decpart))
    if (result.unsigned - (1 << 32) if result.unsigned >= 1 << 31 else result.unsigned) != result.signed:
        raise HarnessError(f"launcher's two renderings disagree: {text!r}")
    return result


class Launch:
    """A program started through launcher.exe, running asynchronously."""

    def __init__(self, session, directory, process):
        self.session = session
        self.dir = directory
        self.process = process
        self.result_file = directory / "result.txt"

    def finished(self):
        return self.result_file.exists()

    def windows_pid(self, timeout=20):
        pid_file = self.dir / "result.txt.pid"
        text = wait_for(lambda: pid_file.exists() and pid_file.read_text(), timeout,
                        "the launcher to start the program")
        return int(text.strip().split("=")[1])

    def wait(self, timeout=20):
        """Waits for the program to end; returns its ExitResult."""
        text = wait_for(lambda: self.result_file.exists() and self.result_file.read_text(),
                        timeout, "the program to end")
        try:
            self.process.wait(10)   # the launcher itself ends right after writing
        except subprocess.TimeoutExpired:
            pass
        if text.startswith("error="):
            raise HarnessError(f"launcher could not start the program: {text.strip()}")
        return parse_exit(text)

    def still_running_after(self, seconds):
        """The one bounded negative wait: True when the program has not ended
        within `seconds` (used only where an exit must NOT come)."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if self.finished():
                return False
            time.sleep(0.05)
        return not self.finished()


class WineSession:
    """One Xvfb display, one Wine prefix, one wineserver; see the module text."""

    def __init__(self, name="suite", bits=64, display=None, prefix=None):
        """display: use this X display instead of a private Xvfb; prefix: use
        (and keep) this Wine prefix instead of a fresh private one."""
        self.name = name
        self.bits = bits
        self.wine = WINE64 if bits == 64 else WINE_ANY
        self.root = Path(tempfile.mkdtemp(prefix=f"vellomire-{name}-"))
        self.prefix = Path(prefix) if prefix else self.root / "pfx"
        self.own_display = display is None
        self.work = self.root / "work"
        self.work.mkdir()
        self.log = open(self.root / "wine.log", "wb")
        self.xvfb = None
        self.display = display
        self._counter = 0
        self.helpers = build_dir(bits) / "e2e" / "windows"

    # ----- lifetime -------------------------------------------------------
    def start(self):
        """Brings up the display, prefix and server; on failure tears down
        whatever was started before raising."""
        try:
            return self._start()
        except BaseException:
            self.close()
            raise

    def _start(self):
        started = time.monotonic()
        if self.own_display:
            self._start_xvfb()
        env = self.env()
        self._run([self.wine, "wineboot", "-i"], timeout=180, what="wineboot")
        wait_for(lambda: (self.prefix / "system.reg").exists(), 60, "the prefix's registry")
        # Keep the server alive between programs: later starts are fast.
        subprocess.Popen([WINESERVER, "-p"], env=env, stdout=self.log, stderr=self.log).wait(30)
        if self.own_display:
            # Xvfb has no window manager: Wine must not wait for one.
            self.reg_add(r"HKCU\Software\Wine\X11 Driver", "Managed", "N")
        self.elapsed_start = time.monotonic() - started
        return self

    def close(self):
        if self.log.closed:
            return
        env = self.env()
        try:
            subprocess.run([WINESERVER, "-k"], env=env, stdout=self.log, stderr=self.log, timeout=30)
            subprocess.run([WINESERVER, "-w"], env=env, stdout=self.log, stderr=self.log, timeout=30)
        except subprocess.TimeoutExpired:
            pass
        if self.xvfb is not None:
            self.xvfb.send_signal(signal.SIGTERM)
            try:
                self.xvfb.wait(10)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
                self.xvfb.wait(10)
        self.log.close()
        if os.environ.get("VELLOMIRE_KEEP_PREFIX"):
            print(f"kept {self.root}")
        else:
            shutil.rmtree(self.root, ignore_errors=True)

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.close()

    def _start_xvfb(self):
        # Xvfb picks a free display number itself and tells it through a pipe.
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", f"{SCREEN_W}x{SCREEN_H}x24",
             "-noreset", "-nolisten", "tcp"],
            pass_fds=(write_end,), stdout=self.log, stderr=self.log)
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + 30
        while not number.endswith(b"\n"):
            if time.monotonic() > deadline or self.xvfb.poll() is not None:
                raise HarnessError("Xvfb did not start")
            chunk = os.read(read_end, 16)
            if not chunk:
                raise HarnessError("Xvfb closed its display pipe")
            number += chunk
        os.close(read_end)
        self.display = ":" + number.decode().strip()

    def env(self):
        env = dict(os.environ)
        env.update({
            "WINEPREFIX": str(self.prefix),
            "WINEDEBUG": "-all",
            # No Mono or Gecko installers, and no menu entries written to $HOME.
            "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d",
            "WINEARCH": "win64",
        })
        if self.display:
            env["DISPLAY"] = self.display
        env.setdefault("HOME", str(self.root))
        if self.bits == 64:
            env["WINELOADER"] = WINE64
        return env

    # ----- running programs -----------------------------------------------
    def _run(self, args, timeout, what):
        try:
            done = subprocess.run(args, env=self.env(), stdin=subprocess.DEVNULL,
                                  stdout=self.log, stderr=self.log, timeout=timeout)
        except subprocess.TimeoutExpired:
            raise HarnessError(f"{what} did not finish in {timeout} s")
        return done.returncode

    def winpath(self, path):
        """The Windows name (drive Z:) of a Unix path."""
        return "Z:" + str(Path(path).resolve()).replace("/", "\\")

    def new_dir(self, label):
        self._counter += 1
        d = self.work / f"{self._counter:03d}-{label}"
        d.mkdir()
        return d

    def helper(self, name):
        path = self.helpers / f"{name}.exe"
        if not path.exists():
            raise HarnessError(f"missing helper program {path}")
        return path

    def spawn(self, program, args, extra_env=None):
        """Starts a Windows program asynchronously; output goes to the log."""
        env = self.env()
        env.update(extra_env or {})
        return subprocess.Popen([self.wine, str(program)] + [str(a) for a in args],
                                env=env, stdin=subprocess.DEVNULL,
                                stdout=self.log, stderr=self.log)

    def launch(self, command_line, program, timeout_ms=60000, extra_env=None):
        """Starts `program` (a Unix path) with exactly the bytes `command_line`
        as its command line, through launcher.exe; returns a Launch."""
        if isinstance(command_line, str):
            command_line = command_line.encode("latin-1")
        d = self.new_dir("launch")
        (d / "cmdline.bin").write_bytes(command_line)
        process = self.spawn(self.helper("launcher"), [
            self.winpath(program), self.winpath(d / "cmdline.bin"),
            self.winpath(d / "result.txt"), str(timeout_ms)], extra_env)
        return Launch(self, d, process)

    def run(self, command_line, program, timeout=30, extra_env=None):
        """Runs a program with an exact command line to its end; its ExitResult."""
        return self.launch(command_line, program, int(timeout * 1000) + 5000,
                           extra_env).wait(timeout + 10)

    def reg_add(self, key, value, data, kind="REG_SZ"):
        rc = self._run([self.wine, "reg", "add", key, "/v", value, "/t", kind, "/d", data, "/f"],
                       timeout=60, what="reg add")
        if rc != 0:
            raise HarnessError(f"reg add {key} {value} failed ({rc})")

    def reg_delete(self, key, value):
        self._run([self.wine, "reg", "delete", key, "/v", value, "/f"], timeout=60,
                  what="reg delete")

    def set_windows_version(self, version, program="vellomire.scr"):
        """'win98' makes GetVersionExA report the Windows 95 family to
        `program`; None gives it the prefix's NT-family default back."""
        key = rf"HKCU\Software\Wine\AppDefaults\{program}"
        if version is None:
            self.reg_delete(key, "Version")
        else:
            self.reg_add(key, "Version", version)

    # ----- windows ----------------------------------------------------------
    def windows(self):
        d = self.new_dir("winlist")
        out = d / "windows.txt"
        rc = self._run([self.wine, str(self.helper("winlist")), self.winpath(out)],
                       timeout=60, what="winlist")
        if rc != 0 or not out.exists():
            raise HarnessError(f"winlist failed ({rc})")
        return parse_winlist(out.read_text(encoding="latin-1"))

    def post_message(self, hwnd, message, wparam=0, lparam=0):
        """Posts a message to a window from a helper process."""
        rc = self._run([self.wine, str(self.helper("postmessage")), str(hwnd), str(message),
                        str(wparam), str(lparam)], timeout=60, what="postmessage")
        if rc != 0:
            raise HarnessError(f"posting message {message:#x} to {hwnd} failed ({rc})")

    def find_windows(self, cls=None, title=None, visible=True, pid=None, top_level=None):
        found = []
        for w in self.windows():
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
            found.append(w)
        return found

    def wait_for_window(self, timeout=20, **criteria):
        """Waits until exactly one window matches; returns it."""
        found = wait_for(lambda: self.find_windows(**criteria), timeout,
                         f"a window with {criteria}", interval=0.1)
        if len(found) != 1:
            raise AssertionError(f"expected one window with {criteria}, found {found}")
        return found[0]

    def wait_for_no_window(self, timeout=20, **criteria):
        wait_for(lambda: not self.find_windows(**criteria), timeout,
                 f"no window with {criteria}", interval=0.1)

    # ----- input and screen ---------------------------------------------------
    def xdotool(self, *args):
        done = subprocess.run(["xdotool"] + [str(a) for a in args], env=self.env(),
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=30)
        if done.returncode != 0:
            raise HarnessError(f"xdotool {args} failed: {done.stderr.decode(errors='replace')}")
        return done.stdout.decode(errors="replace")

    def pointer(self):
        """The X pointer position."""
        out = self.xdotool("getmouselocation", "--shell")
        values = dict(line.split("=", 1) for line in out.split() if "=" in line)
        return int(values["X"]), int(values["Y"])

    def screenshot(self, path=None):
        """A screenshot of the whole display as an RGB PIL image."""
        from PIL import Image
        if path is None:
            path = self.new_dir("shot") / "screen.png"
        done = subprocess.run(["import", "-display", self.display, "-window", "root", str(path)],
                              env=self.env(), stdin=subprocess.DEVNULL, capture_output=True,
                              timeout=60)
        if done.returncode != 0:
            raise HarnessError(f"import failed: {done.stderr.decode(errors='replace')}")
        with Image.open(path) as image:
            return image.convert("RGB")

    # ----- settings file ----------------------------------------------------
    @property
    def control_ini(self):
        return self.prefix / "drive_c" / "windows" / "control.ini"

    def read_control_ini(self):
        """The bytes of control.ini, or None when there is no such file."""
        return self.control_ini.read_bytes() if self.control_ini.exists() else None

    def write_control_ini(self, data):
        if data is None:
            if self.control_ini.exists():
                self.control_ini.unlink()
        else:
            self.control_ini.write_bytes(data)



def probe_32bit():
    """Whether 32-bit Windows programs can run here: (True, "", session) or
    (False, reason, None). Starts a session with the 32-bit helpers and runs
    the window lister; the caller gets that ready session when it worked."""
    if not os.access(WINE32, os.X_OK):
        return False, f"the 32-bit Wine loader {WINE32} is not installed (Debian's wine32:i386)", None
    lister = build_dir(32) / "e2e" / "windows" / "winlist.exe"
    if not lister.exists():
        return False, f"the 32-bit helpers are not built ({lister} is missing)", None
    session = WineSession("probe32", bits=32)
    try:
        session.start()
        session.windows()
    except (HarnessError, AssertionError, OSError) as error:
        session.close()
        return False, f"32-bit Wine cannot run a trivial 32-bit program here: {error}", None
    return True, "", session
