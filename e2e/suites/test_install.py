"""The installer from the release zip, run as right-click Install runs it:
the saver of the session's width in the system folder, the settings section
mapped to each user's registry key, so that the dialog's choice stays where
the Windows folder cannot be written, and the removal that Add/Remove
Programs runs. The host's 64-bit Wine takes the .NTamd64 sections and the
64-bit saver; 32-bit Wine in the i386 machine takes the .NT sections and the
32-bit saver."""

import os
import re
import subprocess
import sys
import tempfile
import zipfile
from pathlib import Path

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "harness"))
import suite  # noqa: E402
from test_dialog import ShowCase  # noqa: E402
from wine_env import REPO  # noqa: E402

INF = "VELLOMIR.INF"
MAPPING = r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\IniFileMapping\control.ini"
ENTRY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vellomire"
USER_SETTINGS = r"HKCU\Control Panel\ScreenSaver.Vellomire"
INSTALLED = "C:\\windows\\system32\\Vellomire.scr"
NOTHING = {"saver": None, "inf": None, "mapping": None, "entry": None}


def release_files():
    """The release zip's entries, {name: bytes}, made from the built savers."""
    with tempfile.TemporaryDirectory() as out:
        subprocess.run([REPO / "tools" / "make-release.sh", "--no-build", out], check=True,
                       stdout=subprocess.DEVNULL)
        (path,) = Path(out).glob("vellomire-*.zip")
        with zipfile.ZipFile(path) as archive:
            return {name: archive.read(name) for name in archive.namelist()}


def undecorated(inf):
    """The INF without the sections that only the NT family's engine picks:
    what Windows 95, 98 and Me run."""
    kept, keep = [], True
    for line in inf.split(b"\r\n"):
        if line.startswith(b"["):
            keep = not re.match(rb"\[Default(Un)?install\.", line, re.I)
        if keep:
            kept.append(line)
    return b"\r\n".join(kept)


class Installer(ShowCase):

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.files = release_files()
        cls.entry = "Vellomire64.scr" if cls.wine.bits == 64 else "Vellomire.scr"

    def setUp(self):
        super().setUp()
        # Only administrators may write the Windows folder. The tests run as
        # root, which writes anywhere: a folder named control.ini stands in
        # for the file that a user cannot write.
        self.wine.make_dir(self.wine.control_ini)

    def tearDown(self):
        # Whatever a failed case left installed, so that the next starts clean.
        self.wine.registry([(USER_SETTINGS, None, None, None), (ENTRY, None, None, None),
                            (MAPPING, "ScreenSaver.Vellomire", None, None)])
        for path in (self.wine.control_ini, self.wine.windows_dir / "system32" / "Vellomire.scr",
                     self.wine.windows_dir / "inf" / INF):
            self.wine.remove(path)
        super().tearDown()

    def right_click_install(self, files):
        """Unzips `files` into a folder and installs its INF as Explorer does."""
        d = self.wine.stage("unzipped", files)
        self.wine.wine("rundll32", "setupapi.dll,InstallHinfSection", "DefaultInstall", "132",
                       self.wine.winpath(d / INF))

    def installed(self):
        windows = self.wine.windows_dir
        return {"saver": self.wine.read_file(windows / "system32" / "Vellomire.scr"),
                "inf": self.wine.read_file(windows / "inf" / INF),
                "mapping": (self.wine.registry_values(MAPPING) or {}).get("ScreenSaver.Vellomire"),
                "entry": self.wine.registry_values(ENTRY)}

    def test_installed_settings_stay_for_the_user_and_removal_leaves_nothing(self):
        self.right_click_install(self.files)
        state = self.installed()
        self.assertTrue(state["saver"] == self.files[self.entry], f"not {self.entry} in system32")
        self.assertTrue(state["inf"] == self.files[INF], "the INF's copy differs")
        self.assertEqual(state["mapping"], "@USR:Control Panel\\ScreenSaver.Vellomire")
        self.assertEqual(state["entry"]["DisplayName"], "Vellomire Screen Saver")
        remove = state["entry"]["UninstallString"]
        self.assertEqual(remove, "RunDll32.exe setupapi.dll,InstallHinfSection DefaultUninstall "
                                 "132 C:\\windows\\inf\\" + INF)

        self.saver = INSTALLED
        self.set_in_dialog("1", 0)
        self.assertEqual(self.wine.registry_values(USER_SETTINGS), {"Seconds": "1", "Paint": "0"})
        self.assert_dialog_shows("1", 0)
        run = self.start_saver()
        self.assert_picture_changes_sooner_than_the_default(run)
        self.end_saver(run)

        self.wine.wine(*remove.split(" "))     # as Add/Remove Programs runs it
        self.assertEqual(self.installed(), NOTHING)
        # Each user's settings stay, for README.TXT tells how to remove them.
        self.assertEqual(self.wine.registry_values(USER_SETTINGS), {"Seconds": "1", "Paint": "0"})

    def test_without_the_mapping_the_dialog_stores_nothing(self):
        # Windows 95, 98 and Me run the undecorated sections: they change nothing.
        self.right_click_install(dict(self.files, **{INF: undecorated(self.files[INF])}))
        self.assertEqual(self.installed(), NOTHING)
        self.set_in_dialog("7", 0)
        self.assert_dialog_shows("20", 1)
        self.assertIsNone(self.wine.registry_values(USER_SETTINGS))


if __name__ == "__main__":
    suite.main()
