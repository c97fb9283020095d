# Sourced by the movie benches. best_of_three DIR NAME OPTION...: makes
# DIR/out.mov from the images in DIR/in (1080p H.264) three times with the
# options and prints the fastest run's wall and processor seconds and the
# number of frames written. Needs $bin.
best_of_three() {
  local dir=$1 name=$2; shift 2
  local best= t wall user sys frames
  for _ in 1 2 3; do
    rm -f "$dir/out"*.mov
    /usr/bin/time -o "$dir/time.txt" -f "%e %U %S" "$bin" make -o "$dir/out.mov" --size 1080p --codec h264 \
      "$@" "$dir/in" >/dev/null 2>&1
    t=$(tail -1 "$dir/time.txt")
    if [ -z "$best" ] || awk -v a="${t%% *}" -v c="${best%% *}" 'BEGIN{exit !(a<c)}'; then best=$t; fi
  done
  read -r wall user sys <<<"$best"
  frames=$(ffprobe -v error -select_streams v:0 -count_packets -show_entries stream=nb_read_packets \
           -of csv=p=0 "$dir/out.mov")
  printf "%-22s %6.2f s wall  %6.2f s CPU  %4d frames\n" "$name" "$wall" "$(echo "$user + $sys" | bc)" "$frames"
}
