#!/usr/bin/env bash
# Discovery at scale in the window: CAMERAS simulated cameras (default 2000)
# answer one search in a single burst inside a virtual LAN; the real window
# (offscreen) lists them. Prints, per run, the rows listed, the time from the
# last report the simulator sent to the last row listed, and the longest gap
# between two turns of the UI thread while rows arrived.
#
#   bench/discovery_window.sh [BIN_DIR] [CAMERAS] [RUNS]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
bin="$(cd "${1:-$here/../build/bin}" && pwd)"
cameras=${2:-2000}
runs=${3:-3}
seconds=${LYNX_BENCH_SECONDS:-4}

inner=$(cat <<'INNER'
set -euo pipefail
cameras=$1 runs=$2 seconds=$3
printf '%-4s %-8s %-8s %-36s %s\n' run listed goal "last report sent -> last row listed" "longest UI gap"
for run in $(seq 1 "$runs"); do
  before=$(grep -c 'timing: last report sent' "$LYNX_NETLAB_CAMSIM_LOG" || true)
  out=$("$LYNX_BIN_DIR/lynx-bench-window-discovery" "$seconds" 2>/dev/null)
  for _ in $(seq 1 50); do
    [ "$(grep -c 'timing: last report sent' "$LYNX_NETLAB_CAMSIM_LOG" || true)" -gt "$before" ] && break
    sleep 0.1
  done
  sent=$(grep 'timing: last report sent' "$LYNX_NETLAB_CAMSIM_LOG" | tail -n 1 | sed 's/.* at \([0-9.]*\).*/\1/')
  listed=$(sed -n 's/^listed \([0-9]*\)/\1/p' <<<"$out")
  listedAt=$(sed -n 's/^timing: last row listed at \([0-9.]*\).*/\1/p' <<<"$out")
  gap=$(sed -n 's/^longest UI gap while rows arrived: \(.*\)/\1/p' <<<"$out")
  delta=$(awk -v a="$sent" -v b="$listedAt" 'BEGIN { printf "%.1f ms", (b - a) * 1000 }')
  printf '%-4s %-8s %-8s %-36s %s\n' "$run" "$listed" "$cameras" "$delta" "$gap"
done
INNER
)
echo "window discovery: $cameras cameras in one burst, search of $seconds s, $runs runs"
"$here/../tools/netlab/netlab" run --cameras "$cameras" --bin "$bin" --camsim-args "--burst --timing" \
  -- bash -c "$inner" discovery "$cameras" "$runs" "$seconds"
