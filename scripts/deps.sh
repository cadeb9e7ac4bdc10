#!/usr/bin/env bash
# Installs the Debian packages Orvane needs to build, run and test. Only missing packages are installed.
# Usage: scripts/deps.sh [--package|--test]   (--package adds what the Debian package is made with: help2man
# for the manual pages, dpkg-shlibdeps and file; --test adds that and what the tests and figures need: a real
# FTP server, fuzzing runtime, xvfb and xwd for screenshots, the stock query tool quakestat, the package's
# checkers lintian, appstreamcli and desktop-file-validate, prometheus and promtool)
set -euo pipefail
BUILD=(cmake ninja-build g++ pkg-config
       qt6-base-dev qt6-multimedia-dev qt6-svg-dev libqt6svg6-dev libgl-dev
       libcurl4-openssl-dev nlohmann-json3-dev libcli11-dev libjpeg-dev libmicrohttpd-dev)
TEST=(libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
      python3 python3-pyftpdlib xvfb xauth x11-apps qstat lintian appstream desktop-file-utils prometheus)
PACKAGE=(help2man dpkg-dev file)
want=("${BUILD[@]}")
case "${1:-}" in
  --package) want+=("${PACKAGE[@]}") ;;
  --test) want+=("${PACKAGE[@]}" "${TEST[@]}") ;;
esac
missing=()
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" != 0 ]; then
  echo "missing packages: ${missing[*]} (run as root, or install them with apt-get)" >&2; exit 1
fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -q >/dev/null
apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null
