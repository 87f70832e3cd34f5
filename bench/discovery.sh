#!/usr/bin/env bash
# Discovery at scale: CAMERAS simulated cameras (default 2000) answer one
# search in a single burst inside a virtual LAN; lynx-cli lists them, or with
# --window the real window (offscreen). Prints, for each of RUNS searches, how
# many cameras were listed and the time from the last report the simulator
# sent to the last row listed; for the window also the longest gap between two
# turns of the UI thread while rows arrived.
#
#   bench/discovery.sh [--window] [BIN_DIR] [CAMERAS] [RUNS]
#
# BIN_DIR defaults to build/bin. The exit status is 1 when a run listed fewer
# cameras than answered, or its timing could not be read. BENCH_SMOKE=1: 20
# cameras, one run, a search of 1 s (the test suite's run; arguments and
# LYNX_BENCH_SECONDS still win). Needs root (network namespaces).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
mode=cli
if [ "${1:-}" = "--window" ]; then
  mode=window
  shift
fi
bin="$(cd "${1:-$here/../build/bin}" && pwd)"
smoke=${BENCH_SMOKE:+1}
cameras=${2:-$([ -n "$smoke" ] && echo 20 || echo 2000)}
runs=${3:-$([ -n "$smoke" ] && echo 1 || echo 3)}
seconds=${LYNX_BENCH_SECONDS:-$([ -n "$smoke" ] && echo 1 || echo 4)}

tools="lynx-cli lynx-camsim"
[ "$mode" = window ] && tools="lynx-bench-window-discovery lynx-camsim"
for tool in $tools; do
  [ -x "$bin/$tool" ] || { echo "discovery.sh: $bin/$tool not built" >&2; exit 1; }
done

# Runs inside the PC namespace of the LAN.
inner=$(cat <<'INNER'
set -euo pipefail
mode=$1 cameras=$2 runs=$3 seconds=$4
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
# The PC namespace's UDP counters: datagrams delivered, and lost for a full
# receive buffer.
udp() { awk '/^Udp: [0-9]/ { print $2, $4, $6 }' /proc/net/snmp; }
printf '%-4s %-8s %-8s %-36s %-16s %s\n' run listed goal "last report sent -> last row listed" \
  "$([ "$mode" = window ] && echo "longest UI gap")" "sent / kernel in / rcvbuf errors / received by Lynx"
for run in $(seq 1 "$runs"); do
  before=$(grep -c 'timing: last report sent' "$LYNX_NETLAB_CAMSIM_LOG" || true)
  read -r in0 err0 rcvbuf0 <<<"$(udp)"
  gap=""
  received="n/a"
  if [ "$mode" = window ]; then
    "$LYNX_BIN_DIR/lynx-bench-window-discovery" "$seconds" >"$out/window.out" 2>"$out/window.err"
    if [ -n "${LYNX_BENCH_VERBOSE:-}" ]; then
      grep turns "$out/window.err" >&2 || true
      grep 'peak RSS' "$out/window.out" >&2 || true
    fi
    listed=$(sed -n 's/^listed \([0-9]*\)/\1/p' "$out/window.out")
    listedAt=$(sed -n 's/^timing: last row listed at \([0-9.]*\).*/\1/p' "$out/window.out")
    gap=$(sed -n 's/^longest UI gap while rows arrived: \(.*\)/\1/p' "$out/window.out")
  else
    "$LYNX_BIN_DIR/lynx-cli" search --seconds "$seconds" --format csv --timing >"$out/rows.csv" 2>"$out/cli.err"
    listed=$(( $(wc -l <"$out/rows.csv") - 1 ))
    listedAt=$(sed -n 's/^timing: last row listed at \([0-9.]*\).*/\1/p' "$out/cli.err")
    received=$(sed -n 's/^timing: \([0-9]*\) datagrams received.*/\1/p' "$out/cli.err")
  fi
  read -r in1 err1 rcvbuf1 <<<"$(udp)"
  # The simulator writes its line as soon as its burst is out.
  for _ in $(seq 1 50); do
    [ "$(grep -c 'timing: last report sent' "$LYNX_NETLAB_CAMSIM_LOG" || true)" -gt "$before" ] && break
    sleep 0.1
  done
  sent=$(grep 'timing: last report sent' "$LYNX_NETLAB_CAMSIM_LOG" | tail -n 1 | sed 's/.* at \([0-9.]*\).*/\1/')
  sentCount=$(grep 'timing: last report sent' "$LYNX_NETLAB_CAMSIM_LOG" | tail -n 1 | sed 's/.*(\([0-9]*\) sent.*/\1/')
  if [ -n "$sent" ] && [ -n "$listedAt" ]; then
    delta=$(awk -v a="$sent" -v b="$listedAt" 'BEGIN { printf "%.1f ms", (b - a) * 1000 }')
  else
    delta="n/a"
  fi
  printf '%-4s %-8s %-8s %-36s %-16s %s\n' "$run" "$listed" "$cameras" "$delta" "$gap" \
    "$sentCount / $((in1 - in0)) / $((rcvbuf1 - rcvbuf0)) / $received"
  [ "$listed" = "$cameras" ] && [ "$delta" != n/a ] || short=1
done
exit "${short:-0}"
INNER
)

echo "discovery ($mode): $cameras cameras in one burst, search of $seconds s, $runs runs"
"$here/../tools/netlab/netlab" run --cameras "$cameras" --bin "$bin" --camsim-args "--burst --timing" \
  -- bash -c "$inner" discovery "$mode" "$cameras" "$runs" "$seconds"
