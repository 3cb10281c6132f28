#!/usr/bin/env bash
# The native product and robustness tests built with AddressSanitizer and
# UndefinedBehaviorSanitizer in a tree of their own (build/asan), then run.
# Any report of either sanitizer fails the run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir="$root/build/asan"

generator=()
if command -v ninja >/dev/null 2>&1; then
  generator=(-G Ninja)
fi
flags="-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined"
if [ ! -f "$dir/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$dir" "${generator[@]}" -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_C_FLAGS="$flags" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined"
fi
cmake --build "$dir" -j2 --target vellomire_product_tests vellomire_robustness_tests

# A sanitizer report ends the program with its own exit code; ordinary test
# failures (exit 1) are the plain build's to report and only noted here.
export ASAN_OPTIONS=detect_leaks=1:exitcode=97:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:exitcode=98
status=0
run() {
  local log="$dir/$(basename "$1").log"
  set +e
  "$@" >"$log" 2>&1
  local rc=$?
  set -e
  if [ "$rc" -ge 97 ] || grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer)|runtime error:' "$log"; then
    echo "sanitize: $(basename "$1"): sanitizer report (exit $rc):" >&2
    grep -E -A30 'ERROR: (AddressSanitizer|LeakSanitizer)|runtime error:' "$log" | head -80 >&2
    status=1
  elif [ "$rc" -ne 0 ]; then
    echo "sanitize: $(basename "$1"): test failures without a sanitizer report (exit $rc); see $log"
    grep -E '^\[  FAILED  \]' "$log" || true
  else
    echo "sanitize: $(basename "$1"): clean"
  fi
}
run "$dir/tests/vellomire_product_tests"
# Under the sanitizers every run is slow: the sweep makes every 13th call
# fail instead of every one.
VELLOMIRE_FAULT_STRIDE=13 run "$dir/tests/vellomire_robustness_tests"
exit $status
