#!/usr/bin/env bash
# Watching a large site: lynx-cli watch (a search every INTERVAL s, default 2)
# over CAMERAS simulated cameras (default 2000) for SECONDS, in a virtual LAN,
# while PERCENT % of them (default 5) leave and return at random times, each
# one a simulator process of its own that the script stops and starts again.
# Checked against what the script did: every camera appeared once, every
# leave reported as one "disappeared" and every return as one "returned" for
# the right MAC, and nothing else. Measured: lynx-cli's CPU share, its peak
# memory (VmHWM), and its resident memory after the first minute, at the 10th
# minute (runs that long) and at the end, which should stay within 5 %.
#
#   bench/watch.sh [SECONDS] [BIN_DIR] [CAMERAS] [PERCENT] [INTERVAL]
#
# SECONDS defaults to 600; BIN_DIR to build/bin. A camera leaves 5 to 64 s
# after it came (LEAVE_AFTER: the most beyond 5, default 59) and stays away up
# to 40 s (AWAY: the most, default 40). The exit status is 1 when a change was
# not reported exactly once. BENCH_SMOKE=1: 25 s, 20 cameras of which 10 %
# leave and return once, a search every second (the test suite's run;
# arguments and the variables still win). Needs root (network namespaces)
# and python3.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
smoke=${BENCH_SMOKE:+1}
seconds=${1:-$([ -n "$smoke" ] && echo 25 || echo 600)}
bin="$(cd "${2:-$here/../build/bin}" && pwd)"
cameras=${3:-$([ -n "$smoke" ] && echo 20 || echo 2000)}
percent=${4:-$([ -n "$smoke" ] && echo 10 || echo 5)}
interval=${5:-$([ -n "$smoke" ] && echo 1 || echo 2)}
leave_after=${LEAVE_AFTER:-$([ -n "$smoke" ] && echo 0 || echo 59)}
away=${AWAY:-$([ -n "$smoke" ] && echo 7 || echo 40)}
missed=3
command -v python3 >/dev/null || { echo "watch.sh: python3 is needed to check the events" >&2; exit 1; }
for tool in lynx-cli lynx-camsim; do
  [ -x "$bin/$tool" ] || { echo "watch.sh: $bin/$tool not built" >&2; exit 1; }
done
leaving=$(( cameras * percent / 100 ))
[ "$leaving" -le 250 ] || { echo "watch.sh: at most 250 leaving cameras (10.1.2.0/24)" >&2; exit 2; }
staying=$(( cameras - leaving ))

