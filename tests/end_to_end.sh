#!/usr/bin/env bash
# End-to-end test in a real X server: start the installed program, press on
# it with xdotool, and check each screenshot of the drawing area against the
# program's own arithmetic for the presses so far.
#
#   end_to_end.sh PROGRAM PICTURE_CHECK
set -euo pipefail

program=$1
picture_check=$2

for tool in xvfb-run xdotool import compare; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
[ -x "$program" ] || { echo "SKIP: $program is not installed"; exit 77; }

if [ -z "${END_TO_END_DISPLAY:-}" ]; then
  export END_TO_END_DISPLAY=1
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

work=$(mktemp -d)
pid=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

echo "== start $program"
"$program" 2>"$work/stderr" &
pid=$!
window=$(xdotool search --sync --onlyvisible --name '^Form1$' | head -n 1)
sleep 1
eval "$(xdotool getwindowgeometry --shell "$window")"  # sets X and Y of the client area
picture_x=$((X + 56))
picture_y=$((Y + 64))

shot=0
# check NAME [X,Y ...]: the drawing area must show the view after these presses.
check() {
  local name=$1
  shift
  sleep 1  # the drawing itself takes milliseconds; leave time for the X server
  shot=$((shot + 1))
  local file="$work/$shot-$name.png"
  import -window root -crop "500x500+$picture_x+$picture_y" +repage "$file"
  "$picture_check" "$file" "$@" || fail "$name: the picture is not what the arithmetic gives"
  last_shot=$file
}
# press X Y: one press on the drawing area, spaced beyond the double-click interval.
press() {
  xdotool mousemove $((picture_x + $1)) $((picture_y + $2)) click "${3:-1}"
  sleep 0.8
}
differs() { [ "$(compare -metric AE "$1" "$2" null: 2>&1 || true)" != "0" ]; }

check start
first=$last_shot

echo "== presses"
press 150 250
check one-press 150,250
press 300 180 3  # the right button zooms too
check right-button 150,250 300,180
# Presses chosen so that every view keeps plenty of detail: one zoom too few
# or too many would show a different picture.
xdotool mousemove $((picture_x + 280)) $((picture_y + 60)) click --repeat 2 --delay 120 1
check double-click 150,250 300,180 280,60 280,60

echo "== new by mouse"
xdotool mousemove $((X + 576 + 28)) $((Y + 544 + 8)) click 1
check new-by-mouse
differs "$first" "$last_shot" || fail "new colours expected after new"
by_mouse=$last_shot

echo "== new by keyboard"
press 300 160
check detail 300,160
xdotool key Tab
sleep 0.3
xdotool key space
check new-by-keyboard
differs "$by_mouse" "$last_shot" || fail "new colours expected after new from the keyboard"

echo "== still running"
kill -0 "$pid" 2>/dev/null || fail "the program has ended"
if [ -s "$work/stderr" ]; then grep -v XDG_RUNTIME_DIR "$work/stderr" || true; fi
echo "end-to-end: all checks passed"
