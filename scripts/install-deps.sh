#!/usr/bin/env bash
# Installs the Debian packages Lynx needs to build, test and run, when missing.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libgl-dev libjsoncpp-dev libcurl4-openssl-dev libzip-dev zipcmp zipmerge ziptool
  googletest libgtest-dev libgmock-dev
  fonts-wqy-microhei iproute2 procps curl zip xvfb xauth openbox wmctrl xdotool x11-utils nginx-light time
  qt6-tools-dev qt6-l10n-tools qt6-translations-l10n
  dpkg-dev file lintian desktop-file-utils appstream
  libmosquitto-dev mosquitto mosquitto-clients
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
