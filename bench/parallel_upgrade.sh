#!/usr/bin/env bash
# A large site's upgrade, in the virtual LAN: CAMERAS simulated cameras
# (default 100) take a SIZE_MIB firmware file (default 16), each reading it at
# RATE bytes per second (default 4194304, a camera writing flash) and
# installing for 1 s. lynx-cli upgrades them all twice in one run: at the
# window's pacing (one request every 3 s) and with --parallel N (default 16).
# Prints the total time of each and how many cameras succeeded.
#
#   bench/parallel_upgrade.sh [BIN_DIR] [CAMERAS] [SIZE_MIB] [N] [RATE]
#
# The parallel round prints each camera's progress as JSON lines (--format
# json), and the bench counts, per camera, the 10 % steps its lines went
# through: "progress: C of N cameras told every 10 % step".
#
# LYNX_BENCH_SECONDS (default 3) is the search. The exit status is 1 when a
# camera was not upgraded. BENCH_SMOKE=1: 3 cameras, 1 MiB, --parallel 3, a
# search of 1 s (the test suite's run; arguments and the variable still win).
# BENCH_PARALLEL_ONLY=1 leaves out the paced round. Needs root (network
# namespaces).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
bin="$(cd "${1:-$here/../build/bin}" && pwd)"
smoke=${BENCH_SMOKE:+1}
cameras=${2:-$([ -n "$smoke" ] && echo 3 || echo 100)}
size_mib=${3:-$([ -n "$smoke" ] && echo 1 || echo 16)}
parallel=${4:-$([ -n "$smoke" ] && echo 3 || echo 16)}
rate=${5:-4194304}
seconds=${LYNX_BENCH_SECONDS:-$([ -n "$smoke" ] && echo 1 || echo 3)}
command -v python3 >/dev/null || { echo "parallel_upgrade.sh: python3 is needed to make the firmware file" >&2; exit 1; }
for tool in lynx-cli lynx-camsim; do
  [ -x "$bin/$tool" ] || { echo "parallel_upgrade.sh: $bin/$tool not built" >&2; exit 1; }
done

inner=$(cat <<'INNER'
set -euo pipefail
cameras=$1 size_mib=$2 parallel=$3 seconds=$4 parallel_only=$5
failed=0
work=$(mktemp -d /tmp/lynx-bench-par-XXXXXX)
trap 'rm -rf "$work"' EXIT
head -c "$((size_mib << 20))" /dev/urandom >"$work/fw.bin"
(cd "$work" && python3 -c "import zipfile; z = zipfile.ZipFile('firmware.zip', 'w'); z.write('fw.bin'); z.close()")
round() {
  local label=$1; shift
  local start end
  start=$(date +%s.%N)
  "$LYNX_BIN_DIR/lynx-cli" upgrade --file "$work/firmware.zip" --all --seconds "$seconds" --wait 1800 "$@" \
    >"$work/out" 2>&1 || failed=1
  end=$(date +%s.%N)
  local last
  if [ "${json:-}" = 1 ]; then last=$(steps "$work/out"); else last=$(tail -1 "$work/out"); fi
  printf '%-32s %s; %.1f s\n' "$label" "$last" "$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')"
}
# Per camera: its last state, and whether its lines went through every 10 %.
steps() {
  python3 - "$1" <<'PY'
import json, sys
cams = {}
for line in open(sys.argv[1], encoding="utf-8"):
    try:
        o = json.loads(line)
    except ValueError:
        continue
    if isinstance(o, dict) and "mac" in o and "percent" in o:
        c = cams.setdefault(o["mac"], {"steps": set(), "state": ""})
        c["steps"].add(o["percent"] // 10)
        c["state"] = o["state"]
every = sum(1 for c in cams.values() if c["steps"] >= set(range(11)))
ok = sum(1 for c in cams.values() if c["state"] == "succeeded")
print(f"{ok} of {len(cams)} succeeded; progress: {every} of {len(cams)} cameras told every 10 % step")
PY
}
[ "$parallel_only" = 1 ] || round "paced (one request every 3 s):"
json=1 round "--parallel $parallel:" --parallel "$parallel" --format json
exit "$failed"
INNER
)
echo "upgrade of $cameras cameras, $size_mib MiB each read at $rate B/s: paced against --parallel $parallel (search of $seconds s included)"
"$here/../tools/netlab/netlab" run --cameras "$cameras" --bin "$bin" \
  --camsim-args "--install-ms 1000 --download-rate $rate" -- bash -c "$inner" parallel "$cameras" "$size_mib" "$parallel" "$seconds" "${BENCH_PARALLEL_ONLY:-0}"
