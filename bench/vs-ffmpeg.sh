#!/usr/bin/env bash
# The program against the ffmpeg command line doing the same work on COUNT
# 24-megapixel JPEGs (bench/make-24mp.sh): Lanczos scale, middle cut,
# libx264 CRF 23 preset medium without B-frames and with the lookahead of 20
# frames that the program uses, yuv420p, 30 fps. Three jobs:
# 1080p; 1080p with saturation 1.3, contrast 1.1 and exposure +0.3 (ffmpeg:
# eq and exposure); 3840x2160. Median of three runs, whole process: wall
# time, processor time, peak resident memory, and the ratio of ffmpeg's wall
# time to ours (above 1: we are faster).
#   bench/vs-ffmpeg.sh [COUNT] [WORK_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
count=${1:-60}
work=${2:-/tmp/moirevance-bench}
src=$work/24mp-$count
bash "$root/bench/make-24mp.sh" "$src" "$count"
out=$work/vs && rm -rf "$out" && mkdir -p "$out"
export XDG_DATA_HOME=$out/data XDG_CONFIG_HOME=$out/config

# median3 COMMAND...: the run with the median wall time, as
# "wall cpu peak_kB".
median3() {
  local runs=()
  for _ in 1 2 3; do
    rm -f "$out"/out*.mov
    /usr/bin/time -o "$out/time.txt" -f "%e %U %S %M" "$@" >/dev/null 2>&1
    read -r wall user sys peak < <(tail -1 "$out/time.txt")
    runs+=("$wall $(echo "$user + $sys" | bc) $peak")
  done
  printf "%s\n" "${runs[@]}" | sort -n | sed -n 2p
}

job() { # NAME WIDTH HEIGHT PRESET "OUR OPTIONS" "FFMPEG FILTERS"
  local name=$1 w=$2 h=$3 preset=$4 ours=$5 filters=$6
  local a b
  # shellcheck disable=SC2086 # the options are words
  a=$(median3 "$root/build/moirevance" make --size "$preset" --codec h264 --quality normal --fps 30 \
        --skip-verify $ours -o "$out/out.mov" "$src")
  b=$(median3 ffmpeg -y -framerate 30 -i "$src/shot-%04d.jpg" \
        -vf "scale=$w:$h:force_original_aspect_ratio=increase:flags=lanczos,crop=$w:$h$filters" \
        -c:v libx264 -crf 23 -preset medium -bf 0 -rc-lookahead 20 -pix_fmt yuv420p "$out/out.mov")
  read -r aw ac am <<<"$a"
  read -r bw bc bm <<<"$b"
  printf "| %s | %.1f s, %.1f CPU-s | %.1f s, %.1f CPU-s | %.2f | %d / %d MB |\n" "$name" "$aw" "$ac" "$bw" "$bc" \
    "$(echo "$bw / $aw" | bc -l)" $((am / 1024)) $((bm / 1024))
}

echo "$count images 6000x4000 on $(nproc) cores"
echo
echo "| job | moirevance | ffmpeg | ratio (ffmpeg / ours) | peak RSS ours / ffmpeg |"
echo "|---|---|---|---|---|"
job "1080p, no adjustment" 1920 1080 1080p "" ""
job "1080p, saturation 1.3, contrast 1.1, exposure +0.3" 1920 1080 1080p \
  "--saturation 1.3 --contrast 1.1 --exposure 0.3" ",eq=saturation=1.3:contrast=1.1,exposure=exposure=0.3"
job "3840x2160, no adjustment" 3840 2160 F3840X2160 "" ""
