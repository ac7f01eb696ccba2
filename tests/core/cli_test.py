#!/usr/bin/python3
"""pictrove-cli as scripts see it: output shapes, file names, exit codes.

    cli_test.py --cli PATH --data DIR [unittest arguments]
"""

import base64
import glob
import hashlib
import io
import json
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import unittest
import zlib

try:
    from PIL import Image
except ImportError:
    print("Pillow is missing")
    sys.exit(77)

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "fuzz"))
import make_crafted_crashers as crafted  # noqa: E402

CLI = DATA = None
# Set by ctest when the CLI is a Windows build run through Wine.
ON_WINDOWS = os.environ.get("PICTROVE_CLI_ON_WINDOWS") == "1"
# Set by ctest for a build under a sanitizer, whose memory use tells nothing.
SANITIZED = os.environ.get("PICTROVE_SANITIZED") == "1"


def run(*args):
    # Names that are not UTF-8 come out as their bytes.
    return subprocess.run([CLI, *args], capture_output=True, text=True, errors="surrogateescape")


def data(name):
    return os.path.join(DATA, name)


class ListCommand(unittest.TestCase):
    def test_text_has_a_line_per_file_and_per_icon(self):
        result = run("list", data("pe/three32.dll"), data("ne/shift9.exe"))
        self.assertEqual(result.returncode, 0, result.stderr)
        lines = result.stdout.splitlines()
        self.assertEqual(lines[0], data("pe/three32.dll") + ": 3 icons (PE32)")
        rows = [re.fullmatch(r"  (\d+)  (\S+)  shown (\d+x\d+x\d+)  images (.*)", line) for line in lines[1:4]]
        self.assertTrue(all(rows), lines)
        self.assertEqual([r.group(2) for r in rows], ['"NAMED"', "1", "2"])
        self.assertEqual(rows[1].group(3), "32x32x32")
        self.assertEqual(rows[1].group(4), "16x16x4 32x32x8 32x32x32 48x48x32 256x256x32(png)")
        self.assertEqual(lines[4], data("ne/shift9.exe") + ": 2 icons (NE)")
        self.assertEqual(len(lines), 7)
        cursors = run("list", "--cursors", data("pe/cursors32.dll")).stdout.splitlines()
        self.assertEqual(cursors[0], data("pe/cursors32.dll") + ": 2 cursors (PE32)")
        cursor = run("list", data("ico/cursor.cur")).stdout.splitlines()
        self.assertEqual(cursor[1], "  0  -  shown 32x32x1  images 32x32x1@5,7")

    def test_json_describes_every_icon_and_image(self):
        files = [data("pe/three64.dll"), data("ne/icons.icl"), data("ico/cursor.cur"), data("README.md"),
                 data("windows/System32/IMAGERES.DLL")]
        result = run("list", "--json", *files)
        self.assertEqual(result.returncode, 0, result.stderr)
        listing = json.loads(result.stdout)
        self.assertEqual([f["file"] for f in listing], files)
        self.assertEqual([f["count"] for f in listing], [3, 4, 1, 0, 2])
        # A system library without icons of its own shows its .mun file's.
        self.assertEqual(listing[4]["from"].replace("\\", "/").split("/")[-2:], ["SystemResources", "imageres.dll.mun"])
        self.assertEqual([i["id"] for i in listing[4]["icons"]], [1, 2])
        dll = listing[0]
        self.assertEqual([i["index"] for i in dll["icons"]], [0, 1, 2])
        self.assertEqual(dll["icons"][0]["name"], "NAMED")
        self.assertNotIn("id", dll["icons"][0])
        self.assertEqual([i.get("id") for i in dll["icons"][1:]], [1, 2])
        group = dll["icons"][1]
        self.assertEqual((group["width"], group["height"], group["bits"]), (32, 32, 32))
        self.assertEqual(group["images"][-1], {"width": 256, "height": 256, "bits": 32, "png": True})
        self.assertEqual([i.get("name", i.get("id")) for i in listing[1]["icons"]], ["ZED", "ALPHA", 2, 7])
        cursor = listing[2]["icons"][0]
        self.assertEqual(set(cursor), {"index", "width", "height", "bits", "images"})
        self.assertEqual(listing[3]["icons"], [])

    @unittest.skipIf(ON_WINDOWS, "Windows file names are UTF-16 and always convert")
    def test_unreadable_files_are_entries_and_names_stay_valid_utf8(self):
        missing = data("no-such.dll")
        with tempfile.TemporaryDirectory() as folder:
            odd = os.path.join(folder, os.fsdecode(b"caf\xe9.ico"))
            with open(data("ico/bpp1.ico"), "rb") as f, open(odd, "wb") as g:
                g.write(f.read())
            pipe = os.path.join(folder, "p.exe")
            os.mkfifo(pipe)  # opening it blocking would wait for a writer
            zero = os.path.join(folder, "x.ics")
            os.symlink("/dev/zero", zero)  # endless bytes
            result = subprocess.run([CLI, "list", "--json", missing, odd, pipe, zero], capture_output=True,
                                    timeout=20)
        self.assertEqual(result.returncode, 1)
        self.assertIn(missing.encode(), result.stderr)
        self.assertIn(b"p.exe: Cannot open file", result.stderr)
        listing = json.loads(result.stdout.decode("utf-8"))
        self.assertEqual([f["file"] for f in listing], [missing, os.path.join(folder, "caf\ufffd.ico"), pipe, zero])
        self.assertIn("Cannot open file", listing[0]["error"])
        self.assertEqual(listing[1]["count"], 1)
        self.assertIn("not a regular file", listing[2]["error"])
        self.assertIn("Cannot open file", listing[3]["error"])


class OutputFolder(unittest.TestCase):
    """A fresh output folder per test, and what was written to it."""

    def setUp(self):
        self.out = tempfile.TemporaryDirectory()
        self.addCleanup(self.out.cleanup)

    def extract(self, *args, status=0):
        result = run("extract", *args, "-o", self.out.name)
        self.assertEqual(result.returncode, status, result.stderr)
        return result

    def written(self):
        return sorted(os.listdir(self.out.name))

    def open(self, name):
        with Image.open(os.path.join(self.out.name, name)) as im:
            im.load()
            return im


