#!/usr/bin/python3
"""pictrove-cli as scripts see it: output shapes, file names, exit codes.

    cli_test.py --cli PATH --data DIR [unittest arguments]
"""

import json
import os
import re
import struct
import subprocess
import sys
import tempfile
import unittest

try:
    from PIL import Image
except ImportError:
    print("Pillow is missing")
    sys.exit(77)

CLI = DATA = None


def run(*args):
    return subprocess.run([CLI, *args], capture_output=True, text=True)


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

    def test_json_describes_every_icon_and_image(self):
        files = [data("pe/three64.dll"), data("ne/icons.icl"), data("ico/cursor.cur"), data("README.md")]
        result = run("list", "--json", *files)
        self.assertEqual(result.returncode, 0, result.stderr)
        listing = json.loads(result.stdout)
        self.assertEqual([f["file"] for f in listing], files)
        self.assertEqual([f["count"] for f in listing], [3, 4, 1, 0])
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

    def test_a_missing_file_is_reported_and_the_rest_still_listed(self):
        missing = data("no-such.dll")
        result = run("list", "--json", missing, data("ico/bpp1.ico"))
        self.assertEqual(result.returncode, 1)
        self.assertIn(missing, result.stderr)
        self.assertEqual([f["count"] for f in json.loads(result.stdout)], [1])


class ExtractCommand(unittest.TestCase):
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

    def test_images_of_the_same_size_and_depth_each_get_a_file(self):
        with open(data("ico/bpp8.ico"), "rb") as f:
            one = f.read()
        size = struct.unpack_from("<I", one, 14)[0]
        image = one[22:22 + size]
        twice = struct.pack("<HHH", 0, 1, 2) + one[6:14] + struct.pack("<II", size, 38) + \
            one[6:14] + struct.pack("<II", size, 38 + size) + image + image
        path = os.path.join(self.out.name, "twice.ico")
        with open(path, "wb") as f:
            f.write(twice)
        self.extract(path, "--all-sizes")
        self.assertEqual(self.written(), ["twice.ico", "twice.ico_0.png", "twice.ico_0_24x24_8.png",
                                          "twice.ico_0_24x24_8_2.png"])

    def test_index_takes_one_icon(self):
        self.extract(data("sample.dll"), "--index", "7")
        self.assertEqual(self.written(), ["sample.dll_7.png"])
        result = self.extract(data("sample.dll"), "--index", "12", status=1)
        self.assertIn("no icon 12", result.stderr)

    def test_missing_files_and_files_without_icons(self):
        missing = data("no-such.dll")
        result = self.extract(missing, data("ico/bpp1.ico"), status=1)
        self.assertIn(missing, result.stderr)
        self.assertEqual(self.written(), ["bpp1.ico_0.png"])
        result = self.extract(data("README.md"))
        self.assertIn("no icons", result.stderr)


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
        ]
        for args in cases:
            result = run(*args)
            self.assertEqual(result.returncode, 2, args)
            self.assertIn("Usage:", result.stderr, args)
            self.assertEqual(result.stdout, "", args)

    def test_help_and_version(self):
        self.assertIn("Usage:", run("--help").stdout)
        self.assertRegex(run("--version").stdout, r"^pictrove-cli \d+\.\d+")


if __name__ == "__main__":
    args = sys.argv[1:]
    CLI = args[args.index("--cli") + 1]
    DATA = args[args.index("--data") + 1]
    rest = [a for i, a in enumerate(args) if a not in ("--cli", "--data") and args[i - 1] not in ("--cli", "--data")]
    unittest.main(argv=[sys.argv[0], *rest], verbosity=1)
