#!/usr/bin/python3
"""Writes COUNT synthetic scan records (as `pictrove-cli scan` prints them,
random hashes) to standard output, for timing `similar --scan-file`.

    make_scan_records.py COUNT
"""
import json
import random
import sys

rng = random.Random(7)
out = sys.stdout
for n in range(int(sys.argv[1])):
    group = "%064x" % rng.getrandbits(256)
    record = {"file": "corpus/%02x/%08d.exe" % (n % 256, n), "size": rng.randrange(10**4, 10**8),
              "sha256": "%064x" % rng.getrandbits(256), "kind": "PE32", "icons": rng.randrange(1, 9),
              "main": {"index": 0, "id": 1, "dhash": "%016x" % rng.getrandbits(64), "group_sha256": group,
                       "images": [{"w": s, "h": s, "bits": 32, "png": s == 256, "offset": 4096 * i,
                                   "length": 4 * s * s} for i, s in enumerate((16, 32, 48, 256))]}}
    out.write(json.dumps(record, separators=(",", ":")) + "\n")
