"""The saver's eleven pictures as pixel arrays, and the search for one of them
in a screenshot.

The bitmaps are decoded here from the files the resource script embeds
(resources/map1.bmp .. map11.bmp): 8-bit bottom-up DIBs with a colour table.
A screenshot is matched by position, not by a bounding box of non-black
pixels, since a picture may have black or near-black pixels at its edges and
a picture being painted shows only part of itself.
"""

import struct
from dataclasses import dataclass
from pathlib import Path

import numpy as np

from wine_env import REPO

RESOURCES = REPO / "resources"


def decode_bmp(data):
    """An 8-bit, uncompressed BMP file as an H x W x 3 array of RGB bytes."""
    if data[:2] != b"BM":
        raise ValueError("not a BMP file")
    pixel_offset = struct.unpack_from("<I", data, 10)[0]
    (header_size, width, height, planes, bit_count, compression, _size, _xppm, _yppm,
     colours_used, _important) = struct.unpack_from("<IiiHHIIiiII", data, 14)
    if header_size != 40 or planes != 1 or bit_count != 8 or compression != 0:
        raise ValueError(f"unexpected BMP header: size {header_size}, {bit_count} bits, "
                         f"compression {compression}")
    entries = colours_used or 256
    table = np.frombuffer(data, np.uint8, entries * 4, 14 + header_size).reshape(entries, 4)
    rgb_table = table[:, [2, 1, 0]]                       # stored as blue, green, red, 0
    stride = (width + 3) & ~3
    rows = abs(height)
    indices = np.frombuffer(data, np.uint8, stride * rows, pixel_offset).reshape(rows, stride)
    indices = indices[:, :width]
    if height > 0:
        indices = indices[::-1]                           # bottom-up rows
    return rgb_table[indices]


def load_pictures():
    """[(name, array)] for map1 .. map11, in that order."""
    pictures = []
    for n in range(1, 12):
        path = RESOURCES / f"map{n}.bmp"
        pictures.append((f"map{n}", decode_bmp(path.read_bytes())))
    return pictures


@dataclass
class Match:
    index: int            # 0-based picture number
    name: str
    origin: tuple         # screen x, y of the picture's top left (may be negative)
    complete: bool        # the whole visible part equals the picture
    painted: int          # visible pixels that equal the picture and are not black
    picture_nonblack: int  # non-black pixels of the picture's visible part

    @property
    def key(self):
        return (self.index, self.origin)


def as_array(image):
    return np.asarray(image.convert("RGB"), dtype=np.uint8)


def locate(screen, pictures, sample_size=400):
    """Finds where one of `pictures` lies on `screen` (an image or array):
    every non-black screen pixel must lie inside the picture placed there and
    equal its pixel. Returns a Match, or None when the screen is all black or
    no picture explains it."""
    if not isinstance(screen, np.ndarray):
        screen = as_array(screen)
    nonblack = screen.any(axis=2)
    ys, xs = np.nonzero(nonblack)
    if len(ys) == 0:
        return None
    anchor_y, anchor_x = ys[0], xs[0]
    anchor = screen[anchor_y, anchor_x]
    pick = np.linspace(0, len(ys) - 1, min(sample_size, len(ys))).astype(int)
    sample_y, sample_x = ys[pick], xs[pick]
    sample_colours = screen[sample_y, sample_x]
    screen_h, screen_w = nonblack.shape
    best = None
    for index, (name, picture) in enumerate(pictures):
        h, w, _ = picture.shape
        by, bx = np.nonzero((picture == anchor).all(axis=2))
        if len(by) == 0:
            continue
        origins_y, origins_x = anchor_y - by, anchor_x - bx
        for start in range(0, len(origins_y), 256):
            oy = origins_y[start:start + 256, None]
            ox = origins_x[start:start + 256, None]
            py, px = sample_y[None, :] - oy, sample_x[None, :] - ox
            inside = (py >= 0) & (py < h) & (px >= 0) & (px < w)
            ok = inside.all(axis=1)
            if not ok.any():
                continue
            cy, cx = np.clip(py, 0, h - 1), np.clip(px, 0, w - 1)
            same = (picture[cy, cx] == sample_colours[None, :, :]).all(axis=2).all(axis=1)
            for k in np.nonzero(ok & same)[0]:
                match = _verify(screen, nonblack, index, name, picture,
                                int(oy[k, 0]), int(ox[k, 0]), screen_w, screen_h)
                if match and (best is None or match.painted > best.painted):
                    best = match
    return best


def _verify(screen, nonblack, index, name, picture, oy, ox, screen_w, screen_h):
    h, w, _ = picture.shape
    top, left = max(oy, 0), max(ox, 0)
    bottom, right = min(oy + h, screen_h), min(ox + w, screen_w)
    if top >= bottom or left >= right:
        return None
    outside = nonblack.copy()
    outside[top:bottom, left:right] = False
    if outside.any():
        return None
    region = screen[top:bottom, left:right]
    part = picture[top - oy:bottom - oy, left - ox:right - ox]
    region_nonblack = nonblack[top:bottom, left:right]
    equal = (region == part).all(axis=2)
    if not equal[region_nonblack].all():
        return None
    return Match(index=index, name=name, origin=(ox, oy), complete=bool(equal.all()),
                 painted=int((equal & region_nonblack).sum()),
                 picture_nonblack=int(part.any(axis=2).sum()))
