#!/usr/bin/env bash
# Builds a folder tree shaped like a Windows system folder from the test
# fixtures: FILES executables and libraries (600 by default) spread over
# nested folders, two in three with icon groups (PE32, PE32+, NE, with PNG
# images and cursors among them) and one in three without any, a text file
# beside every fourth, and, when BIG.dll is given, four copies of it standing
# for the few libraries that hold hundreds of icons (shell32, imageres).
# Names are unique across the tree, so tools that flatten it do not collide.
#
#   bench/make_system_tree.sh OUT [BIG.dll] [FILES]
set -euo pipefail
[ $# -ge 1 ] || { sed -n '2,10p' "$0"; exit 2; }
out=$1
big=${2:-}
files=${3:-600}
data=$(cd "$(dirname "$0")/../tests/data" && pwd)
with=(pe/three32.dll pe/three64.dll pe/langs64.dll pe/cursors32.dll sample.dll ne/icons.icl ne/shift9.exe)
without=windows/System32/IMAGERES.DLL

rm -rf "$out"
for ((i = 0; i < files; ++i)); do
  folder=$out/sub$((i % 12))/part$((i % 5))
  [ $((i % 50)) -eq 0 ] && folder=$out
  mkdir -p "$folder"
  if [ $((i % 3)) -eq 2 ]; then source=$without; else source=${with[$((i % ${#with[@]}))]}; fi
  extension=${source##*.}
  cp "$data/$source" "$folder/file$i.${extension,,}"
  [ $((i % 4)) -eq 0 ] && echo "notes for file $i" >"$folder/readme$i.txt"
done
if [ -n "$big" ]; then
  for k in 1 2 3 4; do cp "$big" "$out/sub$k/big$k.dll"; done
fi
echo "$out: $(find "$out" -type f | wc -l) files, $(du -sh "$out" | cut -f1)"
