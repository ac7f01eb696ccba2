#!/usr/bin/python3
"""pictrove-cli report: the page's data as written, and the page as Chromium
shows it (the Browser class; exit status 77 when Chromium is missing).

    report_test.py --cli PATH --data DIR [unittest arguments]
"""

import base64
import html.parser
import io
import json
import os
import random
import re
import shutil
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
CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")


def data(name):
    return os.path.join(DATA, name)


def page_data(page):
    """The JSON the page carries, as its script reads it."""
    text = re.search(rb'<script type="application/json" id="data">(.*?)</script>', page, re.S).group(1)
    return json.loads(text)


class Reports(unittest.TestCase):
    """A scratch folder, the test data's records, and reports of them."""

    def setUp(self):
        self.out = tempfile.TemporaryDirectory()
        self.addCleanup(self.out.cleanup)

    def path(self, name):
        return os.path.join(self.out.name, name)

    def records(self, *args):
        result = subprocess.run([CLI, "scan", "-r", *args, DATA], capture_output=True)
        self.assertIn(result.returncode, (0, 1), result.stderr)
        path = self.path("records.jsonl")
        with open(path, "wb") as f:
            f.write(result.stdout)
        return path

    def report(self, *args, status=0, stdin=None, cwd=None):
        target = self.path("report.html")
        result = subprocess.run([CLI, "report", *args, "-o", target], capture_output=True, input=stdin, cwd=cwd)
        self.assertEqual(result.returncode, status, result.stderr)
        with open(target, "rb") as f:
            return f.read(), result.stderr.decode()


def png_pixels(b64):
    return Image.open(io.BytesIO(base64.b64decode(b64, validate=True))).convert("RGBa")


