#!/usr/bin/env python3
"""Renders the application icon from varnel-importer.svg: the PNG sizes the window and the desktop
use, and varnel-importer.ico for the Windows executable with nine images (48, 32, 24 and 16 pixels
at 8 bits per pixel with a palette, and 256, 48, 32, 24 and 16 pixels at 32 bits per pixel).

Needs rsvg-convert (Debian: librsvg2-bin) and Python 3 only. Run it after changing the artwork and
commit what it writes:  python3 app/resources/icon/make_icons.py
"""
import os
import struct
import subprocess
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SVG = os.path.join(HERE, "varnel-importer.svg")
PNG_SIZES = (16, 24, 32, 48, 256)
ICO_IMAGES = [(48, 8), (32, 8), (24, 8), (16, 8), (256, 32), (48, 32), (32, 32), (24, 32), (16, 32)]


def png_path(size):
    return os.path.join(HERE, f"varnel-importer-{size}.png")


def render(size):
    subprocess.run(["rsvg-convert", "--width", str(size), "--height", str(size), "--format", "png",
                    "--output", png_path(size), SVG], check=True)


def read_rgba_png(path):
    """Decodes the 8-bit RGBA, non-interlaced PNG that rsvg-convert writes: rows of (r, g, b, a)."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError(f"{path}: not a PNG")
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    if (depth, colour, interlace) != (8, 6, 0):
        raise ValueError(f"{path}: expected 8-bit RGBA without interlacing")
    raw, stride, rows, prev = zlib.decompress(idat), width * 4, [], bytearray(width * 4)
    for y in range(height):
        start = y * (stride + 1)
        kind, line = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        for i in range(stride):
            left = line[i - 4] if i >= 4 else 0
            up, upleft = prev[i], (prev[i - 4] if i >= 4 else 0)
            if kind == 1:
                line[i] = (line[i] + left) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + up) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 0xFF
            elif kind == 4:
                p = left + up - upleft
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - upleft)
                pred = left if pa <= pb and pa <= pc else (up if pb <= pc else upleft)
                line[i] = (line[i] + pred) & 0xFF
        rows.append([tuple(line[x * 4:x * 4 + 4]) for x in range(width)])
        prev = line
    return rows


def median_cut(colours, count):
    """A palette of at most `count` colours for the given (r, g, b) colours, by median cut."""
    boxes = [sorted(set(colours))]
    while len(boxes) < count:
        splittable = [b for b in boxes if len(b) > 1]
        if not splittable:
            break
        box = max(splittable, key=lambda b: max(max(c[i] for c in b) - min(c[i] for c in b)
                                                for i in range(3)))
        axis = max(range(3), key=lambda i: max(c[i] for c in box) - min(c[i] for c in box))
        box.sort(key=lambda c: c[axis])
        boxes.remove(box)
        half = len(box) // 2
        boxes += [box[:half], box[half:]]
    return [tuple(sum(c[i] for c in b) // len(b) for i in range(3)) for b in boxes]


def and_mask(rows, transparent):
    """The 1-bit mask of a DIB icon image, bottom row first, rows padded to 32 bits."""
    size = len(rows)
    stride = (size + 31) // 32 * 4
    out = bytearray()
    for row in reversed(rows):
        line = bytearray(stride)
        for x, px in enumerate(row):
            if transparent(px):
                line[x // 8] |= 0x80 >> (x % 8)
        out += line
    return bytes(out)


def bitmap_header(size, bits, image_bytes, colours_used):
    return struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0, image_bytes, 0, 0,
                       colours_used, 0)


def dib_8bit(rows):
    """A 256-colour palette image: pixels under half opacity are masked out, the rest quantised."""
    opaque = lambda px: px[3] >= 128
    colours = [px[:3] for row in rows for px in row if opaque(px)]
    palette = [(0, 0, 0)] + median_cut(colours, 255)  # index 0: black under the mask
    nearest = {}
    for c in set(colours):
        nearest[c] = min(range(1, len(palette)),
                         key=lambda i: sum((palette[i][k] - c[k]) ** 2 for k in range(3)))
    size = len(rows)
    stride = (size + 3) // 4 * 4
    pixels = bytearray()
    for row in reversed(rows):
        line = bytearray(stride)
        for x, px in enumerate(row):
            line[x] = nearest[px[:3]] if opaque(px) else 0
        pixels += line
    palette += [(0, 0, 0)] * (256 - len(palette))
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    mask = and_mask(rows, lambda px: not opaque(px))
    return bitmap_header(size, 8, len(pixels) + len(mask), 256) + table + bytes(pixels) + mask


def dib_32bit(rows):
    """A true-colour image with its alpha channel; the mask marks the fully transparent pixels."""
    size = len(rows)
    pixels = b"".join(struct.pack("<BBBB", b, g, r, a) for row in reversed(rows) for r, g, b, a in row)
    mask = and_mask(rows, lambda px: px[3] == 0)
    return bitmap_header(size, 32, len(pixels) + len(mask), 0) + pixels + mask


def write_ico(path):
    images = []
    for size, bits in ICO_IMAGES:
        if size == 256:  # the large image is stored as PNG, as Windows expects it
            with open(png_path(size), "rb") as f:
                images.append((size, bits, f.read()))
            continue
        rows = read_rgba_png(png_path(size))
        images.append((size, bits, dib_8bit(rows) if bits == 8 else dib_32bit(rows)))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, bits, data in images:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, bits, len(data), offset)
        offset += len(data)
    out += b"".join(data for _, _, data in images)
    with open(path, "wb") as f:
        f.write(out)


def main():
    for size in PNG_SIZES:
        render(size)
    write_ico(os.path.join(HERE, "varnel-importer.ico"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
