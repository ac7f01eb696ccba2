#!/usr/bin/python3
"""The Dask corpus scan on a real local cluster writes what one `scan -r` prints.

    dask_test.py --cli PATH --data DIR [unittest arguments]
"""

import importlib.util
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import unittest

try:
    from dask.distributed import Client, LocalCluster
except ImportError:
    print("Dask's distributed is missing")
    sys.exit(77)

HERE = os.path.dirname(os.path.abspath(__file__))
SCRIPT = os.path.join(HERE, "..", "..", "contrib", "dask", "scan_corpus.py")
CLI = DATA = None

# A tree with one of every kind of entry a walk meets, as (name, what to make).
TREE = [
    ("B.ico", "icon"),
    ("a.ico", "icon"),
    ("empty.ico", "empty"),
    ("cut.dll", "cut library"),
    ("library.dll", "library"),
    (b"caf\xe9.ico", "icon"),  # not UTF-8
    ("caf\u00e9 new\nline.ico", "icon"),
    ("link-to-file.ico", "link:a.ico"),
    ("link-to-folder", "link:sub"),
    ("dangling.ico", "link:nowhere.ico"),
    ("loop", "link:loop"),
    ("device", "link:/dev/null"),
    ("sub/inner.ico", "icon"),
    ("sub/up", "link:.."),
    (b"sub/\xe9t\xe9/x.ico", "icon"),
    ("empty-folder/", "folder"),
    ("fifo.ico", "fifo"),
    ("socket.ico", "socket"),
    ("unreadable.ico", "unreadable"),
    ("unreadable-folder/x.ico", "icon"),
    ("unreadable-folder", "unreadable"),
    ("unsearchable-folder/x.ico", "icon"),
    ("unsearchable-folder", "unsearchable"),
] + [("deep/" + "d/" * depth + "x%d.ico" % depth, "icon") for depth in (0, 30, 62, 63, 64, 65, 66)]


def permissions_hold():
    with tempfile.NamedTemporaryFile() as f:
        os.chmod(f.name, 0)
        try:
            open(f.name).close()
        except PermissionError:
            return True
    return False


def make(root, name, kind):
    path = os.path.join(os.fsencode(root), os.fsencode(name))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    if kind == "folder":
        os.makedirs(path, exist_ok=True)
    elif kind.startswith("link:"):
        os.symlink(kind[5:], path)
    elif kind == "fifo":
        os.mkfifo(path)
    elif kind == "socket":
        with socket.socket(socket.AF_UNIX) as s:
            s.bind(path)
    elif kind == "unreadable":
        os.chmod(path if os.path.isdir(path) else make(root, name, "icon"), 0)
    elif kind == "unsearchable":
        os.chmod(path, 0o644)
    else:
        source = {"icon": "ico/bpp1.ico", "library": "sample.dll", "cut library": "sample.dll"}.get(kind)
        with open(path, "wb") as f:
            if source:
                with open(os.path.join(DATA, source), "rb") as g:
                    f.write(g.read()[: 5000 if kind == "cut library" else None])
    return path


