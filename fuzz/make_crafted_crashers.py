#!/usr/bin/python3
"""Writes the hostile inputs that are too large for the fuzzers to stumble on.

Executables let many directory entries share one piece of data. A few hundred
kilobytes can so name tens of thousands of icon groups that all point at the
same group directory, itself listing thousands of images; or tens of
thousands of resources that all point at one language directory of tens of
thousands of entries; or name one large image, or one that fails to decode
only after all its pixels were inflated, over and over. Each input here must
be read and shown in bounded time and memory. They go to fuzz/crashers/,
where ctest replays them in every build; the tests make the larger ones with
work_bombs() as they need them.
"""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))

SECTION_RVA = 0x1000
RAW_OFFSET = 0x200


def tiny_dib():
    """A 1 x 1, 32-bit icon bitmap: header, one pixel, one AND row."""
    return struct.pack("<IiiHHIIiiII", 40, 1, 2, 1, 32, 0, 0, 0, 0, 0, 0) + b"\x10\x20\x30\xff" + bytes(4)


def png(side, broken=False):
    """A side x side RGBA PNG of one grey, a few kilobytes however large.
    `broken` spoils the checksum of the compressed rows, which a decoder
    sees only after it has inflated every one of them."""
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    rows = zlib.compress((b"\0" + b"\x80\x80\x80\xff" * side) * side, 9)
    if broken:
        rows = rows[:-4] + bytes(b ^ 0xFF for b in rows[-4:])
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", side, side, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", rows) + chunk(b"IEND", b""))