class PageData(Reports):
    def test_families_come_largest_first_with_each_record_file_hash(self):
        page, _ = self.report(self.records("--thumbnail", "32"))
        shown = page_data(page)
        families = shown["families"]
        self.assertGreaterEqual(len(families), 2)
        sizes = [len(f[4]) for f in families]
        self.assertEqual(sizes, sorted(sizes, reverse=True))
        with open(self.path("records.jsonl")) as f:
            records = {r["file"]: r for r in map(json.loads, f)}
        for files, representative, small, large, members in families:
            self.assertEqual(files, len({m[0] for m in members}))
            for file, index, dhash, sha256, _ in members:
                self.assertEqual(sha256, records[file]["sha256"])
                icons = [records[file]["main"]] + records[file].get("all", [])
                self.assertIn((index, dhash), [(i["index"], i["dhash"]) for i in icons])
            # The representative's own thumbnail, shown at both sizes.
            file, index = members[representative][:2]
            self.assertEqual(small, large)
            self.assertEqual(shown["pictures"][small], records[file]["main"]["thumbnail"])
        for picture in shown["pictures"]:
            self.assertEqual(page.count(picture.encode()), 1, "each picture goes in once")

    def test_without_thumbnails_the_files_are_drawn_or_a_placeholder_shown(self):
        records = self.records()
        page, _ = self.report(records)
        shown = page_data(page)
        file, index = shown["families"][0][4][shown["families"][0][1]][:2]
        self.assertEqual(index, 0)
        for side, number in [(32, shown["families"][0][2]), (64, shown["families"][0][3])]:
            expected = self.path("expected.png")
            self.assertEqual(subprocess.run([CLI, "thumbnail", "-s", str(side), file, expected]).returncode, 0)
            self.assertEqual(png_pixels(shown["pictures"][number]).tobytes(),
                             Image.open(expected).convert("RGBa").tobytes(), side)
        # Drawn from a file of the recorded name only while it is the file
        # recorded: a copy is drawn, another file put in its place is not.
        # Named relative to the report's folder, before any other member
        # ("!" sorts before "/"), so that it stays the representative.
        stand_in = "!" + os.path.basename(file)
        with open(records) as f:
            renamed = f.read().replace(json.dumps(file), json.dumps(stand_in))
        # Nor is an icon the file lacks (a record made up) drawn.
        past = "".join(json.dumps(dict(r, main=dict(r["main"], index=99)) if r["file"] == stand_in else r) + "\n"
                       for r in map(json.loads, renamed.splitlines()))
        for content, lines, drawn in [(file, renamed, True), (data("ico/multi.ico"), renamed, False),
                                      (file, past, False)]:
            shutil.copy(content, self.path(stand_in))
            family = page_data(self.report("-", stdin=lines.encode(), cwd=self.out.name)[0])["families"][0]
            self.assertEqual(family[4][family[1]][0], stand_in)
            self.assertEqual(family[2] >= 0 and family[3] >= 0, drawn, content)
        # The files gone, no picture is found: each family shows the placeholder.
        with open(records) as f:
            moved = f.read().replace(DATA, self.path("gone"))
        page, _ = self.report("-", stdin=moved.encode())
        shown = page_data(page)
        self.assertEqual(shown["pictures"], [])
        self.assertEqual({(f[2], f[3]) for f in shown["families"]}, {(-1, -1)})

    def test_large_thumbnails_are_fitted_and_damaged_ones_passed_over(self):
        with open(self.records("--thumbnail", "256")) as f:
            first = next(r for r in map(json.loads, f) if r.get("main", {}).get("thumbnail"))
        twin = dict(first, file=self.path("twin"))
        shutil.copy(first["file"], twin["file"])
        damaged = base64.b64encode(b"\x89PNG not at all").decode()
        for thumbnail, sides in [(first["main"]["thumbnail"], [(64, 64)] * 2), (damaged, [(32, 32), (64, 64)]),
                                 ("QQ=A", [(32, 32), (64, 64)])]:  # no base64: padding inside
            pair = [dict(r, main=dict(r["main"], thumbnail=thumbnail)) for r in (first, twin)]
            lines = "".join(json.dumps(r) + "\n" for r in pair)
            shown = page_data(self.report("-", stdin=lines.encode())[0])
            family = shown["families"][0]
            self.assertEqual([png_pixels(shown["pictures"][n]).size for n in family[2:4]], sides)
        # A thumbnail no larger than the page shows is carried as the record has it.
        for side in (63, 64):
            picture = io.BytesIO()
            Image.new("RGBA", (side, 64), (200, 30, 30, 255)).save(picture, "PNG", compress_level=0)
            thumbnail = base64.b64encode(picture.getvalue()).decode()
            pair = [dict(r, main=dict(r["main"], thumbnail=thumbnail)) for r in (first, twin)]
            shown = page_data(self.report("-", stdin="".join(json.dumps(r) + "\n" for r in pair).encode())[0])
            family = shown["families"][0]
            self.assertEqual([shown["pictures"][n] for n in family[2:4]], [thumbnail] * 2, side)

    def test_the_same_records_give_the_same_bytes(self):
        records = self.records("--thumbnail", "48", "--all-icons")
        first, _ = self.report(records, "--all-icons", "--jobs", "1")
        second, _ = self.report(records, "--all-icons", "--jobs", "3")
        self.assertEqual(first, second)
        self.assertIsNone(re.search(rb"https?://(?!www.w3.org/2000/svg)|\b(src|href)=", first), "nothing fetched")

    def test_other_lines_are_reported_and_the_page_written_still(self):
        records = self.records()
        with open(records, "a") as f:
            f.write("not json\n\n[1, 2]\n")
        page, err = self.report(records, "--min-size", "3", "--radius", "0", status=1)
        self.assertIn("2 lines are not a scan record (the first: line", err)
        shown = page_data(page)
        self.assertEqual((shown["radius"], shown["minSize"]), (0, 3))
        self.assertTrue(all(len(f[4]) >= 3 for f in shown["families"]))
        # Records that cannot be read leave the page there as it was.
        result = subprocess.run([CLI, "report", self.path("missing.jsonl"), "-o", self.path("report.html")],
                                capture_output=True)
        self.assertEqual(result.returncode, 2)
        with open(self.path("report.html"), "rb") as f:
            self.assertEqual(f.read(), page)
        result = subprocess.run([CLI, "report", records, "-o", self.path("no-such/report.html")],
                                capture_output=True)
        self.assertEqual((result.returncode, os.path.exists(self.path("no-such"))), (2, False), result.stderr)

    def test_hostile_names_cannot_end_the_data(self):
        page, _ = self.report("-", stdin=hostile_records(self.records()).encode())
        self.assertEqual(page.count(b"</script>"), 2)
        self.assertNotIn(b"<img", page)
        names = {m[0] for f in page_data(page)["families"] for m in f[4]}
        self.assertIn(HOSTILE, names)
        self.assertIn("caf\ufffd.ico", names)


