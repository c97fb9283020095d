#!/usr/bin/env bash
# Cold start of the desktop window and its memory at rest, on a virtual X
# server: time from starting the program until its window is mapped, and the
# resident memory two seconds later. Run: xvfb-run -a bash bench/gui_start.sh
set -euo pipefail
bin=${1:-build/moirevance}
work=$(mktemp -d)
trap 'kill "$app" 2>/dev/null || true; rm -rf "$work"' EXIT
export XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config
start=$(date +%s%N)
"$bin" & app=$!
# Polled every 10 ms (xdotool's own --sync waits half a second between looks).
until xdotool search --onlyvisible --name '^Moirevance$' >/dev/null 2>&1; do
  if ! kill -0 "$app" 2>/dev/null; then wait "$app" && rc=0 || rc=$?; echo "the program ended (status $rc) before its window showed" >&2; exit 1; fi
  if (( ($(date +%s%N) - start) / 1000000000 >= 30 )); then echo "no window after 30 s" >&2; exit 1; fi
  sleep 0.01
done
shown=$(date +%s%N)
sleep 2
rss=$(awk '/VmRSS/ {print $2}' "/proc/$app/status")
echo "window shown after $(( (shown - start) / 1000000 )) ms; resident memory at rest ${rss} kB"
