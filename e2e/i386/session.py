"""What the end-to-end cases of cases.py need from a backend, and the pieces
both backends share: waits with deadlines, the window list and exit code
formats of the helper programs (e2e/windows).

A backend ("session") offers:
  stage(label, {name: host Path or bytes}) -> directory   put files together
  launch(command_line, program, extra_env=) -> launch       exact command line;
      launch.wait(timeout) -> ExitResult, launch.finished(),
      launch.still_running_after(seconds)
  run(command_line, program, timeout, extra_env=) -> ExitResult
  spawn(program, args, extra_env=, label=) -> directory    a helper in the background
  helper(name) -> program path;  winpath(path) -> Windows name
  windows(), find_windows(...), wait_for_window(...), wait_for_no_window(...)
  xdotool(*args) -> stdout;  screenshot() -> PIL RGB image
  read_control_ini() / write_control_ini(bytes or None)
  reg_add(key, value, data, kind), reg_delete(key, value),
  set_windows_version("win98" or None)
  read_file(path) -> bytes or None;  wait_file(path, timeout, what) -> bytes
  bits (32 or 64), name
"""

import time
from dataclasses import dataclass


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
    rect: tuple
    client_size: tuple
    client_origin: tuple
    visible: bool
    text: str = None      # WM_GETTEXT of Edit and Button children, when listed
    check: int = None     # BM_GETCHECK of buttons, when listed


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
    """Reads winlist.exe's output (12 fields a line, or 14 with the control
    text and check state)."""
    lines = text.split("\n")
    if "end" not in lines:
        raise HarnessError("window list is incomplete")
    windows = []
    for line in lines:
        if not line or line == "end":
            continue
        f = line.split("\t")
        if len(f) not in (12, 14):
            raise HarnessError(f"bad window list line: {line!r}")
        w = Window(
            hwnd=int(f[0]), parent=int(f[1]), owner=int(f[2]), pid=int(f[3]),
            cls=_unescape(f[4]), title=_unescape(f[5]),
            style=int(f[6], 16), exstyle=int(f[7], 16),
            rect=tuple(int(v) for v in f[8].split(",")),
            client_size=tuple(int(v) for v in f[9].split(",")),
            client_origin=tuple(int(v) for v in f[10].split(",")),
            visible=f[11] == "1")
        if len(f) == 14:
            w.text = None if f[12] == "-" else _unescape(f[12])
            w.check = None if f[13] == "-" else int(f[13])
        windows.append(w)
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
    hexpart, decpart = text.split("\n")[0][len("exit="):].split()
    result = ExitResult(int(hexpart, 16), int(decpart))
    if (result.unsigned - (1 << 32) if result.unsigned >= 1 << 31 else result.unsigned) != result.signed:
        raise HarnessError(f"launcher's two renderings disagree: {text!r}")
    return result
