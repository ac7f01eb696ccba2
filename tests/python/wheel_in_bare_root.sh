#!/usr/bin/env bash
# The wheel where it matters: built here with `python3 -m build`, installed
# with pip into a plain virtual environment inside a minimal Debian 12 root
# that has python3 and nothing of ours, and the package's table run there.
#
#   PICTROVE_CLI=path/to/pictrove-cli tests/python/wheel_in_bare_root.sh [WORK]
#
# The root is made once with debootstrap (--variant=minbase, with python3-venv
# and python3-pytest to run the table) and kept in
# PICTROVE_BARE_ROOT (/var/cache/pictrove-tests/bookworm by default). The
# table compares the package with pictrove-cli, which that root lacks: the
# tool answers here, through tests/python/cli_replay.py, and its answers are
# given back there, at the same paths. The package kinds Debian's makers make
# (wixl, mksquashfs, png2icns) are made here too.
#
# Needs root (chroot, a mount of /proc). Exits 77 when no root can be made
# here: not the superuser, no debootstrap, no way to Debian's archive.
set -euo pipefail

repo=$(cd "$(dirname "$0")/../.." && pwd)
cli=${PICTROVE_CLI:?PICTROVE_CLI names the built pictrove-cli}
work=${1:-/tmp/pictrove-bare-root-test}
root=${PICTROVE_BARE_ROOT:-/var/cache/pictrove-tests/bookworm}
python=/usr/bin/python3

skip() {
  echo "skipped: $*"
  exit 77
}

[ "$(id -u)" -eq 0 ] || skip "making and entering a root takes the superuser"
if [ ! -x "$root/usr/bin/python3" ] || [ ! -d "$root/usr/lib/python3/dist-packages/pytest" ]; then
  command -v debootstrap >/dev/null || skip "debootstrap is missing"
  rm -rf "$root.new"
  mkdir -p "$(dirname "$root")"
  if ! debootstrap --variant=minbase --include=python3-venv,python3-pytest bookworm "$root.new" \
    http://deb.debian.org/debian >"$work.debootstrap.log" 2>&1; then
    tail -5 "$work.debootstrap.log"
    skip "debootstrap could not make a Debian 12 root (see $work.debootstrap.log)"
  fi
  rm -rf "$root"
  mv "$root.new" "$root"
fi

# The wheel, from a fresh copy of the package's folder.
rm -rf "$work"
mkdir -p "$work/dist"
$python -m build --wheel --no-isolation --outdir "$work/dist" "$repo/python" >"$work/build.log" 2>&1 ||
  { tail -30 "$work/build.log"; exit 1; }
wheel=$(ls "$work"/dist/*.whl)
echo "wheel: $(basename "$wheel"), $(du -k "$wheel" | cut -f1) KiB"
$python -m zipfile -l "$wheel" | awk 'NR > 1 { print "  " $1 }' | grep -E '\.so|svg-draw' | sort | tr '\n' ' '
echo

# The package kinds, made by Debian's makers, then the tool's answers to the
# table, kept.
$python - "$repo" "$work/fixtures" <<'EOF'
import os, sys
sys.path.insert(0, os.path.join(sys.argv[1], "tests", "core"))
import package_oracle_test as makers
for maker in ("make_msi", "make_msix", "make_appimage", "make_icns"):
    folder = os.path.join(sys.argv[2], maker)
    os.makedirs(folder)
    getattr(makers, maker)(folder)
EOF
table=(-m pytest -q -p no:cacheprovider -rs --basetemp="$work/tmp" "$repo/tests/python/test_pictrove.py")
export PICTROVE_DATA=$repo/tests/data PICTROVE_FIXTURES=$work/fixtures PICTROVE_CLI_RECORDS=$work/records
# Here the wheel goes into an environment that sees the system's NumPy and
# Pillow, so that every call the table may make is answered.
$python -m venv --system-site-packages "$work/venv"
"$work/venv/bin/pip" install -q --no-index "$wheel"
PICTROVE_CLI=$repo/tests/python/cli_replay.py PICTROVE_CLI_REAL=$cli \
  env -u PYTHONPATH "$work/venv/bin/python" "${table[@]}" >"$work/recorded.log" 2>&1 ||
  { tail -30 "$work/recorded.log"; exit 1; }

# Into the root at the same paths: the wheel, the table and its data, the
# fixtures, the answers.
inside=$root/$work
rm -rf "$inside" "${root:?}/${repo:?}" "$root/tmp/venv"
mkdir -p "$inside" "$root/$repo/tests/python" "$root/$repo/fuzz"
cp -a "$work/dist" "$work/fixtures" "$work/records" "$inside/"
cp -a "$repo/tests/data" "$root/$repo/tests/"
cp -a "$repo/tests/python/test_pictrove.py" "$repo/tests/python/cli_replay.py" "$root/$repo/tests/python/"
cp -a "$repo/fuzz/crashers" "$repo/fuzz/make_crafted_crashers.py" "$root/$repo/fuzz/"
cp -a "$repo/README.md" "$root/$repo/"

mount -t proc proc "$root/proc"
trap 'umount "$root/proc"' EXIT
# pytest is Debian's, beside the environment: the environment itself is
# plain, and has the wheel alone.
chroot "$root" /usr/bin/env -i PATH=/usr/bin:/bin HOME=/root LANG=C.UTF-8 /bin/sh -ec "
  python3 -m venv /tmp/venv
  /tmp/venv/bin/pip install -q --no-index $work/dist/$(basename "$wheel")
  cd /tmp
  PICTROVE_CLI=$repo/tests/python/cli_replay.py PICTROVE_CLI_RECORDS=$work/records \
    PICTROVE_DATA=$repo/tests/data PICTROVE_FIXTURES=$work/fixtures PYTHONPATH=/usr/lib/python3/dist-packages \
    /tmp/venv/bin/python ${table[*]}
"
