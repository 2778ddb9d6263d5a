#!/bin/bash
# The whole Linux program, measured as a user meets it, each figure beside its
# anchor from the same run:
#  1. launch to window visible, with 5 and 1025 interfaces (lo and veth pairs in
#     a namespace made here), against a bare Qt window launched the same way;
#  2. the CPU the monitoring program uses in 60 s (from /proc/<pid>/stat, and
#     /proc/<pid>/task/*/schedstat for nanoseconds), beside `nload -t 1000` and
#     `fping -l -p 1000 127.0.0.1` running as long in the same namespace.
# The program pings 127.0.0.1 only (a Settings.ini beside a copy of it says
# so); everything runs in the namespaces made here, on a private Xvfb display.
# Needs root, Xvfb, xdotool, nload, fping. Usage: bench/program_bench.sh [build dir...]
# With several build folders (a change's before and after) each program is
# measured in turn in the same run, beside the same anchors.
set -euo pipefail

BUILDS=("${@:-build/net}")
ANCHOR=${BUILDS[0]}/bench/bare_qt_window
RUNS=${RUNS:-5}
MONITOR_SECONDS=${MONITOR_SECONDS:-60}
PARTS=${PARTS:-launch cpu}  # either or both
COUNTS=${COUNTS:-5 1025}    # interfaces
TITLE="Quorrel by Vandrel"
for tool in Xvfb xdotool nload fping ip script; do
  command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 2; }
done
for build in "${BUILDS[@]}"; do
  [ -x "$build/quorrel" ] || { echo "build quorrel in $build first" >&2; exit 2; }
done
[ -x "$ANCHOR" ] || { echo "build bare_qt_window in ${BUILDS[0]} first" >&2; exit 2; }
[ "$(id -u)" = 0 ] || { echo "needs root for the namespaces" >&2; exit 2; }

WORK=$(mktemp -d /tmp/qrl-program-bench.XXXXXX)
NAMESPACES=()
PIDS=()
cleanup() {
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null || true; done
  for ns in "${NAMESPACES[@]}"; do ip netns del "$ns" 2>/dev/null || true; done
  rm -rf "$WORK"
}
trap cleanup EXIT

# A namespace with lo and (n - 1) / 2 veth pairs, all up, IPv6 off.
make_namespace() {
  local ns=$1 interfaces=$2 pairs=$(( ($2 - 1) / 2 ))
  ip netns add "$ns"
  NAMESPACES+=("$ns")
  ip netns exec "$ns" sysctl -qw net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1
  {
    echo "link set lo up"
    for ((i = 0; i < pairs; i++)); do echo "link add qp${i}a type veth peer name qp${i}b"; done
    for ((i = 0; i < pairs; i++)); do echo "link set qp${i}a up"; echo "link set qp${i}b up"; done
  } >"$WORK/$ns.ip"
  ip -n "$ns" -batch "$WORK/$ns.ip"
}

# A private display.
for n in $(seq 90 120); do [ -e /tmp/.X$n-lock ] || { DISPLAY_NUMBER=$n; break; }; done
Xvfb ":$DISPLAY_NUMBER" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
PIDS+=($!)
export DISPLAY=":$DISPLAY_NUMBER"
for _ in $(seq 100); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.05; done

# Each program from a folder of its own, with settings that ping loopback.
for b in "${!BUILDS[@]}"; do
  mkdir -p "$WORK/app$b"
  cp "${BUILDS[$b]}/quorrel" "$WORK/app$b/quorrel"
  printf '[Options]\r\nIP=127.0.0.1\r\nInterval=1\r\n' >"$WORK/app$b/Settings.ini"
done

now_ns() { date +%s%N; }

# Seconds from launch until a window titled $3 is visible, for program $2 in namespace $1.
launch_seconds() {
  local ns=$1 program=$2 title=$3 start pid
  start=$(now_ns)
  ip netns exec "$ns" "$program" >/dev/null 2>&1 &
  pid=$!
  # Polled every 10 ms (xdotool's own --sync waits in half seconds), for at most 60 s.
  until xdotool search --onlyvisible --name "^$title\$" >/dev/null 2>&1; do
    if ! kill -0 "$pid" 2>/dev/null || (( $(now_ns) - start > 60000000000 )); then
      kill -TERM "$pid" 2>/dev/null || true
      echo "$program showed no window (exited or over 60 s)" >&2
      exit 1
    fi
    sleep 0.01
  done
  local end
  end=$(now_ns)
  kill -TERM "$pid"
  wait "$pid" 2>/dev/null || true
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f\n", (b - a) / 1e9 }'
}

median() { sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
div() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f\n", a / b; else print "inf" }'; }

for interfaces in $COUNTS; do make_namespace "qrlprog$$n$interfaces" "$interfaces"; done

[[ $PARTS == *launch* ]] && echo "== launch to window visible (median of $RUNS, seconds)"
for interfaces in $COUNTS; do
  [[ $PARTS == *launch* ]] || break
  ns=qrlprog$$n$interfaces
  for b in "${!BUILDS[@]}"; do
    program=() anchor=()
    for ((r = 0; r < RUNS; r++)); do
      program+=("$(launch_seconds "$ns" "$WORK/app$b/quorrel" "$TITLE")")
      anchor+=("$(launch_seconds "$ns" "$ANCHOR" "Bare Qt window")")
    done
    p=$(printf '%s\n' "${program[@]}" | median)
    a=$(printf '%s\n' "${anchor[@]}" | median)
    echo "${BUILDS[$b]}: interfaces=$interfaces quorrel=${p}s bare_qt_window=${a}s ratio=$(div "$p" "$a")" \
      "(runs: ${program[*]} / ${anchor[*]}; goal with 1025: < 1 s)"
  done
done

# CPU of a process (all its threads) so far: clock ticks from /proc/<pid>/stat, ns from schedstat.
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
cpu_ns() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ s += $1 } END { printf "%.0f\n", s }'; }
echo_requests() {
  ip netns exec "$1" awk '/^Icmp:/ { if (++n == 1) { for (i = 2; i <= NF; i++) if ($i == "OutEchos") f = i } else print $f }' /proc/net/snmp
}

[[ $PARTS == *cpu* ]] && echo "== CPU while monitoring for $MONITOR_SECONDS s (% of one core)"
for interfaces in $COUNTS; do
  [[ $PARTS == *cpu* ]] || break
  ns=qrlprog$$n$interfaces
  for b in "${!BUILDS[@]}"; do
    ip netns exec "$ns" "$WORK/app$b/quorrel" >/dev/null 2>&1 &
    quorrel=$!
    PIDS+=("$quorrel")
    until window=$(xdotool search --onlyvisible --name "^$TITLE\$" 2>/dev/null | head -1); [ -n "$window" ]; do sleep 0.05; done
    # Start, at the button's place in the window (6960, 120, 855 x 375 twips).
    xdotool mousemove --window "$window" 492 20 click 1
    ip netns exec "$ns" script -qfc "nload -t 1000" /dev/null >/dev/null 2>&1 </dev/null &
    script_pid=$!
    PIDS+=("$script_pid")
    ip netns exec "$ns" fping -q -l -p 1000 127.0.0.1 >/dev/null 2>&1 &
    fping_wrapper=$!
    PIDS+=("$fping_wrapper")
    sleep 1
    nload_pid=$(pgrep -P "$script_pid" -x nload || pgrep -P "$(pgrep -P "$script_pid" | head -1)" -x nload)
    fping_pid=$(pgrep -P "$fping_wrapper" -x fping || echo "$fping_wrapper")
    echos_before=$(echo_requests "$ns")
    declare -A t0 n0
    for p in "$quorrel" "$nload_pid" "$fping_pid"; do t0[$p]=$(cpu_ticks "$p"); n0[$p]=$(cpu_ns "$p"); done
    sleep "$MONITOR_SECONDS"
    echos=$(( $(echo_requests "$ns") - echos_before ))
    line="${BUILDS[$b]}: interfaces=$interfaces"
    for entry in "quorrel:$quorrel" "nload:$nload_pid" "fping:$fping_pid"; do
      name=${entry%%:*} p=${entry#*:}
      ticks=$(( $(cpu_ticks "$p") - ${t0[$p]} ))
      ns_used=$(( $(cpu_ns "$p") - ${n0[$p]} ))
      pct_stat=$(awk -v t="$ticks" -v hz="$(getconf CLK_TCK)" -v s="$MONITOR_SECONDS" 'BEGIN { printf "%.3f", t * 100 / hz / s }')
      pct_sched=$(awk -v n="$ns_used" -v s="$MONITOR_SECONDS" 'BEGIN { printf "%.4f", n / 1e7 / s }')
      line+=" $name=${pct_sched}% (stat ${pct_stat}%)"
      eval "pct_$name=$pct_sched"
    done
    echo "$line echo_requests_on_lo=$echos (goal: quorrel <= 0.1 %, below nload)"
    echo "  ratios: quorrel/nload=$(div "$pct_quorrel" "$pct_nload") quorrel/fping=$(div "$pct_quorrel" "$pct_fping")"
    kill -TERM "$quorrel" "$script_pid" "$fping_wrapper" "$nload_pid" "$fping_pid" 2>/dev/null || true
    wait "$quorrel" "$script_pid" "$fping_wrapper" 2>/dev/null || true
    unset t0 n0
  done
done
