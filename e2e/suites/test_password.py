"""The password verification and change of the Windows 95 family, with test
doubles of PASSWORD.CPL and MPR.DLL (e2e/windows/doubles, built for the
saver's width): the verifier asked with the saver window and its quiet
interval, the password switch ignored on the NT family, the change through
the SCRSAVE provider, and a verifier that faults."""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "harness"))
import suite  # noqa: E402
import wine_env  # noqa: E402
from session import SAVER_CLASS, settings  # noqa: E402

DESKTOP = r"HKCU\Control Panel\Desktop"
ACCESS_VIOLATION = 0xC0000005
AEDEBUG = r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug"
OWN_MPR = {"WINEDLLOVERRIDES": "mscoree,mshtml=;mpr=n"}


class PasswordCase(suite.WineCase):

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.doubles = wine_env.build_dir(cls.wine.bits) / "e2e" / "windows"

    def setUp(self):
        super().setUp()
        self.wine.write_control_ini(settings(b"60", b"0"))

    def stage(self, **doubles):
        """A folder with the saver and doubles {name in the folder: double}."""
        files = {name: self.doubles / f"{double}.dll" for name, double in doubles.items()}
        return self.wine.stage("password", dict(files, **{"vellomire.scr": suite.saver_path()}))

    def log(self, folder, name):
        data = self.wine.read_file(folder / name)
        return [] if data is None else data.decode("latin-1").splitlines()

    def win98(self):
        """The Windows 95 family for the saver, until the case ends."""
        self.wine.set_windows_version("win98")
        self.addCleanup(self.wine.set_windows_version, None)

    def password_on(self):
        """The screen-saver password switch on, until the case ends."""
        self.wine.reg_add(DESKTOP, "ScreenSaveUsePassword", 1, "REG_DWORD")
        self.addCleanup(self.wine.reg_delete, DESKTOP, "ScreenSaveUsePassword")

    def assert_exit(self, result, expected):
        self.assertEqual(result.unsigned, expected, f"exit code {result}")


class Verifier(PasswordCase):

    def test_a_refusal_keeps_the_saver_and_the_next_answer_ends_it(self):
        d = self.stage(**{"PASSWORD.CPL": "verifier"})
        self.win98()
        self.password_on()
        run, window = self.wine.start_saver(d / "vellomire.scr")
        self.wine.xdotool("key", "space")
        self.wine.wait_for(lambda: any("call=1" in l for l in self.log(d, "verifier.log")), 15,
                           "the first question to the verifier", interval=0.2)
        self.assertTrue(self.wine.find_windows(cls=SAVER_CLASS, top_level=True),
                        "saver window gone after refusal")
        # A burst of keys 40 ms apart: those inside the quiet interval after
        # the refusal are refused without asking, a later one asks again.
        self.wine.xdotool("key", "--delay", "40", *["space"] * 15)
        self.assert_exit(run.press_until_ended("space"), 0)
        lines = self.log(d, "verifier.log")
        calls = [dict(f.split("=", 1) for f in l.split()[1:]) for l in lines if l.startswith("verify")]
        self.assertEqual([(c["call"], c["hwnd"], c["answer"]) for c in calls],
                         [("1", str(window.hwnd), "0"), ("2", str(window.hwnd), "1")], lines)
        # The verifier is asked again no sooner than 200 ms after its last answer.
        gap = (int(calls[1]["tick"]) - int(calls[0]["tick"])) & 0xFFFFFFFF
        self.assertGreaterEqual(gap, 200, lines)
        self.assertEqual(lines[0], "attach")
        print(f"    verifier asked twice, {gap} ms apart; SPI_GETSCREENSAVERRUNNING answered "
              f"{calls[0]['running']} while the saver ran")

    def test_the_nt_family_ignores_the_password_switch(self):
        d = self.stage(**{"PASSWORD.CPL": "verifier"})
        self.password_on()
        run, _ = self.wine.start_saver(d / "vellomire.scr")
        self.assert_exit(run.press_until_ended("space"), 0)
        self.assertEqual(self.log(d, "verifier.log"), [], "PASSWORD.CPL was loaded")

    def test_a_verifier_that_faults_ends_the_saver_through_the_guard(self):
        # No debugger: a crash is handed back to the program's own handlers.
        self.wine.registry([(AEDEBUG, "Debugger", r"C:\no-such-debugger.exe", "REG_SZ"),
                            (AEDEBUG, "Auto", "1", "REG_SZ")])
        d = self.stage(**{"PASSWORD.CPL": "verifier_fault"})
        self.win98()
        self.password_on()
        run, window = self.wine.start_saver(d / "vellomire.scr")
        self.wine.xdotool("key", "space")
        self.assert_exit(run.wait(30), ACCESS_VIOLATION)
        lines = self.log(d, "verifier.log")
        self.assertIn(f"verify hwnd={window.hwnd} fault", lines)
        # The guard's way out is ExitProcess, which tells the loaded verifier
        # that the process ends; a process killed by the system's last-chance
        # handler ends without telling it.
        self.assertEqual(lines[-1], "detach process-end", "not ended through the guard")
        self.wine.wait_for_no_window(cls=SAVER_CLASS)


class ChangePassword(PasswordCase):

    def test_the_change_asks_the_scrsave_provider_on_the_95_family_only(self):
        d = self.stage(**{"MPR.DLL": "mpr"})
        self.assert_exit(self.wine.run(b"vellomire.scr /a 0", d / "vellomire.scr", extra_env=OWN_MPR),
                         0xFFFFFFFF)
        self.assertEqual(self.log(d, "mpr.log"), [], "MPR.DLL was used on the NT family")
        owner_dir = self.wine.spawn(self.wine.helper("foreground"), ["%DIR%"], label="owner")
        self.addCleanup(self.wine.signal, owner_dir, "quit")
        owner = int(self.wine.wait_file(owner_dir / "foreground.txt", 15, "the owner window")
                    .decode().split()[0].split("=")[-1])
        self.win98()
        result = self.wine.run(f"vellomire.scr /a {owner}".encode(), d / "vellomire.scr",
                               extra_env=OWN_MPR)
        self.assert_exit(result, 0)
        lines = self.log(d, "mpr.log")
        self.assertIn(f"change provider=SCRSAVE owner={owner} reserved1=0 reserved2=0", lines)
        self.assertEqual(lines[-1], "detach freelibrary", "MPR.DLL not freed")


if __name__ == "__main__":
    suite.main()
