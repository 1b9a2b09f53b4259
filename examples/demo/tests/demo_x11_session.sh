#!/usr/bin/env bash
# The demo in a real window on an X server, driven by real key presses: a key ends the camera flight,
# F8 takes a picture, W held walks forward, F8 again, F11 closes. Passes when the engine exits with 0 and
# the two pictures differ. Run under xvfb-run (or any X display).
# usage: demo_x11_session.sh LAYOUT_SCRIPT BUILD_DIR
set -euo pipefail
layout=$1
build=$2
if [ -z "${DISPLAY:-}" ] || ! command -v xdotool > /dev/null; then
  echo "no X display or no xdotool: skipped"
  exit 0
fi
run=$(mktemp -d)
trap 'rm -rf "$run"' EXIT
"$layout" "$build" "$run"
cd "$run"
SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER=dummy ENGINE_MSGBOX_ANSWER=no ./engine > engine.log 2>&1 &
engine=$!

window=$(xdotool search --sync --onlyvisible --name core_client | head -n 1)
press() { xdotool key --window "$window" "$@"; }
sleep 3                 # start-up and a little of the flight
xdotool windowactivate --sync "$window" 2> /dev/null || xdotool windowfocus --sync "$window"
press space             # the user takes over where the flight was
sleep 1
press F8
sleep 1
xdotool keydown --window "$window" w
sleep 1.5
xdotool keyup --window "$window" w
sleep 0.5
press F8
sleep 1
press F11
status=0
wait "$engine" || status=$?
cat engine.log
if [ "$status" -ne 0 ]; then echo "engine exit status $status"; exit 1; fi
for shot in shot0000.tga shot0001.tga; do
  [ -f "$shot" ] || { echo "missing $shot"; ls; exit 1; }
done
# Walking forward changes the picture: count the 16-bit pixels that differ (header skipped).
differing=$( (cmp -l <(tail -c +19 shot0000.tga) <(tail -c +19 shot0001.tga) || true) | wc -l)
echo "bytes that differ after walking: $differing"
[ "$differing" -gt 100000 ]
