#!/usr/bin/env bash
# Measures Orvane and writes docs/PERFORMANCE.md: tick time, layout pass and repaint (when the layout
# view's benchmark is built), CPU of the whole program monitoring 500 objects, memory per object of each
# kind, CPU per query beside the stock quakestat against the same simulated servers, and the load and
# fault tests' figures. Everything runs on 127.0.0.1 against orvane-sim. Takes about ten minutes.
# Usage: scripts/perf.sh [OUTPUT.md]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out=${1:-docs/PERFORMANCE.md}
bash scripts/deps.sh --test
gui=OFF
[ -n "$(ls /usr/lib/x86_64-linux-gnu/cmake/Qt6Widgets 2>/dev/null)" ] && gui=ON
cmake -S . -B build/perf -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVANE_GUI=$gui -DORVANE_TESTS=ON -DORVANE_BENCH=ON >/dev/null
targets=(bench_core orvane-headless orvane-sim test_headless_load test_headless_faults)
for t in $(ninja -C build/perf -t targets all 2>/dev/null | sed -n 's/^\(bench_[a-z_]*\): .*/\1/p' | sort -u); do
  [[ " ${targets[*]} " == *" $t "* ]] || targets+=("$t")
done
[ $gui = ON ] && targets+=(orvane)
cmake --build build/perf --target "${targets[@]}"

B=build/perf
work=$(mktemp -d -t orvane-perf.XXXXXX)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
hz=$(getconf CLK_TCK)

# Starts orvane-sim with the given arguments; waits for its address list in $work/$1.list.
start_sim() {
  local name=$1; shift
  "$B/sim/simulator/orvane-sim" "$@" >"$work/$name.list" 2>&1 &
  sim_pid=$!
  pids+=("$sim_pid")
  for _ in $(seq 300); do grep -qx ready "$work/$name.list" && return 0; sleep 0.1; done
  echo "orvane-sim did not start: $(cat "$work/$name.list")" >&2; exit 1
}
stop() { kill "$1" 2>/dev/null || true; wait "$1" 2>/dev/null || true; }
# The headless command-line objects for the addresses of a simulator's list.
objects_of() { awk '$3 ~ /^127\.0\.0\.1:/ {k=$1; if (k=="a2s") k="hl"; printf "--%s %s,rcon=secret\n", k, $3}' "$1"; }
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
rss_kib() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status"; }

echo "tick benchmark" >&2
"$B/bench/bench_core" --benchmark_filter='BM_Tick' --benchmark_format=csv 2>/dev/null >"$work/tick.csv"
tick_rows=$(awk -F, '/^"BM_Tick/ {gsub(/"/, "", $1); split($1, n, "/"); printf "| %s | %s | %.0f | %.2f |\n", n[1], n[2], $4, $4 / n[2] * 1000}' "$work/tick.csv")

echo "layout view benchmark" >&2
layout_rows=""
if [ -x "$B/bench/bench_view" ]; then
  # One run per benchmark family: the CSV report wants the same counters on every row.
  for family in BM_LayoutPass BM_ViewportRepaint BM_ViewportRepaintFit BM_ViewportRefresh; do
    QT_QPA_PLATFORM=offscreen "$B/bench/bench_view" --benchmark_filter="^$family/" --benchmark_format=csv \
      2>/dev/null >"$work/layout.csv" || true
    layout_rows+=$(awk -F, '/^"BM_/ {gsub(/"/, "", $1); printf "| %s | %.3f %s |\n", $1, $4, $5}' "$work/layout.csv")
    layout_rows+=$'\n'
  done
fi
[ -z "$layout_rows" ] && layout_rows="| not measured: this tree has no layout view benchmark (bench_view) | |"

echo "window memory and first frame" >&2
# The benchmark's layouts (every kind, on 127.0.0.1 ports nobody answers) opened in the real window on a
# virtual 1920 x 1200 screen, with settings of its own (zoom 100 %): the time from the start of the
# program to the first painted frame of the layout, and the resident memory 5 s later.
window_rows=""
if [ -x "$B/ui/orvane" ] && [ -x "$B/bench/bench_view" ] && command -v Xvfb >/dev/null; then
  ulimit -n "$(ulimit -Hn)" 2>/dev/null || true
  display=":$((90 + RANDOM % 100))"
  Xvfb "$display" -screen 0 1920x1200x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!; pids+=("$xvfb")
  sleep 2
  for n in 100 1000 5000 20000; do
    QT_QPA_PLATFORM=offscreen "$B/bench/bench_view" --write-layout $n "$work/view-$n.orv"
    mkdir -p "$work/config-$n"
    DISPLAY=$display XDG_CONFIG_HOME="$work/config-$n" "$B/ui/orvane" --first-frame "$work/view-$n.orv" \
      >/dev/null 2>"$work/view-$n.err" &
    w=$!; pids+=("$w")
    for _ in $(seq 600); do
      grep -q '^first frame:' "$work/view-$n.err" && break
      kill -0 $w 2>/dev/null || break
      sleep 0.1
    done
    sleep 5
    frame=$(sed -n 's/^first frame: \([0-9]*\) ms$/\1/p' "$work/view-$n.err")
    rss=$(rss_kib $w 2>/dev/null || echo "?")
    stop $w
    window_rows+="| $n | ${frame:-not reached} | $rss |"$'\n'
  done
  stop $xvfb
