#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the build and the tests need and
# this machine lacks. Safe to run again: it does nothing when all is there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev libgl-dev libspng-dev libdeflate-dev zlib1g-dev libssl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang clang-format nlohmann-json3-dev
  # the Python package, its tests (pip into a virtual environment) and its
  # benchmark's peers
  pybind11-dev python3-dev python3-numpy python3-pytest python3-venv python3-setuptools python3-wheel
  python3-wheel-whl python3-build debootstrap
  python3-icoextract
  # independent tools the tests compare against, and the makers of fixtures
  icoutils python3 python3-pil python3-pefile python3-distributed bash-completion
  # a module whose library is missing, made from a copy of the build
  patchelf
  # the Dask script's local cluster: its temporary TLS certificate
  python3-cryptography
  # the pictures of macOS icon files, and Debian's maker and reader of them
  libopenjp2-7-dev icnsutils
  # installer databases: libgsf for the compound file, msitools and wixl to
  # make and read them back
  libgsf-1-dev msitools wixl
  # app packages: libzip and pugixml, zip and unzip to make and read them back
  libzip-dev libpugixml-dev zip unzip
  # AppImages: libsquashfs (type 2), libarchive (type 1's ISO 9660) and
  # librsvg (SVG icons); mksquashfs, unsquashfs, genisoimage, xorriso and
  # rsvg-convert to make and read them back
  libsquashfs-dev libarchive-dev librsvg2-dev squashfs-tools genisoimage xorriso librsvg2-bin
  binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 nsis-common
  # validators of the installed desktop files, and the Debian package's tools
  desktop-file-utils appstream shared-mime-info libglib2.0-bin dpkg-dev file
  # the desktop's thumbnail service, run on a private session bus
  tumbler dbus-daemon python3-gi gir1.2-glib-2.0
  # the manual's pictures: the program on a virtual display (scripts/make-screenshots.sh)
  xvfb xdotool x11-apps
  # the report's page opened in a real browser (its tests, its picture)
  chromium fonts-dejavu-core
  # the Windows build: mingw-w64 with POSIX threads, GoogleTest's sources to
  # build it with, and Wine to run the Windows tests without a display
  g++-mingw-w64-x86-64-posix googletest wine64
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
