#!/usr/bin/env bash
# Writes debian-lynx-paths.txt: every path that Debian's text web browser
# (the packages lynx and lynx-common) installs, so that package_test.sh can
# check, without the network, that our package shares none of them.
# Run it by hand when Debian ships a new browser (it needs the archive):
#   sudo apt-get update && tests/package/debian-lynx-paths.sh
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /tmp/lynx-browser-paths-XXXXXX)
trap 'rm -rf "$work"' EXIT
(cd "$work" && apt-get download lynx lynx-common >/dev/null)

{
  echo "# The paths Debian's text web browser installs, written by debian-lynx-paths.sh"
  echo "# from apt-get download lynx lynx-common and dpkg-deb -c; run it again to"
  echo "# refresh. Packages:"
  for deb in "$work"/*.deb; do
    echo "#   $(dpkg-deb -f "$deb" Package) $(dpkg-deb -f "$deb" Version) $(dpkg-deb -f "$deb" Architecture)"
  done
  echo "# One path a line: TYPE PACKAGE PATH, TYPE f (file), l (symbolic link) or d"
  echo "# (a directory of the browser's own: one with a name beginning in lynx, or"
  echo "# below one). Directories every package shares, such as /usr/bin, are left out."
  for deb in "$work"/*.deb; do
    # dpkg-deb -c lists as tar -tv does: mode, owner, size, date, time, ./path[ -> target].
    dpkg-deb -c "$deb" | awk -v pkg="$(dpkg-deb -f "$deb" Package)" '{
      kind = substr($1, 1, 1); path = substr($6, 2); sub(/\/$/, "", path)
      if (path == "") next
      if (kind == "-" || kind == "h") print "f", pkg, path
      else if (kind == "l") print "l", pkg, path
      else if (kind == "d" && path ~ /\/lynx[^\/]*(\/|$)/) print "d", pkg, path
    }'
  done | LC_ALL=C sort -k3
} >"$here/debian-lynx-paths.txt"
echo "wrote $here/debian-lynx-paths.txt"
