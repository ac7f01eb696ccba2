#!/usr/bin/python3
"""Builds the PE32 / PE32+ fixtures with the mingw resource compiler and
linker (packages binutils-mingw-w64-i686 and binutils-mingw-w64-x86-64):
icons drawn by iconlib, an .rc naming them, windres, then ld --dll.

Beside each library in tests/data/pe goes <file>.fields ("label offset width
[fit]" lines, offsets found with pefile) naming the fields the hostile-input
tests overwrite. "fit" is the value that makes a size reach exactly to the end
of what holds it.
"""

import os
import subprocess
import sys
import tempfile

import pefile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import iconlib as L  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, "..")
TRIPLETS = {"32": "i686-w64-mingw32", "64": "x86_64-w64-mingw32"}


def build_dll(target, bits, resources):
    """resources: .rc lines, each naming an icon; icons: {file name: bytes}."""
    lines, icons = resources
    triplet = TRIPLETS[bits]
    with tempfile.TemporaryDirectory() as work:
        for name, data in icons.items():
            L.write(os.path.join(work, name), data)
        with open(os.path.join(work, "icons.rc"), "w") as f:
            f.write("\n".join(lines) + "\n")
        run = lambda *args: subprocess.run(args, cwd=work, check=True)  # noqa: E731
        run(f"{triplet}-windres", "--preprocessor=cat", "-i", "icons.rc", "-O", "coff", "-o", "icons.res")
        run(f"{triplet}-ld", "--dll", "-e", "0", "--no-insert-timestamp", "-s", "icons.res", "-o", "out.dll")
        with open(os.path.join(work, "out.dll"), "rb") as f:
            data = f.read()
    L.write(target, data)
    return target


def field_table(path):
    pe = pefile.PE(path)
    size = os.path.getsize(path)
    rows = []

    def add(label, struct, field, width, fit=None):
        rows.append((label, struct.get_field_absolute_offset(field), width, fit))

    rows.append(("pe.lfanew", 0x3C, 4, None))
    add("pe.sections", pe.FILE_HEADER, "NumberOfSections", 2)
    add("pe.optional_size", pe.FILE_HEADER, "SizeOfOptionalHeader", 2)
    add("pe.magic", pe.OPTIONAL_HEADER, "Magic", 2)
    add("pe.rva_count", pe.OPTIONAL_HEADER, "NumberOfRvaAndSizes", 4)
    directory = pe.OPTIONAL_HEADER.DATA_DIRECTORY[2]
    add("pe.resource_rva", directory, "VirtualAddress", 4)
    add("pe.resource_size", directory, "Size", 4)
    rsrc = pe.get_section_by_rva(directory.VirtualAddress)
    for s in pe.sections:
        name = s.Name.rstrip(b"\0").decode().lstrip(".")
        add(f"section.{name}.vsize", s, "Misc_VirtualSize", 4)
        add(f"section.{name}.va", s, "VirtualAddress", 4)
        # Raw data reaching to the end of the file is harmless only for the
        # last section: an earlier one would then cover the RVAs of the
        # sections after it, and the first section covering an RVA wins.
        fit = size - s.PointerToRawData if s == rsrc else None
        add(f"section.{name}.rawsize", s, "SizeOfRawData", 4, fit)
        add(f"section.{name}.rawptr", s, "PointerToRawData", 4)

    section_end = min(rsrc.PointerToRawData + rsrc.SizeOfRawData, size)
    root = pe.DIRECTORY_ENTRY_RESOURCE
    add("dir.root.named", root.struct, "NumberOfNamedEntries", 2)
    add("dir.root.ids", root.struct, "NumberOfIdEntries", 2)
    kinds = {3: "icon", 14: "group"}
    for t in root.entries:
        if t.id not in kinds:
            continue
        kind = kinds[t.id]
        add(f"root.{kind}.target", t.struct, "OffsetToData", 4)
        add(f"dir.{kind}.named", t.directory.struct, "NumberOfNamedEntries", 2)
        add(f"dir.{kind}.ids", t.directory.struct, "NumberOfIdEntries", 2)
        for n in t.directory.entries:
            label = f"{kind}.{n.name if n.name is not None else n.id}"
            add(f"res.{label}.target", n.struct, "OffsetToData", 4)
            if n.name is not None:
                add(f"res.{label}.name", n.struct, "Name", 4)
                at = root.struct.get_file_offset() + (n.struct.Name & 0x7FFFFFFF)
                rows.append((f"name.{n.name}.length", at, 2, None))
            add(f"dir.{label}.ids", n.directory.struct, "NumberOfIdEntries", 2)
            lang = n.directory.entries[0]
            add(f"res.{label}.lang", lang.struct, "OffsetToData", 4)
            entry = lang.data.struct
            offset = pe.get_offset_from_rva(entry.OffsetToData)
            add(f"res.{label}.rva", entry, "OffsetToData", 4)
            add(f"res.{label}.size", entry, "Size", 4, section_end - offset)
            if kind == "group":
                rows.append((f"{label}.type", offset + 2, 2, None))
                rows.append((f"{label}.count", offset + 4, 2, None))
                count = pe.get_word_at_rva(entry.OffsetToData + 4)
                rows += [(f"{label}.{k}.id", offset + 6 + 14 * k + 12, 2, None) for k in range(count)]
            elif pe.get_data(entry.OffsetToData, 4) == b"(\0\0\0":
                for field, at, width in (("width", 4, 4), ("height", 8, 4), ("bits", 14, 2),
                                         ("compression", 16, 4), ("clr_used", 32, 4)):
                    rows.append((f"{label}.{field}", offset + at, width, None))
    return rows


