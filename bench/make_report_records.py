#!/usr/bin/python3
"""Writes COUNT synthetic scan records with thumbnails to standard output,
for timing `pictrove-cli report`: the icons fall into families of look-alike
hashes (a few large ones, many small ones, the rest alone), and each family
has its picture, a 32 x 32 PNG, in every member's record, as
`scan --thumbnail 32` writes it.

    make_report_records.py COUNT
"""
import base64
import json
import random
import struct
import sys
import zlib


def png(width, colour, stripe):
    """A width x width RGBA picture: a gradient of `colour` with a band."""
    rows = b""
    for y in range(width):
        row = b"\0"
        for x in range(width):
            band = abs(x - y - stripe) < 4
            r, g, b = ((255 - c if band else c * (x + y) // (2 * width)) for c in colour)
            row += bytes((r, g, b, 255))
        rows += row

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    header = struct.pack(">IIBBBBB", width, width, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows, 9)) + \
        chunk(b"IEND", b"")


def family_sizes(count, rng):
    """Sizes that add up to `count`: a few hundreds, many of two to twenty,
    a third of the icons alone."""
    sizes = []
    left = count
    while left > 0:
        pick = rng.random()
        size = rng.randrange(200, 2000) if pick < 0.002 else rng.randrange(2, 21) if pick < 0.6 else 1
        size = min(size, left)
        sizes.append(size)
        left -= size
    return sizes


def main():
    count = int(sys.argv[1])
    rng = random.Random(11)
    out = sys.stdout
    n = 0
    for family, size in enumerate(family_sizes(count, rng)):
        base = rng.getrandbits(64)
        group = "%064x" % rng.getrandbits(256)
        colour = tuple(rng.randrange(40, 256) for _ in range(3))
        thumbnail = base64.b64encode(png(32, colour, rng.randrange(-16, 16))).decode()
        for _ in range(size):
            dhash = base
            for _ in range(rng.randrange(0, 2)):  # a bit or none flipped: within radius 4 of each other
                dhash ^= 1 << rng.randrange(64)
            record = {"file": "corpus/%02x/%08d.exe" % (n % 256, n), "size": rng.randrange(10**4, 10**8),
                      "sha256": "%064x" % rng.getrandbits(256), "kind": "PE32", "icons": 1,
                      "main": {"index": 0, "id": 1, "dhash": "%016x" % dhash,
                               "group_sha256": group if rng.random() < 0.5 else "%064x" % rng.getrandbits(256),
                               "images": [{"w": 32, "h": 32, "bits": 32, "png": True, "offset": 4096,
                                           "length": 2000}],
                               "thumbnail": thumbnail}}
            out.write(json.dumps(record, separators=(",", ":")) + "\n")
            n += 1


if __name__ == "__main__":
    main()
