#!/usr/bin/env bash
# Speed of 1080p H.264 runs with a layer image per frame (lighten) and with
# one mask, against a plain run of the same derived 2400x1800 JPEGs.
#   bench/overlay_speed.sh [COUNT] [WORK_DIR]   (after building build/)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
count=${1:-60}
work=${2:-/tmp/moirevance-bench}
bash "$root/bench/make-images.sh" "$work/300" 300
rm -rf "$work/ov" && mkdir -p "$work/ov/img" "$work/ov/layer"
files=($(ls "$work/300"))
for ((i = 0; i < count; i++)); do
  ln -sf "$work/300/${files[$i]}" "$work/ov/img/${files[$i]}"
  # Layers: other images of the same sequence, paired in order.
  ln -sf "$work/300/${files[$((i + 150))]}" "$work/ov/layer/l-${files[$i]}"
done
ffmpeg -hide_banner -loglevel error -y -f lavfi -i "gradients=s=2400x1800:c0=white:c1=black:n=2" \
  -frames:v 1 "$work/ov/mask.png"
libs=$(pkg-config --libs vips-cpp libavformat libavcodec libswscale libavutil exiv2 libraw libcanberra Qt6Core Qt6Gui)
g++ -std=c++20 -O2 -I"$root/src" $(pkg-config --cflags vips-cpp Qt6Core) "$root/bench/overlay_speed.cpp" \
  -o "$work/ov/overlay_speed" "$root/build/src/libmv_core.a" "$root/build/src/libmv_platform.a" $libs -lpthread
"$work/ov/overlay_speed" "$work/ov/img" "$work/ov/layer" "$work/ov/mask.png" "$work/ov" "${RUNS:-3}"
