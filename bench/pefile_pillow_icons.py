#!/usr/bin/python3
"""The yardstick for delivering icons: every 32 x 32 icon of a PE file as
RGBA pixels, the way a script would do it with pefile and Pillow.

    pefile_pillow_icons.py FILE [-o DIR]

For each RT_GROUP_ICON it rebuilds the icon file from the group directory
and the RT_ICON resources it names, opens that with Pillow's icon reader and
takes the 32 x 32 frame (the largest frame, scaled, when there is none).
Prints the count and a checksum, like deliver_icons; with -o it also writes
each as DIR/<file name>_<index>.png at Pillow's default settings, the files
pictrove-cli extract writes.

Written as lean as a careful user would write it: only the resource
directory is parsed, and only the frame wanted is decoded. Image.open on an
.ico decodes its largest frame first (often a 256 px PNG), which would
nearly double the script's time for pictures it throws away.
"""
import io
import os
import struct
import sys
import zlib

import pefile
from PIL import IcoImagePlugin, Image

RT_ICON = pefile.RESOURCE_TYPE["RT_ICON"]
RT_GROUP_ICON = pefile.RESOURCE_TYPE["RT_GROUP_ICON"]


def first_language_data(pe, entry):
    """The bytes of the first language of a resource name entry."""
    leaf = entry.directory.entries[0].data.struct
    return pe.get_data(leaf.OffsetToData, leaf.Size)


def resources_of(pe, type_id):
    for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if entry.id == type_id:
            return entry.directory.entries
    return []


def icon_file(directory, icons):
    """An .ico made of a GRPICONDIR (14-byte entries ending in the RT_ICON
    ID) and the images it names; entries naming no image are dropped."""
    count = struct.unpack_from("<H", directory, 4)[0]
    found = []
    for i in range(count):
        fields = struct.unpack_from("<BBBBHHIH", directory, 6 + 14 * i)
        data = icons.get(fields[7])
        if data is not None:
            found.append((fields[:6], data))
    if not found:
        return None
    out = struct.pack("<HHH", 0, 1, len(found))
    offset = 6 + 16 * len(found)
    for fields, data in found:
        out += struct.pack("<BBBBHHII", *fields, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, data in found)


def main():
    out = sys.argv[3] if len(sys.argv) > 3 and sys.argv[2] == "-o" else None
    stem = os.path.basename(sys.argv[1])
    pe = pefile.PE(sys.argv[1], fast_load=True)
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    icons = {entry.id: first_language_data(pe, entry) for entry in resources_of(pe, RT_ICON)
             if entry.id is not None}
    delivered, checksum, total = 0, 0, 0
    for entry in resources_of(pe, RT_GROUP_ICON):
        total += 1
        data = icon_file(first_language_data(pe, entry), icons)
        if data is None:
            continue
        ico = IcoImagePlugin.IcoFile(io.BytesIO(data))
        if (32, 32) in ico.sizes():
            rgba = ico.getimage((32, 32)).convert("RGBA")
        else:
            rgba = ico.getimage(max(ico.sizes())).convert("RGBA").resize((32, 32), Image.BOX)
        checksum = zlib.crc32(rgba.tobytes(), checksum)
        if out:
            rgba.save(os.path.join(out, "%s_%d.png" % (stem, delivered)))
        delivered += 1
    print("%s: %d of %d icons, checksum %08x" % (sys.argv[1], delivered, total, checksum))


if __name__ == "__main__":
    main()
