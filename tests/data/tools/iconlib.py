"""Byte-exact writers for the icon structures the fixtures are made of.

Every image is drawn from the pixel patterns below; tests/core/patterns.h
computes the same patterns so the C++ tests know each expected pixel without
reading anything back from these scripts.
"""

import io
import struct

# --- pixel patterns (mirrored in tests/core/patterns.h) -------------------


def palette_rgb(i):
    return ((i * 73 + 40) & 255, (i * 151 + 7) & 255, (i * 29 + 200) & 255)


def index_at(x, y, bits):
    return (x + 3 * y) % (1 << bits)


def rgb_at(x, y):
    return ((x * 8 + y) & 255, (y * 8 + x * 3) & 255, (x * y) & 255)


def alpha_at(x, y):
    return (x * 9 + y * 17) & 255


def and_at(x, y):
    """1 where the AND mask lets the screen through. Lopsided on purpose so
    that a flipped or mirrored decode cannot pass."""
    return 1 if (x < 4 and y < 8) or (x * y) % 13 == 1 else 0


def r5g5b5_at(x, y):
    return x % 32, y % 32, (x ^ y) % 32


def r5g6b5_at(x, y):
    return x % 32, (2 * y + 1) % 64, (x ^ y) % 32


def block_rgb(x, y, block):
    """Flat squares of `block` pixels, so that area scaling by a ratio that
    maps whole blocks onto whole pixels gives exact colours."""
    bx, by = x // block, y // block
    return ((bx * 40 + 15) & 255, (by * 50 + 5) & 255, ((bx + by) * 30) & 255)


# --- DIB ------------------------------------------------------------------


def _stride(width, bits):
    return (width * bits + 31) // 32 * 4


