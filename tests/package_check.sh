#!/usr/bin/env bash
# Builds the Debian package (scripts/package.sh) and checks it: lintian finds no error (its warnings are
# printed), the files are those of tests/data/package_files.txt, the desktop entry and the AppStream
# metadata validate, the manual pages read, and the demo runs from the unpacked tree: orvane-sim plays the
# shipped scenario, and orvane-demo finds it beside itself and opens the window (Qt's offscreen platform).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
deb=$(bash "$root/scripts/package.sh" | tail -n 1)
echo "package: $deb"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "--- lintian"
lintian --fail-on error --tag-display-limit 0 "$deb" || { echo "FAIL: lintian reports errors"; exit 1; }

dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }' | sort >"$work/got"
grep -v '^#' "$root/tests/data/package_files.txt" | sort >"$work/want"
diff -u "$work/want" "$work/got" || { echo "FAIL: the package's files differ from tests/data/package_files.txt"; exit 1; }
dpkg-deb -f "$deb" Depends | grep -q libqt6widgets6 || { echo "FAIL: no Qt in the computed dependencies"; exit 1; }

tree="$work/tree"
dpkg-deb -x "$deb" "$tree"
desktop-file-validate "$tree/usr/share/applications/orvane.desktop"
appstreamcli validate --no-net --explain "$tree"/usr/share/metainfo/*.metainfo.xml
for page in "$tree"/usr/share/man/man1/*.1.gz; do
  # A page help2man could not fill holds no options.
  zcat "$page" | grep -q '^\.SH DESCRIPTION' && zcat "$page" | grep -qF -- '\-\-help' ||
    { echo "FAIL: $page has no description or options"; exit 1; }
done

"$tree/usr/bin/orvane-sim" --scenario "$tree/usr/share/orvane/demo.json" --seconds 1 >"$work/sim"
grep -qx ready "$work/sim" || { echo "FAIL: the shipped scenario did not start"; cat "$work/sim"; exit 1; }
# The demo from the unpacked tree: its own prefix, not /usr, must be where it finds the scenario.
rc=0
QT_QPA_PLATFORM=offscreen timeout 8 "$tree/usr/bin/orvane-demo" >"$work/demo" 2>&1 || rc=$?
cat "$work/demo"
[ $rc -eq 124 ] && grep -q '^simulator: [0-9]* game servers' "$work/demo" ||
  { echo "FAIL: orvane-demo did not keep the window open on the simulated broadcast (exit $rc)"; exit 1; }
if pgrep -f "$tree/usr/bin/" >/dev/null; then echo "FAIL: orvane-demo left a process behind"; exit 1; fi
echo "package checked: $(basename "$deb")"
