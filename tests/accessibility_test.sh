#!/usr/bin/env bash
# What a screen reader sees of the program: starts it in an X server with a
# session D-Bus and the accessibility bus, and lets accessibility_test.py walk
# its accessibility tree and act through it.
#
#   accessibility_test.sh PROGRAM PICTURE_CHECK
#
# A missing tool makes the test skip (exit 77), never pass.
set -euo pipefail

program=$1
picture_check=$2

# pyatspi comes from Debian's python3-pyatspi, which only the system Python
# can import.
python=/usr/bin/python3
launcher=/usr/libexec/at-spi-bus-launcher
for tool in xvfb-run dbus-run-session gdbus xdotool import compare "$python"; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
[ -x "$launcher" ] || { echo "SKIP: $launcher is not installed (at-spi2-core)"; exit 77; }
"$python" -c 'import pyatspi' 2>/dev/null || { echo "SKIP: pyatspi is not installed (python3-pyatspi)"; exit 77; }
[ -x "$program" ] || { echo "SKIP: $program is not installed"; exit 77; }

if [ -z "${ACCESSIBILITY_TEST_SESSION:-}" ]; then
  export ACCESSIBILITY_TEST_SESSION=1
  exec xvfb-run -a -s "-screen 0 1024x768x24" dbus-run-session -- "$0" "$@"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The accessibility bus puts its socket here, not in the user's home.
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 0700 "$XDG_RUNTIME_DIR"

# Asking for the bus's address starts the bus; the registry starts when the
# first client connects.
gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus \
  --method org.a11y.Bus.GetAddress >/dev/null

# Qt joins the accessibility bus only when a screen reader runs, unless told to.
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
export QT_QPA_PLATFORM=xcb
"$python" "$(dirname "$0")/accessibility_test.py" "$program" "$picture_check" "$work"
