#!/usr/bin/env bash
# Builds an optimised tree and prints the benchmark figures.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh --test
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVANE_GUI=OFF -DORVANE_TESTS=OFF >/dev/null
cmake --build build/bench
for b in build/bench/bench/bench_*; do "$b" "$@"; done
