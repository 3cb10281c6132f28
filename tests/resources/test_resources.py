#!/usr/bin/python3
"""Reads the resources back out of the built saver files and checks them
against what the program and the system expect: the eleven pictures, the
string table and the configuration dialog, all in US English, and nothing else.

Run: test_resources.py --scr WIN32.scr --scr WIN64.scr --resources DIR --pictures LIST
"""
import argparse
import hashlib
import struct
import sys
import unittest

import pefile

RT_BITMAP, RT_ICON, RT_DIALOG, RT_STRING, RT_GROUP_ICON, RT_VERSION = 2, 3, 5, 6, 14, 16
LANG_EN_US = 0x0409

PICTURE_HEIGHTS = {
    "MAP1": 301, "MAP2": 270, "MAP3": 301, "MAP4": 301, "MAP5": 301, "MAP6": 305,
    "MAP7": 305, "MAP8": 295, "MAP9": 301, "MAP10": 301, "MAP11": 301,
}

STRINGS = {
    1001: "control.ini",
    1002: "Vellomire Screen Saver",
    1007: "ScreenSaver.Vellomire",
}

# Dialog 2003: WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT.
DIALOG_STYLE = 0x90C800C0
# Every control carries WS_CHILD | WS_VISIBLE (0x50000000) besides these.
# (class, id, text or None when the wording is ours, style, x, y, cx, cy)
CONTROLS = [
    ("BUTTON", 1, "OK", 0x50030001, 5, 41, 67, 16),          # BS_DEFPUSHBUTTON|WS_GROUP|WS_TABSTOP
    ("BUTTON", 2, "Cancel", 0x50010000, 5, 62, 67, 16),      # BS_PUSHBUTTON|WS_TABSTOP
    ("STATIC", 0xFFFF, None, 0x50020001, 81, 73, 105, 8),   # revision: SS_CENTER|WS_GROUP
    ("STATIC", 0xFFFF, "Change picture every", 0x50020000, 5, 6, 68, 8),  # SS_LEFT|WS_GROUP
    # ES_LEFT|ES_AUTOHSCROLL|ES_NUMBER|WS_BORDER|WS_TABSTOP
    ("EDIT", 1008, "", 0x50812080, 75, 5, 24, 12),
    ("STATIC", 0xFFFF, "seconds", 0x50020000, 102, 6, 27, 8),  # SS_LEFT|WS_GROUP
    # photo credit: SS_CENTER|SS_SUNKEN|WS_BORDER|WS_GROUP
    ("STATIC", 0xFFFF, None, 0x50821001, 80, 33, 106, 36),
    ("BUTTON", 1009, "Slowly paint pictures", 0x50010003, 5, 20, 80, 10),  # BS_AUTOCHECKBOX|WS_TABSTOP
]
PREDEFINED_CLASSES = {0x80: "BUTTON", 0x81: "EDIT", 0x82: "STATIC"}


def palette_entry(i):
    """The uniform 3-3-2 table: red and green on 8 rounded levels, blue on 4."""
    def level8(k):
        return int(k * 255 / 7 + 0.5)
    return level8(i >> 5), level8((i >> 2) & 7), (i & 3) * 85


class Reader:
    """Little-endian reader over a resource's bytes."""

    def __init__(self, data):
        self.data, self.at = data, 0

    def take(self, fmt):
        values = struct.unpack_from("<" + fmt, self.data, self.at)
        self.at += struct.calcsize("<" + fmt)
        return values if len(values) > 1 else values[0]

    def align(self, n):
        self.at = (self.at + n - 1) // n * n

    def sz_or_ordinal(self):
        """A zero-terminated UTF-16 string, or 0xFFFF followed by an ordinal."""
        first = self.take("H")
        if first == 0xFFFF:
            return self.take("H")
        chars = []
        while first != 0:
            chars.append(first)
            first = self.take("H")
        return struct.pack("<%dH" % len(chars), *chars).decode("utf-16-le")


