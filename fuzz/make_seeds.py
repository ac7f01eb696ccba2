#!/usr/bin/python3
"""Writes the seed corpus of every fuzz target into fuzz/corpus/.

The seeds are small, valid files of each kind, one per feature a reader
branches on (depths, bit fields, palettes, PNG colour types, cursors, named
and numbered groups, ANI chunk orders), so the fuzzers start from inputs that
reach deep into the code instead of having to guess magic numbers. Bitmaps
and containers are packed by hand so every header field is under control;
Pillow only encodes the PNG images. The PE seeds need the MinGW binutils
(windres, ld); without them those seeds are skipped.

Run it again after changing it; the output is deterministic.
"""
import io
import os
import shutil
import struct
import subprocess
import sys
import tempfile

from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")


def pixel(x, y, seed=0):
    """A colour pattern that differs by position, so decoders cannot get rows
    or channels mixed up without changing the result."""
    return ((x * 37 + seed * 11) & 0xFF, (y * 53 + seed * 7) & 0xFF, ((x ^ y) * 29 + seed) & 0xFF)


def round_mask(x, y, w, h):
    """1 (transparent) outside a disc, so the AND mask holds both values."""
    cx, cy = (w - 1) / 2, (h - 1) / 2
    return 1 if (x - cx) ** 2 + (y - cy) ** 2 > (min(w, h) / 2) ** 2 else 0


def stride(width, bits):
    return (width * bits + 31) // 32 * 4


