#!/usr/bin/python3
"""Times `pictrove-cli list` and `thumbnail` on a macOS icon file of many
packed 128 x 128 members (it32), each with its mask: a file of a few MB
whose members, were they all converted when it is opened, would take
hundreds of MB.

    crafted_icns.py PICTROVE-CLI [MEMBERS] [--keep FILE.icns]
"""
import os
import struct
import subprocess
import sys
import tempfile
import time


def packed_plane(value, pixels=128 * 128):
    """One channel in runs of 130 (or fewer) of one value."""
    out = bytearray()
    while pixels:
        run = min(pixels, 130)
        out += bytes([run + 125, value])
        pixels -= run
    return bytes(out)


def member(kind, body):
    return kind + struct.pack(">I", len(body) + 8) + body


def crafted(members):
    """`members` it32 members of varied colours, one t8mk mask first."""
    body = member(b"t8mk", bytes([0xC0]) * (128 * 128))
    for i in range(members):
        planes = b"".join(packed_plane((i * 37 + c * 85) & 0xFF) for c in range(3))
        body += member(b"it32", bytes(4) + planes)
    return b"icns" + struct.pack(">I", len(body) + 8) + body


def timed(argv):
    """Wall seconds and peak resident MB of one run."""
    start = time.monotonic()
    child = subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(child.pid, 0)
    took = time.monotonic() - start
    err = child.stderr.read().decode(errors="replace").strip()
    child.stderr.close()
    if status != 0:
        sys.exit(f"{argv[1]} failed ({status}): {err}")
    return took, usage.ru_maxrss / 1024


def main():
    args = sys.argv[1:]
    keep = None
    if "--keep" in args:
        at = args.index("--keep")
        keep = args[at + 1]
        del args[at:at + 2]
    cli = args[0]
    members = int(args[1]) if len(args) > 1 else 4096
    data = crafted(members)
    with tempfile.TemporaryDirectory() as folder:
        path = keep or os.path.join(folder, "crafted.icns")
        with open(path, "wb") as f:
            f.write(data)
        print(f"{members} it32 members, {len(data) / 1e6:.2f} MB")
        for name, argv in (("list", [cli, "list", path]),
                           ("thumbnail", [cli, "thumbnail", path, os.path.join(folder, "t.png")])):
            runs = [timed(argv) for _ in range(3)]
            best = min(runs)
            print(f"  {name:9} {best[0]:7.3f} s (best of 3)  {max(r[1] for r in runs):7.1f} MB peak")


if __name__ == "__main__":
    main()
