#!/bin/sh
# Regenerates every fixture in tests/data. Needs Debian's python3 with Pillow
# and pefile, and the mingw binutils for i686 and x86-64.
set -eu
cd "$(dirname "$0")"
/usr/bin/python3 make_icons.py
/usr/bin/python3 make_ne.py
/usr/bin/python3 make_pe.py
