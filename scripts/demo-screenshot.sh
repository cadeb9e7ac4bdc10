#!/usr/bin/env bash
# Takes docs/demo.png: starts the README's demo command under a virtual display, photographs the screen
# 60 s after the window opened, then closes the window (which stops the simulator).
# Usage: scripts/demo-screenshot.sh [OUTPUT.png]
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/demo.png}
bash scripts/deps.sh --test
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1600x1200x24" bash "$0" "$out"
fi
log=$(mktemp -t orvane-demo.XXXXXX)
bash scripts/run.sh >"$log" 2>&1 &
runner=$!
until grep -q '^simulator:' "$log"; do
  kill -0 "$runner" 2>/dev/null || { cat "$log" >&2; exit 1; }
  sleep 1
done
sleep 62
xwd -root -silent >"$log.xwd"
/usr/bin/python3 scripts/xwd2png.py "$log.xwd" "$out"
for p in $(pgrep -P "$runner"); do
  [ "$(readlink "/proc/$p/exe")" = "$(pwd)/build/release/ui/orvane" ] && kill "$p"
done
wait "$runner" || true
rm -f "$log" "$log.xwd"
echo "wrote $out"
