#!/usr/bin/env python3
"""Makes type1-appimageextract.AppImage from libappimage's
tests/data/AppImageExtract_6-x86_64.AppImage (see README.md): the bytes of
the programs it bundles and the runtime's code behind its ELF header are
zeroed, the rest (volume descriptors, Rock Ridge and Joliet directories,
the desktop file, the icon, the zisofs-compressed scripts) is kept as
published.

    make_type1_fixture.py ORIGINAL OUTPUT
"""
import hashlib
import sys

ORIGINAL_SHA256 = "57c1cf1dcc9d86fbab102c78ea42ba93df87a5a58a9e0c01f7efaf5f63f6a15a"
BLOCK = 2048
ELF_HEADER = 0x40
SYSTEM_AREA = 16 * BLOCK
# usr/bin/xorriso, usr/lib/libburn.so.4, libisoburn.so.1 and libisofs.so.6
# fill the image from this block to its end.
FIRST_PROGRAM_BLOCK = 70


def main():
    original, output = sys.argv[1:3]
    with open(original, "rb") as f:
        data = bytearray(f.read())
    if hashlib.sha256(data).hexdigest() != ORIGINAL_SHA256:
        sys.exit("not the file this script was written for")
    data[ELF_HEADER:SYSTEM_AREA] = bytes(SYSTEM_AREA - ELF_HEADER)
    data[FIRST_PROGRAM_BLOCK * BLOCK:] = bytes(len(data) - FIRST_PROGRAM_BLOCK * BLOCK)
    with open(output, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
