#!/usr/bin/env python3
"""Draws Glintmark's icons and writes them as Windows .ico files.

Every image is drawn here, pixel by pixel, in the 16 colours of the standard
Windows palette (4 bits per pixel, with a transparency mask), so the icons
need no image editor and can be rebuilt from this file alone.

  make-icons.py DESIGN OUTPUT.ico [--sizes 32,16]   write the icon
  make-icons.py --check DESIGN FILE.ico [--sizes ..]  exit 1 when FILE differs
  make-icons.py --list                               print the design names

A design is a function that draws into a Canvas of the requested size; add one
by decorating it with @design("name"). Coordinates are given on a 32-pixel
grid and scaled to the canvas, so one drawing serves every size.
"""

import argparse
import struct
import sys

# The 16-colour palette of Windows, in its usual order.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, MAROON, GREEN, OLIVE, NAVY, PURPLE, TEAL, SILVER = range(8)
GREY, RED, LIME, YELLOW, BLUE, FUCHSIA, AQUA, WHITE = range(8, 16)


class Canvas:
    """A square image of palette indices; None marks a transparent pixel."""

    def __init__(self, size):
        self.size = size
        self.pixels = [[None] * size for _ in range(size)]

    def _scale(self, v):
        return (v * self.size) // 32

    def fill(self, x0, y0, x1, y1, colour):
        """Fills the cells [x0, x1) x [y0, y1) of the 32-grid."""
        for y in range(self._scale(y0), max(self._scale(y1), self._scale(y0) + 1)):
            for x in range(self._scale(x0), max(self._scale(x1), self._scale(x0) + 1)):
                if 0 <= x < self.size and 0 <= y < self.size:
                    self.pixels[y][x] = colour

    def frame(self, x0, y0, x1, y1, colour):
        """A one-pixel outline just inside the cells [x0, x1) x [y0, y1)."""
        left, top = self._scale(x0), self._scale(y0)
        right, bottom = self._scale(x1) - 1, self._scale(y1) - 1
        for x in range(left, right + 1):
            self.pixels[top][x] = colour
            self.pixels[bottom][x] = colour
        for y in range(top, bottom + 1):
            self.pixels[y][left] = colour
            self.pixels[y][right] = colour

    def line(self, points, colour):
        """A one-pixel polyline through grid points (Bresenham)."""
        scaled = [(self._scale(x), self._scale(y)) for x, y in points]
        for (x0, y0), (x1, y1) in zip(scaled, scaled[1:]):
            dx, dy = abs(x1 - x0), -abs(y1 - y0)
            sx, sy = (1 if x0 < x1 else -1), (1 if y0 < y1 else -1)
            err = dx + dy
            while True:
                if 0 <= x0 < self.size and 0 <= y0 < self.size:
                    self.pixels[y0][x0] = colour
                if (x0, y0) == (x1, y1):
                    break
                e2 = 2 * err
                if e2 >= dy:
                    err += dy
                    x0 += sx
                if e2 <= dx:
                    err += dx
                    y0 += sy


DESIGNS = {}


def design(name):
    def register(draw):
        DESIGNS[name] = draw
        return draw
    return register


@design("options")
def draw_options(c):
    """The options dialog: a page whose words are marked in the highlight
    colours, with a ticked check box over its corner."""
    # The page, its folded corner and its shadow.
    c.fill(7, 3, 25, 29, GREY)
    c.fill(5, 1, 23, 27, WHITE)
    c.frame(5, 1, 23, 27, BLACK)
    c.fill(18, 1, 23, 6, None)
    c.fill(18, 1, 19, 6, BLACK)
    c.fill(18, 5, 23, 6, BLACK)
    c.line([(18, 1), (22, 5)], BLACK)
    c.fill(19, 2, 22, 5, SILVER)
    c.line([(19, 1), (22, 4)], BLACK)
    # Lines of text, two of them with a marked word.
    c.fill(8, 7, 16, 8, GREY)
    c.fill(7, 10, 14, 14, YELLOW)
    c.fill(8, 11, 13, 12, BLACK)
    c.fill(15, 11, 20, 12, GREY)
    c.fill(8, 15, 20, 16, GREY)
    c.fill(8, 19, 11, 20, GREY)
    c.fill(11, 18, 18, 22, AQUA)
    c.fill(12, 19, 17, 20, BLACK)
    c.fill(8, 23, 14, 24, GREY)
    # The check box with its tick, in front of the page's lower right corner.
    c.fill(17, 17, 31, 31, WHITE)
    c.frame(17, 17, 31, 31, BLACK)
    c.frame(18, 18, 30, 30, GREY)
    c.line([(20, 23), (23, 26), (28, 20)], GREEN)
    c.line([(20, 24), (23, 27), (28, 21)], GREEN)
    c.line([(20, 25), (23, 28), (28, 22)], GREEN)


