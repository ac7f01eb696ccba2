#!/usr/bin/python3
"""Times `clusters` on a corpus full of one default icon against random
records of the same count: BLANK copies of one hash beside NEAR hashes a
few bits from it, then one copy beside the same NEAR hashes, then as many
random hashes. Each CLI given is timed on
both, median of three runs, processor time included.

    blank_icons.py [--blank N] [--near N] PICTROVE-CLI...
"""
import argparse
import json
import os
import random
import resource
import statistics
import subprocess
import tempfile
import time


def records(path, hashes):
    with open(path, "w") as f:
        for n, dhash in enumerate(hashes):
            f.write(json.dumps({"file": "corpus/%07d.exe" % n, "sha256": "%064x" % n, "icons": 1,
                                "main": {"index": 0, "dhash": "%016x" % dhash, "group_sha256": None}}) + "\n")


def timed(argv):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    subprocess.run(argv, check=True, stdout=subprocess.DEVNULL)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return time.monotonic() - start, after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--blank", type=int, default=100000)
    parser.add_argument("--near", type=int, default=10000)
    parser.add_argument("cli", nargs="+")
    args = parser.parse_args()
    rng = random.Random(7)
    blank = 0xF0F0F0F00F0F0F0F
    near = []
    while len(near) < args.near:
        dhash = blank
        for _ in range(rng.randint(1, 4)):
            dhash ^= 1 << rng.randrange(64)
        near.append(dhash)
    # The near hashes alone tell what their own links cost, which copies of
    # the blank one should not add to.
    shapes = {"blank and near": [blank] * args.blank + near, "one and near": [blank] + near,
              "random": [rng.getrandbits(64) for _ in range(args.blank + args.near)]}
    with tempfile.TemporaryDirectory() as work:
        for shape, hashes in shapes.items():
            path = os.path.join(work, "records.jsonl")
            records(path, hashes)
            for cli in args.cli:
                index = os.path.join(work, "corpus.idx")
                subprocess.run([cli, "index", path, "-o", index], check=True)
                runs = [timed([cli, "clusters", "--index", index]) for _ in range(3)]
                print(f"{shape:15} {cli}: {statistics.median(r[0] for r in runs):.2f} s wall, "
                      f"{statistics.median(r[1] for r in runs):.2f} s cpu")


if __name__ == "__main__":
    main()
