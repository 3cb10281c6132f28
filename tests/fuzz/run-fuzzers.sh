#!/usr/bin/env bash
# Builds the fuzz targets with clang++ (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) in build/fuzz and runs each for a bounded time
# on a working copy of its corpus in tests/fuzz/corpus/<target>.
#   tests/fuzz/run-fuzzers.sh [SECONDS_PER_TARGET]     (default 15)
# Set VELLOMIRE_FUZZ_KEEP=1 to copy new corpus entries back into the tree.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${1:-15}
out="$root/build/fuzz"
cxx=${CLANGXX:-clang++}
if ! command -v "$cxx" >/dev/null 2>&1; then
  echo "run-fuzzers: $cxx not found (install clang and libclang-rt-dev)" >&2
  exit 1
fi
mkdir -p "$out/obj"
# The resources as the .scr carries them, which the simulation reads.
windres=$(command -v x86_64-w64-mingw32-windres || command -v i686-w64-mingw32-windres)
"$windres" -I "$root/resources" -O res -i "$root/resources/vellomire.rc" -o "$out/vellomire.res"

includes=(-I"$root/sim" -I"$root/platform" -I"$root/host" -I"$root/show"
          -I"$root/resources" -I"$root/tests/support" -I"$root/tests/fuzz")
common=(-std=c++17 -g -O1 -fno-omit-frame-pointer
        -DVELLOMIRE_RESOURCE_FILE="\"$out/vellomire.res\"")
instrument=(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined)

# The simulation, the product and the process support, compiled once each.
sources=("$root"/sim/*.cpp "$root"/host/*.cpp "$root"/show/*.cpp "$root/tests/support/saver_process.cpp")
objects=()
stale=()
headers_newer() {
  [ -n "$(find "$root/sim" "$root/host" "$root/show" "$root/platform" "$root/resources" \
           "$root/tests/support" -name '*.h' -newer "$1" -print -quit)" ]
}
for src in "${sources[@]}"; do
  rel=${src#"$root"/}
  obj="$out/obj/${rel//\//_}.o"
  if [ ! -f "$obj" ] || [ "$src" -nt "$obj" ] || headers_newer "$obj"; then
    stale+=("$src" "$obj")
  fi
  objects+=("$obj")
done
# Two compilers at a time.
compile_failed=0
running=0
for ((i = 0; i < ${#stale[@]}; i += 2)); do
  "$cxx" "${common[@]}" "${instrument[@]}" "${includes[@]}" -c "${stale[i]}" -o "${stale[i+1]}" &
  running=$((running + 1))
  if [ "$running" -ge 2 ]; then
    wait -n || compile_failed=1
    running=$((running - 1))
  fi
done
while [ "$running" -gt 0 ]; do
  wait -n || compile_failed=1
  running=$((running - 1))
done
if [ "$compile_failed" -ne 0 ]; then
  echo "run-fuzzers: compiling the sources failed" >&2
  exit 1
fi

status=0
for target_src in "$root"/tests/fuzz/fuzz_*.cpp; do
  target=$(basename "$target_src" .cpp)
  "$cxx" "${common[@]}" -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    "${includes[@]}" "$target_src" "${objects[@]}" -o "$out/$target"
  corpus="$root/tests/fuzz/corpus/$target"
  work="$out/corpus/$target"
  mkdir -p "$work" "$corpus"
  log="$out/$target.log"
  echo "== $target: $seconds s"
  mkdir -p "$out/windows-$target"
  if ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
     VELLOMIRE_FUZZ_WINDOWS="$out/windows-$target" \
     "$out/$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
       -print_final_stats=1 -artifact_prefix="$out/$target-" "$work" "$corpus" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    echo "$target: ${runs:-?} executions, no failure"
    if [ "${VELLOMIRE_FUZZ_KEEP:-0}" = 1 ]; then
      cp -n "$work"/* "$corpus"/ 2>/dev/null || true
    fi
  else
    echo "$target: FAILED (log $log)" >&2
    tail -40 "$log" >&2
    status=1
  fi
done
exit $status
