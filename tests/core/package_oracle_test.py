#!/usr/bin/python3
"""Checks pictrove-cli on files made by Debian's own makers against what
Debian's own readers take out of them: for each kind in KINDS, a fixture is
made at test time, and every image pictrove-cli extracts must have the pixels
the reader extracts (colour where a pixel is not wholly transparent, alpha
everywhere), in the icons and order the reader gives.

    package_oracle_test.py --cli PATH --kind NAME

Exits 77 (ctest's skip) when a maker, a reader or Pillow is missing.
"""

import argparse
import glob
import io
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

SKIP = 77
DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data")

try:
    from PIL import Image
except ImportError:
    print("Pillow is missing")
    sys.exit(SKIP)


def picture(side, seed):
    """RGBA of `side` pixels a side whose every pixel differs from its
    neighbours, with opaque, half and wholly transparent ones."""
    image = Image.new("RGBA", (side, side))
    image.putdata([((x * 7 + seed) & 0xFF, (y * 5 + seed) & 0xFF, (x * y) & 0xFF,
                    0 if (x + y) % 9 == 0 else 255 if x % 3 else 128)
                   for y in range(side) for x in range(side)])
    return image


def run(*args, cwd=None):
    result = subprocess.run(args, capture_output=True, cwd=cwd)
    if result.returncode != 0:
        raise RuntimeError(f"{args}: exit {result.returncode}: {result.stderr.decode(errors='replace')}")
    return result.stdout


def rgba(path):
    with Image.open(path) as image:
        return image.convert("RGBA")


# --- the kinds: each makes a file and says which icons a reader finds in it -

def make_icns(work):
    sides = (16, 32, 48, 128, 256, 512)
    names = []
    for side in sides:
        names.append(os.path.join(work, f"p{side}.png"))
        picture(side, side).save(names[-1])
    target = os.path.join(work, "made.icns")
    run("png2icns", target, *names)
    add_classic_members(target)
    return target


# The classic members png2icns cannot write: 1-bit pictures with their masks,
# 4- and 8-bit pictures, of each size (width, height).
CLASSIC = [(("ICN#", "icl4", "icl8"), (32, 32)), (("ics#", "ics4", "ics8"), (16, 16)),
           (("icm#", "icm4", "icm8"), (16, 12)), (("ich#", "ich4", "ich8"), (48, 48))]