def pack_rows(width, height, bits, value):
    """Bottom-up rows of `bits`-bit values, each padded to 4 bytes."""
    out = bytearray()
    for y in reversed(range(height)):
        row = bytearray()
        if bits < 8:
            acc, n = 0, 0
            for x in range(width):
                acc = (acc << bits) | value(x, y)
                n += bits
                if n == 8:
                    row.append(acc)
                    acc, n = 0, 0
            if n:
                row.append(acc << (8 - n))
        else:
            for x in range(width):
                row += value(x, y).to_bytes(bits // 8, "little")
        row += bytes(stride(width, bits) - len(row))
        out += row
    return bytes(out)


def dib(width, height, bits, seed=0, compression=0, masks=None, header_size=40, colours_used=0,
        with_mask=True, alpha=False):
    """An icon bitmap: header (height doubled), colour table or masks, colour
    rows, AND rows."""
    palette = b""
    if bits <= 8:
        entries = colours_used or (1 << bits)
        palette = b"".join(bytes((*pixel(i, i * 3, seed)[::-1], 0)) for i in range(entries))
        value = lambda x, y: (x + y * 3 + seed) % entries
    elif bits == 16:
        def value(x, y):
            r, g, b = pixel(x, y, seed)
            if masks:  # 5-6-5
                return (r >> 3) << 11 | (g >> 2) << 5 | b >> 3
            return (r >> 3) << 10 | (g >> 3) << 5 | b >> 3
    elif bits == 24:
        def value(x, y):
            r, g, b = pixel(x, y, seed)
            return b | g << 8 | r << 16
    else:
        def value(x, y):
            r, g, b = pixel(x, y, seed)
            a = (0 if round_mask(x, y, width, height) else 255 - x * 8 % 256) if alpha else 0
            if masks:  # stored as R G B A from the low byte up
                return r | g << 8 | b << 16 | a << 24
            return b | g << 8 | r << 16 | a << 24
    header = struct.pack("<IiiHHIIiiII", header_size, width, height * 2, 1, bits, compression, 0, 0, 0,
                         colours_used, 0)
    extra = b""
    if masks and header_size == 40:
        extra = struct.pack("<3I", *masks[:3])
    elif header_size > 40:
        fields = bytearray(header_size - 40)
        if masks:
            fields[0:4 * len(masks)] = struct.pack("<%dI" % len(masks), *masks)
        extra = bytes(fields)
    colour = pack_rows(width, height, bits, value)
    and_rows = pack_rows(width, height, 1, lambda x, y: round_mask(x, y, width, height)) if with_mask else b""
    return header + extra + palette + colour + and_rows


def png(width, height, mode="RGBA", seed=0, **options):
    image = Image.new("RGBA", (width, height))
    for y in range(height):
        for x in range(width):
            a = 0 if round_mask(x, y, width, height) else 255 - (x * 16) % 200
            image.putpixel((x, y), (*pixel(x, y, seed), a))
    if mode == "P":
        converted = image.convert("RGB").quantize(16)
        converted.info["transparency"] = 0
    elif mode == "I;16":
        converted = image.convert("I")
    else:
        converted = image.convert(mode)
    out = io.BytesIO()
    converted.save(out, "PNG", **options)
    return out.getvalue()


def ico(images, kind=1, hotspot=(3, 5)):
    """An icon (kind 1) or cursor (kind 2) file of (width, height, bits, data)."""
    out = struct.pack("<HHH", 0, kind, len(images))
    offset = 6 + 16 * len(images)
    body = b""
    for width, height, bits, data in images:
        colours = 1 << bits if bits < 8 else 0
        a, b = (1, bits) if kind == 1 else hotspot
        out += struct.pack("<BBBBHHII", width % 256, height % 256, colours, 0, a, b, len(data), offset)
        offset += len(data)
        body += data
    return out + body


def chunk(tag, data):
    return tag + struct.pack("<I", len(data)) + data + (b"\0" if len(data) % 2 else b"")


def ani(frames, info_first=True, with_seq=True):
    anih = struct.pack("<9I", 36, len(frames), len(frames), 0, 0, 0, 0, 10, 1 | (2 if with_seq else 0))
    body = b"ACON"
    if info_first:
        body += chunk(b"LIST", b"INFO" + chunk(b"INAM", b"seed\0") + chunk(b"IART", b"pictrove\0"))
    body += chunk(b"anih", anih)
    if with_seq:
        body += chunk(b"rate", struct.pack("<%dI" % len(frames), *([8] * len(frames))))
        body += chunk(b"seq ", struct.pack("<%dI" % len(frames), *range(len(frames))))
    body += chunk(b"LIST", b"fram" + b"".join(chunk(b"icon", f) for f in frames))
    return b"RIFF" + struct.pack("<I", len(body)) + body


def group_directory(entries):
    """GRPICONDIR of (width, height, bits, size, id)."""
    out = struct.pack("<HHH", 0, 1, len(entries))
    for width, height, bits, size, ident in entries:
        colours = 1 << bits if bits < 8 else 0
        out += struct.pack("<BBBBHHIH", width % 256, height % 256, colours, 0, 1, bits, size, ident)
    return out


def ne_file(groups, shift=4):
    """A 16-bit NE file holding only resources, like an .icl library.
    `groups` is a list of (name, [image bytes]); a name is an int ID or a str."""
    icons, group_data, ident = [], [], 1
    for name, images in groups:
        entries = []
        for data in images:
            width = struct.unpack_from("<i", data, 4)[0]
            bits = struct.unpack_from("<H", data, 14)[0]
            icons.append((ident, data))
            entries.append((width, width, bits, len(data), ident))
            ident += 1
        group_data.append((name, group_directory(entries)))

    ne_offset = 0x40
    table_offset = 0x40  # from the NE header
    # Resource table: shift, two TYPEINFO blocks, the terminator, then names.
    table_size = 2 + (8 + 12 * len(icons)) + (8 + 12 * len(group_data)) + 2
    names = b""
    name_offsets = {}
    for name, _ in group_data:
        if isinstance(name, str):
            name_offsets[name] = table_size + len(names)
            names += bytes([len(name)]) + name.encode("latin-1")
    names += b"\0"
    data_start = ne_offset + table_offset + table_size + len(names)
    align = 1 << shift
    cursor = (data_start + align - 1) // align * align
    blobs = []

    def place(data):
        nonlocal cursor
        start = cursor
        blobs.append((start, data))
        cursor = (start + len(data) + align - 1) // align * align
        return start >> shift, (len(data) + align - 1) >> shift

    table = struct.pack("<H", shift)
    table += struct.pack("<HHI", 0x8003, len(icons), 0)
    for ident, data in icons:
        where, length = place(data)
        table += struct.pack("<HHHHHH", where, length, 0x1C30, 0x8000 | ident, 0, 0)
    table += struct.pack("<HHI", 0x800E, len(group_data), 0)
    for i, (name, data) in enumerate(group_data):
        where, length = place(data)
        ident = 0x8000 | name if isinstance(name, int) else name_offsets[name]
        table += struct.pack("<HHHHHH", where, length, 0x1C30, ident, 0, 0)
    table += struct.pack("<H", 0) + names

    mz = bytearray(0x40)
    mz[0:2] = b"MZ"
    struct.pack_into("<I", mz, 0x3C, ne_offset)
    ne = bytearray(0x40)
    ne[0:2] = b"NE"
    ne[2] = 5  # linker version
    struct.pack_into("<H", ne, 0x24, table_offset)
    struct.pack_into("<H", ne, 0x26, table_offset + len(table))  # resident names follow
    ne[0x36] = 2  # target: Windows
    out = bytearray(bytes(mz) + bytes(ne) + table)
    for start, data in blobs:
        out += bytes(start - len(out))
        out += data
    return bytes(out)


def pe_file(icon_files, machine):
    """A resource-only DLL built with the MinGW tools; None when they are missing."""
    prefix = {"i386": "i686-w64-mingw32-", "x86_64": "x86_64-w64-mingw32-"}[machine]
    windres, ld = shutil.which(prefix + "windres"), shutil.which(prefix + "ld")
    if not windres or not ld:
        return None
    with tempfile.TemporaryDirectory() as work:
        lines = []
        for i, (name, data) in enumerate(icon_files):
            path = os.path.join(work, "i%d.ico" % i)
            with open(path, "wb") as f:
                f.write(data)
            lines.append('%s ICON "%s"\n' % (name, path))
        rc, res, dll = (os.path.join(work, n) for n in ("x.rc", "x.res", "x.dll"))
        with open(rc, "w") as f:
            f.writelines(lines)
        subprocess.run([windres, "--preprocessor=cat", "-i", rc, "-O", "coff", "-o", res], check=True)
        subprocess.run([ld, "--dll", "-e", "0", "-s", "--no-insert-timestamp", res, "-o", dll], check=True)
        with open(dll, "rb") as f:
            return f.read()


def elf_file(icon, wide, name=".pictrove.icons"):
    """A little-endian ELF file with a null section, the section names and
    the icon file in a section of its own."""
    names = b"\0.shstrtab\0" + name.encode() + b"\0"
    header_size, entry_size = (0x40, 0x40) if wide else (0x34, 0x28)
    names_at = header_size
    icon_at = names_at + len(names)
    table_at = (icon_at + len(icon) + 7) // 8 * 8
    ident = b"\x7fELF" + bytes([2 if wide else 1, 1, 1]) + bytes(9)
    if wide:
        header = ident + struct.pack("<HHIQQQIHHHHHH", 2, 62, 1, 0, 0, table_at, 0, header_size, 0, 0,
                                     entry_size, 3, 1)
        section = lambda n, t, off, size: struct.pack("<IIQQQQIIQQ", n, t, 0, 0, off, size, 0, 0, 1, 0)
    else:
        header = ident + struct.pack("<HHIIIIIHHHHHH", 2, 3, 1, 0, 0, table_at, 0, header_size, 0, 0,
                                     entry_size, 3, 1)
        section = lambda n, t, off, size: struct.pack("<IIIIIIIIII", n, t, 0, 0, off, size, 0, 0, 1, 0)
    table = section(0, 0, 0, 0) + section(1, 3, names_at, len(names)) + section(11, 1, icon_at, len(icon))
    body = header + names + icon
    return body + bytes(table_at - len(body)) + table


def write(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def main():
    dibs = {
        "1bpp": dib(16, 16, 1),
        "4bpp": dib(16, 16, 4, seed=1),
        "8bpp": dib(16, 16, 8, seed=2),
        "8bpp_20_colours": dib(16, 16, 8, seed=3, colours_used=20),
        "16bpp_555": dib(16, 16, 16, seed=4),
        "16bpp_565_bitfields": dib(16, 16, 16, seed=5, compression=3, masks=(0xF800, 0x07E0, 0x001F)),
        "24bpp": dib(16, 16, 24, seed=6),
        "32bpp_alpha": dib(16, 16, 32, seed=7, alpha=True),
        "32bpp_no_alpha": dib(16, 16, 32, seed=8),
        "32bpp_v5_bitfields": dib(16, 16, 32, seed=9, compression=3, header_size=124, alpha=True,
                                  masks=(0xFF, 0xFF00, 0xFF0000, 0xFF000000)),
        "32bpp_no_and_mask": dib(16, 16, 32, seed=10, alpha=True, with_mask=False),
        "odd_width_4bpp": dib(13, 7, 4, seed=11),
    }
    for name, data in dibs.items():
        write("dib", name + ".dib", data)

    pngs = {
        "rgba": png(16, 16, "RGBA"),
        "rgb": png(16, 16, "RGB", seed=1),
        "palette_trns": png(16, 16, "P", seed=2),
        "gray": png(16, 16, "L", seed=3),
        "gray_alpha": png(16, 16, "LA", seed=4),
        "gray16": png(16, 16, "I;16", seed=5),
        "bilevel": png(16, 16, "1", seed=6),
        "interlaced": png(16, 16, "RGBA", seed=7, optimize=False, interlace=1),
        "1x1": png(1, 1, "RGBA", seed=8),
        "odd_33x9": png(33, 9, "RGBA", seed=9),
    }
    for name, data in pngs.items():
        write("png", name + ".png", data)

    icos = {
        "one_4bpp.ico": ico([(16, 16, 4, dibs["4bpp"])]),
        "depths.ico": ico([(16, 16, 1, dibs["1bpp"]), (16, 16, 8, dibs["8bpp"]),
                           (16, 16, 24, dibs["24bpp"]), (16, 16, 32, dibs["32bpp_alpha"])]),
        "sizes.ico": ico([(16, 16, 32, dibs["32bpp_alpha"]), (32, 32, 4, dib(32, 32, 4, seed=12)),
                          (24, 24, 8, dib(24, 24, 8, seed=13))]),
        "png_frame.ico": ico([(16, 16, 32, pngs["rgba"]), (16, 16, 8, dibs["8bpp"])]),
        "bitfields.ico": ico([(16, 16, 16, dibs["16bpp_565_bitfields"]),
                              (16, 16, 32, dibs["32bpp_v5_bitfields"])]),
        "pointer.cur": ico([(16, 16, 1, dibs["1bpp"]), (16, 16, 32, dibs["32bpp_alpha"])], kind=2),
    }
    for name, data in icos.items():
        write("ico", name, data)

    anis = {
        "two_frames.ani": ani([icos["pointer.cur"], ico([(16, 16, 4, dibs["4bpp"])], kind=2)]),
        "no_info_no_seq.ani": ani([ico([(16, 16, 8, dibs["8bpp"])], kind=2)], info_first=False,
                                  with_seq=False),
        "png_frame.ani": ani([ico([(16, 16, 32, pngs["palette_trns"])], kind=2)]),
    }
    for name, data in anis.items():
        write("ani", name, data)

    nes = {
        "numbered.icl": ne_file([(1, [dibs["4bpp"], dibs["32bpp_alpha"]]), (7, [dibs["8bpp"]])]),
        "named.icl": ne_file([("APPICON", [dibs["1bpp"], dibs["24bpp"]]), (2, [dibs["16bpp_555"]]),
                              ("\xe9t\xe9", [dibs["odd_width_4bpp"]])], shift=9),
    }
    for name, data in nes.items():
        write("ne", name, data)

    elves = {
        "elf64": elf_file(icos["sizes.ico"], wide=True),
        "elf32": elf_file(icos["one_4bpp.ico"], wide=False),
        "elf64_other_section": elf_file(icos["one_4bpp.ico"], wide=True, name=".pictrove.iconz"),
    }
    for name, data in elves.items():
        write("elf", name, data)

    pes = {}
    small = ico([(16, 16, 4, dibs["4bpp"]), (16, 16, 32, dibs["32bpp_alpha"])])
    for machine, suffix in (("i386", "pe32"), ("x86_64", "pe32plus")):
        built = pe_file([("1", small), ("MAINICON", icos["png_frame.ico"]), ("42", icos["one_4bpp.ico"])],
                        machine)
        if built is None:
            print("MinGW binutils missing: no PE seeds for", machine, file=sys.stderr)
            continue
        pes[suffix + ".dll"] = built
        write("pe", suffix + ".dll", built)

    # Cursor groups beside icon groups, as the test fixtures hold them.
    fixtures = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "data")
    for target, fixture in (("pe", "pe/cursors32.dll"), ("ne", "ne/cursors.exe")):
        with open(os.path.join(fixtures, fixture), "rb") as f:
            write(target, "cursors" + os.path.splitext(fixture)[1], f.read())

    # Settings files, behind the two name lengths the profile target reads first.
    profiles = {
        "plain.ini": ("Options", "Size", b"[Options]\r\nSize=32\r\nPath=C:\\Icons\r\n"),
        "quoted_and_hex.ini": ("view", "color",
                               b"\xef\xbb\xbf[View]\nColor = '$00FF80'\n[view]\ncolor=0x10\n"),
        "numbers.ini": ("a", "n", b"[A]\rn=  -2147483648\rm=+12\r[ a ]\n n =\n"),
    }
    for name, (section, key, text) in profiles.items():
        write("profile", name, bytes([len(section), len(key)]) + section.encode() + key.encode() + text)

    # The whole path: one file of each kind it detects.
    everything = {"sizes.ico": icos["sizes.ico"], "pointer.cur": icos["pointer.cur"],
                  "two_frames.ani": anis["two_frames.ani"], "named.icl": nes["named.icl"],
                  "elf64": elves["elf64"], **pes}
    for name, data in everything.items():
        write("icon_file", name, data)

    for target in sorted(os.listdir(CORPUS)):
        folder = os.path.join(CORPUS, target)
        sizes = [os.path.getsize(os.path.join(folder, f)) for f in os.listdir(folder)]
        print("%-10s %2d seeds, largest %d bytes" % (target, len(sizes), max(sizes)))


if __name__ == "__main__":
    main()
