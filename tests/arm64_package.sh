#!/usr/bin/env bash
# The arm64 Debian package as a user of an ARM machine meets it, under
# qemu-aarch64 in an X server.
#
#   arm64_package.sh package SOURCE_DIR ROOT
#       build the package from the arm64 build, check it with lintian,
#       check that it holds the same files as this machine's package, and
#       unpack it into ROOT
#   arm64_package.sh run ROOT PICTURE_CHECK QEMU_CPU [PRELOAD]
#       drive the unpacked program end to end on that emulated processor,
#       with the arm64 library PRELOAD loaded first if given
#
# The program loads Debian's arm64 Qt, installed beside this machine's by
# multiarch. A missing tool makes it exit 77 (skipped), never pass.
set -euo pipefail

tests_dir=$(cd "$(dirname "$0")" && pwd)

skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*" >&2; exit 1; }

# The paths a package holds, without the architecture.
contents() { dpkg-deb -c "$1" | awk '{ print $6 }' | sort; }

make_package() {
  local source_dir=$1 root=$2 arm64 native
  arm64=$("$tests_dir/package.sh" build "$source_dir" arm64)
  native=$("$tests_dir/package.sh" build "$source_dir" release)
  [[ $arm64 == *_arm64.deb ]] || fail "$arm64 is not named for arm64"
  [ "$(dpkg-deb -f "$arm64" Architecture)" = arm64 ] || fail "$arm64 is not for arm64"
  dpkg-deb -f "$arm64" Depends Recommends
  diff -u <(contents "$native") <(contents "$arm64") || fail "the arm64 and $(dpkg --print-architecture) packages hold different files"
  rm -rf "$root"
  dpkg-deb -x "$arm64" "$root"
  echo "$(basename "$arm64"): $(du -k "$arm64" | cut -f1) KiB, the same files as $(basename "$native")"
}

run_program() {
  local root=$1 picture_check=$2 cpu=$3 preload=${4:-}
  command -v qemu-aarch64 >/dev/null || skip "qemu-aarch64 is not installed (qemu-user)"
  compgen -G '/usr/lib/aarch64-linux-gnu/qt6/plugins/platforms/libqxcb.so' >/dev/null ||
    skip "Qt's arm64 X11 platform is not installed (qt6-qpa-plugins:arm64)"
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  local environment=()
  [ -z "$preload" ] || environment=(-E "LD_PRELOAD=$preload")
  printf '#!/bin/sh\nexec qemu-aarch64 -cpu %s %s "%s"\n' "$cpu" "${environment[*]}" "$root/usr/bin/mandelbrot" \
    >"$work/program"
  chmod +x "$work/program"
  QT_QPA_PLATFORM=xcb "$tests_dir/end_to_end.sh" "$work/program" "$picture_check"
}

case "${1:-}" in
  package) make_package "${2:?usage: arm64_package.sh package SOURCE_DIR ROOT}" "${3:?ROOT}" ;;
  run) run_program "${2:?usage: arm64_package.sh run ROOT PICTURE_CHECK QEMU_CPU [PRELOAD]}" "${3:?}" "${4:?}" "${5:-}" ;;
  *) echo "usage: arm64_package.sh package SOURCE_DIR ROOT | run ROOT PICTURE_CHECK QEMU_CPU [PRELOAD]" >&2; exit 2 ;;
esac
