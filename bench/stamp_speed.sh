#!/usr/bin/env bash
# Cost of the text overlays: N derived 2400x1800 JPEGs made into a 1080p H.264
# movie plain, then with the date stamp (36 pt) and a centred watermark
# (72 pt), best of three runs each, on the same images.
#   bench/stamp_speed.sh [COUNT] [WORK_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
count=${1:-150}
work=${2:-/tmp/moirevance-bench}
bash "$root/bench/make-images.sh" "$work/300" 300
mkdir -p "$work/stamp"
rm -f "$work/stamp"/*
for f in $(ls "$work/300" | head -"$count"); do ln -sf "$work/300/$f" "$work/stamp/$f"; done
cmake --build "$root/build" --target stamp_speed_driver -j2 >/dev/null
XDG_DATA_HOME=$work/data "$root/build/stamp_speed_driver" "$work/stamp" "$work"
