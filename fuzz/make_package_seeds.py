#!/usr/bin/python3
"""Writes the seed corpus of the readers of application packages and macOS
icon files into fuzz/corpus/<target>/.

Each seed is small and packed by hand, one per path a reader branches on, so
that the fuzzers start inside the formats instead of guessing their magic
numbers. Pillow encodes the PNG pictures, wixl (msitools) makes the installer
databases, mksquashfs the AppImages' images and Python's zipfile packs the
app packages. Run it again after
changing it; the output is the same but for the times wixl stamps in.
"""
import io
import os
import shutil
import struct
import subprocess
import tempfile
import zipfile

from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")


def png(side, seed=0):
    image = Image.new("RGBA", (side, side))
    image.putdata([((x * 37 + seed) & 0xFF, (y * 53) & 0xFF, (x ^ y) & 0xFF, 255 if (x + y) % 5 else 0)
                   for y in range(side) for x in range(side)])
    out = io.BytesIO()
    image.save(out, "PNG")
    return out.getvalue()


def packbits(plane):
    """Runs of one value as repeats, the rest as literal bytes."""
    out, i = bytearray(), 0
    while i < len(plane):
        run = 1
        while i + run < len(plane) and run < 130 and plane[i + run] == plane[i]:
            run += 1
        if run >= 3:
            out += bytes([run + 125, plane[i]])
            i += run
            continue
        start = i
        while i < len(plane) and i - start < 128 and not (
                i + 2 < len(plane) and plane[i] == plane[i + 1] == plane[i + 2]):
            i += 1
        out += bytes([i - start - 1]) + bytes(plane[start:i])
    return bytes(out)


