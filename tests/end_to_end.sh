#!/usr/bin/env bash
# End-to-end test in a real X server: start the installed program, press on
# it with xdotool, and check each screenshot of the drawing area against the
# program's own arithmetic for the presses so far.
#
#   end_to_end.sh PROGRAM PICTURE_CHECK [SCALE]
#
# SCALE (1 or 2) is the number of device pixels per pixel that the program
# draws at, as its platform's display scaling makes it. Each check waits for
# the drawing to be finished, however long the program takes: natively a
# drawing takes milliseconds, under an emulator seconds.
set -euo pipefail

program=$1
picture_check=$2
scale=${3:-1}

for tool in Xvfb xdotool import compare; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
[ -x "$program" ] || { echo "SKIP: $program is not installed"; exit 77; }

work=$(mktemp -d)
pid=
server=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  [ -n "$server" ] && kill "$server" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }
differs() { [ "$(compare -metric AE "$1" "$2" null: 2>&1 || true)" != "0" ]; }

# An X server of this run's own, on a display number it picks itself and
# tells once it takes clients: runs side by side never share one.
Xvfb -displayfd 3 -screen 0 $((1024 * scale))x$((768 * scale))x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
server=$!
until [ -s "$work/display" ]; do
  kill -0 "$server" 2>/dev/null || { cat "$work/xvfb.log" >&2; fail "Xvfb did not start"; }
  sleep 0.1
done
export DISPLAY=:$(cat "$work/display")

echo "== start $program"
"$program" 2>"$work/stderr" &
pid=$!
window=$(xdotool search --sync --onlyvisible --name '^Form1$' | head -n 1)
sleep 1
eval "$(xdotool getwindowgeometry --shell "$window")"  # sets X and Y of the client area
# at X Y: where a point of the client area is on the screen.
at() { echo $((X + $1 * scale)) $((Y + $2 * scale)); }
read -r picture_x picture_y < <(at 56 64)
side=$((500 * scale))

# shoot FILE: the drawing area and, beside it, whether the prompt under it is
# printed (the strip it is printed on shows more than one colour).
shoot() {
  local prompt_x prompt_y
  read -r prompt_x prompt_y < <(at 55 578)
  import -window root -crop "${side}x$side+$picture_x+$picture_y" +repage "$1"
  import -window root -crop "$((300 * scale))x$((24 * scale))+$prompt_x+$prompt_y" +repage "$1.prompt.png"
  [ "$(identify -format %k "$1.prompt.png")" -gt 1 ]
}
# settled FILE: a screenshot with the prompt printed, equal to one taken a
# moment later, so that it shows no drawing on its way to the screen.
settled() {
  shoot "$1" && sleep 0.3 && shoot "$1.again.png" && ! differs "$1" "$1.again.png"
}

shot=0
# check NAME [X,Y ...]: the drawing area must show the view after these
# presses. Until the program has drawn it, the screen shows an earlier view,
# which the arithmetic of this one does not explain; it is checked again
# until the limit.
check() {
  local name=$1 deadline=$((SECONDS + 120))
  shift
  shot=$((shot + 1))
  local file="$work/$shot-$name.png"
  echo "the drawing area never settled with the prompt printed under it" >"$work/verdict"
  until settled "$file" && "$picture_check" --scale="$scale" "$file" "$@" >"$work/verdict" 2>&1; do
    [ "$SECONDS" -lt "$deadline" ] || { cat "$work/verdict" >&2; fail "$name: the picture is not what the arithmetic gives"; }
    sleep 0.5
  done
  cat "$work/verdict"
  last_shot=$file
}
# press X Y [BUTTON]: one press on the drawing area, spaced beyond the
# double-click interval.
press() {
  xdotool mousemove $((picture_x + $1 * scale)) $((picture_y + $2 * scale)) click "${3:-1}"
  sleep 0.8
}

check start
first=$last_shot

echo "== presses"
press 150 250
check one-press 150,250
press 300 180 3  # the right button zooms too
check right-button 150,250 300,180
# Presses chosen so that every view keeps plenty of detail: one zoom too few
# or too many would show a different picture.
xdotool mousemove $((picture_x + 280 * scale)) $((picture_y + 60 * scale)) click --repeat 2 --delay 120 1
check double-click 150,250 300,180 280,60 280,60

echo "== new by mouse"
xdotool mousemove $(at $((576 + 28)) $((544 + 8))) click 1
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
