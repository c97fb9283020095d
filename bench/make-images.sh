#!/usr/bin/env bash
# Derives an interval-shot image sequence from the benchmark photograph:
# a slow drift of the crop window plus sensor-like noise, as JPEG files.
#   bench/make-images.sh OUT_DIR COUNT [PHOTO] [WIDTHxHEIGHT]
set -euo pipefail
out=$1 count=$2
photo=${3:-$(dirname "$0")/../../shared/bench/leaf.jpg}
size=${4:-2400x1800}
w=${size%x*} h=${size#*x}
mkdir -p "$out"
if [ "$(ls "$out" | wc -l)" -ge "$count" ]; then exit 0; fi
ffmpeg -hide_banner -loglevel error -y -loop 1 -i "$photo" \
  -vf "crop=$w:$h:x='mod(n*2,iw-$w)':y='mod(n,ih-$h)',noise=alls=6:allf=t" \
  -frames:v "$count" -q:v 3 "$out/shot-%04d.jpg"
