#!/usr/bin/python3
"""Scans a corpus of files with `pictrove-cli scan` on the workers of a Dask
cluster and writes one JSON record per file, in the order of the listed files.

    scan_corpus.py [--scheduler ADDRESS] [--workers N] [--partitions N]
                   [--cli PATH] --output OUT.jsonl PATH...

PATH is a file or a folder; folders are walked depth first in name order,
without following links, and every regular file in them is scanned. The
files are split into partitions of consecutive files; each partition runs as
one `pictrove-cli scan -0 --files-from -` on a worker, so the records are
exactly those of a single scan, only made on many machines. With --scheduler
the script joins that cluster (whose workers must find the CLI at --cli);
without it, it starts a cluster of --workers processes on this machine.

Exit status: 0 when every file was read, 1 when some could not be (their
records say why), 2 when the scan itself could not run.
"""

import argparse
import os
import shutil
import stat
import subprocess
import sys


def list_files(paths):
    """The files below PATHs, as bytes, in the order `pictrove-cli scan -r` walks."""
    for path in map(os.fsencode, paths):
        try:
            mode = os.lstat(path).st_mode
        except OSError:
            yield path  # its record will say what is wrong with it
            continue
        if not stat.S_ISDIR(mode):
            yield path
            continue
        yield from walk(path)


def walk(folder):
    try:
        names = sorted(os.listdir(folder))
    except OSError as error:
        print("scan_corpus: cannot read folder %s: %s" % (os.fsdecode(folder), error.strerror), file=sys.stderr)
        return
    for name in names:
        path = os.path.join(folder, name)
        try:
            mode = os.lstat(path).st_mode
        except OSError:
            continue
        if stat.S_ISDIR(mode):
            yield from walk(path)
        elif stat.S_ISREG(mode):
            yield path


def scan_partition(cli, paths):
    """Runs on a worker: the records of one partition, and the scan's status."""
    done = subprocess.run([cli, "scan", "--jobs", "1", "-0", "--files-from", "-"],
                          input=b"\0".join(paths) + b"\0", capture_output=True)
    return done.returncode, done.stdout, done.stderr


def partitions(files, count):
    size = max(1, -(-len(files) // count))
    return [files[i : i + size] for i in range(0, len(files), size)]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--scheduler", help="address of a running Dask scheduler (default: start one here)")
    parser.add_argument("--workers", type=int, default=os.cpu_count() or 1,
                        help="worker processes of the local cluster (default: the cores)")
    parser.add_argument("--partitions", type=int, help="how many parts the files are split into (default: 4 per worker thread)")
    parser.add_argument("--cli", default=shutil.which("pictrove-cli") or "pictrove-cli",
                        help="pictrove-cli as the workers find it")
    parser.add_argument("--output", required=True, help="the JSON Lines file to write")
    parser.add_argument("paths", nargs="+", metavar="PATH")
    args = parser.parse_args()

    from dask.distributed import Client, LocalCluster, progress

    files = list(list_files(args.paths))
    if args.scheduler:
        client = Client(args.scheduler)
    else:
        cluster = LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True,
                               host="127.0.0.1", dashboard_address=None)
        client = Client(cluster)
    with client:
        threads = sum(client.nthreads().values()) or 1
        parts = partitions(files, args.partitions or 4 * threads)
        futures = [client.submit(scan_partition, args.cli, part, pure=False) for part in parts]
        if sys.stderr.isatty():
            progress(futures)
        status = 0
        temporary = args.output + ".part"
        with open(temporary, "wb") as out:
            # Written part by part in list order, so memory holds one part at a time.
            for future in futures:
                code, records, errors = future.result()
                future.release()
                sys.stderr.write(errors.decode(errors="replace"))
                if code not in (0, 1):
                    print("scan_corpus: %s scan exited with %d" % (args.cli, code), file=sys.stderr)
                    os.unlink(temporary)
                    return 2
                status = max(status, code)
                out.write(records)
        os.replace(temporary, args.output)
    return status


if __name__ == "__main__":
    sys.exit(main())
