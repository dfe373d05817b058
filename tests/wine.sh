#!/usr/bin/env bash
# Runs a Windows program of the build under Wine; ctest's emulator for the
# Windows build.
#
#   wine.sh WINEPREFIX DLL_DIRS PROGRAM [ARGUMENTS...]
#
# The prefix is made on first use. DLL_DIRS, separated by colons, are where
# the program's DLLs are: Wine searches them as Windows searches PATH. Wine
# drops every variable whose name begins with QT_, but renames WINEQT_ ones
# back to QT_, so each QT_ variable is passed on that way.
set -euo pipefail

command -v wine >/dev/null || { echo "SKIP: wine is not installed"; exit 77; }
export WINEPREFIX=$1
shift
dll_dirs=$1
shift
export WINEDEBUG=${WINEDEBUG:--all}
# No offer to install .NET or a browser engine: the program uses neither.
export WINEDLLOVERRIDES="mscoree,mshtml="

mkdir -p "$(dirname "$WINEPREFIX")"
(
  flock 9
  [ -f "$WINEPREFIX/system.reg" ] || wineboot --init
) 9>"$WINEPREFIX.lock"

path=
IFS=: read -r -a dirs <<<"$dll_dirs"
for dir in "${dirs[@]}"; do
  path+="Z:${dir//\//\\};"
done
export WINEPATH="$path${WINEPATH:-}"

while read -r variable; do
  export "WINE$variable=${!variable}"
done < <(compgen -e | grep '^QT_' || true)
# Qt writes its messages, Qt Test's log among them, to the debugger when
# standard error is no console window, and under Wine that is lost.
export WINEQT_FORCE_STDERR_LOGGING=1
# The offscreen platform draws text with FreeType from a folder of fonts,
# which a Windows Qt looks for in its own folder; the host's serve instead.
if [ "${QT_QPA_PLATFORM:-}" = offscreen ] && [ -z "${QT_QPA_FONTDIR:-}" ]; then
  export WINEQT_QPA_FONTDIR='Z:\usr\share\fonts\truetype\dejavu'
fi

exec wine "$@"
