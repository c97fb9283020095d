#!/usr/bin/env bash
# COUNT 24-megapixel JPEGs (6000x4000, quality 92, as a camera writes them)
# made from the benchmark photograph: enlarged, a drifting crop and
# sensor-like noise, so that decoding costs what a camera file costs (about
# 6.5 MB each). Needs cjpeg (Debian: libjpeg-turbo-progs).
#   bench/make-24mp.sh OUT_DIR COUNT
set -euo pipefail
out=$1 count=$2
photo=$(dirname "$0")/../../shared/bench/leaf.jpg
command -v cjpeg >/dev/null || { echo "make-24mp.sh: needs cjpeg (apt-get install libjpeg-turbo-progs)" >&2; exit 1; }
mkdir -p "$out"
if [ -f "$out/.q92" ] && [ "$(ls "$out" | wc -l)" -ge "$count" ]; then exit 0; fi
rm -f "$out"/shot-*.jpg "$out/.q92"
ppm=$(mktemp -d)
trap 'rm -rf "$ppm"' EXIT
# In chunks of ten frames: a 24-megapixel PPM is 72 MB.
for ((first = 0; first < count; first += 10)); do
  n=$((count - first < 10 ? count - first : 10))
  ffmpeg -hide_banner -loglevel error -y -loop 1 -i "$photo" \
    -vf "scale=6400:4800,crop=6000:4000:x='mod((n+$first)*2,400)':y='mod(n+$first,800)',noise=alls=12:allf=t+u" \
    -frames:v "$n" -start_number $((first + 1)) "$ppm/shot-%04d.ppm"
  for f in "$ppm"/*.ppm; do
    cjpeg -quality 92 "$f" >"$out/$(basename "$f" .ppm).jpg"
    rm "$f"
  done
done
touch "$out/.q92"
