#!/usr/bin/python3
"""The picture converter: the bytes of the bitmaps it writes, its reduction to
the 3-3-2 table, and its refusal of sources it cannot use.

Run: test_picture_converter.py PATH-OF-vellomire-picture
"""
import os
import struct
import subprocess
import sys
import tempfile
import unittest

TOOL = None
HEADER_BYTES = 14 + 40 + 1024


def write_ppm(path, width, height, pixel):
    """An 8-bit binary PPM whose pixel (x, y) is pixel(x, y) -> (r, g, b)."""
    rows = bytearray()
    for y in range(height):
        for x in range(width):
            rows += bytes(pixel(x, y))
    with open(path, "wb") as out:
        out.write(b"P6\n%d %d\n255\n" % (width, height) + rows)


def srgb_to_linear(v):
    v /= 255
    return v / 12.92 if v <= 0.04045 else ((v + 0.055) / 1.055) ** 2.4


def level8(k):
    return int(k * 255 / 7 + 0.5)


def table_colour(index):
    return level8(index >> 5), level8((index >> 2) & 7), (index & 3) * 85


class ConverterTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)

    def path(self, name):
        return os.path.join(self.dir.name, name)

    def run_tool(self, *args):
        return subprocess.run([TOOL, *args], capture_output=True, text=True, timeout=120)

    def convert(self, source, height, *options, target="out.bmp"):
        result = self.run_tool("convert", "--height", str(height), *options, source, self.path(target))
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(self.path(target), "rb") as bmp:
            return bmp.read()

    def indices(self, data, height):
        """Rows top-down of 450 indices, from a file whose rows are bottom-up."""
        rows = [data[HEADER_BYTES + 452 * r:HEADER_BYTES + 452 * r + 450] for r in range(height)]
        return rows[::-1]

    # --- the bytes written ---------------------------------------------------

    def test_headers_table_and_padding(self):
        source = self.path("grey.ppm")
        write_ppm(source, 600, 402, lambda x, y: (x % 256, y % 256, (x + y) % 256))
        data = self.convert(source, 301)
        self.assertEqual(len(data), HEADER_BYTES + 452 * 301)
        self.assertEqual(struct.unpack_from("<2sIII", data, 0), (b"BM", len(data), 0, HEADER_BYTES))
        self.assertEqual(struct.unpack_from("<IiiHHIIiiII", data, 14),
                         (40, 450, 301, 1, 8, 0, 452 * 301, 0, 0, 256, 0))
        for i in range(256):
            b, g, r, reserved = data[54 + 4 * i:58 + 4 * i]
            self.assertEqual((r, g, b, reserved), table_colour(i) + (0,), "entry %d" % i)
        self.assertEqual(
            [table_colour(i)[0] for i in range(0, 256, 32)], [0, 36, 73, 109, 146, 182, 219, 255])
        for row in range(301):
            at = HEADER_BYTES + 452 * row + 450
            self.assertEqual(data[at:at + 2], b"\0\0", "row %d" % row)

    def test_colours_used_field_follows_the_option(self):
        source = self.path("flat.ppm")
        write_ppm(source, 450, 270, lambda x, y: (0, 0, 0))
        self.assertEqual(struct.unpack_from("<I", self.convert(source, 270, "--clr-used", "0"), 46)[0], 0)
        self.assertEqual(struct.unpack_from("<I", self.convert(source, 270, "--clr-used", "256"), 46)[0], 256)

    def test_rows_are_stored_bottom_up(self):
        source = self.path("halves.ppm")
        # White above, black below: the first stored row is the bottom one.
        write_ppm(source, 450, 300, lambda x, y: (255, 255, 255) if y < 150 else (0, 0, 0))
        data = self.convert(source, 300)
        self.assertEqual(data[HEADER_BYTES:HEADER_BYTES + 450], bytes(450))
        last = HEADER_BYTES + 452 * 299
        self.assertEqual(data[last:last + 450], b"\xff" * 450)

    def test_output_is_deterministic(self):
        source = self.path("ramp.ppm")
        write_ppm(source, 500, 340, lambda x, y: (x // 2, y * 3 // 4, 255 - x // 2))
        first = self.convert(source, 301, target="a.bmp")
        self.assertEqual(first, self.convert(source, 301, target="b.bmp"))

    # --- the reduction -------------------------------------------------------

    def test_table_colours_are_kept_exactly(self):
        for index in (0, 0x1F, 0xE0, 0x1C, 0x03, 0x6D, 0xB6, 0xFF):
            with self.subTest(index=index):
                source = self.path("c%d.ppm" % index)
                colour = table_colour(index)
                write_ppm(source, 450, 295, lambda x, y: colour)
                rows = self.indices(self.convert(source, 295), 295)
                self.assertEqual(set(b"".join(rows)), {index})

    def test_flat_colours_keep_their_brightness(self):
        # A colour between the table's levels becomes a mixture whose average
        # light matches the source's, channel by channel.
        for colour in ((128, 128, 128), (200, 90, 40), (30, 60, 120), (250, 240, 10)):
            with self.subTest(colour=colour):
                source = self.path("m.ppm")
                write_ppm(source, 450, 301, lambda x, y: colour)
                rows = self.indices(self.convert(source, 301), 301)
                pixels = b"".join(rows)
                used = set(pixels)
                self.assertGreater(len(used), 1)  # dithered, not flattened
                for channel in range(3):
                    mean = sum(srgb_to_linear(table_colour(i)[channel]) for i in pixels) / len(pixels)
                    self.assertAlmostEqual(mean, srgb_to_linear(colour[channel]), delta=0.004)

    def test_measure_tells_a_close_picture_from_a_far_one(self):
        source = self.path("ramp.ppm")
        write_ppm(source, 450, 301, lambda x, y: (x * 255 // 449, y * 255 // 300, 128))
        scaled = self.path("scaled.ppm")
        result = self.run_tool("convert", "--height", "301", "--scaled", scaled, source, self.path("o.bmp"))
        self.assertEqual(result.returncode, 0, result.stderr)
        same = self.run_tool("measure", scaled, scaled)
        self.assertEqual((same.returncode, same.stdout.strip()), (0, "0.000"))
        ours = float(self.run_tool("measure", scaled, self.path("o.bmp")).stdout)
        self.assertLess(ours, 2.0)
        black = self.path("black.ppm")
        write_ppm(black, 450, 301, lambda x, y: (0, 0, 0))
        self.assertGreater(float(self.run_tool("measure", scaled, black).stdout), 20.0)

    # --- refusals: nonzero exit, a message, the target untouched -------------

    def assert_refused(self, source, height, *options, message):
        target = self.path("kept.bmp")
        with open(target, "wb") as old:
            old.write(b"previous contents")
        result = self.run_tool("convert", "--height", str(height), *options, source, target)
        self.assertNotEqual(result.returncode, 0)
        self.assertIn(message, result.stderr)
        with open(target, "rb") as kept:
            self.assertEqual(kept.read(), b"previous contents")
        self.assertEqual(sorted(os.listdir(self.dir.name)),
                         sorted(n for n in os.listdir(self.dir.name) if ".part" not in n))

    def test_refuses_a_missing_source(self):
        self.assert_refused(self.path("nothing-here.jpg"), 301, message="cannot read the picture")

    def test_refuses_a_source_that_is_not_a_picture(self):
        source = self.path("text.png")
        with open(source, "w") as out:
            out.write("this is not a picture\n")
        self.assert_refused(source, 301, message="cannot read the picture")

    def test_refuses_a_source_too_small(self):
        source = self.path("small.ppm")
        write_ppm(source, 420, 400, lambda x, y: (10, 20, 30))  # 450 / 420 is over 5 % larger
        self.assert_refused(source, 301, message="too small")

    def test_accepts_a_slight_enlargement(self):
        source = self.path("nearly.ppm")
        write_ppm(source, 430, 288, lambda x, y: (10, 20, 30))  # 450 / 430 is under 5 % larger
        self.assertEqual(len(self.convert(source, 301)), HEADER_BYTES + 452 * 301)

    def test_refuses_a_crop_box_outside_the_source(self):
        source = self.path("big.ppm")
        write_ppm(source, 600, 400, lambda x, y: (10, 20, 30))
        self.assert_refused(source, 301, "--crop", "200,0,500", message="leaves the source")

    def test_refuses_bad_arguments(self):
        source = self.path("big.ppm")
        write_ppm(source, 600, 400, lambda x, y: (10, 20, 30))
        self.assert_refused(source, 0, message="usage")
        self.assert_refused(source, 301, "--clr-used", "16", message="usage")


if __name__ == "__main__":
    TOOL = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
