#!/usr/bin/python3
"""Times every command a user runs on one input over files crafted to cost
much: app packages that inflate one variant many times, an installer whose
20,000 icon rows name one 8 MiB stream, SVG icons of many paths or of a
fan-out of uses, an ICNS of 4,096 packed members, a package logo without an
extension and an executable cut to half its length. Each line gives the wall
and processor seconds (the drawing helper's included), the exit status and
whether a sanitizer said anything.

    crafted_inputs.py PICTROVE-CLI [--keep FOLDER]

Meant for a build under AddressSanitizer too, where every input should still
finish in about a second (an SVG in 2 s of processor time). Making the
installer needs Debian's gir1.2-gsf-1 (python3-gi); the AppImages mksquashfs.
"""
import io
import os
import resource
import struct
import subprocess
import sys
import tempfile
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "fuzz"))
import crafted_icns  # noqa: E402
import crafted_packages  # noqa: E402
import make_crafted_crashers as crashers  # noqa: E402


def many_paths(count):
    """An SVG of `count` half-transparent triangles."""
    body = "".join(
        f'<path d="M{i * 37 % 500} {i * 91 % 500} L{500 - i * 91 % 500} {i * 37 % 500} L{i * 91 % 500} 250 Z" '
        f'fill="#{100000 + i % 800000}" fill-opacity="0.5"/>' for i in range(count))
    return ('<svg xmlns="http://www.w3.org/2000/svg" width="512" height="512" viewBox="0 0 512 512">'
            + body + "</svg>")


def logo_without_extension():
    """A package whose logo is named without its extension."""
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as archive:
        archive.writestr("AppxManifest.xml", crafted_packages.MANIFEST.replace("Logo.png", "Assets\\StoreLogo"))
        archive.writestr("Assets/StoreLogo.scale-100.png", crafted_packages.PNG_HEAD + bytes(64))
    return out.getvalue()


def msi_of_shared_stream(rows, stream_bytes):
    """An installer database whose `rows` Icon rows all name one stream of
    `stream_bytes` bytes: an icon file of one PNG image, padded."""
    import gi
    gi.require_version("Gsf", "1")
    from gi.repository import Gsf

    def stream_name(name, table):
        # The compound file names of an installer: two characters from the
        # 64 of the name alphabet packed into one, tables marked by U+4840.
        alphabet = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz._"
        out, i = ["\u4840"] if table else [], 0
        while i < len(name):
            a = alphabet.find(name[i])
            b = alphabet.find(name[i + 1]) if i + 1 < len(name) else -1
            if a >= 0 and b >= 0:
                out.append(chr(0x3800 + a + (b << 6)))
                i += 2
            elif a >= 0:
                out.append(chr(0x4800 + a))
                i += 1
            else:
                out.append(name[i])
                i += 1
        return "".join(out)

    png = crafted_packages.PNG_HEAD + bytes(stream_bytes - 22 - len(crafted_packages.PNG_HEAD))
    ico = struct.pack("<HHHBBBBHHII", 0, 1, 1, 16, 16, 0, 0, 1, 32, len(png), 22) + png
    name = b"a.ico"
    pool = struct.pack("<I", 0) + struct.pack("<HH", len(name), rows)
    icon = struct.pack(f"<{rows}H", *([1] * rows)) + bytes(2 * rows)
    streams = [(stream_name("_StringPool", True), pool), (stream_name("_StringData", True), name),
               (stream_name("Icon", True), icon), (stream_name("Property", True), b""),
               (stream_name("Icon.a.ico", False), ico)]
    # Through a file: Output.write and OutputMemory's bytes lose their
    # lengths on their way through GObject introspection.
    with tempfile.TemporaryDirectory() as work:
        path = os.path.join(work, "made.msi")
        root = Gsf.OutfileMSOle.new(Gsf.OutputStdio.new(path))
        for stream, data in streams:
            child = root.new_child(stream, False)
            Gsf.InputMemory.new(data, False).copy(child)
            child.close()
        root.close()
        with open(path, "rb") as f:
            return f.read()


def inputs(folder):
    """The crafted files, by name, written into `folder`."""
    made = {
        "40-names-of-zeros.msix": crafted_packages.shared(39, b""),
        "40-names-of-a-png-header.msix": crafted_packages.shared(39, crafted_packages.PNG_HEAD),
        "20000-names-of-a-png-header.msix": crafted_packages.shared(19999, crafted_packages.PNG_HEAD),
        "logo-without-extension.msix": logo_without_extension(),
        "4096-it32-members.icns": crafted_icns.crafted(4096),
    }
    try:
        made["20000-rows-one-stream.msi"] = msi_of_shared_stream(20000, 8 << 20)
    except (ImportError, ValueError) as e:
        print(f"no installer: {e}", file=sys.stderr)
    with open(os.environ.get("PE", "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/shell32.dll"), "rb") as f:
        pe = f.read()
    made["shell32-cut-to-half.dll"] = pe[:len(pe) // 2]
    paths = {}
    for name, data in made.items():
        paths[name] = os.path.join(folder, name)
        with open(paths[name], "wb") as f:
            f.write(data)
    for name, svg in (("20000-paths", many_paths(20000)), ("200000-paths", many_paths(200000)),
                      ("fan-out-of-uses", crashers.svg_fan_out())):
        os.makedirs(os.path.join(folder, name))
        paths[name + ".AppImage"] = crashers.svg_appimage(os.path.join(folder, name), svg)
    return paths


def timed(argv):
    """Wall and processor seconds (children's included), exit status and
    what a sanitizer said, of one run."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    result = subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, errors="replace")
    wall = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime
    sanitizer = any(mark in result.stderr for mark in ("AddressSanitizer", "LeakSanitizer", "runtime error:"))
    return wall, cpu, result.returncode, sanitizer, result.stderr.strip().splitlines()[-1:]


def main():
    args = sys.argv[1:]
    keep = None
    if "--keep" in args:
        keep = args.pop(args.index("--keep") + 1)
        args.remove("--keep")
    cli = args[0]
    with tempfile.TemporaryDirectory() as work:
        folder = keep or work
        os.makedirs(folder, exist_ok=True)
        worst = 0.0
        for name, path in inputs(folder).items():
            out = os.path.join(work, "out")
            for command, argv in (("list", [cli, "list", path]),
                                  ("extract --all-sizes", [cli, "extract", "--all-sizes", path, "-o", out]),
                                  ("thumbnail", [cli, "thumbnail", path, os.path.join(work, "t.png")]),
                                  ("scan", [cli, "scan", path])):
                os.makedirs(out, exist_ok=True)
                wall, cpu, status, sanitizer, said = timed(argv)
                worst = max(worst, wall)
                print(f"{name:34} {command:20} {wall:6.2f} s wall {cpu:6.2f} s cpu  exit {status}"
                      f"{'  SANITIZER REPORT' if sanitizer else ''}  {said[0][:90] if said else ''}")
                subprocess.run(["rm", "-rf", out])
        print(f"slowest: {worst:.2f} s")


if __name__ == "__main__":
    main()
