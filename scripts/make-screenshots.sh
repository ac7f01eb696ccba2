#!/usr/bin/env bash
# Makes the manual's pictures from a build: the real program on a virtual
# display, driven with xdotool as a user would drive it, grabbed with xwd.
# Run again whenever the window changes, so the pictures stay true.
#   [LIBRARY=FILE] scripts/make-screenshots.sh [BUILD_DIR] [OUTPUT_DIR]
# Needs xvfb, xdotool and x11-apps (scripts/install-deps.sh) and python3-pil (Debian's /usr/bin/python3).
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build/debug}")
out=$(realpath -m "${2:-desktop/screenshots}")
# A real library when one is at hand (Wine's shell32.dll, from wine64), else
# the test library; LIBRARY chooses another.
library=${LIBRARY:-/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/shell32.dll}
[ -f "$library" ] || library=tests/data/sample.dll
library=$(realpath "$library")

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

# Grabs the screen as a PNG, cut to the rectangle X Y W H. A popup menu's
# window reads black from the screen on Xvfb but right from itself, so an
# optional window is grabbed apart and laid over the screen where it stands,
# and the picture widened to take it in.
grab() {  # NAME X Y W H [WINDOW]
  xwd -root -silent >"$work/screen.xwd"
  local over=()
  if [ -n "${6:-}" ]; then
    xwd -id "$6" -silent >"$work/over.xwd"
    eval "$(xdotool getwindowgeometry --shell "$6" | sed 's/^/OVER_/')"
    over=("$work/over.xwd" "$OVER_X" "$OVER_Y")
  fi
  /usr/bin/python3 - "$out/$1.png" "$2" "$3" "$4" "$5" "$work/screen.xwd" "${over[@]}" <<'PY'
import struct, sys
from PIL import Image

def read_xwd(path):
    data = open(path, "rb").read()
    header = struct.unpack(">25I", data[:100])
    size, width, height, bpp, bpl, ncolors = (header[0], header[4], header[5], header[11], header[12],
                                              header[19])
    start = size + ncolors * 12
    mode = "BGRX" if bpp == 32 else "BGR"
    return Image.frombuffer("RGB", (width, height), data[start:start + bpl * height], "raw", mode, bpl, 1)

out, x, y, w, h = sys.argv[1], *map(int, sys.argv[2:6])
screen = read_xwd(sys.argv[6])
box = [x, y, x + w, y + h]
if len(sys.argv) > 7:
    window = read_xwd(sys.argv[7])
    wx, wy = int(sys.argv[8]), int(sys.argv[9])
    screen.paste(window, (wx, wy))
    box = [min(box[0], wx), min(box[1], wy), max(box[2], wx + window.width), max(box[3], wy + window.height)]
screen.crop(tuple(box)).save(out, optimize=True)
PY
}

# Without a window manager the window stays where it is put.
xdotool windowmove --sync "$main" 0 0
sleep 0.5
eval "$(xdotool getwindowgeometry --shell "$main")"
grab main-window "$X" "$Y" "$WIDTH" "$HEIGHT"

# The first icon of the grid (the display area starts at 156, 6, the icon
# 8 pixels inside it), then its menu: the shown window named as the program
# is, the main window's caption naming the file too.
xdotool mousemove $((X + 156 + 2 + 8 + 16)) $((Y + 6 + 2 + 8 + 16))
sleep 0.3
xdotool click 3
sleep 1
menu=""
for window in $(xdotool search --onlyvisible --name '.*'); do
  [ "$(xdotool getwindowname "$window")" = Pictrove ] && menu=$window
done
grab icon-menu "$X" "$Y" "$WIDTH" "$HEIGHT" "$menu"

xdotool key d
details=$(xdotool search --sync --onlyvisible --name ' : Icon ')
sleep 1
xdotool windowmove "$details" 0 0
sleep 0.5
eval "$(xdotool getwindowgeometry --shell "$details")"
grab details-window "$X" "$Y" "$WIDTH" "$HEIGHT"
echo "pictures in $out"
