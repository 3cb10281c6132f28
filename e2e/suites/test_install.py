"""The installer from the release zip, run as right-click Install runs it:
the saver of the session's width in the system folder, the settings section
mapped to each user's registry key, so that the dialog's choice stays where
the Windows folder cannot be written, and the removal that Add/Remove
Programs runs. The host's 64-bit Wine takes the .NTamd64 sections and the
64-bit saver; 32-bit Wine in the i386 machine takes the .NT sections and the
32-bit saver; the .NTarm64 sections are tried alone on either, under the
Wine's own decoration."""

import os
import re
import subprocess
import sys
import tempfile
import zipfile
from pathlib import Path

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "harness"))
import suite  # noqa: E402
from dialog import ShowCase  # noqa: E402
from wine_env import REPO, WINE32  # noqa: E402

INF = "VELLOMIR.INF"
MAPPING = r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\IniFileMapping\control.ini"
ENTRY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vellomire"
USER_SETTINGS = r"HKCU\Control Panel\ScreenSaver.Vellomire"
INSTALLED = "C:\\windows\\system32\\Vellomire.scr"
OURS = ("ScreenSaver.Vellomire", "@USR:Control Panel\\ScreenSaver.Vellomire")
# One of the mappings that Windows keeps in the same key; the removal must
# delete our value only.
WINDOWS_OWN = ("Current", "#USR:Control Panel\\Current")
NOTHING = {"saver": None, "inf": None, "mapping": dict([WINDOWS_OWN]), "entry": None}
# The Add/Remove Programs entry as read back: a DWORD as an int, a string as a str.
ENTRY_VALUES = {"DisplayName": "Vellomire Screen Saver", "Publisher": "the Vellomire authors",
                "DisplayVersion": (REPO / "VERSION").read_text().strip(),
                "UninstallString": "RunDll32.exe setupapi.dll,InstallHinfSection DefaultUninstall "
                                   "132 C:\\windows\\inf\\" + INF, "NoModify": 1, "NoRepair": 1}
# The decoration of the sections that the session's Wine takes first, and its
# system folder for x86 programs (DIRID 16425: SysWOW64 on 64-bit Windows,
# System32 on 32-bit Windows).
OWN_DECORATION = {64: b".NTamd64", 32: b".NTx86"}
X86_SYSTEM = {64: "syswow64", 32: "system32"}


def release_files():
    """The release zip's entries, {name: bytes}, made from the savers of the
    build trees that the suite is given."""
    with tempfile.TemporaryDirectory() as out:
        subprocess.run([REPO / "tools" / "make-release.sh", "--no-build", out], check=True,
                       stdout=subprocess.DEVNULL)
        (path,) = Path(out).glob("vellomire-*.zip")
        with zipfile.ZipFile(path) as archive:
            return {name: archive.read(name) for name in archive.namelist()}


