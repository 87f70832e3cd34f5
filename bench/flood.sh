#!/usr/bin/env bash
# A search under a flood: CAMERAS simulated cameras (default 50) answer one
# lynx-cli search of SECONDS (default 5) while a host on the cameras' side
# sends FLOOD hostile datagrams (default 100000, tools/flood) to the report port
# as fast as one sender can (with KIND=reports, well-formed reports of made-up
# devices).
# Prints the cameras listed, the search's wall time against its deadline, the
# flood's rate, and lynx-cli's peak memory.
#
#   bench/flood.sh [BIN_DIR] [CAMERAS] [FLOOD] [SECONDS] [KIND]
#
# The exit status is 1 when a camera was not listed. BENCH_SMOKE=1: 5 cameras,
# 5000 datagrams, a search of 1 s (the test suite's run; arguments still win).
# Needs root (network namespaces).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
bin="$(cd "${1:-$here/../build/bin}" && pwd)"
smoke=${BENCH_SMOKE:+1}
cameras=${2:-$([ -n "$smoke" ] && echo 5 || echo 50)}
flood=${3:-$([ -n "$smoke" ] && echo 5000 || echo 100000)}
seconds=${4:-$([ -n "$smoke" ] && echo 1 || echo 5)}
kind=${5:-hostile}
for tool in lynx-cli lynx-camsim lynx-flood; do
  [ -x "$bin/$tool" ] || { echo "flood.sh: $bin/$tool not built" >&2; exit 1; }
done

inner=$(cat <<'INNER'
set -euo pipefail
cameras=$1 flood=$2 seconds=$3 kind=$4
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
udp() { awk '/^Udp: [0-9]/ { print $2, $6 }' /proc/net/snmp; }
read -r in0 rcvbuf0 <<<"$(udp)"
start=$(date +%s.%N)
/usr/bin/time -f 'peak memory of lynx-cli: %M KiB' -o "$out/time" \
  "$LYNX_BIN_DIR/lynx-cli" search --seconds "$seconds" --format csv --timing >"$out/rows.csv" 2>"$out/cli.err" &
cli=$!
ip netns exec "$LYNX_NETLAB_CAMERA_NS" "$LYNX_BIN_DIR/lynx-flood" "$LYNX_NETLAB_PC_IP" 19027 "$flood" --kind "$kind" >"$out/flood.out"
wait $cli
end=$(date +%s.%N)
read -r in1 rcvbuf1 <<<"$(udp)"
listed=$(awk -F, '$2 ~ /^192\.168\./' "$out/rows.csv" | wc -l)
rows=$(( $(wc -l <"$out/rows.csv") - 1 ))
real=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')
echo "listed $listed of $cameras cameras ($rows rows in all); search of $seconds s took $real s (process start and exit included)"
cat "$out/time"
cat "$out/flood.out"
grep -E 'datagrams received|after its deadline' "$out/cli.err" || true
echo "kernel: $((in1 - in0)) datagrams delivered, $((rcvbuf1 - rcvbuf0)) dropped for a full receive buffer"
[ "$listed" -eq "$cameras" ]
INNER
)
echo "flood: $cameras cameras, $flood $kind datagrams, lynx-cli search --seconds $seconds"
"$here/../tools/netlab/netlab" run --cameras "$cameras" --bin "$bin" -- bash -c "$inner" flood "$cameras" "$flood" "$seconds" "$kind"
