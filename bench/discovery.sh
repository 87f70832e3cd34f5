#!/usr/bin/env bash
# Discovery at scale: CAMERAS simulated cameras (default 2000) answer one
# search in a single burst inside a virtual LAN; lynx-cli lists them. Reports,
# for each of RUNS searches, how many cameras were listed and the time from the
# last report the simulator sent to the last row lynx-cli listed.
#
#   bench/discovery.sh [BIN_DIR] [CAMERAS] [RUNS]
#
# BIN_DIR defaults to build/bin. Needs root (network namespaces).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
bin="$(cd "${1:-$here/../build/bin}" && pwd)"
cameras=${2:-2000}
runs=${3:-3}
seconds=${LYNX_BENCH_SECONDS:-4}

for tool in lynx-cli lynx-camsim; do
  [ -x "$bin/$tool" ] || { echo "discovery.sh: $bin/$tool not built" >&2; exit 1; }
done

# Runs inside the PC namespace of the LAN.
inner=$(cat <<'INNER'
set -euo pipefail
cameras=$1 runs=$2 seconds=$3
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
printf '%-4s %-8s %-8s %s\n' run listed goal "last report sent -> last row listed"
for run in $(seq 1 "$runs"); do
  before=$(grep -c 'timing: last report sent' "$LYNX_NETLAB_CAMSIM_LOG" || true)
  "$LYNX_BIN_DIR/lynx-cli" search --seconds "$seconds" --format csv --timing >"$out/rows.csv" 2>"$out/cli.err"
  listed=$(( $(wc -l <"$out/rows.csv") - 1 ))
  # The simulator writes its line as soon as its burst is out.
  for _ in $(seq 1 50); do
    [ "$(grep -c 'timing: last report sent' "$LYNX_NETLAB_CAMSIM_LOG" || true)" -gt "$before" ] && break
    sleep 0.1
  done
  sent=$(grep 'timing: last report sent' "$LYNX_NETLAB_CAMSIM_LOG" | tail -n 1 | sed 's/.* at \([0-9.]*\).*/\1/')
  listedAt=$(sed -n 's/^timing: last row listed at \([0-9.]*\).*/\1/p' "$out/cli.err")
  if [ -n "$sent" ] && [ -n "$listedAt" ]; then
    delta=$(awk -v a="$sent" -v b="$listedAt" 'BEGIN { printf "%.1f ms", (b - a) * 1000 }')
  else
    delta="n/a"
  fi
  printf '%-4s %-8s %-8s %s\n' "$run" "$listed" "$cameras" "$delta"
done
INNER
)

echo "discovery: $cameras cameras in one burst, lynx-cli search --seconds $seconds, $runs runs"
"$here/../tools/netlab/netlab" run --cameras "$cameras" --bin "$bin" --camsim-args "--burst --timing" \
  -- bash -c "$inner" discovery "$cameras" "$runs" "$seconds"
