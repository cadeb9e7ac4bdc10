#!/usr/bin/env bash
# Builds Orvane (installing any missing Debian package first) and starts the window.
#   scripts/run.sh            the demo: the simulator plays a small broadcast on 127.0.0.1 (demo/demo.json)
#                             and the window opens the matching layout; closing the window stops it
#   scripts/run.sh FILE.orv   opens that layout, without the simulator (other arguments go to the program)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
bash scripts/deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANE_TESTS=OFF -DORVANE_BENCH=OFF >/dev/null
cmake --build build/release
if [ $# -gt 0 ]; then
  exec build/release/ui/orvane "$@"
fi

# The status page is uploaded only where an FTP server listens on this machine.
layout=demo/demo.orv
if timeout 2 bash -c ': </dev/tcp/127.0.0.1/21' 2>/dev/null; then
  layout=demo/demo-status-page.orv
  echo "status page: uploaded as orvane-status.html to the FTP server on 127.0.0.1 (user anonymous) every 30 s"
else
  echo "status page: off in this demo, as no FTP server listens on 127.0.0.1:21 (start one and run again to see it uploaded)"
fi

simlog=$(mktemp -t orvane-sim.XXXXXX)
build/release/sim/simulator/orvane-sim --scenario demo/demo.json >"$simlog" 2>&1 &
sim=$!
trap 'kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null; rm -f "$simlog"' EXIT
for _ in $(seq 100); do
  grep -qx ready "$simlog" && break
  kill -0 "$sim" 2>/dev/null || { cat "$simlog" >&2; exit 1; }
  sleep 0.1
done
grep -qx ready "$simlog" || { echo "the simulator did not start:" >&2; cat "$simlog" >&2; exit 1; }
echo "simulator: $(grep -c '127.0.0.1:' "$simlog") game servers and proxies on 127.0.0.1; they stop when the window closes"
# The window reads the status page's template from its current folder.
cd demo && "$root/build/release/ui/orvane" --demo "$root/$layout"