fi
[ -z "$window_rows" ] && window_rows="| not measured (no window, bench_view or Xvfb in this build) | | |"

echo "CPU of the whole program, 500 objects" >&2
start_sim cpu --hl 200 --hltv 100 --q3 100 --gtv 100
mapfile -t args < <(objects_of "$work/cpu.list" | tr ' ' '\n')
"$B/apps/orvane-headless" --limit 1024000 --no-sound "${args[@]}" >/dev/null 2>"$work/cpu.err" &
h=$!; pids+=("$h")
sleep 10; c0=$(cpu_ticks $h); sleep 60; c1=$(cpu_ticks $h)
headless_cpu=$(awk -v a="$c0" -v b="$c1" -v hz="$hz" 'BEGIN {printf "%.1f", (b - a) / hz / 60 * 100}')
headless_rss=$(rss_kib $h)
stop $h
window_cpu="not measured (no window in this build)"
if [ -x "$B/ui/orvane" ]; then
  "$B/apps/orvane-headless" "${args[@]}" --limit 1024000 --seconds 0 --save "$work/500.orv" >/dev/null 2>&1
  QT_QPA_PLATFORM=offscreen "$B/ui/orvane" "$work/500.orv" >/dev/null 2>&1 &
  w=$!; pids+=("$w")
  sleep 10
  if kill -0 $w 2>/dev/null; then
    c0=$(cpu_ticks $w); sleep 60; c1=$(cpu_ticks $w)
    window_cpu="$(awk -v a="$c0" -v b="$c1" -v hz="$hz" 'BEGIN {printf "%.1f", (b - a) / hz / 60 * 100}') % of one core (offscreen, the same objects and limit)"
  else
    window_cpu="not measured (the window did not keep running offscreen)"
  fi
  stop $w
fi
stop $sim_pid

echo "memory per object" >&2
mem_rows=""
for kind in hl hltv q3 gtv; do
  start_sim mem-$kind --$kind 1000
  mapfile -t args < <(objects_of "$work/mem-$kind.list" | tr ' ' '\n')
  "$B/apps/orvane-headless" --limit 1024000 --no-sound "${args[@]:0:2}" >/dev/null 2>&1 &
  one=$!; pids+=("$one")
  "$B/apps/orvane-headless" --limit 1024000 --no-sound "${args[@]}" >/dev/null 2>&1 &
  all=$!; pids+=("$all")
  sleep 20
  r1=$(rss_kib $one); rn=$(rss_kib $all)
  stop $one; stop $all; stop $sim_pid
  mem_rows+="| $kind | $r1 | $rn | $(awk -v a="$r1" -v b="$rn" 'BEGIN {printf "%.1f", (b - a) * 1024 / 999 / 1024}') |"$'\n'
done

echo "CPU per query beside quakestat" >&2
# Orvane: 100 Quake 3 servers for 30 s, every query it sends counted where it arrives.
start_sim q3-orvane --q3 100 --log "$work/q3-orvane.log"
mapfile -t args < <(objects_of "$work/q3-orvane.list" | sed 's/,rcon=secret//' | tr ' ' '\n')
TIMEFORMAT='%U %S'
{ time "$B/apps/orvane-headless" --limit 1024000 --no-sound --seconds 30 "${args[@]}" >/dev/null 2>&1; } 2>"$work/orvane.time"
stop $sim_pid
orvane_queries=$(wc -l <"$work/q3-orvane.log")
# quakestat: the same kind of servers, queried round after round for 30 s.
start_sim q3-qstat --q3 100 --log "$work/q3-qstat.log"
mapfile -t addrs < <(awk '$1=="q3" {print $3}' "$work/q3-qstat.list")
qargs=(); for a in "${addrs[@]}"; do qargs+=(-q3s "$a"); done
end=$((SECONDS + 30)); rounds=0
{ time { while [ $SECONDS -lt $end ]; do quakestat -P -nh -timeout 2 "${qargs[@]}" >/dev/null; rounds=$((rounds + 1)); done; }; } 2>"$work/qstat.time"
stop $sim_pid
qstat_queries=$(wc -l <"$work/q3-qstat.log")
per_query() { awk -v t="$(cat "$1")" -v n="$2" 'BEGIN {split(t, a, " "); printf "%.1f", (a[1] + a[2]) * 1e6 / n}'; }
orvane_us=$(per_query "$work/orvane.time" "$orvane_queries")
qstat_us=$(per_query "$work/qstat.time" "$qstat_queries")

echo "quakestat against the simulator" >&2
start_sim qs --hl 1 --a2s 1 --q3 1
qs_out=$(quakestat -P -timeout 3 -q3s "$(awk '$1=="q3" {print $3}' "$work/qs.list")" \
          -hls "$(awk '$1=="hl" {print $3}' "$work/qs.list")" -a2s "$(awk '$1=="a2s" {print $3}' "$work/qs.list")" 2>&1 | sed 's/\x1b\[[0-9;]*m//g')
