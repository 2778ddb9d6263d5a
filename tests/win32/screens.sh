#!/bin/sh
# Screenshots of the real quorrel.exe under Wine at several screen DPIs, for
# looking at the layout by eye (not a test):
#
#   screens.sh QUORREL_EXE WINE_RUN OUT_DIR NAME [DPI...]
#
# writes OUT_DIR/NAME-<dpi>dpi.png for each DPI (default 96 and 192), each
# taken a few seconds after Start so the log and the lamps show something.
# QUORREL_SCREENS_IP sets the destination (default 127.0.0.1; empty shows the
# box's hint); QUORREL_SCREENS_DARK=1 gives the prefix a dark colour scheme.
set -u
exe=$1
wine_run=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
out=$3
name=$4
shift 4
[ $# -gt 0 ] || set -- 96 192
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine_session.sh"
command -v import >/dev/null 2>&1 || skip "import (ImageMagick) is not installed"

app_pid=
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
  session_stop
}
trap cleanup EXIT
trap 'exit 1' INT TERM

work=$(mktemp -d /tmp/quorrel-screens-XXXXXX) || fail "no temp folder"
session_start "$work" "$wine_run" "$exe"
mkdir -p "$out" "$work/app"
if [ -n "${QUORREL_SCREENS_DARK-}" ]; then
  key='HKCU\Control Panel\Colors'
  for pair in "ButtonFace 45 45 45" "Window 30 30 30" "WindowText 255 255 255" \
    "ButtonText 255 255 255" "GrayText 150 150 150" "ButtonShadow 20 20 20" \
    "ButtonHilight 80 80 80" "ButtonLight 64 64 64" "ButtonDkShadow 0 0 0" \
    "Menu 45 45 45" "MenuText 255 255 255" "InfoWindow 45 45 45" "InfoText 255 255 255"; do
    colour=${pair%% *}
    wine reg add "$key" /v "$colour" /t REG_SZ /d "${pair#* }" /f >/dev/null 2>&1 ||
      fail "could not set $colour"
  done
  timeout 60 wineserver -w
fi
out=$(cd "$out" && pwd)
cp "$exe" "$work/app/quorrel.exe"

for dpi in "$@"; do
  session_set_dpi "$dpi"
  printf '[Options]\r\nIP=%s\r\nInterval=1\r\n' "${QUORREL_SCREENS_IP-127.0.0.1}" >"$work/app/Settings.ini"
  (cd "$work/app" && exec "$wine_run" ./quorrel.exe) >"$work/wine.log" 2>&1 &
  app_pid=$!
  window=$(session_wait_window 'Quorrel by Vandrel' "$app_pid") || fail "no window at $dpi dpi"
  sleep 2
  eval "$(xdotool getwindowgeometry --shell "$window")"
  xdotool mousemove --sync $((X + WIDTH * 7387 / 7890)) $((Y + HEIGHT * 307 / 6735)) click 1
  # Away from the controls, so no button shows as hot.
  xdotool mousemove --sync $((X + WIDTH + 20)) $((Y + HEIGHT + 20))
  sleep 5
  import -window "$window" "$out/$name-${dpi}dpi.png" || fail "no screenshot at $dpi dpi"
  echo "$out/$name-${dpi}dpi.png: ${WIDTH}x${HEIGHT}"
  xdotool key --window "$window" alt+F4 2>/dev/null
  tries=0
  while kill -0 "$app_pid" 2>/dev/null; do
    tries=$((tries + 1))
    [ $tries -gt 150 ] && fail "the program did not end at $dpi dpi"
    sleep 0.2
  done
  app_pid=
  timeout 60 wineserver -w
done
