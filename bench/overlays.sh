#!/usr/bin/env bash
# Cost of what is drawn over the pictures: COUNT derived 2400x1800 JPEGs made
# into a 1080p H.264 movie plain, with the GPS and date stamp (36 pt) and a
# centred watermark (72 pt), with a layer image per frame (lighten), and with
# layers through one mask; the same images each time, with their capture
# dates and positions checked as the stamp needs, best of three, whole process.
#   bench/overlays.sh [COUNT] [WORK_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
count=${1:-100}
work=${2:-/tmp/moirevance-bench}
bin=$root/build/moirevance
bash "$root/bench/make-images.sh" "$work/300" 300
rm -rf "$work/ov" && mkdir -p "$work/ov/in" "$work/ov/layers"
for f in $(ls "$work/300" | head -"$count"); do cp "$work/300/$f" "$work/ov/in/$f"; done
exiftool -q -overwrite_original -DateTimeOriginal="2026:06:01 12:00:00" -GPSLatitude=44.5 -GPSLatitudeRef=N \
  -GPSLongitude=7.25 -GPSLongitudeRef=E "$work/ov/in"
# Layers: the same pictures again (the blend does the same work whatever they show).
for f in $(ls "$work/300" | head -"$count"); do ln -s "$work/300/$f" "$work/ov/layers/$f"; done
ffmpeg -hide_banner -loglevel error -y -f lavfi -i "gradients=s=2400x1800:seed=1" -frames:v 1 "$work/ov/mask.png"

export XDG_DATA_HOME=$work/ov/data XDG_CONFIG_HOME=$work/ov/config
source "$root/bench/best-of-three.sh"
echo "$count images 2400x1800 -> 1080p H.264 on $(nproc) cores"
best_of_three "$work/ov" plain
best_of_three "$work/ov" "stamp+watermark" --date-stamp --gps-stamp --text-font "DejaVu Sans,36" --watermark Moirevance \
  --watermark-pos 1,1 --watermark-font "DejaVu Sans,72"
best_of_three "$work/ov" "layer (lighten)" --layers "$work/ov/layers" --layer-mode lighten
best_of_three "$work/ov" "layer through mask" --layers "$work/ov/layers" --layer-mode mask --masks "$work/ov/mask.png"
