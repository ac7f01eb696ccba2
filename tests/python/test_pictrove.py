"""The Python package against pictrove-cli: for every kind of source, each
attribute and byte string equal to what the tool writes for the same file,
from a path and from memory; hostile files; threads; no copy of a buffer.

Run by ctest with PYTHONPATH at the built package, PICTROVE_CLI and
PICTROVE_DATA (tests/data) in the environment; the package kinds are made
by Debian's makers, or taken from PICTROVE_FIXTURES where a root without
them runs the table (tests/python/wheel_in_bare_root.sh). NumPy and Pillow
are optional, as they are to the package: what needs them is skipped
without them.
"""

import concurrent.futures
import errno
import io
import itertools
import json
import mmap
import os
import pathlib
import shutil
import struct
import subprocess
import sys
import textwrap
import zipfile
import zlib

import pytest

try:
    import numpy
except ImportError:
    numpy = None

import pictrove

CLI = os.environ["PICTROVE_CLI"]
DATA = os.environ["PICTROVE_DATA"]
ROOT = os.path.dirname(os.path.dirname(DATA))

# One of each kind the tool reads; the collection is made by the tool.
FIXTURES = {
    "PE32": "pe/three32.dll",
    "PE32+": "pe/three64.dll",
    "PE32 cursors only": "pe/cursors32.dll",
    "NE": "ne/icons.icl",
    "NE shifted": "ne/shift9.exe",
    "ICO": "ico/multi.ico",
    "ICO png": "ico/png256.ico",
    "CUR": "ico/cursor.cur",
    "ANI": "ico/anim.ani",
    "collection": "collection.ics",
    "mun": "windows/System32/IMAGERES.DLL",
}
# Made at test time by Debian's own makers, each with its maker's name in
# tests/core/package_oracle_test.py: a database of wixl's, an app package, an
# AppImage whose theme holds an SVG icon, a macOS icon file with JPEG 2000
# members.
PACKAGES = {"MSI": "make_msi", "MSIX": "make_msix", "AppImage": "make_appimage", "ICNS": "make_icns"}
FIXTURES.update({kind: None for kind in PACKAGES})


def cli(*args, check=True):
    result = subprocess.run([CLI, *args], capture_output=True)
    if check:
        assert result.returncode == 0, result.stderr.decode()
    return result


@pytest.fixture(scope="session")
def files(tmp_path_factory):
    folder = tmp_path_factory.mktemp("fixtures")
    paths = {kind: os.path.join(DATA, name) for kind, name in FIXTURES.items() if name}
    paths["collection"] = str(folder / "collection.ics")
    cli("extract", paths["PE32"], "--ics", paths["collection"])
    paths.update(made_packages(folder))
    return paths


def made_packages(folder):
    """{kind: path} of the package kinds made here, or given: each maker's
    file is made.* in a folder of the maker's name."""
    given = os.environ.get("PICTROVE_FIXTURES")
    if not given:
        sys.path.insert(0, os.path.join(ROOT, "tests", "core"))
        try:
            import package_oracle_test as makers
        except SystemExit:  # it needs Pillow
            return {}
    made = {}
    for kind, maker in PACKAGES.items():
        work = os.path.join(given or folder, maker)
        if not given:
            os.makedirs(work)
            try:
                getattr(makers, maker)(work)
            except (OSError, RuntimeError):  # its maker is missing here
                continue
        found = [name for name in os.listdir(work) if name.startswith("made.")] if os.path.isdir(work) else []
        if found:
            made[kind] = os.path.join(work, found[0])
    return made


def kind_file(files, kind):
    if files.get(kind) is None:
        pytest.skip("no maker of %s files here" % kind)
    return files[kind]


def cli_listing(path):
    return json.loads(cli("list", "--json", path).stdout)[0]


def cli_record(path):
    return json.loads(cli("scan", "--all-icons", path, check=False).stdout)


def cli_outputs(path, folder):
    """What extract writes for the file: whole groups, every stored image,
    and each icon at 48 and 256 px (a stored PNG's own size)."""
    cli("extract", path, "-o", str(folder / "all"), "--group-ico", "--all-sizes")
    cli("extract", path, "-o", str(folder / "shown"), "--size", "48")
    cli("extract", path, "-o", str(folder / "shown256"), "--size", "256")
    written = {}
    for sub in ("all", "shown", "shown256"):
        for name in os.listdir(folder / sub):
            with open(folder / sub / name, "rb") as f:
                written[sub + "/" + name] = f.read()
    return written