def parse_dialog(data):
    """A classic DLGTEMPLATE with DS_SETFONT and its items: (dialog fields,
    list of control fields, bytes left over after the last item)."""
    r = Reader(data)
    style, ex_style, count, x, y, cx, cy = r.take("IIHhhhh")
    dialog = {"style": style, "ex_style": ex_style, "count": count, "rect": (x, y, cx, cy),
              "menu": r.sz_or_ordinal(), "class": r.sz_or_ordinal(),
              "caption": r.sz_or_ordinal(), "point_size": r.take("H"),
              "typeface": r.sz_or_ordinal()}
    controls = []
    for _ in range(count):
        r.align(4)
        style, ex_style, x, y, w, h, item_id = r.take("IIhhhhH")
        item_class = r.sz_or_ordinal()
        item_class = PREDEFINED_CLASSES.get(item_class, item_class)
        controls.append({"style": style, "ex_style": ex_style, "rect": (x, y, w, h),
                         "id": item_id, "class": str(item_class).upper(),
                         "text": r.sz_or_ordinal(), "extra": r.take("H")})
    return dialog, controls, len(data) - r.at


class SaverResources:
    def __init__(self, path):
        self.path = path
        self.pe = pefile.PE(path, fast_load=True)
        self.pe.parse_data_directories(
            directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
        self.types = {}
        directory = getattr(self.pe, "DIRECTORY_ENTRY_RESOURCE", None)
        for rtype in directory.entries if directory else []:
            names = {}
            for entry in rtype.directory.entries:
                key = str(entry.name) if entry.name is not None else entry.id
                names[key] = {lang.id: self._bytes(lang.data.struct)
                              for lang in entry.directory.entries}
            self.types[rtype.id if rtype.name is None else str(rtype.name)] = names

    def _bytes(self, data_entry):
        return self.pe.get_data(data_entry.OffsetToData, data_entry.Size)

    def digests(self):
        """type -> name -> language -> SHA-256 of the data, to compare files."""
        return {t: {n: {lang: hashlib.sha256(d).hexdigest() for lang, d in langs.items()}
                    for n, langs in names.items()} for t, names in self.types.items()}

    def only_language(self, rtype, name):
        langs = self.types[rtype][name]
        assert list(langs) == [LANG_EN_US], "%r %r languages %r" % (rtype, name, list(langs))
        return langs[LANG_EN_US]


class ResourceChecks:
    """The checks of one saver file; main() makes a test case of it per file."""
    scr_path = None
    other_path = None  # the other build's file, whose resources must be the same
    resources_dir = None
    authors = []

    @classmethod
    def setUpClass(cls):
        cls.scr = SaverResources(cls.scr_path)

    def test_resource_types_are_bitmaps_dialog_and_strings_only(self):
        f = self.scr
        self.assertEqual(sorted(f.types, key=str), [RT_BITMAP, RT_DIALOG, RT_STRING])
        for absent in (RT_ICON, RT_GROUP_ICON, RT_VERSION):
            self.assertNotIn(absent, f.types)

    def test_every_resource_is_us_english_only(self):
        f = self.scr
        for rtype, names in f.types.items():
            for name, langs in names.items():
                self.assertEqual(list(langs), [LANG_EN_US], "type %r name %r" % (rtype, name))

    def test_exactly_eleven_bitmaps_by_name(self):
        f = self.scr
        self.assertEqual(sorted(f.types[RT_BITMAP]), sorted(PICTURE_HEIGHTS))

    def test_bitmap_headers_table_and_rows(self):
        f = self.scr
        clr_used_seen = set()
        for name, height in PICTURE_HEIGHTS.items():
            with self.subTest(bitmap=name):
                data = f.only_language(RT_BITMAP, name)
                (size, width, h, planes, bits, compression, size_image, xppm, yppm,
                 clr_used, clr_important) = struct.unpack_from("<IiiHHIIiiII", data, 0)
                self.assertEqual((size, width, h, planes, bits, compression),
                                 (40, 450, height, 1, 8, 0))
                self.assertEqual(size_image, 452 * height)
                self.assertEqual((xppm, yppm, clr_important), (0, 0, 0))
                self.assertIn(clr_used, (0, 256))
                clr_used_seen.add(clr_used)
                self.assertEqual(len(data), 40 + 256 * 4 + 452 * height)
                for i in range(256):
                    b, g, r, reserved = data[40 + 4 * i:44 + 4 * i]
                    self.assertEqual((r, g, b, reserved), palette_entry(i) + (0,), "entry %d" % i)
                bits_at = 40 + 1024
                for row in range(height):
                    filler = data[bits_at + 452 * row + 450:bits_at + 452 * (row + 1)]
                    self.assertEqual(filler, b"\0\0", "row %d filler" % row)
                # A photograph, not a blank or a flat fill: dozens of table entries in use.
                self.assertGreater(len(set(data[bits_at:])), 32)
        self.assertEqual(clr_used_seen, {0, 256})

    def test_bitmaps_are_the_committed_files(self):
        f = self.scr
        for name in PICTURE_HEIGHTS:
            with self.subTest(bitmap=name):
                with open("%s/%s.bmp" % (self.resources_dir, name.lower()), "rb") as bmp:
                    on_disk = bmp.read()
                self.assertEqual(on_disk[:2], b"BM")
                self.assertEqual(struct.unpack_from("<I", on_disk, 2)[0], len(on_disk))
                self.assertEqual(struct.unpack_from("<I", on_disk, 10)[0], 14 + 40 + 1024)
                self.assertEqual(f.only_language(RT_BITMAP, name), on_disk[14:])

    def test_string_table_byte_for_byte(self):
        f = self.scr
        # Strings 992..1007 share block 63; it is the only block.
        self.assertEqual(list(f.types[RT_STRING]), [63])
        data = f.only_language(RT_STRING, 63)
        r = Reader(data)
        for string_id in range(992, 1008):
            length = r.take("H")
            raw = data[r.at:r.at + 2 * length]
            r.at += 2 * length
            expected = STRINGS.get(string_id, "").encode("utf-16-le")
            self.assertEqual(raw, expected, "string %d" % string_id)
        self.assertEqual(r.at, len(data))

    def test_dialog_template_field_by_field(self):
        f = self.scr
        self.assertEqual(list(f.types[RT_DIALOG]), [2003])
        dialog, controls, unread = parse_dialog(f.only_language(RT_DIALOG, 2003))
        self.assertEqual(unread, 0)
        self.assertEqual("%08X" % dialog["style"], "%08X" % DIALOG_STYLE)
        self.assertEqual(
            {k: v for k, v in dialog.items() if k != "style"},
            {"ex_style": 0, "count": 8, "rect": (34, 32, 191, 86), "menu": "", "class": "",
             "caption": "Vellomire", "point_size": 10, "typeface": "Times New Roman"})
        self.assertEqual(len(controls), len(CONTROLS))
        for order, (control, expected) in enumerate(zip(controls, CONTROLS), 1):
            cls, cid, text, style, x, y, w, h = expected
            with self.subTest(control=order):
                self.assertEqual("%08X" % control["style"], "%08X" % style)
                self.assertEqual(
                    (control["class"], control["id"], control["rect"], control["ex_style"],
                     control["extra"]),
                    (cls, cid, (x, y, w, h), 0, 0))
                self.assertIsInstance(control["text"], str)
                if text is not None:
                    self.assertEqual(control["text"], text)

        revision, credit = controls[2]["text"], controls[6]["text"]
        self.assertIn("1.1", revision)
        self.assertTrue(revision.isascii() and revision.isprintable())
        # The credit names every photographer (by the last word of the name).
        for author in self.authors:
            self.assertIn(author.split()[-1].strip('"'), credit)

    def test_both_builds_carry_the_same_resources(self):
        self.assertEqual(self.scr.digests(), SaverResources(self.other_path).digests())


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--scr", action="append", required=True)
    parser.add_argument("--resources", required=True)
    parser.add_argument("--pictures", required=True, help="the converter's list of pictures")
    args = parser.parse_args()
    with open(args.pictures, encoding="utf-8") as lines:
        authors = sorted({line.split("|")[6] for line in lines
                          if line.strip() and not line.startswith("#")})
    suite = unittest.TestSuite()
    for n, path in enumerate(args.scr):
        case = type("Resources_%s" % path.replace("/", "_").replace(".", "_"),
                    (ResourceChecks, unittest.TestCase),
                    {"scr_path": path, "other_path": args.scr[(n + 1) % len(args.scr)],
                     "resources_dir": args.resources, "authors": authors})
        suite.addTests(unittest.defaultTestLoader.loadTestsFromTestCase(case))
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    sys.exit(0 if result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
