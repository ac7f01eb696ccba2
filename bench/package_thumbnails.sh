#!/usr/bin/env bash
# Times `pictrove-cli thumbnail` on each kind of application package and on
# macOS icon files against the Debian tool chain that takes the same picture
# out of the same file, side by side (bench/time_pairs.py), on the fixtures
# the package oracle test makes with Debian's own makers.
#
#   bench/package_thumbnails.sh [CLI] [RUNS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cli=$(realpath "${1:-$here/../build/release/src/cli/pictrove-cli}")
runs=${2:-20}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

/usr/bin/python3 - "$here/../tests/core" "$work" <<'PY'
import os, sys
sys.path.insert(0, sys.argv[1])
import package_oracle_test as oracle
for kind in ("icns", "msi", "msix", "msixbundle", "appimage"):
    folder = os.path.join(sys.argv[2], kind)
    os.makedirs(folder)
    os.rename(oracle.KINDS[kind][1](folder), os.path.join(sys.argv[2], kind + ".file"))
PY
offset=$(stat -c %s /bin/true)
out=$work/out
mkdir -p "$out"
"$here/time_pairs.py" "$runs" \
  "icns|$cli thumbnail -s 256 $work/icns.file $out/a.png|icns2png -x -s 256 -o $out $work/icns.file|0.05" \
  "msi|$cli thumbnail -s 256 $work/msi.file $out/b.png|msiinfo extract $work/msi.file Icon.product.ico > $out/p.ico && icotool -x -w 256 -o $out/b2.png $out/p.ico|0.05" \
  "msix|$cli thumbnail -s 100 $work/msix.file $out/c.png|unzip -p $work/msix.file Assets/StoreLogo.scale-200.png > $out/c2.png|0.05" \
  "msixbundle|$cli thumbnail -s 100 $work/msixbundle.file $out/d.png|unzip -p $work/msixbundle.file App_x64.msix > $out/d.msix && unzip -p $out/d.msix Assets/StoreLogo.scale-200.png > $out/d2.png|0.05" \
  "appimage|$cli thumbnail -s 96 $work/appimage.file $out/e.png|rm -rf $out/sq && unsquashfs -q -n -o $offset -d $out/sq $work/appimage.file .DirIcon tool.png && cp $out/sq/.DirIcon $out/e2.png|0.05"
