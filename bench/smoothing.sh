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
best() { # best of three: wall seconds, processor seconds, frames written
  local name=$1; shift
  local b=
  for _ in 1 2 3; do
    rm -f "$work/sm/out"*.mov
    local t
    /usr/bin/time -o "$work/sm/time.txt" -f "%e %U %S" "$bin" make -o "$work/sm/out.mov" --size 1080p --codec h264 \
      --skip-verify "$@" "$work/sm/in" >/dev/null 2>&1
    t=$(tail -1 "$work/sm/time.txt")
    if [ -z "$b" ] || awk -v a="${t%% *}" -v c="${b%% *}" 'BEGIN{exit !(a<c)}'; then b=$t; fi
  done
  read -r wall user sys <<<"$b"
  local frames
  frames=$(ffprobe -v error -select_streams v:0 -count_packets -show_entries stream=nb_read_packets \
           -of csv=p=0 "$work/sm/out.mov")
  printf "%-16s %6.2f s wall  %6.2f s CPU  %4d frames\n" "$name" "$wall" "$(echo "$user + $sys" | bc)" "$frames"
}
echo "$count images 2400x1800 -> 1080p H.264 on $(nproc) cores"
best plain --no-smoothing
best "tween 1" --tween 1
best "motion blur 3" --motion-blur 2 --motion-frames 3
