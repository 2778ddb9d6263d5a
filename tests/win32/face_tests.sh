#!/bin/sh
# Runs the Win32 face tests (the real window under Wine on a private virtual
# display) once at each screen DPI, set in the test's own fresh prefix:
#
#   face_tests.sh WIN32_FACE_TESTS_EXE WINE_RUN [DPI...]   (default 96 144 192)
#
# Exit 0 passed, 1 failed, 77 skipped (no Xvfb, or a 32-bit program on a
# kernel that runs no 32-bit code).
set -u
exe=$1
wine_run=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
shift 2
[ $# -gt 0 ] || set -- 96 144 192
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine_session.sh"
trap session_stop EXIT
trap 'exit 1' INT TERM

work=$(mktemp -d /tmp/quorrel-face-XXXXXX) || fail "no temp folder"
session_start "$work" "$wine_run" "$exe"
# The window's load reads Settings.ini beside the program: a folder of its own.
mkdir -p "$work/app"
cp "$exe" "$work/app/face_tests.exe"

failed=
for dpi in "$@"; do
  session_set_dpi "$dpi"
  echo "== $dpi dpi"
  if ! (cd "$work/app" && QUORREL_EXPECT_DPI=$dpi timeout 300 "$wine_run" ./face_tests.exe --gtest_brief=1); then
    failed="$failed $dpi"
  fi
  timeout 60 wineserver -w
done
[ -z "$failed" ] || fail "face tests failed at dpi:$failed"
echo "PASS: face tests at $* dpi"
