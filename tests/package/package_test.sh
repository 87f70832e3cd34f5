#!/usr/bin/env bash
# The Debian package, as a user gets it: cpack builds it from the build folder,
# its control data names the libraries' packages, the font, Qt's platform
# plugins and translations, it unpacks into a scratch root (dpkg -x) where
# lynx-cli and lynx-cameras answer --version, it shares no path with Debian's
# text web browser (the packages lynx and lynx-common), and lintian,
# desktop-file-validate and appstreamcli find nothing wrong.
#   package_test.sh BUILD_DIR VERSION
set -euo pipefail
build=$1 version=$2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /tmp/lynx-package-test-XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "package_test: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack failed"; }
arch=$(dpkg --print-architecture)
deb="$work/out/lynx-cameras_${version}_${arch}.deb"
[ -f "$deb" ] || fail "no $deb; made: $(ls "$work/out")"

[ "$(dpkg-deb -f "$deb" Package)" = lynx-cameras ] || fail "Package: $(dpkg-deb -f "$deb" Package)"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "Version: $(dpkg-deb -f "$deb" Version)"
depends=$(dpkg-deb -f "$deb" Depends)
# The package names alone: alternatives split, version bounds dropped.
depends_names=$(tr ',|' '\n\n' <<<"$depends" | sed 's/(.*)//; s/:any//; s/^ *//; s/ *$//')
# qt6-qpa-plugins holds the xcb platform plugin the window cannot start
# without (libqt6gui6 only recommends it); qt6-translations-l10n, Qt's own texts.
for needed in fonts-wqy-microhei qt6-qpa-plugins qt6-translations-l10n libqt6widgets6 libjsoncpp25 libcurl4; do
  grep -qx -- "$needed" <<<"$depends_names" || fail "Depends lacks $needed: $depends"
done
# Breaks and Replaces take over from this tool's own lynx package (up to
# 1.0.1), never from Debian's browser: every version of that is 2 or later.
for field in Breaks Replaces; do
  value=$(dpkg-deb -f "$deb" "$field")
  [[ $value =~ ^lynx\ \(\<\<\ ([^\)]+)\)$ ]] || fail "$field: '$value', not lynx (<< VERSION)"
  bound=${BASH_REMATCH[1]}
  dpkg --compare-versions 1.0.1 lt "$bound" || fail "$field: $value misses the tool's lynx 1.0.1"
  for browser in 2 2.8.9rel.1-3 2.9.0dev.12-1; do
    ! dpkg --compare-versions "$browser" lt "$bound" || fail "$field: $value takes in the browser $browser"
  done
done
dpkg-deb -e "$deb" "$work/control"
for script in preinst postinst prerm postrm; do
  [ ! -e "$work/control/$script" ] || fail "an unexpected maintainer script: $script"
done

root="$work/root"
dpkg -x "$deb" "$root"
[ "$("$root/usr/bin/lynx-cli" --version)" = "lynx-cli $version" ] || fail "lynx-cli --version from the scratch root"
[ "$("$root/usr/bin/lynx-cameras" --version)" = "lynx-cameras $version" ] || fail "lynx-cameras --version from the scratch root"
"$root/usr/bin/lynx-cli" upgrade --help | grep -q -- "--parallel" || fail "lynx-cli upgrade --help"
for file in usr/share/applications/lynx-cameras.desktop usr/share/man/man1/lynx-cli.1.gz \
            usr/share/man/man1/lynx-cameras.1.gz usr/share/man/man1/lynx-camsim.1.gz \
            usr/share/bash-completion/completions/lynx-cli \
            usr/share/icons/hicolor/48x48/apps/lynx-cameras.png usr/share/icons/hicolor/256x256/apps/lynx-cameras.png \
            usr/share/metainfo/io.github.lynx_tool.lynx_cameras.metainfo.xml \
            usr/share/doc/lynx-cameras/copyright usr/share/doc/lynx-cameras/changelog.gz; do
  [ -s "$root/$file" ] || fail "missing $file"
done

