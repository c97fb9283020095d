#!/usr/bin/env bash
# How quickly the animation editor's preview and the main window's preview
# follow on 24-megapixel JPEGs (and the editor's on camera raw files):
# a new image from the frame slider, a change of an adjustment, and dragging
# the crop rectangle. Run from the source folder after a build:
#   bash bench/editor.sh [PHOTO]
set -euo pipefail
cd "$(dirname "$0")/.."
photo=${1:-../shared/bench/leaf.jpg}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
ffmpeg -hide_banner -loglevel error -y -loop 1 -i "$photo" \
  -vf "scale=6000:4000,noise=alls=6:allf=t" -frames:v 12 -q:v 3 "$out/shot-%02d.jpg"
MOIREVANCE_EDITOR_BENCH=$out QT_QPA_PLATFORM=offscreen build/mv_gui_bench editorSpeed mainPreviewSpeed 2>&1 |
  grep -E "shown after|redraws at|plays|PASS|FAIL|SKIP"
# The same on copies of the real CR2 (rawtran-doc): the camera's preview
# first, then the developed picture.
cr2=/usr/share/doc/rawtran/IMG_5952.CR2
[ -f "$cr2" ] || cr2=${XDG_CACHE_HOME:-$HOME/.cache}/moirevance/rawtran/usr/share/doc/rawtran/IMG_5952.CR2
if [ -f "$cr2" ]; then
  mkdir -p "$out/raw"
  for i in 1 2 3 4; do cp "$cr2" "$out/raw/IMG_595$i.CR2"; done
  echo "4 copies of a Canon EOS 30D CR2:"
  MOIREVANCE_EDITOR_BENCH=$out/raw QT_QPA_PLATFORM=offscreen build/mv_gui_bench editorSpeed 2>&1 |
    grep -E "preview shown|shown after [0-9]+ ms \(decode"
fi
