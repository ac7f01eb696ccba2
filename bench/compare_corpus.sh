#!/usr/bin/env bash
# Scanning a corpus, side by side in one run, medians and pairwise ratios by
# time_pairs.py, and the scan's peak memory on one and on ten copies of the
# file list:
#
#   (g) fingerprints of every file   pictrove-cli scan -r CORPUS
#       yardstick: pefile_pillow_scan.py CORPUS (hashlib's SHA-256 of every
#       file; pefile, opening each file as scripts usually do, and Pillow for
#       the main icon's difference hash); at most 3 runs, it takes a minute
#   (g') the same                    against the script parsing only the
#                                    resources (--fast-load)
#   (h) the icon part alone          pictrove-cli list -r CORPUS, against the
#                                    --fast-load script
#   (i) searching 1,000,000 records  pictrove-cli similar --scan-file
#       yardstick: json_similar.py, a loop parsing every record
#
#   bench/compare_corpus.sh [-B BUILD_DIR] [-n RUNS] [-c CORPUS]
#
# CORPUS defaults to Wine's 64-bit Windows libraries and programs (package
# wine64: about 700 files and 640 MB, most without icons). BUILD_DIR defaults
# to the release preset's folder.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
build=$source_dir/build/release
runs=10
corpus=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
while getopts "B:n:c:h" opt; do
  case $opt in
    B) build=$OPTARG ;;
    n) runs=$OPTARG ;;
    c) corpus=$OPTARG ;;
    *) sed -n '2,20p' "$0"; exit 2 ;;
  esac
done

[ "$build" = "$source_dir/build/release" ] && (cd "$source_dir" && cmake --preset release >/dev/null)
cmake --build "$build" --target pictrove-cli >/dev/null
build=$(cd "$build" && pwd)
cli=$build/src/cli/pictrove-cli
python=/usr/bin/python3
out_root=${TMPDIR:-/tmp}
[ -d /dev/shm ] && [ -w /dev/shm ] && out_root=/dev/shm
out=$(mktemp -d "$out_root/pictrove-corpus.XXXXXX")
trap 'rm -rf "$out"' EXIT

records=$out/records.jsonl
"$python" "$here/make_scan_records.py" 1000000 > "$records"
reference=$(sed -n '500000s/.*"dhash":"\([0-9a-f]*\)".*/\1/p' "$records")

# Memory: the same files once and ten times over, through one file list.
find "$corpus" -type f | sort > "$out/list1"
for _ in 1 2 3 4 5 6 7 8 9 10; do cat "$out/list1"; done > "$out/list10"
for n in 1 10; do
  /usr/bin/time -f "%M" -o "$out/rss$n" "$cli" scan --files-from "$out/list$n" > /dev/null || true
done
echo "peak RSS of scan: $(cat "$out/rss1") KiB for $(wc -l < "$out/list1") files," \
     "$(cat "$out/rss10") KiB for $(wc -l < "$out/list10")"

echo "corpus: $corpus ($(wc -l < "$out/list1") files, $(du -sh "$corpus" | cut -f1)); $runs runs of each command"
"$python" "$here/time_pairs.py" "$((runs < 3 ? runs : 3))" \
  "(g) scan -r|$cli scan -r $corpus; true|$python $here/pefile_pillow_scan.py $corpus|0.08"
"$python" "$here/time_pairs.py" "$runs" \
  "(g') scan -r, resources only|$cli scan -r $corpus; true|$python $here/pefile_pillow_scan.py --fast-load $corpus|0.35" \
  "(h) list -r|$cli list -r $corpus; true|$python $here/pefile_pillow_scan.py --fast-load $corpus|0.03" \
  "(i) similar, 1M records|$cli similar --scan-file $records $reference|$python $here/json_similar.py $records $reference 10|0.10"
