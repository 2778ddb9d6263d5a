#!/bin/sh
# End-to-end run of the real quorrel.exe under Wine on a private virtual display:
# start it beside a prepared Settings.ini, press Start with a real click, let
# pings to 127.0.0.1 pass, take a screenshot, close the window and check what
# the program left behind.
#
#   e2e_wine.sh QUORREL_EXE WINE_RUN ARTEFACT_DIR
#
# Exit 0 passed, 1 failed, 77 skipped (no Xvfb or xdotool, or a 32-bit program
# on a kernel that cannot run 32-bit code). QUORREL_E2E_RSS_SECONDS=60 keeps
# the program monitoring that long and reports its resident set (not checked).
set -u
exe=$1
wine_run=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
artefacts=$3
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine_session.sh"

app_pid=
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
  session_stop
}
trap cleanup EXIT
trap 'exit 1' INT TERM

work=$(mktemp -d /tmp/quorrel-e2e-XXXXXX) || fail "no temp folder"
session_start "$work" "$wine_run" "$exe"

# The program keeps its files beside itself.
app="$work/app"
mkdir -p "$app" "$artefacts"
cp "$exe" "$app/quorrel.exe"
printf '[Options]\r\nIP=127.0.0.1\r\nInterval=1\r\nSave log on exit=1\r\n' >"$app/Settings.ini"
(cd "$app" && exec "$wine_run" ./quorrel.exe) >"$work/wine.log" 2>&1 &
app_pid=$!
started=$(date +%s)

window=$(session_wait_window 'Quorrel by Vandrel' "$app_pid") ||
  fail "the window did not appear in ${QUORREL_WINE_WINDOW_SECONDS} s: $(tail -n 5 "$work/wine.log")"
echo "window $window appeared after $(($(date +%s) - started)) s"
sleep 2

# Without a window manager Wine gives the X window exactly the client area.
# Start sits at twips (6960, 120, 855, 375) of the 7890 x 6735 client area;
# its middle is found by proportion, whatever the prefix's DPI.
eval "$(xdotool getwindowgeometry --shell "$window")"
cx=$((X + WIDTH * 7387 / 7890))
cy=$((Y + HEIGHT * 307 / 6735))
xdotool mousemove --sync "$cx" "$cy"
sleep 0.3
xdotool click 1
clicked=$(date +%s)
echo "clicked &Start at $cx,$cy"

# Interval 1: a ping every 2 s; ten seconds give at least three, with room
# for a loaded machine.
sleep 10
shot="$artefacts/e2e-screenshot.png"
if command -v import >/dev/null 2>&1; then
  import -window root "$shot" && echo "screenshot $shot"
else
  xwd -root -silent >"$artefacts/e2e-screenshot.xwd" && echo "screenshot $artefacts/e2e-screenshot.xwd"
fi

rss() { sed -n 's/^VmRSS:[[:space:]]*//p' "/proc/$app_pid/status" 2>/dev/null; }
echo "resident set after $(($(date +%s) - started)) s: $(rss)"
if [ -n "${QUORREL_E2E_RSS_SECONDS:-}" ]; then
  while [ $(($(date +%s) - clicked)) -lt "$QUORREL_E2E_RSS_SECONDS" ]; do sleep 1; done
  echo "resident set after ${QUORREL_E2E_RSS_SECONDS} s of monitoring: $(rss)"
fi

# Alt+F4 reaches DefWindowProc as SC_CLOSE, i.e. the close box's WM_CLOSE.
xdotool key --window "$window" alt+F4 2>/dev/null
tries=0
while kill -0 "$app_pid" 2>/dev/null; do
  tries=$((tries + 1))
  [ $tries -gt 150 ] && fail "the program did not end after WM_CLOSE"
  sleep 0.2
done
wait "$app_pid"
echo "program ended with status $?"
app_pid=

log="$app/pinglog.txt"
[ -f "$log" ] || fail "no pinglog.txt"
stamp='[0-9][0-9][^0-9][0-9][0-9][^0-9][0-9][0-9] [0-9][0-9][^0-9][0-9][0-9][^0-9][0-9][0-9]'
grep -q "^$stamp - Monitoring started" "$log" || fail "pinglog.txt lacks 'Monitoring started'"
passed=$(grep -c "^$stamp - Ping 127\.0\.0\.1 passed : DS .* KB - .* KB, US .* KB - .* KB" "$log")
echo "pinglog.txt:"
sed 's/\r$//; s/^/  /' "$log"
[ "$passed" -ge 3 ] || fail "only $passed passed pings in pinglog.txt"
[ "$(grep -c "$(printf '\r')\$" "$log")" -eq "$(wc -l <"$log")" ] || fail "pinglog.txt lines do not end in CR LF"
for key in 'Fix path' 'IP' 'Interval' 'Changes only' 'Save log on exit'; do
  grep -q "^$key=" "$app/Settings.ini" || fail "Settings.ini lacks $key"
done
echo "Settings.ini:"
sed 's/\r$//; s/^/  /' "$app/Settings.ini"
echo "PASS: $passed passed pings logged, all five settings written"
