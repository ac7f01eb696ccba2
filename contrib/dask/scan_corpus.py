#!/usr/bin/python3
"""Scans a corpus of files with `pictrove-cli scan` on the workers of a Dask
cluster and writes one JSON record per file, in the order of the listed files.

    scan_corpus.py [--scheduler ADDRESS | --workers N [--dashboard ADDRESS]]
                   [--partitions N] [--cli PATH] [--all-icons] [--max-size BYTES] [--thumbnail N]
                   --output OUT.jsonl [--index OUT.idx] [--report OUT.html] PATH...

PATH is a file or a folder, and the files are those `pictrove-cli scan -r`
reads: folders are walked depth first in byte order of the names, no deeper
than 64 levels; links to regular files are taken, links to folders are not
followed inside a walk (a PATH that is one is walked), and other entries
(FIFOs, sockets, devices, dangling links) are passed over. The files are split
into partitions of consecutive files; each partition runs as one
`pictrove-cli scan -0 --files-from -` on a worker, so OUT.jsonl holds byte for
byte what one `pictrove-cli scan -r PATH...` prints, only made on many
machines. --all-icons, --max-size and --thumbnail are passed on to scan.

Once the records are written, --index builds their look-alike index (as
`pictrove-cli index` does) and --report writes their report with pictures of
the icon families (`pictrove-cli report`), both here, where the records are.
The report's pictures come from the records (--thumbnail N), else from the
files where this machine can read them.

With --scheduler the script joins that cluster (whose workers must find the
CLI at --cli), with the TLS settings of Dask's configuration if it has any;
without it, it starts a cluster of --workers processes on this machine that
listens on the loopback address only and accepts its owner alone: its
scheduler, nannies, workers and this script's client speak TLS with a
certificate and key made for the run and held in memory, and any peer that
cannot show that certificate is turned away before it can run anything. This
needs python3-cryptography; without it the script stops (status 2) rather
than start an open cluster. Each node also answers health checks ("ok") on a
free loopback port.

--dashboard ADDRESS (such as 127.0.0.1:8787) serves the local cluster's web
dashboard there, in plain HTTP and with no login: the progress of the tasks,
the workers' memory, CPU and logs, their call stacks and the task names. It
is the one part of the cluster that anyone who can reach ADDRESS can read,
though not use to run anything.

Exit status: 0 when every file was read, 1 when some file or folder could not
be (their records and messages say why), 2 when the scan itself could not run;
OUT.jsonl is then left as it was.
"""

import argparse
import contextlib
import logging
import os
import shutil
import stat
import subprocess
import sys

# Deeper than any real tree; `scan -r` stops at the same depth.
MAX_DEPTH = 64


class Corpus:
    """The files below PATHs, as bytes, in the order `pictrove-cli scan -r` reads them."""

    def __init__(self, paths):
        self.complete = True  # cleared when a folder could not be read
        self.files = []
        for path in map(os.fsencode, paths):
            if os.path.isdir(path):
                self.walk(path, 0)
            else:
                self.files.append(path)  # its record says what it is

    def walk(self, folder, depth):
        if depth > MAX_DEPTH:
            self.complain(folder, "folders nested too deep")
            return
        try:
            names = sorted(os.listdir(folder))
        except OSError as error:
            self.complain(folder, error.strerror)
            return
        for path in (os.path.join(folder, name) for name in names):
            kind = mode_of(os.lstat, path)
            if stat.S_ISDIR(kind):
                self.walk(path, depth + 1)
            elif stat.S_ISREG(kind) or stat.S_ISLNK(kind) and stat.S_ISREG(mode_of(os.stat, path)):
                self.files.append(path)  # a regular file, or a link that leads to one

    def complain(self, folder, why):
        sys.stderr.buffer.write(b"scan_corpus: %s: cannot read folder: %s\n" % (folder, why.encode()))
        self.complete = False


def mode_of(look, path):
    """The file type bits; 0, an entry passed over, when `look` fails (in a folder
    that cannot be searched, at the end of a dangling link or of a loop of links)."""
    try:
        return look(path).st_mode
    except OSError:
        return 0


def scan_partition(cli, options, paths):
    """Runs on a worker: the scan's status, records and messages for one partition."""
    try:
        done = subprocess.run([cli, "scan", "--jobs", "1", *options, "-0", "--files-from", "-"],
                              input=b"\0".join(paths) + b"\0", capture_output=True)
    except OSError as error:
        return None, b"", ("scan_corpus: cannot run %s: %s\n" % (cli, error.strerror)).encode()
    return done.returncode, done.stdout, done.stderr