class Mirror(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp()
        cls.tree = os.path.join(cls.work, "tree")
        held = permissions_hold()  # not for root with its rights
        for name, kind in TREE:
            if held or "unreadable" not in os.fsdecode(name) and "unsearchable" not in os.fsdecode(name):
                make(cls.tree, name, kind)
        for name, kind in [("top-link-to-folder", "link:tree/sub"), ("top-link-to-file.ico", "link:tree/a.ico"),
                           ("top-dangling.ico", "link:nowhere"), ("top-loop", "link:top-loop"),
                           ("top-fifo", "fifo"), ("top-socket", "socket")]:
            make(cls.work, name, kind)
        cls.cluster = LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                                   dashboard_address=None)
        with Client(cls.cluster) as client:
            assert len(client.nthreads()) == 2

    @classmethod
    def tearDownClass(cls):
        cls.cluster.close()
        for folder, folders, _ in os.walk(cls.work):
            for name in folders:
                os.chmod(os.path.join(folder, name), 0o755)
        shutil.rmtree(cls.work)

    def at(self, *names):
        return [os.path.join(self.work, name) for name in names]

    def run_script(self, *args, cli=None, output=None):
        where = ["--scheduler", self.cluster.scheduler_address] if "--workers" not in args else []
        output = output or os.path.join(self.work, "records.jsonl")
        return subprocess.run([sys.executable, SCRIPT, *where, "--cli", cli or CLI, "--output", output, *args],
                              capture_output=True, timeout=120)

    def test_records_are_those_of_one_scan_r(self):
        every_kind = self.at("tree", "top-link-to-folder", "top-link-to-file.ico", "top-dangling.ico",
                             "top-loop", "top-fifo", "top-socket", "missing.dll", "tree/sub/") + [""]
        for cluster, options, paths in [
            (["--partitions", "7"], [], every_kind),
            (["--workers", "2"], [], every_kind),
            (["--partitions", "99"], [], self.at("missing.dll") + [os.path.join(DATA, "ico")]),
            (["--partitions", "3"], [], self.at("tree/deep", "tree/deep/d")),
            (["--partitions", "3"], [], self.at("tree/unreadable-folder", "tree/a.ico")),
            (["--partitions", "5"], ["--all-icons", "--max-size", "5000", "--thumbnail", "16"], [DATA]),
        ]:
            with self.subTest(cluster=cluster, options=options, paths=paths):
                plain = subprocess.run([CLI, "scan", "-r", *options, *paths], capture_output=True, timeout=120)
                done = self.run_script(*cluster, *options, *paths)
                self.assertEqual(done.returncode, plain.returncode, done.stderr)
                with open(os.path.join(self.work, "records.jsonl"), "rb") as f:
                    self.assertEqual(f.read(), plain.stdout)
                self.assertEqual(complaints(done.stderr), complaints(plain.stderr))

    def test_the_records_end_in_an_index_and_a_report(self):
        index, report = os.path.join(self.work, "records.idx"), os.path.join(self.work, "report.html")
        done = self.run_script("--partitions", "3", "--all-icons", "--thumbnail", "32", "--index", index,
                               "--report", report, DATA)
        self.assertEqual(done.returncode, 0, done.stderr)
        with open(report, "rb") as f:
            page = f.read()
        self.assertIn(b"\"iVBORw0KGgo", page)  # a picture from the records
        self.assertIn(b"three32.dll", page)
        records = os.path.join(self.work, "records.jsonl")
        for options in ([], ["--all-icons"]):
            searches = [subprocess.run([CLI, "similar", *options, "--max-distance", "12", *source, "f8e38f3cf1a31f7c"],
                                       capture_output=True) for source in (["--index", index], ["--scan-file", records])]
            self.assertEqual(searches[0].returncode, 0, searches[0].stderr)
            self.assertEqual(searches[0].stdout, searches[1].stdout)
            self.assertTrue(searches[0].stdout)

    def test_a_run_that_cannot_finish_leaves_no_file(self):
        log = os.path.join(self.work, "scans.log")
        spy = make_spy(self.work, log)
        old = os.path.join(self.work, "old.jsonl")
        for cli, output, why in [("no-such-cli", old, b"cannot run no-such-cli: No such file"),
                                 (spy, self.work, b"is a folder"),
                                 (spy, os.path.join(self.work, "no", "o.jsonl"), b"No such file")]:
            with self.subTest(cli=cli, output=output):
                with open(old, "w") as f:
                    f.write("old\n")
                open(log, "w").close()
                done = self.run_script(os.path.join(DATA, "ico"), cli=cli, output=output)
                self.assertEqual(done.returncode, 2, done.stderr)
                self.assertNotIn(b"Traceback", done.stderr)
                self.assertIn(why, done.stderr)
                self.assertFalse(os.path.lexists(output + ".part"))
                with open(old) as f:
                    self.assertEqual(f.read(), "old\n")
                if cli == spy:
                    with open(log) as f:
                        self.assertEqual(f.read(), "", "the output was checked after scanning")

    def test_local_cluster_listens_on_the_loopback_address(self):
        log = os.path.join(self.work, "listening.log")
        spy = make_spy(self.work, log)
        for dashboard, expected in [([], {"127.0.0.1"}), (["--dashboard", "127.0.0.2:0"], {"127.0.0.1", "127.0.0.2"})]:
            with self.subTest(dashboard=dashboard):
                open(log, "w").close()
                done = self.run_script("--workers", "2", *dashboard, os.path.join(DATA, "ico/bpp1.ico"), cli=spy)
                self.assertEqual(done.returncode, 0, done.stderr)
                with open(log) as f:
                    heard = f.read().split()
                self.assertEqual(heard.count("scan"), 1)
                self.assertEqual(set(heard) - {"scan"}, expected)
                if dashboard:
                    self.assertEqual(heard.count("127.0.0.2"), 1)


