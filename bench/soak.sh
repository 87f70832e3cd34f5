#!/usr/bin/env bash
# Soak: does anything pile up over hours of use? In the virtual LAN:
#  1. the window (offscreen) searches SEARCHES times back to back (default 200)
#     while CAMERAS simulated cameras answer each (default 2000); it prints its
#     resident memory and open descriptors before, after every tenth search
#     and at the end;
#  2. lynx-cli runs BATCHES batch upgrades of 5 cameras (default 50, all five
#     at once: --parallel 5), one after
#     another, against one long-running simulator; printed for the first and
#     the last: lynx-cli's peak memory, the simulator's memory and
#     descriptors, and the sockets left open in the PC's namespace.
#
#   bench/soak.sh [BIN_DIR] [SEARCHES] [CAMERAS] [BATCHES]   (SEARCHES 0: the second part only)
#
# The exit status is 1 when a batch did not upgrade every camera. BENCH_SMOKE=1:
# 2 searches of 20 cameras, 2 batches (the test suite's run; arguments still
# win). Needs root (network namespaces).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
bin="$(cd "${1:-$here/../build/bin}" && pwd)"
smoke=${BENCH_SMOKE:+1}
searches=${2:-$([ -n "$smoke" ] && echo 2 || echo 200)}
cameras=${3:-$([ -n "$smoke" ] && echo 20 || echo 2000)}
batches=${4:-$([ -n "$smoke" ] && echo 2 || echo 50)}
command -v python3 >/dev/null || { echo "soak.sh: python3 is needed to make the firmware file" >&2; exit 1; }
for tool in lynx-bench-window-discovery lynx-cli lynx-camsim; do
  [ -x "$bin/$tool" ] || { echo "soak.sh: $bin/$tool not built" >&2; exit 1; }
done

if [ "$searches" -gt 0 ]; then
  echo "soak 1: the window, $searches searches of $cameras cameras"
  "$here/../tools/netlab/netlab" run --cameras "$cameras" --bin "$bin" -- \
    "$bin/lynx-bench-window-discovery" 1 "$searches" | grep -E '^soak|^peak'
fi

inner=$(cat <<'INNER'
set -euo pipefail
batches=$1
work=$(mktemp -d /tmp/lynx-soak-XXXXXX)
trap 'rm -rf "$work"' EXIT
head -c 200000 /dev/urandom >"$work/fw.bin"
(cd "$work" && python3 -c "import zipfile; z = zipfile.ZipFile('firmware.zip', 'w'); z.write('fw.bin'); z.close()")
status() { awk -v f="$2" '$1 == f { print $2 }' "/proc/$1/status"; }
sample() {
  local sim=$LYNX_NETLAB_CAMSIM_PID
  # Sockets of the PC's namespace still open, and those only waiting out
  # TCP's TIME-WAIT (the downloads' closed connections, gone after 60 s).
  printf 'soak %-6s batches %3d  simulator RSS %6s KiB fds %3s  PC sockets open %3s, in TIME-WAIT %3s\n' "$1" "$2" \
    "$(status "$sim" VmRSS:)" "$(ls "/proc/$sim/fd" | wc -l)" "$(ss -tuanH exclude time-wait | wc -l)" \
    "$(ss -tanH state time-wait | wc -l)"
}
sample before 0
failed=0
for i in $(seq 1 "$batches"); do
  /usr/bin/time -f '%M' -o "$work/peak" "$LYNX_BIN_DIR/lynx-cli" upgrade --file "$work/firmware.zip" \
    --seconds 1 --wait 120 --parallel 5 --all >"$work/out" 2>&1 || failed=$((failed + 1))
  [ "$i" -eq 1 ] && first=$(tail -1 "$work/peak")
  [ $((i % 10)) -eq 0 ] && sample after "$i"
done
echo "lynx-cli peak memory: first batch $first KiB, last $(tail -1 "$work/peak") KiB; batches not all successful: $failed"
tail -1 "$work/out"
[ "$failed" -eq 0 ]
INNER
)
echo "soak 2: lynx-cli, $batches batch upgrades of 5 cameras"
"$here/../tools/netlab/netlab" run --cameras 5 --bin "$bin" -- bash -c "$inner" soak "$batches"
