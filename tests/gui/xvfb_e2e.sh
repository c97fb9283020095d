#!/usr/bin/env bash
# Starts the real program on a virtual X server and makes a movie the way a
# person would, with the keyboard: list a folder through the open dialog,
# choose FPS, size and codec, create the movie, quit. The movie is checked
# with ffprobe; screenshots go to SHOTS.
# Usage: xvfb_e2e.sh MOIREVANCE_BINARY SHOTS_DIR   (inside xvfb-run)
set -euo pipefail
bin=$1
shots=$2
mkdir -p "$shots"
work=$(mktemp -d)
trap 'kill "$app" 2>/dev/null || true; rm -rf "$work"' EXIT
export XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config
mkdir -p "$work/frames"
ffmpeg -loglevel error -f lavfi -i testsrc=size=320x240:rate=25 -frames:v 12 "$work/frames/shot_%03d.jpg"

fail() { echo "e2e: $*" >&2; exit 1; }
# A screenshot of one window (there is no window manager: no frame to add).
shot() {
  eval "$(xdotool getwindowgeometry --shell "$2")"
  # What is on the screen of a window larger than it.
  read -r screen_w screen_h < <(xdotool getdisplaygeometry)
  WIDTH=$((WIDTH < screen_w - X ? WIDTH : screen_w - X)) HEIGHT=$((HEIGHT < screen_h - Y ? HEIGHT : screen_h - Y))
  ffmpeg -loglevel error -y -f x11grab -video_size "${WIDTH}x${HEIGHT}" -i "$DISPLAY+$X,$Y" -frames:v 1 "$shots/$1.png"
}
# Fails unless the window lies whole on the screen.
on_screen() {
  eval "$(xdotool getwindowgeometry --shell "$1")"
  read -r screen_w screen_h < <(xdotool getdisplaygeometry)
  [ "$X" -ge 0 ] && [ "$Y" -ge 0 ] && [ $((X + WIDTH)) -le "$screen_w" ] && [ $((Y + HEIGHT)) -le "$screen_h" ] ||
    fail "$2 is not on the screen: ${WIDTH}x${HEIGHT} at $X,$Y"
}
key() { xdotool key --clearmodifiers "$@"; sleep 0.2; }
typed() { xdotool type --delay 20 "$1"; sleep 0.2; }
waitwin() { xdotool search --sync --onlyvisible --name "$1" | head -1; }
# Every wait below ends at its event (a window mapped, a file complete); the
# limits are only there so that a broken program fails instead of hanging,
# and are long enough for a machine whose cores are busy with other work.
patience=300
# Runs "$@" until it succeeds, for at most $patience seconds.
until_true() {
  local deadline=$((SECONDS + patience))
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.2
  done
}

"$bin" & app=$!
main=$(timeout "$patience" bash -c "$(declare -f waitwin); waitwin '^Moirevance$'") || fail "no main window"
xdotool windowfocus --sync "$main"
sleep 0.5
shot e2e-1-empty "$main"

# FPS 12, size 50 %, codec JPEG (one up from H264), by the labels' accelerators.
key alt+p ctrl+a
typed 12
key Return
key alt+s ctrl+a
typed "50%"
key Return
key alt+o Up
# Rate 2 entered with Alt held: every image twice.
key alt+a ctrl+a
typed 2
key alt+Return

# List Images (Ctrl+O): go to the folder, then list all of it.
key ctrl+o
dialog=$(timeout "$patience" bash -c "$(declare -f waitwin); waitwin '^Image Files$'") || fail "no open dialog"
xdotool windowfocus --sync "$dialog"
typed "$work/frames"
key Return
sleep 0.5
shot e2e-2-open-dialog "$dialog"
key alt+w
sleep 1
xdotool windowfocus --sync "$main"
shot e2e-3-listed "$main"

# Create Movie: the name dialog, then the run. The command does nothing
# while the list is still being built (a busy machine may still be at it):
# ask again each time it has not answered within a few seconds.
ask_movie_name() {
  key ctrl+r
  save=$(timeout 5 bash -c "$(declare -f waitwin); waitwin '^Movie Name$'") && [ -n "$save" ]
}
until_true ask_movie_name || fail "no movie name dialog"
xdotool windowfocus --sync "$save"
key ctrl+a
typed "$work/e2e.mov"
sleep 0.3
shot e2e-5-movie-name "$save"
key Return
# The movie appears at its name only once it is complete.
until_true ffprobe -v error "$work/e2e.mov" >/dev/null 2>&1 || fail "no movie written"
sleep 0.5
shot e2e-4-complete "$main"

result=$(ffprobe -v error -count_frames -select_streams v:0 \
  -show_entries stream=codec_name,width,height,nb_read_frames,avg_frame_rate -of csv=p=0 "$work/e2e.mov") ||
  fail "no movie written"
echo "e2e: movie $result"
[ "$result" = "mjpeg,160,120,12/1,24" ] || fail "unexpected movie: $result"

# The menus, each with the corner of the window under it.
menus() {
  eval "$(xdotool getwindowgeometry --shell "$main")"
  local x=$X y=$Y
  for menu in file window help; do
    xdotool windowfocus --sync "$main"
    key "alt+${menu:0:1}"
    sleep 0.5
    ffmpeg -loglevel error -y -f x11grab -video_size "$1" -i "$DISPLAY+$x,$y" -frames:v 1 "$shots/menu-$menu$2.png"
    key Escape
  done
}
menus 460x300 ""

# Quit (Ctrl+Q) saves the settings.
xdotool windowfocus --sync "$main"
key ctrl+q
gone() { ! kill -0 "$app" 2>/dev/null; }
until_true gone || fail "the program did not quit"
grep -q "12" "$XDG_CONFIG_HOME/Moirevance/Moirevance.ini" || fail "settings not saved"

# At twice the scale the window is larger than this 1280 x 800 screen: it
# opens smaller, whole on the screen.
QT_SCALE_FACTOR=2 "$bin" "$work/frames" & app=$!
main=$(timeout "$patience" bash -c "$(declare -f waitwin); waitwin '^Moirevance$'") || fail "no main window at scale 2"
xdotool windowfocus --sync "$main"
sleep 1
on_screen "$main" "the window at scale 2"
shot main-window-scale2 "$main"
menus 920x600 -scale2
# Crop: Custom opens the keyframe editor, whole on the screen too.
# While the list is still being built the window says "List images first."
# and goes back to Middle: answer it and ask again.
open_editor() {
  xdotool windowfocus --sync "$main"
  key alt+r Down Down
  editor=$(timeout 5 bash -c "$(declare -f waitwin); waitwin '^shot_001.jpg$'") && [ -n "$editor" ] && return 0
  key Return
  return 1
}
until_true open_editor || fail "no editor at scale 2"
sleep 1
on_screen "$editor" "the editor at scale 2"
shot editor-scale2 "$editor"
# The watermark's panels: Watermark (Alt+K), then Font and Colour (Alt+U).
xdotool windowfocus --sync "$main"
key alt+k
panel=$(timeout "$patience" bash -c "$(declare -f waitwin); waitwin '^Watermark$'") || fail "no watermark panel"
xdotool windowfocus --sync "$panel"
key alt+u
colours=$(timeout "$patience" bash -c "$(declare -f waitwin); waitwin '^Watermark Colour$'") ||
  fail "no watermark colour panel"
sleep 0.5
xdotool windowraise "$colours"
sleep 0.5
shot watermark-colour-panel-scale2 "$colours"
xdotool windowfocus --sync "$main"
key ctrl+q
until_true gone || fail "the program did not quit at scale 2"
echo "e2e: ok"
