#!/usr/bin/env bash
# Deflicker against the ffmpeg command line's deflicker filter on sequences
# made from the benchmark photograph (bench/deflicker.py): a ramp, a sunset,
# a sunrise, a holy grail (the shutter lengthened in 1/3 EV steps, with
# EXIF), a misfired frame and a passing cloud, each with random flicker.
# The measure is the log2 of each frame's mean linear luminance against the
# light's known curve, after one constant offset. moirevance runs at its
# default window; ffmpeg gets its best size (3 to 129) and mode for each
# sequence, by that sequence's own measure. Prints one Markdown table, then
# the checks on a ramp without flicker and on one frame 4 EV dark, and
# plots the sunset to docs/manual/images/deflicker.png.
# The frames and ffmpeg's grid are kept in WORK_DIR/deflicker for the next
# run: only moirevance runs again.
#   bench/deflicker.sh [WORK_DIR]
# Needs python3-numpy, exiftool and gnuplot
# (apt-get install python3-numpy libimage-exiftool-perl gnuplot-nox).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-/tmp/moirevance-bench}/deflicker
py="/usr/bin/python3 $root/bench/deflicker.py"
mkdir -p "$work"
export XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config
SECONDS=0

sequences="ramp sunset sunrise holy-grail misfire cloud"
for kind in $sequences steady-ramp outlier; do
  $py make "$work/$kind" "$kind"
  $py levels "$work/$kind" >"$work/$kind-in.txt"
  rm -f "$work/$kind.mov"
  if ! "$root/build/moirevance" make --deflicker --codec tiff --size 100% --fps 30 --skip-verify \
      -o "$work/$kind.mov" "$work/$kind" >"$work/$kind.log" 2>&1; then
    echo "moirevance failed on $kind:" >&2
    tail -5 "$work/$kind.log" >&2
    exit 1
  fi
  $py levels "$work/$kind.mov" >"$work/$kind-out.txt"
done
# One ffmpeg at a time: the grid is the longest part of the run.
for kind in $sequences; do $py grid "$work/$kind" "$kind"; done

$py table "$work" $sequences
light=$work/steady-ramp/light.txt
echo
echo "A ramp of -2 EV without flicker: input $($py rms "$work/steady-ramp-in.txt" "$light") EV," \
  "output $($py rms "$work/steady-ramp-out.txt" "$light") EV from the ramp;" \
  "a frame changes by at most $(paste "$work/steady-ramp-in.txt" "$work/steady-ramp-out.txt" |
    awk '{d = $2 - $1; if (d < 0) d = -d; if (d > m) m = d} END {printf "%.4f", m}') EV"
echo "One frame 4 EV dark among steady ones: its neighbours moved at most" \
  "$($py worst "$work/outlier-out.txt" "$work/outlier/light.txt" 60) EV; the dark frame was lifted by" \
  "$(paste "$work/outlier-in.txt" "$work/outlier-out.txt" | sed -n 61p | awk '{printf "%.2f", $2 - $1}') EV"

pick=$(cat "$work/sunset-ffmpeg-pick.txt")
title=$(sed 's/^b\. //; s/, 10%-90%[^;]*;/;/; s/ of [0-9]*x[0-9]*//' "$work/sunset/description.txt")
paste "$work/sunset/light.txt" "$work/sunset-in.txt" "$work/sunset-out.txt" "$work/sunset-ffmpeg.txt" >"$work/plot.txt"
gnuplot <<EOF
set terminal pngcairo size 900,500 font "DejaVu Sans,11"
set output "$root/docs/manual/images/deflicker.png"
set title "Mean linear luminance of each frame, $title"
set xlabel "frame"
set ylabel "log2 luminance (EV)"
set key bottom left
set grid
# Each curve moved onto the light by its own constant, as the measure does.
stats "$work/plot.txt" using (\$2 - \$1) name "I" nooutput
stats "$work/plot.txt" using (\$3 - \$1) name "O" nooutput
stats "$work/plot.txt" using (\$4 - \$1) name "F" nooutput
plot "$work/plot.txt" using 0:(\$2 - I_mean) with linespoints pt 7 ps 0.5 lc rgb "#c0c0c0" title "input", \
     "" using 0:(\$4 - F_mean) with lines lw 1.5 lc rgb "#e08020" title "ffmpeg deflicker, best ($pick)", \
     "" using 0:(\$3 - O_mean) with lines lw 2.5 lc rgb "#2060c0" title "moirevance --deflicker", \
     "" using 0:1 with lines dt 2 lw 1.5 lc rgb "black" title "intended light"
EOF
echo "Plot: docs/manual/images/deflicker.png. Whole run: ${SECONDS} s."
