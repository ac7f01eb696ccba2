#!/usr/bin/python3
"""The Python package against the Python peers, side by side in one run:
the main icon of every file of a corpus as a 256 px PNG (the largest image
where there is none of 256), then of the files of the corpus that have
icons alone (where the work is the picture, not looking through files
without one), and the cost of open() + len() on a small file.

    PYTHONPATH=build/release/python bench/python_peers.py [-n RUNS] [CORPUS...]

The corpus defaults to Wine's 64- and 32-bit Windows programs and libraries.
Peers: icoextract's IconExtractor (python3-icoextract) and a script with
pefile and Pillow (python3-pefile, python3-pil), each taking the group's
largest image to a PNG with Pillow. Prints each one's median time of RUNS
runs, the files that gave an icon, and pictrove's ratio to each.
"""
import glob
import io
import os
import statistics
import sys
import time
import timeit
from concurrent.futures import ThreadPoolExecutor

import pefile
from PIL import Image

import pictrove

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from pefile_pillow_icons import RT_GROUP_ICON, RT_ICON, first_language_data, icon_file, resources_of  # noqa: E402

try:
    from icoextract import IconExtractor, IconExtractorError
except ImportError:
    IconExtractor = None


def largest_png(ico_bytes):
    """A group's .ico to a PNG of its 256 px frame, or of its largest."""
    image = Image.open(io.BytesIO(ico_bytes))
    image.size = max(image.info["sizes"])
    out = io.BytesIO()
    image.save(out, "PNG")
    return out.getvalue()


def with_pictrove(path):
    try:
        with pictrove.open(path) as source:
            return source[0].png(256) if len(source) else None
    except pictrove.Error:
        return None


def with_icoextract(path):
    try:
        return largest_png(IconExtractor(path).get_icon(num=0).getvalue())
    except (IconExtractorError, pefile.PEFormatError):
        return None


def with_pefile_pillow(path):
    try:
        pe = pefile.PE(path, fast_load=True)
    except pefile.PEFormatError:
        return None
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return None
    groups = resources_of(pe, RT_GROUP_ICON)
    if not groups:
        return None
    icons = {e.id: first_language_data(pe, e) for e in resources_of(pe, RT_ICON) if e.id is not None}
    data = icon_file(first_language_data(pe, groups[0]), icons)
    return largest_png(data) if data else None


def with_threads(files, jobs):
    with ThreadPoolExecutor(jobs) as pool:
        return sum(png is not None for png in pool.map(with_pictrove, files))


def timed(take, files):
    start = time.perf_counter()
    got = take(files) if take.__name__ == "<lambda>" else sum(take(path) is not None for path in files)
    return time.perf_counter() - start, got


def main():
    args = sys.argv[1:]
    runs = 3
    if args[:1] == ["-n"]:
        runs, args = int(args[1]), args[2:]
    corpora = args or ["/usr/lib/x86_64-linux-gnu/wine/x86_64-windows", "/usr/lib/x86_64-linux-gnu/wine/i386-windows"]
    files = sorted(p for c in corpora for p in glob.glob(os.path.join(c, "**"), recursive=True) if os.path.isfile(p))
    print("%d files in %s" % (len(files), ", ".join(corpora)))
    compare(files, runs)
    with_icons = [path for path in files if with_pictrove(path) is not None]
    print("%d of them have icons" % len(with_icons))
    compare(with_icons, runs)

    small = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "data", "ico", "multi.ico")
    with open(small, "rb") as f:
        content = f.read()
    for label, given in (("path", small), ("bytes", content)):
        calls = 20000
        best = min(timeit.repeat(lambda: len(pictrove.open(given)), number=calls, repeat=5)) / calls
        print("open + len of a %d-byte icon file from %s: %.1f us" % (len(content), label, best * 1e6))


def compare(files, runs):
    peers = [("pictrove", with_pictrove), ("pefile + Pillow", with_pefile_pillow)]
    if IconExtractor:
        peers.insert(1, ("icoextract", with_icoextract))
    peers.insert(1, ("pictrove, 2 threads", lambda files: with_threads(files, 2)))
    times = {name: [] for name, _ in peers}
    found = {}
    for _ in range(runs):  # in turn, so that a busy moment hits every one alike
        for name, take in peers:
            seconds, found[name] = timed(take, files)
            times[name].append(seconds)
    mine = statistics.median(times["pictrove"])
    for name, _ in peers:
        median = statistics.median(times[name])
        ratio = "" if name.startswith("pictrove") else "   pictrove / this = %.4f" % (mine / median)
        print("%-16s %8.3f s  %4d icons%s" % (name, median, found[name], ratio))


if __name__ == "__main__":
    main()
