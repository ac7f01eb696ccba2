#!/usr/bin/python3
"""The yardstick for scanning a corpus: what a script does with hashlib,
pefile and Pillow to print, per file, its SHA-256 and the difference hash of
its main icon (the first RT_GROUP_ICON at 32 x 32), one JSON line a file.

    pefile_pillow_scan.py [--fast-load] FOLDER...

Without --fast-load it opens each file as scripts usually do, pefile.PE(path),
which parses every data directory; with it, only the resources are parsed.
"""
import hashlib
import io
import json
import os
import struct
import sys

import pefile
from PIL import Image

RT_ICON = pefile.RESOURCE_TYPE["RT_ICON"]
RT_GROUP_ICON = pefile.RESOURCE_TYPE["RT_GROUP_ICON"]


def entries(pe, type_id):
    resources = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    for entry in resources.entries if resources else []:
        if entry.id == type_id:
            return entry.directory.entries
    return []


def data_of(pe, entry):
    leaf = entry.directory.entries[0].data.struct
    return pe.get_data(leaf.OffsetToData, leaf.Size)


def main_icon(path, fast_load):
    if fast_load:
        pe = pefile.PE(path, fast_load=True)
        pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    else:
        pe = pefile.PE(path)
    groups = entries(pe, RT_GROUP_ICON)
    if not groups:
        return None
    icons = {e.id: e for e in entries(pe, RT_ICON)}
    directory = data_of(pe, groups[0])
    count = struct.unpack_from("<H", directory, 4)[0]
    images, header = [], bytearray(directory[:6])
    for i in range(count):
        entry = directory[6 + 14 * i : 20 + 14 * i]
        icon = icons.get(struct.unpack_from("<H", entry, 12)[0])
        if icon:
            images.append((entry[:12], data_of(pe, icon)))
    struct.pack_into("<H", header, 4, len(images))
    offset = 6 + 16 * len(images)
    body = bytes(header)
    for entry, data in images:
        body += entry[:8] + struct.pack("<II", len(data), offset)
        offset += len(data)
    body += b"".join(data for _, data in images)
    image = Image.open(io.BytesIO(body))
    if (32, 32) in image.info.get("sizes", ()):
        image.size = (32, 32)
    return image.convert("RGBA").resize((32, 32), Image.BOX)


def dhash(image):
    white = Image.new("RGB", image.size, (255, 255, 255))
    white.paste(image, mask=image.getchannel("A"))
    small = white.convert("L").resize((9, 8), Image.BOX).load()
    bits = [small[c, r] > small[c + 1, r] for r in range(8) for c in range(8)]
    return "%016x" % sum(1 << (63 - i) for i, bit in enumerate(bits) if bit)


def main():
    fast_load = "--fast-load" in sys.argv
    for folder in (a for a in sys.argv[1:] if a != "--fast-load"):
        for root, dirs, files in os.walk(folder):
            dirs.sort()
            for name in sorted(files):
                path = os.path.join(root, name)
                with open(path, "rb") as f:
                    content = f.read()
                record = {"file": path, "size": len(content), "sha256": hashlib.sha256(content).hexdigest()}
                try:
                    icon = main_icon(path, fast_load)
                    if icon is not None:
                        record["dhash"] = dhash(icon)
                except Exception:  # not a PE file, or a damaged one
                    pass
                print(json.dumps(record))


if __name__ == "__main__":
    main()
