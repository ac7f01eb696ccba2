#!/usr/bin/python3
"""Checks pictrove-cli against tools that read the same formats on their own:
icoutils (wrestool, icotool) for which groups a file holds, in which order,
and which images each has; Pillow for the pixels of every stored image and of
the 32x32 icon.

    oracle_test.py --cli PATH --data DIR --set fixtures|nsis

Exits 77 (ctest's skip) when a tool or the third-party files are missing.
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
NSIS_ICONS = "/usr/share/nsis/Contrib/Graphics/Icons"
NSIS_STUBS = "/usr/share/nsis/Stubs"

# Files Pillow reads differently on purpose-built damage: it takes the mask
# from the end of the stored size, and gives indexes past the colour table
# other colours. Their pixels are checked by the C++ tests instead.
PILLOW_BLIND = {"bpp24_nomask.ico", "bpp8_clrused.ico"}

try:
    from PIL import Image, IcoImagePlugin
except ImportError:
    print("Pillow is missing")
    sys.exit(SKIP)


class Checker:
    def __init__(self, cli, work):
        self.cli, self.work = cli, work
        self.failures = []
        self.images = self.exact = self.icons = self.unlisted = self.groups = 0

    def fail(self, message):
        self.failures.append(message)
        print("MISMATCH", message)

    def run(self, *args, ok=(0,)):
        result = subprocess.run(args, capture_output=True)
        if result.returncode not in ok:
            raise RuntimeError(f"{args}: exit {result.returncode}: {result.stderr.decode(errors='replace')}")
        return result.stdout

    def ours(self, path):
        return json.loads(self.run(self.cli, "list", "--json", path))[0]

    def extract(self, path, *options):
        out = tempfile.mkdtemp(dir=self.work)
        self.run(self.cli, "extract", path, "-o", out, *(options or ("--all-sizes",)))
        return out

    # --- icoutils ---------------------------------------------------------

    def wrestool_groups(self, path):
        """(name bytes, language) of every group icon, first language only, stored order."""
        seen, groups = set(), []
        for line in self.run("wrestool", "-l", "-t14", path).splitlines():
            m = re.search(rb"--name=('?)(.*?)\1 (?:--language=(\d+) )?\[", line)
            if m and m.group(2) not in seen:
                seen.add(m.group(2))
                groups.append((m.group(2), m.group(3)))
        return groups

    def wrestool_icon(self, path, name, language):
        target = os.path.join(self.work, "group.ico")
        args = ["wrestool", "-x", "-t14", b"--name=" + name, path, "-o", target]
        if language:
            args.insert(3, b"--language=" + language)
        subprocess.run(args, capture_output=True, check=True)
        with open(target, "rb") as f:
            return f.read()

    def icotool_images(self, ico_bytes):
        target = os.path.join(self.work, "listed.ico")
        with open(target, "wb") as f:
            f.write(ico_bytes)
        found = []
        listed = subprocess.run(["icotool", "-l", target], capture_output=True)
        if listed.returncode != 0 or not listed.stdout:
            return None  # icotool reads neither 16-bit nor bit-field images
        for line in listed.stdout.decode().splitlines():
            fields = dict(re.findall(r"--([a-z-]+)=(\d+)", line))
            found.append((int(fields["width"]), int(fields["height"]), int(fields["bit-depth"])))
        return found

    # --- comparisons ------------------------------------------------------

    def compare_pixels(self, what, ours, theirs, bits):
        """ours, theirs: RGBA Pillow images of one stored image."""
        if ours.size != theirs.size:
            return self.fail(f"{what}: size {ours.size} vs Pillow {theirs.size}")
        a, b = ours.getdata(), theirs.getdata()
        # A 32-bit image with no alpha at all has its transparency in the AND
        # mask, which Pillow does not read for 32-bit images: colour only.
        alpha_known = bits != 32 or any(p[3] for p in b)
        bad = []
        for i, (p, q) in enumerate(zip(a, b)):
            if alpha_known and p[3] != q[3]:
                bad.append((i, p, q))
            elif p[3] and p[:3] != q[:3]:
                bad.append((i, p, q))
        self.images += 1
        if bad:
            w = ours.size[0]
            i, p, q = bad[0]
            self.fail(f"{what}: {len(bad)} pixels differ, first at ({i % w},{i // w}): ours {p}, Pillow {q}")
        else:
            self.exact += 1

    def check_icon_file(self, what, ico_bytes, group, extracted, prefix):
        """One group: ours (list --json entry and extracted files) against
        icotool and Pillow reading the same images as an icon file."""
        theirs = [(i["width"], i["height"], i["bits"]) for i in group["images"]]
        listed = self.icotool_images(ico_bytes)
        if listed is None:
            self.unlisted += 1
        elif listed != theirs:
            self.fail(f"{what}: images {theirs}, icotool {listed}")
        if os.path.basename(what.split(" ")[0]) in PILLOW_BLIND:
            return
        count = struct.unpack_from("<H", ico_bytes, 4)[0]
        entries = [struct.unpack_from("<BBBBHHII", ico_bytes, 6 + 16 * k) for k in range(count)]
        ico = IcoImagePlugin.IcoFile(io.BytesIO(ico_bytes))
        by_offset = {e["offset"]: n for n, e in enumerate(ico.entry)}
        used = set()
        for k, image in enumerate(group["images"]):
            name = f"{prefix}_{image['width']}x{image['height']}_{image['bits']}"
            while name in used:
                name += "_2"
            used.add(name)
            path = os.path.join(extracted, name + ".png")
            size, offset = entries[k][6], entries[k][7]
            if image["png"]:
                with open(path, "rb") as f:
                    if f.read() != ico_bytes[offset:offset + size]:
                        self.fail(f"{what}: stored PNG {name} not written as it was")
                    self.images += 1
                    self.exact += 1
                continue
            frame = ico.frame(by_offset[offset]).convert("RGBA")
            self.compare_pixels(f"{what} image {k}", Image.open(path).convert("RGBA"), frame, image["bits"])

        # The icon as shown: where the chosen image is 32x32 nothing is
        # scaled, so it must be the image Pillow picks for that size.
        if group["width"] == 32 and group["height"] == 32:
            im = Image.open(io.BytesIO(ico_bytes))
            if (32, 32) in im.info["sizes"]:
                im.size = (32, 32)
                picked = ico.entry[ico.getentryindex((32, 32))]
                if picked["bpp"] and picked["bpp"] != group["bits"]:
                    self.fail(f"{what}: shown depth {group['bits']}, Pillow picks {picked['bpp']}")
                shown = Image.open(os.path.join(extracted, prefix + ".png")).convert("RGBA")
                self.compare_pixels(f"{what} shown icon", shown, im.convert("RGBA"), group["bits"])
                self.icons += 1

    def check_group_file(self, what, written, group, stored):
        """A group written by --group-ico: every image byte for byte as the
        resources hold it (wrestool -x, which adds a few bytes of its own at
        the end), and read back whole by icotool and Pillow."""
        with open(written, "rb") as f:
            ours = f.read()
        self.groups += 1
        if stored[:len(ours)] != ours:
            return self.fail(f"{what}: --group-ico differs from the stored group")
        theirs = [(i["width"], i["height"], i["bits"]) for i in group["images"]]
        listed = self.icotool_images(ours)
        if listed is not None and listed != theirs:
            self.fail(f"{what}: --group-ico images {theirs}, icotool {listed}")
        if os.path.basename(what.split(" ")[0]) in PILLOW_BLIND:
            return
        ico = IcoImagePlugin.IcoFile(io.BytesIO(ours))  # entries sorted by size
        back = sorted(ico.frame(k).size for k in range(len(ico.entry)))
        if back != sorted(t[:2] for t in theirs):
            self.fail(f"{what}: --group-ico images read back as {back}")

    def check_executable(self, path):
        ours = self.ours(path)
        groups = self.wrestool_groups(path)
        named = [g for g in groups if not g[0].isdigit()]
        numbered = sorted((g for g in groups if g[0].isdigit()), key=lambda g: int(g[0]))
        expected = [g[0].decode("latin-1") for g in named + numbered]
        names = [str(i["id"]) if "id" in i else i["name"] for i in ours["icons"]]
        if names != expected:
            self.fail(f"{path}: groups {names}, wrestool {expected}")
            return
        extracted = self.extract(path)
        grouped = self.extract(path, "--group-ico")
        base = os.path.basename(path)
        for index, (group, (name, language)) in enumerate(zip(ours["icons"], named + numbered)):
            ico_bytes = self.wrestool_icon(path, name, language)
            self.check_icon_file(f"{path} group {names[index]}", ico_bytes, group, extracted, f"{base}_{index}")
            self.check_group_file(f"{path} group {names[index]}", os.path.join(grouped, f"{base}_{index}.ico"),
                                  group, ico_bytes)

    def check_icon(self, path):
        ours = self.ours(path)
        if ours["count"] != 1:
            return self.fail(f"{path}: {ours['count']} icons")
        with open(path, "rb") as f:
            data = bytearray(f.read())
        group = ours["icons"][0]
        if data[2] == 2:
            # Pillow reads cursors only as icons: where a cursor stores its
            # hot spot, an icon has planes and bit count.
            data[2] = 1
            for k, image in enumerate(group["images"]):
                struct.pack_into("<HH", data, 6 + 16 * k + 4, 1, image["bits"])
        self.check_icon_file(path, bytes(data), group, self.extract(path), f"{os.path.basename(path)}_0")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--data", required=True)
    parser.add_argument("--set", choices=["fixtures", "nsis"], required=True)
    args = parser.parse_args()
    for tool in ("wrestool", "icotool"):
        if not shutil.which(tool):
            print(f"{tool} is missing (package icoutils)")
            return SKIP

    if args.set == "fixtures":
        executables = sorted(glob.glob(os.path.join(args.data, "pe", "*.dll")) +
                             glob.glob(os.path.join(args.data, "ne", "*.icl")) +
                             glob.glob(os.path.join(args.data, "ne", "*.exe")) +
                             [os.path.join(args.data, "sample.dll")])
        icons = sorted(glob.glob(os.path.join(args.data, "ico", "*.ico")) +
                       glob.glob(os.path.join(args.data, "ico", "*.cur")))
    else:
        if not os.path.isdir(NSIS_ICONS) or not os.path.isdir(NSIS_STUBS):
            print("nsis-common is not installed")
            return SKIP
        executables = sorted(p for p in glob.glob(os.path.join(NSIS_STUBS, "*"))
                             if open(p, "rb").read(2) == b"MZ")
        icons = sorted(glob.glob(os.path.join(NSIS_ICONS, "*.ico")))

    with tempfile.TemporaryDirectory() as work:
        checker = Checker(args.cli, work)
        for path in executables:
            checker.check_executable(path)
        for path in icons:
            checker.check_icon(path)
    print(f"{len(executables)} executables, {len(icons)} icon files: {checker.exact} of {checker.images} "
          f"images agree with Pillow, {checker.icons} shown icons compared, "
          f"{checker.unlisted} groups icotool could not list, {checker.groups} groups written whole")
    return 1 if checker.failures else 0


if __name__ == "__main__":
    sys.exit(main())