# No path of ours is one of Debian's text web browser's (packages lynx and
# lynx-common), whose paths debian-lynx-paths.txt holds: dpkg would refuse to
# install both. A clash is the same file or link, one of the browser's own
# directories (/usr/share/doc/lynx), or anything below one of its links.
browser_paths="$here/debian-lynx-paths.txt"
browser_clashes() {
  (cd "$1" && find . -mindepth 1 | sed 's/^\.//' | LC_ALL=C sort) |
    awk 'NR == FNR { if ($0 !~ /^#/ && NF == 3) { owner[$3] = $2; if ($1 == "l") link[$3] = 1 }; next }
         $0 in owner { print $0 " (" owner[$0] ")"; next }
         { for (l in link) if (index($0, l "/") == 1) { print $0 " (below " l ", " owner[l] ")"; break } }' \
      "$browser_paths" -
}
grep -q '^f lynx /usr/bin/lynx$' "$browser_paths" || fail "$browser_paths lacks the browser's /usr/bin/lynx"
# The check itself catches the names this tool had up to 1.0.1.
old="$work/old-names"
mkdir -p "$old/usr/bin" "$old/usr/share/man/man1" "$old/usr/share/doc/lynx"
touch "$old/usr/bin/lynx" "$old/usr/bin/lynx-cli" "$old/usr/share/man/man1/lynx.1.gz" "$old/usr/share/doc/lynx/copyright"
[ "$(browser_clashes "$old" | cut -d' ' -f1 | tr '\n' ' ')" = \
  "/usr/bin/lynx /usr/share/doc/lynx /usr/share/doc/lynx/copyright /usr/share/man/man1/lynx.1.gz " ] ||
  fail "the clash check misses the old names: $(browser_clashes "$old")"
clashes=$(browser_clashes "$root")
[ -z "$clashes" ] || fail "paths Debian's lynx or lynx-common also installs:"$'\n'"$clashes"

# The menu entry starts the installed program with the installed icon, and the
# AppStream data names that entry; their versions follow the project's.
desktop="$root/usr/share/applications/lynx-cameras.desktop"
grep -qx 'Exec=lynx-cameras' "$desktop" || fail "lynx-cameras.desktop: $(grep '^Exec=' "$desktop")"
grep -qx 'Icon=lynx-cameras' "$desktop" || fail "lynx-cameras.desktop: $(grep '^Icon=' "$desktop")"
grep -qx 'Name=Lynx' "$desktop" || fail "lynx-cameras.desktop: $(grep '^Name=' "$desktop")"
metainfo="$root/usr/share/metainfo/io.github.lynx_tool.lynx_cameras.metainfo.xml"
grep -q '<id>io.github.lynx_tool.lynx_cameras</id>' "$metainfo" || fail "the AppStream id"
grep -q '<launchable type="desktop-id">lynx-cameras.desktop</launchable>' "$metainfo" || fail "the AppStream launchable"
grep -q '<binary>lynx-cameras</binary>' "$metainfo" || fail "the AppStream binaries"
[ "$(grep -m1 -o '<release version="[^"]*"' "$metainfo")" = "<release version=\"$version\"" ] ||
  fail "the newest AppStream release is not $version"
[ "$(zcat "$root/usr/share/doc/lynx-cameras/changelog.gz" | head -1 | cut -d' ' -f1-2)" = "lynx-cameras ($version)" ] ||
  fail "the changelog's newest entry is not lynx-cameras ($version)"
for page in lynx-cameras lynx-cli lynx-camsim; do
  zcat "$root/usr/share/man/man1/$page.1.gz" | head -1 | grep -qF "\"Lynx $version\"" ||
    fail "$page.1 does not name version $version"
done
ls "$root"/usr/lib/*/lynx/libTARN.so >/dev/null 2>&1 || fail "the device libraries are not in their private folder"
if find "$root" -name '*test*' | grep -q .; then fail "tests were installed: $(find "$root" -name '*test*')"; fi
# The manual pages read without warnings.
for page in "$root"/usr/share/man/man1/*.1.gz; do
  warnings=$(zcat "$page" | LC_ALL=C.UTF-8 MANWIDTH=80 groff -k -t -man -Tutf8 -ww -z 2>&1 || true)
  [ -z "$warnings" ] || fail "$(basename "$page"): $warnings"
done
# The completion offers the commands and an upgrade's options.
completion=$(bash -c 'source /usr/share/bash-completion/bash_completion 2>/dev/null || true
  source "$1"; COMP_WORDS=(lynx-cli upgrade --pa); COMP_CWORD=2; COMP_LINE="lynx-cli upgrade --pa"; COMP_POINT=${#COMP_LINE}
  _lynx_cli lynx-cli --pa upgrade; echo "${COMPREPLY[*]}"' _ "$root/usr/share/bash-completion/completions/lynx-cli")
[ "$completion" = "--parallel" ] || fail "completion of 'lynx-cli upgrade --pa' gave '$completion'"

desktop-file-validate "$desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml || fail "appstreamcli validate"
lintian --tag-display-limit 0 --fail-on error,warning "$deb" 2>&1 | grep -v 'root privileges' || true
lintian --fail-on error,warning "$deb" >/dev/null 2>&1 || fail "lintian reports errors or warnings"
echo "package_test: $(basename "$deb") passes"