@design("button")
def draw_button(c):
    """The toolbar button: a sheet of text with one word marked in yellow."""
    c.fill(6, 2, 26, 30, WHITE)
    c.frame(6, 2, 26, 30, GREY)
    for y, x1 in ((7, 21), (11, 22), (21, 22), (25, 18)):
        c.fill(9, y, x1, y + 2, SILVER)
    c.fill(8, 14, 24, 20, YELLOW)
    c.fill(10, 16, 22, 18, BLACK)


@design("button_hot")
def draw_button_hot(c):
    """The toolbar button under the mouse: the same sheet, with the marker
    pen that marks the word lying across it."""
    draw_button(c)
    for d in range(4):
        c.line([(16 + d, 17), (30, 31 - d)], RED)
    c.line([(20, 17), (31, 28)], MAROON)
    c.fill(14, 15, 18, 19, OLIVE)


def image_bytes(canvas):
    """One icon image: BITMAPINFOHEADER, palette, 4-bit colours, 1-bit mask."""
    size = canvas.size
    colour_row = ((size * 4 + 31) // 32) * 4
    mask_row = ((size + 31) // 32) * 4
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0,
                         (colour_row + mask_row) * size, 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    colours = bytearray()
    mask = bytearray()
    for row in reversed(canvas.pixels):  # bottom-up, as bitmaps are stored
        line = bytearray(colour_row)
        bits = bytearray(mask_row)
        for x, index in enumerate(row):
            if index is None:
                bits[x // 8] |= 0x80 >> (x % 8)
                index = 0
            line[x // 2] |= index << (4 if x % 2 == 0 else 0)
        colours += line
        mask += bits
    return header + palette + bytes(colours) + bytes(mask)


def icon_file(name, sizes):
    images = []
    for size in sizes:
        canvas = Canvas(size)
        DESIGNS[name](canvas)
        images.append((size, image_bytes(canvas)))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, data in images)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--list", action="store_true", help="print the design names")
    parser.add_argument("--check", action="store_true",
                        help="compare with FILE instead of writing it")
    parser.add_argument("--sizes", default="32", help="comma-separated sizes (default 32)")
    parser.add_argument("design", nargs="?", help="one of --list")
    parser.add_argument("file", nargs="?", help="the .ico file")
    args = parser.parse_args()
    if args.list:
        print("\n".join(sorted(DESIGNS)))
        return 0
    if args.design not in DESIGNS or not args.file:
        parser.error("give a design (%s) and a file" % ", ".join(sorted(DESIGNS)))
    try:
        sizes = [int(s) for s in args.sizes.split(",")]
    except ValueError:
        parser.error("--sizes takes numbers such as 32,16")
    if any(s < 8 or s > 256 for s in sizes):
        parser.error("sizes run from 8 to 256")
    data = icon_file(args.design, sizes)
    if args.check:
        try:
            with open(args.file, "rb") as f:
                same = f.read() == data
        except OSError as e:
            print("make-icons: %s" % e, file=sys.stderr)
            return 1
        if not same:
            print("make-icons: %s is not what design %r draws; run scripts/make-icons.py %s %s"
                  % (args.file, args.design, args.design, args.file), file=sys.stderr)
        return 0 if same else 1
    with open(args.file, "wb") as f:
        f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
