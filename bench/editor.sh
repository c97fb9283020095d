#!/usr/bin/env bash
# How quickly the animation editor's preview follows on 24-megapixel JPEGs:
# a new image from the frame slider, a change of an adjustment, and dragging
# the crop rectangle. Run from the source folder after a build:
#   bash bench/editor.sh [PHOTO]
set -euo pipefail
cd "$(dirname "$0")/.."
photo=${1:-../shared/bench/leaf.jpg}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
ffmpeg -hide_banner -loglevel error -y -loop 1 -i "$photo" \
  -vf "scale=6000:4000,noise=alls=6:allf=t" -frames:v 4 -q:v 3 "$out/shot-%02d.jpg"
MOIREVANCE_EDITOR_BENCH=$out QT_QPA_PLATFORM=offscreen build/mv_gui_tests editorSpeed 2>&1 |
  grep -E "shown after|redraws at|PASS|FAIL|SKIP"
