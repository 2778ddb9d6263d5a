# Sourced by the tests that run the real quorrel.exe: a private virtual
# display and a fresh Wine prefix of the test's own, made ready before the
# program starts.
#
#   . wine_session.sh
#   session_start WORK_DIR WINE_RUN EXE   # skips (77) or fails (1) by itself
#   ...                                   # DISPLAY and WINEPREFIX are set
#   session_stop                          # also run by the EXIT trap
#
# A prefix that is still being built when the program starts is what made the
# window come late or not at all: the first `wine` builds the prefix itself,
# starts the program while wineboot is still registering DLLs and runs its
# post-install steps beside it. So the prefix is built by `wineboot -i`
# first and `wineserver -w` waits until every process of that build has
# ended; only then does the program start, and its window is waited for.

skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*"; exit 1; }

session_xvfb_pid=
session_work=

# Bounds on a loaded two-core machine: building a prefix took 40-60 s here,
# a first window in a ready prefix 5-20 s.
: "${QUORREL_WINE_BOOT_SECONDS:=400}"
: "${QUORREL_WINE_WINDOW_SECONDS:=180}"

session_stop() {
  if [ -n "$session_work" ] && [ -d "$session_work/prefix" ]; then
    WINEPREFIX="$session_work/prefix" wineserver -k 2>/dev/null
    WINEPREFIX="$session_work/prefix" timeout 30 wineserver -w 2>/dev/null
  fi
  if [ -n "$session_xvfb_pid" ]; then
    kill "$session_xvfb_pid" 2>/dev/null && wait "$session_xvfb_pid" 2>/dev/null
    session_xvfb_pid=
  fi
  [ -n "$session_work" ] && rm -rf "$session_work"
  session_work=
}

# The PE header's machine field: 4c01 is i386, which needs a kernel that
# runs 32-bit code (wine32).
session_machine() {
  od -An -tx1 -j "$(($(od -An -tu4 -j60 -N4 "$1") + 4))" -N2 "$1" | tr -d ' \n'
}

session_start() {
  session_work=$1
  session_wine_run=$2
  session_exe=$3
  for tool in Xvfb xdotool wineserver timeout; do
    command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed"
  done
  [ -f "$session_exe" ] || fail "no program at $session_exe"
  if [ "$(session_machine "$session_exe")" = 4c01 ] &&
     ! sh "$(dirname "$session_wine_run")/can-run-i386"; then
    skip "32-bit program and this kernel runs no 32-bit code"
  fi
  mkdir -p "$session_work" || fail "no work folder"

  # A display number nobody holds; Xvfb itself refuses one taken meanwhile.
  n=90
  while [ $n -lt 250 ]; do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
      Xvfb ":$n" -screen 0 1600x1200x24 -nolisten tcp >"$session_work/xvfb.log" 2>&1 &
      session_xvfb_pid=$!
      export DISPLAY=":$n"
      tries=0
      until xdotool getmouselocation >/dev/null 2>&1; do
        tries=$((tries + 1))
        if ! kill -0 "$session_xvfb_pid" 2>/dev/null || [ $tries -gt 100 ]; then break; fi
        sleep 0.1
      done
      xdotool getmouselocation >/dev/null 2>&1 && break
      kill "$session_xvfb_pid" 2>/dev/null; wait "$session_xvfb_pid" 2>/dev/null
      session_xvfb_pid=
    fi
    n=$((n + 1))
  done
  [ -n "$session_xvfb_pid" ] || fail "Xvfb did not start: $(cat "$session_work/xvfb.log")"

  export WINEPREFIX="$session_work/prefix"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  started=$(date +%s)
  timeout "$QUORREL_WINE_BOOT_SECONDS" "$session_wine_run" wineboot -i >"$session_work/wineboot.log" 2>&1 ||
    fail "wineboot -i did not finish in ${QUORREL_WINE_BOOT_SECONDS} s: $(tail -n 5 "$session_work/wineboot.log")"
  timeout "$QUORREL_WINE_BOOT_SECONDS" wineserver -w ||
    fail "the prefix's processes did not end in ${QUORREL_WINE_BOOT_SECONDS} s"
  [ -f "$WINEPREFIX/system.reg" ] || fail "wineboot made no registry in $WINEPREFIX"
  echo "prefix ready after $(($(date +%s) - started)) s"
}

# Sets the prefix's screen DPI for programs started from now on. Wine reads
# HKCU\Control Panel\Desktop LogPixels first (winecfg writes it there) and
# the hardware profile's Software\Fonts LogPixels only where it is missing.
session_set_dpi() {
  "$session_wine_run" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f \
    >/dev/null 2>&1 || fail "could not set LogPixels $1"
  timeout 120 wineserver -w || fail "the prefix did not settle after setting LogPixels"
}

# Waits for a visible top-level window titled exactly $1 for at most
# QUORREL_WINE_WINDOW_SECONDS, or until process $2 (if given) has ended;
# prints the window's id, or nothing.
session_wait_window() {
  deadline=$(($(date +%s) + QUORREL_WINE_WINDOW_SECONDS))
  while [ "$(date +%s)" -lt "$deadline" ]; do
    if [ -n "${2:-}" ] && ! kill -0 "$2" 2>/dev/null; then return 1; fi
    w=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1)
    if [ -n "$w" ]; then echo "$w"; return 0; fi
    sleep 0.5
  done
  return 1
}
