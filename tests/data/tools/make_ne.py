#!/usr/bin/python3
"""Writes 16-bit NE fixtures into tests/data/ne, laid out by hand: an MZ stub,
the NE header, a resource table with TYPEINFO/NAMEINFO blocks and
length-prefixed names, the other tables a loader expects, then the resources
at their alignment.

Beside each file goes <file>.fields: "label offset width" lines naming the
fields the hostile-input tests overwrite.
"""

import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import iconlib as L  # noqa: E402

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "ne")

NE_OFFSET = 0x80
RT_CURSOR = 0x8001
RT_ICON = 0x8003
RT_GROUP_CURSOR = 0x800C
RT_GROUP_ICON = 0x800E


def group_directory(entries):
    """GRPICONDIR: entries are (icon id, image bytes)."""
    out = struct.pack("<HHH", 0, 1, len(entries))
    for icon_id, data in entries:
        im = L.info_of(data)
        out += struct.pack("<BBBBHHIH", im.width & 255, im.height & 255, im.colours, 0, 1, im.bits,
                           len(data), icon_id)
    return out


def cursor_directory(entries):
    """A group cursor directory: entries are (cursor id, resource bytes), each
    resource a hot spot followed by the image; sizes count the hot spot."""
    out = struct.pack("<HHH", 0, 2, len(entries))
    for cursor_id, data in entries:
        im = L.info_of(data[4:])
        out += struct.pack("<HHHHIH", im.width, im.height * 2, 1, im.bits, len(data), cursor_id)
    return out


def mz_stub():
    message = b"This program needs Microsoft Windows.\r\n$"
    # push cs; pop ds; mov dx, message; mov ah, 9; int 21h; mov ax, 4C01h; int 21h
    code = bytes([0x0E, 0x1F, 0xBA, 0x0E, 0x00, 0xB4, 0x09, 0xCD, 0x21, 0xB8, 0x01, 0x4C, 0xCD, 0x21])
    body = (code + message).ljust(NE_OFFSET - 0x40, b"\0")
    header = bytearray(0x40)
    struct.pack_into("<2sHHHHHHHHHHHHH", header, 0, b"MZ", NE_OFFSET % 512, 1, 0, 4, 0x10, 0xFFFF, 0,
                     0xB8, 0, 0, 0, 0x40, 0)
    struct.pack_into("<I", header, 0x3C, NE_OFFSET)
    return bytes(header) + body


class Resource:
    def __init__(self, type_id, name, data):
        self.type_id, self.name, self.data = type_id, name, data


def build(resources, shift, module, library):
    """resources: Resource list, grouped by type in the order given. A type or
    resource name that is a str is stored as a length-prefixed name."""
    fields = [("ne.lfanew", 0x3C, 4)]
    types = []
    for r in resources:
        if not types or types[-1][0] != r.type_id:
            types.append((r.type_id, []))
        types[-1][1].append(r)

    # Names follow the TYPEINFO blocks and the terminating zero.
    table_size = 2 + sum(8 + 12 * len(rs) for _, rs in types) + 2
    names = b""
    name_offsets = {}

    def name_ref(value):
        nonlocal names
        if isinstance(value, int):
            return value | 0x8000
        if value not in name_offsets:
            encoded = value.encode("latin-1")
            name_offsets[value] = table_size + len(names)
            names += bytes([len(encoded)]) + encoded
        return name_offsets[value]

    type_refs = [(name_ref(t), rs, [name_ref(r.name) for r in rs]) for t, rs in types]
    names += b"\0"

    header_size = 0x40
    restab_rel = header_size  # no segments
    resident = bytes([len(module)]) + module + b"\0\0" + b"\0"
    resident_rel = restab_rel + table_size + len(names)
    modref_rel = resident_rel + len(resident)
    imported_rel = modref_rel
    imported = b"\0"
    entry_rel = imported_rel + len(imported)
    entry = b"\0\0"
    nonresident_abs = NE_OFFSET + entry_rel + len(entry)
    description = b"pictrove test fixture"
    nonresident = bytes([len(description)]) + description + b"\0\0" + b"\0"
    end_of_tables = nonresident_abs + len(nonresident)

    # Resources start at the next alignment unit and each is padded to whole
    # units, as linkers write them.
    align = 1 << shift
    position = (end_of_tables + align - 1) // align * align
    placed = []
    for _, rs in types:
        for r in rs:
            placed.append((position, r))
            position = (position + len(r.data) + align - 1) // align * align

    table = struct.pack("<H", shift)
    at = NE_OFFSET + restab_rel
    fields.append(("ne.restab", NE_OFFSET + 0x24, 2))
    fields.append(("res.shift", at, 2))
    at += 2
    offsets = iter(p for p, _ in placed)
    for ti, (type_ref, rs, refs) in enumerate(type_refs):
        fields += [(f"type.{ti}.id", at, 2), (f"type.{ti}.count", at + 2, 2)]
        table += struct.pack("<HHI", type_ref, len(rs), 0)
        at += 8
        for r, ref in zip(rs, refs):
            kind = {RT_ICON: "icon", RT_GROUP_ICON: "group", RT_CURSOR: "cursor",
                    RT_GROUP_CURSOR: "cursors"}.get(r.type_id, r.type_id)
            label = f"res.{kind}.{r.name}"
            fields += [(label + ".offset", at, 2), (label + ".length", at + 2, 2), (label + ".id", at + 6, 2)]
            length_units = (len(r.data) + align - 1) // align
            table += struct.pack("<HHHHHH", next(offsets) >> shift, length_units, 0x1C30, ref, 0, 0)
            at += 12
    fields.append(("res.end", at, 2))
    table += b"\0\0"
    for value, offset in name_offsets.items():
        fields.append((f"name.{value}", NE_OFFSET + restab_rel + offset, 1))

    header = bytearray(header_size)
    struct.pack_into("<2sBBHHIHHHHIIHHHHHHHHIHHHBB", header, 0, b"NE", 5, 10, entry_rel, len(entry), 0,
                     0x8000 if library else 0x0302, 0, 0, 0 if library else 0x1000, 0, 0, 0, 0,
                     len(nonresident), header_size, restab_rel, resident_rel, modref_rel, imported_rel,
                     nonresident_abs, 0, 4, len(placed), 2, 0x08)
    struct.pack_into("<H", header, 0x3E, 0x030A)

    out = bytearray(mz_stub())
    out += header + table + names + resident + imported + entry + nonresident
    assert len(out) == end_of_tables
    for offset, r in placed:
        out += bytes(offset - len(out))
        if r.type_id == RT_GROUP_ICON:
            count = struct.unpack_from("<H", r.data, 4)[0]
            fields.append((f"group.{r.name}.type", offset + 2, 2))
            fields.append((f"group.{r.name}.count", offset + 4, 2))
            fields += [(f"group.{r.name}.{k}.id", offset + 6 + 14 * k + 12, 2) for k in range(count)]
        out += r.data
    out += bytes(position - len(out))
    return bytes(out), fields


