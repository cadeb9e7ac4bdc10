#!/usr/bin/env bash
# Builds everything and runs every test through CTest: the suite under AddressSanitizer and
# UndefinedBehaviorSanitizer, the output-queue stress test under ThreadSanitizer, and short fuzzing runs.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh --test
root=$(pwd)

# ThreadSanitizer build of the network and output-queue tests.
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANE_SANITIZE=thread \
      -DORVANE_GUI=OFF -DORVANE_BENCH=OFF >/dev/null
cmake --build build/tsan --target test_net test_outputqueue

# libFuzzer targets (clang, ASan + UBSan).
cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DORVANE_FUZZ=ON \
      -DORVANE_GUI=OFF -DORVANE_TESTS=OFF -DORVANE_BENCH=OFF >/dev/null
cmake --build build/fuzz

# The suite itself.
cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORVANE_SANITIZE=address \
      -DORVANE_TSAN_BUILD="$root/build/tsan" -DORVANE_FUZZ_BUILD="$root/build/fuzz" >/dev/null
cmake --build build/test
cd build/test
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$(nproc)" "$@"
