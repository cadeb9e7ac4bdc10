#!/usr/bin/env bash
# Builds Orvane (installing any missing Debian package first) and starts the window.
# Arguments are passed to the program (for instance a layout file to open).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANE_TESTS=OFF -DORVANE_BENCH=OFF >/dev/null
cmake --build build/release
exec build/release/ui/orvane "$@"
