#!/usr/bin/env bash
# A large site's acceptance: CAMERAS simulated cameras (default 10000) answer
# in one burst inside a virtual LAN, and `lynx-cli check` compares them with a
# site file of the same CAMERAS cameras (their MACs, planned addresses and
# version, from the simulator's own list). Prints, for each of RUNS checks,
# the wall time from the command's start to its exit, its exit status and its
# counts line.
#
#   bench/site_check.sh [BIN_DIR] [CAMERAS] [RUNS]
#
# BIN_DIR defaults to build/bin; LYNX_BENCH_SECONDS (default 4) is the search.
# The exit status is 1 when a check did not pass. BENCH_SMOKE=1: 50 cameras, a
# search of 1 s (the test suite's run; arguments and the variable still win).
# Needs root (network namespaces) and python3.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
bin="$(cd "${1:-$here/../build/bin}" && pwd)"
smoke=${BENCH_SMOKE:+1}
cameras=${2:-$([ -n "$smoke" ] && echo 50 || echo 10000)}
runs=${3:-1}
seconds=${LYNX_BENCH_SECONDS:-$([ -n "$smoke" ] && echo 1 || echo 4)}
for tool in lynx-cli lynx-camsim; do
  [ -x "$bin/$tool" ] || { echo "site_check.sh: $bin/$tool not built" >&2; exit 1; }
done

# Runs inside the PC namespace of the LAN.
inner=$(cat <<'INNER'
set -euo pipefail
runs=$1 seconds=$2
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
# The site file: one row per simulated camera, as planned.
python3 - "$LYNX_NETLAB_CAMERAS" "$out/site.csv" <<'PY'
import csv, json, sys
cameras = json.load(open(sys.argv[1], encoding="utf-8"))
with open(sys.argv[2], "w", newline="", encoding="utf-8") as f:
    w = csv.writer(f)
    w.writerow(["mac", "ip", "mask", "gateway", "softwareVersion", "label"])
    for n, c in enumerate(cameras, 1):
        w.writerow([c["mac"], c["ip"], c.get("mask", ""), c.get("gateway", ""), c.get("softwareVersion", ""), "P-%05d" % n])
PY
printf '%-4s %-10s %-6s %s\n' run "wall (s)" exit counts
for run in $(seq 1 "$runs"); do
  start=$(date +%s.%N)
  status=0
  LYNX_LANG=en "$LYNX_BIN_DIR/lynx-cli" check --site "$out/site.csv" --seconds "$seconds" --format csv \
    >"$out/check.csv" 2>"$out/check.err" || status=$?
  end=$(date +%s.%N)
  wall=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')
  printf '%-4s %-10s %-6s %s\n' "$run" "$wall" "$status" "$(tail -n 1 "$out/check.err")"
  [ "$status" -eq 0 ] || failed=1
done
exit "${failed:-0}"
INNER
)

echo "site check: $cameras cameras in one burst, a site file of $cameras, search of $seconds s, $runs runs"
"$here/../tools/netlab/netlab" run --cameras "$cameras" --bin "$bin" --camsim-args "--burst" \
  -- bash -c "$inner" site_check "$runs" "$seconds"
