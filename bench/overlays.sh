#!/usr/bin/env bash
# Cost of what is drawn over the pictures: COUNT derived 2400x1800 JPEGs made
# into a 1080p H.264 movie plain, with the date stamp (36 pt) and a centred
# watermark (72 pt), with a layer image per frame (lighten), and with layers
# through one mask; the same images each time, best of three, whole process.
#   bench/overlays.sh [COUNT] [WORK_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
count=${1:-100}
work=${2:-/tmp/moirevance-bench}
bin=$root/build/moirevance
bash "$root/bench/make-images.sh" "$work/300" 300
rm -rf "$work/ov" && mkdir -p "$work/ov/in" "$work/ov/layers"
for f in $(ls "$work/300" | head -"$count"); do ln -s "$work/300/$f" "$work/ov/in/$f"; done
# Layers: the same pictures again (the blend does the same work whatever they show).
for f in $(ls "$work/300" | head -"$count"); do ln -s "$work/300/$f" "$work/ov/layers/$f"; done
ffmpeg -hide_banner -loglevel error -y -f lavfi -i "gradients=s=2400x1800:seed=1" -frames:v 1 "$work/ov/mask.png"

export XDG_DATA_HOME=$work/ov/data XDG_CONFIG_HOME=$work/ov/config
best() { # best of three: wall seconds and processor seconds
  local name=$1; shift
  local b=
  for _ in 1 2 3; do
    rm -f "$work/ov/out"*.mov
    local t
    t=$( { /usr/bin/time -f "%e %U %S" "$bin" make -o "$work/ov/out.mov" --size 1080p --codec h264 --skip-verify \
           "$@" "$work/ov/in" >/dev/null 2>/dev/null; } 2>&1 | tail -1)
    if [ -z "$b" ] || awk -v a="${t%% *}" -v c="${b%% *}" 'BEGIN{exit !(a<c)}'; then b=$t; fi
  done
  read -r wall user sys <<<"$b"
  printf "%-22s %6.2f s wall  %6.2f s CPU\n" "$name" "$wall" "$(echo "$user + $sys" | bc)"
}
echo "$count images 2400x1800 -> 1080p H.264 on $(nproc) cores"
best plain
best "date stamp+watermark" --date-stamp --text-font "DejaVu Sans,36" --watermark Moirevance \
  --watermark-pos 1,1 --watermark-font "DejaVu Sans,72"
best "layer (lighten)" --layers "$work/ov/layers" --layer-mode lighten
best "layer through mask" --layers "$work/ov/layers" --layer-mode mask --masks "$work/ov/mask.png"
