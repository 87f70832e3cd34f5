#!/usr/bin/env bash
# Many made-up MACs at one address: REPORTS (default 65536) well-formed
# reports of made-up devices, sent by a host on the cameras' segment over
# FLOOD_SECONDS (default 2) in a virtual LAN, first each at an address of its
# own and sent from it (--kind reports --as-named 1), then all at one
# address, the sender's own (--kind crowd): each report is its sender's own
# word both times, and the second time every one conflicts with all the
# others. Each time, one run each of `lynx-cli search`,
# `lynx-cli check` (a site file of one camera, table output), `lynx-cli watch`,
# the window's search (lynx-bench-window-discovery, offscreen) and the window
# with the site file loaded watching for 25 s (持续监视; a build of before
# that bench program reads neither and searches once instead), each cut
# off after LIMIT seconds (default 300). Prints per run: wall time, CPU time
# (user + system), peak resident memory, exit status and what it listed or
# printed.
#
#   bench/one_address.sh [BIN_DIR] [REPORTS]
#
# BIN_DIR holds the programs measured (default build/bin); LYNX_FLOOD the
# sender (default BIN_DIR/lynx-flood), so that another build's programs are
# measured under the same flood. LYNX_BENCH_SECONDS (default 5) is each
# search and the watch's interval; LYNX_BENCH_WATCH_SECONDS (default 25) the
# window's watch. The exit status is 1 when a program was cut off or ended
# otherwise than with 0 or 1 (a crash). BENCH_SMOKE=1: 300 reports over 1 s,
# searches of 2 s (the flood within them), a window's watch of 3 s, each cut off
# after 60 s (the test suite's run; arguments and the variables still win).
# Needs root (network namespaces).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
bin="$(cd "${1:-$here/../build/bin}" && pwd)"
smoke=${BENCH_SMOKE:+1}
reports=${2:-$([ -n "$smoke" ] && echo 300 || echo 65536)}
seconds=${LYNX_BENCH_SECONDS:-$([ -n "$smoke" ] && echo 2 || echo 5)}
flood=${LYNX_FLOOD:-$bin/lynx-flood}
limit=${LIMIT:-$([ -n "$smoke" ] && echo 60 || echo 300)}
over=${FLOOD_SECONDS:-$([ -n "$smoke" ] && echo 1 || echo 2)}
watch_seconds=${LYNX_BENCH_WATCH_SECONDS:-$([ -n "$smoke" ] && echo 3 || echo 25)}
for tool in "$bin/lynx-cli" "$bin/lynx-bench-window-discovery" "$flood"; do
  [ -x "$tool" ] || { echo "one_address.sh: $tool not built" >&2; exit 1; }
done

inner=$(cat <<'INNER'
set -euo pipefail
reports=$1 seconds=$2 flood=$3 limit=$4 over=$5 watch_seconds=$6
worst=0
crowd=192.168.1.77
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
ip -n "$LYNX_NETLAB_CAMERA_NS" addr add "$crowd/24" dev "$LYNX_NETLAB_CAMERA_IF"
printf 'mac,ip,label\n00:1A:2B:00:00:01,192.168.1.101,P-1\n' >"$out/site.csv"
export QT_QPA_PLATFORM=offscreen LYNX_LANG=en
# One program under the flood: its command after the name; the flood starts
# once the program has had half a second to open its sockets.
measure() {
  local mode=$1 name=$2; shift 2
  local kind=(--kind reports --as-named 1)
  [ "$mode" = one ] && kind=(--kind crowd --from "$crowd")
  local status=0
  /usr/bin/time -f '%e %U %S %M' -o "$out/time" timeout "$limit" "$@" >"$out/stdout" 2>"$out/stderr" &
  local run=$!
  sleep 0.5
  ip netns exec "$LYNX_NETLAB_CAMERA_NS" "$flood" "$LYNX_NETLAB_PC_IP" 19027 "$reports" --over "$over" \
    "${kind[@]}" >"$out/flood.out"
  wait $run || status=$?
  read -r wall user sys peak <<<"$(tail -n 1 "$out/time")" || true
  local shown
  case $name in
    search) shown="$(( $(wc -l <"$out/stdout") - 1 )) rows" ;;
    check) shown="$(wc -c <"$out/stdout") bytes, $(tail -n 1 "$out/stderr" | cut -c1-60)" ;;
    watch) shown="$(grep -c '"appeared"' "$out/stdout" || true) appeared" ;;
    window) shown="$(grep -E '^(listed|longest)' "$out/stdout" | tr '\n' ' ' || true)" ;;
    sitewatch) shown="$(grep -E '^(listed|offline|longest)' "$out/stdout" | tr '\n' ' ' || true)" ;;
  esac
  printf '%-9s %-9s %-9s %-9s %-10s %-5s %s\n' "$mode" "$name" "$wall" \
    "$(awk -v u="${user:-0}" -v s="${sys:-0}" 'BEGIN { printf "%.2f", u + s }')" "$peak" "$status" "$shown"
  [ "$status" -le 1 ] || worst=$status
}
printf '%-9s %-9s %-9s %-9s %-10s %-5s %s\n' addresses program "wall (s)" "CPU (s)" "peak KiB" exit shown
for mode in distinct one; do
  measure $mode search "$LYNX_BIN_DIR/lynx-cli" search --seconds "$seconds" --format csv
  measure $mode check "$LYNX_BIN_DIR/lynx-cli" check --site "$out/site.csv" --seconds "$seconds"
  measure $mode watch "$LYNX_BIN_DIR/lynx-cli" watch --interval "$seconds" --duration $((2 * seconds + 1)) --format json
  measure $mode window "$LYNX_BIN_DIR/lynx-bench-window-discovery" "$seconds"
  measure $mode sitewatch env LYNX_BENCH_SITE="$out/site.csv" LYNX_BENCH_WATCH_SECONDS="$watch_seconds" \
    "$LYNX_BIN_DIR/lynx-bench-window-discovery" "$seconds"
done
[ "$worst" -eq 0 ]
INNER
)

echo "one address: $reports reports over $over s, distinct addresses then one; searches of $seconds s; programs of $bin"
"$here/../tools/netlab/netlab" run --cameras 1 --bin "$bin" \
  -- bash -c "$inner" one_address "$reports" "$seconds" "$flood" "$limit" "$over" "$watch_seconds"
