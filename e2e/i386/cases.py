"""End-to-end cases of the password verification and change, with test
doubles of PASSWORD.CPL and MPR.DLL, on either backend (session.py in
e2e/harness): the 32-bit build in the emulated i386 machine, or the 64-bit
build under the host's wine64. The saver's other end-to-end cases are the
suites of e2e/suites, which run on both backends too. Each case is a function case_NAME(session,
kit) that raises AssertionError on a fault; kit carries the saver and the
test doubles built for the session's width.
"""

import sys
from dataclasses import dataclass
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "harness"))
from session import wait_for  # noqa: E402

SAVER_CLASS = "WindowsScreenSaverClass"
SECTION = b"[ScreenSaver.Vellomire]"
DESKTOP = r"HKCU\Control Panel\Desktop"
ACCESS_VIOLATION = 0xC0000005
AEDEBUG = r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug"


@dataclass
class Kit:
    saver: Path          # vellomire.scr of the session's width
    verifier: Path       # PASSWORD.CPL: refuses once, then accepts
    verifier_fault: Path  # PASSWORD.CPL that writes through a null pointer
    mpr: Path            # MPR.DLL logging PwdChangePasswordA


def signed(value):
    return value - (1 << 32) if value >= 1 << 31 else value


# ----- helpers --------------------------------------------------------------------
def ini(**values):
    lines = [SECTION] + [f"{k}={v}".encode() for k, v in values.items()]
    return b"\r\n".join(lines) + b"\r\n"


def start_full_screen(s, program, extra_env=None):
    launch = s.launch(b"vellomire.scr /s", program, extra_env=extra_env)
    window = s.wait_for_window(cls=SAVER_CLASS, top_level=True)
    return launch, window


def expect_exit(result, expected, what):
    assert result.signed == signed(expected), f"{what}: exit {result}, expected {signed(expected)}"


def log_lines(s, directory, name):
    data = s.read_file(f"{directory}/{name}" if isinstance(directory, str) else directory / name)
    return [] if data is None else data.decode("latin-1").splitlines()


class Win98:
    """Windows 95 family for the saver, with the screen-saver password on."""

    def __init__(self, s, password=True):
        self.s, self.password = s, password

    def _changes(self, on):
        changes = [(rf"HKCU\Software\Wine\AppDefaults\vellomire.scr", "Version",
                    "win98" if on else None, "REG_SZ")]
        if self.password:
            changes.append((DESKTOP, "ScreenSaveUsePassword", "1" if on else None, "REG_DWORD"))
        return changes

    def __enter__(self):
        self.s.registry(self._changes(True))
        return self

    def __exit__(self, *exc):
        self.s.registry(self._changes(False))


# ----- cases -------------------------------------------------------------------------
def case_win98_password(s, kit):
    """Windows 95 family with the password on: PASSWORD.CPL's verifier is asked
    with the saver window; a refusal keeps the saver, the next answer ends it."""
    s.write_control_ini(ini(Seconds=60, Paint=0))
    d = s.stage("password", {"vellomire.scr": kit.saver, "PASSWORD.CPL": kit.verifier})
    with Win98(s):
        launch, window = start_full_screen(s, d / "vellomire.scr")
        s.xdotool("key", "space")
        wait_for(lambda: any("call=1" in l for l in log_lines(s, d, "verifier.log")), 90,
                 "the first question to the verifier", interval=0.2)
        assert s.find_windows(cls=SAVER_CLASS, top_level=True), "saver window gone after refusal"
        # A burst of keys 40 ms apart: those inside the quiet interval after
        # the refusal are refused without asking, a later one asks again.
        s.xdotool("key", "--delay", "40", *["space"] * 15)
        expect_exit(launch.press_until_ended("space"), 0, "/s ended after the verifier accepted")
    lines = log_lines(s, d, "verifier.log")
    calls = [dict(f.split("=", 1) for f in l.split()[1:]) for l in lines if l.startswith("verify")]
    assert [(c["call"], c["hwnd"], c["answer"]) for c in calls] == \
        [("1", str(window.hwnd), "0"), ("2", str(window.hwnd), "1")], lines
    # Keys come again and again after the refusal; the verifier is asked
    # again no sooner than 200 ms after its last answer.
    gap = (int(calls[1]["tick"]) - int(calls[0]["tick"])) & 0xFFFFFFFF
    assert gap >= 200, f"asked again after {gap} ms: {lines}"
    print(f"    verifier asked twice, {gap} ms apart; SPI_GETSCREENSAVERRUNNING answered "
          f"{calls[0]['running']} while the saver ran")
    assert lines[0] == "attach", lines


