"""Builds the package's module with the project's own CMake build (the
metadata is in pyproject.toml). Offline, from Debian's wheels:

    pip install --no-index --find-links /usr/share/python-wheels ./python
    python3 -m build --wheel --no-isolation python

Needs what scripts/install-deps.sh installs (cmake, ninja-build, a C++20
compiler, pybind11-dev, python3-dev, patchelf and the libraries of the
modules).

The wheel carries every shared library its modules need beyond glibc and
the C++ runtime: each is copied into pictrove/_libs under a name of its own
(so that another copy of it in the same process is no clash), and found
there through $ORIGIN. The wheel is tagged for the newest glibc version any
of its files asks for.
"""

import hashlib
import os
import platform
import re
import shutil
import subprocess
import sys
import sysconfig

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

try:
    from wheel.bdist_wheel import bdist_wheel
except ImportError:  # building no wheel, as `setup.py build` does
    bdist_wheel = None

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
LIBS = "_libs"

# What every Linux the wheel may land on has: glibc and the C++ runtime.
SYSTEM = re.compile(r"^(linux-vdso|ld-linux[-\w]*|libc|libm|libdl|libpthread|librt|libresolv|libutil|libanl|"
                    r"libstdc\+\+|libgcc_s)\.so")


def run(*argv):
    return subprocess.run(argv, check=True, capture_output=True, text=True).stdout


def needed_libraries(elf):
    """{soname: path} of every library `elf` loads, however deep, beyond the system's."""
    found = {}
    for line in run("ldd", elf).splitlines():
        name, _, where = line.strip().partition(" => ")
        if not where or SYSTEM.match(name):
            continue
        path = where.split(" (")[0].strip()
        if path == "not found":
            raise RuntimeError("%s needs %s, which this machine lacks" % (elf, name))
        found[name] = os.path.realpath(path)
    return found


def own_name(soname, path):
    """libz.so.1 -> libz-<8 hex digits of its bytes>.so.1"""
    with open(path, "rb") as f:
        digest = hashlib.sha256(f.read()).hexdigest()[:8]
    stem, dot, version = soname.partition(".so")
    return "%s-%s.so%s" % (stem, digest, version)


def bundle_libraries(package):
    """Copies the libraries the package's binaries need into package/_libs and
    points every binary at its copies."""
    if not shutil.which("patchelf"):
        raise RuntimeError("patchelf is needed to build a self-contained package (apt-get install patchelf)")
    binaries = [os.path.join(package, name) for name in sorted(os.listdir(package))
                if name.endswith(".so") or name == "pictrove-svg-draw"]
    wanted = {}
    for binary in binaries:
        wanted.update(needed_libraries(binary))
    libs = os.path.join(package, LIBS)
    shutil.rmtree(libs, ignore_errors=True)
    os.makedirs(libs)
    renamed = {soname: own_name(soname, path) for soname, path in wanted.items()}
    copies = []
    for soname, path in sorted(wanted.items()):
        copy = os.path.join(libs, renamed[soname])
        shutil.copyfile(path, copy)
        os.chmod(copy, 0o755)
        run("patchelf", "--set-soname", renamed[soname], copy)
        copies.append(copy)

    def point(binary, origin):
        replace = []
        for name in run("patchelf", "--print-needed", binary).split():
            if name in renamed:
                replace += ["--replace-needed", name, renamed[name]]
        if replace:
            run("patchelf", *replace, binary)
        run("patchelf", "--set-rpath", origin, binary)

    for copy in copies:
        point(copy, "$ORIGIN")
    for binary in binaries:
        point(binary, "$ORIGIN/" + LIBS)
    # Every library now comes from the package or from the system's core.
    for binary in binaries + copies:
        for soname, path in needed_libraries(binary).items():
            if os.path.dirname(path) != os.path.realpath(libs):
                raise RuntimeError("%s still loads %s from %s" % (binary, soname, path))
    return binaries + copies


def newest_glibc(binaries):
    """The newest glibc version (major, minor) any of the binaries asks for."""
    newest = (2, 17)
    for binary in binaries:
        for major, minor in re.findall(r"GLIBC_(\d+)\.(\d+)", run("objdump", "-T", binary)):
            newest = max(newest, (int(major), int(minor)))
    return newest


class CMakeBuild(build_ext):
    """The module from the CMake target pictrove_python, for this Python."""

    def build_extension(self, ext):
        build = os.path.join(os.path.abspath(self.build_temp), "cmake")
        configure = ["cmake", "-S", SOURCE, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
                     "-DPICTROVE_GUI=OFF", "-DPICTROVE_TESTS=OFF", "-DPICTROVE_BENCH=OFF",
                     "-DPICTROVE_PYTHON=ON", "-DPython_EXECUTABLE=" + sys.executable]
        if shutil.which("ninja"):
            configure += ["-G", "Ninja"]
        subprocess.run(configure, check=True)
        subprocess.run(["cmake", "--build", build, "--target", "pictrove_python"], check=True)
        built = os.path.join(build, "python", "pictrove", "_pictrove" + sysconfig.get_config_var("EXT_SUFFIX"))
        target = self.get_ext_fullpath(ext.name)
        package = os.path.dirname(target)
        os.makedirs(package, exist_ok=True)
        shutil.copyfile(built, target)
        # The PNG codec, the readers of installer databases, app packages and
        # AppImages and the SVG drawing program, which the module loads (or
        # starts) from beside itself, and from nowhere else, when it first
        # needs them. Copied with their modes: the drawing program runs.
        modules = os.path.join(build, "lib", "pictrove")
        for module in os.listdir(modules):
            if module.startswith("pictrove-") and (module.endswith(".so") or module == "pictrove-svg-draw"):
                shutil.copy(os.path.join(modules, module), os.path.join(package, module))
        binaries = bundle_libraries(package)
        self.distribution.glibc = newest_glibc(binaries)


commands = {"build_ext": CMakeBuild}

if bdist_wheel:
    class Wheel(bdist_wheel):
        """Tagged for the glibc the binaries need rather than for this machine alone."""

        def finalize_options(self):
            super().finalize_options()
            self.root_is_pure = False

        def get_tag(self):
            python, abi, plat = super().get_tag()
            glibc = getattr(self.distribution, "glibc", None)
            if glibc and plat.startswith("linux_"):
                plat = "manylinux_%d_%d_%s" % (glibc[0], glibc[1], platform.machine())
            return python, abi, plat

    commands["bdist_wheel"] = Wheel

setup(
    ext_modules=[Extension("pictrove._pictrove", sources=[])],
    cmdclass=commands,
)
