#!/usr/bin/env bash
# Banding of a dusk sky made from 16-bit TIFFs (bench/banding.py): 60 frames
# of 1920x1080 from 2 % to 6 % of full scale, into each codec's movie. The
# figure is the RMS, in 10-bit code values, of the luma's row means against
# a smooth curve (an 8-bit staircase gives about 1.2, true 10-bit about
# 0.3), then the longest run of rows on one 10-bit value.
#   bench/deep-colour.sh [WORK_DIR] [PHOTO]
# Needs python3-numpy.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-/tmp/moirevance-bench}/deep-colour
photo=${2:-$root/../shared/bench/leaf.jpg}
py="/usr/bin/python3 $root/bench/banding.py"
mkdir -p "$work"
export XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config
[ -f "$work/sky/sky_060.tif" ] || $py make "$work/sky" 60 "$photo"
echo "| movie | banding (10-bit RMS) | longest flat run (rows) | time |"
echo "|---|---|---|---|"
for codec in h264 hevc prores; do
  rm -f "$work/$codec.mov"
  start=$(date +%s.%N)
  "$root/build/moirevance" make --codec "$codec" --size 100% --fps 30 --quality high --skip-verify \
    -o "$work/$codec.mov" "$work/sky" >/dev/null 2>&1
  seconds=$(echo "$(date +%s.%N) - $start" | bc)
  read -r rms run < <($py measure "$work/$codec.mov")
  printf "| %s (%s) | %s | %s | %.1f s |\n" "$codec" \
    "$(ffprobe -v error -select_streams v:0 -show_entries stream=pix_fmt -of csv=p=0 "$work/$codec.mov")" \
    "$rms" "$run" "$seconds"
done
