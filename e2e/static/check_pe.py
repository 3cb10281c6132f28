"""Static checks of the two built savers (no Wine needed): machine and
format, GUI subsystem, the 32-bit one's subsystem version 4.0 (the Windows 95
family and NT 4 refuse anything newer), stripping with no link time and no
debug directory (so that a rebuild gives the same bytes), no thread-local
storage, and what lets the 32-bit file start on every Windows it is for: it
imports only functions that Windows 95 and NT 4.0 have, from the four system
DLLs that every release ships, and its code runs on an 80386.

The directories of the two builds come from VELLOMIRE_WIN32_DIR and
VELLOMIRE_WIN64_DIR."""

import os
import re
import subprocess
import sys
import unittest

import pefile

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "harness"))
from wine_env import build_dir  # noqa: E402

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll"}
IMAGE_FILE_MACHINE_I386 = 0x14C
IMAGE_FILE_MACHINE_AMD64 = 0x8664
PE32, PE32_PLUS = 0x10B, 0x20B
IMAGE_SUBSYSTEM_WINDOWS_GUI = 2
IMAGE_DIRECTORY_ENTRY_DEBUG = 6

# Where each imported function was found on both Windows 95 (from its first
# release) and Windows NT 4.0. Windows 95 exports many NT-only functions as
# stubs that fail, so a function is listed only for what the saver calls.
WIN95_KERNEL = ("Windows 95 KERNEL32.DLL export table (Wine 1998, relay32 list of kernel32, "
                "section 'Functions exported by the Win95 kernel32.dll') and NT 4.0's")
WIN32_SDK = "Win32 SDK Quick Info: Windows NT 3.1 and later, Windows 95"
WIN95_AND_NT4 = {
    "kernel32.dll": dict.fromkeys(
        "ExitProcess FreeLibrary GetCommandLineA GetModuleHandleA GetPrivateProfileIntA "
        "GetProcAddress GetSystemTimeAsFileTime GetTickCount GetVersionExA LoadLibraryA "
        "RtlUnwind Sleep UnhandledExceptionFilter WritePrivateProfileStringA".split(),
        WIN95_KERNEL),
    "user32.dll": dict.fromkeys(
        "CharNextA CreateWindowExA DefWindowProcA DialogBoxParamA DispatchMessageA EndDialog "
        "FillRect FindWindowA GetClientRect GetCursorPos GetDC GetDlgItemTextA "
        "GetForegroundWindow GetMessageA GetParent GetSystemMetrics IsDlgButtonChecked "
        "IsWindow KillTimer LoadBitmapA LoadIconA LoadStringA PeekMessageA PostMessageA "
        "PostQuitMessage RegisterClassA ReleaseDC SendDlgItemMessageA SendMessageA SetCursor "
        "SetDlgItemTextA SetForegroundWindow SetTimer SystemParametersInfoA TranslateMessage "
        "wsprintfA".split(), WIN32_SDK),
    "gdi32.dll": dict.fromkeys(
        "BitBlt CreateCompatibleDC DeleteDC DeleteObject GetObjectA GetStockObject "
        "SelectObject".split(), WIN32_SDK),
    "advapi32.dll": dict.fromkeys("RegCloseKey RegOpenKeyA RegQueryValueExA".split(), WIN32_SDK),
}

# Instructions that came after the 80386: 486 (bswap, cmpxchg, xadd, invd,
# wbinvd, invlpg), Pentium (cmpxchg8b, cpuid, rdtsc, rdmsr, wrmsr, rsm),
# Pentium Pro (cmov, fcmov, fcomi, fucomi, rdpmc, ud2, sysenter, sysexit, the
# multi-byte nop 0F 1F that objdump shows as nopw/nopl), MMX and SSE.
LATER_THAN_386 = re.compile(
    r"^(bswap|cmpxchg|xadd|invd|wbinvd|invlpg|cpuid|rdtsc|rdmsr|wrmsr|rsm|rdpmc|ud2|"
    r"sysenter|sysexit|cmov|fcmov|f(u)?comip?|nopw|nopl|emms|prefetch|[slm]fence|clflush|"
    r"movnti|ldmxcsr|stmxcsr|fxsave|fxrstor)")
MEDIA_REGISTER = re.compile(r"%x?mm\d")


