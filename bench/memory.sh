#!/usr/bin/env bash
# Peak memory of a movie run against the number of images: the same job on
# 30 and on 300 derived 2400x1800 JPEGs, made into 1080p H.264.
#   bench/memory.sh [WORK_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-/tmp/moirevance-bench}
bash "$root/bench/make-images.sh" "$work/300" 300
mkdir -p "$work/30"
for f in $(ls "$work/300" | head -30); do ln -sf "$work/300/$f" "$work/30/$f"; done
export XDG_DATA_HOME=$work/data
for n in 30 300; do
  rm -f "$work/out-$n.mov"
  /usr/bin/time -v "$root/build/moirevance" make --size 1080p --codec h264 --fps 30 \
      -o "$work/out-$n.mov" "$work/$n" 2> "$work/time-$n.txt" >/dev/null
  rss=$(awk -F: '/Maximum resident set size/ {gsub(/ /,"",$2); print $2}' "$work/time-$n.txt")
  wall=$(awk '/Elapsed \(wall clock\)/ {print $NF}' "$work/time-$n.txt")
  echo "$n images: peak RSS ${rss} kB, wall $wall"
  eval "rss$n=$rss"
done
awk -v a="$rss30" -v b="$rss300" 'BEGIN { printf "300 / 30 images peak RSS: %.3f\n", b / a }'
