"""What the end-to-end tests do with a Windows world, on either backend: the
host's Wine (wine_env.WineSession) or 32-bit Wine in the emulated i386
machine (e2e/i386/vm_session.VmSession). Here live the parts both share: the
result types and the parsing of the helper programs' output (e2e/windows),
the waits, and Session, whose operations are written once on a few
primitives that each backend supplies.

A backend supplies:
  new_dir(label) -> directory      put(files {path: host Path or bytes})
  read_file(path) -> bytes or None  remove(path), also of a folder
  exists(path)   make_dir(path)
  file_within(path, seconds, what) -> bytes of a non-empty file
  absent_within(path, seconds) -> True when the file did not appear meanwhile
  start_program(program, args, directory, extra_env, files)  in the
    background, with `files` ({path: bytes}) put first
  run_wine(args, seconds) -> exit status of a Wine command run to its end
  windows() -> [Window];  xdotool(*args) -> output
  winpath(path);  helper(name) -> path;  reset() ends every Windows program
  bits, name, windows_dir (the Windows folder: control.ini, system32, inf),
  control_ini (path), framebuffer (the file in which Xvfb keeps the screen,
  its -fbdir), patience (how many times slower than the host's Wine it is)
A backend may also replace windows_within(present, seconds, criteria).

Everything waits for conditions with deadlines; nothing sleeps blindly. The
backends' primitives take seconds as they are; Session's waits take the
seconds that the host's Wine needs and grow them by the backend's patience,
so the callers never scale a deadline. So do the negative windows (a program
that must NOT end, a file that must NOT appear): a fault shows on a slow
backend as late as everything else, and a window of the host's length would
prove less there. The hold check of dialog.ShowCase measures the saver's
own clock: its deadline grows, the 10 s it counts against do not.
"""

import struct
import time
from dataclasses import dataclass
from pathlib import Path, PurePath

# The saver's dialog asks for "Times New Roman", which Wine does not have: it
# would draw in whatever sans-serif face the machine has, and lay the dialog
# out by that face's widths. Liberation Serif has the metrics of Times New
# Roman, so with it the dialog is laid out as on Windows on every backend.
DIALOG_FONT = Path("/usr/share/fonts/truetype/liberation/LiberationSerif-Regular.ttf")

SAVER_CLASS = "WindowsScreenSaverClass"
SAVER_TITLE = "Screen Saver"
POINTER_REST = (500, 400)   # where the pointer rests when a saver starts


def settings(seconds=None, paint=None):
    """The saver's section of control.ini, as its dialog writes it, with the values given."""
    values = [(b"Seconds", seconds), (b"Paint", paint)]
    return b"[ScreenSaver.Vellomire]\r\n" + b"".join(
        b"%s=%s\r\n" % (name, value) for name, value in values if value is not None)


class HarnessError(RuntimeError):
    """The test environment itself failed (not the program under test)."""


class Timeout(AssertionError):
    """A wait's deadline passed before its condition came true."""


def poll_until(condition, timeout, what, interval=0.05):
    """Polls condition() until it returns a true value, which is returned;
    raises Timeout naming `what` when `timeout` seconds pass first. The
    seconds are taken as they are: tests wait with Session.wait_for."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise Timeout(f"timed out after {timeout:.1f} s waiting for {what}")
        time.sleep(interval)


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
    """Reads winlist.exe's output: 14 tab-separated fields a window."""
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


def select_windows(windows, cls=None, title=None, visible=True, pid=None, top_level=None,
                   parent=None):
    """The windows that match every criterion given (visible ones by default)."""
    return [w for w in windows
            if (cls is None or w.cls == cls) and (title is None or w.title == title)
            and (visible is None or w.visible == visible) and (pid is None or w.pid == pid)
            and (top_level is None or (w.parent == 0) == top_level)
            and (parent is None or w.parent == parent)]


