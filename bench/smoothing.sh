#!/usr/bin/env bash
# Cost of smoothing: COUNT derived 2400x1800 JPEGs made into a 1080p H.264
# movie plain, with one in-between frame per pair (tweening 1, so nearly
# twice the frames) and with motion blur over 3 pictures; the same images
# each time, best of three, whole process.
#   bench/smoothing.sh [COUNT] [WORK_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
count=${1:-100}
work=${2:-/tmp/moirevance-bench}
bin=$root/build/moirevance
bash "$root/bench/make-images.sh" "$work/300" 300
rm -rf "$work/sm" && mkdir -p "$work/sm/in"
for f in $(ls "$work/300" | head -"$count"); do ln -s "$work/300/$f" "$work/sm/in/$f"; done

export XDG_DATA_HOME=$work/sm/data XDG_CONFIG_HOME=$work/sm/config
source "$root/bench/best-of-three.sh"
echo "$count images 2400x1800 -> 1080p H.264 on $(nproc) cores"
best_of_three "$work/sm" plain --skip-verify --no-smoothing
best_of_three "$work/sm" "tween 1" --skip-verify --tween 1
best_of_three "$work/sm" "motion blur 3" --skip-verify --motion-blur 2 --motion-frames 3
