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

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
"$dir/tests/vellomire_product_tests"
# Under the sanitizers every run is slow: the sweep makes every 13th call
# fail instead of every one.
VELLOMIRE_FAULT_STRIDE=13 "$dir/tests/vellomire_robustness_tests"
