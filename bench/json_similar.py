#!/usr/bin/python3
"""The yardstick for searching scan records: a plain loop that parses every
record and keeps the main icons within DISTANCE of HASH.

    json_similar.py RECORDS HASH DISTANCE
"""
import json
import sys

reference, distance = int(sys.argv[2], 16), int(sys.argv[3])
found = []
with open(sys.argv[1]) as records:
    for line in records:
        record = json.loads(line)
        main = record.get("main")
        if main and main.get("dhash"):
            d = bin(int(main["dhash"], 16) ^ reference).count("1")
            if d <= distance:
                found.append((d, record["file"], main["index"]))
for d, file, index in sorted(found):
    print("%d\t%s\t%d" % (d, file, index))