def crafted_pe(image, width, groups, entries, more=()):
    """A PE32 library holding one icon image (PNG bytes, `width` square) and
    `groups` icon groups that all share one group directory naming that image
    `entries` times over, then each of the images `more` (PNG bytes, `width`
    square) once."""
    flag = 0x80000000
    images = [image, *more]

    def directory(rows):
        return struct.pack("<IIHHHH", 0, 0, 0, 0, 0, len(rows)) + b"".join(struct.pack("<II", *r) for r in rows)

    icons_at = 16 + 2 * 8
    groups_at = icons_at + 16 + 8 * len(images)
    icon_lang_at = groups_at + 16 + 8 * groups
    group_lang_at = icon_lang_at + (16 + 8) * len(images)
    icon_data_at = group_lang_at + 16 + 8
    image_at = [icon_data_at + 16 * (len(images) + 1)]
    for data in images:
        image_at.append(image_at[-1] + (len(data) + 3) // 4 * 4)
    group_at = image_at.pop()
    side = width % 256
    named = [1] * entries + list(range(2, len(images) + 1))
    group = struct.pack("<HHH", 0, 1, len(named)) + b"".join(
        struct.pack("<BBBBHHIH", side, side, 0, 0, 1, 32, len(images[n - 1]), n) for n in named)
    rva = 0x1000
    rsrc = (directory([(3, flag | icons_at), (14, flag | groups_at)])
            + directory([(n + 1, flag | (icon_lang_at + 24 * n)) for n in range(len(images))])
            + directory([(n + 1, flag | group_lang_at) for n in range(groups)])
            + b"".join(directory([(0x409, icon_data_at + 16 * n)]) for n in range(len(images)))
            + directory([(0x409, icon_data_at + 16 * len(images))])
            + b"".join(struct.pack("<IIII", rva + at, len(data), 0, 0) for at, data in zip(image_at, images))
            + struct.pack("<IIII", rva + group_at, len(group), 0, 0))
    for data in images:
        rsrc += data + b"\0" * ((len(data) + 3) // 4 * 4 - len(data))
    rsrc += group
    directories = [(0, 0)] * 16
    directories[2] = (rva, len(rsrc))
    optional = (struct.pack("<H", 0x10B) + bytes(90) + struct.pack("<I", 16)
                 + b"".join(struct.pack("<II", *d) for d in directories))
    headers = (b"MZ" + bytes(58) + struct.pack("<I", 0x40) + b"PE\0\0"
               + struct.pack("<HHIIIHH", 0x14C, 1, 0, 0, 0, len(optional), 0x2102) + optional
               + struct.pack("<8sIIIIIIHHI", b".rsrc", len(rsrc), rva, len(rsrc), 0x200, 0, 0, 0, 0, 0x40000040))
    return headers + bytes(0x200 - len(headers)) + rsrc


def noise_png(width):
    """A PNG of random pixels: no compressor makes it smaller."""
    buffer = io.BytesIO()
    Image.frombytes("RGBA", (width, width), os.urandom(width * width * 4)).save(buffer, "PNG", compress_level=0)
    return buffer.getvalue()


class ExtractCommand(OutputFolder):
    def test_one_32x32_png_per_icon(self):
        self.extract(data("pe/three32.dll"), data("ne/icons.icl"))
        names = [f"three32.dll_{i}.png" for i in range(3)] + [f"icons.icl_{i}.png" for i in range(4)]
        self.assertEqual(self.written(), sorted(names))
        for name in names:
            im = self.open(name)
            self.assertEqual((im.format, im.size, im.mode), ("PNG", (32, 32), "RGBA"), name)
        # Scaled from 256 px: the clear corner is 8 px wide at 32.
        self.extract(data("ico/png256.ico"))
        im = self.open("png256.ico_0.png")
        self.assertEqual(im.getpixel((7, 7))[3], 0)
        self.assertEqual(im.getpixel((8, 8))[3], 255)

    def test_names_outside_ascii_go_in_and_come_out_whole(self):
        folder = os.path.join(self.out.name, "Icônes")
        os.mkdir(folder)
        source = os.path.join(folder, "été 中.dll")
        with open(data("pe/three64.dll"), "rb") as f, open(source, "wb") as g:
            g.write(f.read())
        listed = subprocess.run([CLI, "list", "--json", source], capture_output=True)
        self.assertEqual(listed.returncode, 0, listed.stderr)
        self.assertEqual(json.loads(listed.stdout.decode("utf-8"))[0]["file"], source)
        self.assertEqual(run("list", source).stdout.splitlines()[0], source + ": 3 icons (PE32+)")
        self.assertEqual(run("list", "-r", folder).stdout.splitlines()[0], source + ": 3 icons (PE32+)")
        if ON_WINDOWS:  # the same file by its Windows name: drive Z: is the Linux root
            windows_name = "Z:" + source.replace("/", "\\")
            self.assertEqual(run("list", windows_name).stdout.splitlines()[0], windows_name + ": 3 icons (PE32+)")
        target = os.path.join(folder, "Sortie ñ")
        result = run("extract", source, "-o", target, "--ico", "--ics", os.path.join(folder, "tout"))
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(sorted(os.listdir(target)), [f"été 中.dll_{i}.ico" for i in range(3)])
        self.assertIn("tout.ics", os.listdir(folder))

    def test_all_sizes_writes_every_image_and_png_ones_as_stored(self):
        self.extract(data("ico/multi.ico"), "--all-sizes")
        sizes = ["16x16_4", "32x32_8", "32x32_32", "48x48_32", "256x256_32"]
        self.assertEqual(self.written(), sorted(["multi.ico_0.png"] + [f"multi.ico_0_{s}.png" for s in sizes]))
        for s in sizes:
            w = int(s.split("x")[0])
            self.assertEqual(self.open(f"multi.ico_0_{s}.png").size, (w, w))
        with open(data("ico/multi.ico"), "rb") as f:
            ico = f.read()
        size, offset = struct.unpack_from("<II", ico, 6 + 4 * 16 + 8)
        with open(os.path.join(self.out.name, "multi.ico_0_256x256_32.png"), "rb") as f:
            self.assertEqual(f.read(), ico[offset:offset + size])

    def test_images_of_the_same_size_and_depth_get_running_numbers(self):
        with open(data("ico/bpp8.ico"), "rb") as f:
            one = f.read()
        size = struct.unpack_from("<I", one, 14)[0]
        image = one[22:22 + size]
        entries = b"".join(one[6:14] + struct.pack("<II", size, 54 + n * size) for n in range(3))
        # A name near the limit: the stem gives way, whole characters at a
        # time, to each suffix.
        name = "\u00e9" * 125 + ".ico"
        path = os.path.join(self.out.name, name)
        with open(path, "wb") as f:
            f.write(struct.pack("<HHH", 0, 1, 3) + entries + image * 3)
        self.extract(path, "--all-sizes")
        written = [n for n in self.written() if n != name]
        suffixes = ["_0.png", "_0_24x24_8.png", "_0_24x24_8-2.png", "_0_24x24_8-3.png"]
        self.assertEqual(len(written), len(suffixes), written)
        for suffix in suffixes:
            stems = [n[:-len(suffix)] for n in written if n.endswith(suffix)]
            self.assertEqual(len(stems), 1, suffix)
            self.assertEqual(stems[0], "\u00e9" * (len(stems[0])), suffix)
            self.assertEqual(len((stems[0] + suffix).encode()), 254, suffix)

    def test_size_and_whole_groups(self):
        self.extract(data("pe/three32.dll"), "--size", "64", "--index", "1")
        self.assertEqual(self.open("three32.dll_1.png").size, (64, 64))
        # An honest icon file comes back as it was; cursor groups as cursor files.
        self.extract(data("ico/multi.ico"), data("pe/cursors32.dll"), "--group-ico", "--cursors")
        self.assertEqual(self.written(), ["cursors32.dll_0.cur", "cursors32.dll_1.cur", "multi.ico_0.ico",
                                          "three32.dll_1.png"])
        with open(data("ico/multi.ico"), "rb") as f, open(os.path.join(self.out.name, "multi.ico_0.ico"), "rb") as g:
            self.assertEqual(f.read(), g.read())
        cursor = os.path.join(self.out.name, "cursors32.dll_1.cur")
        with open(cursor, "rb") as f:
            cur = f.read()
        self.assertEqual(struct.unpack_from("<HHH", cur), (0, 2, 2))
        self.assertEqual([struct.unpack_from("<HH", cur, 6 + 16 * k + 4) for k in range(2)], [(3, 5), (30, 2)])
        self.assertEqual(self.open("cursors32.dll_1.cur").size, (48, 48))
        listed = subprocess.run(["icotool", "-l", cursor], capture_output=True, text=True).stdout
        self.assertEqual(re.findall(r"--hotspot-x=(\d+) --hotspot-y=(\d+)", listed), [("3", "5"), ("30", "2")])

    @unittest.skipIf(ON_WINDOWS, "Wine shows Linux links as the files and folders they lead to")
    def test_recursive_walks_folders_in_name_order(self):
        tree = os.path.join(self.out.name, "tree")
        for folder in ("b/deep", "a", "empty"):
            os.makedirs(os.path.join(tree, folder))
        for source, target in (("pe/three32.dll", "b/deep/x.dll"), ("ico/bpp1.ico", "b/a.ico"),
                               ("sample.dll", "z.dll"), ("README.md", "a/notes.ico")):
            with open(data(source), "rb") as f, open(os.path.join(tree, target), "wb") as g:
                g.write(f.read())
        os.symlink(os.path.join(tree, "b"), os.path.join(tree, "a", "loop"))
        os.symlink(os.path.join(tree, "z.dll"), os.path.join(tree, "a", "z-link.dll"))
        result = run("list", "-r", tree)
        self.assertEqual(result.returncode, 0, result.stderr)
        files = [line.split(":")[0] for line in result.stdout.splitlines() if not line.startswith(" ")]
        self.assertEqual(files, [os.path.join(tree, p) for p in ("a/z-link.dll", "b/a.ico", "b/deep/x.dll", "z.dll")])
        self.extract("--recursive", tree, os.path.join(tree, "b", "a.ico"))
        written = [n for n in self.written() if n != "tree"]
        self.assertEqual(len(written), 12 + 1 + 3 + 12 + 1)
        # Group files written into the tree are not read back on the next run,
        # nor when the output folder is the tree itself.
        inside = os.path.join(tree, "out")
        for _ in range(2):
            self.assertEqual(run("extract", "-r", "--group-ico", tree, "-o", inside).returncode, 0)
        self.assertEqual(len(os.listdir(inside)), 12 + 1 + 3 + 12)
        for _ in range(2):
            result = run("extract", "-r", "--group-ico", inside, "-o", inside)
            self.assertEqual(result.returncode, 1)
            self.assertIn(inside + ": not walked: it is the output folder", result.stderr)
        self.assertEqual(len(os.listdir(inside)), 12 + 1 + 3 + 12)
        for name in ("a_z-link.dll_11.png", "b_a.ico_0.png", "b_deep_x.dll_2.png", "z.dll_11.png", "a.ico_0.png"):
            self.assertIn(name, written)
        # Folders past the depth bound are reported like unreadable ones.
        deep = os.path.join(tree, *["d"] * 66)
        os.makedirs(deep)
        result = run("list", "-r", tree)
        self.assertEqual(result.returncode, 1)
        self.assertIn(": cannot read folder: folders nested too deep", result.stderr)
        self.assertIn(os.path.join(tree, "z.dll"), result.stdout)
        shutil.rmtree(os.path.join(tree, "d"))
        if os.geteuid() != 0:  # root reads every folder
            os.chmod(os.path.join(tree, "b", "deep"), 0)
            result = run("list", "-r", tree)
            os.chmod(os.path.join(tree, "b", "deep"), 0o755)
            self.assertEqual(result.returncode, 1)
            self.assertIn("b/deep: cannot read folder", result.stderr)
            self.assertIn(os.path.join(tree, "z.dll"), result.stdout)

    def test_a_tree_is_listed_as_it_is_walked(self):
        # What the walk meets last is reported when it is met: after the
        # files before it were listed, not before any of them (a listing
        # of 300,000 files once began only when the whole tree was walked).
        tree = os.path.join(self.out.name, "streamed")
        os.makedirs(os.path.join(tree, *["zz"] + ["d"] * 66))
        for n in range(300):
            shutil.copy(data("ico/bpp1.ico"), os.path.join(tree, "i%03d.ico" % n))
        for command in ("list", "extract"):
            args = [command, "-r", tree] + (["-o", os.path.join(self.out.name, "streamed-out")]
                                            if command == "extract" else [])
            merged = subprocess.run([CLI, *args], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
            self.assertEqual(merged.returncode, 1, command)
            lines = merged.stdout.splitlines()
            deep = next(n for n, line in enumerate(lines) if "folders nested too deep" in line)
            if command == "list":
                # At most a window of files (16 for each of up to 8 threads) is read ahead of the output.
                self.assertGreaterEqual(deep, 2 * (300 - 128), lines[:3])
                self.assertEqual(sum(line.endswith("1 icon (ICO)") for line in lines), 300)
        self.assertEqual(len(os.listdir(os.path.join(self.out.name, "streamed-out"))), 300)

    def test_index_takes_one_icon(self):
        self.extract(data("sample.dll"), "--index", "7")
        self.assertEqual(self.written(), ["sample.dll_7.png"])
        result = self.extract(data("sample.dll"), "--index", "12", status=1)
        self.assertIn("no icon 12", result.stderr)
        # In a tree, a library without icons is passed over, --index or not.
        tree, out = os.path.join(self.out.name, "tree"), os.path.join(self.out.name, "out")
        os.mkdir(tree)
        with open(os.path.join(tree, "c.dll"), "wb") as f:
            f.write(crafted_pe(noise_png(16), 16, groups=0, entries=1))
        shutil.copy(data("ico/bpp1.ico"), os.path.join(tree, "i.ico"))
        result = run("extract", "-r", tree, "--index", "0", "-o", out)
        self.assertEqual((result.returncode, result.stderr), (0, ""))
        self.assertEqual(os.listdir(out), ["i.ico_0.png"])

    def test_no_run_writes_one_name_twice(self):
        sizes = ["16x16_4", "32x32_8", "32x32_32", "48x48_32", "256x256_32"]
        multi = ["_0.png"] + [f"_0_{s}.png" for s in sizes]
        long_a, long_b = "e" * 250 + "1.ico", "e" * 250 + "2.ico"
        twins = {"t/a/b_c.exe": "pe/three32.dll", "t/a_b/c.exe": "ico/bpp1.ico"}
        # (sources, FILE arguments, options, names written)
        cases = [
            (twins, ["-r", "t"], [],
             ["a_b_c.exe_0.png", "a_b_c.exe_1.png", "a_b_c.exe_2.png", "a_b_c.exe~2_0.png"]),
            (twins, ["-r", "t"], ["--group-ico", "--index", "0"], ["a_b_c.exe_0.ico", "a_b_c.exe~2_0.ico"]),
            (twins, ["-r", "t"], ["--ico", "--bmp", "--index", "0"],
             ["a_b_c.exe_0.bmp", "a_b_c.exe_0.ico", "a_b_c.exe~2_0.bmp", "a_b_c.exe~2_0.ico"]),
            ({"1/x.ico": "ico/multi.ico", "2/x.ico": "ico/multi.ico", "3/x.ico": "ico/multi.ico"},
             ["-r", "1", "2", "3"], ["--all-sizes"], ["x.ico" + m + s for m in ("", "~2", "~3") for s in multi]),
            # Cut to fit the folder, two long names end alike; the marker is never cut.
            ({long_a: "ico/bpp1.ico", long_b: "ico/bpp4.ico"}, [long_a, long_b], [],
             ["e" * 249 + "_0.png", "e" * 247 + "~2_0.png"]),
            # The same file twice is two inputs.
            ({"x.ico": "ico/bpp1.ico"}, ["x.ico", "x.ico"], [], ["x.ico_0.png", "x.ico~2_0.png"]),
            # Windows folders take X and x for one name.
            ({"1/X.ico": "ico/bpp1.ico", "2/x.ico": "ico/bpp1.ico"}, ["-r", "1", "2"], [],
             ["X.ico_0.png", "x.ico~2_0.png" if ON_WINDOWS else "x.ico_0.png"]),
        ]
        for sources, files, options, expected in cases:
            with tempfile.TemporaryDirectory() as top:
                for target, source in sources.items():
                    os.makedirs(os.path.dirname(os.path.join(top, "in", target)), exist_ok=True)
                    shutil.copy(data(source), os.path.join(top, "in", target))
                out = os.path.join(top, "out")
                args = [f if f.startswith("-") else os.path.join(top, "in", f) for f in files]
                result = run("extract", *args, *options, "-o", out)
                self.assertEqual(result.returncode, 0, (files, options, result.stderr))
                self.assertEqual(sorted(os.listdir(out)), sorted(expected), (files, options))

    def test_no_input_writes_more_than_its_budget(self):
        # Groups that share one directory naming one image over and over: a
        # file of some hundred kilobytes asks for 75 MB and more.
        small, large = noise_png(256), noise_png(1024)
        for options, image, width, groups, entries, status in [
                (["--group-ico"], small, 256, 1, 300, 1),
                (["--all-sizes"], small, 256, 1, 300, 1),
                (["--size", "1024"], large, 1024, 20, 1, 1),
                (["--group-ico"], small, 256, 1, 16, 0)]:
            with tempfile.TemporaryDirectory() as top:
                source, out = os.path.join(top, "crafted.dll"), os.path.join(top, "out")
                with open(source, "wb") as f:
                    f.write(crafted_pe(image, width, groups, entries))
                result = run("extract", source, *options, "-o", out)
                self.assertEqual(result.returncode, status, (options, result.stderr))
                if status:
                    self.assertIn("crafted.dll: its icons would take more than 64 MiB", result.stderr)
                    self.assertEqual(os.listdir(out), [], options)
                else:
                    self.assertEqual(os.path.getsize(os.path.join(out, "crafted.dll_0.ico")), 6 + 16 * 16 + 16 * len(image))

    def test_missing_files_and_files_without_icons(self):
        missing = data("no-such.dll")
        result = self.extract(missing, data("ico/bpp1.ico"), status=1)
        self.assertIn(missing, result.stderr)
        self.assertEqual(self.written(), ["bpp1.ico_0.png"])
        result = self.extract(data("README.md"))
        self.assertIn("no icons", result.stderr)
        # An icon whose only image cannot be decoded fails the run.
        with open(data("ico/png256.ico"), "rb") as f:
            broken = bytearray(f.read())
        at = broken.index(b"IDAT") + 8
        broken[at:at + 8] = b"\xff" * 8
        path = os.path.join(self.out.name, "broken.ico")
        with open(path, "wb") as f:
            f.write(broken)
        result = self.extract(path, status=1)
        self.assertIn("icon 0 cannot be decoded", result.stderr)

    def test_an_icon_the_program_draws_is_drawn_where_no_image_is_stored(self):
        # A collection record of resource type 0 holds no image: the window
        # draws the application icon for it.
        made = os.path.join(self.out.name, "made.ics")
        run("extract", data("pe/three32.dll"), "--ics", made)
        with open(made, "rb") as f:
            content = f.read()
        drawn = os.path.join(self.out.name, "drawn.ics")
        with open(drawn, "wb") as f:
            f.write(bytes(766) + content[766:])
        os.remove(made)
        for mode, status, files in (([], 0, ["drawn.ics_0.png", "drawn.ics_1.png"]),
                                    (["--bmp"], 0, ["drawn.ics_0.bmp", "drawn.ics_1.bmp"]),
                                    (["--all-sizes"], 0, ["drawn.ics_0.png", "drawn.ics_1.png", "drawn.ics_1_32x32_4.png"]),
                                    (["--group-ico"], 1, ["drawn.ics_1.ico"])):
            files = files + [f.replace("_1", "_2") for f in files if "_1" in f]
            with self.subTest(mode=mode):
                with tempfile.TemporaryDirectory() as out:
                    result = run("extract", drawn, *mode, "-o", out)
                    self.assertEqual(result.returncode, status, result.stderr)
                    self.assertEqual(sorted(os.listdir(out)), sorted(files))
                    if status:
                        self.assertIn("icon 0 has no stored images to write", result.stderr)
                    else:
                        with Image.open(os.path.join(out, files[0])) as im:
                            self.assertEqual(im.size, (32, 32))

    def test_a_collection_named_without_an_extension_gets_one(self):
        target = os.path.join(self.out.name, "set")
        result = run("extract", data("pe/three32.dll"), "--ics", target)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.written(), ["set.ics"])
        with open(target + ".ics", "rb") as f:
            self.assertEqual(f.read()[-13:], b"Icons.ics    ")


class ThumbnailCommand(OutputFolder):
    def thumbnail(self, source, *size, status=0):
        target = os.path.join(self.out.name, "thumb.png")
        result = run("thumbnail", *size, source, target)
        self.assertEqual(result.returncode, status, result.stderr)
        return self.open("thumb.png") if status == 0 else None

    def test_the_image_chosen_for_the_size_fitted_into_it(self):
        self.extract(data("ico/multi.ico"), "--all-sizes")
        for size, stored in [("48", "48x48_32"), ("256", "256x256_32"), ("20", None), ("1024", None)]:
            im = self.thumbnail(data("ico/multi.ico"), "-s", size)
            self.assertEqual((im.format, im.size, im.mode), ("PNG", (int(size),) * 2, "RGBA"), size)
            if stored:
                expected = self.open(f"multi.ico_0_{stored}.png")
                self.assertEqual(im.convert("RGBa").tobytes(), expected.convert("RGBa").tobytes(), size)
        self.assertEqual(self.thumbnail(data("sample.dll")).size, (256, 256))
        self.extract(data("sample.dll"), "--ics", os.path.join(self.out.name, "all.ics"))
        self.assertEqual(self.thumbnail(os.path.join(self.out.name, "all.ics"), "-s", "64").size, (64, 64))
        # A wide image keeps its shape, down to a single row.
        for (width, height), size, fitted in [((64, 32), "32", (32, 16)), ((64, 1), "8", (8, 1))]:
            wide = os.path.join(self.out.name, "wide.ico")
            Image.new("RGBA", (width, height), (200, 0, 0, 255)).save(os.path.join(self.out.name, "wide.png"))
            with open(os.path.join(self.out.name, "wide.png"), "rb") as f:
                png = f.read()
            with open(wide, "wb") as f:
                f.write(struct.pack("<HHHBBBBHHII", 0, 1, 1, width, height, 0, 0, 1, 32, len(png), 22) + png)
            self.assertEqual(self.thumbnail(wide, "-s", size).size, fitted)
        # "-" names a file, not standard output.
        result = subprocess.run([CLI, "thumbnail", data("ico/multi.ico"), "-"], cwd=self.out.name,
                                capture_output=True)
        self.assertEqual((result.returncode, result.stdout), (0, b""), result.stderr)
        self.assertEqual(self.open("-").size, (256, 256))

    def test_what_follows_a_stored_png_is_not_written(self):
        buffer = io.BytesIO()
        Image.new("RGBA", (256, 256), (0, 90, 200, 255)).save(buffer, "PNG")
        png = buffer.getvalue()
        padded = os.path.join(self.out.name, "padded.ico")
        with open(padded, "wb") as f:
            f.write(ico_of_pngs([png + b"junk" * 16384]))
        self.thumbnail(padded)
        self.extract(padded, "--all-sizes")
        for name in ["thumb.png", "padded.ico_0_256x256_32.png"]:
            with open(os.path.join(self.out.name, name), "rb") as f:
                self.assertEqual(f.read(), png, name)

    def test_the_icon_at_a_stored_pngs_own_size_is_that_png(self):
        # Pixels as decoding and encoding gave them; bytes as stored, where
        # they are 8-bit RGBA: a palette PNG, or another size, is encoded.
        picture = Image.new("RGBA", (256, 256), (0, 90, 200, 255))
        picture.paste((250, 20, 20, 128), (40, 40, 200, 120))
        stored = {}
        for mode in ("RGBA", "P"):
            buffer = io.BytesIO()
            picture.convert(mode).save(buffer, "PNG")
            stored[mode] = buffer.getvalue()
        for mode, png in stored.items():
            source = os.path.join(self.out.name, mode + ".ico")
            with open(source, "wb") as f:
                f.write(ico_of_pngs([png + b"junk"]))
            for size in (256, 128):
                out = tempfile.mkdtemp(dir=self.out.name)
                self.assertEqual(run("extract", source, "--size", str(size), "-o", out).returncode, 0)
                with open(os.path.join(out, mode + ".ico_0.png"), "rb") as f:
                    written = f.read()
                self.assertEqual(written == png, mode == "RGBA" and size == 256, (mode, size))
                if size == 256:
                    self.assertEqual(Image.open(io.BytesIO(written)).convert("RGBA").tobytes(),
                                     Image.open(io.BytesIO(png)).convert("RGBA").tobytes(), mode)

    def test_nothing_is_written_without_an_icon(self):
        with open(data("ico/multi.ico"), "rb") as f:
            cut = os.path.join(self.out.name, "cut.ico")
            with open(cut, "wb") as g:
                g.write(f.read()[:40])
        for source in [data("README.md"), data("no-such.dll"), cut]:
            self.thumbnail(source, status=1)
        self.assertEqual(self.written(), ["cut.ico"])


def pillow_dhash(png):
    """The difference hash as the README defines it, computed by Pillow."""
    image = Image.open(png).convert("RGBA")
    white = Image.new("RGB", image.size, (255, 255, 255))
    white.paste(image, mask=image.getchannel("A"))
    small = white.convert("L").resize((9, 8), Image.BOX).load()
    bits = [small[c, r] > small[c + 1, r] for r in range(8) for c in range(8)]
    return "%016x" % sum(1 << (63 - i) for i, bit in enumerate(bits) if bit)


class Corpus(unittest.TestCase):
    """A scratch folder, and scan's records as JSON."""

    def setUp(self):
        self.out = tempfile.TemporaryDirectory()
        self.addCleanup(self.out.cleanup)

    def scan(self, *args, stdin=None, status=0):
        result = subprocess.run([CLI, "scan", *args], capture_output=True, input=stdin)
        self.assertEqual(result.returncode, status, result.stderr)
        return [json.loads(line) for line in result.stdout.decode().splitlines()]


class ScanCommand(Corpus):
    def test_a_system_library_is_hashed_itself_and_says_where_its_icons_are(self):
        stub = data("windows/System32/IMAGERES.DLL")
        record = self.scan(stub)[0]
        with open(stub, "rb") as f:
            self.assertEqual(record["sha256"], hashlib.sha256(f.read()).hexdigest())
        self.assertEqual(record["icons"], 2)
        self.assertEqual(record["from"].replace("\\", "/").split("/")[-2:], ["SystemResources", "imageres.dll.mun"])
        self.assertNotIn("from", self.scan(data("pe/three32.dll"))[0])

    def test_a_collection_file_is_scanned_as_one(self):
        collection = os.path.join(self.out.name, "three.ics")
        run("extract", data("pe/three32.dll"), "--ics", collection)
        record = self.scan(collection)[0]
        self.assertEqual((record["kind"], record["icons"]), ("collection", 3), record)
        # One shorter than a collection's trailer cannot be read as one.
        with open(collection, "r+b") as f:
            f.truncate(5)
        result = run("scan", collection)
        self.assertEqual((result.returncode, json.loads(result.stdout)),
                         (1, {"file": collection, "error": "Stream read error"}))

    def test_records_agree_with_pillow_hashlib_and_the_group_files(self):
        files = sorted(glob.glob(data("*/*.dll")) + glob.glob(data("ne/*.i*")) + glob.glob(data("ico/*.[ic]*")))
        files.append(data("sample.dll"))
        records = self.scan("--all-icons", "--jobs", "3", *files)
        self.assertEqual([r["file"] for r in records], files)
        compared = 0
        for record in filter(lambda r: r["icons"], records):
            with open(record["file"], "rb") as f:
                content = f.read()
            self.assertEqual(record["sha256"], hashlib.sha256(content).hexdigest())
            self.assertEqual(record["size"], len(content))
            self.assertEqual(record["main"], record["all"][0])
            folder = os.path.join(self.out.name, str(compared))
            for mode in ([], ["--group-ico"]):
                run("extract", record["file"], "-o", folder, *mode)
            stem = os.path.join(folder, os.path.basename(record["file"]))
            for icon in record["all"]:
                with self.subTest(file=record["file"], index=icon["index"]):
                    self.assertEqual(icon["dhash"], pillow_dhash("%s_%d.png" % (stem, icon["index"])))
                    group = glob.glob("%s_%d.[ic][cu][or]" % (stem, icon["index"]))[0]
                    with open(group, "rb") as f:
                        group_bytes = f.read()
                    self.assertEqual(icon["group_sha256"], hashlib.sha256(group_bytes).hexdigest())
                    for image in icon["images"]:
                        stored = content[image["offset"] : image["offset"] + image["length"]]
                        self.assertTrue(stored in group_bytes, image)
                    compared += 1
        self.assertGreater(compared, 40)

    def test_every_listed_name_gets_its_record_in_order(self):
        empty = os.path.join(self.out.name, "README.txt")
        open(empty, "w").close()
        names = [data("pe/three32.dll"), "", data("no-such.dll"), data("ico"), empty, data("ico/bpp1.ico")]
        listed = "\n".join(names).encode() + b"\n" + os.fsencode(self.out.name) + b"/\xff.dll\n"
        expected = names + [self.out.name + "/\ufffd.dll"]
        if not ON_WINDOWS:
            fifo = os.path.join(self.out.name, "fifo")
            os.mkfifo(fifo)
            listed += fifo.encode() + b"\n"
            expected.append(fifo)
        listed += b"x" * 300000  # a last name without a line end, longer than any
        records = self.scan("--files-from", "-", stdin=listed, status=1)
        self.assertEqual(len(records[-1]["file"]), 65536)
        self.assertIn("error", records.pop())
        self.assertEqual([r["file"] for r in records], expected)
        self.assertEqual([("error" in r) for r in records], [False, True, True, True, False, False] + [True] * (len(expected) - 6))
        self.assertEqual((records[4]["icons"], "main" in records[4]), (0, False))
        self.assertEqual(records[0]["icons"], 3)
        self.assertNotIn("all", records[0])
        # NUL-separated, folders walked, larger files turned away.
        records = self.scan("-0", "-r", "--max-size", "5000", "--files-from", "-",
                            stdin=data("ne").encode() + b"\0" + data("sample.dll").encode() + b"\0", status=1)
        self.assertEqual([r["file"] for r in records][-1], data("sample.dll"))
        self.assertIn("--max-size", records[-1]["error"])
        walked = [os.path.join(data("ne"), name) for name in sorted(os.listdir(data("ne")))]
        self.assertEqual([(r["file"], "error" in r) for r in records[:-1]], [(f, os.path.getsize(f) > 5000) for f in walked])
        self.assertEqual(self.scan(data("ico/bpp1.ico"))[0]["kind"], "ICO")

    def test_lists_that_cannot_be_read_are_usage_errors_after_the_records_due(self):
        folder = data("ico")
        cases = [(["--files-from", folder], None), (["-0", "--files-from", folder], None),
                 (["--files-from", "-"], "folder"), (["--files-from", data("no-such.txt")], None)]
        for args, stdin in cases:
            with self.subTest(args=args, stdin=stdin):
                fd = os.open(folder if stdin else os.devnull, os.O_RDONLY)
                try:
                    result = subprocess.run([CLI, "scan", data("ico/bpp1.ico"), *args], stdin=fd,
                                            capture_output=True, timeout=60)
                finally:
                    os.close(fd)
                self.assertEqual(result.returncode, 2, result.stderr)
                self.assertIn(b"cannot read the file list", result.stderr)
                records = [json.loads(line) for line in result.stdout.splitlines()]
                self.assertEqual([r["file"] for r in records], [data("ico/bpp1.ico")])
        result = subprocess.run([CLI, "similar", data("ico/bpp1.ico"), "--files-from", folder],
                                capture_output=True, timeout=60)
        self.assertEqual(result.returncode, 2, result.stderr)

    def test_a_listed_name_with_a_nul_byte_is_an_error_of_its_own(self):
        listed = data("ico/bpp1.ico").encode() + b"\0x\n" + data("ico/bpp4.ico").encode() + b"\n"
        records = self.scan("--files-from", "-", stdin=listed, status=1)
        self.assertEqual(len(records), 2)
        self.assertIn("NUL", records[0]["error"])
        self.assertEqual(records[1]["file"], data("ico/bpp4.ico"))

    @unittest.skipIf(ON_WINDOWS, "Windows file names are UTF-16 and always convert")
    def test_names_that_are_not_utf8_keep_their_bytes(self):
        names = [os.path.join(os.fsencode(self.out.name), n) for n in (b"caf\xe9.ico", b"caf\xe8.ico")]
        for name in names:
            shutil.copy(data("ico/bpp1.ico"), name)
        records = self.scan(*map(os.fsdecode, names), os.fsdecode(names[0]) + "x", status=1)
        self.assertEqual([base64.b64decode(r["file_bytes"]) for r in records], names + [names[0] + b"x"])
        self.assertEqual(records[0]["file"], records[1]["file"])
        self.assertNotIn("file_bytes", self.scan(data("ico/bpp1.ico"))[0])
        path = os.path.join(self.out.name, "records.jsonl")
        with open(path, "w") as f:
            f.write("".join(json.dumps(r) + "\n" for r in records))
        found = subprocess.run([CLI, "similar", "--max-distance", "0", "--scan-file", path,
                                records[0]["main"]["dhash"]], capture_output=True)
        self.assertEqual(found.returncode, 0, found.stderr)
        self.assertEqual(sorted(line.split(b"\t")[1] for line in found.stdout.splitlines()), sorted(names))

    @unittest.skipIf(ON_WINDOWS, "under Wine a piped list's records come only at its end; not yet traced")
    def test_each_record_comes_before_the_next_name_is_sent(self):
        for jobs in ("1", "2", "8"):
            with subprocess.Popen([CLI, "scan", "--jobs", jobs, "--files-from", "-"], stdin=subprocess.PIPE,
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL) as process:
                # A deadlock fails by the timer, not by hanging the run.
                timer = threading.Timer(60, process.kill)
                timer.start()
                try:
                    for name in ("ico/bpp1.ico", "ico/bpp4.ico", "sample.dll"):
                        process.stdin.write(data(name).encode() + b"\n")
                        process.stdin.flush()
                        line = process.stdout.readline()
                        self.assertEqual(json.loads(line)["file"], data(name), jobs)
                    process.stdin.close()
                    self.assertEqual(process.wait(), 0)
                finally:
                    timer.cancel()

    def test_thumbnails_are_the_pictures_thumbnail_draws(self):
        files = [data("ico/multi.ico"), data("sample.dll"), data("pe/three32.dll")]
        buffer = io.BytesIO()
        Image.new("RGBA", (32, 32), (9, 90, 200, 255)).save(buffer, "PNG")
        damaged = bytearray(buffer.getvalue())
        at = damaged.index(b"IDAT")
        damaged[at + 6 : at + 12] = b"\xff" * 6  # a picture that cannot be drawn
        broken = os.path.join(self.out.name, "broken.ico")
        with open(broken, "wb") as f:
            f.write(ico_of_pngs([bytes(damaged)]))
        self.assertFalse(any("thumbnail" in json.dumps(r) for r in self.scan("--all-icons", *files)))
        for size in (16, 48):
            records = self.scan("--all-icons", "--thumbnail", str(size), *files, broken)
            for record in records[:-1]:
                target = os.path.join(self.out.name, "expected.png")
                self.assertEqual(run("thumbnail", "-s", str(size), record["file"], target).returncode, 0)
                expected = Image.open(target).convert("RGBa").tobytes()
                self.assertEqual(record["main"]["thumbnail"], record["all"][0]["thumbnail"])
                for icon in record["all"]:
                    with self.subTest(file=record["file"], index=icon["index"], size=size):
                        picture = Image.open(io.BytesIO(base64.b64decode(icon["thumbnail"], validate=True)))
                        self.assertEqual((picture.format, picture.size), ("PNG", (size, size)))
                        if icon["index"] == 0:
                            self.assertEqual(picture.convert("RGBa").tobytes(), expected)
            self.assertEqual(len(records[-1]["all"]), 1)
            self.assertNotIn("thumbnail", records[-1]["main"])

    @unittest.skipIf(SANITIZED, "a sanitizer's own memory hides the program's")
    def test_a_group_file_is_hashed_without_being_held(self):
        image = noise_png(1024)
        source = os.path.join(self.out.name, "crafted.dll")
        with open(source, "wb") as f:  # one group naming a 4 MB image 60 times: a 250 MB group file
            f.write(crafted_pe(image, 1024, 1, 60))
        links = []
        for n in range(8):
            links.append(os.path.join(self.out.name, "%d.dll" % n))
            os.link(source, links[-1])
        measure = ("import resource, subprocess, sys; subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL);"
                   "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)")
        peaks = [int(subprocess.run([sys.executable, "-c", measure, CLI, "scan", "--jobs", jobs, *links],
                                    capture_output=True, text=True).stdout) for jobs in ("1", "8")]
        # Under Wine the figure holds Wine's own memory too.
        self.assertLess(peaks[0], (96 if ON_WINDOWS else 64) * 1024, "peak resident kB")
        # The jobs hold what a file needs within one budget, not each its own.
        self.assertLess(peaks[1], peaks[0] + 64 * 1024, "peak resident kB with 8 jobs")
        record = self.scan(source)[0]
        directory = struct.pack("<HHH", 0, 1, 60) + b"".join(
            struct.pack("<BBBBHHII", 0, 0, 0, 0, 1, 32, len(image), 6 + 16 * 60 + k * len(image)) for k in range(60))
        self.assertEqual(record["main"]["group_sha256"], hashlib.sha256(directory + image * 60).hexdigest())


class SimilarCommand(Corpus):
    def test_look_alikes_are_found_nearest_first_in_files_and_in_records(self):
        base = os.path.join(self.out.name, "base")
        run("extract", data("sample.dll"), "-o", base, "--index", "0")
        original = Image.open(os.path.join(base, "sample.dll_0.png")).convert("RGBA")
        variants = {
            "same.ico": original,
            "pixel.ico": original.copy(),
            "brighter.ico": original.point(lambda v: min(255, v + 12)),
            "resized.ico": original.resize((48, 48), Image.BICUBIC),
            "other.ico": original.transpose(Image.FLIP_LEFT_RIGHT).rotate(90),
        }
        variants["pixel.ico"].putpixel((16, 16), (255, 0, 0, 255))
        folder = os.path.join(self.out.name, "icons")
        os.mkdir(folder)
        for name, picture in variants.items():
            picture.save(os.path.join(folder, name), sizes=[picture.size])
        found = run("similar", "--max-distance", "8", data("sample.dll"), "-r", folder)
        self.assertEqual(found.returncode, 0, found.stderr)
        rows = [line.split("\t") for line in found.stdout.splitlines()]
        names = [os.path.basename(r[1]) for r in rows]
        self.assertEqual(rows[names.index("same.ico")][0], "0")
        self.assertEqual(set(names), {"same.ico", "pixel.ico", "brighter.ico", "resized.ico"})
        self.assertEqual([int(r[0]) for r in rows], sorted(int(r[0]) for r in rows))
        # The same answer from the records of a scan, and from the hash itself.
        records = os.path.join(self.out.name, "records.jsonl")
        with open(records, "w") as f:
            f.write(run("scan", "-r", folder).stdout)
        from_records = run("similar", "--max-distance", "8", "--scan-file", records, data("sample.dll"))
        self.assertEqual(from_records.stdout, found.stdout)
        dhash = self.scan(data("sample.dll"))[0]["main"]["dhash"]
        with open(records, "a") as f:  # a damaged last record, without a line end
            f.write('{"file":"cut","main":{"dhash":"%s"' % dhash)
        from_records = run("similar", "--max-distance", "8", "--scan-file", records, data("sample.dll"))
        self.assertEqual((from_records.returncode, from_records.stdout), (1, found.stdout))
        as_json = run("similar", "--json", "--max-distance", "8", dhash, "-r", folder)
        self.assertEqual([json.loads(l)["file"] for l in as_json.stdout.splitlines()], [r[1] for r in rows])
        self.assertEqual(json.loads(as_json.stdout.splitlines()[0])["dhash"], dhash)


    def similar(self, *args, stdin=None):
        return subprocess.run([CLI, "similar", *args], capture_output=True, input=stdin, timeout=60)

    def test_records_of_any_spacing_count_and_other_lines_are_reported(self):
        dhash = self.scan(data("ico/bpp1.ico"))[0]["main"]["dhash"]
        near = "%016x" % (int(dhash, 16) ^ 0xF)
        lines = [
            json.dumps({"file": "spaced", "main": {"index": 0, "dhash": dhash}}),
            json.dumps({"file": "jq", "main": {"dhash": near}}, indent=None, separators=(", ", ": ")),
            '{"file":"compact","main":{"index":0,"dhash":"%s"}}' % dhash,
            '{"file":"none","error":"Cannot open file none"}',
            '{"file":"no icon","icons":0}',
            '{"file":"undecodable","main":{"dhash":null}}',
            '{"file": "undecodable too", "main": {"index": 0, "dhash": null}}',
            '{"file": "icon without hash", "main": {"index": 0}}',
            "",
            "not json",
            '["file", "a"]',
            # an array or object where an icon or a hash must stand
            '{"file": "main array", "main": [{"dhash": null}]}',
            '{"file": "all of arrays", "all": [[]]}',
            '{"file": "hash array", "main": {"dhash": ["%s"]}}' % dhash,
            '{"file": "hash object", "all": [{"dhash": {}}]}',
            '{"file":"short","main":{"dhash":"%s"}}' % dhash[:15],
            '{"file": "long", "main": {"dhash": "%s0"}}' % dhash,
            # The exact name, in base64, stands before the readable one.
            '{"file":"a?","file_bytes":"YWI=","main":{"index":0,"dhash":"%s"}}' % dhash,
            '{"file":"pad inside","file_bytes":"QQ=A","main":{"index":0,"dhash":"%s"}}' % dhash,
            '{"file":"not base64","file_bytes":"a!bc","main":{"index":0,"dhash":"%s"}}' % dhash,
            # a key given twice stands for its last value
            '{"file":"named twice","file_bytes":"YWI=","file_bytes":1,"main":{"index":0,"dhash":"%s"}}' % dhash,
            # no icon index past 32 bits, which the index could not keep
            '{"file":"index past 32 bits","main":{"index":4294967297,"dhash":"%s"}}' % dhash,
        ]
        path = os.path.join(self.out.name, "records.jsonl")
        with open(path, "w") as f:
            f.write("\n".join(lines) + "\n")
        found = self.similar("--max-distance", "4", "--scan-file", path, dhash)
        self.assertEqual(found.returncode, 1, found.stderr)
        self.assertEqual(found.stdout.decode().splitlines(), ["0\tab\t0", "0\tcompact\t0", "0\tspaced\t0", "4\tjq\t0"])
        self.assertIn(b": 12 lines are not a scan record (the first: line 10)", found.stderr)
        # Only the limit itself is in.
        found = self.similar("--max-distance", "3", "--scan-file", "-", dhash, stdin="\n".join(lines[:3]).encode())
        self.assertEqual(found.stdout.decode().splitlines(), ["0\tcompact\t0", "0\tspaced\t0"])
        # Records that cannot be read at all.
        fd = os.open(self.out.name, os.O_RDONLY)
        try:
            from_folder = subprocess.run([CLI, "similar", "--scan-file", "-", dhash], stdin=fd, capture_output=True)
        finally:
            os.close(fd)
        for result in (self.similar("--scan-file", self.out.name, dhash), from_folder):
            self.assertEqual(result.returncode, 2, result.stderr)
            self.assertIn(b"cannot read", result.stderr)

    def test_the_limit_distance_is_in_for_files_and_records_alike(self):
        records = self.scan("--all-icons", data("sample.dll"))
        icons = records[0]["all"]
        reference = "%016x" % (int(icons[0]["dhash"], 16) ^ 0x7)
        path = os.path.join(self.out.name, "records.jsonl")
        with open(path, "w") as f:
            f.write(json.dumps(records[0], separators=(",", ":")) + "\n")
        for limit, count in (("3", 1), ("2", 0)):
            from_files = self.similar("--max-distance", limit, reference, data("sample.dll"))
            from_records = self.similar("--max-distance", limit, "--scan-file", path, reference)
            self.assertEqual(len(from_files.stdout.splitlines()), count, limit)
            self.assertEqual(from_records.stdout, from_files.stdout, limit)
        # Every icon of an --all-icons record once, as the files give them.
        from_files = self.similar("--all-icons", "--max-distance", "64", reference, data("sample.dll"))
        from_records = self.similar("--all-icons", "--max-distance", "64", "--scan-file", path, reference)
        self.assertEqual(len(from_records.stdout.splitlines()), len(icons))
        self.assertEqual(from_records.stdout, from_files.stdout)
        # A file named many times over is a match each time.
        line = self.similar("--max-distance", "3", reference, data("sample.dll")).stdout
        with open(path, "w") as f:
            f.write((json.dumps(records[0], separators=(",", ":")) + "\n") * 40)
        self.assertEqual(self.similar("--max-distance", "3", "--scan-file", path, reference).stdout, line * 40)
        self.assertEqual(self.similar("--max-distance", "3", reference, *[data("sample.dll")] * 40).stdout, line * 40)

    @unittest.skipIf(ON_WINDOWS, "Windows names hold no tab or line end")
    def test_names_with_tabs_and_line_ends_stay_on_their_line(self):
        names = ["tab\there.ico", "line\nend.ico", "it's.ico", "plain name.ico", "bell\x07\x01.ico"]
        for name in names:
            shutil.copy(data("ico/bpp1.ico"), os.path.join(self.out.name, name))
        found = self.similar("--max-distance", "0", data("ico/bpp1.ico"), "-r", self.out.name)
        self.assertEqual(found.returncode, 0, found.stderr)
        rows = [line.split("\t") for line in found.stdout.decode().split("\n")[:-1]]
        self.assertEqual([len(r) for r in rows], [3] * len(names))
        # Quoted names are shell words, others as they are.
        shown = [subprocess.run(["bash", "-c", "printf %s " + r[1]], capture_output=True, text=True).stdout
                 if r[1].startswith("'") else r[1] for r in rows]
        self.assertEqual(sorted(shown), sorted(os.path.join(self.out.name, n) for n in names))


def record_line(name, dhash, index=0, group=None, all_icons=None, raw_name=None):
    """A compact scan record of one main icon, and of `all_icons` (index,
    hash) pairs where given."""
    icon = lambda i, h, g=None: {"index": i, "id": i + 1, "dhash": "%016x" % h, "group_sha256": g}
    record = {"file": name, "size": 1, "sha256": "0" * 64, "kind": "PE32", "icons": 1,
              "main": icon(index, dhash, group)}
    if raw_name is not None:
        record["file_bytes"] = base64.b64encode(raw_name).decode()
    if all_icons is not None:
        record["all"] = [icon(i, h) for i, h in all_icons]
    return json.dumps(record, separators=(",", ":"))


class IndexedCorpus(Corpus):
    """Records written as a test needs them, and their index."""
    REFERENCE = 0x0123456789ABCDEF

    def write(self, name, lines):
        path = os.path.join(self.out.name, name)
        with open(path, "w") as f:
            f.write("\n".join(lines) + "\n")
        return path

    def build(self, *records, status=0):
        index = os.path.join(self.out.name, "corpus.idx")
        result = run("index", *records, "-o", index)
        self.assertEqual(result.returncode, status, result.stderr)
        return index

    def planted(self):
        """Hashes 0 to 16 bits away from the reference inside each 16-bit
        part of it, 0 to 64 bits away across the whole of it, and other
        records as scan and other tools write them."""
        ref = self.REFERENCE
        lines = []
        for part in range(4):
            for bits in range(17):
                lines.append(record_line("part%d/%02d.exe" % (part, bits), ref ^ (((1 << bits) - 1) << (16 * part))))
        for bits in range(65):
            spread = sum(1 << ((7 * i) % 64) for i in range(bits))
            lines.append(record_line("spread/%02d.exe" % bits, ref ^ spread, index=bits % 3))
        # Every icon of a file, the main one among them; one record twice.
        lines.append(record_line("all.dll", ref ^ 1, all_icons=[(0, ref ^ 1), (5, ref ^ 0x30), (9, ref ^ 0xFF00)]))
        lines.append(record_line("all.dll", ref ^ 1, all_icons=[(0, ref ^ 1), (5, ref ^ 0x30), (9, ref ^ 0xFF00)]))
        lines.append(record_line("main apart.dll", ref ^ 2, index=0, all_icons=[(3, ref ^ 7)]))
        lines.append(record_line("?.exe", ref ^ 0xF0, raw_name=b"\xff.exe"))
        lines.append(json.dumps({"file": "spaced.exe", "main": {"index": 4, "dhash": "%016x" % (ref ^ 0x3)}}))
        lines.append('{"file":"undrawn.exe","main":{"index":0,"dhash":null}}')
        lines.append('{"file":"gone.exe","error":"Cannot open file gone.exe"}')
        return lines


class IndexCommand(IndexedCorpus):
    def test_the_index_finds_what_the_records_do_at_every_distance(self):
        records = self.write("records.jsonl", self.planted())
        index = self.build(records)
        reference = "%016x" % self.REFERENCE
        for options in ([], ["--all-icons"], ["--json"]):
            for distance in range(65):
                args = [*options, "--max-distance", str(distance)]
                linear = run("similar", *args, "--scan-file", records, reference)
                indexed = run("similar", *args, "--index", index, reference)
                self.assertEqual(indexed.returncode, 0, indexed.stderr)
                self.assertEqual(indexed.stdout, linear.stdout, (options, distance))
        # A REFERENCE file, and its icon --index N, as for the other sources.
        shutil.copy(data("sample.dll"), os.path.join(self.out.name, "sample.dll"))
        with open(records, "a") as f:
            f.write(run("scan", "--all-icons", data("sample.dll")).stdout)
        index = self.build(records)
        for icon in ("0", "3"):
            args = ["--all-icons", "--index", icon, "--max-distance", "6"]
            self.assertEqual(run("similar", *args, "--index", index, data("sample.dll")).stdout,
                             run("similar", *args, "--scan-file", records, data("sample.dll")).stdout)
            self.assertIn("sample.dll", run("similar", *args, "--index", index, data("sample.dll")).stdout)

    @unittest.skipIf(SANITIZED or ON_WINDOWS, "a sanitizer needs address space of its own; no limits on Windows")
    def test_out_of_memory_is_said_and_leaves_no_output(self):
        import resource

        def limited(limit):
            return lambda: resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
        # The least address space the program starts in, then 50,000 records
        # that need more.
        limit = 8 << 20
        while subprocess.run([CLI, "--version"], capture_output=True, preexec_fn=limited(limit)).returncode:
            limit *= 2
        records = "".join(record_line("f%06d.exe" % i, i * 0x9E3779B97F4A7C15 % (1 << 64), group="%064x" % i) + "\n"
                          for i in range(50000)).encode()
        before = sorted(os.listdir(self.out.name))
        for command in (["index", "-", "-o", os.path.join(self.out.name, "corpus.idx")], ["clusters", "-"],
                        ["report", "-", "-o", os.path.join(self.out.name, "report.html")]):
            result = subprocess.run([CLI, *command], input=records, capture_output=True, preexec_fn=limited(limit))
            self.assertEqual(result.returncode, 1, (command, result.stderr))
            self.assertEqual(result.stderr.decode(), f"pictrove-cli: out of memory: {command[0]} needs more memory "
                             "than it was given\n")
            self.assertEqual(sorted(os.listdir(self.out.name)), before, command)

    def test_a_group_hash_finds_its_icons(self):
        shared, other = "ab" * 32, "cd" * 32
        records = self.write("records.jsonl", [
            record_line("b.exe", 1, group=shared),
            record_line("a.exe", 2, group=shared),
            record_line("c.exe", 1, group=other),
        ])
        index = self.build(records)
        found = run("similar", "--index", index, "--group", shared)
        self.assertEqual((found.returncode, found.stdout), (0, "0\ta.exe\t0\n0\tb.exe\t0\n"))
        self.assertEqual(run("similar", "--index", index, "--group", "ef" * 32).stdout, "")
        as_json = [json.loads(l) for l in run("similar", "--json", "--index", index, "--group", other).stdout.splitlines()]
        self.assertEqual(as_json, [{"distance": 0, "file": "c.exe", "index": 0, "dhash": "0000000000000001"}])
        # Without the group hashes the index is smaller, answers alike, and says why it cannot look one up.
        slim = os.path.join(self.out.name, "slim.idx")
        self.assertEqual(run("index", "--no-groups", records, "-o", slim).returncode, 0)
        self.assertLess(os.path.getsize(slim), os.path.getsize(index))
        self.assertEqual(run("similar", "--index", slim, "1").stdout, run("similar", "--index", index, "1").stdout)
        found = run("similar", "--index", slim, "--group", shared)
        self.assertEqual((found.returncode, found.stdout), (2, ""))
        self.assertIn("built without the group hashes", found.stderr)

    def test_lines_that_are_no_record_are_reported_and_the_rest_indexed(self):
        past32 = '{"file": "c.exe", "main": {"index": 4294967297, "dhash": "%016x"}}' % 5
        last32 = '{"file": "d.exe", "main": {"index": 4294967295, "dhash": "%016x"}}' % 5
        records = self.write("records.jsonl",
                             [record_line("a.exe", 5), "not json", '["a"]', past32, record_line("b.exe", 5), last32])
        result = run("index", records, "-", "-o", os.path.join(self.out.name, "corpus.idx"))
        self.assertEqual(result.returncode, 1)
        self.assertIn(": 3 lines are not a scan record (the first: line 2)", result.stderr)
        found = run("similar", "--max-distance", "0", "--index", os.path.join(self.out.name, "corpus.idx"), "0" * 15 + "5")
        self.assertEqual(found.stdout, "0\ta.exe\t0\n0\tb.exe\t0\n0\td.exe\t4294967295\n")
        # Records that cannot be read leave the index there was as it was.
        index = self.build(self.write("other.jsonl", [record_line("c.exe", 6)]))
        with open(index, "rb") as f:
            before = f.read()
        for source in (self.out.name, os.path.join(self.out.name, "missing.jsonl")):
            result = run("index", records, source, "-o", index)
            self.assertEqual(result.returncode, 2, source)
            self.assertIn("cannot read", result.stderr)
            with open(index, "rb") as f:
                self.assertEqual(f.read(), before)
        self.assertEqual(sorted(os.listdir(self.out.name)), ["corpus.idx", "other.jsonl", "records.jsonl"])

    def test_damaged_foreign_and_cut_indexes_are_errors(self):
        index = self.build(self.write("records.jsonl", self.planted()))
        with open(index, "rb") as f:
            good = f.read()
        reference = "%016x" % self.REFERENCE

        def search(content, *args):
            path = os.path.join(self.out.name, "damaged.idx")
            with open(path, "wb") as f:
                f.write(content)
            return [run(*command, path) for command in
                    (["similar", "--max-distance", "10", *args, "--index"], ["clusters", "--index"])]

        with open(data("ico/png256.ico"), "rb") as f:
            icon = f.read()
        cases = {
            "not an index": [b"", b"{\"file\":\"a\"}\n", good[:7], icon],
            "another version": [good[:8] + b"\x02" + good[9:]],
            "is damaged": [good[:72], good[:-1], good + b"\0" * 8, good[:16] + b"\x01" + good[17:],
                           # the first buckets of table A, after the header, made to point past the end
                           good[:72] + b"\xff" * 8 + good[80:]],
        }
        for message, contents in cases.items():
            for content in contents:
                for result in search(content, reference):
                    self.assertEqual(result.returncode, 2, (message, len(content), result.stderr))
                    self.assertIn(message, result.stderr)
                    self.assertEqual(result.stdout, "")
        # Bytes overwritten anywhere: an error or an answer, never a crash.
        for at in range(72, len(good), len(good) // 97):
            for result in search(good[:at] + b"\xff" * 32 + good[at + 32:], reference):
                self.assertIn(result.returncode, (0, 2), (at, result.stderr))
        for missing in (self.out.name, os.path.join(self.out.name, "missing.idx")):
            result = run("similar", "--index", missing, reference)
            self.assertEqual(result.returncode, 2)
            self.assertIn("cannot read the index", result.stderr)


class ClustersCommand(IndexedCorpus):
    def clusters(self, *args, status=0):
        result = run("clusters", *args)
        self.assertEqual(result.returncode, status, result.stderr)
        return result.stdout

    def test_families_link_through_their_members_largest_first(self):
        a, b = 0x0F0F0F0F0F0F0F0F, 0xF0F0F0F000000000
        lines = [
            # a chain: each 4 bits from the next, the ends 8 apart
            record_line("chain/1.exe", a), record_line("chain/2.exe", a ^ 0xF), record_line("chain/3.exe", a ^ 0xFF),
            # two icons of one file among three of b's family, the center b itself
            record_line("b/x.dll", b, all_icons=[(0, b), (1, b ^ 0x2)]),
            record_line("b/y.exe", b ^ 0x1),
            # equal group hashes link whatever their pictures
            record_line("group/1.exe", 0x1111, group="12" * 32), record_line("group/2.exe", 0xEEEE0000, group="12" * 32),
            record_line("alone.exe", 0xAAAAAAAAAAAAAAAA),
            # group hashes that are no hash (not hexadecimal) are none, and link nothing
            record_line("nohash/1.exe", 0x3C3C3C3C00000000, group="zz" * 32),
            record_line("nohash/2.exe", 0x000000003C3C3C3C, group="zz" * 32),
        ]
        records = self.write("records.jsonl", lines)
        found = [json.loads(l) for l in self.clusters(records, "--all-icons").splitlines()]
        self.assertEqual([(c["cluster"], c["size"], c["files"]) for c in found], [(0, 3, 2), (1, 3, 3), (2, 2, 2)])
        self.assertEqual([(m["file"], m["index"], m["distance"]) for m in found[0]["members"]],
                         [("b/x.dll", 0, 0), ("b/x.dll", 1, 1), ("b/y.exe", 0, 1)])
        self.assertEqual(found[0]["representative"],
                         {"file": "b/x.dll", "index": 0, "dhash": "%016x" % b, "group_sha256": None})
        self.assertEqual(found[1]["representative"]["file"], "chain/2.exe")
        self.assertEqual([m["group_sha256"] for m in found[2]["members"]], ["12" * 32] * 2)
        self.assertEqual(found[2]["representative"]["file"], "group/1.exe")  # of two as near, the first
        # The chain falls apart below its links' distance; every icon on its own with --min-size 1.
        self.assertNotIn("chain/", self.clusters(records, "--radius", "3"))
        singles = [json.loads(l) for l in self.clusters(records, "--radius", "0", "--min-size", "1").splitlines()]
        self.assertEqual(sum(c["size"] for c in singles), 10)
        self.assertEqual([c["size"] for c in singles[:2]], [2, 1])  # the group, and no other

    def test_the_same_families_whatever_the_threads_and_the_source(self):
        lines = [record_line("f%04d.exe" % n, (n * 0x9E3779B97F4A7C15) % (1 << 64) if n % 3 else 0xFF ^ (1 << (n % 64)))
                 for n in range(3000)]
        records = self.write("records.jsonl", lines)
        index = self.build(records)
        first = self.clusters(records, "--jobs", "1")
        self.assertGreater(len(first.splitlines()), 0)
        self.assertEqual(self.clusters(records, "--jobs", "2"), first)
        self.assertEqual(self.clusters("--index", index, "--jobs", "2"), first)


def ico_of_pngs(pngs):
    """An icon file holding `pngs` (bytes each) as its images."""
    at = 6 + 16 * len(pngs)
    entries = b""
    for png in pngs:
        entries += struct.pack("<BBBBHHII", 0, 0, 0, 0, 1, 32, len(png), at)
        at += len(png)
    return struct.pack("<HHH", 0, 1, len(pngs)) + entries + b"".join(pngs)


class DecodeWork(OutputFolder):
    """Small files naming one costly image many times. Whatever is decoded
    counts against a budget of 16 million pixels for a small file, so an
    image decoded again for each time it is named (sixteen 1024 x 1024
    decodes) shows as icons left undecoded."""

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.bombs = {}
        for name, content in crafted.work_bombs().items():
            cls.bombs[name] = os.path.join(cls.folder.name, name)
            with open(cls.bombs[name], "wb") as f:
                f.write(content)

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def scan(self, name, *args, status=0):
        result = run("scan", *args, self.bombs[name])
        self.assertEqual(result.returncode, status, (name, args, result.stderr))
        return json.loads(result.stdout)

    def test_an_image_named_many_times_is_decoded_once(self):
        for name, icons in [("work-shared-png.dll", 500), ("work-bitmap-groups.dll", 62)]:
            record = self.scan(name, "--all-icons")
            self.assertNotIn("error", record, name)
            self.assertEqual(len(record["all"]), icons, name)
            self.assertEqual({icon["dhash"] for icon in record["all"]}, {record["main"]["dhash"]}, name)
            self.assertIsNotNone(record["main"]["dhash"], name)
            for options, per_icon in [([], 1), (["--all-sizes"], 2), (["--size", "1024"], 1)]:
                out = tempfile.mkdtemp(dir=self.out.name)
                result = run("extract", self.bombs[name], *options, "-o", out)
                self.assertEqual(result.returncode, 0, (name, options, result.stderr))
                self.assertEqual(len(os.listdir(out)), icons * per_icon, (name, options))
            self.thumbnail(name, status=0)
        # A failing image is tried once, and its failure remembered.
        record = self.scan("work-failing-png.dll", "--all-icons")
        self.assertEqual((record["main"]["dhash"], "error" in record), (None, False))
        self.thumbnail("work-failing-png.dll", status=1)
        for options in [[], ["--all-sizes"]]:
            result = run("extract", self.bombs["work-failing-png.dll"], *options, "-o", self.out.name)
            self.assertEqual(result.returncode, 1, options)
            self.assertNotIn("were not decoded", result.stderr, options)

    def thumbnail(self, name, status):
        result = run("thumbnail", self.bombs[name], os.path.join(self.out.name, "thumb.png"))
        self.assertEqual(result.returncode, status, (name, result.stderr))

    def test_a_directory_of_as_many_entries_as_a_file_may_hold_is_read_whole(self):
        # 65,535 groups share one small PNG: the most entries one directory
        # is read with.
        path = os.path.join(self.out.name, "full.dll")
        with open(path, "wb") as f:
            f.write(crafted.pe_with_resources(crafted.shared_groups_tree(65535, 1, crafted.png(16))))
        result = run("list", path)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout.splitlines()[0], f"{path}: 65535 icons (PE32)")

    def test_images_past_the_budget_are_reported_undecoded(self):
        # Twenty distinct 1024 x 1024 images that fail late: the first 16 use
        # up the budget of a file this small.
        path = os.path.join(self.out.name, "twenty.ico")
        with open(path, "wb") as f:
            f.write(ico_of_pngs([crafted.png(1024 - n, broken=True) for n in range(20)]))
        result = run("scan", path)
        self.assertEqual(result.returncode, 1, result.stderr)
        record = json.loads(result.stdout)
        self.assertIsNone(record["main"]["dhash"])
        self.assertIn("were not decoded", record["error"])
        result = run("extract", path, "--ics", os.path.join(self.out.name, "set.ics"))
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn("twenty.ico: the rest of its images were not decoded", result.stderr)

    @unittest.skipIf(ON_WINDOWS, "the Windows build reads no AppImage")
    def test_a_drawing_stopped_by_its_limits_says_why_wherever_it_was_asked_for(self):
        # Ten to the ninth shapes: listed from one reading, stopped when drawn.
        path = crafted.svg_appimage(self.folder.name, crafted.svg_fan_out())
        self.assertEqual(run("list", path).returncode, 0)
        why = "icon 0 cannot be decoded: reading and drawing its SVG pictures takes more than 1.5 s of processor time"
        result = run("scan", path)
        self.assertEqual((result.returncode, json.loads(result.stdout)["error"]), (1, why))
        result = run("extract", path, "-o", self.out.name)
        self.assertEqual((result.returncode, result.stderr), (1, f"pictrove-cli: {path}: {why}\n"))
        result = run("thumbnail", path, os.path.join(self.out.name, "thumb.png"))
        self.assertEqual(result.returncode, 1)
        self.assertIn("no icon to show: reading and drawing its SVG pictures", result.stderr)
        self.assertEqual(self.written(), [])

    def test_a_group_past_the_group_file_cap_says_so(self):
        result = run("extract", self.bombs["work-bitmap-63.dll"], "--group-ico", "-o", self.out.name)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn("icon 0: its images would pass 256 MiB, the most one group file may hold", result.stderr)
        self.assertEqual(self.written(), [])


class DamagedFiles(OutputFolder):
    """An executable cut short shows what is intact and says the rest is damaged."""

    def cut(self, length, name="cut.dll"):
        with open(data("pe/three64.dll"), "rb") as f:
            content = f.read()
        path = os.path.join(self.out.name, name)
        with open(path, "wb") as f:
            f.write(content[:length])
        return path

    def test_a_file_cut_short_lists_its_intact_icons_and_fails(self):
        whole = json.loads(run("scan", "--all-icons", data("pe/three64.dll")).stdout)
        intact_images = {(i["offset"], i["length"]): icon["group_sha256"]
                         for icon in whole["all"] for i in icon["images"]}
        # Past the tree's root, at half the file (the group directories lie
        # last), and through the second group's directory.
        for length, intact in ((2048, 0), (13312, 0), (26400, 1)):
            path = self.cut(length)
            listed = run("list", path)
            self.assertEqual(listed.returncode, 1, (length, listed.stderr))
            self.assertIn(path + ": the file is damaged: icon resources it names lie past its end",
                          listed.stderr, length)
            count = int(re.match(re.escape(path) + r": (\d+) icons? \(PE32\+\)", listed.stdout).group(1))
            self.assertEqual(count, intact, length)
            record = json.loads(run("scan", "--all-icons", path).stdout)
            self.assertIn("the file is damaged", record.get("error", ""), length)
            self.assertEqual(record["icons"], count, length)
            for icon in record.get("all", []):  # what is shown lies wholly in the file
                for image in icon["images"]:
                    self.assertLessEqual(image["offset"] + image["length"], length)
                    self.assertIn((image["offset"], image["length"]), intact_images)
            as_json = json.loads(run("list", "--json", path).stdout)[0]
            self.assertEqual((as_json["count"], as_json["error"][:19]), (count, "the file is damaged"))
            out = os.path.join(self.out.name, "out-%d" % length)
            extracted = run("extract", path, "-o", out)
            self.assertEqual(extracted.returncode, 1, length)
            self.assertIn("the file is damaged", extracted.stderr)
            self.assertEqual(len(os.listdir(out)) if os.path.isdir(out) else 0, count)

    def test_slack_past_the_end_that_nothing_uses_is_no_damage(self):
        # The resource section says it runs 4 KiB past the end of the file.
        path = self.cut(26624, "slack.dll")
        with open(path, "r+b") as f:
            content = f.read()
            pe = struct.unpack_from("<I", content, 0x3C)[0]
            sections = pe + 24 + struct.unpack_from("<H", content, pe + 20)[0]
            for n in range(struct.unpack_from("<H", content, pe + 6)[0]):
                at = sections + 40 * n
                if content[at:at + 5] == b".rsrc":
                    f.seek(at + 16)
                    f.write(struct.pack("<I", struct.unpack_from("<I", content, at + 16)[0] + 0x1000))
        listed = run("list", path)
        self.assertEqual(listed.returncode, 0, listed.stderr)
        self.assertEqual(listed.stdout.replace(path, "X"),
                         run("list", data("pe/three64.dll")).stdout.replace(data("pe/three64.dll"), "X"))
        self.assertNotIn("error", json.loads(run("scan", path).stdout))


PLANTED_MODULE = r"""
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>
__attribute__((constructor)) static void planted(void) {
    const char* marker = getenv("PLANTED_MARKER");
    if (marker) close(open(marker, O_CREAT | O_WRONLY, 0644));
}
const void* pictrove_codecs(void) { return 0; }
"""


def app_package(path):
    """An app package of one PNG logo, made with zipfile."""
    logo = io.BytesIO()
    Image.new("RGBA", (44, 44), (0, 120, 215, 255)).save(logo, "PNG")
    import zipfile
    with zipfile.ZipFile(path, "w") as archive:
        archive.writestr("AppxManifest.xml", "<Package><Properties><Logo>Logo.png</Logo></Properties></Package>")
        archive.writestr("Logo.png", logo.getvalue())
    return path


@unittest.skipIf(ON_WINDOWS, "the Windows build has its codecs built in")
class Modules(unittest.TestCase):
    """Where the modules come from: one folder, stamped, never another picture in their place."""

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.top = self.tmp.name
        folder = os.path.dirname(os.path.realpath(CLI))
        for up in ("..", "../..", "../../.."):
            built = os.path.normpath(os.path.join(folder, up, "lib", "pictrove"))
            if os.path.exists(os.path.join(built, "pictrove-codecs.so")):
                self.built = built
                break
        else:
            self.skipTest("no module folder in this build")
        # A copy of the program outside the build, as an install lays it out.
        self.bin = os.path.join(self.top, "bin")
        os.makedirs(self.bin)
        self.cli = shutil.copy(CLI, self.bin)
        self.marker = os.path.join(self.top, "planted-ran")
        self.env = dict(os.environ, PLANTED_MARKER=self.marker)
        self.png_icons = os.path.abspath(data("pe/three32.dll"))  # its fourth image of icon 1 is a 256 px PNG

    def run_copy(self, *args):
        return subprocess.run([self.cli, *args], capture_output=True, text=True, cwd=self.top, env=self.env)

    def plant(self, path):
        source = os.path.join(self.top, "planted.c")
        with open(source, "w") as out:
            out.write(PLANTED_MODULE)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        made = subprocess.run(["cc", "-shared", "-fPIC", "-o", path, source], capture_output=True, text=True)
        if made.returncode != 0:
            self.skipTest("no C compiler: " + made.stderr)

    def install_modules(self):
        for name in os.listdir(self.built):
            shutil.copy(os.path.join(self.built, name), self.bin)

    def test_a_copy_looks_beside_itself_only_and_says_what_is_missing(self):
        # Where earlier builds looked too: the working folder and lib/pictrove above the program.
        self.plant(os.path.join(self.top, "pictrove-codecs.so"))
        self.plant(os.path.join(self.top, "lib", "pictrove", "pictrove-codecs.so"))
        out = os.path.join(self.top, "out")
        result = self.run_copy("extract", "--size", "256", "-o", out, self.png_icons)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn("cannot load module " + os.path.join(os.path.realpath(self.bin), "pictrove-codecs.so"),
                      result.stderr)
        self.assertFalse(os.path.exists(self.marker), "a planted module ran")
        # A scan record says so instead of a record without its hash.
        record = json.loads(self.run_copy("scan", "--thumbnail", "32", self.png_icons).stdout)
        self.assertIn("pictrove-codecs.so", record.get("error", ""), record)
        # A package is not listed as a file without icons.
        package = app_package(os.path.join(self.top, "app.msix"))
        listed = self.run_copy("list", "--json", package)
        self.assertEqual(listed.returncode, 1, listed.stdout)
        self.assertIn("pictrove-appx.so", json.loads(listed.stdout)[0]["error"])
        self.assertFalse(os.path.exists(self.marker), "a planted module ran")
        # Installed beside it, the same copy reads them all.
        self.install_modules()
        result = self.run_copy("extract", "--size", "256", "-o", out, self.png_icons)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.run_copy("list", package).stdout.splitlines()[0], package + ": 1 icon (APPX)")

    def test_a_module_of_another_build_or_open_to_others_is_refused_before_it_runs(self):
        self.install_modules()
        codecs = os.path.join(self.bin, "pictrove-codecs.so")
        self.plant(codecs)
        refused = self.run_copy("thumbnail", self.png_icons, os.path.join(self.top, "t.png"))
        self.assertEqual(refused.returncode, 1)
        self.assertIn(codecs + ": it is no module of this build of Pictrove", refused.stderr)
        self.assertIn("which %s belongs to" % os.path.realpath(self.cli), refused.stderr)
        self.assertFalse(os.path.exists(self.marker), "a module of another build ran before it was checked")
        # Another module of this very build, under the codec's name.
        shutil.copy(os.path.join(self.built, "pictrove-msi.so"), codecs)
        self.assertIn("no module of this build", self.run_copy("thumbnail", self.png_icons, "t.png").stderr)
        shutil.copy(os.path.join(self.built, "pictrove-codecs.so"), codecs)
        os.chmod(codecs, 0o757)
        self.assertIn(codecs + ": every user may change it",
                      self.run_copy("thumbnail", self.png_icons, "t.png").stderr)
        os.chmod(codecs, 0o755)
        if os.geteuid() == 0:  # only the superuser may give a file away
            os.chown(codecs, 65534, 65534)
            self.assertIn(codecs + ": it belongs to another user",
                          self.run_copy("thumbnail", self.png_icons, "t.png").stderr)
            # Run by that user, its own module and the superuser's are both loaded.
            as_nobody = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]
            os.chmod(self.top, 0o755)
            if shutil.which("setpriv") and subprocess.run([*as_nobody, "test", "-r", self.png_icons]).returncode == 0:
                for owner in (65534, 0):
                    os.chown(codecs, owner, owner)
                    scanned = subprocess.run([*as_nobody, self.cli, "scan", "--thumbnail", "32", self.png_icons],
                                             capture_output=True, text=True, cwd=self.top, env=self.env)
                    self.assertNotIn("error", json.loads(scanned.stdout), (owner, scanned.stdout))
            os.chown(codecs, 0, 0)
        self.assertEqual(self.run_copy("thumbnail", self.png_icons, "t.png").returncode, 0)

    def test_a_library_missing_at_run_time_is_named(self):
        if not shutil.which("patchelf"):
            self.skipTest("patchelf is missing")
        self.install_modules()
        codecs = os.path.join(self.bin, "pictrove-codecs.so")
        subprocess.run(["patchelf", "--replace-needed", "libspng.so.0", "libpictrove-gone.so.0", codecs], check=True)
        for args in (["thumbnail", self.png_icons, "t.png"], ["extract", "-o", "out", self.png_icons]):
            result = self.run_copy(*args)
            self.assertEqual(result.returncode, 1, args)
            self.assertIn("libpictrove-gone.so.0", result.stderr, args)
        self.assertFalse(os.path.exists(os.path.join(self.top, "t.png")))
        record = json.loads(self.run_copy("scan", "--thumbnail", "32", self.png_icons).stdout)
        self.assertIn("libpictrove-gone.so.0", record.get("error", ""), record)


