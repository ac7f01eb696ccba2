#!/usr/bin/env bash
# Times whole commands of Pictrove against other tools doing the same job on
# the benchmark library (make_big_dll.sh), side by side in one run, and prints
# the median of each and the median of the pairwise ratios:
#
#   (a) listing the icons      pictrove-cli list            vs  wrestool -l -t14
#   (b) every 32 x 32 icon     deliver_icons, and           vs  pefile + Pillow
#                              pictrove-cli extract (PNGs)      (pefile_pillow_icons.py)
#   (c) every image as PNG     pictrove-cli extract         vs  wrestool -x -t14, then
#                              --all-sizes                      icotool -x on each .ico
#   (d) a 256 px thumbnail     pictrove-cli thumbnail       vs  Debian's icoextract exe
#       of the library and of                                   thumbnailer (package
#       a small .exe (an NSIS                                   icoextract; the cases are
#       installer stub)                                         left out without it)
#
# and, when Wine's 64-bit shell32.dll is installed (package wine64; 14.8 MB,
# 184 groups of 16 to 256 px, PNG among them), the same three jobs on it,
# where a real library's layout sets the pace:
#
#   (a) listing                 vs  wrestool -l -t14                 <= 0.25
#   (b) 32 x 32 PNGs            vs  pefile + Pillow writing them     <= 0.05
#   (c) every image as PNG      vs  wrestool -x, then icotool -x     <= 0.09
#
# The folders a case writes to are emptied, untimed, before every run of
# either side, so both create their files as a user's first run does.
#
#   bench/compare.sh [-B BUILD_DIR] [-n RUNS] [-d DLL] [-s SHELL32] [-o OUT_ROOT]
#
# BUILD_DIR defaults to the release preset's folder, configured and built
# through the preset; any other folder is configured, when it is not yet, as
# a release build without the GUI and tests. DLL defaults to the library the
# build's big_dll target makes. time_pairs.py runs A and B in turn, A B A B
# ..., after one warm-up each, so a drift in the machine's speed hits both
# alike; wall and CPU (user + system) seconds are both reported, CPU being
# the steadier on a busy machine. Extracted files go to a fresh folder under
# OUT_ROOT, by default /dev/shm when there is one: both sides write the same
# 2,200 files, and on a disk the file system's own costs (creating, renaming
# and discarding blocks) would drown the programs'.
#
# SHELL32 defaults to Wine's; -s none leaves those cases out.
#
# PAIR_TIMER, when set, names a timing command to use instead of the loop
# here; it is called as: $PAIR_TIMER -n RUNS --vs 'COMMAND_B' -- COMMAND_A
# (it cannot run anything untimed between runs: from the second run on, both
# sides write over files they made before).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
build=""
runs=15
dll=""
shell32=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/shell32.dll
out_root=""
while getopts "B:n:d:s:o:h" opt; do
  case $opt in
    B) build=$OPTARG ;;
    n) runs=$OPTARG ;;
    d) dll=$OPTARG ;;
    s) shell32=$OPTARG ;;
    o) out_root=$OPTARG ;;
    *) sed -n '2,40p' "$0"; exit 2 ;;
  esac
done

targets=(pictrove-cli deliver_icons)
[ -z "$dll" ] && targets+=(big_dll)
if [ -z "$build" ]; then
  build=$source_dir/build/release
  (cd "$source_dir" && cmake --preset release >/dev/null)
elif [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$source_dir" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPICTROVE_GUI=OFF \
    -DPICTROVE_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target "${targets[@]}" >/dev/null
build=$(cd "$build" && pwd)
cli=$build/src/cli/pictrove-cli
deliver=$build/bench/deliver_icons
dll=${dll:-$build/bench/big.dll}
python=/usr/bin/python3
for tool in wrestool icotool "$python"; do
  if ! command -v "$tool" >/dev/null; then
    echo "compare.sh: $tool is missing (icoutils, python3-pefile, python3-pil)" >&2
    exit 1
  fi
done

if [ -z "$out_root" ]; then
  out_root=${TMPDIR:-/tmp}
  [ -d /dev/shm ] && [ -w /dev/shm ] && out_root=/dev/shm
fi
out=$(mktemp -d "$out_root/pictrove-compare.XXXXXX")
trap 'rm -rf "$out"' EXIT
mkdir -p "$out/b" "$out/c" "$out/ico" "$out/png" "$out/s/b" "$out/s/py" "$out/s/c" "$out/s/ico" "$out/s/png"

# Each case: a label, command A (ours), command B (the yardstick), the
# ratio A/B to stay under, and what to run untimed before each run. Commands
# are shell text, run by sh.
empty() { echo "find $* -mindepth 1 -delete"; }
script="exec $python $here/pefile_pillow_icons.py $dll"
icoutils="wrestool -x -t14 -o $out/ico $dll && icotool -x -o $out/png $out/ico/*.ico"
cases=(
  "(a) list|exec $cli list $dll|exec wrestool -l -t14 $dll|1.00"
  "(b) 32x32 icons, deliver_icons|exec $deliver $dll|$script|0.10"
  "(b) 32x32 icons, pictrove-cli extract|exec $cli extract $dll -o $out/b|$script|0.10|$(empty "$out/b")"
  "(c) all sizes as PNG|exec $cli extract --all-sizes $dll -o $out/c|$icoutils|0.25|$(empty "$out/c" "$out/ico" "$out/png")"
)
if [ -f "$shell32" ]; then
  s=$out/s
  cases+=(
    "(a) list, shell32.dll|exec $cli list $shell32|exec wrestool -l -t14 $shell32|0.25"
    "(b) 32x32 PNGs, shell32.dll|exec $cli extract $shell32 -o $s/b|exec $python $here/pefile_pillow_icons.py $shell32 -o $s/py|0.05|$(empty "$s/b" "$s/py")"
    "(c) all sizes as PNG, shell32.dll|exec $cli extract --all-sizes $shell32 -o $s/c|wrestool -x -t14 -o $s/ico $shell32 && icotool -x -o $s/png $s/ico/*.ico|0.09|$(empty "$s/c" "$s/ico" "$s/png")"
  )
fi
small_exe=/usr/share/nsis/Stubs/zlib-x86-unicode
if "$python" -c 'import icoextract.scripts.thumbnailer' 2>/dev/null; then
  thumbnailer="exec $python -c 'from icoextract.scripts.thumbnailer import main; main()' -s 256"
  cases+=("(d) thumbnail of the library|exec $cli thumbnail $dll $out/ours.png|$thumbnailer $dll $out/theirs.png|0.05")
  [ -f "$small_exe" ] && cases+=(
    "(d) thumbnail of a small .exe|exec $cli thumbnail $small_exe $out/ours.png|$thumbnailer $small_exe $out/theirs.png|0.05")
fi

echo "library: $dll ($(stat -c %s "$dll") bytes); $runs runs of each command; output under $out_root"
if [ -n "${PAIR_TIMER:-}" ]; then
  for entry in "${cases[@]}"; do
    IFS='|' read -r label a b _ <<<"$entry"
    echo "== $label"
    $PAIR_TIMER -n "$runs" --vs "sh -c '$b'" -- sh -c "$a"
  done
else
  "$python" "$here/time_pairs.py" "$runs" "${cases[@]}"
fi
