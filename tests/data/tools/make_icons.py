#!/usr/bin/python3
"""Writes the icon, cursor and animated cursor fixtures into tests/data/ico.

Run with Debian's /usr/bin/python3 (it has Pillow). The output is
deterministic, so running it again must leave git with nothing to commit.
"""

import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import iconlib as L  # noqa: E402

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "ico")


def fixtures():
    png256 = L.png_rgba(256, 256, L.png_pattern)
    yield "bpp1.ico", L.icon_file([L.dib_indexed(16, 1)])
    yield "bpp4.ico", L.icon_file([L.dib_indexed(20, 4)])
    yield "bpp8.ico", L.icon_file([L.dib_indexed(24, 8)])
    # Only 16 colours in the table while the pixels use all 256 indexes.
    yield "bpp8_clrused.ico", L.icon_file([L.dib_indexed(24, 8, clr_used=16)])
    yield "bpp16_555.ico", L.icon_file([L.dib_555(17)])
    yield "bpp16_565.ico", L.icon_file([L.dib_565(17)])
    yield "bpp24.ico", L.icon_file([L.dib_rgb24(21)])
    yield "bpp32_alpha.ico", L.icon_file([L.dib_rgba32(32)])
    yield "bpp32_noalpha.ico", L.icon_file([L.dib_rgba32(32, alpha=lambda x, y: 0)])
    yield "bpp32_v5.ico", L.icon_file([L.dib_rgba32(24, header_size=124,
                                                   bitfields=(0xFF0000, 0xFF00, 0xFF, 0xFF000000))])
    yield "bpp24_nomask.ico", L.icon_file([L.dib_rgb24(16, with_mask=False)])
    yield "png256.ico", L.icon_file([png256])
    # The 32x32 32-bit image (index 2) is the one shown.
    yield "multi.ico", L.icon_file([L.dib_indexed(16, 4), L.dib_indexed(32, 8), L.dib_rgba32(32),
                                    L.dib_rgba32(48), png256])
    yield "blocks48.ico", L.icon_file([L.dib_blocks(48, 3)])
    yield "only16.ico", L.icon_file([L.dib_rgb24(16)])
    yield "cursor.cur", L.icon_file([L.dib_indexed(32, 1)], kind=2, hotspots=[(5, 7)])
    yield "anim.ani", L.ani_file([L.icon_file([L.dib_indexed(32, 4)], kind=2),
                                  L.icon_file([L.dib_rgb24(32)], kind=2)])


def riff_fields(data):
    """Labels for the size field of every chunk, found by walking the file;
    the hostile-input tests overwrite them."""
    rows = [("riff.size", 4, 4)]
    seen = {}

    def walk(begin, end, prefix):
        at = begin
        while at + 8 <= end:
            tag = data[at:at + 4].decode().strip()
            size = struct.unpack_from("<I", data, at + 4)[0]
            n = seen.get(prefix + tag, 0)
            seen[prefix + tag] = n + 1
            label = f"{prefix}{tag}.{n}"
            rows.append((label + ".size", at + 4, 4))
            if tag == "LIST":
                walk(at + 12, at + 8 + size, label + "." + data[at + 8:at + 12].decode() + ".")
            elif tag == "icon":
                rows.append((label + ".count", at + 8 + 4, 2))
                rows.append((label + ".image_size", at + 8 + 6 + 8, 4))
                rows.append((label + ".image_offset", at + 8 + 6 + 12, 4))
            at += 8 + size + (size & 1)

    walk(12, len(data), "")
    return rows


def main():
    os.makedirs(OUT, exist_ok=True)
    for name, data in fixtures():
        L.write(os.path.join(OUT, name), data)
        if name.endswith(".ani"):
            with open(os.path.join(OUT, name + ".fields"), "w") as f:
                f.write("# label offset width (written by tools/make_icons.py)\n")
                f.writelines(f"{label} {offset} {width}\n" for label, offset, width in riff_fields(data))


if __name__ == "__main__":
    main()
