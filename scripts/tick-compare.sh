#!/bin/bash
# Compares the monitoring tick of this checkout with that of another commit, side by side in one run:
# both Release builds of bench_core, run in interleaved rounds so that a shared machine's load falls on
# both alike. Prints the least, first-quartile and median CPU time per tick of each.
#   scripts/tick-compare.sh [COMMIT] [ROUNDS]     (defaults: ccf671f, the tick before the fair queue; 8)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh --test
base=${1:-ccf671f}
rounds=${2:-8}
filter=${TICK_FILTER:-BM_TickOver.*/10000}
here=build/bench  # the tree scripts/bench.sh builds
there=build/tick-compare/$base

build() {  # source dir, build dir: configured as scripts/bench.sh configures
    cmake -S "$1" -B "$2" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVANE_GUI=OFF -DORVANE_TESTS=OFF >/dev/null
    cmake --build "$2" --target bench_core >/dev/null
}

if [ ! -d "$there/src" ]; then
    mkdir -p "$there"
    git archive --format=tar "$base" | tar -x -C "$there" --one-top-level=src
fi
echo "building $base and this checkout" >&2
build "$there/src" "$there/build"
build . "$here"

for round in $(seq "$rounds"); do
    echo "round $round of $rounds" >&2
    for side in "$here" "$there/build"; do
        name=$([ "$side" = "$here" ] && echo "this checkout" || echo "$base")
        "$side/bench/bench_core" --benchmark_filter="$filter" --benchmark_repetitions=2 --benchmark_format=csv \
            2>/dev/null | awk -F, -v name="$name" '/^"BM_/ && !/_(mean|median|stddev|cv)"/ {
                gsub(/"/, "", $1); printf "%s|%s|%.0f\n", name, $1, $4 }'
    done
done | sort -t'|' -k2,2 -k1,1 -k3n | awk -F'|' '
    { key = $2 " | " $1; v[key, ++n[key]] = $3 }
    END {
        for (key in n) {
            c = n[key]
            printf "| %s | %d | %d | %d | %d |\n", key, v[key, 1], v[key, int(c / 4) + 1], v[key, int(c / 2) + 1], c
        }
    }' | sort >build/tick-compare/rows
echo "| benchmark | build | least µs | first quartile µs | median µs | runs |"
echo "|---|---|---|---|---|---|"
cat build/tick-compare/rows