class Usage(unittest.TestCase):
    def test_usage_errors_exit_2_with_the_usage_text(self):
        cases = [
            [],
            ["frobnicate", data("sample.dll")],
            ["list"],
            ["list", "--all-sizes", data("sample.dll")],
            ["list", "--wat", data("sample.dll")],
            ["extract", data("sample.dll")],
            ["extract", data("sample.dll"), "-o"],
            ["extract", data("sample.dll"), "-o", "x", "--index", "-1"],
            ["extract", data("sample.dll"), "-o", "x", "--index", "one"],
            ["extract", "--json", data("sample.dll"), "-o", "x"],
            ["thumbnail", data("sample.dll")],
            ["thumbnail", data("sample.dll"), "x.png", "-s"],
            ["thumbnail", "-s", "7", data("sample.dll"), "x.png"],
            ["thumbnail", "-s", "1025", data("sample.dll"), "x.png"],
            ["thumbnail", "--json", data("sample.dll"), "x.png"],
            ["list", "--size", "7", data("sample.dll")],
            ["list", "--size", "1025", data("sample.dll")],
            ["list", "--group-ico", data("sample.dll")],
            ["extract", data("sample.dll"), "-o", "x", "--group-ico", "--ico"],
            ["extract", "-r", data("ico"), "--ics", "x.ics"],
            ["scan"],
            ["scan", "--jobs", "0", data("sample.dll")],
            ["scan", "--json", data("sample.dll")],
            ["scan", "--thumbnail", "7", data("sample.dll")],
            ["scan", "--thumbnail", "1025", data("sample.dll")],
            ["list", "--thumbnail", "32", data("sample.dll")],
            ["report", "r.jsonl"],
            ["report", "-o", "r.html"],
            ["report", "r.jsonl", "-o", "r.html", "--radius", "65"],
            ["report", "r.jsonl", "-o", "r.html", "--min-size", "0"],
            ["report", "r.jsonl", "-o", "r.html", "--json"],
            ["list", "--radius", "3", data("sample.dll")],
            ["list", "--all-icons", data("sample.dll")],
            ["similar", data("sample.dll")],
            ["similar", "--scan-file", "r.jsonl"],
            ["similar", "--max-distance", "65", data("sample.dll"), data("sample.dll")],
            ["index", "r.jsonl"],
            ["index", "-o", "x.idx"],
            ["index", "r.jsonl", "-o", "x.idx", "--all-icons"],
            ["clusters", "r.jsonl", "--no-groups"],
            ["clusters"],
            ["clusters", "r.jsonl", "--index", "x.idx"],
            ["clusters", "r.jsonl", "--radius", "65"],
            ["clusters", "r.jsonl", "--min-size", "0"],
            ["similar", "--index", "x.idx", "--group", "ab"],
            ["similar", "--group", "ab" * 32, data("sample.dll")],
            ["similar", "--index", "x.idx", "--group", "ab" * 32, data("sample.dll")],
            ["similar", "--index", "x.idx", "--scan-file", "r.jsonl", data("sample.dll")],
            ["similar", "--index", "x.idx", data("sample.dll"), data("sample.dll")],
            ["list", "--radius", "3", data("sample.dll")],
            ["list", "--index", "x.idx", data("sample.dll")],
        ]
        for args in cases:
            result = run(*args)
            self.assertEqual(result.returncode, 2, args)
            lines = result.stderr.splitlines()
            self.assertEqual(len(lines), 3, args)
            self.assertTrue(lines[1].startswith("Usage: pictrove-cli "), args)
            self.assertEqual(lines[2], "Try 'pictrove-cli --help'.", args)
            self.assertEqual(result.stdout, "", args)

    def test_help_and_version(self):
        self.assertIn("Usage:", run("--help").stdout)
        self.assertRegex(run("--version").stdout, r"^pictrove-cli \d+\.\d+")


