#!/usr/bin/env bash
# The Debian package, as a user gets it: cpack builds it from the build folder,
# its control data names the libraries' packages and the font, it unpacks into
# a scratch root (dpkg -x) where lynx-cli and lynx answer --version, and
# lintian, desktop-file-validate and appstreamcli find nothing wrong.
#   package_test.sh BUILD_DIR VERSION
set -euo pipefail
build=$1 version=$2
work=$(mktemp -d /tmp/lynx-package-test-XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "package_test: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack failed"; }
arch=$(dpkg --print-architecture)
deb="$work/out/lynx_${version}_${arch}.deb"
[ -f "$deb" ] || fail "no $deb; made: $(ls "$work/out")"

depends=$(dpkg-deb -f "$deb" Depends)
for needed in fonts-wqy-microhei libqt6widgets6 libjsoncpp25 libcurl4; do
  grep -q "$needed" <<<"$depends" || fail "Depends lacks $needed: $depends"
done
dpkg-deb -e "$deb" "$work/control"
for script in preinst postinst prerm postrm; do
  [ ! -e "$work/control/$script" ] || fail "an unexpected maintainer script: $script"
done

root="$work/root"
dpkg -x "$deb" "$root"
[ "$("$root/usr/bin/lynx-cli" --version)" = "lynx-cli $version" ] || fail "lynx-cli --version from the scratch root"
[ "$("$root/usr/bin/lynx" --version)" = "lynx $version" ] || fail "lynx --version from the scratch root"
"$root/usr/bin/lynx-cli" upgrade --help | grep -q -- "--parallel" || fail "lynx-cli upgrade --help"
for file in usr/share/applications/lynx.desktop usr/share/man/man1/lynx-cli.1.gz usr/share/man/man1/lynx.1.gz \
            usr/share/man/man1/lynx-camsim.1.gz usr/share/bash-completion/completions/lynx-cli \
            usr/share/icons/hicolor/48x48/apps/lynx.png usr/share/icons/hicolor/256x256/apps/lynx.png \
            usr/share/doc/lynx/copyright; do
  [ -s "$root/$file" ] || fail "missing $file"
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

desktop-file-validate "$root/usr/share/applications/lynx.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml || fail "appstreamcli validate"
lintian --tag-display-limit 0 --fail-on error,warning "$deb" 2>&1 | grep -v 'root privileges' || true
lintian --fail-on error,warning "$deb" >/dev/null 2>&1 || fail "lintian reports errors or warnings"
echo "package_test: $(basename "$deb") passes"
