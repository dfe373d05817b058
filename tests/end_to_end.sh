#!/usr/bin/env bash
# End-to-end test of the program as users run it: press on it, and check
# each screenshot of the drawing area against the program's own arithmetic
# for the presses so far.
#
#   end_to_end.sh PROGRAM PICTURE_CHECK [SCALE]
#   end_to_end.sh --page DIR PICTURE_CHECK [SCALE|DEVICE] [ENGINE]
#
# The first runs PROGRAM in an X server of its own and presses it with
# xdotool; the second opens the web page in DIR in a headless browser,
# ENGINE chromium (the default), firefox or webkit, and presses it through
# browser_driver.py, which in Chromium also taps it as a touch screen
# would. SCALE (1, 2 or a fraction such as 5/4) is the number of device
# pixels per pixel that the program draws at, as its display scaling makes
# it; DEVICE a phone or tablet of Chromium's, where the page shows the window
# as large as fits and presses are taps. Each check waits for the drawing,
# however long it takes: natively milliseconds, under an emulator seconds.
set -euo pipefail

if [ "$1" = --page ]; then
  page=$2
  engine=${5:-chromium}
  shift 2
  case $engine in
    chromium) tools=(/usr/bin/chromium /usr/bin/chromedriver) module=selenium ;;
    firefox) tools=(firefox-esr) module=websocket ;;
    webkit) tools=(/usr/bin/WebKitWebDriver Xvfb) module=selenium ;;
  esac
  tools+=(convert compare identify)
  /usr/bin/python3 -c "import $module" 2>/dev/null || { echo "SKIP: python3's $module is not installed"; exit 77; }
  [ -f "$page/index.html" ] || { echo "SKIP: no page in $page"; exit 77; }
else
  program=$1
  shift
  tools=(Xvfb xdotool import convert compare identify)
  [ -x "$program" ] || { echo "SKIP: $program is not installed"; exit 77; }
fi
picture_check=$1
scale=${2:-1}
for tool in "${tools[@]}"; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

ratio() { awk -v s="$scale" 'BEGIN { if (split(s, p, "/") == 2) s = p[1] / p[2]; print s }'; }  # 5/4 is 1.25

work=$(mktemp -d)
pid=
server=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  [ -n "$server" ] && kill "$server" 2>/dev/null || true
  if [ -n "${page:-}" ]; then
    # Closing its input ends the driver, which closes the browser.
    [ -z "${browser_in:-}" ] || exec {browser_in}>&-
    wait 2>/dev/null || true
    # What the page said, but for what this test's own readings of the
    # picture make Chromium say.
    grep -v -e '^console: INFO' "$work/console" >&2 || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }
differs() { [ "$(compare -metric AE "$1" "$2" null: 2>&1 || true)" != "0" ]; }
now() { date +%s.%N; }

# What the program is driven with: in device pixels of the screen, where the
# top-left of the window's client area is (X, Y).
#   click X Y BUTTON COUNT, burst X Y X Y ..., tap X Y, key NAME, screen FILE
if [ -n "${page:-}" ]; then
  coproc browser { exec /usr/bin/python3 "$(dirname "$0")/browser_driver.py" "$page" "$scale" "$engine" 2>"$work/console"; }
  browser_in=${browser[1]}
  browser_out=${browser[0]}
  started=$(now)
  ask() {
    local answer
    echo "$*" >&"$browser_in"
    read -r answer reply <&"$browser_out" || fail "the browser driver ended"
    [ "$answer" = ok ] || fail "browser: $answer $reply"
  }
  echo "== open $page in $engine ($scale)"
  device=$scale
  read -r ready reply <&"$browser_out" || { cat "$work/console" >&2; fail "the page did not show the program"; }
  [ "$ready" = ready ] || fail "browser: $ready $reply"
  # geometry: the page's place and scale, and where its layout puts "new"
  # and the prompt, from the driver's answer.
  geometry() { read -r X Y scale new_x new_y prompt_left prompt_top prompt_right prompt_bottom <<<"$reply"; }
  geometry
  click() { ask click "$@"; }
  burst() { ask burst "$@"; }
  tap() { [ "$engine" = chromium ] && ask tap "$@"; }
  key() { ask key "$1"; }
  screen() { ask screenshot "$1"; }
