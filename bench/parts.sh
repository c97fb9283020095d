#!/usr/bin/env bash
# One movie in parts (make --segment K/N) and their join (append): 100
# pictures of 640x360 made from the photograph, each written 60 times
# (--dup 60, H.264, deflicker on), as one movie and as 100 parts of 60
# frames, then the join of the parts. Prints each term of the wall time on
# M machines: analysis (in every part) + ceil(N/M) x one part + join.
#   bench/parts.sh [WORK_DIR] [PHOTO]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-/tmp/moirevance-bench}/parts
photo=${2:-$root/../shared/bench/leaf.jpg}
bin=$root/build/moirevance
mkdir -p "$work/src" "$work/parts"
export XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config
if [ ! -f "$work/src/p100.jpg" ]; then
  ffmpeg -v error -y -i "$photo" -vf "scale=640:360:force_original_aspect_ratio=increase,crop=640:360" "$work/p.jpg"
  for i in $(seq -w 1 100); do
    # each a little brighter or darker, so that deflicker has work to do
    ffmpeg -v error -y -i "$work/p.jpg" -vf "eq=brightness=$(( (10#$i % 5) - 2 ))/100" "$work/src/p$i.jpg"
  done
fi
job=(make --size 100% --codec h264 --fps 30 --dup 60 --deflicker --skip-verify)
seconds() { local s; s=$(date +%s.%N); "$@" >/dev/null 2>&1; echo "$(date +%s.%N) - $s" | bc; }
rm -f "$work"/whole*.mov "$work"/joined*.mov "$work"/parts/*.mov "$work"/plot*.png
analysis=$(seconds "$bin" "${job[@]}" --deflicker-plot "$work/plot.png" "$work/src")
whole=$(seconds "$bin" "${job[@]}" -o "$work/whole.mov" "$work/src")
start=$(date +%s.%N)
for k in $(seq 1 100); do
  "$bin" "${job[@]}" --segment "$k/100" -o "$work/parts/part-$k.mov" "$work/src" >/dev/null 2>&1
done
parts=$(echo "$(date +%s.%N) - $start" | bc)
join=$(seconds "$bin" append -o "$work/joined.mov" "$work"/parts/part-*.mov)
frames=$(ffprobe -v error -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "$work/joined.mov")
printf "| term | seconds |\n|---|---|\n"
printf "| the whole movie on one machine (6000 frames) | %.1f |\n" "$whole"
printf "| analysis (deflicker, every part does it) | %.2f |\n" "$analysis"
printf "| 100 parts one after another | %.1f (%.2f a part) |\n" "$parts" "$(echo "$parts / 100" | bc -l)"
printf "| join of the 100 parts (%s frames) | %.2f |\n" "$frames" "$join"
printf "\nModel: wall(M) = %.2f + ceil(100/M) x %.2f + %.2f s\n" "$analysis" "$(echo "$parts / 100" | bc -l)" "$join"
for m in 1 4 10 25 100; do
  printf "  M=%-3s %.1f s\n" "$m" "$(echo "$analysis + $(( (100 + m - 1) / m )) * $parts / 100 + $join" | bc -l)"
done
