#!/usr/bin/env bash
# Makes the manual's pictures from a build: the real program on a virtual
# display, driven with xdotool as a user would drive it, grabbed with xwd.
# Run again whenever the window changes, so the pictures stay true.
#   scripts/make-screenshots.sh [BUILD_DIR] [OUTPUT_DIR]
# Needs xvfb, xdotool and x11-apps (scripts/install-deps.sh) and python3-pil (Debian's /usr/bin/python3).
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build/debug}")
out=$(realpath -m "${2:-desktop/screenshots}")
library=$(realpath tests/data/sample.dll)

if [ -z "${PICTROVE_ON_XVFB:-}" ]; then
  export PICTROVE_ON_XVFB=1
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$build" "$out"
fi

mkdir -p "$out"
work=$(mktemp -d)
trap 'kill "$program" 2>/dev/null || true; rm -rf "$work"' EXIT

# A program folder of its own, so no settings file of the build changes
# what the pictures show.
cp "$build/src/app/pictrove" "$work/pictrove"
QT_QPA_PLATFORM=xcb "$work/pictrove" "$library" &
program=$!
main=$(xdotool search --sync --onlyvisible --name '^Pictrove : ')
sleep 1

# Grabs the screen and keeps the part with something on it, or the given
# rectangle, as a PNG.
grab() {  # NAME [X Y W H]
  xwd -root -silent >"$work/screen.xwd"
  /usr/bin/python3 - "$work/screen.xwd" "$out/$1.png" "${@:2}" <<'PY'
import struct, sys
from PIL import Image
data = open(sys.argv[1], "rb").read()
header = struct.unpack(">25I", data[:100])
size, width, height, bpp, bpl, ncolors = header[0], header[4], header[5], header[11], header[12], header[19]
start = size + ncolors * 12
mode = "BGRX" if bpp == 32 else "BGR"
picture = Image.frombuffer("RGB", (width, height), data[start:start + bpl * height], "raw", mode, bpl, 1)
box = tuple(map(int, sys.argv[3:7])) if len(sys.argv) > 3 else None
if box:
    box = (box[0], box[1], box[0] + box[2], box[1] + box[3])
else:
    box = picture.getbbox()
picture.crop(box).save(sys.argv[2], optimize=True)
PY
}

# Without a window manager the window stays where it is put.
xdotool windowmove --sync "$main" 0 0
sleep 0.5
eval "$(xdotool getwindowgeometry --shell "$main")"
grab main-window "$X" "$Y" "$WIDTH" "$HEIGHT"

# The first icon of the grid (the display area starts at 156, 6, the icon
# 8 pixels inside it), then its menu. Xvfb shows the menu's own window
# black to xwd, so the menu is opened to reach the details, not pictured.
xdotool mousemove $((X + 156 + 2 + 8 + 16)) $((Y + 6 + 2 + 8 + 16))
sleep 0.3
xdotool click 3
sleep 1

xdotool key d
details=$(xdotool search --sync --onlyvisible --name ' : Icon ')
sleep 1
xdotool windowmove "$details" 0 0
sleep 0.5
eval "$(xdotool getwindowgeometry --shell "$details")"
grab details-window "$X" "$Y" "$WIDTH" "$HEIGHT"
echo "pictures in $out"
