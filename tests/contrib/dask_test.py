#!/usr/bin/python3
"""The Dask corpus scan on a real local cluster gives the records of one scan.

    dask_test.py --cli PATH --data DIR
"""

import json
import os
import subprocess
import sys
import tempfile

try:
    from dask.distributed import Client, LocalCluster
except ImportError:
    print("Dask's distributed is missing")
    sys.exit(77)

HERE = os.path.dirname(os.path.abspath(__file__))
SCRIPT = os.path.join(HERE, "..", "..", "contrib", "dask", "scan_corpus.py")


def records(text):
    return sorted((json.loads(line) for line in text.splitlines()), key=lambda r: r["file"])


def main():
    args = sys.argv[1:]
    cli = os.path.abspath(args[args.index("--cli") + 1])
    data = os.path.abspath(args[args.index("--data") + 1])
    with tempfile.TemporaryDirectory() as work:
        broken = os.path.join(work, "cut.dll")
        with open(os.path.join(data, "sample.dll"), "rb") as f, open(broken, "wb") as g:
            g.write(f.read()[:5000])
        corpus = [data, broken, os.path.join(work, "missing.dll")]
        out = os.path.join(work, "records.jsonl")
        with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                          dashboard_address=None) as cluster:
            done = subprocess.run([sys.executable, SCRIPT, "--scheduler", cluster.scheduler_address,
                                   "--partitions", "5", "--cli", cli, "--output", out, *corpus],
                                  capture_output=True, text=True)
            with Client(cluster) as client:
                workers = len(client.nthreads())
        assert workers == 2, workers
        assert done.returncode == 1, (done.returncode, done.stderr)  # the missing file
        plain = subprocess.run([cli, "scan", "-r", *corpus], capture_output=True, text=True)
        with open(out) as f:
            written = f.read()
        assert written == plain.stdout, "records differ from one plain scan"
        got = records(written)
        assert got == records(plain.stdout)
        assert len(got) > 40 and sum("error" in r for r in got) == 1, len(got)
    print("ok: %d records through a 2-worker cluster" % len(got))


if __name__ == "__main__":
    main()
