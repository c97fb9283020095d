#!/usr/bin/env bash
# What the deflicker analysis costs: the same 1080p H.264 job (as in
# vs-ffmpeg.sh) on COUNT 24-megapixel JPEGs (bench/make-24mp.sh) plain and
# with --deflicker, three runs each taken in turns, medians. The analysis
# time is how much later the first progress line of the frame loop comes
# (it is printed after the 10th frame) with --deflicker than without; its
# share is that time over the plain movie run. The whole run with
# --deflicker also pays for the gains, a linear-light adjustment of every
# frame. Peak resident memory of both, so that the analysis shows no growth
# (compare COUNT 60 and 300).
#   bench/deflicker-speed.sh [COUNT] [WORK_DIR]
# Needs python3.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
count=${1:-300}
work=${2:-/tmp/moirevance-bench}
src=$work/24mp-$count
bash "$root/bench/make-24mp.sh" "$src" "$count"
out=$work/deflicker-speed && rm -rf "$out" && mkdir -p "$out"
export XDG_DATA_HOME=$out/data XDG_CONFIG_HOME=$out/config

one() { # OPTIONS... -> "wall cpu peak_kB first_frame_line_s"
  rm -f "$out"/out*.mov
  local first
  first=$(/usr/bin/python3 - /usr/bin/time -o "$out/time.txt" -f "%e %U %S %M" "$root/build/moirevance" make \
    --size 1080p --codec h264 --quality normal --fps 30 --skip-verify "$@" -o "$out/out.mov" "$src" <<'EOF'
import subprocess, sys, time
start = time.monotonic()
run = subprocess.Popen(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
first = None
for line in run.stderr:
    if first is None and "Time Left" in line and "Analysing" not in line:
        first = time.monotonic() - start
run.wait()
print(f"{first:.2f}")
EOF
  )
  read -r wall user sys peak < <(tail -1 "$out/time.txt")
  echo "$wall $(echo "$user + $sys" | bc) $peak $first"
}
plain=() deflicker=()
for _ in 1 2 3; do
  plain+=("$(one)")
  deflicker+=("$(one --deflicker)")
done
median() { printf "%s\n" "$@" | sort -n | sed -n 2p; }
median_of() { # FIELD RUNS...
  local f=$1
  shift
  printf "%s\n" "$@" | awk -v f="$f" '{print $f}' | sort -n | sed -n 2p
}
read -r pw pc pm _ <<<"$(median "${plain[@]}")"
read -r dw dc dm _ <<<"$(median "${deflicker[@]}")"
pf=$(median_of 4 "${plain[@]}")
df=$(median_of 4 "${deflicker[@]}")
echo "$count images 6000x4000 on $(nproc) cores, 1080p H.264 (medians of three)"
printf "  movie run:         %6.1f s wall, %6.1f CPU-s, peak %d MB; first frame line at %.1f s\n" \
  "$pw" "$pc" $((pm / 1024)) "$pf"
printf "  with --deflicker:  %6.1f s wall, %6.1f CPU-s, peak %d MB; first frame line at %.1f s\n" \
  "$dw" "$dc" $((dm / 1024)) "$df"
printf "  analysis:          %6.1f s = %.0f%% of the movie run's wall time\n" \
  "$(echo "$df - $pf" | bc)" "$(echo "100 * ($df - $pf) / $pw" | bc -l)"