def stored_names(icon, stem):
    """extract --all-sizes' file name of each stored image."""
    seen = {}
    for image in icon.images:
        name = "%s_%d_%dx%d_%d" % (stem, icon.index, image.width, image.height, image.bits)
        seen[name] = seen.get(name, 0) + 1
        yield image, "all/" + name + ("-%d" % seen[name] if seen[name] > 1 else "") + ".png"


@pytest.mark.parametrize("kind", FIXTURES)
def test_listing_is_the_tools(files, kind):
    path = kind_file(files, kind)
    listing = cli_listing(path)
    with pictrove.open(path) as source:
        assert len(source) == listing["count"] and len(source) > 0
        assert source.redirected_to == listing.get("from")
        assert source.path == path
        for icon, listed in zip(source, listing["icons"]):
            assert icon.index == listed["index"]
            assert icon.id == listed.get("id", listed.get("name"))
            stored = [{"width": i.width, "height": i.height, "bits": i.bits, "png": i.is_png,
                       **({"hotspot": dict(zip("xy", i.hotspot))} if i.hotspot else {})} for i in icon.images]
            assert stored == listed["images"]
            assert icon.is_cursor == all("hotspot" in i for i in listed["images"])


@pytest.mark.parametrize("kind", FIXTURES)
def test_scan_record_is_the_tools(files, kind):
    path = kind_file(files, kind)
    record = cli_record(path)
    assert pictrove.scan(path, all_icons=True) == record
    assert pictrove.scan(path) == json.loads(cli("scan", path).stdout)
    assert pictrove.scan(path, thumbnail=24) == json.loads(cli("scan", "--thumbnail", "24", path).stdout)
    # Content: the same record without the file's name (a system library
    # leads to its .mun file by its name alone).
    with open(path, "rb") as f:
        of_content = pictrove.scan(f.read(), all_icons=True)
    if kind != "mun":
        assert of_content == {key: value for key, value in record.items() if key != "file"}
    assert list(pictrove.scan_many([path] * 2, thumbnail=24)) == [pictrove.scan(path, thumbnail=24)] * 2
    with pictrove.open(path) as source:
        assert source.kind == record["kind"]
        for icon, scanned in zip(source, record["all"]):
            assert "%016x" % icon.dhash() == scanned["dhash"]
            assert icon.group_sha256() == scanned["group_sha256"]
            where = [{"offset": i.offset, "length": i.length} for i in icon.images]
            assert where == [{"offset": i.get("offset"), "length": i.get("length", len(icon.images[n].data()))}
                             for n, i in enumerate(scanned["images"])]


@pytest.mark.parametrize("kind", FIXTURES)
def test_bytes_are_what_extract_writes(files, kind, tmp_path):
    path = kind_file(files, kind)
    written = cli_outputs(path, tmp_path)
    stem = os.path.basename(path)
    expected = {}
    with pictrove.open(path) as source:
        for icon in source:
            group = icon.group_bytes()
            if group is not None:
                expected["all/%s_%d.%s" % (stem, icon.index, "cur" if icon.is_cursor else "ico")] = group
            expected["shown/%s_%d.png" % (stem, icon.index)] = icon.png(48)
            expected["shown256/%s_%d.png" % (stem, icon.index)] = icon.png(256)
            for image, name in stored_names(icon, stem):
                expected[name] = image.png()
                if image.is_png:
                    assert image.png() == image.data()
    assert expected == written


@pytest.mark.parametrize("kind", [k for k in FIXTURES if k != "mun"])
@pytest.mark.parametrize("wrap", [bytes, bytearray, memoryview, "mmap"])
def test_buffers_give_what_the_path_gives(files, kind, wrap, tmp_path):
    path = kind_file(files, kind)

    def summary(source):
        return (source.kind, [(icon.id, icon.is_cursor, icon.group_bytes(), icon.png(), icon.dhash(),
                               [(i.width, i.height, i.bits, i.hotspot, i.offset, i.data(), i.png())
                                for i in icon.images]) for icon in source])

    with open(path, "rb") as f:
        content = f.read()
        with pictrove.open(path) as source:
            expected = summary(source)
        if wrap == "mmap":
            buffer = mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ)
        else:
            buffer = wrap(content)
        with pictrove.open(buffer) as source:
            assert source.path is None
            assert summary(source) == expected


def test_a_system_library_leads_to_its_mun_file_only_by_its_path(files):
    with pictrove.open(files["mun"]) as source:
        assert source.redirected_to.endswith("SystemResources/imageres.dll.mun") and len(source) > 0
    with open(files["mun"], "rb") as f:
        assert len(pictrove.open(f.read())) == 0


