#!/usr/bin/env bash
# Builds a release of Orvane and its Debian package with CPack: build/package/orvane_VERSION_ARCH.deb,
# its dependencies worked out from the binaries by dpkg-shlibdeps. Prints the package's path last.
# Install it with: apt-get install ./build/package/orvane_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh --package
# ccache, when present, keyed on paths relative to the checkout so that another clone reuses its results.
if command -v ccache >/dev/null; then
  export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(pwd)} CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
fi
cmake -S . -B build/package -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANE_TESTS=OFF -DORVANE_BENCH=OFF \
      -DORVANE_MANPAGES=ON -DCMAKE_INSTALL_PREFIX=/usr -DORVANE_SYSTEMD_UNITDIR=/lib/systemd/system \
      -DCMAKE_EXE_LINKER_FLAGS="-Wl,-z,relro,-z,now" >/dev/null
cmake --build build/package
cd build/package
rm -f orvane_*.deb
log=$(mktemp)
cpack -G DEB >"$log" 2>&1 || { cat "$log" >&2; rm -f "$log"; exit 1; }
rm -f "$log"
ls "$(pwd)"/orvane_*.deb
