#!/usr/bin/env bash
# Deflicker against the ffmpeg command line's deflicker filter on sequences
# made from the benchmark photograph (bench/deflicker.py): 120 frames on a
# ramp of -2 EV with +-0.3 EV of flicker, the ramp alone, and one frame 4 EV
# dark among steady ones. The measure is the log2 of each frame's mean
# linear luminance against the intended light, after one constant offset.
# ffmpeg is given its best window (2 to 129) and mode. Plots the flickering
# sequence before and after to docs/manual/images/deflicker.png.
#   bench/deflicker.sh [WORK_DIR]
# Needs python3-numpy and gnuplot (apt-get install python3-numpy gnuplot-nox).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-/tmp/moirevance-bench}/deflicker
py="/usr/bin/python3 $root/bench/deflicker.py"
mkdir -p "$work"
export XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config

for kind in flicker ramp outlier; do
  [ -e "$work/$kind/ramp.txt" ] || $py make "$work/$kind" "$kind"
  $py levels "$work/$kind" >"$work/$kind-in.txt"
  rm -f "$work/$kind.mov"
  "$root/build/moirevance" make --deflicker --codec tiff --size 100% --fps 30 --skip-verify \
    -o "$work/$kind.mov" "$work/$kind" >/dev/null 2>&1
  $py levels "$work/$kind.mov" >"$work/$kind-out.txt"
done

# ffmpeg: every window with its default mode (arithmetic mean), the other
# modes at a spread of windows.
best=9 best_at=
try() { # SIZE MODE
  local r
  r=$($py levels "$work/flicker" "deflicker=size=$1:mode=$2" >"$work/ff.txt" && $py rms "$work/ff.txt" "$work/flicker/ramp.txt")
  if [ "$(echo "$r < $best" | bc -l)" = 1 ]; then
    best=$r best_at="size=$1:mode=$2"
    cp "$work/ff.txt" "$work/flicker-ffmpeg.txt"
  fi
}
for size in $(seq 2 129); do try "$size" am; done
for mode in gm hm qm cm pm median; do
  for size in 3 5 9 15 21 31 41 51 65 81 101 129; do try "$size" "$mode"; done
done

ramp=$work/flicker/ramp.txt
echo "RMS of the log2 error against the ramp (one constant offset removed), 120 frames:"
echo "  input (flicker +-0.3 EV on -2 EV)  $($py rms "$work/flicker-in.txt" "$ramp") EV"
echo "  moirevance --deflicker (window 51)  $($py rms "$work/flicker-out.txt" "$ramp") EV"
echo "  ffmpeg deflicker, best ($best_at)  $best EV"
echo "Pure ramp: input $($py rms "$work/ramp-in.txt" "$work/ramp/ramp.txt") EV," \
  "output $($py rms "$work/ramp-out.txt" "$work/ramp/ramp.txt") EV;" \
  "largest change of a frame $(paste "$work/ramp-in.txt" "$work/ramp-out.txt" |
    awk '{d = $2 - $1; if (d < 0) d = -d; if (d > m) m = d} END {printf "%.4f", m}') EV"
echo "One frame 4 EV dark: its neighbours moved at most $($py worst "$work/outlier-out.txt" \
  "$work/outlier/ramp.txt" 60) EV; the dark frame was lifted by" \
  "$(paste "$work/outlier-in.txt" "$work/outlier-out.txt" | sed -n 61p | awk '{printf "%.2f", $2 - $1}') EV"

paste "$ramp" "$work/flicker-in.txt" "$work/flicker-out.txt" "$work/flicker-ffmpeg.txt" >"$work/plot.txt"
gnuplot <<EOF
set terminal pngcairo size 900,500 font "DejaVu Sans,11"
set output "$root/docs/manual/images/deflicker.png"
set title "Mean linear luminance of 120 frames: -2 EV ramp with +-0.3 EV flicker"
set xlabel "frame"
set ylabel "log2 luminance (EV)"
set key bottom left
set grid
# Each curve moved onto the ramp by its own constant, as the measure does.
stats "$work/plot.txt" using (\$2 - \$1) name "I" nooutput
stats "$work/plot.txt" using (\$3 - \$1) name "O" nooutput
stats "$work/plot.txt" using (\$4 - \$1) name "F" nooutput
plot "$work/plot.txt" using 0:(\$2 - I_mean) with linespoints pt 7 ps 0.5 lc rgb "#c0c0c0" title "input", \
     "" using 0:(\$4 - F_mean) with lines lw 1.5 lc rgb "#e08020" title "ffmpeg deflicker ($best_at)", \
     "" using 0:(\$3 - O_mean) with lines lw 2.5 lc rgb "#2060c0" title "moirevance --deflicker", \
     "" using 0:1 with lines dt 2 lw 1.5 lc rgb "black" title "intended ramp"
EOF
echo "Plot: docs/manual/images/deflicker.png"
