#!/usr/bin/env bash
# Takes docs/event.png: 1,000 servers and proxies played by orvane-sim, in the layout of the view's
# benchmark (100 groups in 5 zones; every seventh with a wrong rcon password, every eleventh at an
# address nobody answers), opened in the window under a virtual display with the whole layout in view
# (--fit), photographed 40 s later. Closes the window and the simulator.
# Usage: scripts/view-screenshot.sh [OUTPUT.png]
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/event.png}
bash scripts/deps.sh --test
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1100x1150x24" bash "$0" "$out"
fi
B=build/perf
cmake -S . -B $B -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVANE_GUI=ON -DORVANE_BENCH=ON >/dev/null
cmake --build $B --target orvane orvane-sim bench_view
ulimit -n "$(ulimit -Hn)" 2>/dev/null || true
work=$(mktemp -d -t orvane-view.XXXXXX)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
"$B/sim/simulator/orvane-sim" --hl 300 --hltv 200 --q3 300 --gtv 200 >"$work/sim.list" 2>&1 &
pids+=($!)
for _ in $(seq 300); do grep -qx ready "$work/sim.list" && break; sleep 0.1; done
grep -qx ready "$work/sim.list" || { echo "orvane-sim did not start: $(cat "$work/sim.list")" >&2; exit 1; }
QT_QPA_PLATFORM=offscreen "$B/bench/bench_view" --write-layout 1000 "$work/event.orv" "$work/sim.list"
# Settings of its own: the operator's zoom is left alone.
XDG_CONFIG_HOME="$work" "$B/ui/orvane" --fit "$work/event.orv" >/dev/null 2>&1 &
pids+=($!)
sleep 40
xwd -root -silent >"$work/shot.xwd"
/usr/bin/python3 scripts/xwd2png.py "$work/shot.xwd" "$out"
echo "wrote $out"