def padded_png(length):
    """A 1 x 1 PNG of `length` bytes: a private chunk makes up the rest."""
    buffer = io.BytesIO()
    Image.new("RGBA", (1, 1)).save(buffer, "PNG")
    png = buffer.getvalue()
    body = b"prIv" + bytes(length - len(png) - 12)
    chunk = struct.pack(">I", len(body) - 4) + body + struct.pack(">I", zlib.crc32(body))
    return png[:-12] + chunk + png[-12:]


def ended_pid():
    """The ID of a process that has just ended."""
    child = subprocess.Popen(["true"])
    child.wait()
    return child.pid


class SavingOutputs(OutputFolder):
    def test_outputs_count_as_files_and_whole_blocks(self):
        tiny = padded_png(82)
        block = os.statvfs(self.out.name).f_bsize
        # One group naming an image of a block and a byte many times: half
        # the bytes of the budget, all of it on the disk.
        cases = [(crafted_pe(tiny, 1, 1000, 1, [tiny[:33]] * 15), "would make more than 16384 files")]
        if block >= 2048:
            entries = (64 << 20) // (2 * block) + 16
            cases.append((crafted_pe(padded_png(block + 1), 1, 1, entries), "would take more than 64 MiB"))
        for source, message in cases:
            with tempfile.TemporaryDirectory() as top:
                path, out = os.path.join(top, "crafted.dll"), os.path.join(top, "out")
                with open(path, "wb") as f:
                    f.write(source)
                result = run("extract", "--all-sizes", path, "-o", out)
                self.assertEqual(result.returncode, 1, message)
                self.assertIn("crafted.dll: its icons " + message, result.stderr)
                self.assertEqual(len(os.listdir(out)), 0, message)

    def test_the_budget_of_a_system_library_is_its_mun_files(self):
        top = self.out.name
        for folder in ("System32", "SystemResources", "out"):
            os.mkdir(os.path.join(top, folder))
        stub = os.path.join(top, "System32", "big.dll")
        with open(stub, "wb") as f:
            f.write(crafted_pe(noise_png(16), 16, groups=0, entries=1))
            f.truncate(5 << 20)  # a budget of 80 MiB
        with open(os.path.join(top, "SystemResources", "big.dll.mun"), "wb") as f:
            f.write(crafted_pe(noise_png(256), 256, 1, 300))  # 78 MB asked, 64 MiB allowed
        result = run("extract", stub, "--group-ico", "-o", os.path.join(top, "out"))
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn("big.dll: its icons would take more than 64 MiB", result.stderr)
        self.assertEqual(os.listdir(os.path.join(top, "out")), [])

    def test_markers_grow_across_the_inputs_of_one_stem(self):
        # The third is free to take the name without a marker, yet follows the second.
        top = self.out.name
        for folder, source in (("1", "ico/bpp1.ico"), ("2", "ico/bpp4.ico"), ("3", "ico/cursor.cur")):
            os.mkdir(os.path.join(top, folder))
            shutil.copy(data(source), os.path.join(top, folder, "x.ico"))
        out = os.path.join(top, "out")
        result = run("extract", "-r", *(os.path.join(top, f) for f in "123"), "--group-ico", "-o", out)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(sorted(os.listdir(out)), ["x.ico_0.ico", "x.ico~2_0.ico", "x.ico~3_0.cur"])

    @unittest.skipIf(ON_WINDOWS, "pipes, links and signals as Linux has them")
    def test_pipes_links_and_leftovers_among_the_outputs(self):
        out = self.out.name
        # A pipe that sits at an output name is no reader the user chose.
        pipe = os.path.join(out, "bpp1.ico_0.png")
        os.mkfifo(pipe)
        result = subprocess.run([CLI, "extract", data("ico/bpp1.ico"), "-o", out], capture_output=True,
                                text=True, timeout=20)
        self.assertEqual(result.returncode, 1)
        self.assertIn("is not a regular file", result.stderr)
        os.unlink(pipe)
        # One the user names takes the bytes under its own name.
        result = subprocess.run([CLI, "extract", data("pe/three32.dll"), "--ics", "/dev/stdout"],
                                capture_output=True, timeout=20)
        self.assertEqual((result.returncode, result.stderr), (0, b""))
        self.assertTrue(result.stdout[-13:].startswith(b"Icons"), result.stdout[-13:])
        with open(os.path.join(out, "set"), "w+b") as f:  # stdout sent to a file
            result = subprocess.run([CLI, "extract", data("pe/three32.dll"), "--ics", "/dev/stdout"],
                                    stdout=f, stderr=subprocess.PIPE, timeout=20)
            self.assertEqual((result.returncode, result.stderr), (0, b""))
        with open(os.path.join(out, "set"), "rb") as f:
            self.assertTrue(f.read()[-13:].startswith(b"Icons"))
        # A loop of links is no file to write.
        loop = os.path.join(out, "loop.png")
        os.symlink("loop2.png", loop)
        os.symlink("loop.png", os.path.join(out, "loop2.png"))
        result = run("thumbnail", data("ico/bpp1.ico"), loop)
        self.assertEqual(result.returncode, 1)
        self.assertTrue(os.path.islink(loop))
        # The leftovers of a run that ended without clearing up go with the
        # next run into the folder; a running process's stay.
        stale = os.path.join(out, f".pictrove-{ended_pid()}-0.tmp")
        running = os.path.join(out, f".pictrove-{os.getpid()}-0.tmp")
        for path in (stale, running):
            with open(path, "wb") as f:
                f.write(b"part")
        self.extract(data("ico/bpp1.ico"))
        self.assertFalse(os.path.exists(stale))
        self.assertTrue(os.path.exists(running))
        # Termination signals are caught (to remove the temporary files) and
        # still end the tool with their own status. Opening the pipe waits
        # for the tool to open it too; then it waits to write more than the
        # pipe holds.
        pipe, large = os.path.join(out, "set.ics"), os.path.join(out, "large.dll")
        with open(large, "wb") as f:
            f.write(crafted_pe(noise_png(32), 32, 400, 1))  # 300 KB of collection
        os.mkfifo(pipe)
        tool = subprocess.Popen([CLI, "extract", large, "--ics", pipe])
        with open(pipe, "rb"):
            with open(f"/proc/{tool.pid}/status") as f:
                caught = int(re.search(r"SigCgt:\s*([0-9a-f]+)", f.read()).group(1), 16)
            for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
                self.assertTrue(caught >> (number - 1) & 1, number)
            tool.send_signal(signal.SIGTERM)
            self.assertEqual(tool.wait(timeout=60), -signal.SIGTERM)


if __name__ == "__main__":
    args = sys.argv[1:]
    CLI = args[args.index("--cli") + 1]
    DATA = args[args.index("--data") + 1]
    rest = [a for i, a in enumerate(args) if a not in ("--cli", "--data") and args[i - 1] not in ("--cli", "--data")]
    unittest.main(argv=[sys.argv[0], *rest], verbosity=1)