def test_the_path_kinds_and_bytes_that_hold_no_icon_source():
    path = os.path.join(DATA, FIXTURES["ICO"])
    bytes_path = type("BytesPath", (), {"__fspath__": lambda self: os.fsencode(path)})()
    for given in (path, __import__("pathlib").Path(path), bytes_path):
        assert len(pictrove.open(given)) == 1
    # Bytes are content, even when they read as the name of a file: a zip
    # member holding a program's path is not that program. Where earlier
    # versions took them as a name, the error says what changed.
    with pytest.raises(pictrove.FormatError, match="not as its name"):
        pictrove.open(os.fsencode(path))
    with pytest.raises(pictrove.FormatError, match="^Not an icon source$"):
        pictrove.open(b"no such file")
    # What the tool lists with no icons and no kind is no icon source; an
    # executable without icons is one.
    for data in (b"\0" * 100, b""):
        with pytest.raises(pictrove.FormatError, match="^Not an icon source$"):
            pictrove.open(data)
    text = os.path.join(ROOT, "README.md")
    with pytest.raises(ValueError, match="^Not an icon source: " + text):
        pictrove.open(text)
    assert "(" not in cli("list", text).stdout.decode().splitlines()[0]
    with pytest.raises(TypeError):
        pictrove.open(12)
    # A name cut at a NUL byte would be another file's.
    for call in (pictrove.open, pictrove.scan):
        with pytest.raises(ValueError):
            call(path + "\0.txt")


def cli_error(path):
    result = cli("list", path, check=False)
    assert result.returncode == 1
    return result.stderr.decode().removeprefix("pictrove-cli: " + path + ": ").rstrip("\n")


def test_errors_carry_the_tools_messages(tmp_path):
    short = tmp_path / "short.ics"
    short.write_bytes(b"Icons")
    cases = [(str(tmp_path / "missing.ico"), pictrove.FileError, OSError),
             (str(tmp_path), pictrove.FileError, OSError),
             (str(short), pictrove.Error, Exception)]
    for path, kind, base in cases:
        with pytest.raises(kind) as raised:
            pictrove.open(path)
        assert isinstance(raised.value, base) and isinstance(raised.value, pictrove.Error)
        assert str(raised.value) == cli_error(path)
    # What an OSError tells besides its text.
    for path, number in [(cases[0][0], errno.ENOENT), (cases[1][0], errno.EISDIR)]:
        with pytest.raises(pictrove.FileError) as raised:
            pictrove.open(pathlib.Path(path))
        assert (raised.value.errno, raised.value.filename) == (number, path)
    assert pictrove.scan(cases[0][0]) == json.loads(cli("scan", cases[0][0], check=False).stdout)
    assert issubclass(pictrove.FormatError, ValueError)


