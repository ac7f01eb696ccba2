#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs them one after another,
# each for SECONDS, starting from the committed seeds and growing a working
# corpus in the build folder. Every input that crashed, hung or ate memory is
# copied into fuzz/crashers/<target>/, where the ordinary build's ctest
# replays it from then on: commit it together with the fix.
#
#   fuzz/run-fuzzers.sh [-t SECONDS] [-B BUILD_DIR] [TARGET...]
#
# Targets: pe ne ico ani elf icns msi appx appimage dib png icon_file profile
# profile_writer collection file_mask corpus_index (all when none is named).
# One fuzzer runs at a time, on one core.
set -euo pipefail

seconds=180
build=""
while getopts "t:B:h" opt; do
  case $opt in
    t) seconds=$OPTARG ;;
    B) build=$OPTARG ;;
    *) sed -n '2,12p' "$0"; exit 2 ;;
  esac
done
shift $((OPTIND - 1))

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
build=${build:-$source_dir/build/fuzz-run}
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(pe ne ico ani elf icns msi appx appimage dib png icon_file profile profile_writer collection file_mask
  corpus_index)

# Inputs longer than a format needs only slow the search down; executables
# need room for a section table and a resource tree, single images less.
max_len() {
  case $1 in
    pe | ne | icon_file) echo 32768 ;;
    # A compound file's sectors and an icon family's members are larger.
    msi | icns) echo 65536 ;;
    profile | profile_writer) echo 4096 ;;
    # An index holds two bucket tables of at least 2^16 entries.
    corpus_index) echo 1048576 ;;
    *) echo 16384 ;;
  esac
}

cmake -S "$source_dir" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DPICTROVE_FUZZ=ON -DPICTROVE_GUI=OFF -DPICTROVE_TESTS=OFF -DPICTROVE_BENCH=OFF >/dev/null
cmake --build "$build" --target "${targets[@]/#/fuzz_}"

status=0
for target in "${targets[@]}"; do
  corpus=$build/corpus/$target
  artifacts=$build/artifacts/$target
  mkdir -p "$corpus" "$artifacts"
  echo "== $target: ${seconds}s"
  # -rss_limit_mb and -timeout turn runaway allocations and hangs into findings.
  "$build/fuzz/fuzz_$target" "$corpus" "$here/corpus/$target" \
    -dict="$here/icons.dict" -max_len="$(max_len "$target")" -max_total_time="$seconds" \
    -rss_limit_mb=2048 -timeout=10 -report_slow_units=10 -print_final_stats=1 \
    -artifact_prefix="$artifacts/" 2>"$build/$target.log" || true
  grep -E "^(stat::|#[0-9]+ +DONE)" "$build/$target.log" || tail -5 "$build/$target.log"
  for finding in "$artifacts"/crash-* "$artifacts"/oom-* "$artifacts"/timeout-*; do
    [ -e "$finding" ] || continue
    mkdir -p "$here/crashers/$target"
    mv "$finding" "$here/crashers/$target/"
    echo "FINDING: $target: $(basename "$finding") (log: $build/$target.log)"
    status=1
  done
done
exit $status