# Runs inside the PC namespace of the LAN.
inner=$(cat <<'INNER'
set -euo pipefail
seconds=$1 leaving=$2 interval=$3 missed=$4 here=$5 leave_after=$6 away=$7
work=$(mktemp -d /tmp/lynx-watch-bench-XXXXXX)
pids=()
cleanup() {
  for f in "$work"/cam*.pid; do [ -e "$f" ] && kill "$(cat "$f")" 2>/dev/null || true; done
  kill "${pids[@]}" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
now() { date +%s.%N; }

# One leaving camera: 10.1.2.N (the PC's second address is in that network),
# MAC 02:00:5E:20:00:NN, its own simulator in the camera namespace.
start_camera() {
  local n=$1
  rm -f "$work/cam$n.ready"
  ip netns exec "$LYNX_NETLAB_CAMERA_NS" "$LYNX_BIN_DIR/lynx-camsim" --config "$work/cam$n.json" \
    --add-addresses --interface "$LYNX_NETLAB_CAMERA_IF" --ready-file "$work/cam$n.ready" \
    </dev/null >>"$work/cam$n.log" 2>&1 &
  echo $! >"$work/cam$n.pid"
  while [ ! -e "$work/cam$n.ready" ]; do sleep 0.05; done
}
stop_camera() {
  local n=$1 pid
  pid=$(cat "$work/cam$n.pid")
  kill "$pid"
  while kill -0 "$pid" 2>/dev/null; do sleep 0.05; done
}
# Leaves and returns at random times while a whole absence and the watch's
# noticing of both still fit before the end: absent long enough to count as
# gone (missed + 2 searches) and up to away seconds.
cycle_camera() {
  local n=$1 mac=$2 end=$3 least=$(( (missed + 2) * interval ))
  RANDOM=$(( n * 7919 + $$ ))
  while :; do
    local wait=$(( 5 + RANDOM % (leave_after + 1) )) absent=$(( least + RANDOM % (away - least + 1) ))
    local t
    t=$(date +%s)
    [ $(( t + wait + absent + (missed + 3) * interval )) -lt "$end" ] || return 0
    sleep "$wait"
    stop_camera "$n"
    echo "leave $mac $(now)" >>"$work/actions"
    sleep "$absent"
    start_camera "$n"
    echo "return $mac $(now)" >>"$work/actions"
  done
}

: >"$work/actions"
for n in $(seq 1 "$leaving"); do
  host=$n; [ "$n" -ge 100 ] && host=$(( n + 1 ))  # .100 is the PC
  mac=$(printf '02:00:5E:20:%02X:%02X' $(( n / 256 )) $(( n % 256 )))
  printf '[{"ip":"10.1.2.%d","mac":"%s","deviceId":"LEAVE%d"}]\n' "$host" "$mac" "$n" >"$work/cam$n.json"
  start_camera "$n"
done

"$LYNX_BIN_DIR/lynx-cli" watch --interval "$interval" --missed "$missed" --duration "$seconds" --format json \
  >"$work/events.jsonl" 2>"$work/watch.err" &
watch=$!
start=$(date +%s)
end=$(( start + seconds ))
# The first rounds settle (every camera appears) before anyone leaves.
sleep $(( 3 * interval ))
for n in $(seq 1 "$leaving"); do
  mac=$(printf '02:00:5E:20:%02X:%02X' $(( n / 256 )) $(( n % 256 )))
  cycle_camera "$n" "$mac" "$end" &
  pids+=($!)
done

# lynx-cli's memory and CPU time every 5 s until it ends on its own.
ticks=$(getconf CLK_TCK)
: >"$work/samples"
while kill -0 "$watch" 2>/dev/null; do
  if [ -r "/proc/$watch/status" ]; then
    rss=$(awk '$1 == "VmRSS:" { print $2 }' "/proc/$watch/status" 2>/dev/null || true)
    hwm=$(awk '$1 == "VmHWM:" { print $2 }' "/proc/$watch/status" 2>/dev/null || true)
    cpu=$(awk -v t="$ticks" '{ print ($14 + $15) / t }' "/proc/$watch/stat" 2>/dev/null || true)
    [ -n "$rss" ] && echo "$(( $(date +%s) - start )) $rss $hwm $cpu" >>"$work/samples"
  fi
  sleep 5
done
status=0
wait "$watch" || status=$?
wait "${pids[@]}" 2>/dev/null || true
echo "lynx-cli watch exit status: $status"
sed 's/^/  stderr: /' "$work/watch.err"

python3 - "$work/events.jsonl" "$work/actions" "$work/samples" "$seconds" "$LYNX_NETLAB_CAMERAS" <<'PY'
import json, sys, collections
events_path, actions_path, samples_path, seconds, cameras_path = sys.argv[1:6]
seconds = int(seconds)
events = [json.loads(l) for l in open(events_path) if l.strip()]
actions = [l.split() for l in open(actions_path) if l.strip()]
expected_macs = {c["mac"].upper() for c in json.load(open(cameras_path))}
leaves = collections.Counter(a[1].upper() for a in actions if a[0] == "leave")
returns = collections.Counter(a[1].upper() for a in actions if a[0] == "return")
expected_macs |= {a[1].upper() for a in actions}
by = collections.defaultdict(collections.Counter)
for e in events:
    by[e["event"]][e["mac"].upper()] += 1
faults = []
appeared = by["appeared"]
if set(appeared) != expected_macs or any(n != 1 for n in appeared.values()):
    faults.append("appeared: %d MACs, %d expected, %d more than once" % (
        len(appeared), len(expected_macs), sum(1 for n in appeared.values() if n != 1)))
for kind, done in (("disappeared", leaves), ("returned", returns)):
    if by[kind] != done:
        extra = {m: n for m, n in by[kind].items() if done.get(m) != n}
        missing = {m: n for m, n in done.items() if by[kind].get(m) != n}
        faults.append("%s: reported %s, done %s" % (kind, dict(list(extra.items())[:5]), dict(list(missing.items())[:5])))
for kind in ("address", "version", "missing", "unexpected"):
    if by[kind]:
        faults.append("%s: %d unexpected" % (kind, sum(by[kind].values())))
print("cameras: %d, leaves done: %d, returns done: %d" % (len(expected_macs), sum(leaves.values()), sum(returns.values())))
print("events: " + ", ".join("%s %d" % (k, sum(v.values())) for k, v in sorted(by.items())))
print("every change reported exactly once: " + ("yes" if not faults else "NO"))
for f in faults:
    print("  " + f)
samples = [l.split() for l in open(samples_path) if l.strip()]
if samples:
    def rss_at(t):
        best = min(samples, key=lambda s: abs(int(s[0]) - t))
        return int(best[1]), int(best[0])
    last = samples[-1]
    elapsed, rss_end, hwm, cpu = int(last[0]), int(last[1]), int(last[2]), float(last[3])
    print("lynx-cli CPU: %.1f s over %d s = %.2f %% of one core" % (cpu, elapsed, 100.0 * cpu / max(1, elapsed)))
    print("lynx-cli peak memory (VmHWM): %.1f MiB" % (hwm / 1024.0))
    first, at1 = rss_at(60)
    print("lynx-cli resident memory: %.1f MiB after %d s, %.1f MiB at the end (%d s): %+.1f %%" % (
        first / 1024.0, at1, rss_end / 1024.0, elapsed, 100.0 * (rss_end - first) / first))
    if seconds >= 660:
        tenth, at10 = rss_at(600)
        change = 100.0 * (rss_end - tenth) / tenth
        print("  at the 10th minute: %.1f MiB (%d s); the end differs by %+.1f %% (%s)" % (
            tenth / 1024.0, at10, change, "within 5 %" if abs(change) <= 5 else "MORE than 5 %"))
sys.exit(1 if faults else 0)
PY
INNER
)

echo "watch: $cameras cameras ($leaving leaving and returning), a search every $interval s, $seconds s"
"$here/../tools/netlab/netlab" run --cameras "$staying" --bin "$bin" \
  -- bash -c "$inner" watch "$seconds" "$leaving" "$interval" "$missed" "$here" "$leave_after" "$away"