def hostile_files(folder):
    crashers = os.path.join(ROOT, "fuzz", "crashers")
    found = sorted(os.path.join(d, n) for d, _, names in os.walk(crashers) for n in names)
    with open(os.path.join(DATA, FIXTURES["PE32"]), "rb") as f:
        pe = f.read()
    with open(os.path.join(DATA, FIXTURES["NE"]), "rb") as f:
        ne = f.read()
    # Cut short at every kind of boundary, and with size fields spoilt.
    for name, content in (("pe", pe), ("ne", ne)):
        for length in (2, 64, 512, 1024, len(content) // 2, len(content) - 1):
            path = os.path.join(folder, "%s-%d.dll" % (name, length))
            with open(path, "wb") as f:
                f.write(content[:length])
            found.append(path)
    return found


def test_hostile_files_are_errors_or_the_tools_damaged_icons(tmp_path):
    for path in hostile_files(str(tmp_path)):
        record = json.loads(cli("scan", path, check=False).stdout)
        assert pictrove.scan(path) == record, path
        with open(path, "rb") as f:
            content = f.read()
        for given in (path, memoryview(content)):
            try:
                source = pictrove.open(given)
            except pictrove.Error:
                assert "error" in record or record["kind"] == "none", path
                continue
            assert len(source) == record["icons"], path
            for icon in source[:64]:
                icon.png(), numpy and icon.rgba(), icon.group_bytes(), [i.png() for i in icon.images[:8]]


def test_threads_share_one_source_and_open_many(files):
    def work(icon):
        return icon.png(), icon.png(256), icon.dhash(), icon.group_bytes(), [i.png() for i in icon.images]

    source = pictrove.open(files["PE32"])
    serial = [work(icon) for icon in source]
    with concurrent.futures.ThreadPoolExecutor(8) as pool:
        shared = list(pool.map(lambda n: work(source[n % len(source)]), range(96)))
        assert shared == [serial[n % len(source)] for n in range(96)]
        paths = [files[kind] for kind in FIXTURES if files.get(kind)] * 8
        records = list(pool.map(lambda p: pictrove.scan(p, all_icons=True), paths))
        opened = list(pool.map(lambda p: [work(icon) for icon in pictrove.open(p)], paths))
    assert records == [pictrove.scan(p, all_icons=True) for p in paths]
    assert opened == [[work(icon) for icon in pictrove.open(p)] for p in paths]
    assert list(pictrove.scan_many(paths, jobs=8, all_icons=True)) == records


def test_scan_many_keeps_a_bounded_window_of_an_endless_list(files):
    taken = []

    def endless():
        for n in itertools.count():
            taken.append(n)
            yield files["ICO"]

    many = pictrove.scan_many(endless(), jobs=3)
    first = list(itertools.islice(many, 5))
    assert first == [pictrove.scan(files["ICO"])] * 5
    assert len(taken) <= 5 + 2 * 3
    many.close()
    with pytest.raises(ValueError):
        next(pictrove.scan_many([files["ICO"]], jobs=0))


def test_a_buffer_is_read_in_place_and_held_while_read(files):
    # Peak memory in a process of its own: a 200 MB library opened from
    # memory and all its icons made. Under a sanitizer memory tells nothing.
    script = textwrap.dedent("""
        import sys, pictrove
        def peak():
            with open("/proc/self/status") as f:
                return int(next(l for l in f if l.startswith("VmHWM")).split()[1]) * 1024
        with open(sys.argv[1], "rb") as f:
            content = f.read()
        wrap = bytes if sys.argv[2] == "bytes" else bytearray
        data = wrap(content + bytes(200 * 1024 * 1024 - len(content)))
        before = peak()
        with pictrove.open(data) as source:
            pngs = [icon.png() for icon in source]
            assert len(pngs) == 3 and all(pngs)
        print(peak() - before)
    """)
    for wrap in ("bytes", "bytearray") if os.environ.get("PICTROVE_SANITIZED") != "1" else ():
        result = subprocess.run([sys.executable, "-c", script, files["PE32"], wrap], capture_output=True, text=True,
                                env=dict(os.environ))
        assert result.returncode == 0, result.stderr
        assert int(result.stdout) < 10 * 1024 * 1024
    # The buffer stays pinned, and alive, as long as something reads it.
    with open(files["PE32"], "rb") as f:
        data = bytearray(f.read())
    source = pictrove.open(data)
    with pytest.raises(BufferError):
        data.extend(b"more")
    icon = source[1]
    source.close()
    with pytest.raises(BufferError):
        data.extend(b"more")
    expected = icon.png()
    del icon
    data.extend(b"more")
    icon = pictrove.open(bytes(data[:-4]))[1]
    assert icon.png() == expected
    with pytest.raises(ValueError):
        len(source)


def test_dhash_of_arrays_and_pillow_images_is_the_records(files, tmp_path):
    Image = pytest.importorskip("PIL.Image")
    pytest.importorskip("numpy")

    cli("extract", files["PE32"], "-o", str(tmp_path))
    record = cli_record(files["PE32"])
    for scanned in record["all"]:
        with open(tmp_path / ("three32.dll_%d.png" % scanned["index"]), "rb") as f:
            picture = Image.open(io.BytesIO(f.read()))
            picture.load()
        by_pillow = pictrove.dhash(picture)
        by_array = pictrove.dhash(numpy.asarray(picture.convert("RGBA")))
        assert "%016x" % by_pillow == "%016x" % by_array == scanned["dhash"]
    icon = pictrove.open(files["PE32"])[0]
    assert pictrove.dhash(icon.rgba()) == icon.dhash()
    assert pictrove.dhash(icon.rgba()[:, ::-1]) != icon.dhash()  # a strided view is read as it shows
    assert pictrove.hamming(icon.dhash(), icon.dhash() ^ 0b1011) == 3
    for wrong in (numpy.zeros((4, 4, 3), numpy.uint8), numpy.zeros((4, 4, 4), numpy.float32), "picture"):
        with pytest.raises(ValueError):
            pictrove.dhash(wrong)
    assert pictrove.dhash(numpy.zeros((4, 4, 4), numpy.uint8)) == 0
    with pytest.raises(ValueError):
        icon.png(7)


def solid_png(side, rgba):
    """A PNG of one colour, 8-bit RGBA, made by hand."""
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    rows = (b"\0" + bytes(rgba) * side) * side
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", side, side, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def app_package(folder):
    """An app package of one logo, made with zipfile."""
    path = os.path.join(folder, "app.msix")
    with zipfile.ZipFile(path, "w") as archive:
        archive.writestr("AppxManifest.xml", "<Package><Properties><Logo>Logo.png</Logo></Properties></Package>")
        archive.writestr("Logo.png", solid_png(44, (0, 120, 215, 255)))
    return path


def test_app_packages_are_read_through_their_module(tmp_path):
    with pictrove.open(app_package(tmp_path)) as source:
        assert (source.kind, len(source), source[0].images[0].width) == ("APPX", 1, 44)


def test_a_drawing_stopped_by_its_limits_is_an_error_never_none(tmp_path):
    if not shutil.which("mksquashfs"):
        pytest.skip("mksquashfs is missing")
    sys.path.insert(0, os.path.join(ROOT, "fuzz"))
    import make_crafted_crashers as crafted
    with pictrove.open(crafted.svg_appimage(tmp_path, crafted.svg_fan_out())) as source:
        for ask in (lambda: source[0].png(256), source[0].dhash, lambda: source[0].images[0].png()):
            with pytest.raises(pictrove.Error, match="not made: reading and drawing its SVG pictures takes"):
                ask()


def test_what_the_tool_reads_beyond_icons_and_what_python_expects_of_objects(files):
    assert pictrove.__version__ == cli("--version").stdout.split()[1].decode()
    # An executable's cursors, as list --cursors lists them.
    listed = json.loads(cli("list", "--json", "--cursors", files["PE32 cursors only"]).stdout)[0]
    for given in (files["PE32 cursors only"], open(files["PE32 cursors only"], "rb").read()):
        with pictrove.open(given, cursors=True) as cursors:
            assert [(c.id, c.is_cursor, [i.hotspot for i in c.images]) for c in cursors] == \
                [(c.get("id", c.get("name")), True, [(i["hotspot"]["x"], i["hotspot"]["y"]) for i in c["images"]])
                 for c in listed["icons"]]
    with pictrove.open(files["PE32"]) as source, pictrove.open(files["PE32"]) as again:
        icons = list(source)
        # One icon of one open source, however many objects stand for it.
        assert source[1] == icons[1] and hash(source[1]) == hash(icons[1]) and source[1] != icons[0]
        assert again[1] != icons[1] and len({*icons, *source}) == len(icons)
        assert (source.index(icons[1]), source.count(icons[1]), source.count(again[1])) == (1, 1, 0)
        # Sizes are ints of the sizes the tool draws.
        for size, error in [(-1, ValueError), (7, ValueError), (1025, ValueError), (2 ** 70, ValueError),
                            (32.0, TypeError), (True, TypeError), ("32", TypeError)]:
            for ask in (icons[0].png, icons[0].rgba):
                with pytest.raises(error, match="size must be"):
                    ask(size)
        with pytest.raises(TypeError, match="size must be"):
            pictrove.scan(files["PE32"], thumbnail=32.5)
    # A lone name is no list of names.
    for lone in (files["PE32"], pathlib.Path(files["PE32"]), files["PE32"].encode()):
        with pytest.raises(TypeError, match="iterable of paths"):
            next(pictrove.scan_many(lone))


def test_rgba_gives_the_pixels_of_the_png(files):
    Image = pytest.importorskip("PIL.Image")
    pytest.importorskip("numpy")
    with pictrove.open(files["PE32"]) as source:
        icons = list(source)
        # A stored image's own pixels, as its PNG holds them (compared
        # premultiplied: a transparent pixel's colour is not kept).
        for image in icons[1].images:
            pixels = image.rgba()
            assert pixels.shape == (image.height, image.width, 4)
            assert Image.frombytes("RGBA", (image.width, image.height), pixels.tobytes()).convert("RGBa").tobytes() == \
                Image.open(io.BytesIO(image.png())).convert("RGBa").tobytes()
        assert icons[0].png(numpy.int64(48)) == icons[0].png(48)


def test_without_numpy_all_but_rgba_works(files):
    # NumPy hidden from a fresh interpreter: the package imports, and rgba()
    # alone says what it needs, each time it is asked.
    script = textwrap.dedent("""
        import sys
        sys.modules["numpy"] = None
        import pictrove
        icon = pictrove.open(sys.argv[1])[1]
        print(icon.png(32)[:4], "%016x" % icon.dhash())
        for ask in (icon.rgba, icon.images[0].rgba, icon.rgba):
            try:
                ask()
            except pictrove.Error as e:
                print(e)
    """)
    shown = subprocess.run([sys.executable, "-c", script, files["PE32"]], capture_output=True, text=True)
    assert shown.returncode == 0, shown.stderr
    lines = shown.stdout.splitlines()
    assert lines[0] == "b'\\x89PNG' %016x" % pictrove.open(files["PE32"])[1].dhash()
    assert lines[1:] == ["rgba() needs NumPy, which this Python cannot import: ModuleNotFoundError: import of numpy halted; "
                         "None in sys.modules"] * 3


def test_a_module_missing_at_run_time_is_an_error_naming_it(files, tmp_path):
    # The package copied alone: its modules are looked for beside it, and
    # what needs one raises pictrove.Error naming it, never another answer.
    shutil.copytree(os.path.dirname(pictrove.__file__), tmp_path / "pictrove",
                    ignore=shutil.ignore_patterns("pictrove-*"))  # as a build lays it out, or an install
    script = textwrap.dedent("""
        import sys
        import pictrove
        with pictrove.open(sys.argv[1]) as source:
            print(len(source))
            for ask in (lambda: source[0].png(256), lambda: pictrove.open(sys.argv[2])):
                try:
                    print(ask())
                except pictrove.Error as e:
                    print("Error:", e)
    """)
    result = subprocess.run([sys.executable, "-c", script, files["PE32"], app_package(tmp_path)],
                            env=dict(os.environ, PYTHONPATH=str(tmp_path)), capture_output=True, text=True)
    assert result.returncode == 0, result.stderr
    folder = tmp_path / "pictrove"
    assert result.stdout.splitlines() == [
        "%d" % len(pictrove.open(files["PE32"])),
        "Error: cannot load module %s: No such file or directory" % (folder / "pictrove-codecs.so"),
        "Error: cannot load module %s: No such file or directory" % (folder / "pictrove-appx.so")]
    # A module of another build (another module of this one, under the
    # codec's name) is refused before it runs, naming itself and the
    # package's module.
    package = os.path.dirname(pictrove.__file__)
    built = package if os.path.exists(os.path.join(package, "pictrove-msi.so")) else \
        os.path.join(os.path.dirname(os.path.dirname(package)), "lib", "pictrove")
    shutil.copy(os.path.join(built, "pictrove-msi.so"), folder / "pictrove-codecs.so")
    result = subprocess.run([sys.executable, "-c", script, files["PE32"], app_package(tmp_path)],
                            env=dict(os.environ, PYTHONPATH=str(tmp_path)), capture_output=True, text=True)
    refused = result.stdout.splitlines()[1]
    module = [name for name in os.listdir(folder) if name.startswith("_pictrove")][0]
    assert refused.startswith("Error: cannot load module %s: it is no module of this build of Pictrove" %
                              (folder / "pictrove-codecs.so")), refused
    assert refused.endswith("which %s belongs to" % (folder / module)), refused


def test_a_kept_icon_answers_alike_however_often_it_is_asked(files):
    # Each call has a budget of its own: a launcher that keeps an icon for
    # hours gets the first answer every time (the 256 px PNG of this small
    # library used to take the file's budget whole by the 257th call).
    icon = pictrove.open(files["PE32"])[1]
    first = (icon.png(256), icon.dhash(), icon.images[4].png())
    assert all(first)
    for _ in range(10_000):
        assert (icon.png(256), icon.dhash(), icon.images[4].png()) == first
    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        assert set(pool.map(lambda _: icon.png(256), range(400))) == {first[0]}


def test_closing_a_source_closes_its_file(files, tmp_path):
    # An icon file too large to be read whole: its 256 px bitmap is read
    # only when first decoded, and not at all here before the close.
    import struct
    def dib(side, colour):
        mask = ((side + 31) // 32) * 4 * side
        return (struct.pack("<IiiHHIIiiII", 40, side, 2 * side, 1, 32, 0, 0, 0, 0, 0, 0)
                + bytes(colour) * side * side + bytes(mask))
    images = [dib(32, (0, 0, 255, 255)), dib(256, (255, 0, 0, 255))]
    offset = 6 + 16 * len(images)
    directory = struct.pack("<HHH", 0, 1, len(images))
    for side, image in zip((32, 256), images):
        directory += struct.pack("<BBBBHHII", side % 256, side % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    big = tmp_path / "big.ico"
    big.write_bytes(directory + b"".join(images))
    def open_files():
        names = set()
        for fd in os.listdir("/proc/self/fd"):
            try:
                names.add(os.readlink(os.path.join("/proc/self/fd", fd)))
            except OSError:  # the listing's own descriptor, gone by now
                pass
        return names
    kept = []
    for _ in range(3):
        with pictrove.open(str(big)) as source:
            kept.append(source[0])
            shown = source[0].png(32)
        assert str(big) not in open_files()
    # What was read still answers; what needs more of the file says why.
    assert kept[-1].png(32) == shown
    with pytest.raises(pictrove.Error, match="closed"):
        kept[-1].png(256)
    small = pictrove.open(files["ICO"])
    icon = small[0]
    small.close()
    assert icon.png(48) == pictrove.open(files["ICO"])[0].png(48)  # read whole when opened


def test_a_file_cut_short_tells_its_damage_and_gives_what_is_intact(files, tmp_path):
    with open(files["PE32+"], "rb") as f:
        content = f.read()
    cut = tmp_path / "cut.dll"
    cut.write_bytes(content[:len(content) // 2])
    record = cli_record(str(cut))
    for given in (str(cut), cut.read_bytes()):
        with pictrove.open(given) as source:
            assert source.damage == record["error"] and source.damage.startswith("the file is damaged")
            assert len(source) == record["icons"] and [i.group_sha256() for i in source] == \
                [i["group_sha256"] for i in record.get("all", [])]
    with pictrove.open(files["PE32+"]) as whole:
        assert whole.damage is None


def test_index_searches_families_and_report_answer_as_the_tool(files, tmp_path):
    paths = [files[kind] for kind in FIXTURES if files.get(kind)]
    records = [pictrove.scan(path, all_icons=True) for path in paths]
    records_file = tmp_path / "records.jsonl"
    with open(records_file, "w") as f:
        f.write("".join(json.dumps(r) + "\n" for r in records) + "no record\n\n")
    # The index: from dicts or from the records file, the tool's bytes.
    cli_index = tmp_path / "cli.idx"
    assert cli("index", str(records_file), "-o", str(cli_index), check=False).returncode == 1  # one line is no record
    index = pictrove.build_index(records, tmp_path / "dicts.idx")
    from_file = pictrove.build_index(str(records_file), tmp_path / "file.idx")
    for built in (tmp_path / "dicts.idx", tmp_path / "file.idx"):
        assert built.read_bytes() == cli_index.read_bytes()
    assert (len(index), index.records, index.skipped, from_file.skipped) == (len(from_file), len(records), 0, 1)
    assert len(index) == sum(len(r.get("all", [])) or ("main" in r) for r in records)

    def tool(*args):
        return [json.loads(line) for line in cli(*args, check=False).stdout.splitlines()]

    # Searches: by hash, by an icon, by group hash, main icons or all.
    with pictrove.open(files["PE32"]) as source:
        icon = source[1]
        for all_icons in (False, True):
            flag = ["--all-icons"] if all_icons else []
            reference = "%016x" % icon.dhash()
            for distance in (0, 10, 30):
                expected = tool("similar", "--json", "--max-distance", str(distance), *flag, "--index",
                                str(cli_index), reference)
                assert index.similar(icon.dhash(), distance, all_icons) == expected
                assert pictrove.Index(cli_index).similar(icon, distance, all_icons=all_icons) == expected
            expected = tool("similar", "--json", *flag, "--index", str(cli_index), "--group", icon.group_sha256())
            assert index.group(icon.group_sha256(), all_icons) == expected and expected
    # Families, of the index or of the records, as clusters prints them.
    for settings in ({}, {"radius": 12, "min_size": 3}, {"radius": 0, "all_icons": True}):
        args = ["--radius", str(settings.get("radius", 4)), "--min-size", str(settings.get("min_size", 2))]
        args += ["--all-icons"] if settings.get("all_icons") else []
        expected = tool("clusters", *args, "--index", str(cli_index))
        assert list(pictrove.clusters(index, **settings)) == expected
        assert list(pictrove.clusters(records, jobs=1, **settings)) == expected
    # The report: the tool's page, byte for byte.
    cli("report", str(records_file), "-o", str(tmp_path / "cli.html"), check=False)
    assert pictrove.report([str(records_file)], tmp_path / "page.html") == 1
    assert (tmp_path / "page.html").read_bytes() == (tmp_path / "cli.html").read_bytes()
    # What cannot be read, is no index or is damaged says so, and a failed
    # write leaves nothing behind.
    with pytest.raises(pictrove.FileError) as missing:
        pictrove.Index(tmp_path / "missing.idx")
    assert missing.value.errno == errno.ENOENT
    with pytest.raises(pictrove.FormatError, match="is not an index"):
        pictrove.Index(records_file)
    damaged = bytearray(cli_index.read_bytes())
    damaged[72:72 + 4 * 65537] = b"\xff" * (4 * 65537)  # every bucket of the first table
    (tmp_path / "damaged.idx").write_bytes(bytes(damaged))
    assert cli("clusters", "--index", str(tmp_path / "damaged.idx"), check=False).returncode == 2
    with pytest.raises(pictrove.Error, match="is damaged"):  # found so on the way, as clusters finds it
        list(pictrove.clusters(pictrove.Index(tmp_path / "damaged.idx")))
    good = cli_index.read_bytes()
    (tmp_path / "damaged.idx").write_bytes(good[:16] + b"\x01" + good[17:])
    with pytest.raises(pictrove.FormatError, match="is damaged"):  # found so when opened
        pictrove.Index(tmp_path / "damaged.idx")
    with pytest.raises(pictrove.FileError) as unwritten:
        pictrove.build_index(records, tmp_path / "no" / "such" / "folder.idx")
    assert unwritten.value.errno == errno.ENOENT
    with pytest.raises(pictrove.FileError):
        pictrove.report([str(tmp_path / "missing.jsonl")], tmp_path / "never.html")
    assert not (tmp_path / "never.html").exists() and not (tmp_path / "no").exists()
    with pytest.raises(pictrove.Error, match="without the group hashes"):
        pictrove.build_index(records, tmp_path / "plain.idx", groups=False).group("ab" * 32)
    with pytest.raises(TypeError):
        pictrove.build_index([b"{}"], tmp_path / "bytes.idx")
    for wrong in ({"radius": 65}, {"radius": -1}, {"min_size": 0}):
        with pytest.raises(ValueError):
            next(pictrove.clusters(index, **wrong))


def test_rgba_first_from_many_threads_never_hangs():
    pytest.importorskip("numpy")
    # A fresh interpreter, where nothing imported NumPy before the package.
    script = textwrap.dedent("""
        import concurrent.futures, sys, pictrove
        icons = list(pictrove.open(sys.argv[1]))
        with concurrent.futures.ThreadPoolExecutor(8) as pool:
            shapes = list(pool.map(lambda n: icons[n % len(icons)].rgba(16).shape, range(64)))
        print(len(shapes), shapes[0])
    """)
    for _ in range(3):
        done = subprocess.run([sys.executable, "-c", script, os.path.join(DATA, FIXTURES["PE32"])],
                              capture_output=True, text=True, timeout=120)
        assert done.returncode == 0, done.stderr
        assert done.stdout.split(None, 1) == ["64", "(16, 16, 4)\n"]


@pytest.mark.skipif(os.environ.get("PICTROVE_PIP_TEST") != "1", reason="ctest runs it on its own")
def test_pip_installs_the_package_offline_into_a_virtual_environment(files, tmp_path):
    # A plain environment, and pip's own isolated build, its build packages
    # (setuptools, wheel) taken from Debian's copies of their wheels.
    wheels = "/usr/share/python-wheels"
    if not os.path.isdir(wheels) or not any(name.startswith("wheel-") for name in os.listdir(wheels)):
        pytest.fail("Debian's python3-wheel-whl is missing: scripts/install-deps.sh installs it")
    venv = tmp_path / "venv"
    subprocess.run([sys.executable, "-m", "venv", str(venv)], check=True)
    python = str(venv / "bin" / "python")
    installed = subprocess.run([python, "-m", "pip", "install", "--no-index", "--find-links", wheels,
                                os.path.join(ROOT, "python")], capture_output=True, text=True)
    assert installed.returncode == 0, installed.stdout + installed.stderr
    # The PNG comes through the codec module, installed beside the package's module.
    script = ("import sys, pictrove, importlib.metadata as m; print(pictrove.__file__); "
              "print(pictrove.open(sys.argv[1])[1].group_sha256()); print(pictrove.open(sys.argv[2]).kind); "
              "print(pictrove.open(sys.argv[1])[1].png(32)[:8].hex()); print(m.version('pictrove') == pictrove.__version__)")
    env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
    package = app_package(tmp_path)  # read by its module, installed beside the package's module
    shown = subprocess.run([python, "-c", script, files["PE32"], package], capture_output=True, text=True, env=env,
                           cwd=tmp_path)
    assert shown.returncode == 0, shown.stderr
    where, digest, kind, png, versions = shown.stdout.split()
    assert where.startswith(str(venv))
    assert digest == cli_record(files["PE32"])["all"][1]["group_sha256"]
    assert (kind, png, versions) == ("APPX", "89504e470d0a1a0a", "True")
    # Each binary finds every library beyond glibc and the C++ runtime in the package.
    package = os.path.dirname(where)
    libs = os.path.join(package, "_libs")
    binaries = [os.path.join(package, name) for name in os.listdir(package) if name.endswith(".so")]
    binaries += [os.path.join(package, "pictrove-svg-draw")] + [os.path.join(libs, name) for name in os.listdir(libs)]
    core = ("libc.so", "libm.so", "libstdc++.so", "libgcc_s.so")
    for binary in binaries:
        for line in subprocess.run(["ldd", binary], capture_output=True, text=True, env=env, check=True).stdout.splitlines():
            name, _, found = line.strip().partition(" => ")
            if found and not name.startswith(core):
                assert found.startswith(libs + "/"), (binary, line)