def case_nt_password_not_loaded(s, kit):
    """On the NT family the password switch is ignored: the verifier is never
    loaded and a key ends the saver at once with 0."""
    s.write_control_ini(ini(Seconds=60, Paint=0))
    d = s.stage("ntpassword", {"vellomire.scr": kit.saver, "PASSWORD.CPL": kit.verifier})
    s.registry([(DESKTOP, "ScreenSaveUsePassword", "1", "REG_DWORD")])
    try:
        launch, _ = start_full_screen(s, d / "vellomire.scr")
        expect_exit(launch.press_until_ended("space"), 0, "/s in NT mode with the password on")
    finally:
        s.registry([(DESKTOP, "ScreenSaveUsePassword", None, "REG_DWORD")])
    assert log_lines(s, d, "verifier.log") == [], "PASSWORD.CPL was loaded in NT mode"


def case_win98_change_password(s, kit):
    """/a in Windows 95 family mode asks MPR.DLL's PwdChangePasswordA for the
    SCRSAVE provider with the given owner; in NT mode it does nothing."""
    d = s.stage("mpr", {"vellomire.scr": kit.saver, "MPR.DLL": kit.mpr})
    env = {"WINEDLLOVERRIDES": "mscoree,mshtml=;mpr=n"}
    expect_exit(s.run(b"vellomire.scr /a 0", d / "vellomire.scr", extra_env=env), -1, "/a in NT mode")
    assert log_lines(s, d, "mpr.log") == [], "MPR.DLL was used in NT mode"
    owner_dir = s.spawn(s.helper("foreground"), ["%DIR%"], label="owner")
    owner = int(s.wait_file(owner_dir / "foreground.txt", 90, "the owner window")
                .decode().split()[0].split("=")[-1])
    try:
        with Win98(s, password=False):
            result = s.run(f"vellomire.scr /a {owner}".encode(), d / "vellomire.scr", extra_env=env)
    finally:
        s.signal(owner_dir, "quit")
    expect_exit(result, 0, "/a in Windows 95 family mode")
    lines = log_lines(s, d, "mpr.log")
    assert f"change provider=SCRSAVE owner={owner} reserved1=0 reserved2=0" in lines, lines
    assert lines[-1] == "detach freelibrary", f"MPR.DLL not freed: {lines}"


def case_win98_verifier_fault(s, kit):
    """A verifier that faults ends the saver through the guard, with the
    exception code as exit code, and no hang."""
    # No debugger: a crash is handed back to the program's own handlers.
    s.registry([(AEDEBUG, "Debugger", r"C:\no-such-debugger.exe", "REG_SZ"),
                (AEDEBUG, "Auto", "1", "REG_SZ")])
    s.write_control_ini(ini(Seconds=60, Paint=0))
    d = s.stage("fault", {"vellomire.scr": kit.saver, "PASSWORD.CPL": kit.verifier_fault})
    with Win98(s):
        launch, window = start_full_screen(s, d / "vellomire.scr")
        s.xdotool("key", "space")
        result = launch.wait(30)
    expect_exit(result, ACCESS_VIOLATION, "saver whose verifier faults")
    lines = log_lines(s, d, "verifier.log")
    assert f"verify hwnd={window.hwnd} fault" in lines, lines
    # The guard's way out is ExitProcess, which tells the loaded verifier
    # that the process ends; a process killed by the system's last-chance
    # handler ends without telling it.
    assert lines[-1] == "detach process-end", f"not ended through the guard: {lines}"
    s.wait_for_no_window(cls=SAVER_CLASS)


CASES = [case_win98_password, case_nt_password_not_loaded, case_win98_change_password,
         case_win98_verifier_fault]
