#!/usr/bin/env bash
# The manual's picture of `pictrove-cli report`: the test data scanned with
# thumbnails, its report shown by headless Chromium.
#   scripts/make-report-screenshot.sh [BUILD_DIR]   (default build/debug)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cli=$(cd "${1:-$root/build/debug}" && pwd)/src/cli/pictrove-cli
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$root/tests/data"
"$cli" scan -r --all-icons --thumbnail 64 ico ne pe sample.dll > "$work/records.jsonl" || true
"$cli" report --all-icons "$work/records.jsonl" -o "$work/report.html"
chromium --headless=new --no-sandbox --disable-gpu --hide-scrollbars --user-data-dir="$work/profile" \
  --window-size=1200,900 --screenshot="$root/desktop/screenshots/report.png" "file://$work/report.html" \
  2>/dev/null
echo "picture in $root/desktop/screenshots/report.png"