else
  # An X server of this run's own, on a display number it picks itself and
  # tells once it takes clients: runs side by side never share one.
  Xvfb -displayfd 3 -screen 0 2048x1536x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
  server=$!
  until [ -s "$work/display" ]; do
    kill -0 "$server" 2>/dev/null || { cat "$work/xvfb.log" >&2; fail "Xvfb did not start"; }
    sleep 0.1
  done
  export DISPLAY=:$(cat "$work/display")

  echo "== start $program"
  started=$(now)
  "$program" 2>"$work/stderr" &
  pid=$!
  window=$(xdotool search --sync --onlyvisible --name '^Form1$' | head -n 1)
  sleep 1
  eval "$(xdotool getwindowgeometry --shell "$window")"  # sets X and Y of the client area
  click() { xdotool mousemove "$1" "$2" click --repeat "$4" --delay 120 "$3"; }
  burst() {
    local steps=()
    while [ $# -gt 0 ]; do
      steps+=(mousemove "$1" "$2" click 1)
      shift 2
    done
    xdotool "${steps[@]}"
  }
  tap() { return 1; }
  key() { xdotool key "$1"; }
  screen() { import -window root "$1"; }
fi

# at X Y: the device pixel where a point of the client area is on the screen;
# a page that a phone's browser scales has fractional scales and origins.
at() { awk -v x="$1" -v y="$2" -v X="$X" -v Y="$Y" -v s="$(ratio)" 'BEGIN { printf "%d %d\n", X + x * s + 0.5, Y + y * s + 0.5 }'; }
if [ -z "${page:-}" ]; then
  # "new", and the strip under the drawing area that the prompt is printed on.
  read -r new_x new_y < <(at 604 552)
  read -r prompt_left prompt_top < <(at 55 578)
  read -r prompt_right prompt_bottom < <(at 355 602)
fi

# shoot FILE: the drawing area and, beside it, whether the prompt under it is
# printed (the strip it is printed on shows more than one colour). At a
# fractional scale the screen shows the area's edges a device pixel either
# way: it is cut out with a margin, which the background's colour trims.
shoot() {
  local picture_x picture_y end_x end_y margin=0 trim=()
  case $scale in *.*) margin=2 trim=(-trim) ;; esac
  read -r picture_x picture_y < <(at 56 64)
  read -r end_x end_y < <(at 556 564)
  screen "$work/screen.png"
  convert "$work/screen.png" -crop "$((end_x - picture_x + 2 * margin))x$((end_y - picture_y + 2 * margin))+$((picture_x - margin))+$((picture_y - margin))" \
    +repage "${trim[@]}" +repage "$1"
  convert "$work/screen.png" -crop "$((prompt_right - prompt_left))x$((prompt_bottom - prompt_top))+$prompt_left+$prompt_top" \
    +repage "$1.prompt.png"
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
  click $(at $((56 + $1)) $((64 + $2))) "${3:-1}" 1
  sleep 0.8
}

check start
if [ -n "${page:-}" ]; then
  ask fits
  echo "the whole window shows, $reply"
fi
echo "first picture checked $(awk "BEGIN { printf \"%.1f\", $(now) - $started }") s after the start"
first=$last_shot

echo "== presses"
press 150 250
check one-press 150,250
# The right button zooms too; WebKit's driver would hold it down for good.
press 300 180 "$([ "${engine:-}" = webkit ] && echo 1 || echo 3)"
check right-button 150,250 300,180
# Presses chosen so that every view keeps plenty of detail: one zoom too few
# or too many would show a different picture.
click $(at $((56 + 280)) $((64 + 60))) 1 2
check double-click 150,250 300,180 280,60 280,60

echo "== new by mouse"
click "$new_x" "$new_y" 1 1
check new-by-mouse
differs "$first" "$last_shot" || fail "new colours expected after new"
by_mouse=$last_shot

echo "== new by keyboard"
press 300 160
check detail 300,160
key Tab
sleep 0.3
if [ -n "${page:-}" ]; then
  # Headless Firefox's page never has the system's focus, so it shows no ring.
  ring=$([ "$engine" = firefox ] && echo no-ring || echo ring)
  ask focused
  [ "$reply" = "Command1 $ring" ] || fail "Tab from the picture reached $reply, not new with a focus ring"
  key shift-Tab
  ask focused
  [ "$reply" = "Picture1 $ring" ] || fail "shift-Tab from new reached $reply, not the picture with a focus ring"
  key Tab
fi
if [ "${engine:-}" = firefox ]; then
  # Nor do its key presses over WebDriver BiDi press a focused button.
  click "$new_x" "$new_y" 1 1
else
  key space
fi
check new-by-keyboard
differs "$by_mouse" "$last_shot" || fail "new colours expected after new from the keyboard"

echo "== a burst of presses, each drawn in turn"
burst $(at $((56 + 140)) $((64 + 280))) $(at $((56 + 430)) $((64 + 200))) $(at $((56 + 220)) $((64 + 450)))
check burst 140,280 430,200 220,450

