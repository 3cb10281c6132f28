#!/usr/bin/env bash
# Vellomire's benchmark, run by hand (never by CI): builds the saver and the
# reference programs in trees of its own, measures, and prints a table of
# figures beside their targets with the machine they were taken on.
#
#   bench/run-bench.sh [--long] [--quick] [--no-wine] [--source REV]
#
#   --long       also the resident memory after 10 minutes (adds 5 minutes)
#   --quick      short windows (3 holds of 15 s instead of 5 of 60 s, memory
#                at 1 minute only, 3 start-ups): a smoke test, not figures
#                to quote
#   --no-wine    only the figures that need no Wine (code size, simulation)
#   --source REV measure the committed tree REV (git archive) instead of the
#                working tree, e.g. while someone's unfinished work breaks it
#
# Needs what tools/install-deps.sh installs (MinGW, Wine, Xvfb, valgrind,
# python3-numpy and python3-pefile for /usr/bin/python3). Takes about 32
# minutes; results go to build/bench-results/<UTC time>/, the table also to
# report.md there. CPU figures depend on the load of the machine: the load
# average is printed with them, and each is measured beside a reference.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
python=/usr/bin/python3

long=()
quick=0
wine=1
rev=""
while [ $# -gt 0 ]; do
  case "$1" in
    --long) long=(--long) ;;
    --quick) quick=1 ;;
    --no-wine) wine=0 ;;
    --source) rev=${2:?--source needs a revision}; shift ;;
    *) echo "usage: bench/run-bench.sh [--long] [--quick] [--no-wine] [--source REV]" >&2; exit 2 ;;
  esac
  shift
done

stamp=$(date -u +%Y%m%d-%H%M%S)
out="$root/build/bench-results/$stamp"
mkdir -p "$out"
log="$out/bench.log"
echo "bench: results in $out"

src=$root
if [ -n "$rev" ]; then
  src="$root/build/bench-src"
  rm -rf "$src" && mkdir -p "$src"
  git archive "$rev" | tar -x -C "$src" || { echo "bench: cannot export $rev" >&2; exit 1; }
fi
source_state=$(git -C "$root" rev-parse --short "${rev:-HEAD}")
if [ -z "$rev" ] && ! git -C "$root" diff --quiet HEAD -- host show platform resources cmake \
    CMakeLists.txt sim tools/runner 2>/dev/null; then
  source_state="$source_state with uncommitted changes"
fi
{
  echo "date=$(date -u '+%Y-%m-%d %H:%M UTC')"
  echo "cpu=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')"
  echo "cores=$(nproc)"
  echo "load_start=$(cut -d' ' -f1-3 /proc/loadavg)"
  echo "kernel=$(uname -r)"
  echo "commit=$source_state"
} > "$out/machine.txt"
cat "$out/machine.txt"

# ------------------------------------------------------------------ builds
generator=()
command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)

# A tree configured from another source folder is made anew.
configure() {
  local dir=$1; shift
  if [ -f "$dir/CMakeCache.txt" ] &&
     ! grep -qx "CMAKE_HOME_DIRECTORY:INTERNAL=$src" "$dir/CMakeCache.txt"; then
    rm -rf "$dir"
  fi
  [ -f "$dir/CMakeCache.txt" ] || cmake -S "$src" -B "$dir" "${generator[@]}" "$@" >>"$log" 2>&1
}

reference_flags=(-Wall -Wextra -Os -static -static-libgcc -static-libstdc++ -s)
build_windows() {
  local bits=$1 triple=$2 toolchain=$3
  local dir="$root/build/bench-win$bits"
  echo "bench: building $dir"
  configure "$dir" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/$toolchain" &&
    cmake --build "$dir" --target vellomire -j2 >>"$log" 2>&1 || return 1
  mkdir -p "$dir/bench"
  local p
  for p in idle_loop idle_rearm paint_loop black_window trivial; do
    "$triple-g++" "${reference_flags[@]}" -fno-exceptions -fno-rtti -ffunction-sections \
      -fdata-sections -Wl,--gc-sections -mwindows -o "$dir/bench/$p.exe" \
      "$root/bench/windows/$p.cpp" >>"$log" 2>&1 || return 1
  done
  "$triple-g++" "${reference_flags[@]}" -mconsole -o "$dir/bench/tick_parts.exe" \
    "$root/bench/windows/tick_parts.cpp" -lgdi32 >>"$log" 2>&1
}

