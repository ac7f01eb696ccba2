#!/usr/bin/python3
"""An install as the desktop sees it: validated desktop files, app icons,
the window started through its link, the thumbnailer run as a file manager
runs it and as the desktop's thumbnail service (tumblerd) runs it, and the
collection type told apart from calendars.

    install_test.py --build DIR --cli PATH --data DIR [unittest arguments]
"""

import configparser
import glob
import hashlib
import importlib.util
import io
import os
import re
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
import xml.etree.ElementTree as ElementTree
import zipfile
from urllib.request import pathname2url

try:
    from PIL import Image
except ImportError:
    print("Pillow is missing")
    sys.exit(77)

APP_ID = "org.example.pictrove.Pictrove"
HERE = os.path.dirname(os.path.abspath(__file__))
BUILD = CLI = DATA = PREFIX = None


def setUpModule():
    global PREFIX
    PREFIX = tempfile.mkdtemp(prefix="pictrove-install-")
    subprocess.run([os.environ.get("CMAKE", "cmake"), "--install", BUILD, "--prefix", PREFIX], check=True, capture_output=True)


def tearDownModule():
    shutil.rmtree(PREFIX)


def installed(*parts):
    return os.path.join(PREFIX, *parts)


def run(args, timeout=60, **kwargs):
    return subprocess.run(args, capture_output=True, text=True, timeout=timeout, **kwargs)


def bus_service(name):
    """The program the session bus starts for `name`, or None."""
    for path in glob.glob("/usr/share/dbus-1/services/*.service"):
        entry = configparser.ConfigParser(interpolation=None)
        entry.read(path)
        if entry.get("D-BUS Service", "Name", fallback=None) == name:
            return entry["D-BUS Service"]["Exec"]
    return None


class DesktopFiles(unittest.TestCase):
    def test_validators_accept_the_entry_and_the_metainfo(self):
        for args in (["desktop-file-validate", installed("share/applications", APP_ID + ".desktop")],
                     ["appstreamcli", "validate", "--no-net", installed("share/metainfo", APP_ID + ".metainfo.xml")]):
            result = run(args)
            self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

    def test_the_licence_travels_with_the_package_and_the_metainfo(self):
        with open(os.path.join(DATA, "..", "..", "LICENSE"), encoding="utf-8") as f:
            licence = f.read()
        with open(installed("share/doc/pictrove/copyright"), encoding="utf-8") as f:
            header, _, text = f.read().partition("License: Expat\n")
        text = text.split("\n\n", 1)[0] + "\n"  # up to the next paragraph
        self.assertIn("Copyright: 2026 The Pictrove developers\n", header)
        # Debian's form of the text after the title and the copyright line:
        # each line indented, an empty one written " .".
        unfolded = "".join("\n" if line == " .\n" else line[1:] for line in text.splitlines(True))
        self.assertEqual(unfolded, licence.split("\n\n", 2)[2])
        metainfo = ElementTree.parse(installed("share/metainfo", APP_ID + ".metainfo.xml"))
        self.assertEqual(metainfo.findtext("project_license"), "MIT")

    def test_every_icon_size_is_a_png_of_that_size(self):
        for size in (16, 24, 32, 48, 64, 128, 256):
            with Image.open(installed(f"share/icons/hicolor/{size}x{size}/apps/{APP_ID}.png")) as im:
                self.assertEqual((im.format, im.size, im.mode), ("PNG", (size, size), "RGBA"))

    def content_types(self, make):
        """The types gio gives the files make(folder) writes, by the installed MIME types alone."""
        if not shutil.which("gio"):
            self.skipTest("gio is missing")
        mime = tempfile.mkdtemp(dir=PREFIX)
        shutil.copytree(installed("share/mime/packages"), os.path.join(mime, "mime/packages"))
        subprocess.run(["update-mime-database", os.path.join(mime, "mime")], check=True, capture_output=True)
        names = make(mime)
        env = dict(os.environ, XDG_DATA_HOME=mime, XDG_DATA_DIRS="/usr/share")
        return [run(["gio", "info", "-a", "standard::content-type", os.path.join(mime, name)],
                    env=env).stdout.split()[-1] for name in names]

    def test_collections_are_told_apart_from_calendars(self):
        files = {"icons.ics": None, "calendar.ics": b"BEGIN:VCALENDAR\r\nEND:VCALENDAR\r\n",
                 "empty.ics": b"Icons.ics    "}

        def make(folder):
            for name, content in files.items():
                with open(os.path.join(folder, name), "wb") as f:
                    f.write(content or b"")
            run([CLI, "extract", os.path.join(DATA, "pe/three32.dll"), "--ics", os.path.join(folder, "icons.ics")])
            return list(files)
        self.assertEqual(self.content_types(make), ["application/x-pictrove-collection", "text/calendar",
                                                    "application/x-pictrove-collection"])

    def test_app_packages_get_their_types_and_the_thumbnailer(self):
        expected = {"a.msix": "application/msix", "a.msixbundle": "application/msixbundle",
                    "a.appx": "application/vnd.ms-appx", "a.appxbundle": "application/vnd.ms-appx.bundle"}

        def make(folder):
            for name in expected:
                with zipfile.ZipFile(os.path.join(folder, name), "w") as archive:
                    archive.writestr("AppxManifest.xml", "<Package/>")
            return list(expected)
        self.assertEqual(dict(zip(expected, self.content_types(make))), expected)
        entry = configparser.ConfigParser(interpolation=None)
        entry.read(installed("share/thumbnailers/pictrove.thumbnailer"))
        handled = entry["Thumbnailer Entry"]["MimeType"].split(";")
        for wanted in [*expected.values(), "application/x-msi", "application/vnd.appimage", "image/x-icns"]:
            self.assertIn(wanted, handled)