def imports(pe):
    """{dll name in lower case: [function names]} of an image."""
    return {entry.dll.decode("ascii").lower():
            [i.name.decode("ascii") if i.name else f"#{i.ordinal}" for i in entry.imports]
            for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])}


def later_instructions(path):
    """Lines of the disassembled code that need more than an 80386."""
    listing = subprocess.run(["i686-w64-mingw32-objdump", "-d", "--no-show-raw-insn", str(path)],
                             capture_output=True, text=True, check=True).stdout
    found = []
    for line in listing.splitlines():
        fields = line.split("\t")
        if len(fields) < 2 or not re.match(r"\s*[0-9a-f]+:$", fields[0]):
            continue
        instruction = fields[1].strip()
        if LATER_THAN_386.match(instruction) or MEDIA_REGISTER.search(instruction):
            found.append(line.strip())
    return found


class SaverImage:
    """Checks shared by both builds; subclasses name the build."""

    bits = None
    machine = None
    magic = None

    @classmethod
    def setUpClass(cls):
        cls.path = build_dir(cls.bits) / "vellomire.scr"
        if not cls.path.exists():
            raise AssertionError(f"the {cls.bits}-bit saver is not built: {cls.path} is missing")
        cls.pe = pefile.PE(str(cls.path))

    def test_machine_and_format(self):
        self.assertEqual(self.pe.FILE_HEADER.Machine, self.machine)
        self.assertEqual(self.pe.OPTIONAL_HEADER.Magic, self.magic)
        self.assertFalse(self.pe.FILE_HEADER.Characteristics & 0x2000, "image is a DLL")
        self.assertTrue(self.pe.FILE_HEADER.Characteristics & 0x0002, "image is not executable")

    def test_gui_subsystem(self):
        self.assertEqual(self.pe.OPTIONAL_HEADER.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI)

    def test_imports_exactly_the_four_system_dlls(self):
        self.assertEqual(set(imports(self.pe)), SYSTEM_DLLS)
        self.assertFalse(hasattr(self.pe, "DIRECTORY_ENTRY_DELAY_IMPORT"), "has delay-load imports")

    def test_stripped(self):
        self.assertEqual(self.pe.FILE_HEADER.PointerToSymbolTable, 0)
        self.assertEqual(self.pe.FILE_HEADER.NumberOfSymbols, 0)
        self.assertEqual(self.pe.FILE_HEADER.TimeDateStamp, 0, "the image carries a link time")
        debug = self.pe.OPTIONAL_HEADER.DATA_DIRECTORY[IMAGE_DIRECTORY_ENTRY_DEBUG]
        self.assertEqual((debug.VirtualAddress, debug.Size), (0, 0),
                         "the image has a debug directory")
        names = [s.Name.rstrip(b"\0").decode("ascii", "replace") for s in self.pe.sections]
        self.assertFalse([n for n in names if n.startswith((".debug", "/", ".CRT", ".tls"))],
                         f"debug or runtime sections left in: {names}")

    def test_no_thread_local_storage(self):
        self.assertFalse(hasattr(self.pe, "DIRECTORY_ENTRY_TLS"), "the image has a TLS directory")


class Saver32(SaverImage, unittest.TestCase):
    bits = 32
    machine = IMAGE_FILE_MACHINE_I386
    magic = PE32

    def test_subsystem_version_4_0(self):
        self.assertEqual((self.pe.OPTIONAL_HEADER.MajorSubsystemVersion,
                          self.pe.OPTIONAL_HEADER.MinorSubsystemVersion), (4, 0))

    def test_32_bit_machine_flag(self):
        self.assertTrue(self.pe.FILE_HEADER.Characteristics & 0x0100)  # IMAGE_FILE_32BIT_MACHINE

    def test_imports_only_functions_of_windows_95_and_nt_4(self):
        unknown = [f"{dll}!{name}" for dll, names in imports(self.pe).items() for name in names
                   if name not in WIN95_AND_NT4.get(dll, {})]
        self.assertEqual(unknown, [], "imports not known on Windows 95 and NT 4.0: add each to "
                         "the table with where it was checked")

    def test_code_runs_on_an_80386(self):
        self.assertEqual(later_instructions(self.path), [])


class Saver64(SaverImage, unittest.TestCase):
    bits = 64
    machine = IMAGE_FILE_MACHINE_AMD64
    magic = PE32_PLUS


if __name__ == "__main__":
    unittest.main(verbosity=2)
