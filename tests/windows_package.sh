#!/usr/bin/env bash
# The Windows installer and portable zip as a Windows user meets them, under
# Wine in an X server.
#
#   windows_package.sh package BUILD_DIR OBJDUMP
#       make both with CPack, unpack the zip into a folder whose path has a
#       space, and check what it ships: the program, the DLLs and plugins it
#       loads and nothing else, each hardened and free of aligned AVX moves
#   windows_package.sh installer BUILD_DIR PICTURE_CHECK
#       install silently into a fresh Wine prefix, drive the installed
#       program end to end at 100, 125, 150 and 200 % display scaling, in
#       light and in dark mode by turns, uninstall silently, and check that
#       nothing is left behind
#   windows_package.sh portable BUILD_DIR PICTURE_CHECK
#       drive the program of the unpacked zip end to end on Windows 11, in
#       dark mode at 150 %
#
# PICTURE_CHECK is a picture_check built for this machine. A missing tool
# makes it exit 77 (skipped), never pass.
set -euo pipefail

action=$1
build_dir=$2
tests_dir=$(cd "$(dirname "$0")" && pwd)
portable="$build_dir/portable copy"

skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*" >&2; exit 1; }

work=$(mktemp -d)
cleanup() {
  [ -z "${WINEPREFIX:-}" ] || wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The shipped files, one path a line, relative to the folder that holds them.
files_in() { (cd "$1" && find . -type f | sed 's|^\./||' | sort); }

make_packages() {
  local objdump=$1
  command -v makensis >/dev/null || skip "makensis is not installed (nsis)"
  rm -f "$build_dir"/mandelbrot-*-win64.exe "$build_dir"/mandelbrot-*-win64.zip
  (cd "$build_dir" && cpack -G "NSIS;ZIP" >"$work/cpack.log") || { cat "$work/cpack.log" >&2; fail "cpack failed"; }
  local package
  for package in "$build_dir"/mandelbrot-*-win64.exe "$build_dir"/mandelbrot-*-win64.zip; do
    [ -f "$package" ] || fail "cpack made no $package"
    echo "$(basename "$package"): $(du -k "$package" | cut -f1) KiB"
  done
  rm -rf "$portable"
  mkdir -p "$portable"
  (cd "$portable" && cmake -E tar xf "$build_dir"/mandelbrot-*-win64.zip)
  local root
  root=$(echo "$portable"/mandelbrot-*-win64)
  echo "unpacked: $(du -sk "$root" | cut -f1) KiB"

  echo "== only the program, its DLLs, Qt's plugins and the license"
  files_in "$root" >"$work/files"
  if grep -Ev '^(mandelbrot\.exe|[^/]+\.dll|platforms/qwindows\.dll|styles/qmodernwindowsstyle\.dll|LICENSE\.txt)$' \
    "$work/files"; then
    fail "the zip ships files that are none of these"
  fi

  echo "== every binary: ASLR with high entropy, DEP, no aligned 32- or 64-byte vector moves in memory"
  local binary characteristics aligned
  while read -r binary; do
    characteristics=$("$objdump" -p "$root/$binary" | awk '$1 == "DllCharacteristics" { print $2 }')
    # HIGH_ENTROPY_VA 0x20, DYNAMIC_BASE 0x40, NX_COMPAT 0x100
    (( (0x$characteristics & 0x160) == 0x160 )) || fail "$binary: DllCharacteristics $characteristics"
    # Windows aligns stacks to 16 bytes: such a move of a spilled vector
    # faults on a real Windows, and Wine hides it.
    aligned=$("$objdump" -d "$root/$binary" | grep -E '\svmov(aps|apd|dqa|dqa32|dqa64)\s.*%[yz]mm' | grep -c '(' || true)
    [ "$aligned" -eq 0 ] || fail "$binary: $aligned aligned ymm/zmm moves with a memory operand"
  done < <(grep -E '\.(exe|dll)$' "$work/files")

  echo "== the DLLs are exactly those the program and the plugins load"
  # What Wine implements of Windows itself; API sets (api-ms-win-*) are
  # names that Windows resolves to its own DLLs.
  local system_dlls=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
  [ -d "$system_dlls" ] || skip "Wine's own DLLs are not installed (wine64)"
  local queue=(mandelbrot.exe platforms/qwindows.dll styles/qmodernwindowsstyle.dll) needed=() name
  while [ ${#queue[@]} -gt 0 ]; do
    binary=${queue[0]}
    queue=("${queue[@]:1}")
    while read -r name; do
      local shipped
      shipped=$(grep -ix "$name" "$work/files" || true)
      if [ -n "$shipped" ]; then
        [[ " ${needed[*]} " == *" $shipped "* ]] || { needed+=("$shipped"); queue+=("$shipped"); }
      elif [[ ${name,,} != api-ms-win-* ]] && ! compgen -G "$system_dlls/${name,,}" >/dev/null; then
        fail "$binary loads $name, which is neither shipped nor part of Windows"
      fi
    done < <("$objdump" -p "$root/$binary" | awk '/DLL Name:/ { print $3 }')
  done
  for name in $(grep -E '^[^/]+\.dll$' "$work/files"); do
    [[ " ${needed[*]} " == *" $name "* ]] || fail "$name is shipped but nothing loads it"
  done
  echo "shipped: $(grep -c . "$work/files") files; DLLs loaded: ${needed[*]}"
}

# A fresh Wine prefix of this test's own; the program finds only the DLLs it
# ships.
start_wine() {
  command -v wine >/dev/null || skip "wine is not installed"
  export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  unset WINEPATH DISPLAY
  offscreen wineboot --init
}

# offscreen COMMAND...: a Wine command with no display, and then the wait
# until Wine has stopped. Wine's desktop starts with the first program and
# shows every later window on its display: the program must start it anew,
# in the X server of its end-to-end test.
offscreen() {
  local status=0
  "$@" || status=$?
  wineserver -w
  return "$status"
}

# end_to_end PROGRAM SCALE light|dark: the X11 end-to-end checks, run on a
# Windows program with Windows' display scale (SCALE a fraction such as 5/4)
# and mode for apps set so; the window must show the mode.
end_to_end() {
  echo "== at $2 device pixels per pixel, $3"
  offscreen wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /f \
    /d "$(awk -v s="$2" 'BEGIN { split(s, p, "/"); print 96 * p[1] / (p[2] ? p[2] : 1) }')" >/dev/null
  offscreen wine reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\Themes\Personalize' \
    /v AppsUseLightTheme /t REG_DWORD /d "$([ "$3" = light ] && echo 1 || echo 0)" /f >/dev/null
  printf '#!/bin/sh\nexec wine "%s"\n' "$1" >"$work/program"
  chmod +x "$work/program"
  "$tests_dir/end_to_end.sh" "$work/program" "$picture_check" "$2" | tee "$work/end_to_end.log"
  grep -q "^a $3 window;" "$work/end_to_end.log" || fail "the window is not $3"
  wineserver -k 2>/dev/null || true
  wineserver -w
}

installer_round_trip() {
  local installers=("$build_dir"/mandelbrot-*-win64.exe)
  local installer=${installers[0]}
  local version
  version=$(basename "$installer" -win64.exe)
  version=${version#mandelbrot-}
  start_wine

  echo "== silent install"
  offscreen wine "$installer" /S
  local folder="$WINEPREFIX/drive_c/Program Files/Mandelbrot Explorer"
  local start_menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Mandelbrot Explorer"
  local uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Mandelbrot Explorer'
  files_in "$folder" >"$work/installed"
  { files_in "$(echo "$portable"/mandelbrot-*-win64)"; echo Uninstall.exe; } | sort >"$work/expected"
  diff -u "$work/expected" "$work/installed" || fail "the installer and the zip ship different files"
  [ -f "$start_menu/Mandelbrot Explorer.lnk" ] || fail "no Start menu shortcut"
  offscreen wine reg query "$uninstall_key" | tr -d '\r' >"$work/registered"
  local value
  for value in "DisplayName REG_SZ Mandelbrot Explorer" "DisplayVersion REG_SZ $version" \
               "Publisher REG_SZ The Mandelbrot Explorer developers" \
               'DisplayIcon REG_SZ C:\Program Files\Mandelbrot Explorer\mandelbrot.exe' \
               'UninstallString REG_SZ "C:\Program Files\Mandelbrot Explorer\Uninstall.exe"'; do
    awk '{ $1 = $1; print }' "$work/registered" | grep -qxF "$value" ||
      { cat "$work/registered" >&2; fail "the uninstall entry lacks: $value"; }
  done
  echo "installed: $(du -sk "$folder" | cut -f1) KiB"

  echo "== the installed program at the scales of Windows' settings, light and dark"
  local scale mode=light
  for scale in 1 5/4 3/2 2; do
    end_to_end 'C:\Program Files\Mandelbrot Explorer\mandelbrot.exe' "$scale" "$mode"
    mode=$([ "$mode" = light ] && echo dark || echo light)
  done

  echo "== silent uninstall"
  offscreen wine "$folder/Uninstall.exe" /S
  [ ! -e "$folder" ] || { find "$folder" >&2; fail "the uninstaller left files behind"; }
  [ ! -e "$start_menu" ] || fail "the uninstaller left the Start menu folder behind"
  ! offscreen wine reg query "$uninstall_key" >/dev/null 2>&1 || fail "the uninstaller left its entry behind"
  ! offscreen wine reg query 'HKLM\Software\The Mandelbrot Explorer developers' >/dev/null 2>&1 ||
    fail "the uninstaller left the install folder's registry key behind"
  echo "uninstalled, nothing left behind"
}

case "$action" in
  package)
    make_packages "${3:?usage: windows_package.sh package BUILD_DIR OBJDUMP}"
    ;;
  installer)
    picture_check=${3:?usage: windows_package.sh installer BUILD_DIR PICTURE_CHECK}
    installer_round_trip
    ;;
  portable)
    picture_check=${3:?usage: windows_package.sh portable BUILD_DIR PICTURE_CHECK}
    start_wine
    offscreen winecfg -v win11
    offscreen wine cmd /c ver | grep -q 'Windows 10\.0\.2[2-9]' || skip "this Wine cannot be Windows 11"
    end_to_end "$(echo "$portable"/mandelbrot-*-win64)/mandelbrot.exe" 3/2 dark
    ;;
  *)
    echo "usage: windows_package.sh package|installer|portable BUILD_DIR ..." >&2
    exit 2
    ;;
esac
