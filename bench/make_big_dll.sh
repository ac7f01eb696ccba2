#!/usr/bin/env bash
# Builds the benchmark library: a resource-only 32-bit DLL of GROUPS icons
# (200 by default), each with 16, 32 and 48 px bitmaps at 4, 8 and 32 bits
# and a 256 px PNG image. Several MB: build it into a build folder, never
# into the source tree.
#
#   bench/make_big_dll.sh OUT.dll [GROUPS]
#
# Needs python3 with Pillow and the MinGW binutils (i686-w64-mingw32-windres, -ld).
set -euo pipefail
[ $# -ge 1 ] || { sed -n '2,9p' "$0"; exit 2; }
out=$(realpath -m "$1")
groups=${2:-200}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python=/usr/bin/python3
[ -x "$python" ] || python=python3
"$python" "$here/make_big_dll.py" "$work" "$groups"
i686-w64-mingw32-windres --preprocessor=cat -i "$work/big.rc" -O coff -o "$work/big.res"
mkdir -p "$(dirname "$out")"
i686-w64-mingw32-ld --dll -e 0 -s --no-insert-timestamp "$work/big.res" -o "$out"
echo "$out: $groups icons, $(stat -c %s "$out") bytes"
