#!/usr/bin/env bash
# Many cameras downloading one firmware file at once, in the virtual LAN: the
# tool's upgrade-file server runs on the PC, CLIENTS downloads (default 30) of
# a SIZE_MIB file (default 64) start together from the cameras' side, each
# reading at RATE bytes per second from its first byte on (default 8388608:
# a camera writing flash; slow_camera.py) and giving up after 300 s (the
# simulator's download time-out). Run twice in one go: with the server as it
# was before (one connection at a time, a backlog of 1) and as it is (32 at
# once, a backlog of 256).
# Each camera downloads from an address of its own (10.1.2.N on the cameras'
# side), which the server admits, as a batch admits each camera it upgrades.
# Prints, for each, the downloads complete and exact, and the total time; the
# exit status is 1 when a download of the server as it is came back short.
#
#   bench/downloads.sh [BIN_DIR] [CLIENTS] [SIZE_MIB] [RATE]
#
# BENCH_SMOKE=1: 3 cameras, 2 MiB at 16 MiB/s (the test suite's run; arguments
# still win). Needs root (network namespaces) and python3.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
bin="$(cd "${1:-$here/../build/bin}" && pwd)"
smoke=${BENCH_SMOKE:+1}
clients=${2:-$([ -n "$smoke" ] && echo 3 || echo 30)}
size_mib=${3:-$([ -n "$smoke" ] && echo 2 || echo 64)}
rate=${4:-$([ -n "$smoke" ] && echo 16777216 || echo 8388608)}
[ "$clients" -le 250 ] || { echo "downloads.sh: at most 250 cameras (10.1.2.0/24)" >&2; exit 2; }
[ -x "$bin/upgrade_server_serve" ] || { echo "downloads.sh: $bin/upgrade_server_serve not built" >&2; exit 1; }
command -v python3 >/dev/null || { echo "downloads.sh: python3 is needed (slow_camera.py)" >&2; exit 1; }

inner=$(cat <<'INNER'
set -euo pipefail
clients=$1 size_mib=$2 rate=$3 camera=$4
work=$(mktemp -d /tmp/lynx-bench-dl-XXXXXX)
server=""
trap '[ -n "$server" ] && kill "$server" 2>/dev/null; rm -rf "$work"' EXIT
dd if=/dev/urandom of="$work/firmware.zip" bs=1M count="$size_mib" status=none
want=$(sha256sum <"$work/firmware.zip" | cut -d' ' -f1)
# Camera i's address: 10.1.2.i, past the PC's .100.
address() { local host=$1; [ "$host" -ge 100 ] && host=$((host + 1)); echo "10.1.2.$host"; }
admit=()
for i in $(seq 1 "$clients"); do
  ip -n "$LYNX_NETLAB_CAMERA_NS" addr add "$(address "$i")/24" dev "$LYNX_NETLAB_CAMERA_IF"
  admit+=(--admit "$(address "$i")")
done
round() {
  local label=$1 connections=$2 backlog=$3
  rm -f "$work/serve.out"
  "$LYNX_BIN_DIR/upgrade_server_serve" "$work/firmware.zip" 9000 "$LYNX_NETLAB_PC_IP" "$connections" "$backlog" \
    "${admit[@]}" >"$work/serve.out" &
  server=$!
  until [ -s "$work/serve.out" ]; do sleep 0.05; done
  local port; port=$(head -1 "$work/serve.out")
  local start; start=$(date +%s.%N)
  for i in $(seq 1 "$clients"); do
    ip netns exec "$LYNX_NETLAB_CAMERA_NS" python3 "$camera" "$LYNX_NETLAB_PC_IP" "$port" firmware.zip "$rate" 300 \
      "$(address "$i")" >"$work/got.$i" 2>"$work/err.$i" &
  done
  local failed=0
  for job in $(jobs -p); do
    [ "$job" = "$server" ] && continue
    wait "$job" || failed=$((failed + 1))
  done
  local end; end=$(date +%s.%N)
  local exact=0 said=""
  for i in $(seq 1 "$clients"); do
    if [ "$(cat "$work/got.$i" 2>/dev/null)" = "$want" ]; then
      exact=$((exact + 1))
    elif [ -z "$said" ]; then
      said=1
      sed "s/^/  camera $i: /" "$work/err.$i" >&2
    fi
    rm -f "$work/got.$i" "$work/err.$i"
  done
  last_exact=$exact
  kill "$server"; wait "$server" 2>/dev/null || true; server=""
  printf '%-44s %2d/%d exact, %d failed, all done after %.1f s\n' "$label" "$exact" "$clients" "$failed" \
    "$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')"
}
round "one at a time, backlog 1 (before):" 1 1
round "32 at once, backlog 256 (now):" 32 256
[ "$last_exact" -eq "$clients" ]
INNER
)
echo "downloads: $clients cameras at once, $size_mib MiB each read at $rate B/s"
"$here/../tools/netlab/netlab" run --cameras 1 --bin "$bin" -- bash -c "$inner" downloads "$clients" "$size_mib" "$rate" "$here/slow_camera.py"
