#!/usr/bin/env bash
# Command two: installs what is missing, builds the three trees and runs every
# test (native, static and under Wine) with CTest from build/native.
set -uo pipefail
cd "$(dirname "$0")"

tools/install-deps.sh || exit 1

# The shipped 32-bit saver runs under the host's 32-bit Wine where the kernel
# runs 32-bit programs, else in the emulated i386 machine (e2e/i386).
mapfile -t way < <(tools/win32-way.sh --why)
echo "run-tests: the 32-bit saver runs on the ${way[0]}: ${way[1]}"
nice=()
if [ "${way[0]}" = machine ]; then
  # The machine's image takes longest to build where it is not cached: it
  # starts now, beside the three builds, and the test e2e_i386_image waits
  # for it (the script takes a lock) and reports how it went. Its chain
  # (then the i386 suites) is the run's longest, so the builds and the tests
  # run at a lower priority beside it: it keeps a core of its own.
  mkdir -p build
  e2e/i386/build-image.sh > build/i386-image.log 2>&1 &
  image_build=$!
  trap 'wait "$image_build"' EXIT
  nice=(nice -n 10)
fi

build_status=0
"${nice[@]}" tools/build.sh || build_status=$?
if [ ! -f build/native/CTestTestfile.cmake ]; then
  echo "run-tests: the native tree was not configured; no tests can run" >&2
  exit 1
fi

if [ "$build_status" -ne 0 ]; then
  echo "run-tests: the build failed (see above); tests of the parts not built will fail" >&2
fi

cd build/native
# Three at a time on two cores: the suites that drive Wine or the machine
# spend part of their time waiting for the programs they run. The longest
# tests start first (their COST).
"${nice[@]}" ctest -j3 --output-on-failure
test_status=$?
[ "$build_status" -ne 0 ] && exit "$build_status"
exit "$test_status"
