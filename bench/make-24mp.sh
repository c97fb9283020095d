#!/usr/bin/env bash
# COUNT 24-megapixel JPEGs (6000x4000, quality as a camera writes them) made
# from the benchmark photograph: enlarged, a drifting crop and sensor-like
# noise, so that decoding costs what a camera file costs.
#   bench/make-24mp.sh OUT_DIR COUNT
set -euo pipefail
out=$1 count=$2
photo=$(dirname "$0")/../../shared/bench/leaf.jpg
mkdir -p "$out"
if [ "$(ls "$out" | wc -l)" -ge "$count" ]; then exit 0; fi
ffmpeg -hide_banner -loglevel error -y -loop 1 -i "$photo" \
  -vf "scale=6400:4800,crop=6000:4000:x='mod(n*2,400)':y='mod(n,800)',noise=alls=6:allf=t" \
  -frames:v "$count" -q:v 3 "$out/shot-%04d.jpg"