def write_fixture(name, data, fields):
    L.write(os.path.join(OUT, name), data)
    with open(os.path.join(OUT, name + ".fields"), "w") as f:
        f.write("# label offset width (written by tools/make_ne.py)\n")
        for label, offset, width in fields:
            f.write(f"{label} {offset} {width}\n")


def main():
    os.makedirs(OUT, exist_ok=True)
    icons = {
        1: L.dib_indexed(32, 4),
        2: L.dib_indexed(16, 8),
        3: L.dib_rgba32(32),
        4: L.dib_indexed(32, 1),
        5: L.dib_rgb24(24),
    }
    # Groups are stored out of order, names among numbers; the shell shows the
    # names first as stored, then the numbers ascending: ZED, ALPHA, 2, 7.
    groups = [(7, [1]), ("ZED", [2, 3]), (2, [4]), ("ALPHA", [5])]
    resources = [Resource("MYDATA", 1, b"not an icon, skipped by type" * 3)]
    resources += [Resource(RT_ICON, i, d) for i, d in icons.items()]
    resources += [Resource(RT_GROUP_ICON, n, group_directory([(i, icons[i]) for i in ids]))
                  for n, ids in groups]
    write_fixture("icons.icl", *build(resources, 4, b"ICONS", library=True))

    # Large alignment and a name outside ASCII (Latin-1 E acute).
    icons = {1: L.dib_indexed(32, 8), 2: L.dib_indexed(16, 4)}
    resources = [Resource(RT_ICON, i, d) for i, d in icons.items()]
    resources += [Resource(RT_GROUP_ICON, 1, group_directory([(1, icons[1])])),
                  Resource(RT_GROUP_ICON, "CAF\xc9", group_directory([(2, icons[2])]))]
    write_fixture("shift9.exe", *build(resources, 9, b"SHIFT9", library=False))

    # Cursor groups beside an icon group: 1 with two images, then POINT.
    cursors = {1: struct.pack("<HH", 3, 5) + L.dib_indexed(32, 1),
               2: struct.pack("<HH", 30, 2) + L.dib_rgba32(48),
               3: struct.pack("<HH", 16, 9) + L.dib_indexed(16, 4)}
    icons = {1: L.dib_indexed(32, 4)}
    resources = [Resource(RT_ICON, 1, icons[1]), Resource(RT_GROUP_ICON, 1, group_directory([(1, icons[1])]))]
    resources += [Resource(RT_CURSOR, i, d) for i, d in cursors.items()]
    resources += [Resource(RT_GROUP_CURSOR, "POINT", cursor_directory([(3, cursors[3])])),
                  Resource(RT_GROUP_CURSOR, 1, cursor_directory([(1, cursors[1]), (2, cursors[2])]))]
    write_fixture("cursors.exe", *build(resources, 4, b"CURSORS", library=False))


if __name__ == "__main__":
    main()