stop $sim_pid

echo "load and fault tests" >&2
load_line=$("$B/tests/test_headless_load" 2>&1 | tee "$work/load.txt" | grep '^load:' || true)
load_result=$(grep -qE '^\[  PASSED  \] 1 test' "$work/load.txt" && echo passed || echo FAILED)
fault_line=$("$B/tests/test_headless_faults" 2>&1 | tee "$work/faults.txt" | grep '^flooded' || true)
fault_result=$(grep -qE '^\[  PASSED  \] 1 test' "$work/faults.txt" && echo passed || echo FAILED)

mkdir -p "$(dirname "$out")"
cat >"$out" <<EOF
# Orvane performance

Written by \`scripts/perf.sh\` on $(date -u '+%Y-%m-%d %H:%M UTC') from commit $(git rev-parse --short HEAD) (Release build),
on $(nproc) cores of $(awk -F': ' '/model name/ {print $2; exit}' /proc/cpuinfo). Every peer is \`orvane-sim\` on 127.0.0.1, in the same run.

## Tick time

One monitoring tick of the document (Google Benchmark, \`bench/bench_core.cpp\`): every object checks its
time-out and queues the query of its phase. \`BM_TickOverHalfLifeServers\` uses real Half-Life servers with
rcon passwords, \`BM_TickOverObjects\` a minimal polling object.

| benchmark | objects | µs per tick | ns per object |
|---|---|---|---|
$tick_rows

## Layout view

The layout view's benchmark (\`bench/bench_view.cpp\`, Qt's offscreen platform), CPU time, for layouts of
100 to 20,000 objects of every kind (the argument): the layout pass alone; a full repaint of a 1,600 x 1,000
viewport at 100 % in the middle of the layout (\`BM_ViewportRepaint\`) and with the whole layout fitted
in it (\`BM_ViewportRepaintFit\`, objects as tiles below 50 %); the once-a-second refresh with 10 % of
the objects changed (layout pass, then what changed and is visible painted again).

| benchmark | time |
|---|---|
$layout_rows
The window (\`orvane --first-frame\`, the same layouts saved by \`bench_view --write-layout N FILE\`,
under Xvfb on a 1,920 x 1,200 screen): time from the start of the program to the first painted frame of
the layout, and resident memory 5 s later. The view paints only what its viewport shows, so memory grows
with the objects (their sockets and fields), not with the picture.

| objects | first frame (ms) | resident (KiB) |
|---|---|---|
$window_rows

## CPU of the whole program monitoring 500 objects

200 Half-Life servers, 100 HLTV proxies, 100 Quake 3 servers and 100 GTV proxies, all answering, at a
limit of 1,000 kbps so that every query of every cycle leaves; measured over 60 s after the first 10 s.

- \`orvane-headless\` (the document, its output worker, and one JSON line per object per second on
  standard output): **$headless_cpu % of one core**, $headless_rss KiB resident.
- the window, \`orvane\`: $window_cpu.

## Memory per object

Resident memory of \`orvane-headless\` after 20 s monitoring 1,000 answering peers of one kind, against
the same with one object.

| kind | KiB with 1 object | KiB with 1,000 | KiB per object |
|---|---|---|---|
$mem_rows
## CPU per query, beside quakestat

The same 100 simulated Quake 3 servers, 30 s each: Orvane monitoring them (its whole cycle of getstatus
and getinfo every six seconds; its CPU also pays for the ticks, the output worker and a JSON line per
object per second, so it is an upper bound) and \`quakestat -P\` (qstat $(quakestat -v 2>&1 | head -n 1)) run round after round. CPU is the client's user + system
time; queries are the datagrams the servers received.

| client | queries | CPU per query |
|---|---|---|
| orvane-headless | $orvane_queries | $orvane_us µs |
| quakestat | $qstat_queries | $qstat_us µs |

quakestat reads the simulator's Quake 3 server, classic Half-Life server and present-day (A2S) server:

\`\`\`
$qs_out
\`\`\`

## Load and fault tests

\`tests/test_headless_load.cpp\` (CTest, two minutes: 500 objects at 64 kbps, measured where the datagrams
arrive; the limit counts 30 bytes of overhead per datagram): **$load_result**. A second as measured at the
receivers, which are read every 20 ms, may hold one 100 ms window of its neighbour; the test bounds every
second by the limit plus a fifth and every ten seconds by the limit plus two windows. It also holds the
queue under 1,500 datagrams at every tick and sees an operator's \`--rcon\` command, typed while the queue
is full, reach its server.

    $load_line

\`tests/test_headless_faults.cpp\` (CTest, 40 s: silence and return, garbage, the wrong source port,
datagrams of 0, 4, 2047, 2048 and 65,507 bytes, a three-second flood of one socket): **$fault_result**.

    $fault_line
EOF
echo "wrote $out" >&2
