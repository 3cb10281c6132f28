"""Static checks of the two built savers' PE headers (no Wine needed):
machine and format, GUI subsystem, the 32-bit one's subsystem version 4.0
(the Windows 95 family and NT 4 refuse anything newer), the imported DLLs,
stripping, and no thread-local storage beyond what the C runtime brings.

The directories of the two builds come from VELLOMIRE_WIN32_DIR and
VELLOMIRE_WIN64_DIR."""

import os
import sys
import unittest
from pathlib import Path

import pefile

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "harness"))
from wine_env import build_dir  # noqa: E402

ALLOWED_IMPORTS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "msvcrt.dll"}
FORBIDDEN_IMPORTS = {"imm32.dll", "mpr.dll", "password.cpl"}
IMAGE_FILE_MACHINE_I386 = 0x14C
IMAGE_FILE_MACHINE_AMD64 = 0x8664
PE32, PE32_PLUS = 0x10B, 0x20B
IMAGE_SUBSYSTEM_WINDOWS_GUI = 2


def tls_callbacks(pe):
    """The TLS callback addresses and the TLS template's bytes of an image."""
    if not hasattr(pe, "DIRECTORY_ENTRY_TLS"):
        return [], b""
    tls = pe.DIRECTORY_ENTRY_TLS.struct
    base = pe.OPTIONAL_HEADER.ImageBase
    wide = pe.OPTIONAL_HEADER.Magic == PE32_PLUS
    callbacks = []
    if tls.AddressOfCallBacks:
        rva = tls.AddressOfCallBacks - base
        while True:
            value = pe.get_qword_at_rva(rva) if wide else pe.get_dword_at_rva(rva)
            if not value:
                break
            callbacks.append(value)
            rva += 8 if wide else 4
    template = b""
    if tls.EndAddressOfRawData > tls.StartAddressOfRawData:
        template = pe.get_data(tls.StartAddressOfRawData - base,
                               tls.EndAddressOfRawData - tls.StartAddressOfRawData)
    return callbacks, template


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
        # A trivial program from the same toolchain shows what the runtime brings.
        cls.baseline = build_dir(cls.bits) / "e2e" / "windows" / "cmdecho.exe"

    def test_machine_and_format(self):
        self.assertEqual(self.pe.FILE_HEADER.Machine, self.machine)
        self.assertEqual(self.pe.OPTIONAL_HEADER.Magic, self.magic)
        self.assertFalse(self.pe.FILE_HEADER.Characteristics & 0x2000, "image is a DLL")
        self.assertTrue(self.pe.FILE_HEADER.Characteristics & 0x0002, "image is not executable")

    def test_gui_subsystem(self):
        self.assertEqual(self.pe.OPTIONAL_HEADER.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI)

    def test_imports_only_the_system_dlls_it_may(self):
        imported = [entry.dll.decode("ascii") for entry in self.pe.DIRECTORY_ENTRY_IMPORT]
        lowered = {name.lower() for name in imported}
        self.assertTrue(lowered <= ALLOWED_IMPORTS,
                        f"imports {sorted(lowered - ALLOWED_IMPORTS)} beyond {sorted(ALLOWED_IMPORTS)}")
        self.assertFalse(lowered & FORBIDDEN_IMPORTS)
        self.assertIn("kernel32.dll", lowered)
        self.assertIn("user32.dll", lowered)
        self.assertFalse(hasattr(self.pe, "DIRECTORY_ENTRY_DELAY_IMPORT"), "has delay-load imports")

    def test_stripped(self):
        self.assertEqual(self.pe.FILE_HEADER.PointerToSymbolTable, 0)
        self.assertEqual(self.pe.FILE_HEADER.NumberOfSymbols, 0)
        names = [s.Name.rstrip(b"\0").decode("ascii", "replace") for s in self.pe.sections]
        self.assertFalse([n for n in names if n.startswith((".debug", "/"))],
                         f"debug sections left in: {names}")

    def test_no_thread_local_storage_of_its_own(self):
        callbacks, template = tls_callbacks(self.pe)
        self.assertEqual(template.strip(b"\0"), b"", "the program has initialised thread-local data")
        self.assertLessEqual(len(template), 8, "the program has thread-local variables")
        if self.baseline.exists():
            runtime_callbacks, _ = tls_callbacks(pefile.PE(str(self.baseline)))
            self.assertLessEqual(len(callbacks), len(runtime_callbacks),
                                 "TLS callbacks beyond the C runtime's own")
        else:
            self.fail(f"baseline program {self.baseline} is not built")


class Saver32(SaverImage, unittest.TestCase):
    bits = 32
    machine = IMAGE_FILE_MACHINE_I386
    magic = PE32

    def test_subsystem_version_4_0(self):
        self.assertEqual((self.pe.OPTIONAL_HEADER.MajorSubsystemVersion,
                          self.pe.OPTIONAL_HEADER.MinorSubsystemVersion), (4, 0))

    def test_32_bit_machine_flag(self):
        self.assertTrue(self.pe.FILE_HEADER.Characteristics & 0x0100)  # IMAGE_FILE_32BIT_MACHINE


class Saver64(SaverImage, unittest.TestCase):
    bits = 64
    machine = IMAGE_FILE_MACHINE_AMD64
    magic = PE32_PLUS


if __name__ == "__main__":
    unittest.main(verbosity=2)
