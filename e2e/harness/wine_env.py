"""The host's backend of the end-to-end tests: a private Wine world for one
suite, with its own X display (Xvfb), its own Wine prefix and a wineserver
kept alive for the whole suite. The operations the tests use are those of
session.Session; this module supplies its primitives on the host's files and
processes.

The 64-bit saver runs in a 64-bit prefix (where 32-bit programs run too when
Debian's wine32:i386 is installed), the 32-bit one in a 32-bit prefix, as on
32-bit Windows. Making a prefix (wineboot) takes seconds of both cores, so
each kind is made once (template_prefix) and every suite gets a copy of it.
"""

import fcntl
import hashlib
import os
import shutil
import signal
import subprocess
import tempfile
import time
from pathlib import Path

from session import HarnessError, Session, parse_winlist, poll_until, windows_name

WINE64 = "/usr/lib/wine/wine64"
WINE32 = "/usr/lib/wine/wine"      # the 32-bit loader (Debian's wine32:i386)
LOADER = {64: WINE64, 32: WINE32}
WINESERVER = "/usr/bin/wineserver"
SCREEN_W, SCREEN_H = 1024, 768

REPO = Path(__file__).resolve().parents[2]
TEMPLATES = REPO / "build" / "wine-prefixes"
# Files of a prefix that Wine only reads: a copy of the prefix links them
# instead of copying over a gigabyte. The registry, the .ini files and the
# rest, which Wine and the tests write in place, are copied.
READ_ONLY = (".dll", ".exe", ".drv", ".sys", ".ocx", ".cpl", ".acm", ".tlb", ".ax", ".nls", ".ds")


def build_dir(bits):
    """The MinGW build tree of the given width (environment overrides)."""
    name = "VELLOMIRE_WIN32_DIR" if bits == 32 else "VELLOMIRE_WIN64_DIR"
    default = REPO / "build" / ("win32" if bits == 32 else "win64")
    return Path(os.environ.get(name, str(default)))