class LocalClusterOwner(unittest.TestCase):
    """The cluster the script starts runs code for the user who started it, and only for them."""

    def test_another_user_cannot_run_code_on_it(self):
        if os.getuid() != 0 or not shutil.which("setpriv"):
            self.skipTest("needs root to try the cluster as another user")
        with script_module().local_cluster(2, None) as cluster:
            with Client(cluster, timeout=30) as client:  # the owner gets in
                self.assertEqual(set(client.run(os.getuid).values()), {0})
            intruder = subprocess.run(["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                                       sys.executable, "-c", INTRUDER, cluster.scheduler_address],
                                      capture_output=True, cwd="/", timeout=90)
        self.assertEqual(intruder.returncode, 3, intruder.stdout + intruder.stderr)
        self.assertEqual(intruder.stdout.count(b"refused"), 2, intruder.stdout)

    def test_without_cryptography_the_script_stops(self):
        work = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, work)
        # A cryptography that fails to import, as when the package is not installed.
        os.mkdir(os.path.join(work, "cryptography"))
        with open(os.path.join(work, "cryptography", "__init__.py"), "w") as f:
            f.write("raise ImportError('No module named cryptography')\n")
        output = os.path.join(work, "records.jsonl")
        with open(output, "w") as f:
            f.write("old\n")
        done = subprocess.run([sys.executable, SCRIPT, "--workers", "1", "--cli", CLI, "--output", output,
                               os.path.join(DATA, "ico")], capture_output=True, timeout=120,
                              env=dict(os.environ, PYTHONPATH=work))
        self.assertEqual(done.returncode, 2, done.stderr)
        self.assertNotIn(b"Traceback", done.stderr)
        self.assertIn(b"python3-cryptography", done.stderr)
        with open(output) as f:
            self.assertEqual(f.read(), "old\n")
        self.assertEqual(sorted(os.listdir(work)), ["cryptography", "records.jsonl"])


# Run as another user with the scheduler's address: tries it in the clear and over
# TLS with a certificate of its own and no check of the scheduler's; exits with 3
# when both are turned away, 0 after running code in the cluster.
INTRUDER = """
import os, ssl, sys
from distributed import Client, Security

class OwnCertificate(Security):
    def get_connection_args(self, role):
        args = super().get_connection_args(role)
        args["ssl_context"].verify_mode = ssl.CERT_NONE
        return args

where = sys.argv[1].split("://")[1]
for scheme, security in (("tcp", None), ("tls", OwnCertificate.temporary())):
    try:
        with Client(scheme + "://" + where, security=security, timeout=5) as client:
            print(scheme, "ran as", client.run(os.getuid), client.run_on_scheduler(os.getuid))
            sys.exit(0)
    except (OSError, TimeoutError) as error:
        print(scheme, "refused:", error)
sys.exit(3)
"""


def script_module():
    found = importlib.util.spec_from_file_location("scan_corpus", SCRIPT)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def complaints(stderr):
    """What the walk said about folders, without the speaker's name."""
    return [line.split(b": ", 1)[1] for line in stderr.splitlines() if b": cannot read folder: " in line]


def make_spy(folder, log):
    """A CLI that logs each scan and, in a cluster the script started, every address its
    processes listen on, then runs the real one."""
    spy = os.path.join(folder, "spy-cli")
    with open(spy, "w") as f:
        f.write(f"""#!{sys.executable}
import os, sys, psutil
with open({log!r}, "a") as log:
    log.write("scan\\n")
    for process in psutil.Process().parents():
        if any(a.endswith("scan_corpus.py") for a in process.cmdline()):
            for each in [process] + process.children(recursive=True):
                for c in each.connections("inet"):
                    if c.status == psutil.CONN_LISTEN:
                        log.write(c.laddr.ip + "\\n")
os.execv({CLI!r}, [{CLI!r}] + sys.argv[1:])
""")
    os.chmod(spy, 0o755)
    return spy


def drop_root_read_rights():
    """As root, permission bits stop nothing: run again without the rights that pass them."""
    with open("/proc/self/status") as f:
        effective = int(next(line for line in f if line.startswith("CapEff:")).split()[1], 16)
    if effective & 0b110 and shutil.which("setpriv"):  # CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH
        drop = "-dac_override,-dac_read_search"
        os.execvp("setpriv", ["setpriv", "--inh-caps=" + drop, "--bounding-set=" + drop, sys.executable, *sys.argv])


def main():
    global CLI, DATA
    args = sys.argv[1:]
    CLI = os.path.abspath(args.pop(args.index("--cli") + 1))
    DATA = os.path.abspath(args.pop(args.index("--data") + 1))
    args = [a for a in args if a not in ("--cli", "--data")]
    drop_root_read_rights()
    unittest.main(argv=[sys.argv[0], *args])


if __name__ == "__main__":
    main()
