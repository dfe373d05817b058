#!/usr/bin/env bash
# The Debian package as a user meets it. The end-to-end tests drive the
# program that this installs, not a build tree.
#
#   package.sh build SOURCE_DIR PRESET  build the package from a preset's
#                                       build, check it with lintian, and
#                                       print its path
#   package.sh install SOURCE_DIR       build the package of this machine's
#                                       architecture from the release build,
#                                       and install it with apt-get
#   package.sh remove                   purge it, and check that nothing it
#                                       installed is left behind
#
# Installing needs root or sudo without a password; without either the tests
# that need the package are skipped (exit 77), never passed.
set -euo pipefail

fail() { echo "FAIL: $*" >&2; exit 1; }

as_root=()
need_root() {
  if [ "$(id -u)" -ne 0 ]; then
    sudo -n true 2>/dev/null || { echo "SKIP: installing the package needs root or sudo without a password"; exit 77; }
    as_root=(sudo -n)
  fi
}
# Waits for another apt-get or dpkg run to finish rather than failing.
apt_get() { DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get -y -qq -o DPkg::Lock::Timeout=300 "$@"; }

package=mandelbrot

build_package() {
  local source_dir=$1 preset=$2
  local build_dir=$source_dir/build/$preset
  (cd "$source_dir" && cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" --target mandelbrot >/dev/null)
  rm -f "$build_dir"/${package}_*.deb
  (cd "$build_dir" && cpack -G DEB >/dev/null)
  local debs=("$build_dir"/${package}_*.deb)
  [ -f "${debs[0]}" ] || fail "cpack made no package"
  echo "== lintian $(basename "${debs[0]}")" >&2
  lintian --fail-on error,warning "${debs[0]}" >&2
  echo "${debs[0]}"
}

install_package() {
  local source_dir=$1
  local build_dir=$source_dir/build/release
  need_root
  local deb
  deb=$(build_package "$source_dir" release)
  [[ $deb == *_"$(dpkg --print-architecture)".deb ]] || fail "$deb is not for this machine"

  echo "== install"
  # A package left installed by an interrupted run would make apt-get keep
  # the old files.
  if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed"; then
    apt_get purge "$package" >/dev/null
  fi
  apt_get install "$deb" >/dev/null
  dpkg-query -W -f='${Status}' "$package" | grep -q "ok installed" || fail "$package is not installed"

  echo "== the package holds what cmake --install installs, under /usr"
  local work
  work=$(mktemp -d)
  trap 'rm -rf "$work"' RETURN
  cmake --install "$build_dir" --prefix "$work/root/usr" >/dev/null
  (cd "$work/root" && find . -type f -o -type l) | sed 's|^\.||' | sort >"$work/installed"
  dpkg -L "$package" | while read -r path; do [ -d "$path" ] || echo "$path"; done | sort >"$work/packaged"
  diff -u "$work/installed" "$work/packaged" || fail "the package and cmake --install differ"
  if grep -E 'test|bench|picture_check' "$work/packaged"; then fail "test or benchmark files packaged"; fi

  echo "== desktop entry and metainfo"
  local app_id=net.escapetime.Mandelbrot
  desktop-file-validate "/usr/share/applications/$app_id.desktop"
  appstreamcli validate --no-net "/usr/share/metainfo/$app_id.metainfo.xml" >/dev/null
  grep -q "<project_license>MIT</project_license>" "/usr/share/metainfo/$app_id.metainfo.xml" ||
    fail "the metainfo declares another license than LICENSE"
  grep -q "^MIT License" "/usr/share/doc/$package/copyright" || fail "copyright is not the MIT license"
  cmp -s "$source_dir/LICENSE" "/usr/share/doc/$package/copyright" || fail "copyright differs from LICENSE"
  echo "package: installed $(dpkg-query -W -f='${Version}' "$package")"
}

remove_package() {
  need_root
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || { echo "package: not installed"; return; }
  local files
  files=$(dpkg -L "$package")
  apt_get purge "$package" >/dev/null
  local left=0
  while read -r path; do
    [ -e "$path" ] || continue
    # A directory that other packages share, such as /usr/share/icons, stays.
    if [ -d "$path" ] && dpkg -S "$path" >/dev/null 2>&1; then continue; fi
    echo "left behind: $path" >&2
    left=1
  done <<<"$files"
  [ "$left" -eq 0 ] || fail "removing the package left files behind"
  echo "package: removed, nothing left behind"
}

case "${1:-}" in
  build) build_package "${2:?usage: package.sh build SOURCE_DIR PRESET}" "${3:?usage: package.sh build SOURCE_DIR PRESET}" ;;
  install) install_package "${2:?usage: package.sh install SOURCE_DIR}" ;;
  remove) remove_package ;;
  *) echo "usage: package.sh build SOURCE_DIR PRESET | install SOURCE_DIR | remove" >&2; exit 2 ;;
esac
