#!/usr/bin/env bash
# Runs every fuzz target with libFuzzer for SECONDS each (default 600), two at
# a time, and prints for each its speed, coverage and findings.
#   scripts/fuzz.sh [SECONDS] [TARGET ...]
# Each target starts from its seed corpus (fuzz/corpus/NAME) and the protocol
# dictionary (fuzz/lynx.dict); what it learns stays in build-fuzz/corpus/NAME.
# A finding (crash, leak, time-out, out-of-memory) is copied to
# fuzz/regressions/NAME/, which the test suite replays: fix it, then commit it.
# JOBS sets how many targets run at once (default 2).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-600}"
shift || true
./scripts/install-deps.sh
need=()
for p in clang-14 libclang-rt-14-dev libfuzzer-14-dev; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi
CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -G Ninja -DLYNX_FUZZ=ON >/dev/null
cmake --build build-fuzz --target fuzz_all

targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(report_body update_datagrams transport_datagram http_request camsim_request plan_and_options)
jobs="${JOBS:-2}"
out=build-fuzz/runs
mkdir -p "$out"
# No allocation stacks while fuzzing: the fast unwinder walks through the
# system's libraries (JsonCpp, libstdc++), built without frame pointers, and
# records garbage frames, a new stack for the depot at almost every input; the
# process grows by gigabytes in an hour and libFuzzer calls it out of memory.
# A finding, replayed by the test suite, is reported there with full stacks.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:malloc_context_size=0"
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

run_one() {
  local t="$1"
  rm -rf "$out/$t" && mkdir -p "$out/$t/artifacts" "build-fuzz/corpus/$t"
  # In a network namespace of its own: nothing a target does leaves the machine.
  ./scripts/isolated-net "build-fuzz/bin/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -dict=fuzz/lynx.dict -print_final_stats=1 -artifact_prefix="$out/$t/artifacts/" \
    "build-fuzz/corpus/$t" "fuzz/corpus/$t" >"$out/$t/log" 2>&1 || true
}

running=0
for t in "${targets[@]}"; do
  [ -x "build-fuzz/bin/fuzz_$t" ] || { echo "fuzz.sh: no target $t" >&2; exit 2; }
  run_one "$t" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n
    running=$((running - 1))
  fi
done
wait

printf '%-20s %10s %12s %8s %8s %8s %s\n' target seconds execs/s cov ft corpus findings
found=0
for t in "${targets[@]}"; do
  log="$out/$t/log"
  execs=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  line=$(grep -E '^#[0-9]+.*cov: ' "$log" | tail -1 || true)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$line")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$line")
  corpus=$(find "build-fuzz/corpus/$t" -type f | wc -l)
  findings=()
  for f in "$out/$t/artifacts"/*; do
    [ -f "$f" ] || continue
    findings+=("$(basename "$f")")
    cp "$f" "fuzz/regressions/$t/"
    found=$((found + 1))
  done
  printf '%-20s %10s %12s %8s %8s %8s %s\n' "$t" "$seconds" "${execs:-?}" "${cov:-?}" "${ft:-?}" "$corpus" \
    "${findings[*]:-none}"
done
if [ "$found" -gt 0 ]; then
  echo "fuzz.sh: $found finding(s) copied to fuzz/regressions/ (logs in $out/NAME/log)" >&2
  exit 1
fi
