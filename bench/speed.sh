#!/usr/bin/env bash
# Speed of a movie run against the ffmpeg command line on the same job:
# N derived 2400x1800 JPEGs made into a 1080p H.264 movie (Lanczos scale,
# middle cut, same x264 settings and quality), best of three runs each.
#   bench/speed.sh [COUNT] [WORK_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
count=${1:-150}
work=${2:-/tmp/moirevance-bench}
bash "$root/bench/make-images.sh" "$work/300" 300
mkdir -p "$work/speed"
rm -f "$work/speed"/*
for f in $(ls "$work/300" | head -"$count"); do ln -sf "$work/300/$f" "$work/speed/$f"; done
export XDG_DATA_HOME=$work/data

best() { # best wall time in seconds of a command run three times
  local b=
  for _ in 1 2 3; do
    rm -f "$work/speed-out.mov"
    local s=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    local t=$(echo "$(date +%s.%N) - $s" | bc)
    if [ -z "$b" ] || [ "$(echo "$t < $b" | bc)" = 1 ]; then b=$t; fi
  done
  echo "$b"
}

ours=$(best "$root/build/moirevance" make --size 1080p --codec h264 --quality normal --fps 30 \
         -o "$work/speed-out.mov" "$work/speed")
theirs=$(best ffmpeg -y -framerate 30 -pattern_type glob -i "$work/speed/*.jpg" \
         -vf "scale=1920:1440:flags=lanczos,crop=1920:1080:0:180" \
         -c:v libx264 -crf 23 -bf 0 -rc-lookahead 20 -pix_fmt yuv420p "$work/speed-out.mov")
echo "$count images, 2400x1800 JPEG -> 1080p H.264"
echo "moirevance: ${ours}s   ffmpeg: ${theirs}s"
echo "ratio (moirevance / ffmpeg): $(echo "scale=3; $ours / $theirs" | bc)"
