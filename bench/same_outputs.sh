#!/usr/bin/env bash
# Checks that two builds of pictrove-cli write the same: every extract mode,
# list, scan and thumbnails, on Wine's shell32.dll, user32.dll and
# comctl32.dll when installed and on the test fixtures. For changes meant to
# make the tool faster without changing what it writes. PNG files the tool
# encodes itself count as the same when they hold the same pixels (see
# same_pictures.py); everything else must be the same bytes.
#
#   bench/same_outputs.sh OLD_CLI NEW_CLI
#
# Prints one line per mode; exits 1 when anything differs.
set -uo pipefail
if [ $# -ne 2 ]; then sed -n '2,11p' "$0"; exit 2; fi
a=$1
b=$2
here=$(cd "$(dirname "$0")" && pwd)
data=$(dirname "$here")/tests/data
wine=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
inputs=()
for dll in shell32.dll user32.dll comctl32.dll; do [ -f "$wine/$dll" ] && inputs+=("$wine/$dll"); done
while IFS= read -r -d '' file; do inputs+=("$file"); done < <(find "$data" -type f \( -name '*.dll' -o -name '*.exe' \
  -o -name '*.ico' -o -name '*.cur' -o -name '*.ani' -o -name '*.icl' \) -print0 | sort -z)
out=$(mktemp -d "${TMPDIR:-/tmp}/pictrove-same.XXXXXX")
trap 'rm -rf "$out"' EXIT
fail=0
for mode in "" "--all-sizes" "--group-ico" "--ico" "--bmp" "--cursors --all-sizes" "--size 48" \
  "--all-sizes --size 48" "--all-sizes --size 16 --ico"; do
  rm -rf "$out/a" "$out/b"
  mkdir -p "$out/a" "$out/b"
  # shellcheck disable=SC2086
  "$a" extract $mode "${inputs[@]}" -o "$out/a" >"$out/a.log" 2>&1
  ra=$?
  # shellcheck disable=SC2086
  "$b" extract $mode "${inputs[@]}" -o "$out/b" >"$out/b.log" 2>&1
  rb=$?
  if [ $ra != $rb ] || ! "$here/same_pictures.py" "$out/a" "$out/b" >/dev/null ||
    ! diff <(sed "s|$out/a|OUT|g" "$out/a.log") <(sed "s|$out/b|OUT|g" "$out/b.log") >/dev/null; then
    echo "differ: extract $mode"
    fail=1
  else
    echo "same:   extract $mode ($(find "$out/a" -type f | wc -l) files)"
  fi
done
for mode in "" "--json" "--cursors"; do
  # shellcheck disable=SC2086
  if cmp -s <("$a" list $mode "${inputs[@]}" 2>&1) <("$b" list $mode "${inputs[@]}" 2>&1); then
    echo "same:   list $mode"
  else
    echo "differ: list $mode"
    fail=1
  fi
done
for mode in "" "--all-icons"; do
  # shellcheck disable=SC2086
  if cmp -s <("$a" scan $mode -r "$data" "${inputs[@]:0:3}" 2>&1) <("$b" scan $mode -r "$data" "${inputs[@]:0:3}" 2>&1); then
    echo "same:   scan $mode"
  else
    echo "differ: scan $mode"
    fail=1
  fi
done
thumbs=0
for file in "${inputs[@]:0:12}"; do
  for size in 16 48 256; do
    "$a" thumbnail -s "$size" "$file" "$out/a.png" >/dev/null 2>&1
    "$b" thumbnail -s "$size" "$file" "$out/b.png" >/dev/null 2>&1
    if ! "$here/same_pictures.py" "$out/a.png" "$out/b.png" >/dev/null; then
      echo "differ: thumbnail -s $size $file"
      fail=1
    fi
    thumbs=$((thumbs + 1))
  done
done
echo "same:   $thumbs thumbnails unless listed above"
exit $fail