def decode_xwd(data):
    """An X window dump of a true-colour screen (Xvfb's -fbdir file) as an
    RGB PIL image."""
    import numpy as np
    from PIL import Image
    header = struct.unpack_from(">25I", data)
    width, height, byte_order, bits, stride = header[4], header[5], header[7], header[11], header[12]
    if header[1] != 7 or bits != 32:
        raise HarnessError(f"not a 32-bit X window dump: {header[:13]}")
    pixels = np.frombuffer(data, "<u4" if byte_order == 0 else ">u4", height * stride // 4,
                           header[0] + 12 * header[19]).reshape(height, stride // 4)[:, :width]
    channels = [(pixels & mask) >> ((mask & -mask).bit_length() - 1) for mask in header[14:17]]
    return Image.fromarray(np.dstack(channels).astype(np.uint8), "RGB")


@dataclass
class ExitResult:
    unsigned: int
    signed: int

    def __str__(self):
        return f"0x{self.unsigned:08X} ({self.signed})"


def parse_exit(text):
    """Reads the launcher's result text: exit=0xXXXXXXXX N (first line)."""
    text = text.strip()
    if not text.startswith("exit="):
        raise AssertionError(f"program did not end normally: {text!r}")
    hexpart, decpart = text.split("\n")[0][len("exit="):].split()
    result = ExitResult(int(hexpart, 16), int(decpart))
    if (result.unsigned - (1 << 32) if result.unsigned >= 1 << 31 else result.unsigned) != result.signed:
        raise HarnessError(f"launcher's two renderings disagree: {text!r}")
    return result


class Launch:
    """A program started through launcher.exe, running asynchronously."""

    def __init__(self, session, directory):
        self.session = session
        self.dir = directory
        self.result_file = directory / "result.txt"
        self.ended = False      # its result has been read

    def finished(self):
        return self.ended or self.session.exists(self.result_file)

    def wait(self, timeout=20):
        """Waits for the program to end; returns its ExitResult."""
        text = self.session.wait_file(self.result_file, timeout, "the program to end").decode()
        self.ended = True
        if text.startswith("error="):
            raise HarnessError(f"launcher could not start the program: {text.strip()}")
        return parse_exit(text)

    def still_running_after(self, seconds):
        """A negative window: True when the program has not ended within
        `seconds` (on the host; longer on a slower backend)."""
        return self.session.stays_absent(self.result_file, seconds)

    def press_until_ended(self, key, timeout=120):
        """Sends `key` and waits 3 s (on the host) for the end, again and
        again (a verifier may refuse, or a key may come inside its quiet
        interval). Only a wait that ran out presses again: any result the
        launcher wrote, also one that is no exit code, ends the loop at once."""
        deadline = time.monotonic() + timeout * self.session.patience
        while time.monotonic() < deadline:
            self.session.xdotool("key", key)
            try:
                return self.wait(3)
            except Timeout:
                continue
        raise AssertionError(f"the program did not end within {timeout} s (times "
                             f"{self.session.patience}) of pressing {key}")


class Session:
    """The operations of the tests, on a backend's primitives (module text)."""

    patience = 1

    def __init__(self):
        self.launches = []
        self.versions = {}      # program -> the version this session last gave it

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.close()

    # ----- files --------------------------------------------------------------
    def stage(self, label, files):
        """Puts files (name -> host Path or bytes) together in a new directory."""
        d = self.new_dir(label)
        self.put({d / name: data for name, data in files.items()})
        return d

    def empty_dir(self, label):
        """A new directory that exists at once, for a program to write into
        (a backend may make new_dir's only with the first file put there)."""
        d = self.new_dir(label)
        self.make_dir(d)
        return d

    def signal(self, directory, name):
        """Makes an empty file `name` in `directory`, which a helper waits for."""
        self.put({directory / name: b""})

    def read_control_ini(self):
        """The bytes of control.ini, or None when there is no such file."""
        return self.read_file(self.control_ini)

    def write_control_ini(self, data):
        if data is None:
            self.remove(self.control_ini)
        else:
            self.put({self.control_ini: data})

    # ----- programs -------------------------------------------------------------
    def spawn(self, program, args, extra_env=None, label="spawn"):
        """Starts a Windows program in the background; the argument "%DIR%"
        stands for the new directory that is returned."""
        d = self.new_dir(label)
        args = [self.winpath(d) if a == "%DIR%" else str(a) for a in args]
        self.start_program(program, args, d, extra_env)
        return d

    def launch(self, command_line, program, timeout_ms=None, extra_env=None):
        """Starts `program` (a path, or a Windows name such as C:\\x.scr as a
        text) with exactly the bytes `command_line` as its command line,
        through launcher.exe; returns a Launch."""
        if isinstance(command_line, str):
            command_line = command_line.encode("latin-1")
        if timeout_ms is None:      # the launcher ends a program that runs longer
            timeout_ms = 120000 * self.patience
        d = self.new_dir("launch")
        name = program if isinstance(program, str) else self.winpath(program)
        args = [name, self.winpath(d / "cmdline.bin"),
                self.winpath(d / "result.txt"), str(timeout_ms)]
        self.start_program(self.helper("launcher"), args, d, extra_env,
                           {d / "cmdline.bin": command_line})
        launch = Launch(self, d)
        self.launches.append(launch)
        return launch

    def start_saver(self, program, command_line=b"vellomire.scr /s", timeout_ms=None):
        """Launches a full-screen run from the pointer's resting place, where
        a case's clicks and moves left it, and waits for its top-level
        window: (Launch, Window)."""
        self.xdotool("mousemove", *POINTER_REST)
        launch = self.launch(command_line, program, timeout_ms)
        return launch, self.wait_for_window(cls=SAVER_CLASS, title=SAVER_TITLE, top_level=True)

    def run(self, command_line, program, timeout=30, extra_env=None):
        """Runs a program with an exact command line to its end; its ExitResult."""
        return self.launch(command_line, program, int(timeout * self.patience * 1000) + 5000,
                           extra_env).wait(timeout + 10)

    def end_leftovers(self):
        """Ends whatever a failed case left running, so the next starts clean
        (the Windows versions given stay in the prefix, and in self.versions)."""
        if any(not launch.finished() for launch in self.launches):
            self.reset()
        self.launches = []

    # ----- registry ---------------------------------------------------------------
    def registry(self, changes):
        """Applies (key, value, data, kind) changes in one import; data None
        deletes the value, and value None the whole key."""
        lines = ["REGEDIT4", ""]
        for key, value, data, kind in changes:
            if value is None:
                lines += [f"[-{full_key(key)}]", ""]
                continue
            lines.append(f"[{full_key(key)}]")
            if data is None:
                lines.append(f'"{value}"=-')
            elif kind == "REG_DWORD":
                lines.append(f'"{value}"=dword:{int(data):08x}')
            else:
                escaped = data.replace("\\", "\\\\").replace('"', '\\"')
                lines.append(f'"{value}"="{escaped}"')
            lines.append("")
        d = self.stage("registry", {"changes.reg": "\r\n".join(lines).encode("latin-1")})
        self._regedit("/s", self.winpath(d / "changes.reg"))

    def registry_values(self, key):
        """The values of one key, {name: text, or int for a DWORD} (its
        default value under ""), or None when there is no such key. Wine's
        regedit exports a missing key as it fails, with no file: so the
        key's parent, which must exist, is exported and searched."""
        full = full_key(key)
        text = self._export(full.rpartition("\\")[0])
        values, inside, found = {}, False, False
        for line in text.splitlines():
            if line.startswith("["):
                inside = line[1:-1].lower() == full.lower()   # not its subkeys
                found = found or inside
            elif inside and "=" in line:
                name, _, data = line.partition("=")
                name = "" if name == "@" else name[1:-1].replace("\\\\", "\\")
                if data.startswith("dword:"):
                    values[name] = int(data[6:], 16)
                else:
                    values[name] = data[1:-1].replace('\\"', '"').replace("\\\\", "\\")
        return values if found else None

    def _export(self, key):
        """The text of regedit's export of a key and its subkeys; raises
        when the key cannot be exported."""
        out = self.empty_dir("export") / "key.reg"
        exported = self._regedit("/e", self.winpath(out), key, made=out)
        return exported.decode("utf-16" if exported[:2] == b"\xff\xfe" else "latin-1")

    def _regedit(self, *args, made=None):
        """Runs regedit until it ends with 0 (and writes `made`, whose bytes
        are returned); raises after the second failure. Once in a CI run on a loaded machine,
        regedit ended with 1 on a good file that it imported on every other
        run: a second try tells such a hiccup from a real refusal."""
        for attempt in (1, 2):
            rc = self.wine("regedit", *args)
            written = self.read_file(made) if rc == 0 and made is not None else None
            if rc == 0 and (made is None or written):
                return written
            print(f"[harness] regedit {args[0]} ended with {rc} (attempt {attempt})", flush=True)
        raise HarnessError(f"regedit {' '.join(map(str, args))} failed ({rc})")

    def reg_add(self, key, value, data, kind="REG_SZ"):
        self.registry([(key, value, data, kind)])

    def reg_delete(self, key, value):
        self.registry([(key, value, None, "REG_SZ")])

    def give_dialog_font(self):
        """Puts Liberation Serif into the prefix for Times New Roman."""
        if not DIALOG_FONT.exists():
            raise HarnessError(f"{DIALOG_FONT} is missing (tools/install-deps.sh)")
        self.put({self.windows_dir / "Fonts" / DIALOG_FONT.name: DIALOG_FONT})
        self.reg_add(r"HKCU\Software\Wine\Fonts\Replacements", "Times New Roman",
                     "Liberation Serif")

    def set_windows_version(self, version, program="vellomire.scr"):
        """'win98' makes GetVersionExA report the Windows 95 family to
        `program`; None gives it the prefix's NT-family default back. A new
        prefix gives none, and one that this session set already is not set
        again: each setting costs a program start."""
        if self.versions.get(program) != version:
            self.reg_add(rf"HKCU\Software\Wine\AppDefaults\{program}", "Version", version)
            self.versions[program] = version

    def wine(self, *args, timeout=60):
        """Runs a Wine command (a program and its arguments) to its end; its
        exit status."""
        return self.run_wine([str(a) for a in args], timeout * self.patience)

    def post_message(self, hwnd, message, wparam=0, lparam=0):
        """Posts a message to a window from a helper process."""
        rc = self.wine(self.helper("postmessage"), hwnd, message, wparam, lparam)
        if rc != 0:
            raise HarnessError(f"posting message {message:#x} to {hwnd} failed ({rc})")

    # ----- waits: `timeout` and `seconds` as the host's Wine needs them --------
    def wait_for(self, condition, timeout, what, interval=0.05):
        return poll_until(condition, timeout * self.patience, what, interval)

    def wait_file(self, path, timeout, what):
        """The bytes of a file once it exists and is not empty."""
        return self.file_within(path, timeout * self.patience, what)

    def stays_absent(self, path, seconds):
        """A negative window: True when no file `path` appeared meanwhile."""
        return self.absent_within(path, seconds * self.patience)

    def screenshot(self, path=None):
        """The whole screen as an RGB PIL image, also saved as `path` if given."""
        data = self.read_file(self.framebuffer) if self.framebuffer else None
        if not data:
            raise HarnessError(f"no screen in {self.framebuffer}")
        image = decode_xwd(data)
        if path is not None:
            image.save(path)
        return image

    # ----- windows ----------------------------------------------------------------
    def find_windows(self, **criteria):
        return select_windows(self.windows(), **criteria)

    def windows_within(self, present, seconds, criteria):
        """Lists windows until some match (present) or none does, or until
        `seconds` pass; the matching windows of the last list."""
        found = []

        def settled():
            found[:] = self.find_windows(**criteria)
            return bool(found) == present
        try:
            poll_until(settled, seconds, "windows", interval=0.1)
        except Timeout:
            pass
        return found

    def wait_for_window(self, timeout=30, **criteria):
        """Waits until a window matches; fails unless exactly one does."""
        found = self.windows_within(True, timeout * self.patience, criteria)
        if len(found) != 1:
            raise AssertionError(f"expected one window with {criteria} within {timeout} s "
                                 f"(times {self.patience}), found {found}")
        return found[0]

    def wait_for_no_window(self, timeout=30, **criteria):
        found = self.windows_within(False, timeout * self.patience, criteria)
        if found:
            raise AssertionError(f"timed out after {timeout} s (times {self.patience}) "
                                 f"waiting for no window with {criteria}: {found}")

    def pointer(self):
        """The X pointer position."""
        out = self.xdotool("getmouselocation", "--shell")
        values = dict(line.split("=", 1) for line in out.split() if "=" in line)
        return int(values["X"]), int(values["Y"])


def full_key(key):
    """A registry key with its root written out as regedit wants it."""
    root, _, rest = key.partition("\\")
    roots = {"HKCU": "HKEY_CURRENT_USER", "HKLM": "HKEY_LOCAL_MACHINE"}
    return f"{roots.get(root, root)}\\{rest}"


def windows_name(path):
    """The Windows name (drive Z:) of an absolute Unix path."""
    return "Z:" + str(PurePath(path)).replace("/", "\\")