def big_dib(side):
    """A side x side, 32-bit icon bitmap: 4 bytes a pixel, then the AND rows."""
    header = struct.pack("<IiiHHIIiiII", 40, side, 2 * side, 1, 32, 0, 0, 0, 0, 0, 0)
    return header + b"\x40\x80\xc0\xff" * (side * side) + bytes((side + 31) // 32 * 4 * side)


def group_directory(count, ident=1):
    out = struct.pack("<HHH", 0, 1, count)
    return out + struct.pack("<BBBBHHIH", 1, 1, 0, 0, 1, 32, 48, ident) * count


def directory(entries):
    """IMAGE_RESOURCE_DIRECTORY with ID entries of (id, target)."""
    out = struct.pack("<IIHHHH", 0, 0, 0, 0, 0, len(entries))
    return out + b"".join(struct.pack("<II", ident, target) for ident, target in entries)


def pe_with_resources(build_tree):
    """A PE32 file whose only section holds the resource tree that
    `build_tree(rva)` returns for a section mapped at `rva`."""
    tree = build_tree(SECTION_RVA)
    raw_size = (len(tree) + 0x1FF) // 0x200 * 0x200
    mz = bytearray(0x40)
    mz[0:2] = b"MZ"
    struct.pack_into("<I", mz, 0x3C, 0x40)
    coff = b"PE\0\0" + struct.pack("<HHIIIHH", 0x14C, 1, 0, 0, 0, 0xE0, 0x2102)
    optional = bytearray(0xE0)
    struct.pack_into("<H", optional, 0, 0x10B)
    struct.pack_into("<I", optional, 92, 16)  # data directories
    struct.pack_into("<II", optional, 96 + 2 * 8, SECTION_RVA, len(tree))
    section = b".rsrc\0\0\0" + struct.pack("<IIII", raw_size, SECTION_RVA, raw_size, RAW_OFFSET) + bytes(16)
    head = bytes(mz) + coff + bytes(optional) + section
    return head + bytes(RAW_OFFSET - len(head)) + tree + bytes(raw_size - len(tree))


def shared_groups_tree(groups, images_per_group, image=None):
    """`groups` group resources, all with the same group directory of
    `images_per_group` entries, all naming the one icon (`image`, by default
    a 1 x 1 bitmap)."""
    image = image or tiny_dib()

    def build(rva):
        root_size = 16 + 2 * 8
        icons = root_size
        icon_languages = icons + 16 + 8
        icon_data_entry = icon_languages + 16 + 8
        group_dir = icon_data_entry + 16
        group_languages = group_dir + 16 + 8 * groups
        group_data_entry = group_languages + 16 + 8
        icon_bytes = group_data_entry + 16
        group_bytes = icon_bytes + (len(image) + 3) // 4 * 4
        sub = 0x80000000
        tree = directory([(3, sub | icons), (14, sub | group_dir)])
        tree += directory([(1, sub | icon_languages)])
        tree += directory([(0x409, icon_data_entry)])
        tree += struct.pack("<IIII", rva + icon_bytes, len(image), 0, 0)
        tree += directory([(i + 1, sub | group_languages) for i in range(groups)])
        tree += directory([(0x409, group_data_entry)])
        directory_bytes = group_directory(images_per_group)
        tree += struct.pack("<IIII", rva + group_bytes, len(directory_bytes), 0, 0)
        tree += image + bytes(group_bytes - icon_bytes - len(image)) + directory_bytes
        return tree
    return build


def shared_languages_tree(resources, languages):
    """`resources` icons and groups whose names all lead to one language
    directory of `languages` entries."""
    def build(rva):
        sub = 0x80000000
        icons = 16 + 2 * 8
        groups = icons + 16 + 8 * resources
        icon_languages = groups + 16 + 8 * resources
        icon_data_entry = icon_languages + 16 + 8 * languages
        group_languages = icon_data_entry + 16
        group_data_entry = group_languages + 16 + 8 * languages
        icon_bytes = group_data_entry + 16
        group_bytes = icon_bytes + len(tiny_dib())
        tree = directory([(3, sub | icons), (14, sub | groups)])
        tree += directory([(i + 1, sub | icon_languages) for i in range(resources)])
        tree += directory([(i + 1, sub | group_languages) for i in range(resources)])
        tree += directory([(0x409, icon_data_entry)] * languages)
        tree += struct.pack("<IIII", rva + icon_bytes, len(tiny_dib()), 0, 0)
        tree += directory([(0x409, group_data_entry)] * languages)
        directory_bytes = group_directory(1)
        tree += struct.pack("<IIII", rva + group_bytes, len(directory_bytes), 0, 0)
        tree += tiny_dib() + directory_bytes
        return tree
    return build


def ne_shared_groups(groups, images_per_group, shift=4):
    """An NE file whose `groups` group resources all cover the same group
    directory of `images_per_group` entries naming the one icon."""
    table_offset = 0x40
    table_size = 2 + (8 + 12) + (8 + 12 * groups) + 2 + 1
    align = 1 << shift
    start = (0x80 + table_size + align - 1) // align * align
    icon = tiny_dib()
    group_at = (start + len(icon) + align - 1) // align * align
    directory_bytes = group_directory(images_per_group)
    table = struct.pack("<H", shift)
    table += struct.pack("<HHI", 0x8003, 1, 0)
    table += struct.pack("<HHHHHH", start >> shift, (len(icon) + align - 1) >> shift, 0x1C30, 0x8001, 0, 0)
    table += struct.pack("<HHI", 0x800E, groups, 0)
    length = (len(directory_bytes) + align - 1) >> shift
    table += b"".join(struct.pack("<HHHHHH", group_at >> shift, length, 0x1C30, 0x8000 | (i % 0x7FFF + 1),
                                  0, 0) for i in range(groups))
    table += b"\0\0\0"
    mz = bytearray(0x40)
    mz[0:2] = b"MZ"
    struct.pack_into("<I", mz, 0x3C, 0x40)
    ne = bytearray(0x40)
    ne[0:2] = b"NE"
    struct.pack_into("<H", ne, 0x24, table_offset)
    out = bytes(mz) + bytes(ne) + table
    out += bytes(start - len(out)) + icon
    out += bytes(group_at - len(out)) + directory_bytes
    return out


def work_bombs(big=True):
    """Small files that name one costly image many times, by name: each
    would take minutes to hours where an image is decoded for every time it
    is named. The 4 MB bitmap ones only with `big`."""
    bombs = {
        # One group naming a 1024 x 1024 PNG that fails late 1,000 times: 19 KB.
        "work-failing-png.dll": pe_with_resources(shared_groups_tree(1, 1000, png(1024, broken=True))),
        # 500 groups sharing one sound 1024 x 1024 PNG: 9 KB.
        "work-shared-png.dll": pe_with_resources(shared_groups_tree(500, 1, png(1024))),
    }
    if big:
        # A 4 MB bitmap, in 62 groups, and named 62 and 63 times by one
        # group (63 pass the size a group file may have).
        dib = big_dib(1024)
        bombs["work-bitmap-groups.dll"] = pe_with_resources(shared_groups_tree(62, 1, dib))
        bombs["work-bitmap-62.dll"] = pe_with_resources(shared_groups_tree(1, 62, dib))
        bombs["work-bitmap-63.dll"] = pe_with_resources(shared_groups_tree(1, 63, dib))
    return bombs


def svg_fan_out():
    """An SVG whose every level uses the one below ten times: ten to the
    ninth shapes to draw, in 1 KB."""
    body = '<defs><path id="l0" d="M0 0 L64 64 L0 64 Z" fill="#f00" fill-opacity="0.01"/>'
    for level in range(1, 10):
        body += f'<g id="l{level}">' + f'<use xlink:href="#l{level - 1}"/>' * 10 + "</g>"
    return ('<svg xmlns="http://www.w3.org/2000/svg" xmlns:xlink="http://www.w3.org/1999/xlink" '
            'width="64" height="64">' + body + '</defs><use xlink:href="#l9"/></svg>')


def svg_appimage(folder, svg):
    """A type-2 AppImage in `folder` whose desktop file's icon is `svg`:
    mksquashfs's image behind a copy of a real program with the AppImage
    mark. Its path."""
    import shutil
    import subprocess
    import tempfile
    with tempfile.TemporaryDirectory() as work:
        app = os.path.join(work, "app")
        os.makedirs(app)
        with open(os.path.join(app, "app.desktop"), "w") as f:
            f.write("[Desktop Entry]\nType=Application\nName=App\nExec=app\nIcon=app\n")
        with open(os.path.join(app, "app.svg"), "w") as f:
            f.write(svg)
        image = os.path.join(work, "image.sqfs")
        subprocess.run([shutil.which("mksquashfs") or "/usr/bin/mksquashfs", app, image, "-quiet",
                        "-noappend", "-all-root", "-no-progress"], check=True, stdout=subprocess.DEVNULL)
        with open("/bin/true", "rb") as f:
            runtime = bytearray(f.read())
        runtime[8:11] = b"AI\x02"
        target = os.path.join(folder, "app.AppImage")
        with open(target, "wb") as f, open(image, "rb") as g:
            f.write(runtime + g.read())
    return target


def write(target, name, data):
    folder = os.path.join(HERE, "crashers", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)
    print("%s/%s: %d bytes" % (target, name, len(data)))


def main():
    # 65535 groups x 2048 images: about 134 million image records unbounded.
    shared_groups = pe_with_resources(shared_groups_tree(65535, 2048))
    write("pe", "crafted-shared-group-directory.dll", shared_groups)
    write("icon_file", "crafted-shared-group-directory.dll", shared_groups)
    # 32768 names x 32768 languages, twice: two billion directory entries read.
    shared_languages = pe_with_resources(shared_languages_tree(32768, 32768))
    write("pe", "crafted-shared-language-directory.dll", shared_languages)
    # 40000 groups x 4096 images.
    shared_ne = ne_shared_groups(40000, 4096)
    write("ne", "crafted-shared-group-directory.icl", shared_ne)
    write("icon_file", "crafted-shared-group-directory.icl", shared_ne)
    for name, data in work_bombs(big=False).items():
        write("icon_file", name, data)


if __name__ == "__main__":
    main()