build_native() {
  local dir="$root/build/bench-native"
  echo "bench: building $dir"
  configure "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
    cmake --build "$dir" --target vellomire-sim -j2 >>"$log" 2>&1 || return 1
  g++ -std=c++17 -O2 -g -Wall -Wextra -Werror -I"$src/host" -I"$src/show" -I"$src/platform" \
    -I"$src/resources" -I"$src/sim" "$root/bench/native/sim_bench.cpp" \
    "$dir/libvellomire_product.a" "$dir/sim/libvellomire_sim.a" -pthread \
    -o "$dir/sim_bench" >>"$log" 2>&1
}

win64=0; win32=0; native=0
build_windows 64 x86_64-w64-mingw32 mingw-x86_64.cmake && win64=1 || echo "bench: the 64-bit build failed (see $log)"
build_windows 32 i686-w64-mingw32 mingw-i686.cmake && win32=1 || echo "bench: the 32-bit build failed (see $log)"
build_native && native=1 || echo "bench: the native build failed (see $log)"

# ------------------------------------------------------------------ figures
sizes=()
[ $win32 = 1 ] && sizes+=(saver-32="$root/build/bench-win32/vellomire.scr"
                          trivial-32="$root/build/bench-win32/bench/trivial.exe")
[ $win64 = 1 ] && sizes+=(saver-64="$root/build/bench-win64/vellomire.scr"
                          trivial-64="$root/build/bench-win64/bench/trivial.exe")
if [ ${#sizes[@]} -gt 0 ]; then
  echo "bench: code size"
  $python "$root/bench/code_size.py" "$out/size.json" "${sizes[@]}" >>"$log" 2>&1
fi

if [ $native = 1 ]; then
  echo "bench: live objects over 1000 pictures (simulation)"
  "$root/build/bench-native/sim_bench" live "$out/live.tsv" >>"$log" 2>&1
  echo "bench: instructions per tick (simulation under callgrind)"
  mkdir -p "$out/callgrind"
  (cd "$out/callgrind" &&
    valgrind --tool=callgrind --collect-atstart=no "--toggle-collect=HostWindowProc*" \
      --callgrind-out-file="$out/callgrind/callgrind.out.%p" \
      "$root/build/bench-native/sim_bench" ticks "$out/ticks.tsv" >>"$log" 2>&1) &&
    $python "$root/bench/callgrind_ticks.py" "$out/ticks.tsv" "$out/callgrind" "$src" \
      "$out/ticks.json" >>"$log" 2>&1
fi

# The shipped 32-bit file is measured where the host runs 32-bit programs,
# against the reference programs of its own width; its 64-bit twin beside it.
win32_wine=yes
{ read -r way; read -r why; } < <(VELLOMIRE_I386_MACHINE= "$root/tools/win32-way.sh" --why)
if [ "$way" != host ]; then
  win32_wine="$why"
elif [ ! -x /usr/lib/wine/wine ]; then
  win32_wine="no 32-bit Wine (/usr/lib/wine/wine; tools/install-deps.sh installs it)"
elif [ $win32 = 0 ]; then
  win32_wine="the 32-bit build failed"
fi
echo "win32_wine=$win32_wine" >> "$out/machine.txt"
if [ $wine = 1 ]; then
  timing=()
  [ $quick = 1 ] && timing=(--hold-window 15 --hold-runs 3 --paint-window 15 --memory-minutes 1 --start-runs 3)
  for bits in 32 64; do
    if [ $bits = 32 ] && [ "$win32_wine" != yes ]; then
      echo "bench: the shipped 32-bit file is not run under Wine here: $win32_wine"
      continue
    fi
    [ $bits = 64 ] && [ $win64 = 0 ] && continue
    echo "bench: Wine figures ($bits-bit saver); this takes a while"
    $python "$root/bench/wine_bench.py" "$out/wine-$bits.json" --bits $bits \
      --saver "$root/build/bench-win$bits/vellomire.scr" --bench-dir "$root/build/bench-win$bits/bench" \
      "${timing[@]}" "${long[@]}" 2>&1 | tee -a "$log"
  done
fi

echo "load_end=$(cut -d' ' -f1-3 /proc/loadavg)" >> "$out/machine.txt"
echo
$python "$root/bench/report.py" "$out"