def partitions(files, count):
    size = max(1, -(-len(files) // count))
    return [files[i : i + size] for i in range(0, len(files), size)]


class Unavailable(Exception):
    """What the scan needs and this machine lacks."""


def local_cluster(workers, dashboard):
    """Worker processes on this machine, reached on the loopback address over TLS
    with a certificate made for this run and held in memory: a client, worker or
    nanny without it is turned away, so only this process can use the cluster."""
    import dask
    from distributed import Nanny, Scheduler, Security, SpecCluster

    try:
        security = Security.temporary()
    except ImportError as error:
        raise Unavailable("the local cluster needs python3-cryptography for its certificate: %s" % error)
    # Every node keeps a small web server for its health checks; it listens
    # on the loopback address too, on a free port, and answers those alone.
    quiet = {"host": "127.0.0.1", "protocol": "tls://", "security": security, "dashboard": False,
             "dashboard_address": "127.0.0.1:0"}
    health = ["distributed.http.health"]
    routes = {"distributed.worker.http.routes": health, "distributed.scheduler.http.routes": health}
    scheduler = {"cls": Scheduler, "options": dict(quiet)}
    if dashboard:
        scheduler["options"].update(dashboard=True, dashboard_address=dashboard)
        del routes["distributed.scheduler.http.routes"]  # the dashboard's pages, as Dask serves them
    worker = {"cls": Nanny, "options": dict(quiet, nthreads=1, silence_logs=logging.WARN)}
    # The scheduler and the nannies read the routes while the cluster starts,
    # and each nanny hands its copy of the settings on to its worker.
    with dask.config.set(routes):
        return SpecCluster(scheduler=scheduler, workers={i: worker for i in range(workers)}, worker=worker,
                           security=security, silence_logs=logging.WARN)


def count(text):
    if not text.isascii() or not text.isdigit() or int(text) < 1:
        raise argparse.ArgumentTypeError("needs a number from 1")
    return int(text)


def side(text):
    if not text.isascii() or not text.isdigit() or not 8 <= int(text) <= 1024:
        raise argparse.ArgumentTypeError("needs a number from 8 to 1024")
    return text


def byte_count(text):
    if not text.isascii() or not text.isdigit() or int(text) >= 1 << 64:
        raise argparse.ArgumentTypeError("needs a number of bytes")
    return str(int(text))


def arguments():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--scheduler", help="address of a running Dask scheduler (default: start a cluster here)")
    parser.add_argument("--workers", type=count, default=os.cpu_count() or 1,
                        help="worker processes of the local cluster (default: the cores)")
    parser.add_argument("--dashboard", metavar="ADDRESS",
                        help="serve the local cluster's web dashboard on ADDRESS (HOST:PORT)")
    parser.add_argument("--partitions", type=count,
                        help="how many parts the files are split into (default: 4 per worker thread)")
    parser.add_argument("--cli", default=shutil.which("pictrove-cli") or "pictrove-cli",
                        help="pictrove-cli as the workers find it")
    parser.add_argument("--all-icons", action="store_true", help="passed on to scan: every icon in the records")
    parser.add_argument("--max-size", type=byte_count, metavar="BYTES",
                        help="passed on to scan: files larger than this get an error record")
    parser.add_argument("--thumbnail", type=side, metavar="N",
                        help="passed on to scan: each icon's picture, N x N, in the records")
    parser.add_argument("--output", required=True, help="the JSON Lines file to write")
    parser.add_argument("--index", metavar="OUT.idx", help="also build the records' look-alike index")
    parser.add_argument("--report", metavar="OUT.html", help="also write the records' report of icon families")
    parser.add_argument("paths", nargs="+", metavar="PATH")
    args = parser.parse_args()
    if args.scheduler and args.dashboard:
        parser.error("--dashboard is for the local cluster; a running scheduler has its own")
    for name, path in (("--output", args.output), ("--index", args.index), ("--report", args.report)):
        if path and os.path.isdir(path):
            parser.error("%s %s is a folder" % (name, path))
    return args


def main():
    args = arguments()
    options = ["--all-icons"] * args.all_icons + ["--max-size", args.max_size] * (args.max_size is not None)
    options += ["--thumbnail", args.thumbnail] * (args.thumbnail is not None)
    temporary = args.output + ".part"
    status = 2
    try:
        with open(temporary, "wb") as out:
            status = scan(args, options, out)
        if status != 2:
            os.replace(temporary, args.output)
            status = max([status] + [afterwards(args, verb, target) for verb, target in
                                     (("index", args.index), ("report", args.report)) if target])
    except (OSError, Unavailable) as error:
        print("scan_corpus: %s" % error, file=sys.stderr)
        status = 2
    finally:
        if os.path.lexists(temporary):
            os.unlink(temporary)
    return status


def afterwards(args, verb, target):
    """Runs `pictrove-cli VERB OUTPUT -o TARGET` on the records written; its exit status."""
    try:
        done = subprocess.run([args.cli, verb, args.output, "-o", target])
    except OSError as error:
        print("scan_corpus: cannot run %s: %s" % (args.cli, error), file=sys.stderr)
        return 2
    return done.returncode if done.returncode in (0, 1) else 2


def scan(args, options, out):
    """Writes the records of every partition to `out`, in order; returns the exit status."""
    from dask.distributed import Client, progress

    corpus = Corpus(args.paths)
    status = 0 if corpus.complete else 1
    with contextlib.ExitStack() as stack:
        cluster = args.scheduler or stack.enter_context(local_cluster(args.workers, args.dashboard))
        client = stack.enter_context(Client(cluster))
        threads = sum(client.nthreads().values()) or 1
        parts = partitions(corpus.files, args.partitions or 4 * threads)
        futures = [client.submit(scan_partition, args.cli, options, part, pure=False) for part in parts]
        if sys.stderr.isatty():
            progress(futures)
        # Written part by part in list order, so memory holds one part at a time.
        for future in futures:
            code, records, errors = future.result()
            future.release()
            sys.stderr.buffer.write(errors)
            if code not in (0, 1):
                if code is not None:
                    print("scan_corpus: %s scan exited with %d" % (args.cli, code), file=sys.stderr)
                client.cancel(futures)
                return 2
            status = max(status, code)
            out.write(records)
    return status


if __name__ == "__main__":
    sys.exit(main())
