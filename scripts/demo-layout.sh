#!/usr/bin/env bash
# Writes the demo layouts (demo/demo.orv, and demo/demo-status-page.orv with the status page uploading
# to 127.0.0.1) through the document itself, to match the simulator's demo/demo.json.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANE_TESTS=OFF -DORVANE_BENCH=OFF >/dev/null
cmake --build build/release --target orvane-demo-layout
build/release/sim/simulator/orvane-demo-layout demo/demo.orv
build/release/sim/simulator/orvane-demo-layout demo/demo-status-page.orv --status-page
