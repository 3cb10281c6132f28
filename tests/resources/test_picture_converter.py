#!/usr/bin/python3
"""The picture converter: the bytes of the bitmaps it writes, its reduction to
the 3-3-2 table, its measure of closeness, and its refusal of sources it
cannot use.

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


def luminance(rgb):
    r, g, b = (srgb_to_linear(v) for v in rgb)
    return 0.2126729 * r + 0.7151522 * g + 0.0721750 * b


def cielab(rgb):
    """CIELAB of an 8-bit sRGB colour against the D65 white."""
    r, g, b = (srgb_to_linear(v) for v in rgb)
    xyz = (0.4124564 * r + 0.3575761 * g + 0.1804375 * b, luminance(rgb),
           0.0193339 * r + 0.1191920 * g + 0.9503041 * b)
    fx, fy, fz = (t ** (1 / 3) if t > 216 / 24389 else (24389 / 27 * t + 16) / 116
                  for t in (xyz[0] / 0.95047, xyz[1], xyz[2] / 1.08883))
    return 116 * fy - 16, 500 * (fx - fy), 200 * (fy - fz)


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

    def test_flat_colours_keep_their_light(self):
        # A colour between the table's levels becomes a mixture whose mean
        # luminance is within 1 % of the source's; a channel may give up a
        # little of its light for a finer grain, never more than 1 % of full.
        for colour in ((128, 128, 128), (200, 90, 40), (30, 60, 120), (250, 240, 10)):
            with self.subTest(colour=colour):
                source = self.path("m.ppm")
                write_ppm(source, 450, 120, lambda x, y: colour)
                pixels = b"".join(self.indices(self.convert(source, 120), 120))
                self.assertGreater(len(set(pixels)), 1)  # dithered, not flattened
                light = sum(luminance(table_colour(i)) for i in pixels) / len(pixels)
                self.assertAlmostEqual(light / luminance(colour), 1, delta=0.01)
                for channel in range(3):
                    mean = sum(srgb_to_linear(table_colour(i)[channel]) for i in pixels) / len(pixels)
                    self.assertAlmostEqual(mean, srgb_to_linear(colour[channel]), delta=0.01)

    def measure(self, reference, candidate):
        """S-CIELAB at 20 and 40 pixels per degree and the light error in per cent."""
        result = self.run_tool("measure", reference, candidate)
        self.assertEqual(result.returncode, 0, result.stderr)
        return [float(v) for v in result.stdout.split()]

    def test_measure_of_uniform_fields_is_plain_cielab(self):
        # However the eye blurs a field of one colour, it stays that colour.
        first, second = (200, 90, 40), (30, 60, 120)
        write_ppm(self.path("a.ppm"), 40, 30, lambda x, y: first)
        write_ppm(self.path("b.ppm"), 40, 30, lambda x, y: second)
        s20, s40, light = self.measure(self.path("a.ppm"), self.path("b.ppm"))
        expected = sum((p - q) ** 2 for p, q in zip(cielab(first), cielab(second))) ** 0.5
        self.assertAlmostEqual(s20, expected, delta=0.0011)
        self.assertAlmostEqual(s40, expected, delta=0.0011)
        self.assertAlmostEqual(light, 100 * (luminance(second) / luminance(first) - 1), delta=0.011)

    def test_reduction_is_close_to_its_source_as_the_eye_sees_it(self):
        source = self.path("ramp.ppm")
        write_ppm(source, 450, 301, lambda x, y: (x * 255 // 449, y * 255 // 300, 128))
        scaled = self.path("scaled.ppm")
        result = self.run_tool("convert", "--height", "301", "--scaled", scaled, source, self.path("o.bmp"))
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.measure(scaled, scaled), [0, 0, 0])
        s20, s40, light = self.measure(scaled, self.path("o.bmp"))
        self.assertLess(s20, 2.0)
        self.assertLess(s40, 1.0)
        self.assertLess(abs(light), 1.0)
        black = self.path("black.ppm")
        write_ppm(black, 450, 301, lambda x, y: (0, 0, 0))
        self.assertGreater(self.measure(scaled, black)[0], 20.0)

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