def template_prefix(bits):
    """A prefix of the width given, made once by a session of its own and
    kept in build/ under a name that holds what it depends on: the Wine
    build, the date of Wine's own set-up file (a newer one makes Wine update
    a prefix, rewriting its libraries), whether 32-bit Wine is there (a
    64-bit prefix then has a SysWOW64 folder) and this file. Suites that ask at the
    same time wait for the first to make it."""
    version = subprocess.run([LOADER[bits], "--version"], capture_output=True).stdout
    key = hashlib.sha256(version + Path(__file__).read_bytes() + b"%d %d" % (
        Path("/usr/share/wine/wine.inf").stat().st_mtime_ns, os.access(WINE32, os.X_OK))
    ).hexdigest()[:12]
    path = TEMPLATES / f"win{bits}-{key}"
    TEMPLATES.mkdir(parents=True, exist_ok=True)
    with open(TEMPLATES / f"win{bits}.lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not (path / "system.reg").exists():
            for old in TEMPLATES.glob(f"win{bits}-*"):
                shutil.rmtree(old, ignore_errors=True)
            made = Path(tempfile.mkdtemp(prefix=f"win{bits}-new-", dir=TEMPLATES))
            with WineSession(f"template{bits}", bits, prefix=made):
                pass
            made.rename(path)
    return path


def copy_prefix(template, prefix):
    def link_or_copy(source, target):
        if source.endswith(READ_ONLY):
            os.link(source, target)
        else:
            shutil.copy2(source, target)
    shutil.copytree(template, prefix, symlinks=True, copy_function=link_or_copy)


class WineSession(Session):
    """One Xvfb display, one Wine prefix, one wineserver; see the module text."""

    def __init__(self, name="suite", bits=64, display=None, prefix=None):
        """display: use this X display instead of a private Xvfb; prefix: use
        (and keep) this Wine prefix, made there if need be, instead of a
        private copy of the template."""
        super().__init__()
        self.name = name
        self.bits = bits
        self.wine_loader = LOADER[bits]
        self.root = Path(tempfile.mkdtemp(prefix=f"vellomire-{name}-"))
        self.copied = prefix is None
        self.prefix = Path(prefix) if prefix else self.root / "pfx"
        self.windows_dir = self.prefix / "drive_c" / "windows"
        self.control_ini = self.windows_dir / "control.ini"
        self.own_display = display is None
        self.framebuffer = self.root / "Xvfb_screen0" if self.own_display else None
        self.work = self.root / "work"
        self.work.mkdir()
        self.log = open(self.root / "wine.log", "wb")
        self.xvfb = None
        self.display = display
        self._counter = 0
        self.helpers = build_dir(bits) / "e2e" / "windows"
        self.processes = []     # the Wine processes that start_program began

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
        if not os.access(self.wine_loader, os.X_OK):
            raise HarnessError(f"no Wine loader {self.wine_loader} for {self.bits}-bit programs "
                               "(tools/install-deps.sh installs it where the kernel runs them)")
        if self.own_display:
            self._start_xvfb()
        env = self.env()
        if self.copied:
            copy_prefix(template_prefix(self.bits), self.prefix)
        else:
            self._run([self.wine_loader, "wineboot", "-i"], timeout=180, what="wineboot")
            poll_until(lambda: (self.prefix / "system.reg").exists(), 60, "the prefix's registry")
        # Keep the server alive between programs: later starts are fast.
        subprocess.Popen([WINESERVER, "-p"], env=env, stdout=self.log, stderr=self.log).wait(30)
        if not self.copied:
            if self.own_display:
                # Xvfb has no window manager: Wine must not wait for one.
                self.reg_add(r"HKCU\Software\Wine\X11 Driver", "Managed", "N")
            self.give_dialog_font()
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
        for process in self.processes:
            try:
                process.wait(10)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait(10)
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

    def _start_xvfb(self):
        # Xvfb picks a free display number itself and tells it through a pipe.
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", f"{SCREEN_W}x{SCREEN_H}x24",
             "-fbdir", str(self.root), "-noreset", "-nolisten", "tcp"],
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
            "WINEARCH": f"win{self.bits}",
            "WINELOADER": self.wine_loader,
        })
        if self.display:
            env["DISPLAY"] = self.display
        env.setdefault("HOME", str(self.root))
        return env

    # ----- primitives of a Session ----------------------------------------------
    def _run(self, args, timeout, what):
        try:
            done = subprocess.run(args, env=self.env(), stdin=subprocess.DEVNULL,
                                  stdout=self.log, stderr=self.log, timeout=timeout)
        except subprocess.TimeoutExpired:
            raise HarnessError(f"{what} did not finish in {timeout} s")
        return done.returncode

    def winpath(self, path):
        return windows_name(Path(path).resolve())

    def new_dir(self, label):
        self._counter += 1
        d = self.work / f"{self._counter:03d}-{label}"
        d.mkdir()
        return d

    def put(self, files):
        for path, data in files.items():
            Path(path).parent.mkdir(parents=True, exist_ok=True)
            if isinstance(data, Path):
                shutil.copyfile(data, path)
            else:
                Path(path).write_bytes(data)

    def read_file(self, path):
        path = Path(path)
        return path.read_bytes() if path.exists() else None

    def remove(self, path):
        if Path(path).is_dir():
            shutil.rmtree(path)
        else:
            Path(path).unlink(missing_ok=True)

    def make_dir(self, path):
        Path(path).mkdir(parents=True, exist_ok=True)

    def exists(self, path):
        return Path(path).exists()

    def file_within(self, path, timeout, what):
        path = Path(path)
        return poll_until(lambda: path.exists() and path.stat().st_size > 0 and path.read_bytes(),
                          timeout, what)

    def absent_within(self, path, seconds):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if Path(path).exists():
                return False
            time.sleep(0.05)
        return not Path(path).exists()

    def helper(self, name):
        path = self.helpers / f"{name}.exe"
        if not path.exists():
            raise HarnessError(f"missing helper program {path}")
        return path

    def popen(self, program, args, extra_env=None):
        """Starts a Windows program; its process (output goes to the log)."""
        env = self.env()
        env.update(extra_env or {})
        return subprocess.Popen([self.wine_loader, str(program)] + [str(a) for a in args],
                                env=env, stdin=subprocess.DEVNULL,
                                stdout=self.log, stderr=self.log)

    def start_program(self, program, args, directory, extra_env=None, files=None):
        self.put(files or {})
        self.processes = [p for p in self.processes if p.poll() is None]
        self.processes.append(self.popen(program, args, extra_env))

    def run_wine(self, args, seconds):
        return self._run([self.wine_loader] + args, timeout=seconds, what=f"wine {args[0]}")

    def reset(self):
        env = self.env()
        subprocess.run([WINESERVER, "-k"], env=env, stdout=self.log, stderr=self.log, timeout=60)
        subprocess.run([WINESERVER, "-w"], env=env, stdout=self.log, stderr=self.log, timeout=60)
        subprocess.Popen([WINESERVER, "-p"], env=env, stdout=self.log, stderr=self.log).wait(30)

    def windows(self):
        out = self.new_dir("winlist") / "windows.txt"
        rc = self.wine(self.helper("winlist"), self.winpath(out))
        if rc != 0 or not out.exists():
            raise HarnessError(f"winlist failed ({rc})")
        return parse_winlist(out.read_text(encoding="latin-1"))

    def xdotool(self, *args):
        done = subprocess.run(["xdotool"] + [str(a) for a in args], env=self.env(),
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=30)
        if done.returncode != 0:
            raise HarnessError(f"xdotool {args} failed: {done.stderr.decode(errors='replace')}")
        return done.stdout.decode(errors="replace")

