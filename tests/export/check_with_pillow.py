#!/usr/bin/python3
"""Reads the icon and bitmap files pictrove-cli writes back with Pillow, an
independent decoder, and compares them with Pillow's own reading of the
source icons: every pixel that is at least half opaque in the source must be
opaque in the saved icon and carry the VGA colour nearest to the source's;
the others must be transparent. The bitmap must show the source blended over
white.

Usage: check_with_pillow.py PICTROVE_CLI ICO_FILE... (32 x 32 images only)."""
import subprocess
import sys
import tempfile
from pathlib import Path

from PIL import Image

VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
       (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255), (255, 0, 255),
       (0, 255, 255), (255, 255, 255)]


def nearest(rgb):
    return min(VGA, key=lambda c: sum((a - b) ** 2 for a, b in zip(rgb, c)))


def source_frame(path):
    """The 32 x 32 image Pictrove shows: the frame of that size with the most bits."""
    icon = Image.open(path)
    sizes = icon.info.get("sizes") or {icon.size}
    if (32, 32) not in sizes:
        return None
    icon.size = (32, 32)
    frame = icon.convert("RGBA")
    # A 32-bit image whose alpha is all zero keeps its transparency in the AND
    # mask, which Pillow does not read for such images: no oracle for it.
    if frame.getextrema()[3] == (0, 0):
        return None
    return frame


def main():
    cli, sources = sys.argv[1], sys.argv[2:]
    failures = 0
    checked = 0
    with tempfile.TemporaryDirectory() as out:
        for source in sources:
            frame = source_frame(source)
            if frame is None:
                continue
            subprocess.run([cli, "extract", source, "-o", out, "--ico", "--bmp"], check=True)
            name = Path(source).name
            saved = Image.open(f"{out}/{name}_0.ico").convert("RGBA")
            bitmap = Image.open(f"{out}/{name}_0.bmp").convert("RGB")
            assert saved.size == (32, 32) and bitmap.size == (32, 32), source
            for y in range(32):
                for x in range(32):
                    r, g, b, a = frame.getpixel((x, y))
                    got = saved.getpixel((x, y))
                    want = nearest((r, g, b)) + (255,) if a >= 128 else None
                    ok = got == want if want else got[3] == 0
                    blended = tuple((c * a + 255 * (255 - a) + 127) // 255 for c in (r, g, b))
                    ok = ok and all(abs(p - q) <= 1 for p, q in zip(bitmap.getpixel((x, y)), blended))
                    if not ok:
                        failures += 1
                        if failures < 10:
                            print(f"{source} ({x},{y}): source {(r, g, b, a)} icon {got} "
                                  f"bitmap {bitmap.getpixel((x, y))}", file=sys.stderr)
            checked += 1
    print(f"{checked} icons checked, {failures} pixels differ")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
