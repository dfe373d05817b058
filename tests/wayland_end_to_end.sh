#!/usr/bin/env bash
# End-to-end test on Wayland: run the program with Qt's wayland platform in a
# headless sway, press on it through a virtual pointer, type with wtype, and
# check each screenshot of the drawing area (grim) against the program's own
# arithmetic for the presses so far. Once at output scale 1, then at 2 and at
# 1.5, where every grid point must stay a crisp block of its own colour.
#
#   wayland_end_to_end.sh PROGRAM PICTURE_CHECK VIRTUAL_POINTER
#
# A missing tool makes it exit 77 (skipped), never pass.
set -euo pipefail

program=$1
picture_check=$2
virtual_pointer=${3:-}
app_id=net.escapetime.Mandelbrot

skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*" >&2; exit 1; }

for tool in sway swaymsg grim wtype jq setpriv; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done
compgen -G '/usr/lib/*/qt6/plugins/platforms/libqwayland-generic.so' >/dev/null ||
  skip "Qt's wayland platform is not installed (qt6-wayland)"
[ -n "$virtual_pointer" ] && [ -x "$virtual_pointer" ] || skip "virtual_pointer was not built (it needs libwayland-dev)"
[ -x "$program" ] || skip "$program is not installed"

work=$(mktemp -d)
sway_pid=
program_pid=
pointer_pid=

# stop PID: end a process started here, and reap it.
stop() {
  local pid=$1 state
  [ -n "$pid" ] || return 0
  kill -TERM "$pid" 2>/dev/null || true
  for _ in $(seq 50); do
    read -r _ _ state _ 2>/dev/null <"/proc/$pid/stat" || break
    [ "$state" = Z ] && break
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}
cleanup() {
  stop "$program_pid"
  stop "$pointer_pid"
  stop "$sway_pid"
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

# sway refuses to run as root, and CI runs as root: then the whole session,
# sway and its clients alike, runs as nobody.
as_user=()
if [ "$(id -u)" -eq 0 ]; then
  as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
  chown nobody:nogroup "$work"
fi
# The user may not reach a build tree: the pointer runs from a copy, and so
# does the program when it is not where every user can run it.
cp "$virtual_pointer" "$work/virtual_pointer"
if ! "${as_user[@]}" test -x "$program"; then
  cp "$program" "$work/program"
  program=$work/program
fi

# The current session's user and environment: nothing of the caller's
# display, Qt or sanitizer settings. An array rather than a function, so that
# a process started with it in the background is the one that $! names.
set_session_env() {
  session_env=("${as_user[@]}" env -i PATH="$PATH" HOME="$session/home" LANG=C.UTF-8 XDG_RUNTIME_DIR="$runtime"
               SWAYSOCK="$runtime/sway.sock" WAYLAND_DISPLAY="$wayland_display")
}
as_session() { "${session_env[@]}" "$@"; }

# within SECONDS COMMAND...: retry until the command succeeds.
within() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@" >/dev/null 2>&1; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.1
  done
}

window_json() { as_session swaymsg -r -t get_tree | jq -ce '[.. | objects | select(.name? == "Form1")] | first'; }

