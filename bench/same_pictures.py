#!/usr/bin/python3
"""Compares two output folders, or two files, as pictures: a PNG by its
header and its filtered image data (what its compressed stream holds, so two
encoders of the same pixels agree), anything else byte for byte. Exit status
0 when they agree, 1 otherwise; prints the first difference.

    same_pictures.py A B
"""
import os
import struct
import sys
import zlib


def content(path):
    with open(path, "rb") as f:
        data = f.read()
    if not data.startswith(b"\x89PNG\r\n\x1a\n"):
        return data
    at, header, stream = 8, b"", b""
    while at + 8 <= len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            header = body
        elif kind == b"IDAT":
            stream += body
        at += 12 + length
    try:
        return header + zlib.decompress(stream)
    except zlib.error:
        return data


def files(root):
    if os.path.isfile(root):
        return {"": root}
    return {os.path.relpath(os.path.join(folder, name), root): os.path.join(folder, name)
            for folder, _, names in os.walk(root) for name in names}


def main():
    a, b = files(sys.argv[1]), files(sys.argv[2])
    if a.keys() != b.keys():
        print("not the same files:", sorted(a.keys() ^ b.keys())[:3])
        return 1
    for name in sorted(a):
        if content(a[name]) != content(b[name]):
            print("differs:", name or sys.argv[2])
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
