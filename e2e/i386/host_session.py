"""The 64-bit backend of cases.py: the host's wine64 through the Wine harness
of e2e/harness (wine_env.WineSession), with the few operations the cases use
that it does not have itself."""

import shutil
import subprocess
import sys
import time
from pathlib import Path

import session as common

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "harness"))
import wine_env  # noqa: E402


class HostSession(wine_env.WineSession):
    name = "wine64"

    def __init__(self, helpers_dir=None):
        super().__init__("cases64", bits=64)
        if helpers_dir is not None:
            self.helpers = Path(helpers_dir)

    def stage(self, label, files):
        d = self.new_dir(label)
        for name, data in files.items():
            if isinstance(data, Path):
                shutil.copyfile(data, d / name)
            else:
                (d / name).write_bytes(data)
        return d

    def stage_signal(self, directory, name):
        (Path(directory) / name).touch()

    def spawn(self, program, args, extra_env=None, label="spawn"):
        d = self.new_dir(label)
        args = [self.winpath(d) if a == "%DIR%" else str(a) for a in args]
        env = self.env()
        env.update(extra_env or {})
        subprocess.Popen([self.wine, str(program)] + args, env=env, stdin=subprocess.DEVNULL,
                         stdout=self.log, stderr=self.log)
        return d

    def registry(self, changes):
        """Applies (key, value, data, kind) changes; data None deletes."""
        for key, value, data, kind in changes:
            if data is None:
                self.reg_delete(key, value)
            else:
                self.reg_add(key, value, data, kind)

    def read_file(self, path):
        path = Path(path)
        return path.read_bytes() if path.exists() else None

    def wait_file(self, path, timeout, what):
        path = Path(path)
        return common.wait_for(lambda: path.exists() and path.stat().st_size > 0 and path.read_bytes(),
                               timeout, what)

    def windows(self):
        d = self.new_dir("winlist")
        out = d / "windows.txt"
        rc = self._run([self.wine, str(self.helper("winlist")), self.winpath(out)],
                       timeout=60, what="winlist")
        if rc != 0 or not out.exists():
            raise common.HarnessError(f"winlist failed ({rc})")
        return common.parse_winlist(out.read_text(encoding="latin-1"))

    def find_windows(self, cls=None, title=None, visible=True, pid=None, top_level=None,
                     parent=None):
        return [w for w in self.windows()
                if (cls is None or w.cls == cls) and (title is None or w.title == title)
                and (visible is None or w.visible == visible) and (pid is None or w.pid == pid)
                and (top_level is None or (w.parent == 0) == top_level)
                and (parent is None or w.parent == parent)]

    def wait_for_window(self, timeout=30, **criteria):
        found = common.wait_for(lambda: self.find_windows(**criteria), timeout,
                                f"a window with {criteria}", interval=0.1)
        if len(found) != 1:
            raise AssertionError(f"expected one window with {criteria}, found {found}")
        return found[0]

    def wait_for_no_window(self, timeout=30, **criteria):
        common.wait_for(lambda: not self.find_windows(**criteria), timeout,
                        f"no window with {criteria}", interval=0.1)

    def launch(self, command_line, program, timeout_ms=120000, extra_env=None):
        return _Launch(super().launch(command_line, program, timeout_ms, extra_env))


class _Launch:
    """wine_env's Launch with session.py's exit parsing."""

    def __init__(self, inner):
        self.inner = inner

    def finished(self):
        return self.inner.finished()

    def still_running_after(self, seconds):
        return self.inner.still_running_after(seconds)

    def press_until_ended(self, key, timeout=120):
        """Sends `key` and waits up to 3 s for the end, again and again."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            self.inner.session.xdotool("key", key)
            try:
                return self.wait(3)
            except AssertionError:
                continue
        raise AssertionError(f"the program did not end within {timeout} s of pressing {key}")

    def wait(self, timeout=60):
        text = common.wait_for(lambda: self.inner.result_file.exists() and
                               self.inner.result_file.read_text(), timeout, "the program to end")
        if text.startswith("error="):
            raise common.HarnessError(f"launcher could not start the program: {text.strip()}")
        return common.parse_exit(text)
