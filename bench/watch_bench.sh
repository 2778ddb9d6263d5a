#!/bin/bash
# quorrel-watch measured as a server runs it, each figure beside its anchor
# from the same run, everything in a network namespace made here (pings go
# to its loopback only):
#  1. CPU over 60 s at one ping a second (with the metrics served and scraped
#     once a second), beside `fping -l -p 1000` and `nload -t 1000` running as
#     long in the same namespace; resident memory of all three at the end;
#  2. a scrape of /metrics at 50 a second: the 50th/99th percentile of
#     curl's time_total, beside the same server's 404 for another path
#     (the HTTP round trip without the metrics);
#  3. start to first ping: exec to the first "Ping" line on stdout, beside
#     `fping -c 1` to its first result line, measured the same way.
# Needs root, nload, fping, curl. Usage: bench/watch_bench.sh [build dir]
set -euo pipefail

BUILD=${1:-build/h5}
WATCH=$BUILD/quorrel-watch
MONITOR_SECONDS=${MONITOR_SECONDS:-60}
SCRAPES=${SCRAPES:-1500}
RUNS=${RUNS:-21}
for tool in nload fping curl ip script; do
  command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 2; }
done
[ -x "$WATCH" ] || { echo "build quorrel-watch in $BUILD first" >&2; exit 2; }
[ "$(id -u)" = 0 ] || { echo "needs root for the namespace" >&2; exit 2; }

NS=qrlwbench$$
PIDS=()
cleanup() {
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null || true; done
  ip netns del "$NS" 2>/dev/null || true
}
trap cleanup EXIT
ip netns add "$NS"
ip -n "$NS" link set lo up
in_ns() { ip netns exec "$NS" "$@"; }

cpu_ns() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ s += $1 } END { printf "%.0f\n", s }'; }
rss_kib() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"; }
percentile() { sort -n | awk -v p="$1" '{ a[NR] = $1 } END { i = int(NR * p / 100 + 0.999); if (i < 1) i = 1; print a[i] }'; }
div() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f\n", a / b; else print "inf" }'; }
now_ns() { date +%s%N; }

port=9731
echo "== CPU over $MONITOR_SECONDS s at one ping a second (% of one core), and resident memory"
# Two monitors: one that only logs, one serving its metrics to a scraper
# that comes once a second, as Prometheus at a 1 s interval.
ip netns exec "$NS" "$WATCH" --ip 127.0.0.1 --adapter lo >/dev/null 2>&1 &
plain_pid=$!
PIDS+=("$plain_pid")
ip netns exec "$NS" "$WATCH" --ip 127.0.0.1 --adapter lo --metrics-listen "$port" >/dev/null 2>&1 &
watch_pid=$!
PIDS+=("$watch_pid")
ip netns exec "$NS" script -qfc "nload -t 1000" /dev/null >/dev/null 2>&1 </dev/null &
script_pid=$!
PIDS+=("$script_pid")
ip netns exec "$NS" fping -q -l -p 1000 127.0.0.1 >/dev/null 2>&1 &
fping_wrapper=$!
PIDS+=("$fping_wrapper")
sleep 1
nload_pid=$(pgrep -P "$script_pid" -x nload || pgrep -P "$(pgrep -P "$script_pid" | head -1)" -x nload)
fping_pid=$(pgrep -P "$fping_wrapper" -x fping || echo "$fping_wrapper")
ip netns exec "$NS" bash -c "while sleep 1; do curl -s -o /dev/null http://127.0.0.1:$port/metrics; done" &
PIDS+=($!)
declare -A n0
for p in "$plain_pid" "$watch_pid" "$nload_pid" "$fping_pid"; do n0[$p]=$(cpu_ns "$p"); done
sleep "$MONITOR_SECONDS"
for entry in "watch_log_only:$plain_pid" "watch_serving:$watch_pid" "nload:$nload_pid" "fping:$fping_pid"; do
  name=${entry%%:*} p=${entry#*:}
  used=$(( $(cpu_ns "$p") - ${n0[$p]} ))
  pct=$(awk -v n="$used" -v s="$MONITOR_SECONDS" 'BEGIN { printf "%.4f", n / 1e7 / s }')
  rss=$(rss_kib "$p")
  echo "  $name cpu=${pct}% rss=$(awk -v k="$rss" 'BEGIN { printf "%.2f", k / 1024 }') MiB"
  eval "pct_$name=$pct"
done
for name in watch_log_only watch_serving; do
  eval "pct=\$pct_$name"
  echo "  $name: cpu/fping=$(div "$pct" "$pct_fping") (goal <= 1.5) cpu/nload=$(div "$pct" "$pct_nload") (goal < 1)"
done
kill -TERM "$plain_pid" 2>/dev/null || true
kill -TERM "$script_pid" "$fping_wrapper" "$nload_pid" "$fping_pid" 2>/dev/null || true

echo "== a scrape at 50 a second, $SCRAPES scrapes (ms, curl time_total, a new connection each)"
scrape_times() {  # scrape_times PATH: one time_total per line, in ms
  local urls=()
  # -o goes with each URL: curl writes the bodies of the others to stdout.
  for ((i = 0; i < SCRAPES; i++)); do urls+=(-o /dev/null "http://127.0.0.1:$port$1"); done
  in_ns curl -s --rate 50/s -H 'Connection: close' -w '%{time_total}\n' "${urls[@]}" |
    awk '{ printf "%.3f\n", $1 * 1000 }'
}
metrics=$(scrape_times /metrics)
anchor=$(scrape_times /not-metrics)
m50=$(percentile 50 <<<"$metrics") m99=$(percentile 99 <<<"$metrics")
a50=$(percentile 50 <<<"$anchor") a99=$(percentile 99 <<<"$anchor")
echo "  /metrics p50=${m50} ms p99=${m99} ms; anchor 404 p50=${a50} ms p99=${a99} ms (goal p99 < 1 ms)"
kill -TERM "$watch_pid"
wait "$watch_pid" 2>/dev/null || true

echo "== start to first ping (median of $RUNS, ms)"
first_line_ms() {  # first_line_ms PATTERN COMMAND...: exec to the first line matching PATTERN
  local pattern=$1 start end
  shift
  start=$(now_ns)
  # The program is ended by timeout a second later; the reader stamps the
  # line when it arrives and drains the rest.
  end=$(ip netns exec "$NS" timeout -s INT 1 "$@" 2>/dev/null |
    { while IFS= read -r l; do [[ $l == *$pattern* ]] && { now_ns; break; }; done; cat >/dev/null; })
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f\n", (b - a) / 1e6 }'
}
w=() f=()
for ((r = 0; r < RUNS; r++)); do
  w+=("$(first_line_ms "Ping 127.0.0.1" "$WATCH" --ip 127.0.0.1 --adapter lo)")
  f+=("$(first_line_ms "127.0.0.1" fping -c 1 127.0.0.1)")
done
wm=$(printf '%s\n' "${w[@]}" | percentile 50)
fm=$(printf '%s\n' "${f[@]}" | percentile 50)
echo "  quorrel-watch=${wm} ms fping -c 1=${fm} ms ratio=$(div "$wm" "$fm") (goal < 50 ms)"
