#!/usr/bin/env bash
# Camera raw files against the shell script a person would write instead:
# COUNT copies of the real Canon EOS 30D CR2 of Debian's rawtran-doc, made
# into an H.264 movie at 720p and at 1080p. The peer develops every file
# with LibRaw's own dcraw_emu (-w: the camera's white balance, TIFF out) on
# both cores, then the ffmpeg command line scales (Lanczos, middle cut) and
# encodes (x264 CRF 23). Wall time and peak memory of the whole job, the
# median of three runs taken in turns.
#   bench/raw.sh [COUNT] [WORK_DIR]
# Needs rawtran-doc and libraw-bin (scripts/setup installs them).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
count=${1:-12}
work=${2:-/tmp/moirevance-bench}/raw
cr2=/usr/share/doc/rawtran/IMG_5952.CR2
[ -f "$cr2" ] || cr2=${XDG_CACHE_HOME:-$HOME/.cache}/moirevance/rawtran/usr/share/doc/rawtran/IMG_5952.CR2
[ -f "$cr2" ] || { echo "raw.sh: no IMG_5952.CR2: run scripts/setup" >&2; exit 1; }
mkdir -p "$work/shots"
for ((i = 1; i <= count; i++)); do cp -n "$cr2" "$work/shots/IMG_$((5951 + i)).CR2"; done
export XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config

# "wall peak_MB" of a command.
timed() {
  /usr/bin/time -o "$work/time.txt" -f "%e %M" "$@" >/dev/null 2>&1
  read -r wall peak <"$work/time.txt"
  echo "$wall $((peak / 1024))"
}
ours() { # W H
  rm -f "$work/ours.mov"
  timed "$root/build/moirevance" make --size "${2}p" --codec h264 --fps 25 --skip-verify -o "$work/ours.mov" \
    "$work/shots"
}
peer() { # W H
  rm -rf "$work/tiff" "$work/peer.mp4" && mkdir -p "$work/tiff"
  timed bash -c "ls '$work'/shots/*.CR2 | xargs -P 2 -I{} sh -c 'dcraw_emu -w -T -Z \"$work/tiff/\$(basename {}).tiff\" {}' &&
    ffmpeg -v error -framerate 25 -pattern_type glob -i '$work/tiff/*.tiff' \
      -vf 'scale=$1:$2:force_original_aspect_ratio=increase:flags=lanczos,crop=$1:$2' \
      -c:v libx264 -crf 23 -pix_fmt yuv420p '$work/peer.mp4'"
}
median() { printf "%s\n" "$@" | sort -n | sed -n 2p; }
echo "$count copies of a Canon EOS 30D CR2 (8 megapixels) on $(nproc) cores, H.264 (medians of three)"
echo "| frame | moirevance | peer (dcraw_emu -w -T on 2 cores, then ffmpeg) | speed-up |"
echo "|---|---|---|---|"
for size in "1280 720" "1920 1080"; do
  o=() p=() om=() pm=()
  for _ in 1 2 3; do
    read -r w m < <(ours $size) && o+=("$w") om+=("$m")
    read -r w m < <(peer $size) && p+=("$w") pm+=("$m")
  done
  ow=$(median "${o[@]}") pw=$(median "${p[@]}")
  printf "| %sp | %.1f s, %d MB | %.1f s, %d MB | %.2fx |\n" "${size#* }" "$ow" "$(median "${om[@]}")" \
    "$pw" "$(median "${pm[@]}")" "$(echo "$pw / $ow" | bc -l)"
done
