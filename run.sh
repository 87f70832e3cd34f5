#!/usr/bin/env bash
# Installs what is missing, builds, and starts Lynx.
#   ./run.sh            a virtual LAN of 8 simulated cameras and the window in it
#                       (without a display: lynx-cli search --seconds 3 in that LAN)
#   ./run.sh --real     the window on this machine's own network (real cameras);
#                       it needs no root, but the firewall must let in UDP 19027
#                       and 8025 and TCP 9000-9010 (see README, "On a real network")
# Further arguments go to the window (./run.sh --real --lang en).
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target lynx-cameras lynx-cli lynx-camsim
bin="$PWD/build/bin"
if [ "${1:-}" = "--real" ]; then
  shift
  if command -v nft >/dev/null && [ "$(id -u)" -eq 0 ] && nft list ruleset 2>/dev/null | grep -q "policy drop"; then
    echo "run.sh: a firewall drops unasked-for traffic here; let the cameras' answers in, for example:" >&2
    echo "  nft add rule inet filter input udp dport { 19027, 8025 } accept" >&2
    echo "  nft add rule inet filter input tcp dport 9000-9010 accept" >&2
  fi
  exec "$bin/lynx-cameras" "$@"
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "run.sh: the virtual LAN needs root (network namespaces); use 'sudo ./run.sh', or './run.sh --real' for a real network." >&2
  exit 1
fi
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  # The window runs as root inside the PC namespace; let it reach the display.
  command -v xhost >/dev/null && xhost +si:localuser:root >/dev/null 2>&1 || true
  exec tools/netlab/netlab run --cameras 8 --bin "$bin" -- "$bin/lynx-cameras"
fi
echo "No display: searching the virtual LAN from the command line instead."
exec tools/netlab/netlab run --cameras 8 --bin "$bin" -- "$bin/lynx-cli" search --seconds 3