def planes(side, seed=0):
    pixels = [(x * 16 + seed, y * 16, 0x80 if x < side // 2 else x) for y in range(side) for x in range(side)]
    return [bytes(p[c] & 0xFF for p in pixels) for c in range(3)]


def icns(members):
    body = b"".join(t + struct.pack(">I", len(d) + 8) + d for t, d in members)
    return b"icns" + struct.pack(">I", len(body) + 8) + body


def codestream(side):
    """A bare JPEG 2000 codestream: one grey component, one empty packet."""
    siz = struct.pack(">HH8IH3B", 41, 0, side, side, 0, 0, side, side, 0, 0, 1, 7, 1, 1)
    return (b"\xff\x4f\xff\x51" + siz + bytes([0xFF, 0x52, 0, 12, 0, 0, 0, 1, 0, 0, 2, 2, 0, 1]) +
            bytes([0xFF, 0x5C, 0, 4, 0x40, 0x48]) +
            bytes([0xFF, 0x90, 0, 10, 0, 0, 0, 0, 0, 15, 0, 1, 0xFF, 0x93, 0, 0xFF, 0xD9]))


def box(kind, body):
    return struct.pack(">I", len(body) + 8) + kind + body


def jp2(stream):
    """A JP2 file of a codestream, its size in the image header box."""
    side = struct.unpack(">I", stream[8:12])[0]
    header = box(b"ihdr", struct.pack(">IIHBBBB", side, side, 1, 7, 7, 0, 0)) + box(b"colr", bytes([1, 0, 0, 0, 0, 0, 17]))
    return (box(b"jP  ", b"\r\n\x87\n") + box(b"ftyp", b"jp2 \0\0\0\0jp2 ") + box(b"jp2h", header) +
            box(b"jp2c", stream))


def icns_seeds():
    mask = bytes((x * 16) & 0xFF for x in range(256))
    small = b"".join(packbits(p) for p in planes(16))
    large = b"\0\0\0\0" + b"".join(packbits(p) for p in planes(128, 3))
    argb = b"ARGB" + packbits(mask) + b"".join(packbits(p) for p in planes(16, 9))
    raw = b"".join(bytes([0, r, g, b]) for r, g, b in zip(*planes(16, 5)))
    return {
        "rgb_and_mask.icns": icns([(b"is32", small), (b"s8mk", mask)]),
        "it32.icns": icns([(b"it32", large), (b"t8mk", bytes(128 * 128))]),
        "argb.icns": icns([(b"ic04", argb), (b"ic05", b"ARGB" + packbits(bytes(1024)) * 4)]),
        "unpacked.icns": icns([(b"TOC ", bytes(8)), (b"is32", raw)]),
        "png.icns": icns([(b"icp4", png(16)), (b"ic11", png(32, 1))]),
        "jpeg2000.icns": icns([(b"ic08", codestream(16)), (b"il32", b"".join(packbits(p) for p in planes(32)))]),
        "jp2.icns": icns([(b"ic09", jp2(codestream(24)))]),
        "classic.icns": icns([(b"ICN#", bytes(range(128)) + bytes(128 * [0xF0])), (b"icl4", bytes(range(256)) * 2),
                              (b"ics8", bytes(range(256))), (b"icm#", bytes(48)), (b"icm4", bytes(96)),
                              (b"ich8", bytes(2304))]),
    }


PRODUCT = """<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="01234567-89ab-4def-8123-456789abcdef" Name="Seed" Language="1033" Version="1.0.0"
           Manufacturer="Pictrove" UpgradeCode="5d8a3c36-7f0e-4c55-9a1e-2b8f6f0c1a02">
    <Package Id="11234567-89ab-4def-8123-456789abcdef" InstallerVersion="200" Compressed="yes" />
    {icons}
    <Directory Id="TARGETDIR" Name="SourceDir" />
  </Product>
</Wix>
"""


def msi_seeds():
    """Installer databases by wixl (msitools), when it is at hand: an icon
    file, a program, the product's icon named, and no icons at all."""
    if not shutil.which("wixl"):
        print("wixl is missing: no installer database seeds")
        return {}
    data = os.path.join(HERE, "..", "tests", "data")
    variants = {
        "icon.msi": '<Icon Id="a.ico" SourceFile="small.ico" />',
        "program.msi": '<Icon Id="p.exe" SourceFile="program.dll" />',
        "product.msi": '<Icon Id="a.ico" SourceFile="small.ico" /><Icon Id="b.ico" SourceFile="small.ico" />'
                       '<Property Id="ARPPRODUCTICON" Value="b.ico" />',
        "none.msi": "",
    }
    seeds = {}
    with tempfile.TemporaryDirectory() as work:
        shutil.copy(os.path.join(data, "ico", "bpp1.ico"), os.path.join(work, "small.ico"))
        shutil.copy(os.path.join(data, "pe", "three32.dll"), os.path.join(work, "program.dll"))
        for name, icons in variants.items():
            with open(os.path.join(work, "seed.wxs"), "w") as f:
                f.write(PRODUCT.format(icons=icons))
            subprocess.run(["wixl", "-o", name, "seed.wxs"], cwd=work, check=True, capture_output=True)
            with open(os.path.join(work, name), "rb") as f:
                seeds[name] = f.read()
    return seeds


APPX_MANIFEST = (
    '<?xml version="1.0"?><Package xmlns="http://schemas.microsoft.com/appx/manifest/foundation/windows10" '
    'xmlns:uap="http://schemas.microsoft.com/appx/manifest/uap/windows10"><Properties><Logo>Assets\\Logo.png</Logo>'
    '</Properties><Applications><Application Id="A"><uap:VisualElements Square44x44Logo="Assets\\Small.png">'
    '<uap:DefaultTile Wide310x150Logo="Wide.png"/></uap:VisualElements></Application></Applications></Package>')


def zipped(members, stored=False):
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w", zipfile.ZIP_STORED if stored else zipfile.ZIP_DEFLATED) as archive:
        for name, data in members:
            info = zipfile.ZipInfo(name, date_time=(2020, 1, 1, 0, 0, 0))
            info.compress_type = archive.compression
            archive.writestr(info, data)
    return out.getvalue()


def appx_seeds():
    package = zipped([("AppxManifest.xml", APPX_MANIFEST), ("Assets/Logo.png", png(16)),
                      ("Assets/Logo.scale-200.png", png(32, 1)), ("Assets/scale-400/Logo.png", png(8, 2)),
                      ("Assets/Small.targetsize-24_altform-unplated.png", png(24, 3)), ("Wide.png", png(4, 4))])
    name = "App.msix"
    bundle_manifest = ('<Bundle xmlns="http://schemas.microsoft.com/appx/2013/bundle"><Packages>'
                       f'<Package Type="application" FileName="{name}" Offset="{30 + len(name)}" '
                       f'Size="{len(package)}"/></Packages></Bundle>')
    scaled = zipped([("AppxManifest.xml", "<Package/>"), ("Assets/Logo.scale-100.png", png(8, 5)),
                     ("Assets/scale-200/Small.png", png(12, 6))], stored=True)
    resources = (f'<Package Type="application" FileName="{name}" Offset="{30 + len(name)}" Size="{len(package)}"/>'
                 f'<Package Type="resource" FileName="Res.msix" Offset="{60 + len(name) + len("Res.msix") + len(package)}"'
                 f' Size="{len(scaled)}"/>')
    return {
        "resources.msixbundle": zipped([(name, package), ("Res.msix", scaled), (
            "AppxMetadata/AppxBundleManifest.xml",
            f'<Bundle xmlns="http://schemas.microsoft.com/appx/2013/bundle"><Packages>{resources}</Packages></Bundle>')],
            stored=True),
        "package.msix": package,
        "stored.appx": zipped([("AppxManifest.xml", APPX_MANIFEST), ("Assets/Logo.png", png(16))], stored=True),
        "bundle.msixbundle": zipped([(name, package), ("AppxMetadata/AppxBundleManifest.xml", bundle_manifest)],
                                    stored=True),
        "plain.zip": zipped([("readme.txt", "no package")]),
        # Logos named without an extension, and through an entity.
        "no_extension.msix": zipped([("AppxManifest.xml", APPX_MANIFEST.replace(".png", "")),
                                     ("Assets/Logo.scale-200.png", png(16)), ("Assets/Small.png", png(8, 1))]),
        "entity.msix": zipped([("AppxManifest.xml", APPX_MANIFEST.replace(
            "<Package ", '<!DOCTYPE Package [<!ENTITY logo "Assets\\Logo">]><Package ').replace(
            "Assets\\Logo.png", "&logo;")), ("Assets/Logo.png", png(16))]),
    }


def elf_runtime():
    """The smallest ELF the seeds need: a 64-bit header with the AppImage
    mark and no section headers, so that the image follows at once."""
    header = bytearray(64)
    header[0:4] = b"\x7fELF"
    header[4:7] = bytes([2, 1, 1])
    header[8:11] = b"AI\x02"
    struct.pack_into("<HHIQQQIHHHHHH", header, 16, 2, 62, 1, 0, 0, 64, 0, 64, 0, 0, 64, 0, 0)
    return bytes(header)


def iso_appimage(work, folder):
    """A type 1 AppImage: genisoimage's ISO 9660 image of `folder`, unpadded,
    dated 0, with the runtime's header in its system area."""
    header = bytearray(elf_runtime())
    header[8:11] = b"AI\x01"
    system_area = os.path.join(work, "system_area")
    with open(system_area, "wb") as f:
        f.write(header)
    image = os.path.join(work, "type1.iso")
    environment = dict(os.environ, SOURCE_DATE_EPOCH="0")
    subprocess.run(["genisoimage", "-quiet", "-no-pad", "-R", "-G", system_area, "-o", image, folder],
                   check=True, capture_output=True, env=environment)
    with open(image, "rb") as f:
        return f.read()


def appimage_seeds():
    """AppImages of mksquashfs images, when it is at hand: a linked
    .DirIcon and a .desktop icon of several sizes, one of them SVG."""
    if not shutil.which("mksquashfs"):
        print("mksquashfs is missing: no AppImage seeds")
        return {}
    svg = b'<svg xmlns="http://www.w3.org/2000/svg" width="8" height="8"><rect width="6" height="5" fill="#c33"/></svg>'
    variants = {
        "linked.AppImage": {".DirIcon": "icons/app.png", "icons/app.png": png(16)},
        "desktop.AppImage": {"app.desktop": b"[Desktop Entry]\nIcon=app\n", "app.svg": svg,
                             "usr/share/icons/hicolor/16x16/apps/app.png": png(16, 1), ".DirIcon": png(8, 2)},
        "gzip.AppImage": {".DirIcon": png(4, 3)},
    }
    if shutil.which("genisoimage"):
        variants["type1.AppImage"] = {"app.desktop": b"[Desktop Entry]\nIcon=app\n", "app.svg": svg,
                                      "usr/share/icons/hicolor/16x16/apps/app.png": png(16, 1),
                                      ".DirIcon": "usr/share/icons/hicolor/16x16/apps/app.png"}
    else:
        print("genisoimage is missing: no type 1 AppImage seed")
    seeds = {}
    with tempfile.TemporaryDirectory() as work:
        for name, files in variants.items():
            folder = os.path.join(work, name + ".d")
            for path, content in files.items():
                target = os.path.join(folder, path)
                os.makedirs(os.path.dirname(target), exist_ok=True)
                if isinstance(content, str):
                    os.symlink(content, target)
                else:
                    with open(target, "wb") as f:
                        f.write(content)
            if name.startswith("type1"):
                seeds[name] = iso_appimage(work, folder)
                continue
            image = os.path.join(work, name + ".sqfs")
            compression = ["-comp", "gzip"] if name.startswith("gzip") else ["-comp", "xz"]
            subprocess.run(["mksquashfs", folder, image, "-quiet", "-noappend", "-all-root", "-no-progress",
                            "-mkfs-time", "0", "-all-time", "0", "-nopad", *compression], check=True, capture_output=True)
            with open(image, "rb") as f:
                seeds[name] = elf_runtime() + f.read()
    return seeds


def write(target, seeds):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


def main():
    write("icns", icns_seeds())
    write("msi", msi_seeds())
    write("appx", appx_seeds())
    write("appimage", appimage_seeds())


if __name__ == "__main__":
    main()
