#!/usr/bin/env bash
# The program against the ffmpeg command line doing the same work on COUNT
# 24-megapixel JPEGs (bench/make-24mp.sh): Lanczos scale, middle cut,
# libx264 CRF 23 preset medium, yuv420p, 30 fps. ffmpeg runs twice: with
# x264's defaults (the plain command line), and with the x264 settings the
# program uses (no B-frames, its lookahead: 8 frames at 1080p, 5 at
# 3840x2160, one frame thread per core).
# Jobs: 1080p; 1080p with saturation 1.3, contrast 1.1 and exposure +0.3
# (ffmpeg: eq and exposure); 3840x2160; 1080p with a date stamp, a watermark
# and one in-between frame per image (ffmpeg: drawtext twice and the
# framerate filter's blend). Median of ROUNDS runs (three unless given; an
# odd number, and more of them give a steadier figure on a machine whose
# speed drifts), whole process: wall time, processor time, peak resident
# memory, the ratio of ffmpeg's wall time to ours (above 1: we are faster),
# and the machine's limit for the job: the processor time of decoding the
# JPEGs at the scale used plus encoding the frames, divided by the cores.
#   bench/vs-ffmpeg.sh [COUNT] [WORK_DIR] [ROUNDS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
count=${1:-60}
work=${2:-/tmp/moirevance-bench}
rounds=${3:-3}
[[ $rounds =~ ^[1-9][0-9]*$ ]] || { echo "ROUNDS must be a whole number above 0" >&2; exit 2; }
src=$work/24mp-$count
bash "$root/bench/make-24mp.sh" "$src" "$count"
out=$work/vs && rm -rf "$out" && mkdir -p "$out"
export XDG_DATA_HOME=$out/data XDG_CONFIG_HOME=$out/config
cores=$(nproc)

# run COMMAND...: one run as "wall cpu peak_kB".
run() {
  /usr/bin/time -o "$out/time.txt" -f "%e %U %S %M" "$@" >/dev/null 2>&1
  read -r wall user sys peak < <(tail -1 "$out/time.txt")
  echo "$wall $(echo "$user + $sys" | bc) $peak"
}

# The limit: djpeg at the scale the program decodes at, and x264 with the
# program's settings on the job's frames. The frames are made without loss
# by the TIFF codec (which renders them through RGB: a fraction of a level
# from the H.264 job's on average): decoded from the H.264 movie, they have
# lost part of their noise, and x264 takes up to 0.5 CPU-s less on them.
limit() { # SCALE LOOKAHEAD PRESET "OUR OPTIONS"
  local scale=$1 la=$2 preset=$3 ours=$4 d e
  d=$(run bash -c "for f in '$src'/*.jpg; do djpeg -scale $scale \"\$f\" >/dev/null; done")
  # shellcheck disable=SC2086 # the options are words
  "$root/build/moirevance" make --size "$preset" --codec tiff --fps 30 --skip-verify $ours \
    -o "$out/frames.mov" "$src" >/dev/null 2>&1
  ffmpeg -v error -y -i "$out/frames.mov" -f yuv4mpegpipe -pix_fmt yuv420p "$out/frames.y4m"
  e=$(run ffmpeg -v error -y -i "$out/frames.y4m" -c:v libx264 -crf 23 -preset medium -bf 0 \
        -rc-lookahead "$la" -threads "$cores" -f null -)
  rm -f "$out/frames.mov" "$out/frames.y4m"
  echo "$d" "$e" | awk -v c="$cores" '{ printf "%.1f s", ($2 + $5) / c }'
}

job() { # NAME WIDTH HEIGHT PRESET LOOKAHEAD DJPEG_SCALE "OUR OPTIONS" "FFMPEG FILTERS"
  local name=$1 w=$2 h=$3 preset=$4 la=$5 scale=$6 ours=$7 filters=$8
  local a=() b=() c=() i
  local vf="scale=$w:$h:force_original_aspect_ratio=increase:flags=lanczos,crop=$w:$h$filters"
  # The three programs take turns, so that a change in the machine's load
  # falls on all of them alike.
  for ((i = 0; i < rounds; i++)); do
    rm -f "$out"/*.mov
    # shellcheck disable=SC2086 # the options are words
    a+=("$(run "$root/build/moirevance" make --size "$preset" --codec h264 --quality normal --fps 30 \
          --skip-verify $ours -o "$out/ours.mov" "$src")")
    b+=("$(run ffmpeg -y -framerate 30 -i "$src/shot-%04d.jpg" -vf "$vf" \
          -c:v libx264 -crf 23 -preset medium -pix_fmt yuv420p "$out/ffmpeg.mov")")
    c+=("$(run ffmpeg -y -framerate 30 -i "$src/shot-%04d.jpg" -vf "$vf" \
          -c:v libx264 -crf 23 -preset medium -bf 0 -rc-lookahead "$la" -threads "$cores" \
          -pix_fmt yuv420p "$out/ffmpeg-same.mov")")
  done
  median() { printf "%s\n" "$@" | sort -n | sed -n "$(((rounds + 1) / 2))p"; }
  local aw ac am bw bc bm cw cc cm
  read -r aw ac am <<<"$(median "${a[@]}")"
  read -r bw bc bm <<<"$(median "${b[@]}")"
  read -r cw cc cm <<<"$(median "${c[@]}")"
  printf "| %s | %.1f s, %.1f CPU-s, %d MB | %.1f s, %.1f CPU-s, %d MB | %.2f | %.1f s, %.1f CPU-s, %d MB | %.2f | %s |\n" \
    "$name" "$aw" "$ac" $((am / 1024)) "$bw" "$bc" $((bm / 1024)) "$(echo "$bw / $aw" | bc -l)" \
    "$cw" "$cc" $((cm / 1024)) "$(echo "$cw / $aw" | bc -l)" "$(limit "$scale" "$la" "$preset" "$ours")"
}

stamp=",drawtext=text='2026-06-01 12\:00\:00':x=8:y=h-30:fontsize=24:fontcolor=white"
stamp+=",drawtext=text='Moirevance':x=w-tw-8:y=8:fontsize=32:fontcolor=white@0.7"
stamp+=",framerate=fps=60:interp_start=0:interp_end=255:scene=100"

echo "$count images 6000x4000 on $cores cores; median of $rounds"
echo
echo "| job | moirevance (wall, CPU, peak RSS) | ffmpeg, x264 defaults | ratio | ffmpeg, our x264 settings | ratio | machine's limit |"
echo "|---|---|---|---|---|---|---|"
job "1080p, no adjustment" 1920 1080 1080p 8 1/2 "" ""
job "1080p, saturation 1.3, contrast 1.1, exposure +0.3" 1920 1080 1080p 8 1/2 \
  "--saturation 1.3 --contrast 1.1 --exposure 0.3" ",eq=saturation=1.3:contrast=1.1,exposure=exposure=0.3"
job "3840x2160, no adjustment" 3840 2160 F3840X2160 5 1/1 "" ""
job "1080p, date stamp, watermark, 1 in-between frame" 1920 1080 1080p 8 1/2 \
  "--date-stamp --watermark Moirevance --watermark-pos 2,0 --tween 1" "$stamp"
