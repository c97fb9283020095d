#!/usr/bin/env bash
# Banding of a dusk sky made from 16-bit TIFFs (bench/banding.py): 60 frames
# of 1920x1080 from 2 % to 6 % of full scale, into each codec's movie. The
# figure is the RMS, in 10-bit code values, of the luma's row means against
# a smooth curve (an 8-bit staircase gives about 1.2, true 10-bit about
# 0.3), then the longest run of rows on one 10-bit value, for 16-bit
# sources into each codec and for their 8-bit copies into H.264.
# Crops of each movie's first frame, contrast stretched, are left in the
# work folder as crop-*.png.
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
# The same sky rounded to 8 bits, as every picture was before deep colour:
# the undithered reference.
if [ ! -f "$work/sky8/sky_060.png" ]; then
  mkdir -p "$work/sky8"
  for f in "$work"/sky/*.tif; do
    ffmpeg -v error -y -i "$f" -pix_fmt rgb24 "$work/sky8/$(basename "${f%.tif}").png"
  done
fi
echo "| movie | pixel format | banding (10-bit RMS) | longest flat run (rows) | time |"
echo "|---|---|---|---|---|"
for job in h264:8:sky8 h264:8:sky hevc:8:sky hevc:10:sky prores:10:sky av1:10:sky; do
  IFS=: read -r codec depth from <<<"$job"
  ext=mov; [ "$codec" = av1 ] && ext=mp4
  out="$work/$codec-$depth-$from.$ext"
  rm -f "$out"
  start=$(date +%s.%N)
  "$root/build/moirevance" make --codec "$codec" $( [ "$codec" != prores ] && echo --depth "$depth" ) --size 100% \
    --fps 30 --quality high --skip-verify -o "$out" "$work/$from" >/dev/null 2>&1
  seconds=$(echo "$(date +%s.%N) - $start" | bc)
  read -r rms run < <($py measure "$out")
  $py crop "$out" "$work/crop-$codec-$depth-$from.png"
  label="$codec"; [ "$from" = sky8 ] && label="$codec from 8-bit copies (undithered)"
  [ "$from" = sky ] && [ "$depth" = 8 ] && label="$codec, 16-bit dithered to 8"
  printf "| %s | %s | %s | %s | %.1f s |\n" "$label" \
    "$(ffprobe -v error -select_streams v:0 -show_entries stream=pix_fmt -of csv=p=0 "$out")" "$rms" "$run" "$seconds"
done