def add_classic_members(path):
    """Appends the classic members of scrambled bits to an icon file."""
    with open(path, "rb") as f:
        data = bytearray(f.read())
    state = 12345

    def scrambled(count):
        nonlocal state
        out = bytearray()
        for _ in range(count):
            state = (state * 1103515245 + 12345) & 0x7FFFFFFF
            out.append(state >> 16 & 0xFF)
        return bytes(out)
    for types, (width, height) in CLASSIC:
        pixels = width * height
        for kind, length in zip(types, (pixels // 4, pixels // 2, pixels)):
            data += kind.encode() + struct.pack(">I", 8 + length) + scrambled(length)
    data[4:8] = struct.pack(">I", len(data))
    with open(path, "wb") as f:
        f.write(data)


def read_icns(work, path):
    """icns2png takes out every member as a PNG named after its size."""
    out = os.path.join(work, "icns2png")
    os.mkdir(out)
    run("icns2png", "-x", "-o", out, path)
    found = sorted(glob.glob(os.path.join(out, "*.png")),
                   key=lambda name: int(re.search(r"_(\d+)x\d+x\d+\.png$", name).group(1)))
    return [[rgba(name) for name in found]]


WXS = """<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="*" Name="Icons" Language="1033" Version="1.0.0" Manufacturer="Pictrove tests"
           UpgradeCode="5d8a3c36-7f0e-4c55-9a1e-2b8f6f0c1a01">
    <Package InstallerVersion="200" Compressed="yes" />
    <Icon Id="plain.ico" SourceFile="{small}" />
    <Icon Id="product.ico" SourceFile="{large}" />
    <Icon Id="program.exe" SourceFile="{program}" />
    <Property Id="ARPPRODUCTICON" Value="product.ico" />
    <Directory Id="TARGETDIR" Name="SourceDir" />
  </Product>
</Wix>
"""


def make_msi(work):
    """wixl's database: two icon files and a program in the Icon table."""
    files = {"small": "ico/bpp1.ico", "large": "ico/multi.ico", "program": "pe/three32.dll"}
    for key, name in files.items():
        shutil.copy(os.path.join(DATA, name), os.path.join(work, key))
    with open(os.path.join(work, "product.wxs"), "w") as f:
        f.write(WXS.format(**{key: key for key in files}))
    run("wixl", "-o", "made.msi", "product.wxs", cwd=work)
    return os.path.join(work, "made.msi")


def ico_frames(data):
    from PIL import IcoImagePlugin
    ico = IcoImagePlugin.IcoFile(io.BytesIO(data))
    return [ico.frame(n).convert("RGBA") for n in range(len(ico.entry))]


def read_msi(work, path):
    """msiinfo gives the tables and the streams; a program's first icon is
    what wrestool takes out of it."""
    def rows(table):
        # Binary columns are written to a folder of the table's name, in the work folder.
        listing = run("msiinfo", "export", path, table, cwd=work)
        return [line.split("\t") for line in listing.decode().splitlines()[3:]]
    product = dict(rows("Property")).get("ARPPRODUCTICON")
    names = [row[0] for row in rows("Icon")]
    names.sort(key=lambda name: name != product)
    icons = []
    for name in names:
        data = run("msiinfo", "extract", path, "Icon." + name)
        if data[:2] == b"MZ":
            program = os.path.join(work, name)
            with open(program, "wb") as f:
                f.write(data)
            first = re.search(rb"--name=('?)(.*?)\1 ", run("wrestool", "-l", "-t14", program)).group(2)
            data = run("wrestool", "-x", "-t14", b"--name=" + first, program)
        icons.append(ico_frames(data))
    return icons


MANIFEST = """<?xml version="1.0" encoding="utf-8"?>
<Package xmlns="http://schemas.microsoft.com/appx/manifest/foundation/windows10"
         xmlns:uap="http://schemas.microsoft.com/appx/manifest/uap/windows10">
  <Identity Name="Pictrove.Test" Publisher="CN=Pictrove" Version="1.0.0.0" />
  <Properties>
    <DisplayName>Icons</DisplayName>
    <PublisherDisplayName>Pictrove tests</PublisherDisplayName>
    <Logo>Assets\\StoreLogo.png</Logo>
  </Properties>
  <Applications>
    <Application Id="App" Executable="App.exe" EntryPoint="App.App">
      <uap:VisualElements DisplayName="Icons" Description="Icons" BackgroundColor="transparent"
                          Square150x150Logo="Images\\Tile.png" Square44x44Logo="Assets\\Small.png" />
    </Application>
  </Applications>
</Package>
"""

# Each logo's variants in the package, by the side of their picture.
LOGOS = [
    ("StoreLogo", {"Assets/StoreLogo.png": 50, "Assets/StoreLogo.scale-200.png": 100}),
    ("Tile", {"Images/Tile.scale-100.png": 150, "Images/scale-200/Tile.png": 300}),
    ("Small", {"Assets/Small.targetsize-16.png": 16, "Assets/Small.targetsize-48_altform-unplated.png": 48}),
]


def package_of(work, name, manifest, variants, seed=0):
    """zip's package of a manifest and pictures of the sides `variants`
    gives by name."""
    folder = os.path.join(work, name + ".folder")
    os.makedirs(folder)
    for offset, (member, side) in enumerate(variants.items()):
        os.makedirs(os.path.join(folder, os.path.dirname(member)), exist_ok=True)
        picture(side, seed + offset * 40 + side).save(os.path.join(folder, member))
    with open(os.path.join(folder, "AppxManifest.xml"), "w") as f:
        f.write(manifest)
    target = os.path.join(work, name)
    run("zip", "-qrX", target, ".", cwd=folder)
    return target


def make_msix(work):
    """zip's package of a manifest, every logo variant, and a file that is
    none of them."""
    variants = {name: side for _, each in LOGOS for name, side in each.items()}
    variants["Assets/StoreLogoOld.png"] = 20
    return package_of(work, "made.msix", MANIFEST, variants)


def read_msix(work, path, logos=LOGOS):
    """unzip gives each variant's bytes."""
    return [[Image.open(io.BytesIO(run("unzip", "-p", path, name))).convert("RGBA") for name in variants]
            for _, variants in logos]


def bundle_of(work, packages):
    """A bundle of packages (name, path, type) stored as they are, its
    manifest last, naming the place of each."""
    folder = os.path.join(work, "bundle")
    os.makedirs(os.path.join(folder, "AppxMetadata"))
    listed, offset = [], 0
    for name, path, kind in packages:
        shutil.copy(path, os.path.join(folder, name))
        size = os.path.getsize(path)
        offset += 30 + len(name)  # behind the local header, which zip -X gives no extra field
        listed.append(f'<Package Type="{kind}" Version="1.0.0.0" FileName="{name}" '
                      f'Offset="{offset}" Size="{size}" />')
        offset += size
    with open(os.path.join(folder, "AppxMetadata", "AppxBundleManifest.xml"), "w") as f:
        f.write('<?xml version="1.0" encoding="UTF-8"?>\n'
                '<Bundle xmlns="http://schemas.microsoft.com/appx/2013/bundle" SchemaVersion="5.0">'
                '<Identity Name="Pictrove.Test" Publisher="CN=Pictrove" Version="1.0.0.0" /><Packages>'
                + "".join(listed) + '</Packages></Bundle>')
    target = os.path.join(work, "made.msixbundle")
    run("zip", "-qX0", target, *[name for name, _, _ in packages], "AppxMetadata/AppxBundleManifest.xml",
        cwd=folder)
    return target


def make_bundle(work):
    """A bundle holding the package uncompressed as its first member, the
    place its manifest gives."""
    return bundle_of(work, [("App_x64.msix", make_msix(work), "application")])


def unzipped(work, path, name):
    """A member of a bundle, taken out by unzip."""
    target = os.path.join(work, "unzipped." + name)
    with open(target, "wb") as f:
        f.write(run("unzip", "-p", path, name))
    return target


def read_bundle(work, path):
    """unzip takes the package out, and its variants out of it."""
    return read_msix(work, unzipped(work, path, "App_x64.msix"))


# The logos of a bundle whose application package holds them at scale 100
# and whose resource package holds them at scale 200: (name, the
# application package's variants, the resource package's).
SCALED_LOGOS = [
    ("StoreLogo", {"Assets/StoreLogo.scale-100.png": 50}, {"Assets/StoreLogo.scale-200.png": 100}),
    ("Tile", {"Images/Tile.scale-100.png": 150}, {"Images/scale-200/Tile.png": 300}),
    ("Small", {"Assets/Small.scale-100.png": 44}, {"Assets/Small.scale-200.png": 88}),
]
RESOURCE_MANIFEST = """<?xml version="1.0" encoding="utf-8"?>
<Package xmlns="http://schemas.microsoft.com/appx/manifest/foundation/windows10">
  <Identity Name="Pictrove.Test" Publisher="CN=Pictrove" Version="1.0.0.0" ResourceId="scale-200" />
  <Properties><DisplayName>Icons</DisplayName><PublisherDisplayName>Pictrove tests</PublisherDisplayName>
    <Logo>Assets\\StoreLogo.png</Logo></Properties>
  <Resources><Resource uap:Scale="200" xmlns:uap="http://schemas.microsoft.com/appx/manifest/uap/windows10" />
  </Resources>
</Package>
"""


def make_resource_bundle(work):
    """A bundle of an application package and a resource package, each
    made by zip, and a language package without pictures."""
    app = package_of(work, "app.msix", MANIFEST, {k: v for _, each, _ in SCALED_LOGOS for k, v in each.items()})
    scaled = package_of(work, "scale.msix", RESOURCE_MANIFEST,
                        {k: v for _, _, each in SCALED_LOGOS for k, v in each.items()}, seed=7)
    language = package_of(work, "language.msix", RESOURCE_MANIFEST.replace("scale-200", "language-de"), {})
    return bundle_of(work, [("App_x64.msix", app, "application"), ("App_scale-200.msix", scaled, "resource"),
                            ("App_language-de.msix", language, "resource")])


def read_resource_bundle(work, path):
    """unzip takes both packages out, and the variants out of each."""
    app = read_msix(work, unzipped(work, path, "App_x64.msix"), [(n, a) for n, a, _ in SCALED_LOGOS])
    scaled = read_msix(work, unzipped(work, path, "App_scale-200.msix"), [(n, r) for n, _, r in SCALED_LOGOS])
    return [mine + theirs for mine, theirs in zip(app, scaled)]


SVG = """<svg xmlns="http://www.w3.org/2000/svg" width="64" height="64" viewBox="0 0 64 64">
<circle cx="32" cy="32" r="27" fill="#3a7"/><rect x="9" y="11" width="21" height="17" fill="#c33" opacity="0.6"/>
<path d="M40 8 L58 40 L36 52 Z" fill="#24c" fill-opacity="0.8" stroke="#000" stroke-width="1.5"/></svg>
"""
THEME_SIDES = (16, 24, 32, 48, 64, 128, 256, 512)


def appimage_folder(work):
    """An application folder: .DirIcon links to the icon beside the .desktop
    file, which the theme's folders hold at more sizes, one of them drawn."""
    folder = os.path.join(work, "folder")
    apps = os.path.join(folder, "usr", "share", "icons", "hicolor", "{}", "apps")
    for path, side in (("tool.png", 96), (os.path.join(apps.format("32x32"), "tool.png"), 32)):
        os.makedirs(os.path.dirname(os.path.join(folder, path)), exist_ok=True)
        picture(side, side).save(os.path.join(folder, path))
    os.makedirs(apps.format("scalable"))
    with open(os.path.join(apps.format("scalable"), "tool.svg"), "w") as f:
        f.write(SVG)
    with open(os.path.join(folder, "tool.desktop"), "w") as f:
        f.write("[Desktop Entry]\nType=Application\nName=Tool\nExec=tool\nIcon=tool\n")
    os.symlink("tool.png", os.path.join(folder, ".DirIcon"))
    return folder


def make_appimage(work):
    """mksquashfs's image of the folder behind a runtime: a copy of a real
    program with the AppImage mark."""
    folder = appimage_folder(work)
    image = os.path.join(work, "image.sqfs")
    run("mksquashfs", folder, image, "-quiet", "-noappend", "-all-root", "-no-progress")
    target = os.path.join(work, "made.AppImage")
    with open("/bin/true", "rb") as f:
        runtime = bytearray(f.read())
    runtime[8:11] = b"AI\x02"
    with open(target, "wb") as f, open(image, "rb") as g:
        f.write(runtime + g.read())
    return target


def read_folder(work, out):
    """The icons of an application folder taken out of its image;
    rsvg-convert draws the SVG icon at the theme's sizes."""
    apps = os.path.join(out, "usr", "share", "icons", "hicolor", "{}", "apps")
    named = [rgba(os.path.join(out, "tool.png")), rgba(os.path.join(apps.format("32x32"), "tool.png"))]
    for side in THEME_SIDES:
        drawn = os.path.join(work, f"drawn{side}.png")
        run("rsvg-convert", "-w", str(side), "-h", str(side), "-o", drawn,
            os.path.join(apps.format("scalable"), "tool.svg"))
        named.append(rgba(drawn))
    return [[rgba(os.path.join(out, ".DirIcon"))], named]


def read_appimage(work, path):
    """unsquashfs takes the folder out of the image behind the runtime."""
    with open("/bin/true", "rb") as f:
        offset = len(f.read())
    out = os.path.join(work, "unsquashed")
    run("unsquashfs", "-q", "-n", "-o", str(offset), "-d", out, path)
    return read_folder(work, out)


def make_type1_appimage(work):
    """genisoimage's ISO 9660 image of the folder, with Rock Ridge names,
    the start of a real program as its system area, and the type 1 mark."""
    folder = appimage_folder(work)
    with open("/bin/true", "rb") as f:
        runtime = bytearray(f.read(32768))
    runtime[8:11] = b"AI\x01"
    with open(os.path.join(work, "runtime"), "wb") as f:
        f.write(runtime)
    target = os.path.join(work, "made.AppImage")
    run("genisoimage", "-quiet", "-R", "-J", "-G", os.path.join(work, "runtime"), "-o", target, folder)
    return target


def read_type1_appimage(work, path):
    """xorriso takes the folder out of the ISO 9660 image."""
    out = os.path.join(work, "extracted")
    run("xorriso", "-osirrox", "on", "-indev", path, "-extract", "/", out)
    return read_folder(work, out)


KINDS = {
    # name: (tools, maker, reader)
    "icns": (("png2icns", "icns2png"), make_icns, read_icns),
    "msi": (("wixl", "msiinfo", "wrestool"), make_msi, read_msi),
    "msix": (("zip", "unzip"), make_msix, read_msix),
    "msixbundle": (("zip", "unzip"), make_bundle, read_bundle),
    "msixresources": (("zip", "unzip"), make_resource_bundle, read_resource_bundle),
    "appimage": (("mksquashfs", "unsquashfs", "rsvg-convert"), make_appimage, read_appimage),
    "appimage1": (("genisoimage", "xorriso", "rsvg-convert"), make_type1_appimage, read_type1_appimage),
}


# --- the comparison ---------------------------------------------------------

def same_pixels(ours, theirs):
    """None when equal, else what differs first."""
    if ours.size != theirs.size:
        return f"size {ours.size} vs {theirs.size}"
    for i, (p, q) in enumerate(zip(ours.getdata(), theirs.getdata())):
        if p[3] != q[3] or (p[3] and p[:3] != q[:3]):
            return f"pixel ({i % ours.size[0]},{i // ours.size[0]}): ours {p}, theirs {q}"
    return None


def check(cli, kind, work):
    tools, make, read = KINDS[kind]
    path = make(work)
    expected = read(work, path)
    failures = []
    listing = json.loads(run(cli, "list", "--json", path))[0]
    if listing.get("count") != len(expected):
        return [f"{listing.get('count')} icons, the reader finds {len(expected)}"]
    out = os.path.join(work, "ours")
    run(cli, "extract", "--all-sizes", path, "-o", out)
    base = os.path.basename(path)
    for index, (icon, images) in enumerate(zip(listing["icons"], expected)):
        sizes = [(i["width"], i["height"], i["bits"]) for i in icon["images"]]
        if sorted(s[:2] for s in sizes) != sorted(image.size for image in images):
            failures.append(f"icon {index}: images {sizes}, the reader's {[i.size for i in images]}")
            continue
        ours = {}
        for name in glob.glob(os.path.join(out, f"{glob.escape(base)}_{index}_*.png")):
            image = rgba(name)
            ours.setdefault(image.size, []).append(image)
        for image in images:
            candidates = ours.get(image.size, [])
            if not any(same_pixels(mine, image) is None for mine in candidates):
                why = same_pixels(candidates[0], image) if candidates else "missing"
                failures.append(f"icon {index}, {image.size[0]}x{image.size[1]}: {why}")
    # The thumbnail of the largest image's size is that image itself.
    largest = max(expected[0], key=lambda image: image.size[0])
    thumbnail = os.path.join(work, "thumbnail.png")
    run(cli, "thumbnail", "-s", str(largest.size[0]), path, thumbnail)
    if (why := same_pixels(rgba(thumbnail), largest)) is not None:
        failures.append(f"thumbnail: {why}")
    return failures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--kind", required=True, choices=sorted(KINDS))
    args = parser.parse_args()
    missing = [tool for tool in KINDS[args.kind][0] if not shutil.which(tool)]
    if missing:
        print("missing:", " ".join(missing))
        return SKIP
    with tempfile.TemporaryDirectory() as work:
        failures = check(os.path.abspath(args.cli), args.kind, work)
    for failure in failures:
        print("MISMATCH", failure)
    print(f"{args.kind}: {'1 passed, 0 failed' if not failures else '0 passed, 1 failed'}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