def write_fields(path):
    with open(path + ".fields", "w") as f:
        f.write("# label offset width [fit] (written by tools/make_pe.py)\n")
        for label, offset, width, fit in field_table(path):
            f.write(f"{label} {offset} {width}" + (f" {fit}" if fit is not None else "") + "\n")


def three_groups():
    icons = {
        "named.ico": L.icon_file([L.dib_rgba32(32)]),
        "one.ico": L.icon_file([L.dib_indexed(16, 4), L.dib_indexed(32, 8), L.dib_rgba32(32),
                                L.dib_rgba32(48), L.png_rgba(256, 256, L.png_pattern)]),
        "two.ico": L.icon_file([L.dib_indexed(32, 4), L.dib_indexed(16, 8)]),
    }
    return ['1 ICON "one.ico"', '2 ICON "two.ico"', 'NAMED ICON "named.ico"'], icons


def languages():
    """Group 1 in German and in English: the German one is stored first."""
    icons = {
        "de.ico": L.icon_file([L.dib_rgba32(32)]),
        "en.ico": L.icon_file([L.dib_indexed(16, 1)]),
        "two.ico": L.icon_file([L.dib_rgb24(32)]),
    }
    lines = ["LANGUAGE 9, 1", '1 ICON "en.ico"', '2 ICON "two.ico"', "LANGUAGE 7, 1", '1 ICON "de.ico"']
    return lines, icons


def sample():
    """Twelve icons of every kind the reader knows, for trying the programs out."""
    png = L.png_rgba(256, 256, L.png_pattern)
    sets = {
        "PICTROVE": [L.dib_indexed(16, 4), L.dib_indexed(32, 8), L.dib_rgba32(32), L.dib_rgba32(48), png],
        1: [L.dib_indexed(32, 1), L.dib_indexed(16, 1)],
        2: [L.dib_indexed(32, 4), L.dib_indexed(16, 4)],
        3: [L.dib_indexed(32, 8), L.dib_indexed(48, 8)],
        4: [L.dib_rgb24(32)],
        5: [L.dib_rgba32(16), L.dib_rgba32(24), L.dib_rgba32(32)],
        6: [L.dib_rgba32(32, alpha=lambda x, y: 0)],
        7: [png],
        8: [L.dib_555(32)],
        9: [L.dib_565(32)],
        10: [L.dib_blocks(48, 3)],
        11: [L.dib_rgb24(16)],
    }
    icons = {f"{name}.ico": L.icon_file(images) for name, images in sets.items()}
    return [f'{name} ICON "{name}.ico"' for name in sets], icons


def cursors():
    """Cursor groups beside an icon group: a named one first, then 1 with two
    images whose hot spots differ."""
    icons = {
        "icon.ico": L.icon_file([L.dib_indexed(32, 4)]),
        "arrow.cur": L.icon_file([L.dib_indexed(32, 1), L.dib_rgba32(48)], kind=2, hotspots=[(3, 5), (30, 2)]),
        "hand.cur": L.icon_file([L.dib_rgba32(32)], kind=2, hotspots=[(16, 9)]),
    }
    return ['1 ICON "icon.ico"', '1 CURSOR "arrow.cur"', 'HAND CURSOR "hand.cur"'], icons


def system_library():
    """A library that keeps its icons in SystemResources/<name>.mun, as the
    system libraries of Windows 10 and later do: only data of its own."""
    return ['1 RCDATA "data.bin"'], {"data.bin": b"no icons here\0"}


def system_resources():
    icons = {f"{n}.ico": L.icon_file([L.dib_indexed(32, 4), L.dib_rgba32(48)]) for n in (1, 2)}
    return ['1 ICON "1.ico"', '2 ICON "2.ico"'], icons


def main():
    os.makedirs(os.path.join(DATA, "pe"), exist_ok=True)
    write_fields(build_dll(os.path.join(DATA, "pe", "cursors32.dll"), "32", cursors()))
    # The library's name differs in case from its .mun, as copies from a
    # Windows file system may.
    windows = os.path.join(DATA, "windows")
    for folder in ("System32", "SystemResources"):
        os.makedirs(os.path.join(windows, folder), exist_ok=True)
    build_dll(os.path.join(windows, "System32", "IMAGERES.DLL"), "64", system_library())
    build_dll(os.path.join(windows, "SystemResources", "imageres.dll.mun"), "64", system_resources())
    for bits in ("32", "64"):
        write_fields(build_dll(os.path.join(DATA, "pe", f"three{bits}.dll"), bits, three_groups()))
    write_fields(build_dll(os.path.join(DATA, "pe", "langs64.dll"), "64", languages()))
    write_fields(build_dll(os.path.join(DATA, "sample.dll"), "32", sample()))


if __name__ == "__main__":
    main()