class InstalledPrograms(unittest.TestCase):
    def test_window_started_through_its_link_reads_its_program_folder(self):
        ini = installed("lib/pictrove/pictrove.ini")
        with open(ini, encoding="utf-8") as f:
            shipped = f.read()
        with open(ini, "w", encoding="utf-8") as f:
            f.write(shipped.replace("Title=Pictrove", "Title=Installed Pictrove"))
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", PICTROVE_SELF_CHECK="1")
        result = run([installed("bin/pictrove")], env=env, cwd=installed("share"))
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("caption: Installed Pictrove\n", result.stdout)
        self.assertIn(f"settings: {ini} (found)\n", result.stdout)
        self.assertIn("|&Help ...|&About ...\n", result.stdout)

    def test_the_window_removes_drag_folders_of_ended_runs_at_start(self):
        temp = tempfile.mkdtemp(dir=PREFIX)
        ended = subprocess.Popen(["true"])
        ended.wait()
        folders = {f"Pictrove-{ended.pid}-a1b2c3": False, f"Pictrove-{os.getpid()}-d4e5f6": True,
                   "Pictrove-x-g7h8i9": True}
        for name in folders:
            os.makedirs(os.path.join(temp, name))
            with open(os.path.join(temp, name, "icon.png"), "wb") as f:
                f.write(b"png")
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", PICTROVE_SELF_CHECK="1", TMPDIR=temp)
        result = run([installed("bin/pictrove")], env=env, cwd=PREFIX)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual({name: os.path.exists(os.path.join(temp, name)) for name in folders}, folders)

    def test_a_termination_signal_ends_each_program_through_its_cleanup(self):
        # The cleanup that takes a save's temporary file along is in place once
        # the program runs; the signal then ends it with the signal's status.
        wanted = sum(1 << (number - 1) for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP))
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
        for program in ("bin/pictrove", "lib/pictrove/tuneup"):
            process = subprocess.Popen([installed(program)], env=env, cwd=PREFIX,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            try:
                caught, give_up = 0, time.monotonic() + 60
                while caught & wanted != wanted and process.poll() is None and time.monotonic() < give_up:
                    with open(f"/proc/{process.pid}/status") as f:
                        caught = int(re.search(r"SigCgt:\s*([0-9a-f]+)", f.read()).group(1), 16)
                self.assertEqual(caught & wanted, wanted, program)
                process.send_signal(signal.SIGTERM)
                self.assertEqual(process.wait(timeout=60), -signal.SIGTERM, program)
            finally:
                process.kill()
                process.wait()

    def test_bash_completes_the_verbs_and_options(self):
        script = installed("share/bash-completion/completions/pictrove-cli")
        complete = ('source "$1"; COMP_WORDS=($2); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); '
                    '_pictrove_cli; echo "${COMPREPLY[*]}"')
        for words, expected in [("pictrove-cli s", "scan similar"), ("pictrove-cli scan --a", "--all-icons"),
                                ("pictrove-cli similar --m", "--max-distance"), ("pictrove-cli r", "report"),
                                ("pictrove-cli scan --t", "--thumbnail")]:
            result = run(["bash", "-c", complete, "bash", script, words])
            self.assertEqual(result.stdout.strip(), expected, words)

    def test_thumbnailer_run_as_a_file_manager_runs_it(self):
        entry = configparser.ConfigParser(interpolation=None)
        entry.read(installed("share/thumbnailers/pictrove.thumbnailer"))
        exec_line = entry["Thumbnailer Entry"]["Exec"]
        env = dict(os.environ, PATH=installed("bin") + os.pathsep + os.environ["PATH"])
        out = tempfile.mkdtemp(dir=PREFIX)
        for source, size, made in [(os.path.join(DATA, "sample.dll"), 128, True),
                                   (os.path.join(DATA, "ne/icons.icl"), 48, True),
                                   (os.path.join(DATA, "README.md"), 128, False)]:
            target = os.path.join(out, f"{size}-{os.path.basename(source)}.png")
            fields = {"%s": str(size), "%i": source, "%o": target, "%u": "file://" + pathname2url(source)}
            args = [fields.get(arg, arg) for arg in shlex.split(exec_line)]
            result = run(args, env=env)
            self.assertEqual((result.returncode == 0, os.path.exists(target)), (made, made), source)
            if made:
                with Image.open(target) as im:
                    self.assertEqual((im.format, im.size, im.mode), ("PNG", (size, size), "RGBA"))

    def test_thumbnail_service_shows_what_the_thumbnailer_made(self):
        # The service creates the output file, holds it open while the
        # thumbnailer runs, and reads the picture back through its handle.
        service = bus_service("org.freedesktop.thumbnails.Thumbnailer1")
        if not (service and shutil.which("dbus-run-session") and importlib.util.find_spec("gi")):
            self.skipTest("tumbler, dbus-run-session or python3-gi is missing")
        home = tempfile.mkdtemp(dir=PREFIX)
        files = [("program.exe", "sample.dll", "application/x-ms-dos-executable"),
                 ("icons.icl", "ne/icons.icl", "application/x-ms-icon-library")]
        queued = []
        for name, source, mime in files:
            shutil.copyfile(os.path.join(DATA, source), os.path.join(home, name))
            queued += ["file://" + pathname2url(os.path.join(home, name)), mime]
        env = dict(os.environ, HOME=home, XDG_CACHE_HOME=os.path.join(home, "cache"),
                   XDG_DATA_DIRS=installed("share") + os.pathsep + "/usr/share",
                   PATH=installed("bin") + os.pathsep + os.environ["PATH"])
        result = run(["dbus-run-session", "--", sys.executable, os.path.join(HERE, "thumbnail_service.py"),
                      service, *queued], env=env, timeout=120)
        self.assertEqual(result.returncode, 0, result.stderr)
        uris = queued[0::2]
        self.assertEqual(sorted(result.stdout.split()), sorted(["ready", "ready", *uris]), result.stdout)
        for (name, _, _), uri in zip(files, uris):
            stored = os.path.join(home, "cache/thumbnails/normal", hashlib.md5(uri.encode()).hexdigest() + ".png")
            ours = os.path.join(home, name + ".png")
            self.assertEqual(run([CLI, "thumbnail", "-s", "128", os.path.join(home, name), ours]).returncode, 0)
            with Image.open(stored) as shown, Image.open(ours) as made:
                self.assertEqual((shown.size, shown.mode), ((128, 128), "RGBA"), name)
                self.assertEqual(list(shown.getdata()), list(made.getdata()), name)


def app_package(folder):
    """An app package of one logo: read by its module alone."""
    path = os.path.join(folder, "app.msix")
    logo = io.BytesIO()
    Image.new("RGBA", (44, 44), (0, 120, 215, 255)).save(logo, "PNG")
    with zipfile.ZipFile(path, "w") as archive:
        archive.writestr("AppxManifest.xml", '<Package xmlns="http://schemas.microsoft.com/appx/manifest/'
                                             'foundation/windows10"><Properties><Logo>Logo.png</Logo>'
                                             '</Properties></Package>')
        archive.writestr("Logo.png", logo.getvalue())
    return path


class InstalledFormats(unittest.TestCase):
    def test_the_installed_tool_and_package_load_the_format_modules(self):
        package = app_package(tempfile.mkdtemp(dir=PREFIX))
        listed = run([installed("bin/pictrove-cli"), "list", package])
        self.assertEqual(listed.returncode, 0, listed.stderr)
        self.assertIn(": 1 icon (APPX)", listed.stdout)
        packages = installed("lib/python3/dist-packages")
        if not os.path.isdir(os.path.join(packages, "pictrove")):
            self.skipTest("built without the Python package")
        script = "import sys, pictrove; source = pictrove.open(sys.argv[1]); print(source.kind, len(source))"
        result = run(["/usr/bin/python3", "-c", script, package], env={**os.environ, "PYTHONPATH": packages},
                     cwd=PREFIX)
        self.assertEqual((result.returncode, result.stdout.split()), (0, ["APPX", "1"]), result.stderr)


class PythonPackage(unittest.TestCase):
    def test_debians_python_imports_the_installed_package(self):
        packages = installed("lib/python3/dist-packages")
        if not os.path.isdir(os.path.join(packages, "pictrove")):
            self.skipTest("built without the Python package")
        script = ("import sys, pictrove; source = pictrove.open(sys.argv[1]); "
                  "print(pictrove.__file__, len(source), source[0].png().startswith(b'\\x89PNG'))")
        # Debian's python3 looks in lib/python3/dist-packages of its prefix;
        # the temporary prefix is named the way a package's would be seen.
        result = run(["/usr/bin/python3", "-c", script, os.path.abspath(os.path.join(DATA, "pe", "three32.dll"))],
                     env={**os.environ, "PYTHONPATH": packages}, cwd=PREFIX)
        self.assertEqual(result.returncode, 0, result.stderr)
        where, count, png = result.stdout.split()
        self.assertTrue(where.startswith(os.path.join(packages, "pictrove")))
        self.assertEqual((count, png), ("3", "True"))


if __name__ == "__main__":
    args = sys.argv[1:]
    options = {"--build": None, "--cli": None, "--data": None}
    rest = []
    while args:
        arg = args.pop(0)
        if arg in options:
            options[arg] = args.pop(0)
        else:
            rest.append(arg)
    BUILD, CLI, DATA = options["--build"], options["--cli"], options["--data"]
    unittest.main(argv=[sys.argv[0], *rest], verbosity=1)
