#!/usr/bin/env bash
# Peak memory of a movie run against the number of images: the same job on
# 60 and on 300 24-megapixel JPEGs (bench/make-24mp.sh), made into 1080p and
# 3840x2160 H.264. The 60 are the first of the 300.
#   bench/memory.sh [WORK_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-/tmp/moirevance-bench}
bash "$root/bench/make-24mp.sh" "$work/24mp-300" 300
mkdir -p "$work/24mp-300-first60"
for f in $(ls "$work/24mp-300" | head -60); do ln -sf "$work/24mp-300/$f" "$work/24mp-300-first60/$f"; done
export XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config
for size in 1080p F3840X2160; do
  for n in 60 300; do
    dir=$work/24mp-300; [ $n = 60 ] && dir=$work/24mp-300-first60
    rm -f "$work/memory.mov"
    /usr/bin/time -o "$work/time.txt" -f "%e %M" "$root/build/moirevance" make --size "$size" --codec h264 \
        --fps 30 --skip-verify -o "$work/memory.mov" "$dir" >/dev/null 2>&1
    read -r wall rss < "$work/time.txt"
    echo "$size, $n images: peak RSS $((rss / 1024)) MB, wall $wall s"
    eval "rss$n=$rss"
  done
  awk -v a="$rss60" -v b="$rss300" -v s="$size" 'BEGIN { printf "%s: 300 / 60 images peak RSS: %.3f\n", s, b / a }'
done
rm -f "$work/memory.mov"
