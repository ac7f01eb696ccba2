#!/usr/bin/env bash
# Installs what is missing, builds Pictrove and starts it on FILE (a sample
# library with a dozen icons when none is given). Without a display it says
# so and lists the file's icons on the terminal instead.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release
file="${1:-tests/data/sample.dll}"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run.sh: no display to open the window on; listing the icons of $file instead." >&2
  exec build/release/src/cli/pictrove-cli list "$file"
fi
exec build/release/src/app/pictrove "$file"