if [ -z "${page:-}" ] && [[ $scale == */* ]]; then
  echo "== a press on the first device pixel that shows a point zooms about that point"
  # A device pixel shows the point its middle lies in (the first of two on
  # their edge); at 5/4, a position rounded down names the point before.
  click $(awk -v s="$(ratio)" -v X="$X" -v Y="$Y" \
    'BEGIN { print X + int(56 * s + 0.5) + int(301 * s - 0.5) + 1, Y + int(64 * s + 0.5) + int(161 * s - 0.5) + 1 }') 1 1
  sleep 0.8
  check first-device-pixel 140,280 430,200 220,450 301,161
fi

if tap $(at $((56 + 250)) $((64 + 250))); then
  echo "== a tap zooms as a press does"
  check tap 140,280 430,200 220,450 250,250
fi

if [ -n "${page:-}" ]; then
  echo "== the page's own files"
  ask served
  echo "$reply"
  # storm: 400 quick presses, beyond the deepest view, then random events;
  # then, from "new", the same again with fewer. Afterwards the page must
  # still draw exactly, and memory that grows in the second storm, after the
  # first took the page through every size it has, is memory lost: some 300
  # drawings' worth, were a drawing's pixels kept.
  storm() {
    echo "== two storms: 400 quick presses, beyond the deepest view, then random events"
    read -r storm_x storm_y < <(at $((56 + 300)) $((64 + 200)))
    local presses
    presses=$(for _ in $(seq 400); do echo "$storm_x $storm_y"; done)
    burst $presses
    ask storm 27 300
    ask memory
    echo "memory after the first storm, the core's and the page's: $reply"
    click "$new_x" "$new_y" 1 1
    burst $presses
    ask storm 28 100
    ask geometry
    geometry
    ask fits
    click "$new_x" "$new_y" 1 1
    check new-after-storm
    for point in 150,250 300,180 280,60; do
      press "${point%,*}" "${point#*,}"
    done
    check three-presses-after-storm 150,250 300,180 280,60
    ask memory
    echo "after the second: $reply"
  }
  case $engine/$device in
    chromium/1)
      echo "== timings"
      ask timings
      echo "$reply"
      echo "== what a screen reader is given"
      ask accessible
      echo "== installed as an app, and opened again without a network"
      ask installable
      ask offline
      geometry
      check offline
      ;;
    chromium/2)
      echo "== counted on the page where no worker starts, and by one worker until it fails"
      ask workers 0
      geometry
      press 150 250
      check without-workers 150,250
      ask workers 1
      geometry
      ask break-worker
      press 150 250
      check worker-failed 150,250
      ask logged "A worker counting the picture failed"
      echo "== a handler that fails"
      ask handler-fails $(at $((56 + 250)) $((64 + 250)))
      ;;
    chromium/phone)
      echo "== the phone turned on its side"
      ask rotate
      geometry
      ask fits
      echo "the whole window shows, $reply"
      check turned 140,280 430,200 220,450 250,250
      press 300 160
      check turned-and-tapped 140,280 430,200 220,450 250,250 300,160

      echo "== fingers and eyes on phones and tablets, light and dark"
      ask screens
      geometry
      echo "== the same picture in the dark scheme and in a contrast theme"
      click "$new_x" "$new_y" 1 1
      press 150 250
      for scheme in dark forced light; do
        ask scheme "$scheme"
        check "$scheme" 150,250
      done

      echo "== timings"
      ask timings
      echo "$reply"
      echo "== a phone four times slower"
      ask throttle 4
      for point in 200,300 310,190 250,260 120,400 380,320; do
        press "${point%,*}" "${point#*,}"
      done
      ask timings
      echo "$reply"
      ask throttle 1
      storm
      ;;
    firefox/1 | webkit/1)
      storm
      ;;
  esac
else
  echo "== legible in the system's colours"
  # contrast X Y WIDTH HEIGHT: the WCAG contrast ratio between the commonest
  # colour of that part of the client area and the one that stands out most.
  contrast() {
    read -r left top < <(at "$1" "$2")
    read -r right bottom < <(at $(($1 + $3)) $(($2 + $4)))
    convert "$work/legible.png" -crop "$((right - left))x$((bottom - top))+$left+$top" -depth 8 -format %c histogram:info:- |
      awk -F'[(),:]+' 'function linear(c) { c /= 255; return c <= 0.04045 ? c / 12.92 : ((c + 0.055) / 1.055) ^ 2.4 }
        { count[++n] = $1 + 0; lum[n] = 0.2126 * linear($3) + 0.7152 * linear($4) + 0.0722 * linear($5) + 0.05
          if (count[n] > count[common]) common = n }
        END { for (i = 1; i <= n; i++) { r = lum[i] / lum[common]; r = r < 1 ? 1 / r : r; if (r > best) best = r }
              printf "%.1f %s\n", best, lum[common] < 0.2 ? "dark" : "light" }'
  }
  screen "$work/legible.png"
  # "new" inside its frame; the prompt; the focus ring's band with the window.
  read -r new_contrast _ < <(contrast 579 547 51 11)
  read -r prompt_contrast _ < <(contrast 55 578 300 24)
  read -r ring_contrast window < <(contrast 46 200 10 100)
  echo "a $window window; contrast: new $new_contrast:1, the prompt $prompt_contrast:1, the focus ring $ring_contrast:1"
  awk "BEGIN { exit !($new_contrast >= 4.5 && $prompt_contrast >= 4.5 && $ring_contrast >= 3) }" ||
    fail "text under 4.5:1 or a focus ring under 3:1 against the window"

  echo "== still running"
  kill -0 "$pid" 2>/dev/null || fail "the program has ended"
  if [ -s "$work/stderr" ]; then grep -v XDG_RUNTIME_DIR "$work/stderr" || true; fi
fi
echo "end-to-end: all checks passed"
