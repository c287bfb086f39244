#!/usr/bin/env python3
"""Turns the product's Windows icons into the PNG files Chromium wants.

Reads an .ico of 4-bit (16-colour) images with a transparency mask, the kind
scripts/make-icons.py writes, and writes one image of it as PNG, optionally
enlarged by a whole factor (nearest neighbour, so the pixel drawing stays
crisp). Standard library only: the PNG is assembled with zlib.

  ico_to_png.py ICON.ico SIZE OUT.png [--scale N]   the SIZExSIZE image
"""
import argparse
import struct
import sys
import zlib


def read_image(data, size):
    """Rows of RGBA tuples of the size x size image in an .ico file."""
    _, kind, count = struct.unpack_from("<HHH", data, 0)
    if kind != 1:
        raise ValueError("not an icon file")
    for i in range(count):
        width, height, _, _, _, bits, length, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        if (width or 256) == size and (height or 256) == size:
            return decode(data[offset:offset + length], size)
    raise ValueError(f"no {size}x{size} image in the icon")


def decode(image, size):
    header_size, width, height2, _, bits = struct.unpack_from("<IiiHH", image, 0)
    if bits != 4 or width != size or height2 != 2 * size:
        raise ValueError(f"unsupported image: {bits} bits, {width}x{height2 // 2}")
    palette = [struct.unpack_from("<BBBB", image, header_size + 4 * i)[:3] for i in range(16)]
    colour_row = ((size * 4 + 31) // 32) * 4
    mask_row = ((size + 31) // 32) * 4
    colours = header_size + 16 * 4
    masks = colours + colour_row * size
    rows = []
    for y in range(size):
        src = size - 1 - y  # bottom-up
        row = []
        for x in range(size):
            byte = image[colours + src * colour_row + x // 2]
            index = byte >> 4 if x % 2 == 0 else byte & 0x0F
            transparent = image[masks + src * mask_row + x // 8] >> (7 - x % 8) & 1
            b, g, r = palette[index]
            row.append((r, g, b, 0 if transparent else 255))
        rows.append(row)
    return rows


def png(rows):
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    height, width = len(rows), len(rows[0])
    raw = b"".join(b"\0" + bytes(v for pixel in row for v in pixel) for row in rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("icon")
    parser.add_argument("size", type=int)
    parser.add_argument("output")
    parser.add_argument("--scale", type=int, default=1)
    args = parser.parse_args()
    with open(args.icon, "rb") as f:
        rows = read_image(f.read(), args.size)
    rows = [[p for p in row for _ in range(args.scale)] for row in rows for _ in range(args.scale)]
    with open(args.output, "wb") as f:
        f.write(png(rows))
    return 0


if __name__ == "__main__":
    sys.exit(main())