# start_session NAME SCALE MODE: a fresh headless sway whose one output has
# that scale and mode (1024 x 768 logical pixels), the virtual pointer, and
# the program. The window is moved to (100, 60): at scale 1.5 the drawing
# area then starts on a whole device pixel, and grim crops it as it is; from
# half a device pixel grim would resample the screenshot itself.
start_session() {
  local name=$1 mode=$3
  scale=$2
  session=$work/$name
  runtime=$session/runtime
  wayland_display=
  shot=0
  mkdir -p "$runtime" "$session/home"
  chmod 0700 "$runtime"
  [ ${#as_user[@]} -eq 0 ] || chown -R nobody:nogroup "$session"
  set_session_env
  cat >"$session/config" <<EOF
# No XWayland: the program comes up as a Wayland client or not at all.
xwayland disable
output * mode $mode scale $scale
default_border none
default_floating_border none
EOF
  "${session_env[@]}" WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
    sway -c "$session/config" >"$session/sway.log" 2>&1 &
  sway_pid=$!
  within 10 as_session swaymsg -t get_version || { cat "$session/sway.log" >&2; fail "sway did not start"; }
  wayland_display=$(cd "$runtime" && find . -maxdepth 1 -type s -name 'wayland-*' -printf '%f\n' | head -n 1)
  [ -n "$wayland_display" ] || fail "sway made no Wayland socket"
  set_session_env

  # Before the program, so that it finds a pointer on the seat from the start.
  coproc POINTER { exec "${session_env[@]}" "$work/virtual_pointer" 1024 768 2>>"$session/pointer.log"; }
  pointer_pid=$POINTER_PID
  pointer_in=${POINTER[1]}
  pointer_out=${POINTER[0]}
  local answer=
  read -r -t 10 -u "$pointer_out" answer && [ "$answer" = ready ] ||
    { cat "$session/pointer.log" >&2; fail "the virtual pointer did not start"; }
  park_pointer

  "${session_env[@]}" QT_QPA_PLATFORM=wayland "$program" >"$session/program.log" 2>&1 &
  program_pid=$!
  if ! within 15 window_json; then
    cat "$session/program.log" >&2
    fail "no window Form1 appeared on Wayland at scale $scale"
  fi
  local window
  window=$(window_json)
  [ "$(jq -r .shell <<<"$window")" = xdg_shell ] || fail "Form1 is not a native Wayland window: $window"
  [ "$(jq -r .app_id <<<"$window")" = "$app_id" ] || fail "Form1 has app_id $(jq -r .app_id <<<"$window"), not $app_id"
  [ "$(jq -r '"\(.window_rect.width)x\(.window_rect.height)"' <<<"$window")" = 650x610 ] ||
    fail "Form1's client area is not 650 x 610: $window"
  move_window
}

move_window() {
  as_session swaymsg "[app_id=\"$app_id\"] move absolute position 100 60" >/dev/null
  local window x y
  window=$(window_json)
  x=$(jq '.rect.x + .window_rect.x' <<<"$window")
  y=$(jq '.rect.y + .window_rect.y' <<<"$window")
  [ "$x,$y" = 100,60 ] || fail "sway did not move Form1 to (100, 60): $window"
  picture_x=$((x + 56))
  picture_y=$((y + 64))
}

end_session() {
  kill -0 "$program_pid" 2>/dev/null || { cat "$session/program.log" >&2; fail "the program has ended"; }
  stop "$program_pid"
  program_pid=
  exec {pointer_in}>&- {pointer_out}<&-
  stop "$pointer_pid"
  pointer_pid=
  stop "$sway_pid"
  sway_pid=
  if [ -s "$session/program.log" ]; then
    echo "-- what the program said at scale $scale:"
    cat "$session/program.log"
  fi
}

# pointer COMMAND: one command to the virtual pointer, taken by sway.
pointer() {
  local answer=
  echo "$*" >&"$pointer_in"
  read -r -t 5 -u "$pointer_out" answer && [ "$answer" = ok ] ||
    { cat "$session/pointer.log" >&2; fail "the virtual pointer did not take: $*"; }
}

# sway draws the pointer into the output, screenshots included: between
# presses it waits in the corner, far from the window.
park_pointer() { pointer move 1023 767; }

# press X Y [BUTTON]: one press on the drawing area, spaced beyond the
# double-click interval.
press() {
  pointer move $((picture_x + $1)) $((picture_y + $2))
  pointer press "${3:-1}"
  pointer release "${3:-1}"
  park_pointer
  sleep 0.8
}

# check NAME [X,Y ...]: the drawing area must show the view after these
# presses, at the session's scale, taken at that scale: grim would otherwise
# smooth the screenshot itself.
check() {
  local name=$1
  shift
  sleep 1 # the drawing itself takes milliseconds; leave time for sway's next frame
  shot=$((shot + 1))
  local file="$session/$shot-$name.png"
  as_session grim -s "$scale" -g "$picture_x,$picture_y 500x500" "$file"
  local fraction=$scale # sway and grim take decimals, picture_check exact fractions
  [ "$scale" != 1.5 ] || fraction=3/2
  "$picture_check" --scale="$fraction" "$file" "$@" ||
    fail "$name at scale $scale: the picture is not what the arithmetic gives"
  last_shot=$file
}

echo "== scale 1: start-up, presses, new from the keyboard"
start_session scale-1 1 1024x768
check start
first=$last_shot
press 150 250
check one-press 150,250
press 300 180 3 # the right button zooms too
check right-button 150,250 300,180
# One wtype for all keys: its virtual keyboard lasts only as long as it runs.
# The first pause lets the program bind the new keyboard; Tab then moves the
# focus from the drawing area to "new", and space presses it.
as_session wtype -s 1000 -k Tab -s 300 -k space
check new-by-keyboard
if cmp -s "$first" "$last_shot"; then fail "new colours expected after new from the keyboard"; fi
end_session

echo "== scale 2: every grid point a 2 x 2 block of its colour"
start_session scale-2 2 2048x1536
check start
press 150 250
check one-press 150,250
end_session

echo "== scale 1.5: every grid point shown, in its own colour only"
start_session scale-1.5 1.5 1536x1152
check start
press 300 160
check one-press 300,160

echo "== from scale 1.5 to 2 while the program runs: the same view, redrawn crisp"
as_session swaymsg output '*' mode 2048x1536 scale 2 >/dev/null
scale=2
move_window
check one-press-after-rescale 300,160
end_session

echo "wayland end-to-end: all checks passed"