def _pack_indexed_row(values, bits, stride):
    out = bytearray(stride)
    for x, v in enumerate(values):
        bit = x * bits
        out[bit // 8] |= v << (8 - bits - bit % 8)
    return bytes(out)


def dib(width, height, bits, pixel, *, mask=and_at, palette=None, clr_used=0, bitfields=None,
        with_mask=True, header_size=40):
    """An icon bitmap: header with doubled height, colour table or masks,
    colour rows and AND rows, both bottom row first.

    pixel(x, y) gives a palette index (bits <= 8), a 16-bit value (bits 16),
    (b, g, r) for 24 bits or (b, g, r, a) for 32 bits."""
    compression = 3 if bitfields else 0
    header = struct.pack("<IiiHHIIiiII", header_size, width, height * 2, 1, bits, compression,
                         0, 0, 0, clr_used, 0)
    masks = b"".join(struct.pack("<I", m) for m in bitfields or ())
    extra = b""
    if header_size > 40:
        # Longer headers carry the masks inside (the alpha mask from 56 bytes on).
        header += masks.ljust(header_size - 40, b"\0")
    else:
        extra = masks
    if bits <= 8:
        entries = clr_used or (1 << bits)
        colours = palette or [palette_rgb(i) for i in range(entries)]
        extra += b"".join(bytes((b, g, r, 0)) for r, g, b in colours[:entries])
    stride = _stride(width, bits)
    rows = []
    for y in reversed(range(height)):
        values = [pixel(x, y) for x in range(width)]
        if bits <= 8:
            rows.append(_pack_indexed_row(values, bits, stride))
        elif bits == 16:
            rows.append(b"".join(struct.pack("<H", v) for v in values).ljust(stride, b"\0"))
        else:
            rows.append(b"".join(bytes(v) for v in values).ljust(stride, b"\0"))
    body = b"".join(rows)
    if with_mask:
        mstride = _stride(width, 1)
        body += b"".join(_pack_indexed_row([mask(x, y) for x in range(width)], 1, mstride)
                         for y in reversed(range(height)))
    return header + extra + body


def dib_indexed(size, bits, **kw):
    return dib(size, size, bits, lambda x, y: index_at(x, y, bits), **kw)


def dib_rgb24(size, **kw):
    return dib(size, size, 24, lambda x, y: tuple(reversed(rgb_at(x, y))), **kw)


def dib_rgba32(size, alpha=alpha_at, **kw):
    def px(x, y):
        r, g, b = rgb_at(x, y)
        return (b, g, r, alpha(x, y))
    return dib(size, size, 32, px, **kw)


def dib_555(size, **kw):
    def px(x, y):
        r, g, b = r5g5b5_at(x, y)
        return r << 10 | g << 5 | b
    return dib(size, size, 16, px, **kw)


def dib_565(size, **kw):
    def px(x, y):
        r, g, b = r5g6b5_at(x, y)
        return r << 11 | g << 5 | b
    return dib(size, size, 16, px, bitfields=(0xF800, 0x07E0, 0x001F), **kw)


def dib_blocks(size, block, bits=32, alpha=255):
    def px(x, y):
        r, g, b = block_rgb(x, y, block)
        return (b, g, r, alpha) if bits == 32 else (b, g, r)
    return dib(size, size, bits, px)


# --- PNG ------------------------------------------------------------------


def png_rgba(width, height, pixel):
    """A PNG drawn by Pillow; pixel(x, y) gives (r, g, b, a)."""
    from PIL import Image
    im = Image.new("RGBA", (width, height))
    im.putdata([pixel(x, y) for y in range(height) for x in range(width)])
    out = io.BytesIO()
    im.save(out, "PNG", optimize=True)
    return out.getvalue()


def png_pattern(x, y):
    """The large PNG images: 8-pixel blocks, and a clear top-left corner."""
    r, g, b = block_rgb(x, y, 8)
    return (r, g, b, 0 if x < 64 and y < 64 else 255)


# --- containers -----------------------------------------------------------


class Img:
    """One stored image with what its directory entry claims about it."""

    def __init__(self, data, width, height, bits, colours=0):
        self.data, self.width, self.height, self.bits, self.colours = data, width, height, bits, colours


def info_of(data):
    """Directory entry values for a DIB or PNG produced above."""
    if data[:8] == b"\x89PNG\r\n\x1a\n":
        w, h = struct.unpack(">II", data[16:24])
        return Img(data, w, h, 32)
    _, w, h2, _, bits = struct.unpack("<IiiHH", data[:16])
    clr_used = struct.unpack("<I", data[32:36])[0]
    colours = (clr_used or (1 << bits)) if bits < 8 else 0
    return Img(data, w, h2 // 2, bits, colours & 255)


def icon_file(images, kind=1, hotspots=None):
    """ICO (kind 1) or CUR (kind 2). images: bytes or Img."""
    images = [i if isinstance(i, Img) else info_of(i) for i in images]
    out = struct.pack("<HHH", 0, kind, len(images))
    offset = 6 + 16 * len(images)
    for n, im in enumerate(images):
        if kind == 2:
            a, b = hotspots[n] if hotspots else (0, 0)
        else:
            a, b = 1, im.bits
        out += struct.pack("<BBBBHHII", im.width & 255, im.height & 255, im.colours, 0, a, b,
                           len(im.data), offset)
        offset += len(im.data)
    return out + b"".join(im.data for im in images)


def riff_chunk(tag, data):
    return tag + struct.pack("<I", len(data)) + data + (b"\0" if len(data) & 1 else b"")


def ani_file(frames, title=b"pictrove test"):
    """RIFF ACON: header, an INFO list, then the frames, each a whole icon file.
    The title has an odd length and, as some writers do, the INFO list's size
    leaves out the title's pad byte, so the list itself needs one."""
    anih = struct.pack("<9I", 36, len(frames), len(frames), 0, 0, 0, 0, 10, 1)
    info = riff_chunk(b"LIST", b"INFO" + riff_chunk(b"INAM", title)[:-1])
    fram = riff_chunk(b"LIST", b"fram" + b"".join(riff_chunk(b"icon", f) for f in frames))
    body = b"ACON" + riff_chunk(b"anih", anih) + info + fram
    return b"RIFF" + struct.pack("<I", len(body)) + body


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)
