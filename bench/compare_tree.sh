#!/usr/bin/env bash
# Every icon of a tree shaped like a Windows system folder
# (make_system_tree.sh, with the benchmark library as its big libraries):
# pictrove-cli extract -r against a find ... -exec wrestool loop and icotool,
# side by side in one run, medians and pairwise ratios by time_pairs.py.
#
#   (d) every icon, 32 x 32 PNG     pictrove-cli extract -r TREE
#   (e) every image as PNG          pictrove-cli extract -r --all-sizes TREE
#   (f) every group as .ico         pictrove-cli extract -r --group-ico TREE
#   yardstick for all three: wrestool -x -t14 on each file that find lists,
#   then icotool -x on each .ico it wrote
#
#   bench/compare_tree.sh [-B BUILD_DIR] [-n RUNS] [-t TREE] [-o OUT_ROOT]
#
# BUILD_DIR defaults to the release preset's folder. TREE defaults to one
# built into BUILD_DIR/bench/system-tree. Output goes to a fresh folder under
# OUT_ROOT (/dev/shm when there is one), for the reason compare.sh gives.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
build=$source_dir/build/release
runs=5
tree=""
out_root=""
while getopts "B:n:t:o:h" opt; do
  case $opt in
    B) build=$OPTARG ;;
    n) runs=$OPTARG ;;
    t) tree=$OPTARG ;;
    o) out_root=$OPTARG ;;
    *) sed -n '2,18p' "$0"; exit 2 ;;
  esac
done

[ "$build" = "$source_dir/build/release" ] && (cd "$source_dir" && cmake --preset release >/dev/null)
cmake --build "$build" --target pictrove-cli big_dll >/dev/null
build=$(cd "$build" && pwd)
cli=$build/src/cli/pictrove-cli
if [ -z "$tree" ]; then
  tree=$build/bench/system-tree
  [ -d "$tree" ] || "$here/make_system_tree.sh" "$tree" "$build/bench/big.dll"
fi
if [ -z "$out_root" ]; then
  out_root=${TMPDIR:-/tmp}
  [ -d /dev/shm ] && [ -w /dev/shm ] && out_root=/dev/shm
fi
out=$(mktemp -d "$out_root/pictrove-tree.XXXXXX")
trap 'rm -rf "$out"' EXIT
mkdir -p "$out/d" "$out/e" "$out/f" "$out/ico" "$out/png"

loop="find $tree -type f -exec sh -c 'for f; do wrestool -x -t14 -o $out/ico \"\$f\" 2>/dev/null; done' sh {} +"
# One icotool per file: given many, it stops at the first it cannot read
# (PNG images, in the icoutils of Debian 12).
loop="$loop; find $out/ico -name '*.ico' -exec sh -c 'for f; do icotool -x -o $out/png \"\$f\" 2>/dev/null; done' sh {} +; true"
echo "tree: $tree ($(find "$tree" -type f | wc -l) files); $runs runs of each command; output under $out_root"
/usr/bin/python3 "$here/time_pairs.py" "$runs" \
  "(d) every icon, 32x32 PNG|exec $cli extract -r $tree -o $out/d|$loop|0.10" \
  "(e) every image as PNG|exec $cli extract -r --all-sizes $tree -o $out/e|$loop|0.10" \
  "(f) every group as .ico|exec $cli extract -r --group-ico $tree -o $out/f|$loop|0.10"