HOSTILE = '</script><img src=x onerror="document.title=\'owned\'">.ico'


def hostile_records(records):
    """Two records of one icon, named to break out of the page, and one of a
    name that is not UTF-8."""
    with open(records) as f:
        record = next(r for r in map(json.loads, f) if "main" in r)
    named = [dict(record, file=HOSTILE),
             dict(record, file="caf\ufffd.ico", file_bytes=base64.b64encode(b"caf\xe9.ico").decode())]
    return "".join(json.dumps(r) + "\n" for r in [record] + named)


class Families(html.parser.HTMLParser):
    """The families, status line and title of a page as Chromium left it."""

    def __init__(self, text):
        super().__init__()
        self.families, self.status, self.title, self.images = [], "", "", []
        self.at = None
        self.feed(text)

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if tag == "section" and "data-family" in attrs:
            self.families.append({"number": int(attrs["data-family"]), "size": "", "rows": []})
        elif tag == "tr" and self.families:
            self.families[-1]["rows"].append([])
        elif tag == "img":
            self.images.append(attrs)
        self.at = (tag, attrs.get("class") or attrs.get("id"))

    def handle_endtag(self, tag):
        self.at = None

    def handle_data(self, text):
        if self.at == ("p", "size"):
            self.families[-1]["size"] += text
        elif self.at and self.at[0] in ("td", "th"):
            self.families[-1]["rows"][-1].append(text)
        elif self.at == ("p", "status"):
            self.status += text
        elif self.at and self.at[0] == "title":
            self.title += text


