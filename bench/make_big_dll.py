#!/usr/bin/python3
"""Writes the icon files and the resource script of the benchmark library.

    make_big_dll.py OUT_DIR [GROUPS]

Each of the GROUPS icons (200 by default) holds 16, 32 and 48 px bitmaps at
4, 8 and 32 bits, plus a 256 px PNG image, like the icons of a modern system
library. The 4 and 8 bit bitmaps are real palette images with their own
colour tables and an AND mask, and every icon has a picture of its own, so no
decoder or compressor meets the same bytes twice. make_big_dll.sh turns the
script into the library.
"""
import io
import math
import os
import struct
import sys

from PIL import Image, ImageDraw

MASTER = 256


def master_picture(index):
    """A 256 px RGBA picture: a shape, a two-colour gradient and a ring,
    all chosen by `index`."""
    hue = index * 137 % 360
    base = hsv(hue, 0.8, 0.95)
    other = hsv((hue + 120) % 360, 0.6, 0.5)
    gradient = Image.new("RGBA", (MASTER, MASTER))
    pixels = gradient.load()
    angle = math.radians(index * 29 % 360)
    dx, dy = math.cos(angle), math.sin(angle)
    for y in range(MASTER):
        for x in range(MASTER):
            t = ((x - 128) * dx + (y - 128) * dy) / 362 + 0.5
            pixels[x, y] = tuple(int(a + (b - a) * t) for a, b in zip(base, other)) + (255,)
    shape = Image.new("L", (MASTER, MASTER), 0)
    draw = ImageDraw.Draw(shape)
    kind = index % 4
    inset = 8 + index % 24
    box = (inset, inset, MASTER - 1 - inset, MASTER - 1 - inset)
    if kind == 0:
        draw.ellipse(box, fill=255)
    elif kind == 1:
        draw.rounded_rectangle(box, radius=40, fill=255)
    elif kind == 2:
        draw.polygon([(128, inset), (MASTER - inset, MASTER - inset), (inset, MASTER - inset)], fill=255)
    else:
        draw.regular_polygon((128, 128, 120 - inset), 5 + index % 4, rotation=index % 72, fill=255)
    # A soft edge gives the alpha channel more than two values.
    picture = gradient.copy()
    picture.putalpha(shape.resize((64, 64), Image.BILINEAR).resize((MASTER, MASTER), Image.BILINEAR))
    ring = ImageDraw.Draw(picture)
    ring.ellipse((96 - index % 40, 96, 160 + index % 40, 160), outline=(255, 255, 255, 255), width=6)
    ring.text((8 + index % 100, 100), "%d" % index, fill=(0, 0, 0, 255))
    return picture


def hsv(hue, saturation, value):
    c = value * saturation
    x = c * (1 - abs(hue / 60 % 2 - 1))
    m = value - c
    r, g, b = [(c, x, 0), (x, c, 0), (0, c, x), (0, x, c), (x, 0, c), (c, 0, x)][int(hue // 60) % 6]
    return tuple(int((v + m) * 255) for v in (r, g, b))


def padded_rows(data, row_bytes, height):
    """Rows of `row_bytes`, bottom row first, each padded to 4 bytes."""
    stride = (row_bytes + 3) // 4 * 4
    rows = [data[y * row_bytes:(y + 1) * row_bytes] + bytes(stride - row_bytes) for y in range(height)]
    return b"".join(reversed(rows))


def and_mask(picture):
    size = picture.width
    alpha = picture.getchannel("A").point(lambda a: 255 if a < 128 else 0).convert("1", dither=Image.NONE)
    return padded_rows(alpha.tobytes("raw", "1"), (size + 7) // 8, size)


def dib(picture, bits):
    """BITMAPINFOHEADER, colour table, XOR rows, AND rows."""
    size = picture.width
    if bits == 32:
        colours = b""
        xor = padded_rows(picture.tobytes("raw", "BGRA"), size * 4, size)
    else:
        count = 1 << bits
        opaque = Image.new("RGB", picture.size, (0, 0, 0))
        opaque.paste(picture, mask=picture.getchannel("A"))
        indexed = opaque.quantize(count, method=Image.Quantize.MEDIANCUT, dither=Image.Dither.NONE)
        palette = indexed.getpalette()[:3 * count]
        palette += [0] * (3 * count - len(palette))
        colours = b"".join(bytes((palette[3 * i + 2], palette[3 * i + 1], palette[3 * i], 0))
                           for i in range(count))
        xor = padded_rows(indexed.tobytes("raw", "P;4" if bits == 4 else "P"), (size * bits + 7) // 8, size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0, 0, 0, 0, 0, 0)
    return header + colours + xor + and_mask(picture)


def ico(images):
    """An icon file of (size, bits, data); 256 is stored as 0."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, bits, data in images:
        colours = 1 << bits if bits < 8 else 0
        out += struct.pack("<BBBBHHII", size % 256, size % 256, colours, 0, 1, bits, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, _, data in images)


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    out = sys.argv[1]
    groups = int(sys.argv[2]) if len(sys.argv) > 2 else 200
    os.makedirs(out, exist_ok=True)
    lines = []
    for index in range(groups):
        master = master_picture(index)
        images = []
        for size in (16, 32, 48):
            picture = master.resize((size, size), Image.LANCZOS)
            for bits in (4, 8, 32):
                images.append((size, bits, dib(picture, bits)))
        png = io.BytesIO()
        master.save(png, "PNG")
        images.append((256, 32, png.getvalue()))
        path = os.path.join(out, "icon%03d.ico" % index)
        with open(path, "wb") as f:
            f.write(ico(images))
        # A few named groups, as real libraries have, ahead of the numbered ones.
        name = "NAMED_%d" % index if index % 50 == 0 else str(index + 1)
        lines.append('%s ICON "%s"\n' % (name, os.path.abspath(path)))
    with open(os.path.join(out, "big.rc"), "w") as f:
        f.writelines(lines)


if __name__ == "__main__":
    main()