def with_sections(inf, rename):
    """The INF with each Default(Un)install section renamed to
    rename(decoration) or left out where that is None."""
    kept, keep = [], True
    for line in inf.split(b"\r\n"):
        section = re.fullmatch(rb"\[(Default(?:Un)?[Ii]nstall)(\.\w+)?\]", line)
        if section:
            decoration = rename(section.group(2) or b"")
            keep = decoration is not None
            line = b"[" + section.group(1) + (decoration or b"") + b"]"
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
        self.wine.reg_add(MAPPING, *WINDOWS_OWN)

    def tearDown(self):
        try:
            super().tearDown()     # ends what a failed case left running
        finally:
            # Whatever a failed case left installed, so that the next starts clean.
            self.wine.registry([(USER_SETTINGS, None, None, None), (ENTRY, None, None, None),
                                (MAPPING, None, None, None)])
            windows = self.wine.windows_dir
            for path in (self.wine.control_ini, windows / "system32" / "Vellomire.scr",
                         windows / X86_SYSTEM[64] / "Vellomire.scr", windows / "inf" / INF):
                self.wine.remove(path)

    def right_click_install(self, inf):
        """Unzips the release with `inf` into a folder and installs the INF
        as Explorer does. Wine's rundll32 ends with 0 whatever happens, so
        its exit status is not checked: what the install left is."""
        d = self.wine.stage("unzipped", dict(self.files, **{INF: inf}))
        self.wine.wine("rundll32", "setupapi.dll,InstallHinfSection", "DefaultInstall", "132",
                       self.wine.winpath(d / INF))

    def installed(self, system="system32"):
        windows = self.wine.windows_dir
        return {"saver": self.wine.read_file(windows / system / "Vellomire.scr"),
                "inf": self.wine.read_file(windows / "inf" / INF),
                "mapping": self.wine.registry_values(MAPPING),
                "entry": self.wine.registry_values(ENTRY)}

    def assert_installed(self, state, saver, inf):
        self.assertTrue(state["saver"] == self.files[saver], f"not {saver} in the system folder")
        self.assertTrue(state["inf"] == inf, "the INF's copy differs")
        self.assertEqual(state["mapping"], dict([WINDOWS_OWN, OURS]))
        self.assertEqual(state["entry"], ENTRY_VALUES)
        return state["entry"]["UninstallString"]

    def remove(self, command):
        """Runs the entry's UninstallString as Add/Remove Programs does; its
        exit status, like the install's, is 0 whatever happens."""
        self.wine.wine(*command.split(" "))

    def test_installed_settings_stay_for_the_user_and_removal_leaves_nothing(self):
        self.assertTrue(self.files[self.entry] == suite.saver_path().read_bytes(),
                        f"the zip's {self.entry} is not the saver that the suites test")
        self.right_click_install(self.files[INF])
        remove = self.assert_installed(self.installed(), self.entry, self.files[INF])

        self.saver = INSTALLED
        self.set_in_dialog("1", 0)
        self.assertEqual(self.wine.registry_values(USER_SETTINGS), {"Seconds": "1", "Paint": "0"})
        self.assert_dialog_shows("1", 0)
        run, _ = self.wine.start_saver(self.saver)
        self.assert_holds_shorter_than_the_default(run)
        self.assert_saver_ends(run, "space")

        self.remove(remove)
        self.assertEqual(self.installed(), NOTHING)
        # Each user's settings stay, for README.TXT tells how to remove them.
        self.assertEqual(self.wine.registry_values(USER_SETTINGS), {"Seconds": "1", "Paint": "0"})

    def test_arm64_sections_install_the_32_bit_saver_for_x86_programs(self):
        # Wine takes no .NTarm64 section: they stand in for its own here, and
        # every other decorated one is left out, so that nothing else installs.
        own = OWN_DECORATION[self.wine.bits]
        inf = with_sections(self.files[INF],
                            lambda d: own if d == b".NTarm64" else None if d else d)
        self.right_click_install(inf)
        system = X86_SYSTEM[self.wine.bits]
        remove = self.assert_installed(self.installed(system), "Vellomire.scr", inf)
        # The x86 saver run from there, by 32-bit Wine in the 64-bit prefix
        # where it is installed, keeps its dialog's settings through the
        # mapping, in each user's key.
        if self.wine.bits == 32 or os.access(WINE32, os.X_OK):
            self.saver = f"C:\\windows\\{system}\\Vellomire.scr"
            self.set_in_dialog("1", 0)
            self.assertEqual(self.wine.registry_values(USER_SETTINGS), {"Seconds": "1", "Paint": "0"})
        self.remove(remove)
        self.assertEqual(self.installed(system), NOTHING)

    def test_without_the_mapping_the_dialog_stores_nothing(self):
        # Windows 95, 98 and Me run the undecorated sections: they change nothing.
        self.right_click_install(with_sections(self.files[INF], lambda d: None if d else d))
        self.assertEqual(self.installed(), NOTHING)
        self.set_in_dialog("7", 0)
        self.assert_dialog_shows("20", 1)
        self.assertIsNone(self.wine.registry_values(USER_SETTINGS))


if __name__ == "__main__":
    suite.main()
