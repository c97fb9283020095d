#!/usr/bin/env bash
# Whether two builds make the same movies: the benchmark jobs (the four of
# bench/vs-ffmpeg.sh on COUNT 24-megapixel JPEGs, deflicker with motion
# blur into ProRes, a TIFF job with rate and duplicates, 16-bit TIFFs into
# HEVC Main 10 and ProRes, the camera raw job of bench/raw.sh, and a movie
# made in three parts and joined), run by each program, and each pair of
# movies compared byte for byte. For a change meant to keep behaviour (a
# refactoring): build the earlier commit elsewhere and give its program as
# OLD. Needs cjpeg (libjpeg-turbo-progs) for the JPEGs.
#   bench/same-movies.sh OLD_PROGRAM [NEW_PROGRAM] [COUNT] [WORK_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
old=$(realpath "$1")
new=$(realpath "${2:-$root/build/moirevance}")
count=${3:-20}
work=${4:-/tmp/moirevance-bench}/same
jpegs=$work/../24mp-$count
bash "$root/bench/make-24mp.sh" "$jpegs" "$count" >/dev/null
mkdir -p "$work/raw" "$work/deep"
cr2=/usr/share/doc/rawtran/IMG_5952.CR2
[ -f "$cr2" ] || cr2=${XDG_CACHE_HOME:-$HOME/.cache}/moirevance/rawtran/usr/share/doc/rawtran/IMG_5952.CR2
for i in 1 2 3 4; do [ ! -f "$cr2" ] || cp -n "$cr2" "$work/raw/IMG_$i.CR2"; done
for i in $(seq -w 1 12); do # a 16-bit gradient with a moving bar
  [ -f "$work/deep/d$i.tif" ] || ffmpeg -v error -f lavfi \
    -i "gradients=s=640x360:c0=0x101820:c1=0x304050:seed=$i,drawbox=x=${i}0:y=100:w=40:h=80:c=white@0.3:t=fill" \
    -frames:v 1 -pix_fmt rgb48le "$work/deep/d$i.tif"
done

jobs=(
  "1080p|--size 1080p --codec h264 --fps 30 --skip-verify|$jpegs"
  "adjusted|--size 1080p --codec h264 --fps 30 --skip-verify --saturation 1.3 --contrast 1.1 --exposure 0.3|$jpegs"
  "uhd|--size F3840X2160 --codec h264 --fps 30 --skip-verify|$jpegs"
  "stamps|--size 1080p --codec h264 --fps 30 --skip-verify --date-stamp --watermark Moirevance --watermark-pos 2,0 --tween 1|$jpegs"
  "deflicker-blur|--size 720p --codec prores --deflicker --motion-blur 2 --motion-frames 3|$jpegs"
  "tiff|--size 25% --codec tiff --rate 2 --dup 2|$jpegs"
  "hevc10|--size 100% --codec hevc --depth 10|$work/deep"
  "prores16|--size 100% --codec prores --tween 1|$work/deep"
)
[ -f "$cr2" ] && jobs+=("raw|--size 720p --codec h264 --deflicker|$work/raw")

status=0
for entry in "${jobs[@]}"; do
  IFS='|' read -r name options folder <<<"$entry"
  for side in old new; do
    bin=$old; [ $side = new ] && bin=$new
    rm -rf "$work/$side-$name" && mkdir -p "$work/$side-$name"
    # shellcheck disable=SC2086 # the options are words
    (export XDG_DATA_HOME=$work/$side-$name XDG_CONFIG_HOME=$work/$side-$name
     "$bin" make $options -o "$work/$side-$name/movie.mov" "$folder" >/dev/null 2>&1)
  done
  a=$(md5sum <"$work/old-$name/movie.mov") b=$(md5sum <"$work/new-$name/movie.mov")
  if [ "$a" = "$b" ]; then echo "$name: the same (${a%% *})"; else echo "$name: DIFFERENT"; status=1; fi
done
# One movie in three parts, joined.
for side in old new; do
  bin=$old; [ $side = new ] && bin=$new
  d=$work/$side-parts && rm -rf "$d" && mkdir -p "$d"
  for k in 1 2 3; do
    XDG_DATA_HOME=$d XDG_CONFIG_HOME=$d "$bin" make --segment $k/3 --size 720p --codec h264 --tween 1 \
      -o "$d/part$k.mov" "$jpegs" >/dev/null 2>&1
  done
  XDG_DATA_HOME=$d XDG_CONFIG_HOME=$d "$bin" append -o "$d/movie.mov" "$d"/part?.mov >/dev/null 2>&1
done
a=$(md5sum <"$work/old-parts/movie.mov") b=$(md5sum <"$work/new-parts/movie.mov")
if [ "$a" = "$b" ]; then echo "parts: the same (${a%% *})"; else echo "parts: DIFFERENT"; status=1; fi
exit $status
