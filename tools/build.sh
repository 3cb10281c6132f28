#!/usr/bin/env bash
# Configures (once) and builds Vellomire's three trees with at most two jobs:
#   build/win32   the shipped 32-bit saver (MinGW i686) and the Windows helpers
#   build/win64   the 64-bit saver (MinGW x86_64) and the Windows helpers
#   build/native  the simulation, the native tests and the end-to-end suites
# Names given as arguments (e.g. "win32 win64") build only those trees.
# Every tree is attempted; the exit status is non-zero if any of them failed.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

# Keep going past a failing target, so that one broken part does not hide
# the state of the others.
generator=()
keep_going=(-k)
if command -v ninja >/dev/null 2>&1; then
  generator=(-G Ninja)
  keep_going=(-k 0)
fi

status=0
build_tree() {
  local name=$1; shift
  local dir="$root/build/$name"
  echo "== build/$name"
  # Configured once, and again when a setting given here changed.
  local setting configured=1
  [ -f "$dir/CMakeCache.txt" ] || configured=0
  for setting in "$@"; do
    grep -qxF -- "${setting#-D}" "$dir/CMakeCache.txt" 2>/dev/null || configured=0
  done
  if [ "$configured" = 0 ]; then
    if ! cmake -S "$root" -B "$dir" "${generator[@]}" "$@"; then
      echo "build: configuring build/$name failed" >&2
      rm -f "$dir/CMakeCache.txt"
      status=1
      return
    fi
  fi
  if ! cmake --build "$dir" -j2 -- "${keep_going[@]}"; then
    echo "build: building build/$name failed" >&2
    status=1
  fi
}

trees=("$@")
[ ${#trees[@]} -eq 0 ] && trees=(win32 win64 native)
for tree in "${trees[@]}"; do
  case $tree in
    win32) build_tree win32 -DCMAKE_TOOLCHAIN_FILE:FILEPATH="$root/cmake/mingw-i686.cmake" ;;
    win64) build_tree win64 -DCMAKE_TOOLCHAIN_FILE:FILEPATH="$root/cmake/mingw-x86_64.cmake" ;;
    # Which suites run the 32-bit saver, and where (tools/win32-way.sh).
    native) build_tree native -DVELLOMIRE_WIN32_WAY:STRING="$(tools/win32-way.sh)" ;;
    *) echo "build: no tree named $tree (win32, win64, native)" >&2; status=1 ;;
  esac
done
exit $status
