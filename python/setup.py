"""Builds the package with the project's own CMake build, offline:

    pip install --no-build-isolation ./python

Needs what scripts/install-deps.sh installs (cmake, ninja-build, a C++20
compiler, pybind11-dev, python3-dev, libspng-dev, libssl-dev,
nlohmann-json3-dev).
"""

import os
import shutil
import subprocess
import sys
import sysconfig

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)


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
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(built, target)
        # The PNG codec, the readers of installer databases, app packages and
        # AppImages and the SVG drawing program, which the module loads (or
        # starts) from beside itself, and from nowhere else, when it first
        # needs them. Copied with their modes: the drawing program runs.
        modules = os.path.join(build, "lib", "pictrove")
        for module in os.listdir(modules):
            if module.startswith("pictrove-") and (module.endswith(".so") or module == "pictrove-svg-draw"):
                shutil.copy(os.path.join(modules, module), os.path.join(os.path.dirname(target), module))


setup(
    name="pictrove",
    version="0.1.0",
    description="Icons out of Windows programs, libraries and icon files: the Pictrove engine",
    license="MIT",
    packages=["pictrove"],
    package_data={"pictrove": ["__init__.pyi", "py.typed"]},
    ext_modules=[Extension("pictrove._pictrove", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    install_requires=["numpy"],
    python_requires=">=3.9",
    zip_safe=False,
)
