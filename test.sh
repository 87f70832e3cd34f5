#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test through CTest.
#   ./test.sh                      the normal build (build/)
#   ./test.sh --sanitize=address   AddressSanitizer + UBSan (build-asan/)
#   ./test.sh --sanitize=thread    ThreadSanitizer (build-tsan/)
# Further arguments go to ctest (for example -R Search).
set -euo pipefail
cd "$(dirname "$0")"
sanitize=""
ctest_args=()
for arg in "$@"; do
  case "$arg" in
    --sanitize=address|--sanitize=thread) sanitize="${arg#--sanitize=}" ;;
    --sanitize=*) echo "test.sh: --sanitize takes address or thread" >&2; exit 2 ;;
    *) ctest_args+=("$arg") ;;
  esac
done
./scripts/install-deps.sh
build="build${sanitize:+-${sanitize:0:4}}"
[ "$sanitize" = "address" ] && build=build-asan
[ "$sanitize" = "thread" ] && build=build-tsan
cmake -S . -B "$build" -G Ninja -DLYNX_SANITIZE="$sanitize" >/dev/null
cmake --build "$build"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# die_after_fork=0: the window-manager test starts xprop, xdotool and wmctrl
# from a process that already runs Qt's threads (the child only execs).
export TSAN_OPTIONS="suppressions=$PWD/scripts/tsan.supp:halt_on_error=1:second_deadlock_stack=1:die_after_fork=0"
cd "$build"
ctest --output-on-failure --timeout 900 "${ctest_args[@]}"
