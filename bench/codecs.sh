#!/usr/bin/env bash
# Every codec on the same job: COUNT 24-megapixel JPEGs (6000x4000, made from
# the benchmark photograph with a drifting crop and sensor-like noise) made
# into a movie at 1080p and at 3840x2160, quality Normal. Prints a Markdown
# table: time (one run, whole process), file size, and SSIM and PSNR (by the
# ffmpeg command line, in RGB) of each movie against the TIFF movie of the
# same job, which holds exactly the pictures every encoder was given: what
# the codec loses, apart from the scaling that all of them share.
#   bench/codecs.sh [COUNT] [WORK_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
count=${1:-60}
work=${2:-/tmp/moirevance-bench}
bin=$root/build/moirevance
src=$work/24mp-$count
bash "$root/bench/make-24mp.sh" "$src" "$count"
out=$work/codecs && rm -rf "$out" && mkdir -p "$out"
export XDG_DATA_HOME=$out/data XDG_CONFIG_HOME=$out/config

echo "$count images 6000x4000 on $(nproc) cores, quality Normal"
echo
echo "| size | codec | time (wall / CPU) | file | SSIM | PSNR |"
echo "|---|---|---|---|---|---|"
for size in 1080p:1920:1080 F3840X2160:3840:2160; do
  IFS=: read -r preset w h <<<"$size"
  for codec in tiff h264 hevc av1 prores mp4 jpeg animation; do
    ext=mov; [ "$codec" = av1 ] && ext=mp4
    movie=$out/$codec-$w.$ext
    /usr/bin/time -o "$out/time.txt" -f "%e %U %S" "$bin" make -o "$movie" --size "$preset" --codec "$codec" \
      --quality normal --fps 30 --skip-verify "$src" >/dev/null 2>&1
    read -r wall user sys < <(tail -1 "$out/time.txt")
    bytes=$(stat -c %s "$movie")
    ssim=1 psnr=inf
    if [ "$codec" != tiff ]; then
      scores=$(ffmpeg -hide_banner -nostats -i "$movie" -i "$out/tiff-$w.mov" -lavfi \
        "[0:v]scale=in_color_matrix=auto:in_range=auto,format=gbrp,split[m1][m2];[1:v]format=gbrp,split[r1][r2];
         [m1][r1]ssim;[m2][r2]psnr" -f null - 2>&1)
      ssim=$(grep -o 'All:[0-9.]*' <<<"$scores" | head -1 | cut -d: -f2)
      psnr=$(grep -o 'average:[0-9.inf]*' <<<"$scores" | head -1 | cut -d: -f2)
      rm -f "$movie"
    fi
    printf "| %s | %s | %.1f s / %.1f s | %.1f MB | %.4f | %.2f dB |\n" "${w}x$h" "$codec" "$wall" \
      "$(echo "$user + $sys" | bc)" "$(echo "$bytes / 1000000" | bc -l)" "$ssim" "$psnr"
  done
  rm -f "$out/tiff-$w.mov"
done