@unittest.skipUnless(CHROMIUM, "Chromium is missing")
class Browser(Reports):
    def chromium(self, page, *args, address=""):
        profile = tempfile.TemporaryDirectory()
        self.addCleanup(profile.cleanup)
        result = subprocess.run([CHROMIUM, "--headless=new", "--no-sandbox", "--disable-gpu",
                                 "--user-data-dir=" + profile.name, *args, "file://" + page + address],
                                capture_output=True, timeout=120)
        self.assertEqual(result.returncode, 0, result.stderr[-2000:])
        return result.stdout.decode()

    def shown(self, page, query=None):
        return Families(self.chromium(page, "--dump-dom", address="" if query is None else "#search=" + query))

    def test_the_families_show_largest_first_with_their_pictures(self):
        self.report(self.records("--thumbnail", "32"))
        page = self.path("report.html")
        shown = self.shown(page)
        self.assertGreaterEqual(len(shown.families), 2)
        self.assertEqual([f["number"] for f in shown.families], list(range(1, len(shown.families) + 1)))
        sizes = [int(f["size"].split()[0]) for f in shown.families]
        self.assertEqual(sizes, sorted(sizes, reverse=True))
        # Five members at first, under a row of headings; the rest come when
        # the family is opened.
        self.assertEqual([len(f["rows"]) - 1 for f in shown.families], [min(5, s) for s in sizes])
        self.assertEqual({tuple(f["rows"][0]) for f in shown.families}, {("File", "Index", "Distance", "Hash", "SHA-256")})
        pictures = [i for i in shown.images if i.get("src", "").startswith("data:image/png;base64,")]
        self.assertEqual(len(pictures), 2 * len(shown.families))
        self.assertEqual(sorted({i["width"] for i in pictures}), ["32", "64"])
        screenshot = self.path("shot.png")
        self.chromium(page, "--screenshot=" + screenshot, "--window-size=1200,900", "--hide-scrollbars")
        image = Image.open(screenshot).convert("RGB")
        self.assertEqual(image.size, (1200, 900))
        self.assertGreater(len(image.getcolors(1 << 20)), 64, "a blank page")

    def test_the_search_box_finds_names_file_hashes_and_icon_hashes(self):
        families = page_data(self.report(self.records())[0])["families"]
        page = self.path("report.html")
        whole = self.shown(page)
        member = whole.families[0]["rows"][1]  # file, index, distance, hash, sha256
        by_name = self.shown(page, "THREE32")
        self.assertRegex(by_name.status, r"^\d+ icons? in \d+ famil(y|ies) match\.$")
        self.assertTrue(by_name.families)
        self.assertTrue(all("three32" in row[0] for f in by_name.families for row in f["rows"][1:]))
        self.assertEqual({tuple(f["rows"][0]) for f in by_name.families}, {("File", "Index", "Distance", "Hash", "SHA-256")})
        prefix = member[4][:10]
        by_file_hash = self.shown(page, prefix.upper())
        self.assertEqual([row[0] for f in by_file_hash.families for row in f["rows"][1:]],
                         [m[0] for f in families for m in f[4] if m[3].startswith(prefix)])
        # Hashes within the radius (4) of the one searched are found, with their distance to it.
        for flipped, expected in [(0x1, {"1"}), (0xF, {"4"}), (0x1F, set())]:
            by_hash = self.shown(page, "%016x" % (int(member[3], 16) ^ flipped))
            distances = {row[5] for f in by_hash.families for row in f["rows"][1:] if row[3] == member[3]}
            self.assertEqual(distances, expected, flipped)
            # The distances stand under a heading of their own, after a search by hash alone.
            self.assertEqual({f["rows"][0][-1] for f in by_hash.families}, {"To search"} if by_hash.families else set())
            self.assertTrue(all(int(row[5]) <= 4 for f in by_hash.families for row in f["rows"][1:]))
        nothing = self.shown(page, "no%20such%20name")
        self.assertEqual((nothing.status, nothing.families), ("Nothing matches.", []))

    def test_an_address_the_page_cannot_decode_searches_for_its_text_as_it_stands(self):
        lines = ""
        for name, dhash in [("100%-a.ico", 1), ("100%-b.ico", 3), ("other-a.ico", 1 << 40), ("other-b.ico", 3 << 40)]:
            lines += json.dumps({"file": name, "sha256": "0" * 64, "icons": 1,
                                 "main": {"index": 0, "dhash": "%016x" % dhash, "group_sha256": None}}) + "\n"
        self.report("-", stdin=lines.encode())
        page = self.path("report.html")
        for query in ("100%", "100%25"):
            shown = self.shown(page, query)
            self.assertEqual([row[0] for f in shown.families for row in f["rows"][1:]], ["100%-a.ico", "100%-b.ico"],
                             query)

    def test_more_families_are_built_as_the_end_of_the_list_comes_into_view(self):
        rng = random.Random(5)
        lines = ""
        for family in range(60):
            dhash = rng.getrandbits(64)
            for member in range(2):
                record = {"file": "f%02d-%d.ico" % (family, member), "sha256": "0" * 64, "icons": 1,
                          "main": {"index": 0, "dhash": "%016x" % dhash, "group_sha256": None}}
                lines += json.dumps(record) + "\n"
        self.report("-", stdin=lines.encode())
        page = self.path("report.html")
        counts = {}
        for height in (900, 20000):
            dom = self.chromium(page, "--dump-dom", "--window-size=1200,%d" % height)
            counts[height] = (len(Families(dom).families), "Show more families (35 more)" in dom)
        self.assertEqual(counts[900], (25, True))
        self.assertEqual(counts[20000], (60, False))

    def test_hostile_names_show_as_text(self):
        self.report("-", stdin=hostile_records(self.records()).encode())
        dom = self.chromium(self.path("report.html"), "--dump-dom")
        shown = Families(dom)
        self.assertEqual(shown.title, "Pictrove: icon families")
        self.assertEqual([i for i in shown.images if i.get("src") == "x"], [])
        names = {row[0] for f in shown.families for row in f["rows"][1:]}
        self.assertIn(HOSTILE, names)
        self.assertIn("caf\ufffd.ico", names)


if __name__ == "__main__":
    arguments = sys.argv[1:]
    while arguments and arguments[0] in ("--cli", "--data"):
        if arguments[0] == "--cli":
            CLI = arguments[1]
        else:
            DATA = os.path.abspath(arguments[1])
        arguments = arguments[2:]
    if arguments == ["Browser"] and not CHROMIUM:
        print("Chromium is missing")
        sys.exit(77)
    unittest.main(argv=[sys.argv[0], *arguments])
